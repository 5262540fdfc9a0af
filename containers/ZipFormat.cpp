#include "containers/ZipFormat.h"

#include <algorithm>
#include <cstring>
#include <numeric>

#include "fileio/Strings.h"

namespace tarn {

namespace {

constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::uint32_t kZip64EndSignature = 0x06064b50;
constexpr std::uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr std::uint32_t kCentralSignature = 0x02014b50;
constexpr std::uint32_t kLocalSignature = 0x04034b50;
constexpr std::size_t kEndSize = 22, kLocatorSize = 20, kZip64EndSize = 56, kCentralSize = 46, kLocalSize = 30;
constexpr std::size_t kMaxComment = 0xFFFF;

const char* const kMissing = "its central directory (the zip's list of entries) is missing or cut short";
const char* const kSpanning = "zips spanning several files are not supported";

// Code page 437 above ASCII, which zips made on DOS and Windows use for names not marked UTF-8.
constexpr std::uint16_t kCp437[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
    0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6,
    0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA,
    0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C,
    0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320,
    0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};

std::string FromCp437(std::string_view raw) {
  std::string out;
  for (const char c : raw) {
    const auto b = static_cast<unsigned char>(c);
    const std::uint32_t u = b < 0x80 ? b : kCp437[b - 0x80];
    if (u < 0x80) {
      out += static_cast<char>(u);
    } else if (u < 0x800) {
      out += static_cast<char>(0xC0 | (u >> 6));
      out += static_cast<char>(0x80 | (u & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (u >> 12));
      out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (u & 0x3F));
    }
  }
  return out;
}

// Names not marked UTF-8 are code page 437, unless they are valid UTF-8 already (zips made on
// Unix by tools that never set the mark): Info-ZIP's unzip takes them so.
bool NeedsCp437(std::string_view raw, std::uint16_t flags) {
  if (flags & zipfmt::kUtf8) return false;
  for (std::size_t i = 0; i < raw.size();) {
    const auto b = static_cast<unsigned char>(raw[i]);
    const std::size_t n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > raw.size()) return true;
    for (std::size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(raw[i + k]) >> 6) != 2) return true;
    i += n;
  }
  return false;
}

// What is wrong with an extra field area: fields that do not add up to it, or one kind twice.
std::string ExtraProblem(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint16_t> seen;
  for (std::size_t at = 0; at < size;) {
    if (size - at < 4) return "its extra fields do not add up to their length";
    const auto id = static_cast<std::uint16_t>(data[at] | data[at + 1] << 8);
    const std::size_t length = data[at + 2] | data[at + 3] << 8;
    if (length > size - at - 4) return "its extra fields do not add up to their length";
    if (std::find(seen.begin(), seen.end(), id) != seen.end())
      return "it holds extra field " + std::to_string(id) + " twice";
    seen.push_back(id);
    at += 4 + length;
  }
  return {};
}

bool Fail(std::string* why, const std::string& text) {
  if (why) *why = text;
  return false;
}

std::uint64_t U64(ByteReader& r) { return r.U32() | static_cast<std::uint64_t>(r.U32()) << 32; }

bool SignatureAt(CReadSource& source, std::uint64_t at, std::uint32_t signature) {
  std::uint8_t b[4];
  if (!source.ReadAt(at, b, sizeof b)) return false;
  ByteReader r(b, sizeof b);
  return r.U32() == signature;
}

// Where the end records put the central directory.
struct Layout {
  std::uint64_t count = 0, size = 0, offset = 0;  // offset from the zip's start
  std::uint64_t end = 0;                          // where the directory should end: the first end record
  bool zip64 = false;
};

// The last end record's fields, and zip64's whenever its locator is in front of it.
bool ReadEnd(CReadSource& source, std::uint64_t at, Layout& layout, std::vector<std::string>& problems,
             std::string* why) {
  std::uint8_t record[kEndSize];
  if (!source.ReadAt(at, record, sizeof record)) return Fail(why, kMissing);
  ByteReader e(record, sizeof record);
  e.Skip(4);
  const std::uint16_t disk = e.U16(), centralDisk = e.U16(), onDisk = e.U16(), count = e.U16();
  const std::uint32_t size = e.U32(), offset = e.U32();
  const std::uint16_t comment = e.U16();
  const std::uint64_t commentEnd = at + kEndSize + comment;
  if (commentEnd < source.Size())
    problems.push_back(std::to_string(source.Size() - commentEnd) + " bytes follow the end record and its comment");
  else if (commentEnd > source.Size())
    problems.push_back("the end record's comment is said to be " + std::to_string(comment) + " bytes long, but " +
                       std::to_string(source.Size() - at - kEndSize) + " follow it");

  std::uint8_t locator[kLocatorSize];
  const bool hasLocator = at >= kLocatorSize && source.ReadAt(at - kLocatorSize, locator, sizeof locator) &&
                          ByteReader(locator, sizeof locator).U32() == kZip64LocatorSignature;
  if (!hasLocator) {
    if (disk != 0 || centralDisk != 0 || onDisk != count) return Fail(why, kSpanning);
    layout = {count, size, offset, at, false};
    return true;
  }
  ByteReader l(locator, sizeof locator);
  l.Skip(4);
  const std::uint32_t recordDisk = l.U32();
  const std::uint64_t stated = U64(l);
  const std::uint32_t disks = l.U32();
  const std::uint64_t locatorAt = at - kLocatorSize;
  // Where the locator says, or right in front of it when bytes in front of the zip shifted it.
  std::uint64_t z64 = stated;
  if (stated > locatorAt || locatorAt - stated < kZip64EndSize || !SignatureAt(source, stated, kZip64EndSignature)) {
    if (locatorAt < kZip64EndSize || !SignatureAt(source, locatorAt - kZip64EndSize, kZip64EndSignature))
      return Fail(why, "its zip64 end record is missing");
    z64 = locatorAt - kZip64EndSize;
  }
  std::uint8_t z[kZip64EndSize];
  if (!source.ReadAt(z64, z, sizeof z)) return Fail(why, "its zip64 end record is missing");
  ByteReader r(z, sizeof z);
  r.Skip(4);
  const std::uint64_t recordSize = U64(r);
  r.Skip(4);  // versions
  const std::uint32_t disk64 = r.U32(), centralDisk64 = r.U32();
  const std::uint64_t onDisk64 = U64(r), count64 = U64(r), size64 = U64(r), offset64 = U64(r);
  if (recordDisk != 0 || disks > 1 || disk64 != 0 || centralDisk64 != 0 || onDisk64 != count64)
    return Fail(why, kSpanning);
  if (recordSize != locatorAt - z64 - 12)
    problems.push_back("the zip64 end record says it is " + std::to_string(recordSize + 12) +
                       " bytes long, but its locator follows after " + std::to_string(locatorAt - z64));
  // The end record may say 0xFFFF..: "see the zip64 record"; any other value has to agree.
  auto disagree = [&](std::uint64_t plain, std::uint64_t all, std::uint64_t wide, const char* what) {
    if (plain != all && plain != wide)
      problems.push_back("the end record and the zip64 end record disagree on the " + std::string(what) + " (" +
                         std::to_string(plain) + " against " + std::to_string(wide) +
                         "); the zip64 record is read, as unzip and zipfile read it");
  };
  disagree(count, 0xFFFF, count64, "number of entries");
  disagree(size, 0xFFFFFFFF, size64, "central directory's size");
  disagree(offset, 0xFFFFFFFF, offset64, "central directory's offset");
  layout = {count64, size64, offset64, z64, true};
  return true;
}

}  // namespace

std::string ZipMethodName(std::uint16_t method) {
  switch (method) {
    case 0: return "stored";
    case 8: return "deflate";
    case 9: return "deflate64";
    case 12: return "bzip2";
    case 14: return "LZMA";
    case 93: return "Zstandard";
    case 95: return "xz";
    case 98: return "PPMd";
    case 99: return "AES encryption";
    default: return "method " + std::to_string(method);
  }
}

bool ReadZipDirectory(CReadSource& source, ZipIndex& index, std::string* why) {
  index = ZipIndex{};
  try {
    // The last end record in the file, as unzip and zipfile take it.
    const std::uint64_t fileSize = source.Size();
    if (fileSize < kEndSize) return Fail(why, kMissing);
    const std::uint64_t n = std::min<std::uint64_t>(fileSize, kEndSize + kMaxComment);
    ReadBuffer tail(static_cast<std::size_t>(n));
    if (!source.ReadAt(fileSize - n, tail.data(), tail.size())) return Fail(why, kMissing);
    std::vector<std::uint64_t> ends;
    for (std::size_t i = tail.size() - kEndSize + 1; i-- > 0;)
      if (tail[i] == 'P' && tail[i + 1] == 'K' && tail[i + 2] == 5 && tail[i + 3] == 6)
        ends.push_back(fileSize - n + i);
    if (ends.empty()) return Fail(why, kMissing);
    const std::uint64_t end = ends.front();
    Layout layout;
    if (!ReadEnd(source, end, layout, index.problems, why)) return false;
    // An earlier end record whose comment holds this one is a second directory: readers that
    // take the first end record (libzip, some engines) see other entries or other bytes.
    for (std::size_t k = 1; k < ends.size(); ++k) {
      const std::size_t i = static_cast<std::size_t>(ends[k] - (fileSize - n));
      const std::size_t comment = tail[i + 20] | (tail[i + 21] << 8);
      if (ends[k] + kEndSize + comment >= end + kEndSize) {
        index.problems.push_back("its comment holds a second end record (at byte " + std::to_string(end) +
                                 "), which Tarn reads as unzip and zipfile do; readers that take the first (at byte " +
                                 std::to_string(ends[k]) + ") may see other entries or other bytes");
        break;
      }
    }
    index.zip64 = layout.zip64;
    if (layout.size > layout.end) return Fail(why, kMissing);
    // The directory ends where the end records begin; when it is said to start earlier than
    // it does, that many bytes were put in front of the zip.
    const std::uint64_t implied = layout.end - layout.size;
    std::uint64_t start = UINT64_MAX;
    const bool empty = layout.count == 0 && layout.size == 0;
    for (const std::uint64_t s : {implied >= layout.offset ? implied - layout.offset : UINT64_MAX, std::uint64_t{0}}) {
      if (s == UINT64_MAX || layout.offset > UINT64_MAX - s) continue;
      if (empty || SignatureAt(source, layout.offset + s, kCentralSignature)) {
        start = s;
        break;
      }
    }
    if (start == UINT64_MAX) return Fail(why, kMissing);
    const std::uint64_t centralStart = layout.offset + start;
    if (centralStart > layout.end || layout.size > layout.end - centralStart) return Fail(why, kMissing);
    if (centralStart + layout.size < layout.end)
      index.problems.push_back(std::to_string(layout.end - centralStart - layout.size) +
                               " bytes lie between the central directory and the end record");
    index.start = start;

    index.rawDirectory.resize(static_cast<std::size_t>(layout.size));
    if (!source.ReadAt(centralStart, index.rawDirectory.data(), index.rawDirectory.size())) return Fail(why, kMissing);
    ByteReader r(index.rawDirectory.data(), index.rawDirectory.size());
    // Every record takes at least 46 bytes, which bounds what a lying count may ask for.
    index.records.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(layout.count, layout.size / kCentralSize)));
    // Records are read to the directory's end, as zipfile reads them, whatever the count says.
    while (!r.AtEnd()) {
      if (r.U32() != kCentralSignature) return Fail(why, kMissing);
      ZipRecord rec;
      r.Skip(4);  // version made by, needed
      rec.flags = r.U16();
      rec.method = r.U16();
      rec.dosTime = r.U32();
      rec.crc = r.U32();
      rec.storedSize = r.U32();
      rec.size = r.U32();
      const std::uint16_t nameLength = r.U16(), extraLength = r.U16(), commentLength = r.U16();
      r.Skip(8);  // disk, internal and external attributes
      rec.localOffset = r.U32();
      const auto name = r.Bytes(nameLength);
      rec.rawName = std::string_view(reinterpret_cast<const char*>(name.data()), name.size());
      rec.name = NeedsCp437(rec.rawName, rec.flags) ? std::string_view(index.names.emplace_back(FromCp437(rec.rawName)))
                                                    : rec.rawName;
      // Sizes and offset that do not fit 32 bits are in the zip64 extra field, in this order.
      ByteReader extra = r.Sub(r.Position(), extraLength);
      r.Skip(extraLength);
      if (const std::string bad = ExtraProblem(extra.Data(), extra.Size()); !bad.empty())
        index.problems.push_back(Quoted(rec.name) + ": in the central directory, " + bad);
      while (extra.Remaining() >= 4) {
        const std::uint16_t id = extra.U16(), length = extra.U16();
        ByteReader field = extra.Sub(extra.Position(), std::min<std::size_t>(length, extra.Remaining()));
        extra.Skip(field.Size());
        if (id != 0x0001) continue;
        auto wide = [&](std::uint64_t& v) {
          if (v == 0xFFFFFFFF && field.Remaining() >= 8) v = U64(field);
        };
        wide(rec.size);
        wide(rec.storedSize);
        wide(rec.localOffset);
      }
      r.Skip(commentLength);
      if (rec.localOffset > UINT64_MAX - start) return Fail(why, kMissing);
      rec.localOffset += start;
      index.records.push_back(rec);
    }
    if (index.records.size() != layout.count)
      index.problems.push_back("the end record counts " + std::to_string(layout.count) +
                               " entries; the central directory holds " + std::to_string(index.records.size()));

    // Each member's bytes end where the next member begins. Members that share bytes are how
    // a small zip inflates to terabytes; unzip refuses them, and so does Tarn, before any is read.
    std::vector<std::uint32_t> order(index.records.size());
    std::iota(order.begin(), order.end(), 0u);
    std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
      return index.records[a].localOffset < index.records[b].localOffset;
    });
    for (std::size_t k = 0; k < order.size(); ++k) {
      ZipRecord& rec = index.records[order[k]];
      rec.limit = centralStart;
      if (k + 1 == order.size()) break;
      const ZipRecord& next = index.records[order[k + 1]];
      if (next.localOffset >= centralStart) continue;
      rec.limit = next.localOffset;
      if (rec.localOffset < centralStart &&
          (rec.storedSize > next.localOffset || rec.localOffset + kLocalSize > next.localOffset - rec.storedSize))
        return Fail(why, "entries " + Quoted(rec.name) + " and " + Quoted(next.name) +
                             " overlap in the file (possible zip bomb)");
    }
    return true;
  } catch (const ParseError&) {
    return Fail(why, kMissing);
  }
}

bool ReadZipLocal(CReadSource& source, const ZipRecord& rec, ZipLocal& local, std::string* why) {
  const std::string label = Quoted(rec.name);
  std::uint8_t header[kLocalSize];
  if (rec.localOffset >= rec.limit || !source.ReadAt(rec.localOffset, header, sizeof header))
    return Fail(why, "the local header of " + label + " lies outside the zip's members");
  ByteReader h(header, sizeof header);
  if (h.U32() != kLocalSignature)
    return Fail(why, label + " has no local header where the central directory puts it (byte " +
                         std::to_string(rec.localOffset) + ")");
  h.Skip(2);  // needed
  const std::uint16_t flags = h.U16(), method = h.U16();
  const std::uint32_t dosTime = h.U32(), crc = h.U32(), storedSize = h.U32(), size = h.U32();
  const std::uint16_t nameLength = h.U16(), extraLength = h.U16();
  local.dataOffset = rec.localOffset + kLocalSize + nameLength + extraLength;
  if (local.dataOffset > rec.limit || rec.storedSize > rec.limit - local.dataOffset)
    return Fail(why, "the " + std::to_string(rec.storedSize) + " bytes of " + label +
                         " run past the next member or the central directory");
  // How to undo the bytes has to be agreed on, or two readers read two different files.
  if (method != rec.method)
    return Fail(why, label + ": its local header says " + ZipMethodName(method) + ", the central directory " +
                         ZipMethodName(rec.method));
  if ((flags ^ rec.flags) & zipfmt::kEncrypted)
    return Fail(why, label + ": its local header and the central directory disagree on whether it is encrypted");
  std::string name(nameLength, '\0');
  if (nameLength && !source.ReadAt(rec.localOffset + kLocalSize, name.data(), name.size()))
    return Fail(why, "the local header of " + label + " is cut short");
  local.disagreement.clear();
  auto note = [&](const std::string& what) { local.disagreement += (local.disagreement.empty() ? "" : ", ") + what; };
  if (name != rec.rawName) note("names it " + Quoted(name));
  std::vector<std::uint8_t> extra(extraLength);
  if (extraLength && !source.ReadAt(rec.localOffset + kLocalSize + nameLength, extra.data(), extra.size()))
    return Fail(why, "the local header of " + label + " is cut short");
  if (const std::string bad = ExtraProblem(extra.data(), extra.size()); !bad.empty()) note(bad.substr(3));
  // Sizes and CRC given after the data: they have to agree too.
  if (flags & zipfmt::kDataDescriptor) {
    const bool wide = rec.storedSize >= 0xFFFFFFFF || rec.size >= 0xFFFFFFFF;
    std::uint8_t d[24] = {};
    const std::uint64_t at = local.dataOffset + rec.storedSize;
    const std::size_t n = wide ? 24 : 16;
    const std::size_t got = at <= rec.limit ? static_cast<std::size_t>(std::min<std::uint64_t>(n, rec.limit - at)) : 0;
    if (got < n - 4 || !source.ReadAt(at, d, got)) {
      note("has no data descriptor after its bytes");
    } else {
      ByteReader dr(d, n);
      if (ByteReader(d, 4).U32() == 0x08074b50) dr.Skip(4);
      const std::uint32_t dcrc = dr.U32();
      const std::uint64_t dstored = wide ? U64(dr) : dr.U32(), dsize = wide ? U64(dr) : dr.U32();
      if (dcrc != rec.crc || dstored != rec.storedSize || dsize != rec.size)
        note("has a data descriptor that disagrees with the central directory");
    }
  }
  if (!(flags & zipfmt::kDataDescriptor)) {
    if (crc != rec.crc) note("gives another CRC");
    if (storedSize != 0xFFFFFFFF && storedSize != rec.storedSize)
      note("says " + std::to_string(storedSize) + " compressed bytes, not " + std::to_string(rec.storedSize));
    if (size != 0xFFFFFFFF && size != rec.size)
      note("says " + std::to_string(size) + " bytes, not " + std::to_string(rec.size));
  }
  if (dosTime != rec.dosTime) note("gives another date");
  if (!local.disagreement.empty())
    local.disagreement = label + ": its local header disagrees with the central directory: it " + local.disagreement;
  return true;
}

}  // namespace tarn
