#include "archive/TextSniff.h"

namespace tarn {

namespace {

bool IsControl(std::uint8_t c) { return (c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7F; }

// The length of the UTF-8 sequence starting at bytes[i], or 0 when it is not a valid one
// (overlong forms, surrogates and values past U+10FFFF included).
std::size_t Utf8Length(std::span<const std::uint8_t> bytes, std::size_t i) {
  const std::uint8_t c = bytes[i];
  std::size_t n;
  std::uint32_t value;
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2, value = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3, value = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4, value = c & 0x07;
  } else {
    return 0;
  }
  if (bytes.size() - i < n) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    if ((bytes[i + k] & 0xC0) != 0x80) return 0;
    value = (value << 6) | (bytes[i + k] & 0x3F);
  }
  if ((n == 3 && value < 0x800) || (n == 4 && (value < 0x10000 || value > 0x10FFFF)) ||
      (value >= 0xD800 && value <= 0xDFFF))
    return 0;
  return n;
}

}  // namespace

bool LooksLikeText(std::span<const std::uint8_t> bytes) {
  for (std::uint8_t c : bytes)
    if (IsControl(c)) return false;
  std::size_t i = 0;
  while (i < bytes.size()) {
    const std::size_t n = Utf8Length(bytes, i);
    if (n == 0) break;
    i += n;
  }
  if (i == bytes.size()) return true;
  // Not UTF-8, so Latin-1, where 0x80-0x9F are controls as well.
  for (std::uint8_t c : bytes)
    if (c >= 0x80 && c <= 0x9F) return false;
  return true;
}

}  // namespace tarn
