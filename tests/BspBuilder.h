// Builds compiled maps for the tests: Quake 29, BSP2, 2PSB, Half-Life 30 and Quake II IBSP 38,
// holding square floor tiles, their textures and lighting, and an entity lump.
#pragma once

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "maps/Bsp.h"

namespace tarn::test {

// A miptex: name, size, normal mip offsets, pixels of one value, and for Half-Life a palette
// of 256 colours after the smallest level.
inline Bytes BspMiptex(const std::string& name, std::uint32_t w, std::uint32_t h, std::uint8_t fill,
                       bool headerOnly = false, bool palette = false) {
  Bytes b(40, 0);
  std::memcpy(b.data(), name.data(), std::min<std::size_t>(name.size(), 16));
  PutU32(b, 16, w);
  PutU32(b, 20, h);
  if (headerOnly) return b;
  std::uint32_t at = 40;
  for (int k = 0; k < 4; ++k) {
    PutU32(b, 24 + 4 * k, at);
    at += (w >> k) * (h >> k);
  }
  b.resize(at, fill);
  if (palette) {
    b.push_back(0);
    b.push_back(1);
    for (int i = 0; i < 256; ++i) b.insert(b.end(), {static_cast<std::uint8_t>(i), 7, 9});
  }
  return b;
}

inline BspLumpIndex LumpIndex(BspFormat format) {
  BspHeader h;
  h.format = format;
  return h.Index();
}

class BspBuilder {
 public:
  explicit BspBuilder(BspFormat format) : m_format(format) {}

  std::string entities =
      "{\n\"classname\" \"worldspawn\"\n}\n{\n\"classname\" \"info_player_start\"\n\"origin\" \"32 32 24\"\n"
      "\"angle\" \"90\"\n}\n";
  std::vector<Bytes> miptex;                               // Quake and Half-Life; an empty blob is an offset of -1
  std::vector<std::string> textureNames = {"e1u1/floor"};  // Quake II, one texinfo each
  Bytes lighting;

  // A floor tile side units square at (x, y), height 0, lit from lightOffset (-1: unlit) with one
  // style.
  BspBuilder& Tile(float x, float y, int texinfo = 0, std::int32_t lightOffset = -1, float side = 64) {
    // Clockwise seen from above, as compilers wind a floor: the side it is seen from.
    return Quad({{{x, y, 0}, {x, y + side, 0}, {x + side, y + side, 0}, {x + side, y, 0}}}, texinfo, lightOffset);
  }
  // A face of four corners, in the order given.
  BspBuilder& Quad(const std::array<std::array<float, 3>, 4>& corners, int texinfo, std::int32_t lightOffset) {
    const std::uint32_t first = static_cast<std::uint32_t>(m_surfedges.size());
    const std::uint32_t base = static_cast<std::uint32_t>(m_vertices.size());
    for (const auto& c : corners) m_vertices.push_back(c);
    for (std::uint32_t k = 0; k < 4; ++k) {
      m_edges.push_back({base + k, base + (k + 1) % 4});
      m_surfedges.push_back(static_cast<std::int32_t>(m_edges.size() - 1));
    }
    m_faces.push_back({first, 4, texinfo, lightOffset});
    return *this;
  }
  // n faces more on the last face's edges, as no compiler writes them.
  BspBuilder& Repeat(int n) {
    for (int i = 0; i < n; ++i) m_faces.push_back(m_faces.back());
    return *this;
  }
  // The last face's first edge and count, to damage it.
  BspBuilder& FaceEdges(std::int64_t first, std::int64_t count) {
    m_faces.back().firstEdge = first;
    m_faces.back().edges = count;
    return *this;
  }

  bool Quake2() const { return m_format == BspFormat::Quake2; }
  bool Wide() const { return m_format == BspFormat::Bsp2 || m_format == BspFormat::Bsp2Old; }
  std::size_t LumpCount() const { return Quake2() ? 19 : 15; }
  std::size_t Table() const { return Quake2() ? 8 : 4; }

  Bytes Build() const {
    const BspLumpIndex ix = LumpIndex(m_format);
    std::vector<Bytes> lumps(LumpCount());
    lumps[static_cast<std::size_t>(ix.entities)] = ToBytes(entities + std::string(1, '\0'));
    for (const auto& v : m_vertices)
      for (float f : v) Float(lumps[static_cast<std::size_t>(ix.vertices)], f);
    for (const auto& e : m_edges) {
      Bytes& l = lumps[static_cast<std::size_t>(ix.edges)];
      if (Wide()) U32(l, e[0]), U32(l, e[1]);
      else U16(l, e[0]), U16(l, e[1]);
    }
    for (std::int32_t s : m_surfedges)
      U32(lumps[static_cast<std::size_t>(ix.surfedges)], static_cast<std::uint32_t>(s));
    for (const Face& f : m_faces) {
      Bytes& l = lumps[static_cast<std::size_t>(ix.faces)];
      if (Wide()) {
        U32(l, 0), U32(l, 0), U32(l, static_cast<std::uint32_t>(f.firstEdge));
        U32(l, static_cast<std::uint32_t>(f.edges)), U32(l, static_cast<std::uint32_t>(f.texinfo));
      } else {
        U16(l, 0), U16(l, 0), U32(l, static_cast<std::uint32_t>(f.firstEdge));
        U16(l, static_cast<std::uint16_t>(f.edges)), U16(l, static_cast<std::uint16_t>(f.texinfo));
      }
      l.insert(l.end(), {static_cast<std::uint8_t>(f.lightOffset < 0 ? 255 : 0), 255, 255, 255});
      U32(l, static_cast<std::uint32_t>(f.lightOffset));
    }
    // Texture coordinates follow x and y, one texel a unit.
    const std::size_t texinfos = Quake2() ? textureNames.size() : std::max<std::size_t>(miptex.size(), 1);
    for (std::size_t i = 0; i < texinfos; ++i) {
      Bytes& l = lumps[static_cast<std::size_t>(ix.texinfo)];
      for (float f : {1.f, 0.f, 0.f, 0.f, 0.f, 1.f, 0.f, 0.f}) Float(l, f);
      if (Quake2()) {
        U32(l, 0), U32(l, 0);
        Bytes name(32, 0);
        std::memcpy(name.data(), textureNames[i].data(), std::min<std::size_t>(textureNames[i].size(), 32));
        l.insert(l.end(), name.begin(), name.end());
        U32(l, 0xFFFFFFFF);
      } else {
        U32(l, static_cast<std::uint32_t>(i)), U32(l, 0);
      }
    }
    if (!Quake2()) {
      Bytes& l = lumps[static_cast<std::size_t>(ix.textures)];
      U32(l, static_cast<std::uint32_t>(miptex.size()));
      l.resize(4 + 4 * miptex.size());
      for (std::size_t i = 0; i < miptex.size(); ++i) {
        PutU32(l, 4 + 4 * i, miptex[i].empty() ? 0xFFFFFFFF : static_cast<std::uint32_t>(l.size()));
        l.insert(l.end(), miptex[i].begin(), miptex[i].end());
        while (l.size() % 4) l.push_back(0);
      }
    }
    lumps[static_cast<std::size_t>(ix.lighting)] = lighting;
    {
      Bytes& l = lumps[static_cast<std::size_t>(ix.models)];
      for (float f : {0.f, 0.f, 0.f, 1024.f, 1024.f, 64.f, 0.f, 0.f, 0.f}) Float(l, f);
      l.resize(l.size() + (Quake2() ? 4 : 20), 0);
      U32(l, 0), U32(l, static_cast<std::uint32_t>(m_faces.size()));
    }
    Bytes out(Table() + LumpCount() * 8, 0);
    if (Quake2()) std::memcpy(out.data(), "IBSP", 4), PutU32(out, 4, 38);
    else if (m_format == BspFormat::Bsp2) std::memcpy(out.data(), "BSP2", 4);
    else if (m_format == BspFormat::Bsp2Old) std::memcpy(out.data(), "2PSB", 4);
    else PutU32(out, 0, m_format == BspFormat::HalfLife ? 30 : 29);
    for (std::size_t i = 0; i < lumps.size(); ++i) {
      PutU32(out, Table() + i * 8, static_cast<std::uint32_t>(out.size()));
      PutU32(out, Table() + i * 8 + 4, static_cast<std::uint32_t>(lumps[i].size()));
      out.insert(out.end(), lumps[i].begin(), lumps[i].end());
      while (out.size() % 4) out.push_back(0);
    }
    return out;
  }

 private:
  struct Face {
    std::int64_t firstEdge, edges, texinfo;
    std::int32_t lightOffset;
  };
  static void U16(Bytes& b, std::uint32_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
  }
  static void U32(Bytes& b, std::uint32_t v) { PutU32(b, b.size(), v); }
  static void Float(Bytes& b, float f) {
    std::uint32_t bits;
    std::memcpy(&bits, &f, 4);
    U32(b, bits);
  }

  BspFormat m_format;
  std::vector<std::array<float, 3>> m_vertices;
  std::vector<std::array<std::uint32_t, 2>> m_edges;
  std::vector<std::int32_t> m_surfedges;
  std::vector<Face> m_faces;
};

// Bytes of a lightmap sample.
inline int SampleBytes(BspFormat f) { return f == BspFormat::Quake2 || f == BspFormat::HalfLife ? 3 : 1; }

// Two lit tiles and one unlit, textured.
inline BspBuilder LitTiles(BspFormat f) {
  BspBuilder b(f);
  b.miptex = {BspMiptex("floor", 16, 16, 5, false, f == BspFormat::HalfLife)};
  b.lighting = Bytes(2 * 25 * static_cast<std::size_t>(SampleBytes(f)), 200);
  b.Tile(0, 0, 0, 0).Tile(64, 0, 0, 25 * SampleBytes(f)).Tile(128, 0);
  return b;
}

// n floors side units square, each lit from the same lightmap at offset 0 (side / 16 + 1
// luxels a side, the lighting lump just that large), on the first face's edges: a few hundred
// bytes a face asking for a lightmap the size of a light page.
inline BspBuilder SharedLightFloors(int n, float side = 9600, std::uint8_t light = 200) {
  BspBuilder b(BspFormat::Quake);
  b.miptex = {BspMiptex("floor", 16, 16, 5)};
  const auto luxels = static_cast<std::size_t>(side / 16) + 1;
  b.lighting = Bytes(luxels * luxels, light);
  b.Tile(0, 0, 0, 0, side).Repeat(n - 1);
  return b;
}

// n walls across the view from the player start (at the origin, looking along +x), the
// farthest first so that each is drawn over the last, every one far wider than the view.
inline BspBuilder PiledWalls(int n) {
  BspBuilder b(BspFormat::Quake);
  b.miptex = {BspMiptex("wall", 16, 16, 5)};
  b.entities = "{\n\"classname\" \"worldspawn\"\n}\n{\n\"classname\" \"info_player_start\"\n\"origin\" \"0 0 0\"\n}\n";
  constexpr float kWide = 100000;
  for (int i = n; i > 0; --i) {
    const float x = 64 + static_cast<float>(i);
    // Clockwise seen from the start, the side that is drawn.
    b.Quad({{{x, -kWide, -kWide}, {x, kWide, -kWide}, {x, kWide, kWide}, {x, -kWide, kWide}}}, 0, -1);
  }
  return b;
}

// A Quake II room whose six walls are sky, around the origin, with the worldspawn's "sky".
inline Bytes Quake2SkyRoom(const std::string& worldspawn) {
  BspBuilder b(BspFormat::Quake2);
  b.entities = "{\n\"classname\" \"worldspawn\"\n" + worldspawn + "}\n";  // no start: both sides drawn
  b.textureNames = {"e1u1/sky1"};
  constexpr float r = 64;
  b.Quad({{{r, -r, -r}, {r, r, -r}, {r, r, r}, {r, -r, r}}}, 0, -1);
  b.Quad({{{-r, -r, -r}, {-r, r, -r}, {-r, r, r}, {-r, -r, r}}}, 0, -1);
  b.Quad({{{-r, r, -r}, {r, r, -r}, {r, r, r}, {-r, r, r}}}, 0, -1);
  b.Quad({{{-r, -r, -r}, {r, -r, -r}, {r, -r, r}, {-r, -r, r}}}, 0, -1);
  b.Quad({{{-r, -r, r}, {r, -r, r}, {r, r, r}, {-r, r, r}}}, 0, -1);
  b.Quad({{{-r, -r, -r}, {r, -r, -r}, {r, r, -r}, {-r, r, -r}}}, 0, -1);
  Bytes bytes = b.Build();
  BspHeader h;
  if (!ReadBspHeader(bytes, h, nullptr)) return bytes;
  PutU32(bytes,
         static_cast<std::size_t>(h.lumps[static_cast<std::size_t>(LumpIndex(BspFormat::Quake2).texinfo)].offset) + 32,
         0x4 | 0x80);  // SURF_SKY | SURF_NODRAW, as compilers mark sky
  return bytes;
}

// Where lump i's offset and length are stored in the header.
inline std::size_t LumpField(BspFormat format, std::size_t i) { return (format == BspFormat::Quake2 ? 8 : 4) + i * 8; }

}  // namespace tarn::test
