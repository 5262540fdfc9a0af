#include "import/ModelScene.h"

#include <assimp/BaseImporter.h>
#include <assimp/MemoryIOWrapper.h>
#include <assimp/config.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <assimp/IOSystem.hpp>

#include <algorithm>
#include <array>
#include <assimp/Importer.hpp>
#include <cmath>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <unordered_map>

#include "fileio/Strings.h"
#include "models/IqmModel.h"
#include "models/Md3Skins.h"
#include "models/Md5Model.h"
#include "models/ModelFiles.h"
#include "models/SkinAtlas.h"
#include "models/StudioModel.h"

namespace tarn::import {

namespace fs = std::filesystem;

namespace {

constexpr unsigned kReadFlags =
    aiProcess_Triangulate | aiProcess_SortByPType | aiProcess_ValidateDataStructure | aiProcess_FlipUVs;

std::string FirstLine(std::string s) {
  if (const std::size_t cut = s.find('\n'); cut != std::string::npos) s.resize(cut);
  while (!s.empty() && (s.back() == '\r' || s.back() == ' ')) s.pop_back();
  return s.empty() ? "not a model Tarn can read" : s;
}

// --- what the reader may open ------------------------------------------------------------------

// The model's files as the reader asks for them, each fetched once (an MD3 is read once a frame,
// and each reading asks again for the same skins and shaders), and every path that was refused.
class CFiles {
 public:
  CFiles(const FileSource& source, std::string modelName, std::span<const std::uint8_t> model)
      : m_source(source), m_modelName(std::move(modelName)), m_model(model) {}

  // The bytes at path, or nothing; the model itself is the bytes given.
  const std::vector<std::uint8_t>* Get(const std::string& path) {
    if (path == m_modelName) {
      if (!m_modelCopy) m_modelCopy.emplace(m_model.begin(), m_model.end());
      return &*m_modelCopy;
    }
    auto it = m_cache.find(path);
    if (it == m_cache.end()) {
      std::vector<std::uint8_t> bytes;
      std::string refusal;
      const bool found = m_source && m_source(path, bytes, &refusal);
      if (!refusal.empty() && std::find(m_refused.begin(), m_refused.end(), refusal) == m_refused.end())
        m_refused.push_back(refusal);
      it = m_cache.emplace(path, found ? std::optional(std::move(bytes)) : std::nullopt).first;
    }
    return it->second ? &*it->second : nullptr;
  }
  const std::vector<std::string>& Refused() const { return m_refused; }
  // The model in place of the bytes given (an MD3 read at another frame).
  void ReplaceModel(std::vector<std::uint8_t> bytes) { m_modelCopy = std::move(bytes); }

 private:
  const FileSource& m_source;
  std::string m_modelName;
  std::span<const std::uint8_t> m_model;
  std::optional<std::vector<std::uint8_t>> m_modelCopy;
  std::map<std::string, std::optional<std::vector<std::uint8_t>>> m_cache;
  std::vector<std::string> m_refused;
};

// Assimp's file system for one reading: only what CFiles gives, read-only.
class CConfinedIO : public Assimp::IOSystem {
 public:
  explicit CConfinedIO(CFiles& files) : m_files(files) {}
  bool Exists(const char* file) const override { return file && m_files.Get(file); }
  char getOsSeparator() const override { return '/'; }
  Assimp::IOStream* Open(const char* file, const char* mode) override {
    if (!file || (mode && (std::strchr(mode, 'w') || std::strchr(mode, 'a') || std::strchr(mode, '+')))) return nullptr;
    const std::vector<std::uint8_t>* bytes = m_files.Get(file);
    return bytes ? new Assimp::MemoryIOStream(bytes->data(), bytes->size()) : nullptr;
  }
  void Close(Assimp::IOStream* stream) override { delete stream; }

 private:
  CFiles& m_files;
};

// The extension Assimp knows the format by, and whether an importer is the one for it.
const char* AssimpExtension(ModelFileFormat format) {
  switch (format) {
    case ModelFileFormat::Gltf: return "gltf";
    case ModelFileFormat::Glb: return "glb";
    case ModelFileFormat::Obj: return "obj";
    case ModelFileFormat::Md3: return "md3";
    default: return "";
  }
}

// An importer that knows only the format the bytes hold: whatever the name says, no other of
// Assimp's importers sees the file.
void KeepOnlyImporterOf(Assimp::Importer& importer, ModelFileFormat format) {
  const std::string want = AssimpExtension(format);
  const bool gltf = format == ModelFileFormat::Gltf || format == ModelFileFormat::Glb;
  for (std::size_t i = importer.GetImporterCount(); i-- > 0;) {
    Assimp::BaseImporter* candidate = importer.GetImporter(i);
    std::set<std::string> extensions;
    candidate->GetExtensionList(extensions);
    const char* name = candidate->GetInfo()->mName;
    // glTF 1.0 has an importer of its own that claims the same extensions.
    const bool keep = extensions.count(want) && (!gltf || (name && std::strstr(name, "glTF2")));
    if (!keep) {
      importer.UnregisterLoader(candidate);
      delete candidate;
    }
  }
}

// --- sampling a scene ------------------------------------------------------------------------------

template <typename Key>
std::size_t KeyBefore(const Key* keys, unsigned n, double t) {
  // The last key at or before t (the first when t precedes them all).
  std::size_t lo = 0, hi = n;
  while (hi - lo > 1) {
    const std::size_t mid = (lo + hi) / 2;
    if (keys[mid].mTime <= t) lo = mid;
    else hi = mid;
  }
  return lo;
}

template <typename Key>
double Fraction(const Key* keys, unsigned n, std::size_t k, double t) {
  if (k + 1 >= n) return 0;
  const double span = keys[k + 1].mTime - keys[k].mTime;
  if (!(span > 0)) return 0;
  return std::clamp((t - keys[k].mTime) / span, 0.0, 1.0);
}

aiVector3D VectorAt(const aiVectorKey* keys, unsigned n, double t) {
  const std::size_t k = KeyBefore(keys, n, t);
  const double f = Fraction(keys, n, k, t);
  if (f == 0) return keys[k].mValue;
  return keys[k].mValue + (keys[k + 1].mValue - keys[k].mValue) * static_cast<ai_real>(f);
}

aiQuaternion RotationAt(const aiQuatKey* keys, unsigned n, double t) {
  const std::size_t k = KeyBefore(keys, n, t);
  const double f = Fraction(keys, n, k, t);
  if (f == 0) return keys[k].mValue;
  aiQuaternion q;
  aiQuaternion::Interpolate(q, keys[k].mValue, keys[k + 1].mValue, static_cast<ai_real>(f));
  return q.Normalize();
}

// One pose of the scene: each node's transform to the scene, at a time of an animation (or at
// rest without one).
class CPose {
 public:
  CPose(const aiScene& scene, const aiAnimation* animation) : m_scene(scene) {
    if (!animation) return;
    for (unsigned i = 0; i < animation->mNumChannels; ++i)
      if (const aiNodeAnim* c = animation->mChannels[i]) m_channels[c->mNodeName.C_Str()] = c;
    for (unsigned i = 0; i < animation->mNumMorphMeshChannels; ++i)
      if (const aiMeshMorphAnim* c = animation->mMorphMeshChannels[i]) m_morphs[c->mName.C_Str()] = c;
  }

  // Node by node from the root, without recursion: a file's tree may be as deep as it likes.
  void At(double ticks) {
    m_ticks = ticks;
    m_global.clear();
    std::vector<std::pair<const aiNode*, aiMatrix4x4>> stack{{m_scene.mRootNode, aiMatrix4x4()}};
    while (!stack.empty()) {
      const auto [node, parent] = stack.back();
      stack.pop_back();
      const aiMatrix4x4 global = parent * Local(node);
      m_global[node] = global;
      for (unsigned i = 0; i < node->mNumChildren; ++i) stack.push_back({node->mChildren[i], global});
    }
  }
  const aiMatrix4x4& Global(const aiNode* node) const { return m_global.at(node); }

  // The weights of the mesh's morph targets: the animation's, or the file's own.
  void Weights(const aiNode* node, const aiMesh* mesh, std::vector<float>& weights) const {
    weights.assign(mesh->mNumAnimMeshes, 0.0f);
    for (unsigned i = 0; i < mesh->mNumAnimMeshes; ++i) weights[i] = mesh->mAnimMeshes[i]->mWeight;
    auto it = m_morphs.find(node->mName.C_Str());
    if (it == m_morphs.end()) it = m_morphs.find(mesh->mName.C_Str());
    if (it == m_morphs.end() || it->second->mNumKeys == 0) return;
    const aiMeshMorphAnim* c = it->second;
    const std::size_t k = KeyBefore(c->mKeys, c->mNumKeys, m_ticks);
    const double f = Fraction(c->mKeys, c->mNumKeys, k, m_ticks);
    auto apply = [&](const aiMeshMorphKey& key, double share) {
      for (unsigned j = 0; j < key.mNumValuesAndWeights; ++j)
        if (key.mValues[j] < weights.size()) weights[key.mValues[j]] += static_cast<float>(key.mWeights[j] * share);
    };
    std::fill(weights.begin(), weights.end(), 0.0f);
    apply(c->mKeys[k], 1 - f);
    if (f > 0) apply(c->mKeys[k + 1], f);
  }

 private:
  aiMatrix4x4 Local(const aiNode* node) const {
    const auto it = m_channels.find(node->mName.C_Str());
    if (it == m_channels.end()) return node->mTransformation;
    const aiNodeAnim* c = it->second;
    aiVector3D scale(1, 1, 1), position;
    aiQuaternion rotation;
    node->mTransformation.Decompose(scale, rotation, position);
    if (c->mNumPositionKeys) position = VectorAt(c->mPositionKeys, c->mNumPositionKeys, m_ticks);
    if (c->mNumRotationKeys) rotation = RotationAt(c->mRotationKeys, c->mNumRotationKeys, m_ticks);
    if (c->mNumScalingKeys) scale = VectorAt(c->mScalingKeys, c->mNumScalingKeys, m_ticks);
    return aiMatrix4x4(scale, rotation, position);
  }

  const aiScene& m_scene;
  double m_ticks = 0;
  std::map<std::string, const aiNodeAnim*> m_channels;
  std::map<std::string, const aiMeshMorphAnim*> m_morphs;
  std::unordered_map<const aiNode*, aiMatrix4x4> m_global;
};

// A mesh where a node places it, and its vertices' place in the model.
struct Instance {
  const aiNode* node;
  const aiMesh* mesh;
  std::uint32_t first;
  // For a skinned mesh: each vertex's bones (index into the mesh's bones) and weights.
  std::vector<std::vector<std::pair<unsigned, float>>> weights;
  std::vector<const aiNode*> bones;
};

// Every mesh every node places, in the order of the nodes. False when they place more than
// kMaxInstancedTriangles triangles: a node graph that places one mesh many times over (as a
// scene may, sharing a node below two parents) grows with each level, and a few kilobytes can
// ask for gigabytes.
bool Collect(const aiScene& scene, std::vector<Instance>& out, std::size_t& vertices) {
  std::uint64_t triangles = 0;
  std::vector<const aiNode*> stack{scene.mRootNode};
  while (!stack.empty()) {
    const aiNode* node = stack.back();
    stack.pop_back();
    for (unsigned i = 0; i < node->mNumMeshes; ++i) {
      if (node->mMeshes[i] >= scene.mNumMeshes) continue;
      const aiMesh* mesh = scene.mMeshes[node->mMeshes[i]];
      if (!(mesh->mPrimitiveTypes & aiPrimitiveType_TRIANGLE) || mesh->mNumVertices == 0) continue;
      triangles += mesh->mNumFaces;
      if (triangles > kMaxInstancedTriangles) return false;
      Instance in{node, mesh, static_cast<std::uint32_t>(vertices), {}, {}};
      if (mesh->mNumBones) {
        in.weights.resize(mesh->mNumVertices);
        for (unsigned b = 0; b < mesh->mNumBones; ++b) {
          const aiBone* bone = mesh->mBones[b];
          in.bones.push_back(scene.mRootNode->FindNode(bone->mName));
          for (unsigned w = 0; w < bone->mNumWeights; ++w)
            if (bone->mWeights[w].mVertexId < mesh->mNumVertices && bone->mWeights[w].mWeight > 0)
              in.weights[bone->mWeights[w].mVertexId].push_back({b, bone->mWeights[w].mWeight});
        }
      }
      vertices += mesh->mNumVertices;
      out.push_back(std::move(in));
    }
    for (unsigned i = node->mNumChildren; i-- > 0;) stack.push_back(node->mChildren[i]);
  }
  return true;
}

// The positions of every instance's vertices in one pose, in the games' axes.
void Positions(const CPose& pose, const std::vector<Instance>& instances, bool zUp, std::vector<float>& out) {
  std::vector<float> weights;
  for (const Instance& in : instances) {
    const aiMesh* mesh = in.mesh;
    pose.Weights(in.node, mesh, weights);
    const aiMatrix4x4& place = pose.Global(in.node);
    std::vector<aiMatrix4x4> boneMatrices;
    for (unsigned b = 0; b < in.bones.size(); ++b)
      boneMatrices.push_back(in.bones[b] ? pose.Global(in.bones[b]) * mesh->mBones[b]->mOffsetMatrix : place);
    for (unsigned v = 0; v < mesh->mNumVertices; ++v) {
      aiVector3D p = mesh->mVertices[v];
      for (unsigned m = 0; m < mesh->mNumAnimMeshes; ++m) {
        const aiAnimMesh* target = mesh->mAnimMeshes[m];
        if (weights[m] != 0 && target->mVertices && target->mNumVertices == mesh->mNumVertices)
          p += (target->mVertices[v] - mesh->mVertices[v]) * weights[m];
      }
      aiVector3D q;
      if (!in.weights.empty() && !in.weights[v].empty()) {
        float total = 0;
        for (const auto& [b, w] : in.weights[v]) q += (boneMatrices[b] * p) * w, total += w;
        q /= total;
      } else {
        q = place * p;
      }
      float* o = &out[(static_cast<std::size_t>(in.first) + v) * 3];
      if (zUp) o[0] = q.x, o[1] = q.y, o[2] = q.z;
      else o[0] = q.z, o[1] = q.x, o[2] = q.y;  // y up and z towards the viewer: the games' x forward, z up
    }
  }
}

// --- the skin ----------------------------------------------------------------------------------

// Where a model's textures are read from: the folders they may be in (the model's own first).
struct TextureSource {
  std::vector<fs::path> folders;
  CFiles* files = nullptr;
};

// A picture a material names, in the source's folders. Only those folders and those below them
// are looked in, whatever the path says, and a name without a known extension (MD3 and MD5
// shaders) is tried as .tga, .png, .jpg, .pcx and .lmp (the pictures the ports load for them).
bool LoadTextureFile(const std::string& name, const TextureSource& source, RgbaImage& out) {
  if (!source.files) return false;
  std::string cleaned = name;
  std::replace(cleaned.begin(), cleaned.end(), '\\', '/');
  const fs::path given(cleaned);
  const bool inside = !PathInsideFolder(cleaned).empty();
  std::vector<fs::path> tries;
  for (const fs::path& folder : source.folders)
    if (inside) tries.push_back(folder / PathInsideFolder(cleaned));
  for (const fs::path& folder : source.folders) tries.push_back(folder / given.filename());
  for (std::size_t i = 0, n = tries.size(); i < n; ++i)
    for (const char* ext : {".tga", ".png", ".jpg", ".pcx", ".lmp"})
      tries.push_back(fs::path(tries[i]).replace_extension(ext));
  std::string why;
  for (const fs::path& p : tries)
    if (const std::vector<std::uint8_t>* bytes = source.files->Get(p.lexically_normal().generic_string()))
      if (DecodeImage(*bytes, p.string(), out, &why)) return true;
  return false;
}

// A texture the material names: inside the file, or a picture in the source's folders.
bool LoadTexture(const aiScene& scene, const std::string& name, const TextureSource& source, RgbaImage& out) {
  std::string why;
  if (const aiTexture* t = scene.GetEmbeddedTexture(name.c_str())) {
    if (t->mHeight == 0) {
      const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(t->pcData), t->mWidth);
      return DecodeImage(bytes, std::string("texture.") + t->achFormatHint, out, &why);
    }
    if (t->mWidth > 8192 || t->mHeight > 8192) return false;
    out = RgbaImage{};
    out.width = static_cast<int>(t->mWidth), out.height = static_cast<int>(t->mHeight);
    out.rgba.reserve(static_cast<std::size_t>(t->mWidth) * t->mHeight * 4);
    for (std::size_t i = 0; i < static_cast<std::size_t>(t->mWidth) * t->mHeight; ++i)
      out.rgba.insert(out.rgba.end(), {t->pcData[i].r, t->pcData[i].g, t->pcData[i].b, t->pcData[i].a});
    return true;
  }
  return LoadTextureFile(name, source, out);
}

RgbaImage FlatSkin(aiColor4D colour) {
  auto channel = [](float c) { return static_cast<std::uint8_t>(std::clamp(c, 0.0f, 1.0f) * 255 + 0.5f); };
  RgbaImage image;
  image.width = image.height = 16;
  for (int i = 0; i < 16 * 16; ++i)
    image.rgba.insert(image.rgba.end(), {channel(colour.r), channel(colour.g), channel(colour.b), 255});
  return image;
}

// The skin: the picture of the material most triangles use that has one; failing that, the
// colour of the most used material.
RgbaImage MaterialSkin(const aiScene& scene, const std::vector<Instance>& instances, const TextureSource& source,
                       bool* textured) {
  *textured = true;
  std::vector<std::size_t> use(scene.mNumMaterials, 0);
  for (const Instance& in : instances)
    if (in.mesh->mMaterialIndex < use.size()) use[in.mesh->mMaterialIndex] += in.mesh->mNumFaces;
  std::vector<unsigned> order(use.size());
  for (unsigned i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(),
            [&](unsigned a, unsigned b) { return use[a] != use[b] ? use[a] > use[b] : a < b; });
  RgbaImage image;
  for (unsigned m : order) {
    if (use[m] == 0) break;
    for (aiTextureType type : {aiTextureType_DIFFUSE, aiTextureType_BASE_COLOR}) {
      aiString path;
      if (scene.mMaterials[m]->GetTexture(type, 0, &path) == AI_SUCCESS &&
          LoadTexture(scene, path.C_Str(), source, image))
        return image;
    }
  }
  aiColor4D colour(0.5f, 0.5f, 0.5f, 1);
  if (!order.empty()) scene.mMaterials[order.front()]->Get(AI_MATKEY_COLOR_DIFFUSE, colour);
  *textured = false;
  return FlatSkin(colour);
}

// A model whose triangles use more than one material (an MD3's surfaces, an OBJ's usemtl
// groups): each material's picture, or its colour where it has none, side by side in the one skin
// (SkinAtlas), each triangle's coordinates moved into its material's place. False, with the
// model left alone, for a model of one material (whose picture keeps its tiling) or when they do
// not fit.
struct MaterialPlaces {
  SkinAtlas atlas;         // its picture left empty
  std::vector<int> place;  // each material's place in it, -1 for one no triangle uses
};
bool AtlasMaterials(const aiScene& scene, const TextureSource& source, const std::vector<unsigned>& triangleMaterial,
                    SourceModel& model, RgbaImage& skin, bool* textured, MaterialPlaces& layout) {
  std::vector<unsigned> used;
  for (unsigned m : triangleMaterial)
    if (std::find(used.begin(), used.end(), m) == used.end()) used.push_back(m);
  if (used.size() < 2 || triangleMaterial.size() != model.triangles.size()) return false;
  std::vector<RgbaImage> pictures;
  std::vector<std::string> names;  // a picture's path, so that materials sharing one share its place
  std::vector<int> place(scene.mNumMaterials, -1);
  bool any = false;
  for (unsigned m : used) {
    if (m >= scene.mNumMaterials) return false;
    const aiMaterial& material = *scene.mMaterials[m];
    RgbaImage image;
    std::string name;
    for (aiTextureType type : {aiTextureType_DIFFUSE, aiTextureType_BASE_COLOR}) {
      aiString path;
      if (material.GetTexture(type, 0, &path) == AI_SUCCESS && LoadTexture(scene, path.C_Str(), source, image)) {
        name = path.C_Str();
        break;
      }
    }
    if (const auto at = std::find(names.begin(), names.end(), name); !name.empty() && at != names.end()) {
      place[m] = static_cast<int>(at - names.begin());
      continue;
    }
    if (name.empty()) {
      aiColor4D colour(0.5f, 0.5f, 0.5f, 1);
      material.Get(AI_MATKEY_COLOR_DIFFUSE, colour);
      image = FlatSkin(colour);
    }
    any = any || !name.empty();
    place[m] = static_cast<int>(pictures.size());
    pictures.push_back(std::move(image));
    names.push_back(name);
  }
  if (pictures.size() < 2) return false;
  std::vector<const RgbaImage*> all;
  for (const RgbaImage& p : pictures) all.push_back(&p);
  SkinAtlas atlas;
  if (!PackSkinAtlas(all, kMaxSkinAtlasSide, atlas)) return false;
  for (std::size_t i = 0; i < model.triangles.size(); ++i)
    for (SourceCorner& c : model.triangles[i]) atlas.Map(place[triangleMaterial[i]], c.u, c.v);
  skin = atlas.image;
  *textured = any;
  layout.atlas = std::move(atlas);
  layout.atlas.image.rgba.clear();
  layout.place = std::move(place);
  return true;
}

// An animation that only switches morph targets, each key showing one target whole, is a list
// of frames (as Tarn's glTF export writes them, and exporters of vertex animation do): each key
// becomes a frame named after its target, whatever --fps says. Nothing for any other animation.
struct KeyedFrame {
  double ticks;
  std::string name;
};
std::vector<KeyedFrame> KeyedFrames(const std::vector<Instance>& instances, const aiAnimation& animation) {
  if (animation.mNumChannels != 0 || animation.mNumMeshChannels != 0 || animation.mNumMorphMeshChannels != 1 ||
      !animation.mMorphMeshChannels[0])
    return {};
  const aiMeshMorphAnim& channel = *animation.mMorphMeshChannels[0];
  const aiMesh* mesh = nullptr;
  for (const Instance& in : instances)
    if (in.node->mName == channel.mName || in.mesh->mName == channel.mName) mesh = in.mesh;
  if (!mesh || mesh->mNumAnimMeshes == 0 || channel.mNumKeys == 0) return {};
  std::vector<KeyedFrame> frames;
  for (unsigned k = 0; k < channel.mNumKeys; ++k) {
    const aiMeshMorphKey& key = channel.mKeys[k];
    const aiAnimMesh* shown = nullptr;
    for (unsigned j = 0; j < key.mNumValuesAndWeights; ++j) {
      const double w = key.mWeights[j];
      if (std::abs(w - 1) < 1e-4 && !shown && key.mValues[j] < mesh->mNumAnimMeshes)
        shown = mesh->mAnimMeshes[key.mValues[j]];
      else if (std::abs(w) > 1e-4) return {};
    }
    if (!shown || shown->mName.length == 0 || (k > 0 && !(key.mTime > frames.back().ticks))) return {};
    frames.push_back({key.mTime, shown->mName.C_Str()});
  }
  return frames;
}

// MD3 files keep every frame, but Assimp gives one a reading: the frame count from the header.
std::size_t Md3FrameCount(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < 80 || std::memcmp(bytes.data(), "IDP3", 4) != 0) return 1;
  const std::uint32_t n = bytes[76] | bytes[77] << 8 | bytes[78] << 16 | static_cast<std::uint32_t>(bytes[79]) << 24;
  return std::clamp<std::uint32_t>(n, 1, kMaxImportFrames);
}

// The MD3 with each surface's vertices starting at frame k's; empty when a surface does not fit.
std::vector<std::uint8_t> Md3AtFrame(std::span<const std::uint8_t> bytes, std::size_t k) {
  auto i32 = [&](std::size_t at) {
    return static_cast<std::int32_t>(bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
                                     static_cast<std::uint32_t>(bytes[at + 3]) << 24);
  };
  if (bytes.size() < 108) return {};
  std::vector<std::uint8_t> out(bytes.begin(), bytes.end());
  const std::int32_t surfaces = i32(84);
  std::int64_t at = i32(100);
  for (std::int32_t n = 0; n < surfaces; ++n) {
    if (at < 0 || at + 108 > static_cast<std::int64_t>(bytes.size())) return {};
    const auto s = static_cast<std::size_t>(at);
    const std::int64_t vertices = i32(s + 80), xyz = i32(s + 100), end = i32(s + 104);
    const std::int64_t shifted = xyz + static_cast<std::int64_t>(k) * vertices * 8;
    if (vertices < 0 || xyz < 0 || end <= 0 || shifted > INT32_MAX ||
        at + shifted + vertices * 8 > static_cast<std::int64_t>(bytes.size()))
      return {};
    for (int b = 0; b < 4; ++b) out[s + 100 + b] = static_cast<std::uint8_t>(shifted >> (8 * b));
    at += end;
  }
  return out;
}

// The file as Assimp reads it, with only the format's importer there and only the model's files
// in reach. Assimp turns the scenes of z-up formats (MD3) to its own y up with a turn of the
// root node; their z up is the games', so the turn is undone.
const aiScene* ReadScene(Assimp::Importer& importer, ModelFileFormat format, const std::string& name, CFiles& files) {
  KeepOnlyImporterOf(importer, format);
  importer.SetIOHandler(new CConfinedIO(files));
  // An MD3 named like a part of a Quake III player (lower.md3) would have Assimp read the other
  // parts, unchecked, from beside it.
  importer.SetPropertyBool(AI_CONFIG_IMPORT_MD3_HANDLE_MULTIPART, false);
  const aiScene* scene = importer.ReadFile(name, kReadFlags);
  const aiMatrix4x4 turn(1, 0, 0, 0, 0, 0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1);
  if (format == ModelFileFormat::Md3 && scene && scene->mRootNode && scene->mRootNode->mTransformation == turn)
    scene->mRootNode->mTransformation = aiMatrix4x4();
  return scene;
}

// layout: where the materials went in the skin, when they were put side by side.
bool ReadWithAssimp(ModelFileFormat format, const std::string& name, std::span<const std::uint8_t> bytes, double fps,
                    CFiles& files, const TextureSource* textures, ReadModel& out, MaterialPlaces& layout,
                    std::string* error) {
  auto fail = [&](const std::string& why) {
    out = ReadModel{};
    if (error) *error = why;
    return false;
  };
  const bool zUp = format == ModelFileFormat::Md3;
  Assimp::Importer importer;
  const aiScene* scene = ReadScene(importer, format, name, files);
  if (!scene || !scene->mRootNode) {
    // A file the model needed but may not read says more than the reader's complaint about it.
    if (!files.Refused().empty()) return fail(files.Refused().front());
    std::string why = FirstLine(importer.GetErrorString());
    if (why.find("bad_alloc") != std::string::npos) why = "the model is too large to read";
    return fail(why);
  }
  std::vector<Instance> instances;
  std::size_t vertexCount = 0;
  if (!Collect(*scene, instances, vertexCount))
    return fail("its nodes place more than " + std::to_string(kMaxInstancedTriangles) + " triangles");
  if (instances.empty()) return fail("the file holds no triangles");

  SourceModel& source = out.source;
  source.vertexCount = vertexCount;
  std::vector<unsigned> triangleMaterial;
  for (const Instance& in : instances)
    for (unsigned f = 0; f < in.mesh->mNumFaces; ++f) {
      const aiFace& face = in.mesh->mFaces[f];
      if (face.mNumIndices != 3) continue;
      std::array<SourceCorner, 3> t;
      // Modelling programs wind front faces anticlockwise; the games clockwise.
      const unsigned order[3] = {0, 2, 1};
      for (int k = 0; k < 3; ++k) {
        const unsigned i = face.mIndices[order[k]];
        if (i >= in.mesh->mNumVertices) return fail("a triangle names a vertex the mesh does not have");
        t[k].vertex = in.first + i;
        if (in.mesh->mTextureCoords[0])
          t[k].u = in.mesh->mTextureCoords[0][i].x, t[k].v = in.mesh->mTextureCoords[0][i].y;
      }
      source.triangles.push_back(t);
      triangleMaterial.push_back(in.mesh->mMaterialIndex);
    }

  std::vector<std::string> taken;
  auto addFrames = [&](const aiAnimation* animation, const std::string& frameName, std::size_t count,
                       double ticksStep) {
    CPose pose(*scene, animation);
    const std::vector<std::string> names = FrameNames(frameName, count, taken);
    for (std::size_t i = 0; i < count; ++i) {
      pose.At(static_cast<double>(i) * ticksStep);
      SourceFrame frame;
      frame.name = names[i];
      frame.positions.resize(vertexCount * 3);
      Positions(pose, instances, zUp, frame.positions);
      source.frames.push_back(std::move(frame));
    }
  };
  std::size_t total = 0;
  for (unsigned a = 0; a < scene->mNumAnimations; ++a) {
    const aiAnimation* animation = scene->mAnimations[a];
    if (const std::vector<KeyedFrame> keyed = KeyedFrames(instances, *animation); !keyed.empty()) {
      if (keyed.size() > kMaxImportFrames - total)
        return fail("the animations make more than " + std::to_string(kMaxImportFrames) + " frames");
      if ((total + keyed.size()) * vertexCount > kMaxImportPositions)
        return fail(std::to_string(vertexCount) + " vertices in " + std::to_string(total + keyed.size()) +
                    " frames: too large to sample");
      out.animations.push_back(animation->mName.C_Str());
      CPose pose(*scene, animation);
      for (const KeyedFrame& k : keyed) {
        pose.At(k.ticks);
        SourceFrame frame;
        frame.name = k.name;
        frame.positions.resize(vertexCount * 3);
        Positions(pose, instances, zUp, frame.positions);
        source.frames.push_back(std::move(frame));
      }
      total += keyed.size();
      continue;
    }
    const double perSecond = animation->mTicksPerSecond > 0 ? animation->mTicksPerSecond : 25.0;
    const double seconds = animation->mDuration / perSecond;
    const double samples = std::isfinite(seconds) && seconds > 0 ? std::floor(seconds * fps + kSampleSlack) + 1 : 1;
    if (samples > static_cast<double>(kMaxImportFrames - total))
      return fail("the animations make more than " + std::to_string(kMaxImportFrames) + " frames at " +
                  std::to_string(static_cast<int>(fps)) + " a second");
    if ((total + static_cast<std::size_t>(samples)) * vertexCount > kMaxImportPositions)
      return fail(std::to_string(vertexCount) + " vertices in " +
                  std::to_string(total + static_cast<std::size_t>(samples)) + " frames: too large to sample");
    const std::string animationName = animation->mName.length ? animation->mName.C_Str() : "anim";
    out.animations.push_back(animationName);
    addFrames(animation, animationName, static_cast<std::size_t>(samples), perSecond / fps);
    total += static_cast<std::size_t>(samples);
  }
  if (source.frames.empty()) addFrames(nullptr, "frame", 1, 0);

  // Each further frame of an MD3. Assimp reads the first frame's vertices whatever keyframe
  // it is asked for, so each frame is read from a copy whose surfaces point at that frame's.
  if (format == ModelFileFormat::Md3 && scene->mNumAnimations == 0) {
    const std::size_t frames = Md3FrameCount(bytes);
    if (frames > 1 && frames * vertexCount > kMaxImportPositions)
      return fail(std::to_string(vertexCount) + " vertices in " + std::to_string(frames) +
                  " frames: too large to sample");
    if (frames > 1) {
      taken.clear();
      const std::vector<std::string> names = FrameNames("frame", frames, taken);
      source.frames.front().name = names[0];
      for (std::size_t k = 1; k < frames; ++k) {
        std::vector<std::uint8_t> shifted = Md3AtFrame(bytes, k);
        if (shifted.empty()) break;
        files.ReplaceModel(std::move(shifted));
        Assimp::Importer next;
        const aiScene* s = ReadScene(next, format, name, files);
        if (!s || !s->mRootNode) break;
        std::vector<Instance> again;
        std::size_t n = 0;
        if (!Collect(*s, again, n) || n != vertexCount) break;
        CPose pose(*s, nullptr);
        pose.At(0);
        SourceFrame frame;
        frame.name = names[k];
        frame.positions.resize(vertexCount * 3);
        Positions(pose, again, zUp, frame.positions);
        source.frames.push_back(std::move(frame));
      }
      if (source.frames.size() < frames)
        out.warnings.push_back("only " + std::to_string(source.frames.size()) + " of its " + std::to_string(frames) +
                               " frames could be read");
    }
  }

  if (textures && !AtlasMaterials(*scene, *textures, triangleMaterial, source, out.skin, &out.textured, layout))
    out.skin = MaterialSkin(*scene, instances, *textures, &out.textured);
  return true;
}

// The skins an MD3's .skin files give it (see Md3Skins.h), the first in out.skin and the rest in
// out.moreSkins; nothing changes when it has none. An MD3 of several surfaces, whose pictures
// were put side by side (layout: Assimp gives each surface the material of its number), gets each
// surface's picture from the file scaled into that surface's place; one of one surface, the
// picture itself.
void Md3SkinFiles(std::span<const std::uint8_t> bytes, const std::string& modelPath, const TextureSource& textures,
                  CFiles& files, const MaterialPlaces& layout, ReadModel& out) {
  const std::vector<Md3Surface> surfaces = Md3Surfaces(bytes);
  std::vector<RgbaImage> skins;
  bool firstTextured = false;
  for (int n = 0; n < kMaxSkinFiles; ++n) {
    const std::string path = SkinFilePath(modelPath, n);
    const std::vector<std::uint8_t>* text = files.Get(path);
    if (!text) break;
    const SkinFile file = ParseSkinFile(*text);
    for (const std::string& w : file.warnings) out.warnings.push_back(Quoted(path) + " " + w);
    RgbaImage image;
    bool found = false;
    if (!layout.atlas.places.empty()) {
      const SkinAtlas& atlas = layout.atlas;
      image.width = atlas.image.width, image.height = atlas.image.height;
      image.rgba.assign(static_cast<std::size_t>(image.width) * image.height * 4, 128);
      for (std::size_t k = 0; k < surfaces.size() && k < layout.place.size(); ++k) {
        if (layout.place[k] < 0) continue;
        RgbaImage picture;
        for (auto it = file.pictures.rbegin(); it != file.pictures.rend(); ++it)
          if (it->first == surfaces[k].name) {
            if (LoadTextureFile(it->second, textures, picture)) found = true;
            else picture = {};
            break;
          }
        if (picture.width <= 0 || picture.height <= 0) continue;
        const SkinAtlas::Place& at = atlas.places[static_cast<std::size_t>(layout.place[k])];
        for (int y = 0; y < at.height; ++y)
          for (int x = 0; x < at.width; ++x) {
            const std::size_t from = (static_cast<std::size_t>(y * picture.height / at.height) * picture.width +
                                      x * picture.width / at.width) *
                                     4;
            std::copy_n(&picture.rgba[from], 4,
                        &image.rgba[(static_cast<std::size_t>(at.y + y) * image.width + at.x + x) * 4]);
          }
      }
    } else {
      for (const std::string& picture : SkinPictures(file, surfaces))
        if ((found = LoadTextureFile(picture, textures, image))) break;
    }
    if (!found) {
      out.warnings.push_back(Quoted(path) + " names no picture that is there");
      if (layout.atlas.places.empty()) image = FlatSkin(aiColor4D(0.5f, 0.5f, 0.5f, 1));
    }
    if (skins.empty()) firstTextured = found;
    skins.push_back(std::move(image));
  }
  if (skins.empty()) return;
  out.skin = std::move(skins.front());
  out.textured = firstTextured;
  out.moreSkins.assign(std::make_move_iterator(skins.begin() + 1), std::make_move_iterator(skins.end()));
}

// An MD5 mesh with the .md5anim beside it (Md5Model.h) and its skins: the picture its shader
// names, else the re-release's "SHADER_00_00", and the re-release's further skins
// "SHADER_01_00", ... while they are there.
bool ReadMd5File(std::span<const std::uint8_t> bytes, const std::string& name, const TextureSource* skin, CFiles& files,
                 ReadModel& out, std::string* error) {
  std::vector<Md5Animation> anims;
  const std::string animPath = Md5AnimationPath(name);
  if (const std::vector<std::uint8_t>* anim = files.Get(animPath))
    anims.push_back({fs::path(animPath).stem().string(), *anim});
  Md5Model md5;
  if (!ReadMd5(bytes, anims, md5, error)) return false;
  out.source = std::move(md5.source);
  out.animations = std::move(md5.animations);
  out.warnings = std::move(md5.warnings);
  if (anims.empty())
    out.warnings.push_back("no " + Quoted(fs::path(animPath).filename().string()) +
                           " beside it: only the mesh as it is bound is read");
  out.facts = {{"meshes", std::to_string(md5.meshes)}, {"joints", std::to_string(md5.joints)}};
  if (!skin) return true;
  // The numbered names get an extension added, never one in place of the shader's own: the
  // ports open "progs/SHADER_00_00.tga" whatever SHADER ends in.
  auto numbered = [&](int n, RgbaImage& image, const std::string& shader) {
    return !shader.empty() && LoadTextureFile(Md5SkinName(shader, n) + ".tga", *skin, image);
  };
  // A model of parts whose meshes name pictures of their own: each keeps its own, side by side
  // in the one skin (SkinAtlas). The re-release's further skins are of one-mesh models.
  std::vector<std::string> shaders;
  for (const std::string& s : md5.shaders)
    if (std::find(shaders.begin(), shaders.end(), s) == shaders.end()) shaders.push_back(s);
  if (shaders.size() > 1 && md5.triangleMesh.size() == out.source.triangles.size()) {
    std::vector<RgbaImage> images(shaders.size());
    bool all = true;
    for (std::size_t i = 0; i < shaders.size() && all; ++i)
      all = LoadTextureFile(shaders[i], *skin, images[i]) || numbered(0, images[i], shaders[i]);
    std::vector<const RgbaImage*> pictures;
    for (const RgbaImage& image : images) pictures.push_back(&image);
    SkinAtlas atlas;
    if (all && PackSkinAtlas(pictures, kMaxSkinAtlasSide, atlas)) {
      for (std::size_t i = 0; i < out.source.triangles.size(); ++i) {
        const std::string& shader = md5.shaders[md5.triangleMesh[i]];
        const int place = static_cast<int>(std::find(shaders.begin(), shaders.end(), shader) - shaders.begin());
        for (SourceCorner& c : out.source.triangles[i]) atlas.Map(place, c.u, c.v);
      }
      out.skin = std::move(atlas.image);
      out.textured = true;
      return true;
    }
  }
  out.textured =
      (!md5.material.empty() && LoadTextureFile(md5.material, *skin, out.skin)) || numbered(0, out.skin, md5.material);
  if (!out.textured) {
    out.skin = FlatSkin(aiColor4D(0.5f, 0.5f, 0.5f, 1));
    return true;
  }
  for (int n = 1; n < 100 && out.moreSkins.size() + 1 < kMaxReadSkins; ++n) {
    RgbaImage more;
    if (!numbered(n, more, md5.material)) break;
    out.moreSkins.push_back(std::move(more));
  }
  return true;
}

bool ReadFileBytes(const fs::path& path, std::vector<std::uint8_t>& out) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return false;
  const std::uintmax_t size = fs::file_size(path, ec);
  if (ec || size > kMaxModelFileBytes) return false;
  std::ifstream in(path, std::ios::binary);
  out.resize(static_cast<std::size_t>(size));
  in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(out.size()));
  return static_cast<bool>(in);
}

}  // namespace

FileSource FolderFiles(const std::string& folder) {
  std::error_code ec;
  const fs::path root = fs::weakly_canonical(folder.empty() ? fs::path(".") : fs::path(folder), ec);
  return [root](const std::string& path, std::vector<std::uint8_t>& out, std::string* refusal) {
    std::error_code e;
    // Where the path really leads, through every link: it must stay inside the folder.
    const fs::path real = fs::weakly_canonical(root / fs::path(path), e);
    const fs::path inside = real.lexically_relative(root);
    if (e || inside.empty() || *inside.begin() == "..") {
      if (refusal) *refusal = "refused to read " + Quoted(path) + ": it is outside the model's folder";
      return false;
    }
    return ReadFileBytes(real, out);
  };
}

FileSource ArchiveFiles(std::function<bool(const std::string& path, std::vector<std::uint8_t>& out)> find) {
  return [find = std::move(find)](const std::string& path, std::vector<std::uint8_t>& out, std::string* refusal) {
    const std::string inside = PathInsideFolder(path);
    if (inside.empty()) {
      if (refusal) *refusal = "refused to read " + Quoted(path) + ": it is outside the archive";
      return false;
    }
    return find && find(inside, out);
  };
}

bool ReadModelFile(const ModelReadRequest& request, const FileSource& source, ReadModel& out, std::string* error) {
  out = ReadModel{};
  auto fail = [&](const std::string& why) {
    out = ReadModel{};
    if (error) *error = why;
    return false;
  };
  try {
    const std::span<const std::uint8_t> bytes = request.bytes;
    const ModelFileFormat format = SniffModelFile(bytes);
    if (std::string why = ModelFileProblem(format, bytes); !why.empty()) return fail(why);
    static const char* const kNames[] = {"", "gltf", "glb", "obj", "iqm", "md3", "fbx", "dae", "hlmdl", "md5"};
    out.format = kNames[static_cast<int>(format)];

    // The name the reader is given ends in the format's own extension, so that nothing reads
    // the file by what its name says; files it names are looked for in the same folder.
    // On disk the reader works inside the model's folder (files go by their path from there);
    // in an archive from its root, where the games find textures, and beside the model.
    const std::string folder = fs::path(request.path).parent_path().generic_string();
    std::string stem = fs::path(request.path).stem().string();
    if (stem.empty()) stem = "model";
    const std::string name =
        (request.inArchive && !folder.empty() ? folder + "/" : std::string()) + stem + "." + out.format;
    CFiles files(source, name, bytes);
    TextureSource textures{{}, &files};
    if (request.inArchive) textures.folders = {fs::path(), fs::path(folder)};
    else textures.folders = {fs::path()};
    const TextureSource* skin = request.skin ? &textures : nullptr;

    if (format == ModelFileFormat::Iqm) {
      IqmModel iqm;
      std::string why;
      if (!ReadIqm(bytes, request.fps, iqm, &why)) return fail(why);
      out.source = std::move(iqm.source);
      out.animations = std::move(iqm.animations);
      out.warnings = std::move(iqm.warnings);
      if (skin) {
        out.textured = LoadTextureFile(iqm.material, textures, out.skin);
        if (!out.textured) out.skin = FlatSkin(aiColor4D(0.5f, 0.5f, 0.5f, 1));
      }
      return true;
    }
    if (format == ModelFileFormat::HalfLife) {
      // Its textures (NAMEt.mdl) and sequence groups (NAME01.mdl, ...) are looked for beside it.
      StudioReadOptions options;
      options.stem = stem;
      options.fps = request.fps;
      const std::string beside = request.inArchive && !folder.empty() ? folder + "/" : std::string();
      const StudioFiles companions = [&](const std::string& file, std::vector<std::uint8_t>& found) {
        const std::vector<std::uint8_t>* got = files.Get(beside + file);
        if (got) found = *got;
        return got != nullptr;
      };
      StudioModel studio;
      std::string why;
      if (!ReadStudioModel(bytes, options, companions, studio, &why)) return fail(why);
      out.source = std::move(studio.source);
      out.animations = std::move(studio.animations);
      out.warnings = std::move(studio.warnings);
      if (skin) {
        out.textured = studio.textured;
        out.skin = studio.textured ? std::move(studio.skin) : FlatSkin(aiColor4D(0.5f, 0.5f, 0.5f, 1));
      }
      return true;
    }
    std::string why;
    if (format == ModelFileFormat::Md5) {
      if (!ReadMd5File(bytes, name, skin, files, out, &why)) return fail(why);
      for (const std::string& refused : files.Refused()) out.warnings.push_back(refused);
      return true;
    }
    MaterialPlaces layout;
    if (!ReadWithAssimp(format, name, bytes, request.fps, files, skin, out, layout, &why)) return fail(why);
    // The .skin files go by the model's own name, whatever its extension.
    if (format == ModelFileFormat::Md3 && skin) {
      const std::string own = fs::path(request.path).filename().string();
      Md3SkinFiles(bytes, request.inArchive && !folder.empty() ? folder + "/" + own : own, textures, files, layout,
                   out);
    }
    // The MD3 reader probes for Quake III's shader scripts three folders up, whether the model
    // names one or not: only the refusals of the other readers say something was left out.
    if (format != ModelFileFormat::Md3)
      for (const std::string& refused : files.Refused()) out.warnings.push_back(refused);
    return true;
  } catch (const std::bad_alloc&) {
    return fail("the model is too large to read");
  } catch (const std::exception& e) {
    return fail(FirstLine(e.what()));
  }
}

}  // namespace tarn::import
