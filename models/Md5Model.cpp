#include "models/Md5Model.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string_view>

#include "fileio/ByteIO.h"
#include "models/IqmModel.h"

namespace tarn {

namespace {

// The words of an MD5 file: quoted strings, "(", ")", "{", "}" and runs of anything else, with
// "//" comments left out. Each is read once, front to back.
class CTokens {
 public:
  explicit CTokens(std::span<const std::uint8_t> bytes)
      : m_text(reinterpret_cast<const char*>(bytes.data()), bytes.size()) {}

  bool AtEnd() {
    Skip();
    return m_at >= m_text.size();
  }
  // The next word; a quoted string without its quotes.
  std::string_view Next(const char* wanted) {
    Skip();
    if (m_at >= m_text.size()) throw ParseError(std::string("it ends where ") + wanted + " should be");
    const char c = m_text[m_at];
    if (c == '"') {
      const std::size_t end = m_text.find('"', m_at + 1);
      if (end == std::string_view::npos) throw ParseError("a quoted name is not closed");
      const std::string_view s = m_text.substr(m_at + 1, end - m_at - 1);
      m_at = end + 1;
      return s;
    }
    if (c == '(' || c == ')' || c == '{' || c == '}') return m_text.substr(m_at++, 1);
    const std::size_t start = m_at;
    while (m_at < m_text.size() && !Space(m_text[m_at]) && m_text[m_at] != '"' && m_text[m_at] != '(' &&
           m_text[m_at] != ')' && m_text[m_at] != '{' && m_text[m_at] != '}')
      ++m_at;
    return m_text.substr(start, m_at - start);
  }
  bool Peek(std::string_view word) {
    const std::size_t at = m_at;
    Skip();
    if (m_at >= m_text.size() || m_text[m_at] == '"') return m_at = at, false;
    const bool is = Next("a word") == word;
    m_at = at;
    return is;
  }
  void Expect(std::string_view word) {
    const std::string_view got = Next(("\"" + std::string(word) + "\"").c_str());
    if (got != word) throw ParseError("\"" + std::string(word) + "\" expected, found \"" + Shown(got) + "\"");
  }
  double Number(const char* what) {
    const std::string_view s = Next(what);
    double v = 0;
    const char* first = s.data();
    if (!s.empty() && s.front() == '+') ++first;
    const auto [end, ec] = std::from_chars(first, s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size())
      throw ParseError(std::string(what) + " is not a number: \"" + Shown(s) + "\"");
    // Past this no position or product of them fits the floats frames are kept in.
    if (!(std::abs(v) <= 1e15)) throw ParseError(std::string(what) + " is not a finite number of a model's size");
    return v;
  }
  // A whole number from low to high.
  std::int64_t Whole(const char* what, std::int64_t low, std::int64_t high) {
    const std::string_view s = Next(what);
    std::int64_t v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec == std::errc::result_out_of_range) throw ParseError(std::string(what) + " is out of range: " + Shown(s));
    if (ec != std::errc() || end != s.data() + s.size())
      throw ParseError(std::string(what) + " is not a whole number: \"" + Shown(s) + "\"");
    if (v < low || v > high)
      throw ParseError(std::string(what) + " is " + std::to_string(v) + ", outside " + std::to_string(low) + " to " +
                       std::to_string(high));
    return v;
  }
  // A count declared before its items: at most most, and no more than the text left could hold
  // (each item takes at least perItem bytes), so that nothing is made for what is not there.
  std::size_t Count(const char* what, std::size_t most, std::size_t perItem) {
    const std::string_view s = Next(what);
    std::uint64_t v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size())
      throw ParseError(std::string(what) + " is not a count: \"" + Shown(s) + "\"");
    if (v > most)
      throw ParseError(std::string(what) + " is " + std::to_string(v) + ": more than Tarn reads (" +
                       std::to_string(most) + ")");
    if (v > (m_text.size() - m_at) / perItem)
      throw ParseError(std::string(what) + " is " + std::to_string(v) + ", more than the file holds");
    return static_cast<std::size_t>(v);
  }
  void Vector(double* out, int n, const char* what) {
    Expect("(");
    for (int i = 0; i < n; ++i) out[i] = Number(what);
    Expect(")");
  }

 private:
  static bool Space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }
  static std::string Shown(std::string_view s) { return std::string(s.substr(0, 32)); }
  void Skip() {
    for (;;) {
      while (m_at < m_text.size() && Space(m_text[m_at])) ++m_at;
      if (m_text.substr(m_at, 2) != "//") return;
      const std::size_t end = m_text.find('\n', m_at);
      m_at = end == std::string_view::npos ? m_text.size() : end;
    }
  }

  std::string_view m_text;
  std::size_t m_at = 0;
};

// A joint's place: position and rotation (x, y, z, w) in the model's space.
struct Joint {
  std::string name;
  int parent = -1;
  double pos[3] = {0, 0, 0};
  double q[4] = {0, 0, 0, 1};
};

// The rotation's w from its x, y and z, as idTech 4 derives it: the negative root, and 0 for a
// rotation whose x, y and z are already longer than 1.
void DeriveW(double* q) {
  const double t = 1 - q[0] * q[0] - q[1] * q[1] - q[2] * q[2];
  q[3] = t < 0 ? 0 : -std::sqrt(t);
}

void Rotate(const double* q, const double* v, double* out) {
  // v + 2w (u × v) + 2 u × (u × v), u the quaternion's vector part.
  const double ux = q[0], uy = q[1], uz = q[2], w = q[3];
  const double cx = uy * v[2] - uz * v[1], cy = uz * v[0] - ux * v[2], cz = ux * v[1] - uy * v[0];
  const double ccx = uy * cz - uz * cy, ccy = uz * cx - ux * cz, ccz = ux * cy - uy * cx;
  out[0] = v[0] + 2 * (w * cx + ccx);
  out[1] = v[1] + 2 * (w * cy + ccy);
  out[2] = v[2] + 2 * (w * cz + ccz);
}

void Multiply(const double* a, const double* b, double* out) {
  out[0] = a[3] * b[0] + a[0] * b[3] + a[1] * b[2] - a[2] * b[1];
  out[1] = a[3] * b[1] - a[0] * b[2] + a[1] * b[3] + a[2] * b[0];
  out[2] = a[3] * b[2] + a[0] * b[1] - a[1] * b[0] + a[2] * b[3];
  out[3] = a[3] * b[3] - a[0] * b[0] - a[1] * b[1] - a[2] * b[2];
}

void Normalise(double* q) {
  const double n = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
  if (n > 1e-12 && std::isfinite(n))
    for (int i = 0; i < 4; ++i) q[i] /= n;
  else q[0] = q[1] = q[2] = 0, q[3] = 1;
}

struct Vertex {
  std::uint32_t firstWeight = 0, weights = 0;
};
struct Weight {
  std::uint32_t joint = 0;
  double bias = 0;
  double pos[3] = {0, 0, 0};
};
struct Mesh {
  std::string shader;
  std::vector<Vertex> vertices;
  std::vector<Weight> weights;
};

void Header(CTokens& t) {
  t.Expect("MD5Version");
  const std::string_view version = t.Next("its version");
  if (version != "10") throw ParseError("only MD5Version 10 is read, not " + std::string(version.substr(0, 16)));
  if (t.Peek("commandline")) t.Next("commandline"), t.Next("its command line");
}

// Each vertex where the joints put it.
void Skin(const std::vector<Mesh>& meshes, const std::vector<Joint>& joints, std::vector<float>& out) {
  std::size_t at = 0;
  for (const Mesh& m : meshes)
    for (const Vertex& v : m.vertices) {
      double p[3] = {0, 0, 0};
      for (std::uint32_t k = 0; k < v.weights; ++k) {
        const Weight& w = m.weights[v.firstWeight + k];
        const Joint& j = joints[w.joint];
        double r[3];
        Rotate(j.q, w.pos, r);
        for (int c = 0; c < 3; ++c) p[c] += (j.pos[c] + r[c]) * w.bias;
      }
      for (int c = 0; c < 3; ++c) {
        if (!(std::abs(p[c]) <= 1e30)) throw ParseError("a vertex is placed past any distance a frame can hold");
        out[at++] = static_cast<float>(p[c]);
      }
    }
}

// The animation's frames as poses of the mesh's skeleton, each in the model's space. Throws
// with why the animation does not fit.
std::vector<std::vector<Joint>> ReadAnimation(std::span<const std::uint8_t> bytes, const std::vector<Joint>& skeleton,
                                              std::size_t framesLeft) {
  CTokens t(bytes);
  Header(t);
  t.Expect("numFrames");
  const std::size_t frames = t.Count("numFrames", kMaxImportFrames, 8);
  if (frames == 0) throw ParseError("it has no frames");
  if (frames > framesLeft)
    throw ParseError("its " + std::to_string(frames) + " frames make more than " + std::to_string(kMaxImportFrames));
  t.Expect("numJoints");
  const std::size_t numJoints = t.Count("numJoints", kMaxMd5Joints, 8);
  if (numJoints != skeleton.size())
    throw ParseError("it moves " + std::to_string(numJoints) + " joints, the mesh has " +
                     std::to_string(skeleton.size()));
  t.Expect("frameRate");
  t.Number("frameRate");
  t.Expect("numAnimatedComponents");
  const std::size_t components = t.Count("numAnimatedComponents", numJoints * 6, 2);

  struct Channel {
    unsigned flags = 0;
    std::size_t start = 0;
  };
  std::vector<Channel> channels(numJoints);
  t.Expect("hierarchy");
  t.Expect("{");
  for (std::size_t j = 0; j < numJoints; ++j) {
    const std::string_view name = t.Next("a joint's name");
    const std::int64_t parent = t.Whole("a joint's parent", -1, static_cast<std::int64_t>(numJoints) - 1);
    if (name != skeleton[j].name || parent != skeleton[j].parent)
      throw ParseError("its joint " + std::to_string(j) + " (\"" + std::string(name.substr(0, 32)) +
                       "\") is not the mesh's");
    channels[j].flags = static_cast<unsigned>(t.Whole("a joint's flags", 0, 63));
    channels[j].start = static_cast<std::size_t>(t.Whole("a joint's first component", 0, INT32_MAX));
    if (channels[j].start + static_cast<std::size_t>(std::popcount(channels[j].flags)) > components)
      throw ParseError("joint " + std::to_string(j) + " reads past the frame's " + std::to_string(components) +
                       " components");
  }
  t.Expect("}");
  t.Expect("bounds");
  t.Expect("{");
  for (std::size_t f = 0; f < frames; ++f) {
    double skip[3];
    t.Vector(skip, 3, "a bound");
    t.Vector(skip, 3, "a bound");
  }
  t.Expect("}");
  std::vector<Joint> base(numJoints);
  t.Expect("baseframe");
  t.Expect("{");
  for (std::size_t j = 0; j < numJoints; ++j) {
    t.Vector(base[j].pos, 3, "a base position");
    t.Vector(base[j].q, 3, "a base rotation");
  }
  t.Expect("}");

  std::vector<std::vector<Joint>> poses(frames);
  std::vector<double> values(components);
  for (std::size_t n = 0; n < frames; ++n) {
    t.Expect("frame");
    const auto index = static_cast<std::size_t>(t.Whole("a frame's number", 0, static_cast<std::int64_t>(frames) - 1));
    if (!poses[index].empty()) throw ParseError("frame " + std::to_string(index) + " is given twice");
    t.Expect("{");
    for (double& v : values) v = t.Number("a frame's value");
    t.Expect("}");
    std::vector<Joint>& pose = poses[index];
    pose = base;
    for (std::size_t j = 0; j < numJoints; ++j) {
      Joint& joint = pose[j];
      joint.name = skeleton[j].name;
      joint.parent = skeleton[j].parent;
      std::size_t at = channels[j].start;
      for (int c = 0; c < 3; ++c)
        if (channels[j].flags & (1u << c)) joint.pos[c] = values[at++];
      for (int c = 0; c < 3; ++c)
        if (channels[j].flags & (8u << c)) joint.q[c] = values[at++];
      DeriveW(joint.q);
      // From its parent's space to the model's: parents come before their children.
      if (joint.parent >= 0) {
        const Joint& p = pose[static_cast<std::size_t>(joint.parent)];
        double r[3], q[4];
        Rotate(p.q, joint.pos, r);
        for (int c = 0; c < 3; ++c) joint.pos[c] = p.pos[c] + r[c];
        Multiply(p.q, joint.q, q);
        std::copy(q, q + 4, joint.q);
      }
      Normalise(joint.q);
    }
  }
  if (!t.AtEnd()) throw ParseError("it goes on past its last frame");
  return poses;
}

}  // namespace

bool ReadMd5(std::span<const std::uint8_t> bytes, const std::vector<Md5Animation>& anims, Md5Model& out,
             std::string* error) {
  out = Md5Model{};
  try {
    CTokens t(bytes);
    Header(t);
    t.Expect("numJoints");
    const std::size_t numJoints = t.Count("numJoints", kMaxMd5Joints, 8);
    t.Expect("numMeshes");
    const std::size_t numMeshes = t.Count("numMeshes", kMaxMd5Meshes, 8);
    if (numJoints == 0) throw ParseError("it has no joints");
    if (numMeshes == 0) throw ParseError("it has no meshes");

    std::vector<Joint> joints(numJoints);
    t.Expect("joints");
    t.Expect("{");
    for (std::size_t j = 0; j < numJoints; ++j) {
      Joint& joint = joints[j];
      joint.name = t.Next("a joint's name");
      // Parents before their children, as every exporter writes them: no joint is its own
      // ancestor.
      joint.parent = static_cast<int>(t.Whole("a joint's parent", -1, static_cast<std::int64_t>(j) - 1));
      t.Vector(joint.pos, 3, "a joint's position");
      t.Vector(joint.q, 3, "a joint's rotation");
      DeriveW(joint.q);
      Normalise(joint.q);
    }
    t.Expect("}");

    std::vector<Mesh> meshes(numMeshes);
    SourceModel& source = out.source;
    std::size_t totalVertices = 0, totalWeights = 0;
    std::vector<std::size_t> triangles(numMeshes, 0);
    for (std::size_t m = 0; m < numMeshes; ++m) {
      Mesh& mesh = meshes[m];
      const std::string which = "mesh " + std::to_string(m) + "'s ";
      t.Expect("mesh");
      t.Expect("{");
      bool verts = false, tris = false, weights = false;
      std::vector<std::array<std::uint32_t, 3>> corners;
      std::vector<std::array<float, 2>> uv;
      while (!t.Peek("}")) {
        const std::string_view key = t.Next("a mesh's contents");
        if (key == "shader") {
          mesh.shader = t.Next("a shader");
        } else if (key == "numverts" && !verts) {
          verts = true;
          const std::size_t n =
              t.Count((which + "numverts").c_str(), kMaxMd5Vertices - std::min(totalVertices, kMaxMd5Vertices), 8);
          totalVertices += n;
          mesh.vertices.resize(n);
          uv.resize(n);
          std::vector<bool> seen(n, false);
          for (std::size_t i = 0; i < n; ++i) {
            t.Expect("vert");
            const auto v = static_cast<std::size_t>(t.Whole("a vertex's number", 0, static_cast<std::int64_t>(n) - 1));
            if (seen[v]) throw ParseError(which + "vertex " + std::to_string(v) + " is given twice");
            seen[v] = true;
            double st[2];
            t.Vector(st, 2, "a texture coordinate");
            uv[v] = {static_cast<float>(st[0]), static_cast<float>(st[1])};
            mesh.vertices[v].firstWeight = static_cast<std::uint32_t>(t.Whole("a vertex's first weight", 0, INT32_MAX));
            mesh.vertices[v].weights = static_cast<std::uint32_t>(t.Whole("a vertex's weights", 0, INT32_MAX));
          }
        } else if (key == "numtris" && !tris) {
          tris = true;
          const std::size_t n = t.Count((which + "numtris").c_str(),
                                        kMaxMd5Triangles - std::min(source.triangles.size(), kMaxMd5Triangles), 8);
          corners.resize(n);
          std::vector<bool> seen(n, false);
          for (std::size_t i = 0; i < n; ++i) {
            t.Expect("tri");
            const auto k =
                static_cast<std::size_t>(t.Whole("a triangle's number", 0, static_cast<std::int64_t>(n) - 1));
            if (seen[k]) throw ParseError(which + "triangle " + std::to_string(k) + " is given twice");
            seen[k] = true;
            for (std::uint32_t& c : corners[k])
              c = static_cast<std::uint32_t>(t.Whole("a triangle's vertex", 0, INT32_MAX));
          }
        } else if (key == "numweights" && !weights) {
          weights = true;
          const std::size_t n =
              t.Count((which + "numweights").c_str(), kMaxMd5Weights - std::min(totalWeights, kMaxMd5Weights), 8);
          totalWeights += n;
          mesh.weights.resize(n);
          std::vector<bool> seen(n, false);
          for (std::size_t i = 0; i < n; ++i) {
            t.Expect("weight");
            const auto w = static_cast<std::size_t>(t.Whole("a weight's number", 0, static_cast<std::int64_t>(n) - 1));
            if (seen[w]) throw ParseError(which + "weight " + std::to_string(w) + " is given twice");
            seen[w] = true;
            mesh.weights[w].joint =
                static_cast<std::uint32_t>(t.Whole("a weight's joint", 0, static_cast<std::int64_t>(numJoints) - 1));
            mesh.weights[w].bias = t.Number("a weight's bias");
            t.Vector(mesh.weights[w].pos, 3, "a weight's position");
          }
        } else {
          throw ParseError(which + "\"" + std::string(key.substr(0, 32)) + "\" is not expected there");
        }
      }
      t.Expect("}");
      // Every vertex a triangle names there, every weight a vertex names there.
      for (const auto& c : corners)
        for (std::uint32_t v : c)
          if (v >= mesh.vertices.size())
            throw ParseError(which + "triangle names vertex " + std::to_string(v) + " of its " +
                             std::to_string(mesh.vertices.size()));
      for (const Vertex& v : mesh.vertices)
        if (std::uint64_t{v.firstWeight} + v.weights > mesh.weights.size())
          throw ParseError(which + "vertex names weights " + std::to_string(v.firstWeight) + " to " +
                           std::to_string(std::uint64_t{v.firstWeight} + v.weights) + " of its " +
                           std::to_string(mesh.weights.size()));
      const std::size_t first = source.vertexCount;
      for (const auto& c : corners) {
        std::array<SourceCorner, 3> tri;
        for (int k = 0; k < 3; ++k) tri[k] = {static_cast<std::uint32_t>(first + c[k]), uv[c[k]][0], uv[c[k]][1]};
        source.triangles.push_back(tri);
        out.triangleMesh.push_back(static_cast<std::uint32_t>(m));
      }
      triangles[m] = corners.size();
      source.vertexCount += mesh.vertices.size();
      out.shaders.push_back(mesh.shader);
    }
    if (!t.AtEnd()) throw ParseError("it goes on past its last mesh");
    if (source.triangles.empty()) throw ParseError("it has no triangles");
    out.material =
        out.shaders[static_cast<std::size_t>(std::max_element(triangles.begin(), triangles.end()) - triangles.begin())];
    out.joints = numJoints, out.meshes = numMeshes;

    std::vector<std::string> taken;
    for (const Md5Animation& anim : anims) {
      const std::size_t framesLeft = kMaxImportFrames - source.frames.size();
      std::vector<std::vector<Joint>> poses;
      try {
        poses = ReadAnimation(anim.bytes, joints, framesLeft);
        if (source.vertexCount * (source.frames.size() + poses.size()) > kMaxImportPositions)
          throw ParseError("its frames hold more positions than Tarn reads");
      } catch (const ParseError& e) {
        out.warnings.push_back("the animation \"" + anim.name + "\" is left out: " + e.what());
        continue;
      }
      const std::vector<std::string> names = FrameNames(anim.name, poses.size(), taken);
      for (std::size_t f = 0; f < poses.size(); ++f) {
        SourceFrame frame;
        frame.name = names[f];
        frame.positions.resize(source.vertexCount * 3);
        Skin(meshes, poses[f], frame.positions);
        source.frames.push_back(std::move(frame));
      }
      out.animations.push_back(anim.name);
    }
    if (source.frames.empty()) {
      SourceFrame frame;
      frame.name = FrameNames("frame", 1, taken)[0];
      frame.positions.resize(source.vertexCount * 3);
      Skin(meshes, joints, frame.positions);
      source.frames.push_back(std::move(frame));
    }
    return true;
  } catch (const ParseError& e) {
    out = Md5Model{};
    if (error) *error = std::string("not an MD5 mesh Tarn reads: ") + e.what();
    return false;
  }
}

std::string Md5AnimationPath(const std::string& meshPath) {
  return std::filesystem::path(meshPath).replace_extension(".md5anim").generic_string();
}

std::string Md5SkinName(const std::string& shader, int skin) {
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, "_%02d_00", std::clamp(skin, 0, 99));
  return shader + suffix;
}

}  // namespace tarn
