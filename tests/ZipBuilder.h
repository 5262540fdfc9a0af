// Zips written byte by byte, local headers and central directory by hand, so that tests can
// make the ones no zip tool would: names with "..", lying sizes, wrong CRCs, encryption flags,
// a central directory cut short.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace tarn::test {

inline std::uint32_t Crc32(const Bytes& b) {
  std::uint32_t c = 0xFFFFFFFFu;
  for (std::uint8_t byte : b) {
    c ^= byte;
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
  }
  return ~c;
}

// A deflate stream of one stored block: valid deflate that no compressor would choose, so a
// copy that was inflated and deflated again is told from one copied as it is.
inline Bytes StoredBlockDeflate(const Bytes& data) {
  Bytes out = {1, static_cast<std::uint8_t>(data.size()), static_cast<std::uint8_t>(data.size() >> 8),
               static_cast<std::uint8_t>(~data.size()), static_cast<std::uint8_t>(~data.size() >> 8)};
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

class ZipBuilder {
 public:
  struct Entry {
    std::string name;
    Bytes data;  // as stored (compressed for method 8)
    std::uint16_t method = 0;
    std::uint16_t flags = 0;  // bit 0: encrypted
    std::uint32_t crc = 0;
    std::uint32_t size = 0;     // the declared uncompressed size
    std::uint32_t dosTime = 0;  // date in the high half, time in the low, as zips store them
  };

  ZipBuilder& Stored(const std::string& name, const Bytes& data) {
    entries_.push_back({name, data, 0, 0, Crc32(data), static_cast<std::uint32_t>(data.size())});
    return *this;
  }
  ZipBuilder& Stored(const std::string& name, const std::string& data) { return Stored(name, ToBytes(data)); }
  // Deflated as one stored block (data under 64 KiB).
  ZipBuilder& Deflated(const std::string& name, const Bytes& data) {
    entries_.push_back({name, StoredBlockDeflate(data), 8, 0, Crc32(data), static_cast<std::uint32_t>(data.size())});
    return *this;
  }
  Entry& Last() { return entries_.back(); }

  // Sizes, offsets and the count in zip64's records, as a zip tool does for large archives.
  ZipBuilder& Zip64() {
    zip64_ = true;
    return *this;
  }
  ZipBuilder& Comment(const std::string& text) {
    comment_ = text;
    return *this;
  }

  // The whole zip; cutCentral leaves out the central directory's second half and the end record.
  Bytes Build(bool cutCentral = false) const {
    Bytes out;
    std::vector<std::uint32_t> offsets;
    for (const Entry& e : entries_) {
      offsets.push_back(static_cast<std::uint32_t>(out.size()));
      Header(out, 0x04034b50, e, 0, false);
      out.insert(out.end(), e.data.begin(), e.data.end());
    }
    const std::size_t central = out.size();
    for (std::size_t i = 0; i < entries_.size(); ++i) Header(out, 0x02014b50, entries_[i], offsets[i], true);
    const std::size_t centralSize = out.size() - central;
    if (cutCentral) {
      out.resize(central + centralSize / 2);
      return out;
    }
    if (zip64_) {
      const std::size_t end64 = out.size();
      Put32(out, 0x06064b50);
      Put64(out, 44);
      Put16(out, 45);
      Put16(out, 45);
      Put32(out, 0);
      Put32(out, 0);
      Put64(out, entries_.size());
      Put64(out, entries_.size());
      Put64(out, centralSize);
      Put64(out, central);
      Put32(out, 0x07064b50);
      Put32(out, 0);
      Put64(out, end64);
      Put32(out, 1);
    }
    Put32(out, 0x06054b50);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, zip64_ ? 0xFFFF : static_cast<std::uint16_t>(entries_.size()));
    Put16(out, zip64_ ? 0xFFFF : static_cast<std::uint16_t>(entries_.size()));
    Put32(out, zip64_ ? 0xFFFFFFFF : static_cast<std::uint32_t>(centralSize));
    Put32(out, zip64_ ? 0xFFFFFFFF : static_cast<std::uint32_t>(central));
    Put16(out, static_cast<std::uint16_t>(comment_.size()));
    out.insert(out.end(), comment_.begin(), comment_.end());
    return out;
  }

 private:
  static void Put16(Bytes& b, std::uint16_t v) {
    b.insert(b.end(), {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)});
  }
  static void Put64(Bytes& b, std::uint64_t v) {
    Put32(b, static_cast<std::uint32_t>(v));
    Put32(b, static_cast<std::uint32_t>(v >> 32));
  }
  static void Put32(Bytes& b, std::uint32_t v) {
    Put16(b, static_cast<std::uint16_t>(v));
    Put16(b, static_cast<std::uint16_t>(v >> 16));
  }
  void Header(Bytes& b, std::uint32_t signature, const Entry& e, std::uint32_t offset, bool central) const {
    const bool wide = zip64_ && central;  // sizes and offset in the extra field
    Put32(b, signature);
    if (central) Put16(b, zip64_ ? 45 : 20);  // made by
    Put16(b, zip64_ ? 45 : 20);               // needed
    Put16(b, e.flags);
    Put16(b, e.method);
    Put32(b, e.dosTime);
    Put32(b, e.crc);
    Put32(b, wide ? 0xFFFFFFFF : static_cast<std::uint32_t>(e.data.size()));
    Put32(b, wide ? 0xFFFFFFFF : e.size);
    Put16(b, static_cast<std::uint16_t>(e.name.size()));
    Put16(b, wide ? 28 : 0);  // extra
    if (central) {
      Put16(b, 0);  // comment
      Put16(b, 0);  // disk
      Put16(b, 0);  // internal attributes
      Put32(b, 0);  // external attributes
      Put32(b, wide ? 0xFFFFFFFF : offset);
    }
    b.insert(b.end(), e.name.begin(), e.name.end());
    if (wide) {
      Put16(b, 1);
      Put16(b, 24);
      Put64(b, e.size);
      Put64(b, e.data.size());
      Put64(b, offset);
    }
  }

  std::vector<Entry> entries_;
  bool zip64_ = false;
  std::string comment_;
};

}  // namespace tarn::test
