// What an engine refuses or misreads in an archive or a game folder: too many files in a pak,
// names it will not find, packages it never loads, maps, coloured light and sounds it cannot use.
// Only the few header bytes each check needs are read.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "archive/GameFolder.h"

namespace tarn {

// The start of a .bsp file.
struct MapHeader {
  enum class Kind { Quake, Bsp2, Bsp2Old, Quake64, HalfLife, Quake2, Quake3, Unknown, TooShort };
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

// What a sound file holds, from its first bytes.
struct SoundInfo {
  enum class Container { Wav, Ogg, Mp3, Flac, Unknown };
  Container container = Container::Unknown;
  bool fmtFound = false;  // WAV: its "fmt " chunk was read
  std::uint16_t format = 0;
  std::uint16_t channels = 0;
  std::uint32_t rate = 0;
  std::uint16_t bits = 0;
};
inline constexpr std::size_t kSoundHeaderBytes = 64 * 1024;
SoundInfo ReadSoundInfo(std::span<const std::uint8_t> bytes);

struct EngineProblem {
  std::string file;    // the archive, or the loose file
  std::string entry;   // the path inside the archive; empty for the file itself
  std::string rule;    // "files-per-pak", "name-case", ...
  std::string engine;  // the profile's name
  std::string message;
};

// Every problem the view's engine has with its sources, in the order of the sources.
std::vector<EngineProblem> CheckForEngine(CGameView& view);

}  // namespace tarn
