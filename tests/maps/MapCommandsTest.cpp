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

// What would leave a map without its world, or give an engine more than its parser holds, is
// refused with the map left as it was, and the message stays one short line.
TEST(MapCommands, EntsSetRefusesAMapWithoutAWorldOrTokensTheEngineCannotHold) {
  TempDir dir;
  WriteFile(dir / "p.pak", PakBuilder()
                               .File("maps/a.bsp", LitTiles(BspFormat::Quake).Build())
                               .File("maps/q2.bsp", LitTiles(BspFormat::Quake2).Build())
                               .Build());
  const std::string pak = (dir / "p.pak").string();
  const Bytes unchanged = ReadFile(dir / "p.pak");
  const std::string world = "{\n\"classname\" \"worldspawn\"\n";
  fs::create_directories(dir / "folder.ent");
  struct Refused {
    std::string map, name, text, said;
  };
  const std::vector<Refused> cases = {
      {"maps/a.bsp", "folder.ent", "", "is a folder, not a file of entities"},
      {"maps/a.bsp", "empty.ent", "", "there is no entity: the first must be the world"},
      {"maps/a.bsp", "comment.ent", "// nothing here\n", "there is no entity"},
      {"maps/a.bsp", "light.ent", "{\n\"classname\" \"light\"\n}\n" + world + "}\n",
       "line 1: the first entity is the world: its \"classname\" must be \"worldspawn\", not \"light\""},
      {"maps/a.bsp", "key.ent", world + "\"" + std::string(1 << 20, 'k') + "\" \"1\"\n}\n",
       "line 1: the entity opened here has a key of 1048576 bytes (\"kkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkk...\"); Quake "
       "reads a key into 256 bytes (ED_ParseEdict), at most 255"},
      {"maps/a.bsp", "value.ent", world + "\"message\" \"" + std::string(1024, 'v') + "\"\n}\n",
       "the value of \"message\" in the entity opened here is 1024 bytes long; Quake reads a value into 1024 bytes "
       "(COM_Parse), at most 1023"},
      {"maps/q2.bsp", "q2.ent", world + "\"message\" \"" + std::string(128, 'v') + "\"\n}\n",
       "Quake II reads a value into 128 bytes"},
  };
  for (const Refused& c : cases) {
    if (c.name != "folder.ent") WriteFile(dir / c.name, c.text);
    const Result r = Tool({"ents", pak, c.map, "--set", (dir / c.name).string()});
    EXPECT_EQ(r.rc, 1) << c.name;
    EXPECT_NE(r.err.find(c.said), std::string::npos) << c.name << ": " << r.err.substr(0, 300);
    EXPECT_LT(r.err.size(), 400u) << c.name;
    EXPECT_EQ(ReadFile(dir / "p.pak"), unchanged) << c.name;
  }
  // As much as each engine holds goes in.
  WriteFile(dir / "most.ent", world + "\"message\" \"" + std::string(1023, 'v') + "\"\n}\n");
  EXPECT_EQ(Tool({"ents", pak, "maps/a.bsp", "--set", (dir / "most.ent").string()}).rc, 0);
  WriteFile(dir / "most2.ent", world + "\"message\" \"" + std::string(127, 'v') + "\"\n}\n");
  EXPECT_EQ(Tool({"ents", pak, "maps/q2.bsp", "--set", (dir / "most2.ent").string()}).rc, 0);
}

}  // namespace
}  // namespace tarn::test
