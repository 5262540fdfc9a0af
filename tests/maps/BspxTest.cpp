#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "BspBuilder.h"
#include "CliSupport.h"
#include "TestSupport.h"
#include "formats/EntryInfo.h"
#include "maps/Bspx.h"
#include "maps/MapInfo.h"
#include "maps/MapMesh.h"

namespace tarn::test {
namespace {

// The map with a BSPX table after its last lump, as ericw-tools writes one: the header, the
// records, then each lump padded to 4 bytes.
Bytes WithBspx(Bytes map, const std::vector<std::pair<std::string, Bytes>>& lumps) {
  map.resize((map.size() + 3) & ~std::size_t{3}, 0);
  const std::size_t table = map.size();
  map.insert(map.end(), {'B', 'S', 'P', 'X', 0, 0, 0, 0});
  PutU32(map, table + 4, static_cast<std::uint32_t>(lumps.size()));
  map.resize(map.size() + 32 * lumps.size(), 0);
  for (std::size_t i = 0; i < lumps.size(); ++i) {
    const std::size_t record = table + 8 + 32 * i, at = map.size();
    std::memcpy(map.data() + record, lumps[i].first.data(), lumps[i].first.size());
    PutU32(map, record + 24, static_cast<std::uint32_t>(at));
    PutU32(map, record + 28, static_cast<std::uint32_t>(lumps[i].second.size()));
    map.insert(map.end(), lumps[i].second.begin(), lumps[i].second.end());
    map.resize((map.size() + 3) & ~std::size_t{3}, 0);
  }
  return map;
}

BspxTable Table(const Bytes& map) {
  BspHeader h;
  EXPECT_TRUE(ReadBspHeader(map, h, nullptr));
  return ReadBspxTable(map, h);
}

std::uint32_t PackE5bgr9(int r, int g, int b, int exponent) {
  return (static_cast<std::uint32_t>(exponent + 24) << 27) | (static_cast<std::uint32_t>(b) << 18) |
         (static_cast<std::uint32_t>(g) << 9) | static_cast<std::uint32_t>(r);
}

// A table that lies is read as far as it is true; the map's faces never read outside the file.
TEST(Bspx, TablesThatLieAreReadAsFarAsTheyAreTrue) {
  const Bytes plain = LitTiles(BspFormat::Quake).Build();
  EXPECT_FALSE(Table(plain).present);
  const Bytes good = WithBspx(plain, {{"BRUSHLIST", Bytes(10, 1)}, {"FACENORMALS", Bytes(6, 2)}});
  BspxTable t = Table(good);
  ASSERT_TRUE(t.present);
  ASSERT_EQ(t.lumps.size(), 2u);
  EXPECT_EQ(t.lumps[0].name, "BRUSHLIST");
  EXPECT_EQ(t.lumps[1].length, 6);
  EXPECT_TRUE(t.problems.empty());

  const std::size_t table = (plain.size() + 3) & ~std::size_t{3};
  auto damaged = [&](auto change) {
    Bytes b = good;
    change(b);
    BspMap map;
    EXPECT_TRUE(LoadBsp(b, map, nullptr));  // the map itself still reads
    return Table(b);
  };
  // An offset past the end, a length past it, a name without its NUL, two lumps over each other,
  // one over the table and one over the map's own lumps: each left out, the rest kept.
  t = damaged([&](Bytes& b) { PutU32(b, table + 8 + 24, 0x7FFFFFF0); });
  EXPECT_EQ(t.lumps.size(), 1u);
  EXPECT_NE(t.problems.at(0).find("past the end of the file"), std::string::npos) << t.problems[0];
  t = damaged([&](Bytes& b) { PutU32(b, table + 8 + 28, static_cast<std::uint32_t>(b.size())); });
  EXPECT_EQ(t.lumps.size(), 1u);
  t = damaged([&](Bytes& b) { std::memset(b.data() + table + 8, 'A', 24); });
  ASSERT_EQ(t.lumps.size(), 1u);
  EXPECT_NE(t.problems.at(0).find("without its NUL"), std::string::npos);
  t = damaged([&](Bytes& b) { std::memcpy(b.data() + table + 8 + 32 + 24, b.data() + table + 8 + 24, 4); });
  EXPECT_EQ(t.lumps.size(), 1u);
  EXPECT_NE(t.problems.at(0).find("overlaps BSPX lump \"BRUSHLIST\""), std::string::npos) << t.problems[0];
  t = damaged([&](Bytes& b) { PutU32(b, table + 8 + 24, static_cast<std::uint32_t>(table)); });
  EXPECT_NE(t.problems.at(0).find("overlaps the BSPX table"), std::string::npos);
  t = damaged([&](Bytes& b) { PutU32(b, table + 8 + 24, 40); });
  EXPECT_NE(t.problems.at(0).find("the map's own lumps"), std::string::npos);
  // Ten thousand records, or more than the file holds: none is read.
  t = damaged([&](Bytes& b) { PutU32(b, table + 4, 10000); });
  EXPECT_TRUE(t.lumps.empty());
  EXPECT_NE(t.problems.at(0).find("10000 lumps"), std::string::npos);
  t = damaged([&](Bytes& b) { PutU32(b, table + 4, 900); });
  EXPECT_TRUE(t.lumps.empty());
  EXPECT_NE(t.problems.at(0).find("runs past the end"), std::string::npos);
  // A table cut short where its records should be.
  Bytes cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(table + 20));
  EXPECT_TRUE(Table(cut).lumps.empty());
}

// Inserting, replacing and removing keep every byte of the map before the table and every other
// lump whole; removing the last lump removes the table.
TEST(Bspx, EditingKeepsEveryOtherByte) {
  const Bytes plain = LitTiles(BspFormat::Quake).Build();
  const Bytes one = WithBspx(plain, {{"BRUSHLIST", Bytes{1, 2, 3, 4, 5}}});
  Bytes out;
  std::string why;
  const Bytes data = {9, 8, 7};
  ASSERT_TRUE(EditBspxLump(plain, "RGBLIGHTING", &data, out, &why)) << why;
  EXPECT_TRUE(std::equal(plain.begin(), plain.end(), out.begin()));
  BspxTable t = Table(out);
  ASSERT_EQ(t.lumps.size(), 1u);
  EXPECT_EQ(Bytes(out.begin() + t.lumps[0].offset, out.begin() + t.lumps[0].offset + 3), data);

  ASSERT_TRUE(EditBspxLump(one, "RGBLIGHTING", &data, out, &why)) << why;
  EXPECT_EQ(out, WithBspx(plain, {{"BRUSHLIST", Bytes{1, 2, 3, 4, 5}}, {"RGBLIGHTING", data}}));
  const Bytes two = out;
  const Bytes longer(11, 6);
  ASSERT_TRUE(EditBspxLump(two, "BRUSHLIST", &longer, out, &why));
  EXPECT_EQ(out, WithBspx(plain, {{"BRUSHLIST", longer}, {"RGBLIGHTING", data}}));
  ASSERT_TRUE(EditBspxLump(two, "BRUSHLIST", nullptr, out, &why));
  EXPECT_EQ(out, WithBspx(plain, {{"RGBLIGHTING", data}}));
  ASSERT_TRUE(EditBspxLump(one, "BRUSHLIST", nullptr, out, &why));
  EXPECT_EQ(out, plain);

  EXPECT_FALSE(EditBspxLump(one, "NOSUCH", nullptr, out, &why));
  EXPECT_FALSE(EditBspxLump(one, std::string(24, 'N'), &data, out, &why));
  EXPECT_NE(why.find("1 to 23 bytes"), std::string::npos);
  Bytes trailing = plain;
  trailing.insert(trailing.end(), {'j', 'u', 'n', 'k'});
  EXPECT_FALSE(EditBspxLump(trailing, "RGBLIGHTING", &data, out, &why));
  EXPECT_NE(why.find("no BSPX table follow"), std::string::npos) << why;
  Bytes lying = one;
  PutU32(lying, plain.size() + 8 + 24, 0x7FFFFFF0);
  EXPECT_FALSE(EditBspxLump(lying, "RGBLIGHTING", &data, out, &why));
  EXPECT_NE(why.find("damaged"), std::string::npos);
}

// The best light present: BSPX HDR, then BSPX colour, then a .lit (1 or HDR), then the map's
// own; light that does not match the map's is not used, and says so.
TEST(Bspx, TheBestLightPresentLightsTheFaces) {
  BspBuilder b = LitTiles(BspFormat::Quake);  // two faces of 5 × 5 luxels at 0 and 25, 50 bytes of 200
  const Bytes plain = b.Build();
  Bytes rgb(150);
  for (std::size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<std::uint8_t>(i % 3 == 0 ? 250 : 10);
  BspMap map;
  ASSERT_TRUE(LoadBsp(WithBspx(plain, {{"RGBLIGHTING", rgb}}), map, nullptr));
  EXPECT_EQ(map.lightSource, "BSPX RGBLIGHTING");
  EXPECT_EQ(map.lightBytes, 3);
  EXPECT_EQ(map.faces[1].lightOffset, 75);
  Bytes lit = ToBytes("QLIT");
  PutU32(lit, 4, 1);
  lit.resize(8 + 150, 3);
  EXPECT_FALSE(ApplyLit(map, lit, nullptr));  // the BSPX light wins

  Bytes hdr;
  for (int i = 0; i < 50; ++i) {
    hdr.resize(hdr.size() + 4);
    PutU32(hdr, hdr.size() - 4, PackE5bgr9(256, 128, 511, -9));  // 0.5, 0.25, ~1.0 of 128... times 2^-9
  }
  ASSERT_TRUE(LoadBsp(WithBspx(plain, {{"RGBLIGHTING", rgb}, {"LIGHTING_E5BGR9", hdr}}), map, nullptr));
  EXPECT_EQ(map.lightSource, "BSPX LIGHTING_E5BGR9");
  ASSERT_EQ(map.lighting.size(), 150u);
  // 256 × 2^-9 = 0.5 → 64; 128 → 32; 511 → 127.75 → 128.
  EXPECT_EQ(Bytes(map.lighting.begin(), map.lighting.begin() + 3), (Bytes{64, 32, 128}));

  // HDR light of the wrong number of samples is refused; the colour after it is taken.
  ASSERT_TRUE(LoadBsp(WithBspx(plain, {{"RGBLIGHTING", rgb}, {"LIGHTING_E5BGR9", Bytes(4 * 49, 0)}}), map, nullptr));
  EXPECT_EQ(map.lightSource, "BSPX RGBLIGHTING");
  ASSERT_FALSE(map.problems.empty());
  EXPECT_NE(map.problems[0].find("holds 49 samples where the lighting lump holds 50"), std::string::npos)
      << map.problems[0];

  // A .lit of the right size in either version; of the wrong size it is refused, the map grey.
  ASSERT_TRUE(LoadBsp(plain, map, nullptr));
  Bytes hdrLit = ToBytes("QLIT");
  PutU32(hdrLit, 4, 0x10001);
  hdrLit.insert(hdrLit.end(), hdr.begin(), hdr.end());
  std::string why;
  ASSERT_TRUE(ApplyLit(map, hdrLit, &why)) << why;
  EXPECT_EQ(map.lightSource, ".lit (HDR)");
  EXPECT_EQ(map.faces[1].lightOffset, 75);
  ASSERT_TRUE(LoadBsp(plain, map, nullptr));
  hdrLit.pop_back();
  EXPECT_FALSE(ApplyLit(map, hdrLit, &why));
  EXPECT_EQ(map.lightBytes, 1);
  EXPECT_NE(why.find("needs 208"), std::string::npos) << why;
}

// LMSHIFT, LMOFFSET, LMSTYLE and DECOUPLED_LM place each face's lightmap; lumps that do not hold
// one entry a face are not used, and lightmaps they send past the light leave the face unlit.
TEST(Bspx, PerFaceLumpsPlaceTheLightmaps) {
  BspBuilder b(BspFormat::Quake);
  b.miptex = {BspMiptex("floor", 16, 16, 5)};
  b.lighting = Bytes(200, 100);
  b.Tile(0, 0, 0, 0).Tile(64, 0, 0, 25);  // 64 units: 5 × 5 luxels of 16
  const Bytes plain = b.Build();
  BspMap map;
  // Shift 3: 8 texels a luxel, 9 × 9; offsets moved by LMOFFSET.
  Bytes offsets(8);
  PutU32(offsets, 0, 100);
  PutU32(offsets, 4, 0);
  ASSERT_TRUE(LoadBsp(WithBspx(plain, {{"LMSHIFT", Bytes{3, 4}}, {"LMOFFSET", offsets}}), map, nullptr));
  EXPECT_EQ(map.faces[0].lightWidth, 9);
  EXPECT_EQ(map.faces[0].luxel, 8);
  EXPECT_EQ(map.faces[0].lightOffset, 100);
  EXPECT_EQ(map.faces[1].lightWidth, 5);
  EXPECT_EQ(map.faces[1].lightOffset, 0);
  EXPECT_FLOAT_EQ(map.vertices[map.faces[0].first + 2].u, 8.5f);  // the far corner: 64 / 8 + ½
  EXPECT_EQ(map.bspxLighting, (std::vector<std::string>{"LMSHIFT", "LMOFFSET"}));
  // A face count that does not match, a shift past 8, an offset past the light.
  ASSERT_TRUE(LoadBsp(WithBspx(plain, {{"LMSHIFT", Bytes{3}}}), map, nullptr));
  EXPECT_EQ(map.faces[0].lightWidth, 5);
  EXPECT_NE(map.problems.at(0).find("does not match the map's 2 faces"), std::string::npos);
  ASSERT_TRUE(LoadBsp(WithBspx(plain, {{"LMSHIFT", Bytes{9, 4}}}), map, nullptr));
  EXPECT_EQ(map.faces[0].lightOffset, -1);
  PutU32(offsets, 0, 190);
  ASSERT_TRUE(LoadBsp(WithBspx(plain, {{"LMOFFSET", offsets}}), map, nullptr));
  EXPECT_EQ(map.faces[0].lightOffset, -1);
  EXPECT_NE(map.problems.at(0).find("past the lighting"), std::string::npos);
  // LMSTYLE: no style for the first face (dark, as the engines draw it), the second lit.
  ASSERT_TRUE(LoadBsp(WithBspx(plain, {{"LMSTYLE", Bytes{255, 255, 0, 255}}}), map, nullptr));
  EXPECT_EQ(map.faces[0].lightOffset, -1);
  EXPECT_TRUE(map.faces[0].dark);
  EXPECT_EQ(map.faces[1].StyleCount(), 1);

  // DECOUPLED_LM: each face's own size, offset and axes (a luxel every 32 units along x and y).
  Bytes decoupled(80, 0);
  for (int face = 0; face < 2; ++face) {
    const std::size_t at = 40 * static_cast<std::size_t>(face);
    decoupled[at] = 3, decoupled[at + 2] = 3;
    PutU32(decoupled, at + 4, face ? 9 : 0);
    const float axes[8] = {1 / 32.f, 0, 0, face ? -2.f : 0.f, 0, 1 / 32.f, 0, 0};
    for (int k = 0; k < 8; ++k) std::memcpy(decoupled.data() + at + 8 + 4 * k, &axes[k], 4);
  }
  ASSERT_TRUE(LoadBsp(WithBspx(plain, {{"DECOUPLED_LM", decoupled}}), map, nullptr));
  EXPECT_EQ(map.faces[1].lightWidth, 3);
  EXPECT_EQ(map.faces[1].lightOffset, 9);
  EXPECT_EQ(map.faces[1].luxel, 0);
  EXPECT_FLOAT_EQ(map.vertices[map.faces[1].first].u, 0.5f);  // x 64 → 2 - 2, the first luxel's centre
  float nan = std::nanf("");
  std::memcpy(decoupled.data() + 8, &nan, 4);
  ASSERT_TRUE(LoadBsp(WithBspx(plain, {{"DECOUPLED_LM", decoupled}}), map, nullptr));
  EXPECT_EQ(map.faces[0].lightOffset, -1);
}

TEST(Bspx, RealMapsListTheirLumpsAndUseTheirLight) {
  TARN_REQUIRE_SAMPLES();
  const Bytes bytes = ReadFile(SamplesDir() / "qbsp/assets/example-bsp29.bsp");
  MapFacts facts;
  std::string why;
  ASSERT_TRUE(ReadMapFacts(bytes, nullptr, facts, &why)) << why;
  EXPECT_EQ(facts.lighting, 217776);
  EXPECT_EQ(facts.lightSource, "BSPX RGBLIGHTING");
  const InfoLines lines = DescribeMap(facts);
  auto has = [&](const std::string& key, const std::string& value) {
    return std::find(lines.begin(), lines.end(), std::pair{key, value}) != lines.end();
  };
  EXPECT_TRUE(has("lightmap", "yes, 217776 bytes of coloured light (BSPX RGBLIGHTING)"));
  EXPECT_TRUE(has("bspx DECOUPLED_LM", "20880 bytes"));
  EXPECT_TRUE(has("bspx BRUSHLIST", "5240 bytes"));
  BspMap map;
  ASSERT_TRUE(LoadBsp(bytes, map, &why));
  EXPECT_TRUE(map.problems.empty());
  std::size_t lit = 0;
  for (const BspFace& f : map.faces) lit += f.lightOffset >= 0;
  EXPECT_GT(lit, map.faces.size() / 2);
  // The extended Quake II layout reads as IBSP does.
  ASSERT_TRUE(LoadBsp(ReadFile(SamplesDir() / "bevy_trenchbroom/assets/maps/example.bsp"), map, &why)) << why;
  EXPECT_EQ(map.header.format, BspFormat::Quake2Qbism);
  EXPECT_EQ(map.faces.size(), 522u);
  EXPECT_TRUE(map.problems.empty());
  EXPECT_GT(BuildMapMesh(map, {}).drawnFaces, 400u);
}

// tarn-pak bspx lists, extracts, inserts and removes, and the archive keeps the rest.
TEST(Bspx, TheCommandEditsTheTable) {
  TempDir dir;
  const Bytes map = WithBspx(LitTiles(BspFormat::Quake).Build(), {{"BRUSHLIST", Bytes{1, 2, 3}}});
  WriteFile(dir / "p.pak", PakBuilder().File("maps/a.bsp", map).File("readme.txt", "hi").Build());
  const std::string pak = (dir / "p.pak").string();
  Result r = Tool({"bspx", pak, "maps/a.bsp", "--list"});
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(r.out, "BRUSHLIST\t3\n");
  WriteFile(dir / "light.bin", Bytes(150, 7));
  r = Tool({"bspx", pak, "maps/a.bsp", "--insert", "RGBLIGHTING", (dir / "light.bin").string()});
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(Tool({"bspx", pak, "maps/a.bsp", "--list"}).out, "BRUSHLIST\t3\nRGBLIGHTING\t150\n");
  EXPECT_NE(Tool({"info", pak, "maps/a.bsp"}).out.find("lightmap: yes, 150 bytes of coloured light (BSPX RGBLIGHTING)"),
            std::string::npos);
  r = Tool({"bspx", pak, "maps/a.bsp", "--extract", "RGBLIGHTING", (dir / "out.bin").string()});
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(ReadFile(dir / "out.bin"), Bytes(150, 7));
  ASSERT_EQ(Tool({"bspx", pak, "maps/a.bsp", "--remove", "RGBLIGHTING"}).rc, 0);
  EXPECT_EQ(Tool({"cat", pak, "maps/a.bsp"}).out, std::string(map.begin(), map.end()));
  EXPECT_EQ(Tool({"cat", pak, "readme.txt"}).out, "hi");
  r = Tool({"bspx", pak, "maps/a.bsp", "--remove", "NOPE"});
  EXPECT_EQ(r.rc, 1);
  EXPECT_NE(r.err.find("no BSPX lump \"NOPE\"; nothing changed"), std::string::npos) << r.err;
  EXPECT_EQ(Tool({"bspx", pak, "maps/a.bsp"}).rc, 2);
  EXPECT_EQ(Tool({"bspx", pak, "maps/a.bsp", "--extract", "X"}).rc, 2);
}

}  // namespace
}  // namespace tarn::test
