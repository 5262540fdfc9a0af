#include "containers/PakFormat.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <unordered_map>

#include "archive/EntryNames.h"
#include "fileio/ByteIO.h"
#include "fileio/Strings.h"
#include "fileio/Words.h"

namespace tarn {

PakReadResult ReadPakHeader(CReadSource& source, PakIndex& index) {
  index = PakIndex{};
  index.fileSize = source.Size();
  std::uint8_t header[pak::kHeaderSize];
  if (!source.ReadAt(0, header, 4) || std::memcmp(header, pak::kMagic, 4) != 0) return PakReadResult::NotPak;
  if (!source.ReadAt(0, header, sizeof header)) {
    // "PACK" and nothing usable after it: an archive whose directory lies outside the file.
    index.directoryTruncated = true;
    return PakReadResult::Ok;
  }
  ByteReader hr(header, sizeof header);
  hr.Skip(4);
  index.directoryOffset = hr.I32();
  index.directoryLength = hr.I32();

  std::int64_t dirOffset = index.directoryOffset;
  std::int64_t dirLength = index.directoryLength;
  if (dirOffset < 0 || dirLength < 0) {
    index.directoryTruncated = dirLength != 0;
    return PakReadResult::Ok;
  }
  std::int64_t available = static_cast<std::int64_t>(index.fileSize) - dirOffset;
  if (available < 0) available = 0;
  std::int64_t wanted = dirLength / static_cast<std::int64_t>(pak::kRecordSize);
  std::int64_t fitting = available / static_cast<std::int64_t>(pak::kRecordSize);
  if (fitting < wanted) index.directoryTruncated = true;
  index.recordCount = static_cast<std::size_t>(std::min(wanted, fitting));
  return PakReadResult::Ok;
}

PakReadResult ReadPakDirectory(CReadSource& source, PakIndex& index) {
  if (ReadPakHeader(source, index) != PakReadResult::Ok) return PakReadResult::NotPak;
  if (index.recordCount == 0) return PakReadResult::Ok;
  ReadBuffer& dir = index.rawDirectory;
  dir.resize(index.recordCount * pak::kRecordSize);
  if (!source.ReadAt(static_cast<std::uint64_t>(index.directoryOffset), dir.data(), dir.size())) {
    index.directoryTruncated = true;
    index.recordCount = 0;
    dir.clear();
  }
  return PakReadResult::Ok;
}

namespace {

// Where the name field's first NUL is, or its whole length without one. Read a word at a time:
// the lowest byte flagged by the zero-byte test of a word is its first NUL (a false flag only
// ever follows a true one). Listing an archive does this once per record.
std::size_t NameLength(const std::uint8_t* record) {
  static_assert(pak::kNameField % 8 == 0);
  if constexpr (kWordsInOrder) {
    for (std::size_t i = 0; i < pak::kNameField; i += 8) {
      std::uint64_t w;
      std::memcpy(&w, record + i, 8);
      if (const std::uint64_t zero = ZeroBytes(w)) return i + static_cast<std::size_t>(std::countr_zero(zero) / 8);
    }
    return pak::kNameField;
  } else {
    const void* nul = std::memchr(record, 0, pak::kNameField);
    return nul ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - record) : pak::kNameField;
  }
}

}  // namespace

PakRecord ParsePakRecord(const CReadSource& source, const std::uint8_t* record) {
  PakRecord rec;
  rec.path = std::string_view(reinterpret_cast<const char*>(record), NameLength(record));
  rec.nameTerminated = rec.path.size() < pak::kNameField;
  ByteReader r(record + pak::kNameField, 8);
  rec.offset = r.I32();
  rec.size = r.I32();
  rec.dataInside = source.Contains(rec.offset, rec.size);
  return rec;
}

PakReadResult ReadPakIndex(CReadSource& source, PakIndex& index) {
  const PakReadResult result = ReadPakDirectory(source, index);
  const std::size_t count = index.rawDirectory.size() / pak::kRecordSize;
  index.records.reserve(count);
  for (std::size_t i = 0; i < count; ++i)
    index.records.push_back(ParsePakRecord(source, index.rawDirectory.data() + i * pak::kRecordSize));
  return result;
}

std::vector<std::string> CheckPakIndex(const PakIndex& index) {
  std::vector<std::string> problems;
  if (index.directoryTruncated)
    problems.push_back("the directory (offset " + std::to_string(index.directoryOffset) + ", length " +
                       std::to_string(index.directoryLength) + ") runs past the end of the file (" +
                       std::to_string(index.fileSize) + " bytes)");
  if (index.directoryLength % static_cast<std::int32_t>(pak::kRecordSize) != 0)
    problems.push_back("the directory length " + std::to_string(index.directoryLength) + " is not a multiple of 64");

  std::unordered_map<std::string, std::size_t> seen;
  seen.reserve(index.records.size());
  // Quake asks for a path in lower case and loads the first record that has it exactly.
  std::unordered_map<std::string_view, std::size_t> loaded;
  for (std::size_t i = index.records.size(); i-- > 0;)
    if (ToLower(index.records[i].path) == index.records[i].path) loaded[index.records[i].path] = i;
  for (std::size_t i = 0; i < index.records.size(); ++i) {
    const PakRecord& rec = index.records[i];
    const std::string label = Quoted(rec.path);
    if (!rec.dataInside)
      problems.push_back(label + ": data (offset " + std::to_string(rec.offset) + ", size " + std::to_string(rec.size) +
                         ") lie outside the file");
    if (!rec.nameTerminated) problems.push_back(label + ": the name fills its field without a terminating NUL");
    std::size_t start = 0;
    while (true) {
      std::size_t slash = rec.path.find('/', start);
      std::string_view segment =
          rec.path.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
      std::string why = UnsafeNameReason(segment);
      if (!why.empty()) {
        problems.push_back(label + ": cannot be exported safely: " + why);
        break;
      }
      if (slash == std::string_view::npos) break;
      start = slash + 1;
    }
    auto [it, fresh] = seen.emplace(ToLower(rec.path), i);
    if (!fresh) {
      const PakRecord& first = index.records[it->second];
      std::string line = label + ": duplicate path" + (first.path == rec.path ? "" : " but for case") +
                         " (also record " + std::to_string(it->second + 1) + "): the engine loads ";
      const auto found = loaded.find(it->first);
      line += found == loaded.end()
                  ? "neither"
                  : "record " + std::to_string(found->second + 1) + " " + Quoted(index.records[found->second].path);
      problems.push_back(line);
    }
  }

  std::vector<NamedRecord> named;
  for (const PakRecord& rec : index.records) named.push_back({rec.path, false});
  for (const std::string& both : FileAndFolderPaths(named)) problems.push_back(FileAndFolderNote(both));

  // Overlaps: sort the non-empty, in-file extents by offset and compare each with the furthest end so far.
  std::vector<std::size_t> order;
  for (std::size_t i = 0; i < index.records.size(); ++i)
    if (index.records[i].dataInside && index.records[i].size > 0) order.push_back(i);
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return index.records[a].offset != index.records[b].offset ? index.records[a].offset < index.records[b].offset
                                                              : a < b;
  });
  std::int64_t furthestEnd = 0;
  std::size_t furthest = 0;
  for (std::size_t k = 0; k < order.size(); ++k) {
    const PakRecord& rec = index.records[order[k]];
    if (k > 0 && rec.offset < furthestEnd)
      problems.push_back(Quoted(rec.path) + ": data overlap those of " + Quoted(index.records[furthest].path));
    std::int64_t end = static_cast<std::int64_t>(rec.offset) + rec.size;
    if (end > furthestEnd) {
      furthestEnd = end;
      furthest = order[k];
    }
  }
  // The data must also stay clear of the header and of the directory itself.
  for (std::size_t i : order) {
    const PakRecord& rec = index.records[i];
    std::int64_t end = static_cast<std::int64_t>(rec.offset) + rec.size;
    std::int64_t dirEnd = static_cast<std::int64_t>(index.directoryOffset) +
                          static_cast<std::int64_t>(index.records.size()) * static_cast<std::int64_t>(pak::kRecordSize);
    if (rec.offset < static_cast<std::int64_t>(pak::kHeaderSize))
      problems.push_back(Quoted(rec.path) + ": data overlap the header");
    else if (!index.records.empty() && rec.offset < dirEnd && end > index.directoryOffset)
      problems.push_back(Quoted(rec.path) + ": data overlap the directory");
  }
  return problems;
}

}  // namespace tarn
