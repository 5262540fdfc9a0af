#include "models/IqmModel.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <unordered_map>

#include "fileio/ByteIO.h"
#include "models/Affine.h"
#include "models/ModelFiles.h"

namespace tarn {

namespace {

constexpr std::size_t kHeaderSize = 124;
enum { kPosition = 0, kTexCoord = 1, kBlendIndexes = 4, kBlendWeights = 5 };
enum { kUbyte = 1, kFloat = 7 };

// A joint's place against its parent: translation, rotation (x, y, z, w), scale.
struct Pose {
  double channel[10] = {0, 0, 0, 0, 0, 0, 1, 1, 1, 1};

  // output = (input × scale) × rotation + translation, as iqm.txt has it.
  Affine Matrix() const {
    double x = channel[3], y = channel[4], z = channel[5], w = channel[6];
    const double length = std::sqrt(x * x + y * y + z * z + w * w);
    if (length > 1e-12 && std::isfinite(length)) x /= length, y /= length, z /= length, w /= length;
    else x = y = z = 0, w = 1;
    return Affine::FromQuaternion(x, y, z, w, channel, channel + 7);
  }
};

// Between two poses: positions and scales in a straight line, the rotation the short way round.
Pose Blend(const Pose& a, const Pose& b, double t) {
  if (t <= 0) return a;
  double dot = 0;
  for (int i = 3; i < 7; ++i) dot += a.channel[i] * b.channel[i];
  const double sign = dot < 0 ? -1 : 1;
  Pose r;
  for (int i = 0; i < 10; ++i) {
    const double to = i >= 3 && i < 7 ? b.channel[i] * sign : b.channel[i];
    r.channel[i] = a.channel[i] + (to - a.channel[i]) * t;
  }
  return r;
}

struct Array {
  std::uint32_t type = 0, format = 0, size = 0, offset = 0;
};

void Require(bool ok, const char* why) {
  if (!ok) throw ParseError(why);
}

}  // namespace

bool ReadIqm(std::span<const std::uint8_t> bytes, double fps, IqmModel& out, std::string* error) {
  out = IqmModel{};
  try {
    ByteReader file(bytes);
    Require(bytes.size() >= kHeaderSize && std::memcmp(bytes.data(), "INTERQUAKEMODEL\0", 16) == 0, "not an IQM model");
    file.Seek(16);
    Require(file.U32() == 2, "only IQM version 2 is read");
    const std::uint32_t fileSize = file.U32();
    Require(fileSize <= bytes.size() && fileSize >= kHeaderSize, "its header gives a size the file does not have");
    ByteReader all = file.Sub(0, fileSize);
    all.Seek(28);
    std::uint32_t h[24];
    for (std::uint32_t& v : h) v = all.U32();
    const std::uint32_t numText = h[0], ofsText = h[1], numMeshes = h[2], ofsMeshes = h[3], numArrays = h[4],
                        numVertexes = h[5], ofsArrays = h[6], numTriangles = h[7], ofsTriangles = h[8],
                        numJoints = h[10], ofsJoints = h[11], numPoses = h[12], ofsPoses = h[13], numAnims = h[14],
                        ofsAnims = h[15], numFrames = h[16], numChannels = h[17], ofsFrames = h[18];
    // Each table inside the file: the count times the record's size from its offset.
    auto table = [&](std::uint32_t offset, std::uint64_t count, std::uint64_t each, const char* what) {
      if (count * each > fileSize) throw ParseError(std::string("its ") + what + " lie outside the file");
      try {
        return all.Sub(offset, static_cast<std::size_t>(count * each));
      } catch (const ParseError&) {
        throw ParseError(std::string("its ") + what + " lie outside the file");
      }
    };
    ByteReader text = table(ofsText, numText, 1, "names");
    auto name = [&](std::uint32_t at) {
      Require(at < numText || (at == 0 && numText == 0), "a name lies outside the file's names");
      if (numText == 0) return std::string();
      const auto* start = text.Data() + at;
      const void* nul = std::memchr(start, 0, numText - at);
      Require(nul != nullptr, "a name runs past the file's names");
      return std::string(reinterpret_cast<const char*>(start), static_cast<const std::uint8_t*>(nul) - start);
    };

    // The vertex arrays Tarn uses: positions, texture coordinates and the joints' weights.
    ByteReader arrays = table(ofsArrays, numArrays, 20, "vertex arrays");
    Array position, texCoord, indexes, weights;
    for (std::uint32_t i = 0; i < numArrays; ++i) {
      Array a;
      a.type = arrays.U32();
      arrays.U32();  // flags
      a.format = arrays.U32(), a.size = arrays.U32(), a.offset = arrays.U32();
      Array* slot = a.type == kPosition       ? &position
                    : a.type == kTexCoord     ? &texCoord
                    : a.type == kBlendIndexes ? &indexes
                    : a.type == kBlendWeights ? &weights
                                              : nullptr;
      if (!slot) continue;
      const std::uint64_t component = a.format == kFloat ? 4 : a.format == kUbyte ? 1 : 0;
      const std::uint32_t least = a.type == kPosition ? 3 : a.type == kTexCoord ? 2 : 1;
      Require(component != 0 && a.size >= least && a.size <= 16 &&
                  (a.type == kBlendWeights || component == (a.type == kBlendIndexes ? 1u : 4u)),
              "a vertex array has a format Tarn does not read");
      table(a.offset, std::uint64_t{numVertexes} * a.size, component, "vertex arrays");
      *slot = a;
    }
    const bool skinned = indexes.size && weights.size && numJoints > 0;
    if (skinned) Require(indexes.size == weights.size, "its joint indices and weights do not pair up");

    ByteReader meshes = table(ofsMeshes, numMeshes, 24, "meshes");
    ByteReader triangleTable = table(ofsTriangles, numTriangles, 12, "triangles");
    std::unordered_map<std::string, std::uint64_t> materials;  // triangles of each
    std::vector<std::string> order;                            // materials as first named
    std::vector<std::array<std::uint32_t, 3>> corners;
    for (std::uint32_t m = 0; m < numMeshes; ++m) {
      meshes.U32();  // name
      const std::string material = name(meshes.U32());
      const std::uint64_t firstVertex = meshes.U32(), vertexes = meshes.U32(), firstTriangle = meshes.U32(),
                          triangles = meshes.U32();
      Require(firstVertex + vertexes <= numVertexes && firstTriangle + triangles <= numTriangles,
              "a mesh counts more vertices or triangles than the file holds");
      // Meshes may share triangles: a few bytes could otherwise ask for billions.
      if (corners.size() + triangles > kMaxInstancedTriangles)
        throw ParseError("its meshes hold more than " + std::to_string(kMaxInstancedTriangles) + " triangles");
      ByteReader t =
          triangleTable.Sub(static_cast<std::size_t>(firstTriangle * 12), static_cast<std::size_t>(triangles * 12));
      for (std::uint64_t i = 0; i < triangles; ++i) {
        std::array<std::uint32_t, 3> c;
        for (std::uint32_t& v : c) {
          v = t.U32();
          Require(v < numVertexes, "a triangle names a vertex the file does not have");
        }
        corners.push_back(c);
      }
      if (materials.emplace(material, 0).second) order.push_back(material);
      materials[material] += triangles;
    }
    Require(!corners.empty(), "the file holds no triangles");
    Require(position.size != 0, "the file has no vertex positions");
    std::uint64_t most = 0;
    for (const std::string& material : order)
      if (materials[material] > most) most = materials[material], out.material = material;

    // Only the vertices the triangles use, in the file's order.
    std::vector<std::uint32_t> index(numVertexes, UINT32_MAX), used;
    for (const auto& c : corners)
      for (std::uint32_t v : c) index[v] = 0;
    for (std::uint32_t v = 0; v < numVertexes; ++v)
      if (index[v] == 0) index[v] = static_cast<std::uint32_t>(used.size()), used.push_back(v);
    SourceModel& source = out.source;
    source.vertexCount = used.size();
    auto read = [&](const Array& a, std::uint32_t vertex, std::uint32_t k) -> double {
      ByteReader r = all.Sub(
          a.offset, static_cast<std::size_t>(std::uint64_t{numVertexes} * a.size * (a.format == kFloat ? 4 : 1)));
      const std::uint64_t at = std::uint64_t{vertex} * a.size + k;
      if (a.format == kFloat) {
        r.Seek(static_cast<std::size_t>(at * 4));
        return r.F32();
      }
      r.Seek(static_cast<std::size_t>(at));
      return r.U8();
    };
    for (const auto& c : corners) {
      std::array<SourceCorner, 3> t;
      for (int k = 0; k < 3; ++k) {
        t[k].vertex = index[c[k]];
        if (texCoord.size)
          t[k].u = static_cast<float>(read(texCoord, c[k], 0)), t[k].v = static_cast<float>(read(texCoord, c[k], 1));
      }
      source.triangles.push_back(t);
    }
    std::vector<float> rest(used.size() * 3);
    for (std::size_t v = 0; v < used.size(); ++v)
      for (std::uint32_t k = 0; k < 3; ++k) rest[v * 3 + k] = static_cast<float>(read(position, used[v], k));

    // The skeleton at rest: each joint's place in the model, parents before children.
    ByteReader joints = table(ofsJoints, numJoints, 48, "joints");
    std::vector<std::int32_t> parent(numJoints);
    std::vector<Affine> base(numJoints), inverseBase(numJoints);
    for (std::uint32_t j = 0; j < numJoints; ++j) {
      joints.U32();  // name
      parent[j] = joints.I32();
      Require(parent[j] < static_cast<std::int32_t>(j), "a joint comes before its parent");
      Pose p;
      for (double& c : p.channel) c = joints.F32();
      base[j] = parent[j] >= 0 ? base[static_cast<std::size_t>(parent[j])] * p.Matrix() : p.Matrix();
      inverseBase[j] = base[j].Inverse();
    }

    // Each vertex's joints and weights (a quarter of 255 each, or floats), summed to one.
    const std::uint32_t influences = skinned ? std::min<std::uint32_t>(indexes.size, 4) : 0;
    std::vector<std::pair<std::uint32_t, double>> blend(used.size() * influences);
    for (std::size_t v = 0; v < used.size(); ++v) {
      double total = 0;
      for (std::uint32_t k = 0; k < influences; ++k) {
        const auto joint = static_cast<std::uint32_t>(read(indexes, used[v], k));
        const double w = read(weights, used[v], k);
        Require(joint < numJoints || w == 0, "a vertex names a joint the file does not have");
        const double weight = std::isfinite(w) && w > 0 ? w : 0;
        blend[v * influences + k] = {weight > 0 ? joint : 0, weight};
        total += weight;
      }
      for (std::uint32_t k = 0; k < influences; ++k)
        blend[v * influences + k].second = total > 0 ? blend[v * influences + k].second / total : 0;
    }

    // The animations: names, frame ranges and rates, and the poses each frame gives.
    struct Anim {
      std::string name;
      std::uint32_t first, count;
      double rate;
    };
    std::vector<Anim> anims;
    ByteReader animTable = table(ofsAnims, numAnims, 20, "animations");
    for (std::uint32_t a = 0; a < numAnims; ++a) {
      Anim anim;
      anim.name = name(animTable.U32());
      anim.first = animTable.U32(), anim.count = animTable.U32();
      anim.rate = animTable.F32();
      animTable.U32();  // flags
      Require(std::uint64_t{anim.first} + anim.count <= numFrames,
              "an animation counts more frames than the file holds");
      if (anim.count) anims.push_back(anim);
    }
    // A pose is decoded when a sample needs it: a file may count billions of frames of no
    // channels.
    struct Channels {
      std::array<double, 10> offset, scale;
      std::uint32_t mask = 0;
      std::uint64_t first = 0;  // its first channel within a frame
    };
    std::vector<Channels> channels;
    ByteReader frames;
    if (!anims.empty() && numPoses != numJoints) {
      out.warnings.push_back("its animations pose another skeleton than its own (" + std::to_string(numPoses) +
                             " joints, not " + std::to_string(numJoints) + "): they are left out");
      anims.clear();
    }
    if (!anims.empty()) {
      ByteReader poseTable = table(ofsPoses, numPoses, 88, "poses");
      std::uint64_t count = 0;
      channels.resize(numPoses);
      for (Channels& c : channels) {
        poseTable.I32();  // parent: the joint's
        c.mask = poseTable.U32();
        for (double& v : c.offset) v = poseTable.F32();
        for (double& v : c.scale) v = poseTable.F32();
        c.first = count;
        for (int k = 0; k < 10; ++k) count += (c.mask >> k) & 1;
      }
      Require(count == numChannels, "its frames do not hold the channels its poses name");
      frames = table(ofsFrames, std::uint64_t{numFrames} * numChannels, 2, "frames");
    }
    auto poseAt = [&](std::uint64_t frame, std::uint32_t joint) {
      const Channels& c = channels[joint];
      frames.Seek(static_cast<std::size_t>((frame * numChannels + c.first) * 2));
      Pose p;
      for (int k = 0; k < 10; ++k) p.channel[k] = c.offset[k] + ((c.mask >> k) & 1 ? frames.U16() * c.scale[k] : 0);
      return p;
    };

    // Sampling: each animation fps times a second over its length, or frame by frame when it
    // gives no rate.
    std::vector<std::string> taken;
    std::vector<Affine> global(numJoints), skin(numJoints);
    auto addFrame = [&](const std::string& frameName, const Anim* anim, double at) {
      SourceFrame frame;
      frame.name = frameName;
      frame.positions.resize(used.size() * 3);
      if (!anim || !skinned) {
        frame.positions = rest;
      } else {
        const auto f0 = static_cast<std::uint32_t>(std::floor(at));
        const std::uint32_t f1 = std::min(f0 + 1, anim->count - 1);
        const double t = at - f0;
        for (std::uint32_t j = 0; j < numJoints; ++j) {
          const Pose p =
              Blend(poseAt(std::uint64_t{anim->first} + f0, j), poseAt(std::uint64_t{anim->first} + f1, j), t);
          global[j] = parent[j] >= 0 ? global[static_cast<std::size_t>(parent[j])] * p.Matrix() : p.Matrix();
          skin[j] = global[j] * inverseBase[j];
        }
        for (std::size_t v = 0; v < used.size(); ++v) {
          double sum[3] = {0, 0, 0}, moved[3];
          bool any = false;
          for (std::uint32_t k = 0; k < influences; ++k) {
            const auto& [joint, weight] = blend[v * influences + k];
            if (weight <= 0) continue;
            skin[joint].Point(&rest[v * 3], moved);
            for (int c = 0; c < 3; ++c) sum[c] += moved[c] * weight;
            any = true;
          }
          for (int c = 0; c < 3; ++c) frame.positions[v * 3 + c] = any ? static_cast<float>(sum[c]) : rest[v * 3 + c];
        }
      }
      source.frames.push_back(std::move(frame));
    };
    std::size_t total = 0;
    for (const Anim& anim : anims) {
      const bool timed = std::isfinite(anim.rate) && anim.rate > 0;
      const double seconds = timed ? (anim.count - 1) / anim.rate : 0;
      const double samples = timed ? std::floor(seconds * fps + kSampleSlack) + 1 : anim.count;
      if (samples > static_cast<double>(kMaxImportFrames - total))
        throw ParseError("the animations make more than " + std::to_string(kMaxImportFrames) + " frames at " +
                         std::to_string(static_cast<int>(fps)) + " a second");
      const auto n = static_cast<std::size_t>(samples);
      if ((total + n) * used.size() > kMaxImportPositions)
        throw ParseError(std::to_string(used.size()) + " vertices in " + std::to_string(total + n) +
                         " frames: too large to sample");
      out.animations.push_back(anim.name.empty() ? "anim" : anim.name);
      const std::vector<std::string> names = FrameNames(out.animations.back(), n, taken);
      for (std::size_t i = 0; i < n; ++i)
        addFrame(names[i], &anim, timed ? std::min(i * anim.rate / fps, anim.count - 1.0) : static_cast<double>(i));
      total += n;
    }
    if (source.frames.empty()) addFrame(FrameNames("frame", 1, taken)[0], nullptr, 0);
    return true;
  } catch (const ParseError& e) {
    out = IqmModel{};
    if (error) *error = e.what();
    return false;
  } catch (const std::bad_alloc&) {
    out = IqmModel{};
    if (error) *error = "the model is too large to read";
    return false;
  }
}

}  // namespace tarn
