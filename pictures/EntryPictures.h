// The pictures an archive entry shows, chosen by its name: what the View command hands to the
// bitmap viewer and what tarn-pak converts to PNG.
#pragma once

#include <span>
#include <string>

#include "pictures/Pictures.h"

namespace tarn {

class CPackObject;

// An entry's bytes for as long as the object lives: loaded if they were not in memory, and
// released again afterwards in that case.
class CEntryBytes {
 public:
  explicit CEntryBytes(CPackObject& entry);
  ~CEntryBytes();
  CEntryBytes(const CEntryBytes&) = delete;
  CEntryBytes& operator=(const CEntryBytes&) = delete;
  bool Ok() const { return m_ok; }
  std::span<const std::uint8_t> Bytes() const;

 private:
  CPackObject& m_entry;
  bool m_loaded = false;
  bool m_ok = false;
};

enum class PictureKind { None, Pcx, Lmp, Wal, Miptex, Conchars, Palette, QuakeSprite, Quake2Sprite, ModelSkin };

// By the name's ending; skin asks for a Quake model's skin. A WAD's "conchars" lump, whatever
// its extension, is the console font.
PictureKind PictureKindOf(const std::string& name, bool skin = false);

struct EntryPictures {
  PictureSet set;
  std::string title;
  // When nothing can be shown: why, for the user. messageBox marks the one case that is told
  // in a message box (".lmp not viewable"); the others are quieter.
  std::string message;
  bool messageBox = false;
  bool ok() const { return !set.pictures.empty(); }
};

EntryPictures LoadEntryPictures(CPackObject& entry, bool skin = false);
// The same from bytes alone, as a thumbnail is made away from the tree: a texture chain gives
// its first frame, a Quake II sprite (whose frames are other files) nothing.
EntryPictures DecodeEntryBytes(const std::string& name, std::span<const std::uint8_t> bytes, bool skin = false);

}  // namespace tarn
