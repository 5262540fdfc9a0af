#include "formats/ModelImport.h"

#include <assimp/config.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <stb_image_resize.h>

#include <algorithm>
#include <assimp/Importer.hpp>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <unordered_map>

#include "archive/Strings.h"

namespace tarn {

namespace fs = std::filesystem;

namespace {

// More frames than this is a file asking for more than any engine loads (Quake II's 512 is the
// most); it would only fill memory.
constexpr std::size_t kMaxFrames = 1024;
// Positions held while sampling (vertices times frames): far past any model the games load, and
// short of filling memory with a file that asks for more.
constexpr std::size_t kMaxPositions = std::size_t{1} << 25;
constexpr int kMaxSkinHeight = 480;
// Files keep times in single precision: an animation of 4.2 s may end at 4.1999976 s, and still
// has its sample at 4.2 s.
constexpr double kSampleSlack = 1e-3;

constexpr unsigned kReadFlags =
    aiProcess_Triangulate | aiProcess_SortByPType | aiProcess_ValidateDataStructure | aiProcess_FlipUVs;

// Formats whose files keep the games' axes (z up); the others (glTF, OBJ, ...) have y up.
bool ZUp(const std::string& path) {
  const std::string ext = ToLower(fs::path(path).extension().string());
  for (const char* e : {".md3", ".md2", ".mdl", ".mdc", ".md5mesh", ".iqm", ".smd"})
    if (ext == e) return true;
  return false;
}

std::string FirstLine(std::string s) {
  if (const std::size_t cut = s.find('\n'); cut != std::string::npos) s.resize(cut);
  while (!s.empty() && (s.back() == '\r' || s.back() == ' ')) s.pop_back();
  return s.empty() ? "not a model Tarn can read" : s;
}

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

  void At(double ticks) {
    m_ticks = ticks;
    m_global.clear();
    Walk(m_scene.mRootNode, aiMatrix4x4());
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
  void Walk(const aiNode* node, const aiMatrix4x4& parent) {
    aiMatrix4x4 local = node->mTransformation;
    if (auto it = m_channels.find(node->mName.C_Str()); it != m_channels.end()) {
      const aiNodeAnim* c = it->second;
      aiVector3D scale(1, 1, 1), position;
      aiQuaternion rotation;
      node->mTransformation.Decompose(scale, rotation, position);
      if (c->mNumPositionKeys) position = VectorAt(c->mPositionKeys, c->mNumPositionKeys, m_ticks);
      if (c->mNumRotationKeys) rotation = RotationAt(c->mRotationKeys, c->mNumRotationKeys, m_ticks);
      if (c->mNumScalingKeys) scale = VectorAt(c->mScalingKeys, c->mNumScalingKeys, m_ticks);
      local = aiMatrix4x4(scale, rotation, position);
    }
    const aiMatrix4x4 global = parent * local;
    m_global[node] = global;
    for (unsigned i = 0; i < node->mNumChildren; ++i) Walk(node->mChildren[i], global);
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

void Collect(const aiScene& scene, const aiNode* node, std::vector<Instance>& out, std::size_t& vertices) {
  for (unsigned i = 0; i < node->mNumMeshes; ++i) {
    if (node->mMeshes[i] >= scene.mNumMeshes) continue;
    const aiMesh* mesh = scene.mMeshes[node->mMeshes[i]];
    if (!(mesh->mPrimitiveTypes & aiPrimitiveType_TRIANGLE) || mesh->mNumVertices == 0) continue;
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
  for (unsigned i = 0; i < node->mNumChildren; ++i) Collect(scene, node->mChildren[i], out, vertices);
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

bool ReadFile(const fs::path& path, std::vector<std::uint8_t>& out) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return false;
  std::ifstream in(path, std::ios::binary);
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return static_cast<bool>(in) || in.eof();
}

// Where a model's textures are read from: the folders they may be in (the model's own first),
// and how a file's bytes are read.
struct TextureSource {
  std::vector<fs::path> folders;
  std::function<bool(const fs::path&, std::vector<std::uint8_t>&)> read;
};

// A texture the material names: inside the file, or a picture in the source's folders. Only
// those folders and those below them are looked in, whatever the path says, and a name without
// a known extension (MD3 shaders) is tried as .tga, .png and .jpg.
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
  if (!source.read) return false;
  std::string cleaned = name;
  std::replace(cleaned.begin(), cleaned.end(), '\\', '/');
  const fs::path given(cleaned);
  std::vector<fs::path> tries;
  bool inside = given.is_relative();
  for (const auto& part : given)
    if (part == "..") inside = false;
  for (const fs::path& folder : source.folders)
    if (inside) tries.push_back(folder / given);
  for (const fs::path& folder : source.folders) tries.push_back(folder / given.filename());
  for (std::size_t i = 0, n = tries.size(); i < n; ++i)
    for (const char* ext : {".tga", ".png", ".jpg"}) tries.push_back(fs::path(tries[i]).replace_extension(ext));
  std::vector<std::uint8_t> bytes;
  for (const fs::path& p : tries)
    if (source.read(p, bytes) && DecodeImage(bytes, p.string(), out, &why)) return true;
  return false;
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
  auto channel = [](float c) { return static_cast<std::uint8_t>(std::clamp(c, 0.0f, 1.0f) * 255 + 0.5f); };
  *textured = false;
  image.width = image.height = 16;
  for (int i = 0; i < 16 * 16; ++i)
    image.rgba.insert(image.rgba.end(), {channel(colour.r), channel(colour.g), channel(colour.b), 255});
  return image;
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

// The counts an MD3's or an IQM's header gives, against the bytes there are: Assimp allocates
// what a header says before it reads, so a count no file of this size can hold (gigabytes for
// a few hundred bytes) is refused here. Empty when they fit.
std::string StructureProblem(const std::string& ext, std::span<const std::uint8_t> bytes) {
  const auto u32 = [&](std::size_t at) -> std::int64_t {
    if (at + 4 > bytes.size()) return -1;
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | static_cast<std::int64_t>(bytes[at + 3]) << 24;
  };
  const auto size = static_cast<std::int64_t>(bytes.size());
  // count records of each bytes from offset, within the file.
  const auto fits = [&](std::int64_t offset, std::int64_t count, std::int64_t each) {
    return offset >= 0 && count >= 0 && count <= size && offset <= size && count * each <= size - offset;
  };
  if (ext == ".md3") {
    if (bytes.size() < 108 || std::memcmp(bytes.data(), "IDP3", 4) != 0) return "not an MD3 model";
    const std::int64_t frames = u32(76), tags = u32(80), surfaces = u32(84);
    if (frames < 1 || frames > 1024 || tags > 16 || surfaces > 32 || !fits(u32(92), frames, 56) ||
        !fits(u32(96), frames * tags, 112) || u32(104) > size)
      return "its header counts more frames, tags or surfaces than the file holds";
    std::int64_t at = u32(100);
    for (std::int64_t n = 0; n < surfaces; ++n) {
      if (!fits(at, 1, 108)) return "a surface lies outside the file";
      const auto s = static_cast<std::size_t>(at);
      const std::int64_t sframes = u32(s + 72), shaders = u32(s + 76), verts = u32(s + 80), tris = u32(s + 84),
                         end = u32(s + 104);
      if (sframes != frames || shaders > 256 || verts > 4096 || tris > 8192 || !fits(at + u32(s + 88), tris, 12) ||
          !fits(at + u32(s + 92), shaders, 68) || !fits(at + u32(s + 96), verts, 8) ||
          !fits(at + u32(s + 100), verts * frames, 8) || end <= 0)
        return "a surface counts more than the file holds";
      at += end;
    }
    return {};
  }
  if (ext == ".iqm") {
    if (bytes.size() < 124 || std::memcmp(bytes.data(), "INTERQUAKEMODEL", 16) != 0) return "not an IQM model";
    // num, offset and the size of one record: text, meshes, vertex arrays, triangles, joints,
    // poses, animations, comment, extensions.
    struct Table {
      std::size_t num, offset;
      std::int64_t each;
    };
    for (const Table& t : {Table{28, 32, 1}, Table{36, 40, 24}, Table{44, 52, 20}, Table{56, 60, 12}, Table{68, 72, 48},
                           Table{76, 80, 88}, Table{84, 88, 20}, Table{108, 112, 1}, Table{116, 120, 16}})
      if (!fits(u32(t.offset), u32(t.num), t.each)) return "its header counts more than the file holds";
    // Every vertex has at least a position of three floats; every frame a value per channel.
    if (!fits(0, u32(48), 12) || !fits(u32(100), u32(92) * u32(96), 2))
      return "its header counts more vertices or frames than the file holds";
    return {};
  }
  return {};
}

// MD3 files keep every frame, but Assimp gives one a reading: the frame count from the header.
std::size_t Md3FrameCount(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < 80 || std::memcmp(bytes.data(), "IDP3", 4) != 0) return 1;
  const std::uint32_t n = bytes[76] | bytes[77] << 8 | bytes[78] << 16 | static_cast<std::uint32_t>(bytes[79]) << 24;
  return std::clamp<std::uint32_t>(n, 1, kMaxFrames);
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

}  // namespace

RgbaImage FitSkin(const RgbaImage& image, std::string* error) {
  int width = image.width, height = image.height;
  if (height > kMaxSkinHeight) {
    width = std::max(1, static_cast<int>(std::lround(static_cast<double>(width) * kMaxSkinHeight / height)));
    height = kMaxSkinHeight;
  }
  width = (width + 3) & ~3;
  if (width == image.width && height == image.height) return image;
  RgbaImage out;
  out.width = width, out.height = height;
  out.rgba.resize(static_cast<std::size_t>(width) * height * 4);
  if (!::stbir_resize_uint8_srgb(image.rgba.data(), image.width, image.height, 0, out.rgba.data(), width, height, 0, 4,
                                 3, 0)) {
    if (error) *error = "the skin cannot be resized";
    return {};
  }
  return out;
}

namespace {

// How a scene is read: from a file, or from bytes with the format's extension as a hint.
using SceneReader = std::function<const aiScene*(Assimp::Importer&)>;

struct ReadScene {
  SourceModel source;
  std::vector<std::string> animations;
  RgbaImage skin;
  bool textured = false;  // the skin is a texture, not the material's colour
};

// The frames and triangles of a scene, with its animations' names and (when textures is given)
// the skin its materials make. False with a reason; exceptions pass through to the caller.
bool ReadSource(const SceneReader& read, const std::string& path, std::span<const std::uint8_t> md3, double fps,
                const TextureSource* textures, ReadScene& out, std::string* error) {
  auto fail = [&](const std::string& why) {
    out = ReadScene{};
    if (error) *error = why;
    return false;
  };
  if (!md3.empty())
    if (std::string why = StructureProblem(ToLower(fs::path(path).extension().string()), md3); !why.empty())
      return fail(why);
  const bool zUp = ZUp(path);
  // Assimp turns the scenes of z-up formats (MD3, IQM) to its own y up with a turn of the root
  // node; their z up is the games', so the turn is undone.
  auto readUnturned = [&](const SceneReader& reader, Assimp::Importer& importer) {
    const aiScene* scene = reader(importer);
    const aiMatrix4x4 turn(1, 0, 0, 0, 0, 0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1);
    if (zUp && scene && scene->mRootNode && scene->mRootNode->mTransformation == turn)
      scene->mRootNode->mTransformation = aiMatrix4x4();
    return scene;
  };
  {
    Assimp::Importer importer;
    const aiScene* scene = readUnturned(read, importer);
    if (!scene || !scene->mRootNode) return fail(FirstLine(importer.GetErrorString()));
    std::vector<Instance> instances;
    std::size_t vertexCount = 0;
    Collect(*scene, scene->mRootNode, instances, vertexCount);
    if (instances.empty()) return fail("the file holds no triangles");

    SourceModel& source = out.source;
    source.vertexCount = vertexCount;
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
      }

    std::vector<std::string> taken;
    auto addFrames = [&](const aiAnimation* animation, const std::string& name, std::size_t count, double ticksStep) {
      CPose pose(*scene, animation);
      const std::vector<std::string> names = FrameNames(name, count, taken);
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
        if (keyed.size() > kMaxFrames - total)
          return fail("the animations make more than " + std::to_string(kMaxFrames) + " frames");
        if ((total + keyed.size()) * vertexCount > kMaxPositions)
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
      if (samples > static_cast<double>(kMaxFrames - total))
        return fail("the animations make more than " + std::to_string(kMaxFrames) + " frames at " +
                    std::to_string(static_cast<int>(fps)) + " a second");
      if ((total + static_cast<std::size_t>(samples)) * vertexCount > kMaxPositions)
        return fail(std::to_string(vertexCount) + " vertices in " +
                    std::to_string(total + static_cast<std::size_t>(samples)) + " frames: too large to sample");
      const std::string name = animation->mName.length ? animation->mName.C_Str() : "anim";
      out.animations.push_back(name);
      addFrames(animation, name, static_cast<std::size_t>(samples), perSecond / fps);
      total += static_cast<std::size_t>(samples);
    }
    if (source.frames.empty()) addFrames(nullptr, "frame", 1, 0);

    // Each further frame of an MD3. Assimp reads the first frame's vertices whatever keyframe
    // it is asked for, so each frame is read from a copy whose surfaces point at that frame's.
    if (ToLower(fs::path(path).extension().string()) == ".md3" && scene->mNumAnimations == 0) {
      const std::size_t frames = Md3FrameCount(md3);
      if (frames > 1) {
        taken.clear();
        const std::vector<std::string> names = FrameNames("frame", frames, taken);
        source.frames.front().name = names[0];
        for (std::size_t k = 1; k < frames; ++k) {
          const std::vector<std::uint8_t> shifted = Md3AtFrame(md3, k);
          if (shifted.empty()) break;
          Assimp::Importer next;
          const aiScene* s = readUnturned(
              [&](Assimp::Importer& i) {
                return i.ReadFileFromMemory(shifted.data(), shifted.size(), kReadFlags, "md3");
              },
              next);
          if (!s || !s->mRootNode) break;
          std::vector<Instance> again;
          std::size_t n = 0;
          Collect(*s, s->mRootNode, again, n);
          if (n != vertexCount) break;
          CPose pose(*s, nullptr);
          pose.At(0);
          SourceFrame frame;
          frame.name = names[k];
          frame.positions.resize(vertexCount * 3);
          Positions(pose, again, zUp, frame.positions);
          source.frames.push_back(std::move(frame));
        }
      }
    }

    if (textures) out.skin = MaterialSkin(*scene, instances, *textures, &out.textured);
    return true;
  }
}

}  // namespace

bool ImportModel(const std::string& path, const ModelImportOptions& options, ImportedModel& out, std::string* error) {
  out = ImportedModel{};
  auto fail = [&](const std::string& why) {
    out = ImportedModel{};
    if (error) *error = why;
    return false;
  };
  if (!(options.fps > 0 && options.fps <= 1000)) return fail("the frame rate must be above 0 and at most 1000");
  try {
    std::vector<std::uint8_t> md3;  // the file's bytes, for the formats whose headers are checked first
    const std::string ext = ToLower(fs::path(path).extension().string());
    if (ext == ".md3" || ext == ".iqm") ReadFile(path, md3);
    const TextureSource textures{{fs::path(path).parent_path()}, ReadFile};
    ReadScene read;
    std::string why;
    if (!ReadSource([&](Assimp::Importer& importer) { return importer.ReadFile(path, kReadFlags); }, path, md3,
                    options.fps, options.skin ? nullptr : &textures, read, &why))
      return fail(why);
    const SourceModel& source = read.source;
    out.animations = std::move(read.animations);

    // The skin, fitted and encoded in the game's palette.
    const RgbaImage& image = options.skin ? *options.skin : read.skin;
    RgbaImage skin = FitSkin(image, &why);
    if (skin.rgba.empty()) return fail(why);
    // A skin has no see-through pixels: each keeps its colour.
    for (std::size_t i = 3; i < skin.rgba.size(); i += 4) skin.rgba[i] = 255;
    const bool md2 = options.format == ModelData::kMd2;
    EncodeOptions encode = options.encode;
    encode.opaque = true;  // the games draw index 255 of a skin as its colour
    EncodeResult encoded = EncodeImage(skin, md2 ? OutputKind::Pcx : OutputKind::Lmp, encode);
    if (!encoded.ok) return fail("the skin: " + encoded.error);

    if (!PackModel(source, options.format, skin.width, skin.height, out.model, &why)) return fail(why);
    if (md2) {
      out.model.skinPath = options.skinPath;
      out.skinBytes = std::move(encoded.bytes);
      out.bytes = WriteMd2(out.model);
    } else {
      out.model.skin.reserve(static_cast<std::size_t>(skin.width) * skin.height);
      for (int y = 0; y < skin.height; ++y)
        out.model.skin.insert(out.model.skin.end(), encoded.picture.Row(y), encoded.picture.Row(y) + skin.width);
      out.bytes = WriteMdl(out.model);
    }
    return true;
  } catch (const std::bad_alloc&) {
    return fail("the model is too large to read");
  } catch (const std::exception& e) {
    return fail(FirstLine(e.what()));
  }
}

bool ReadModelForView(std::span<const std::uint8_t> bytes, const std::string& path, const FindBytes& find,
                      ModelData& out, std::string* error) {
  out = ModelData{};
  auto fail = [&](const std::string& why) {
    out = ModelData{};
    if (error) *error = why;
    return false;
  };
  try {
    const std::string ext = ToLower(fs::path(path).extension().string());
    if (ext.size() < 2) return fail("the name has no extension to tell its format");
    // Textures by their path from the archive's root (as the games name them), then beside the
    // model.
    TextureSource textures{{fs::path(), fs::path(path).parent_path()}, {}};
    if (find)
      textures.read = [&](const fs::path& p, std::vector<std::uint8_t>& b) {
        return find(p.lexically_normal().generic_string(), b);
      };
    ReadScene read;
    std::string why;
    const std::string hint = ext.substr(1);
    auto scene = [&](Assimp::Importer& importer) {
      return importer.ReadFileFromMemory(bytes.data(), bytes.size(), kReadFlags, hint.c_str());
    };
    if (!ReadSource(scene, path, bytes, 10, &textures, read, &why)) return fail(why);

    // Without its texture a model in one flat colour shows only its outline: a checkerboard of
    // the colour and a darker shade shows its surfaces.
    if (!read.textured && read.skin.rgba.size() >= 4) {
      const std::uint8_t* c = read.skin.rgba.data();
      RgbaImage checks;
      checks.width = checks.height = 64;
      for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
          const bool dark = ((x / 8) + (y / 8)) % 2 != 0;
          for (int k = 0; k < 3; ++k) checks.rgba.push_back(static_cast<std::uint8_t>(dark ? c[k] * 3 / 4 : c[k]));
          checks.rgba.push_back(255);
        }
      read.skin = std::move(checks);
    }
    const RgbaImage& image = read.skin;
    if (image.width <= 0 || image.height <= 0) return fail("the skin cannot be read");
    ModelSkin skin;
    skin.width = image.width, skin.height = image.height;
    skin.paddedWidth = PaddedSize(image.width), skin.paddedHeight = PaddedSize(image.height);
    skin.pixels.assign(static_cast<std::size_t>(skin.paddedWidth) * skin.paddedHeight * 3, 0);
    for (int y = 0; y < image.height; ++y)
      for (int x = 0; x < image.width; ++x)
        for (int c = 0; c < 3; ++c)
          skin.pixels[(static_cast<std::size_t>(y) * skin.paddedWidth + x) * 3 + c] =
              image.rgba[(static_cast<std::size_t>(y) * image.width + x) * 4 + c];
    skin.name = "skin";
    out.skins.push_back(std::move(skin));

    // One texture coordinate a corner, in the skin's pixels (tiling ones kept as they are).
    const SourceModel& source = read.source;
    auto pixel = [](float f, int size) {
      const double v = std::isfinite(f) ? std::clamp(static_cast<double>(f) * size, -1e6, 1e6) : 0.0;
      return static_cast<std::int32_t>(std::lround(v));
    };
    for (const auto& t : source.triangles) {
      ModelTriangle tri;
      for (int k = 0; k < 3; ++k) {
        tri.vertex[k] = static_cast<std::int32_t>(t[k].vertex);
        tri.texCoord[k] = static_cast<std::int32_t>(out.texCoords.size());
        ModelVertex st;
        st.s = pixel(t[k].u, image.width), st.t = pixel(t[k].v, image.height);
        out.texCoords.push_back(st);
      }
      out.triangles.push_back(tri);
    }
    // Frames in their animations, as the games' frames are grouped: by the name before its
    // number.
    for (const SourceFrame& f : source.frames) {
      ModelFrame frame;
      frame.name = f.name;
      frame.vertices.resize(source.vertexCount);
      for (std::size_t v = 0; v < source.vertexCount; ++v)
        frame.vertices[v].x = f.positions[v * 3], frame.vertices[v].y = f.positions[v * 3 + 1],
        frame.vertices[v].z = f.positions[v * 3 + 2];
      const std::string animation = MdlAnimationName(f.name);
      if (out.animations.empty() || out.animations.back().name != animation) {
        out.animations.emplace_back();
        out.animations.back().name = animation;
      }
      out.animations.back().frames.push_back(std::move(frame));
    }
    out.name = fs::path(path).filename().string();
    out.format = ModelData::kMd2;  // a texture coordinate a corner, as MD2 keeps them
    out.readAs = hint;
    out.vertexCount = static_cast<int>(std::min<std::size_t>(source.vertexCount, INT32_MAX));
    return true;
  } catch (const std::bad_alloc&) {
    return fail("the model is too large to read");
  } catch (const std::exception& e) {
    return fail(FirstLine(e.what()));
  }
}

}  // namespace tarn
