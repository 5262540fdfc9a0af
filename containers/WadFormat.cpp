#include "containers/WadFormat.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unordered_map>

#include "archive/EntryNames.h"
#include "fileio/ByteIO.h"
#include "fileio/Strings.h"

namespace tarn {

bool ReadWadIndex(CReadSource& source, WadIndex& index) {
  index = WadIndex{};
  index.fileSize = source.Size();
  std::uint8_t header[wad::kHeaderSize];
  if (!source.ReadAt(0, header, 4)) return false;
  if (std::memcmp(header, "WAD2", 4) == 0) index.version = ContainerFormat::Wad2;
  else if (std::memcmp(header, "WAD3", 4) == 0) index.version = ContainerFormat::Wad3;
  else return false;
  if (!source.ReadAt(0, header, sizeof header)) {
    index.directoryTruncated = true;
    return true;
  }
  ByteReader hr(header, sizeof header);
  hr.Skip(4);
  index.count = hr.I32();
  index.directoryOffset = hr.I32();
  const std::int64_t count = index.count, at = index.directoryOffset;
  if (count <= 0 || at < 0) {
    index.directoryTruncated = count != 0;
    return true;
  }
  const std::int64_t available = std::max<std::int64_t>(0, static_cast<std::int64_t>(index.fileSize) - at);
  const std::int64_t fitting = available / static_cast<std::int64_t>(wad::kRecordSize);
  if (fitting < count) index.directoryTruncated = true;
  const std::int64_t n = std::min(count, fitting);
  if (n == 0) return true;
  index.rawDirectory.resize(static_cast<std::size_t>(n) * wad::kRecordSize);
  if (!source.ReadAt(static_cast<std::uint64_t>(at), index.rawDirectory.data(), index.rawDirectory.size())) {
    index.rawDirectory.clear();
    index.directoryTruncated = true;
    return true;
  }
  ByteReader r(index.rawDirectory);
  index.records.reserve(static_cast<std::size_t>(n));
  for (std::int64_t i = 0; i < n; ++i) {
    WadRecord rec;
    rec.offset = r.I32();
    rec.diskSize = r.I32();
    rec.size = r.I32();
    rec.type = r.U8();
    rec.compression = r.U8();
    r.Skip(2);
    auto field = r.Bytes(wad::kNameField);
    const void* nul = std::memchr(field.data(), 0, field.size());
    rec.nameTerminated = nul != nullptr;
    rec.name = std::string_view(
        reinterpret_cast<const char*>(field.data()),
        nul ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - field.data()) : field.size());
    rec.dataInside = source.Contains(rec.offset, rec.diskSize);
    index.records.push_back(rec);
  }
  return true;
}

std::vector<std::string> CheckWadIndex(const WadIndex& index) {
  std::vector<std::string> problems;
  if (index.directoryTruncated)
    problems.push_back("the directory (" + std::to_string(index.count) + " records at offset " +
                       std::to_string(index.directoryOffset) + ") runs past the end of the file (" +
                       std::to_string(index.fileSize) + " bytes)");
  std::unordered_map<std::string, std::size_t> seen;
  for (std::size_t i = 0; i < index.records.size(); ++i) {
    const WadRecord& rec = index.records[i];
    const std::string label = Quoted(rec.name);
    if (!rec.dataInside)
      problems.push_back(label + ": data (offset " + std::to_string(rec.offset) + ", size " +
                         std::to_string(rec.diskSize) + ") lie outside the file");
    if (!rec.nameTerminated) problems.push_back(label + ": the name fills its 16 bytes without a terminating NUL");
    if (rec.name.empty()) problems.push_back("record " + std::to_string(i + 1) + " has an empty name");
    if (rec.compression != 0)
      problems.push_back(label + ": compressed (method " + std::to_string(rec.compression) +
                         "), which no engine reads");
    else if (rec.size != rec.diskSize)
      problems.push_back(label + ": its size (" + std::to_string(rec.size) + ") differs from its size on disk (" +
                         std::to_string(rec.diskSize) + ")");
    const std::string why = UnsafeNameReason(rec.name);
    if (!why.empty() && !rec.name.empty()) problems.push_back(label + ": cannot be exported safely: " + why);
    // The engines look lumps up without regard to case, and the first match wins.
    auto [it, fresh] = seen.emplace(ToLower(rec.name), i);
    if (!fresh)
      problems.push_back(label + ": duplicate name (also record " + std::to_string(it->second + 1) +
                         "); the engines only ever find the first");
  }
  return problems;
}

std::vector<std::uint8_t> BuildWad(ContainerFormat version, const std::vector<WadLump>& lumps) {
  std::vector<std::uint8_t> out;
  ByteWriter w(out);
  w.Bytes(version == ContainerFormat::Wad3 ? "WAD3" : "WAD2", 4);
  w.U32(static_cast<std::uint32_t>(lumps.size()));
  w.U32(0);  // the directory's offset, known at the end
  std::vector<std::uint32_t> positions;
  for (const WadLump& l : lumps) {
    positions.push_back(static_cast<std::uint32_t>(out.size()));
    w.Bytes(l.data.data(), l.data.size());
  }
  w.PatchU32(8, static_cast<std::uint32_t>(out.size()));
  for (std::size_t i = 0; i < lumps.size(); ++i) {
    const WadLump& l = lumps[i];
    w.U32(positions[i]);
    w.U32(static_cast<std::uint32_t>(l.data.size()));
    w.U32(static_cast<std::uint32_t>(l.data.size()));
    w.U8(l.type);
    w.U8(0);  // no compression
    w.U8(0);
    w.U8(0);
    char name[wad::kNameField] = {};
    std::memcpy(name, l.name.data(), std::min(l.name.size(), wad::kMaxNameLength));
    w.Bytes(name, sizeof name);
  }
  return out;
}

}  // namespace tarn
