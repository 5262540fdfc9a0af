#include "models/ModelFiles.h"

#include <algorithm>
#include <cstring>
#include <nlohmann/json.hpp>
#include <optional>
#include <string_view>

#include "archive/TextSniff.h"
#include "models/StudioModel.h"

namespace tarn {

namespace {

using json = nlohmann::json;

std::string_view Text(std::span<const std::uint8_t> bytes, std::size_t most) {
  return {reinterpret_cast<const char*>(bytes.data()), std::min(bytes.size(), most)};
}

bool StartsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

std::string_view SkipBomAndSpace(std::string_view s) {
  if (StartsWith(s, "\xEF\xBB\xBF")) s.remove_prefix(3);
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r' || s.front() == '\n'))
    s.remove_prefix(1);
  return s;
}

// The first lines of a text, cut at the last whole line, when the bytes there read as text.
std::optional<std::string_view> Head(std::span<const std::uint8_t> bytes, std::size_t most) {
  std::string_view head = Text(bytes, most);
  if (head.size() < bytes.size())
    if (const std::size_t cut = head.rfind('\n'); cut != std::string_view::npos) head = head.substr(0, cut + 1);
  if (!LooksLikeText({reinterpret_cast<const std::uint8_t*>(head.data()), head.size()})) return std::nullopt;
  return head;
}

// An OBJ has no magic number: its lines each start with one of its keywords. The first line
// that is not a comment must be one, and a vertex ("v") must come within the first 64 KB;
// PLY ("ply"), X ("xof"), MD5 ("MD5Version"), STL ("solid") and the other text formats Assimp
// would take start otherwise.
bool LooksLikeObj(std::span<const std::uint8_t> bytes) {
  static constexpr std::string_view kKeywords[] = {
      "v",      "vt",     "vn",     "vp",  "f",    "l",    "p",    "o",     "g",      "s",
      "mtllib", "usemtl", "cstype", "deg", "bmat", "step", "curv", "curv2", "surf",   "parm",
      "trim",   "hole",   "scrv",   "sp",  "end",  "con",  "mg",   "lod",   "usemap", "maplib"};
  const std::optional<std::string_view> head = Head(bytes, 64 << 10);
  if (!head) return false;
  bool first = true, vertex = false;
  std::string_view rest = *head;
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    if (line.empty() || line.front() == '#' || line.front() == '\r') continue;
    const std::string_view word = line.substr(0, line.find_first_of(" \t\r"));
    if (first && std::find(std::begin(kKeywords), std::end(kKeywords), word) == std::end(kKeywords)) return false;
    first = false;
    if (word == "v") vertex = true;
  }
  return vertex;
}

std::uint32_t U32(std::span<const std::uint8_t> b, std::size_t at) {
  if (at > b.size() || b.size() - at < 4) return 0;
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

// --- glTF -----------------------------------------------------------------------------------

const json* Member(const json& object, const char* key) {
  if (!object.is_object()) return nullptr;
  const auto it = object.find(key);
  return it == object.end() ? nullptr : &*it;
}

const json& Array(const json& object, const char* key) {
  static const json kEmpty = json::array();
  const json* a = Member(object, key);
  return a && a->is_array() ? *a : kEmpty;
}

// An index or count: a whole number, not negative.
std::optional<std::uint64_t> Whole(const json* v) {
  if (!v) return std::nullopt;
  if (v->is_number_unsigned()) return v->get<std::uint64_t>();
  if (v->is_number_integer() && v->get<std::int64_t>() >= 0) return static_cast<std::uint64_t>(v->get<std::int64_t>());
  return std::nullopt;
}

// Thrown with what is wrong; caught in GltfProblem.
struct Refusal {
  std::string why;
};

std::uint64_t Require(const json* v, std::uint64_t below, const std::string& what) {
  const std::optional<std::uint64_t> n = Whole(v);
  if (!n || *n >= below) throw Refusal{what + " is not one of the file's"};
  return *n;
}

std::uint64_t Optional(const json& object, const char* key, std::uint64_t fallback) {
  const json* v = Member(object, key);
  if (!v) return fallback;
  const std::optional<std::uint64_t> n = Whole(v);
  if (!n) throw Refusal{std::string(key) + " is not a whole number"};
  return *n;
}

std::string PercentDecoded(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    auto hex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
    if (s[i] == '%' && i + 2 < s.size() && hex(s[i + 1]) && hex(s[i + 2])) {
      out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

// A buffer's or image's URI: data inside the file, or a file inside the model's folder.
void CheckUri(const json& object, const std::string& what, GltfFacts& facts) {
  const json* uri = Member(object, "uri");
  if (!uri) return;
  if (!uri->is_string()) throw Refusal{what + "'s uri is not text"};
  const std::string& s = uri->get_ref<const std::string&>();
  if (StartsWith(s, "data:")) return;
  const std::string decoded = PercentDecoded(s);
  if (PathInsideFolder(decoded).empty() || decoded.find('\0') != std::string::npos)
    throw Refusal{what + " names a file outside the model's folder: " + s.substr(0, 200)};
  facts.files.push_back(decoded);
}

constexpr std::uint64_t kMaxBufferBytes = std::uint64_t{1} << 30;
constexpr std::uint64_t kMaxAccessorCount = std::uint64_t{1} << 26;

std::uint64_t ComponentSize(std::uint64_t type) {
  switch (type) {
    case 5120:
    case 5121: return 1;
    case 5122:
    case 5123: return 2;
    case 5125:
    case 5126: return 4;
    default: return 0;
  }
}

std::uint64_t Components(const json* type) {
  if (!type || !type->is_string()) return 0;
  const std::string& t = type->get_ref<const std::string&>();
  static const std::pair<const char*, std::uint64_t> kTypes[] = {{"SCALAR", 1}, {"VEC2", 2}, {"VEC3", 3}, {"VEC4", 4},
                                                                 {"MAT2", 4},   {"MAT3", 9}, {"MAT4", 16}};
  for (const auto& [name, n] : kTypes)
    if (t == name) return n;
  return 0;
}

void CheckGltf(const json& doc, std::uint64_t binChunk, GltfFacts& facts) {
  if (!doc.is_object()) throw Refusal{"its JSON is not an object"};
  const json* asset = Member(doc, "asset");
  const json* version = asset ? Member(*asset, "version") : nullptr;
  if (!version || !version->is_string()) throw Refusal{"it is not glTF: it has no asset version"};
  const std::string& v = version->get_ref<const std::string&>();
  if (v != "2.0" && !StartsWith(v, "2."))
    throw Refusal{"it is glTF " + v.substr(0, 20) + "; only glTF 2.0 is read (Blender and others save it)"};

  // Buffers, their views and the accessors over those: every byte inside what holds it.
  const json& buffers = Array(doc, "buffers");
  std::vector<std::uint64_t> bufferSize;
  for (std::size_t i = 0; i < buffers.size(); ++i) {
    const std::string what = "buffer " + std::to_string(i);
    const std::uint64_t length = Require(Member(buffers[i], "byteLength"), kMaxBufferBytes + 1, what + "'s byteLength");
    CheckUri(buffers[i], what, facts);
    if (!Member(buffers[i], "uri") && (i != 0 || length > binChunk))
      throw Refusal{what + " has more bytes than the file holds"};
    bufferSize.push_back(length);
  }
  const json& views = Array(doc, "bufferViews");
  std::vector<std::pair<std::uint64_t, std::uint64_t>> viewSize;  // length, stride
  for (std::size_t i = 0; i < views.size(); ++i) {
    const std::string what = "buffer view " + std::to_string(i);
    const std::uint64_t buffer = Require(Member(views[i], "buffer"), bufferSize.size(), what + "'s buffer");
    const std::uint64_t offset = Optional(views[i], "byteOffset", 0);
    const std::uint64_t length = Require(Member(views[i], "byteLength"), kMaxBufferBytes + 1, what + "'s byteLength");
    if (offset > bufferSize[buffer] || length > bufferSize[buffer] - offset)
      throw Refusal{what + " lies outside its buffer"};
    const std::uint64_t stride = Optional(views[i], "byteStride", 0);
    if (stride != 0 && (stride < 4 || stride > 252)) throw Refusal{what + "'s byteStride is not 4 to 252"};
    viewSize.push_back({length, stride});
  }
  const json& accessors = Array(doc, "accessors");
  std::vector<std::uint64_t> accessorCount;
  auto fitsView = [&](const json& object, std::uint64_t count, std::uint64_t element, const std::string& what) {
    const json* view = Member(object, "bufferView");
    if (!view) return false;
    const auto [length, stride] = viewSize[Require(view, viewSize.size(), what + "'s bufferView")];
    const std::uint64_t offset = Optional(object, "byteOffset", 0);
    const std::uint64_t step = stride ? stride : element;
    if (count == 0) return true;
    if (offset > length || element > length - offset || (count - 1) > (length - offset - element) / step)
      throw Refusal{what + " reads past its buffer view"};
    return true;
  };
  for (std::size_t i = 0; i < accessors.size(); ++i) {
    const json& a = accessors[i];
    const std::string what = "accessor " + std::to_string(i);
    const std::uint64_t count = Require(Member(a, "count"), kMaxAccessorCount + 1, what + "'s count");
    const std::uint64_t component = ComponentSize(Optional(a, "componentType", 0));
    const std::uint64_t components = Components(Member(a, "type"));
    if (!component || !components) throw Refusal{what + " has no type glTF knows"};
    fitsView(a, count, component * components, what);
    if (const json* sparse = Member(a, "sparse")) {
      const std::uint64_t n = Require(Member(*sparse, "count"), count + 1, what + "'s sparse count");
      const json* indices = Member(*sparse, "indices");
      const json* values = Member(*sparse, "values");
      if (!indices || !values) throw Refusal{what + "'s sparse values are incomplete"};
      const std::uint64_t indexSize = ComponentSize(Optional(*indices, "componentType", 0));
      if (!indexSize || !fitsView(*indices, n, indexSize, what + "'s sparse indices") ||
          !fitsView(*values, n, component * components, what + "'s sparse values"))
        throw Refusal{what + "'s sparse values are incomplete"};
    }
    accessorCount.push_back(count);
  }

  // Meshes: the triangles each draws.
  const json& meshes = Array(doc, "meshes");
  std::vector<std::uint64_t> meshTriangles;
  for (std::size_t m = 0; m < meshes.size(); ++m) {
    std::uint64_t triangles = 0;
    const std::string what = "mesh " + std::to_string(m);
    for (const json& p : Array(meshes[m], "primitives")) {
      const json* attributes = Member(p, "attributes");
      if (!attributes || !attributes->is_object()) throw Refusal{what + " has a primitive without attributes"};
      for (const auto& [name, index] : attributes->items()) Require(&index, accessorCount.size(), what + "'s " + name);
      for (const json& target : Array(p, "targets"))
        if (target.is_object())
          for (const auto& [name, index] : target.items())
            Require(&index, accessorCount.size(), what + "'s morph target " + name);
      // The format lets a primitive go without positions (to be skipped); Assimp reads on
      // without them into a null pointer.
      const json* position = Member(*attributes, "POSITION");
      if (!position) throw Refusal{what + " has a primitive without positions"};
      std::uint64_t corners = accessorCount[Require(position, accessorCount.size(), what + "'s POSITION")];
      if (const json* indices = Member(p, "indices"))
        corners = accessorCount[Require(indices, accessorCount.size(), what + "'s indices")];
      const std::uint64_t mode = Optional(p, "mode", 4);
      triangles += mode == 4 ? corners / 3 : (mode == 5 || mode == 6) && corners > 2 ? corners - 2 : 0;
    }
    meshTriangles.push_back(triangles);
  }

  // Nodes: trees, each node below one parent at most, none its own ancestor.
  const json& nodes = Array(doc, "nodes");
  facts.nodes = nodes.size();
  if (nodes.size() > kGltfMaxNodes)
    throw Refusal{std::to_string(nodes.size()) + " nodes; Tarn reads at most " + std::to_string(kGltfMaxNodes)};
  std::vector<std::int64_t> parent(nodes.size(), -1);
  for (std::size_t n = 0; n < nodes.size(); ++n) {
    const std::string what = "node " + std::to_string(n);
    for (const json& c : Array(nodes[n], "children")) {
      const std::uint64_t child = Require(&c, nodes.size(), what + "'s child");
      if (parent[child] >= 0 || child == n)
        throw Refusal{"node " + std::to_string(child) +
                      " is placed twice (glTF's nodes are trees: each has one parent at most)"};
      parent[child] = static_cast<std::int64_t>(n);
    }
    if (const json* mesh = Member(nodes[n], "mesh")) {
      facts.triangles += meshTriangles[Require(mesh, meshTriangles.size(), what + "'s mesh")];
      if (facts.triangles > kMaxInstancedTriangles)
        throw Refusal{"its nodes place more than " + std::to_string(kMaxInstancedTriangles) + " triangles"};
    }
  }
  std::vector<std::size_t> depth(nodes.size(), 0);
  std::vector<std::size_t> stack;
  std::size_t reached = 0;
  for (std::size_t n = 0; n < nodes.size(); ++n)
    if (parent[n] < 0) stack.push_back(n), depth[n] = 1;
  while (!stack.empty()) {
    const std::size_t n = stack.back();
    stack.pop_back();
    ++reached;
    facts.depth = std::max(facts.depth, depth[n]);
    if (depth[n] > kGltfMaxNodeDepth)
      throw Refusal{"its nodes are nested more than " + std::to_string(kGltfMaxNodeDepth) + " deep"};
    for (const json& c : Array(nodes[n], "children")) {
      const std::size_t child = static_cast<std::size_t>(c.get<std::uint64_t>());
      depth[child] = depth[n] + 1;
      stack.push_back(child);
    }
  }
  if (reached != nodes.size()) throw Refusal{"its nodes form a loop (a node is its own ancestor)"};
  for (const json& scene : Array(doc, "scenes"))
    for (const json& n : Array(scene, "nodes")) Require(&n, nodes.size(), "a scene's node");
  if (const json* scene = Member(doc, "scene")) Require(scene, Array(doc, "scenes").size(), "the scene");
  for (const json& skin : Array(doc, "skins"))
    for (const json& j : Array(skin, "joints")) Require(&j, nodes.size(), "a skin's joint");
  for (const json& animation : Array(doc, "animations")) {
    const json& samplers = Array(animation, "samplers");
    for (const json& s : samplers) {
      Require(Member(s, "input"), accessorCount.size(), "an animation's input");
      Require(Member(s, "output"), accessorCount.size(), "an animation's output");
    }
    for (const json& c : Array(animation, "channels")) {
      Require(Member(c, "sampler"), samplers.size(), "an animation channel's sampler");
      if (const json* target = Member(c, "target"))
        if (const json* node = Member(*target, "node")) Require(node, nodes.size(), "an animation channel's node");
    }
  }
  // An image outside the folder is not refused here: the skin is only looked for inside it.
  for (const json& image : Array(doc, "images"))
    if (const json* view = Member(image, "bufferView")) Require(view, viewSize.size(), "an image's bufferView");
}

}  // namespace

ModelFileFormat SniffModelFile(std::span<const std::uint8_t> bytes) {
  const std::string_view head = Text(bytes, 4096);
  if (StartsWith(head, std::string_view("INTERQUAKEMODEL\0", 16))) return ModelFileFormat::Iqm;
  if (StartsWith(head, "IDP3")) return ModelFileFormat::Md3;
  // Half-Life's models, and the textures and sequence groups kept beside them.
  if (StartsWith(head, "IDST") || StartsWith(head, "IDSQ")) return ModelFileFormat::HalfLife;
  if (StartsWith(head, "glTF")) return ModelFileFormat::Glb;
  if (StartsWith(head, std::string_view("Kaydara FBX Binary  \0", 21))) return ModelFileFormat::Fbx;
  const std::optional<std::string_view> text = Head(bytes, 4096);
  if (!text) return ModelFileFormat::Unknown;
  const std::string_view start = SkipBomAndSpace(*text);
  if (StartsWith(start, "{")) return ModelFileFormat::Gltf;
  // An MD5 mesh; its animation (".md5anim", the same first line) is no model without it.
  if (StartsWith(start, "MD5Version"))
    return start.find("numFrames") == std::string_view::npos ? ModelFileFormat::Md5 : ModelFileFormat::Unknown;
  if ((StartsWith(start, "<?xml") || StartsWith(start, "<COLLADA")) && start.find("<COLLADA") != std::string_view::npos)
    return ModelFileFormat::Collada;
  if (StartsWith(start, "; FBX") || start.find("FBXHeaderExtension:") != std::string_view::npos)
    return ModelFileFormat::Fbx;
  if (LooksLikeObj(bytes)) return ModelFileFormat::Obj;
  return ModelFileFormat::Unknown;
}

const char* ModelFormatName(ModelFileFormat format) {
  switch (format) {
    case ModelFileFormat::Gltf: return "glTF 2.0";
    case ModelFileFormat::Glb: return "glTF 2.0 binary";
    case ModelFileFormat::Obj: return "OBJ";
    case ModelFileFormat::Iqm: return "IQM";
    case ModelFileFormat::Md3: return "MD3";
    case ModelFileFormat::Md5: return "MD5";
    case ModelFileFormat::Fbx: return "FBX";
    case ModelFileFormat::Collada: return "Collada";
    case ModelFileFormat::HalfLife: return "Half-Life model";
    case ModelFileFormat::Unknown: break;
  }
  return "unknown";
}

std::string GltfProblem(std::span<const std::uint8_t> bytes, bool binary, GltfFacts* facts) {
  GltfFacts counted;
  std::span<const std::uint8_t> text = bytes;
  std::uint64_t binChunk = 0;
  if (binary) {
    // A GLB: a 12-byte header, the JSON chunk, then at most one binary chunk.
    if (bytes.size() < 20 || U32(bytes, 4) != 2) return "it is not a glTF 2.0 binary file";
    const std::uint64_t total = U32(bytes, 8), json = U32(bytes, 12);
    if (total > bytes.size() || total < 20 || U32(bytes, 16) != 0x4E4F534Au || json > total - 20)
      return "its chunks do not fit in the file";
    text = bytes.subspan(20, json);
    const std::uint64_t next = 20 + ((json + 3) & ~std::uint64_t{3});
    if (next + 8 <= total && U32(bytes, next + 4) == 0x004E4942u) {
      binChunk = U32(bytes, next);
      if (binChunk > total - next - 8) return "its binary chunk does not fit in the file";
    }
  }
  // The nesting is counted first, outside strings, in one pass over the bytes: a parser's
  // callback would see it too, but nlohmann-json's looks over the whole array after each of its
  // objects, and 100,000 nodes take minutes.
  std::size_t depth = 0;
  bool inString = false, escaped = false;
  for (const std::uint8_t c : text) {
    if (inString) {
      if (escaped) escaped = false;
      else if (c == '\\') escaped = true;
      else if (c == '"') inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '{' || c == '[') {
      if (++depth > kGltfMaxJsonDepth)
        return "its JSON is nested more than " + std::to_string(kGltfMaxJsonDepth) + " deep";
    } else if ((c == '}' || c == ']') && depth > 0) {
      --depth;
    }
  }
  try {
    const json doc = json::parse(text.begin(), text.end());
    CheckGltf(doc, binChunk, counted);
  } catch (const Refusal& r) {
    if (facts) *facts = counted;
    return r.why;
  } catch (const json::exception& e) {
    std::string why = e.what();
    if (const std::size_t cut = why.find("] "); cut != std::string::npos) why.erase(0, cut + 2);
    return "its JSON cannot be read: " + why.substr(0, 200);
  }
  if (facts) *facts = counted;
  return {};
}

std::string Md3Problem(std::span<const std::uint8_t> bytes) {
  const auto i32 = [&](std::size_t at) -> std::int64_t { return static_cast<std::int32_t>(U32(bytes, at)); };
  const auto size = static_cast<std::int64_t>(bytes.size());
  // count records of each bytes from offset, within the file.
  const auto fits = [&](std::int64_t offset, std::int64_t count, std::int64_t each) {
    return offset >= 0 && count >= 0 && count <= size && offset <= size && count * each <= size - offset;
  };
  if (bytes.size() < 108 || std::memcmp(bytes.data(), "IDP3", 4) != 0) return "not an MD3 model";
  const std::int64_t frames = i32(76), tags = i32(80), surfaces = i32(84);
  if (frames < 1 || frames > 1024 || tags < 0 || tags > 16 || surfaces < 1 || surfaces > 32 ||
      !fits(i32(92), frames, 56) || !fits(i32(96), frames * tags, 112) || i32(104) < 0 || i32(104) > size)
    return "its header counts more frames, tags or surfaces than the file holds";
  std::int64_t at = i32(100);
  for (std::int64_t n = 0; n < surfaces; ++n) {
    if (!fits(at, 1, 108)) return "a surface lies outside the file";
    const auto s = static_cast<std::size_t>(at);
    const std::int64_t sframes = i32(s + 72), shaders = i32(s + 76), verts = i32(s + 80), tris = i32(s + 84),
                       end = i32(s + 104);
    // The offsets inside a surface run forwards from it: Assimp adds them to the surface as
    // unsigned numbers, so one that points back lands gigabytes past the file.
    for (std::size_t field = 88; field <= 100; field += 4)
      if (i32(s + field) < 0) return "a surface counts more than the file holds";
    if (sframes != frames || shaders < 0 || shaders > 256 || verts < 0 || verts > 4096 || tris < 0 || tris > 8192 ||
        !fits(at + i32(s + 88), tris, 12) || !fits(at + i32(s + 92), shaders, 68) ||
        !fits(at + i32(s + 96), verts, 8) || !fits(at + i32(s + 100), verts * frames, 8) || end <= 0)
      return "a surface counts more than the file holds";
    // Each corner names a vertex of its own surface.
    const std::int64_t triangles = at + i32(s + 88);
    for (std::int64_t t = 0; t < tris * 3; ++t)
      if (U32(bytes, static_cast<std::size_t>(triangles + t * 4)) >= static_cast<std::uint64_t>(verts))
        return "a triangle names a vertex its surface does not have";
    at += end;
  }
  return {};
}

std::string ModelFileProblem(ModelFileFormat format, std::span<const std::uint8_t> bytes) {
  switch (format) {
    case ModelFileFormat::Gltf: return GltfProblem(bytes, false);
    case ModelFileFormat::Glb: return GltfProblem(bytes, true);
    case ModelFileFormat::Md3: return Md3Problem(bytes);
    case ModelFileFormat::HalfLife: return StudioFileProblem(bytes);
    case ModelFileFormat::Fbx:
    case ModelFileFormat::Collada:
      return std::string("Tarn does not import ") + ModelFormatName(format) +
             " (Assimp's reader of it is not safe on damaged files): export the model as glTF 2.0";
    case ModelFileFormat::Unknown:
      if (const std::optional<std::string_view> text = Head(bytes, 4096);
          text && StartsWith(SkipBomAndSpace(*text), "MD5Version"))
        return "an MD5 animation is not a model: open the .md5mesh it goes with";
      return std::string("not a model Tarn imports: it reads ") + kModelFormatsRead;
    default: return {};
  }
}

std::string PathInsideFolder(const std::string& path) {
  std::string p = path;
  std::replace(p.begin(), p.end(), '\\', '/');
  if (p.empty() || p.front() == '/') return {};
  // A scheme ("file:", "http:") or a drive ("C:") before the first slash.
  const std::size_t colon = p.find(':');
  if (colon != std::string::npos && colon < p.find('/')) return {};
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= p.size()) {
    std::size_t end = p.find('/', start);
    if (end == std::string::npos) end = p.size();
    const std::string part = p.substr(start, end - start);
    if (part == "..") {
      if (parts.empty()) return {};
      parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string out;
  for (const std::string& part : parts) out += (out.empty() ? "" : "/") + part;
  return out;
}

}  // namespace tarn
