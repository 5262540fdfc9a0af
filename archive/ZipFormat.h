// The central directory of a zip, read by hand: the end record (and zip64's, when there is
// one), then one record per entry with its name, sizes, method, CRC and local header offset.
// Listing a zip reads only this; libzip opens the archive when an entry's bytes are first read.
// libzip's own opening converts every entry's DOS time through mktime and allocates several
// blocks per entry, which costs a listing of ten thousand entries more than Info-ZIP's
// `unzip -l` takes for all its work.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "archive/ByteIO.h"
#include "archive/ReadSource.h"

namespace tarn {

namespace zipfmt {
inline constexpr std::uint16_t kEncrypted = 0x0001;  // general purpose flag bit 0
}  // namespace zipfmt

struct ZipRecord {
  std::string_view name;  // as stored; points into its ZipIndex
  std::uint64_t size = 0;
  std::uint64_t storedSize = 0;
  std::uint64_t localOffset = 0;
  std::uint32_t crc = 0;
  std::uint16_t method = 0;
  std::uint16_t flags = 0;
};

struct ZipIndex {
  ZipIndex() = default;
  ZipIndex(ZipIndex&&) = default;
  ZipIndex& operator=(ZipIndex&&) = default;
  ZipIndex(const ZipIndex&) = delete;  // the records point into rawDirectory
  ZipIndex& operator=(const ZipIndex&) = delete;

  bool zip64 = false;
  std::vector<ZipRecord> records;
  ReadBuffer rawDirectory;
};

// Reads the central directory; false, with a sentence in why, when there is none to read (no
// end record), it lies outside the file or is cut short, or the zip spans several files.
bool ReadZipDirectory(CReadSource& source, ZipIndex& index, std::string* why);

}  // namespace tarn
