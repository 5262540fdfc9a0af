// How a WAD's lumps appear as entries of the tree: a lump's name with an extension for its type
// byte. The tree needs it to tell whether a name fits a WAD before any WAD is written.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "archive/ContainerFormat.h"

namespace tarn {

namespace wad {
inline constexpr std::size_t kHeaderSize = 12;
inline constexpr std::size_t kRecordSize = 32;
inline constexpr std::size_t kNameField = 16;
inline constexpr std::size_t kMaxNameLength = kNameField - 1;
inline constexpr std::uint8_t kPalette = '@';
inline constexpr std::uint8_t kPicture = 'B';
inline constexpr std::uint8_t kQuakeMiptex = 'D';
inline constexpr std::uint8_t kHalfLifeMiptex = 'C';
// Offsets and sizes are signed 32-bit.
inline constexpr std::int64_t kMaxFileSize = 0x7FFFFFFF;
}  // namespace wad

// The name a lump is shown under: its name and an extension from its type (".mip" for the
// version's texture type, ".lmp" pictures, ".pal" palettes, ".lumpNN" with the type byte in
// hex for any other), so that a WAD exported to a folder and imported back is the same WAD.
std::string WadEntryName(std::string_view lumpName, std::uint8_t type, ContainerFormat version);

struct WadLumpName {
  std::string name;
  std::uint8_t type = 0;
};
// The lump an entry name stands for in a WAD of that version; nothing, with the reason, when
// the name is not a lump's.
std::optional<WadLumpName> WadLumpOf(std::string_view entryName, ContainerFormat version, std::string* why = nullptr);

}  // namespace tarn
