#include "maps/MapHeader.h"

#include <cstring>

#include "fileio/ByteIO.h"

namespace tarn {

namespace {

bool StartsWith(std::span<const std::uint8_t> b, const char* magic) {
  const std::size_t n = std::strlen(magic);
  return b.size() >= n && std::memcmp(b.data(), magic, n) == 0;
}

// The lighting lump of the Quake-family header (LUMP_LIGHTING, 8).
constexpr std::size_t kLightingLump = 8;

}  // namespace

MapHeader ReadMapHeader(std::span<const std::uint8_t> bytes) {
  MapHeader h;
  try {
    ByteReader r(bytes);
    if (bytes.size() < 4) return h;
    // The versions Quakespasm's family tells apart (Quake/bspfile.h): BSPVERSION 29,
    // BSP2VERSION_2PSB, BSP2VERSION_BSP2 and BSPVERSION_QUAKE64, stored little-endian, so
    // that the file starts "2PSB", "BSP2" and " 46Q". Half-Life's maps are version 30, Quake
    // II's and Quake III's start "IBSP" (id-Software/Quake-2 qcommon/qfiles.h IDBSPHEADER).
    if (StartsWith(bytes, "IBSP")) {
      r.Skip(4);
      if (!r.CanRead(4)) return h;
      h.version = r.I32();
      h.kind = h.version == 38   ? MapHeader::Kind::Quake2
               : h.version == 46 ? MapHeader::Kind::Quake3
                                 : MapHeader::Kind::Unknown;
      return h;
    }
    // ericw-tools' extended Quake II layout (qbsp -qbism; include/common/bspfile_q2.hh
    // Q2_QBISMIDENT), version 38 as IBSP's.
    if (StartsWith(bytes, "QBSP")) {
      r.Skip(4);
      if (!r.CanRead(4)) return h;
      h.version = r.I32();
      h.kind = h.version == 38 ? MapHeader::Kind::Quake2Qbism : MapHeader::Kind::Unknown;
      return h;
    }
    h.version = r.I32();
    if (StartsWith(bytes, "BSP2")) h.kind = MapHeader::Kind::Bsp2;
    else if (StartsWith(bytes, "2PSB")) h.kind = MapHeader::Kind::Bsp2Old;
    else if (StartsWith(bytes, " 46Q")) h.kind = MapHeader::Kind::Quake64;
    else if (h.version == 29) h.kind = MapHeader::Kind::Quake;
    else if (h.version == 30) h.kind = MapHeader::Kind::HalfLife;
    else h.kind = MapHeader::Kind::Unknown;
    if (h.kind == MapHeader::Kind::HalfLife || h.kind == MapHeader::Kind::Unknown) return h;
    if (bytes.size() < kMapHeaderBytes) return h;
    r.Seek(4 + kLightingLump * 8 + 4);
    const std::int32_t length = r.I32();
    h.hasLighting = length >= 0;
    h.lightingLength = length;
  } catch (const ParseError&) {
    // Every read above is checked first; a cut header keeps what was read.
  }
  return h;
}

LitHeader ReadLitHeader(std::span<const std::uint8_t> bytes) {
  LitHeader h;
  if (bytes.size() < 8 || !StartsWith(bytes, "QLIT")) return h;
  ByteReader r(bytes);
  r.Skip(4);
  h.qlit = true;
  h.version = r.I32();
  return h;
}

}  // namespace tarn
