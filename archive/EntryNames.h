// How a name typed by the user becomes the name an entry is stored under, and whether a
// directory may hold it. This is the one place that says so, per container: PAK archives store
// names in lower case; zips and WADs keep the case a modder gave (engines that read them
// compare without regard to case, or not at all). In every container two names that differ
// only in case are one name. A WAD is flat, and its names are lump names of at most 15
// characters with an extension that gives the lump's type.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "archive/ContainerFormat.h"

namespace tarn {

class CPackObject;

// The name as a container of that format stores it.
std::string StoredName(std::string_view typed, ContainerFormat format);
// The name as the container of the tree that dir (or any entry) belongs to stores it.
std::string StoredName(const CPackObject& where, std::string_view typed);

// ASCII comparison without regard to case: how names are told apart.
bool SameName(std::string_view a, std::string_view b);

// Eight bytes at once (little-endian) with A to Z made a to z, other bytes as they are.
inline std::uint64_t FoldEight(std::uint64_t x) {
  // A byte's high bit marks "A or above" and "above Z"; 0x20 goes where the first holds alone.
  constexpr std::uint64_t ones = 0x0101010101010101ull, high = 0x8080808080808080ull;
  const std::uint64_t low7 = x & ~high;
  const std::uint64_t atLeastA = low7 + ones * (0x80 - 'A');
  const std::uint64_t aboveZ = low7 + ones * (0x80 - 'Z' - 1);
  return x | (((atLeastA & ~aboveZ & ~x & high)) >> 2);
}
// A to Z made a to z in place.
void LowerInPlace(std::string& s);
// dst becomes src with A to Z made a to z (src may be dst itself).
void AssignLowered(std::string& dst, std::string_view src);

// The bytes of text as 64-bit words for the word-at-a-time scans below: every byte is in some
// word, the last word overlapping the one before when the length is not a multiple of eight
// (shorter texts are packed into one word). fn returns true to stop; ForEachWord returns it.
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
  constexpr std::uint64_t ones = 0x0101010101010101ull, high = 0x8080808080808080ull;
  const auto zeroByte = [](std::uint64_t v) { return (v - ones) & ~v & high; };
  return ((x - ones * 0x20) & ~x & high) | zeroByte(x ^ (ones * 0x7F)) | zeroByte(x ^ (ones * '\\')) |
         (colon ? zeroByte(x ^ (ones * ':')) : 0);
}

// Whether text holds a byte below 0x20, 0x7F or "\\" (and, with colon, ":"): the bytes that
// are escaped in output or refused in a name on disk.
inline bool HasSpecialByte(std::string_view text, bool colon) {
  return ForEachWord(text, [&](std::uint64_t x) { return SpecialBytes(x, colon) != 0; });
}

// Why a container of that format cannot hold an entry of this name (as stored) in the root
// (atRoot) or below it; empty when it can.
std::string UnfitNameReason(ContainerFormat format, std::string_view name, bool isDirectory, bool atRoot);

enum class NewNameProblem { None, Empty, Separator, Taken, Unfit };

struct NewNameCheck {
  NewNameProblem problem = NewNameProblem::None;
  std::string stored;                  // the name to give the entry when there is no problem
  const CPackObject* taken = nullptr;  // the sibling holding the name, for Taken
  std::string reason;                  // for Unfit: why the container cannot hold the name
};

// Whether entry may be renamed to typed within its directory: the stored form must not be
// empty, hold "/" or NUL, be another sibling's name in any case, or be a name the container
// cannot hold. Renaming to the entry's own name in another case is no problem.
NewNameCheck CheckNewName(const CPackObject& entry, std::string_view typed);

}  // namespace tarn
