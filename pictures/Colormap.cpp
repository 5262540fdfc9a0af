#include "pictures/Colormap.h"

#include <algorithm>

#include "fileio/ByteIO.h"
#include "fileio/Strings.h"

namespace tarn {

namespace {

int Squared(int r, int g, int b, const Rgb& c) {
  const int dr = r - c.r, dg = g - c.g, db = b - c.b;
  return dr * dr + dg * dg + db * db;
}

// qlumpy's and qdata's BestColor: the first index of least distance among start to stop, an
// exact colour at once, and `worst` (what index 0 is given before the search) as the bar any
// index must beat.
std::uint8_t BestColor(const Palette& p, int r, int g, int b, int start, int stop, int worst) {
  int best = worst, index = 0;
  for (int i = start; i <= stop; ++i) {
    const int d = Squared(r, g, b, p.colors[static_cast<std::size_t>(i)]);
    if (d < best) {
      if (d == 0) return static_cast<std::uint8_t>(i);
      best = d;
      index = i;
    }
  }
  return static_cast<std::uint8_t>(index);
}

// The nearest of [first, last], the first of equals.
std::uint8_t Nearest(const Palette& p, const Rgb& c, int first, int last) {
  int best = INT32_MAX, index = first;
  for (int i = first; i <= last; ++i) {
    const int d = Squared(c.r, c.g, c.b, p.colors[static_cast<std::size_t>(i)]);
    if (d < best) best = d, index = i;
  }
  return static_cast<std::uint8_t>(index);
}

void Remap(std::vector<std::uint8_t>& bytes, std::size_t at, std::size_t count,
           const std::array<std::uint8_t, 256>& table) {
  if (at > bytes.size() || count > bytes.size() - at) throw ParseError("pixels run past the end");
  for (std::size_t i = at; i < at + count; ++i) bytes[i] = table[bytes[i]];
}

std::size_t Area(std::int64_t w, std::int64_t h, std::size_t limit) {
  if (w <= 0 || h <= 0 || w > 65536 || h > 65536 || static_cast<std::uint64_t>(w * h) > limit)
    throw ParseError("a picture's size does not fit in the file");
  return static_cast<std::size_t>(w * h);
}

// The four levels of a mip texture from header offset `offsets` (a WAD's or a WAL's).
void RemapMips(std::vector<std::uint8_t>& b, std::size_t widthAt, std::size_t offsets,
               const std::array<std::uint8_t, 256>& table) {
  ByteReader r(b);
  r.Seek(widthAt);
  const std::int64_t w = r.I32(), h = r.I32();
  Area(w, h, b.size());
  r.Seek(offsets);
  for (int level = 0; level < 4; ++level) {
    const std::uint32_t at = r.U32();
    if (at == 0) continue;  // a texture whose pixels lie elsewhere
    Remap(b, at, Area(std::max<std::int64_t>(w >> level, 1), std::max<std::int64_t>(h >> level, 1), b.size()), table);
  }
}

}  // namespace

std::vector<std::uint8_t> MakeQuakeColormap(const Palette& palette, int fullbrights) {
  fullbrights = std::clamp(fullbrights, 0, 256);
  std::vector<std::uint8_t> out;
  out.reserve(colormap::kQuakeBytes);
  for (int l = 0; l < colormap::kLevels; ++l) {
    for (int c = 0; c < 256; ++c) {
      if (c >= 256 - fullbrights) {
        out.push_back(static_cast<std::uint8_t>(c));
        continue;
      }
      const Rgb& col = palette.colors[static_cast<std::size_t>(c)];
      // The colour at (63 - l) / 32, rounded to the nearest: exact in integers.
      auto scale = [&](int v) { return std::min(255, (v * (63 - l) + 16) >> 5); };
      const int r = scale(col.r), g = scale(col.g), b = scale(col.b);
      out.push_back(BestColor(palette, r, g, b, 0, 254, (r * r + g * g + b * b) * 2));
    }
  }
  return out;
}

Picture MakeQuake2Colormap(const Palette& palette, int fullbrights) {
  fullbrights = std::clamp(fullbrights, 0, 256);
  std::vector<std::uint8_t> indices;
  indices.reserve(256 * colormap::kQuake2Rows);
  constexpr int kWorst = 256 * 256 * 4;
  for (int l = 0; l < colormap::kLevels; ++l) {
    // Single precision throughout, as qdata computed it.
    const float frac = 2.0f - 2.0f * static_cast<float>(l) / static_cast<float>(colormap::kLevels - 1);
    for (int c = 0; c < 256; ++c) {
      if (c >= 256 - fullbrights) {
        indices.push_back(static_cast<std::uint8_t>(c));
        continue;
      }
      const Rgb& col = palette.colors[static_cast<std::size_t>(c)];
      auto scale = [&](std::uint8_t v) {
        return static_cast<int>(static_cast<double>(static_cast<float>(v) * frac) + 0.5);
      };
      indices.push_back(BestColor(palette, scale(col.r), scale(col.g), scale(col.b), 1, 254, kWorst));
    }
  }
  // Colour c seen through 66% of colour l; nothing is seen through the transparent colour.
  for (int l = 0; l < 255; ++l) {
    const Rgb& back = palette.colors[static_cast<std::size_t>(l)];
    for (int c = 0; c < 255; ++c) {
      const Rgb& front = palette.colors[static_cast<std::size_t>(c)];
      auto mix = [](std::uint8_t f, std::uint8_t b) {
        return static_cast<int>(static_cast<float>(f * 0.33 + b * 0.66));
      };
      indices.push_back(
          BestColor(palette, mix(front.r, back.r), mix(front.g, back.g), mix(front.b, back.b), 1, 254, kWorst));
    }
    indices.push_back(255);
  }
  indices.insert(indices.end(), 256, 255);
  Picture out;
  BuildPicture(256, colormap::kQuake2Rows, indices, out);
  return out;
}

bool IsQuakeColormapSize(std::size_t size) {
  return size == colormap::kQuakeBytes || size == colormap::kQuakeBytes + 1;
}

bool DecodeQuakeColormap(std::span<const std::uint8_t> bytes, Picture& out) {
  if (!IsQuakeColormapSize(bytes.size())) return false;
  return BuildPicture(256, colormap::kLevels, bytes.first(colormap::kQuakeBytes), out);
}

std::array<std::uint8_t, 256> RemapTable(const Palette& from, const Palette& to, int fullbrights) {
  fullbrights = std::clamp(fullbrights, 0, 255);
  const int firstBright = 256 - fullbrights;
  std::array<std::uint8_t, 256> table{};
  for (int i = 0; i < 255; ++i) {
    const Rgb& c = from.colors[static_cast<std::size_t>(i)];
    const bool bright = fullbrights > 0 && i >= firstBright;
    // With a single fullbright (255 itself) there is none to go to: the glow is dropped.
    table[static_cast<std::size_t>(i)] = bright && firstBright <= 254
                                             ? Nearest(to, c, firstBright, 254)
                                             : Nearest(to, c, 0, std::min(firstBright - 1, 254));
  }
  table[255] = 255;
  return table;
}

RemapOutcome RemapArt(const std::string& name, std::span<const std::uint8_t> bytes,
                      const std::array<std::uint8_t, 256>& table, std::vector<std::uint8_t>& out, std::string* error) {
  const std::string n = ToLower(name);
  const std::string leaf = n.substr(n.rfind('/') == std::string::npos ? 0 : n.rfind('/') + 1);
  out.assign(bytes.begin(), bytes.end());
  try {
    if (leaf.rfind("conchars", 0) == 0 && bytes.size() == 128 * 128) {
      Remap(out, 0, out.size(), table);
    } else if (EndsWith(n, ".lmp")) {
      // Pictures only: a width and height whose pixels the file holds (a Half-Life picture's own
      // palette after them is no Quake palette's business).
      ByteReader r(bytes);
      if (bytes.size() < 8) return RemapOutcome::NotArt;
      const std::int64_t w = r.I32(), h = r.I32();
      if (w <= 0 || h <= 0 || w > 65536 || h > 65536 || static_cast<std::uint64_t>(w * h) > bytes.size() - 8)
        return RemapOutcome::NotArt;
      Remap(out, 8, static_cast<std::size_t>(w * h), table);
    } else if (EndsWith(n, ".mip")) {
      RemapMips(out, 16, 24, table);
    } else if (EndsWith(n, ".wal")) {
      RemapMips(out, 32, 40, table);
    } else if (EndsWith(n, ".mdl")) {
      ByteReader r(bytes);
      r.Seek(0);
      if (r.Bytes(4)[0] != 'I') throw ParseError("not a Quake model");
      r.Seek(48);
      const std::int32_t skins = r.I32();
      const std::int64_t w = r.I32(), h = r.I32();
      const std::size_t area = Area(w, h, bytes.size());
      if (skins < 0 || skins > 4096) throw ParseError("the skin count is out of range");
      r.Seek(84);
      for (std::int32_t s = 0; s < skins; ++s) {
        const std::int32_t type = r.I32();
        std::int64_t count = 1;
        if (type != 0) {
          count = r.I32();
          if (count < 0 || count > 4096) throw ParseError("a skin group's count is out of range");
          r.Skip(static_cast<std::size_t>(count) * 4);
        }
        for (std::int64_t k = 0; k < count; ++k) {
          Remap(out, r.Position(), area, table);
          r.Skip(area);
        }
      }
    } else if (EndsWith(n, ".spr")) {
      ByteReader r(bytes);
      r.Seek(4);
      // A Half-Life sprite (version 2) carries its own palette: not Quake's art.
      if (r.I32() != 1) return RemapOutcome::NotArt;
      r.Seek(24);
      const std::int32_t frames = r.I32();
      if (frames < 0 || frames > 65536) throw ParseError("the frame count is out of range");
      r.Seek(36);
      auto picture = [&] {
        r.Skip(8);
        const std::int64_t w = r.I32(), h = r.I32();
        const std::size_t area = Area(w, h, bytes.size());
        Remap(out, r.Position(), area, table);
        r.Skip(area);
      };
      for (std::int32_t f = 0; f < frames; ++f) {
        if (r.I32() == 0) {
          picture();
          continue;
        }
        const std::int32_t count = r.I32();
        if (count < 0 || count > 65536) throw ParseError("a frame group's count is out of range");
        r.Skip(static_cast<std::size_t>(count) * 4);
        for (std::int32_t k = 0; k < count; ++k) picture();
      }
    } else {
      return RemapOutcome::NotArt;
    }
  } catch (const ParseError& e) {
    if (error) *error = e.what();
    out.clear();
    return RemapOutcome::Damaged;
  }
  if (std::equal(out.begin(), out.end(), bytes.begin(), bytes.end())) return RemapOutcome::Unchanged;
  return RemapOutcome::Changed;
}

}  // namespace tarn
