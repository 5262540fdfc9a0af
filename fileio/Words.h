// Byte scans a 64-bit word at a time, for the paths that see every name of a large archive.
// Every function that depends on where a byte sits in a word says so and has a byte-wise path
// for big-endian machines; the others look at all eight bytes alike.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace tarn {

inline constexpr std::uint64_t kEveryByte = 0x0101010101010101ull;
inline constexpr std::uint64_t kHighBits = 0x8080808080808080ull;

// The high bit of each byte that is zero, and possibly of bytes above a zero one (a borrow),
// never of a byte below the first zero one: enough to find the first zero byte or to tell
// whether there is one.
inline std::uint64_t ZeroBytes(std::uint64_t x) { return (x - kEveryByte) & ~x & kHighBits; }
// The high bit of exactly the bytes that are zero: no carry crosses from one byte to another.
inline std::uint64_t ExactZeroBytes(std::uint64_t x) {
  constexpr std::uint64_t low7 = ~kHighBits;
  return ~(((x & low7) + low7) | x | low7);
}

// Whether the words below are read in memory order, first byte lowest.
inline constexpr bool kWordsInOrder = std::endian::native == std::endian::little;

// Eight bytes at once with A to Z made a to z, other bytes as they are.
inline std::uint64_t FoldEight(std::uint64_t x) {
  // A byte's high bit marks "A or above" and "above Z"; 0x20 goes where the first holds alone.
  constexpr std::uint64_t ones = kEveryByte, high = kHighBits;
  const std::uint64_t low7 = x & ~high;
  const std::uint64_t atLeastA = low7 + ones * (0x80 - 'A');
  const std::uint64_t aboveZ = low7 + ones * (0x80 - 'Z' - 1);
  return x | (((atLeastA & ~aboveZ & ~x & high)) >> 2);
}

// The bytes of text as 64-bit words for the word-at-a-time scans below: every byte is in some
// word, the last word overlapping the one before when the length is not a multiple of eight
// (shorter texts are packed into one word). The same text always gives the same words, in
// either byte order, which is all that hashing and byte tests need. fn returns true to stop;
// ForEachWord returns it.
template <typename Fn>
bool ForEachWord(std::string_view text, Fn&& fn) {
  const char* p = text.data();
  const std::size_t n = text.size();
  std::uint64_t w = 0;
  if (n >= 8) {
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
      std::memcpy(&w, p + i, 8);
      if (fn(w)) return true;
    }
    if (i == n) return false;
    std::memcpy(&w, p + n - 8, 8);
    return fn(w);
  }
  if (n >= 4) {
    std::uint32_t a, b;
    std::memcpy(&a, p, 4);
    std::memcpy(&b, p + n - 4, 4);
    return fn(a | static_cast<std::uint64_t>(b) << 32);
  }
  for (std::size_t i = 0; i < n; ++i) w |= static_cast<std::uint64_t>(static_cast<unsigned char>(p[i])) << (8 * i);
  // Short texts fill the rest with their first byte, which is in the text anyway.
  for (std::size_t i = n; i < 8 && n; ++i) w |= static_cast<std::uint64_t>(static_cast<unsigned char>(p[0])) << (8 * i);
  return n ? fn(w) : false;
}

// Not zero when the word holds a byte HasSpecialByte looks for.
inline std::uint64_t SpecialBytes(std::uint64_t x, bool colon) {
  constexpr std::uint64_t ones = kEveryByte;
  return ((x - ones * 0x20) & ~x & kHighBits) | ZeroBytes(x ^ (ones * 0x7F)) | ZeroBytes(x ^ (ones * '\\')) |
         (colon ? ZeroBytes(x ^ (ones * ':')) : 0);
}

// Whether text holds a byte below 0x20, 0x7F or "\\" (and, with colon, ":"): the bytes that
// are escaped in output or refused in a name on disk.
inline bool HasSpecialByte(std::string_view text, bool colon) {
  return ForEachWord(text, [&](std::uint64_t x) { return SpecialBytes(x, colon) != 0; });
}

}  // namespace tarn
