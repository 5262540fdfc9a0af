// WAD2 (Quake) and WAD3 (Half-Life) files: a 12-byte header ("WAD2" or "WAD3", the lump count,
// the directory's offset), the lumps, and 32-byte directory records (offset, size on disk,
// size, type, compression, two pad bytes, a 16-byte name), all little-endian.
//
// What the engines do with them (the reasons for the rules below):
// - id's WinQuake/wad.c W_LoadWadFile accepts only "WAD2" and never reads a record's
//   compression or disk size: the LZSS compression wad.h names (CMP_LZSS) was never decoded by
//   any engine, so a lump marked compressed cannot be read. Quakespasm's W_AddWadFile, which
//   reads the WADs a map names, takes "WAD2" and "WAD3" alike.
// - Names are compared without regard to case: W_CleanupName lower-cases A to Z and pads with
//   NULs to 16 bytes, and W_GetLumpinfo compares the cleaned names; the first match wins. A
//   16-character name leaves no NUL, so Tarn writes names of at most 15 characters.
// - Type bytes (wad.h): TYP_PALETTE '@', TYP_QTEX 'A', TYP_QPIC 'B' (a picture: width, height,
//   pixels), TYP_SOUND 'C', TYP_MIPTEX 'D' (a texture with four mip levels). Only TYP_QPIC gets
//   special handling on loading (SwapPic); every other type is used as raw bytes.
// - gfx.wad's "conchars" is the console font: raw 128 x 128 pixels with no header at all.
//   gl_draw.c Draw_Init takes it by name (W_GetLumpName ("conchars")), makes index 0
//   transparent and loads it as a 128 x 128 texture; its type byte is never looked at (the
//   gfx.wad of LibreQuake stores it as 'D', a texture's). Tarn, too, knows it by its name.
// - In WAD3 (Half-Life; the type bytes as Xash3D's common/wadfile.h has them) 'C' is the
//   texture (TYP_MIPTEX 67), 'B' a menu or HUD picture (TYP_GFXPIC), '@' a palette, 'F' a font
//   (TYP_QFONT). Textures and pictures carry their own palette after the pixels: a 16-bit count
//   (256) and 768 bytes of red, green, blue. The Quakespasm family's Mod_LoadWadTexture takes
//   67 for a texture only in a WAD3, and 'D' in either.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/ContainerFormat.h"
#include "archive/WadNames.h"
#include "fileio/ByteIO.h"
#include "fileio/ReadSource.h"

namespace tarn {

struct WadRecord {
  std::string_view name;  // up to the first NUL of the name field; points into its WadIndex
  std::int32_t offset = 0;
  std::int32_t diskSize = 0;
  std::int32_t size = 0;
  std::uint8_t type = 0;
  std::uint8_t compression = 0;
  bool nameTerminated = true;
  bool dataInside = true;  // offset and disk size lie within the file
};

struct WadIndex {
  WadIndex() = default;
  WadIndex(WadIndex&&) = default;
  WadIndex& operator=(WadIndex&&) = default;
  WadIndex(const WadIndex&) = delete;  // the records point into rawDirectory
  WadIndex& operator=(const WadIndex&) = delete;

  ContainerFormat version = ContainerFormat::Wad2;
  std::uint64_t fileSize = 0;
  std::int32_t count = 0;
  std::int32_t directoryOffset = 0;
  bool directoryTruncated = false;  // the directory claims more records than the file holds
  std::vector<WadRecord> records;
  ReadBuffer rawDirectory;
};

// Reads the header and directory; false when the file does not start with "WAD2" or "WAD3".
// Never reads outside the source: records beyond its end are dropped (directoryTruncated) and
// records whose data lie outside are kept but flagged.
bool ReadWadIndex(CReadSource& source, WadIndex& index);

// Every problem of a WAD, one readable line each; empty when it is sound.
std::vector<std::string> CheckWadIndex(const WadIndex& index);

// A lump built in memory.
struct WadLump {
  std::string name;
  std::vector<std::uint8_t> data;
  std::uint8_t type = wad::kQuakeMiptex;
};

// The bytes of a whole WAD of the lumps, in their order.
std::vector<std::uint8_t> BuildWad(ContainerFormat version, const std::vector<WadLump>& lumps);

}  // namespace tarn
