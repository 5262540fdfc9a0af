// The counts at the start of a Quake (".mdl") or Quake II (".md2") model: what an engine's
// loader weighs against its limits before it reads the rest, without reading the model.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace tarn {

// The versions the formats' own tools write and every engine's loader insists on (modelgen.h
// ALIAS_VERSION, qfiles.h ALIAS_VERSION).
inline constexpr std::int32_t kMdlVersion = 6;
inline constexpr std::int32_t kMd2Version = 8;

struct ModelHeader {
  enum class Kind { Mdl, Md2, Unknown, TooShort };
  Kind kind = Kind::TooShort;
  std::int32_t version = 0;
  std::int32_t skins = 0, skinWidth = 0, skinHeight = 0;
  std::int32_t vertices = 0, triangles = 0;
  std::int32_t frames = 0;    // MDL: single frames and groups, one each
  std::int32_t synctype = 0;  // MDL
  // MD2: the texture coordinates' count, the size of a frame, and where each section starts;
  // end is where the file says it ends.
  std::int32_t texCoords = 0, frameSize = 0, glCommands = 0;
  std::int32_t skinsAt = 0, texCoordsAt = 0, trianglesAt = 0, framesAt = 0, glCommandsAt = 0, end = 0;
};
// The MDL header is the longer (84 bytes; an MD2's is 68).
inline constexpr std::size_t kModelHeaderBytes = 84;
ModelHeader ReadModelHeader(std::span<const std::uint8_t> bytes);

// The poses of an MDL: its single frames and every frame inside its groups, which the Quake
// engines keep in one table. -1 when the file ends (or a count is negative) before the last
// frame, so that the walk needs the whole file but never leaves it.
std::int64_t CountMdlPoses(std::span<const std::uint8_t> bytes);

// The texture coordinates an MD2's triangles use that lie off its skin (s outside 0 to
// skinwidth - 1, t outside 0 to skinheight - 1), counted once each, with the first of them.
// Nothing is counted when the sections are not inside the bytes.
struct OffSkinCoordinates {
  std::int64_t count = 0;
  std::int32_t s = 0, t = 0;  // the first
};
OffSkinCoordinates FindMd2OffSkinCoordinates(std::span<const std::uint8_t> bytes);

}  // namespace tarn
