#include "ModelBuilders.h"
#include "TestSupport.h"
#include "document/TarnDoc.h"
#include "models/Model.h"
#include "models/ModelBuild.h"
#include "models/ModelExport.h"
#include "models/ModelHeader.h"

#include <map>

namespace tarn::test {
namespace {

std::vector<std::pair<std::string, std::size_t>> Animations(const ModelData& m) {
  std::vector<std::pair<std::string, std::size_t>> out;
  for (const auto& a : m.animations) out.push_back({a.name, a.frames.size()});
  return out;
}

std::vector<std::string> Numbered(const std::string& base, int from, int to) {
  std::vector<std::string> names;
  for (int i = from; i <= to; ++i) names.push_back(base + std::to_string(i));
  return names;
}

// Archive-free host that records what the loader asks.
struct RecordingHost : CModelHost {
  std::map<std::string, CPackObject*> skins;
  std::vector<std::string> missing, statuses;
  ExternalSkinChoice external;
  int steps = 0, range = -1, asked = 0;
  CPackObject* FindSkin(const std::string& p) override { return skins.count(p) ? skins[p] : nullptr; }
  void Progress(const std::string&, const std::string& status, int r) override {
    range = r;
    statuses.push_back(status);
  }
  void Status(const std::string& s) override { statuses.push_back(s); }
  void Step() override { ++steps; }
  void MissingSkins(const std::vector<std::string>& p) override { missing = p; }
  ExternalSkinChoice ExternalSkins() override {
    ++asked;
    return external;
  }
};

TEST(ModelNames, AnimationRulesOfBothFormats) {
  EXPECT_EQ(MdlAnimationName("walk1"), "walk");
  EXPECT_EQ(MdlAnimationName("attack10"), "attack");
  EXPECT_EQ(MdlAnimationName("attack8"), "attack");
  EXPECT_EQ(MdlAnimationName("frame"), "frame");
  EXPECT_EQ(MdlAnimationName("1st"), "frames");  // LibreQuake's s_light.mdl: "1", "2", "3"
  EXPECT_EQ(Md2AnimationName("stand01"), "stand");
  EXPECT_EQ(Md2AnimationName("pain301"), "pain3");
  EXPECT_EQ(Md2AnimationName("death101"), "death1");
  // Two characters from the first digit stay in the number: only a third moves the cut.
  EXPECT_EQ(Md2AnimationName("attack10"), "attack");
  EXPECT_EQ(Md2AnimationName("attack101"), "attack1");
  EXPECT_EQ(Md2AnimationName("attack8"), "attack");
  EXPECT_EQ(Md2AnimationName("stand001"), "stand");  // three-digit counts
  EXPECT_EQ(Md2AnimationName("run0120"), "run");
  EXPECT_EQ(Md2AnimationName("9"), "frames");
  EXPECT_EQ(PaddedSize(300), 512);
  EXPECT_EQ(PaddedSize(200), 256);
  EXPECT_EQ(PaddedSize(1), 1);
  EXPECT_EQ(PaddedSize(0), 1);
  EXPECT_EQ(PaddedSize(64), 64);
}

TEST(Mdl, FramesGroupIntoAnimationsInOrder) {
  auto names = Numbered("walk", 1, 8);
  auto run = Numbered("run", 1, 6);
  names.insert(names.end(), run.begin(), run.end());
  names.push_back("attack10");
  names.push_back("attack8");
  names.push_back("1st");
  ModelData m;
  ASSERT_TRUE(LoadMdl(Mdl(names), m));
  EXPECT_EQ(Animations(m),
            (std::vector<std::pair<std::string, std::size_t>>{{"walk", 8}, {"run", 6}, {"attack", 2}, {"frames", 1}}));
  EXPECT_EQ(m.format, ModelData::kMdl);
  EXPECT_EQ(m.vertexCount, 3);
  EXPECT_EQ(m.FrameCount(), 17);
  const ModelVertex& v = m.animations[0].frames[0].vertices[2];
  EXPECT_FLOAT_EQ(v.x, 2 * 2 + 1);
  EXPECT_FLOAT_EQ(v.z, 6 * 2 + 1);
  EXPECT_EQ(m.triangles[0].facesFront, 0);
  EXPECT_EQ(m.triangles[0].texCoord[0], -1);
}

TEST(Mdl, SkinsArePaddedWithBlack) {
  ModelData m;
  ASSERT_TRUE(LoadMdl(Mdl({"f"}, 300, 200), m));
  ASSERT_EQ(m.skins.size(), 1u);
  const ModelSkin& s = m.skins[0];
  EXPECT_EQ(s.paddedWidth, 512);
  EXPECT_EQ(s.paddedHeight, 256);
  EXPECT_EQ(s.pixels.size(), 512u * 256 * 3);
  Palette quake;
  LoadPalette(kQuakePaletteId, quake);
  const Rgb& c = quake.colors[(17 + 3) % 256];
  const std::uint8_t* px = &s.pixels[(3 * 512 + 17) * 3];
  EXPECT_EQ(Rgb({px[0], px[1], px[2]}), c);
  const std::uint8_t* pad = &s.pixels[(3 * 512 + 400) * 3];
  EXPECT_EQ(Rgb({pad[0], pad[1], pad[2]}), Rgb({0, 0, 0}));
  EXPECT_TRUE(s.name.empty());
}

TEST(Mdl, DamagedModelsLoadNothing) {
  ModelData m;
  std::string why;
  EXPECT_FALSE(LoadMdl(Bytes(83, 0), m, &why));
  Bytes notMdl = Mdl({"f"});
  notMdl[0] = 'X';
  EXPECT_FALSE(LoadMdl(notMdl, m, &why));
  const Bytes good = Mdl({"a", "b"});
  for (std::size_t cut = 84; cut < good.size(); cut += 7) {
    EXPECT_FALSE(LoadMdl(Bytes(good.begin(), good.begin() + static_cast<long>(cut)), m, &why)) << cut;
    EXPECT_TRUE(m.animations.empty() && m.skins.empty());
  }
  Bytes badIndex = good;
  PutU32(badIndex, 84 + 4 + 8 + 36 + 8, 3);  // the triangle's last corner: vertex 3 of 3
  EXPECT_FALSE(LoadMdl(badIndex, m, &why));
  EXPECT_NE(why.find("vertex"), std::string::npos);
  Bytes huge = good;
  PutU32(huge, 68, 0x7FFFFFFF);  // frame count
  EXPECT_FALSE(LoadMdl(huge, m, &why));
  Bytes tail = good;  // editors append chunks of their own
  tail.insert(tail.end(), {'Q', 'M', 'E', 'X', 1, 2, 3});
  EXPECT_TRUE(LoadMdl(tail, m, &why));
}

TEST(Mdl, GroupSkinsArePassedOverNotMisread) {
  Bytes b = Mdl({"f"}, 2, 2);
  // Put a group of two skins before the single one: type 1, count 2, two intervals, two pictures.
  Bytes group;
  PutU32(group, 0, 1);
  PutU32(group, 4, 2);
  PutF32(group, 8, 0.1f);
  PutF32(group, 12, 0.2f);
  group.insert(group.end(), 8, 0xEE);
  b.insert(b.begin() + 84, group.begin(), group.end());
  PutU32(b, 48, 2);
  ModelData m;
  ASSERT_TRUE(LoadMdl(b, m));
  EXPECT_EQ(m.skins.size(), 1u);
  EXPECT_EQ(m.animations.size(), 1u);
}

TEST(Md2, SkinsComeFromTheArchiveAndFramesGroupByTheirRule) {
  TempDir dir;
  CTarnDoc doc;
  CPackObject* skinDir = doc.Root().AddChild("players", true)->AddChild("male", true);
  CPackObject* grunt = skinDir->AddChild("grunt.pcx", false);
  grunt->SetData(SkinPcx());
  grunt->SetSize(static_cast<std::int32_t>(SkinPcx().size()));
  RecordingHost host;
  host.skins["players/male/grunt.pcx"] = grunt;
  std::vector<std::string> frames = Numbered("walk", 1, 8);
  auto run = Numbered("run", 1, 6);
  frames.insert(frames.end(), run.begin(), run.end());
  frames.push_back("attack101");
  frames.push_back("attack8");
  ModelData m;
  ASSERT_TRUE(LoadMd2(Md2({"players/male/grunt.pcx", "players/male/gone.pcx"}, frames), m, host));
  EXPECT_EQ(m.format, ModelData::kMd2);
  EXPECT_EQ(Animations(m),
            (std::vector<std::pair<std::string, std::size_t>>{{"walk", 8}, {"run", 6}, {"attack1", 1}, {"attack", 1}}));
  ASSERT_EQ(m.skins.size(), 1u);
  EXPECT_EQ(m.skins[0].name, "grunt.pcx");
  EXPECT_EQ(m.skins[0].paddedWidth, 2);
  EXPECT_EQ(m.skins[0].pixels[0], 3);  // index 3 through the skin's own palette
  EXPECT_EQ(m.skins[0].pixels[5], 255);
  EXPECT_EQ(host.missing, std::vector<std::string>{"players/male/gone.pcx"});
  EXPECT_EQ(host.range, 16 + 2 + 2);
  EXPECT_EQ(host.steps, 20);
  EXPECT_EQ(host.statuses.front(), "Reading header info");
  EXPECT_EQ(host.statuses[1], "Reading skin 1/2");
  EXPECT_EQ(host.statuses.back(), "Updating animations");
  EXPECT_EQ(m.triangles[0].texCoord[0], 2);
}

TEST(Md2, WithoutSkinsTheUserMayChooseFilesOrNothing) {
  TempDir dir;
  WriteFile(dir / "ext.pcx", SkinPcx());
  RecordingHost host;
  ModelData m;
  // Nothing chosen: a checkerboard of the header's skin size stands in, and the model is drawn.
  Bytes sized = Md2({"models/x/missing.pcx"}, {"stand01"});
  PutU32(sized, 8, 16), PutU32(sized, 12, 8);
  ASSERT_TRUE(LoadMd2(sized, m, host));
  EXPECT_EQ(host.asked, 1);
  ASSERT_EQ(m.skins.size(), 1u);
  EXPECT_TRUE(m.skins[0].placeholder);
  EXPECT_EQ(m.skins[0].width, 16);
  EXPECT_EQ(m.skins[0].height, 8);
  EXPECT_NE(m.skins[0].pixels[0], m.skins[0].pixels[3]);  // eight squares across its height
  EXPECT_EQ(m.RealSkinCount(), 0);
  EXPECT_EQ(m.missingSkins, std::vector<std::string>{"models/x/missing.pcx"});
  EXPECT_EQ(BuildFrameGeometry(m, 0, 0).size(), 3u);
  CPackObject entry;
  entry.Rename("inside.pcx");
  entry.SetData(SkinPcx());
  entry.SetSize(static_cast<std::int32_t>(SkinPcx().size()));
  host.external.entries = {&entry};
  host.external.files = {(dir / "ext.pcx").string(), (dir / "unreadable.pcx").string()};
  ASSERT_TRUE(LoadMd2(Md2({}, {"stand01"}), m, host));
  ASSERT_EQ(m.skins.size(), 3u);
  EXPECT_EQ(m.skins[0].name, "inside.pcx");  // archive entries first
  EXPECT_EQ(m.skins[0].width, 2);
  EXPECT_EQ(m.skins[1].name, "ext.pcx");
  EXPECT_EQ(m.skins[1].width, 2);
  EXPECT_EQ(m.skins[2].width, 0);  // a file that cannot be read leaves its skin empty
}

TEST(Md2, AWrongSkinPathFindsThePicturesBesideTheModel) {
  TempDir dir;
  WriteFile(dir / "m.pak", PakBuilder()
                               .File("models/monster/tris.md2", Md2({}, {"stand01"}))
                               .File("models/monster/skin.pcx", SkinPcx())
                               .File("models/monster/pain.pcx", SkinPcx())
                               .File("models/monster/zz.pcx", SkinPcx())
                               .File("models/other/a.pcx", SkinPcx())
                               .File("models/bare/tris.md2", Md2({}, {"stand01"}))
                               .Build());
  CTarnDoc doc;
  ASSERT_TRUE(doc.Open(dir / "m.pak"));
  CArchiveModelHost host(*doc.Root().FindByPath("models/monster/tris.md2"));
  // Its own name beside the model, then the other pictures there by name, each taken once.
  EXPECT_EQ(host.FindSkin("players/monster/SKIN.pcx"), doc.Root().FindByPath("models/monster/skin.pcx"));
  EXPECT_EQ(host.FindSkin("gone/first.pcx"), doc.Root().FindByPath("models/monster/pain.pcx"));
  EXPECT_EQ(host.FindSkin("gone/second.pcx"), doc.Root().FindByPath("models/monster/zz.pcx"));
  EXPECT_EQ(host.FindSkin("gone/third.pcx"), nullptr);
  EXPECT_EQ(host.FindSkin("models/other/a.pcx"), doc.Root().FindByPath("models/other/a.pcx"));  // the path still wins
  const auto offered = host.ArchiveSkins();
  ASSERT_EQ(offered.size(), 4u);
  EXPECT_EQ(offered.back()->PathInArchive(), "models/other/a.pcx");  // the model's own directory first
  CArchiveModelHost bare(*doc.Root().FindByPath("models/bare/tris.md2"));
  EXPECT_EQ(bare.FindSkin("models/bare/skin.pcx"), nullptr);

  // Loaded through the host: the skin is named after the file found.
  ModelData m;
  CArchiveModelHost loader(*doc.Root().FindByPath("models/monster/tris.md2"));
  ASSERT_TRUE(LoadMd2(Md2({"players/monster/pain.pcx"}, {"stand01"}), m, loader));
  ASSERT_EQ(m.skins.size(), 1u);
  EXPECT_EQ(m.skins[0].name, "pain.pcx");
  EXPECT_EQ(m.skins[0].width, 2);
}

TEST(Md2, DamagedModelsLoadNothing) {
  RecordingHost host;
  host.external.files = {"/nonexistent.pcx"};
  ModelData m;
  std::string why;
  EXPECT_FALSE(LoadMd2(Bytes(67, 0), m, host, &why));
  const Bytes good = Md2({}, {"a1", "a2"});
  Bytes offsets = good;
  PutU32(offsets, 56, 0x7FFFFFF0);  // frames far beyond the end
  EXPECT_FALSE(LoadMd2(offsets, m, host, &why));
  Bytes badSt = good;
  PutI16(badSt, 68 + 12 + 6, 3);  // texture coordinate 3 of 3
  EXPECT_FALSE(LoadMd2(badSt, m, host, &why));
  Bytes smallFrames = good;
  PutU32(smallFrames, 16, 12);
  EXPECT_FALSE(LoadMd2(smallFrames, m, host, &why));
  EXPECT_TRUE(m.animations.empty());
}

// Quakespasm ("has wrong version number (7 should be 6)") and DarkPlaces (Host_Error) stop at a
// model of another version: Tarn does not read one as a model either, and says why.
TEST(Models, VersionsAndFirstBytesNoEngineLoadsAreRefused) {
  ModelData m;
  std::string why;
  EXPECT_FALSE(LoadMdl(Mdl({"stand1"}, 4, 2, 7), m, &why));
  EXPECT_EQ(why, "it is version 7, and Quake models are version 6: the engines refuse it");
  EXPECT_TRUE(LoadMdl(Mdl({"stand1"}), m, &why)) << why;
  RecordingHost host;
  Bytes md2 = Md2({}, {"a1"});
  PutU32(md2, 4, 9);
  EXPECT_FALSE(LoadMd2(md2, m, host, &why));
  EXPECT_EQ(why, "it is version 9, and Quake II models are version 8: the engines refuse it");
  md2 = Md2({}, {"a1"});
  std::memcpy(md2.data(), "IDPO", 4);
  EXPECT_FALSE(LoadMd2(md2, m, host, &why));
  EXPECT_EQ(why, "not a Quake II model");
  EXPECT_TRUE(m.animations.empty());
}

// A skin found but not a PCX (cube2's models name PNG skins) is read as the picture it is; one
// that is no picture at all is told, and the checkerboard stands in.
TEST(Md2, SkinsOfOtherPictureFormatsAndUnreadableOnes) {
  const std::uint8_t rgb[2 * 3] = {10, 20, 30, 40, 50, 60};
  const Bytes png = EncodePngRgb(2, 1, 6, rgb);
  CPackObject pngEntry, junk;
  pngEntry.Rename("skin.png");
  pngEntry.SetData(png);
  pngEntry.SetSize(static_cast<std::int32_t>(png.size()));
  junk.Rename("bad.pcx");
  junk.SetData(ToBytes("not a picture"));
  junk.SetSize(13);
  RecordingHost host;
  host.skins["models/c/skin.png"] = &pngEntry;
  host.skins["models/c/bad.pcx"] = &junk;
  ModelData m;
  ASSERT_TRUE(LoadMd2(Md2({"models/c/skin.png", "models/c/bad.pcx"}, {"idle01"}), m, host));
  ASSERT_EQ(m.skins.size(), 1u);
  EXPECT_EQ(m.skins[0].width, 2);
  EXPECT_EQ(m.skins[0].pixels[3], 40);
  EXPECT_EQ(m.unreadableSkins, std::vector<std::string>{"models/c/bad.pcx"});
  EXPECT_EQ(host.asked, 0);
  ASSERT_TRUE(LoadMd2(Md2({"models/c/bad.pcx"}, {"idle01"}), m, host));
  EXPECT_TRUE(m.skins.at(0).placeholder);
}

// Quake II's tools and id's models keep texture coordinates on the skin (0 to width - 1);
// DarkPlaces moves any other to 0, 0. A u or v of 1, or past it, lands on the last pixel.
TEST(ModelBuild, Md2TextureCoordinatesStayOnTheSkin) {
  SourceModel quad;
  quad.vertexCount = 4;
  quad.triangles = {{{{0, 0, 0}, {1, 1, 0}, {2, 1, 1}}}, {{{0, 0, 0}, {2, 1, 1}, {3, -0.5f, 1.5f}}}};
  quad.frames = {{"base1", {0, 0, 0, 0, 16, 0, 0, 16, 16, 0, 0, 16}}};
  PackedModel packed;
  std::string why;
  ASSERT_TRUE(PackModel(quad, ModelData::kMd2, 16, 8, packed, &why)) << why;
  int maxS = 0, maxT = 0, minST = 0;
  for (const ModelVertex& st : packed.texCoords)
    maxS = std::max(maxS, st.s), maxT = std::max(maxT, st.t), minST = std::min({minST, st.s, st.t});
  EXPECT_EQ(maxS, 15);
  EXPECT_EQ(maxT, 7);
  EXPECT_EQ(minST, 0);
  packed.skinPath = "models/q/skin.pcx";
  EXPECT_EQ(FindMd2OffSkinCoordinates(WriteMd2(packed)).count, 0);
}

TEST(BuildFrame, OnSeamCornersOfBackFacesShiftByHalfTheSkin) {
  ModelData m;
  ASSERT_TRUE(LoadMdl(Mdl({"f"}, 296, 4), m));
  ASSERT_EQ(m.skins[0].paddedWidth, 512);
  auto corners = BuildFrameGeometry(m, 0, 0);
  ASSERT_EQ(corners.size(), 3u);
  // Vertex 0 is on the seam with s = 0, on a triangle facing back: 0 + 296 / 2 = 148.
  EXPECT_DOUBLE_EQ(corners[0].s, 148.0 / 512);
  EXPECT_DOUBLE_EQ(corners[1].s, 10.0 / 512);  // not on the seam
  EXPECT_DOUBLE_EQ(corners[2].t, 10.0 / 4);
  m.texCoords[0].s = 10;
  corners = BuildFrameGeometry(m, 0, 0);
  EXPECT_DOUBLE_EQ(corners[0].s, 158.0 / 512);
  m.triangles[0].facesFront = 1;
  EXPECT_DOUBLE_EQ(BuildFrameGeometry(m, 0, 0)[0].s, 10.0 / 512);
  EXPECT_FLOAT_EQ(corners[2].x, 2 * 2 + 1);

  // Missing pieces draw nothing rather than read what is not there.
  EXPECT_TRUE(BuildFrameGeometry(m, 1, 0).empty());
  EXPECT_TRUE(BuildFrameGeometry(m, 0, 5).empty());
  m.skins.clear();
  EXPECT_TRUE(BuildFrameGeometry(m, 0, 0).empty());
}

TEST(BuildFrame, Md2CornersUseTheirOwnTextureCoordinates) {
  RecordingHost host;
  CPackObject skin;
  skin.SetData(SkinPcx());
  skin.SetSize(static_cast<std::int32_t>(SkinPcx().size()));
  host.skins["s.pcx"] = &skin;
  ModelData m;
  ASSERT_TRUE(LoadMd2(Md2({"s.pcx"}, {"stand01"}), m, host));
  auto corners = BuildFrameGeometry(m, 0, 0);
  ASSERT_EQ(corners.size(), 3u);
  EXPECT_DOUBLE_EQ(corners[0].s, 16.0 / 2);  // texture coordinate 2: s = 16 on a 2-wide skin
  EXPECT_DOUBLE_EQ(corners[2].s, 0.0);
  EXPECT_FLOAT_EQ(corners[0].x, 1.0f);
  EXPECT_FLOAT_EQ(corners[2].x, 3.0f);
}

TEST(BuildFrame, NormalsFromTheFileOrElseFromTheFaces) {
  // Two triangles at right angles: one facing +x, one facing +z, vertices not shared.
  const std::vector<ShapeVertex> vertices = {{0, 0, 0, 52}, {0, 0, 8, 52}, {0, 8, 0, 52},
                                             {0, 0, 0, 5},  {8, 0, 0, 5},  {0, 8, 0, 5}};
  ModelData m;
  ASSERT_TRUE(LoadMdl(ShapeMdl(vertices, {{0, 1, 2}, {3, 4, 5}}, 15), m));
  auto corners = BuildFrameGeometry(m, 0, 0);
  ASSERT_EQ(corners.size(), 6u);
  // Index 52 of the games' table is +x, 5 is +z: the file's own, as the engines shade by.
  EXPECT_FLOAT_EQ(corners[0].nx, 1);
  EXPECT_FLOAT_EQ(corners[2].nz, 0);
  EXPECT_FLOAT_EQ(corners[4].nz, 1);

  // A model read without normals (a modelling program's, or an index past the table) gets its
  // faces' own, on the side the import's normals take for a face wound as the games wind them.
  for (ModelVertex& v : m.animations[0].frames[0].vertices) v.normal = -1;
  m.animations[0].frames[0].vertices[0].normal = 200;
  corners = BuildFrameGeometry(m, 0, 0);
  ASSERT_EQ(corners.size(), 6u);
  for (int k = 0; k < 3; ++k) {
    EXPECT_FLOAT_EQ(corners[static_cast<std::size_t>(k)].nx, 1) << k;
    EXPECT_FLOAT_EQ(corners[static_cast<std::size_t>(k) + 3].nz, -1) << k;
  }
}

TEST(Models, RealQuakeModelsLoad) {
  TARN_REQUIRE_SAMPLES();
  struct Case {
    const char* file;
    std::size_t skins;
    int frames;
    std::vector<std::pair<std::string, std::size_t>> animations;
  };
  for (const Case& c :
       {Case{"s_light.mdl", 1, 3, {{"frames", 3}}},
        Case{"flame2.mdl", 1, 14, {{"flame", 7}, {"flameb", 7}}},  // frame groups, QMEX tail
        Case{"v_rock2.mdl", 2, 7, {{"flame", 1}, {"frame", 6}}}, Case{"backpack.mdl", 1, 1, {{"frame", 1}}}}) {
    ModelData m;
    std::string why;
    ASSERT_TRUE(LoadMdl(ReadFile(SamplesDir() / "LibreQuake/lq1/progs" / c.file), m, &why)) << c.file << why;
    EXPECT_EQ(m.skins.size(), c.skins) << c.file;
    EXPECT_EQ(m.FrameCount(), c.frames) << c.file;
    EXPECT_EQ(Animations(m), c.animations) << c.file;
    EXPECT_FALSE(BuildFrameGeometry(m, 0, 0).empty());
  }
}

}  // namespace
}  // namespace tarn::test
