// A zip read by hand: the end record (and zip64's whenever it is there), the central directory
// with one record per member, and each member's local header when its bytes are wanted. One
// directory decides both the names and where the bytes are; libzip only writes.
// The end record chosen is the last in the file, as Info-ZIP's unzip and Python's zipfile
// choose it, and offsets count from where the zip really starts (after a self-extractor's stub
// or any other bytes put in front), as both of them count them.
// libzip's own opening converts every entry's DOS time through mktime and allocates several
// blocks per entry, which costs a listing of ten thousand entries more than Info-ZIP's
// `unzip -l` takes for all its work.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "fileio/ByteIO.h"
#include "fileio/ReadSource.h"

namespace tarn {

namespace zipfmt {
inline constexpr std::uint16_t kEncrypted = 0x0001;       // general purpose flag bit 0
inline constexpr std::uint16_t kDataDescriptor = 0x0008;  // sizes and CRC follow the data
inline constexpr std::uint16_t kUtf8 = 0x0800;            // the name is UTF-8
inline constexpr std::uint16_t kStored = 0, kDeflated = 8;
}  // namespace zipfmt

struct ZipRecord {
  std::string_view name;     // as text: UTF-8, or the bytes as stored; points into its ZipIndex
  std::string_view rawName;  // the bytes as stored, which the local header repeats
  std::uint64_t size = 0;
  std::uint64_t storedSize = 0;
  std::uint64_t localOffset = 0;  // in the file, the zip's start already added
  // Where this member's bytes must end: the next member's local header, or the central
  // directory for the last one.
  std::uint64_t limit = 0;
  std::uint32_t crc = 0;
  std::uint32_t dosTime = 0;  // time in the low half, date in the high
  std::uint16_t method = 0;
  std::uint16_t flags = 0;
};

struct ZipIndex {
  ZipIndex() = default;
  ZipIndex(ZipIndex&&) = default;
  ZipIndex& operator=(ZipIndex&&) = default;
  ZipIndex(const ZipIndex&) = delete;  // the records point into rawDirectory and names
  ZipIndex& operator=(const ZipIndex&) = delete;

  bool zip64 = false;
  std::uint64_t start = 0;  // bytes in front of the zip
  std::vector<ZipRecord> records;
  ReadBuffer rawDirectory;
  std::deque<std::string> names;  // names converted to UTF-8
  // What is wrong with the end records and the directory although the zip reads, as sentences.
  std::vector<std::string> problems;
};

// Reads the central directory; false, with a sentence in why, when there is none to read (no
// end record), it lies outside the file or is cut short, the zip spans several files, or two
// members share bytes (a zip bomb's trick: one compressed member listed many times).
bool ReadZipDirectory(CReadSource& source, ZipIndex& index, std::string* why);

// A member's local header as it bears on reading the member.
struct ZipLocal {
  std::uint64_t dataOffset = 0;
  // Where the local header disagrees with the central directory, as a sentence; empty when it
  // agrees (the data descriptor's fields aside). The bytes are read as the central directory
  // says, as unzip and zipfile read them.
  std::string disagreement;
};

// Reads rec's local header; false, with a sentence in why, when it is not there or the bytes
// it announces do not fit between it and rec.limit.
bool ReadZipLocal(CReadSource& source, const ZipRecord& rec, ZipLocal& local, std::string* why);

// The name of a compression method, for messages.
std::string ZipMethodName(std::uint16_t method);

}  // namespace tarn
