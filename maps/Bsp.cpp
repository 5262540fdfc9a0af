#include "maps/Bsp.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <unordered_map>

#include "fileio/ByteIO.h"
#include "fileio/Strings.h"
#include "maps/Bspx.h"
#include "maps/MapHeader.h"

namespace tarn {

namespace {

// Record sizes and lump orders: id-Software/Quake WinQuake/bspfile.h, id-Software/Quake-2
// qcommon/qfiles.h, and for BSP2 Quakespasm's Quake/bspfile.h (dface2_t, dedge2_t). Half-Life's
// lumps are Quake's, in the same order.
constexpr BspLumpIndex kQuakeIndex{0, 1, 2, 3, 6, 7, 8, 12, 13, 14};
constexpr BspLumpIndex kQuake2Index{0, 1, -1, 2, 5, 6, 7, 11, 12, 13};
constexpr const char* kQuakeLumps[] = {"entities", "planes",       "textures", "vertexes",  "visibility",
                                       "nodes",    "texinfo",      "faces",    "lighting",  "clipnodes",
                                       "leafs",    "marksurfaces", "edges",    "surfedges", "models"};
constexpr const char* kQuake2Lumps[] = {"entities",    "planes", "vertexes",  "visibility", "nodes",
                                        "texinfo",     "faces",  "lighting",  "leafs",      "leaffaces",
                                        "leafbrushes", "edges",  "surfedges", "models",     "brushes",
                                        "brushsides",  "pop",    "areas",     "areaportals"};
constexpr std::size_t kVertexSize = 12;
constexpr std::size_t kQuakeTexinfoSize = 40, kQuake2TexinfoSize = 76;
constexpr std::size_t kQuake2TextureName = 32;
constexpr std::size_t kQuakeModelSize = 64, kQuake2ModelSize = 48;
// Quake's textures with TEX_SPECIAL (sky, liquids) and Quake II's sky and warped surfaces have
// no lightmap whatever their lightofs says (gl_model.c CalcSurfaceExtents; ref_gl's
// GL_BeginBuildingLightmaps skips SURF_SKY|SURF_WARP).
constexpr std::uint32_t kQuakeSpecial = 1;
constexpr std::uint32_t kQuake2SkyOrWarp = 0x4 | 0x8;
// A luxel every 16 texels, and no lightmap wider than this many luxels on either side: the
// engines refuse far less ("Bad surface extents"); beyond this is damage, not a map.
constexpr int kLuxel = 16;
constexpr int kMaxLightSide = 1024;

bool IsQuake2(BspFormat f) { return BspIsQuake2(f); }
// Quake II's extended "QBSP" widens the same records as BSP2 (ericw-tools
// include/common/bspfile_q2.hh q2_dface_qbism_t, its edges bsp2_dedge_t).
bool IsWide(BspFormat f) { return f == BspFormat::Bsp2 || f == BspFormat::Bsp2Old || f == BspFormat::Quake2Qbism; }

std::string Plural(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

struct Texinfo {
  float vecs[2][4]{};
  std::int32_t texture = -1;
  std::uint32_t flags = 0;
};

// Counts each kind of damage once, so that a map with ten thousand bad faces reports one line.
class CProblems {
 public:
  void Add(const std::string& kind) { ++m_counts[kind]; }
  void Into(std::vector<std::string>& out) const {
    for (const auto& [kind, n] : m_counts) out.push_back(Plural(n, "face", "faces") + " " + kind);
  }

 private:
  std::map<std::string, std::size_t> m_counts;
};

ByteReader LumpReader(std::span<const std::uint8_t> bytes, const BspHeader& h, int index) {
  if (index < 0) return ByteReader();
  const BspLump& l = h.lumps[static_cast<std::size_t>(index)];
  return ByteReader(bytes.data() + l.offset, static_cast<std::size_t>(l.length));
}

// The record count of a lump, or false when it is not whole records.
bool Records(const BspHeader& h, int index, std::size_t size, std::size_t& count, std::string* error) {
  const BspLump& l = h.lumps[static_cast<std::size_t>(index)];
  if (l.length % static_cast<std::int64_t>(size) != 0)
    return Fail(error, std::string("the ") + BspLumpName(h.format, static_cast<std::size_t>(index)) + " lump (" +
                           std::to_string(l.length) + " bytes) is not a whole number of " + std::to_string(size) +
                           "-byte records");
  count = static_cast<std::size_t>(l.length) / size;
  return true;
}

void ReadTexinfos(std::span<const std::uint8_t> bytes, BspMap& map, std::vector<Texinfo>& out,
                  std::vector<std::string>& quake2Names) {
  const BspHeader& h = map.header;
  ByteReader r = LumpReader(bytes, h, h.Index().texinfo);
  const bool q2 = IsQuake2(h.format);
  const std::size_t size = q2 ? kQuake2TexinfoSize : kQuakeTexinfoSize;
  out.resize(r.Size() / size);
  // Quake II names its textures in each texinfo: one texture per name, in any case, as the
  // engine's image cache finds them.
  std::unordered_map<std::string, std::int32_t> byName;
  for (Texinfo& t : out) {
    for (auto& row : t.vecs)
      for (float& f : row) f = r.F32();
    if (q2) {
      t.flags = r.U32();
      r.Skip(4);  // value
      const std::string name = r.FixedString(kQuake2TextureName);
      r.Skip(4);  // nexttexinfo
      auto [it, added] = byName.emplace(ToLower(name), static_cast<std::int32_t>(quake2Names.size()));
      if (added) quake2Names.push_back(name);
      t.texture = it->second;
    } else {
      t.texture = r.I32();
      t.flags = r.U32();
    }
  }
}

// The mip textures of Quake and Half-Life, by index, as texinfo refers to them: an offset of -1
// and a header the lump cannot hold leave a missing texture in their place.
void ReadMiptex(std::span<const std::uint8_t> bytes, BspMap& map) {
  const BspHeader& h = map.header;
  ByteReader lump = LumpReader(bytes, h, h.Index().textures);
  if (lump.Size() == 0) return;
  if (lump.Size() < 4) {
    map.problems.push_back("the textures lump is too short to hold its count");
    return;
  }
  std::int64_t count = lump.I32();
  const std::int64_t room = static_cast<std::int64_t>(lump.Size() - 4) / 4;
  if (count < 0 || count > room) {
    map.problems.push_back("the texture count " + std::to_string(count) + " does not fit the textures lump");
    count = std::clamp<std::int64_t>(count, 0, room);
  }
  Palette quake;
  LoadPalette(kQuakePaletteId, quake);
  // Each texture's pixels lie in the lump, so together they fit it; offsets sharing bytes beyond
  // that are damage, and decoding them all would let a small file fill memory.
  std::uint64_t decoded = 0;
  std::size_t unreadable = 0;
  map.textures.resize(static_cast<std::size_t>(count));
  for (std::int64_t i = 0; i < count; ++i) {
    BspTexture& t = map.textures[static_cast<std::size_t>(i)];
    lump.Seek(static_cast<std::size_t>(4 + 4 * i));
    const std::int64_t at = lump.I32();
    if (at < 0 || at > static_cast<std::int64_t>(lump.Size()) ||
        lump.Size() - static_cast<std::size_t>(at) < miptex::kHeaderSize) {
      t.missing = true;
      if (at != -1) ++unreadable;
      continue;
    }
    auto blob = std::span<const std::uint8_t>(lump.Data() + at, lump.Size() - static_cast<std::size_t>(at));
    ByteReader r(blob);
    t.name = r.FixedString(miptex::kNameSize);
    const std::uint32_t w = r.U32(), hgt = r.U32();
    if (w > 0 && hgt > 0 && w <= 65536 && hgt <= 65536) t.width = static_cast<int>(w), t.height = static_cast<int>(hgt);
    const std::uint32_t mip0 = r.U32();
    if (mip0 == 0) continue;  // header only: the pixels are in a WAD
    const std::uint64_t pixels = static_cast<std::uint64_t>(w) * hgt;
    if (decoded + pixels > lump.Size()) {
      ++unreadable;
      continue;
    }
    // Only Half-Life's textures carry a palette; bytes after a Quake texture that look like one
    // are the next texture's.
    std::string why;
    bool own = false;
    Palette found = quake;
    if (DecodeMip(blob, t.picture, found, &own, nullptr, &why)) {
      t.palette = h.format == BspFormat::HalfLife && own ? found : quake;
      t.embedded = true;
      decoded += pixels;
    } else {
      ++unreadable;
    }
  }
  if (unreadable)
    map.problems.push_back(Plural(unreadable, "texture", "textures") + " could not be read from the textures lump");
}

// Lightmap extents as the engines compute them (WinQuake/gl_model.c CalcSurfaceExtents): the
// texture coordinates' range in whole luxels of luxel texels (16, or a BSPX LMSHIFT's).
bool LightExtents(const BspVertex* v, std::uint32_t n, int luxel, float mins[2], int size[2]) {
  double lo[2] = {1e30, 1e30}, hi[2] = {-1e30, -1e30};
  for (std::uint32_t i = 0; i < n; ++i) {
    const double st[2] = {v[i].s, v[i].t};
    for (int k = 0; k < 2; ++k) lo[k] = std::min(lo[k], st[k]), hi[k] = std::max(hi[k], st[k]);
  }
  for (int k = 0; k < 2; ++k) {
    if (!std::isfinite(lo[k]) || !std::isfinite(hi[k])) return false;
    const double bmin = std::floor(lo[k] / luxel), bmax = std::ceil(hi[k] / luxel);
    // A face without corners has no range at all; one too wide has no lightmap an engine keeps.
    if (!(bmax - bmin >= 0 && bmax - bmin < kMaxLightSide)) return false;
    mins[k] = static_cast<float>(bmin * luxel);
    size[k] = static_cast<int>(bmax - bmin) + 1;
  }
  return true;
}

// The BSPX lumps that light each face differently from its record, each used only when it holds
// one entry for every face (ericw-tools light/light.cc LightWorld writes them so).
struct FaceLumps {
  std::span<const std::uint8_t> shifts;   // LMSHIFT: a byte a face, 2^shift texels a luxel
  std::span<const std::uint8_t> offsets;  // LMOFFSET: an int32 a face in place of lightofs
  std::span<const std::uint8_t> styles;   // LMSTYLE: stylesPerFace bytes a face in place of styles
  std::size_t stylesPerFace = 0;
  std::span<const std::uint8_t> decoupled;  // DECOUPLED_LM: 40 bytes a face (bspx_decoupled_lm_perface)
};
constexpr std::size_t kDecoupledSize = 40;

FaceLumps ReadFaceLumps(std::span<const std::uint8_t> bytes, const BspxTable& table, std::size_t faces, BspMap& map) {
  FaceLumps out;
  auto lump = [&](const char* name, std::size_t each, std::span<const std::uint8_t>& into) {
    const BspxLump* l = table.Find(name);
    if (!l) return;
    if (faces == 0 || l->length % static_cast<std::int64_t>(faces) != 0 ||
        (each && static_cast<std::uint64_t>(l->length) != faces * each) || l->length == 0) {
      map.problems.push_back(std::string("BSPX lump ") + name + " (" + std::to_string(l->length) +
                             " bytes) does not match the map's " + Plural(faces, "face", "faces") + "; not used");
      return;
    }
    into = bytes.subspan(static_cast<std::size_t>(l->offset), static_cast<std::size_t>(l->length));
    map.bspxLighting.push_back(name);
  };
  lump("LMSHIFT", 1, out.shifts);
  lump("LMOFFSET", 4, out.offsets);
  lump("LMSTYLE", 0, out.styles);
  if (!out.styles.empty()) out.stylesPerFace = out.styles.size() / faces;
  lump("DECOUPLED_LM", kDecoupledSize, out.decoupled);
  return out;
}

// How one face is lit once the BSPX lumps have their say.
struct FaceLight {
  std::int64_t offset = -1;  // in the map's own units, before ChooseLighting's offsetScale
  int luxel = kLuxel;
  bool decoupled = false;  // width, height and axes from DECOUPLED_LM
  int width = 0, height = 0;
  float axes[2][4]{};         // world to luxels, the first luxel's centre at 0
  const char* bad = nullptr;  // why the face is drawn unlit
};
// 2^8 texels a luxel is already coarser than any compiler offers.
constexpr int kMostLightShift = 8;

FaceLight FaceLightOf(const FaceLumps& l, std::size_t i, BspFace& f, std::int64_t lightofs) {
  FaceLight out;
  out.offset = lightofs;
  if (!l.offsets.empty()) {
    ByteReader r(l.offsets);
    r.Seek(i * 4);
    out.offset = r.I32();
  }
  if (l.stylesPerFace)
    for (std::size_t k = 0; k < 4; ++k) f.styles[k] = k < l.stylesPerFace ? l.styles[i * l.stylesPerFace + k] : 255;
  if (!l.shifts.empty()) {
    if (l.shifts[i] > kMostLightShift) out.bad = "unlit: their BSPX LMSHIFT makes luxels of more than 256 texels";
    else out.luxel = 1 << l.shifts[i];
  }
  if (!l.decoupled.empty()) {
    ByteReader r(l.decoupled.subspan(i * kDecoupledSize, kDecoupledSize));
    out.decoupled = true;
    out.width = r.U16();
    out.height = r.U16();
    out.offset = r.I32();
    bool finite = true;
    for (auto& row : out.axes)
      for (float& v : row) finite = finite && std::isfinite(v = r.F32());
    if (out.width == 0 || out.height == 0) out.offset = -1;
    else if (out.width > kMaxLightSide || out.height > kMaxLightSide || !finite)
      out.bad = "unlit: their BSPX DECOUPLED_LM lightmaps have impossible sizes or axes";
  }
  return out;
}

// The light the faces are drawn with: the map's own lump, or a BSPX lump of coloured or HDR
// light that holds a sample for each of its bytes (ericw-tools light/write.cc writes them of
// the same samples), as 3 bytes a sample. offsetScale turns a face's offset into bytes of it.
void ChooseLighting(std::span<const std::uint8_t> bytes, const BspxTable& table, BspMap& map, int& offsetScale) {
  const BspHeader& h = map.header;
  const bool coloured = IsQuake2(h.format) || h.format == BspFormat::HalfLife;
  ByteReader r = LumpReader(bytes, h, h.Index().lighting);
  const std::int64_t own = static_cast<std::int64_t>(r.Size());
  map.lumpSamples = coloured ? own / 3 : own;
  offsetScale = 1;
  map.lightBytes = coloured ? 3 : 1;
  auto fits = [&](const BspxLump& l, int each) {
    if (l.length % each == 0 && (own == 0 || l.length / each == map.lumpSamples)) return true;
    map.problems.push_back("BSPX lump " + l.name + " holds " + std::to_string(l.length / each) + " samples" +
                           (l.length % each ? " and a part" : "") + " where the lighting lump holds " +
                           std::to_string(map.lumpSamples) + "; not used");
    return false;
  };
  if (const BspxLump* hdr = table.Find("LIGHTING_E5BGR9"); hdr && fits(*hdr, 4)) {
    ByteReader x(bytes.subspan(static_cast<std::size_t>(hdr->offset), static_cast<std::size_t>(hdr->length)));
    map.lighting.resize(static_cast<std::size_t>(hdr->length / 4) * 3);
    for (std::size_t i = 0; i < map.lighting.size(); i += 3) UnpackE5bgr9(x.U32(), map.lighting.data() + i);
    map.lightBytes = 3;
    offsetScale = coloured ? 1 : 3;
    map.lightSource = "BSPX LIGHTING_E5BGR9";
    return;
  }
  if (const BspxLump* rgb = table.Find("RGBLIGHTING"); rgb && !coloured && fits(*rgb, 3)) {
    const auto light = bytes.subspan(static_cast<std::size_t>(rgb->offset), static_cast<std::size_t>(rgb->length));
    map.lighting.assign(light.begin(), light.end());
    map.lightBytes = 3;
    offsetScale = 3;
    map.lightSource = "BSPX RGBLIGHTING";
    return;
  }
  auto light = r.Bytes(r.Size());
  map.lighting.assign(light.begin(), light.end());
  if (!map.lighting.empty()) map.lightSource = "lighting lump";
}

}  // namespace

const char* BspFormatName(BspFormat format) {
  switch (format) {
    case BspFormat::Quake: return "BSP29";
    case BspFormat::Bsp2: return "BSP2";
    case BspFormat::Bsp2Old: return "2PSB";
    case BspFormat::HalfLife: return "BSP30";
    case BspFormat::Quake2: return "IBSP38";
    case BspFormat::Quake2Qbism: return "QBSP38";
  }
  return "";
}

const char* BspGameName(BspFormat format) {
  switch (format) {
    case BspFormat::Quake: return "Quake";
    case BspFormat::Bsp2:
    case BspFormat::Bsp2Old: return "Quake, extended";
    case BspFormat::HalfLife: return "Half-Life";
    case BspFormat::Quake2: return "Quake II";
    case BspFormat::Quake2Qbism: return "Quake II, extended";
  }
  return "";
}

BspLumpIndex BspHeader::Index() const { return IsQuake2(format) ? kQuake2Index : kQuakeIndex; }

const char* BspLumpName(BspFormat format, std::size_t index) {
  if (IsQuake2(format)) return index < std::size(kQuake2Lumps) ? kQuake2Lumps[index] : "";
  return index < std::size(kQuakeLumps) ? kQuakeLumps[index] : "";
}

int BspFace::StyleCount() const {
  int n = 0;
  while (n < 4 && styles[static_cast<std::size_t>(n)] != 255) ++n;
  return n;
}

bool ReadBspHeader(std::span<const std::uint8_t> bytes, BspHeader& header, std::string* error) {
  const MapHeader m = ReadMapHeader(bytes);
  using K = MapHeader::Kind;
  switch (m.kind) {
    case K::Quake: header.format = BspFormat::Quake; break;
    case K::Bsp2: header.format = BspFormat::Bsp2; break;
    case K::Bsp2Old: header.format = BspFormat::Bsp2Old; break;
    case K::HalfLife: header.format = BspFormat::HalfLife; break;
    case K::Quake2: header.format = BspFormat::Quake2; break;
    case K::Quake2Qbism: header.format = BspFormat::Quake2Qbism; break;
    case K::Quake64: return Fail(error, "a Quake 64 map, which Tarn does not read");
    case K::Quake3: return Fail(error, "a Quake III map, which Tarn does not read");
    case K::TooShort: return Fail(error, "too short for a map");
    case K::Unknown:
      return Fail(error, "not a map of Quake, Quake II or Half-Life (version " + std::to_string(m.version) + ")");
  }
  header.version = m.version;
  const bool q2 = IsQuake2(header.format);
  const std::size_t count = q2 ? std::size(kQuake2Lumps) : std::size(kQuakeLumps);
  header.headerSize = (q2 ? 8 : 4) + count * 8;
  if (bytes.size() < header.headerSize) return Fail(error, "the map's header is cut short");
  ByteReader r(bytes);
  r.Seek(q2 ? 8 : 4);
  header.lumps.resize(count);
  for (std::size_t i = 0; i < count; ++i) {
    BspLump& l = header.lumps[i];
    l.offset = r.I32();
    l.length = r.I32();
    if (l.offset < 0 || l.length < 0 || l.offset + l.length > static_cast<std::int64_t>(bytes.size()))
      return Fail(error, std::string("the ") + BspLumpName(header.format, i) + " lump (offset " +
                             std::to_string(l.offset) + ", " + std::to_string(l.length) +
                             " bytes) lies outside the file of " + std::to_string(bytes.size()) + " bytes");
  }
  return true;
}

bool LoadBsp(std::span<const std::uint8_t> bytes, BspMap& map, std::string* error) {
  map = BspMap{};
  if (!ReadBspHeader(bytes, map.header, error)) return false;
  const BspHeader& h = map.header;
  const BspLumpIndex ix = h.Index();
  const bool q2 = IsQuake2(h.format), wide = IsWide(h.format);
  try {
    {
      ByteReader r = LumpReader(bytes, h, ix.entities);
      map.entities = r.FixedString(r.Size());
    }
    std::size_t vertexCount = 0, edgeCount = 0, surfedgeCount = 0, faceCount = 0, modelCount = 0;
    const std::size_t faceSize = wide ? 28 : 20, edgeSize = wide ? 8 : 4;
    const std::size_t modelSize = q2 ? kQuake2ModelSize : kQuakeModelSize;
    const std::size_t texinfoSize = q2 ? kQuake2TexinfoSize : kQuakeTexinfoSize;
    if (!Records(h, ix.vertices, kVertexSize, vertexCount, error) ||
        !Records(h, ix.edges, edgeSize, edgeCount, error) || !Records(h, ix.surfedges, 4, surfedgeCount, error) ||
        !Records(h, ix.faces, faceSize, faceCount, error) || !Records(h, ix.models, modelSize, modelCount, error) ||
        !Records(h, ix.texinfo, texinfoSize, map.texinfoCount, error))
      return false;

    std::vector<Texinfo> texinfos;
    std::vector<std::string> quake2Names;
    ReadTexinfos(bytes, map, texinfos, quake2Names);
    if (q2) {
      map.textures.resize(quake2Names.size());
      for (std::size_t i = 0; i < quake2Names.size(); ++i) map.textures[i].name = quake2Names[i];
    } else {
      ReadMiptex(bytes, map);
    }
    const BspxTable bspx = ReadBspxTable(bytes, h);
    map.bspx = bspx.lumps;
    map.problems.insert(map.problems.end(), bspx.problems.begin(), bspx.problems.end());
    int offsetScale = 1;
    ChooseLighting(bytes, bspx, map, offsetScale);
    const FaceLumps faceLumps = ReadFaceLumps(bytes, bspx, faceCount, map);
    {
      ByteReader r = LumpReader(bytes, h, ix.models);
      map.models.resize(modelCount);
      for (BspModel& m : map.models) {
        for (float& f : m.mins) f = r.F32();
        for (float& f : m.maxs) f = r.F32();
        for (float& f : m.origin) f = r.F32();
        r.Skip(q2 ? 4 : 16);  // head nodes
        if (!q2) r.Skip(4);   // visleafs
        m.firstFace = r.I32();
        m.faceCount = r.I32();
      }
    }

    ByteReader vr = LumpReader(bytes, h, ix.vertices), er = LumpReader(bytes, h, ix.edges),
               sr = LumpReader(bytes, h, ix.surfedges), fr = LumpReader(bytes, h, ix.faces);
    // Each surfedge belongs to one face in a real map; faces that share them are damage, and may
    // not multiply the vertices beyond a bound.
    const std::size_t vertexBudget = 2 * surfedgeCount + 4096;
    std::size_t walked = 0;
    CProblems problems;
    map.faces.reserve(faceCount);
    map.vertices.reserve(std::min(surfedgeCount, vertexBudget));
    for (std::size_t i = 0; i < faceCount; ++i) {
      fr.Seek(i * faceSize);
      std::int64_t firstEdge, edges, texinfo;
      if (wide) {
        fr.Skip(8);  // plane, side
        firstEdge = fr.I32();
        edges = fr.I32();
        texinfo = fr.I32();
      } else {
        fr.Skip(4);
        firstEdge = fr.I32();
        edges = fr.I16();
        texinfo = fr.I16();
      }
      BspFace f;
      for (auto& s : f.styles) s = fr.U8();
      std::int64_t lightOffset = fr.I32();
      const FaceLight light = FaceLightOf(faceLumps, i, f, lightOffset);
      if (edges < 3) {
        problems.Add("skipped: fewer than three edges");
        continue;
      }
      if (firstEdge < 0 || firstEdge > static_cast<std::int64_t>(surfedgeCount) ||
          edges > static_cast<std::int64_t>(surfedgeCount) - firstEdge) {
        problems.Add("skipped: their edges lie outside the edge list");
        continue;
      }
      // Counted before the edges are followed, so that faces found bad at their last edge
      // cannot make the work grow either.
      if (walked + static_cast<std::size_t>(edges) > vertexBudget) {
        problems.Add("skipped: they share edges with other faces beyond any real map");
        continue;
      }
      walked += static_cast<std::size_t>(edges);
      const Texinfo* ti = texinfo >= 0 && static_cast<std::size_t>(texinfo) < texinfos.size()
                              ? &texinfos[static_cast<std::size_t>(texinfo)]
                              : nullptr;
      if (!ti) {
        problems.Add("skipped: their texinfo lies outside the texinfo lump");
        continue;
      }
      f.index = static_cast<std::int64_t>(i);
      f.texinfo = static_cast<std::int32_t>(texinfo);
      f.flags = ti->flags;
      if (ti->texture >= 0 && static_cast<std::size_t>(ti->texture) < map.textures.size()) f.texture = ti->texture;
      f.first = static_cast<std::uint32_t>(map.vertices.size());
      bool ok = true;
      for (std::int64_t k = 0; k < edges && ok; ++k) {
        sr.Seek(static_cast<std::size_t>(firstEdge + k) * 4);
        const std::int64_t se = sr.I32();
        const std::uint64_t edge = static_cast<std::uint64_t>(se < 0 ? -se : se);
        if (edge >= edgeCount) {
          ok = false;
          break;
        }
        er.Seek(static_cast<std::size_t>(edge) * edgeSize + (se < 0 ? edgeSize / 2 : 0));
        const std::uint32_t vi = wide ? er.U32() : er.U16();
        if (vi >= vertexCount) {
          ok = false;
          break;
        }
        vr.Seek(static_cast<std::size_t>(vi) * kVertexSize);
        BspVertex v;
        v.x = vr.F32();
        v.y = vr.F32();
        v.z = vr.F32();
        v.s = v.x * ti->vecs[0][0] + v.y * ti->vecs[0][1] + v.z * ti->vecs[0][2] + ti->vecs[0][3];
        v.t = v.x * ti->vecs[1][0] + v.y * ti->vecs[1][1] + v.z * ti->vecs[1][2] + ti->vecs[1][3];
        map.vertices.push_back(v);
      }
      if (!ok) {
        map.vertices.resize(f.first);
        problems.Add("skipped: their edges name vertices the map does not have");
        continue;
      }
      f.count = static_cast<std::uint32_t>(edges);

      const bool special = q2 ? (f.flags & kQuake2SkyOrWarp) != 0 : (f.flags & kQuakeSpecial) != 0;
      if (light.bad) problems.Add(light.bad);
      lightOffset = light.offset;
      f.dark = !special && !q2 && !map.lighting.empty() && (lightOffset < 0 || f.StyleCount() == 0);
      if (lightOffset >= 0 && !special && f.StyleCount() > 0 && !light.bad) {
        float mins[2];
        int size[2];
        BspVertex* v = map.vertices.data() + f.first;
        f.luxel = light.decoupled ? 0 : light.luxel;
        if (light.decoupled) {
          size[0] = light.width, size[1] = light.height;
          mins[0] = mins[1] = 0;
        }
        if (!light.decoupled && !LightExtents(v, f.count, light.luxel, mins, size)) {
          problems.Add("unlit: their lightmaps have impossible extents");
        } else {
          lightOffset *= offsetScale;
          const std::uint64_t need = static_cast<std::uint64_t>(size[0]) * static_cast<std::uint64_t>(size[1]) *
                                     static_cast<std::uint64_t>(map.lightBytes) *
                                     static_cast<std::uint64_t>(f.StyleCount());
          if (static_cast<std::uint64_t>(lightOffset) > map.lighting.size() ||
              need > map.lighting.size() - static_cast<std::uint64_t>(lightOffset)) {
            problems.Add("unlit: their lightmaps lie past the lighting lump");
          } else {
            f.lightOffset = lightOffset;
            f.lightWidth = size[0];
            f.lightHeight = size[1];
            for (std::uint32_t k = 0; k < f.count; ++k) {
              if (light.decoupled) {
                const float p[3] = {v[k].x, v[k].y, v[k].z};
                v[k].u = p[0] * light.axes[0][0] + p[1] * light.axes[0][1] + p[2] * light.axes[0][2] +
                         light.axes[0][3] + 0.5f;
                v[k].v = p[0] * light.axes[1][0] + p[1] * light.axes[1][1] + p[2] * light.axes[1][2] +
                         light.axes[1][3] + 0.5f;
              } else {
                v[k].u = (v[k].s - mins[0]) / static_cast<float>(light.luxel) + 0.5f;
                v[k].v = (v[k].t - mins[1]) / static_cast<float>(light.luxel) + 0.5f;
              }
            }
          }
        }
      }
      map.faces.push_back(f);
    }
    problems.Into(map.problems);
    for (BspModel& m : map.models)
      if (m.firstFace < 0 || m.faceCount < 0 ||
          static_cast<std::int64_t>(m.firstFace) + m.faceCount > static_cast<std::int64_t>(faceCount)) {
        map.problems.push_back("a model's faces lie outside the faces lump");
        m.firstFace = m.faceCount = 0;
      }
  } catch (const ParseError& e) {
    return Fail(error, std::string("the map is damaged: ") + e.what());
  }
  return true;
}

std::int64_t ExpectedLitSize(const BspHeader& header) {
  if (IsQuake2(header.format) || header.format == BspFormat::HalfLife) return 0;
  const std::int64_t length = header.lumps[static_cast<std::size_t>(header.Index().lighting)].length;
  return length > 0 ? 8 + 3 * length : 0;
}

bool ApplyLit(BspMap& map, std::span<const std::uint8_t> lit, std::string* error) {
  if (ExpectedLitSize(map.header) == 0) return Fail(error, "the map takes no .lit");
  if (map.lightSource.rfind("BSPX ", 0) == 0)
    return Fail(error, "the map's " + map.lightSource + " colours it already");
  if (map.lightBytes != 1) return Fail(error, "the map is coloured already");
  const LitHeader h = ReadLitHeader(lit);
  if (!h.qlit) return Fail(error, "the .lit does not start with \"QLIT\"");
  if (h.version != kLitVersion && h.version != kLitVersionHdr)
    return Fail(error, "the .lit is version " + std::to_string(h.version) + ", not 1 or the HDR version (65537)");
  const bool hdr = h.version == kLitVersionHdr;
  const std::int64_t expected = 8 + (hdr ? 4 : 3) * map.lumpSamples;
  if (static_cast<std::int64_t>(lit.size()) != expected)
    return Fail(error, "the .lit is " + std::to_string(lit.size()) + " bytes; the map's lighting needs " +
                           std::to_string(expected));
  if (hdr) {
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(map.lumpSamples) * 3);
    ByteReader r(lit.subspan(8));
    for (std::size_t i = 0; i < rgb.size(); i += 3) UnpackE5bgr9(r.U32(), rgb.data() + i);
    map.lighting = std::move(rgb);
  } else {
    map.lighting.assign(lit.begin() + 8, lit.end());
  }
  map.lightBytes = 3;
  map.coloredByLit = true;
  map.lightSource = hdr ? ".lit (HDR)" : ".lit";
  for (BspFace& f : map.faces)
    if (f.lightOffset >= 0) f.lightOffset *= 3;
  return true;
}

bool ReplaceBspLump(std::span<const std::uint8_t> bytes, std::size_t e, std::span<const std::uint8_t> data,
                    std::vector<std::uint8_t>& out, std::string* error) {
  BspHeader h;
  if (!ReadBspHeader(bytes, h, error)) return false;
  if (e >= h.lumps.size()) return Fail(error, "the map has no lump " + std::to_string(e));
  const std::string label = e == static_cast<std::size_t>(h.Index().entities)
                                ? std::string("entity lump")
                                : std::string(BspLumpName(h.format, e)) + " lump";
  std::int64_t start = h.lumps[e].offset;
  // The old lump's room runs to the next lump or to its 4-byte padding, whichever is nearer.
  std::int64_t end = std::min<std::int64_t>((start + h.lumps[e].length + 3) & ~std::int64_t{3},
                                            static_cast<std::int64_t>(bytes.size()));
  if (start < static_cast<std::int64_t>(h.headerSize) && h.lumps[e].length > 0)
    return Fail(error, "the " + label + " overlaps the map's header");
  std::int64_t lastEnd = static_cast<std::int64_t>(h.headerSize);
  for (std::size_t i = 0; i < h.lumps.size(); ++i) {
    const BspLump& l = h.lumps[i];
    lastEnd = std::max(lastEnd, l.offset + l.length);
    if (i == e || l.length == 0) continue;
    if (l.offset < start + h.lumps[e].length && start < l.offset + l.length)
      return Fail(error, std::string("the ") + BspLumpName(h.format, i) + " lump overlaps the " + label);
    if (l.offset >= start) end = std::min(end, l.offset);
  }
  // An empty lump has no place of its own: the data goes at the end of the file, moving nothing.
  if (h.lumps[e].length == 0) end = start = static_cast<std::int64_t>(bytes.size());
  const std::int64_t length = static_cast<std::int64_t>(data.size());
  const std::int64_t room = (length + 3) & ~std::int64_t{3};
  const std::int64_t delta = room - (end - start);
  if (static_cast<std::int64_t>(bytes.size()) + delta > INT32_MAX) return Fail(error, "the map would be too large");

  out.clear();
  out.reserve(static_cast<std::size_t>(static_cast<std::int64_t>(bytes.size()) + delta));
  out.insert(out.end(), bytes.begin(), bytes.begin() + start);
  out.insert(out.end(), data.begin(), data.end());
  out.resize(static_cast<std::size_t>(start + room), 0);
  out.insert(out.end(), bytes.begin() + end, bytes.end());

  const std::size_t table = IsQuake2(h.format) ? 8 : 4;
  for (std::size_t i = 0; i < h.lumps.size(); ++i) {
    std::int64_t offset = h.lumps[i].offset, len = h.lumps[i].length;
    if (i == e) offset = start, len = length;
    else if (offset >= end) offset += delta;
    // An empty lump inside the old lump's room would point past a shorter file.
    else if (offset > start) offset = start + room;
    StoreU32(out.data() + table + i * 8, static_cast<std::uint32_t>(offset));
    StoreU32(out.data() + table + i * 8 + 4, static_cast<std::uint32_t>(len));
  }
  // A BSPX lump table after the last lump names places in the file too
  // (ericw-tools include/common/bspxfile.hh: "BSPX", a count, then 24-byte names, offset, length).
  std::int64_t bspx = (lastEnd + 3) & ~std::int64_t{3};
  if (bspx >= end) bspx += delta;
  if (bspx + 8 <= static_cast<std::int64_t>(out.size()) && std::memcmp(out.data() + bspx, "BSPX", 4) == 0) {
    ByteReader r(out.data(), out.size());
    r.Seek(static_cast<std::size_t>(bspx + 4));
    const std::uint32_t n = r.U32();
    for (std::uint32_t i = 0; i < n && r.CanRead(32); ++i) {
      r.Skip(24);
      const std::size_t at = r.Position();
      const std::int64_t offset = r.I32();
      r.Skip(4);
      // A table that runs on into the new data is not a table there.
      const bool inText = static_cast<std::int64_t>(at) + 4 > start && static_cast<std::int64_t>(at) < start + room;
      if (offset >= end && !inText) StoreU32(out.data() + at, static_cast<std::uint32_t>(offset + delta));
    }
  }
  return true;
}

bool ReplaceEntityLump(std::span<const std::uint8_t> bytes, std::string_view text, std::vector<std::uint8_t>& out,
                       std::string* error) {
  if (text.find('\0') != std::string_view::npos) return Fail(error, "the entity text holds a NUL byte");
  BspHeader h;
  if (!ReadBspHeader(bytes, h, error)) return false;
  std::vector<std::uint8_t> data(text.begin(), text.end());
  data.push_back(0);
  return ReplaceBspLump(bytes, static_cast<std::size_t>(h.Index().entities), data, out, error);
}

}  // namespace tarn
