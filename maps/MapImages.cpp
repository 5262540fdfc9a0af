#include "maps/MapImages.h"

#include <algorithm>
#include <array>
#include <memory>
#include <span>
#include <unordered_map>

#include "archive/PackObject.h"
#include "containers/WadFormat.h"
#include "fileio/ReadSource.h"
#include "fileio/Strings.h"
#include "maps/Bsp.h"
#include "maps/MapEntities.h"
#include "pictures/ImageDecode.h"
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

// Quake's fullbright colours (Quakespasm gl_texmgr.c TexMgr_LoadPalette: 224 to 255).
constexpr int kFirstFullbright = 224;

// glow: the fullbright texels go apart (MapImage::glow), as the engine look draws them.
void Fill(MapImage& image, const Picture& picture, const Palette& palette, bool alphaTest, bool glow, int x0 = 0,
          int width = -1, int transparentIndex = 255) {
  if (width < 0) width = picture.width;
  image.width = width;
  image.height = picture.height;
  image.alphaTest = alphaTest;
  const std::size_t n = static_cast<std::size_t>(width) * static_cast<std::size_t>(picture.height) * 4;
  image.rgba.resize(n);
  bool any = false;
  if (glow) image.glow.assign(n, 0);
  std::uint8_t* out = image.rgba.data();
  std::uint8_t* lit = glow ? image.glow.data() : nullptr;
  for (int y = 0; y < picture.height; ++y) {
    const std::uint8_t* row = picture.Row(y) + x0;
    for (int x = 0; x < width; ++x, out += 4) {
      const Rgb c = palette.colors[row[x]];
      out[0] = c.r, out[1] = c.g, out[2] = c.b;
      const bool clear = alphaTest && row[x] == transparentIndex;
      out[3] = clear ? 0 : 255;
      if (lit) {
        if (row[x] >= kFirstFullbright && !clear) {
          std::copy_n(out, 3, lit);
          std::fill_n(out, 3, 0);
          any = true;
        }
        lit[3] = out[3];
        lit += 4;
      }
    }
  }
  if (!any) image.glow.clear();
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

// Whether any face the look draws is sky: only then does a Quake II map's sky box matter.
bool DrawsSky(const BspMap& map, const MapLook& look) {
  if (!BspIsQuake2(map.header.format)) return false;
  for (std::size_t i = 0; i < map.faces.size(); ++i)
    if (MapFaceStyleOf(map, i, look).surface == MapSurface::Sky) return true;
  return false;
}

// Where the engine looks for a side of the box, first to last: yquake2's GetSkyImage asks for
// env/<sky><side>.tga, and its R_LoadImage takes the .pcx of that name when there is no TGA.
std::array<std::string, 2> SkyBoxPaths(const std::string& name, int side) {
  const std::string base = "env/" + name + kMapSkySuffixes[side];
  return {base + ".tga", base + ".pcx"};
}

// The six pictures in one (MapImages::skyBox), each scaled to the largest's side by its nearest
// texels; false, naming the ones not found or not readable in missing, when any is lacking.
bool LoadSkyBox(const std::string& name, const MapFileLookup& lookup, std::uint64_t& outsidePixels, MapImages& out) {
  std::array<RgbaImage, 6> sides;
  bool all = true;
  int n = 1;
  std::vector<std::uint8_t> bytes;
  for (int k = 0; k < 6; ++k) {
    bool found = false;
    for (const std::string& path : SkyBoxPaths(name, k))
      if (lookup && lookup(path, bytes) && DecodeImage(bytes, path, sides[static_cast<std::size_t>(k)], nullptr)) {
        found = true;
        break;
      }
    if (!found) {
      out.missing.push_back("env/" + name + kMapSkySuffixes[k]);
      all = false;
    }
    // Past the pictures' budget the box is given up at once, not after six huge pictures.
    n = std::min(std::max({n, sides[static_cast<std::size_t>(k)].width, sides[static_cast<std::size_t>(k)].height}),
                 kMapSkyBoxMostSide);
    if (outsidePixels + std::uint64_t{6} * static_cast<std::uint64_t>(n) * static_cast<std::uint64_t>(n) >
        kMostOutsidePixels)
      return false;
  }
  if (!all) return false;
  const std::uint64_t pixels = std::uint64_t{6} * static_cast<std::uint64_t>(n) * static_cast<std::uint64_t>(n);
  outsidePixels += pixels;
  MapImage& box = out.skyBox;
  box.width = n * kMapSkyBoxColumns;
  box.height = n * (6 / kMapSkyBoxColumns);
  box.rgba.assign(static_cast<std::size_t>(box.width) * static_cast<std::size_t>(box.height) * 4, 255);
  for (int k = 0; k < 6; ++k) {
    const RgbaImage& side = sides[static_cast<std::size_t>(k)];
    const int x0 = (k % kMapSkyBoxColumns) * n, y0 = (k / kMapSkyBoxColumns) * n;
    for (int y = 0; y < n; ++y) {
      const int sy = static_cast<int>(static_cast<std::int64_t>(y) * side.height / n);
      for (int x = 0; x < n; ++x) {
        const int sx = static_cast<int>(static_cast<std::int64_t>(x) * side.width / n);
        const std::uint8_t* from =
            side.rgba.data() + (static_cast<std::size_t>(sy) * static_cast<std::size_t>(side.width) + sx) * 4;
        std::uint8_t* to =
            box.rgba.data() + (static_cast<std::size_t>(y0 + y) * static_cast<std::size_t>(box.width) + x0 + x) * 4;
        // The box is opaque whatever alpha its pictures carry, as the engine draws it.
        std::copy_n(from, 3, to);
      }
    }
  }
  out.skyBoxSide = n;
  return true;
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

MapImages DecodeMapImages(const BspMap& map, const MapFileLookup& lookup, const MapLook& look) {
  MapImages out;
  const bool q2 = BspIsQuake2(map.header.format);
  const bool glow = MapShadingOf(map, look).glow;
  out.skyLayers.assign(map.textures.size(), {-1, -1});
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
    bool found = false, own = false;
    if (t.embedded) {
      if (t.picture.width > 0 && t.picture.height > 0 && !t.picture.IsTrueColor()) {
        out.ofTexture[i] = out.images.size();
        const bool quakePalette = map.header.format != BspFormat::HalfLife;
        Fill(out.images.emplace_back(), t.picture, t.palette, alphaTest, glow && quakePalette);
        // Quake's sky: the right half behind, the left half over it with colour 0 clear.
        if (quakePalette && t.picture.width >= 2 && ToLower(t.name).rfind("sky", 0) == 0) {
          const int half = t.picture.width / 2;
          out.skyLayers[i] = {static_cast<int>(out.images.size()), static_cast<int>(out.images.size() + 1)};
          Fill(out.images.emplace_back(), t.picture, t.palette, false, false, half, half);
          Fill(out.images.emplace_back(), t.picture, t.palette, true, false, 0, half, 0);
        }
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
        palette = quake;
        found = wads->Find(t.name, lump) && DecodeMip(lump, picture, palette, &own);
      }
      const std::uint64_t pixels = static_cast<std::uint64_t>(std::max(picture.width, 0)) *
                                   static_cast<std::uint64_t>(std::max(picture.height, 0));
      if (found && pixels > 0 && outsidePixels + pixels <= kMostOutsidePixels) {
        outsidePixels += pixels;
        out.ofTexture[i] = out.images.size();
        byName.emplace(key, out.images.size());
        Fill(out.images.emplace_back(), picture, palette, alphaTest, glow && !q2 && !own);
      }
    }
    if (out.ofTexture[i] == kNone && !t.name.empty() &&
        std::find(out.missing.begin(), out.missing.end(), t.name) == out.missing.end())
      out.missing.push_back(t.name);
  }
  if (DrawsSky(map, look)) {
    const MapSkyBox sky = MapSkyBoxOf(map);
    if (!sky.name.empty()) LoadSkyBox(sky.name, lookup, outsidePixels, out);
  }
  out.images.push_back(Checkerboard());
  for (std::size_t& k : out.ofTexture)
    if (k == kNone) k = out.Checker();
  return out;
}

std::vector<MapImage> MapMipLevels(const MapImage& full) {
  std::vector<MapImage> levels;
  const MapImage* from = &full;
  // The last level is 1 × 1; each one halves the sides that are larger than 1.
  while (from->width > 1 || from->height > 1) {
    MapImage to;
    to.width = std::max(1, from->width / 2);
    to.height = std::max(1, from->height / 2);
    to.alphaTest = from->alphaTest;
    const std::size_t n = static_cast<std::size_t>(to.width) * static_cast<std::size_t>(to.height) * 4;
    to.rgba.resize(n);
    if (!from->glow.empty()) to.glow.resize(n);
    for (int y = 0; y < to.height; ++y)
      for (int x = 0; x < to.width; ++x) {
        unsigned sum[3] = {0, 0, 0}, bright[3] = {0, 0, 0}, all[3] = {0, 0, 0}, opaque = 0;
        for (int k = 0; k < 4; ++k) {
          const int sx = std::min(2 * x + (k & 1), from->width - 1), sy = std::min(2 * y + (k >> 1), from->height - 1);
          const std::size_t at =
              (static_cast<std::size_t>(sy) * static_cast<std::size_t>(from->width) + static_cast<std::size_t>(sx)) * 4;
          const std::uint8_t* p = from->rgba.data() + at;
          for (int c = 0; c < 3; ++c) all[c] += p[c];
          if (!from->glow.empty())
            for (int c = 0; c < 3; ++c) bright[c] += from->glow[at + static_cast<std::size_t>(c)];
          if (from->alphaTest && p[3] < 128) continue;
          ++opaque;
          for (int c = 0; c < 3; ++c) sum[c] += p[c];
        }
        const std::size_t at =
            (static_cast<std::size_t>(y) * static_cast<std::size_t>(to.width) + static_cast<std::size_t>(x)) * 4;
        std::uint8_t* q = to.rgba.data() + at;
        for (int c = 0; c < 3; ++c) q[c] = static_cast<std::uint8_t>(opaque ? sum[c] / opaque : all[c] / 4);
        q[3] = !from->alphaTest || opaque >= 2 ? 255 : 0;
        if (!to.glow.empty()) {
          for (int c = 0; c < 3; ++c)
            to.glow[at + static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(bright[c] / 4);
          to.glow[at + 3] = q[3];
        }
      }
    levels.push_back(std::move(to));
    from = &levels.back();
  }
  return levels;
}

std::vector<std::string> MapFilesWanted(const BspMap& map) {
  std::vector<std::string> paths;
  bool outside = false;
  for (const BspTexture& t : map.textures) {
    if (t.embedded || t.name.empty()) continue;
    outside = true;
    if (!BspIsQuake2(map.header.format)) break;
    std::string path = "textures/" + t.name + ".wal";
    if (std::find(paths.begin(), paths.end(), path) == paths.end()) paths.push_back(std::move(path));
  }
  if (outside && !BspIsQuake2(map.header.format))
    for (const std::string& given : MapWadPaths(map))
      for (std::string& c : WadCandidates(given))
        if (std::find(paths.begin(), paths.end(), c) == paths.end()) paths.push_back(std::move(c));
  if (DrawsSky(map, MapLook{})) {
    const MapSkyBox sky = MapSkyBoxOf(map);
    if (!sky.name.empty())
      for (int k = 0; k < 6; ++k)
        for (std::string& path : SkyBoxPaths(sky.name, k)) paths.push_back(std::move(path));
  }
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
    if (lookup && BspIsQuake2(map.header.format)) {
      // The engine's path for each name (qcommon/qfiles.h texinfo_t, ref_gl Mod_LoadTexinfo).
      found = lookup("textures/" + t.name + ".wal", bytes);
    } else if (lookup) {
      if (!wads) wads = std::make_unique<CWadTextures>(map, lookup, wadsFound);
      std::span<const std::uint8_t> lump;
      found = wads->Find(t.name, lump);
    }
    if (!found) missing.push_back(t.name);
  }
  if (DrawsSky(map, MapLook{})) {
    const MapSkyBox sky = MapSkyBoxOf(map);
    for (int k = 0; k < 6 && !sky.name.empty(); ++k) {
      bool found = false;
      for (const std::string& path : SkyBoxPaths(sky.name, k)) found = found || (lookup && lookup(path, bytes));
      if (!found) missing.push_back("env/" + sky.name + kMapSkySuffixes[k]);
    }
  }
  return missing;
}

std::function<bool(const std::string&, std::vector<std::uint8_t>&)> MapWadTextures(const BspMap& map,
                                                                                   const MapFileLookup& lookup) {
  std::vector<std::string> found;
  auto wads = std::make_shared<CWadTextures>(map, lookup, found);
  return [wads](const std::string& name, std::vector<std::uint8_t>& out) {
    std::span<const std::uint8_t> lump;
    if (!wads->Find(name, lump)) return false;
    out.assign(lump.begin(), lump.end());
    return true;
  };
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

}  // namespace tarn
