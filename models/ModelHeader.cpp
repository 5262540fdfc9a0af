#include "models/ModelHeader.h"

#include <cstring>
#include <vector>

namespace tarn {

namespace {

std::int32_t I32(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::int32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16 |
                                   static_cast<std::uint32_t>(b[at + 3]) << 24);
}

}  // namespace

ModelHeader ReadModelHeader(std::span<const std::uint8_t> bytes) {
  ModelHeader h;
  if (bytes.size() < 8) return h;
  h.version = I32(bytes, 4);
  if (std::memcmp(bytes.data(), "IDPO", 4) == 0) {
    if (bytes.size() < kModelHeaderBytes) return h;
    // ident, version, scale[3], origin[3], radius, eye[3], then the counts (modelgen.h mdl_t).
    h.kind = ModelHeader::Kind::Mdl;
    h.skins = I32(bytes, 48), h.skinWidth = I32(bytes, 52), h.skinHeight = I32(bytes, 56);
    h.vertices = I32(bytes, 60), h.triangles = I32(bytes, 64), h.frames = I32(bytes, 68);
    h.synctype = I32(bytes, 72);
  } else if (std::memcmp(bytes.data(), "IDP2", 4) == 0) {
    if (bytes.size() < 68) return h;
    // ident, version, skinwidth, skinheight, framesize, the counts, then the sections' offsets
    // (qfiles.h dmdl_t).
    h.kind = ModelHeader::Kind::Md2;
    h.skinWidth = I32(bytes, 8), h.skinHeight = I32(bytes, 12), h.frameSize = I32(bytes, 16);
    h.skins = I32(bytes, 20), h.vertices = I32(bytes, 24), h.texCoords = I32(bytes, 28);
    h.triangles = I32(bytes, 32), h.glCommands = I32(bytes, 36), h.frames = I32(bytes, 40);
    h.skinsAt = I32(bytes, 44), h.texCoordsAt = I32(bytes, 48), h.trianglesAt = I32(bytes, 52);
    h.framesAt = I32(bytes, 56), h.glCommandsAt = I32(bytes, 60), h.end = I32(bytes, 64);
  } else {
    h.kind = ModelHeader::Kind::Unknown;
  }
  return h;
}

std::int64_t CountMdlPoses(std::span<const std::uint8_t> bytes) {
  const ModelHeader h = ReadModelHeader(bytes);
  if (h.kind != ModelHeader::Kind::Mdl || h.skins < 0 || h.skinWidth < 0 || h.skinHeight < 0 || h.vertices < 0 ||
      h.triangles < 0 || h.frames < 0)
    return -1;
  const std::uint64_t size = bytes.size();
  std::uint64_t at = kModelHeaderBytes;
  // Every step is checked against what is left before it is taken, so no sum can overflow.
  auto take = [&](std::uint64_t n) {
    if (n > size - at) return false;
    at += n;
    return true;
  };
  // count items of each bytes, in one step (a skin of no pixels would otherwise loop on).
  auto takeEach = [&](std::int32_t count, std::uint64_t each) {
    if (count < 0) return false;
    if (each != 0 && static_cast<std::uint64_t>(count) > (size - at) / each) return false;
    return take(static_cast<std::uint64_t>(count) * each);
  };
  auto readInt = [&](std::int32_t& v) {
    if (size - at < 4) return false;
    v = I32(bytes, static_cast<std::size_t>(at));
    at += 4;
    return true;
  };
  const std::uint64_t skin = static_cast<std::uint64_t>(h.skinWidth) * static_cast<std::uint64_t>(h.skinHeight);
  for (std::int32_t s = 0; s < h.skins; ++s) {
    std::int32_t type = 0, n = 1;
    if (!readInt(type)) return -1;
    if (type != 0 && (!readInt(n) || !takeEach(n, 4))) return -1;
    if (!takeEach(n, skin)) return -1;
  }
  if (!takeEach(h.vertices, 12) || !takeEach(h.triangles, 16)) return -1;
  // A pose: its box (two trivertx_t), a 16-byte name, then its vertices (modelgen.h daliasframe_t).
  const std::uint64_t pose = 8 + 16 + 4ull * static_cast<std::uint64_t>(h.vertices);
  std::int64_t poses = 0;
  for (std::int32_t f = 0; f < h.frames; ++f) {
    std::int32_t type = 0, n = 1;
    if (!readInt(type)) return -1;
    // A group: its count, its box, its intervals, then its poses.
    if (type != 0 && (!readInt(n) || !take(8) || !takeEach(n, 4))) return -1;
    if (!takeEach(n, pose)) return -1;
    poses += n;
  }
  return poses;
}

OffSkinCoordinates FindMd2OffSkinCoordinates(std::span<const std::uint8_t> bytes) {
  OffSkinCoordinates found;
  const ModelHeader h = ReadModelHeader(bytes);
  if (h.kind != ModelHeader::Kind::Md2 || h.triangles <= 0 || h.texCoords <= 0 || h.texCoordsAt < 0 ||
      h.trianglesAt < 0)
    return found;
  const std::uint64_t size = bytes.size();
  const std::uint64_t st = static_cast<std::uint64_t>(h.texCoordsAt), tris = static_cast<std::uint64_t>(h.trianglesAt);
  const std::uint64_t stCount = static_cast<std::uint64_t>(h.texCoords);
  const std::uint64_t triCount = static_cast<std::uint64_t>(h.triangles);
  if (st > size || stCount > (size - st) / 4 || tris > size || triCount > (size - tris) / 12) return found;
  auto i16 = [&](std::uint64_t at) {
    return static_cast<std::int16_t>(bytes[static_cast<std::size_t>(at)] | bytes[static_cast<std::size_t>(at) + 1]
                                                                               << 8);
  };
  // Only the coordinates a triangle names are drawn (DarkPlaces model_alias.c Mod_IDP2_Load
  // checks those alone), and each once however many corners share it.
  std::vector<bool> seen(static_cast<std::size_t>(stCount), false);
  for (std::uint64_t t = 0; t < triCount; ++t)
    for (int k = 0; k < 3; ++k) {
      const auto index = static_cast<std::uint16_t>(i16(tris + t * 12 + 6 + 2 * static_cast<unsigned>(k)));
      if (index >= stCount || seen[index]) continue;
      seen[index] = true;
      const std::int32_t s = i16(st + 4ull * index), tt = i16(st + 4ull * index + 2);
      if (s >= 0 && s < h.skinWidth && tt >= 0 && tt < h.skinHeight) continue;
      if (found.count++ == 0) found.s = s, found.t = tt;
    }
  return found;
}

}  // namespace tarn
