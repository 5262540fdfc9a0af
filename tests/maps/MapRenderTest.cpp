#include <algorithm>
#include <array>
#include <cmath>
#include <map>

#include "AllocationLimit.h"
#include "BspBuilder.h"
#include "CliSupport.h"
#include "ModelBuilders.h"
#include "TestSupport.h"
#include "containers/WadFormat.h"
#include "maps/MapEntities.h"
#include "maps/MapImages.h"
#include "maps/MapLook.h"
#include "maps/MapModels.h"
#include "maps/MapRender.h"

namespace tarn::test {
namespace {

struct Drawn {
  int width = 0, height = 0;
  std::vector<std::uint8_t> rgb;
  std::uint8_t background[3] = {0, 0, 0};  // where no face is drawn
  const std::uint8_t* At(int x, int y) const { return rgb.data() + (static_cast<std::size_t>(y) * width + x) * 3; }
  bool Blank(int x, int y) const { return std::equal(background, background + 3, At(x, y)); }
  // The pixels a face was drawn on.
  std::size_t Lit() const {
    std::size_t n = 0;
    for (std::size_t i = 0; i < rgb.size(); i += 3)
      n += !std::equal(background, background + 3, rgb.begin() + static_cast<std::ptrdiff_t>(i));
    return n;
  }
};

Drawn Draw(const Bytes& bytes, const MapCamera& camera, int w = 64, int h = 40, const MapFileLookup& lookup = {}) {
  BspMap map;
  std::string why;
  EXPECT_TRUE(LoadBsp(bytes, map, &why)) << why;
  Drawn d{w, h, {}};
  const MapScene scene = BuildMapScene(map, lookup);
  std::copy_n(scene.shading.background, 3, d.background);
  EXPECT_TRUE(RenderMap(scene, camera, w, h, d.rgb));
  return d;
}

// Over the first tile, looking straight down at it.
MapCamera Above(float height) {
  MapCamera c;
  c.position[0] = c.position[1] = 32;
  c.position[2] = height;
  c.pitch = 90;
  return c;
}

// One 64-unit tile lit at `light`, its texture of one palette index.
BspBuilder LitTile(BspFormat f, std::uint8_t index, std::uint8_t light, const std::string& name = "floor") {
  BspBuilder b(f);
  b.miptex = {BspMiptex(name, 16, 16, index, false, f == BspFormat::HalfLife)};
  b.lighting = Bytes(25 * static_cast<std::size_t>(SampleBytes(f)), light);
  b.Tile(0, 0, 0, 0);
  return b;
}

TEST(MapRender, TheFloorSeenFromAboveIsItsColourTimesItsLight) {
  // Quake's light counts twice: 64 of 255 draws the texture at half its brightness.
  const Drawn d = Draw(LitTile(BspFormat::Quake, 5, 64).Build(), Above(100));
  const Rgb c = QuakePalette().colors[5];
  const std::uint8_t* p = d.At(d.width / 2, d.height / 2);
  EXPECT_NEAR(p[0], c.r * 128 / 255, 2);
  EXPECT_NEAR(p[1], c.g * 128 / 255, 2);
  EXPECT_NEAR(p[2], c.b * 128 / 255, 2);
  // The tile fills the middle, not the whole picture: from 100 up, 70° sees 140 units high.
  EXPECT_GT(d.Lit(), d.rgb.size() / 3 / 10);
  EXPECT_LT(d.Lit(), d.rgb.size() / 3);
  EXPECT_TRUE(d.Blank(d.width / 2, 0));

  // A "{" texture is seen through where it has index 255.
  EXPECT_EQ(Draw(LitTile(BspFormat::Quake, 255, 64, "{grate").Build(), Above(100)).Lit(), 0u);
  EXPECT_GT(Draw(LitTile(BspFormat::Quake, 254, 64, "{grate").Build(), Above(100)).Lit(), 0u);
}

TEST(MapRender, NearPlaneHostileCamerasAndEmptyMapsDrawSafely) {
  const Bytes map = LitTile(BspFormat::Quake, 5, 64).Build();
  // Closer than the near plane: nothing; standing on the floor looking ahead: its lower half.
  EXPECT_EQ(Draw(map, Above(2)).Lit(), 0u);
  MapCamera level = Above(10);
  level.position[0] = 0;
  level.pitch = 0;
  const Drawn ahead = Draw(map, level);
  EXPECT_GT(ahead.Lit(), 0u);
  EXPECT_TRUE(ahead.Blank(ahead.width / 2, 2));
  EXPECT_FALSE(ahead.Blank(ahead.width / 2, ahead.height - 1));

  for (float bad : {NAN, INFINITY, -1e30f, 1e38f}) {
    MapCamera c = Above(100);
    c.position[0] = bad;
    c.yaw = bad;
    c.fieldOfView = bad;
    Draw(map, c);
    c = Above(100);
    c.pitch = bad;
    c.fieldOfView = bad == 1e38f ? 0 : bad;
    Draw(map, c);
  }
  EXPECT_EQ(Draw(BspBuilder(BspFormat::Quake).Build(), Above(100)).Lit(), 0u);

  BspMap loaded;
  ASSERT_TRUE(LoadBsp(map, loaded, nullptr));
  const MapScene scene = BuildMapScene(loaded, {});
  std::vector<std::uint8_t> rgb(5);
  EXPECT_FALSE(RenderMap(scene, Above(100), 0, 10, rgb));
  EXPECT_FALSE(RenderMap(scene, Above(100), kMapRenderMaxSide + 1, 1, rgb));
  EXPECT_TRUE(rgb.empty());

  // The start: the player start's origin at eye height, along its angle.
  const MapCamera start = MapStartCamera(loaded);
  EXPECT_FLOAT_EQ(start.position[2], 24 + kMapEyeHeight);
  EXPECT_FLOAT_EQ(start.yaw, 90);
}

TEST(MapRender, HalfLifeTexturesComeFromTheWadsOfTheWadKey) {
  BspBuilder b = LitTile(BspFormat::HalfLife, 5, 255);
  b.miptex = {BspMiptex("Floor", 16, 16, 0, true)};
  b.entities = "{\n\"classname\" \"worldspawn\"\n\"wad\" \"\\half-life\\valve\\none.wad; c:\\hl\\Valve\\Tex.wad\"\n}\n";
  const Bytes wad = BuildWad(ContainerFormat::Wad3, {{"FLOOR", BspMiptex("FLOOR", 16, 16, 5, false, true), 'C'}});
  std::vector<std::string> asked;
  const MapFileLookup lookup = [&](const std::string& path, std::vector<std::uint8_t>& bytes) {
    asked.push_back(path);
    if (path != "Tex.wad") return false;
    bytes = wad;
    return true;
  };
  BspMap map;
  ASSERT_TRUE(LoadBsp(b.Build(), map, nullptr));
  EXPECT_EQ(MapWadPaths(map), (std::vector<std::string>{"\\half-life\\valve\\none.wad", "c:\\hl\\Valve\\Tex.wad"}));
  const MapImages images = DecodeMapImages(map, lookup);
  EXPECT_TRUE(images.missing.empty());
  EXPECT_EQ(images.wads, std::vector<std::string>{"Tex.wad"});
  EXPECT_EQ(asked.front(), "none.wad");
  ASSERT_FALSE(images.Missing(0));
  // The texture's own palette: index 5 is (5, 7, 9), drawn in full light.
  const Drawn d = Draw(b.Build(), Above(100), 64, 40, lookup);
  const std::uint8_t* p = d.At(32, 20);
  EXPECT_EQ(std::vector<int>(p, p + 3), (std::vector<int>{5, 7, 9}));
  EXPECT_TRUE(MissingMapTextures(map, lookup).empty());
  EXPECT_EQ(MissingMapTextures(map, {}), std::vector<std::string>{"Floor"});
  EXPECT_EQ(DecodeMapImages(map, {}).missing, std::vector<std::string>{"Floor"});

  // tarn-pak info finds it in the archive too.
  TempDir dir;
  WriteFile(dir / "hl.pak", PakBuilder().File("maps/hl.bsp", b.Build()).File("Tex.wad", wad).Build());
  const Result info = Tool({"info", (dir / "hl.pak").string(), "maps/hl.bsp"});
  ASSERT_EQ(info.rc, 0) << info.err;
  EXPECT_EQ(info.out.find("missing texture"), std::string::npos) << info.out;
}

// PNG's width and height, from its header.
std::pair<std::uint32_t, std::uint32_t> PngSize(const Bytes& png) {
  if (png.size() < 24 || png[1] != 'P' || png[2] != 'N' || png[3] != 'G') return {0, 0};
  auto be = [&](std::size_t at) {
    return std::uint32_t{png[at]} << 24 | std::uint32_t{png[at + 1]} << 16 | std::uint32_t{png[at + 2]} << 8 |
           png[at + 3];
  };
  return {be(16), be(20)};
}

TEST(MapRender, ConvertDrawsAMapAndInfoLooksInTheGameFolders) {
  TempDir dir;
  BspBuilder q2 = LitTiles(BspFormat::Quake2);
  q2.textureNames = {"e1u1/floor", "e1u1/wall"};
  WriteFile(dir / "maps.pak", PakBuilder()
                                  .File("maps/a.bsp", LitTiles(BspFormat::Quake).Build())
                                  .File("maps/q2.bsp", q2.Build())
                                  .File("maps/x.bsp", "xx")
                                  .File("readme.txt", "hello")
                                  .Build());
  const std::string pak = (dir / "maps.pak").string();
  const Result drawn = Tool({"convert", "--size", "48x30", pak, "maps/a.bsp", (dir / "a.png").string()});
  ASSERT_EQ(drawn.rc, 0) << drawn.err;
  EXPECT_EQ(PngSize(ReadFile(dir / "a.png")), (std::pair<std::uint32_t, std::uint32_t>{48, 30}));
  ASSERT_EQ(Tool({"convert", pak, "maps/q2.bsp", (dir / "q2.png").string()}).rc, 0);
  EXPECT_EQ(PngSize(ReadFile(dir / "q2.png")), (std::pair<std::uint32_t, std::uint32_t>{640, 400}));

  const Result notMap = Tool({"convert", pak, "maps/x.bsp", (dir / "x.png").string()});
  EXPECT_EQ(notMap.rc, 1);
  EXPECT_NE(notMap.err.find("cannot be read as a map"), std::string::npos) << notMap.err;
  const Result text = Tool({"convert", "--size", "10x10", pak, "readme.txt", (dir / "t.png").string()});
  EXPECT_EQ(text.rc, 1);
  EXPECT_NE(text.err.find("is not a map"), std::string::npos) << text.err;
  EXPECT_FALSE(fs::exists(dir / "x.png") || fs::exists(dir / "t.png"));
  EXPECT_EQ(Tool({"convert", "--size", "0x10", pak, "maps/a.bsp", (dir / "z.png").string()}).rc, 2);

  // The wall is in a package of the game folder, not in the map's archive.
  fs::create_directories(dir / "baseq2");
  Bytes wal(100 + 16 * 16, 3);
  std::fill_n(wal.begin(), 100, 0);
  PutU32(wal, 32, 16), PutU32(wal, 36, 16), PutU32(wal, 40, 100);
  WriteFile(dir / "baseq2" / "pak0.pak", PakBuilder().File("textures/e1u1/wall.wal", wal).Build());
  const Result alone = Tool({"info", pak, "maps/q2.bsp"});
  EXPECT_NE(alone.out.find("missing texture: e1u1/wall\n"), std::string::npos) << alone.out;
  const Result game = Tool({"info", pak, "maps/q2.bsp", "--game", (dir / "baseq2").string(), "--engine", "quake2"});
  ASSERT_EQ(game.rc, 0) << game.err;
  EXPECT_EQ(game.out.find("missing texture: e1u1/wall"), std::string::npos) << game.out;
  EXPECT_NE(game.out.find("missing texture: e1u1/floor"), std::string::npos) << game.out;
  EXPECT_EQ(Tool({"info", pak, "readme.txt", "--game", (dir / "baseq2").string()}).rc, 2);
  EXPECT_EQ(Tool({"info", pak, "maps/q2.bsp", "--game", (dir / "nowhere").string()}).rc, 1);
}

// Which entities have a model, which way it faces, and an MD2 whose skin path is stale found
// with the skin beside it, turned and moved to the entity.
TEST(MapRender, EntityModelsComeFromTheArchiveTurnedAndPlaced) {
  std::vector<MapEntity> e;
  ASSERT_TRUE(
      ParseEntities("{\"classname\" \"monster_army\" \"angle\" \"90\"}"
                    "{\"classname\" \"misc_model\" \"model\" \"models/ship/Tris.MD2\" \"angles\" \"0 45 0\"}"
                    "{\"classname\" \"func_door\" \"model\" \"*1\" \"angle\" \"-1\"}",
                    e, nullptr));
  EXPECT_EQ(EntityModelPath(e[0]), "progs/soldier.mdl");
  EXPECT_EQ(EntityModelPath(e[1]), "models/ship/Tris.MD2");
  EXPECT_EQ(EntityModelPath(e[2]), "");
  EXPECT_FLOAT_EQ(EntityYaw(e[0]), 90);
  EXPECT_FLOAT_EQ(EntityYaw(e[1]), 45);
  EXPECT_FLOAT_EQ(EntityYaw(e[2]), 0);

  const std::map<std::string, Bytes> files = {{"models/ship/tris.md2", Md2({"players/old/skin.pcx"}, {"stand"})},
                                              {"models/ship/skin.pcx", SkinPcx()}};
  const MapFileLookup lookup = [&](const std::string& path, std::vector<std::uint8_t>& out) {
    const auto it = files.find(path);
    if (it == files.end()) return false;
    out = it->second;
    return true;
  };
  const float origin[3] = {10, 20, 30};
  MapModelMesh mesh;
  std::string why;
  ASSERT_TRUE(BuildMapModel("models/ship/Tris.MD2", lookup, origin, 90, mesh, &why)) << why;
  ASSERT_EQ(mesh.vertices.size(), 15u);
  // Frame 0's vertices lie at x 1, 2, 3: turned a quarter they go along y.
  EXPECT_NEAR(mesh.vertices[0], 10, 1e-4);
  EXPECT_NEAR(mesh.vertices[1], 21, 1e-4);
  EXPECT_FLOAT_EQ(mesh.vertices[2], 30);
  EXPECT_NEAR(mesh.maxs[1], 23, 1e-4);
  EXPECT_EQ(mesh.skinWidth, 2);
  EXPECT_EQ(mesh.skin.size(), 2u * static_cast<std::size_t>(mesh.skinHeight) * 3);
  EXPECT_FALSE(BuildMapModel("progs/gone.mdl", lookup, origin, 0, mesh, &why));
  EXPECT_TRUE(mesh.empty());
  EXPECT_NE(why.find("progs/gone.mdl"), std::string::npos);
}

TEST(MapRender, RealMapsDrawFromTheirStart) {
  TARN_REQUIRE_SAMPLES();
  for (const char* rel : {"LibreQuake/lq1/maps/e2m2.bsp", "qbsp/assets/example-quake2.bsp",
                          "TrenchBroom/lib/TbMdlLib/test/fixture/mdl/LoadBspModel/hl.bsp",
                          "quake2-source-archive/sources/coopordie/game/trunk/data/maps/pregame.bsp"}) {
    const fs::path path = SamplesDir() / rel;
    if (!fs::exists(path)) continue;
    BspMap map;
    ASSERT_TRUE(LoadBsp(ReadFile(path), map, nullptr)) << rel;
    const Drawn d = Draw(ReadFile(path), MapStartCamera(map), 160, 100);
    EXPECT_GT(d.Lit(), 160u * 100 / 2) << rel;
  }
}

// COOP or DIE's pregame map names the sky box "space1", turning 5 degrees a second about
// (1, 1, 0); the samples hold no env pictures, so they are missing until they are given, and
// then its start sees the box's back (+y) through the window ahead.
TEST(MapRender, RealQuake2SkyIsItsWorldspawnsBox) {
  TARN_REQUIRE_SAMPLES();
  const fs::path data = SamplesDir() / "quake2-source-archive/sources/coopordie/game/trunk/data";
  if (!fs::exists(data / "maps/pregame.bsp")) GTEST_SKIP() << "no pregame.bsp";
  const Bytes bytes = ReadFile(data / "maps/pregame.bsp");
  BspMap map;
  ASSERT_TRUE(LoadBsp(bytes, map, nullptr));
  const MapSkyBox box = MapSkyBoxOf(map);
  EXPECT_EQ(box.name, "space1");
  EXPECT_FLOAT_EQ(box.rotate, 5);
  EXPECT_EQ(std::vector<float>(box.axis, box.axis + 3), (std::vector<float>{1, 1, 0}));
  bool withBox = false;
  const MapFileLookup lookup = [&](const std::string& path, std::vector<std::uint8_t>& out) {
    if (withBox && path.rfind("env/space1", 0) == 0 && path.size() > 4 && path.substr(path.size() - 4) == ".tga") {
      out = MarkedTga(0, 200, 0);
      return true;
    }
    return fs::exists(data / path) && (out = ReadFile(data / path), true);
  };
  const std::vector<std::string> missing = MissingMapTextures(map, lookup);
  EXPECT_NE(std::find(missing.begin(), missing.end(), "env/space1bk"), missing.end());
  const auto green = [&] {
    const Drawn d = Draw(bytes, MapStartCamera(map), 160, 100, lookup);
    std::size_t n = 0;
    for (std::size_t i = 0; i < d.rgb.size(); i += 3) n += d.rgb[i] == 0 && d.rgb[i + 1] == 200 && d.rgb[i + 2] == 0;
    return n;
  };
  EXPECT_EQ(green(), 0u);
  withBox = true;
  EXPECT_GT(green(), 100u);
  EXPECT_TRUE(MissingMapTextures(map, lookup).size() < missing.size());
}

// The light pages of a map whose faces point their lightmaps anywhere stay within what its
// lighting lump holds: lightmaps wider than the engines draw are left out, faces lighting from
// the same bytes share them, and what the lump cannot hold as faces of their own is drawn unlit.
TEST(MapRender, LightPagesAreBoundedByTheLightingLump) {
  const auto meshOf = [](const Bytes& bytes, int side = kMapPageSide) {
    BspMap map;
    EXPECT_TRUE(LoadBsp(bytes, map, nullptr));
    return BuildMapMesh(map, MapTextureSizes(map, DecodeMapImages(map, {})), side);
  };
  // 601 luxels a side, each face once a 1024 × 1024 page of its own.
  const MapMesh huge = meshOf(SharedLightFloors(200).Build());
  EXPECT_EQ(huge.drawnFaces, 200u);
  EXPECT_EQ(huge.oversizedLight, 200u);
  ASSERT_EQ(huge.pages.size(), 1u);
  EXPECT_EQ(huge.pageSide, 16);
  EXPECT_EQ(huge.pages[0].rgb.size(), 16u * 16 * 3);

  // The widest the engines draw, all from one lightmap: one block on one page.
  const MapMesh shared = meshOf(SharedLightFloors(200, 16 * (kMostMapLuxels - 1)).Build());
  EXPECT_EQ(shared.oversizedLight + shared.excessLight, 0u);
  EXPECT_EQ(shared.pages.size(), 1u);
  EXPECT_EQ(shared.pageSide, 512);
  // Drawn as one face with that light is.
  const Drawn one = Draw(SharedLightFloors(1, 240, 64).Build(), Above(100));
  EXPECT_EQ(Draw(SharedLightFloors(3, 240, 64).Build(), Above(100)).rgb, one.rgb);
  EXPECT_NEAR(one.At(one.width / 2, one.height / 2)[0], QuakePalette().colors[5].r * 128 / 255, 2);

  // Lightmaps of 64 × 64 a byte apart, each mostly the bytes of the one before: the lump holds
  // one of them.
  BspBuilder apart(BspFormat::Quake);
  apart.miptex = {BspMiptex("floor", 16, 16, 5)};
  apart.lighting = Bytes(64 * 64 + 99, 100);
  for (int i = 0; i < 100; ++i) apart.Tile(0, 0, 0, i, 16 * 63);
  const MapMesh overlapping = meshOf(apart.Build());
  EXPECT_EQ(overlapping.excessLight, 99u);
  EXPECT_EQ(overlapping.pages.size(), 1u);
  EXPECT_EQ(overlapping.pageSide, 128);

  // Lightmaps of their own past kMostMapPages pages: the last ones unlit. Three 5 × 5 blocks
  // (7 × 7 with their borders) fit a page of 16 beside its white corner.
  BspBuilder many(BspFormat::Quake);
  many.miptex = {BspMiptex("floor", 16, 16, 5)};
  many.lighting = Bytes(200 * 25, 100);
  for (int i = 0; i < 200; ++i) many.Tile(static_cast<float>(i) * 64, 0, 0, 25 * i);
  const MapMesh capped = meshOf(many.Build(), 16);
  EXPECT_EQ(capped.pages.size(), static_cast<std::size_t>(kMostMapPages));
  EXPECT_EQ(capped.excessLight, 200u - 3 * kMostMapPages);
  // Without the cap, as real maps are, on one page as small as holds them.
  const MapMesh real = meshOf(many.Build());
  EXPECT_EQ(real.excessLight, 0u);
  EXPECT_EQ(real.pages.size(), 1u);
  EXPECT_EQ(real.pageSide, 128);
}

// However many faces lie across the view, a picture takes at most kMapRenderWorkPerPixel
// depth tests a pixel: the faces past that are left out and the picture says it was cut short.
TEST(MapRender, FacesPiledAcrossTheViewCutThePictureShort) {
  BspMap map;
  ASSERT_TRUE(LoadBsp(PiledWalls(600).Build(), map, nullptr));
  const MapScene scene = BuildMapScene(map, {});
  std::vector<std::uint8_t> rgb;
  MapRenderWork work;
  ASSERT_TRUE(RenderMap(scene, MapStartCamera(map), 32, 20, rgb, &work));
  EXPECT_TRUE(work.cutShort);
  EXPECT_LE(work.done, kMapRenderWorkPerPixel * 32 * 20);
  EXPECT_GE(work.done + 32, kMapRenderWorkPerPixel * 32 * 20);
  EXPECT_EQ(std::count(rgb.begin(), rgb.end(), 0), 0);  // the walls drawn so far fill it
  MapRenderWork few;
  few.limit = 1000;
  ASSERT_TRUE(RenderMap(scene, MapStartCamera(map), 32, 20, rgb, &few));
  EXPECT_TRUE(few.cutShort);
  EXPECT_LE(few.done, 1000u);
  // A few walls are drawn whole.
  BspMap three;
  ASSERT_TRUE(LoadBsp(PiledWalls(3).Build(), three, nullptr));
  ASSERT_TRUE(RenderMap(BuildMapScene(three, {}), MapStartCamera(three), 32, 20, rgb, &work));
  EXPECT_FALSE(work.cutShort);
  EXPECT_GE(work.done, 3u * 32 * 20);

  // convert writes no picture cut short; the map of huge lightmaps draws.
  TempDir dir;
  WriteFile(dir / "maps.pak", PakBuilder()
                                  .File("maps/piled.bsp", PiledWalls(600).Build())
                                  .File("maps/light.bsp", SharedLightFloors(400).Build())
                                  .Build());
  const std::string pak = (dir / "maps.pak").string();
  const Result piled = Tool({"convert", "--size", "32x20", pak, "maps/piled.bsp", (dir / "p.png").string()});
  EXPECT_EQ(piled.rc, 1);
  EXPECT_NE(piled.err.find("cut short"), std::string::npos) << piled.err;
  EXPECT_FALSE(fs::exists(dir / "p.png"));
  const Result light = Tool({"convert", "--size", "32x20", pak, "maps/light.bsp", (dir / "l.png").string()});
  EXPECT_EQ(light.rc, 0) << light.err;
  EXPECT_EQ(PngSize(ReadFile(dir / "l.png")), (std::pair<std::uint32_t, std::uint32_t>{32, 20}));

  // Out of memory, convert says so and writes nothing.
  Result starved;
  {
    AllocationLimit limit(8 << 20);
    starved = Tool({"convert", "--size", "4096x4096", pak, "maps/light.bsp", (dir / "m.png").string()});
  }
  EXPECT_EQ(starved.rc, 1);
  EXPECT_NE(starved.err.find("not enough memory"), std::string::npos) << starved.err;
  EXPECT_FALSE(fs::exists(dir / "m.png"));
}

// Quake II's sky is the box of six pictures worldspawn's "sky" names, each seen upright where the
// engine puts it (yquake2 gl1_warp.c): +x rt, +y bk, -x lf, -y ft, up and down (facing +x).
TEST(MapRender, Quake2SkyIsTheBoxTheWorldspawnNames) {
  const std::map<std::string, std::array<std::uint8_t, 3>> colours = {{"rt", {200, 0, 0}},   {"bk", {0, 200, 0}},
                                                                      {"lf", {0, 0, 200}},   {"ft", {200, 200, 0}},
                                                                      {"up", {0, 200, 200}}, {"dn", {200, 0, 200}}};
  Bytes pcx = SkinPcx();
  pcx[0] = 0x0A;  // the engine's LoadPCX wants its maker's mark
  const MapFileLookup lookup = [&](const std::string& path, std::vector<std::uint8_t>& bytes) {
    if (path == "env/dusk_rt.pcx") return bytes = pcx, true;  // a TGA of the name comes first
    for (const auto& [side, c] : colours)
      if (path == "env/dusk_" + side + ".tga" && side != "dn") return bytes = MarkedTga(c[0], c[1], c[2]), true;
    if (path == "env/dusk_dn.pcx") return bytes = pcx, true;  // no TGA: the PCX
    return false;
  };
  const Bytes bytes = Quake2SkyRoom("\"sky\" \"dusk_\"\n\"skyrotate\" \"5\"\n\"skyaxis\" \"1 1 0\"\n");
  BspMap map;
  ASSERT_TRUE(LoadBsp(bytes, map, nullptr));
  const MapSkyBox box = MapSkyBoxOf(map);
  EXPECT_EQ(box.name, "dusk_");
  EXPECT_FLOAT_EQ(box.rotate, 5);
  EXPECT_FLOAT_EQ(box.axis[1], 1);
  const std::vector<std::string> sides = MapFilesWanted(map);
  EXPECT_NE(std::find(sides.begin(), sides.end(), "env/dusk_up.tga"), sides.end());
  EXPECT_NE(std::find(sides.begin(), sides.end(), "env/dusk_up.pcx"), sides.end());

  const auto look = [&](float yaw, float pitch) {
    MapCamera c;
    c.yaw = yaw, c.pitch = pitch;
    return Draw(bytes, c, 40, 40, lookup);
  };
  const auto colour = [](const Drawn& d, int x, int y) { return std::vector<int>(d.At(x, y), d.At(x, y) + 3); };
  const struct {
    const char* side;
    float yaw, pitch;
  } views[] = {{"rt", 0, 0}, {"bk", 90, 0}, {"lf", 180, 0}, {"ft", 270, 0}, {"up", 0, -89}};
  for (const auto& v : views) {
    SCOPED_TRACE(v.side);
    const Drawn d = look(v.yaw, v.pitch);
    const auto& c = colours.at(v.side);
    // Upright and unmirrored: the white quarter at the top left, the colour elsewhere.
    EXPECT_EQ(colour(d, 8, 8), (std::vector<int>{255, 255, 255}));
    for (const auto& [x, y] : {std::pair{31, 8}, std::pair{8, 31}, std::pair{31, 31}})
      EXPECT_EQ(colour(d, x, y), (std::vector<int>{c[0], c[1], c[2]}));
  }
  // The floor's picture, a 2 × 1 PCX of (3, 3, 255) and (7, 7, 255), upright too looking down
  // facing +x.
  const Drawn down = look(0, 89);
  EXPECT_EQ(colour(down, 8, 20), (std::vector<int>{3, 3, 255}));
  EXPECT_EQ(colour(down, 31, 20), (std::vector<int>{7, 7, 255}));
  EXPECT_EQ(colour(look(0, 0), 31, 31), (std::vector<int>{200, 0, 0}));  // rt's TGA, not its PCX

  // Without its pictures the sky keeps its own texture, and the missing ones are named.
  const MapFileLookup none = [](const std::string&, std::vector<std::uint8_t>&) { return false; };
  const MapImages images = DecodeMapImages(map, none);
  EXPECT_EQ(images.skyBox.width, 0);
  EXPECT_EQ(images.missing, (std::vector<std::string>{"e1u1/sky1", "env/dusk_rt", "env/dusk_bk", "env/dusk_lf",
                                                      "env/dusk_ft", "env/dusk_up", "env/dusk_dn"}));
  EXPECT_EQ(MissingMapTextures(map, none), images.missing);
  // Here the checkerboard standing in for the missing texture, seen at a level of its mean.
  EXPECT_EQ(colour(Draw(bytes, MapCamera{}, 40, 40, none), 31, 31), (std::vector<int>{120, 20, 120}));

  // The engine's default box, and no box for a name that leaves the game's folder.
  ASSERT_TRUE(LoadBsp(Quake2SkyRoom(""), map, nullptr));
  EXPECT_EQ(MapSkyBoxOf(map).name, "unit1_");
  ASSERT_TRUE(LoadBsp(Quake2SkyRoom("\"sky\" \"../../x\"\n"), map, nullptr));
  EXPECT_EQ(MapSkyBoxOf(map).name, "");
}

// Quake II's surface flags decide how a face is drawn, as ref_gl draws it: sky before all (its
// faces are SURF_NODRAW too), NODRAW not at all, WARP unlit, TRANS33 and TRANS66 blended; the
// blended ones come after every opaque one. Quake's "*" liquids take the worldspawn's wateralpha.
TEST(MapLook, SurfacesOfEachKindAreDrawnAsTheEngineDraws) {
  BspBuilder b(BspFormat::Quake2);
  b.textureNames = {"a", "b", "c", "d", "e"};
  for (int i = 0; i < 5; ++i) b.Tile(static_cast<float>(i) * 64, 0, i);
  Bytes bytes = b.Build();
  const BspLumpIndex ix = LumpIndex(BspFormat::Quake2);
  BspHeader h;
  ASSERT_TRUE(ReadBspHeader(bytes, h, nullptr));
  const std::uint32_t flags[5] = {0x10, 0x20 | 0x8, 0x4 | 0x80, 0x80, 0};
  for (std::size_t i = 0; i < 5; ++i)
    PutU32(bytes, static_cast<std::size_t>(h.lumps[static_cast<std::size_t>(ix.texinfo)].offset) + i * 76 + 32,
           flags[i]);
  BspMap map;
  ASSERT_TRUE(LoadBsp(bytes, map, nullptr));
  const MapLook look;
  EXPECT_FLOAT_EQ(MapFaceStyleOf(map, 0, look).alpha, 0.33f);
  EXPECT_EQ(MapFaceStyleOf(map, 1, look).surface, MapSurface::Liquid);
  EXPECT_FLOAT_EQ(MapFaceStyleOf(map, 1, look).alpha, 0.66f);
  EXPECT_EQ(MapFaceStyleOf(map, 2, look).surface, MapSurface::Sky);
  EXPECT_EQ(MapFaceStyleOf(map, 3, look).surface, MapSurface::Hidden);
  EXPECT_EQ(MapFaceStyleOf(map, 4, look).surface, MapSurface::Solid);
  const MapMesh mesh = BuildMapMesh(map, {});
  ASSERT_EQ(mesh.groups.size(), 4u);
  EXPECT_EQ(mesh.groups[0].alpha, 1.0f);
  EXPECT_EQ(mesh.groups[1].alpha, 1.0f);
  EXPECT_LT(mesh.groups[2].alpha, 1.0f);
  EXPECT_LT(mesh.groups[3].alpha, 1.0f);

  BspBuilder q(BspFormat::Quake);
  q.miptex = {BspMiptex("*water1", 16, 16, 5), BspMiptex("*lava1", 16, 16, 5), BspMiptex("sky1", 32, 16, 5)};
  q.entities = "{\n\"classname\" \"worldspawn\"\n\"_wateralpha\" \"0.4\"\n\"lavaalpha\" \"0\"\n}\n";
  q.Tile(0, 0, 0).Tile(64, 0, 1).Tile(128, 0, 2);
  ASSERT_TRUE(LoadBsp(q.Build(), map, nullptr));
  const MapLiquids liquids = MapLiquidsOf(map);
  EXPECT_FLOAT_EQ(MapFaceStyleOf(map, 0, look, &liquids).alpha, 0.4f);
  EXPECT_FLOAT_EQ(MapFaceStyleOf(map, 1, look, &liquids).alpha, 0.4f);  // lava's 0: water's
  EXPECT_EQ(MapFaceStyleOf(map, 2, look, &liquids).surface, MapSurface::Sky);
  EXPECT_FLOAT_EQ(MapFaceStyleOf(map, 0, look).alpha, 1.0f);
}

}  // namespace
}  // namespace tarn::test
