// Fuzz bytes read as the fields of a structure a target builds itself: past the end, zeros.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tarn::fuzz {

struct Input {
  const std::uint8_t* data;
  std::size_t size;
  std::uint8_t Byte() {
    if (!size) return 0;
    --size;
    return *data++;
  }
  std::uint32_t U16() { return Byte() | static_cast<std::uint32_t>(Byte()) << 8; }
  std::uint32_t U32() { return U16() | U16() << 16; }
  float Float() {
    const std::uint32_t bits = U32();
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
  }
};

}  // namespace tarn::fuzz
