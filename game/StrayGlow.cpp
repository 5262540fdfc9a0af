#include "game/StrayGlow.h"

#include "archive/PackObject.h"
#include "fileio/Strings.h"
#include "pictures/EntryPictures.h"

namespace tarn {

namespace {

bool Named(const std::vector<std::string>& only, const std::string& path) {
  if (only.empty()) return true;
  for (const std::string& o : only)
    if (SameName(o, path)) return true;
  return false;
}

bool LitFile(const std::string& path) {
  const std::string n = ToLower(path);
  return EndsWith(n, ".bsp") || EndsWith(n, ".wad") || EndsWith(n, ".mdl");
}

std::string PictureName(const PictureSpot& spot) {
  if (spot.kind == SpotKind::ModelSkin)
    return "skin " + std::to_string(spot.number) + (spot.member >= 0 ? "." + std::to_string(spot.member) : "");
  return "texture " + Quoted(spot.name);
}

}  // namespace

std::vector<GlowingPicture> FindGlowingPictures(const std::vector<ArtFile>& files, const std::vector<std::string>& only,
                                                bool every, std::vector<std::string>& problems) {
  std::vector<GlowingPicture> out;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const ArtFile& f = files[i];
    if (!f.entry || !LitFile(f.path) || !Named(only, f.path)) continue;
    CEntryBytes data(*f.entry);
    if (!data.Ok()) {
      problems.push_back(Quoted(f.path) + ": its data cannot be read");
      continue;
    }
    const PictureSpots found = FindPictureSpots(f.path, data.Bytes());
    for (const PictureSpot& spot : found.spots) {
      if (spot.kind != SpotKind::MapTexture && spot.kind != SpotKind::WadTexture && spot.kind != SpotKind::ModelSkin)
        continue;
      // Liquids and the sky are drawn unlit: their glowing colours are colours like any other.
      const bool texture = spot.kind != SpotKind::ModelSkin;
      if (texture && (spot.name.empty() || spot.name[0] == '*' || SameName(spot.name.substr(0, 3), "sky"))) continue;
      GlowingPicture g;
      g.file = i;
      g.spot = spot;
      g.name = PictureName(spot);
      g.transparent = texture && spot.name[0] == '{' ? 255 : -1;
      Picture picture;
      std::string why;
      if (!ReadSpot(data.Bytes(), spot, picture, &why)) {
        problems.push_back(Quoted(f.path) + ": " + g.name + ": " + why);
        continue;
      }
      g.pixels = every ? GlowingPixels(picture, kLitGlowFirst, kLitGlowLast, g.transparent)
                       : StrayGlowPixels(picture, kLitGlowFirst, kLitGlowLast, g.transparent);
      if (!g.pixels.empty()) out.push_back(std::move(g));
    }
  }
  return out;
}

bool QuenchGlow(const std::vector<ArtFile>& files, const std::vector<GlowingPicture>& pictures, const Palette& palette,
                std::vector<ArtChange>& changes, std::vector<std::string>& problems) {
  changes.clear();
  bool ok = true;
  for (std::size_t at = 0; at < pictures.size();) {
    const std::size_t file = pictures[at].file;
    ArtChange change{file, {}};
    std::string why;
    CPackObject* entry = files[file].entry;
    if (!entry || !entry->CopyBytes(change.bytes, &why)) {
      problems.push_back(Quoted(files[file].path) + ": its data cannot be read");
      ok = false;
      while (at < pictures.size() && pictures[at].file == file) ++at;
      continue;
    }
    for (; at < pictures.size() && pictures[at].file == file; ++at) {
      const GlowingPicture& g = pictures[at];
      Picture full;
      if (!ReadSpot(change.bytes, g.spot, full, &why)) {
        problems.push_back(Quoted(files[file].path) + ": " + g.name + ": " + why);
        ok = false;
        continue;
      }
      for (const GlowPixel& p : g.pixels)
        full.pixels[static_cast<std::size_t>(p.y) * static_cast<std::size_t>(full.Stride()) +
                    static_cast<std::size_t>(p.x)] =
            NearestNotGlowing(palette, p.index, kLitGlowFirst, kLitGlowLast, g.transparent);
      auto glows = [&](int v) { return v >= kLitGlowFirst && v <= kLitGlowLast && v != g.transparent; };
      // A smaller level keeps its bytes but where it glows over full-size pixels none of which
      // glows any longer.
      std::array<Picture, 3> levels;
      const bool mips = g.spot.mips[0] != 0;
      for (std::size_t k = 0; mips && k < 3; ++k) {
        PictureSpot level = g.spot;
        level.width = g.spot.width >> (k + 1);
        level.height = g.spot.height >> (k + 1);
        level.offset = g.spot.mips[k];
        Picture& m = levels[k];
        if (level.width == 0 || level.height == 0) continue;
        if (!ReadSpot(change.bytes, level, m, &why)) continue;
        const int side = 2 << k;
        for (int y = 0; y < m.height; ++y)
          for (int x = 0; x < m.width; ++x) {
            std::uint8_t& v = m.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(m.Stride()) +
                                       static_cast<std::size_t>(x)];
            if (!glows(v)) continue;
            bool under = false;
            for (int dy = 0; dy < side && !under; ++dy)
              for (int dx = 0; dx < side && !under; ++dx)
                under =
                    glows(full.At(std::min(x * side + dx, full.width - 1), std::min(y * side + dy, full.height - 1)));
            if (!under) v = NearestNotGlowing(palette, v, kLitGlowFirst, kLitGlowLast, g.transparent);
          }
      }
      if (!WriteSpot(change.bytes, g.spot, full, mips ? &levels : nullptr, palette, &why)) {
        problems.push_back(Quoted(files[file].path) + ": " + g.name + ": " + why);
        ok = false;
      }
    }
    changes.push_back(std::move(change));
  }
  return ok;
}

}  // namespace tarn
