#include <algorithm>

#include "BspBuilder.h"
#include "TestSupport.h"
#include "fileio/ByteIO.h"
#include "maps/MapTextures.h"

namespace tarn::test {
namespace {

Bytes Miptex(const std::string& name, std::uint32_t w, std::uint32_t h, std::uint8_t fill, bool headerOnly = false) {
  return BspMiptex(name, w, h, fill, headerOnly);
}

// A map whose texture lump holds the given miptex blobs (an empty blob is a -1 entry).
Bytes Map(const std::vector<Bytes>& textures, const char* magic = nullptr) {
  Bytes lump;
  PutU32(lump, 0, static_cast<std::uint32_t>(textures.size()));
  lump.resize(4 + 4 * textures.size());
  for (std::size_t i = 0; i < textures.size(); ++i) {
    if (textures[i].empty()) {
      PutU32(lump, 4 + 4 * i, 0xFFFFFFFF);
      continue;
    }
    PutU32(lump, 4 + 4 * i, static_cast<std::uint32_t>(lump.size()));
    lump.insert(lump.end(), textures[i].begin(), textures[i].end());
  }
  Bytes map(124, 0);
  if (magic) std::memcpy(map.data(), magic, 4);
  else PutU32(map, 0, 29);
  PutU32(map, 4 + 2 * 8, 124);
  PutU32(map, 4 + 2 * 8 + 4, static_cast<std::uint32_t>(lump.size()));
  map.insert(map.end(), lump.begin(), lump.end());
  return map;
}

std::vector<std::string> Names(const MapTextures& m) {
  std::vector<std::string> n;
  for (const auto& t : m.textures) n.push_back(t.name);
  return n;
}

TEST(MapTextures, EmbeddedTexturesComeOutAsStored) {
  const Bytes brick = Miptex("brick", 16, 16, 7);
  MapTextures m = ReadMapTextures(Map({brick, {}, Miptex("ext", 32, 32, 0, true), Miptex("sky4", 32, 16, 9)}));
  EXPECT_EQ(m.kind, MapTextures::Kind::Quake);
  EXPECT_EQ(Names(m), (std::vector<std::string>{"brick", "sky4"}));
  EXPECT_EQ(m.textures[0].bytes, brick);
  EXPECT_EQ(m.textures[1].bytes.size(), 40u + 32 * 16 * 85 / 64);
  EXPECT_EQ(m.skipped, 2);
  EXPECT_TRUE(m.problems.empty());
  for (const char* magic : {"BSP2", "2PSB"}) {
    MapTextures ext = ReadMapTextures(Map({brick}, magic));
    EXPECT_EQ(Names(ext), std::vector<std::string>{"brick"}) << magic;
  }
}

TEST(MapTextures, OtherGamesAndDamageAreReportedNotRead) {
  EXPECT_EQ(ReadMapTextures(Bytes{'I', 'B', 'S', 'P', 38, 0, 0, 0}).kind, MapTextures::Kind::Quake2);
  // Half-Life's textures are read with the palette after their levels; one without is damaged.
  Bytes hl = Map({BspMiptex("a", 16, 16, 1, false, true), Miptex("b", 16, 16, 1)});
  PutU32(hl, 0, 30);
  MapTextures h = ReadMapTextures(hl);
  EXPECT_EQ(h.kind, MapTextures::Kind::HalfLife);
  ASSERT_EQ(h.textures.size(), 1u);
  EXPECT_EQ(h.textures[0].bytes.size(), 40u + 256 + 64 + 16 + 4 + 2 + 768);
  ASSERT_EQ(h.problems.size(), 1u);
  EXPECT_NE(h.problems[0].find("palette"), std::string::npos);

  Bytes outside = Map({Miptex("a", 16, 16, 1)});
  PutU32(outside, 4 + 16 + 4, 0x7FFFFFF0);  // lump length
  EXPECT_FALSE(ReadMapTextures(outside).problems.empty());

  // One sound texture beside a damaged one: the sound one is extracted.
  Bytes lying = Miptex("liar", 16, 16, 1);
  PutU32(lying, 16, 4096);  // claims far more pixels than follow
  Bytes unnamed = Miptex("", 16, 16, 1);
  std::memset(unnamed.data(), 'x', 16);  // no NUL in the name
  Bytes overlapping = Miptex("over", 16, 16, 1);
  PutU32(overlapping, 24, 8);  // the first mip level inside the header
  MapTextures d = ReadMapTextures(Map({Miptex("good", 16, 16, 2), lying, unnamed, overlapping}));
  EXPECT_EQ(Names(d), std::vector<std::string>{"good"});
  EXPECT_EQ(d.problems.size(), 3u);

  // A thousand entries naming the same bytes never take more memory than the lump itself.
  Bytes same = Map({Miptex("one", 16, 16, 1)});
  const std::uint32_t firstAt = static_cast<std::uint32_t>(same[128] | (same[129] << 8));
  Bytes entries;
  PutU32(entries, 0, 1000);
  for (int i = 0; i < 1000; ++i) PutU32(entries, 4 + 4 * i, firstAt + 3996);
  Bytes many(same.begin(), same.begin() + 124);
  many.insert(many.end(), entries.begin(), entries.end());
  many.insert(many.end(), same.begin() + 124 + 8, same.end());
  PutU32(many, 24, static_cast<std::uint32_t>(many.size() - 124));
  MapTextures m = ReadMapTextures(many);
  std::size_t extracted = 0;
  for (const auto& t : m.textures) extracted += t.bytes.size();
  EXPECT_LE(extracted, many.size() - 124);
  EXPECT_EQ(m.textures.size() + m.problems.size(), 1000u);

  Bytes count = Map({Miptex("a", 16, 16, 1)});
  PutU32(count, 124, 1000000);
  MapTextures c = ReadMapTextures(count);
  EXPECT_FALSE(c.problems.empty());
  EXPECT_TRUE(ReadMapTextures(Bytes(5, 0)).textures.empty());
}

TEST(Wad2, DuplicatesAcrossMapsAreWrittenOnceAndReadBack) {
  std::vector<WadLump> lumps;
  EXPECT_EQ(AddMapTextures(ReadMapTextures(Map({Miptex("Water", 16, 16, 1), Miptex("a", 16, 16, 2)})), lumps), 2);
  EXPECT_EQ(AddMapTextures(ReadMapTextures(Map({Miptex("water", 16, 16, 9), Miptex("b", 16, 16, 3)})), lumps), 1);
  const Bytes wad = BuildWad2(lumps);
  ASSERT_EQ(std::string(wad.begin(), wad.begin() + 4), "WAD2");
  ByteReader r(wad);
  r.Seek(4);
  ASSERT_EQ(r.U32(), 3u);
  const std::uint32_t dir = r.U32();
  EXPECT_EQ(dir, 12u + 3 * (40 + 256 * 85 / 64));
  EXPECT_EQ(wad.size(), dir + 3 * 32);
  r.Seek(dir);
  std::uint32_t expectedAt = 12;
  for (const char* name : {"Water", "a", "b"}) {
    const std::uint32_t at = r.U32(), disk = r.U32(), size = r.U32();
    EXPECT_EQ(at, expectedAt);
    EXPECT_EQ(disk, size);
    EXPECT_EQ(r.U8(), 'D');
    EXPECT_EQ(r.U8(), 0);
    r.Skip(2);
    EXPECT_EQ(r.FixedString(16), name);
    EXPECT_EQ(wad[at + 40], std::string(name) == "Water" ? 1 : std::string(name) == "a" ? 2 : 3);
    expectedAt += disk;
  }

  TempDir t;
  std::string why;
  ASSERT_TRUE(WriteWad2File(t / "out.wad", lumps, &why)) << why;
  EXPECT_EQ(ReadFile(t / "out.wad"), wad);
  EXPECT_FALSE(WriteWad2File(t / "missing" / "out.wad", lumps, &why));
  EXPECT_EQ(why,
            "Unable to open file " + (t / "missing" / "out.wad").string() + " for output: No such file or directory");
  for (const auto& e : fs::directory_iterator(t.path())) EXPECT_EQ(e.path().filename(), "out.wad");
}

TEST(MapTextures, RealMaps) {
  TARN_REQUIRE_SAMPLES();
  struct Case {
    const char* path;
    std::vector<std::string> names;
    int skipped;
    bool problem;
  };
  for (const Case& c :
       {Case{"ericw-tools/testmaps/compiled/q1_cube.bsp", {"skip", "orangestuff8"}, 0, false},
        Case{"ericw-tools/testmaps/compiled/q1_detail_fence2.bsp", {"orangestuff8", "{trigger", "skip"}, 0, false},
        Case{"qbsp/assets/example-bsp29.bsp", {}, 4, false},
        Case{"TrenchBroom/lib/TbMdlLib/test/fixture/mdl/Game/Quake/id1/cube.bsp", {}, 1, false},
        Case{"TrenchBroom/lib/TbMdlLib/test/fixture/mdl/LoadBspModel/hl.bsp", {"skip", "embedded"}, 1, false},
        Case{"TrenchBroom/lib/TbMdlLib/test/fixture/mdl/LoadBspModel/invalid_version.bsp", {}, 0, true},
        Case{"qbsp/assets/example-quake2.bsp", {}, 0, true}}) {
    const Bytes map = ReadFile(SamplesDir() / c.path);
    MapTextures m = ReadMapTextures(map);
    EXPECT_EQ(Names(m), c.names) << c.path;
    EXPECT_EQ(m.skipped, c.skipped) << c.path;
    EXPECT_EQ(!m.problems.empty(), c.problem) << c.path;
    for (const auto& t : m.textures) {
      // Each lump is the map's own bytes: 64 × 64 textures of header and four mip levels, Half-Life's
      // 32 × 32 with their palette.
      EXPECT_EQ(t.bytes.size(),
                m.kind == MapTextures::Kind::HalfLife ? 40u + 32 * 32 * 85 / 64 + 2 + 768 : 40u + 64 * 64 * 85 / 64)
          << t.name;
      EXPECT_NE(std::search(map.begin(), map.end(), t.bytes.begin(), t.bytes.end()), map.end()) << t.name;
    }
  }
}

MapTextureFinder FinderOf(const std::vector<WadLump>& lumps, ContainerFormat version = ContainerFormat::Wad2) {
  MapTextureFinder finder;
  std::string why;
  EXPECT_TRUE(WadTextureFinder(BuildWad(version, lumps), finder, &why)) << why;
  return finder;
}

// Textures replaced by name (any case) from a WAD: the others and every other byte kept, the
// lumps after the texture lump moved; what an engine would refuse stays as it was.
TEST(MapTextures, ReplacedByNameEverythingElseKept) {
  BspBuilder b(BspFormat::Quake);
  b.miptex = {Miptex("brick", 16, 16, 7), Miptex("floor", 16, 16, 8)};
  b.lighting = Bytes(50, 100);
  b.Tile(0, 0, 0, 0).Tile(64, 0, 1, 25);
  const Bytes map = b.Build();
  Bytes out;
  MapTextureReport report;
  std::string why;
  const Bytes bigger = Miptex("BRICK", 32, 32, 3);
  ASSERT_TRUE(
      ReplaceMapTextures(map, FinderOf({{"BRICK", bigger}, {"odd", Miptex("odd", 16, 16, 1)}}), out, report, &why))
      << why;
  EXPECT_EQ(report.replaced, std::vector<std::string>{"brick"});
  EXPECT_EQ(report.notFound, std::vector<std::string>{"floor"});
  ASSERT_EQ(report.notes.size(), 1u);
  EXPECT_NE(report.notes[0].find("now 32x32, was 16x16"), std::string::npos);
  MapTextures after = ReadMapTextures(out);
  ASSERT_EQ(Names(after), (std::vector<std::string>{"brick", "floor"}));
  EXPECT_EQ(Bytes(after.textures[0].bytes.begin() + 16, after.textures[0].bytes.end()),
            Bytes(bigger.begin() + 16, bigger.end()));
  EXPECT_EQ(after.textures[1].bytes, b.miptex[1]);
  BspMap before, now;
  ASSERT_TRUE(LoadBsp(map, before, nullptr));
  ASSERT_TRUE(LoadBsp(out, now, nullptr));
  EXPECT_EQ(now.lighting, before.lighting);
  EXPECT_EQ(now.entities, before.entities);
  EXPECT_EQ(now.faces.size(), before.faces.size());

  // Sides that are not multiples of 16, damaged levels: refused, the map unchanged.
  report = {};
  Bytes damaged = Miptex("floor", 16, 16, 1);
  PutU32(damaged, 24, 4);
  ASSERT_TRUE(ReplaceMapTextures(map, FinderOf({{"brick", Miptex("brick", 24, 16, 1)}, {"floor", damaged}}), out,
                                 report, &why));
  EXPECT_EQ(report.refused.size(), 2u);
  EXPECT_NE(report.refused[0].find("multiples of 16"), std::string::npos) << report.refused[0];
  EXPECT_EQ(out, map);
  // Textures that share their bytes cannot be replaced one at a time.
  Bytes shared = Map({Miptex("a", 16, 16, 1), Miptex("b", 16, 16, 2)});
  PutU32(shared, 124 + 8, 12);
  EXPECT_FALSE(ReplaceMapTextures(shared, FinderOf({{"a", Miptex("a", 16, 16, 5)}}), out, report, &why));
  EXPECT_NE(why.find("share bytes"), std::string::npos) << why;
  EXPECT_TRUE(out.empty());
}

// Every sample map's textures, extracted to a WAD as `tarn-pak wad` does and put back, give the
// map byte for byte; a Half-Life map's external texture embedded and left to its WAD again too.
TEST(MapTextures, ExtractedAndPutBackGivesTheSameMap) {
  TARN_REQUIRE_SAMPLES();
  int maps = 0;
  for (const auto& entry : fs::recursive_directory_iterator(SamplesDir())) {
    if (entry.path().extension() != ".bsp") continue;
    const Bytes map = ReadFile(entry.path());
    const MapTextures textures = ReadMapTextures(map);
    if (textures.textures.empty()) continue;
    std::vector<WadLump> lumps;
    AddMapTextures(textures, lumps);
    const bool hl = textures.kind == MapTextures::Kind::HalfLife;
    Bytes out;
    MapTextureReport report;
    std::string why;
    ASSERT_TRUE(
        ReplaceMapTextures(map, FinderOf(lumps, hl ? ContainerFormat::Wad3 : ContainerFormat::Wad2), out, report, &why))
        << entry.path() << ": " << why;
    EXPECT_TRUE(out == map) << entry.path();
    EXPECT_TRUE(report.replaced.empty()) << entry.path();
    EXPECT_EQ(report.same.size(), lumps.size()) << entry.path();
    ++maps;
  }
  EXPECT_GE(maps, 5);

  const fs::path dir = SamplesDir() / "TrenchBroom/lib/TbMdlLib/test/fixture/mdl/LoadBspModel";
  const Bytes hl = ReadFile(dir / "hl.bsp");
  MapTextureFinder external;
  std::string why;
  ASSERT_TRUE(WadTextureFinder(ReadFile(dir / "external/external.wad"), external, &why));
  Bytes embedded, back;
  MapTextureReport report;
  ASSERT_TRUE(EmbedMapTextures(hl, true, external, embedded, report, &why)) << why;
  EXPECT_EQ(report.replaced, std::vector<std::string>{"EXTERNAL"});
  EXPECT_EQ(ReadMapTextures(embedded).textures.size(), 3u);
  BspMap map;
  ASSERT_TRUE(LoadBsp(embedded, map, &why)) << why;
  EXPECT_TRUE(map.textures[2].embedded);
  ASSERT_TRUE(EmbedMapTextures(embedded, false, external, back, report, &why)) << why;
  EXPECT_TRUE(back == hl);
  EXPECT_FALSE(EmbedMapTextures(ReadFile(SamplesDir() / "ericw-tools/testmaps/compiled/q1_cube.bsp"), true, external,
                                back, report, &why));
  EXPECT_NE(why.find("not a Half-Life map"), std::string::npos);
}

}  // namespace
}  // namespace tarn::test
