#include "pictures/EntryPictures.h"

#include <algorithm>
#include <unordered_set>

#include "archive/PackObject.h"
#include "fileio/Strings.h"
#include "pictures/Colormap.h"
#include "pictures/HalfLife.h"
#include "pictures/Sprites.h"

namespace tarn {

namespace {

const std::vector<std::uint8_t> kNoBytes;

// A palette's 256 colours as a 16 x 16 board of 8-pixel squares.
void PaletteGrid(std::span<const std::uint8_t> bytes, PictureSet& set) {
  Palette pal;
  for (std::size_t i = 0; i < 256; ++i) pal.colors[i] = {bytes[3 * i], bytes[3 * i + 1], bytes[3 * i + 2]};
  constexpr int kSide = 128, kSquare = 8;
  std::vector<std::uint8_t> indices(kSide * kSide);
  for (int y = 0; y < kSide; ++y)
    for (int x = 0; x < kSide; ++x) indices[y * kSide + x] = static_cast<std::uint8_t>(y / kSquare * 16 + x / kSquare);
  Picture p;
  if (BuildPicture(kSide, kSide, indices, p)) {
    set.pictures.push_back(std::move(p));
    set.palettes.push_back(pal);
  }
}

}  // namespace

CEntryBytes::CEntryBytes(CPackObject& entry) : m_entry(entry) {
  if (!entry.HasData()) m_loaded = entry.LoadData() == 1;
  m_ok = entry.HasData() || entry.Size() == 0;
}

CEntryBytes::~CEntryBytes() {
  if (m_loaded) m_entry.ReleaseData();
}

std::span<const std::uint8_t> CEntryBytes::Bytes() const {
  const auto* d = m_entry.Data();
  if (!d) return kNoBytes;
  return std::span<const std::uint8_t>(
      d->data(), std::min<std::size_t>(d->size(), static_cast<std::size_t>(std::max<std::int64_t>(0, m_entry.Size()))));
}

PictureKind PictureKindOf(const std::string& name, bool skin) {
  const std::string n = ToLower(name);
  if (skin) return EndsWith(n, ".mdl") ? PictureKind::ModelSkin : PictureKind::None;
  if (n.rfind("conchars.", 0) == 0) return PictureKind::Conchars;
  if (EndsWith(n, ".mip")) return PictureKind::Miptex;
  if (EndsWith(n, ".pcx")) return PictureKind::Pcx;
  if (EndsWith(n, ".lmp")) return PictureKind::Lmp;
  if (EndsWith(n, ".wal")) return PictureKind::Wal;
  if (EndsWith(n, ".pal")) return PictureKind::Palette;
  // The reader is chosen by the last character alone: "2" is the Quake II format.
  if (EndsWith(n, ".spr") || EndsWith(n, ".sp2"))
    return n.back() == '2' ? PictureKind::Quake2Sprite : PictureKind::QuakeSprite;
  return PictureKind::None;
}

namespace {
void Decode(PictureKind kind, const std::string& name, std::span<const std::uint8_t> bytes, CPackObject* entry,
            EntryPictures& result);
}  // namespace

EntryPictures LoadEntryPictures(CPackObject& entry, bool skin) {
  EntryPictures result;
  result.title = entry.Name();
  const PictureKind kind = PictureKindOf(entry.Name(), skin);
  if (kind == PictureKind::None) {
    result.message = Quoted(entry.Name()) + " is not a picture";
    return result;
  }
  CEntryBytes data(entry);
  if (!data.Ok()) {
    result.message = "the data of " + Quoted(entry.Name()) + " cannot be read";
    return result;
  }
  Decode(kind, entry.Name(), data.Bytes(), &entry, result);
  return result;
}

namespace {

// The pictures of bytes of kind; entry, when given, is where a chain or a Quake II sprite finds
// its other files.
void Decode(PictureKind kind, const std::string& name, std::span<const std::uint8_t> bytes, CPackObject* entry,
            EntryPictures& result) {
  std::string why;
  switch (kind) {
    case PictureKind::Pcx: {
      Picture p;
      Palette pal;
      if (DecodePcx(bytes, p, pal, &why)) {
        result.set.pictures.push_back(std::move(p));
        result.set.palettes.push_back(pal);
        result.set.ownPalettes = true;
      }
      break;
    }
    case PictureKind::Lmp: {
      Picture p;
      if (!DecodeLmp(bytes, p)) {
        // The tables that share the extension, known by their names: gfx/palette.lmp and
        // gfx/colormap.lmp (other tables of these sizes are no pictures).
        const std::string leaf = LeafName(name);
        if (bytes.size() == 768 && leaf.rfind("palette", 0) == 0) {
          PaletteGrid(bytes, result.set);
          return;
        }
        if (leaf.rfind("colormap", 0) == 0 && DecodeQuakeColormap(bytes, p)) {
          Palette quake;
          LoadPalette(kQuakePaletteId, quake);
          result.set.pictures.push_back(std::move(p));
          result.set.palettes.push_back(quake);
          return;
        }
        result.message = lmp::kNotViewable;
        result.messageBox = true;
        return;
      }
      // A Half-Life picture (a WAD3's 'B' lump) carries its palette after the pixels.
      Palette pal;
      const std::size_t end = 8 + static_cast<std::size_t>(p.width) * static_cast<std::size_t>(p.height);
      if (!ReadTrailingPalette(bytes, end, pal)) LoadPalette(kQuakePaletteId, pal);
      else result.set.ownPalettes = true;
      result.set.pictures.push_back(std::move(p));
      result.set.palettes.push_back(pal);
      result.set.transparent255 = true;
      break;
    }
    case PictureKind::Miptex:
    case PictureKind::Conchars: {
      Picture p;
      Palette pal;
      LoadPalette(kQuakePaletteId, pal);
      // The font is known by its name; should a lump of that name be a texture, it shows as one.
      std::string name;
      if ((kind == PictureKind::Conchars && DecodeConchars(bytes, p)) ||
          DecodeMip(bytes, p, pal, nullptr, &name, &why)) {
        result.set.pictures.push_back(std::move(p));
        result.set.palettes.push_back(pal);
        // A texture whose name begins with "{" is see-through where it holds index 255.
        result.set.transparent255 = !name.empty() && name[0] == '{';
      }
      break;
    }
    case PictureKind::Palette:
      if (bytes.size() < 768) why = "a palette holds 768 bytes, this one " + std::to_string(bytes.size());
      else PaletteGrid(bytes, result.set);
      break;
    case PictureKind::Wal: {
      Palette pal;
      LoadPalette(kQuake2PaletteId, pal);
      result.set.palettes.push_back(pal);
      if (!entry) {  // the first frame alone: the chain's others are found beside it
        Picture p;
        if (DecodeWal(bytes, p, nullptr, &why)) result.set.pictures.push_back(std::move(p));
        break;
      }
      std::unordered_set<const CPackObject*> visited;
      CPackObject* current = entry;
      while (current && visited.insert(current).second) {
        CEntryBytes frame(*current);
        Picture p;
        std::string next;
        if (!frame.Ok() || !DecodeWal(frame.Bytes(), p, &next, &why)) break;
        result.set.pictures.push_back(std::move(p));
        if (next.empty() || !current->Parent()) break;
        CPackObject* found = current->Parent()->FindChild(LeafName(next) + ".wal");
        if (!found || found == entry || found->IsDirectory()) break;
        current = found;
      }
      break;
    }
    case PictureKind::QuakeSprite:
      // Half-Life's sprites (version 2) carry their palette and how they are drawn.
      if (SpriteVersion(bytes) == hlsprite::kVersion) {
        if (ReadHalfLifeSprite(bytes, result.set, nullptr, &why) && result.set.pictures.empty())
          why = "the sprite has no pictures";
        break;
      }
      ReadQuakeSprite(bytes, result.set);
      result.set.transparent255 = true;
      why = "the sprite has no pictures";
      break;
    case PictureKind::Quake2Sprite:
      // Its frames are files beside it, found only in the tree.
      if (entry) ReadQuake2Sprite(*entry, bytes, result.set);
      // Quake II draws index 255 of an 8-bit picture as see-through (GL_Upload8), as Quake does
      // a sprite's.
      result.set.transparent255 = true;
      why = "none of the sprite's pictures lies beside it";
      break;
    case PictureKind::ModelSkin: {
      result.title = name + " skin";
      if (DecodeMdlSkins(bytes, result.set.pictures, &why)) {
        Palette pal;
        LoadPalette(kQuakePaletteId, pal);
        result.set.palettes.push_back(pal);
      }
      break;
    }
    case PictureKind::None: break;
  }
  if (result.set.pictures.empty()) {
    result.set.palettes.clear();
    result.message = Quoted(name) + ": " + (why.empty() ? "no picture" : why);
  }
}

}  // namespace

EntryPictures DecodeEntryBytes(const std::string& name, std::span<const std::uint8_t> bytes, bool skin) {
  EntryPictures result;
  result.title = name;
  const PictureKind kind = PictureKindOf(name, skin);
  if (kind == PictureKind::None) result.message = Quoted(name) + " is not a picture";
  else Decode(kind, name, bytes, nullptr, result);
  return result;
}

}  // namespace tarn
