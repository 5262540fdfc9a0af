#include <cmath>

#include "CliSupport.h"
#include "ModelBuilders.h"
#include "TestSupport.h"
#include "models/ModelBuild.h"
#include "models/ModelFiles.h"
#include "models/ModelImport.h"
#include "models/ModelNormals.h"
#include "pictures/ImageEncode.h"

namespace tarn::test {
namespace {

// A square of two triangles (vertices 0 1 2, 0 2 3) in frames scaled by each factor; the
// corners' texture coordinates given per triangle.
SourceModel Square(const std::vector<float>& scales, std::array<std::array<float, 2>, 6> uv) {
  SourceModel m;
  m.vertexCount = 4;
  const std::uint32_t corners[6] = {0, 1, 2, 0, 2, 3};
  for (int t = 0; t < 2; ++t) {
    std::array<SourceCorner, 3> tri;
    for (int k = 0; k < 3; ++k) tri[k] = {corners[t * 3 + k], uv[t * 3 + k][0], uv[t * 3 + k][1]};
    m.triangles.push_back(tri);
  }
  for (float s : scales) {
    SourceFrame f;
    f.name = "f" + std::to_string(m.frames.size() + 1);
    f.positions = {0, 0, 0, 0, 10 * s, 0, 0, 10 * s, 5 * s, -3, 0, 5 * s};
    m.frames.push_back(f);
  }
  return m;
}

// Gives the loader one PCX as every skin it asks for.
struct PcxHost : CModelHost {
  explicit PcxHost(Bytes pcx) {
    root.SetDirectory(true);
    entry = root.AddChild("skin.pcx", false);
    entry->SetSize(static_cast<std::int32_t>(pcx.size()));
    entry->SetData(std::move(pcx));
  }
  CPackObject* FindSkin(const std::string&) override { return entry; }
  CPackObject root;
  CPackObject* entry = nullptr;
};

Bytes TinyPcx() {
  Picture p;
  p.width = 8, p.height = 4;
  p.pixels.assign(32, 3);
  Palette q2;
  LoadPalette(kQuakePaletteId, q2);
  return BuildPcx(p, q2);
}

constexpr std::array<std::array<float, 2>, 6> kPlainUv = {
    {{0, 0}, {0.25f, 0}, {0.25f, 0.5f}, {0, 0}, {0.25f, 0.5f}, {0, 0.5f}}};

void ExpectWithinOneStep(const SourceModel& source, const ModelData& read, const PackedModel& packed) {
  // Every written vertex (MDL: one per texture coordinate) stands within one grid step of its
  // source vertex; the written order follows the triangles, so compare through them.
  ASSERT_EQ(read.triangles.size(), source.triangles.size());
  int f = 0;
  for (const auto& a : read.animations)
    for (const auto& frame : a.frames) {
      const PackedFrame& p = packed.frames[f];
      for (std::size_t t = 0; t < source.triangles.size(); ++t)
        for (int k = 0; k < 3; ++k) {
          const ModelVertex& v = frame.vertices[read.triangles[t].vertex[k]];
          const float* want = &source.frames[f].positions[source.triangles[t][k].vertex * 3];
          EXPECT_LE(std::abs(v.x - want[0]), p.scale[0]);
          EXPECT_LE(std::abs(v.y - want[1]), p.scale[1]);
          EXPECT_LE(std::abs(v.z - want[2]), p.scale[2]);
        }
      ++f;
    }
}

TEST(ModelBuild, FrameNamesKeepTheGamesAnimationRules) {
  std::vector<std::string> taken;
  EXPECT_EQ(FrameNames("Run", 2, taken), (std::vector<std::string>{"run1", "run2"}));
  // Digits would move the games' cut; what is left of "0_run" is "run", taken, so it gets a letter.
  EXPECT_EQ(FrameNames("0_run", 1, taken), std::vector<std::string>{"runb1"});
  EXPECT_EQ(FrameNames("--", 1, taken), std::vector<std::string>{"frame1"});
  const auto names = FrameNames("averyveryverylongname", 120, taken);
  EXPECT_EQ(names.back(), "averyveryve120");
  for (const auto& n : names) EXPECT_EQ(MdlAnimationName(n), "averyveryve");
}

TEST(ModelBuild, NearestNormalIsTheGamesOwnIndex) {
  for (int i = 0; i < modelnormals::kCount; ++i) {
    const float* n = modelnormals::kNormals[i];
    EXPECT_EQ(NearestNormal(n[0] * 3, n[1] * 3, n[2] * 3), i);
  }
  EXPECT_EQ(NearestNormal(0, 0, 0), 0);
  EXPECT_EQ(NearestNormal(NAN, 0, 1), 0);
}

TEST(ModelBuild, MdlHasOneGridFilledAndReadsBackWithinAStep) {
  const SourceModel source = Square({1, 2}, kPlainUv);
  PackedModel packed;
  std::string why;
  ASSERT_TRUE(PackModel(source, ModelData::kMdl, 8, 4, packed, &why)) << why;
  packed.skin.assign(32, 7);
  ModelData read;
  ASSERT_TRUE(LoadMdl(WriteMdl(packed), read, &why)) << why;
  EXPECT_EQ(read.vertexCount, 4);
  ASSERT_EQ(read.animations.size(), 1u);
  EXPECT_EQ(read.animations[0].name, "f");
  EXPECT_EQ(read.animations[0].frames.size(), 2u);
  // The largest frame reaches byte 255 on each axis that has any extent; the other stays inside.
  std::uint8_t most[3] = {0, 0, 0};
  for (const auto& v : packed.frames[1].vertices)
    for (int a = 0; a < 3; ++a) most[a] = std::max(most[a], v.v[a]);
  EXPECT_EQ(most[0], 255);
  EXPECT_EQ(most[1], 255);
  EXPECT_EQ(most[2], 255);
  EXPECT_EQ(packed.frames[0].scale[1], packed.frames[1].scale[1]);
  ExpectWithinOneStep(source, read, packed);
  // Texture coordinates land on pixel centres of the 8 × 4 skin.
  EXPECT_EQ(read.texCoords[read.triangles[0].vertex[1]].s, 2);
  EXPECT_EQ(read.texCoords[read.triangles[0].vertex[2]].t, 2);
}

TEST(ModelBuild, Md2HasAGridPerFrameAndItsOwnTextureCoordinates) {
  const SourceModel source = Square({1, 10}, kPlainUv);
  PackedModel packed;
  std::string why;
  ASSERT_TRUE(PackModel(source, ModelData::kMd2, 8, 4, packed, &why)) << why;
  EXPECT_NEAR(packed.frames[1].scale[1], 10 * packed.frames[0].scale[1], 1e-4);
  packed.skinPath = "models/x/skin.pcx";
  PcxHost host(TinyPcx());
  ModelData read;
  ASSERT_TRUE(LoadMd2(WriteMd2(packed), read, host, &why)) << why;
  ExpectWithinOneStep(source, read, packed);
  EXPECT_EQ(packed.vertexCount, 4u);
  EXPECT_EQ(packed.texCoords.size(), 4u);
}

TEST(ModelBuild, MdlSeamSharesAVertexBetweenFrontAndBack) {
  // The second triangle lies wholly in the skin's right half, its corners half a skin right of
  // the first's at the same positions: only vertex 3 needs a vertex of its own.
  const std::array<std::array<float, 2>, 6> uv = {
      {{0.1f, 0.1f}, {0.3f, 0.1f}, {0.3f, 0.4f}, {0.6f, 0.1f}, {0.8f, 0.4f}, {0.55f, 0.9f}}};
  PackedModel packed;
  std::string why;
  ASSERT_TRUE(PackModel(Square({1}, uv), ModelData::kMdl, 20, 10, packed, &why)) << why;
  EXPECT_EQ(packed.triangles[0].facesFront, 1);
  EXPECT_EQ(packed.triangles[1].facesFront, 0);
  EXPECT_EQ(packed.vertexCount, 4u);
  int seams = 0;
  for (const auto& st : packed.texCoords) seams += st.onseam;
  EXPECT_EQ(seams, 2);
  // A position used with two unrelated coordinates is split instead.
  const std::array<std::array<float, 2>, 6> apart = {
      {{0.1f, 0.1f}, {0.3f, 0.1f}, {0.3f, 0.4f}, {0.1f, 0.9f}, {0.3f, 0.9f}, {0.2f, 0.9f}}};
  ASSERT_TRUE(PackModel(Square({1}, apart), ModelData::kMdl, 20, 10, packed, &why)) << why;
  EXPECT_EQ(packed.vertexCount, 6u);
}

TEST(ModelBuild, RefusesWhatCannotBeWritten) {
  std::string why;
  PackedModel packed;
  SourceModel bad = Square({1}, kPlainUv);
  bad.frames[0].positions[4] = NAN;
  EXPECT_FALSE(PackModel(bad, ModelData::kMdl, 8, 8, packed, &why));
  EXPECT_EQ(why, "a vertex of frame 1 is not a finite number");
  bad = Square({1}, kPlainUv);
  bad.triangles[1][2].vertex = 9;
  EXPECT_FALSE(PackModel(bad, ModelData::kMd2, 8, 8, packed, &why));
  bad.triangles.clear();
  EXPECT_FALSE(PackModel(bad, ModelData::kMd2, 8, 8, packed, &why));
  EXPECT_EQ(why, "the model has no triangles");
  bad = Square({1}, kPlainUv);
  bad.frames[0].positions[0] = -3e38f, bad.frames[0].positions[3] = 3e38f;
  EXPECT_FALSE(PackModel(bad, ModelData::kMdl, 8, 8, packed, &why));
}

const fs::path kSamples = TARN_SAMPLES_DIR;

TEST(ModelImportCli, RealModelsOfOthersBecomeModelsTarnReads) {
  const fs::path glb = kSamples / "raylib/examples/models/resources/models/gltf/greenman.glb";
  const fs::path md3 = kSamples / "res-tremulous_src.dpkdir/models/tremulous/buildables/hovel/hovel.md3";
  const fs::path morph = kSamples / "assimp/test/models/glTF2/AnimatedMorphCube/glTF/AnimatedMorphCube.gltf";
  const fs::path obj = kSamples / "Online3DViewer/test/testfiles/obj/cube_with_materials.obj";
  const fs::path iqm = kSamples / "raylib/examples/models/resources/models/iqm/guy.iqm";
  if (!fs::exists(glb)) GTEST_SKIP() << "samples absent";
  TempDir dir;
  Result r = Tool({"model", glb.string(), (dir / "man.md2").string()});
  ASSERT_EQ(r.rc, 0) << r.err;
  ModelData m;
  PcxHost beside(ReadFile(dir / "man.pcx"));
  std::string why;
  ASSERT_TRUE(LoadMd2(ReadFile(dir / "man.md2"), m, beside, &why)) << why;
  EXPECT_EQ(m.triangles.size(), 356u);
  std::vector<std::string> names;
  for (const auto& a : m.animations) names.push_back(a.name + std::to_string(a.frames.size()));
  // 2.5 s of idling at 10 frames a second, both ends included.
  EXPECT_EQ(names, (std::vector<std::string>{"pose2", "idle26", "move13", "attack9"}));
  EXPECT_EQ(m.skins.at(0).width, 480);  // 512 × 512 scaled to the games' 480 rows
  // Its first frame stands on the floor, taller than deep: glTF's y up became the games' z up.
  m.animations.resize(1);
  m.animations[0].frames.resize(1);
  const ModelBounds b = BoundsOf(m);
  EXPECT_NEAR(b.min[2], 0, 0.1);
  EXPECT_GT(b.max[2] - b.min[2], b.max[0] - b.min[0]);

  ASSERT_EQ(Tool({"model", md3.string(), (dir / "hovel.mdl").string()}).rc, 0);
  ASSERT_TRUE(LoadMdl(ReadFile(dir / "hovel.mdl"), m, &why)) << why;
  EXPECT_EQ(m.FrameCount(), 13);
  EXPECT_EQ(m.triangles.size(), 376u);
  ASSERT_EQ(Tool({"model", "--fps", "5", morph.string(), (dir / "cube.mdl").string()}).rc, 0);
  ASSERT_TRUE(LoadMdl(ReadFile(dir / "cube.mdl"), m, &why)) << why;
  EXPECT_EQ(m.FrameCount(), 22);  // 4.2 s at 5 a second
  ASSERT_EQ(Tool({"model", obj.string(), (dir / "obj.mdl").string()}).rc, 0);
  ASSERT_EQ(Tool({"model", iqm.string(), (dir / "guy.mdl").string()}).rc, 0);
}

TEST(ModelImportCli, SkinGivenKeepsItsPaletteIndicesAndBadFilesWriteNothing) {
  TempDir dir;
  WriteFile(dir / "tri.obj", "v 0 0 0\nv 0 2 0\nv 0 0 1\nvt 0 0\nvt 1 0\nvt 1 1\nf 1/1 2/2 3/3\n");
  Picture picture;
  picture.width = 8, picture.height = 4;
  picture.pixels.resize(32);
  for (int i = 0; i < 32; ++i) picture.pixels[i] = static_cast<std::uint8_t>(i * 7);
  Palette quake;
  LoadPalette(kQuakePaletteId, quake);
  WriteFile(dir / "skin.pcx", BuildPcx(picture, quake));
  Result r =
      Tool({"model", "--skin", (dir / "skin.pcx").string(), (dir / "tri.obj").string(), (dir / "t.mdl").string()});
  ASSERT_EQ(r.rc, 0) << r.err;
  const Bytes mdl = ReadFile(dir / "t.mdl");
  ASSERT_GE(mdl.size(), 84u + 4 + 32);
  EXPECT_EQ(Bytes(mdl.begin() + 88, mdl.begin() + 120), picture.pixels);
  // OBJ's y up is the games' z up, its x their y; the face turned to OBJ's +x (anticlockwise
  // there) is lit from the games' +y, as all three vertices' normals say.
  ModelData m;
  ASSERT_TRUE(LoadMdl(mdl, m, &r.err));
  const ModelBounds b = BoundsOf(m);
  EXPECT_NEAR(b.max[0] - b.min[0], 1, 0.01);
  EXPECT_NEAR(b.max[1] - b.min[1], 0, 0.01);
  EXPECT_NEAR(b.max[2] - b.min[2], 2, 0.01);
  for (int v = 1; v <= 3; ++v) EXPECT_EQ(mdl[mdl.size() - 4 * v + 3], NearestNormal(0, 1, 0));

  // Hostile and broken files: a clear message, exit 1, and no file.
  WriteFile(dir / "junk.glb", Bytes{'g', 'l', 'T', 'F', 2, 0, 0, 0, 0xff, 0xff, 0xff, 0x7f, 1, 2, 3});
  WriteFile(dir / "bad.obj", "v 0 0 0\nf 1 2 99\n");
  WriteFile(dir / "bad.gltf", "{\"asset\":{\"version\":\"2.0\"},\"buffers\":[{\"byteLength\":99999999999}]}");
  for (const char* in : {"junk.glb", "bad.obj", "bad.gltf", "missing.obj"}) {
    r = Tool({"model", (dir / in).string(), (dir / "out.md2").string()});
    EXPECT_EQ(r.rc, 1) << in;
    EXPECT_NE(r.err.find("tarn-pak: "), std::string::npos) << in;
    EXPECT_FALSE(fs::exists(dir / "out.md2")) << in;
    EXPECT_FALSE(fs::exists(dir / "out.pcx")) << in;
  }
  EXPECT_EQ(Tool({"model", "--fps", "0", (dir / "tri.obj").string(), (dir / "o.mdl").string()}).rc, 2);
  EXPECT_EQ(Tool({"model", (dir / "tri.obj").string(), (dir / "o.obj").string()}).rc, 2);
}

// An archive's MD3 read for the viewer: every frame, the skin its shader names found from the
// archive's root (else the flat colour), and hostile bytes refused with a reason.
TEST(ModelView, Md3FromAnArchiveWithItsSkin) {
  const Bytes md3 = Md3(2, "models/test/skin.tga");
  const Bytes tga = SolidTga(4, 2, 200, 10, 10);
  std::vector<std::string> asked;
  const FindBytes find = [&](const std::string& path, std::vector<std::uint8_t>& out) {
    asked.push_back(path);
    if (path != "models/test/skin.tga") return false;
    out = tga;
    return true;
  };
  ModelData model;
  std::string why;
  ASSERT_TRUE(ReadModelForView(md3, "models/test/body.md3", find, model, &why)) << why;
  EXPECT_EQ(model.FrameCount(), 2);
  EXPECT_EQ(model.triangles.size(), 1u);
  ASSERT_EQ(model.skins.size(), 1u);
  EXPECT_EQ(model.skins[0].width, 4);
  EXPECT_EQ(model.skins[0].pixels[0], 200);
  const auto& frames = model.animations.at(0).frames;
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_FALSE(BuildFrameGeometry(model, 0, 1).empty());
  EXPECT_NE(frames[0].vertices[0].x, frames[1].vertices[0].x);  // the second frame is its own

  ASSERT_TRUE(ReadModelForView(md3, "models/test/body.md3", nullptr, model, &why)) << why;
  EXPECT_EQ(model.skins.at(0).width, 64);  // a checkerboard of the material's colour

  Bytes cut = md3;
  cut.resize(cut.size() - 30);
  for (const Bytes& bad : {cut, Bytes(200, 0xff), ToBytes("INTERQUAKEMODEL\0garbage")}) {
    why.clear();
    EXPECT_FALSE(ReadModelForView(bad, bad.size() == 200 ? "x.md3" : "x.iqm", find, model, &why));
    EXPECT_FALSE(why.empty());
    EXPECT_EQ(model.FrameCount(), 0);
  }
}

// Offsets inside an MD3 surface that point back before it are refused before Assimp, which
// reads them as unsigned and far past the file.
TEST(ModelView, Md3SurfaceOffsetsPointingBackAreRefused) {
  const Bytes md3 = Md3(2, "skin.tga");
  ASSERT_EQ(ModelFileProblem(ModelFileFormat::Md3, md3), "");
  const std::size_t surface = 108 + 56 * 2;
  for (const std::size_t field : {88u, 92u, 96u, 100u}) {
    Bytes bad = md3;
    PutU32(bad, surface + field, static_cast<std::uint32_t>(-68));
    EXPECT_EQ(ModelFileProblem(ModelFileFormat::Md3, bad), "a surface counts more than the file holds") << field;
  }
}

}  // namespace
}  // namespace tarn::test
