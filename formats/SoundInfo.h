// What a sound file holds, read from its headers without decoding it: the format, channels,
// sample rate, length and, for a wave, its loop point (Quake loops a sound from its first cue
// point; samplers store loops in a "smpl" chunk). Wave, Ogg (Vorbis, Opus), MP3 and FLAC.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace tarn {

struct SoundInfo {
  enum class Container { Wave, Ogg, Mp3, Flac };
  Container container = Container::Wave;
  std::string format;  // "Wave, PCM 16-bit", "Ogg Vorbis", "MP3 (MPEG-1 Layer III, 128 kbit/s)", "FLAC, 16-bit"
  int channels = 0;
  int rate = 0;                                     // samples a second
  std::uint64_t frames = 0;                         // samples per channel; 0 when not known
  std::optional<std::uint32_t> loopStart, loopEnd;  // in samples
  double Seconds() const { return rate > 0 ? static_cast<double>(frames) / rate : 0; }
};

// False, with a one-line reason, when the bytes are none of the formats or their header is
// damaged.
bool ReadSoundInfo(std::span<const std::uint8_t> bytes, SoundInfo& out, std::string* error);

}  // namespace tarn
