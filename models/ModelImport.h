// Models made in modelling programs (glTF 2.0, OBJ + MTL, IQM, MD3, FBX, Collada) turned into
// Quake (".mdl") and Quake II (".md2") models: tarn-import reads the file in a process of its
// own (ModelReader), sampling its animations into frames; Tarn makes the model (ModelBuild) and
// encodes its skin in the game's palette (ImageEncode).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "models/ModelBuild.h"
#include "models/ModelReader.h"
#include "pictures/ImageEncode.h"

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

// The model at path (its bytes tell its format; its textures and buffers are found in its
// folder, and nothing outside it is read). False with a one-line reason when the file cannot be
// read as a model or the model cannot be made. What the reading left out (animations it could
// not read, files outside the folder) comes first in out.model.warnings.
bool ImportModel(const std::string& path, const ModelImportOptions& options, ImportedModel& out, std::string* error);

// A modelling program's model held in memory (an archive's ".md3" or ".iqm", ...; its bytes tell
// the format, path is its path in the archive), as the model viewer shows it: every frame as
// read, with a texture coordinate a corner, and the skin its material names, found through find
// from the archive's root or beside the model, else the material's flat colour in a
// checkerboard. False with a one-line reason when the bytes do not read as a model.
bool ReadModelForView(std::span<const std::uint8_t> bytes, const std::string& path, const FindBytes& find,
                      ModelData& out, std::string* error);
// The second half of that: what tarn-import read, as the viewer shows it.
bool ModelForView(ReadModel read, const std::string& path, ModelData& out, std::string* error);

// The skin a model takes: its width a multiple of 4 (Quake refuses any other) and at most 480
// pixels high (both games refuse taller ones), scaled as little as that allows.
RgbaImage FitSkin(const RgbaImage& image, std::string* error);

}  // namespace tarn
