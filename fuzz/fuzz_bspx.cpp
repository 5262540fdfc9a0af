// A map's BSPX table of any shape: every lump read lies inside the file, apart from the map's
// own lumps, the table and each other; the map loads with every face's lightmap inside the
// light; and a lump set, replaced and removed leaves the bytes before the table as they were and
// reads back as it was put.
#include <algorithm>
#include <cstdlib>
#include <string>

#include "maps/Bsp.h"
#include "maps/Bspx.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  tarn::BspHeader header;
  if (!tarn::ReadBspHeader(bytes, header, nullptr)) return 0;
  const tarn::BspxTable table = tarn::ReadBspxTable(bytes, header);
  if (table.lumps.size() > tarn::kMostBspxLumps) std::abort();
  for (std::size_t i = 0; i < table.lumps.size(); ++i) {
    const tarn::BspxLump& l = table.lumps[i];
    if (l.offset < table.at + 8 || l.length < 0 || l.offset + l.length > static_cast<std::int64_t>(size)) {
      if (l.length > 0) std::abort();
    }
    for (std::size_t k = 0; k < i; ++k) {
      const tarn::BspxLump& o = table.lumps[k];
      if (l.length > 0 && o.length > 0 && l.offset < o.offset + o.length && o.offset < l.offset + l.length)
        std::abort();
      if (o.name == l.name) std::abort();
    }
  }
  tarn::BspMap map;
  if (tarn::LoadBsp(bytes, map, nullptr))
    for (const tarn::BspFace& f : map.faces)
      if (f.lightOffset >= 0 && static_cast<std::uint64_t>(f.lightOffset) + static_cast<std::uint64_t>(f.lightWidth) *
                                                                                f.lightHeight * map.lightBytes *
                                                                                f.StyleCount() >
                                    map.lighting.size())
        std::abort();
  const std::vector<std::uint8_t> lump(bytes.begin(), bytes.begin() + std::min<std::size_t>(size, 37));
  std::vector<std::uint8_t> out, again;
  if (!tarn::EditBspxLump(bytes, "RGBLIGHTING", &lump, out, nullptr)) return 0;
  if (!std::equal(bytes.begin(), bytes.begin() + std::min<std::int64_t>(table.at, static_cast<std::int64_t>(size)),
                  out.begin()))
    std::abort();
  tarn::BspHeader outHeader;
  if (!tarn::ReadBspHeader(out, outHeader, nullptr)) std::abort();
  const tarn::BspxTable written = tarn::ReadBspxTable(out, outHeader);
  const tarn::BspxLump* l = written.Find("RGBLIGHTING");
  if (!written.problems.empty() || !l || l->length != static_cast<std::int64_t>(lump.size()) ||
      !std::equal(lump.begin(), lump.end(), out.begin() + l->offset))
    std::abort();
  if (!tarn::EditBspxLump(out, "RGBLIGHTING", nullptr, again, nullptr)) std::abort();
  if (!std::equal(bytes.begin(), bytes.begin() + std::min<std::int64_t>(table.at, static_cast<std::int64_t>(size)),
                  again.begin()))
    std::abort();
  return 0;
}
