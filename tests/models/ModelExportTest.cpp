#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <assimp/Importer.hpp>
#include <nlohmann/json.hpp>
#include <optional>

#include "CliSupport.h"
#include "ModelBuilders.h"
#include "TestSupport.h"
#include "models/ModelExport.h"
#include "models/ModelImport.h"
#include "pictures/ImageEncode.h"

namespace tarn::test {
namespace {

const fs::path kSamples = TARN_SAMPLES_DIR;

// Gives the loader one PCX as every skin it asks for.
struct OneSkinHost : CModelHost {
  explicit OneSkinHost(Bytes pcx) {
    root.SetDirectory(true);
    entry = root.AddChild("skin.pcx", false);
    entry->SetSize(static_cast<std::int32_t>(pcx.size()));
    entry->SetData(std::move(pcx));
  }
  CPackObject* FindSkin(const std::string&) override { return entry; }
  CPackObject root;
  CPackObject* entry = nullptr;
};

// A tetrahedron whose frames grow one unit each; its back two triangles lie in the skin's right
// half, so that an MDL has seam vertices.
PackedModel Tetrahedron(int format, const std::vector<std::string>& names) {
  SourceModel m;
  m.vertexCount = 4;
  const std::uint32_t tris[4][3] = {{0, 1, 2}, {0, 2, 3}, {0, 3, 1}, {1, 3, 2}};
  const float uv[4][3][2] = {{{0.1f, 0.1f}, {0.4f, 0.1f}, {0.2f, 0.6f}},
                             {{0.1f, 0.1f}, {0.2f, 0.6f}, {0.3f, 0.9f}},
                             {{0.6f, 0.1f}, {0.8f, 0.9f}, {0.9f, 0.1f}},
                             {{0.9f, 0.1f}, {0.8f, 0.9f}, {0.7f, 0.6f}}};
  for (int t = 0; t < 4; ++t) {
    std::array<SourceCorner, 3> tri;
    for (int k = 0; k < 3; ++k) tri[k] = {tris[t][k], uv[t][k][0], uv[t][k][1]};
    m.triangles.push_back(tri);
  }
  for (std::size_t f = 0; f < names.size(); ++f) {
    const float s = 10.0f + static_cast<float>(f);
    m.frames.push_back({names[f], {0, 0, 0, s, 0, 0, 0, s, 1, 2, 3, s}});
  }
  PackedModel packed;
  std::string why;
  EXPECT_TRUE(PackModel(m, format, 32, 16, packed, &why)) << why;
  for (int i = 0; i < 32 * 16; ++i) packed.skin.push_back(static_cast<std::uint8_t>(i * 7));
  packed.skinPath = "models/t/skin.pcx";
  return packed;
}

Bytes SkinPcxOf(const PackedModel& m) {
  Picture p;
  p.width = m.skinWidth, p.height = m.skinHeight, p.pixels = m.skin;
  Palette q2;
  LoadPalette(kQuake2PaletteId, q2);
  return BuildPcx(p, q2);
}

bool Load(const Bytes& model, const Bytes& pcx, ModelData& out) {
  std::string why;
  OneSkinHost host(pcx);
  const bool ok = model.size() >= 4 && model[3] == '2' ? LoadMd2(model, out, host, &why) : LoadMdl(model, out, &why);
  EXPECT_TRUE(ok) << why;
  return ok;
}

std::vector<const ModelFrame*> Frames(const ModelData& m) {
  std::vector<const ModelFrame*> frames;
  for (const auto& a : m.animations)
    for (const auto& f : a.frames) frames.push_back(&f);
  return frames;
}

// Each frame's grid step on each axis, from the file: one for an MDL, one a frame for an MD2.
std::vector<std::array<float, 3>> Steps(const Bytes& file, std::size_t frames) {
  auto f32 = [&](std::size_t at) {
    float f;
    std::memcpy(&f, &file[at], 4);
    return f;
  };
  auto u32 = [&](std::size_t at) { return file[at] | file[at + 1] << 8 | file[at + 2] << 16 | file[at + 3] << 24; };
  std::vector<std::array<float, 3>> steps;
  for (std::size_t f = 0; f < frames; ++f) {
    const std::size_t at = file[3] == '2' ? u32(56) + f * u32(16) : 8;
    steps.push_back({f32(at), f32(at + 4), f32(at + 8)});
  }
  return steps;
}

// A triangle corner's skin pixel, with an MDL's seam applied.
std::pair<int, int> Pixel(const ModelData& m, const ModelTriangle& t, int k) {
  const bool md2 = m.format == ModelData::kMd2;
  const ModelVertex& tc = m.texCoords[md2 ? t.texCoord[k] : t.vertex[k]];
  const int seam = !md2 && tc.onseam && !t.facesFront ? m.skins[0].width / 2 : 0;
  return {tc.s + seam, tc.t};
}

// What a round trip keeps: triangles, frames and their names, every corner within one grid
// step of the original and on the same skin pixel, and the skin's every pixel.
void ExpectSame(const ModelData& a, const Bytes& file, const ModelData& b) {
  ASSERT_EQ(b.triangles.size(), a.triangles.size());
  const auto fa = Frames(a), fb = Frames(b);
  ASSERT_EQ(fb.size(), fa.size());
  for (std::size_t f = 0; f < fa.size(); ++f) EXPECT_EQ(fb[f]->name, fa[f]->name);
  ASSERT_EQ(b.animations.size(), a.animations.size());
  for (std::size_t i = 0; i < a.animations.size(); ++i) EXPECT_EQ(b.animations[i].name, a.animations[i].name);
  const auto steps = Steps(file, fa.size());
  int far = 0, moved = 0;
  for (std::size_t f = 0; f < fa.size(); ++f)
    for (std::size_t t = 0; t < a.triangles.size(); ++t)
      for (int k = 0; k < 3; ++k) {
        const ModelVertex& va = fa[f]->vertices[a.triangles[t].vertex[k]];
        const ModelVertex& vb = fb[f]->vertices[b.triangles[t].vertex[k]];
        const auto& s = steps[f];
        far += std::abs(va.x - vb.x) > s[0] * 1.001f || std::abs(va.y - vb.y) > s[1] * 1.001f ||
               std::abs(va.z - vb.z) > s[2] * 1.001f;
        moved += f == 0 && Pixel(a, a.triangles[t], k) != Pixel(b, b.triangles[t], k);
      }
  EXPECT_EQ(far, 0) << "corners further than a grid step";
  EXPECT_EQ(moved, 0) << "corners on another skin pixel";
  const ModelSkin &sa = a.skins.at(0), &sb = b.skins.at(0);
  ASSERT_EQ(sb.width, sa.width);
  ASSERT_EQ(sb.height, sa.height);
  int differ = 0;
  for (int y = 0; y < sa.height; ++y)
    differ += std::memcmp(&sa.pixels[y * sa.paddedWidth * 3], &sb.pixels[y * sb.paddedWidth * 3], sa.width * 3) != 0;
  EXPECT_EQ(differ, 0) << "skin rows differ";
}

// The model written as glTF (and checked through Assimp: a named target a frame, an animation
// each), then made again in its own format by the import.
void RoundTrip(const ModelData& a, const Bytes& file, bool binary, const fs::path& dir) {
  ModelExportOptions options;
  options.binary = binary;
  options.name = "m";
  Bytes gltf;
  std::string why;
  ASSERT_TRUE(ExportGltf(a, options, gltf, &why)) << why;
  const fs::path path = dir / (binary ? "m.glb" : "m.gltf");
  WriteFile(path, gltf);
  {
    Assimp::Importer importer;
    const aiScene* scene = importer.ReadFile(path.string(), aiProcess_ValidateDataStructure);
    ASSERT_TRUE(scene && scene->mNumMeshes == 1) << importer.GetErrorString();
    const aiMesh* mesh = scene->mMeshes[0];
    EXPECT_EQ(mesh->mNumFaces, a.triangles.size());
    ASSERT_EQ(mesh->mNumAnimMeshes, static_cast<unsigned>(a.FrameCount()));
    EXPECT_EQ(std::string(mesh->mAnimMeshes[0]->mName.C_Str()), Frames(a)[0]->name);
    EXPECT_EQ(scene->mNumAnimations, a.animations.size());
  }
  ModelImportOptions back;
  back.format = a.format;
  back.skinPath = "models/m/skin.pcx";
  ImportedModel made;
  ASSERT_TRUE(ImportModel(path.string(), back, made, &why)) << why;
  ModelData b;
  ASSERT_TRUE(Load(made.bytes, made.skinBytes, b));
  ExpectSame(a, file, b);
}

// Errors the Khronos validator finds in the file; nothing when no validator is installed
// (gltf_validator, or the gltf-validator package of a global node installation).
std::optional<int> ValidatorErrors(const fs::path& file, const fs::path& dir) {
  const fs::path report = dir / "report.json";
  std::string line;
  if (std::system("command -v gltf_validator >/dev/null 2>&1") == 0) {
    line = "gltf_validator -o '" + file.string() + "' > '" + report.string() + "' 2>/dev/null";
  } else {
    WriteFile(dir / "validate.js",
              "let v; try { v = require('gltf-validator'); } catch (e) { process.exit(3); }\n"
              "const bytes = new Uint8Array(require('fs').readFileSync(process.argv[2]));\n"
              "v.validateBytes(bytes).then(r => console.log(JSON.stringify(r)), () => process.exit(4));\n");
    line = "command -v node >/dev/null 2>&1 && NODE_PATH=\"$(npm root -g 2>/dev/null)\" node '" +
           (dir / "validate.js").string() + "' '" + file.string() + "' > '" + report.string() + "' 2>/dev/null";
  }
  if (std::system(line.c_str()) != 0) return std::nullopt;
  const auto doc = nlohmann::json::parse(ReadFile(report), nullptr, false);
  if (doc.is_discarded() || !doc.contains("issues")) return std::nullopt;
  for (const auto& m : doc["issues"]["messages"])
    if (m.value("severity", 3) == 0) ADD_FAILURE() << m.dump();
  return doc["issues"].value("numErrors", -1);
}

TEST(ModelExport, BuiltModelsComeBackWithTheirFramesNamesAndSkin) {
  TempDir dir;
  const PackedModel mdl = Tetrahedron(ModelData::kMdl, {"stand1", "stand2", "stand3", "walk1", "walk2"});
  const Bytes mdlFile = WriteMdl(mdl);
  ModelData a;
  ASSERT_TRUE(Load(mdlFile, {}, a));
  RoundTrip(a, mdlFile, false, dir.path());
  // Quake II's names number frames with two digits, and pain301 is pain3's first.
  const PackedModel md2 = Tetrahedron(ModelData::kMd2, {"stand01", "stand02", "pain301", "pain302", "pain401"});
  const Bytes md2File = WriteMd2(md2);
  ASSERT_TRUE(Load(md2File, SkinPcxOf(md2), a));
  ASSERT_EQ(a.animations.size(), 3u);
  RoundTrip(a, md2File, true, dir.path());
}

TEST(ModelExport, SampleModelsComeBackAndPassTheValidator) {
  const fs::path rock = kSamples / "LibreQuake/lq1/progs/v_rock2.mdl";
  const fs::path flame = kSamples / "LibreQuake/lq1/progs/flame2.mdl";
  if (!fs::exists(rock)) GTEST_SKIP() << "samples absent";
  TempDir dir;
  ModelData a;
  for (const fs::path& p : {rock, flame}) {
    SCOPED_TRACE(p.filename().string());
    const Bytes file = ReadFile(p);
    ASSERT_TRUE(Load(file, {}, a));
    RoundTrip(a, file, false, dir.path());
    RoundTrip(a, file, true, dir.path());
  }
  // No Quake II model is among the samples: the rock made into one stands in.
  ImportedModel md2;
  ModelImportOptions options;
  options.format = ModelData::kMd2;
  options.skinPath = "models/m/skin.pcx";
  std::string why;
  ASSERT_TRUE(ImportModel((dir / "m.gltf").string(), options, md2, &why)) << why;
  ASSERT_TRUE(Load(md2.bytes, md2.skinBytes, a));
  RoundTrip(a, md2.bytes, true, dir.path());

  const auto errors = ValidatorErrors(dir / "m.glb", dir.path());
  if (!errors) GTEST_SKIP() << "no glTF validator installed";
  EXPECT_EQ(*errors, 0);
  EXPECT_EQ(ValidatorErrors(dir / "m.gltf", dir.path()), 0);
}

// The glTF document of an export (".gltf": text).
nlohmann::json GltfJson(const Bytes& gltf) { return nlohmann::json::parse(gltf.begin(), gltf.end()); }

// Every skin of a model goes out: glTF a material each, the others the first's variants; OBJ a
// material and a PNG each.
TEST(ModelExport, EverySkinIsExported) {
  TempDir dir;
  ModelData m;
  std::string why;
  ASSERT_TRUE(LoadMdl(Mdl({"stand1", "stand2"}, 4, 2, 6, 2), m, &why)) << why;
  ASSERT_EQ(m.skins.size(), 2u);
  ModelExportOptions options;
  options.name = "two";
  Bytes gltf;
  ASSERT_TRUE(ExportGltf(m, options, gltf, &why)) << why;
  const auto doc = GltfJson(gltf);
  ASSERT_EQ(doc["images"].size(), 2u);
  ASSERT_EQ(doc["materials"].size(), 2u);
  EXPECT_EQ(doc["materials"][1]["pbrMetallicRoughness"]["baseColorTexture"]["index"], 1);
  EXPECT_EQ(doc["extensionsUsed"], nlohmann::json::array({"KHR_materials_variants"}));
  EXPECT_EQ(doc["extensions"]["KHR_materials_variants"]["variants"].size(), 2u);
  const auto& mappings = doc["meshes"][0]["primitives"][0]["extensions"]["KHR_materials_variants"]["mappings"];
  ASSERT_EQ(mappings.size(), 2u);
  EXPECT_EQ(mappings[1]["material"], 1);
  WriteFile(dir / "two.gltf", gltf);
  Assimp::Importer importer;
  const aiScene* scene = importer.ReadFile((dir / "two.gltf").string(), aiProcess_ValidateDataStructure);
  ASSERT_TRUE(scene) << importer.GetErrorString();
  EXPECT_EQ(scene->mNumMaterials, 2u);
  if (const auto errors = ValidatorErrors(dir / "two.gltf", dir.path())) {
    EXPECT_EQ(*errors, 0);
  }

  std::vector<ExportedFile> files;
  ASSERT_TRUE(ExportObj(m, options, "two", files, &why)) << why;
  ASSERT_EQ(files.size(), 4u);
  EXPECT_EQ(files[3].name, "two-1.png");
  const std::string mtl(files[1].bytes.begin(), files[1].bytes.end());
  EXPECT_NE(mtl.find("newmtl skin-1"), std::string::npos) << mtl;
  EXPECT_NE(mtl.find("map_Kd two-1.png"), std::string::npos) << mtl;
  EXPECT_NE(files[2].bytes, files[3].bytes);
}

// An MD2 whose skin is not in the archive (a model added without its PCX; cube2's models name
// PNGs) is still read, shown and exported, and the missing skin is said.
TEST(ModelExportCli, AModelWhoseSkinIsMissing) {
  TempDir dir;
  Bytes md2 = Md2({"models/c/skin.png"}, {"idle01", "idle02"});
  PutU32(md2, 8, 16), PutU32(md2, 12, 8);
  Bytes v7 = Mdl({"stand1"});
  PutU32(v7, 4, 7);
  WriteFile(dir / "m.pak", PakBuilder().File("models/c/tris.md2", md2).File("progs/v7.mdl", v7).Build());
  const std::string pak = (dir / "m.pak").string();
  Result r = Tool({"info", pak, "models/c/tris.md2"});
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_NE(r.out.find("skins: 0\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("frames: 2\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("missing skin: models/c/skin.png\n"), std::string::npos) << r.out;
  r = Tool({"--json", "info", pak, "models/c/tris.md2"});
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(nlohmann::json::parse(r.out)["missing_skins"], nlohmann::json::array({"models/c/skin.png"}));

  r = Tool({"convert", pak, "models/c/tris.md2", (dir / "c.gltf").string()});
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_NE(r.err.find("warning: \"models/c/tris.md2\": its skin \"models/c/skin.png\" is not in the archive"),
            std::string::npos)
      << r.err;
  const auto doc = GltfJson(ReadFile(dir / "c.gltf"));
  EXPECT_FALSE(doc.contains("images"));
  EXPECT_FALSE(doc["materials"][0]["pbrMetallicRoughness"].contains("baseColorTexture"));
  EXPECT_TRUE(doc["meshes"][0]["primitives"][0]["attributes"].contains("TEXCOORD_0"));
  EXPECT_EQ(doc["meshes"][0]["primitives"][0]["targets"].size(), 2u);
  r = Tool({"convert", pak, "models/c/tris.md2", (dir / "c.obj").string()});
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_FALSE(fs::exists(dir / "c.png"));
  // Its skin as a picture: there is none to write.
  EXPECT_EQ(Tool({"convert", pak, "models/c/tris.md2", (dir / "skin.png").string()}).rc, 1);
  EXPECT_FALSE(fs::exists(dir / "skin.png"));

  // A model of a version no engine loads is not read as one.
  r = Tool({"info", pak, "progs/v7.mdl"});
  EXPECT_EQ(r.rc, 1);
  EXPECT_NE(r.err.find("it is version 7, and Quake models are version 6"), std::string::npos) << r.err;
}

TEST(ModelExportCli, ConvertWritesGltfAndObjAndAddMakesModels) {
  TempDir dir;
  const PackedModel mdl = Tetrahedron(ModelData::kMdl, {"stand1", "stand2", "run1"});
  WriteFile(dir / "t.pak", PakBuilder().File("progs/t.mdl", WriteMdl(mdl)).File("gfx/a.txt", "x").Build());
  const std::string pak = (dir / "t.pak").string();
  Result r = Tool({"convert", pak, "progs/t.mdl", (dir / "t.glb").string()});
  ASSERT_EQ(r.rc, 0) << r.err;
  r = Tool({"convert", "--frame", "2", pak, "progs/t.mdl", (dir / "one.gltf").string()});
  ASSERT_EQ(r.rc, 0) << r.err;
  r = Tool({"convert", pak, "progs/t.mdl", (dir / "t.obj").string(), "--frame", "1"});
  ASSERT_EQ(r.rc, 0) << r.err;
  Assimp::Importer importer;
  const aiScene* scene = importer.ReadFile((dir / "one.gltf").string(), 0);
  ASSERT_TRUE(scene && scene->mNumMeshes == 1);
  ASSERT_EQ(scene->mMeshes[0]->mNumAnimMeshes, 1u);
  EXPECT_STREQ(scene->mMeshes[0]->mAnimMeshes[0]->mName.C_Str(), "run1");
  scene = importer.ReadFile((dir / "t.obj").string(), aiProcess_Triangulate);
  ASSERT_TRUE(scene && scene->mNumMeshes == 1) << importer.GetErrorString();
  EXPECT_EQ(scene->mMeshes[0]->mNumFaces, 4u);
  EXPECT_GT(ReadFile(dir / "t.png").size(), 8u);
  const Bytes mtl = ReadFile(dir / "t.mtl");
  EXPECT_NE(std::string(mtl.begin(), mtl.end()).find("map_Kd t.png"), std::string::npos);

  // What cannot be written leaves nothing behind.
  EXPECT_EQ(Tool({"convert", "--frame", "3", pak, "progs/t.mdl", (dir / "no.glb").string()}).rc, 1);
  EXPECT_EQ(Tool({"convert", pak, "gfx/a.txt", (dir / "no.obj").string()}).rc, 1);
  EXPECT_EQ(Tool({"convert", "--frame", "1", pak, "gfx/a.txt", (dir / "no.png").string()}).rc, 2);
  EXPECT_EQ(Tool({"convert", "--frame", "x", pak, "progs/t.mdl", (dir / "no.glb").string()}).rc, 2);
  for (const char* name : {"no.glb", "no.obj", "no.mtl", "no.png"}) EXPECT_FALSE(fs::exists(dir / name)) << name;

  // add --as: the glTF back into the archive as an MD2 naming its skin's path there, and an MDL.
  r = Tool({"add", pak, "--as", "md2", "--to", "models/t", (dir / "t.glb").string()});
  ASSERT_EQ(r.rc, 0) << r.err;
  r = Tool({"add", pak, "--as", "mdl", "--fps", "5", "--to", "progs", (dir / "one.gltf").string()});
  ASSERT_EQ(r.rc, 0) << r.err;
  r = Tool({"list", pak});
  EXPECT_NE(r.out.find("models/t/t.md2\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("models/t/t.pcx\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("progs/one.mdl\n"), std::string::npos) << r.out;
  r = Tool({"cat", pak, "models/t/t.md2"});
  EXPECT_EQ(r.out.substr(68, 17), std::string("models/t/t.pcx\0\0\0", 17));
  r = Tool({"info", pak, "models/t/t.md2"});
  EXPECT_NE(r.out.find("frames: 3"), std::string::npos) << r.out;
  const Bytes before = ReadFile(dir / "t.pak");
  EXPECT_EQ(Tool({"add", pak, "--as", "mdl", (dir / "t.obj").string(), (dir / "missing.obj").string()}).rc, 1);
  EXPECT_EQ(ReadFile(dir / "t.pak"), before);
}

}  // namespace
}  // namespace tarn::test
