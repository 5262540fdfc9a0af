// What a sound file holds, read from its headers without decoding it: the format, channels,
// sample rate, length and, for a wave, its loop (Quake loops a sound from its first cue point;
// samplers store loops in a "smpl" chunk). Wave, Ogg (Vorbis, Opus), MP3 and FLAC.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace tarn {

enum class SoundContainer { Wave, Ogg, Mp3, Flac, Unknown };

struct SoundInfo {
  using Container = SoundContainer;
  Container container = Container::Wave;
  std::string format;  // "Wave, PCM 16-bit", "Ogg Vorbis", "MP3 (MPEG-1 Layer III, 128 kbit/s)", "FLAC, 16-bit"
  int channels = 0;
  int rate = 0;              // samples a second
  std::uint64_t frames = 0;  // samples per channel; 0 when not known
  int bits = 0;              // a wave's bits a sample
  // In samples. A wave's loop is its first cue point's, and ends where the "mark" length after
  // it says (else at the end of the data), as the engines read it; a sampler's "smpl" loop
  // (whose end is its last sample) is told only where there is no cue point.
  std::optional<std::uint32_t> loopStart, loopEnd;
  bool loopFromCue = false;
  double Seconds() const { return rate > 0 ? static_cast<double>(frames) / rate : 0; }
};

// False, with a one-line reason, when the bytes are none of the formats or their header is
// damaged.
bool ReadSoundInfo(std::span<const std::uint8_t> bytes, SoundInfo& out, std::string* error);

// The container a sound's first bytes name and, for a wave, its format chunk found as the
// engines' loaders walk the chunks: what a game engine would make of the file, which is
// stricter than what a player accepts.
struct SoundHeader {
  SoundContainer container = SoundContainer::Unknown;
  bool fmtFound = false;  // a wave: its "fmt " chunk was read
  std::uint16_t format = 0;
  std::uint16_t channels = 0;
  std::uint32_t rate = 0;
  std::uint16_t bits = 0;
};
inline constexpr std::size_t kSoundHeaderBytes = 64 * 1024;
SoundHeader ReadSoundHeader(std::span<const std::uint8_t> bytes);

}  // namespace tarn
