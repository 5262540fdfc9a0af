// Any sound people have (waves of any rate, width and channels, FLAC, Ogg Vorbis, Opus, MP3: all
// that libsndfile reads) made into what the engines play: a mono PCM wave of 8 or 16 bits, at a
// rate they mix at, resampled by libsoxr, its loop written as Quake reads it (WaveFile.h); or Ogg
// Vorbis for the engines that read it (Quake II ports, DarkPlaces).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "sounds/WaveFile.h"

namespace tarn {

// The samples of a sound decoded, mixed down to one channel, as floats from -1 to 1.
struct DecodedSound {
  int rate = 0;
  int channels = 0;  // of the file, before mixing down
  std::string format;
  std::vector<float> samples;
  std::optional<WaveLoop> loop;  // a wave's own, in its samples
};
// False, with the reason, when libsndfile cannot read the bytes.
bool DecodeSound(std::span<const std::uint8_t> bytes, DecodedSound& out, std::string* error);

enum class LoopChoice {
  Keep,   // the source's own loop (a wave's cue point or sampler loop), moved to the new rate
  None,   // no loop
  All,    // the whole sound
  Given,  // SoundImportOptions::loop
};

enum class SoundOutput { Wave, OggVorbis };

struct SoundImportOptions {
  SoundOutput output = SoundOutput::Wave;
  // 11025, 22050 or 44100; 0: the source's when it is one of those (any for Ogg), else 11025.
  int rate = 0;
  // 8 or 16; 0: the source's when it is one of those, else 16. Waves only.
  int bits = 0;
  LoopChoice loopChoice = LoopChoice::Keep;
  WaveLoop loop;  // in samples at the rate written, for LoopChoice::Given
  // The loudest sample made full scale.
  bool normalize = false;
};

inline constexpr int kSoundRates[] = {11025, 22050, 44100};

struct ImportedSound {
  std::vector<std::uint8_t> bytes;  // the file
  int rate = 0, bits = 0;
  std::uint64_t frames = 0;
  std::optional<WaveLoop> loop;
  bool keptAsItWas = false;  // the source was what was asked already: its bytes, chunks and all
};

// False, with the reason, when the bytes are no sound libsndfile reads, the options do not fit
// (a rate the engines do not mix at, a loop outside the sound), or the file cannot be made.
bool ImportSound(std::span<const std::uint8_t> source, const SoundImportOptions& options, ImportedSound& out,
                 std::string* error);

}  // namespace tarn
