// The BSPX lump table that ericw-tools and other compilers append to a map after its last lump
// (ericw-tools include/common/bspxfile.hh, common/bspfile.cc LoadBSPFile): "BSPX", a count,
// then one 32-byte record a lump (a 24-byte name ending in NUL, an offset and a length from the
// start of the file), the lumps after it. It sits where the last of the map's own lumps ends,
// rounded up to 4 bytes. The lumps Tarn uses light the faces: RGBLIGHTING (3 bytes a sample),
// LIGHTING_E5BGR9 (a packed HDR sample in 4), LMSHIFT, LMOFFSET and LMSTYLE (each face's
// lightmap scale, offset and styles) and DECOUPLED_LM (each face's own lightmap size and axes).
//
// A table that lies is read as far as it is true: a lump outside the file, overlapping the
// map's lumps, the table or another lump, or named without its NUL is left out with a problem;
// a table of more records than kMostBspxLumps, or one cut short, is not read at all.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "maps/Bsp.h"

namespace tarn {

inline constexpr std::size_t kBspxNameSize = 24;
inline constexpr std::size_t kBspxRecordSize = 32;
// Compilers write a handful; a few hundred would already be no map's.
inline constexpr std::uint32_t kMostBspxLumps = 1024;

struct BspxTable {
  bool present = false;               // "BSPX" where the table belongs
  std::int64_t at = 0;                // where the table is (or would go): the map's lumps' end, rounded up to 4
  std::uint32_t listed = 0;           // records the table says it has
  std::vector<BspxLump> lumps;        // those that can be read, in the table's order
  std::vector<std::string> problems;  // what was left out, and why
  const BspxLump* Find(std::string_view name) const;
};

// The table of a map whose header reads (header from ReadBspHeader). Never fails: a map
// without one gives present false.
BspxTable ReadBspxTable(std::span<const std::uint8_t> bytes, const BspHeader& header);

// The map with the BSPX lump name set to data (replaced where it is, else added at the end of
// the table), or removed (data null). The map's own lumps and every byte before the table are
// kept; the table and its lumps are written anew after them, each lump whole and padded to 4
// bytes, in the table's order. False, with a reason, when the map cannot be read, its table is
// damaged (nothing it holds is dropped unasked), the name is not one a table holds (1 to 23
// bytes without NUL), a lump to remove is not there, or bytes that are no table follow the
// map's lumps.
bool EditBspxLump(std::span<const std::uint8_t> bytes, std::string_view name, const std::vector<std::uint8_t>* data,
                  std::vector<std::uint8_t>& out, std::string* error);

// An E5BGR9 sample (ericw-tools common/litfile.cc HDR_UnpackE5BRG9: 5 bits of exponent biased
// by 24 over 9 bits each of blue, green and red) as the 8-bit light a Quake lightmap holds:
// 1.0 is 128, as ericw-tools' light writes it (HDR_ONE), clamped at 255.
void UnpackE5bgr9(std::uint32_t packed, std::uint8_t rgb[3]);

}  // namespace tarn
