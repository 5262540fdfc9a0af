#include "cli/ModelCommands.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <ostream>

#include "archive/SafeSave.h"
#include "archive/Strings.h"
#include "formats/ModelImport.h"

namespace tarn::cli {

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;

bool ReadWhole(const std::string& path, Bytes& out, std::string* error) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) {
    *error = Quoted(path) + (fs::exists(path, ec) ? " is not a regular file" : " does not exist");
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (!in && !in.eof()) {
    *error = Quoted(path) + " cannot be read";
    return false;
  }
  return true;
}

// Every file is written beside its target and put in place only when all are complete.
bool WriteAll(const std::vector<std::pair<fs::path, const Bytes*>>& files, std::string* error, std::ostream& notices) {
  std::vector<std::unique_ptr<CSafeSave>> saves;
  for (const auto& [path, bytes] : files) {
    auto& save = saves.emplace_back(std::make_unique<CSafeSave>());
    if (!save->Begin(path) || !save->Write(bytes->data(), bytes->size())) {
      *error = "cannot write " + save->Failure().Text();
      return false;
    }
  }
  for (auto& save : saves)
    if (!save->Commit()) {
      *error = "cannot write " + save->Failure().Text();
      return false;
    }
  for (const auto& file : files) notices << "tarn-pak: wrote " << Quoted(file.first.string()) << "\n";
  return true;
}

}  // namespace

Outcome RunModel(const std::vector<std::string>& a, std::ostream& notices, std::ostream& warnings) {
  ModelImportOptions options;
  std::string skinFile, paletteFile, skinPath;
  std::vector<std::string> positional;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const std::string& arg = a[i];
    auto value = [&](const char* what) -> const std::string* {
      if (i + 1 == a.size()) return nullptr;
      (void)what;
      return &a[++i];
    };
    const std::string* v = nullptr;
    if (arg == "--skin") {
      if (!(v = value("--skin"))) return {2, "--skin needs an image"};
      skinFile = *v;
    } else if (arg == "--skin-path") {
      if (!(v = value("--skin-path"))) return {2, "--skin-path needs the path the game finds the skin at"};
      skinPath = *v;
    } else if (arg == "--fps") {
      if (!(v = value("--fps"))) return {2, "--fps needs a number of frames a second"};
      char* end = nullptr;
      options.fps = std::strtod(v->c_str(), &end);
      if (end == v->c_str() || *end || !(options.fps > 0 && options.fps <= 1000))
        return {2, "--fps takes a number above 0 and at most 1000, not " + Quoted(*v)};
    } else if (arg == "--palette") {
      if (!(v = value("--palette"))) return {2, "--palette needs quake, quake2 or a palette file"};
      if (*v == "quake") options.encode.paletteChoice = PaletteChoice::Quake;
      else if (*v == "quake2") options.encode.paletteChoice = PaletteChoice::Quake2;
      else if (*v == "optimal") return {2, "a model's skin is in its game's palette: --palette optimal does not apply"};
      else options.encode.paletteChoice = PaletteChoice::Given, paletteFile = *v;
    } else if (arg == "--dither") {
      if (!(v = value("--dither"))) return {2, "--dither needs none, floyd-steinberg or ordered"};
      if (*v == "none") options.encode.dither = Dither::None;
      else if (*v == "floyd-steinberg") options.encode.dither = Dither::FloydSteinberg;
      else if (*v == "ordered") options.encode.dither = Dither::Ordered;
      else return {2, "--dither takes none, floyd-steinberg or ordered, not " + Quoted(*v)};
    } else if (arg == "--fullbright") {
      if (!(v = value("--fullbright"))) return {2, "--fullbright needs auto, allow or never"};
      if (*v == "auto") options.encode.fullbright = Fullbright::Auto;
      else if (*v == "allow") options.encode.fullbright = Fullbright::Allow;
      else if (*v == "never") options.encode.fullbright = Fullbright::Never;
      else return {2, "--fullbright takes auto, allow or never, not " + Quoted(*v)};
    } else if (arg.size() > 1 && arg[0] == '-') {
      return {2, "unknown option " + Quoted(arg)};
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.size() != 2) return {2, "model takes IN and OUT.mdl or OUT.md2"};
  const std::string& in = positional[0];
  const fs::path out = positional[1];
  const std::string lower = ToLower(out.string());
  if (EndsWith(lower, ".md2")) options.format = ModelData::kMd2;
  else if (!EndsWith(lower, ".mdl")) return {2, "OUT must end in .mdl or .md2"};
  if (!skinPath.empty() && options.format != ModelData::kMd2) return {2, "--skin-path goes with an MD2"};

  std::string why;
  Bytes bytes;
  if (!paletteFile.empty()) {
    if (!ReadWhole(paletteFile, bytes, &why)) return {1, why};
    if (!LoadPaletteFile(bytes, options.encode.palette, &why)) return {1, paletteFile + ": " + why};
  }
  if (!skinFile.empty()) {
    RgbaImage skin;
    if (!ReadWhole(skinFile, bytes, &why)) return {1, why};
    if (!DecodeImage(bytes, skinFile, skin, &why)) return {1, skinFile + ": " + why};
    options.skin = std::move(skin);
  }
  {
    std::error_code ec;
    if (!fs::is_regular_file(in, ec))
      return {1, Quoted(in) + (fs::exists(in, ec) ? " is not a regular file" : " does not exist")};
  }
  // Quake II finds a model's skin by the path written in it; by default the PCX written beside
  // the model, in a folder of the model's name under models/.
  // (A name too long for that path is left bare: Tarn's viewer and tools find it beside.)
  const fs::path pcx = fs::path(out).replace_extension(".pcx");
  options.skinPath = skinPath.empty() ? "models/" + out.stem().string() + "/" + pcx.filename().string() : skinPath;
  if (skinPath.empty() && options.skinPath.size() >= md2::kSkinNameSize) options.skinPath = pcx.filename().string();
  if (options.format == ModelData::kMd2 && options.skinPath.size() >= md2::kSkinNameSize)
    return {2, "the skin's path " + Quoted(options.skinPath) + " is longer than the 63 characters an MD2 holds"};

  ImportedModel model;
  if (!ImportModel(in, options, model, &why)) return {1, in + ": " + why + "; nothing written"};
  for (const std::string& w : model.model.warnings)
    warnings << "tarn-pak: warning: " << Quoted(out.string()) << ": " << w << "\n";
  std::vector<std::pair<fs::path, const Bytes*>> files{{out, &model.bytes}};
  if (options.format == ModelData::kMd2) files.insert(files.begin(), {pcx, &model.skinBytes});
  if (!WriteAll(files, &why, notices)) return {1, why};
  return {};
}

}  // namespace tarn::cli
