// Waves as the Quake engines read them: mono PCM of 8 or 16 bits, and the loop a "cue " chunk
// starts and a "LIST"/"adtl" chunk's "ltxt" of purpose "mark" makes as long as it says. Quake's
// GetWavinfo (id-Software/Quake WinQuake/snd_mem.c, the same in Quakespasm and DarkPlaces'
// snd_wav.c) takes the first cue point's sample offset as the loop start, then looks in the first
// "LIST" chunk after the cue chunk for "mark" at byte 28 and the loop's length at byte 24: the
// sound ends there, and plays on from the loop start. Without that length the loop runs to the
// end of the data.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tarn {

struct WaveLoop {
  std::uint32_t start = 0;
  // The sample after the loop's last: where the engine goes back to start. None: the end of
  // the data.
  std::optional<std::uint32_t> end;
  bool operator==(const WaveLoop&) const = default;
};

// A mono PCM wave: samples are little-endian 16-bit or unsigned 8-bit bytes. The loop, when
// given, is written as a cue point and, when it has an end, the "mark" length after it.
std::vector<std::uint8_t> BuildWave(int rate, int bits, std::span<const std::uint8_t> samples,
                                    const std::optional<WaveLoop>& loop);

// The wave with its loop replaced (or removed when loop is empty): its "cue " chunk and the
// "LIST"/"adtl" chunk that follows it are written anew where the old cue chunk stood (after the
// data when there was none); every other chunk is kept byte for byte, in its place. False, with
// the reason, when the bytes are not a wave whose chunks can be walked, or the loop does not lie
// within its samples.
bool SetWaveLoop(std::span<const std::uint8_t> wave, const std::optional<WaveLoop>& loop,
                 std::vector<std::uint8_t>& out, std::string* error);

// A loop that Quake can play in a sound of `frames` samples: empty when it can, otherwise why not.
std::string LoopProblem(const WaveLoop& loop, std::uint64_t frames);

}  // namespace tarn
