// Sprites: Quake ".spr" files hold their pictures; Quake II ".sp2" files name PCX pictures.
#pragma once

#include <span>
#include <string>

#include "pictures/Pictures.h"

namespace tarn {

class CPackObject;

namespace spr {
inline constexpr std::size_t kHeaderSize = 36;
inline constexpr std::size_t kFrameCount = 24;
}  // namespace spr
namespace sp2 {
inline constexpr std::size_t kHeaderSize = 12;
inline constexpr std::size_t kFrameCount = 8;
inline constexpr std::size_t kFrameSize = 80;
inline constexpr std::size_t kFrameName = 16;
inline constexpr std::size_t kFrameNameSize = 64;
}  // namespace sp2

// Appends the Quake palette and every picture of the sprite. Reading stops at the first frame
// that is of an unknown type or does not fit in the data; what was read before stays.
void ReadQuakeSprite(std::span<const std::uint8_t> bytes, PictureSet& out);

// Appends, for each frame whose PCX picture lies beside the sprite in its directory, the
// picture and its palette. Frames whose picture is missing or not a PCX are left out.
void ReadQuake2Sprite(const CPackObject& sprite, std::span<const std::uint8_t> bytes, PictureSet& out);

// The file name part of a frame or texture name, lower-cased: "Sprites/Fire/a.PCX" gives "a.pcx".
std::string LeafName(const std::string& name);

}  // namespace tarn
