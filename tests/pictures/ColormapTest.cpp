// Colour maps made from palettes, judged against the ones the games shipped; art moved between
// palettes with its glowing colours kept glowing.
#include "CliSupport.h"
#include "TestSupport.h"
#include "pictures/Colormap.h"
#include "pictures/EntryPictures.h"
#include "pictures/ImageEncode.h"

namespace tarn::test {
namespace {

Palette PaletteOf(const Bytes& bytes) {
  Palette p;
  std::string why;
  EXPECT_TRUE(LoadPaletteFile(bytes, p, &why)) << why;
  return p;
}

// LibreQuake's colormap.lmp is its palette's, entry for entry; Quake II's colormap.pcx (its light
// levels and its translucency table) is the Quake II palette's.
TEST(Colormap, TheShippedColormapsAreMadeByteForByte) {
  const fs::path lq = SamplesDir() / "LibreQuake/lq1/gfx";
  const fs::path q2 = SamplesDir() / "TrenchBroom/lib/TbMdlLib/test/fixture/mdl/Palette/colormap.pcx";
  if (!fs::exists(lq / "colormap.lmp") || !fs::exists(q2)) GTEST_SKIP() << "no samples";
  const Bytes shipped = ReadFile(lq / "colormap.lmp");
  const Bytes made = MakeQuakeColormap(PaletteOf(ReadFile(lq / "palette.lmp")));
  ASSERT_EQ(made.size(), shipped.size());
  std::size_t differ = 0;
  for (std::size_t i = 0; i < made.size(); ++i) differ += made[i] != shipped[i];
  EXPECT_EQ(differ, 0u);

  Picture picture, made2;
  Palette palette;
  ASSERT_TRUE(DecodePcx(ReadFile(q2), picture, palette));
  made2 = MakeQuake2Colormap(palette);
  ASSERT_EQ(made2.width, 256);
  ASSERT_EQ(made2.height, 320);
  differ = 0;
  for (int y = 0; y < 320; ++y)
    for (int x = 0; x < 256; ++x) differ += made2.At(x, y) != picture.At(x, y);
  EXPECT_EQ(differ, 0u);
}

TEST(Colormap, RowsDarkenAndFullbrightsStay) {
  const Palette quake = QuakePalette();
  const Bytes map = MakeQuakeColormap(quake, 32);
  ASSERT_EQ(map.size(), 16384u);
  // Row 31 is the palette itself; row 63 is (nearly) black; the last 32 never change.
  for (int c = 0; c < 224; ++c) EXPECT_EQ(quake.colors[map[31 * 256 + c]], quake.colors[c]) << c;
  EXPECT_EQ(map[63 * 256 + 15], 0);
  for (int l = 0; l < 64; ++l)
    for (int c = 224; c < 256; ++c) EXPECT_EQ(map[l * 256 + c], c);
  // With no fullbrights every colour darkens, and none becomes the transparent 255.
  const Bytes none = MakeQuakeColormap(quake, 0);
  EXPECT_NE(none[40 * 256 + 250], 250);
  for (std::uint8_t v : none) EXPECT_NE(v, 255);

  Picture view;
  EXPECT_TRUE(DecodeQuakeColormap(map, view));
  EXPECT_EQ(view.width, 256);
  EXPECT_EQ(view.height, 64);
  EXPECT_FALSE(DecodeQuakeColormap(Bytes(768), view));
  // The picture viewer shows it, and a palette.lmp as its 16 x 16 colours.
  EXPECT_TRUE(DecodeEntryBytes("gfx/colormap.lmp", map).ok());
  Bytes pal(768);
  for (int i = 0; i < 256; ++i) pal[3 * i] = static_cast<std::uint8_t>(i);
  const EntryPictures grid = DecodeEntryBytes("gfx/palette.lmp", pal);
  ASSERT_TRUE(grid.ok());
  EXPECT_EQ(grid.set.pictures[0].At(8 * 5 + 1, 8 * 2 + 1), 2 * 16 + 5);
}

// Two palettes that differ by their order: every colour finds itself again, glowing ones among
// the glowing.
TEST(Colormap, RemappingKeepsFullbrightsFullbright) {
  const Palette from = QuakePalette();
  Palette to = from;
  std::swap(to.colors[10], to.colors[20]);
  std::swap(to.colors[230], to.colors[240]);
  const auto table = RemapTable(from, to, 32);
  EXPECT_EQ(table[10], 20);
  EXPECT_EQ(table[230], 240);
  EXPECT_EQ(table[255], 255);
  // A glowing colour with a twin among the ordinary ones stays among the glowing.
  Palette twin = from;
  twin.colors[100] = from.colors[250];
  const auto kept = RemapTable(from, twin, 32);
  EXPECT_GE(kept[250], 224);

  Bytes lmp;
  PutU32(lmp, 0, 2);
  PutU32(lmp, 4, 2);
  lmp.insert(lmp.end(), {10, 230, 255, 5});
  Bytes out;
  EXPECT_EQ(RemapArt("gfx/x.lmp", lmp, table, out), RemapOutcome::Changed);
  EXPECT_EQ(Bytes(out.begin() + 8, out.end()), (Bytes{20, 240, 255, 5}));
  EXPECT_EQ(RemapArt("gfx/palette.lmp", Bytes(768, 1), table, out), RemapOutcome::NotArt);
  EXPECT_EQ(RemapArt("sound/a.wav", lmp, table, out), RemapOutcome::NotArt);
  Bytes cut = lmp;
  PutU32(cut, 0, 9);
  EXPECT_EQ(RemapArt("x.lmp", cut, table, out), RemapOutcome::NotArt);
  Bytes mip(40 + 16 * 16 + 8 * 8 + 4 * 4 + 2 * 2, 10);
  PutU32(mip, 16, 16);
  PutU32(mip, 20, 16);
  for (std::uint32_t level = 0, at = 40, side = 16; level < 4; ++level, at += side * side, side /= 2)
    PutU32(mip, 24 + 4 * level, at);
  EXPECT_EQ(RemapArt("wall.mip", mip, table, out), RemapOutcome::Changed);
  EXPECT_EQ(out.back(), 20);
  PutU32(mip, 36, 9999);
  EXPECT_EQ(RemapArt("wall.mip", mip, table, out), RemapOutcome::Damaged);
}

TEST(Colormap, CommandsMakeMapsAndRemapArchives) {
  TempDir dir;
  Result r = Tool({"palette", "colormap", "quake", (dir / "colormap.lmp").string()});
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(ReadFile(dir / "colormap.lmp"), MakeQuakeColormap(QuakePalette()));
  r = Tool({"palette", "colormap", "quake2", (dir / "colormap.pcx").string(), "--fullbrights", "1"});
  ASSERT_EQ(r.rc, 0) << r.err;
  Picture picture;
  Palette palette;
  ASSERT_TRUE(DecodePcx(ReadFile(dir / "colormap.pcx"), picture, palette));
  EXPECT_EQ(picture.height, 320);
  EXPECT_EQ(Tool({"palette", "colormap", "quake", (dir / "x.bmp").string()}).rc, 2);
  EXPECT_EQ(Tool({"palette", "colormap", "quake", "x.lmp", "--fullbrights", "300"}).rc, 2);
  EXPECT_EQ(Tool({"palette", "colormap", (dir / "missing.pal").string(), "x.lmp"}).rc, 1);

  // Quake's art into a palette whose colours 10 and 20 changed places.
  Palette to = QuakePalette();
  std::swap(to.colors[10], to.colors[20]);
  Bytes toBytes;
  for (const Rgb& c : to.colors) toBytes.insert(toBytes.end(), {c.r, c.g, c.b});
  WriteFile(dir / "to.lmp", toBytes);
  Bytes lmp;
  PutU32(lmp, 0, 1);
  PutU32(lmp, 4, 1);
  lmp.push_back(10);
  WriteFile(dir / "mod/gfx/pic.lmp", lmp);
  WriteFile(dir / "mod/sound/a.wav", "not art");
  ASSERT_EQ(Tool({"create", (dir / "mod.pak").string(), (dir / "mod").string()}).rc, 0);
  r = Tool({"palette", "remap", "quake", (dir / "to.lmp").string(), (dir / "mod.pak").string()});
  ASSERT_EQ(r.rc, 0) << r.err;
  r = Tool({"cat", (dir / "mod.pak").string(), "gfx/pic.lmp"});
  ASSERT_EQ(r.out.size(), 9u);
  EXPECT_EQ(static_cast<std::uint8_t>(r.out[8]), 20);
  // The folder itself, in place.
  r = Tool({"palette", "remap", "quake", (dir / "to.lmp").string(), (dir / "mod").string(), "gfx"});
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(ReadFile(dir / "mod/gfx/pic.lmp").back(), 20);
  EXPECT_EQ(Tool({"palette", "remap", "quake", "quake2"}).rc, 2);
  EXPECT_EQ(Tool({"palette", "remap", "quake", "quake2", (dir / "mod.pak").string(), "no/such"}).rc, 1);
}

}  // namespace
}  // namespace tarn::test
