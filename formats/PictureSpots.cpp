#include "formats/PictureSpots.h"

#include <algorithm>
#include <cstring>

#include "fileio/ByteIO.h"
#include "fileio/Strings.h"
#include "maps/MapTextures.h"
#include "pictures/ImageEncode.h"
#include "pictures/Sprites.h"

namespace tarn {

namespace {

std::uint64_t Area(std::uint64_t w, std::uint64_t h) { return w * h; }

// A mip texture at `at` within [base, base + length) of the file: its header and four levels,
// each checked to lie inside. False, with the reason, when it does not.
bool MipSpot(std::span<const std::uint8_t> bytes, std::size_t base, std::size_t length, std::size_t at,
             PictureSpot& spot, std::string& why) {
  if (at > length || length - at < miptex::kHeaderSize) {
    why = "its header lies outside";
    return false;
  }
  ByteReader r(bytes.subspan(base + at, miptex::kHeaderSize));
  bool terminated = true;
  spot.name = r.FixedString(miptex::kNameSize, &terminated);
  const std::uint32_t w = r.U32(), h = r.U32();
  std::uint32_t offsets[4];
  for (auto& o : offsets) o = r.U32();
  if (!terminated) {
    why = "its name has no terminating NUL";
    return false;
  }
  if (offsets[0] == 0) {
    why = "it holds no pixels (kept in an external WAD)";
    return false;
  }
  if (w == 0 || h == 0 || w > 65536 || h > 65536) {
    why = "impossible size " + std::to_string(w) + "x" + std::to_string(h);
    return false;
  }
  for (int k = 0; k < 4; ++k) {
    const std::uint64_t end = static_cast<std::uint64_t>(at) + offsets[k] + Area(w >> k, h >> k);
    if (offsets[k] < miptex::kHeaderSize || end > length) {
      why = "its pixels run past the data that holds it";
      return false;
    }
  }
  spot.width = static_cast<int>(w);
  spot.height = static_cast<int>(h);
  spot.offset = base + at + offsets[0];
  for (int k = 1; k < 4; ++k) spot.mips[static_cast<std::size_t>(k - 1)] = base + at + offsets[k];
  return true;
}

void MapSpots(std::span<const std::uint8_t> bytes, PictureSpots& out) {
  if (bytes.size() < 8) return out.problems.push_back("too short for a map");
  if (std::memcmp(bytes.data(), "IBSP", 4) == 0) return;  // Quake II: the textures are .wal files
  ByteReader r(bytes);
  const bool extended = std::memcmp(bytes.data(), "BSP2", 4) == 0 || std::memcmp(bytes.data(), "2PSB", 4) == 0;
  const std::int32_t version = r.I32();
  if (!extended && version != bsp::kVersion29) {
    if (version == 30) out.problems.push_back("a Half-Life map: its textures carry palettes of their own");
    return;
  }
  if (bytes.size() < bsp::kHeaderSize) return out.problems.push_back("the map's header is cut short");
  r.Seek(4 + bsp::kTextureLump * 8);
  const std::int64_t lumpAt = r.I32(), lumpLength = r.I32();
  if (lumpLength == 0) return;
  if (lumpAt < 0 || lumpLength < 4 || static_cast<std::uint64_t>(lumpAt + lumpLength) > bytes.size())
    return out.problems.push_back("the texture lump lies outside the map");
  ByteReader lump = r.Sub(static_cast<std::size_t>(lumpAt), static_cast<std::size_t>(lumpLength));
  std::int64_t count = lump.I32();
  if (count < 0 || 4 + 4 * count > lumpLength) {
    out.problems.push_back("the texture count " + std::to_string(count) + " does not fit the texture lump");
    count = std::clamp<std::int64_t>(count, 0, (lumpLength - 4) / 4);
  }
  for (std::int64_t i = 0; i < count; ++i) {
    lump.Seek(static_cast<std::size_t>(4 + 4 * i));
    const std::int32_t at = lump.I32();
    if (at < 0) continue;  // a missing texture
    PictureSpot spot;
    spot.kind = SpotKind::MapTexture;
    spot.number = static_cast<int>(i);
    std::string why;
    if (MipSpot(bytes, static_cast<std::size_t>(lumpAt), static_cast<std::size_t>(lumpLength),
                static_cast<std::size_t>(at), spot, why)) {
      out.spots.push_back(std::move(spot));
    } else if (why.find("external") == std::string::npos) {
      out.problems.push_back("texture " + std::to_string(i) + (spot.name.empty() ? "" : " " + Quoted(spot.name)) +
                             ": " + why);
    }
  }
}

void WadSpots(std::span<const std::uint8_t> bytes, PictureSpots& out) {
  if (bytes.size() < 12) return out.problems.push_back("too short for a WAD");
  if (std::memcmp(bytes.data(), "WAD3", 4) == 0)
    return out.problems.push_back("a Half-Life WAD: its textures carry palettes of their own");
  if (std::memcmp(bytes.data(), "WAD2", 4) != 0) return out.problems.push_back("not a WAD2 file");
  ByteReader r(bytes);
  r.Seek(4);
  const std::int64_t count = r.I32(), directory = r.I32();
  if (count < 0 || directory < 0 || static_cast<std::uint64_t>(directory) > bytes.size())
    return out.problems.push_back("the WAD's directory lies outside it");
  const std::uint64_t fits = (bytes.size() - static_cast<std::uint64_t>(directory)) / 32;
  if (static_cast<std::uint64_t>(count) > fits) out.problems.push_back("the WAD's directory is cut short");
  const std::uint64_t records = std::min<std::uint64_t>(static_cast<std::uint64_t>(count), fits);
  for (std::uint64_t i = 0; i < records; ++i) {
    ByteReader rec = r.Sub(static_cast<std::size_t>(directory + static_cast<std::int64_t>(i * 32)), 32);
    const std::int64_t at = rec.I32(), diskSize = rec.I32();
    rec.I32();  // the size once decompressed
    const std::uint8_t type = rec.U8(), compression = rec.U8();
    rec.Skip(2);
    std::string name = rec.FixedString(16);
    const std::string label = "lump " + Quoted(name);
    if (at < 0 || diskSize < 0 ||
        static_cast<std::uint64_t>(at) + static_cast<std::uint64_t>(diskSize) > bytes.size()) {
      out.problems.push_back(label + ": its data lie outside the WAD");
      continue;
    }
    if (compression != 0 && (type == 'B' || type == 'D')) {
      out.problems.push_back(label + ": compressed, which no engine reads");
      continue;
    }
    const auto start = static_cast<std::size_t>(at), length = static_cast<std::size_t>(diskSize);
    PictureSpot spot;
    spot.name = name;
    if (ToLower(name) == "conchars" && length >= static_cast<std::size_t>(conchars::kSide * conchars::kSide)) {
      // Known by its name whatever its type, as Draw_Init takes it (W_GetLumpName ("conchars")).
      spot.kind = SpotKind::Conchars;
      spot.width = spot.height = conchars::kSide;
      spot.offset = start;
      out.spots.push_back(std::move(spot));
    } else if (type == 'D') {
      spot.kind = SpotKind::WadTexture;
      std::string why;
      if (!MipSpot(bytes, start, length, 0, spot, why)) {
        out.problems.push_back(label + ": " + why);
        continue;
      }
      // The WAD's directory names the texture for every tool that looks it up.
      spot.name = name;
      out.spots.push_back(std::move(spot));
    } else if (type == 'B') {
      if (length < 8) {
        out.problems.push_back(label + ": too short for a picture");
        continue;
      }
      ByteReader p(bytes.subspan(start, length));
      const std::int32_t w = p.I32(), h = p.I32();
      if (w <= 0 || h <= 0 || Area(static_cast<std::uint64_t>(w), static_cast<std::uint64_t>(h)) > length - 8) {
        out.problems.push_back(label + ": its size does not fit its data");
        continue;
      }
      spot.kind = SpotKind::WadPicture;
      spot.width = w;
      spot.height = h;
      spot.offset = start + 8;
      out.spots.push_back(std::move(spot));
    }
  }
}

void ModelSpots(std::span<const std::uint8_t> bytes, PictureSpots& out) {
  if (bytes.size() < mdlskin::kHeaderSize || std::memcmp(bytes.data(), "IDPO", 4) != 0) return;
  ByteReader r(bytes);
  r.Seek(mdlskin::kSkinCount);
  const std::int32_t count = r.I32(), width = r.I32(), height = r.I32();
  if (width <= 0 || height <= 0) return out.problems.push_back("the model's skins have no size");
  const std::uint64_t size = Area(static_cast<std::uint64_t>(width), static_cast<std::uint64_t>(height));
  r.Seek(mdlskin::kHeaderSize);
  try {
    auto take = [&](int number, int member, int group) {
      if (size > r.Remaining()) throw ParseError("skin " + std::to_string(number) + " lies outside the model");
      PictureSpot spot;
      spot.kind = SpotKind::ModelSkin;
      spot.number = number;
      spot.member = member;
      spot.groupSize = group;
      spot.width = width;
      spot.height = height;
      spot.offset = r.Position();
      r.Skip(static_cast<std::size_t>(size));
      out.spots.push_back(std::move(spot));
    };
    for (std::int32_t i = 0; i < count; ++i) {
      if (r.I32() == 0) {
        take(i, -1, 1);
        continue;
      }
      const std::int32_t n = r.I32();
      if (n <= 0) throw ParseError("skin group " + std::to_string(i) + " has no skins");
      r.Skip(static_cast<std::size_t>(n) * 4);  // the intervals
      for (std::int32_t k = 0; k < n; ++k) take(i, k, n);
    }
  } catch (const ParseError& e) {
    out.problems.push_back(e.what());
  }
}

void SpriteSpots(std::span<const std::uint8_t> bytes, PictureSpots& out) {
  if (bytes.size() < spr::kHeaderSize || std::memcmp(bytes.data(), "IDSP", 4) != 0) return;
  ByteReader r(bytes);
  r.Seek(4);
  if (const std::int32_t version = r.I32(); version != 1)
    return out.problems.push_back("a sprite of version " + std::to_string(version) +
                                  ", not Quake's 8-bit frames in its palette");
  r.Seek(spr::kFrameCount);
  const std::int32_t frames = r.I32();
  r.Seek(spr::kHeaderSize);
  try {
    auto take = [&](int number, int member, int group) {
      r.Skip(8);  // origin
      const std::int32_t w = r.I32(), h = r.I32();
      if (w < 0 || h < 0) throw ParseError("frame " + std::to_string(number) + " has a negative size");
      const std::uint64_t n = Area(static_cast<std::uint64_t>(w), static_cast<std::uint64_t>(h));
      if (n > r.Remaining()) throw ParseError("frame " + std::to_string(number) + " runs past the end");
      PictureSpot spot;
      spot.kind = SpotKind::SpriteFrame;
      spot.number = number;
      spot.member = member;
      spot.groupSize = group;
      spot.width = w;
      spot.height = h;
      spot.offset = r.Position();
      r.Skip(static_cast<std::size_t>(n));
      // Nehahra's null.spr holds a frame of no pixels, which no engine draws.
      if (n) out.spots.push_back(std::move(spot));
    };
    for (std::int32_t f = 0; f < frames; ++f) {
      const std::int32_t type = r.I32();
      if (type == 0) {
        take(f, -1, 1);
      } else if (type == 1) {
        const std::int32_t n = r.I32();
        if (n <= 0) throw ParseError("frame group " + std::to_string(f) + " has no frames");
        r.Skip(static_cast<std::size_t>(n) * 4);  // intervals
        for (std::int32_t k = 0; k < n; ++k) take(f, k, n);
      } else {
        throw ParseError("frame " + std::to_string(f) + " is of an unknown type");
      }
    }
  } catch (const ParseError& e) {
    out.problems.push_back(e.what());
  }
}

void WalSpot(std::span<const std::uint8_t> bytes, PictureSpots& out) {
  if (bytes.size() < wal::kHeaderSize) return out.problems.push_back("too short for a Quake II texture");
  ByteReader r(bytes);
  PictureSpot spot;
  spot.kind = SpotKind::Wal;
  spot.name = r.FixedString(32);
  const std::uint32_t w = r.U32(), h = r.U32();
  std::uint32_t offsets[4];
  for (auto& o : offsets) o = r.U32();
  spot.next = r.FixedString(wal::kNextNameSize);
  if (w == 0 || h == 0 || w > 65536 || h > 65536) return out.problems.push_back("the texture has no usable size");
  for (int k = 0; k < 4; ++k)
    if (offsets[k] < wal::kHeaderSize || static_cast<std::uint64_t>(offsets[k]) + Area(w >> k, h >> k) > bytes.size())
      return out.problems.push_back("the texture's pixels lie outside it");
  spot.width = static_cast<int>(w);
  spot.height = static_cast<int>(h);
  spot.offset = offsets[0];
  for (int k = 1; k < 4; ++k) spot.mips[static_cast<std::size_t>(k - 1)] = offsets[k];
  out.spots.push_back(std::move(spot));
}

}  // namespace

PictureSpots FindPictureSpots(std::string_view fileName, std::span<const std::uint8_t> bytes) {
  PictureSpots out;
  const std::string name = ToLower(fileName);
  try {
    if (EndsWith(name, ".bsp")) {
      MapSpots(bytes, out);
    } else if (EndsWith(name, ".wad")) {
      WadSpots(bytes, out);
    } else if (EndsWith(name, ".mdl")) {
      ModelSpots(bytes, out);
    } else if (EndsWith(name, ".spr")) {
      SpriteSpots(bytes, out);
    } else if (EndsWith(name, ".wal")) {
      WalSpot(bytes, out);
    } else if (EndsWith(name, ".lmp")) {
      Picture p;
      // Palettes and colour maps share the extension and read as sizes that do not fit.
      if (DecodeLmp(bytes, p)) {
        PictureSpot spot;
        spot.kind = SpotKind::LmpPicture;
        spot.width = p.width;
        spot.height = p.height;
        spot.offset = 8;
        out.spots.push_back(std::move(spot));
      }
    } else if (EndsWith(name, ".pcx")) {
      Picture p;
      Palette pal;
      std::string why;
      if (!DecodePcx(bytes, p, pal, &why)) {
        out.problems.push_back(why);
      } else if (p.IsTrueColor()) {
        out.problems.push_back("a 24-bit PCX picture, already in true colour");
      } else {
        PictureSpot spot;
        spot.kind = SpotKind::Pcx;
        spot.width = p.width;
        spot.height = p.height;
        out.spots.push_back(std::move(spot));
      }
    }
  } catch (const ParseError& e) {
    out.problems.push_back(e.what());
  }
  return out;
}

bool ReadSpot(std::span<const std::uint8_t> bytes, const PictureSpot& spot, Picture& out, std::string* error,
              Palette* palette) {
  auto fail = [&](const char* why) {
    if (error) *error = why;
    return false;
  };
  if (spot.kind == SpotKind::Pcx) {
    Palette own;
    if (!DecodePcx(bytes, out, own, error)) return false;
    if (out.IsTrueColor()) return fail("a 24-bit PCX picture");
    if (palette) *palette = own;
    return true;
  }
  const std::uint64_t n =
      Area(static_cast<std::uint64_t>(std::max(spot.width, 0)), static_cast<std::uint64_t>(std::max(spot.height, 0)));
  if (n == 0 || spot.offset > bytes.size() || n > bytes.size() - spot.offset)
    return fail("the picture's pixels lie outside its file");
  if (!BuildPicture(spot.width, spot.height, bytes.subspan(spot.offset, static_cast<std::size_t>(n)), out))
    return fail("the picture's pixels lie outside its file");
  return true;
}

bool WriteSpot(std::vector<std::uint8_t>& bytes, const PictureSpot& spot, const Picture& full,
               const std::array<Picture, 3>* levels, const Palette& palette, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  if (full.width != spot.width || full.height != spot.height || full.IsTrueColor())
    return fail("the picture is " + std::to_string(full.width) + "x" + std::to_string(full.height) + ", its place " +
                std::to_string(spot.width) + "x" + std::to_string(spot.height));
  if (spot.kind == SpotKind::Pcx) {
    bytes = BuildPcx(full, palette);
    return true;
  }
  auto put = [&](const Picture& p, std::size_t at) {
    const std::uint64_t n = Area(static_cast<std::uint64_t>(p.width), static_cast<std::uint64_t>(p.height));
    if (at > bytes.size() || n > bytes.size() - at) return false;
    for (int y = 0; y < p.height; ++y)
      std::memcpy(bytes.data() + at + static_cast<std::size_t>(y) * static_cast<std::size_t>(p.width), p.Row(y),
                  static_cast<std::size_t>(p.width));
    return true;
  };
  if (!put(full, spot.offset)) return fail("the picture's place lies outside its file");
  if (levels && spot.mips[0]) {
    for (std::size_t k = 0; k < 3; ++k) {
      const Picture& m = (*levels)[k];
      const int w = spot.width >> (k + 1), h = spot.height >> (k + 1);
      if (w == 0 || h == 0) continue;  // a level of no pixels: the file holds none
      if (m.width != w || m.height != h) return fail("a mip level is not half the size of the one above");
      if (!put(m, spot.mips[k])) return fail("a mip level's place lies outside its file");
    }
  }
  return true;
}

}  // namespace tarn
