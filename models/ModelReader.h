// Models of modelling programs are read in a process of their own, tarn-import, the way desktop
// thumbnailers work: a third-party reader's fault (Assimp's importers have crashed on their own
// test files) ends that process, not the window or tarn-pak, and the process has a memory
// limit and a time limit. Only tarn-import links Assimp, so nothing else pays for loading it.
//
// The two talk over a socket pair: Tarn sends a request (the model's path, or its bytes and its
// path in an archive); tarn-import may ask for files the model names (the archive's textures,
// buffers, skins; Tarn answers with their bytes or with none), then sends what it read or why it
// could not. Each message is a type byte, a 32-bit little-endian length and that many bytes.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "models/ModelBuild.h"
#include "pictures/ImageDecode.h"

namespace tarn {

// The bytes of the file at a path from an archive's root; false when there is none.
using FindBytes = std::function<bool(const std::string& path, std::vector<std::uint8_t>& out)>;

struct ModelReadRequest {
  std::string path;  // the file on disk, or (inArchive) the model's path in its archive
  bool inArchive = false;
  std::vector<std::uint8_t> bytes;  // inArchive: the model
  double fps = 10;                  // how often animations are sampled
  bool skin = true;                 // whether the skin is looked for
};

// What was read: the frames and triangles, the animations' names as the file has them, the
// skin (the texture of the material most triangles use, or else a 16 × 16 square of that
// material's colour) and what was left out.
struct ReadModel {
  SourceModel source;
  std::vector<std::string> animations;
  RgbaImage skin;
  bool textured = false;  // the skin is a texture, not the material's colour
  std::string format;     // as read: "gltf", "glb", "obj", "iqm", "md3", "md5", "fbx", "dae"
  std::vector<std::string> warnings;
  // The skins after the first, for a model that comes with several (an MD3's .skin files, the
  // re-release's numbered MD5 skins).
  std::vector<RgbaImage> moreSkins;
  // What the format tells beyond frames and triangles, for info ("meshes", "joints").
  std::vector<std::pair<std::string, std::string>> facts;
};
// Far past the skins any engine loads for a model (Quake's 32, DarkPlaces' 256 .skin files).
inline constexpr std::size_t kMaxReadSkins = 256;

// What the reading process may take. The defaults hold any model a game loads many times over.
struct ModelReaderLimits {
  int seconds = 30;
  std::uint64_t memoryMiB = 2048;
  // The program; empty: tarn-import beside the running program, or where an install puts it.
  std::string program;
};
inline constexpr std::uint64_t kMaxModelFileBytes = std::uint64_t{256} << 20;
// The limits every later read runs under (the tests shorten them, or run another program).
void SetModelReaderLimits(const ModelReaderLimits& limits);
ModelReaderLimits CurrentModelReaderLimits();

// The model read by tarn-import, answering its questions through find (inArchive; may be
// empty). False with a one-line reason, "this model could not be read: ..." when the reading
// process failed (crashed, ran out of time, could not be started).
bool RunModelReader(const ModelReadRequest& request, const FindBytes& find, ReadModel& out, std::string* error);

// The pieces both ends share.
namespace reader {

enum Message : char {
  kRequest = 'Q',   // Tarn: a ModelReadRequest
  kFind = 'F',      // tarn-import: the path of a file it needs
  kFound = 'B',     // Tarn: that file's bytes
  kNotFound = 'N',  // Tarn: there is no such file
  kResult = 'R',    // tarn-import: a ReadModel
  kFailed = 'E',    // tarn-import: why the model cannot be read
};
// Far past any result the limits above let be made.
inline constexpr std::size_t kMaxMessage = std::size_t{1} << 30;

bool Send(int fd, char type, std::span<const std::uint8_t> payload);
bool Receive(int fd, char& type, std::vector<std::uint8_t>& payload);

std::vector<std::uint8_t> EncodeRequest(const ModelReadRequest& request);
bool DecodeRequest(std::span<const std::uint8_t> bytes, ModelReadRequest& out);
std::vector<std::uint8_t> EncodeResult(const ReadModel& model);
// False when the bytes do not hold a whole, consistent model (every triangle's vertices and
// every frame's positions there, the skin its size).
bool DecodeResult(std::span<const std::uint8_t> bytes, ReadModel& out);

}  // namespace reader

}  // namespace tarn
