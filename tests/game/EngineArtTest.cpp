#include <set>

#include "ArtBuilders.h"
#include "CliSupport.h"
#include "TestSupport.h"
#include "document/TarnDoc.h"
#include "formats/PictureSpots.h"
#include "game/EngineArt.h"
#include "game/StrayGlow.h"
#include "pictures/GlowLayers.h"
#include "pictures/ImageDecode.h"

namespace tarn::test {
namespace {

// A wall whose top left two pixels glow (250, 251), the rest plain (5 + x % 3).
std::uint8_t WallPixel(int x, int y) { return y == 0 && x < 2 ? static_cast<std::uint8_t>(250 + x) : 5 + x % 3; }

// One of every kind of picture a Quake engine replaces, and a second map whose "Wall" differs.
ArtGame QuakeGame() {
  ArtGame g;
  g.File("gfx.wad",
         BuildWad(ContainerFormat::Wad2, {{"SBAR", ArtLmp(8, 4, [](int x, int) { return x == 0 ? 255 : 9; }), 'B'},
                                          {"conchars", Bytes(128 * 128, 0), 'D'}}));
  g.File("gfx/conback.lmp", ArtLmp(8, 8, [](int, int) { return 12; }));
  g.File("maps/e1m1.bsp",
         TextureMap({ArtMiptex("*Water1", 16, 16, [](int x, int) { return x % 2 ? 240 : 40; }),
                     ArtMiptex("{fence", 16, 16, [](int x, int) { return x < 4 ? 255 : 60; }),
                     ArtMiptex("Wall", 16, 16, WallPixel), ArtMiptex("sky1", 32, 16, [](int, int) { return 2; }),
                     ArtMiptex("+0lit", 16, 16, [](int x, int) { return x < 8 ? 240 : 5; })}));
  g.File("maps/dm/e1m2.bsp", TextureMap({ArtMiptex("Wall", 16, 16, [](int, int) { return 7; })}));
  // The players' model: pants (96 + 4) and shirt (16 + 2) pixels, a glowing one; and a group.
  g.File("progs/player.mdl", ArtMdl(8, 4,
                                    {{{[](int x, int y) {
                                       return static_cast<std::uint8_t>(y == 0 ? 100 : y == 1 ? 18 : x == 0 ? 250 : 70);
                                     }}},
                                     {{[](int, int) { return 70; }, [](int, int) { return 71; }}}}));
  g.File("progs/s.spr", ArtSpr(4, 4, {[](int, int) { return 255; }, [](int, int) { return 33; }}));
  return g;
}

std::vector<std::string> Exported(const ArtGame& game, const char* engine, const fs::path& dir,
                                  ArtReport* out = nullptr) {
  ArtOptions options;
  options.profile = FindArtProfile(engine);
  options.format = options.profile->formats.front();
  const ArtReport report = ExportArt(game.Files(), options, dir);
  EXPECT_TRUE(report.problems.empty()) << engine << ": " << (report.problems.empty() ? "" : report.problems[0]);
  if (out) *out = report;
  return FilesBelow(dir);
}

RgbaImage Decoded(const fs::path& file) {
  RgbaImage image;
  std::string why;
  EXPECT_TRUE(DecodeImage(ReadFile(file), file.filename().string(), image, &why)) << file << ": " << why;
  return image;
}

std::array<std::uint8_t, 4> PixelOf(const RgbaImage& image, int x, int y) {
  const std::uint8_t* p = image.Pixel(static_cast<std::size_t>(y * image.width + x));
  return {p[0], p[1], p[2], p[3]};
}

TEST(EngineArt, EachEngineGetsTheNamesItsCodeAsksFor) {
  const ArtGame game = QuakeGame();
  using Names = std::vector<std::string>;
  TempDir t;
  // Quakespasm 0.95: world textures only, .tga, the first "*" made "#", no sky, _glow.
  EXPECT_EQ(Exported(game, "quakespasm", t / "qs"),
            (Names{"textures/#Water1.tga", "textures/+0lit.tga", "textures/+0lit_glow.tga", "textures/Wall.tga",
                   "textures/Wall_glow.tga", "textures/dm/e1m2/Wall.tga", "textures/{fence.tga"}));
  EXPECT_EQ(Exported(game, "ironwail", t / "iw").size(), 7u);
  // Quakespasm-Spiked adds single skins and the 2D pictures by their lower-case names.
  EXPECT_EQ(
      Exported(game, "qss", t / "qss"),
      (Names{"gfx/conback.png", "gfx/conchars.png", "gfx/sbar.png", "progs/player.mdl_0.png",
             "progs/player.mdl_0_glow.png", "textures/#Water1.png", "textures/+0lit.png", "textures/+0lit_glow.png",
             "textures/Wall.png", "textures/Wall_glow.png", "textures/dm/e1m2/Wall.png", "textures/{fence.png"}));
  // DarkPlaces: lower-cased textures, the sky, a group's skins and frames numbered, pants and
  // shirt of the players' skin, the map's folder below maps/.
  EXPECT_EQ(Exported(game, "dp", t / "dp"),
            (Names{"gfx/conback.png", "gfx/conchars.png", "gfx/sbar.png", "progs/player.mdl_0.png",
                   "progs/player.mdl_0_glow.png", "progs/player.mdl_0_pants.png", "progs/player.mdl_0_shirt.png",
                   "progs/player.mdl_1_0.png", "progs/player.mdl_1_1.png", "progs/s.spr_0.png", "progs/s.spr_1.png",
                   "textures/#water1.png", "textures/+0lit.png", "textures/+0lit_glow.png", "textures/dm/e1m2/wall.png",
                   "textures/sky1.png", "textures/wall.png", "textures/wall_glow.png", "textures/{fence.png"}));
  // FTE: the names as stored, _luma, the map's folder its file name alone.
  const Names fte = Exported(game, "fte", t / "fte");
  for (const char* name :
       {"textures/#Water1.png", "textures/Wall_luma.png", "textures/e1m2/Wall.png", "textures/sky1.png",
        "progs/player.mdl_0_luma.png", "progs/player.mdl_0_pants.png", "progs/player.mdl_1_1.png", "progs/s.spr_1.png"})
    EXPECT_NE(std::find(fte.begin(), fte.end(), name), fte.end()) << name;
}

TEST(EngineArt, LayersAreDrawnAsTheEngineBlendsThem) {
  const ArtGame game = QuakeGame();
  TempDir t;
  Exported(game, "dp", t.path());
  const Palette pal = QuakePalette();
  auto rgb = [&](int i) {
    const Rgb& c = pal.colors[static_cast<std::size_t>(i)];
    return std::array<std::uint8_t, 4>{c.r, c.g, c.b, 255};
  };
  const std::array<std::uint8_t, 4> black{0, 0, 0, 255}, none{0, 0, 0, 0};
  // Glowing pixels: opaque black in the base (a wall with any alpha would be drawn blended),
  // their colour on the glow layer, which is transparent black elsewhere.
  const RgbaImage wall = Decoded(t / "textures/wall.png"), glow = Decoded(t / "textures/wall_glow.png");
  EXPECT_EQ(PixelOf(wall, 0, 0), black);
  EXPECT_EQ(PixelOf(wall, 5, 5), rgb(WallPixel(5, 5)));
  EXPECT_EQ(PixelOf(glow, 1, 0), rgb(251));
  EXPECT_EQ(PixelOf(glow, 5, 5), none);
  // A fence's 255 is see-through; a liquid's glowing colours stay in its one picture (unlit).
  EXPECT_EQ(PixelOf(Decoded(t / "textures/{fence.png"), 0, 0)[3], 0);
  EXPECT_EQ(PixelOf(Decoded(t / "textures/#water1.png"), 1, 0), rgb(240));
  // The players' skin: pants and shirt as the grey ramp on their layers, black in the base.
  const RgbaImage skin = Decoded(t / "progs/player.mdl_0.png");
  EXPECT_EQ(PixelOf(skin, 3, 0), black);
  EXPECT_EQ(PixelOf(Decoded(t / "progs/player.mdl_0_pants.png"), 3, 0), rgb(4));
  EXPECT_EQ(PixelOf(Decoded(t / "progs/player.mdl_0_shirt.png"), 3, 1), rgb(2));
  // The console font's 0 is see-through in DarkPlaces.
  EXPECT_EQ(PixelOf(Decoded(t / "gfx/conchars.png"), 7, 7)[3], 0);
}

TEST(EngineArt, AGlowLayerIsTheGlowMaskOnTheWayBack) {
  const Palette pal = QuakePalette();
  LayerRules rules;
  rules.lit = true;
  rules.glowFirst = 224, rules.glowLast = 255;
  // 0 and 48 are both black in Quake's palette, 76 and 247 both (103, 0, 0), 247 glowing.
  const Bytes indices = {0, 48, 76, 247, 5, 250, 6, 7};
  Picture original;
  BuildPicture(4, 2, indices, original);
  PictureLayers layers = SplitLayers(original, pal, rules);
  std::vector<std::uint8_t> back;
  std::string why;
  ASSERT_TRUE(JoinLayers({&layers.base, &layers.glow}, original, pal, rules, back, &why)) << why;
  EXPECT_EQ(back, indices);
  // Lit on the glow layer: the pixel glows, in the nearest glowing colour; put out: it does not.
  std::memcpy(layers.glow.rgba.data() + 4 * 4, std::array<std::uint8_t, 4>{255, 0, 0, 255}.data(), 4);
  std::memset(layers.glow.rgba.data() + 4 * 3, 0, 4);
  std::memcpy(layers.base.rgba.data() + 4 * 3, std::array<std::uint8_t, 4>{103, 0, 0, 255}.data(), 4);
  ASSERT_TRUE(JoinLayers({&layers.base, &layers.glow}, original, pal, rules, back, &why)) << why;
  EXPECT_EQ(back[4], 251);  // (255, 0, 0)
  EXPECT_EQ(back[3], 76);   // (103, 0, 0) that does not glow
  EXPECT_EQ(back[5], 250);
  // 255's own colour painted on the base, unlit: not 255, which the engines draw glowing too.
  const Rgb& c255 = pal.colors[255];
  std::memcpy(layers.base.rgba.data() + 4 * 6, std::array<std::uint8_t, 4>{c255.r, c255.g, c255.b, 255}.data(), 4);
  ASSERT_TRUE(JoinLayers({&layers.base, &layers.glow}, original, pal, rules, back, &why)) << why;
  EXPECT_FALSE(rules.Glowing(back[6])) << int{back[6]};
  // A glowing index that a game's palette makes black lights nothing, and its glow layer cannot
  // say it: unchanged, it keeps its index.
  Palette dark = pal;
  dark.colors[240] = Rgb{};
  Picture withDark;
  BuildPicture(2, 1, Bytes{240, 5}, withDark);
  const PictureLayers darkLayers = SplitLayers(withDark, dark, rules);
  ASSERT_TRUE(JoinLayers({&darkLayers.base, &darkLayers.glow}, withDark, dark, rules, back, &why)) << why;
  EXPECT_EQ(back, (Bytes{240, 5}));
  // Without a glow layer nothing glows; a replacement twice the size is scaled to the original's.
  RgbaImage big;
  StartImage(big, 8, 4);
  for (std::size_t i = 0; i < big.PixelCount(); ++i) std::memcpy(big.rgba.data() + 4 * i, "\xff\x00\x00\xff", 4);
  ASSERT_TRUE(JoinLayers({&big}, original, pal, rules, back, &why)) << why;
  for (std::uint8_t v : back) EXPECT_FALSE(v >= 224) << int{v};
}

TEST(EngineArt, LibreQuakeComesBackByteForByteAndKeepsItsGlow) {
  TARN_REQUIRE_SAMPLES();
  // Every map, WAD, model, sprite and picture of the samples, as one game.
  ArtGame game;
  const fs::path lq = SamplesDir() / "LibreQuake";
  for (const auto& e : fs::recursive_directory_iterator(lq / "lq1"))
    if (e.is_regular_file()) game.File(fs::relative(e.path(), lq / "lq1").generic_string(), ReadFile(e.path()));
  game.File("lq_dev_legacy.wad", ReadFile(lq / "texture-wads/lq_dev_legacy/lq_dev_legacy.wad"));
  for (const char* engine : {"quakespasm", "fte"}) {
    SCOPED_TRACE(engine);
    TempDir t;
    ArtOptions options;
    options.profile = FindArtProfile(engine);
    options.format = options.profile->formats.front();
    const ArtReport out = ExportArt(game.Files(), options, t.path());
    EXPECT_GT(out.pictures, 170);
    EXPECT_TRUE(out.refused.empty() && out.problems.empty())
        << (out.refused.empty() ? "" : out.refused[0]) << (out.problems.empty() ? "" : out.problems[0]);
    std::vector<ArtChange> changes;
    const ArtReport in = ImportArt(game.Files(), options, t.path(), changes);
    EXPECT_TRUE(in.problems.empty());
    EXPECT_GE(in.pictures, out.pictures);
    EXPECT_TRUE(changes.empty()) << changes.size() << " files changed, the first "
                                 << game.Files()[changes[0].file].path;
  }
  // Every base picture touched (each colour one step off): whatever the encoder makes of it,
  // no pixel's glowing changes, since the glow layers say which glow.
  TempDir t;
  ArtOptions options;
  options.profile = FindArtProfile("fte");
  const ArtReport out = ExportArt(game.Files(), options, t.path());
  for (const std::string& name : FilesBelow(t.path())) {
    if (name.find("_luma") != std::string::npos) continue;
    RgbaImage image = Decoded(t / name);
    for (std::size_t i = 0; i < image.rgba.size(); i += 4)
      if (image.rgba[i + 3] && (image.rgba[i] | image.rgba[i + 1] | image.rgba[i + 2]))
        image.rgba[i] = static_cast<std::uint8_t>(image.rgba[i] ^ 1);
    std::vector<std::uint8_t> png;
    std::string why;
    ASSERT_TRUE(EncodePng(image, png, &why));
    WriteFile(t / name, png);
  }
  std::vector<ArtChange> changes;
  ASSERT_TRUE(ImportArt(game.Files(), options, t.path(), changes).problems.empty());
  EXPECT_GT(changes.size(), 5u);
  std::size_t pixels = 0, glowChanged = 0;
  for (const ArtChange& c : changes) {
    const Bytes before = game.Of(c.file);
    const PictureSpots spots = FindPictureSpots(game.Files()[c.file].path, before);
    for (const PictureSpot& s : spots.spots) {
      Picture a, b;
      if (!ReadSpot(before, s, a, nullptr) || !ReadSpot(c.bytes, s, b, nullptr)) continue;
      const bool sees = s.kind == SpotKind::MapTexture || s.kind == SpotKind::WadTexture;
      const int transparent = sees && s.name[0] == '{' ? 255 : -1;
      for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x, ++pixels) {
          auto glows = [&](int v) { return v >= 224 && v != transparent; };
          // Liquids, the sky and unlit pictures have no glow layer: only lit pictures count.
          const bool lit = s.kind == SpotKind::ModelSkin || (sees && s.name[0] != '*' && s.name.rfind("sky", 0) != 0);
          if (lit && glows(a.At(x, y)) != glows(b.At(x, y))) ++glowChanged;
        }
    }
  }
  EXPECT_GT(pixels, 100000u);
  EXPECT_EQ(glowChanged, 0u);
}

TEST(EngineArt, HostileNamesAreRefusedSaidAndNeverWrittenOutside) {
  TempDir t;
  ArtGame game;
  game.File("maps/a.bsp", TextureMap({ArtMiptex("../../escape", 16, 16, [](int, int) { return 3; }),
                                      ArtMiptex("*lava", 16, 16, [](int, int) { return 4; }),
                                      ArtMiptex("#lava", 16, 16, [](int, int) { return 5; }),
                                      ArtMiptex("Wall", 16, 16, [](int, int) { return 6; }),
                                      ArtMiptex("wall", 16, 16, [](int, int) { return 7; })}));
  game.File("progs/" + std::string(300, 'a') + ".mdl", ArtMdl(4, 4, {{{[](int, int) { return 1; }}}}));
  ArtReport report;
  const auto files = Exported(game, "dp", t / "out", &report);
  // One of each pair that would take one file is written; the other, the escape and the long
  // name are refused and said.
  EXPECT_EQ(files, (std::vector<std::string>{"textures/#lava.png", "textures/wall.png"}));
  ASSERT_EQ(report.refused.size(), 4u);
  EXPECT_NE(report.refused[0].find("\"..\""), std::string::npos) << report.refused[0];
  EXPECT_NE(report.refused[1].find("#lava"), std::string::npos) << report.refused[1];
  EXPECT_NE(report.refused[3].find("MAX_QPATH"), std::string::npos) << report.refused[3];
  EXPECT_EQ(FilesBelow(t.path()), (std::vector<std::string>{"out/textures/#lava.png", "out/textures/wall.png"}));
  // A link in the folder is never followed.
  fs::create_directories(t / "elsewhere");
  fs::create_directories(t / "linked");
  fs::create_symlink(t / "elsewhere", t / "linked/textures");
  ArtOptions options;
  options.profile = FindArtProfile("dp");
  EXPECT_FALSE(ExportArt(game.Files(), options, t / "linked").problems.empty());
  EXPECT_TRUE(fs::is_empty(t / "elsewhere"));
}

TEST(StrayGlow, SpecksAreStraysLightsAndPatternsAreNot) {
  auto strays = [](const std::vector<std::pair<int, int>>& glowing, int w = 16) {
    Bytes px(static_cast<std::size_t>(w * 16), 5);
    for (auto [x, y] : glowing) px[static_cast<std::size_t>(y * w + x)] = 240;
    Picture p;
    BuildPicture(w, 16, px, p);
    return StrayGlowPixels(p, 224, 255).size();
  };
  EXPECT_EQ(strays({{3, 4}}), 1u);
  EXPECT_EQ(strays({{3, 4}, {4, 5}, {12, 2}}), 3u);  // a pair touching corners, and one alone
  std::vector<std::pair<int, int>> light;
  for (int y = 8; y < 12; ++y)
    for (int x = 8; x < 12; ++x) light.emplace_back(x, y);
  EXPECT_EQ(strays(light), 0u);
  light.emplace_back(1, 1);  // a light and a speck
  EXPECT_EQ(strays(light), 1u);
  EXPECT_EQ(strays({{1, 1}, {5, 1}, {9, 1}, {13, 1}, {1, 9}}), 0u);  // five: a pattern
  EXPECT_EQ(strays({{2, 3}, {13, 3}, {2, 12}, {13, 12}}), 0u);       // symmetric: a pattern
}

TEST(StrayGlow, CheckTellsThemAndGlowFixQuenchesOnlyThem) {
  TempDir t;
  // A light of 4 × 4 and a speck at 0, 0, which glows in the smaller levels too.
  auto pixel = [](int x, int y) {
    return static_cast<std::uint8_t>((x >= 8 && x < 12 && y >= 8 && y < 12) || (x == 0 && y == 0) ? 240 : 5);
  };
  WriteFile(t / "g.pak", PakBuilder().File("maps/m.bsp", TextureMap({ArtMiptex("panel", 16, 16, pixel)})).Build());
  const std::string pak = (t / "g.pak").string();
  Result r = Tool({"check", pak});
  EXPECT_EQ(r.rc, 1);
  EXPECT_NE(r.out.find("\"maps/m.bsp\": texture \"panel\": 1 stray glowing pixel at 0,0, likely by accident"),
            std::string::npos)
      << r.out;
  r = Tool({"glow", "--list", pak});
  EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "maps/m.bsp\ttexture \"panel\"\t0,0\t240\t" +
                                                   std::to_string(NearestNotGlowing(QuakePalette(), 240, 224, 255)));
  EXPECT_EQ(Tool({"glow", "--fix", pak}).rc, 0);
  EXPECT_EQ(Tool({"check", pak}).rc, 0);
  CTarnDoc doc;
  ASSERT_TRUE(doc.Open(pak));
  const Bytes map = Load(doc.Root().FindByPath("maps/m.bsp"));
  const PictureSpots spots = FindPictureSpots("m.bsp", map);
  ASSERT_EQ(spots.spots.size(), 1u);
  Picture full;
  ASSERT_TRUE(ReadSpot(map, spots.spots[0], full, nullptr));
  EXPECT_LT(full.At(0, 0), 224);
  EXPECT_EQ(full.At(9, 9), 240);                // the light glows as it did
  EXPECT_LT(map[spots.spots[0].mips[0]], 224);  // the level below no longer glows over the speck
  EXPECT_EQ(map[spots.spots[0].mips[0] + 4 * 8 + 4], 240);
  // Quenching a light is asked for by name.
  EXPECT_EQ(Tool({"glow", "--fix", "--every", pak}).rc, 2);
}

TEST(EngineArt, TexturesCommandWritesAndBringsBack) {
  TempDir t;
  WriteFile(t / "g.pak", PakBuilder().File("maps/m.bsp", TextureMap({ArtMiptex("Wall", 16, 16, WallPixel)})).Build());
  const std::string pak = (t / "g.pak").string(), out = (t / "out").string();
  EXPECT_EQ(Tool({"textures", pak, "--engine", "quakespasm", "--format", "png", "--out", out}).rc, 2);
  Result r = Tool({"textures", pak, "--engine", "quakespasm", "--out", out});
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(FilesBelow(t / "out"), (std::vector<std::string>{"textures/Wall.tga", "textures/Wall_glow.tga"}));
  const Bytes before = ReadFile(t / "g.pak");
  EXPECT_EQ(Tool({"textures", "--import", out, "--engine", "quakespasm", pak}).rc, 0);
  EXPECT_EQ(ReadFile(t / "g.pak"), before);
  // A glow layer gone: the wall no longer glows anywhere.
  fs::remove(t / "out/textures/Wall_glow.tga");
  r = Tool({"textures", "--import", out, "--engine", "quakespasm", pak});
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(Tool({"glow", "--every", "--list", pak, "maps/m.bsp"}).out, "");
}

}  // namespace
}  // namespace tarn::test
