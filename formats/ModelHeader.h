// The counts at the start of a Quake (".mdl") or Quake II (".md2") model: what an engine's
// loader weighs against its limits before it reads the rest, without reading the model.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace tarn {

struct ModelHeader {
  enum class Kind { Mdl, Md2, Unknown, TooShort };
  Kind kind = Kind::TooShort;
  std::int32_t version = 0;
  std::int32_t skins = 0, skinWidth = 0, skinHeight = 0;
  std::int32_t vertices = 0, triangles = 0;
  std::int32_t frames = 0;  // MDL: single frames and groups, one each
};
// The MDL header is the longer (84 bytes; an MD2's is 68).
inline constexpr std::size_t kModelHeaderBytes = 84;
ModelHeader ReadModelHeader(std::span<const std::uint8_t> bytes);

// The poses of an MDL: its single frames and every frame inside its groups, which the Quake
// engines keep in one table. -1 when the file ends (or a count is negative) before the last
// frame, so that the walk needs the whole file but never leaves it.
std::int64_t CountMdlPoses(std::span<const std::uint8_t> bytes);

}  // namespace tarn
