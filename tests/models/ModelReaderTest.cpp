// Models of modelling programs read by tarn-import: hostile files refused with a message before
// a reader sees them, nothing read outside the model's folder, IQM animations kept, and a
// reader that crashes or hangs ending alone.
#include <algorithm>
#include <cmath>

#include "CliSupport.h"
#include "ImportBuilders.h"
#include "ModelBuilders.h"
#include "TestSupport.h"
#include "models/ModelFiles.h"
#include "models/ModelImport.h"

namespace tarn::test {
namespace {

const fs::path kSamples = TARN_SAMPLES_DIR;

// tarn-pak model IN OUT: exit 1 with a message naming why, and nothing written.
void ExpectRefused(const fs::path& in, const std::string& why) {
  const fs::path out = in.parent_path() / "out.mdl";
  const Result r = Tool({"model", in.string(), out.string()});
  EXPECT_EQ(r.rc, 1) << in << ": " << r.err;
  EXPECT_NE(r.err.find(why), std::string::npos) << in << ": " << r.err;
  EXPECT_FALSE(fs::exists(out)) << in;
}

IqmSpec Waving() {
  IqmSpec s;
  s.positions = {{{0, 0, 0}}, {{8, 0, 0}}, {{0, 8, 0}}};
  s.uv = {{{0, 0}}, {{1, 0}}, {{0, 1}}};
  s.triangles = {{{0, 1, 2}}};
  s.joints = 2;
  s.boundTo = {0, 0, 1};
  s.frames = {{{{0, 0, 0}}, {{0, 0, 0}}}, {{{0, 0, 0}}, {{0, 0, 10}}}, {{{0, 0, 0}}, {{0, 0, 20}}}};
  return s;
}

// Assimp 5.2.5 segfaults on the first, reads an IQM by its content whatever its name, and
// overflows its stack on the JSON nesting and the node chain; the glTF whose nodes list the
// next twice doubles at each level.
TEST(ModelReader, HostileFilesAreRefusedWithAMessage) {
  TempDir dir;
  Bytes iqm = Iqm(Waving());
  StoreU32(&iqm[kIqmArraysAt + 16], 0xFFFFFFF0u);  // the positions' offset
  WriteFile(dir / "offset.iqm", iqm);
  WriteFile(dir / "offset.obj", iqm);
  ExpectRefused(dir / "offset.iqm", "vertex arrays lie outside the file");
  ExpectRefused(dir / "offset.obj", "vertex arrays lie outside the file");

  WriteFile(dir / "brackets.gltf", "{\"asset\":" + std::string(1'000'000, '['));
  ExpectRefused(dir / "brackets.gltf", "nested more than 64 deep");
  const auto chain = [](int nodes) {
    std::string text = "[";
    for (int i = 0; i < nodes; ++i)
      text += (i ? ",{" : "{") + (i + 1 < nodes ? "\"children\":[" + std::to_string(i + 1) + "]" : "") + "}";
    return Gltf(text + "]");
  };
  WriteFile(dir / "chain.gltf", chain(100'000));
  ExpectRefused(dir / "chain.gltf", "100000 nodes; Tarn reads at most 65536");
  WriteFile(dir / "chain.gltf", chain(1'000));
  ExpectRefused(dir / "chain.gltf", "nested more than 256 deep");
  std::string doubled = "[";
  for (int i = 0; i < 23; ++i)
    doubled += (i ? ",{" : "{") + std::string("\"mesh\":0") +
               (i < 22 ? ",\"children\":[" + std::to_string(i + 1) + "," + std::to_string(i + 1) + "]" : "") + "}";
  WriteFile(dir / "doubled.gltf", Gltf(doubled + "]"));
  ExpectRefused(dir / "doubled.gltf", "node 1 is placed twice");
  // A tree, as the format wants, but one placing a mesh of 3,000 triangles 1,000 times.
  std::string many = "[{\"children\":[";
  for (int i = 1; i <= 1000; ++i) many += (i > 1 ? "," : "") + std::to_string(i);
  many += "]}";
  for (int i = 1; i <= 1000; ++i) many += ",{\"mesh\":0}";
  std::string wide = Gltf(many + "]");
  const std::string count = "\"count\":3,";
  wide.replace(wide.find(count), count.size(), "\"count\":9000,");
  wide.replace(wide.find("\"byteLength\":36}]"), 17, "\"byteLength\":108000}]");
  wide.replace(wide.find("\"byteLength\":36,"), 16, "\"byteLength\":108000,");
  WriteFile(dir / "wide.gltf", wide);
  ExpectRefused(dir / "wide.gltf", "place more than 2097152 triangles");

  // Formats whose Assimp importers crash on Assimp's own test files, whatever they are named.
  WriteFile(dir / "ply.obj", "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nend_header\n0\n1\n2\n");
  WriteFile(dir / "x.obj", "xof 0303txt 0032\nMesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; }\n");
  WriteFile(dir / "3mf.dae", Bytes{'P', 'K', 3, 4, 20, 0, 0, 0, 8, 0});
  for (const char* name : {"ply.obj", "x.obj", "3mf.dae"}) ExpectRefused(dir / name, "not a model Tarn imports");
  // MD5, whose Assimp importer reads past its arrays, goes to Tarn's own reader by its bytes.
  WriteFile(dir / "md5.gltf", "MD5Version 10\ncommandline \"\"\nnumJoints 1\nnumMeshes 1\n");
  ExpectRefused(dir / "md5.gltf", "not an MD5 mesh Tarn reads: numMeshes is 1, more than the file holds");
  // And two whose importers corrupt memory or loop for ever on a few changed bytes.
  WriteFile(dir / "a.fbx", "; FBX 7.5.0 project file\nFBXHeaderExtension:  {\n}\n");
  WriteFile(dir / "a.dae", "<?xml version=\"1.0\"?>\n<COLLADA version=\"1.4.1\"></COLLADA>\n");
  ExpectRefused(dir / "a.fbx", "Tarn does not import FBX");
  ExpectRefused(dir / "a.dae", "export the model as glTF 2.0");

  // Assimp's own files that crash it, where the samples hold them.
  const fs::path assimp = kSamples / "assimp/test/models";
  for (const char* crash : {"NDO/malformed_edge_index.ndo", "MDC/invalid/InvalidFrameBaseOffset.mdc",
                            "CSM/invalid/DropoutBufferOverflow.csm", "X/malformed_skinweights_oob.x",
                            "MD2/malformed_zero_numvertices.md2", "3MF/cube_gears_prod_req.3mf"})
    if (fs::exists(assimp / crash)) ExpectRefused(assimp / crash, "not a model Tarn imports");
  for (const char* crash : {"MD5/invalid/OverflowingVertexIndex.md5mesh", "MD5/invalid/OverflowingWeightIndex.md5mesh",
                            "MD5/invalid/OverflowingTriangleIndex.md5mesh"})
    if (fs::exists(assimp / crash)) ExpectRefused(assimp / crash, "not an MD5 mesh Tarn reads");
}

TEST(ModelReader, NothingOutsideTheModelsFolderIsRead) {
  TempDir dir;
  fs::create_directories(dir / "model");
  WriteFile(dir / "secret.bin", Bytes(36, 0x41));
  WriteFile(dir / "model/passwd.gltf", Gltf(R"([{"mesh":0}])", "../../../../etc/passwd"));
  ExpectRefused(dir / "model/passwd.gltf", "buffer 0 names a file outside the model's folder: ../../../../etc/passwd");
  // A link inside the folder that leads out of it is refused where the file is opened.
  fs::create_symlink(dir / "secret.bin", dir / "model/link.bin");
  WriteFile(dir / "model/link.gltf", Gltf(R"([{"mesh":0}])", "link.bin"));
  ExpectRefused(dir / "model/link.gltf", "refused to read \"link.bin\": it is outside the model's folder");
  // An OBJ reads on without the material it may not read, and says so.
  WriteFile(dir / "secret.mtl", "newmtl m\nKd 1 0 0\n");
  WriteFile(dir / "model/tri.obj", "mtllib ../secret.mtl\nusemtl m\nv 0 0 0\nv 0 2 0\nv 0 0 1\nf 1 2 3\n");
  const Result r = Tool({"model", (dir / "model/tri.obj").string(), (dir / "model/tri.mdl").string()});
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_NE(r.err.find("warning: \"" + (dir / "model/tri.mdl").string() +
                       "\": refused to read \"../secret.mtl\": it is outside the model's folder"),
            std::string::npos)
      << r.err;
}

// A model of several materials: each triangle shows its own material's colour (or picture),
// the materials side by side in the one skin.
TEST(ModelReader, EachMaterialKeepsItsOwnColour) {
  const std::string obj =
      "mtllib two.mtl\nv 0 0 0\nv 0 2 0\nv 0 0 1\nv 0 2 1\nvt 0 0\nvt 1 0\nvt 0 1\n"
      "usemtl red\nf 1/1 2/2 3/3\nusemtl blue\nf 2/1 4/2 3/3\n";
  const std::string mtl = "newmtl red\nKd 1 0 0\nnewmtl blue\nKd 0 0 1\n";
  const FindBytes find = [&](const std::string& path, std::vector<std::uint8_t>& out) {
    if (path != "models/two.mtl") return false;
    out.assign(mtl.begin(), mtl.end());
    return true;
  };
  ModelData shown;
  std::string why;
  ASSERT_TRUE(ReadModelForView(Bytes(obj.begin(), obj.end()), "models/two.obj", find, shown, &why)) << why;
  ASSERT_EQ(shown.skins.size(), 1u);
  ASSERT_EQ(shown.triangles.size(), 2u);
  const ModelSkin& skin = shown.skins[0];
  for (std::size_t i = 0; i < 2; ++i)
    for (int k = 0; k < 3; ++k) {
      const ModelVertex& st = shown.texCoords[static_cast<std::size_t>(shown.triangles[i].texCoord[k])];
      const int x = std::clamp(st.s, 0, skin.width - 1), y = std::clamp(st.t, 0, skin.height - 1);
      const std::uint8_t* rgb = &skin.pixels[(static_cast<std::size_t>(y) * skin.paddedWidth + x) * 3];
      // The colour, or the darker shade of its checkerboard.
      const std::uint8_t own = rgb[i == 0 ? 0 : 2], other = rgb[i == 0 ? 2 : 0];
      EXPECT_TRUE((own == 255 || own == 191) && other == 0) << "triangle " << i << " corner " << k;
    }
}

// Each frame of an IQM's animation sampled from its skeleton: the vertex bound to the moving
// joint follows it, the others stay.
TEST(ModelReader, IqmAnimationsBecomeFrames) {
  TempDir dir;
  WriteFile(dir / "wave.iqm", Iqm(Waving()));
  Result r = Tool({"model", (dir / "wave.iqm").string(), (dir / "wave.mdl").string()});
  ASSERT_EQ(r.rc, 0) << r.err;
  ModelData m;
  std::string why;
  ASSERT_TRUE(LoadMdl(ReadFile(dir / "wave.mdl"), m, &why)) << why;
  ASSERT_EQ(m.animations.size(), 1u);
  EXPECT_EQ(m.animations[0].name, "wave");
  ASSERT_EQ(m.animations[0].frames.size(), 3u);  // 0.2 s at 10 a second, both ends
  const ModelTriangle& t = m.triangles.at(0);
  for (int f = 0; f < 3; ++f) {
    const auto& v = m.animations[0].frames[f].vertices;
    float top = -1e9f, others = -1e9f;
    for (int k = 0; k < 3; ++k) {
      const ModelVertex& p = v.at(t.vertex[k]);
      (p.y > 4 ? top : others) = std::max(p.y > 4 ? top : others, p.z);
    }
    EXPECT_NEAR(top, 10.0f * f, 0.2f) << "frame " << f;
    EXPECT_NEAR(others, 0, 0.2f) << "frame " << f;
  }

  const fs::path guy = kSamples / "raylib/examples/models/resources/models/iqm/guy.iqm";
  if (!fs::exists(guy)) GTEST_SKIP() << "samples absent";
  r = Tool({"model", guy.string(), (dir / "guy.mdl").string()});
  ASSERT_EQ(r.rc, 0) << r.err;
  ASSERT_TRUE(LoadMdl(ReadFile(dir / "guy.mdl"), m, &why)) << why;
  std::vector<std::string> names;
  for (const auto& a : m.animations) names.push_back(a.name + std::to_string(a.frames.size()));
  // 61 frames at 24 a second are 2.5 s: 26 frames at 10 a second.
  EXPECT_EQ(names, (std::vector<std::string>{"jump26", "dance26"}));
}

// A reader that crashes or hangs ends alone, with a message; an archive's model reaches its
// reader by its bytes and asks for its files by their path in the archive.
TEST(ModelReader, AReaderThatCrashesOrHangsEndsAlone) {
  TempDir dir;
  const Bytes model = Iqm(Waving());
  ModelData shown;
  std::string why;
  std::vector<std::string> asked;
  const FindBytes find = [&](const std::string& path, std::vector<std::uint8_t>&) {
    asked.push_back(path);
    return false;
  };
  ASSERT_TRUE(ReadModelForView(model, "models/w/wave.iqm", find, shown, &why)) << why;
  EXPECT_EQ(shown.FrameCount(), 3);
  EXPECT_EQ(shown.readAs, "iqm");
  EXPECT_NE(std::find(asked.begin(), asked.end(), "models/w/skin.tga"), asked.end());

  const ModelReaderLimits before = CurrentModelReaderLimits();
  WriteFile(dir / "crash", "#!/bin/sh\nkill -SEGV $$\n");
  WriteFile(dir / "hang", "#!/bin/sh\nexec cat >/dev/null\n");
  fs::permissions(dir / "crash", fs::perms::owner_all);
  fs::permissions(dir / "hang", fs::perms::owner_all);
  ModelReaderLimits limits = before;
  limits.program = (dir / "crash").string();
  SetModelReaderLimits(limits);
  EXPECT_FALSE(ReadModelForView(model, "models/w/wave.iqm", find, shown, &why));
  EXPECT_EQ(why, "this model could not be read: its reader crashed (Segmentation fault)");
  limits.program = (dir / "hang").string();
  limits.seconds = 1;
  SetModelReaderLimits(limits);
  EXPECT_FALSE(ReadModelForView(model, "models/w/wave.iqm", find, shown, &why));
  EXPECT_EQ(why, "this model could not be read: its reader took more than 1 seconds");
  SetModelReaderLimits(before);
  EXPECT_EQ(shown.FrameCount(), 0);

  // tarn-pak info reads an archive's IQM through the same reader: the damaged one is refused.
  Bytes bad = model;
  StoreU32(&bad[kIqmArraysAt + 16], 0xFFFFFFF0u);
  WriteFile(dir / "m.pak", PakBuilder().File("models/x.iqm", bad).File("models/w.iqm", model).Build());
  Result r = Tool({"info", (dir / "m.pak").string(), "models/x.iqm"});
  EXPECT_EQ(r.rc, 1);
  EXPECT_NE(r.err.find("vertex arrays lie outside the file"), std::string::npos) << r.err;
  r = Tool({"info", (dir / "m.pak").string(), "models/w.iqm"});
  EXPECT_EQ(r.rc, 0) << r.err;
}

}  // namespace
}  // namespace tarn::test
