// Game files holding pictures drawn pixel by pixel, for the tests of replacement art: mip
// textures and the maps and WADs that hold them, models with skin groups, sprites, pictures.
#pragma once

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "archive/PackObject.h"
#include "containers/WadFormat.h"
#include "game/EngineArt.h"

namespace tarn::test {

using PixelFn = std::function<std::uint8_t(int x, int y)>;

// A mip texture whose full-size pixel (x, y) is f(x, y); each smaller level the top left pixel
// of its square.
inline Bytes ArtMiptex(const std::string& name, int w, int h, const PixelFn& f) {
  Bytes b(40, 0);
  std::memcpy(b.data(), name.data(), std::min<std::size_t>(name.size(), 15));
  PutU32(b, 16, static_cast<std::uint32_t>(w));
  PutU32(b, 20, static_cast<std::uint32_t>(h));
  for (int k = 0; k < 4; ++k) {
    PutU32(b, 24 + 4 * k, static_cast<std::uint32_t>(b.size()));
    for (int y = 0; y < (h >> k); ++y)
      for (int x = 0; x < (w >> k); ++x) b.push_back(f(x << k, y << k));
  }
  return b;
}

// A Quake map of nothing but its texture lump.
inline Bytes TextureMap(const std::vector<Bytes>& textures) {
  Bytes lump;
  PutU32(lump, 0, static_cast<std::uint32_t>(textures.size()));
  lump.resize(4 + 4 * textures.size());
  for (std::size_t i = 0; i < textures.size(); ++i) {
    PutU32(lump, 4 + 4 * i, static_cast<std::uint32_t>(lump.size()));
    lump.insert(lump.end(), textures[i].begin(), textures[i].end());
  }
  Bytes map(124, 0);
  PutU32(map, 0, 29);
  PutU32(map, 4 + 2 * 8, 124);
  PutU32(map, 4 + 2 * 8 + 4, static_cast<std::uint32_t>(lump.size()));
  map.insert(map.end(), lump.begin(), lump.end());
  return map;
}

// A Quake picture (.lmp, or a WAD's 'B' lump).
inline Bytes ArtLmp(int w, int h, const PixelFn& f) {
  Bytes b;
  PutU32(b, 0, static_cast<std::uint32_t>(w));
  PutU32(b, 4, static_cast<std::uint32_t>(h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.push_back(f(x, y));
  return b;
}

// A Quake model with no frames: skins of w × h, each a single skin of one pattern, or (a
// group) several; the header and skins are all the art tools read.
struct ArtSkin {
  std::vector<PixelFn> pictures;  // one: a single skin; more: a group
};
inline Bytes ArtMdl(int w, int h, const std::vector<ArtSkin>& skins) {
  Bytes b(84, 0);
  std::memcpy(b.data(), "IDPO", 4);
  PutU32(b, 4, 6);
  PutU32(b, 48, static_cast<std::uint32_t>(skins.size()));
  PutU32(b, 52, static_cast<std::uint32_t>(w));
  PutU32(b, 56, static_cast<std::uint32_t>(h));
  for (const ArtSkin& s : skins) {
    PutU32(b, b.size(), s.pictures.size() == 1 ? 0 : 1);
    if (s.pictures.size() > 1) {
      PutU32(b, b.size(), static_cast<std::uint32_t>(s.pictures.size()));
      for (std::size_t k = 0; k < s.pictures.size(); ++k) PutU32(b, b.size(), 0x3DCCCCCD);  // 0.1 s
    }
    for (const PixelFn& f : s.pictures)
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) b.push_back(f(x, y));
  }
  return b;
}

// A Quake sprite of single frames of w × h.
inline Bytes ArtSpr(int w, int h, const std::vector<PixelFn>& frames) {
  Bytes b(36, 0);
  std::memcpy(b.data(), "IDSP", 4);
  PutU32(b, 4, 1);
  PutU32(b, 16, static_cast<std::uint32_t>(w));
  PutU32(b, 20, static_cast<std::uint32_t>(h));
  PutU32(b, 24, static_cast<std::uint32_t>(frames.size()));
  for (const PixelFn& f : frames) {
    PutU32(b, b.size(), 0);
    PutU32(b, b.size(), 0);
    PutU32(b, b.size(), 0);
    PutU32(b, b.size(), static_cast<std::uint32_t>(w));
    PutU32(b, b.size(), static_cast<std::uint32_t>(h));
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) b.push_back(f(x, y));
  }
  return b;
}

// Game files held in memory under their paths, as a command reads an archive's.
class ArtGame {
 public:
  ArtGame() : m_root(std::make_unique<CPackObject>()) { m_root->SetDirectory(true); }
  ArtGame& File(const std::string& path, Bytes bytes) {
    CPackObject* e = m_root->AddChildAsIs(std::to_string(m_files.size()), false);
    e->SetSize(static_cast<std::int64_t>(bytes.size()));
    e->SetData(std::move(bytes));
    m_files.push_back({path, e});
    return *this;
  }
  const std::vector<ArtFile>& Files() const { return m_files; }
  Bytes Of(std::size_t i) const { return *m_files[i].entry->Data(); }

 private:
  std::unique_ptr<CPackObject> m_root;
  std::vector<ArtFile> m_files;
};

// Every file below a folder, as paths relative to it, sorted.
inline std::vector<std::string> FilesBelow(const fs::path& dir) {
  std::vector<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (e.is_regular_file()) out.push_back(fs::relative(e.path(), dir).generic_string());
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace tarn::test
