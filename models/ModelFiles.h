// The files of modelling programs that Tarn imports, told apart by their bytes (never by their
// name, which a download can give any file), and the checks each gets before a reader sees it.
// Assimp picks its importer by content too, so a file named ".obj" that holds a PLY would reach
// Assimp's PLY importer; refusing every format but these keeps Assimp's least kept importers
// (several of which crash on their own test files) out of reach.
//
// Read: glTF 2.0 and OBJ (Assimp, after the checks below), MD3 (Assimp, its structure checked
// first), IQM and MD5 (Tarn's own readers). Assimp 5.2.5's FBX and Collada importers are recognised
// only to be refused: a few changed bytes of their own test files corrupt the FBX importer's
// heap (6 of 1,080 altered files) and send the Collada importer into endless loops (29 of 630),
// where its glTF and OBJ importers failed cleanly on all but one of 2,520 (a glTF primitive
// without positions, which the check refuses). Half-Life's studio models ("IDST") are read by
// Tarn's own reader too (StudioModel.h).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tarn {

enum class ModelFileFormat { Unknown, Gltf, Glb, Obj, Iqm, Md3, Fbx, Collada, HalfLife, Md5 };

// The format the bytes hold, by their magic numbers or, for text formats, their first lines.
ModelFileFormat SniffModelFile(std::span<const std::uint8_t> bytes);

// "glTF 2.0", "IQM", ...: the format's name in messages.
const char* ModelFormatName(ModelFileFormat format);
// The formats read, for the message that refuses any other.
inline constexpr const char* kModelFormatsRead =
    "glTF 2.0 (.gltf, .glb), OBJ, IQM, MD3, MD5 (.md5mesh) or Half-Life MDL";

// What a glTF file asks for, as far as its reading costs: checked against the limits below
// before Assimp allocates for it.
struct GltfFacts {
  std::size_t nodes = 0;
  std::size_t depth = 0;           // of the deepest node below its scene's root
  std::uint64_t triangles = 0;     // every node's mesh counted once for each node that places it
  std::vector<std::string> files;  // the files its buffers are read from
};

// Far beyond any model a game loads, and short of what makes a reader run out of stack or memory.
inline constexpr std::size_t kGltfMaxJsonDepth = 64;
inline constexpr std::size_t kGltfMaxNodes = 65536;
inline constexpr std::size_t kGltfMaxNodeDepth = 256;
inline constexpr std::uint64_t kMaxInstancedTriangles = std::uint64_t{1} << 21;

// The glTF (JSON, or a GLB's JSON chunk) checked: JSON nested no deeper than kGltfMaxJsonDepth,
// version 2, its nodes a set of trees (as the format requires: a node listed as the child of
// two, or of its own descendant, makes a reader walk it over and over) no deeper than
// kGltfMaxNodeDepth, indices in range, every primitive with positions, accessors inside their
// buffer views and those inside their buffers, at most kMaxInstancedTriangles placed
// triangles, and every buffer it reads from a file inside its own folder. Empty when it
// passes; else one line saying what is wrong. facts, when given, receives what was counted.
std::string GltfProblem(std::span<const std::uint8_t> bytes, bool binary, GltfFacts* facts = nullptr);

// An MD3's header and surfaces against its bytes: every count and offset, each surface's
// triangles, texture coordinates and per-frame vertices inside the file, vertex indices inside
// their surface. Empty when it fits.
std::string Md3Problem(std::span<const std::uint8_t> bytes);

// The check the format gets before a reader sees it (glTF's and MD3's above; IQM's reader checks
// as it reads; OBJ's reader is bounded by the reading process's limits), or why it is not read
// at all. Empty when it passes.
std::string ModelFileProblem(ModelFileFormat format, std::span<const std::uint8_t> bytes);

// A path a model names (a buffer, an image, a skin), relative to the model's folder, made
// plain: "/" between names, "." dropped. Empty when it is absolute, has a scheme ("http:",
// "file:") or climbs out of the folder with "..".
std::string PathInsideFolder(const std::string& path);

}  // namespace tarn
