// Encoding pictures into the games' formats, and the round trips through PNG on real pictures.
#include <png.h>

#include "TestSupport.h"
#include "cli/PngWriter.h"
#include "fileio/Strings.h"
#include "maps/MapTextures.h"
#include "pictures/ImageEncode.h"
#include "pictures/Sprites.h"

namespace tarn::test {
namespace {

RgbaImage Solid(int w, int h, Rgb c, std::uint8_t alpha = 255) {
  RgbaImage img;
  img.width = w, img.height = h;
  for (std::size_t i = 0; i < img.PixelCount(); ++i) img.rgba.insert(img.rgba.end(), {c.r, c.g, c.b, alpha});
  return img;
}

Bytes RgbaPng(const RgbaImage& img) {
  png_image p{};
  p.version = PNG_IMAGE_VERSION;
  p.width = static_cast<png_uint_32>(img.width), p.height = static_cast<png_uint_32>(img.height);
  p.format = PNG_FORMAT_RGBA;
  png_alloc_size_t size = 0;
  png_image_write_to_memory(&p, nullptr, &size, 0, img.rgba.data(), 0, nullptr);
  Bytes out(size);
  EXPECT_TRUE(png_image_write_to_memory(&p, out.data(), &size, 0, img.rgba.data(), 0, nullptr));
  out.resize(size);
  return out;
}

std::int32_t I32At(const Bytes& b, std::size_t at) {
  return static_cast<std::int32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16 |
                                   static_cast<std::uint32_t>(b[at + 3]) << 24);
}

// Under auto, a colour that merely equals a glowing one does not glow in a picture not drawn in
// the palette; palette art keeps its glowing pixels; a glow mask makes pixels glow on purpose,
// at every mip level where most of the pixels under a pixel glow.
TEST(ImageEncode, GlowingColoursOnlyWhereMeant) {
  const Palette q = QuakePalette();
  const auto glowing = [](const Bytes& mip, std::size_t from, std::size_t count) {
    int n = 0;
    for (std::size_t i = from; i < from + count; ++i) n += mip[i] >= 224 && mip[i] <= 254;
    return n;
  };
  RgbaImage photo = Solid(16, 16, q.colors[240]);              // a glowing colour, met by chance...
  photo.rgba[0] = 3, photo.rgba[1] = 141, photo.rgba[2] = 59;  // ...in a picture of other colours
  EncodeOptions o;
  o.name = "rose";
  EncodeResult r = EncodeImage(photo, OutputKind::Mip, o);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(glowing(r.bytes, 40, 256), 0);
  const RgbaImage art = Solid(16, 16, q.colors[240]);
  r = EncodeImage(art, OutputKind::Mip, o);
  EXPECT_EQ(glowing(r.bytes, 40, 256), 256);

  o.glow = Solid(16, 16, {0, 0, 0});
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 16; ++x) std::fill_n(&o.glow.rgba[4 * (16 * y + x)], 3, 255);  // the top half
  r = EncodeImage(photo, OutputKind::Mip, o);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(glowing(r.bytes, 40, 128), 128);
  EXPECT_EQ(glowing(r.bytes, 40 + 128, 128), 0);
  EXPECT_EQ(glowing(r.bytes, 40 + 256, 32), 32);  // level 1's top half
  EXPECT_EQ(glowing(r.bytes, 40 + 256 + 32, 32), 0);
  o.glow = Solid(8, 8, {255, 255, 255});
  EXPECT_NE(EncodeImage(photo, OutputKind::Mip, o).error.find("must be the same size"), std::string::npos);
  o.glow = Solid(16, 16, {255, 255, 255});
  EXPECT_FALSE(EncodeImage(photo, OutputKind::Wal, o).ok);  // Quake II has no glowing colours
}

TEST(ImageEncode, LayoutsOfEveryKind) {
  const RgbaImage img = Solid(32, 16, QuakePalette().colors[17]);
  EncodeOptions o;
  o.name = "wall";
  EncodeResult lmp = EncodeImage(img, OutputKind::Lmp, o);
  ASSERT_TRUE(lmp.ok) << lmp.error;
  EXPECT_EQ(lmp.bytes.size(), 8u + 512u);
  EXPECT_EQ(lmp.bytes[8], 17);
  EXPECT_EQ(lmp.wadType, 'B');

  EncodeResult mip = EncodeImage(img, OutputKind::Mip, o);
  ASSERT_TRUE(mip.ok) << mip.error;
  EXPECT_EQ(mip.wadType, 'D');
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(mip.bytes.data())), "wall");
  EXPECT_EQ(I32At(mip.bytes, 16), 32);
  const std::int32_t offsets[4] = {40, 40 + 512, 40 + 512 + 128, 40 + 512 + 128 + 32};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(I32At(mip.bytes, 24 + 4 * i), offsets[i]);
  EXPECT_EQ(mip.bytes.size(), 40u + 512 + 128 + 32 + 8);
  RgbaImage back;
  std::string name;
  ASSERT_TRUE(DecodeMiptex(mip.bytes, back, &name, nullptr));
  EXPECT_EQ(name, "wall");
  EXPECT_EQ(back.rgba, img.rgba);

  o.flags = 9, o.contents = 8, o.value = 700, o.nextFrame = "wall2";
  o.paletteChoice = PaletteChoice::Quake;
  EncodeResult wal = EncodeImage(img, OutputKind::Wal, o);
  ASSERT_TRUE(wal.ok) << wal.error;
  Picture pic;
  std::string next;
  ASSERT_TRUE(DecodeWal(wal.bytes, pic, &next));
  EXPECT_EQ(next, "wall2");
  EXPECT_EQ(I32At(wal.bytes, 88), 9);
  EXPECT_EQ(I32At(wal.bytes, 96), 700);
  EXPECT_EQ(I32At(wal.bytes, 52), 100 + 512 + 128 + 32);

  // A PCX with odd width and long runs reads back as it was written.
  RgbaImage odd = Solid(131, 3, QuakePalette().colors[200]);
  odd.rgba[0] = 1;
  EncodeResult pcx = EncodeImage(odd, OutputKind::Pcx, {});
  ASSERT_TRUE(pcx.ok);
  Picture p;
  Palette pal;
  ASSERT_TRUE(DecodePcx(pcx.bytes, p, pal));
  EXPECT_EQ(pal, pcx.palette);
  EXPECT_EQ(p.pixels, pcx.picture.pixels);
}

TEST(ImageEncode, TextureRulesNameSizeTransparency) {
  EncodeOptions o;
  o.name = "a_name_of_16_chr";
  EXPECT_NE(EncodeImage(Solid(16, 16, {}), OutputKind::Mip, o).error.find("longer than 15"), std::string::npos);
  EXPECT_TRUE(EncodeImage(Solid(16, 16, {}), OutputKind::Wal, o).ok);
  o.name = "x";
  EncodeResult r = EncodeImage(Solid(20, 16, {}), OutputKind::Mip, o);
  EXPECT_NE(r.error.find("20 × 16"), std::string::npos);
  o.resize = true;
  r = EncodeImage(Solid(20, 16, {90, 60, 30}), OutputKind::Mip, o);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.picture.width, 32);

  // Transparent pixels: index 255 in '{' textures, their colour in others, an error if strict.
  RgbaImage holes = Solid(16, 16, QuakePalette().colors[40]);
  holes.rgba[3] = 10;
  o = {};
  o.name = "{fence";
  r = EncodeImage(holes, OutputKind::Mip, o);
  EXPECT_EQ(r.picture.At(0, 0), 255);
  EXPECT_EQ(r.picture.At(1, 0), 40);
  o.name = "plain";
  EXPECT_EQ(EncodeImage(holes, OutputKind::Mip, o).picture.At(0, 0), 40);
  o.strict = true;
  EXPECT_FALSE(EncodeImage(holes, OutputKind::Mip, o).ok);
  o = {};
  o.paletteChoice = PaletteChoice::Optimal;
  EXPECT_FALSE(EncodeImage(holes, OutputKind::Lmp, o).ok);
}

TEST(ImageEncode, MipLevelsAverageTheLevelAbove) {
  // 2 × 2 blocks of black and white: level 1 is their grey average, matched to the palette.
  const Palette q = QuakePalette();
  RgbaImage img = Solid(16, 16, {0, 0, 0});
  for (std::size_t i = 0; i < img.PixelCount(); ++i)
    if ((i % 16 + i / 16) % 2) img.rgba[4 * i] = img.rgba[4 * i + 1] = img.rgba[4 * i + 2] = 255;
  PaletteMatcher m(q, {});
  auto levels = MakeMipLevels(img, false, m, Dither::None);
  EXPECT_EQ(levels[0].width, 8);
  EXPECT_EQ(levels[2].width, 2);
  EXPECT_EQ(levels[0].At(3, 3), m.Nearest(128, 128, 128));
  // A transparent texture: a quarter there stays transparent, half there does not, and the
  // colour under the missing pixels does not bleed in.
  RgbaImage fence = Solid(16, 16, {255, 0, 0}, 0);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x)
      if (x < 8 ? (x % 2 == 0 && y % 2 == 0) : x % 2 == 0) {
        std::uint8_t* p = fence.rgba.data() + 4 * (y * 16 + x);
        p[0] = q.colors[12].r, p[1] = q.colors[12].g, p[2] = q.colors[12].b, p[3] = 255;
      }
  PaletteMatcher t(q, {.transparent = true});
  levels = MakeMipLevels(fence, true, t, Dither::None);
  EXPECT_EQ(levels[0].At(0, 0), 255);
  EXPECT_EQ(levels[0].At(7, 0), 12);
}

TEST(ImageEncode, PalettesFromFilesAndOptimal) {
  Palette p;
  Bytes raw(768);
  for (std::size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<std::uint8_t>(i);
  ASSERT_TRUE(LoadPaletteFile(raw, p, nullptr));
  EXPECT_EQ(p.colors[1], (Rgb{3, 4, 5}));
  EncodeResult pcx = EncodeImage(Solid(4, 4, {1, 2, 3}), OutputKind::Pcx, {});
  ASSERT_TRUE(LoadPaletteFile(pcx.bytes, p, nullptr));
  EXPECT_EQ(p, pcx.palette);
  EXPECT_FALSE(LoadPaletteFile(Bytes(700), p, nullptr));

  // An optimal palette holds the picture's few colours exactly; 255 stays transparent.
  RgbaImage img = Solid(8, 8, {10, 200, 30});
  for (int i = 0; i < 16; ++i) img.rgba[4 * i] = 250, img.rgba[4 * i + 1] = 5;
  img.rgba[4 * 63 + 3] = 0;
  EncodeOptions o;
  o.paletteChoice = PaletteChoice::Optimal;
  EncodeResult r = EncodeImage(img, OutputKind::Pcx, o);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.palette.colors[r.picture.At(0, 0)], (Rgb{250, 5, 30}));
  EXPECT_EQ(r.palette.colors[r.picture.At(0, 7)], (Rgb{10, 200, 30}));
  EXPECT_EQ(r.picture.At(7, 7), 255);
}

TEST(ImageEncode, SpritesReadBack) {
  const Picture a = EncodeImage(Solid(8, 4, QuakePalette().colors[5]), OutputKind::Lmp, {}).picture;
  const Picture b = EncodeImage(Solid(8, 4, QuakePalette().colors[6]), OutputKind::Lmp, {}).picture;
  Bytes spr;
  ASSERT_TRUE(BuildQuakeSprite({a, b}, spr, nullptr));
  PictureSet set;
  ReadQuakeSprite(spr, set);
  ASSERT_EQ(set.pictures.size(), 2u);
  EXPECT_EQ(set.pictures[1].At(7, 3), 6);
  const Picture c = EncodeImage(Solid(4, 4, {}), OutputKind::Lmp, {}).picture;
  std::string why;
  EXPECT_FALSE(BuildQuakeSprite({a, c}, spr, &why));
  EXPECT_NE(why.find("one size"), std::string::npos);
  const Bytes sp2 = BuildQuake2Sprite({a}, {"sprites/x_0.pcx"});
  EXPECT_EQ(sp2.size(), 12u + 80u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(sp2.data() + 12 + 16)), "sprites/x_0.pcx");
}

// Every real picture of the samples: decoded, written as an RGBA PNG and encoded again in its
// own format gives the same colours; through Tarn's own indexed PNG, the same bytes.
struct Real {
  std::string what;
  Bytes bytes;
  std::string name;
};

std::vector<Real> RealPictures() {
  std::vector<Real> out;
  const fs::path dir = SamplesDir();
  for (const char* rel :
       {"LibreQuake/lq1/gfx/qplaque.lmp", "LibreQuake/lq1/gfx/ttl_main.lmp", "LibreQuake/lq1/gfx/conback.lmp",
        "LibreQuake/lq1/gfx/box_tl.lmp", "wal-R/inst/extdata/bricks.wal",
        "TrenchBroom/lib/TbMdlLib/test/fixture/mdl/LoadWalTexture/lavatest.wal",
        "TrenchBroom/lib/TbMdlLib/test/fixture/mdl/LoadWalTexture/rtz/b_pv_v1a1.wal",
        "TrenchBroom/lib/TbMdlLib/test/fixture/mdl/LoadWalTexture/rtz/b_rc_v28.wal", "LibreQuake/lq1/progs/s_light.mdl",
        "LibreQuake/lq1/progs/backpack.mdl", "LibreQuake/lq1/progs/v_rock2.mdl", "LibreQuake/lq1/progs/flame2.mdl"})
    out.push_back({rel, ReadFile(dir / rel), rel});
  // Mip textures from texture WADs and from maps.
  auto lumps = [&](const std::string& rel, const Bytes& wad) {
    const std::uint32_t count = static_cast<std::uint32_t>(I32At(wad, 4)),
                        at = static_cast<std::uint32_t>(I32At(wad, 8));
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::size_t rec = at + 32 * i;
      const std::size_t pos = static_cast<std::size_t>(I32At(wad, rec)),
                        size = static_cast<std::size_t>(I32At(wad, rec + 4));
      if (wad[rec + 12] == 'D' && size > 40)
        out.push_back({rel + ":" + std::to_string(i), Bytes(wad.begin() + pos, wad.begin() + pos + size), "x.mip"});
    }
  };
  for (const char* rel :
       {"TrenchBroom/lib/TbFsLib/test/fixture/fs/Wad/cr8_czg.wad", "ericw-tools/testmaps/q1_wad_mapname.wad"})
    lumps(rel, ReadFile(dir / rel));
  for (const char* rel :
       {"ericw-tools/testmaps/compiled/q1_cube.bsp", "ericw-tools/testmaps/compiled/q1_detail_fence2.bsp"})
    for (const MapTexture& t : ReadMapTextures(ReadFile(dir / rel)).textures)
      out.push_back({std::string(rel) + ":" + t.name, t.bytes, "x.mip"});
  return out;
}

TEST(ImageEncode, RealPicturesRoundTripThroughPng) {
  TARN_REQUIRE_SAMPLES();
  TempDir tmp;
  int checked = 0;
  for (const Real& r : RealPictures()) {
    SCOPED_TRACE(r.what);
    RgbaImage src;
    std::string why;
    ASSERT_TRUE(DecodeImage(r.bytes, r.name, src, &why)) << why;
    const std::string ext = ToLower(fs::path(r.name).extension().string());
    const bool model = ext == ".mdl";
    const OutputKind kind = model ? OutputKind::Pcx : *OutputKindOf(r.name);
    EncodeOptions o;
    if (model) o.paletteChoice = PaletteChoice::Quake;
    std::size_t header = 8;
    if (ext == ".wal") {
      Picture p;
      DecodeWal(r.bytes, p, &o.nextFrame);
      o.name = std::string(reinterpret_cast<const char*>(r.bytes.data()),
                           strnlen(reinterpret_cast<const char*>(r.bytes.data()), 32));
      o.flags = I32At(r.bytes, 88), o.contents = I32At(r.bytes, 92), o.value = I32At(r.bytes, 96);
      header = 100;
    } else if (kind == OutputKind::Mip) {
      DecodeMiptex(r.bytes, src, &o.name, nullptr);
      header = 40;
    }
    // Colours: through an RGBA PNG, which keeps no indices.
    RgbaImage viaRgba;
    ASSERT_TRUE(DecodeImage(RgbaPng(src), "x.png", viaRgba, &why)) << why;
    EXPECT_FALSE(viaRgba.HasIndices());
    EncodeResult e = EncodeImage(viaRgba, kind, o);
    ASSERT_TRUE(e.ok) << e.error;
    RgbaImage look;
    ASSERT_TRUE(PreviewEncoded(viaRgba, kind, o, look, &why));
    for (std::size_t i = 0; i < src.PixelCount(); ++i)
      if (src.rgba[4 * i + 3] == 255 && look.rgba[4 * i + 3] == 255)
        ASSERT_EQ(0, std::memcmp(src.Pixel(i), look.Pixel(i), 3)) << "pixel " << i;
      else ASSERT_EQ(src.rgba[4 * i + 3] < 128, look.rgba[4 * i + 3] < 128) << "pixel " << i;

    // Bytes: through the indexed PNG tarn-pak convert writes.
    Picture indexed;
    BuildPicture(src.width, src.height, src.indices, indexed);
    const fs::path png = tmp / "indexed.png";
    ASSERT_TRUE(cli::WritePng(png.string(), indexed, src.palette, &why)) << why;
    RgbaImage viaIndexed;
    ASSERT_TRUE(DecodeImage(ReadFile(png), "x.png", viaIndexed, &why)) << why;
    e = EncodeImage(viaIndexed, kind, o);
    ASSERT_TRUE(e.ok) << e.error;
    if (model) {
      EXPECT_EQ(Bytes(e.picture.pixels), Bytes(indexed.pixels));
    } else {
      // The whole picture, or the texture's header and full-size level (its smaller levels are
      // made anew).
      const std::size_t n = std::min(r.bytes.size(), header + src.PixelCount());
      ASSERT_GE(e.bytes.size(), n);
      EXPECT_TRUE(std::equal(r.bytes.begin(), r.bytes.begin() + static_cast<std::ptrdiff_t>(n), e.bytes.begin()));
    }
    ++checked;
  }
  EXPECT_GE(checked, 30);
}

}  // namespace
}  // namespace tarn::test
