// Half-Life's pictures in their own colours: WAD3 textures with a palette made for each (judged
// against ImageMagick's quantisation), "{" textures and decals, and Half-Life sprites.
#include <cmath>
#include <functional>

#include "CliSupport.h"
#include "TestSupport.h"
#include "cli/PngWriter.h"
#include "document/TarnDoc.h"
#include "formats/EntryInfo.h"
#include "pictures/EntryPictures.h"
#include "pictures/HalfLife.h"
#include "pictures/ImageEncode.h"

namespace tarn::test {
namespace {

RgbaImage Rgba(int w, int h, const std::function<std::array<std::uint8_t, 4>(int, int)>& at) {
  RgbaImage img;
  StartImage(img, w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const auto c = at(x, y);
      std::memcpy(img.rgba.data() + 4 * (static_cast<std::size_t>(y) * w + x), c.data(), 4);
    }
  return img;
}

// The mean CIEDE2000 difference between a picture and indices shown in a palette.
double MeanDeltaE(const RgbaImage& image, const Picture& picture, const Palette& palette) {
  double sum = 0;
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x) {
      const std::uint8_t* p = image.Pixel(static_cast<std::size_t>(y) * image.width + x);
      const Rgb& c = palette.colors[picture.At(x, y)];
      sum += DeltaE2000(ToLab(p[0], p[1], p[2]), ToLab(c.r, c.g, c.b));
    }
  return sum / static_cast<double>(image.PixelCount());
}

double MeanDeltaE(const RgbaImage& a, const RgbaImage& b) {
  double sum = 0;
  for (std::size_t i = 0; i < a.PixelCount(); ++i) {
    const std::uint8_t *p = a.Pixel(i), *q = b.Pixel(i);
    sum += DeltaE2000(ToLab(p[0], p[1], p[2]), ToLab(q[0], q[1], q[2]));
  }
  return sum / static_cast<double>(a.PixelCount());
}

bool SavePng(const fs::path& path, const RgbaImage& image, std::string* why) {
  Picture p;
  p.width = image.width;
  p.height = image.height;
  p.rgba = image.rgba;
  return cli::WritePng(path.string(), p, Palette{}, why);
}

EncodeOptions HalfLife(const std::string& name) {
  EncodeOptions o;
  o.halfLife = true;
  o.name = name;
  return o;
}

TEST(HalfLifeTextures, EachTextureCarriesItsOwnPalette) {
  // A gradient of the kind Quake's palette made 45 colours of: its 256 colours, kept exactly.
  const RgbaImage gradient = Rgba(64, 64, [](int x, int y) {
    return std::array<std::uint8_t, 4>{std::uint8_t(x / 4 * 16), std::uint8_t(y / 4 * 16), 90, 255};
  });
  EncodeResult r = EncodeImage(gradient, OutputKind::Mip, HalfLife("grad"));
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(MeanDeltaE(gradient, r.picture, r.palette), 0.0);
  // The lump ends with its palette, as a WAD3 holds it, and reads back in its own colours.
  Picture picture;
  Palette palette;
  bool own = false;
  ASSERT_TRUE(DecodeMip(r.bytes, picture, palette, &own));
  EXPECT_TRUE(own);
  EXPECT_EQ(palette, r.palette);
  EXPECT_EQ(r.bytes.size(), 40u + 64 * 64 + 32 * 32 + 16 * 16 + 8 * 8 + 2 + 768 + 2);

  // A "{" texture: index 255 is blue and holds the transparent pixels, the rest its colours.
  const RgbaImage fence = Rgba(16, 16, [](int x, int y) {
    return (x + y) % 3 ? std::array<std::uint8_t, 4>{std::uint8_t(x * 16), 200, std::uint8_t(y * 16), 255}
                       : std::array<std::uint8_t, 4>{0, 0, 0, 0};
  });
  r = EncodeImage(fence, OutputKind::Mip, HalfLife("{fence"));
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.palette.colors[255], (Rgb{0, 0, 255}));
  EXPECT_EQ(r.picture.At(0, 0), 255);
  EXPECT_NE(r.picture.At(1, 0), 255);
  EXPECT_EQ(r.palette.colors[r.picture.At(1, 0)], (Rgb{16, 200, 0}));

  // A decal: a grey ramp, its colour at 255, each pixel's opacity its index.
  EncodeOptions decal = HalfLife("{shot");
  decal.decal = true;
  const RgbaImage shot = Rgba(16, 16, [](int x, int) {
    return std::array<std::uint8_t, 4>{120, 10, 10, std::uint8_t(x * 17)};
  });
  r = EncodeImage(shot, OutputKind::Mip, decal);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.palette.colors[255], (Rgb{120, 10, 10}));
  EXPECT_EQ(r.palette.colors[7], (Rgb{7, 7, 7}));
  EXPECT_EQ(r.picture.At(15, 3), 255);
  EXPECT_EQ(r.picture.At(2, 3), 34);

  // Quake's palette can still be asked for; an optimal palette is refused only where the game
  // would read the file in its own.
  EncodeOptions quake = HalfLife("q");
  quake.paletteChoice = PaletteChoice::Quake;
  r = EncodeImage(gradient, OutputKind::Mip, quake);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.palette, QuakePalette());
  EncodeOptions optimal;
  optimal.name = "o";
  optimal.paletteChoice = PaletteChoice::Optimal;
  EXPECT_FALSE(EncodeImage(gradient, OutputKind::Mip, optimal).ok);
  optimal.halfLife = true;
  EXPECT_TRUE(EncodeImage(gradient, OutputKind::Mip, optimal).ok);
}

TEST(HalfLifeTextures, AddingToAWad3GivesEachItsPalette) {
  TempDir dir;
  const RgbaImage gradient = Rgba(32, 32, [](int x, int y) {
    return std::array<std::uint8_t, 4>{std::uint8_t(x / 2 * 16), std::uint8_t(y / 2 * 16), 30, 255};
  });
  std::string why;
  ASSERT_TRUE(SavePng(dir / "grad.png", gradient, &why)) << why;
  fs::create_directories(dir / "empty");
  ASSERT_EQ(Tool({"create", "--format", "wad3", (dir / "hl.wad").string(), (dir / "empty").string()}).rc, 0);
  Result r = Tool({"add", (dir / "hl.wad").string(), "--as", "mip", (dir / "grad.png").string()});
  ASSERT_EQ(r.rc, 0) << r.err;
  r = Tool({"cat", (dir / "hl.wad").string(), "grad.mip"});
  ASSERT_EQ(r.rc, 0) << r.err;
  Picture picture;
  Palette palette;
  bool own = false;
  ASSERT_TRUE(DecodeMip(ToBytes(r.out), picture, palette, &own));
  EXPECT_TRUE(own);
  EXPECT_EQ(MeanDeltaE(gradient, picture, palette), 0.0);
  // --palette optimal is a WAD3's own choice too.
  EXPECT_EQ(Tool({"add", (dir / "hl.wad").string(), "--as", "mip", "--palette", "optimal", "--name", "g2",
                  (dir / "grad.png").string()})
                .rc,
            0);
  // encode --halflife writes the same lump to a file.
  EXPECT_EQ(Tool({"encode", "--halflife", (dir / "grad.png").string(), (dir / "grad.mip").string()}).rc, 0);
  EXPECT_EQ(ReadFile(dir / "grad.mip"), ToBytes(r.out));
}

TEST(HalfLifeSprites, EncodedSpritesReadBackInEveryFormat) {
  const RgbaImage a = Rgba(32, 16, [](int x, int y) {
    return x < 4 ? std::array<std::uint8_t, 4>{0, 0, 0, 0}
                 : std::array<std::uint8_t, 4>{std::uint8_t(x / 4 * 32), std::uint8_t(y * 16), 50, 255};
  });
  const RgbaImage b = Rgba(16, 16, [](int x, int) {
    return std::array<std::uint8_t, 4>{200, 100, 0, std::uint8_t(x * 17)};
  });
  for (int f = 0; f < 4; ++f) {
    HalfLifeSpriteOptions options;
    options.format = static_cast<hlsprite::TextureFormat>(f);
    options.orientation = static_cast<hlsprite::Orientation>(f);
    std::vector<std::uint8_t> bytes;
    std::string why;
    ASSERT_TRUE(EncodeHalfLifeSprite({a, b}, options, bytes, &why)) << why;
    PictureSet set;
    HalfLifeSpriteInfo info;
    ASSERT_TRUE(ReadHalfLifeSprite(bytes, set, &info, &why)) << why;
    EXPECT_EQ(info.format, options.format);
    EXPECT_EQ(info.orientation, options.orientation);
    EXPECT_EQ(info.width, 32);
    ASSERT_EQ(set.pictures.size(), 2u);
    EXPECT_EQ(set.pictures[1].width, 16);
    EXPECT_TRUE(set.ownPalettes);
    if (options.format == hlsprite::TextureFormat::IndexAlpha) {
      EXPECT_TRUE(set.pictures[1].IsTrueColor());
      EXPECT_EQ(set.pictures[1].rgba[4 * 15 + 3], 255);
      EXPECT_EQ(set.pictures[1].rgba[4 * 0 + 3], 0);
    } else if (options.format == hlsprite::TextureFormat::AlphaTest) {
      EXPECT_TRUE(set.transparent255);
      EXPECT_EQ(set.pictures[0].At(0, 0), 255);
      EXPECT_EQ(set.palettes[0].colors[set.pictures[0].At(10, 5)], (Rgb{64, 80, 50}));
    }
  }
  // info and convert take them as any sprite; a Quake sprite is still read as Quake's.
  HalfLifeSpriteOptions options;
  std::vector<std::uint8_t> bytes;
  ASSERT_TRUE(EncodeHalfLifeSprite({a}, options, bytes, nullptr));
  const EntryPictures pictures = DecodeEntryBytes("sprites/fire.spr", bytes);
  ASSERT_TRUE(pictures.ok()) << pictures.message;
  EXPECT_EQ(DescribePictures(pictures.set)[2].second, "32x16");
  std::vector<std::uint8_t> cut(bytes.begin(), bytes.begin() + 40 + 2 + 100);
  EXPECT_FALSE(DecodeEntryBytes("s.spr", cut).ok());
  TempDir dir;
  std::string why;
  ASSERT_TRUE(SavePng(dir / "a.png", a, &why)) << why;
  ASSERT_EQ(Tool({"encode", "--sprite-format", "additive", (dir / "a.png").string(), (dir / "a.png").string(),
                  (dir / "s.spr").string()})
                .rc,
            0);
  PictureSet set;
  HalfLifeSpriteInfo info;
  ASSERT_TRUE(ReadHalfLifeSprite(ReadFile(dir / "s.spr"), set, &info, &why)) << why;
  EXPECT_EQ(info.format, hlsprite::TextureFormat::Additive);
  EXPECT_EQ(info.frames, 2);
  EXPECT_EQ(Tool({"encode", "--sprite-format", "glow", (dir / "a.png").string(), (dir / "s.spr").string()}).rc, 2);
}

bool HaveImageMagick() { return std::system("command -v convert >/dev/null 2>&1") == 0; }

// The judge: twenty pictures (a photograph, illustrations, noise, pixel art, gradients, one of
// 256 colours) encoded as Half-Life textures, and quantised by ImageMagick's -colors 256 (with
// its default dithering, and without); the mean CIEDE2000 difference from the picture of each.
TEST(HalfLifeTextures, OwnPalettesAreNoWorseThanImageMagick) {
  if (!HaveImageMagick()) GTEST_SKIP() << "ImageMagick is not installed";
  TempDir dir;
  const std::vector<std::pair<std::string, std::string>> sources = {
      {"rose", "rose: -resize 128x96!"},
      {"rose-small", "rose: -resize 64x48!"},
      {"wizard", "wizard: -resize 128x160!"},
      {"logo", "logo: -resize 160x128!"},
      {"granite", "granite: -resize 128x128!"},
      {"netscape", "netscape: -resize 128x128!"},
      {"plasma1", "-seed 1 -size 128x128 plasma:fractal"},
      {"plasma2", "-seed 2 -size 128x128 plasma:red-blue"},
      {"plasma3", "-seed 3 -size 64x64 plasma:green-yellow"},
      {"gradient", "-size 128x128 gradient:navy-orange"},
      {"radial", "-size 128x128 radial-gradient:white-purple"},
      {"barycentric", "-size 128x64 xc: -sparse-color Barycentric 0,0,red,127,0,lime,64,63,blue"},
      {"hald", "hald:4"},
      {"pixelart1", "rose: -scale 25% -scale 400% -resize 64x48! -colors 12"},
      {"pixelart2", "wizard: -colors 16 -resize 64x80!"},
      {"bricks", "pattern:bricks -resize 64x64!"},
      {"checker", "pattern:checkerboard -resize 64x64!"},
      {"hex", "pattern:hexagons -resize 64x64! -fill orange -opaque black"},
      {"noise", "-seed 4 -size 64x64 xc: +noise Random"},
      {"colors256", "-seed 5 -size 128x128 plasma:fractal +dither -colors 256"},
  };
  double tarnSum = 0, imSum = 0, imPlainSum = 0;
  std::string table = "picture        Tarn   IM -colors 256   IM +dither -colors 256\n";
  for (const auto& [name, how] : sources) {
    const std::string png = (dir / (name + ".png")).string();
    ASSERT_EQ(Shell(dir.path(), "convert " + how + " -alpha off -type TrueColor PNG24:" + png), 0) << name;
    ASSERT_EQ(Shell(dir.path(), "convert " + png + " -colors 256 PNG24:" + name + "-im.png"), 0);
    ASSERT_EQ(Shell(dir.path(), "convert " + png + " +dither -colors 256 PNG24:" + name + "-im2.png"), 0);
    RgbaImage image, im, im2;
    std::string why;
    ASSERT_TRUE(DecodeImage(ReadFile(png), png, image, &why)) << why;
    ASSERT_TRUE(DecodeImage(ReadFile(dir / (name + "-im.png")), "x.png", im, &why)) << why;
    ASSERT_TRUE(DecodeImage(ReadFile(dir / (name + "-im2.png")), "x.png", im2, &why)) << why;
    image.indices.clear();  // compared as colours, whatever the PNG held
    EncodeOptions options = HalfLife("t");
    options.resize = false;
    const EncodeResult r = EncodeImage(image, OutputKind::Mip, options);
    ASSERT_TRUE(r.ok) << name << ": " << r.error;
    const double tarn = MeanDeltaE(image, r.picture, r.palette);
    const double imDither = MeanDeltaE(image, im), imPlain = MeanDeltaE(image, im2);
    if (name == "colors256") EXPECT_EQ(tarn, 0.0);  // exact for a picture of 256 colours
    tarnSum += tarn, imSum += imDither, imPlainSum += imPlain;
    char line[128];
    std::snprintf(line, sizeof line, "%-12s %6.3f %10.3f %18.3f\n", name.c_str(), tarn, imDither, imPlain);
    table += line;
  }
  const double n = static_cast<double>(sources.size());
  char line[128];
  std::snprintf(line, sizeof line, "%-12s %6.3f %10.3f %18.3f\n", "mean", tarnSum / n, imSum / n, imPlainSum / n);
  table += line;
  std::printf("%s", table.c_str());
  RecordProperty("tarn_mean_de2000", std::to_string(tarnSum / n));
  RecordProperty("imagemagick_mean_de2000", std::to_string(imSum / n));
  EXPECT_LE(tarnSum, imSum);
  EXPECT_LE(tarnSum, imPlainSum);
}

}  // namespace
}  // namespace tarn::test
