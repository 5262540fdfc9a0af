#include "TestSupport.h"
#include "document/TarnDoc.h"
#include "fileio/Strings.h"
#include "pictures/EntryPictures.h"
#include "pictures/Sprites.h"

namespace tarn::test {
namespace {

// A PCX file: 128-byte header, the coded pixels, the 0x0C marker and a 768-byte palette whose
// entry i is (i, 255 - i, i / 2).
Bytes Pcx(int width, int height, const Bytes& coded, int bytesPerLine = -1) {
  Bytes b(128, 0);
  b[0] = 10;
  b[1] = 5;
  b[2] = 1;
  b[3] = 8;
  b[8] = static_cast<std::uint8_t>(width - 1);
  b[9] = static_cast<std::uint8_t>((width - 1) >> 8);
  b[10] = static_cast<std::uint8_t>(height - 1);
  b[11] = static_cast<std::uint8_t>((height - 1) >> 8);
  b[65] = 1;
  const int bpl = bytesPerLine < 0 ? width : bytesPerLine;
  b[66] = static_cast<std::uint8_t>(bpl);
  b[67] = static_cast<std::uint8_t>(bpl >> 8);
  b.insert(b.end(), coded.begin(), coded.end());
  b.push_back(0x0C);
  for (int i = 0; i < 256; ++i) {
    b.push_back(static_cast<std::uint8_t>(i));
    b.push_back(static_cast<std::uint8_t>(255 - i));
    b.push_back(static_cast<std::uint8_t>(i / 2));
  }
  return b;
}

std::vector<Bytes> Rows(const Picture& p) {
  std::vector<Bytes> rows;
  for (int y = 0; y < p.height; ++y) rows.emplace_back(p.Row(y), p.Row(y) + p.width);
  return rows;
}

Bytes Lmp(std::int32_t w, std::int32_t h, std::size_t pixels) {
  Bytes b;
  PutU32(b, 0, static_cast<std::uint32_t>(w));
  PutU32(b, 4, static_cast<std::uint32_t>(h));
  for (std::size_t i = 0; i < pixels; ++i) b.push_back(static_cast<std::uint8_t>(i));
  return b;
}

Bytes Wal(int w, int h, std::uint8_t fill, const std::string& next) {
  Bytes b(100, 0);
  PutU32(b, 32, static_cast<std::uint32_t>(w));
  PutU32(b, 36, static_cast<std::uint32_t>(h));
  PutU32(b, 40, 100);
  std::memcpy(&b[56], next.data(), std::min<std::size_t>(next.size(), 31));
  b.insert(b.end(), static_cast<std::size_t>(w * h), fill);
  return b;
}

void SpritePicture(Bytes& b, int w, int h, std::uint8_t fill) {
  std::size_t at = b.size();
  PutU32(b, at, 0);
  PutU32(b, at + 4, 0);
  PutU32(b, at + 8, static_cast<std::uint32_t>(w));
  PutU32(b, at + 12, static_cast<std::uint32_t>(h));
  b.insert(b.end(), static_cast<std::size_t>(w * h), fill);
}

Bytes Mdl(int w, int h, std::int32_t skinType) {
  Bytes b(84, 0);
  std::memcpy(b.data(), "IDPO", 4);
  PutU32(b, 4, 6);
  PutU32(b, 48, 1);
  PutU32(b, 52, static_cast<std::uint32_t>(w));
  PutU32(b, 56, static_cast<std::uint32_t>(h));
  PutU32(b, 84, static_cast<std::uint32_t>(skinType));
  for (int i = 0; i < w * h; ++i) b.push_back(static_cast<std::uint8_t>(i % 251));
  return b;
}

// An archive opened from entries given as path and bytes.
struct Archive {
  TempDir dir;
  CTarnDoc doc;
  explicit Archive(const std::vector<std::pair<std::string, Bytes>>& files) {
    PakBuilder b;
    for (const auto& [p, bytes] : files) b.File(p, bytes);
    WriteFile(dir / "a.pak", b.Build());
    EXPECT_TRUE(doc.Open(dir / "a.pak"));
  }
  EntryPictures View(const std::string& path, bool skin = false) {
    CPackObject* e = doc.Root().FindByPath(path);
    EXPECT_NE(e, nullptr) << path;
    return LoadEntryPictures(*e, skin);
  }
};

TEST(Palettes, CarriedPalettesMatchTheRawTables) {
  Palette quake, quake2;
  ASSERT_TRUE(LoadPalette(kQuakePaletteId, quake));
  ASSERT_TRUE(LoadPalette(kQuake2PaletteId, quake2));
  EXPECT_FALSE(LoadPalette(139, quake));
  EXPECT_EQ(quake.colors[0], (Rgb{0, 0, 0}));
  EXPECT_EQ(quake.colors[1], (Rgb{15, 15, 15}));
  int differing = 0;
  for (int i = 0; i < 256; ++i) differing += quake.colors[i] == quake2.colors[i] ? 0 : 1;
  EXPECT_EQ(differing, 239);
  const fs::path raw = SamplesDir().parent_path() / "palettes" / "quake2.lmp";
  if (!fs::exists(raw)) GTEST_SKIP() << "raw palettes absent";
  Bytes table = ReadFile(raw);
  for (int i = 0; i < 256; ++i)
    EXPECT_EQ(quake2.colors[i], (Rgb{table[3 * i], table[3 * i + 1], table[3 * i + 2]})) << i;
}

TEST(Pcx, RunsCountsAndPadding) {
  Picture p;
  Palette pal;
  ASSERT_TRUE(DecodePcx(Pcx(3, 2, {0xC3, 0x05, 0xC3, 0x07}), p, pal));
  EXPECT_EQ(Rows(p), (std::vector<Bytes>{{5, 5, 5}, {7, 7, 7}}));
  EXPECT_EQ(p.pixels.size(), 8u);  // rows padded to four bytes
  EXPECT_EQ(p.pixels[3], 0);
  EXPECT_EQ(pal.colors[10], (Rgb{10, 245, 5}));

  // A count of 0 writes nothing; a run is cut at the end of the picture.
  ASSERT_TRUE(DecodePcx(Pcx(2, 2, {0xC0, 0x09, 0x01, 0xC9, 0x02}), p, pal));
  EXPECT_EQ(Rows(p), (std::vector<Bytes>{{1, 2}, {2, 2}}));
  // Data ending early leave the rest black; the palette is never read as pixels.
  ASSERT_TRUE(DecodePcx(Pcx(2, 2, {0x03}), p, pal));
  EXPECT_EQ(Rows(p), (std::vector<Bytes>{{3, 0}, {0, 0}}));
}

TEST(Pcx, OddWidthsWithEvenScanLinesStayStraight) {
  Picture p;
  Palette pal;
  ASSERT_TRUE(DecodePcx(Pcx(3, 2, {0xC3, 0x05, 0x00, 0xC3, 0x07, 0x00}, 4), p, pal));
  EXPECT_EQ(Rows(p), (std::vector<Bytes>{{5, 5, 5}, {7, 7, 7}}));
}

// A 24-bit PCX: three planes of 8 bits, each row its red, green and blue lines, no palette.
Bytes Pcx24(int width, int height, const Bytes& coded, int bytesPerLine) {
  Bytes b = Pcx(width, height, coded, bytesPerLine);
  b.resize(b.size() - 769);
  b[65] = 3;
  return b;
}

TEST(Pcx, TwentyFourBitPicturesComeOutTrueColour) {
  Picture p;
  Palette pal;
  pal.colors[1] = {9, 9, 9};
  // 3 × 2, lines padded to 4 bytes: row 0 red 10 20 30, green 40 ..., blue as a run of 7s.
  const Bytes coded = {10, 20, 30, 0, 40, 50, 60, 0, 0xC4, 7, 1, 2, 3, 0, 4, 5, 6, 0, 0xC3, 8, 0};
  ASSERT_TRUE(DecodePcx(Pcx24(3, 2, coded, 4), p, pal));
  ASSERT_TRUE(p.IsTrueColor());
  EXPECT_TRUE(p.pixels.empty());
  EXPECT_EQ(p.rgba, (Bytes{10, 40, 7, 255, 20, 50, 7, 255, 30, 60, 7, 255,  //
                           1,  4,  8, 255, 2,  5,  8, 255, 3,  6,  8, 255}));
  EXPECT_EQ(pal.colors[1], (Rgb{9, 9, 9}));  // no palette to read
  std::string why;
  EXPECT_FALSE(DecodePcx(Pcx24(3, 2, coded, 2), p, pal, &why));  // lines shorter than the width

  // The kinds not handled say so instead of decoding stripes.
  for (auto [bits, planes] : {std::pair{1, 1}, {2, 1}, {4, 1}, {1, 4}, {8, 4}}) {
    Bytes other = Pcx(3, 2, coded);
    other[3] = static_cast<std::uint8_t>(bits);
    other[65] = static_cast<std::uint8_t>(planes);
    EXPECT_FALSE(DecodePcx(other, p, pal, &why));
    EXPECT_NE(why.find(std::to_string(bits) + (bits == 1 ? " bit per pixel in " : " bits per pixel in ") +
                       std::to_string(planes) + (planes == 1 ? " plane;" : " planes;")),
              std::string::npos)
        << why;
  }
}

TEST(Pcx, HostileHeadersAreRefused) {
  Picture p;
  Palette pal;
  EXPECT_FALSE(DecodePcx(Bytes(500, 0), p, pal));  // shorter than header and palette
  Bytes huge = Pcx(1, 1, {});
  huge[8] = huge[9] = huge[10] = huge[11] = 0x7F;  // 32768 × 32768 from 900 bytes
  EXPECT_FALSE(DecodePcx(huge, p, pal));
  Bytes negative = Pcx(1, 1, {});
  negative[9] = 0xFF;  // largest x negative
  EXPECT_FALSE(DecodePcx(negative, p, pal));
}

TEST(Lmp, PicturesOfAnySizeThatFitsTheirBytes) {
  Picture p;
  EXPECT_TRUE(DecodeLmp(Lmp(300, 200, 60000), p));
  EXPECT_EQ(p.width, 300);
  EXPECT_TRUE(DecodeLmp(Lmp(320, 200, 64000), p));   // every Quake's conback.lmp
  EXPECT_TRUE(DecodeLmp(Lmp(640, 512, 327680), p));  // a source port's
  EXPECT_EQ(p.height, 512);
  EXPECT_FALSE(DecodeLmp(Lmp(640, 512, 327679), p));
  EXPECT_FALSE(DecodeLmp(Lmp(0x10000, 0x10000, 100), p));  // 2^32 pixels: no overflow into "fits"
  EXPECT_FALSE(DecodeLmp(Lmp(-4, 2, 100), p));
  EXPECT_FALSE(DecodeLmp(Lmp(10, 10, 99), p));
  EXPECT_FALSE(DecodeLmp(Lmp(0, 0, 0), p));
  ASSERT_TRUE(DecodeLmp(Lmp(3, 2, 6), p));
  EXPECT_EQ(Rows(p), (std::vector<Bytes>{{0, 1, 2}, {3, 4, 5}}));

  Archive a({{"gfx/short.lmp", Lmp(320, 200, 63999)}});
  EntryPictures r = a.View("gfx/short.lmp");
  EXPECT_FALSE(r.ok());
  EXPECT_EQ(r.message, ".lmp not viewable");
  EXPECT_TRUE(r.messageBox);
}

TEST(Wal, ChainsFollowLeafNamesAndStopOnLoops) {
  Archive a({{"textures/e1u1/a.wal", Wal(4, 2, 1, "textures/E1U1/B")},
             {"textures/e1u1/b.wal", Wal(2, 2, 2, "e1u1/c")},
             {"textures/e1u1/c.wal", Wal(2, 2, 3, "e1u1/b")},  // back to a later frame
             {"textures/e1u1/d.wal", Wal(2, 2, 4, "d")},       // names itself
             {"textures/e1u1/e.wal", Wal(2, 2, 5, "e1u1/a")},
             {"textures/e1u1/f.wal", Wal(2, 2, 6, "e1u1/missing")}});
  EntryPictures r = a.View("textures/e1u1/a.wal");
  ASSERT_EQ(r.set.pictures.size(), 3u);
  EXPECT_EQ(r.set.pictures[0].At(0, 0), 1);
  EXPECT_EQ(r.set.pictures[1].At(0, 0), 2);
  EXPECT_EQ(r.set.pictures[2].At(1, 1), 3);
  EXPECT_EQ(r.set.palettes.size(), 1u);
  EXPECT_EQ(r.title, "a.wal");
  EXPECT_EQ(a.View("textures/e1u1/d.wal").set.pictures.size(), 1u);
  EXPECT_EQ(a.View("textures/e1u1/e.wal").set.pictures.size(), 4u);  // e a b c, then c names b again
  EXPECT_EQ(a.View("textures/e1u1/f.wal").set.pictures.size(), 1u);
  Palette q2;
  LoadPalette(kQuake2PaletteId, q2);
  EXPECT_EQ(r.set.palettes[0], q2);
}

TEST(Wal, PixelsOutsideTheTextureAreRefused) {
  Picture p;
  Bytes w = Wal(4, 4, 9, "");
  PutU32(w, 40, 0xFFFFFFF0);
  EXPECT_FALSE(DecodeWal(w, p, nullptr));
  Bytes big = Wal(4, 4, 9, "");
  PutU32(big, 32, 0x10000);
  PutU32(big, 36, 0x10000);
  EXPECT_FALSE(DecodeWal(big, p, nullptr));
  EXPECT_FALSE(DecodeWal(Bytes(99, 0), p, nullptr));
}

TEST(QuakeSprite, GroupsAndSinglesMakeOnePictureEach) {
  Bytes s(36, 0);
  std::memcpy(s.data(), "IDSP", 4);
  PutU32(s, 24, 2);
  PutU32(s, 36, 1);  // a group of three
  PutU32(s, 40, 3);
  s.resize(44 + 12);  // intervals
  for (int i = 0; i < 3; ++i) SpritePicture(s, 2, 2, static_cast<std::uint8_t>(10 + i));
  PutU32(s, s.size(), 0);  // a single
  SpritePicture(s, 3, 1, 20);
  PictureSet set;
  ReadQuakeSprite(s, set);
  ASSERT_EQ(set.pictures.size(), 4u);
  EXPECT_EQ(set.pictures[2].At(1, 1), 12);
  EXPECT_EQ(set.pictures[3].width, 3);
  EXPECT_EQ(set.palettes.size(), 1u);

  // An unknown frame type ends the sprite; so does a frame cut short or claiming too much.
  Bytes unknown = s;
  PutU32(unknown, 24, 3);
  PutU32(unknown, unknown.size(), 7);
  SpritePicture(unknown, 1, 1, 1);
  PictureSet u;
  ReadQuakeSprite(unknown, u);
  EXPECT_EQ(u.pictures.size(), 4u);
  Bytes cut(s.begin(), s.end() - 2);
  PictureSet c;
  ReadQuakeSprite(cut, c);
  EXPECT_EQ(c.pictures.size(), 3u);
  Bytes lying = s;
  PutU32(lying, 44 + 12 + 8, 0x7FFFFFFF);  // the first picture's width
  PictureSet l;
  ReadQuakeSprite(lying, l);
  EXPECT_TRUE(l.pictures.empty());
}

Bytes Sp2(const std::vector<std::string>& names) {
  Bytes s(12, 0);
  std::memcpy(s.data(), "IDS2", 4);
  PutU32(s, 4, 2);
  PutU32(s, 8, static_cast<std::uint32_t>(names.size()));
  for (const auto& n : names) {
    std::size_t at = s.size();
    s.resize(at + 80, 0);
    std::memcpy(&s[at + 16], n.data(), std::min<std::size_t>(n.size(), 63));
  }
  return s;
}

TEST(Quake2Sprite, FramesComeFromPcxFilesBesideIt) {
  Bytes red = Pcx(2, 1, {0x01, 0x02});
  Bytes blue = Pcx(1, 1, {0x05});
  blue[blue.size() - 768 + 15] = 0xAB;  // a palette of its own
  Archive a({{"sprites/fire.sp2", Sp2({"sprites/fire/Red.pcx", "other/blue.pcx"})},
             {"sprites/red.pcx", red},
             {"sprites/blue.pcx", blue},
             {"sprites/gone.sp2", Sp2({"red.pcx", "missing.pcx"})},
             {"sprites/odd.spr2", Sp2({"blue.pcx"})}});
  EntryPictures r = a.View("sprites/fire.sp2");
  ASSERT_EQ(r.set.pictures.size(), 2u);
  ASSERT_EQ(r.set.palettes.size(), 2u);
  EXPECT_EQ(r.set.pictures[0].width, 2);
  EXPECT_EQ(r.set.palettes[1].colors[5].r, 0xAB);
  EXPECT_TRUE(r.set.transparent255);  // as a Quake sprite's
  EXPECT_EQ(a.View("sprites/gone.sp2").set.pictures.size(), 1u);
  EXPECT_EQ(PictureKindOf("odd.spr2"), PictureKind::None);
  EXPECT_EQ(PictureKindOf("x.SP2"), PictureKind::Quake2Sprite);
  EXPECT_EQ(PictureKindOf("x.spr"), PictureKind::QuakeSprite);
}

TEST(ModelSkin, EverySkinAndEveryPictureOfAGroup) {
  std::vector<Picture> p;
  ASSERT_TRUE(DecodeMdlSkins(Mdl(5, 3, 0), p));
  ASSERT_EQ(p.size(), 1u);
  EXPECT_EQ(p[0].width, 5);
  EXPECT_EQ(p[0].At(4, 2), 14);
  // Three skins: a group of two pictures first, then two singles.
  Bytes three = Mdl(2, 2, 1);
  three.resize(88);
  PutU32(three, 48, 3);
  PutU32(three, 88, 2);
  three.resize(92 + 8);  // the intervals
  for (std::uint8_t fill : {1, 2}) three.insert(three.end(), 4, fill);
  for (std::uint8_t fill : {3, 4}) {
    PutU32(three, three.size(), 0);
    three.insert(three.end(), 4, fill);
  }
  ASSERT_TRUE(DecodeMdlSkins(three, p));
  ASSERT_EQ(p.size(), 4u);
  for (std::uint8_t i = 0; i < 4; ++i) EXPECT_EQ(p[i].At(1, 1), i + 1);
  // Cut inside the last skin: the skins before it stay.
  ASSERT_TRUE(DecodeMdlSkins(Bytes(three.begin(), three.end() - 1), p));
  EXPECT_EQ(p.size(), 3u);

  EXPECT_FALSE(DecodeMdlSkins(Bytes(83, 0), p));
  Bytes notModel = Mdl(2, 2, 0);
  notModel[0] = 'X';
  EXPECT_FALSE(DecodeMdlSkins(notModel, p));
  Bytes lying = Mdl(2, 2, 0);
  PutU32(lying, 52, 1000);
  EXPECT_FALSE(DecodeMdlSkins(lying, p));
  Bytes flat = Mdl(0, 0, 0);
  PutU32(flat, 56, 0x50440000);  // no width, a billion rows: empty, at once
  ASSERT_TRUE(DecodeMdlSkins(flat, p));
  EXPECT_EQ(p[0].height, 0);
  EXPECT_TRUE(p[0].pixels.empty());
  Archive a({{"progs/m.mdl", three}});
  EntryPictures skins = a.View("progs/m.mdl", true);
  EXPECT_EQ(skins.title, "m.mdl skin");
  EXPECT_EQ(skins.set.pictures.size(), 4u);
}

// --- real files ---

struct RealPicture {
  const char* path;
  int frames;
  int width, height;
};

class RealPictures : public ::testing::TestWithParam<RealPicture> {};

TEST_P(RealPictures, DecodeToTheirKnownSizes) {
  TARN_REQUIRE_SAMPLES();
  const RealPicture& c = GetParam();
  const fs::path file = SamplesDir() / c.path;
  const std::string name = ToLower(fs::path(c.path).filename().string());
  Archive a({{name, ReadFile(file)}});
  EntryPictures r = a.View(name, name.ends_with(".mdl"));
  ASSERT_EQ(static_cast<int>(r.set.pictures.size()), c.frames) << r.message;
  for (const Picture& p : r.set.pictures) {
    EXPECT_EQ(p.width, c.width);
    EXPECT_EQ(p.height, c.height);
  }
}

void PrintTo(const RealPicture& c, std::ostream* os) { *os << c.path; }

INSTANTIATE_TEST_SUITE_P(
    Samples, RealPictures,
    ::testing::Values(
        RealPicture{"LibreQuake/lq1/gfx/qplaque.lmp", 1, 32, 144},
        RealPicture{"LibreQuake/lq1/gfx/ttl_main.lmp", 1, 156, 28},
        RealPicture{"LibreQuake/lq1/gfx/box_tl.lmp", 1, 8, 8},
        RealPicture{"LibreQuake/lq1/gfx/conback.lmp", 1, 320, 200},
        // The tables are shown too: the palette as its 16 x 16 colours, the colour map as its 64 levels.
        RealPicture{"LibreQuake/lq1/gfx/palette.lmp", 1, 128, 128},
        RealPicture{"LibreQuake/lq1/gfx/colormap.lmp", 1, 256, 64}, RealPicture{"LibreQuake/lq1/gfx/pop.lmp", 0, 0, 0},
        RealPicture{"TrenchBroom/lib/TbMdlLib/test/fixture/mdl/LoadWalTexture/lavatest.wal", 1, 64, 64},
        RealPicture{"TrenchBroom/lib/TbMdlLib/test/fixture/mdl/LoadWalTexture/rtz/b_pv_v1a1.wal", 1, 128, 256},
        RealPicture{"wal-R/inst/extdata/bricks.wal", 1, 256, 256},
        RealPicture{"LibreQuake/lq1/progs/s_explod.spr", 6, 64, 64},
        RealPicture{"LibreQuake/lq1/progs/s_bubble.spr", 2, 16, 16},
        RealPicture{"TrenchBroom/lib/TbMdlLib/test/fixture/mdl/LoadSpriteModel/Oriented.spr", 1, 512, 512},
        RealPicture{"LibreQuake/lq1/progs/s_light.mdl", 1, 16, 16},
        RealPicture{"LibreQuake/lq1/progs/v_rock2.mdl", 2, 200, 200},
        RealPicture{"TrenchBroom/lib/TbMdlLib/test/fixture/mdl/Palette/colormap.pcx", 1, 256, 320}));

TEST(RealPictures, PixelsAreTheStoredIndices) {
  TARN_REQUIRE_SAMPLES();
  // LMP and WAL store their indices plainly: the decoded rows must be those bytes.
  Bytes lmpBytes = ReadFile(SamplesDir() / "LibreQuake/lq1/gfx/ttl_main.lmp");
  Picture lmpPic;
  ASSERT_TRUE(DecodeLmp(lmpBytes, lmpPic));
  for (int y = 0; y < lmpPic.height; ++y)
    ASSERT_EQ(Bytes(lmpPic.Row(y), lmpPic.Row(y) + lmpPic.width),
              Bytes(lmpBytes.begin() + 8 + y * 156, lmpBytes.begin() + 8 + (y + 1) * 156));
  Bytes walBytes = ReadFile(SamplesDir() / "TrenchBroom/lib/TbMdlLib/test/fixture/mdl/LoadWalTexture/rtz/b_rc_v28.wal");
  Picture walPic;
  ASSERT_TRUE(DecodeWal(walBytes, walPic, nullptr));
  EXPECT_EQ(walPic.width, 128);
  for (int y = 0; y < walPic.height; ++y)
    ASSERT_EQ(Bytes(walPic.Row(y), walPic.Row(y) + 128),
              Bytes(walBytes.begin() + 100 + y * 128, walBytes.begin() + 100 + (y + 1) * 128));

  // The Quake II colour map carries the Quake II palette at its end.
  Picture pcx;
  Palette pcxPalette, quake2;
  ASSERT_TRUE(DecodePcx(ReadFile(SamplesDir() / "TrenchBroom/lib/TbMdlLib/test/fixture/mdl/Palette/colormap.pcx"), pcx,
                        pcxPalette));
  LoadPalette(kQuake2PaletteId, quake2);
  EXPECT_EQ(pcxPalette, quake2);
}

}  // namespace
}  // namespace tarn::test
