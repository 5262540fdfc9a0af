// Sound headers (wave chunks, Ogg pages, FLAC stream information, MP3 frames) must never read
// outside the bytes, whatever they claim.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "sounds/SoundInfo.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tarn::SoundInfo info;
  std::string error;
  tarn::ReadSoundInfo(std::span<const std::uint8_t>(data, size), info, &error);
  return 0;
}
