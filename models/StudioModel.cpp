#include "models/StudioModel.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>

#include "fileio/ByteIO.h"
#include "models/Affine.h"
#include "models/IqmModel.h"
#include "models/ModelFiles.h"
#include "models/SkinAtlas.h"

namespace tarn {

namespace {

constexpr std::size_t kHeaderSize = 244;  // studiohdr_t
constexpr std::size_t kSeqHeaderSize = 76;
constexpr std::size_t kBoneSize = 112, kSequenceSize = 176, kGroupSize = 104, kTextureSize = 80, kBodyPartSize = 76,
                      kSubmodelSize = 112, kMeshSize = 20;
// The engine's own limits are 128 bones, 32 body parts of 32 submodels, 2048 sequences, 16
// sequence groups, 100 textures and 256 meshes; these are a little past them, and far short of
// what would take long to read.
constexpr std::int64_t kMaxBones = 128, kMaxBodyParts = 32, kMaxSubmodels = 32, kMaxSequences = 2048, kMaxGroups = 64,
                       kMaxTextures = 256, kMaxSkinRefs = 256, kMaxFamilies = 256, kMaxMeshes = 256,
                       kMaxVertices = 32768, kMaxTextureSide = 4096, kMaxSequenceFrames = 65536;
// Steps through the animations' runs of values; a file needs a few per channel and frame.
constexpr std::uint64_t kMaxRunSteps = std::uint64_t{1} << 24;

[[noreturn]] void Fail(const std::string& why) { throw ParseError("Half-Life model: " + why); }

bool Starts(std::span<const std::uint8_t> bytes, const char* magic) {
  return bytes.size() >= 4 && std::memcmp(bytes.data(), magic, 4) == 0;
}

std::int32_t I32At(std::span<const std::uint8_t> bytes, std::size_t at) {
  if (at > bytes.size() || bytes.size() - at < 4) return 0;
  return static_cast<std::int32_t>(bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
                                   static_cast<std::uint32_t>(bytes[at + 3]) << 24);
}

// The header's counts and offsets from numbones on (studiohdr_t from byte 140).
enum Field {
  kNumBones,
  kBoneIndex,
  kNumControllers,
  kControllerIndex,
  kNumHitboxes,
  kHitboxIndex,
  kNumSeq,
  kSeqIndex,
  kNumSeqGroups,
  kSeqGroupIndex,
  kNumTextures,
  kTextureIndex,
  kTextureDataIndex,
  kNumSkinRef,
  kNumSkinFamilies,
  kSkinIndex,
  kNumBodyParts,
  kBodyPartIndex,
  kFieldCount
};
std::array<std::int32_t, kFieldCount> HeaderFields(std::span<const std::uint8_t> bytes) {
  std::array<std::int32_t, kFieldCount> h{};
  for (int i = 0; i < kFieldCount; ++i) h[i] = I32At(bytes, 140 + static_cast<std::size_t>(i) * 4);
  return h;
}

// count records of each bytes at offset, inside the file.
ByteReader Table(const ByteReader& file, std::int64_t offset, std::int64_t count, std::size_t each,
                 const std::string& what) {
  const auto size = static_cast<std::int64_t>(file.Size());
  if (count < 0 || offset < 0 || offset > size || count > (size - offset) / static_cast<std::int64_t>(each))
    Fail("its " + what + " lie outside the file");
  return file.Sub(static_cast<std::size_t>(offset), static_cast<std::size_t>(count) * each);
}

void Limit(std::int64_t count, std::int64_t most, const char* what) {
  if (count < 0 || count > most)
    Fail("it counts " + std::to_string(count) + " " + what + "; Tarn reads at most " + std::to_string(most));
}

// A rotation (x, y, z, w) and the matrix it makes, as the engine turns a bone's angles (roll
// about x, pitch about y, yaw about z, in radians) into one.
using Quat = std::array<double, 4>;
Quat FromAngles(const double a[3]) {
  const double sr = std::sin(a[0] / 2), cr = std::cos(a[0] / 2), sp = std::sin(a[1] / 2), cp = std::cos(a[1] / 2),
               sy = std::sin(a[2] / 2), cy = std::cos(a[2] / 2);
  return {sr * cp * cy - cr * sp * sy, cr * sp * cy + sr * cp * sy, cr * cp * sy - sr * sp * cy,
          cr * cp * cy + sr * sp * sy};
}

Quat Slerp(const Quat& a, Quat b, double t) {
  if (t <= 0) return a;
  double dot = 0;
  for (int i = 0; i < 4; ++i) dot += a[i] * b[i];
  if (dot < 0) {
    for (double& v : b) v = -v;
    dot = -dot;
  }
  double wa = 1 - t, wb = t;
  if (dot < 0.9999) {
    const double omega = std::acos(std::min(dot, 1.0)), s = std::sin(omega);
    wa = std::sin((1 - t) * omega) / s, wb = std::sin(t * omega) / s;
  }
  Quat r;
  for (int i = 0; i < 4; ++i) r[i] = a[i] * wa + b[i] * wb;
  return r;
}

struct Bone {
  std::int32_t parent = -1;
  float value[6] = {}, scale[6] = {};
};

// One channel's values frame by frame: runs of (valid, total) followed by valid values, the last
// standing for the rest of the run. Read forwards only, as the sampling asks for frames in order.
class CChannel {
 public:
  CChannel() = default;
  CChannel(const ByteReader* data, std::size_t first, std::uint64_t* steps)
      : m_data(data), m_first(first), m_at(first), m_steps(steps) {}
  bool Present() const { return m_data != nullptr; }

  std::int16_t At(std::int64_t frame) {
    if (frame < m_runStart) m_at = m_first, m_runStart = 0;
    ByteReader r = *m_data;
    for (;;) {
      if (++*m_steps > kMaxRunSteps) Fail("its animations take too long to read");
      if (m_at > r.Size() || r.Size() - m_at < 2) Fail("an animation runs past the end of its file");
      r.Seek(m_at);
      const std::uint8_t valid = r.U8(), total = r.U8();
      if (frame - m_runStart < total) {
        const std::int64_t k = frame - m_runStart;
        const std::size_t at = m_at + 2 * static_cast<std::size_t>(k < valid ? k + 1 : valid);
        if (at > r.Size() || r.Size() - at < 2) Fail("an animation runs past the end of its file");
        r.Seek(at);
        return r.I16();
      }
      m_runStart += total;
      m_at += (static_cast<std::size_t>(valid) + 1) * 2;
    }
  }

 private:
  const ByteReader* m_data = nullptr;
  std::size_t m_first = 0, m_at = 0;
  std::int64_t m_runStart = 0;
  std::uint64_t* m_steps = nullptr;
};

struct Corner {
  std::uint32_t vertex;  // among every submodel's vertices
  float u, v;
};

}  // namespace

StudioFileKind SniffStudioFile(std::span<const std::uint8_t> bytes) {
  if (Starts(bytes, "IDSQ")) return StudioFileKind::SequenceGroup;
  if (!Starts(bytes, "IDST")) return StudioFileKind::None;
  const auto h = HeaderFields(bytes);
  return h[kNumBodyParts] == 0 && h[kNumTextures] > 0 ? StudioFileKind::Textures : StudioFileKind::Model;
}

std::string StudioFileProblem(std::span<const std::uint8_t> bytes) {
  switch (SniffStudioFile(bytes)) {
    case StudioFileKind::None: return "Half-Life model: it does not start \"IDST\"";
    case StudioFileKind::SequenceGroup:
      return "Half-Life model: this is a sequence group (animations that NAME.mdl reads from NAME01.mdl, ...), "
             "not a model of its own";
    case StudioFileKind::Textures:
      return "Half-Life model: this holds only the textures of a model (NAME.mdl reads them from NAMEt.mdl), not a "
             "model of its own";
    case StudioFileKind::Model: break;
  }
  if (bytes.size() < kHeaderSize) return "Half-Life model: its header is cut short";
  if (const std::int32_t version = I32At(bytes, 4); version != 10)
    return "Half-Life model: version " + std::to_string(version) + "; Tarn reads version 10 (Half-Life's)";
  return {};
}

bool ReadStudioModel(std::span<const std::uint8_t> bytes, const StudioReadOptions& options, const StudioFiles& files,
                     StudioModel& out, std::string* error) {
  out = StudioModel{};
  try {
    if (std::string why = StudioFileProblem(bytes); !why.empty()) throw ParseError(why);
    const ByteReader file(bytes);
    const auto h = HeaderFields(bytes);
    StudioCounts& counts = out.counts;
    // The engine asks for "NAMET.mdl" and "NAME01.mdl"; archives often hold them in lower case.
    auto companion = [&](const std::string& suffix, std::vector<std::uint8_t>& into) {
      if (!files) return false;
      std::string lower = suffix;
      for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      return files(options.stem + suffix, into) || (lower != suffix && files(options.stem + lower, into));
    };

    // Bones, parents before children, as the engine poses them.
    Limit(h[kNumBones], kMaxBones, "bones");
    if (h[kNumBones] < 1) Fail("it has no bones");
    counts.bones = static_cast<std::size_t>(h[kNumBones]);
    ByteReader boneTable = Table(file, h[kBoneIndex], h[kNumBones], kBoneSize, "bones");
    std::vector<Bone> bones(counts.bones);
    for (std::size_t b = 0; b < bones.size(); ++b) {
      boneTable.Seek(b * kBoneSize + 32);
      bones[b].parent = boneTable.I32();
      if (bones[b].parent < -1 || bones[b].parent >= static_cast<std::int32_t>(b))
        Fail("bone " + std::to_string(b) + " comes before its parent");
      boneTable.Skip(4 + 24);  // flags, controllers
      for (float& v : bones[b].value) v = boneTable.F32();
      for (float& v : bones[b].scale) v = boneTable.F32();
    }

    // Textures and skin families: in the file, or in NAMEt.mdl when it has none.
    std::vector<std::uint8_t> textureBytes;
    std::span<const std::uint8_t> textureFile = bytes;
    bool haveTextures = true;
    if (h[kNumTextures] == 0) {
      haveTextures = companion("T.mdl", textureBytes);
      if (!haveTextures) {
        out.warnings.push_back("its textures are kept in " + options.stem + "T.mdl, which is not there");
      } else if (SniffStudioFile(textureBytes) != StudioFileKind::Textures || textureBytes.size() < kHeaderSize ||
                 I32At(textureBytes, 4) != 10) {
        Fail(options.stem + "T.mdl does not hold version 10 textures");
      }
      textureFile = textureBytes;
    }
    struct Texture {
      std::int32_t width = 0, height = 0, index = 0;
    };
    std::vector<Texture> textures;
    std::vector<std::int32_t> family0;  // texture of each skin reference in family 0
    if (haveTextures) {
      const ByteReader tfile(textureFile);
      const auto th = HeaderFields(textureFile);
      Limit(th[kNumTextures], kMaxTextures, "textures");
      Limit(th[kNumSkinRef], kMaxSkinRefs, "skin references");
      Limit(th[kNumSkinFamilies], kMaxFamilies, "skin families");
      counts.textures = static_cast<std::size_t>(th[kNumTextures]);
      counts.skinFamilies = static_cast<std::size_t>(th[kNumSkinFamilies]);
      ByteReader table = Table(tfile, th[kTextureIndex], th[kNumTextures], kTextureSize, "textures");
      for (std::int32_t t = 0; t < th[kNumTextures]; ++t) {
        table.Seek(static_cast<std::size_t>(t) * kTextureSize + 68);
        Texture tex;
        tex.width = table.I32(), tex.height = table.I32(), tex.index = table.I32();
        if (tex.width < 1 || tex.height < 1 || tex.width > kMaxTextureSide || tex.height > kMaxTextureSide)
          Fail("texture " + std::to_string(t) + " is " + std::to_string(tex.width) + " x " +
               std::to_string(tex.height) + " pixels");
        Table(tfile, tex.index, std::int64_t{tex.width} * tex.height + 768, 1, "texture pixels");
        textures.push_back(tex);
      }
      ByteReader skins =
          Table(tfile, th[kSkinIndex], std::int64_t{th[kNumSkinRef]} * th[kNumSkinFamilies], 2, "skin families");
      if (th[kNumSkinFamilies] > 0)
        for (std::int32_t r = 0; r < th[kNumSkinRef]; ++r) family0.push_back(skins.I16());
    }
    // The texture a mesh's skin reference draws with, or -1.
    auto textureOf = [&](std::int32_t skinref) -> std::int32_t {
      std::int32_t t = skinref;
      if (!family0.empty())
        t = skinref >= 0 && skinref < static_cast<std::int32_t>(family0.size()) ? family0[skinref] : -1;
      return t >= 0 && t < static_cast<std::int32_t>(textures.size()) ? t : -1;
    };

    // Body parts: submodel 0 of each, its meshes' strips and fans made triangles.
    Limit(h[kNumBodyParts], kMaxBodyParts, "body parts");
    counts.bodyParts = static_cast<std::size_t>(h[kNumBodyParts]);
    ByteReader parts = Table(file, h[kBodyPartIndex], h[kNumBodyParts], kBodyPartSize, "body parts");
    std::vector<std::array<float, 3>> rest;  // every submodel's vertices, in their bones' space
    std::vector<std::uint8_t> vertexBone;
    std::vector<std::array<Corner, 3>> triangles;
    std::vector<std::int32_t> triangleTexture;
    bool unknownSkin = false;
    for (std::int32_t p = 0; p < h[kNumBodyParts]; ++p) {
      parts.Seek(static_cast<std::size_t>(p) * kBodyPartSize + 64);
      const std::int32_t submodels = parts.I32();
      parts.I32();  // base
      const std::int32_t submodelIndex = parts.I32();
      Limit(submodels, kMaxSubmodels, "submodels in a body part");
      if (submodels == 0) continue;
      ByteReader submodel = Table(file, submodelIndex, 1, kSubmodelSize, "submodels");
      submodel.Seek(72);
      const std::int32_t meshCount = submodel.I32(), meshIndex = submodel.I32(), vertexCount = submodel.I32(),
                         vertexInfoIndex = submodel.I32(), vertexIndex = submodel.I32();
      Limit(meshCount, kMaxMeshes, "meshes in a submodel");
      Limit(vertexCount, kMaxVertices, "vertices in a submodel");
      ByteReader infos = Table(file, vertexInfoIndex, vertexCount, 1, "vertices' bones");
      ByteReader positions = Table(file, vertexIndex, vertexCount, 12, "vertices");
      const auto base = static_cast<std::uint32_t>(rest.size());
      for (std::int32_t v = 0; v < vertexCount; ++v) {
        const std::uint8_t bone = infos.U8();
        if (bone >= bones.size()) Fail("a vertex names a bone the model does not have");
        vertexBone.push_back(bone);
        rest.push_back({positions.F32(), positions.F32(), positions.F32()});
      }
      ByteReader meshes = Table(file, meshIndex, meshCount, kMeshSize, "meshes");
      counts.meshes += static_cast<std::size_t>(meshCount);
      for (std::int32_t m = 0; m < meshCount; ++m) {
        meshes.Seek(static_cast<std::size_t>(m) * kMeshSize + 4);
        const std::int32_t commandIndex = meshes.I32(), skinref = meshes.I32();
        const std::int32_t texture = textureOf(skinref);
        if (texture < 0 && haveTextures) unknownSkin = true;
        const double width = texture >= 0 ? textures[static_cast<std::size_t>(texture)].width : 1;
        const double height = texture >= 0 ? textures[static_cast<std::size_t>(texture)].height : 1;
        if (commandIndex < 0 || static_cast<std::size_t>(commandIndex) > bytes.size())
          Fail("a mesh's triangles lie outside the file");
        ByteReader commands = file.Sub(static_cast<std::size_t>(commandIndex), bytes.size() - commandIndex);
        std::vector<Corner> run;
        for (;;) {
          if (!commands.CanRead(2)) Fail("a mesh's strips run past the end of the file");
          const int n = commands.I16();
          if (n == 0) break;
          const bool fan = n < 0;
          const int count = fan ? -n : n;
          run.clear();
          for (int i = 0; i < count; ++i) {
            if (!commands.CanRead(8)) Fail("a mesh's strips run past the end of the file");
            const std::int16_t vertex = commands.I16();
            commands.I16();  // normal
            const std::int16_t s = commands.I16(), t = commands.I16();
            if (vertex < 0 || vertex >= vertexCount) Fail("a strip names a vertex its submodel does not have");
            run.push_back({base + static_cast<std::uint32_t>(vertex), static_cast<float>(s / width),
                           static_cast<float>(t / height)});
          }
          // As GL draws them (and the engine hands them to GL): a fan round its first corner,
          // a strip turning every other triangle so that all face the same way.
          for (int i = 0; i + 2 < count; ++i) {
            if (triangles.size() >= kMaxInstancedTriangles)
              Fail("it holds more than " + std::to_string(kMaxInstancedTriangles) + " triangles");
            if (fan) triangles.push_back({run[0], run[i + 1], run[i + 2]});
            else if (i % 2 == 0) triangles.push_back({run[i], run[i + 1], run[i + 2]});
            else triangles.push_back({run[i + 1], run[i], run[i + 2]});
            triangleTexture.push_back(texture);
          }
        }
      }
    }
    counts.triangles = triangles.size();
    if (triangles.empty()) Fail("it holds no triangles");
    if (unknownSkin) out.warnings.push_back("a mesh names a skin the model does not have: drawn with the skin");

    // Sequences and their groups.
    Limit(h[kNumSeq], kMaxSequences, "sequences");
    Limit(h[kNumSeqGroups], kMaxGroups, "sequence groups");
    counts.sequences = static_cast<std::size_t>(h[kNumSeq]);
    counts.sequenceGroups = static_cast<std::size_t>(h[kNumSeqGroups]);
    ByteReader sequences = Table(file, h[kSeqIndex], h[kNumSeq], kSequenceSize, "sequences");
    ByteReader groups = Table(file, h[kSeqGroupIndex], h[kNumSeqGroups], kGroupSize, "sequence groups");

    // The skin: every texture the triangles draw with, each in its own palette (after its
    // pixels), side by side in one picture (see SkinAtlas). Should they not fit in one, the
    // texture most triangles use stands for all.
    const auto decode = [&](std::int32_t t) {
      const Texture& tex = textures[static_cast<std::size_t>(t)];
      const std::size_t pixels = static_cast<std::size_t>(tex.width) * tex.height;
      const std::uint8_t* data = textureFile.data() + tex.index;
      RgbaImage image;
      image.width = tex.width, image.height = tex.height;
      image.rgba.resize(pixels * 4);
      for (std::size_t i = 0; i < pixels; ++i) {
        const std::uint8_t* c = data + pixels + data[i] * 3;
        image.rgba[i * 4] = c[0], image.rgba[i * 4 + 1] = c[1], image.rgba[i * 4 + 2] = c[2];
        image.rgba[i * 4 + 3] = 255;
      }
      return image;
    };
    std::map<std::int32_t, std::size_t> uses;
    for (std::int32_t t : triangleTexture)
      if (t >= 0) ++uses[t];
    std::map<std::int32_t, int> slot;  // a texture's place in the atlas
    std::vector<RgbaImage> drawn;
    for (const auto& [t, n] : uses) slot[t] = static_cast<int>(drawn.size()), drawn.push_back(decode(t));
    SkinAtlas atlas;
    bool atlased = false;
    if (drawn.size() == 1) {
      out.skin = std::move(drawn.front());
      out.textured = true;
    } else if (drawn.size() > 1) {
      std::vector<const RgbaImage*> all;
      for (const RgbaImage& image : drawn) all.push_back(&image);
      atlased = PackSkinAtlas(all, kMaxSkinAtlasSide, atlas);
      if (atlased) {
        out.skin = atlas.image;  // the atlas keeps its size for the coordinates below
      } else {
        std::int32_t chosen = uses.begin()->first;
        for (const auto& [t, n] : uses)
          if (n > uses[chosen]) chosen = t;
        out.skin = std::move(drawn[static_cast<std::size_t>(slot[chosen])]);
        out.warnings.push_back("its textures do not fit in one skin of " + std::to_string(kMaxSkinAtlasSide) +
                               " pixels a side: all its triangles are drawn with the one most of them use");
      }
      out.textured = true;
    }

    // Only the vertices the triangles use, in the file's order.
    std::vector<std::uint32_t> index(rest.size(), UINT32_MAX), used;
    for (const auto& t : triangles)
      for (const Corner& c : t) index[c.vertex] = 0;
    for (std::uint32_t v = 0; v < rest.size(); ++v)
      if (index[v] == 0) index[v] = static_cast<std::uint32_t>(used.size()), used.push_back(v);
    SourceModel& source = out.source;
    source.vertexCount = used.size();
    for (std::size_t i = 0; i < triangles.size(); ++i) {
      const auto& t = triangles[i];
      std::array<SourceCorner, 3> s;
      for (int k = 0; k < 3; ++k) {
        s[k] = {index[t[k].vertex], t[k].u, t[k].v};
        if (atlased && triangleTexture[i] >= 0) atlas.Map(slot[triangleTexture[i]], s[k].u, s[k].v);
      }
      source.triangles.push_back(s);
    }
    if (!options.frames) return true;

    // A frame: each bone's place from its parent's, each vertex carried by its bone.
    std::vector<Affine> world(bones.size());
    auto addFrame = [&](const std::string& name, const std::vector<Quat>& q,
                        const std::vector<std::array<double, 3>>& pos) {
      for (std::size_t b = 0; b < bones.size(); ++b) {
        const Affine local = Affine::FromQuaternion(q[b][0], q[b][1], q[b][2], q[b][3], pos[b].data());
        world[b] = bones[b].parent >= 0 ? world[static_cast<std::size_t>(bones[b].parent)] * local : local;
      }
      SourceFrame frame;
      frame.name = name;
      frame.positions.resize(used.size() * 3);
      for (std::size_t v = 0; v < used.size(); ++v) {
        double moved[3];
        world[vertexBone[used[v]]].Point(rest[used[v]].data(), moved);
        for (int i = 0; i < 3; ++i) frame.positions[v * 3 + i] = static_cast<float>(moved[i]);
      }
      source.frames.push_back(std::move(frame));
    };

    std::vector<std::string> taken;
    std::map<std::int32_t, std::vector<std::uint8_t>> groupFiles;
    std::map<std::int32_t, bool> groupMissing;
    std::uint64_t steps = 0;
    std::size_t total = 0;
    for (std::int32_t s = 0; s < h[kNumSeq]; ++s) {
      sequences.Seek(static_cast<std::size_t>(s) * kSequenceSize);
      std::string label = sequences.FixedString(32);
      const float fps = sequences.F32();
      sequences.Seek(static_cast<std::size_t>(s) * kSequenceSize + 56);
      const std::int32_t frames = sequences.I32();
      sequences.Seek(static_cast<std::size_t>(s) * kSequenceSize + 68);
      const std::int32_t motionType = sequences.I32(), motionBone = sequences.I32();
      sequences.Seek(static_cast<std::size_t>(s) * kSequenceSize + 120);
      const std::int32_t blends = sequences.I32(), animIndex = sequences.I32();
      sequences.Seek(static_cast<std::size_t>(s) * kSequenceSize + 156);
      const std::int32_t group = sequences.I32();
      if (label.empty()) label = "seq";
      if (frames < 1 || frames > kMaxSequenceFrames || blends < 1) {
        out.warnings.push_back("sequence " + label + " counts " + std::to_string(frames) + " frames and " +
                               std::to_string(blends) + " blends: left out");
        continue;
      }
      if (group < 0 || group >= h[kNumSeqGroups]) Fail("sequence " + label + " names a group the model does not have");

      // Where its values are: in the model, or in NAME0N.mdl after that file's own header.
      const ByteReader* data = &file;
      ByteReader groupReader;
      std::int64_t animAt = animIndex;
      if (group == 0) {
        groups.Seek(100);
        animAt += groups.I32();
      } else {
        if (!groupFiles.count(group) && !groupMissing[group]) {
          char suffix[16];
          std::snprintf(suffix, sizeof suffix, "%02d.mdl", static_cast<int>(group));
          std::vector<std::uint8_t> loaded;
          if (!companion(suffix, loaded)) {
            groupMissing[group] = true;
            out.warnings.push_back("its sequence group " + options.stem + suffix +
                                   " is not there: its sequences are left out");
          } else if (loaded.size() < kSeqHeaderSize || !Starts(loaded, "IDSQ") || I32At(loaded, 4) != 10) {
            Fail(options.stem + suffix + " is not a version 10 sequence group (\"IDSQ\")");
          } else {
            groupFiles.emplace(group, std::move(loaded));
          }
        }
        if (groupMissing[group]) continue;
        groupReader = ByteReader(groupFiles[group]);
        data = &groupReader;
      }
      const ByteReader anims = Table(*data, animAt, static_cast<std::int64_t>(bones.size()), 12, "animations");
      const auto animBase = static_cast<std::size_t>(animAt);

      const bool timed = options.fps > 0 && std::isfinite(fps) && fps > 0;
      const double samples =
          timed ? std::floor((frames - 1) / static_cast<double>(fps) * options.fps + kSampleSlack) + 1 : frames;
      if (samples > static_cast<double>(kMaxImportFrames - total) ||
          (total + static_cast<std::size_t>(samples)) * used.size() > kMaxImportPositions) {
        out.warnings.push_back("only the first " + std::to_string(out.animations.size()) + " of its " +
                               std::to_string(h[kNumSeq]) + " sequences fit in " + std::to_string(kMaxImportFrames) +
                               " frames");
        break;
      }
      const auto n = static_cast<std::size_t>(samples);

      // Each bone's six channels, read at two frames for each sample (two cursors, each
      // moving forwards).
      std::vector<std::array<CChannel, 12>> channels(bones.size());
      for (std::size_t b = 0; b < bones.size(); ++b)
        for (int j = 0; j < 6; ++j) {
          ByteReader a = anims;
          a.Seek(b * 12 + static_cast<std::size_t>(j) * 2);
          const std::uint16_t offset = a.U16();
          if (offset == 0) continue;
          const std::size_t at = animBase + b * 12 + offset;
          if (at >= data->Size()) Fail("an animation lies outside its file");
          channels[b][j] = CChannel(data, at, &steps);
          channels[b][j + 6] = CChannel(data, at, &steps);
        }
      auto pose = [&](std::size_t b, std::int64_t frame, int cursor, Quat& q, std::array<double, 3>& pos) {
        double angles[3];
        for (int j = 0; j < 6; ++j) {
          CChannel& c = channels[b][j + cursor * 6];
          const double v = bones[b].value[j] + (c.Present() ? c.At(frame) * static_cast<double>(bones[b].scale[j]) : 0);
          if (j < 3) pos[j] = v;
          else angles[j - 3] = v;
        }
        q = FromAngles(angles);
      };
      out.animations.push_back(label);
      const std::vector<std::string> names = FrameNames(label, n, taken);
      std::vector<Quat> q(bones.size()), q1(bones.size());
      std::vector<std::array<double, 3>> pos(bones.size()), pos1(bones.size());
      for (std::size_t i = 0; i < n; ++i) {
        const double at =
            timed ? std::min(i * static_cast<double>(fps) / options.fps, frames - 1.0) : static_cast<double>(i);
        const auto f0 = static_cast<std::int64_t>(std::floor(at));
        const std::int64_t f1 = std::min<std::int64_t>(f0 + 1, frames - 1);
        const double t = at - static_cast<double>(f0);
        for (std::size_t b = 0; b < bones.size(); ++b) {
          pose(b, f0, 0, q[b], pos[b]);
          if (t > 0) {
            pose(b, f1, 1, q1[b], pos1[b]);
            q[b] = Slerp(q[b], q1[b], t);
            for (int k = 0; k < 3; ++k) pos[b][k] += (pos1[b][k] - pos[b][k]) * t;
          }
        }
        // A sequence that moves the model along leaves that to the game: the engine holds the
        // moving bone in place on the axes its motion type names.
        if (motionBone >= 0 && static_cast<std::size_t>(motionBone) < bones.size())
          for (int k = 0; k < 3; ++k)
            if (motionType & (1 << k)) pos[static_cast<std::size_t>(motionBone)][k] = 0;
        addFrame(names[i], q, pos);
      }
      total += n;
    }
    if (source.frames.empty()) {
      std::vector<Quat> q(bones.size());
      std::vector<std::array<double, 3>> pos(bones.size());
      for (std::size_t b = 0; b < bones.size(); ++b) {
        const double angles[3] = {bones[b].value[3], bones[b].value[4], bones[b].value[5]};
        q[b] = FromAngles(angles);
        pos[b] = {bones[b].value[0], bones[b].value[1], bones[b].value[2]};
      }
      addFrame(FrameNames("frame", 1, taken)[0], q, pos);
    }
    return true;
  } catch (const ParseError& e) {
    out = StudioModel{};
    const std::string why = e.what();
    if (error) *error = why.rfind("Half-Life model: ", 0) == 0 ? why : "Half-Life model: " + why;
    return false;
  } catch (const std::bad_alloc&) {
    out = StudioModel{};
    if (error) *error = "Half-Life model: too large to read";
    return false;
  }
}

}  // namespace tarn
