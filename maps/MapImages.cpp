#include "maps/MapImages.h"

#include <algorithm>
#include <memory>
#include <span>
#include <unordered_map>

#include "archive/PackObject.h"
#include "containers/WadFormat.h"
#include "fileio/ReadSource.h"
#include "fileio/Strings.h"
#include "maps/Bsp.h"
#include "maps/MapEntities.h"
#include "pictures/Palette.h"
#include "pictures/Pictures.h"

namespace tarn {

namespace {

constexpr int kCheckerSide = 64;
// Pictures from outside the map are bounded in all: a WAD's directory may point many names at
// one huge lump, which would otherwise be decoded for each.
constexpr std::uint64_t kMostOutsidePixels = std::uint64_t{48} << 20;

// Where a WAD the map names may be, first to last: "c:/quake/id1/x.wad" and
// "/half-life/valve/x.wad" name files far from any archive, so the name alone (what a game
// folder or archive is likely to hold) comes first, then the path without its drive or root,
// then the path as given.
std::vector<std::string> WadCandidates(const std::string& given) {
  std::string path = given;
  std::replace(path.begin(), path.end(), '\\', '/');
  const std::size_t slash = path.rfind('/');
  std::string relative = path;
  if (relative.size() > 1 && relative[1] == ':') relative.erase(0, 2);
  while (!relative.empty() && relative.front() == '/') relative.erase(0, 1);
  std::vector<std::string> out;
  for (std::string c : {slash == std::string::npos ? path : path.substr(slash + 1), relative, given})
    if (!c.empty() && std::find(out.begin(), out.end(), c) == out.end()) out.push_back(std::move(c));
  return out;
}

// A texture found in one of the map's WADs: its bytes and whether they carry their own palette
// (a WAD3's) or take Quake's.
struct WadTexture {
  std::size_t wad = 0;
  std::size_t offset = 0, size = 0;
};

class CWadTextures {
 public:
  CWadTextures(const BspMap& map, const MapFileLookup& lookup, std::vector<std::string>& found) {
    if (!lookup) return;
    std::vector<std::uint8_t> bytes;
    for (const std::string& given : MapWadPaths(map)) {
      bool ok = false;
      std::string by;
      for (const std::string& candidate : WadCandidates(given)) {
        if (!lookup(candidate, bytes)) continue;
        ok = true, by = candidate;
        break;
      }
      if (!ok) continue;
      if (std::find(found.begin(), found.end(), by) != found.end()) continue;  // named twice
      Add(std::move(bytes));
      found.push_back(by);
      bytes = {};
    }
  }

  // The texture's bytes, from the first WAD that holds it.
  bool Find(const std::string& name, std::span<const std::uint8_t>& out) const {
    const auto it = m_byName.find(ToLower(name));
    if (it == m_byName.end()) return false;
    const WadTexture& t = it->second;
    out = std::span<const std::uint8_t>(m_wads[t.wad]).subspan(t.offset, t.size);
    return true;
  }

 private:
  void Add(std::vector<std::uint8_t> bytes) {
    CMemorySource source(bytes.data(), bytes.size());
    WadIndex index;
    if (!ReadWadIndex(source, index)) return;
    const bool wad3 = index.version == ContainerFormat::Wad3;
    for (const WadRecord& r : index.records) {
      // The Quakespasm family's Mod_LoadWadTexture: 'D' in either, Half-Life's 67 in a WAD3.
      const bool texture = r.type == wad::kQuakeMiptex || (wad3 && r.type == wad::kHalfLifeMiptex);
      if (!texture || r.compression != 0 || !r.dataInside || r.diskSize <= 0) continue;
      // The first WAD named, and the first record in it, wins.
      m_byName.try_emplace(ToLower(std::string(r.name)), WadTexture{m_wads.size(), static_cast<std::size_t>(r.offset),
                                                                    static_cast<std::size_t>(r.diskSize)});
    }
    m_wads.push_back(std::move(bytes));
  }

  std::vector<std::vector<std::uint8_t>> m_wads;
  std::unordered_map<std::string, WadTexture> m_byName;
};

void Fill(MapImage& image, const Picture& picture, const Palette& palette, bool alphaTest) {
  image.width = picture.width;
  image.height = picture.height;
  image.alphaTest = alphaTest;
  image.rgba.resize(static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height) * 4);
  std::uint8_t* out = image.rgba.data();
  for (int y = 0; y < picture.height; ++y) {
    const std::uint8_t* row = picture.Row(y);
    for (int x = 0; x < picture.width; ++x, out += 4) {
      const Rgb c = palette.colors[row[x]];
      out[0] = c.r, out[1] = c.g, out[2] = c.b;
      out[3] = alphaTest && row[x] == 255 ? 0 : 255;
    }
  }
}

MapImage Checkerboard() {
  MapImage checker;
  checker.width = checker.height = kCheckerSide;
  checker.rgba.resize(kCheckerSide * kCheckerSide * 4);
  for (int y = 0; y < kCheckerSide; ++y)
    for (int x = 0; x < kCheckerSide; ++x) {
      const bool dark = ((x / 8) + (y / 8)) % 2 != 0;
      std::uint8_t* p = checker.rgba.data() + (y * kCheckerSide + x) * 4;
      p[0] = dark ? 40 : 200, p[1] = dark ? 40 : 0, p[2] = dark ? 40 : 200, p[3] = 255;
    }
  return checker;
}

}  // namespace

MapFileLookup ArchiveLookup(const CPackObject& entry) {
  const CPackObject* root = entry.Root();
  return [root](const std::string& path, std::vector<std::uint8_t>& bytes) {
    CPackObject* e = root->FindByPath(path);
    if (!e) e = root->FindByPath(ToLower(path));
    return e && !e->IsDirectory() && e->CopyBytes(bytes, nullptr);
  };
}

std::vector<std::string> MapWadPaths(const BspMap& map) {
  std::vector<MapEntity> entities;
  ParseEntities(map.entities, entities, nullptr);
  std::vector<std::string> paths;
  if (entities.empty()) return paths;
  const std::string* value = entities.front().Find("wad");
  if (!value) return paths;
  std::size_t from = 0;
  while (from <= value->size()) {
    std::size_t end = value->find(';', from);
    if (end == std::string::npos) end = value->size();
    std::string path = value->substr(from, end - from);
    const auto blank = [](unsigned char c) { return c == ' ' || c == '\t'; };
    while (!path.empty() && blank(static_cast<unsigned char>(path.back()))) path.pop_back();
    std::size_t lead = 0;
    while (lead < path.size() && blank(static_cast<unsigned char>(path[lead]))) ++lead;
    path.erase(0, lead);
    if (!path.empty()) paths.push_back(std::move(path));
    from = end + 1;
  }
  return paths;
}

MapImages DecodeMapImages(const BspMap& map, const MapFileLookup& lookup) {
  MapImages out;
  const bool q2 = map.header.format == BspFormat::Quake2;
  Palette quake2, quake;
  if (q2) LoadPalette(kQuake2PaletteId, quake2);
  else LoadPalette(kQuakePaletteId, quake);
  // Only read when some texture needs them: a map with every texture inside never looks.
  std::unique_ptr<CWadTextures> wads;
  std::unordered_map<std::string, std::size_t> byName;  // outside pictures already decoded
  std::uint64_t outsidePixels = 0;
  const std::size_t kNone = SIZE_MAX;
  out.ofTexture.assign(map.textures.size(), kNone);
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i < map.textures.size(); ++i) {
    const BspTexture& t = map.textures[i];
    // Quake's and Half-Life's "{" textures see through their last colour.
    const bool alphaTest = !t.name.empty() && t.name.front() == '{';
    Picture picture;
    Palette palette;
    bool found = false;
    if (t.embedded) {
      if (t.picture.width > 0 && t.picture.height > 0 && !t.picture.IsTrueColor()) {
        out.ofTexture[i] = out.images.size();
        Fill(out.images.emplace_back(), t.picture, t.palette, alphaTest);
      }
    } else if (!t.name.empty() && lookup) {
      const std::string key = ToLower(t.name);
      if (const auto it = byName.find(key); it != byName.end()) {
        out.ofTexture[i] = it->second;
        continue;
      }
      if (q2) {
        const std::string path = "textures/" + t.name + ".wal";
        found = lookup(path, bytes) && DecodeWal(bytes, picture, nullptr);
        palette = quake2;
      } else {
        if (!wads) wads = std::make_unique<CWadTextures>(map, lookup, out.wads);
        std::span<const std::uint8_t> lump;
        bool own = false;
        palette = quake;
        found = wads->Find(t.name, lump) && DecodeMip(lump, picture, palette, &own);
      }
      const std::uint64_t pixels = static_cast<std::uint64_t>(std::max(picture.width, 0)) *
                                   static_cast<std::uint64_t>(std::max(picture.height, 0));
      if (found && pixels > 0 && outsidePixels + pixels <= kMostOutsidePixels) {
        outsidePixels += pixels;
        out.ofTexture[i] = out.images.size();
        byName.emplace(key, out.images.size());
        Fill(out.images.emplace_back(), picture, palette, alphaTest);
      }
    }
    if (out.ofTexture[i] == kNone && !t.name.empty() &&
        std::find(out.missing.begin(), out.missing.end(), t.name) == out.missing.end())
      out.missing.push_back(t.name);
  }
  out.images.push_back(Checkerboard());
  for (std::size_t& k : out.ofTexture)
    if (k == kNone) k = out.Checker();
  return out;
}

std::vector<std::string> MapFilesWanted(const BspMap& map) {
  std::vector<std::string> paths;
  bool outside = false;
  for (const BspTexture& t : map.textures) {
    if (t.embedded || t.name.empty()) continue;
    outside = true;
    if (map.header.format != BspFormat::Quake2) break;
    std::string path = "textures/" + t.name + ".wal";
    if (std::find(paths.begin(), paths.end(), path) == paths.end()) paths.push_back(std::move(path));
  }
  if (outside && map.header.format != BspFormat::Quake2)
    for (const std::string& given : MapWadPaths(map))
      for (std::string& c : WadCandidates(given))
        if (std::find(paths.begin(), paths.end(), c) == paths.end()) paths.push_back(std::move(c));
  return paths;
}

std::vector<std::string> MissingMapTextures(const BspMap& map, const MapFileLookup& lookup) {
  std::vector<std::string> missing, wadsFound;
  std::unique_ptr<CWadTextures> wads;
  std::vector<std::uint8_t> bytes;
  for (const BspTexture& t : map.textures) {
    if (t.embedded || t.name.empty()) continue;
    if (std::find(missing.begin(), missing.end(), t.name) != missing.end()) continue;
    bool found = false;
    if (lookup && map.header.format == BspFormat::Quake2) {
      // The engine's path for each name (qcommon/qfiles.h texinfo_t, ref_gl Mod_LoadTexinfo).
      found = lookup("textures/" + t.name + ".wal", bytes);
    } else if (lookup) {
      if (!wads) wads = std::make_unique<CWadTextures>(map, lookup, wadsFound);
      std::span<const std::uint8_t> lump;
      found = wads->Find(t.name, lump);
    }
    if (!found) missing.push_back(t.name);
  }
  return missing;
}

std::vector<std::pair<int, int>> MapTextureSizes(const BspMap& map, const MapImages& images) {
  std::vector<std::pair<int, int>> sizes;
  sizes.reserve(map.textures.size());
  for (std::size_t i = 0; i < map.textures.size(); ++i) {
    const BspTexture& t = map.textures[i];
    const bool missing = images.Missing(static_cast<int>(i));
    const MapImage& image = images.images[images.ofTexture[i]];
    sizes.emplace_back(t.width > 0 ? t.width
                       : missing   ? 0
                                   : image.width,
                       t.height > 0 ? t.height
                       : missing    ? 0
                                    : image.height);
  }
  return sizes;
}

float MapLightScale(const BspMap& map) {
  if (map.lighting.empty()) return 1.0f;
  const BspFormat f = map.header.format;
  return f == BspFormat::HalfLife || f == BspFormat::Quake2 ? 1.0f : 2.0f;
}

}  // namespace tarn
