// What kind of thing an entry is, by its name alone: what the list's Type column says and what
// decides which viewer shows it. Cheap enough to ask for every row of a large archive.
#pragma once

#include <string_view>

namespace tarn {

enum class EntryType {
  Directory,
  QuakePicture,   // .lmp
  Quake2Texture,  // .wal
  PcxPicture,     // .pcx
  MipTexture,     // .mip, a Quake texture as a WAD holds it
  Sprite,         // .spr
  Quake2Sprite,   // .sp2
  QuakeModel,     // .mdl
  Quake2Model,    // .md2
  Quake3Model,    // .md3, shown in the model viewer (read as an import is)
  IqmModel,       // .iqm, the Inter-Quake Model, likewise
  Md5Mesh,        // .md5mesh, an MD5 mesh (its .md5anim beside it), likewise
  Sound,          // .wav, and the music formats .ogg, .mp3, .flac
  Text,           // .txt, .cfg, .rc and the text formats of maps and progs
  Map,            // .bsp
  TextureWad,     // .wad
  Image,          // .png, .jpg, .jpeg, .tga, .bmp
  Palette,        // .pal, 256 colours as a WAD holds them
  WadLump,        // .lumpNN, a WAD lump of another type (NN, in hexadecimal)
  File,           // anything else
};

EntryType TypeOf(std::string_view name, bool isDirectory);
// The kind of a file's name alone (never a directory).
inline EntryType FileTypeOf(std::string_view name) { return TypeOf(name, false); }

// What a text entry holds, for colouring it: console configs (.cfg, .rc), QuakeC (.qc, .qh),
// entity text (.ent, .map); Plain for any other name.
enum class TextKind { Plain, Config, QuakeC, Entities };
TextKind TextKindOf(std::string_view name);
// "Quake picture", "Quake II texture", "Sound", ... for the Type column.
const char* TypeName(EntryType type);

// The games' own models, which Tarn reads, writes and edits: Quake's and Quake II's.
inline bool IsGameModelType(EntryType t) { return t == EntryType::QuakeModel || t == EntryType::Quake2Model; }

inline bool IsModelType(EntryType t) {
  return t == EntryType::QuakeModel || t == EntryType::Quake2Model || t == EntryType::Quake3Model ||
         t == EntryType::IqmModel || t == EntryType::Md5Mesh;
}

}  // namespace tarn
