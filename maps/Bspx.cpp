#include "maps/Bspx.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "fileio/ByteIO.h"
#include "fileio/Strings.h"

namespace tarn {

namespace {

std::int64_t LumpsEnd(const BspHeader& header) {
  std::int64_t end = static_cast<std::int64_t>(header.headerSize);
  for (const BspLump& l : header.lumps) end = std::max(end, l.offset + l.length);
  return end;
}

bool Overlap(std::int64_t a, std::int64_t an, std::int64_t b, std::int64_t bn) {
  return an > 0 && bn > 0 && a < b + bn && b < a + an;
}

void PutU32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
  for (int k = 0; k < 4; ++k) out[at + static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(v >> (8 * k));
}

}  // namespace

const BspxLump* BspxTable::Find(std::string_view name) const {
  for (const BspxLump& l : lumps)
    if (l.name == name) return &l;
  return nullptr;
}

BspxTable ReadBspxTable(std::span<const std::uint8_t> bytes, const BspHeader& header) {
  BspxTable t;
  const std::int64_t size = static_cast<std::int64_t>(bytes.size());
  t.at = (LumpsEnd(header) + 3) & ~std::int64_t{3};
  if (t.at + 8 > size || std::memcmp(bytes.data() + t.at, "BSPX", 4) != 0) return t;
  t.present = true;
  ByteReader r(bytes);
  r.Seek(static_cast<std::size_t>(t.at + 4));
  t.listed = r.U32();
  if (t.listed > kMostBspxLumps) {
    t.problems.push_back("the BSPX table lists " + std::to_string(t.listed) + " lumps, more than the " +
                         std::to_string(kMostBspxLumps) + " Tarn reads; none of them is used");
    return t;
  }
  const std::int64_t tableEnd = t.at + 8 + static_cast<std::int64_t>(t.listed) * kBspxRecordSize;
  if (tableEnd > size) {
    t.problems.push_back("the BSPX table of " + std::to_string(t.listed) + " lumps runs past the end of the file; " +
                         "none of them is used");
    return t;
  }
  for (std::uint32_t i = 0; i < t.listed; ++i) {
    bool terminated = false;
    BspxLump l;
    l.name = r.FixedString(kBspxNameSize, &terminated);
    l.offset = r.U32();
    l.length = r.U32();
    const std::string label = "BSPX lump " + std::to_string(i) + (terminated ? " " + Quoted(l.name) : "");
    if (!terminated || l.name.empty()) {
      t.problems.push_back(label + (terminated ? " has no name" : " has a name without its NUL") + "; left out");
      continue;
    }
    if (l.offset > size || l.length > size - l.offset) {
      t.problems.push_back(label + " (offset " + std::to_string(l.offset) + ", " + std::to_string(l.length) +
                           " bytes) lies past the end of the file of " + std::to_string(size) + " bytes; left out");
      continue;
    }
    std::string clash;
    if (Overlap(l.offset, l.length, 0, t.at)) clash = "the map's own lumps";
    else if (Overlap(l.offset, l.length, t.at, tableEnd - t.at)) clash = "the BSPX table";
    for (const BspxLump& o : t.lumps)
      if (clash.empty() && Overlap(l.offset, l.length, o.offset, o.length)) clash = "BSPX lump " + Quoted(o.name);
    if (!clash.empty()) {
      t.problems.push_back(label + " overlaps " + clash + "; left out");
      continue;
    }
    if (t.Find(l.name)) {
      t.problems.push_back(label + " is named twice; the first is used");
      continue;
    }
    t.lumps.push_back(std::move(l));
  }
  return t;
}

bool EditBspxLump(std::span<const std::uint8_t> bytes, std::string_view name, const std::vector<std::uint8_t>* data,
                  std::vector<std::uint8_t>& out, std::string* error) {
  BspHeader header;
  if (!ReadBspHeader(bytes, header, error)) return false;
  if (name.empty() || name.size() >= kBspxNameSize || name.find('\0') != std::string_view::npos)
    return Fail(error, "a BSPX lump's name is 1 to " + std::to_string(kBspxNameSize - 1) + " bytes, not " +
                           Quoted(std::string(name)));
  const BspxTable table = ReadBspxTable(bytes, header);
  if (!table.problems.empty()) return Fail(error, "the map's BSPX table is damaged (" + table.problems.front() + ")");
  const std::int64_t size = static_cast<std::int64_t>(bytes.size());
  if (!table.present) {
    // Only padding may stand between the last lump and where the table goes.
    const std::int64_t end = LumpsEnd(header);
    for (std::int64_t i = end; i < size; ++i)
      if (i >= table.at || bytes[static_cast<std::size_t>(i)] != 0)
        return Fail(error, std::to_string(size - end) + " bytes that are no BSPX table follow the map's last lump");
  }
  std::vector<BspxLump> lumps = table.lumps;
  const auto it = std::find_if(lumps.begin(), lumps.end(), [&](const BspxLump& l) { return l.name == name; });
  if (!data && it == lumps.end()) return Fail(error, "the map has no BSPX lump " + Quoted(std::string(name)));
  if (data && data->size() > INT32_MAX) return Fail(error, "the lump would be too large");
  if (!data) lumps.erase(it);
  else if (it == lumps.end()) lumps.push_back({std::string(name), -1, static_cast<std::int64_t>(data->size())});
  else *it = {std::string(name), -1, static_cast<std::int64_t>(data->size())};

  std::uint64_t total = static_cast<std::uint64_t>(table.at);
  if (!lumps.empty()) total += 8 + lumps.size() * kBspxRecordSize;
  for (const BspxLump& l : lumps) total += (static_cast<std::uint64_t>(l.length) + 3) & ~std::uint64_t{3};
  if (total > INT32_MAX) return Fail(error, "the map would be too large");

  out.assign(bytes.begin(), bytes.begin() + std::min(table.at, size));
  out.resize(static_cast<std::size_t>(table.at), 0);
  if (lumps.empty()) return true;  // no table at all rather than an empty one
  out.insert(out.end(), {'B', 'S', 'P', 'X', 0, 0, 0, 0});
  PutU32(out, out.size() - 4, static_cast<std::uint32_t>(lumps.size()));
  const std::size_t records = out.size();
  out.resize(records + lumps.size() * kBspxRecordSize, 0);
  for (std::size_t i = 0; i < lumps.size(); ++i) {
    const BspxLump& l = lumps[i];
    const std::size_t at = out.size();
    if (l.offset < 0) out.insert(out.end(), data->begin(), data->end());
    else out.insert(out.end(), bytes.begin() + l.offset, bytes.begin() + l.offset + l.length);
    out.resize((out.size() + 3) & ~std::size_t{3}, 0);
    std::uint8_t* record = out.data() + records + i * kBspxRecordSize;
    std::memcpy(record, l.name.data(), l.name.size());
    PutU32(out, records + i * kBspxRecordSize + kBspxNameSize, static_cast<std::uint32_t>(at));
    PutU32(out, records + i * kBspxRecordSize + kBspxNameSize + 4, static_cast<std::uint32_t>(l.length));
  }
  return true;
}

void UnpackE5bgr9(std::uint32_t packed, std::uint8_t rgb[3]) {
  const int exponent = static_cast<int>(packed >> 27) - 24;
  const float scale = std::ldexp(128.0f, exponent);
  const std::uint32_t parts[3] = {packed & 0x1ff, (packed >> 9) & 0x1ff, (packed >> 18) & 0x1ff};
  for (int k = 0; k < 3; ++k)
    rgb[k] = static_cast<std::uint8_t>(std::min(std::lround(static_cast<float>(parts[k]) * scale), 255L));
}

}  // namespace tarn
