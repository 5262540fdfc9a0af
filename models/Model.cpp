#include "models/Model.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "archive/EntryTypes.h"
#include "archive/PackObject.h"
#include "fileio/ByteIO.h"
#include "fileio/Strings.h"
#include "models/ModelHeader.h"
#include "models/ModelImport.h"
#include "models/ModelNormals.h"
#include "models/StudioModel.h"
#include "pictures/EntryPictures.h"
#include "pictures/ImageDecode.h"

namespace tarn {

namespace {

constexpr int kMaxSkinSide = 8192;

// Frames in file order into animations by name, in order of first appearance.
void Group(ModelData& model, std::vector<ModelFrame> frames, std::string (*animationOf)(const std::string&)) {
  for (ModelFrame& f : frames) {
    const std::string name = animationOf(f.name);
    ModelAnimation* target = nullptr;
    for (ModelAnimation& a : model.animations)
      if (a.name == name) {
        target = &a;
        break;
      }
    if (!target) {
      model.animations.emplace_back();
      target = &model.animations.back();
      target->name = name;
    }
    target->frames.push_back(std::move(f));
  }
}

ModelVertex ReadPackedVertex(ByteReader& r, const float scale[3], const float translate[3]) {
  ModelVertex v;
  v.x = static_cast<float>(r.U8()) * scale[0] + translate[0];
  v.y = static_cast<float>(r.U8()) * scale[1] + translate[1];
  v.z = static_cast<float>(r.U8()) * scale[2] + translate[2];
  v.normal = r.U8();
  return v;
}

void Require(bool ok, const char* why) {
  if (!ok) throw ParseError(why);
}

std::string SkinName(const std::string& path) {
  std::size_t cut = path.rfind('/');
  if (cut == std::string::npos) cut = path.rfind('\\');
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

ModelSkin NewSkin(int width, int height) {
  ModelSkin skin;
  skin.width = width;
  skin.height = height;
  skin.paddedWidth = PaddedSize(width);
  skin.paddedHeight = PaddedSize(height);
  skin.pixels.assign(static_cast<std::size_t>(skin.paddedWidth) * skin.paddedHeight * 3, 0);
  return skin;
}

}  // namespace

int ModelData::FrameCount() const {
  int n = 0;
  for (const auto& a : animations) n += static_cast<int>(a.frames.size());
  return n;
}

int ModelData::RealSkinCount() const {
  return static_cast<int>(std::count_if(skins.begin(), skins.end(), [](const ModelSkin& s) { return !s.placeholder; }));
}

ModelSkin CheckerboardSkin(int width, int height) {
  width = std::clamp(width, 1, kMaxSkinSide);
  height = std::clamp(height, 1, kMaxSkinSide);
  ModelSkin skin = NewSkin(width, height);
  skin.name = "checkerboard";
  skin.placeholder = true;
  // Eight squares across the shorter side, so that the texture's mapping still shows.
  const int square = std::max(1, std::min(width, height) / 8);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      std::uint8_t* px = &skin.pixels[(static_cast<std::size_t>(y) * skin.paddedWidth + x) * 3];
      const bool dark = ((x / square) + (y / square)) % 2 != 0;
      // Magenta and a grey that still shows on the viewer's black.
      px[0] = dark ? 64 : 255, px[1] = dark ? 64 : 0, px[2] = dark ? 64 : 255;
    }
  return skin;
}

CPackObject* CModelHost::FindSkin(const std::string&) { return nullptr; }
void CModelHost::Progress(const std::string&, const std::string&, int) {}
void CModelHost::Status(const std::string&) {}
void CModelHost::Step() {}
void CModelHost::CloseProgress() {}
void CModelHost::MissingSkins(const std::vector<std::string>&) {}
ExternalSkinChoice CModelHost::ExternalSkins() { return {}; }

namespace {

bool IsPcxFile(const CPackObject* e) { return e && !e->IsDirectory() && EndsWith(ToLower(e->Name()), ".pcx"); }

}  // namespace

CPackObject* CArchiveModelHost::FindSkin(const std::string& path) {
  auto take = [&](CPackObject* e) {
    m_taken.push_back(e);
    return e;
  };
  CPackObject* e = m_model.Root()->FindByPath(path);
  if (!e) e = m_model.Root()->FindByPath(ToLower(path));
  if (e && !e->IsDirectory()) return take(e);
  CPackObject* dir = m_model.Parent();
  if (!dir) return nullptr;
  if (CPackObject* beside = dir->FindChild(ToLower(SkinName(path))); IsPcxFile(beside)) return take(beside);
  std::vector<CPackObject*> candidates;
  for (CPackObject* c : dir->Children())
    if (IsPcxFile(c) && std::find(m_taken.begin(), m_taken.end(), c) == m_taken.end()) candidates.push_back(c);
  if (candidates.empty()) return nullptr;
  // By name, so that the choice does not depend on the order of the archive's records.
  return take(*std::min_element(candidates.begin(), candidates.end(),
                                [](const CPackObject* a, const CPackObject* b) { return a->Name() < b->Name(); }));
}

std::vector<CPackObject*> CArchiveModelHost::ArchiveSkins() const {
  std::vector<CPackObject*> found;
  std::vector<CPackObject*> stack{m_model.Root()};
  while (!stack.empty()) {
    CPackObject* dir = stack.back();
    stack.pop_back();
    for (CPackObject* c : dir->Children()) {
      if (c->IsDirectory()) stack.push_back(c);
      else if (IsPcxFile(c)) found.push_back(c);
    }
  }
  const CPackObject* own = m_model.Parent();
  std::sort(found.begin(), found.end(), [&](const CPackObject* a, const CPackObject* b) {
    if ((a->Parent() == own) != (b->Parent() == own)) return a->Parent() == own;
    return a->PathInArchive() < b->PathInArchive();
  });
  return found;
}

int PaddedSize(int n) {
  int p = 1;
  while (p < n && p < (1 << 30)) p <<= 1;
  return p;
}

std::string MdlAnimationName(const std::string& frame) {
  const std::size_t p = frame.find_first_of("0123456789");
  if (p == 0) return "frames";
  return p == std::string::npos ? frame : frame.substr(0, p);
}

std::string Md2AnimationName(const std::string& frame) {
  std::size_t p = frame.find_first_of("0123456789");
  if (p == std::string::npos) return frame;
  // The last two digits count the frames ("pain301": pain3's first), but a longer count that
  // starts with a zero is the count itself ("stand001": stand's first).
  if (frame.size() - p > 2 && frame[p] != '0') p = frame.size() - 2;
  return p == 0 ? "frames" : frame.substr(0, p);
}

bool LoadMdl(std::span<const std::uint8_t> bytes, ModelData& model, std::string* error) {
  model = ModelData{};
  try {
    Require(bytes.size() >= mdl::kHeaderSize, "too short for a Quake model");
    Require(std::memcmp(bytes.data(), "IDPO", 4) == 0, "not a Quake model");
    ByteReader r(bytes);
    r.Seek(4);
    // The engines stop at any other version, whatever the rest holds.
    if (const std::int32_t version = r.I32(); version != kMdlVersion)
      throw ParseError("it is version " + std::to_string(version) + ", and Quake models are version " +
                       std::to_string(kMdlVersion) + ": the engines refuse it");
    float scale[3], translate[3];
    for (float& s : scale) s = r.F32();
    for (float& t : translate) t = r.F32();
    r.Seek(48);
    const std::int32_t skinCount = r.I32(), skinWidth = r.I32(), skinHeight = r.I32();
    const std::int32_t vertexCount = r.I32(), triangleCount = r.I32(), frameCount = r.I32();
    Require(skinCount >= 0 && vertexCount >= 0 && triangleCount >= 0 && frameCount >= 0, "negative counts");
    Require(skinWidth >= 0 && skinHeight >= 0 && skinWidth <= kMaxSkinSide && skinHeight <= kMaxSkinSide,
            "impossible skin size");
    const std::size_t skinBytes = static_cast<std::size_t>(skinWidth) * static_cast<std::size_t>(skinHeight);

    Palette quake;
    LoadPalette(kQuakePaletteId, quake);
    r.Seek(mdl::kHeaderSize);
    for (std::int32_t i = 0; i < skinCount; ++i) {
      const std::int32_t type = r.I32();
      if (type == 0) {
        auto indices = r.Bytes(skinBytes);
        ModelSkin skin = NewSkin(skinWidth, skinHeight);
        for (int y = 0; y < skinHeight; ++y)
          for (int x = 0; x < skinWidth; ++x) {
            const Rgb& c = quake.colors[indices[static_cast<std::size_t>(y) * skinWidth + x]];
            std::uint8_t* px = &skin.pixels[(static_cast<std::size_t>(y) * skin.paddedWidth + x) * 3];
            px[0] = c.r, px[1] = c.g, px[2] = c.b;
          }
        model.skins.push_back(std::move(skin));
      } else {
        // A group of skins is passed over whole, so that the skins and sections after it are
        // found where they are.
        const std::int32_t n = r.I32();
        Require(n >= 0, "negative skin group size");
        r.Skip(static_cast<std::size_t>(n) * 4);
        for (std::int32_t k = 0; k < n; ++k) r.Skip(skinBytes);
      }
    }
    Require(static_cast<std::uint64_t>(vertexCount) * 12 <= r.Remaining(), "the texture coordinates run past the end");
    model.texCoords.resize(static_cast<std::size_t>(vertexCount));
    for (auto& v : model.texCoords) {
      v.onseam = r.I32();
      v.s = r.I32();
      v.t = r.I32();
    }
    Require(static_cast<std::uint64_t>(triangleCount) * 16 <= r.Remaining(), "the triangles run past the end");
    model.triangles.resize(static_cast<std::size_t>(triangleCount));
    for (auto& t : model.triangles) {
      t.facesFront = r.I32();
      for (auto& v : t.vertex) {
        v = r.I32();
        Require(v >= 0 && v < vertexCount, "a triangle names a vertex the model does not have");
      }
    }
    std::vector<ModelFrame> frames;
    auto simpleFrame = [&] {
      r.Skip(8);
      ModelFrame f;
      f.name = r.FixedString(16);
      Require(static_cast<std::uint64_t>(vertexCount) * 4 <= r.Remaining(), "a frame runs past the end");
      f.vertices.reserve(static_cast<std::size_t>(vertexCount));
      for (std::int32_t v = 0; v < vertexCount; ++v) f.vertices.push_back(ReadPackedVertex(r, scale, translate));
      frames.push_back(std::move(f));
    };
    for (std::int32_t i = 0; i < frameCount; ++i) {
      if (r.I32() == 0) {
        simpleFrame();
      } else {
        const std::int32_t n = r.I32();
        Require(n >= 0, "negative frame group size");
        r.Skip(8);
        r.Skip(static_cast<std::size_t>(n) * 4);
        for (std::int32_t k = 0; k < n; ++k) simpleFrame();
      }
    }
    // Anything after the frames (editors append chunks of their own) is not the model's.
    model.vertexCount = vertexCount;
    Group(model, std::move(frames), MdlAnimationName);
    return true;
  } catch (const ParseError& e) {
    model = ModelData{};
    if (error) *error = e.what();
    return false;
  }
}

bool DecodeSkinPcx(std::span<const std::uint8_t> bytes, ModelSkin& skin) {
  Picture picture;
  Palette palette;
  if (!DecodePcx(bytes, picture, palette)) return false;
  skin = NewSkin(picture.width, picture.height);
  for (int y = 0; y < picture.height; ++y)
    for (int x = 0; x < picture.width; ++x) {
      std::uint8_t* px = &skin.pixels[(static_cast<std::size_t>(y) * skin.paddedWidth + x) * 3];
      if (picture.IsTrueColor()) {
        const std::uint8_t* c = &picture.rgba[(static_cast<std::size_t>(y) * picture.width + x) * 4];
        px[0] = c[0], px[1] = c[1], px[2] = c[2];
      } else {
        const Rgb& c = palette.colors[picture.At(x, y)];
        px[0] = c.r, px[1] = c.g, px[2] = c.b;
      }
    }
  if (!picture.IsTrueColor()) skin.palette = palette;
  return true;
}

namespace {

// A skin from the picture an entry holds: a PCX as Quake II's are, or any other picture Tarn
// reads (source ports take TGA and PNG skins, and models of other games name them). An entry
// that cannot be read or decoded gives an empty skin.
ModelSkin SkinFromEntry(CPackObject& entry, std::string name) {
  ModelSkin skin;
  CEntryBytes data(entry);
  if (data.Ok() && !DecodeSkinPcx(data.Bytes(), skin)) {
    RgbaImage image;
    if (DecodeImage(data.Bytes(), entry.Name(), image, nullptr) && image.width <= kMaxSkinSide &&
        image.height <= kMaxSkinSide) {
      skin = NewSkin(image.width, image.height);
      for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x)
          std::memcpy(&skin.pixels[(static_cast<std::size_t>(y) * skin.paddedWidth + x) * 3],
                      &image.rgba[(static_cast<std::size_t>(y) * image.width + x) * 4], 3);
    }
  }
  skin.name = std::move(name);
  return skin;
}

}  // namespace

bool LoadMd2(std::span<const std::uint8_t> bytes, ModelData& model, CModelHost& host, std::string* error) {
  model = ModelData{};
  model.format = ModelData::kMd2;
  bool progressOpen = false;
  try {
    Require(bytes.size() >= md2::kHeaderSize, "too short for a Quake II model");
    Require(std::memcmp(bytes.data(), "IDP2", 4) == 0, "not a Quake II model");
    ByteReader r(bytes);
    r.Seek(4);
    if (const std::int32_t version = r.I32(); version != kMd2Version)
      throw ParseError("it is version " + std::to_string(version) + ", and Quake II models are version " +
                       std::to_string(kMd2Version) + ": the engines refuse it");
    const std::int32_t skinWidth = r.I32(), skinHeight = r.I32();
    const std::int32_t frameSize = r.I32(), skinCount = r.I32(), vertexCount = r.I32(), texCoordCount = r.I32();
    const std::int32_t triangleCount = r.I32();
    r.I32();  // GL commands
    const std::int32_t frameCount = r.I32();
    const std::uint32_t skinsAt = r.U32(), texCoordsAt = r.U32(), trianglesAt = r.U32(), framesAt = r.U32();
    Require(skinCount >= 0 && vertexCount >= 0 && texCoordCount >= 0 && triangleCount >= 0 && frameCount >= 0,
            "negative counts");
    Require(frameCount == 0 || (frameSize >= 40 && static_cast<std::uint64_t>(frameSize) >= 40 + 4ull * vertexCount),
            "frames too small for their vertices");

    // No section can hold more records than the file has bytes for.
    const std::uint64_t size = bytes.size();
    Require(static_cast<std::uint64_t>(skinCount) * md2::kSkinNameSize <= size &&
                static_cast<std::uint64_t>(frameCount) * 40 <= size &&
                static_cast<std::uint64_t>(triangleCount) * 12 <= size &&
                static_cast<std::uint64_t>(texCoordCount) * 4 <= size,
            "counts larger than the file");
    host.Progress("Loading model", "Reading header info", frameCount + skinCount + 2);
    progressOpen = true;
    std::vector<std::string> missing;
    ByteReader skins = r.Sub(skinsAt, static_cast<std::size_t>(skinCount) * md2::kSkinNameSize);
    for (std::int32_t i = 1; i <= skinCount; ++i) {
      host.Status("Reading skin " + std::to_string(i) + "/" + std::to_string(skinCount));
      const std::string path = skins.FixedString(md2::kSkinNameSize);
      if (CPackObject* e = host.FindSkin(path)) {
        // Named as the model names it, unless it was found under another name.
        const bool atItsPath = ToLower(e->PathInArchive()) == ToLower(path);
        ModelSkin skin = SkinFromEntry(*e, atItsPath ? SkinName(path) : e->Name());
        if (skin.width > 0) model.skins.push_back(std::move(skin));
        else model.unreadableSkins.push_back(path);
      } else {
        missing.push_back(path);
      }
      host.Step();
    }

    host.Status("Reading triangles");
    ByteReader tris = r.Sub(trianglesAt, static_cast<std::size_t>(triangleCount) * 12);
    model.triangles.resize(static_cast<std::size_t>(triangleCount));
    for (auto& t : model.triangles) {
      for (auto& v : t.vertex) {
        v = tris.I16();
        Require(v >= 0 && v < vertexCount, "a triangle names a vertex the model does not have");
      }
      for (auto& st : t.texCoord) {
        st = tris.I16();
        Require(st >= 0 && st < texCoordCount, "a triangle names a texture coordinate the model does not have");
      }
    }
    host.Step();
    ByteReader sts = r.Sub(texCoordsAt, static_cast<std::size_t>(texCoordCount) * 4);
    model.texCoords.resize(static_cast<std::size_t>(texCoordCount));
    for (auto& v : model.texCoords) {
      v.s = sts.I16();
      v.t = sts.I16();
    }
    host.Step();

    std::vector<ModelFrame> frames;
    for (std::int32_t f = 0; f < frameCount; ++f) {
      ByteReader fr = r.Sub(framesAt + static_cast<std::uint64_t>(f) * static_cast<std::uint32_t>(frameSize),
                            static_cast<std::size_t>(frameSize));
      float scale[3], translate[3];
      for (float& s : scale) s = fr.F32();
      for (float& t : translate) t = fr.F32();
      ModelFrame frame;
      frame.name = fr.FixedString(16);
      host.Status("Reading frame " + frame.name);
      frame.vertices.reserve(static_cast<std::size_t>(vertexCount));
      for (std::int32_t v = 0; v < vertexCount; ++v) frame.vertices.push_back(ReadPackedVertex(fr, scale, translate));
      frames.push_back(std::move(frame));
      host.Step();
    }
    host.Status("Updating animations");
    model.vertexCount = vertexCount;
    Group(model, std::move(frames), Md2AnimationName);

    if (!missing.empty()) host.MissingSkins(missing);
    model.missingSkins = std::move(missing);
    if (model.skins.empty()) {
      const ExternalSkinChoice chosen = host.ExternalSkins();
      // Without a skin the model is still worth seeing: its shape, its frames, its mapping.
      if (chosen.empty()) {
        model.skins.push_back(CheckerboardSkin(skinWidth, skinHeight));
      } else {
        host.Progress("Reading Textures", "", static_cast<int>(chosen.entries.size() + chosen.files.size()));
        for (CPackObject* e : chosen.entries) {
          host.Status(e->PathInArchive());
          model.skins.push_back(SkinFromEntry(*e, e->Name()));
          host.Step();
        }
        for (const std::string& path : chosen.files) {
          host.Status(path);
          ModelSkin skin;
          std::FILE* f = std::fopen(path.c_str(), "rb");
          if (f) {
            std::vector<std::uint8_t> data;
            std::uint8_t buffer[65536];
            std::size_t n;
            while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) data.insert(data.end(), buffer, buffer + n);
            std::fclose(f);
            DecodeSkinPcx(data, skin);
          }
          skin.name = SkinName(path);
          model.skins.push_back(std::move(skin));
          host.Step();
        }
      }
    }
    host.CloseProgress();
    return true;
  } catch (const ParseError& e) {
    if (progressOpen) host.CloseProgress();
    model = ModelData{};
    model.format = ModelData::kMd2;
    if (error) *error = e.what();
    return false;
  }
}

bool LoadModel(CPackObject& entry, ModelData& model, CModelHost& host, std::string* error) {
  const EntryType type = FileTypeOf(entry.Name());
  const bool isMd2 = type == EntryType::Quake2Model;
  std::optional<CEntryBytes> read;
  // Half-Life names its models ".mdl" too: "IDST" (or "IDSQ", a sequence group) where Quake's
  // start "IDPO". They are read as a modelling program's are.
  bool studio = false;
  if (type == EntryType::QuakeModel) {
    read.emplace(entry);
    const std::span<const std::uint8_t> head = read->Ok() ? read->Bytes() : std::span<const std::uint8_t>();
    studio = SniffStudioFile(head) != StudioFileKind::None;
    if (studio)
      if (std::string why = StudioFileProblem(head); !why.empty()) {
        if (error) *error = why;
        model = ModelData{};
        return false;
      }
  }
  if (type == EntryType::Quake3Model || type == EntryType::IqmModel || type == EntryType::Md5Mesh || studio) {
    if (!read) read.emplace(entry);
    CEntryBytes& data = *read;
    if (!data.Ok()) {
      if (error) *error = "the model's data cannot be read";
      model = ModelData{};
      return false;
    }
    const CPackObject* root = entry.Root();
    const FindBytes find = [root](const std::string& path, std::vector<std::uint8_t>& out) {
      const CPackObject* e = root->FindByPath(path);
      if (!e) e = root->FindByPath(ToLower(path));
      return e && !e->IsDirectory() && e->CopyBytes(out, nullptr);
    };
    return ReadModelForView(data.Bytes(), entry.PathInArchive(), find, model, error);
  }
  if (!IsGameModelType(type)) {
    model = ModelData{};
    return true;
  }
  if (!read) read.emplace(entry);
  CEntryBytes& data = *read;
  if (!data.Ok()) {
    if (error) *error = "the model's data cannot be read";
    model = ModelData{};
    return false;
  }
  return isMd2 ? LoadMd2(data.Bytes(), model, host, error) : LoadMdl(data.Bytes(), model, error);
}

double ModelBounds::Radius() const {
  if (empty) return 0;
  double sum = 0;
  for (int a = 0; a < 3; ++a) {
    const double side = static_cast<double>(max[a]) - static_cast<double>(min[a]);
    sum += side * side;
  }
  return std::sqrt(sum) / 2;
}

ModelBounds BoundsOf(const ModelData& model) {
  ModelBounds b;
  for (const ModelAnimation& a : model.animations)
    for (const ModelFrame& f : a.frames)
      for (const ModelVertex& v : f.vertices) {
        const float p[3] = {v.x, v.y, v.z};
        if (!std::isfinite(p[0]) || !std::isfinite(p[1]) || !std::isfinite(p[2])) continue;
        for (int k = 0; k < 3; ++k) {
          b.min[k] = b.empty ? p[k] : std::min(b.min[k], p[k]);
          b.max[k] = b.empty ? p[k] : std::max(b.max[k], p[k]);
        }
        b.empty = false;
      }
  return b;
}

std::vector<FrameCorner> BuildFrameGeometry(const ModelData& model, int animation, int frame) {
  std::vector<FrameCorner> out;
  if (model.skins.empty() || animation < 0 || animation >= static_cast<int>(model.animations.size())) return out;
  const ModelAnimation& a = model.animations[static_cast<std::size_t>(animation)];
  if (frame < 0 || frame >= static_cast<int>(a.frames.size())) return out;
  const ModelFrame& f = a.frames[static_cast<std::size_t>(frame)];
  const ModelSkin& skin = model.skins.front();
  if (skin.paddedWidth <= 0 || skin.paddedHeight <= 0) return out;
  out.reserve(model.triangles.size() * 3);
  const auto known = [](const ModelVertex& v) { return v.normal >= 0 && v.normal < modelnormals::kCount; };
  // Normals from the faces, for the vertices the file gave none. The games wind a triangle
  // clockwise seen from its front.
  std::vector<float> sums;
  if (!std::all_of(f.vertices.begin(), f.vertices.end(), known)) {
    sums.assign(f.vertices.size() * 3, 0.0f);
    for (const ModelTriangle& t : model.triangles) {
      bool inside = true;
      for (std::int32_t v : t.vertex) inside = inside && v >= 0 && v < static_cast<std::int32_t>(f.vertices.size());
      if (!inside) continue;
      const ModelVertex &a = f.vertices[static_cast<std::size_t>(t.vertex[0])],
                        &b = f.vertices[static_cast<std::size_t>(t.vertex[1])],
                        &c = f.vertices[static_cast<std::size_t>(t.vertex[2])];
      const float e1[3] = {c.x - a.x, c.y - a.y, c.z - a.z}, e2[3] = {b.x - a.x, b.y - a.y, b.z - a.z};
      const float n[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2], e1[0] * e2[1] - e1[1] * e2[0]};
      if (!std::isfinite(n[0]) || !std::isfinite(n[1]) || !std::isfinite(n[2])) continue;
      for (std::int32_t v : t.vertex)
        for (int k = 0; k < 3; ++k) sums[static_cast<std::size_t>(v) * 3 + k] += n[k];
    }
  }
  for (const ModelTriangle& t : model.triangles) {
    for (int c = 0; c < 3; ++c) {
      const std::int32_t v = t.vertex[c];
      const std::int32_t st = model.format == ModelData::kMd2 ? t.texCoord[c] : v;
      // Indices were checked at loading; a frame with fewer vertices is not drawn past its end.
      if (v < 0 || v >= static_cast<std::int32_t>(f.vertices.size()) || st < 0 ||
          st >= static_cast<std::int32_t>(model.texCoords.size()))
        return {};
      const ModelVertex& tc = model.texCoords[static_cast<std::size_t>(st)];
      std::int32_t s = tc.s;
      if (model.format == ModelData::kMdl && tc.onseam != 0 && t.facesFront == 0) s += skin.width / 2;
      const ModelVertex& p = f.vertices[static_cast<std::size_t>(v)];
      FrameCorner corner{p.x, p.y, p.z, static_cast<double>(s) / skin.paddedWidth,
                         static_cast<double>(tc.t) / skin.paddedHeight};
      if (known(p)) {
        const float* n = modelnormals::kNormals[p.normal];
        corner.nx = n[0], corner.ny = n[1], corner.nz = n[2];
      } else {
        const float* n = &sums[static_cast<std::size_t>(v) * 3];
        const float length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        // A vertex of degenerate faces only keeps the default, facing up.
        if (length > 0 && std::isfinite(length))
          corner.nx = n[0] / length, corner.ny = n[1] / length, corner.nz = n[2] / length;
      }
      out.push_back(corner);
    }
  }
  return out;
}

namespace {

// Copies entry, with its bytes, into the tree under root at the same path.
CPackObject* CopyWithBytes(const CPackObject& entry, CPackObject& root, std::string* error) {
  CPackObject* dir = &root;
  std::vector<const CPackObject*> chain;
  for (const CPackObject* p = entry.Parent(); p && p->Parent(); p = p->Parent()) chain.insert(chain.begin(), p);
  for (const CPackObject* d : chain) {
    CPackObject* sub = dir->FindChildDirectory(d->Name());
    dir = sub ? sub : dir->AddChild(d->Name(), true);
  }
  if (CPackObject* done = dir->FindChild(entry.Name())) return done;
  std::vector<std::uint8_t> bytes;
  if (!entry.CopyBytes(bytes, error)) return nullptr;
  CPackObject* copy = dir->AddChild(entry.Name(), false);
  copy->SetSize(static_cast<std::int32_t>(bytes.size()));
  copy->SetData(std::move(bytes));
  return copy;
}

}  // namespace

std::unique_ptr<CPackObject> ModelWithItsSkins(const CPackObject& model, CPackObject** copy, std::string* error) {
  auto root = std::make_unique<CPackObject>();
  root->SetDirectory(true);
  *copy = CopyWithBytes(model, *root, error);
  if (!*copy) return nullptr;
  const EntryType type = FileTypeOf(model.Name());
  if (type == EntryType::Quake3Model || type == EntryType::IqmModel || type == EntryType::Md5Mesh) {
    // The pictures beside the model, where its materials' textures nearly always are, and the
    // files that go by its name (an MD3's .skin files, an MD5 mesh's .md5anim).
    const std::string stem = ToLower(std::filesystem::path(model.Name()).stem().string());
    if (const CPackObject* dir = model.Parent())
      for (const CPackObject* c : dir->Children()) {
        const EntryType picture = TypeOf(c->Name(), c->IsDirectory());
        const std::string name = ToLower(c->Name());
        const bool itsOwn = c != &model && !c->IsDirectory() && name.rfind(stem + ".", 0) == 0 &&
                            (EndsWith(name, ".skin") || EndsWith(name, ".md5anim"));
        if (picture == EntryType::Image || picture == EntryType::PcxPicture || itsOwn)
          CopyWithBytes(*c, *root, nullptr);
      }
    return root;
  }
  if (type == EntryType::QuakeModel && SniffStudioFile(*(*copy)->Data()) == StudioFileKind::Model) {
    // A Half-Life model's textures (NAMEt.mdl) and sequence groups (NAME01.mdl, ...) beside it.
    const std::string stem = ToLower(model.Name().substr(0, model.Name().size() - 4));
    if (const CPackObject* dir = model.Parent())
      for (const CPackObject* c : dir->Children()) {
        const std::string name = ToLower(c->Name());
        if (c->IsDirectory() || name.size() <= stem.size() + 4 || name.compare(0, stem.size(), stem) != 0 ||
            name.compare(name.size() - 4, 4, ".mdl") != 0)
          continue;
        const std::string rest = name.substr(stem.size(), name.size() - stem.size() - 4);
        if (rest == "t" || (rest.size() == 2 && std::isdigit(static_cast<unsigned char>(rest[0])) &&
                            std::isdigit(static_cast<unsigned char>(rest[1]))))
          CopyWithBytes(*c, *root, nullptr);
      }
    return root;
  }
  if (type != EntryType::Quake2Model) return root;
  const std::vector<std::uint8_t>& bytes = *(*copy)->Data();
  const CPackObject* archive = model.Root();
  try {
    ByteReader r(bytes);
    r.Seek(20);
    const std::int32_t skinCount = r.I32();
    r.Seek(44);
    const std::uint32_t skinsAt = r.U32();
    if (skinCount > 0 && static_cast<std::uint64_t>(skinCount) * md2::kSkinNameSize <= bytes.size()) {
      ByteReader skins = r.Sub(skinsAt, static_cast<std::size_t>(skinCount) * md2::kSkinNameSize);
      for (std::int32_t i = 0; i < skinCount; ++i) {
        const std::string path = skins.FixedString(md2::kSkinNameSize);
        const CPackObject* e = archive->FindByPath(path);
        if (!e) e = archive->FindByPath(ToLower(path));
        if (e && !e->IsDirectory()) CopyWithBytes(*e, *root, nullptr);
      }
    }
  } catch (const ParseError&) {
    // The loader says what is wrong with the header; the copy only carries the bytes.
  }
  if (const CPackObject* dir = model.Parent())
    for (const CPackObject* c : dir->Children())
      if (IsPcxFile(c)) CopyWithBytes(*c, *root, nullptr);
  return root;
}

}  // namespace tarn
