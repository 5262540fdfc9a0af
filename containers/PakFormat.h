// The ".pak" layout: a 12-byte header ("PACK", directory offset, directory length) and
// 64-byte directory records (56-byte NUL-terminated path, offset, size), all little-endian.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fileio/ByteIO.h"
#include "fileio/ReadSource.h"

namespace tarn {

namespace pak {
inline constexpr char kMagic[4] = {'P', 'A', 'C', 'K'};
inline constexpr std::size_t kHeaderSize = 12;
inline constexpr std::size_t kRecordSize = 64;
inline constexpr std::size_t kNameField = 56;
inline constexpr std::size_t kMaxPathLength = kNameField - 1;
// Offsets and sizes are signed 32-bit, so nothing in an archive may reach 2 GiB.
inline constexpr std::int64_t kMaxArchiveSize = 0x7FFFFFFF;
}  // namespace pak

struct PakRecord {
  std::string_view path;  // up to the first NUL of the name field; points into its PakIndex
  std::int32_t offset = 0;
  std::int32_t size = 0;
  bool nameTerminated = true;  // false: all 56 bytes were used, no NUL
  bool dataInside = true;      // false: offset or size negative, or the bytes run past the end of the file
};

struct PakIndex {
  PakIndex() = default;
  PakIndex(PakIndex&&) = default;
  PakIndex& operator=(PakIndex&&) = default;
  PakIndex(const PakIndex&) = delete;  // the records point into rawDirectory
  PakIndex& operator=(const PakIndex&) = delete;

  std::uint64_t fileSize = 0;
  std::int32_t directoryOffset = 0;
  std::int32_t directoryLength = 0;
  bool directoryTruncated = false;  // the directory claims more bytes than the file holds
  std::size_t recordCount = 0;      // the records that lie in the file
  std::vector<PakRecord> records;
  ReadBuffer rawDirectory;  // the directory as read, holding the names
};

enum class PakReadResult { Ok, NotPak };

// Reads the header and directory. Never reads outside the source: records beyond its end are
// dropped (directoryTruncated) and records whose data lie outside are kept but flagged.
PakReadResult ReadPakIndex(CReadSource& source, PakIndex& index);
// The same without the records: the directory's bytes, for the caller to take record by
// record (ParsePakRecord, one kPakRecordSize slice of rawDirectory at a time).
PakReadResult ReadPakDirectory(CReadSource& source, PakIndex& index);
// Only the header: where the directory lies and how many of its records the file holds
// (recordCount), for a caller that reads them piece by piece.
PakReadResult ReadPakHeader(CReadSource& source, PakIndex& index);
PakRecord ParsePakRecord(const CReadSource& source, const std::uint8_t* record);

// Every problem of an archive, one readable line each; empty when the archive is sound.
std::vector<std::string> CheckPakIndex(const PakIndex& index);

}  // namespace tarn
