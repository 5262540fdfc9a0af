// Models made in modelling programs (glTF 2.0, OBJ + MTL, IQM, MD3 and whatever else Assimp
// reads) turned into Quake (".mdl") and Quake II (".md2") models: Assimp reads the file, Tarn
// samples its animations into frames (ModelBuild) and encodes its skin in the game's palette
// (ImageEncode).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "formats/ImageEncode.h"
#include "formats/ModelBuild.h"

namespace tarn {

struct ModelImportOptions {
  int format = ModelData::kMdl;
  double fps = 10;  // how often animations are sampled
  // The skin's palette, dithering and glow (the palette defaults to the format's game's).
  EncodeOptions encode;
  std::optional<RgbaImage> skin;  // in place of the material's picture
  std::string skinPath;           // MD2: the path the model names its skin by
};

struct ImportedModel {
  PackedModel model;
  std::vector<std::uint8_t> bytes;      // the .mdl or .md2 file
  std::vector<std::uint8_t> skinBytes;  // MD2: the skin as a PCX file
  std::vector<std::string> animations;  // the animations found, as named in the file
};

// The model at path (its textures and buffers are found beside it). False with a one-line
// reason when the file cannot be read as a model or the model cannot be made.
bool ImportModel(const std::string& path, const ModelImportOptions& options, ImportedModel& out, std::string* error);

// The bytes of the file at a path from an archive's root; false when there is none.
using FindBytes = std::function<bool(const std::string& path, std::vector<std::uint8_t>& out)>;

// A modelling program's model held in memory (an archive's ".md3" or ".iqm", ...; the
// extension of path, its path in the archive, tells the format), as the model viewer shows it:
// every frame as read, with a texture coordinate a corner, and the skin its material names,
// found through find from the archive's root or beside the model, else the material's flat
// colour in a checkerboard. False with a one-line reason when the bytes do not read as a model.
bool ReadModelForView(std::span<const std::uint8_t> bytes, const std::string& path, const FindBytes& find,
                      ModelData& out, std::string* error);

// The skin a model takes: its width a multiple of 4 (Quake refuses any other) and at most 480
// pixels high (both games refuse taller ones), scaled as little as that allows.
RgbaImage FitSkin(const RgbaImage& image, std::string* error);

}  // namespace tarn
