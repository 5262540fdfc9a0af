#include "BspBuilder.h"
#include "TestSupport.h"
#include "fileio/ByteIO.h"
#include "maps/Bsp.h"
#include "maps/MapEntities.h"

namespace tarn::test {
namespace {

constexpr BspFormat kFormats[] = {BspFormat::Quake, BspFormat::Bsp2, BspFormat::Bsp2Old, BspFormat::HalfLife,
                                  BspFormat::Quake2};

BspMap Load(const Bytes& bytes) {
  BspMap map;
  std::string why;
  EXPECT_TRUE(LoadBsp(bytes, map, &why)) << why;
  return map;
}

std::string LoadError(const Bytes& bytes) {
  BspMap map;
  std::string why;
  EXPECT_FALSE(LoadBsp(bytes, map, &why));
  return why;
}

TEST(Bsp, EveryFormatGivesPolygonsWithTextureAndLightmapCoordinates) {
  for (BspFormat f : kFormats) {
    SCOPED_TRACE(BspFormatName(f));
    const BspMap map = Load(LitTiles(f).Build());
    EXPECT_EQ(map.header.format, f);
    ASSERT_EQ(map.faces.size(), 3u);
    ASSERT_EQ(map.vertices.size(), 12u);
    const BspFace& lit = map.faces[1];
    EXPECT_EQ(lit.count, 4u);
    EXPECT_EQ(lit.lightOffset, 25 * SampleBytes(f));
    EXPECT_EQ(lit.lightWidth, 5);
    EXPECT_EQ(lit.lightHeight, 5);
    const BspVertex& corner = map.vertices[lit.first + 2];
    EXPECT_EQ(corner.x, 128);
    EXPECT_EQ(corner.s, 128);
    EXPECT_EQ(corner.t, 64);
    EXPECT_FLOAT_EQ(corner.u, 4.5f);
    EXPECT_FLOAT_EQ(map.vertices[lit.first].u, 0.5f);
    EXPECT_EQ(map.faces[2].lightOffset, -1);
    EXPECT_EQ(map.lightBytes, SampleBytes(f));
    ASSERT_EQ(map.textures.size(), 1u);
    EXPECT_EQ(map.faces[0].texture, 0);
    EXPECT_EQ(map.models.size(), 1u);
    EXPECT_NE(map.entities.find("info_player_start"), std::string::npos);
    EXPECT_TRUE(map.problems.empty());
    if (f == BspFormat::Quake2) {
      EXPECT_EQ(map.textures[0].name, "e1u1/floor");
      EXPECT_FALSE(map.textures[0].embedded);
    } else {
      EXPECT_EQ(map.textures[0].name, "floor");
      ASSERT_TRUE(map.textures[0].embedded);
      EXPECT_EQ(map.textures[0].picture.At(3, 3), 5);
      // Half-Life's texture brings its own palette; Quake's take Quake's.
      EXPECT_EQ(map.textures[0].palette.colors[10].g, f == BspFormat::HalfLife ? 7 : QuakePalette().colors[10].g);
    }
  }
}

TEST(Bsp, DamagedMapsAreRefusedOrTheirDamageLeftOut) {
  const BspFormat f = BspFormat::Quake;
  const Bytes good = LitTiles(f).Build();
  const BspLumpIndex ix = LumpIndex(f);
  auto with = [&](std::size_t at, std::uint32_t v) {
    Bytes b = good;
    PutU32(b, at, v);
    return b;
  };
  // The header: a lump past the end, a negative length, a cut header, records not whole.
  EXPECT_NE(LoadError(with(LumpField(f, 7) + 4, 1u << 30)).find("faces lump"), std::string::npos);
  EXPECT_NE(LoadError(with(LumpField(f, 3) + 4, 0xFFFFFFF0)).find("lies outside the file"), std::string::npos);
  EXPECT_NE(LoadError(Bytes(good.begin(), good.begin() + 100)).find("cut short"), std::string::npos);
  Bytes odd = good;
  PutU32(odd, LumpField(f, static_cast<std::size_t>(ix.faces)) + 4, 21);
  EXPECT_NE(LoadError(odd).find("not a whole number"), std::string::npos);
  EXPECT_NE(LoadError(with(0, 63)).find("version 63"), std::string::npos);

  // A face outside the edge list, with negative edges, a texture offset of -1, a lightmap past
  // the lighting lump, a negative texture count: kept out, and said once each.
  BspBuilder b = LitTiles(f);
  b.miptex.insert(b.miptex.begin(), Bytes{});
  b.Tile(0, 64).FaceEdges(1000, 4).Tile(0, 128).FaceEdges(0, -2).Tile(0, 192, 0, 40).Tile(0, 256).FaceEdges(-4, 4);
  BspMap map = Load(b.Build());
  EXPECT_EQ(map.faces.size(), 4u);
  EXPECT_TRUE(map.textures[0].missing);
  EXPECT_EQ(map.faces[0].texture, 0);  // the -1 entry keeps its index, drawn as missing
  EXPECT_EQ(map.faces[3].lightOffset, -1);
  EXPECT_EQ(map.problems, (std::vector<std::string>{"1 face skipped: fewer than three edges",
                                                    "2 faces skipped: their edges lie outside the edge list",
                                                    "1 face unlit: their lightmaps lie past the lighting lump"}));
  Bytes count = b.Build();
  BspHeader h;
  ASSERT_TRUE(ReadBspHeader(count, h, nullptr));
  PutU32(count, static_cast<std::size_t>(h.lumps[static_cast<std::size_t>(ix.textures)].offset), 0x80000000);
  EXPECT_NE(Load(count).problems.front().find("texture count"), std::string::npos);

  // Faces sharing edges may not multiply the vertices without bound.
  BspBuilder shared(f);
  const BspMap many = Load(shared.Tile(0, 0).Repeat(2000).Build());
  EXPECT_EQ(many.faces.size(), 1026u);
  EXPECT_EQ(many.problems,
            (std::vector<std::string>{"975 faces skipped: they share edges with other faces beyond any real map"}));

  // Every cut of a map and every byte of its header flipped reads or fails, never crashes.
  for (std::size_t n = 0; n < good.size(); n += 7) {
    BspMap m;
    LoadBsp(std::span(good.data(), n), m, nullptr);
  }
  for (std::size_t i = 0; i < 124; ++i) {
    Bytes b2 = good;
    b2[i] ^= 0x80;
    BspMap m;
    LoadBsp(b2, m, nullptr);
  }
}

TEST(Bsp, LitFilesColourTheLightOnlyWhenTheyMatch) {
  BspMap map = Load(LitTiles(BspFormat::Quake).Build());
  Bytes lit = ToBytes("QLIT");
  PutU32(lit, 4, 1);
  lit.resize(8 + 3 * 50, 9);
  std::string why;
  BspMap wrong = map;
  EXPECT_FALSE(ApplyLit(wrong, Bytes(lit.begin(), lit.end() - 3), &why));
  EXPECT_NE(why.find("needs 158"), std::string::npos);
  EXPECT_EQ(wrong.lightBytes, 1);
  ASSERT_TRUE(ApplyLit(map, lit, &why)) << why;
  EXPECT_EQ(map.lightBytes, 3);
  EXPECT_EQ(map.faces[1].lightOffset, 75);
  BspMap q2 = Load(LitTiles(BspFormat::Quake2).Build());
  EXPECT_FALSE(ApplyLit(q2, lit, &why));
}

TEST(MapEntities, ParsedCheckedAndTheStartFound) {
  std::vector<MapEntity> e;
  std::string why;
  ASSERT_TRUE(
      ParseEntities("// a comment\n{\n\"classname\" \"worldspawn\"\n\"wad\" \"\"\n}\n{ \"classname\" "
                    "\"info_player_deathmatch\" \"origin\" \"1 2 3\" }",
                    e, &why))
      << why;
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(*e[0].Find("wad"), "");
  EXPECT_EQ(e[1].line, 6);
  for (const auto& [text, fault] : std::vector<std::pair<std::string, std::string>>{
           {"{\n\"a\" \"b\"\n", "line 1: the entity opened here is never closed"},
           {"{ \"a\" \"b\" }\n}", "line 2: expected \"{\""},
           {"{\n\"a\" b }", "line 2: the value of \"a\" must be a quoted string"},
           {"{ \"a\" }", "line 1: the key \"a\" has no value"},
           {"{ \"a\n\" \"b\" }", "line 1: a key must be a quoted string"},
           {"{ { } }", "line 1: \"{\" inside an entity"}}) {
    EXPECT_FALSE(ParseEntities(text, e, &why)) << text;
    EXPECT_EQ(why.substr(0, fault.size()), fault) << text;
  }
  BspMap map = Load(LitTiles(BspFormat::Quake).Build());
  ASSERT_TRUE(ParseEntities(map.entities, e, &why));
  MapStart start = FindStart(map, e);
  EXPECT_EQ(start.from, "info_player_start");
  EXPECT_EQ(start.origin[2], 24);
  EXPECT_EQ(start.yaw, 90);
  start = FindStart(map, {});
  EXPECT_EQ(start.from, "centre");
  EXPECT_EQ(start.origin[0], 512);
}

TEST(Bsp, ReplacingTheEntitiesMovesTheOtherLumpsWhole) {
  for (BspFormat f : {BspFormat::Quake, BspFormat::Quake2}) {
    SCOPED_TRACE(BspFormatName(f));
    Bytes map = LitTiles(f).Build();
    // The entity lump first in the file, as some compilers write it, and a BSPX table after
    // the last lump pointing back into the file.
    const std::size_t bspxAt = map.size();
    map.insert(map.end(), {'B', 'S', 'P', 'X', 1, 0, 0, 0});
    map.resize(map.size() + 24, 0);
    std::memcpy(map.data() + bspxAt + 8, "LMSHIFT", 7);
    PutU32(map, map.size(), static_cast<std::uint32_t>(bspxAt + 40));
    PutU32(map, map.size(), 4);
    map.insert(map.end(), {1, 2, 3, 4});
    BspHeader before;
    ASSERT_TRUE(ReadBspHeader(map, before, nullptr));
    for (const std::string& text : {std::string(3000, ' ') + "{ \"classname\" \"worldspawn\" }", std::string("{}")}) {
      Bytes out;
      std::string why;
      ASSERT_TRUE(ReplaceEntityLump(map, text, out, &why)) << why;
      BspHeader after;
      ASSERT_TRUE(ReadBspHeader(out, after, &why)) << why;
      for (std::size_t i = 1; i < before.lumps.size(); ++i) {
        const auto& a = before.lumps[i];
        const auto& b = after.lumps[i];
        ASSERT_EQ(a.length, b.length);
        EXPECT_TRUE(std::equal(map.begin() + a.offset, map.begin() + a.offset + a.length, out.begin() + b.offset)) << i;
      }
      EXPECT_EQ(Load(out).entities, text);
      const std::int64_t delta = static_cast<std::int64_t>(out.size()) - static_cast<std::int64_t>(map.size());
      ByteReader r(out);
      r.Seek(static_cast<std::size_t>(static_cast<std::int64_t>(bspxAt) + delta + 32));
      const std::int64_t lmshift = r.I32();
      EXPECT_EQ(Bytes(out.begin() + lmshift, out.begin() + lmshift + 4), (Bytes{1, 2, 3, 4}));
    }
  }
  Bytes out;
  std::string why;
  // Found by fuzzing: an empty lump inside the old entity lump stays inside the shorter file,
  // and a BSPX-like table running into new text at the end does not rewrite the text.
  Bytes empty = LitTiles(BspFormat::Quake).Build();
  PutU32(empty, LumpField(BspFormat::Quake, 4), 124 + 60);
  ASSERT_TRUE(ReplaceEntityLump(empty, "{}", out, &why)) << why;
  EXPECT_EQ(Load(out).entities, "{}");
  BspHeader moved;
  ASSERT_TRUE(ReadBspHeader(out, moved, &why));
  EXPECT_EQ(moved.lumps[4].offset, 124 + 4);
  PutU32(empty, LumpField(BspFormat::Quake, 0) + 4, 0);
  empty.insert(empty.end(), {'B', 'S', 'P', 'X', 9, 0, 0, 0});
  ASSERT_TRUE(ReplaceEntityLump(empty, std::string(100, ' '), out, &why)) << why;
  EXPECT_EQ(Load(out).entities, std::string(100, ' '));
  EXPECT_FALSE(ReplaceEntityLump(Bytes(10, 0), "{}", out, &why));
  EXPECT_FALSE(ReplaceEntityLump(LitTiles(BspFormat::Quake).Build(), std::string("{}\0", 3), out, &why));
}

// Real maps of other projects, by the facts their sources list.
TEST(Bsp, RealMaps) {
  const fs::path s = SamplesDir();
  if (!fs::exists(s)) GTEST_SKIP() << "no samples";
  struct Expect {
    const char* path;
    BspFormat format;
    std::size_t faces, models, entities, textures;
  };
  for (const Expect& e : {
           Expect{"LibreQuake/lq1/maps/lq1m1.bsp", BspFormat::Bsp2, 11162, 75, 359, 132},
           Expect{"LibreQuake/lq1/maps/e2m2.bsp", BspFormat::Quake, 7787, 108, 452, 57},
           Expect{"qbsp/assets/example-quake2.bsp", BspFormat::Quake2, 0, 0, 0, 3},
           Expect{"quake2-source-archive/sources/coopordie/game/trunk/data/maps/startmap.bsp", BspFormat::Quake2, 2959,
                  30, 180, 0},
           Expect{"TrenchBroom/lib/TbMdlLib/test/fixture/mdl/LoadBspModel/hl.bsp", BspFormat::HalfLife, 0, 0, 0, 3},
           Expect{"ericw-tools/testmaps/compiled/q1_detail_fence2.bsp", BspFormat::Quake, 0, 0, 0, 3},
       }) {
    SCOPED_TRACE(e.path);
    const Bytes bytes = ReadFile(s / e.path);
    ASSERT_FALSE(bytes.empty());
    const BspMap map = Load(bytes);
    EXPECT_EQ(map.header.format, e.format);
    if (e.faces) {
      EXPECT_EQ(map.faces.size(), e.faces);
    }
    if (e.models) {
      EXPECT_EQ(map.models.size(), e.models);
    }
    if (e.textures) {
      EXPECT_EQ(map.textures.size(), e.textures);
    }
    EXPECT_TRUE(map.problems.empty()) << map.problems.front();
    std::vector<MapEntity> entities;
    std::string why;
    EXPECT_TRUE(ParseEntities(map.entities, entities, &why)) << why;
    if (e.entities) {
      EXPECT_EQ(entities.size(), e.entities);
    }
    // Every vertex inside the world's bounds, and most faces lit.
    const BspModel& world = map.models.at(0);
    std::size_t lit = 0;
    for (const BspFace& f : map.faces) lit += f.lightOffset >= 0;
    for (const BspVertex& v : map.vertices)
      ASSERT_TRUE(v.x >= world.mins[0] - 1 && v.x <= world.maxs[0] + 1 && v.z >= world.mins[2] - 1 &&
                  v.z <= world.maxs[2] + 1);
    if (!map.lighting.empty()) {
      EXPECT_GT(lit, map.faces.size() / 2);
    }
  }
  const Bytes e2m2 = ReadFile(s / "LibreQuake/lq1/maps/e2m2.bsp");
  BspMap lit = Load(e2m2);
  std::string why;
  EXPECT_TRUE(ApplyLit(lit, ReadFile(s / "LibreQuake/lq1/maps/e2m2.lit"), &why)) << why;
  const BspMap hl = Load(ReadFile(s / "TrenchBroom/lib/TbMdlLib/test/fixture/mdl/LoadBspModel/hl.bsp"));
  EXPECT_EQ(hl.textures[1].name, "embedded");
  EXPECT_TRUE(hl.textures[1].embedded);
  EXPECT_FALSE(hl.textures[2].embedded);
  EXPECT_TRUE(
      Load(ReadFile(s / "TrenchBroom/lib/TbMdlLib/test/fixture/mdl/Game/Quake/id1/cube.bsp")).textures[0].missing);
  // The extended Quake II layout reads as IBSP does, its wider faces and edges.
  EXPECT_EQ(Load(ReadFile(s / "bevy_trenchbroom/assets/maps/example.bsp")).header.format, BspFormat::Quake2Qbism);
  EXPECT_NE(LoadError(ReadFile(s / "TrenchBroom/lib/TbMdlLib/test/fixture/mdl/LoadBspModel/invalid_version.bsp"))
                .find("version 63"),
            std::string::npos);
  // The entity lump of a real map replaced and read back; nothing else moves but by the shift.
  Bytes out;
  ASSERT_TRUE(ReplaceEntityLump(e2m2, "{\n\"classname\" \"worldspawn\"\n}\n", out, &why)) << why;
  const BspMap replaced = Load(out);
  EXPECT_EQ(replaced.faces.size(), lit.faces.size());
  EXPECT_EQ(replaced.lighting, Load(e2m2).lighting);
}

}  // namespace
}  // namespace tarn::test
