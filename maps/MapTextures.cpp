#include "maps/MapTextures.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <unordered_map>
#include <unordered_set>

#include "fileio/ByteIO.h"
#include "fileio/ReadSource.h"
#include "fileio/SafeSave.h"
#include "fileio/Strings.h"
#include "maps/Bsp.h"
#include "pictures/ImageDecode.h"
#include "pictures/ImageEncode.h"

namespace tarn {

namespace {

// The bytes of a Half-Life palette after a texture's levels that end at levels (a count of
// colours, 256 as its compilers write, and three bytes each; mip::kHalfLifePalette); 0 when they
// do not fit in room.
std::uint64_t PaletteBytes(std::span<const std::uint8_t> texture, std::size_t room, std::uint64_t levels) {
  if (levels + 2 > room || levels + 2 > texture.size()) return 0;
  const std::uint64_t colours = texture[levels] | (texture[levels + 1] << 8);
  if (colours == 0 || colours > 256 || levels + 2 + 3 * colours > room) return 0;
  return 2 + 3 * colours;
}

}  // namespace

MapTextures ReadMapTextures(std::span<const std::uint8_t> map) {
  MapTextures out;
  if (map.size() < 8) {
    out.problems.push_back("too short for a map");
    return out;
  }
  if (std::memcmp(map.data(), "IBSP", 4) == 0 || std::memcmp(map.data(), "QBSP", 4) == 0) {
    out.kind = MapTextures::Kind::Quake2;
    out.problems.push_back("a Quake II map: its textures are .wal files, not stored in the map");
    return out;
  }
  ByteReader r(map);
  const bool extended = std::memcmp(map.data(), "BSP2", 4) == 0 || std::memcmp(map.data(), "2PSB", 4) == 0;
  const std::int32_t version = r.I32();
  const bool halfLife = !extended && version == bsp::kVersion30;
  if (!extended && version != bsp::kVersion29 && !halfLife) {
    out.problems.push_back("not a Quake or Half-Life map (version " + std::to_string(version) + ")");
    return out;
  }
  out.kind = halfLife ? MapTextures::Kind::HalfLife : MapTextures::Kind::Quake;
  if (map.size() < bsp::kHeaderSize) {
    out.problems.push_back("the map's header is cut short");
    return out;
  }
  r.Seek(4 + bsp::kTextureLump * 8);
  const std::int64_t lumpAt = r.I32(), lumpLength = r.I32();
  if (lumpLength == 0) return out;  // a map without textures
  if (lumpAt < 0 || lumpLength < 4 || static_cast<std::uint64_t>(lumpAt + lumpLength) > map.size()) {
    out.problems.push_back("the texture lump lies outside the map");
    return out;
  }
  ByteReader lump = r.Sub(static_cast<std::size_t>(lumpAt), static_cast<std::size_t>(lumpLength));
  std::int64_t count = lump.I32();
  if (count < 0 || 4 + 4 * count > lumpLength) {
    out.problems.push_back("the texture count " + std::to_string(count) + " does not fit the texture lump");
    count = std::clamp<std::int64_t>(count, 0, (lumpLength - 4) / 4);
  }
  // Sound textures lie side by side in the lump, so together they never exceed it; entries that
  // would (many pointing at the same bytes) are reported, which keeps a hostile map from
  // multiplying its size in memory.
  std::uint64_t extracted = 0;
  for (std::int64_t i = 0; i < count; ++i) {
    lump.Seek(static_cast<std::size_t>(4 + 4 * i));
    const std::int64_t at = lump.I32();
    if (at < 0) {
      ++out.skipped;  // a missing texture
      continue;
    }
    const std::string label = "texture " + std::to_string(i);
    if (at + static_cast<std::int64_t>(bsp::kMiptexHeader) > lumpLength) {
      out.problems.push_back(label + " lies outside the texture lump");
      continue;
    }
    lump.Seek(static_cast<std::size_t>(at));
    bool terminated = true;
    std::string name = lump.FixedString(bsp::kNameSize, &terminated);
    const std::uint64_t w = lump.U32(), h = lump.U32();
    std::uint64_t offsets[4];
    for (auto& o : offsets) o = lump.U32();
    const std::string quoted = terminated ? Quoted(name) : label;
    if (!terminated) {
      out.problems.push_back(label + ": its name has no terminating NUL");
      continue;
    }
    if (std::all_of(std::begin(offsets), std::end(offsets), [](std::uint64_t o) { return o == 0; })) {
      ++out.skipped;  // header only: the pixels live in an external WAD
      continue;
    }
    if (w == 0 || h == 0 || w > 65536 || h > 65536) {
      out.problems.push_back(quoted + ": impossible size " + std::to_string(w) + "x" + std::to_string(h));
      continue;
    }
    if (std::any_of(std::begin(offsets), std::end(offsets), [](std::uint64_t o) { return o < bsp::kMiptexHeader; })) {
      out.problems.push_back(quoted + ": its mip levels overlap its header");
      continue;
    }
    std::uint64_t size = 0;
    for (int k = 0; k < 4; ++k) size = std::max(size, offsets[k] + (w >> k) * (h >> k));
    if (static_cast<std::uint64_t>(at) + size > static_cast<std::uint64_t>(lumpLength)) {
      out.problems.push_back(quoted + ": its pixels run past the texture lump");
      continue;
    }
    if (halfLife) {
      const std::uint64_t palette = PaletteBytes(map.subspan(static_cast<std::size_t>(lumpAt + at)),
                                                 static_cast<std::size_t>(lumpLength - at), size);
      if (!palette) {
        out.problems.push_back(quoted + ": its palette runs past the texture lump");
        continue;
      }
      size += palette;
    }
    if (extracted + size > static_cast<std::uint64_t>(lumpLength)) {
      out.problems.push_back(quoted + ": it overlaps other textures");
      continue;
    }
    extracted += size;
    auto bytes = map.subspan(static_cast<std::size_t>(lumpAt + at), static_cast<std::size_t>(size));
    out.textures.push_back({std::move(name), std::vector<std::uint8_t>(bytes.begin(), bytes.end())});
  }
  return out;
}

int AddMapTextures(const MapTextures& map, std::vector<WadLump>& lumps) {
  std::unordered_set<std::string> taken;
  for (const WadLump& l : lumps) taken.insert(ToLower(l.name));
  int added = 0;
  for (const MapTexture& t : map.textures) {
    if (!taken.insert(ToLower(t.name)).second) continue;
    lumps.push_back(
        {t.name, t.bytes, map.kind == MapTextures::Kind::HalfLife ? wad::kHalfLifeMiptex : wad::kQuakeMiptex});
    ++added;
  }
  return added;
}

std::vector<std::uint8_t> BuildWad2(const std::vector<WadLump>& lumps) {
  return BuildWad(ContainerFormat::Wad2, lumps);
}

bool WriteWad2File(const std::filesystem::path& path, const std::vector<WadLump>& lumps, std::string* error,
                   const SaveConsent& consent) {
  const std::vector<std::uint8_t> bytes = BuildWad2(lumps);
  CSafeSave out;
  CSafeSave::Options options;
  options.consent = consent;
  if (out.Begin(path, options) && out.Write(bytes.data(), bytes.size()) && out.Commit()) return true;
  const SaveFailure& f = out.Failure();
  if (error) {
    if (f.stage == SaveStage::Refused) *error = f.reason;
    else
      *error = (f.stage == SaveStage::Create ? "Unable to open file " + path.string() + " for output"
                                             : "Unable to write " + path.string()) +
               ": " + f.reason;
  }
  return false;
}

bool WriteWadFile(const std::filesystem::path& path, ContainerFormat version, const std::vector<WadLump>& lumps,
                  std::string* error, const SaveConsent& consent) {
  if (version == ContainerFormat::Wad2) return WriteWad2File(path, lumps, error, consent);
  const std::vector<std::uint8_t> bytes = BuildWad(version, lumps);
  CSafeSave out;
  CSafeSave::Options options;
  options.consent = consent;
  if (out.Begin(path, options) && out.Write(bytes.data(), bytes.size()) && out.Commit()) return true;
  const SaveFailure& f = out.Failure();
  if (error) *error = f.stage == SaveStage::Refused ? f.reason : "Unable to write " + path.string() + ": " + f.reason;
  return false;
}

namespace {

// A mip texture's size as far as it goes: its header, its levels and, for Half-Life, the
// palette after them. 0, with why, when it is no mip texture of the kind (or its sides are not
// the multiples of 16 the engines require: Quake's Mod_LoadTextures stops with "Texture %s is not
// 16 aligned").
std::uint64_t MiptexExtent(std::span<const std::uint8_t> t, bool halfLife, bool requireAligned, std::string* why) {
  if (t.size() < bsp::kMiptexHeader) return Fail(why, "too short for a mip texture"), 0;
  ByteReader r(t);
  r.Skip(bsp::kNameSize);
  const std::uint64_t w = r.U32(), h = r.U32();
  std::uint64_t offsets[4];
  for (auto& o : offsets) o = r.U32();
  if (std::all_of(std::begin(offsets), std::end(offsets), [](std::uint64_t o) { return o == 0; }))
    return Fail(why, "it holds no pixels"), 0;
  if (w == 0 || h == 0 || w > 4096 || h > 4096) return Fail(why, "it has an impossible size"), 0;
  if (requireAligned && (w % 16 || h % 16))
    return Fail(why,
                "it is " + std::to_string(w) + "x" + std::to_string(h) +
                    ", and its sides must be multiples of 16 (Quake stops on one that is not: \"not 16 aligned\")"),
           0;
  std::uint64_t end = 0;
  for (int k = 0; k < 4; ++k) {
    if (offsets[k] < bsp::kMiptexHeader) return Fail(why, "its levels overlap its header"), 0;
    end = std::max(end, offsets[k] + (w >> k) * (h >> k));
  }
  if (end > t.size()) return Fail(why, "its pixels run past its end"), 0;
  if (!halfLife) return end;
  const std::uint64_t palette = PaletteBytes(t, t.size(), end);
  if (!palette) return Fail(why, "it has no palette after its pixels, as a Half-Life texture has"), 0;
  return end + palette;
}

// One entry of the texture lump: where its bytes are in the lump and how many.
struct LumpTexture {
  std::int64_t at = -1;  // -1: no texture
  std::uint64_t size = 0;
  // Its bytes and the padding after them to the next 4-byte step, as far as nothing else
  // stands there: what a replacement takes the place of.
  std::uint64_t room = 0;
  std::string name;
  int width = 0, height = 0;
  bool pixels = false;  // embedded, not only named
};

struct TextureLump {
  bool halfLife = false;
  std::size_t lumpIndex = bsp::kTextureLump;
  std::span<const std::uint8_t> bytes;
  std::vector<LumpTexture> textures;
};

bool ReadTextureLump(std::span<const std::uint8_t> map, TextureLump& out, std::string* error) {
  BspHeader header;
  if (!ReadBspHeader(map, header, error)) return false;
  if (header.format == BspFormat::Quake2 || header.format == BspFormat::Quake2Qbism)
    return Fail(error, "a Quake II map: its textures are .wal files, not stored in the map");
  out.halfLife = header.format == BspFormat::HalfLife;
  const BspLump& l = header.lumps[bsp::kTextureLump];
  out.bytes = map.subspan(static_cast<std::size_t>(l.offset), static_cast<std::size_t>(l.length));
  if (out.bytes.empty()) return true;
  ByteReader r(out.bytes);
  if (out.bytes.size() < 4) return Fail(error, "the texture lump is too short to hold its count");
  const std::int64_t count = r.I32();
  if (count < 0 || 4 + 4 * count > static_cast<std::int64_t>(out.bytes.size()))
    return Fail(error, "the texture count " + std::to_string(count) + " does not fit the texture lump");
  out.textures.resize(static_cast<std::size_t>(count));
  for (LumpTexture& t : out.textures) {
    const std::int64_t at = r.I32();
    if (at == -1) continue;
    if (at < 4 + 4 * count || at > static_cast<std::int64_t>(out.bytes.size()) ||
        out.bytes.size() - static_cast<std::size_t>(at) < bsp::kMiptexHeader)
      return Fail(error, "a texture lies outside the texture lump");
    t.at = at;
    const auto blob = out.bytes.subspan(static_cast<std::size_t>(at));
    ByteReader m(blob);
    t.name = m.FixedString(bsp::kNameSize);
    t.width = static_cast<int>(std::min<std::uint32_t>(m.U32(), 65536));
    t.height = static_cast<int>(std::min<std::uint32_t>(m.U32(), 65536));
    std::string why;
    t.size = MiptexExtent(blob, out.halfLife, false, &why);
    t.pixels = t.size > 0;
    if (!t.pixels) {
      bool none = true;
      for (int k = 0; k < 4; ++k) none = none && m.U32() == 0;
      if (!none) return Fail(error, Quoted(t.name) + " cannot be read: " + why);
      t.size = bsp::kMiptexHeader;
    }
  }
  // Each texture's bytes are its own: shared or overlapping ones cannot be replaced one by one.
  std::vector<LumpTexture*> order;
  for (LumpTexture& t : out.textures)
    if (t.at >= 0) order.push_back(&t);
  std::sort(order.begin(), order.end(), [](const LumpTexture* a, const LumpTexture* b) { return a->at < b->at; });
  for (std::size_t i = 1; i < order.size(); ++i)
    if (static_cast<std::uint64_t>(order[i - 1]->at) + order[i - 1]->size > static_cast<std::uint64_t>(order[i]->at))
      return Fail(error, "the textures " + Quoted(order[i - 1]->name) + " and " + Quoted(order[i]->name) +
                             " share bytes in the texture lump");
  for (std::size_t i = 0; i < order.size(); ++i) {
    LumpTexture& t = *order[i];
    const std::uint64_t next = i + 1 < order.size() ? static_cast<std::uint64_t>(order[i + 1]->at) : out.bytes.size();
    t.room = std::min((t.size + 3) & ~std::uint64_t{3}, next - static_cast<std::uint64_t>(t.at));
  }
  return true;
}

// The texture lump again with each texture's bytes from blobs (the old ones where a blob is
// empty), every byte between them kept; a texture that changes size keeps the ones after it on
// the 4-byte steps they were on.
std::vector<std::uint8_t> RebuildTextureLump(const TextureLump& lump,
                                             const std::vector<std::vector<std::uint8_t>>& blobs) {
  std::vector<std::size_t> order;
  for (std::size_t i = 0; i < lump.textures.size(); ++i)
    if (lump.textures[i].at >= 0) order.push_back(i);
  std::sort(order.begin(), order.end(),
            [&](std::size_t a, std::size_t b) { return lump.textures[a].at < lump.textures[b].at; });
  const std::size_t table = 4 + 4 * lump.textures.size();
  std::vector<std::uint8_t> out(lump.bytes.begin(), lump.bytes.begin() + static_cast<std::ptrdiff_t>(table));
  std::vector<std::int64_t> offsets(lump.textures.size(), -1);
  std::size_t pos = table;
  for (std::size_t i : order) {
    const LumpTexture& t = lump.textures[i];
    const auto at = static_cast<std::size_t>(t.at);
    out.insert(out.end(), lump.bytes.begin() + static_cast<std::ptrdiff_t>(pos),
               lump.bytes.begin() + static_cast<std::ptrdiff_t>(at));
    offsets[i] = static_cast<std::int64_t>(out.size());
    if (blobs[i].empty()) {
      out.insert(out.end(), lump.bytes.begin() + static_cast<std::ptrdiff_t>(at),
                 lump.bytes.begin() + static_cast<std::ptrdiff_t>(at + t.room));
    } else {
      // Padded to 4 bytes, as compilers and WADs lay textures out.
      out.insert(out.end(), blobs[i].begin(), blobs[i].end());
      const auto start = static_cast<std::size_t>(offsets[i]);
      out.resize(start + ((out.size() - start + 3) & ~std::size_t{3}), 0);
    }
    pos = at + t.room;
  }
  out.insert(out.end(), lump.bytes.begin() + static_cast<std::ptrdiff_t>(pos), lump.bytes.end());
  for (std::size_t i = 0; i < offsets.size(); ++i)
    if (offsets[i] >= 0) StoreU32(out.data() + 4 + 4 * i, static_cast<std::uint32_t>(offsets[i]));
  return out;
}

bool PutTextureLump(std::span<const std::uint8_t> map, const TextureLump& lump,
                    const std::vector<std::vector<std::uint8_t>>& blobs, std::vector<std::uint8_t>& out,
                    std::string* error) {
  if (std::all_of(blobs.begin(), blobs.end(), [](const auto& b) { return b.empty(); })) {
    out.assign(map.begin(), map.end());
    return true;
  }
  const std::vector<std::uint8_t> data = RebuildTextureLump(lump, blobs);
  if (!ReplaceBspLump(map, lump.lumpIndex, data, out, error)) {
    out.clear();
    return false;
  }
  return true;
}

std::string SizeText(std::uint64_t w, std::uint64_t h) { return std::to_string(w) + "x" + std::to_string(h); }

// A picture file of a folder; one past kMostPictureBytes is no texture anyone means.
constexpr std::uintmax_t kMostPictureBytes = 64u << 20;
bool ReadSmallFile(const std::filesystem::path& file, std::vector<std::uint8_t>& out, std::string* why) {
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(file, ec);
  if (ec) return Fail(why, ec.message());
  if (size > kMostPictureBytes) return Fail(why, "larger than any texture");
  std::ifstream in(file, std::ios::binary);
  out.resize(static_cast<std::size_t>(size));
  if (!in || !in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(out.size())))
    return Fail(why, "cannot be read");
  return true;
}

}  // namespace

bool ReplaceMapTextures(std::span<const std::uint8_t> map, const MapTextureFinder& finder,
                        std::vector<std::uint8_t>& out, MapTextureReport& report, std::string* error) {
  out.clear();
  TextureLump lump;
  if (!ReadTextureLump(map, lump, error)) return false;
  std::vector<std::vector<std::uint8_t>> blobs(lump.textures.size());
  std::unordered_set<std::string> seen;
  for (std::size_t i = 0; i < lump.textures.size(); ++i) {
    const LumpTexture& t = lump.textures[i];
    if (t.at < 0 || !t.pixels) continue;
    const bool first = seen.insert(ToLower(t.name)).second;
    std::vector<std::uint8_t> given;
    if (!finder || !finder(t.name, given)) {
      if (first) report.notFound.push_back(t.name);
      continue;
    }
    std::string why;
    const std::uint64_t extent = MiptexExtent(given, lump.halfLife, false, &why);
    if (!extent) {
      if (first) report.refused.push_back(t.name + ": " + why);
      continue;
    }
    given.resize(static_cast<std::size_t>(extent));
    // The map's own name field, so that the engine finds the texture by the name its faces use.
    std::copy_n(lump.bytes.begin() + t.at, bsp::kNameSize, given.begin());
    const auto old = lump.bytes.subspan(static_cast<std::size_t>(t.at), static_cast<std::size_t>(t.size));
    if (std::equal(given.begin(), given.end(), old.begin(), old.end())) {
      if (first) report.same.push_back(t.name);
      continue;
    }
    ByteReader r(given);
    r.Skip(bsp::kNameSize);
    const std::uint32_t w = r.U32(), h = r.U32();
    // A size the map had already loads where the map does; a new one must suit every engine.
    const bool sameSize = static_cast<int>(w) == t.width && static_cast<int>(h) == t.height;
    if (!sameSize && !MiptexExtent(given, lump.halfLife, true, &why)) {
      if (first) report.refused.push_back(t.name + ": " + why);
      continue;
    }
    if (first && (static_cast<int>(w) != t.width || static_cast<int>(h) != t.height))
      report.notes.push_back(t.name + ": now " + SizeText(w, h) + ", was " + SizeText(t.width, t.height) +
                             "; its faces show it at that scale");
    if (first) report.replaced.push_back(t.name);
    blobs[i] = std::move(given);
  }
  return PutTextureLump(map, lump, blobs, out, error);
}

bool EmbedMapTextures(std::span<const std::uint8_t> map, bool embed, const MapTextureFinder& finder,
                      std::vector<std::uint8_t>& out, MapTextureReport& report, std::string* error) {
  out.clear();
  TextureLump lump;
  if (!ReadTextureLump(map, lump, error)) return false;
  if (!lump.halfLife) return Fail(error, "not a Half-Life map: Quake's engines read textures only from the map itself");
  std::vector<std::vector<std::uint8_t>> blobs(lump.textures.size());
  for (std::size_t i = 0; i < lump.textures.size(); ++i) {
    const LumpTexture& t = lump.textures[i];
    if (t.at < 0 || t.pixels != !embed) continue;
    std::vector<std::uint8_t> given;
    if (!finder || !finder(t.name, given)) {
      report.notFound.push_back(t.name);
      continue;
    }
    std::string why;
    const std::uint64_t extent = MiptexExtent(given, true, true, &why);
    if (!extent) {
      report.refused.push_back(t.name + ": " + why);
      continue;
    }
    if (embed) {
      given.resize(static_cast<std::size_t>(extent));
      std::copy_n(lump.bytes.begin() + t.at, bsp::kNameSize, given.begin());
      blobs[i] = std::move(given);
    } else {
      // The header alone, the sides the WAD's, as compilers write a texture they leave outside.
      std::vector<std::uint8_t> header(lump.bytes.begin() + t.at, lump.bytes.begin() + t.at + bsp::kMiptexHeader);
      std::copy_n(given.begin() + bsp::kNameSize, 8, header.begin() + bsp::kNameSize);
      std::fill(header.begin() + bsp::kNameSize + 8, header.end(), 0);
      blobs[i] = std::move(header);
    }
    report.replaced.push_back(t.name);
  }
  return PutTextureLump(map, lump, blobs, out, error);
}

bool WadTextureFinder(std::vector<std::uint8_t> wad, MapTextureFinder& finder, std::string* error) {
  auto bytes = std::make_shared<std::vector<std::uint8_t>>(std::move(wad));
  CMemorySource source(bytes->data(), bytes->size());
  WadIndex index;
  if (!ReadWadIndex(source, index)) return Fail(error, "not a WAD2 or WAD3 file");
  auto byName = std::make_shared<std::unordered_map<std::string, std::pair<std::size_t, std::size_t>>>();
  for (const WadRecord& r : index.records) {
    const bool texture = r.type == wad::kQuakeMiptex || r.type == wad::kHalfLifeMiptex;
    if (!texture || r.compression != 0 || !r.dataInside || r.diskSize <= 0) continue;
    byName->try_emplace(ToLower(std::string(r.name)), static_cast<std::size_t>(r.offset),
                        static_cast<std::size_t>(r.diskSize));
  }
  finder = [bytes, byName](const std::string& name, std::vector<std::uint8_t>& out) {
    const auto it = byName->find(ToLower(name));
    if (it == byName->end()) return false;
    out.assign(bytes->begin() + static_cast<std::ptrdiff_t>(it->second.first),
               bytes->begin() + static_cast<std::ptrdiff_t>(it->second.first + it->second.second));
    return true;
  };
  return true;
}

MapTextureFinder FolderTextureFinder(const std::filesystem::path& folder, std::vector<std::string>* refused) {
  return [folder, refused](const std::string& name, std::vector<std::uint8_t>& out) {
    static const char* const kPictures[] = {".mip", ".png", ".tga", ".bmp", ".pcx", ".jpg", ".jpeg", ".lmp"};
    std::error_code ec;
    for (const char* ext : kPictures) {
      // The name as the map gives it, then in lower case, as a folder of extracted textures has it.
      for (const std::string& stem : {name, ToLower(name)}) {
        const std::filesystem::path file = folder / (stem + ext);
        if (!std::filesystem::is_regular_file(file, ec)) continue;
        std::vector<std::uint8_t> bytes;
        std::string why;
        if (!ReadSmallFile(file, bytes, &why)) {
          if (refused) refused->push_back(name + ": " + why);
          return false;
        }
        if (std::string(ext) == ".mip") {
          out = std::move(bytes);
          return true;
        }
        RgbaImage image;
        EncodeOptions options;
        options.name = name;
        if (DecodeImage(bytes, file.filename().string(), image, &why)) {
          EncodeResult encoded = EncodeImage(image, OutputKind::Mip, options);
          if (encoded.ok) {
            out = std::move(encoded.bytes);
            return true;
          }
          why = encoded.error;
        }
        if (refused) refused->push_back(name + ": " + file.filename().string() + ": " + why);
        return false;
      }
    }
    return false;
  };
}

}  // namespace tarn
