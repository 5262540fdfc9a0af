#include "cli/ModelCommands.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <ostream>
#include <random>

#include "archive/EntryTypes.h"
#include "archive/PackObject.h"
#include "cli/StdStreams.h"
#include "fileio/SafeSave.h"
#include "fileio/Strings.h"
#include "fileio/TempFile.h"
#include "models/ModelExport.h"
#include "models/ModelImport.h"

namespace tarn::cli {

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;

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

// The options model and add --as mdl|md2 share, and the arguments that are not options.
struct ModelArgs {
  ModelImportOptions options;
  std::string skinFile, paletteFile, skinPath, as, to;
  std::vector<std::string> positional;
};

// Nothing when the arguments are understood; otherwise what is wrong with them (exit 2).
std::optional<Outcome> ParseModelArgs(const std::vector<std::string>& a, bool forAdd, ModelArgs& p) {
  ModelImportOptions& options = p.options;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const std::string& arg = a[i];
    auto value = [&]() -> const std::string* { return i + 1 == a.size() ? nullptr : &a[++i]; };
    const std::string* v = nullptr;
    if (arg == "--") {  // the end of the options: files follow, whatever they look like
      p.positional.insert(p.positional.end(), a.begin() + static_cast<std::ptrdiff_t>(i) + 1, a.end());
      break;
    }
    if (arg == "--skin") {
      if (!(v = value())) return Outcome{2, "--skin needs an image"};
      p.skinFile = *v;
    } else if (!forAdd && arg == "--skin-path") {
      if (!(v = value())) return Outcome{2, "--skin-path needs the path the game finds the skin at"};
      p.skinPath = *v;
    } else if (forAdd && arg == "--as") {
      if (!(v = value())) return Outcome{2, "--as needs mdl or md2"};
      p.as = *v;
    } else if (forAdd && arg == "--to") {
      if (!(v = value())) return Outcome{2, "--to needs a directory path"};
      p.to = *v;
    } else if (arg == "--fps") {
      if (!(v = value())) return Outcome{2, "--fps needs a number of frames a second"};
      char* end = nullptr;
      options.fps = std::strtod(v->c_str(), &end);
      if (end == v->c_str() || *end || !(options.fps > 0 && options.fps <= 1000))
        return Outcome{2, "--fps takes a number above 0 and at most 1000, not " + Quoted(*v)};
    } else if (arg == "--palette") {
      if (!(v = value())) return Outcome{2, "--palette needs quake, quake2 or a palette file"};
      if (*v == "quake") options.encode.paletteChoice = PaletteChoice::Quake;
      else if (*v == "quake2") options.encode.paletteChoice = PaletteChoice::Quake2;
      else if (*v == "optimal")
        return Outcome{2, "a model's skin is in its game's palette: --palette optimal does not apply"};
      else options.encode.paletteChoice = PaletteChoice::Given, p.paletteFile = *v;
    } else if (arg == "--dither") {
      if (!(v = value())) return Outcome{2, "--dither needs none, floyd-steinberg or ordered"};
      if (*v == "none") options.encode.dither = Dither::None;
      else if (*v == "floyd-steinberg") options.encode.dither = Dither::FloydSteinberg;
      else if (*v == "ordered") options.encode.dither = Dither::Ordered;
      else return Outcome{2, "--dither takes none, floyd-steinberg or ordered, not " + Quoted(*v)};
    } else if (arg == "--fullbright") {
      if (!(v = value())) return Outcome{2, "--fullbright needs auto, allow or never"};
      if (*v == "auto") options.encode.fullbright = Fullbright::Auto;
      else if (*v == "allow") options.encode.fullbright = Fullbright::Allow;
      else if (*v == "never") options.encode.fullbright = Fullbright::Never;
      else return Outcome{2, "--fullbright takes auto, allow or never, not " + Quoted(*v)};
    } else if (arg.size() > 1 && arg[0] == '-') {
      return Outcome{2, "unknown option " + Quoted(arg)};
    } else {
      p.positional.push_back(arg);
    }
  }
  return std::nullopt;
}

// The palette file and the skin the options name, read into the options.
std::optional<Outcome> LoadOptionFiles(ModelArgs& p) {
  std::string why;
  Bytes bytes;
  if (!p.paletteFile.empty()) {
    if (!ReadWholeFile(p.paletteFile, bytes, &why)) return Outcome{1, why};
    if (!LoadPaletteFile(bytes, p.options.encode.palette, &why)) return Outcome{1, p.paletteFile + ": " + why};
  }
  if (!p.skinFile.empty()) {
    RgbaImage skin;
    if (!ReadWholeFile(p.skinFile, bytes, &why)) return Outcome{1, why};
    if (!DecodeImage(bytes, p.skinFile, skin, &why)) return Outcome{1, p.skinFile + ": " + why};
    p.options.skin = std::move(skin);
  }
  return std::nullopt;
}

std::optional<Outcome> RequireFile(const std::string& in) {
  std::error_code ec;
  if (!fs::is_regular_file(in, ec))
    return Outcome{1, Quoted(in) + (fs::exists(in, ec) ? " is not a regular file" : " does not exist")};
  return std::nullopt;
}

}  // namespace

Outcome RunModel(const std::vector<std::string>& a, std::ostream& notices, std::ostream& warnings) {
  ModelArgs p;
  if (auto bad = ParseModelArgs(a, false, p)) return *bad;
  ModelImportOptions& options = p.options;
  const std::string& skinPath = p.skinPath;
  if (p.positional.size() != 2) return {2, "model takes IN and OUT.mdl or OUT.md2"};
  const std::string& in = p.positional[0];
  const fs::path out = p.positional[1];
  const EntryType outType = FileTypeOf(out.string());
  if (outType == EntryType::Quake2Model) options.format = ModelData::kMd2;
  else if (outType != EntryType::QuakeModel) return {2, "OUT must end in .mdl or .md2"};
  if (!skinPath.empty() && options.format != ModelData::kMd2) return {2, "--skin-path goes with an MD2"};
  if (auto failed = LoadOptionFiles(p)) return *failed;
  std::string why;
  if (auto missing = RequireFile(in)) return *missing;
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

bool IsModelExportName(const std::string& out) {
  const std::string lower = ToLower(out);
  return EndsWith(lower, ".gltf") || EndsWith(lower, ".glb") || EndsWith(lower, ".obj");
}

Outcome RunModelExport(CPackObject& entry, const std::string& shown, const std::string& out, int frame,
                       std::ostream& notices, std::ostream& warnings) {
  ModelData model;
  CArchiveModelHost host(entry);
  std::string why;
  if (!LoadModel(entry, model, host, &why)) return {1, Quoted(shown) + " cannot be read as a model: " + why};
  auto warn = [&](const std::string& what) {
    warnings << "tarn-pak: warning: " << Quoted(shown) << ": " << what << "\n";
  };
  for (const std::string& path : model.missingSkins) warn("its skin " + Quoted(path) + " is not in the archive");
  for (const std::string& path : model.unreadableSkins)
    warn("its skin " + Quoted(path) + " is not a picture Tarn reads");
  if (model.RealSkinCount() == 0)
    warn(model.missingSkins.empty() && model.unreadableSkins.empty() ? "it names no skin; written without one"
                                                                     : "written without a skin");
  const fs::path target = out;
  ModelExportOptions options;
  options.frame = frame;
  options.name = fs::path(entry.Name()).stem().string();
  const std::string lower = ToLower(out);
  std::vector<std::pair<fs::path, Bytes>> files;
  if (EndsWith(lower, ".obj")) {
    std::vector<ExportedFile> written;
    if (!ExportObj(model, options, target.stem().string(), written, &why))
      return {1, Quoted(shown) + ": " + why + "; nothing written"};
    for (ExportedFile& f : written) files.emplace_back(target.parent_path() / f.name, std::move(f.bytes));
    files.front().first = target;  // the OBJ itself, named as asked
  } else {
    options.binary = EndsWith(lower, ".glb");
    Bytes bytes;
    if (!ExportGltf(model, options, bytes, &why)) return {1, Quoted(shown) + ": " + why + "; nothing written"};
    files.emplace_back(target, std::move(bytes));
  }
  std::vector<std::pair<fs::path, const Bytes*>> pointers;
  for (const auto& [path, bytes] : files) pointers.emplace_back(path, &bytes);
  if (!WriteAll(pointers, &why, notices)) return {1, why};
  return {};
}

bool IsModelAdd(const std::vector<std::string>& args) {
  for (std::size_t i = 0; i + 1 < args.size(); ++i)
    if (args[i] == "--as") return ToLower(args[i + 1]) == "mdl" || ToLower(args[i + 1]) == "md2";
  return false;
}

Outcome RunAddModel(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                    const std::vector<std::string>& passOn, const RunOptions& runOptions) {
  ModelArgs p;
  if (auto bad = ParseModelArgs(args, true, p)) return *bad;
  if (p.positional.size() < 2) return {2, "add takes ARCHIVE and at least one MODEL"};
  const std::string as = ToLower(p.as);
  p.options.format = as == "md2" ? ModelData::kMd2 : ModelData::kMdl;
  if (auto failed = LoadOptionFiles(p)) return *failed;

  // The models wait in a private folder and are added from there as ordinary files.
  std::random_device random;
  const fs::path folder =
      fs::temp_directory_path() / ("tarn-model-" + std::to_string(random()) + std::to_string(random()));
  std::error_code ec;
  if (!fs::create_directory(folder, ec)) return {1, "cannot create a temporary folder"};
  struct Remove {
    fs::path path;
    ~Remove() {
      std::error_code e;
      fs::remove_all(path, e);
    }
  } remove{folder};

  // An MD2 names its skin by its path in the game's files: the PCX added beside it.
  std::string dir = p.to;
  while (!dir.empty() && dir.front() == '/') dir.erase(0, 1);
  while (!dir.empty() && dir.back() == '/') dir.pop_back();
  std::vector<std::string> addArgs = passOn;
  addArgs.insert(addArgs.end(), {"add", p.positional[0]});
  if (!p.to.empty()) addArgs.insert(addArgs.end(), {"--to", p.to});
  std::string why;
  for (std::size_t i = 1; i < p.positional.size(); ++i) {
    const std::string& in = p.positional[i];
    if (auto missing = RequireFile(in)) return {1, missing->message + "; archive left unchanged"};
    const std::string stem = ToLower(fs::path(in).stem().string());
    ModelImportOptions options = p.options;
    options.skinPath = (dir.empty() ? "" : dir + "/") + stem + ".pcx";
    if (options.format == ModelData::kMd2 && options.skinPath.size() >= md2::kSkinNameSize)
      return {2, "the skin's path " + Quoted(options.skinPath) +
                     " is longer than the 63 characters an MD2 holds; archive left unchanged"};
    ImportedModel model;
    if (!ImportModel(in, options, model, &why)) return {1, in + ": " + why + "; archive left unchanged"};
    for (const std::string& w : model.model.warnings) err << "tarn-pak: warning: " << Quoted(in) << ": " << w << "\n";
    const fs::path place = folder / std::to_string(i);
    fs::create_directory(place, ec);
    const fs::path file = place / (stem + "." + as);
    if (!WriteFileBytes(file, model.bytes)) return {1, "cannot write a temporary file; archive left unchanged"};
    addArgs.push_back(file.string());
    if (options.format == ModelData::kMd2) {
      const fs::path skin = place / (stem + ".pcx");
      if (!WriteFileBytes(skin, model.skinBytes)) return {1, "cannot write a temporary file; archive left unchanged"};
      addArgs.push_back(skin.string());
    }
  }
  // add reports its own failures.
  return {Run(addArgs, out, err, runOptions), {}};
}

}  // namespace tarn::cli
