// LooksLikeText reads UTF-8 sequences by hand: whatever the bytes, it must stay inside them.
#include <cstdint>
#include <span>

#include "archive/TextSniff.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  volatile bool text = tarn::LooksLikeText(std::span<const std::uint8_t>(data, size));
  (void)text;
  return 0;
}
