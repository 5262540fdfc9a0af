#include "BspBuilder.h"
#include "CliSupport.h"
#include "TestSupport.h"

namespace tarn::test {
namespace {

TEST(MapCommands, InfoEntsAndTheEntityLumpRoundTrip) {
  TempDir dir;
  Bytes lit = ToBytes("QLIT");
  PutU32(lit, 4, 1);
  lit.resize(8 + 3 * 50, 9);
  BspBuilder q2 = LitTiles(BspFormat::Quake2);
  q2.textureNames = {"e1u1/floor", "e1u1/wall"};
  WriteFile(dir / "p.pak", PakBuilder()
                               .File("maps/a.bsp", LitTiles(BspFormat::Quake).Build())
                               .File("maps/a.lit", lit)
                               .File("maps/q2.bsp", q2.Build())
                               .File("textures/e1u1/floor.wal", "w")
                               .File("maps/x.bsp", "xx")
                               .Build());
  const std::string pak = (dir / "p.pak").string();
  const Result info = Tool({"info", pak, "maps/a.bsp"});
  ASSERT_EQ(info.rc, 0) << info.err;
  const std::string entities = "lump entities: " + std::to_string(BspBuilder(BspFormat::Quake).entities.size() + 1);
  for (const std::string& line :
       {entities + " bytes\n", std::string("kind: map\n"), std::string("faces: 3\n"),
        std::string("format: BSP29 (Quake)\n"), std::string("textures: 1, 1 embedded\n"),
        std::string("models: 1\nentities: 2\nlightmap: yes, 50 bytes\n"), std::string("lit: present, matching\n")})
    EXPECT_NE(info.out.find(line), std::string::npos) << line << info.out;
  const Result q2info = Tool({"info", pak, "maps/q2.bsp"});
  EXPECT_NE(q2info.out.find("missing texture: e1u1/wall\n"), std::string::npos) << q2info.out;
  EXPECT_EQ(q2info.out.find("missing texture: e1u1/floor"), std::string::npos);
  const Result json = Tool({"info", "--json", pak, "maps/a.bsp"});
  EXPECT_NE(json.out.find("\"lit\": \"matching\""), std::string::npos) << json.out;
  EXPECT_NE(Tool({"info", pak, "maps/x.bsp"}).err.find("cannot be read as a map: too short"), std::string::npos);

  EXPECT_EQ(Tool({"ents", pak, "maps/a.bsp"}).out, BspBuilder(BspFormat::Quake).entities);
  WriteFile(dir / "bad.ent", "{ \"classname\" \"worldspawn\"\n");
  const Bytes unchanged = ReadFile(dir / "p.pak");
  const Result bad = Tool({"ents", pak, "maps/a.bsp", "--set", (dir / "bad.ent").string()});
  EXPECT_EQ(bad.rc, 1);
  EXPECT_NE(bad.err.find("never closed with \"}\"; nothing changed"), std::string::npos) << bad.err;
  EXPECT_EQ(ReadFile(dir / "p.pak"), unchanged);

  const std::string edited = "{\n\"classname\" \"worldspawn\"\n\"message\" \"The Edit\"\n}\n";
  WriteFile(dir / "new.ent", edited);
  const Result set = Tool({"ents", pak, "maps/a.bsp", "--set", (dir / "new.ent").string()});
  ASSERT_EQ(set.rc, 0) << set.err;
  EXPECT_EQ(Tool({"ents", pak, "maps/a.bsp"}).out, edited);
  EXPECT_EQ(Tool({"cat", pak, "maps/a.lit"}).out, std::string(lit.begin(), lit.end()));
  EXPECT_EQ(Tool({"cat", pak, "maps/q2.bsp"}).out.size(), q2.Build().size());
  EXPECT_EQ(Tool({"ents", pak, "maps/x.bsp"}).rc, 1);
  EXPECT_EQ(Tool({"ents", pak}).rc, 2);
}

// --export writes the lump as maps/NAME.ent beside the map (replacing one in another case), and
// that file put back with --set leaves the map as it was, byte for byte.
TEST(MapCommands, EntsExportWritesTheEntThatSetTakesBack) {
  TempDir dir;
  const Bytes map = LitTiles(BspFormat::Quake).Build();
  WriteFile(dir / "p.pak", PakBuilder().File("maps/a.bsp", map).File("maps/A.ENT", "old").Build());
  const std::string pak = (dir / "p.pak").string();
  const Result exported = Tool({"ents", pak, "maps/a.bsp", "--export"});
  ASSERT_EQ(exported.rc, 0) << exported.err;
  const std::string ent = Tool({"cat", pak, "maps/A.ENT"}).out;
  EXPECT_EQ(ent, BspBuilder(BspFormat::Quake).entities);
  EXPECT_EQ(Tool({"list", pak}).out.find("a.ent"), std::string::npos);
  WriteFile(dir / "a.ent", ent);
  ASSERT_EQ(Tool({"ents", pak, "maps/a.bsp", "--set", (dir / "a.ent").string()}).rc, 0);
  EXPECT_EQ(ToBytes(Tool({"cat", pak, "maps/a.bsp"}).out), map);
  EXPECT_EQ(Tool({"ents", pak, "maps/a.bsp", "--export", "--set", "x"}).rc, 2);
}

}  // namespace
}  // namespace tarn::test
