// Quake (".mdl") and Quake II (".md2") models for modelling programs: glTF 2.0 (".gltf", one
// self-contained file, or ".glb") with every frame as a morph target and each animation of the
// model's animation list as a glTF animation of them, and one frame as Wavefront OBJ with its
// MTL and the skin as PNG. The import (ModelImport) reads the glTF back into the same frames.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "models/Model.h"

namespace tarn {

struct ModelExportOptions {
  int frame = -1;       // one frame, counted from 0 over every frame in file order; -1: all
  double fps = 10;      // the games step most animations ten times a second
  std::string name;     // the mesh's and node's name (the model's file name without extension)
  bool binary = false;  // glTF: ".glb" rather than ".gltf"
};

struct ExportedFile {
  std::string name;  // the file's name, beside the others
  std::vector<std::uint8_t> bytes;
};

// The model as one glTF file, every skin a material (the others variants of the first, by
// KHR_materials_variants). A model whose skin is missing (only a checkerboard stands in) is
// written with its texture coordinates and a material without a picture. False with a
// one-line reason when it has no frames, no triangles or no skin at all, or the frame asked
// for is not there.
bool ExportGltf(const ModelData& model, const ModelExportOptions& options, std::vector<std::uint8_t>& out,
                std::string* error);

// One frame (options.frame, the first when -1) as stem.obj, stem.mtl and the skins as
// stem.png, stem-1.png, ..., in that order, a material each; none when the skin is missing.
bool ExportObj(const ModelData& model, const ModelExportOptions& options, const std::string& stem,
               std::vector<ExportedFile>& out, std::string* error);

// width × height RGB pixels, rows stride bytes apart, as a PNG file's bytes (empty when the
// picture has no pixels).
std::vector<std::uint8_t> EncodePngRgb(int width, int height, std::size_t stride, const std::uint8_t* rgb);

}  // namespace tarn
