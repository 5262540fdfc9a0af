// Compiled maps (.bsp) read whole, for drawing and for their facts: Quake's version 29, the
// extended "BSP2" and "2PSB" layouts, Half-Life's version 30 and Quake II's IBSP 38 and its
// extended QBSP; the light of a BSPX table after the lumps (Bspx.h) is taken over the map's own. Faces come
// out as polygons with texture and lightmap coordinates; the entity lump as text; embedded mip
// textures decoded. Every count and offset is checked against the lump it points into: what
// cannot be read whole is an error (the header, a lump outside the file) or is left out and
// counted among the problems (a face whose edges lie outside the edge list, a lightmap past
// the lighting lump, a texture offset of -1).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "pictures/Pictures.h"

namespace tarn {

enum class BspFormat { Quake, Bsp2, Bsp2Old, HalfLife, Quake2, Quake2Qbism };

// Quake II's IBSP and the extended QBSP that ericw-tools writes for larger maps (-qbism), which
// the 2023 re-release reads.
inline bool BspIsQuake2(BspFormat f) { return f == BspFormat::Quake2 || f == BspFormat::Quake2Qbism; }

// "BSP29", "BSP2", "2PSB", "BSP30", "IBSP38", "QBSP38".
const char* BspFormatName(BspFormat format);
// "Quake", "Quake, extended", "Half-Life", "Quake II", "Quake II, extended".
const char* BspGameName(BspFormat format);

struct BspLump {
  std::int64_t offset = 0;
  std::int64_t length = 0;
};

// Where each kind of lump sits in a format's header; -1 where the format has none.
struct BspLumpIndex {
  int entities, planes, textures, vertices, texinfo, faces, lighting, edges, surfedges, models;
};

struct BspxLump {
  std::string name;
  std::int64_t offset = 0, length = 0;
};

struct BspHeader {
  BspFormat format = BspFormat::Quake;
  std::int32_t version = 0;
  std::size_t headerSize = 0;
  std::vector<BspLump> lumps;  // 15, or 19 for Quake II
  BspLumpIndex Index() const;
};

// The lump's name in the engine's sources, lower case ("entities", "faces", "lighting", ...).
const char* BspLumpName(BspFormat format, std::size_t index);

// False, with a reason, for a file that is not a map of the formats above, whose header is cut
// short or whose lumps do not lie inside it.
bool ReadBspHeader(std::span<const std::uint8_t> bytes, BspHeader& header, std::string* error);

struct BspVertex {
  float x = 0, y = 0, z = 0;
  float s = 0, t = 0;  // texture coordinates in texels (divide by the texture's size)
  float u = 0, v = 0;  // lightmap coordinates in luxels of the face's lightmap, centres at .5
};

struct BspFace {
  std::uint32_t first = 0;  // vertices[first, first + count): a convex polygon, in the map's order
  std::uint32_t count = 0;
  std::int32_t texture = -1;  // into BspMap::textures; -1 for none
  std::int32_t texinfo = -1;
  std::uint32_t flags = 0;  // the texinfo's flags (Quake II's SURF_*)
  std::array<std::uint8_t, 4> styles{255, 255, 255, 255};
  // The face's first lightmap, in bytes into BspMap::lighting; -1 when the face is unlit. Each
  // style's lightmap is lightWidth × lightHeight samples of BspMap::lightBytes bytes, one after
  // another.
  std::int64_t lightOffset = -1;
  int lightWidth = 0;
  int lightHeight = 0;
  // Texels a luxel: 16, or what a BSPX LMSHIFT gives the face; 0 when a DECOUPLED_LM lightmap
  // has axes of its own.
  int luxel = 16;
  // Its place in the faces lump (models name faces by it); faces that cannot be read leave gaps.
  std::int64_t index = 0;
  // Lit but given no light by the map (no offset, or no style), though the map has some: the
  // engines draw it black (Quakespasm r_brush.c R_BuildLightMap adds no light to it).
  bool dark = false;
  int StyleCount() const;
};

struct BspTexture {
  std::string name;
  int width = 0, height = 0;  // from the map's header (0 for Quake II, whose sizes are the WALs')
  bool missing = false;       // an offset of -1, or a miptex the lump cannot hold
  bool embedded = false;      // pixels decoded into picture
  Picture picture;
  Palette palette;  // Half-Life's own; Quake's for the others that are embedded
};

struct BspModel {
  float mins[3]{}, maxs[3]{}, origin[3]{};
  std::int32_t firstFace = 0, faceCount = 0;
};

struct BspMap {
  BspHeader header;
  std::string entities;  // the entity lump up to its NUL
  std::vector<BspVertex> vertices;
  std::vector<BspFace> faces;
  std::vector<BspTexture> textures;
  std::vector<BspModel> models;
  std::size_t texinfoCount = 0;
  std::vector<std::uint8_t> lighting;
  int lightBytes = 1;         // per sample: 1 grey (Quake), 3 red, green, blue (Half-Life, Quake II, a .lit)
  bool coloredByLit = false;  // lighting came from a .lit
  // Where the light comes from: "lighting lump", "BSPX RGBLIGHTING", "BSPX LIGHTING_E5BGR9",
  // ".lit", ".lit (HDR)"; empty for a map without light.
  std::string lightSource;
  // Samples of the map's own lighting lump (its bytes, or a third of them for coloured light):
  // what a .lit beside it must hold.
  std::int64_t lumpSamples = 0;
  // The readable lumps of a BSPX table after the map's own (Bspx.h), and the per-face lumps of
  // it that light the faces (LMSHIFT, LMOFFSET, LMSTYLE, DECOUPLED_LM) that were used.
  std::vector<BspxLump> bspx;
  std::vector<std::string> bspxLighting;
  // What was left out, one line per kind of damage ("3 faces skipped: their edges lie outside
  // the edge list").
  std::vector<std::string> problems;
};

// False, with a reason, when the header is unusable or a lump the faces need cannot be read.
bool LoadBsp(std::span<const std::uint8_t> bytes, BspMap& map, std::string* error);

// A .lit's size for the map: 8 + 3 × the lighting lump; 0 for maps that take none (their
// lighting is coloured already, or there is none).
std::int64_t ExpectedLitSize(const BspHeader& header);

// The .lit versions Tarn reads: 1 (3 bytes a sample) and ericw-tools' HDR one (0x10001, an
// E5BGR9 sample in 4 bytes; common/litfile.hh LIT_VERSION_E5BGR9).
inline constexpr std::int32_t kLitVersion = 1, kLitVersionHdr = 0x10001;

// Takes the coloured light of a .lit ("QLIT", version 1 with 3 bytes, or the HDR version with 4
// bytes, for each byte of the lighting lump) in place of the map's grey light. False, with a
// reason, when it does not match or the map's BSPX table colours it already; the map is
// unchanged then.
bool ApplyLit(BspMap& map, std::span<const std::uint8_t> lit, std::string* error);

// The map with its entity lump replaced by text (and the NUL engines expect after it): every
// other lump byte for byte, those after it moved and their offsets corrected, as are a BSPX
// lump table's. False, with a reason, when the map cannot be read or its lumps overlap the
// entity lump.
bool ReplaceEntityLump(std::span<const std::uint8_t> bytes, std::string_view text, std::vector<std::uint8_t>& out,
                       std::string* error);

// The map with lump index (of its header) replaced by data, as ReplaceEntityLump moves the
// others: the bytes between lumps and before the first kept, the lumps after it moved whole.
bool ReplaceBspLump(std::span<const std::uint8_t> bytes, std::size_t index, std::span<const std::uint8_t> data,
                    std::vector<std::uint8_t>& out, std::string* error);

}  // namespace tarn
