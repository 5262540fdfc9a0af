// The wave chunk writer and reader together: whatever the bytes, a loop written into them reads
// back as written (start and end, as the engines read them), every other chunk untouched, and
// nothing is read or written outside the buffers.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "sounds/SoundInfo.h"
#include "sounds/WaveFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 9) return 0;
  // The first bytes choose the loop; the rest is the file.
  const std::uint32_t start = data[0] | data[1] << 8 | data[2] << 16;
  const std::uint32_t length = data[3] | data[4] << 8 | data[5] << 16;
  const int how = data[6] % 3;  // none, to the end, with an end
  const std::span<const std::uint8_t> wave(data + 8, size - 8);
  std::optional<tarn::WaveLoop> loop;
  if (how > 0) loop = tarn::WaveLoop{start, how == 2 ? std::optional<std::uint32_t>(start + length) : std::nullopt};
  std::vector<std::uint8_t> out;
  std::string error;
  if (!tarn::SetWaveLoop(wave, loop, out, &error)) return 0;
  tarn::SoundInfo info;
  if (!tarn::ReadSoundInfo(out, info, &error)) std::abort();
  if (loop) {
    if (!info.loopFromCue || info.loopStart != loop->start) std::abort();
    if (loop->end != info.loopEnd) std::abort();
  } else if (info.loopFromCue) {
    std::abort();
  }
  // Written again with the same loop, the file does not change.
  std::vector<std::uint8_t> again;
  if (!tarn::SetWaveLoop(out, loop, again, &error) || again != out) std::abort();
  return 0;
}
