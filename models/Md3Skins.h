// The .skin files that give an MD3 its skins in the engines that read them: DarkPlaces'
// Mod_LoadSkinFiles (model_shared.c) and FTE open NAME_0.skin, NAME_1.skin, ... (NAME the
// model's whole path, progs/player.md3_0.skin) until one is missing, each file a skin, each line
// "surface,picture" (a "tag_" line names an attachment point and is passed over; "replace
// surface picture" says the same with words). Without .skin files the surfaces' own shaders
// are the skin.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace tarn {

// DarkPlaces reads at most 256.
inline constexpr int kMaxSkinFiles = 256;

struct SkinFile {
  std::vector<std::pair<std::string, std::string>> pictures;  // surface name, picture path
  std::vector<std::string> warnings;                          // lines passed over, and why
};

// The file's lines as DarkPlaces takes them: words split at spaces and at ",", "//" comments
// left out, a line of more than 10 words passed over.
SkinFile ParseSkinFile(std::span<const std::uint8_t> bytes);

// The path of skin file n of the model at modelPath: "progs/player.md3_0.skin".
std::string SkinFilePath(const std::string& modelPath, int n);

struct Md3Surface {
  std::string name;
  std::uint32_t triangles = 0;
};
// The MD3's surfaces, as far as they lie inside the bytes (names cut at their first zero).
std::vector<Md3Surface> Md3Surfaces(std::span<const std::uint8_t> bytes);

// The pictures a skin file gives the surfaces, those of the surfaces with the most triangles
// first, without repeats: where the skin's picture is looked for.
std::vector<std::string> SkinPictures(const SkinFile& skin, const std::vector<Md3Surface>& surfaces);

}  // namespace tarn
