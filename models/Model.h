// Quake (".mdl") and Quake II (".md2") models in memory: RGB skins padded to powers of two,
// triangles, texture coordinates, and frames grouped by name into animations.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "pictures/Palette.h"

namespace tarn {

class CPackObject;

struct ModelSkin {
  std::vector<std::uint8_t> pixels;  // paddedWidth × paddedHeight × RGB, rows top first
  int paddedWidth = 0, paddedHeight = 0;
  int width = 0, height = 0;
  std::string name;
  std::optional<Palette> palette;  // a PCX skin's own palette
  // A checkerboard standing in for a skin that is not there, so that the model can still be
  // seen and its geometry exported; never written out as the model's skin.
  bool placeholder = false;
};

struct ModelTriangle {
  std::int32_t vertex[3] = {-1, -1, -1};
  std::int32_t texCoord[3] = {-1, -1, -1};
  std::int32_t facesFront = 1;
};

struct ModelVertex {
  float x = 0, y = 0, z = 0;
  std::int32_t s = 0, t = 0, onseam = 0;
  // A frame vertex's index into the games' 162 normals (models/ModelNormals.h) as the file
  // gives it; -1 for a model read without them, whose normals come from its faces.
  std::int32_t normal = -1;
};

struct ModelFrame {
  std::string name = "<unnamed>";
  std::vector<ModelVertex> vertices;
};

struct ModelAnimation {
  std::string name = "<unnamed>";
  std::vector<ModelFrame> frames;
};

struct ModelData {
  enum Format { kMdl = 1, kMd2 = 2 };
  std::string name = "<unnamed>";
  std::vector<ModelSkin> skins;
  std::vector<ModelTriangle> triangles;
  std::vector<ModelVertex> texCoords;
  std::vector<ModelAnimation> animations;
  int format = kMdl;
  std::string readAs;  // a modelling program's model read for showing: its format ("md3", "iqm")
  // What its reader told beyond frames and triangles (an MD5's "meshes" and "joints").
  std::vector<std::pair<std::string, std::string>> readFacts;
  int vertexCount = -1;  // vertices per frame, -1 until loaded
  // An MD2's skins by the paths it names them by: those found nowhere, and those found that
  // are no picture Tarn reads.
  std::vector<std::string> missingSkins, unreadableSkins;

  int FrameCount() const;
  // The skins the model really has, placeholders left out.
  int RealSkinCount() const;
};

// A skin of width × height (each from 1 to 8192) in a checkerboard that says "no skin here".
ModelSkin CheckerboardSkin(int width, int height);

// The skins the user chose when asked: archive entries and files on disk.
struct ExternalSkinChoice {
  std::vector<CPackObject*> entries;
  std::vector<std::string> files;
  bool empty() const { return entries.empty() && files.empty(); }
};

// What the loaders need from outside the bytes: finding MD2 skins, telling the user, asking
// for external textures, and reporting progress. The defaults find nothing and ask nothing.
class CModelHost {
 public:
  virtual ~CModelHost() = default;
  virtual CPackObject* FindSkin(const std::string& path);
  virtual void Progress(const std::string& caption, const std::string& status, int range);
  virtual void Status(const std::string& status);
  virtual void Step();
  virtual void CloseProgress();
  // "Unable to load the following texture(s)" with the paths.
  virtual void MissingSkins(const std::vector<std::string>& paths);
  // "No textures loaded - Load external textures?": the chosen skins, or nothing.
  virtual ExternalSkinChoice ExternalSkins();
};

// Finds MD2 skins in the archive the model came from: at the skin's path; failing that (mods
// often move models without mending the paths inside), a PCX of the skin's file name in the
// model's own directory, then any PCX there that no earlier skin took.
class CArchiveModelHost : public CModelHost {
 public:
  explicit CArchiveModelHost(CPackObject& model) : m_model(model) {}
  CPackObject* FindSkin(const std::string& path) override;
  // Every PCX file of the archive, those of the model's directory first, to offer when asking.
  std::vector<CPackObject*> ArchiveSkins() const;

 protected:
  CPackObject& Model() const { return m_model; }

 private:
  CPackObject& m_model;
  std::vector<const CPackObject*> m_taken;
};

namespace mdl {
inline constexpr std::size_t kHeaderSize = 84;
}
namespace md2 {
inline constexpr std::size_t kHeaderSize = 68;
inline constexpr std::size_t kSkinNameSize = 64;
}  // namespace md2

// Each returns false, with a reason, and leaves the model empty when the bytes do not hold a
// model it can read entirely inside them, or one of a version no engine loads. An MD2 whose
// skins are all missing or unreadable, when the host offers none, gets a checkerboard (and
// the paths in missingSkins and unreadableSkins).
bool LoadMdl(std::span<const std::uint8_t> bytes, ModelData& model, std::string* error = nullptr);
bool LoadMd2(std::span<const std::uint8_t> bytes, ModelData& model, CModelHost& host, std::string* error = nullptr);
// By the entry's name: ".mdl" or ".md2".
bool LoadModel(CPackObject& entry, ModelData& model, CModelHost& host, std::string* error = nullptr);

// The model entry and every picture its skins may be read from (the MD2's skin paths, the PCX
// files beside it), copied with their bytes into a detached tree of the same paths. Loading
// from it touches nothing of the archive, so it may run on another thread; *copy receives the
// model's entry in it. Nothing when the model's bytes cannot be read.
std::unique_ptr<CPackObject> ModelWithItsSkins(const CPackObject& model, CPackObject** copy, std::string* error);

// A PCX picture as an RGB skin padded to powers of two.
bool DecodeSkinPcx(std::span<const std::uint8_t> bytes, ModelSkin& skin);

// The animation a frame belongs to: the name cut before its first digit (MDL), or before the
// last two characters when more than two follow the first digit (MD2); "frames" for a name
// that starts with its number ("1", "2", ...).
std::string MdlAnimationName(const std::string& frame);
std::string Md2AnimationName(const std::string& frame);

// The smallest power of two not below n (1 for n <= 1).
int PaddedSize(int n);

// The box around every vertex of every frame of every animation (vertices that are not finite
// numbers left out): what the viewer frames so that no frame leaves the view.
struct ModelBounds {
  float min[3] = {0, 0, 0}, max[3] = {0, 0, 0};
  bool empty = true;
  float Center(int axis) const { return (min[axis] + max[axis]) / 2; }
  // Half the box's diagonal: the radius of a sphere holding the whole box.
  double Radius() const;
};
ModelBounds BoundsOf(const ModelData& model);

// One corner of a drawn triangle: position, texture coordinate and unit normal.
struct FrameCorner {
  float x, y, z;
  double s, t;
  float nx = 0, ny = 0, nz = 1;
};
// The triangles of frame f of animation a, three corners each, with texture coordinates scaled
// by skin 0's padded size. Normals are the vertices' own from the games' table; a vertex without
// one (or with an index past the table) gets the mean of its faces' normals, weighed by area.
// Empty when the model has no skin 0 or no such frame.
std::vector<FrameCorner> BuildFrameGeometry(const ModelData& model, int animation, int frame);

}  // namespace tarn
