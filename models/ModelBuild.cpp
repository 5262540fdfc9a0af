#include "models/ModelBuild.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <unordered_map>
#include <unordered_set>

#include "fileio/ByteIO.h"
#include "models/ModelNormals.h"

namespace tarn {

namespace {

constexpr int kMaxSkinSide = 8192;
constexpr std::size_t kFrameNameSize = 16;
// MD2 stores vertex and texture coordinate indices as signed 16-bit numbers.
constexpr std::size_t kMd2MaxIndex = 32767;

// The engines' own limits, each from the engine's source: Quake's (WinQuake and GLQuake,
// gl_model.h and model.c) and Quake II's (qfiles.h, ref_gl/gl_model.c).
struct EngineLimits {
  const char* engine;
  std::size_t vertices, triangles, frames;
  int skinHeight;
};
constexpr EngineLimits kQuakeLimits{"Quake", 1024, 2048, 256, 480};
constexpr EngineLimits kQuake2Limits{"Quake II", 2048, 4096, 512, 480};

void PutF32(ByteWriter& w, float f) {
  std::uint32_t bits;
  std::memcpy(&bits, &f, 4);
  w.U32(bits);
}

void PutName(ByteWriter& w, const std::string& name, std::size_t size) {
  std::vector<char> field(size, 0);
  std::memcpy(field.data(), name.data(), std::min(name.size(), size - 1));
  w.Bytes(field.data(), size);
}

struct Grid {
  float scale[3] = {1, 1, 1}, origin[3] = {0, 0, 0};
};

// The grid that spreads [min, max] of each axis over 0 to 255. False when the extent is not a
// finite number.
bool GridFor(const float min[3], const float max[3], Grid& g) {
  for (int a = 0; a < 3; ++a) {
    const float extent = max[a] - min[a];
    if (!std::isfinite(extent)) return false;
    g.origin[a] = min[a];
    // A flat axis (or one so thin that its step is no number) still needs a scale the engines
    // can multiply by.
    g.scale[a] = extent / 255.0f;
    if (!std::isnormal(g.scale[a])) g.scale[a] = 1.0f;
  }
  return true;
}

std::uint8_t OnGrid(float p, float origin, float scale) {
  const float q = std::nearbyint((p - origin) / scale);
  return q > 0 ? static_cast<std::uint8_t>(std::min(q, 255.0f)) : 0;
}

int ClampedPixel(float coordinate, int size, bool centred, int low, int high) {
  if (!std::isfinite(coordinate)) return low;
  const double p = static_cast<double>(coordinate) * size - (centred ? 0.5 : 0.0);
  return static_cast<int>(std::clamp(std::nearbyint(p), static_cast<double>(low), static_cast<double>(high)));
}

std::uint64_t Key(std::uint32_t position, int s, int t) {
  return (static_cast<std::uint64_t>(position) << 32) |
         (static_cast<std::uint64_t>(static_cast<std::uint16_t>(s)) << 16) | static_cast<std::uint16_t>(t);
}

void Warn(PackedModel& out, const EngineLimits& limits, std::size_t have, std::size_t most, const char* what) {
  if (have > most)
    out.warnings.push_back(std::to_string(have) + " " + what + ": " + limits.engine + " loads at most " +
                           std::to_string(most));
}

}  // namespace

int NearestNormal(float x, float y, float z) {
  int best = 0;
  float bestDot = -std::numeric_limits<float>::infinity();
  if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z)) return 0;
  for (int i = 0; i < modelnormals::kCount; ++i) {
    const float* n = modelnormals::kNormals[i];
    const float d = n[0] * x + n[1] * y + n[2] * z;
    if (d > bestDot) bestDot = d, best = i;
  }
  return best;
}

std::vector<std::string> FrameNames(const std::string& animation, std::size_t count, std::vector<std::string>& taken) {
  std::string stem;
  for (char c : animation) {
    if ((c >= 'a' && c <= 'z') || c == '_') stem += c;
    else if (c >= 'A' && c <= 'Z') stem += static_cast<char>(c - 'A' + 'a');
  }
  // "0_pose" is "pose": an underscore left at either end only stood beside what was dropped.
  stem.erase(0, stem.find_first_not_of('_'));
  stem.erase(stem.find_last_not_of('_') + 1);
  if (stem.empty()) stem = "frame";
  const std::size_t digits = std::to_string(std::max<std::size_t>(count, 1)).size();
  const std::size_t room = kFrameNameSize - 1 > digits + 1 ? kFrameNameSize - 1 - digits - 1 : 1;
  stem.resize(std::min(stem.size(), room));
  // One letter more tells apart animations whose names differ only in what was dropped.
  const std::string base = stem;
  for (char extra = 'b'; std::find(taken.begin(), taken.end(), stem) != taken.end() && extra <= 'z'; ++extra)
    stem = base + extra;
  taken.push_back(stem);
  std::vector<std::string> names;
  names.reserve(count);
  for (std::size_t i = 1; i <= count; ++i) names.push_back(stem + std::to_string(i));
  return names;
}

bool PackModel(const SourceModel& source, int format, int skinWidth, int skinHeight, PackedModel& out,
               std::string* error) {
  out = PackedModel{};
  out.format = format;
  out.skinWidth = skinWidth;
  out.skinHeight = skinHeight;
  auto fail = [&](const std::string& why) {
    out = PackedModel{};
    if (error) *error = why;
    return false;
  };
  const bool md2 = format == ModelData::kMd2;
  if (source.triangles.empty()) return fail("the model has no triangles");
  if (source.frames.empty()) return fail("the model has no frames");
  if (skinWidth < 1 || skinHeight < 1 || skinWidth > kMaxSkinSide || skinHeight > kMaxSkinSide)
    return fail("impossible skin size");
  const std::size_t vertexCount = source.vertexCount;
  if (vertexCount > std::numeric_limits<std::uint32_t>::max()) return fail("too many vertices");
  for (const SourceFrame& f : source.frames)
    if (f.positions.size() != vertexCount * 3) return fail("a frame does not have a position for every vertex");
  for (const auto& t : source.triangles)
    for (const SourceCorner& c : t)
      if (c.vertex >= vertexCount) return fail("a triangle names a vertex the model does not have");

  // The grids: one for the whole MDL, one a frame for an MD2.
  const std::size_t frameCount = source.frames.size();
  std::vector<Grid> grids(md2 ? frameCount : 1);
  {
    float min[3], max[3];
    auto reset = [&] {
      for (int a = 0; a < 3; ++a) min[a] = std::numeric_limits<float>::infinity(), max[a] = -min[a];
    };
    reset();
    for (std::size_t f = 0; f < frameCount; ++f) {
      const std::vector<float>& p = source.frames[f].positions;
      for (std::size_t i = 0; i < p.size(); ++i) {
        if (!std::isfinite(p[i])) return fail("a vertex of frame " + std::to_string(f + 1) + " is not a finite number");
        min[i % 3] = std::min(min[i % 3], p[i]);
        max[i % 3] = std::max(max[i % 3], p[i]);
      }
      if (md2 || f + 1 == frameCount) {
        if (!GridFor(min, max, grids[md2 ? f : 0])) return fail("the model is too large for any grid");
        reset();
      }
    }
  }

  // Every source vertex on the grid in every frame: bytes[v * frames + f].
  std::vector<std::array<std::uint8_t, 3>> bytes(vertexCount * frameCount);
  for (std::size_t f = 0; f < frameCount; ++f) {
    const Grid& g = grids[md2 ? f : 0];
    const float* p = source.frames[f].positions.data();
    for (std::size_t v = 0; v < vertexCount; ++v)
      for (int a = 0; a < 3; ++a) bytes[v * frameCount + f][a] = OnGrid(p[v * 3 + a], g.origin[a], g.scale[a]);
  }

  // Vertices the games cannot tell apart (the same bytes in every frame) become one, in the
  // order the triangles first use them; unused vertices go.
  constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();
  std::vector<std::uint32_t> welded(vertexCount, kNone);
  std::vector<std::uint32_t> representative;  // a source vertex of each welded one
  {
    std::unordered_map<std::uint64_t, std::vector<std::uint32_t>> byHash;
    for (const auto& t : source.triangles)
      for (const SourceCorner& c : t) {
        if (welded[c.vertex] != kNone) continue;
        const auto* first = bytes[static_cast<std::size_t>(c.vertex) * frameCount].data();
        std::uint64_t h = 1469598103934665603ull;
        for (std::size_t i = 0; i < frameCount * 3; ++i) h = (h ^ first[i]) * 1099511628211ull;
        std::vector<std::uint32_t>& same = byHash[h];
        for (std::uint32_t w : same)
          if (std::memcmp(bytes[static_cast<std::size_t>(representative[w]) * frameCount].data(), first,
                          frameCount * 3) == 0) {
            welded[c.vertex] = w;
            break;
          }
        if (welded[c.vertex] == kNone) {
          welded[c.vertex] = static_cast<std::uint32_t>(representative.size());
          same.push_back(welded[c.vertex]);
          representative.push_back(c.vertex);
        }
      }
  }
  const std::size_t positions = representative.size();

  // Texture coordinates. An MDL keeps one a vertex, so a position used with two is split; a
  // triangle entirely in the skin's right half faces back, and a back corner exactly half a
  // skin right of a front corner of the same position shares that vertex through its seam flag.
  std::vector<std::uint32_t> cornerVertex;  // the written vertex of each corner (MDL)
  std::vector<std::uint32_t> outPosition;   // the welded position of each written vertex
  out.triangles.resize(source.triangles.size());
  if (md2) {
    std::unordered_map<std::uint64_t, std::uint32_t> stIndex;
    for (std::size_t i = 0; i < source.triangles.size(); ++i)
      for (int k = 0; k < 3; ++k) {
        const SourceCorner& c = source.triangles[i][k];
        // On the skin, as id's own models are: DarkPlaces moves a coordinate off it (even s =
        // skinwidth for u = 1) to the corner (model_alias.c Mod_IDP2_Load).
        const int s = ClampedPixel(c.u, skinWidth, false, 0, skinWidth - 1);
        const int t = ClampedPixel(c.v, skinHeight, false, 0, skinHeight - 1);
        auto [it, added] = stIndex.emplace(Key(0, s, t), static_cast<std::uint32_t>(out.texCoords.size()));
        if (added) {
          ModelVertex st;
          st.s = s, st.t = t;
          out.texCoords.push_back(st);
        }
        out.triangles[i].vertex[k] = static_cast<std::int32_t>(welded[c.vertex]);
        out.triangles[i].texCoord[k] = static_cast<std::int32_t>(it->second);
      }
    outPosition.resize(positions);
    for (std::size_t w = 0; w < positions; ++w) outPosition[w] = static_cast<std::uint32_t>(w);
  } else {
    const int half = skinWidth / 2;
    std::vector<std::array<int, 6>> pixels(source.triangles.size());
    std::unordered_set<std::uint64_t> front, back;
    for (std::size_t i = 0; i < source.triangles.size(); ++i) {
      bool allRight = half > 0;
      for (int k = 0; k < 3; ++k) {
        const SourceCorner& c = source.triangles[i][k];
        pixels[i][2 * k] = ClampedPixel(c.u, skinWidth, true, 0, skinWidth - 1);
        pixels[i][2 * k + 1] = ClampedPixel(c.v, skinHeight, true, 0, skinHeight - 1);
        allRight = allRight && pixels[i][2 * k] >= half;
      }
      out.triangles[i].facesFront = allRight ? 0 : 1;
      for (int k = 0; k < 3; ++k)
        (allRight ? back : front)
            .insert(Key(welded[source.triangles[i][k].vertex], pixels[i][2 * k], pixels[i][2 * k + 1]));
    }
    std::unordered_map<std::uint64_t, std::uint32_t> vertexOf;
    for (std::size_t i = 0; i < source.triangles.size(); ++i)
      for (int k = 0; k < 3; ++k) {
        const std::uint32_t p = welded[source.triangles[i][k].vertex];
        int s = pixels[i][2 * k];
        const int t = pixels[i][2 * k + 1];
        bool seam = false;
        if (out.triangles[i].facesFront == 0 && s >= half && front.contains(Key(p, s - half, t)) &&
            !back.contains(Key(p, s - half, t))) {
          s -= half;
          seam = true;
        }
        auto [it, added] = vertexOf.emplace(Key(p, s, t), static_cast<std::uint32_t>(out.texCoords.size()));
        if (added) {
          ModelVertex st;
          st.s = s, st.t = t;
          out.texCoords.push_back(st);
          outPosition.push_back(p);
        }
        if (seam) out.texCoords[it->second].onseam = 1;
        out.triangles[i].vertex[k] = static_cast<std::int32_t>(it->second);
      }
  }
  out.vertexCount = outPosition.size();
  if (md2 && (out.vertexCount > kMd2MaxIndex || out.texCoords.size() > kMd2MaxIndex))
    return fail(std::to_string(std::max(out.vertexCount, out.texCoords.size())) +
                " vertices or texture coordinates: a Quake II model counts at most 32767");
  if (out.vertexCount > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()) ||
      out.triangles.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
    return fail("too many vertices or triangles");

  // Each frame: the bytes of its welded positions, and normals from the faces around them
  // (weighed by area) in the frame's own shape. Triangles are wound clockwise seen from the
  // front, as the games draw them.
  std::vector<float> sums(positions * 3);
  out.frames.resize(frameCount);
  for (std::size_t f = 0; f < frameCount; ++f) {
    PackedFrame& frame = out.frames[f];
    frame.name = source.frames[f].name.substr(0, kFrameNameSize - 1);
    const Grid& g = grids[md2 ? f : 0];
    std::copy(g.scale, g.scale + 3, frame.scale);
    std::copy(g.origin, g.origin + 3, frame.origin);
    std::fill(sums.begin(), sums.end(), 0.0f);
    const float* p = source.frames[f].positions.data();
    for (const auto& t : source.triangles) {
      const float* a = p + static_cast<std::size_t>(t[0].vertex) * 3;
      const float* b = p + static_cast<std::size_t>(t[1].vertex) * 3;
      const float* c = p + static_cast<std::size_t>(t[2].vertex) * 3;
      const float e1[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]}, e2[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
      const float n[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2], e1[0] * e2[1] - e1[1] * e2[0]};
      for (const SourceCorner& corner : t)
        for (int k = 0; k < 3; ++k) sums[welded[corner.vertex] * 3 + k] += n[k];
    }
    std::vector<std::uint8_t> normal(positions);
    for (std::size_t w = 0; w < positions; ++w)
      normal[w] = static_cast<std::uint8_t>(NearestNormal(sums[w * 3], sums[w * 3 + 1], sums[w * 3 + 2]));
    frame.vertices.resize(out.vertexCount);
    for (std::size_t v = 0; v < out.vertexCount; ++v) {
      const std::uint32_t w = outPosition[v];
      const auto& b = bytes[static_cast<std::size_t>(representative[w]) * frameCount + f];
      std::copy(b.begin(), b.end(), frame.vertices[v].v);
      frame.vertices[v].normal = normal[w];
    }
  }

  const EngineLimits& limits = md2 ? kQuake2Limits : kQuakeLimits;
  Warn(out, limits, out.vertexCount, limits.vertices, "vertices");
  Warn(out, limits, out.triangles.size(), limits.triangles, "triangles");
  Warn(out, limits, out.frames.size(), limits.frames, "frames");
  if (skinHeight > limits.skinHeight)
    out.warnings.push_back("a skin " + std::to_string(skinHeight) + " pixels high: " + limits.engine +
                           " loads skins at most " + std::to_string(limits.skinHeight) + " high");
  return true;
}

namespace {

float Decoded(const PackedFrame& f, const PackedVertex& v, int a) { return v.v[a] * f.scale[a] + f.origin[a]; }

void PutVertex(ByteWriter& w, const PackedVertex& v) { w.Bytes(&v, 4); }

}  // namespace

std::vector<std::uint8_t> WriteMdl(const PackedModel& m) {
  std::vector<std::uint8_t> bytes;
  ByteWriter w(bytes);
  const PackedFrame& first = m.frames.front();
  float radius = 0, area = 0;
  for (const PackedFrame& f : m.frames)
    for (const PackedVertex& v : f.vertices) {
      const float x = Decoded(f, v, 0), y = Decoded(f, v, 1), z = Decoded(f, v, 2);
      radius = std::max(radius, std::sqrt(x * x + y * y + z * z));
    }
  for (const ModelTriangle& t : m.triangles) {
    float p[3][3];
    for (int k = 0; k < 3; ++k)
      for (int a = 0; a < 3; ++a) p[k][a] = Decoded(first, first.vertices[static_cast<std::size_t>(t.vertex[k])], a);
    const float e1[3] = {p[1][0] - p[0][0], p[1][1] - p[0][1], p[1][2] - p[0][2]};
    const float e2[3] = {p[2][0] - p[0][0], p[2][1] - p[0][1], p[2][2] - p[0][2]};
    const float c[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2], e1[0] * e2[1] - e1[1] * e2[0]};
    area += std::sqrt(c[0] * c[0] + c[1] * c[1] + c[2] * c[2]) / 2;
  }
  w.Bytes("IDPO", 4);
  w.I32(6);
  for (float s : first.scale) PutF32(w, s);
  for (float o : first.origin) PutF32(w, o);
  PutF32(w, radius);
  for (int i = 0; i < 3; ++i) PutF32(w, 0);  // eye position
  w.I32(1);
  w.I32(m.skinWidth);
  w.I32(m.skinHeight);
  w.I32(static_cast<std::int32_t>(m.vertexCount));
  w.I32(static_cast<std::int32_t>(m.triangles.size()));
  w.I32(static_cast<std::int32_t>(m.frames.size()));
  w.I32(0);  // frames in step
  w.I32(0);  // no flags
  PutF32(w, m.triangles.empty() ? 0 : area / static_cast<float>(m.triangles.size()));
  w.I32(0);  // a single skin
  w.Bytes(m.skin.data(), m.skin.size());
  for (const ModelVertex& st : m.texCoords) w.I32(st.onseam), w.I32(st.s), w.I32(st.t);
  for (const ModelTriangle& t : m.triangles) {
    w.I32(t.facesFront);
    for (std::int32_t v : t.vertex) w.I32(v);
  }
  for (const PackedFrame& f : m.frames) {
    w.I32(0);  // a single frame
    PackedVertex lo{{255, 255, 255}, 0}, hi{{0, 0, 0}, 0};
    for (const PackedVertex& v : f.vertices)
      for (int a = 0; a < 3; ++a) lo.v[a] = std::min(lo.v[a], v.v[a]), hi.v[a] = std::max(hi.v[a], v.v[a]);
    PutVertex(w, lo);
    PutVertex(w, hi);
    PutName(w, f.name, kFrameNameSize);
    for (const PackedVertex& v : f.vertices) PutVertex(w, v);
  }
  return bytes;
}

std::vector<std::uint8_t> WriteMd2(const PackedModel& m) {
  const std::size_t skins = m.skinPath.empty() ? 0 : 1;
  const std::size_t frameSize = 40 + 4 * m.vertexCount;
  const std::size_t skinsAt = md2::kHeaderSize, stAt = skinsAt + skins * md2::kSkinNameSize;
  const std::size_t trisAt = stAt + 4 * m.texCoords.size(), framesAt = trisAt + 12 * m.triangles.size();
  const std::size_t commandsAt = framesAt + frameSize * m.frames.size();
  const std::size_t commandCount = m.triangles.size() * 10 + 1;
  std::vector<std::uint8_t> bytes;
  ByteWriter w(bytes);
  w.Bytes("IDP2", 4);
  w.I32(8);
  w.I32(m.skinWidth);
  w.I32(m.skinHeight);
  for (std::size_t v : {frameSize, skins, m.vertexCount, m.texCoords.size(), m.triangles.size(), commandCount,
                        m.frames.size(), skinsAt, stAt, trisAt, framesAt, commandsAt, commandsAt + 4 * commandCount})
    w.U32(static_cast<std::uint32_t>(v));
  if (skins) PutName(w, m.skinPath, md2::kSkinNameSize);
  for (const ModelVertex& st : m.texCoords)
    w.U16(static_cast<std::uint16_t>(st.s)), w.U16(static_cast<std::uint16_t>(st.t));
  for (const ModelTriangle& t : m.triangles) {
    for (std::int32_t v : t.vertex) w.U16(static_cast<std::uint16_t>(v));
    for (std::int32_t st : t.texCoord) w.U16(static_cast<std::uint16_t>(st));
  }
  for (const PackedFrame& f : m.frames) {
    for (float s : f.scale) PutF32(w, s);
    for (float o : f.origin) PutF32(w, o);
    PutName(w, f.name, kFrameNameSize);
    for (const PackedVertex& v : f.vertices) PutVertex(w, v);
  }
  // One three-corner strip a triangle, its texture coordinates as fractions of the skin.
  for (const ModelTriangle& t : m.triangles) {
    w.I32(3);
    for (int k = 0; k < 3; ++k) {
      const ModelVertex& st = m.texCoords[static_cast<std::size_t>(t.texCoord[k])];
      PutF32(w, static_cast<float>(st.s) / static_cast<float>(m.skinWidth));
      PutF32(w, static_cast<float>(st.t) / static_cast<float>(m.skinHeight));
      w.I32(t.vertex[k]);
    }
  }
  w.I32(0);
  return bytes;
}

}  // namespace tarn
