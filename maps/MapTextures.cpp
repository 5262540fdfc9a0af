#include "maps/MapTextures.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unordered_set>

#include "fileio/ByteIO.h"
#include "fileio/SafeSave.h"
#include "fileio/Strings.h"

namespace tarn {

MapTextures ReadMapTextures(std::span<const std::uint8_t> map) {
  MapTextures out;
  if (map.size() < 8) {
    out.problems.push_back("too short for a map");
    return out;
  }
  if (std::memcmp(map.data(), "IBSP", 4) == 0) {
    out.kind = MapTextures::Kind::Quake2;
    out.problems.push_back("a Quake II map: its textures are .wal files, not stored in the map");
    return out;
  }
  ByteReader r(map);
  const bool extended = std::memcmp(map.data(), "BSP2", 4) == 0 || std::memcmp(map.data(), "2PSB", 4) == 0;
  const std::int32_t version = r.I32();
  if (!extended && version != bsp::kVersion29) {
    out.problems.push_back(version == 30 ? "a Half-Life map (version 30), whose textures carry their own palettes"
                                         : "not a Quake map (version " + std::to_string(version) + ")");
    return out;
  }
  out.kind = MapTextures::Kind::Quake;
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
    lumps.push_back({t.name, t.bytes, 'D'});
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

}  // namespace tarn
