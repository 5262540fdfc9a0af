// tarn-pak --json: each document parses, and holds the facts the text output gives.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <sstream>

#include "TestSupport.h"
#include "cli/Commands.h"
#include "fileio/Strings.h"

namespace tarn::test {
namespace {

using Json = nlohmann::json;

class CliJson : public ::testing::Test {
 protected:
  TempDir dir;
  std::string P(const std::string& name) { return (dir / name).string(); }
  struct Both {
    int rc, jsonRc;
    std::string text;
    Json doc;
  };
  // The command run twice, as text and with --json; the document must parse.
  Both Run(std::vector<std::string> args) {
    std::ostringstream text, json, err;
    Both b{cli::Run(args, text, err), 0, text.str(), {}};
    args.insert(args.begin() + 1, "--json");
    b.jsonRc = cli::Run(args, json, err);
    b.doc = Json::parse(json.str());  // throws, failing the test, on anything but one document
    EXPECT_EQ(b.rc, b.jsonRc) << err.str();
    return b;
  }
};

TEST_F(CliJson, ListKeepsEveryNameAndSizeAsValidUtf8) {
  const std::string awkward[] = {"tab\there", "ctl\x01name", "quote\"back\\slash", "bad\xff\xfe.txt", "caf\xc3\xa9"};
  PakBuilder pak;
  for (const std::string& n : awkward) pak.File("d/" + n, n);
  WriteFile(dir / "x.pak", pak.Build());
  Both b = Run({"list", P("x.pak")});
  ASSERT_EQ(b.rc, 0);
  EXPECT_EQ(b.doc["command"], "list");
  EXPECT_EQ(b.doc["archive"], P("x.pak"));
  std::string lines;
  for (const Json& f : b.doc["files"]) {
    const std::string path = f["path"];
    lines += std::to_string(f["size"].get<int>()) + "\t" + Escaped(path) + "\n";
  }
  // Valid names come back as they are; the two bytes that are not UTF-8 each become U+FFFD.
  std::string expected = b.text;
  expected.replace(expected.find("bad\xff\xfe"), 5, "bad\xef\xbf\xbd\xef\xbf\xbd");
  EXPECT_EQ(lines, expected);
}

TEST_F(CliJson, ZipAndWadFilesTellHowTheyAreStored) {
  // Text that deflate shrinks; what it cannot shrink is stored.
  std::string text;
  for (int i = 0; i < 20; ++i) text += "hello ";
  WriteFile(dir / "src/hello.txt", text);
  WriteFile(dir / "src/shot.png", "already compressed");
  std::ostringstream out, err;
  ASSERT_EQ(cli::Run({"create", P("x.pk3"), P("src")}, out, err), 0) << err.str();
  Both zip = Run({"list", P("x.pk3")});
  EXPECT_EQ(zip.doc["format"], "zip");
  const Json& hello = zip.doc["files"][0];
  EXPECT_EQ(hello["method"], 8);
  EXPECT_EQ(hello["crc32"], "48f8fa2f");
  EXPECT_EQ(zip.doc["files"][1]["method"], 0);
  EXPECT_EQ(zip.doc["files"][1]["compressed_size"], 18);
  EXPECT_EQ(Run({"info", P("x.pk3"), "hello.txt"}).doc["compressed_size"], hello["compressed_size"]);

  WriteFile(dir / "lumps/conback.lmp", Bytes(8, 0));
  ASSERT_EQ(cli::Run({"create", P("x.wad"), P("lumps")}, out, err), 0) << err.str();
  Both wad = Run({"list", P("x.wad")});
  EXPECT_EQ(wad.doc["format"], "wad2");
  EXPECT_EQ(wad.doc["files"][0], Json({{"path", "conback.lmp"}, {"size", 8}, {"lump", "conback"}, {"type", 'B'}}));
}

TEST_F(CliJson, InfoAndCheckDescribeWhatTheTextSays) {
  Bytes lmp;
  PutU32(lmp, 0, 3);
  PutU32(lmp, 4, 2);
  lmp.insert(lmp.end(), {1, 2, 3, 4, 5, 6});
  WriteFile(dir / "p.pak", PakBuilder().File("gfx/a.lmp", lmp).File("maps/x.ent", "xx").Build());
  Both pic = Run({"info", P("p.pak"), "GFX/A.LMP"});
  EXPECT_EQ(pic.text, "kind: picture\nframes: 1\nframe: 3x2\n");
  EXPECT_EQ(pic.doc["path"], "gfx/a.lmp");
  EXPECT_EQ(pic.doc["frames"], Json::parse(R"([{"width":3,"height":2,"truecolor":false}])"));
  Both file = Run({"info", P("p.pak"), "maps/x.ent"});
  EXPECT_EQ(file.doc["kind"], "file");
  EXPECT_EQ(file.doc["size"], 2);
  Both folder = Run({"info", P("p.pak"), "maps"});
  EXPECT_EQ(folder.doc["kind"], "directory");
  EXPECT_EQ(folder.doc["files"], 1);

  Both good = Run({"check", P("p.pak")});
  EXPECT_EQ(good.doc["files"], 2);
  EXPECT_EQ(good.doc["problems"], Json::array());
  WriteFile(dir / "bad.pak", PakBuilder().File("a", "1").File("A", "2").Raw("../x", 5, 900).Build());
  Both bad = Run({"check", P("bad.pak")});
  EXPECT_EQ(bad.rc, 1);
  std::string lines;
  for (const Json& p : bad.doc["problems"]) lines += p.get<std::string>() + "\n";
  EXPECT_EQ(lines, bad.text);
}

TEST_F(CliJson, GameFolderCommands) {
  MakeRegistered(dir / "id1");
  WriteFile(dir / "id1/pak0.pak", PakBuilder().File("gfx/a.lmp", "0").Build());
  WriteFile(dir / "id1/pak1.pak", PakBuilder().File("gfx/a.lmp", "11").File("x.cfg", "x").File("x.cfg", "y").Build());
  Both which = Run({"which", P("id1"), "gfx/a.lmp"});
  EXPECT_EQ(which.text, P("id1/pak1.pak") + "\tgfx/a.lmp\nshadowed\t" + P("id1/pak0.pak") + "\n");
  EXPECT_EQ(which.doc["source"], P("id1/pak1.pak"));
  EXPECT_EQ(which.doc["entry"], "gfx/a.lmp");
  EXPECT_EQ(which.doc["shadowed"], Json::array({P("id1/pak0.pak")}));

  Both all = Run({"list", "--game", "--all", P("id1")});
  EXPECT_EQ(all.doc["files"].size(), static_cast<std::size_t>(std::count(all.text.begin(), all.text.end(), '\n')));
  Json hidden = Json::array();
  for (const Json& f : all.doc["files"])
    if (f["shadowed"]) hidden.push_back(f);
  ASSERT_EQ(hidden.size(), 2u);  // pak0's a.lmp, and pak1's first x.cfg under its second
  EXPECT_EQ(hidden[0], Json({{"path", "gfx/a.lmp"}, {"size", 1}, {"source", P("id1/pak0.pak")}, {"shadowed", true}}));

  Both check = Run({"check", "--engine", "quake", P("id1")});
  EXPECT_EQ(check.rc, 1);
  ASSERT_FALSE(check.doc["problems"].empty());
  EXPECT_EQ(check.doc["problems"][0]["file"], P("id1/pak1.pak"));
  EXPECT_NE(check.text.find(check.doc["problems"][0]["message"].get<std::string>()), std::string::npos);

  Both diff = Run({"diff", P("id1/pak0.pak"), P("id1/pak1.pak")});
  EXPECT_EQ(diff.text, "M gfx/a.lmp\n+ x.cfg\n");  // pak1 holds x.cfg twice: the first is compared
  EXPECT_EQ(diff.doc["changes"][0], Json({{"change", "modified"}, {"path", "gfx/a.lmp"}}));
  EXPECT_EQ(diff.doc["complete"], true);

  Both none = Run({"find", P("id1"), "*.wav"});
  EXPECT_EQ(none.rc, 1);
  EXPECT_EQ(none.doc["matches"], Json::array());
  Both found = Run({"find", P("id1"), "GFX/A*"});
  EXPECT_EQ(found.doc["matches"], Json::parse("[{\"source\":\"" + P("id1/pak0.pak") +
                                              "\",\"path\":\"gfx/a.lmp\"},"
                                              "{\"source\":\"" +
                                              P("id1/pak1.pak") + "\",\"path\":\"gfx/a.lmp\"}]"));
}

TEST_F(CliJson, OnlyCommandsWithADocumentTakeIt) {
  std::ostringstream out, err;
  EXPECT_EQ(cli::Run({"create", "--json", P("x.pak"), P(".")}, out, err), 2);
  EXPECT_EQ(out.str(), "");
  // A command that fails prints no document.
  EXPECT_EQ(cli::Run({"list", "--json", P("missing.pak")}, out, err), 1);
  EXPECT_EQ(out.str(), "");
}

}  // namespace
}  // namespace tarn::test
