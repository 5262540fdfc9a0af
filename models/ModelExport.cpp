#include "models/ModelExport.h"

#include <png.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <csetjmp>
#include <cstring>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

namespace tarn {

namespace {

using json = nlohmann::json;

// glTF's accessor and buffer-view codes.
constexpr int kFloat = 5126, kUnsignedInt = 5125;
constexpr int kArrayBuffer = 34962, kElementArrayBuffer = 34963;
constexpr int kNearest = 9728;

// One frame chosen for the export, and the animation it belongs to.
struct Chosen {
  const ModelAnimation* animation;
  const ModelFrame* frame;
};

// The model's triangles as modelling programs keep them: a vertex for each pair of position and
// skin pixel (an MDL's back faces move seam vertices half a skin right), wound anticlockwise.
struct Mesh {
  std::vector<std::int32_t> position;  // the model vertex each mesh vertex stands on
  std::vector<float> uv;               // u, v for each mesh vertex, v growing downwards
  std::vector<std::uint32_t> indices;  // three a triangle
};

bool Usable(const ModelSkin& s) {
  return s.width > 0 && s.height > 0 && s.paddedWidth >= s.width && s.paddedHeight >= s.height &&
         s.pixels.size() >= static_cast<std::size_t>(s.paddedWidth) * s.paddedHeight * 3;
}

// The skins an export carries: every real one that has pixels. The first of them (or, when
// there is none, the checkerboard standing in for a missing skin) gives the texture
// coordinates their scale.
struct ExportSkins {
  const ModelSkin* basis = nullptr;
  std::vector<const ModelSkin*> real;
};

bool ChooseSkins(const ModelData& model, ExportSkins& out, std::string* error) {
  for (const ModelSkin& s : model.skins)
    if (!s.placeholder && Usable(s)) out.real.push_back(&s);
  if (!out.real.empty()) out.basis = out.real.front();
  else
    for (const ModelSkin& s : model.skins)
      if (s.placeholder && Usable(s)) out.basis = &s;
  if (!out.basis && error) *error = "the model has no skin to show";
  return out.basis != nullptr;
}

bool Choose(const ModelData& model, const ModelExportOptions& options, std::vector<Chosen>& out, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  int n = 0;
  for (const ModelAnimation& a : model.animations)
    for (const ModelFrame& f : a.frames) {
      if (options.frame < 0 || options.frame == n) out.push_back({&a, &f});
      ++n;
    }
  if (n == 0) return fail("the model has no frames");
  if (out.empty())
    return fail("the model has no frame " + std::to_string(options.frame) + " (its frames are 0 to " +
                std::to_string(n - 1) + ")");
  if (model.triangles.empty()) return fail("the model has no triangles");
  for (const Chosen& c : out)
    if (c.frame->vertices.size() != static_cast<std::size_t>(std::max(model.vertexCount, 0)))
      return fail("frame " + c.frame->name + " does not have a position for every vertex");
  return true;
}

// The MDL's s and t of a triangle's corner, seam applied; false when an index is out of range.
bool CornerPixel(const ModelData& model, const ModelSkin& skin, const ModelTriangle& t, int c, std::int32_t& s,
                 std::int32_t& tt) {
  const bool md2 = model.format == ModelData::kMd2;
  const std::int32_t v = t.vertex[c];
  const std::int32_t st = md2 ? t.texCoord[c] : v;
  if (v < 0 || v >= model.vertexCount || st < 0 || st >= static_cast<std::int32_t>(model.texCoords.size()))
    return false;
  const ModelVertex& tc = model.texCoords[static_cast<std::size_t>(st)];
  s = tc.s, tt = tc.t;
  if (!md2 && tc.onseam != 0 && t.facesFront == 0) s += skin.width / 2;
  return true;
}

// Texture coordinates as the engines sample them: Quake's GL renderers take the centre of an
// MDL's pixel, Quake II's the corner of an MD2's; Tarn's import reads them back the same way.
float U(const ModelData& model, const ModelSkin& skin, std::int32_t s) {
  const double offset = model.format == ModelData::kMd2 ? 0.0 : 0.5;
  return static_cast<float>((s + offset) / skin.width);
}
float V(const ModelData& model, const ModelSkin& skin, std::int32_t t) {
  const double offset = model.format == ModelData::kMd2 ? 0.0 : 0.5;
  return static_cast<float>((t + offset) / skin.height);
}

bool BuildMesh(const ModelData& model, const ModelSkin& skin, Mesh& mesh, std::string* error) {
  std::map<std::array<std::int32_t, 3>, std::uint32_t> index;
  for (const ModelTriangle& t : model.triangles)
    for (int c : {0, 2, 1}) {  // the games wind front faces clockwise
      std::int32_t s, tt;
      if (!CornerPixel(model, skin, t, c, s, tt)) {
        if (error) *error = "a triangle names a vertex the model does not have";
        return false;
      }
      auto [it, added] = index.emplace(std::array<std::int32_t, 3>{t.vertex[c], s, tt},
                                       static_cast<std::uint32_t>(mesh.position.size()));
      if (added) {
        mesh.position.push_back(t.vertex[c]);
        mesh.uv.push_back(U(model, skin, s));
        mesh.uv.push_back(V(model, skin, tt));
      }
      mesh.indices.push_back(it->second);
    }
  return true;
}

// A vertex in glTF's and OBJ's axes: y up, the games' forward (+x) towards the viewer (+z).
std::array<float, 3> Axes(const ModelVertex& v) { return {v.y, v.z, v.x}; }

// libpng writes through this into memory.
void PngAppend(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<std::vector<std::uint8_t>*>(::png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}
void PngFlush(png_structp) {}

std::vector<std::uint8_t> SkinPng(const ModelSkin& skin) {
  return EncodePngRgb(skin.width, skin.height, static_cast<std::size_t>(skin.paddedWidth) * 3, skin.pixels.data());
}

std::string Base64(const std::vector<std::uint8_t>& bytes) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::uint32_t n = static_cast<std::uint32_t>(bytes[i]) << 16 |
                            (i + 1 < bytes.size() ? static_cast<std::uint32_t>(bytes[i + 1]) << 8 : 0) |
                            (i + 2 < bytes.size() ? bytes[i + 2] : 0);
    out += kDigits[n >> 18 & 63];
    out += kDigits[n >> 12 & 63];
    out += i + 1 < bytes.size() ? kDigits[n >> 6 & 63] : '=';
    out += i + 2 < bytes.size() ? kDigits[n & 63] : '=';
  }
  return out;
}

// The one buffer every accessor reads, built view by view.
class CBuffer {
 public:
  explicit CBuffer(json& root) : m_root(root) {}

  int View(const void* data, std::size_t size, int target) {
    while (m_bytes.size() % 4) m_bytes.push_back(0);
    json view = {{"buffer", 0}, {"byteOffset", m_bytes.size()}, {"byteLength", size}};
    if (target) view["target"] = target;
    const auto* p = static_cast<const std::uint8_t*>(data);
    m_bytes.insert(m_bytes.end(), p, p + size);
    m_root["bufferViews"].push_back(view);
    return static_cast<int>(m_root["bufferViews"].size() - 1);
  }

  // Floats, count items of width each ("SCALAR", "VEC2", "VEC3"); bounds when asked, as glTF
  // requires of positions and animation times.
  int Floats(const std::vector<float>& values, int width, bool bounds, int target) {
    static const char* kTypes[] = {"", "SCALAR", "VEC2", "VEC3"};
    json accessor = {{"bufferView", View(values.data(), values.size() * 4, target)},
                     {"componentType", kFloat},
                     {"count", values.size() / static_cast<std::size_t>(width)},
                     {"type", kTypes[width]}};
    if (bounds) {
      std::vector<float> lo(static_cast<std::size_t>(width), std::numeric_limits<float>::infinity());
      std::vector<float> hi(static_cast<std::size_t>(width), -std::numeric_limits<float>::infinity());
      for (std::size_t i = 0; i < values.size(); ++i) {
        lo[i % width] = std::min(lo[i % width], values[i]);
        hi[i % width] = std::max(hi[i % width], values[i]);
      }
      accessor["min"] = lo;
      accessor["max"] = hi;
    }
    return Add(std::move(accessor));
  }

  int Indices(const std::vector<std::uint32_t>& values) {
    return Add({{"bufferView", View(values.data(), values.size() * 4, kElementArrayBuffer)},
                {"componentType", kUnsignedInt},
                {"count", values.size()},
                {"type", "SCALAR"}});
  }

  std::vector<std::uint8_t>& Bytes() { return m_bytes; }

 private:
  int Add(json accessor) {
    m_root["accessors"].push_back(std::move(accessor));
    return static_cast<int>(m_root["accessors"].size() - 1);
  }

  json& m_root;
  std::vector<std::uint8_t> m_bytes;
};

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

std::string Number(float f) {
  std::ostringstream s;
  s.imbue(std::locale::classic());
  s.precision(9);
  s << f;
  return s.str();
}

}  // namespace

std::vector<std::uint8_t> EncodePngRgb(int width, int height, std::size_t stride, const std::uint8_t* rgb) {
  std::vector<std::uint8_t> out;
  if (width <= 0 || height <= 0) return out;
  png_structp png = ::png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? ::png_create_info_struct(png) : nullptr;
  if (!png || !info) {
    ::png_destroy_write_struct(&png, &info);
    return out;
  }
  std::vector<png_bytep> rows(static_cast<std::size_t>(height));
  for (int y = 0; y < height; ++y) rows[static_cast<std::size_t>(y)] = const_cast<png_bytep>(rgb + y * stride);
  if (setjmp(png_jmpbuf(png))) {
    ::png_destroy_write_struct(&png, &info);
    return {};
  }
  ::png_set_write_fn(png, &out, PngAppend, PngFlush);
  ::png_set_compression_level(png, 6);
  ::png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  ::png_write_info(png, info);
  ::png_write_image(png, rows.data());
  ::png_write_end(png, nullptr);
  ::png_destroy_write_struct(&png, &info);
  return out;
}

bool ExportGltf(const ModelData& model, const ModelExportOptions& options, std::vector<std::uint8_t>& out,
                std::string* error) {
  out.clear();
  std::vector<Chosen> chosen;
  if (!Choose(model, options, chosen, error)) return false;
  ExportSkins skins;
  if (!ChooseSkins(model, skins, error)) return false;
  Mesh mesh;
  if (!BuildMesh(model, *skins.basis, mesh, error)) return false;
  std::vector<std::vector<std::uint8_t>> pngs;
  for (const ModelSkin* skin : skins.real) {
    pngs.push_back(SkinPng(*skin));
    if (pngs.back().empty()) {
      if (error) *error = "the skin cannot be encoded as PNG";
      return false;
    }
  }

  json root;
  root["asset"] = {{"version", "2.0"}, {"generator", "Tarn"}};
  CBuffer buffer(root);
  const std::size_t vertices = mesh.position.size();
  auto positions = [&](const ModelFrame& f) {
    std::vector<float> p(vertices * 3);
    for (std::size_t i = 0; i < vertices; ++i) {
      const auto a = Axes(f.vertices[static_cast<std::size_t>(mesh.position[i])]);
      std::copy(a.begin(), a.end(), p.begin() + static_cast<std::ptrdiff_t>(i * 3));
    }
    return p;
  };
  // The first frame is the mesh at rest; every frame, the first too, is a target of its own, so
  // that each keeps its name and a weight of one shows it whole.
  const std::vector<float> base = positions(*chosen.front().frame);
  json primitive = {{"attributes",
                     {{"POSITION", buffer.Floats(base, 3, true, kArrayBuffer)},
                      {"TEXCOORD_0", buffer.Floats(mesh.uv, 2, false, kArrayBuffer)}}},
                    {"indices", buffer.Indices(mesh.indices)},
                    {"material", 0},
                    {"mode", 4}};
  json names = json::array();
  for (const Chosen& c : chosen) {
    std::vector<float> delta = positions(*c.frame);
    for (std::size_t i = 0; i < delta.size(); ++i) delta[i] -= base[i];
    primitive["targets"].push_back({{"POSITION", buffer.Floats(delta, 3, true, kArrayBuffer)}});
    names.push_back(c.frame->name);
  }
  const std::string name = options.name.empty() ? model.name : options.name;
  root["meshes"] = json::array({{{"name", name},
                                 {"primitives", json::array({primitive})},
                                 {"weights", std::vector<float>(chosen.size(), 0.0f)},
                                 {"extras", {{"targetNames", names}}}}});
  root["nodes"] = json::array({{{"name", name}, {"mesh", 0}}});
  root["scenes"] = json::array({{{"nodes", {0}}}});
  root["scene"] = 0;

  // Each skin a material of its own, pixels kept sharp as the games draw them; the first is
  // the mesh's, the others its variants (KHR_materials_variants), which modelling programs
  // offer to switch between as the games switch skins. A model whose skin is missing keeps its
  // texture coordinates and gets a plain material.
  root["materials"] = json::array();
  if (skins.real.empty())
    root["materials"].push_back(
        {{"name", "skin"}, {"pbrMetallicRoughness", {{"metallicFactor", 0}, {"roughnessFactor", 1}}}});
  for (std::size_t i = 0; i < skins.real.size(); ++i) {
    const ModelSkin& skin = *skins.real[i];
    const std::string skinName = skin.name.empty() ? name + (i ? "-" + std::to_string(i) : "") : skin.name;
    root["images"].push_back({{"name", skinName},
                              {"mimeType", "image/png"},
                              {"bufferView", buffer.View(pngs[i].data(), pngs[i].size(), 0)}});
    root["textures"].push_back({{"sampler", 0}, {"source", i}});
    root["materials"].push_back(
        {{"name", i == 0 ? std::string("skin") : "skin-" + std::to_string(i)},
         {"pbrMetallicRoughness",
          {{"baseColorTexture", {{"index", i}}}, {"metallicFactor", 0}, {"roughnessFactor", 1}}}});
  }
  if (!skins.real.empty()) root["samplers"] = json::array({{{"magFilter", kNearest}, {"minFilter", kNearest}}});
  if (skins.real.size() > 1) {
    json variants = json::array(), mappings = json::array();
    for (std::size_t i = 0; i < skins.real.size(); ++i) {
      variants.push_back({{"name", root["images"][i]["name"]}});
      mappings.push_back({{"material", i}, {"variants", {i}}});
    }
    root["extensionsUsed"] = json::array({"KHR_materials_variants"});
    root["extensions"]["KHR_materials_variants"]["variants"] = variants;
    root["meshes"][0]["primitives"][0]["extensions"]["KHR_materials_variants"]["mappings"] = mappings;
  }

  // An animation for each of the model's, its frames shown one after the other.
  const double step = options.fps > 0 ? 1.0 / options.fps : 0.1;
  for (std::size_t i = 0; i < chosen.size();) {
    const ModelAnimation* a = chosen[i].animation;
    std::size_t end = i;
    while (end < chosen.size() && chosen[end].animation == a) ++end;
    std::vector<float> times, weights;
    for (std::size_t k = i; k < end; ++k) {
      times.push_back(static_cast<float>(static_cast<double>(k - i) * step));
      for (std::size_t t = 0; t < chosen.size(); ++t) weights.push_back(t == k ? 1.0f : 0.0f);
    }
    root["animations"].push_back(
        {{"name", a->name},
         {"samplers", json::array({{{"input", buffer.Floats(times, 1, true, 0)},
                                    {"output", buffer.Floats(weights, 1, false, 0)},
                                    {"interpolation", "LINEAR"}}})},
         {"channels", json::array({{{"sampler", 0}, {"target", {{"node", 0}, {"path", "weights"}}}}})}});
    i = end;
  }

  std::vector<std::uint8_t>& bin = buffer.Bytes();
  const std::size_t binLength = bin.size();
  if (binLength > std::numeric_limits<std::uint32_t>::max() - 64) {
    if (error) *error = "the model is too large for glTF";
    return false;
  }
  if (!options.binary) {
    root["buffers"] =
        json::array({{{"byteLength", binLength}, {"uri", "data:application/octet-stream;base64," + Base64(bin)}}});
    const std::string text = root.dump(1);
    out.assign(text.begin(), text.end());
    out.push_back('\n');
    return true;
  }
  root["buffers"] = json::array({{{"byteLength", binLength}}});
  std::string text = root.dump();
  while (text.size() % 4) text += ' ';
  while (bin.size() % 4) bin.push_back(0);
  const std::size_t total = 12 + 8 + text.size() + 8 + bin.size();
  if (total > std::numeric_limits<std::uint32_t>::max()) {
    if (error) *error = "the model is too large for glTF";
    return false;
  }
  out.reserve(total);
  out.insert(out.end(), {'g', 'l', 'T', 'F'});
  PutU32(out, 2);
  PutU32(out, static_cast<std::uint32_t>(total));
  PutU32(out, static_cast<std::uint32_t>(text.size()));
  out.insert(out.end(), {'J', 'S', 'O', 'N'});
  out.insert(out.end(), text.begin(), text.end());
  PutU32(out, static_cast<std::uint32_t>(bin.size()));
  out.insert(out.end(), {'B', 'I', 'N', 0});
  out.insert(out.end(), bin.begin(), bin.end());
  return true;
}

bool ExportObj(const ModelData& model, const ModelExportOptions& options, const std::string& stem,
               std::vector<ExportedFile>& out, std::string* error) {
  out.clear();
  ModelExportOptions one = options;
  if (one.frame < 0) one.frame = 0;
  std::vector<Chosen> chosen;
  if (!Choose(model, one, chosen, error)) return false;
  ExportSkins skins;
  if (!ChooseSkins(model, skins, error)) return false;
  const ModelSkin* skin = skins.basis;
  // OBJ keeps positions and texture coordinates apart, so each is written once.
  std::string obj = "# " + (options.name.empty() ? model.name : options.name) + ", frame " + chosen[0].frame->name +
                    ", written by Tarn\nmtllib " + stem + ".mtl\no " + stem + "\n";
  for (const ModelVertex& v : chosen[0].frame->vertices) {
    const auto a = Axes(v);
    obj += "v " + Number(a[0]) + " " + Number(a[1]) + " " + Number(a[2]) + "\n";
  }
  std::map<std::pair<std::int32_t, std::int32_t>, std::size_t> uvIndex;
  std::string faces;
  for (const ModelTriangle& t : model.triangles) {
    faces += "f";
    for (int c : {0, 2, 1}) {
      std::int32_t s, tt;
      if (!CornerPixel(model, *skin, t, c, s, tt)) {
        if (error) *error = "a triangle names a vertex the model does not have";
        return false;
      }
      auto [it, added] = uvIndex.emplace(std::make_pair(s, tt), uvIndex.size() + 1);
      // OBJ's v grows upwards.
      if (added) obj += "vt " + Number(U(model, *skin, s)) + " " + Number(1.0f - V(model, *skin, tt)) + "\n";
      faces += " " + std::to_string(t.vertex[c] + 1) + "/" + std::to_string(it->second);
    }
    faces += "\n";
  }
  obj += "usemtl skin\n" + faces;
  // A material a skin, the first the one the faces use; the others are there to switch to. A
  // missing skin leaves a material without a picture.
  std::string mtl;
  std::vector<ExportedFile> pictures;
  for (std::size_t i = 0; i < std::max<std::size_t>(skins.real.size(), 1); ++i) {
    const std::string suffix = i == 0 ? "" : "-" + std::to_string(i);
    mtl += (i ? "\n" : "") + ("newmtl skin" + suffix) + "\nKa 0 0 0\nKd 1 1 1\nKs 0 0 0\nillum 1\n";
    if (skins.real.empty()) break;
    std::vector<std::uint8_t> png = SkinPng(*skins.real[i]);
    if (png.empty()) {
      if (error) *error = "the skin cannot be encoded as PNG";
      return false;
    }
    mtl += "map_Kd " + stem + suffix + ".png\n";
    pictures.push_back({stem + suffix + ".png", std::move(png)});
  }
  out.push_back({stem + ".obj", {obj.begin(), obj.end()}});
  out.push_back({stem + ".mtl", {mtl.begin(), mtl.end()}});
  for (ExportedFile& f : pictures) out.push_back(std::move(f));
  return true;
}

}  // namespace tarn
