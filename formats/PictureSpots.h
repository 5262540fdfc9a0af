// Where each 8-bit picture of a game file lies: the textures of a Quake map, the lumps of a
// WAD2, a model's skins, a sprite's frames, a Quake picture, a Quake II texture or PCX picture.
// Reading a picture and writing one back in its place (same size) both go through its spot, so
// that a picture brought back from a replacement changes nothing else of its file.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "pictures/Pictures.h"

namespace tarn {

enum class SpotKind {
  MapTexture,   // a texture stored in a Quake map (version 29, BSP2, 2PSB)
  WadTexture,   // a WAD2 texture lump ('D')
  WadPicture,   // a WAD2 picture lump ('B'), as gfx.wad's status bar
  Conchars,     // gfx.wad's console font: 128 x 128 pixels with no header
  LmpPicture,   // a Quake picture file (gfx/*.lmp)
  ModelSkin,    // a skin of a Quake model
  SpriteFrame,  // a frame of a Quake sprite
  Wal,          // a Quake II texture
  Pcx,          // a 256-colour PCX picture (Quake II's pictures and skins)
};

struct PictureSpot {
  SpotKind kind = SpotKind::LmpPicture;
  std::string name;  // a texture's or a lump's name as stored; empty for the others
  int number = -1;   // a skin's or a sprite frame's number
  int member = -1;   // its place in its group; -1 for a single skin or frame
  int groupSize = 0;
  int width = 0, height = 0;
  std::size_t offset = 0;             // the full-size pixels, from the start of the file
  std::array<std::size_t, 3> mips{};  // a texture's smaller levels, each (width >> k) × (height >> k)
  std::string next;                   // a Quake II texture's next animation frame
};

struct PictureSpots {
  std::vector<PictureSpot> spots;
  // What could not be read, each a sentence; what was read before it is kept.
  std::vector<std::string> problems;
};

// By the file's extension (.bsp, .wad, .mdl, .spr, .lmp, .wal, .pcx); any other file has none.
// A Half-Life map or WAD3 (textures with palettes of their own), a Quake II map (its textures
// are .wal files) and sprites of other versions are left out with a problem said.
PictureSpots FindPictureSpots(std::string_view fileName, std::span<const std::uint8_t> bytes);

// The spot's full-size pixels; false (with the reason) when they do not lie in bytes. A PCX
// picture is decoded whole; its own palette goes to palette when given.
bool ReadSpot(std::span<const std::uint8_t> bytes, const PictureSpot& spot, Picture& out, std::string* error,
              Palette* palette = nullptr);

// Writes a picture of the spot's size into a copy of the file's bytes in its place (a PCX file is
// made anew with palette); levels, for textures, are the three smaller mip levels. False with the
// reason when the size differs or the spot lies outside bytes.
bool WriteSpot(std::vector<std::uint8_t>& bytes, const PictureSpot& spot, const Picture& full,
               const std::array<Picture, 3>* levels, const Palette& palette, std::string* error);

}  // namespace tarn
