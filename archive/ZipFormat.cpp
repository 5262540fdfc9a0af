#include "archive/ZipFormat.h"

#include <algorithm>
#include <cstring>

namespace tarn {

namespace {

constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::uint32_t kZip64EndSignature = 0x06064b50;
constexpr std::uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr std::uint32_t kCentralSignature = 0x02014b50;
constexpr std::size_t kEndSize = 22, kLocatorSize = 20, kZip64EndSize = 56, kCentralSize = 46;
constexpr std::size_t kMaxComment = 0xFFFF;

const char* const kMissing = "its central directory (the zip's list of entries) is missing or cut short";

bool Fail(std::string* why, const std::string& text) {
  if (why) *why = text;
  return false;
}

// Where the end record starts in the file, or npos: the last signature whose comment fits.
std::uint64_t FindEnd(CReadSource& source, ReadBuffer& tail) {
  const std::uint64_t size = source.Size();
  if (size < kEndSize) return UINT64_MAX;
  const std::uint64_t n = std::min<std::uint64_t>(size, kEndSize + kMaxComment);
  tail.resize(static_cast<std::size_t>(n));
  if (!source.ReadAt(size - n, tail.data(), tail.size())) return UINT64_MAX;
  for (std::size_t i = tail.size() - kEndSize + 1; i-- > 0;) {
    if (tail[i] != 'P' || tail[i + 1] != 'K' || tail[i + 2] != 5 || tail[i + 3] != 6) continue;
    const std::size_t comment = tail[i + 20] | (tail[i + 21] << 8);
    if (i + kEndSize + comment <= tail.size()) return size - n + i;
  }
  return UINT64_MAX;
}

}  // namespace

bool ReadZipDirectory(CReadSource& source, ZipIndex& index, std::string* why) {
  index = ZipIndex{};
  try {
    ReadBuffer tail;
    const std::uint64_t end = FindEnd(source, tail);
    if (end == UINT64_MAX) return Fail(why, kMissing);
    std::uint8_t record[kEndSize];
    source.ReadAt(end, record, sizeof record);
    ByteReader e(record, sizeof record);
    e.Skip(4);
    const std::uint16_t disk = e.U16(), centralDisk = e.U16();
    const std::uint16_t onDisk = e.U16();
    std::uint64_t count = e.U16();
    std::uint64_t centralSize = e.U32();
    std::uint64_t centralOffset = e.U32();
    if (disk != 0 || centralDisk != 0 || onDisk != count)
      return Fail(why, "zips spanning several files are not supported");
    std::uint64_t centralEnd = end;
    if (count == 0xFFFF || centralSize == 0xFFFFFFFF || centralOffset == 0xFFFFFFFF) {
      // Zip64: the locator just before the end record gives the zip64 end record.
      std::uint8_t locator[kLocatorSize];
      if (end >= kLocatorSize && source.ReadAt(end - kLocatorSize, locator, sizeof locator)) {
        ByteReader l(locator, sizeof locator);
        if (l.U32() == kZip64LocatorSignature) {
          l.Skip(4);
          const std::uint64_t at = l.U32() | static_cast<std::uint64_t>(l.U32()) << 32;
          std::uint8_t z[kZip64EndSize];
          if (at > end || !source.ReadAt(at, z, sizeof z)) return Fail(why, kMissing);
          ByteReader r(z, sizeof z);
          if (r.U32() != kZip64EndSignature) return Fail(why, kMissing);
          r.Skip(8 + 2 + 2 + 4 + 4 + 8);  // record size, versions, disks, entries on this disk
          count = r.U32() | static_cast<std::uint64_t>(r.U32()) << 32;
          centralSize = r.U32() | static_cast<std::uint64_t>(r.U32()) << 32;
          centralOffset = r.U32() | static_cast<std::uint64_t>(r.U32()) << 32;
          centralEnd = at;
          index.zip64 = true;
        }
      }
    }
    // Every record takes at least 46 bytes, which bounds what a lying count may ask for.
    if (centralOffset > centralEnd || centralSize > centralEnd - centralOffset || count > centralSize / kCentralSize)
      return Fail(why, kMissing);
    index.rawDirectory.resize(static_cast<std::size_t>(centralSize));
    if (!source.ReadAt(centralOffset, index.rawDirectory.data(), index.rawDirectory.size())) return Fail(why, kMissing);
    ByteReader r(index.rawDirectory.data(), index.rawDirectory.size());
    index.records.reserve(static_cast<std::size_t>(count));
    for (std::uint64_t i = 0; i < count; ++i) {
      if (r.U32() != kCentralSignature) return Fail(why, kMissing);
      ZipRecord rec;
      r.Skip(4);  // made by, needed
      rec.flags = r.U16();
      rec.method = r.U16();
      r.Skip(4);  // time and date
      rec.crc = r.U32();
      rec.storedSize = r.U32();
      rec.size = r.U32();
      const std::uint16_t nameLength = r.U16(), extraLength = r.U16(), commentLength = r.U16();
      r.Skip(8);  // disk, internal and external attributes
      rec.localOffset = r.U32();
      const auto name = r.Bytes(nameLength);
      rec.name = std::string_view(reinterpret_cast<const char*>(name.data()), name.size());
      // Sizes and offset that do not fit 32 bits are in the zip64 extra field, in this order.
      ByteReader extra = r.Sub(r.Position(), extraLength);
      r.Skip(extraLength);
      while (extra.Remaining() >= 4) {
        const std::uint16_t id = extra.U16(), length = extra.U16();
        ByteReader field = extra.Sub(extra.Position(), std::min<std::size_t>(length, extra.Remaining()));
        extra.Skip(field.Size());
        if (id != 0x0001) continue;
        auto wide = [&](std::uint64_t& v) {
          if (v == 0xFFFFFFFF && field.Remaining() >= 8)
            v = field.U32() | static_cast<std::uint64_t>(field.U32()) << 32;
        };
        wide(rec.size);
        wide(rec.storedSize);
        wide(rec.localOffset);
      }
      r.Skip(commentLength);
      index.records.push_back(rec);
    }
    return true;
  } catch (const ParseError&) {
    return Fail(why, kMissing);
  }
}

}  // namespace tarn
