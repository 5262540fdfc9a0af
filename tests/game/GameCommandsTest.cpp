// which, list --game, check --engine, diff and find as the user runs them: output, messages and
// exit codes.
#include <sstream>

#include "TestSupport.h"
#include "ZipBuilder.h"
#include "cli/Commands.h"

namespace tarn::test {
namespace {

struct Result {
  int rc;
  std::string out, err;
};

class GameCommands : public ::testing::Test {
 protected:
  TempDir dir;
  std::string P(const std::string& name) { return (dir / name).string(); }
  Result Tool(std::vector<std::string> args) {
    std::ostringstream out, err;
    const int rc = cli::Run(args, out, err);
    return {rc, out.str(), err.str()};
  }
  void Game() {
    MakeRegistered(dir / "id1");
    WriteFile(dir / "id1/pak0.pak", PakBuilder().File("gfx/a.lmp", "0").Build());
    WriteFile(dir / "id1/pak1.pak", PakBuilder().File("gfx/a.lmp", "11").File("Maps/B.txt", "b").Build());
    WriteFile(dir / "id1/gfx/a.lmp", "loose");
  }
};

TEST_F(GameCommands, WhichAndListGame) {
  Game();
  Result which = Tool({"which", P("id1"), "gfx/a.lmp"});
  EXPECT_EQ(which.rc, 0);
  EXPECT_EQ(which.out, P("id1/pak1.pak") + "\tgfx/a.lmp\nshadowed\t" + P("id1/pak0.pak") + "\nshadowed\t" +
                           P("id1/gfx/a.lmp") + "\n");
  Result miss = Tool({"which", P("id1"), "maps/b.txt"});
  EXPECT_EQ(miss.rc, 1);
  EXPECT_NE(miss.err.find("\"Maps/B.txt\" in \"" + P("id1/pak1.pak") + "\" differs only in case"), std::string::npos)
      << miss.err;
  EXPECT_EQ(Tool({"which", "--engine", "fteqw", P("id1"), "maps/b.txt"}).rc, 0);
  EXPECT_EQ(Tool({"which", "--engine", "doom", P("id1"), "x"}).rc, 2);
  EXPECT_EQ(Tool({"which", P("id1/pak0.pak"), "x"}).err, "tarn-pak: \"" + P("id1/pak0.pak") + "\" is not a folder\n");

  EXPECT_EQ(Tool({"list", "--game", P("id1")}).out, "1\tMaps/B.txt\t" + P("id1/pak1.pak") + "\n2\tgfx/a.lmp\t" +
                                                        P("id1/pak1.pak") + "\n10\tgfx/pop.lmp\t" +
                                                        P("id1/gfx/pop.lmp") + "\n");
  Result all = Tool({"list", "--game", "--all", P("id1")});
  EXPECT_NE(all.out.find("1\tgfx/a.lmp\t" + P("id1/pak0.pak") + "\tshadowed\n5\tgfx/a.lmp\t" + P("id1/gfx/a.lmp") +
                         "\tshadowed\n"),
            std::string::npos)
      << all.out;
  // An engine that stops while loading its paks loads no file: which says so, list still lists.
  WriteFile(dir / "id1/pak2.pak", "not a pak");
  Result stops = Tool({"which", P("id1"), "gfx/a.lmp"});
  EXPECT_EQ(stops.rc, 1);
  EXPECT_EQ(stops.out, "");
  EXPECT_EQ(stops.err, "tarn-pak: \"" + P("id1/pak2.pak") +
                           "\" does not start with \"PACK\" (\"pak2.pak is not a packfile\"): Quake, Quakespasm, "
                           "Ironwail and vkQuake would stop with a fatal error there, before loading any file\n");
  Result listed = Tool({"list", "--game", P("id1")});
  EXPECT_EQ(listed.rc, 1);
  EXPECT_NE(listed.out.find("gfx/a.lmp"), std::string::npos);
  fs::remove(dir / "id1/pak2.pak");
  // The Quake folder given for its game folder is named.
  EXPECT_NE(Tool({"list", "--game", P("")}).err.find("give the game folders themselves"), std::string::npos);
}

TEST_F(GameCommands, CheckForAnEngine) {
  Game();
  WriteFile(dir / "id1/pak3.pak", PakBuilder().File("x.cfg", "x").File("x.cfg", "y").Build());
  Result r = Tool({"check", "--engine", "quake", P("id1")});
  EXPECT_EQ(r.rc, 1);
  EXPECT_NE(r.out.find("\"" + P("id1/pak1.pak") + "\" \"Maps/B.txt\": the name has capital letters"),
            std::string::npos);
  EXPECT_NE(r.out.find("\"" + P("id1/pak3.pak") + "\": never loaded: pak2.pak is missing"), std::string::npos);
  EXPECT_NE(r.out.find("[quake: never-loaded]"), std::string::npos);
  EXPECT_EQ(r.err, "tarn-pak: 2 problems found\n");
  // An archive on its own gets today's checks too: the duplicate path.
  Result alone = Tool({"check", "--engine", "fte", P("id1/pak3.pak")});
  EXPECT_EQ(alone.rc, 1);
  EXPECT_NE(alone.out.find("duplicate path"), std::string::npos);
  Result clean = Tool({"check", "--engine", "fte", P("id1/pak1.pak")});
  EXPECT_EQ(clean.rc, 0);
  EXPECT_EQ(clean.out, "no problems found for fte (2 files)\n");
  EXPECT_EQ(Tool({"check", "--engine"}).rc, 2);
  // A deflated pk3 member's header, read as the engine reads it.
  WriteFile(dir / "x.pk3", ZipBuilder().Deflated("sound/a.wav", ToBytes("OggS, not a wave")).Build());
  Result zip = Tool({"check", "--engine", "quake", P("x.pk3")});
  EXPECT_EQ(zip.rc, 1);
  EXPECT_NE(zip.out.find("\"sound/a.wav\""), std::string::npos) << zip.out;
  EXPECT_NE(zip.out.find("[quake: sound-format]"), std::string::npos) << zip.out;
}

TEST_F(GameCommands, DiffAndFindExitLikeDiffAndGrep) {
  Game();
  Result same = Tool({"diff", P("id1/pak0.pak"), P("id1/pak0.pak")});
  EXPECT_EQ(same.rc, 0);
  EXPECT_EQ(same.out, "");
  Result different = Tool({"diff", P("id1/pak0.pak"), P("id1/pak1.pak")});
  EXPECT_EQ(different.rc, 1);
  EXPECT_EQ(different.out, "M gfx/a.lmp\n+ Maps/B.txt\n");  // as the archive names it
  EXPECT_EQ(Tool({"diff", P("id1/pak0.pak"), P("nothing.pak")}).rc, 2);
  EXPECT_EQ(Tool({"diff", P("id1/pak0.pak")}).rc, 2);

  Result found = Tool({"find", P("id1"), "*/?.*"});
  EXPECT_EQ(found.rc, 0);
  EXPECT_EQ(found.out, P("id1/gfx/a.lmp") + "\tgfx/a.lmp\n" + P("id1/pak0.pak") + "\tgfx/a.lmp\n" + P("id1/pak1.pak") +
                           "\tgfx/a.lmp\n" + P("id1/pak1.pak") + "\tMaps/B.txt\n");
  EXPECT_EQ(Tool({"find", P("id1"), "*.wav"}).rc, 1);
  WriteFile(dir / "id1/broken.pak", "PACK");
  WriteFile(dir / "id1/worse.wad", "junk");
  Result broken = Tool({"find", P("id1"), "gfx/a.lmp"});
  EXPECT_EQ(broken.rc, 1);
  EXPECT_EQ(std::count(broken.out.begin(), broken.out.end(), '\n'), 3);
  EXPECT_NE(broken.err.find("worse.wad"), std::string::npos) << broken.err;
}

}  // namespace
}  // namespace tarn::test
