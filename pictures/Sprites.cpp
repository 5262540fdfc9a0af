#include "pictures/Sprites.h"

#include "archive/PackObject.h"
#include "fileio/ByteIO.h"
#include "fileio/Strings.h"
#include "pictures/EntryPictures.h"

namespace tarn {

std::string LeafName(const std::string& name) {
  std::string lower = ToLower(name);
  std::size_t slash = lower.rfind('/');
  return slash == std::string::npos ? lower : lower.substr(slash + 1);
}

void ReadQuakeSprite(std::span<const std::uint8_t> bytes, PictureSet& out) {
  Palette quake;
  LoadPalette(kQuakePaletteId, quake);
  out.palettes.push_back(quake);
  try {
    ByteReader r(bytes);
    r.Seek(spr::kFrameCount);
    const std::int32_t frames = r.I32();
    r.Seek(spr::kHeaderSize);
    auto readPicture = [&] {
      r.Skip(8);  // origin
      const std::int32_t width = r.I32(), height = r.I32();
      if (width < 0 || height < 0) throw ParseError("negative picture size");
      const std::uint64_t n = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
      if (n > r.Remaining()) throw ParseError("picture runs past the end");
      Picture p;
      BuildPicture(width, height, r.Bytes(static_cast<std::size_t>(n)), p);
      out.pictures.push_back(std::move(p));
    };
    for (std::int32_t f = 0; f < frames; ++f) {
      const std::int32_t type = r.I32();
      if (type == 0) {
        readPicture();
      } else if (type == 1) {
        const std::int32_t count = r.I32();
        if (count < 0) return;
        r.Skip(static_cast<std::size_t>(count) * 4);  // intervals
        for (std::int32_t i = 0; i < count; ++i) readPicture();
      } else {
        return;  // an unknown frame type ends the sprite
      }
    }
  } catch (const ParseError&) {
    // A damaged frame ends the sprite; the pictures before it are shown.
  }
}

void ReadQuake2Sprite(const CPackObject& sprite, std::span<const std::uint8_t> bytes, PictureSet& out) {
  const CPackObject* dir = sprite.Parent();
  try {
    ByteReader r(bytes);
    r.Seek(sp2::kFrameCount);
    const std::int32_t frames = r.I32();
    r.Seek(sp2::kHeaderSize);
    for (std::int32_t f = 0; f < frames; ++f) {
      ByteReader frame = r.Sub(r.Position(), sp2::kFrameSize);
      r.Skip(sp2::kFrameSize);
      frame.Seek(sp2::kFrameName);
      const std::string name = LeafName(frame.FixedString(sp2::kFrameNameSize));
      CPackObject* pcx = dir ? dir->FindChild(name) : nullptr;
      if (!pcx || pcx->IsDirectory()) continue;
      CEntryBytes data(*pcx);
      Picture picture;
      Palette palette;
      if (!data.Ok() || !DecodePcx(data.Bytes(), picture, palette)) continue;
      out.pictures.push_back(std::move(picture));
      out.palettes.push_back(palette);
    }
  } catch (const ParseError&) {
    // A frame record cut short ends the sprite.
  }
}

}  // namespace tarn
