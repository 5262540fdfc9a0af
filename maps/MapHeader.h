// The first bytes of a compiled map (.bsp) and of its coloured light (.lit): enough to tell
// which engine family a map is for and whether its lighting matches, without reading the map.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace tarn {

// The start of a .bsp file.
struct MapHeader {
  enum class Kind { Quake, Bsp2, Bsp2Old, Quake64, HalfLife, Quake2, Quake2Qbism, Quake3, Unknown, TooShort };
  Kind kind = Kind::TooShort;
  std::int32_t version = 0;
  // The lighting lump of a Quake-family map (29, BSP2, 2PSB, Quake 64); absent for the others
  // or when the header is cut short.
  bool hasLighting = false;
  std::int64_t lightingLength = 0;
};
inline constexpr std::size_t kMapHeaderBytes = 4 + 15 * 8;
MapHeader ReadMapHeader(std::span<const std::uint8_t> bytes);

// The start of a .lit file: "QLIT" and a version.
struct LitHeader {
  bool qlit = false;
  std::int32_t version = 0;
};
LitHeader ReadLitHeader(std::span<const std::uint8_t> bytes);

}  // namespace tarn
