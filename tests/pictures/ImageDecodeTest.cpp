// Decoding any picture to RGBA: each codec, the game formats, and hostile files.
#include <turbojpeg.h>
#include <zlib.h>

#include "TestSupport.h"
#include "cli/PngWriter.h"
#include "pictures/ImageDecode.h"

namespace tarn::test {
namespace {

bool Decode(const Bytes& b, const std::string& name, RgbaImage& img, std::string* why = nullptr) {
  return DecodeImage(b, name, img, why);
}

void Put16(Bytes& b, std::size_t at, int v) {
  b[at] = static_cast<std::uint8_t>(v), b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

// An uncompressed 24-bit TGA or BMP of w × h pixels, pixel i = (i, 2i, 3i).
Bytes Tga(int w, int h) {
  Bytes b(18, 0);
  b[2] = 2, b[16] = 24, b[17] = 0x20;  // true colour, top row first
  Put16(b, 12, w), Put16(b, 14, h);
  for (int i = 0; i < w * h; ++i) b.insert(b.end(), {std::uint8_t(3 * i), std::uint8_t(2 * i), std::uint8_t(i)});
  return b;
}

Bytes Bmp(int w, int h) {
  const int row = (w * 3 + 3) & ~3;
  Bytes b(54, 0);
  b[0] = 'B', b[1] = 'M';
  PutU32(b, 2, static_cast<std::uint32_t>(54 + row * h));
  PutU32(b, 10, 54), PutU32(b, 14, 40), PutU32(b, 18, static_cast<std::uint32_t>(w));
  PutU32(b, 22, static_cast<std::uint32_t>(-h));  // top row first
  Put16(b, 26, 1), Put16(b, 28, 24);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const int i = y * w + x;
      b.insert(b.end(), {std::uint8_t(3 * i), std::uint8_t(2 * i), std::uint8_t(i)});
    }
    b.resize(b.size() + static_cast<std::size_t>(row - w * 3), 0);
  }
  return b;
}

// A PNG's first bytes with the header chunk claiming w × h.
Bytes PngHeader(std::uint32_t w, std::uint32_t h) {
  Bytes b = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
  for (std::uint32_t v : {w, h})
    b.insert(b.end(), {std::uint8_t(v >> 24), std::uint8_t(v >> 16), std::uint8_t(v >> 8), std::uint8_t(v)});
  b.insert(b.end(), {8, 6, 0, 0, 0});
  const std::uint32_t crc = static_cast<std::uint32_t>(crc32(0, b.data() + 12, 17));
  b.insert(b.end(), {std::uint8_t(crc >> 24), std::uint8_t(crc >> 16), std::uint8_t(crc >> 8), std::uint8_t(crc)});
  return b;
}

TEST(ImageDecode, EachCodecGivesRgba) {
  RgbaImage img;
  for (const auto& [bytes, name] : {std::pair{Tga(5, 3), "a.tga"}, std::pair{Bmp(5, 3), "a.bmp"}}) {
    std::string why;
    ASSERT_TRUE(Decode(bytes, name, img, &why)) << name << ": " << why;
    EXPECT_EQ(img.width, 5);
    EXPECT_EQ(img.height, 3);
    EXPECT_EQ(Bytes(img.rgba.begin() + 4 * 7, img.rgba.begin() + 4 * 8), (Bytes{7, 14, 21, 255})) << name;
    EXPECT_FALSE(img.HasIndices());
  }

  // JPEG: a flat grey survives lossy coding within a step or two.
  tjhandle tj = tjInitCompress();
  Bytes grey(16 * 8 * 3, 128);
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  ASSERT_EQ(tjCompress2(tj, grey.data(), 16, 0, 8, TJPF_RGB, &jpeg, &size, TJSAMP_444, 95, 0), 0);
  const Bytes jpg(jpeg, jpeg + size);
  tjFree(jpeg);
  tjDestroy(tj);
  ASSERT_TRUE(Decode(jpg, "photo.jpg", img));
  EXPECT_EQ(img.width, 16);
  EXPECT_NEAR(img.rgba[4 * 50], 128, 2);
  EXPECT_FALSE(Decode(Bytes(jpg.begin(), jpg.begin() + static_cast<std::ptrdiff_t>(jpg.size() / 2)), "cut.jpg", img));

  // An indexed PNG keeps its palette and indices.
  TempDir dir;
  Palette pal;
  LoadPalette(kQuake2PaletteId, pal);
  Picture pic;
  BuildPicture(3, 2, Bytes{0, 7, 255, 224, 3, 9}, pic);
  std::string why;
  ASSERT_TRUE(cli::WritePng((dir / "i.png").string(), pic, pal, &why));
  ASSERT_TRUE(Decode(ReadFile(dir / "i.png"), "i.png", img, &why)) << why;
  EXPECT_EQ(img.indices, (Bytes{0, 7, 255, 224, 3, 9}));
  EXPECT_EQ(img.paletteSize, 256);
  EXPECT_EQ(img.palette, pal);
  EXPECT_EQ(img.rgba[4 * 2], pal.colors[255].r);
}

TEST(ImageDecode, GameFormatsMarkTheirTransparentIndex) {
  RgbaImage img;
  Bytes lmp = {2, 0, 0, 0, 1, 0, 0, 0, 255, 4};
  ASSERT_TRUE(Decode(lmp, "gfx/x.lmp", img));
  EXPECT_EQ(img.rgba[3], 0);
  EXPECT_EQ(img.rgba[7], 255);
  lmp.pop_back();
  EXPECT_FALSE(Decode(lmp, "x.lmp", img));

  Bytes mip(40 + 16 * 16 + 8 * 8 + 4 * 4 + 2 * 2, 255);
  std::memset(mip.data(), 0, 40);
  std::memcpy(mip.data(), "{fence", 6);
  PutU32(mip, 16, 16), PutU32(mip, 20, 16), PutU32(mip, 24, 40);
  ASSERT_TRUE(Decode(mip, "x.mip", img));
  EXPECT_EQ(img.rgba[3], 0);
  mip[0] = 'f';
  ASSERT_TRUE(Decode(mip, "x.mip", img));
  EXPECT_EQ(img.rgba[3], 255);
  PutU32(mip, 24, 0);  // a header without pixels, as some maps hold
  EXPECT_FALSE(Decode(mip, "x.mip", img));
}

TEST(ImageDecode, HostileFilesGiveOneLineReasons) {
  RgbaImage img;
  std::string why;
  auto refused = [&](const Bytes& b, const std::string& name) {
    why.clear();
    const bool ok = Decode(b, name, img, &why);
    EXPECT_FALSE(ok) << name;
    EXPECT_FALSE(why.empty()) << name;
    EXPECT_EQ(why.find('\n'), std::string::npos) << why;
    EXPECT_TRUE(img.rgba.empty()) << name;
  };
  refused({}, "empty.png");
  refused(ToBytes("just some text, not a picture at all"), "notes.txt");
  refused(ToBytes("just some text"), "notes.png");
  refused(PngHeader(60000, 60000), "huge.png");
  EXPECT_NE(why.find("60000 × 60000"), std::string::npos) << why;
  refused(PngHeader(8193, 1), "wide.png");
  Bytes cut = PngHeader(64, 64);
  cut.insert(cut.end(), {0, 0, 0, 20, 'I', 'D', 'A', 'T', 0x78, 0x9c});
  refused(cut, "cut.png");
  Bytes tga = Tga(4, 4);
  Put16(tga, 12, 30000);
  refused(tga, "wide.tga");
  Bytes bmp = Bmp(4, 4);
  PutU32(bmp, 18, 100000);
  refused(bmp, "wide.bmp");
  const Bytes whole = Bmp(8, 8);
  refused(Bytes(whole.begin(), whole.begin() + 60), "cut.bmp");
  const Bytes smallTga = Tga(4, 4);
  refused(Bytes(smallTga.begin(), smallTga.begin() + 30), "cut.tga");
  Bytes pcx(128 + 769, 0);
  pcx[0] = 0x0A, pcx[3] = 8;
  Put16(pcx, 8, 20000), Put16(pcx, 10, 20000);
  refused(pcx, "big.pcx");
  Bytes lmp = {0, 0, 1, 0, 0, 0, 1, 0};  // 65536 × 65536
  refused(lmp, "x.lmp");
}

// An OS/2 BMP (12-byte header, three-byte palette entries) of 4 × 1 pixels, 8 bits each, with
// a palette of the given colours only.
Bytes Os2Bmp(const std::vector<Rgb>& palette, const std::vector<std::uint8_t>& indices) {
  Bytes b(26, 0);
  b[0] = 'B', b[1] = 'M';
  PutU32(b, 14, 12);
  Put16(b, 18, 4), Put16(b, 20, 1), Put16(b, 22, 1), Put16(b, 24, 8);
  for (const Rgb& c : palette) b.insert(b.end(), {c.b, c.g, c.r});
  PutU32(b, 10, static_cast<std::uint32_t>(b.size()));
  b.insert(b.end(), indices.begin(), indices.end());
  PutU32(b, 2, static_cast<std::uint32_t>(b.size()));
  return b;
}

TEST(ImageDecode, PaletteIndicesPastThePaletteAreRefusedNotRead) {
  RgbaImage img;
  std::string why;
  const std::vector<Rgb> two = {{10, 20, 30}, {200, 100, 50}};
  ASSERT_TRUE(Decode(Os2Bmp(two, {0, 1, 1, 0}), "short.bmp", img, &why)) << why;
  EXPECT_EQ(img.rgba, (Bytes{10, 20, 30, 255, 200, 100, 50, 255, 200, 100, 50, 255, 10, 20, 30, 255}));
  EXPECT_FALSE(Decode(Os2Bmp(two, {0, 1, 7, 0}), "bad.bmp", img, &why));
  EXPECT_NE(why.find("colour 7 is past its palette of 2"), std::string::npos) << why;
}

TEST(ImageDecode, TgaColourMapsFromAnyFirstIndexAndEveryOrigin) {
  // Colour-mapped, the map starting at index 39, two pixels wide, stored right to left.
  Bytes b(18, 0);
  b[1] = 1, b[2] = 1, b[7] = 24, b[16] = 8, b[17] = 0x30;  // right to left, top first
  Put16(b, 3, 39), Put16(b, 5, 2), Put16(b, 12, 2), Put16(b, 14, 1);
  b.insert(b.end(), {3, 2, 1, 6, 5, 4});  // entries 39 and 40, blue first
  b.insert(b.end(), {39, 40});
  RgbaImage img;
  std::string why;
  ASSERT_TRUE(Decode(b, "map.tga", img, &why)) << why;
  EXPECT_EQ(img.rgba, (Bytes{4, 5, 6, 255, 1, 2, 3, 255}));
  b.back() = 41;  // past the map
  EXPECT_FALSE(Decode(b, "map.tga", img, &why));
}

}  // namespace
}  // namespace tarn::test
