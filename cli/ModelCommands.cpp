#include "cli/ModelCommands.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
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
#include "game/EngineProfile.h"
#include "models/ModelEdit.h"
#include "models/ModelExport.h"
#include "models/ModelHeader.h"
#include "models/ModelImport.h"
#include "pictures/EntryPictures.h"

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

namespace {

// One of modeledit's edits as given: its option and its values.
struct EditStep {
  std::string option;
  std::vector<std::string> values;
};

// The number of values each edit takes.
int ValuesOf(const std::string& option) {
  static const std::map<std::string, int> counts = {
      {"--skin", 2},          {"--add-skin", 1},       {"--remove-skin", 1},  {"--group-skins", 3},
      {"--ungroup-skins", 1}, {"--skin-intervals", 2}, {"--rename-frame", 2}, {"--move-frame", 2},
      {"--delete-frame", 1},  {"--flags", 1},          {"--sync", 1},         {"--eye", 1},
      {"--skin-path", 2},     {"--add-skin-path", 1}};
  const auto found = counts.find(option);
  return found == counts.end() ? 0 : found->second;
}

bool ParseInt(const std::string& text, int& out) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc{} && end == text.data() + text.size() && out >= 0;
}

// "N" or "N.K" (member K of group N).
bool ParseIndex(const std::string& text, int& index, int& member) {
  const std::size_t dot = text.find('.');
  member = -1;
  if (dot == std::string::npos) return ParseInt(text, index);
  return ParseInt(text.substr(0, dot), index) && ParseInt(text.substr(dot + 1), member);
}

// Numbers apart by commas, each as exact as a float holds it.
bool ParseFloats(const std::string& text, std::vector<float>& out) {
  out.clear();
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(',', start);
    if (end == std::string::npos) end = text.size();
    float f = 0;
    const auto [p, ec] = std::from_chars(text.data() + start, text.data() + end, f);
    if (start == end || ec != std::errc{} || p != text.data() + end || !std::isfinite(f)) return false;
    out.push_back(f);
    start = end + 1;
  }
  return true;
}

std::string FloatsText(std::span<const float> values) {
  std::string text;
  for (float f : values) {
    char buffer[32];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, f);
    text += (text.empty() ? "" : ",") + std::string(buffer, ec == std::errc{} ? end : buffer);
  }
  return text;
}

// A frame by its number ("N", "N.K") or by its name: the first frame (or member of a group)
// that has it.
bool FindFrame(const ModelLayout& layout, const std::string& text, int& index, int& member) {
  if (ParseIndex(text, index, member)) return true;
  for (std::size_t i = 0; i < layout.frames.size(); ++i)
    for (std::size_t k = 0; k < layout.frames[i].names.size(); ++k)
      if (layout.frames[i].names[k] == text) {
        index = static_cast<int>(i);
        member = layout.frames[i].group ? static_cast<int>(k) : -1;
        return true;
      }
  return false;
}

void ListModel(const ModelLayout& l, std::ostream& out) {
  const bool md2 = l.format == ModelData::kMd2;
  out << "format\t" << (md2 ? "md2" : "mdl") << "\n";
  out << "skin size\t" << l.skinWidth << "x" << l.skinHeight << "\n";
  if (!md2) {
    out << "flags\t" << ModelFlagsText(l.flags) << "\n";
    out << "sync\t" << (l.syncType == 0 ? "sync" : l.syncType == 1 ? "rand" : std::to_string(l.syncType)) << "\n";
    out << "eye\t" << FloatsText(l.eye) << "\n";
  }
  auto pieces = [&](const char* what, const std::vector<ModelLayout::Piece>& list) {
    for (std::size_t i = 0; i < list.size(); ++i) {
      const ModelLayout::Piece& p = list[i];
      if (!p.group) {
        out << what << "\t" << i;
        if (!p.names.empty()) out << "\t" << Escaped(p.names.front());
        out << "\n";
        continue;
      }
      out << what << "\t" << i << "\tgroup\t" << FloatsText(p.intervals) << "\n";
      for (std::size_t k = 0; k < p.members.size(); ++k) {
        out << what << "\t" << i << "." << k;
        if (k < p.names.size()) out << "\t" << Escaped(p.names[k]);
        out << "\n";
      }
    }
  };
  pieces("skin", l.skins);
  pieces("frame", l.frames);
}

// The PCX at path in the archive of model, made or replaced.
Outcome PutArchiveFile(CPackObject& model, const std::string& path, std::vector<std::uint8_t> bytes) {
  CPackObject* dir = model.Root();
  std::string rest = path;
  while (!rest.empty() && rest.front() == '/') rest.erase(0, 1);
  for (std::size_t slash; (slash = rest.find('/')) != std::string::npos; rest.erase(0, slash + 1)) {
    const std::string part = rest.substr(0, slash);
    if (part.empty()) continue;
    CPackObject* sub = dir->FindChildDirectory(part);
    if (!sub && dir->FindChild(part)) return {1, Quoted(path) + " lies below a file"};
    dir = sub ? sub : dir->AddChild(part, true);
  }
  if (rest.empty()) return {1, "the skin path " + Quoted(path) + " names no file"};
  CPackObject* e = dir->FindChild(rest);
  if (e && e->IsDirectory()) return {1, Quoted(path) + " is a directory"};
  if (!e) e = dir->AddChild(rest, false);
  e->SetSize(static_cast<std::int64_t>(bytes.size()));
  e->SetData(std::move(bytes));
  return {};
}

// What the edits took past an engine's limits (skins, frames), on warnings: the first engine,
// the most generous, whose limit the model goes past.
void WarnOfLimits(std::span<const std::uint8_t> before, std::span<const std::uint8_t> after, bool md2,
                  const std::string& path, std::ostream& warnings) {
  const ModelHeader was = ReadModelHeader(before), is = ReadModelHeader(after);
  const std::int64_t posesWere = md2 ? was.frames : CountMdlPoses(before);
  const std::int64_t poses = md2 ? is.frames : CountMdlPoses(after);
  struct Count {
    std::int64_t was, is;
    ModelLimit ModelLimits::*limit;
    const char* what;
  };
  const Count counts[] = {{posesWere, poses, &ModelLimits::frames, md2 ? " frames" : " frames (poses)"},
                          {was.skins, is.skins, &ModelLimits::skins, " skins"}};
  for (const Count& n : counts) {
    if (n.is <= n.was) continue;
    for (const ModelLimits& l : ModelLimitsFor(md2 ? Engine::Quake2 : Engine::Quake, md2)) {
      const ModelLimit& limit = l.*n.limit;
      if (limit.max == 0 || n.is <= limit.max) continue;
      warnings << "tarn-pak: warning: " << Quoted(path) << " now has " << n.is << n.what << "; " << l.engine
               << " loads at most " << limit.max << (limit.name.empty() ? "" : " (" + std::string(limit.name) + ")")
               << "\n";
      break;
    }
  }
}

}  // namespace

Outcome ParseModelEdit(const std::vector<std::string>& args, MapEdit& edit) {
  std::vector<std::string> a;
  std::vector<EditStep> steps;
  bool list = false;
  EncodeOptions encode;
  std::string paletteFile, glowFile;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& v = args[i];
    if (v == "--") {  // what follows is a name, whatever it begins with
      a.insert(a.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
      break;
    }
    if (v == "--list") {
      list = true;
      continue;
    }
    if (v == "--palette" || v == "--dither" || v == "--fullbright" || v == "--glow") {
      if (++i == args.size()) return {2, v + " needs a value"};
      const std::string& value = args[i];
      if (v == "--glow") {
        glowFile = value;
      } else if (v == "--palette") {
        if (value == "quake") encode.paletteChoice = PaletteChoice::Quake;
        else if (value == "quake2") encode.paletteChoice = PaletteChoice::Quake2;
        else if (value == "optimal")
          return {2, "a model's skin is in its game's palette: --palette optimal does not apply"};
        else encode.paletteChoice = PaletteChoice::Given, paletteFile = value;
      } else if (v == "--dither") {
        if (value == "none") encode.dither = Dither::None;
        else if (value == "floyd-steinberg") encode.dither = Dither::FloydSteinberg;
        else if (value == "ordered") encode.dither = Dither::Ordered;
        else return {2, "--dither takes none, floyd-steinberg or ordered, not " + Quoted(value)};
      } else {
        if (value == "auto") encode.fullbright = Fullbright::Auto;
        else if (value == "allow") encode.fullbright = Fullbright::Allow;
        else if (value == "never") encode.fullbright = Fullbright::Never;
        else return {2, "--fullbright takes auto, allow or never, not " + Quoted(value)};
      }
      continue;
    }
    const int n = ValuesOf(v);
    if (n == 0) {
      a.push_back(v);
      continue;
    }
    if (args.size() - i - 1 < static_cast<std::size_t>(n))
      return {2, v + " needs " + std::to_string(n) + (n == 1 ? " value" : " values")};
    steps.push_back({v, std::vector<std::string>(args.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                                                 args.begin() + static_cast<std::ptrdiff_t>(i) + 1 + n)});
    i += static_cast<std::size_t>(n);
  }
  if (a.size() != 2 || (steps.empty() && !list))
    return {2, "modeledit takes ARCHIVE, MODEL and --list or at least one edit"};
  // The pictures and files the edits read, read now: a missing one changes nothing.
  std::string why;
  std::vector<std::uint8_t> file;
  if (!paletteFile.empty()) {
    if (!ReadWholeFile(paletteFile, file, &why)) return {1, why};
    if (!LoadPaletteFile(file, encode.palette, &why)) return {1, paletteFile + ": " + why};
  }
  if (!glowFile.empty()) {
    if (!ReadWholeFile(glowFile, file, &why)) return {1, why};
    if (!DecodeImage(file, glowFile, encode.glow, &why)) return {1, glowFile + ": " + why};
  }
  auto pictures = std::make_shared<std::map<std::string, RgbaImage>>();
  for (const EditStep& s : steps) {
    const std::string* picture = s.option == "--skin"       ? &s.values[1]
                                 : s.option == "--add-skin" ? &s.values[0]
                                                            : nullptr;
    if (!picture || pictures->contains(*picture)) continue;
    RgbaImage image;
    if (!ReadWholeFile(*picture, file, &why)) return {1, why};
    if (!DecodeImage(file, *picture, image, &why)) return {1, *picture + ": " + why};
    (*pictures)[*picture] = std::move(image);
  }
  edit.archive = a[0];
  edit.map = a[1];
  edit.changes = !steps.empty();
  edit.run = [steps, list, encode, pictures](CPackObject& model, std::ostream& out, std::ostream& warnings,
                                             std::string& notice) -> Outcome {
    const std::string path = model.PathInArchive();
    const EntryType type = FileTypeOf(model.Name());
    if (type != EntryType::QuakeModel && type != EntryType::Quake2Model)
      return {1, Quoted(path) + " is not a Quake or Quake II model (.mdl, .md2)"};
    std::vector<std::uint8_t> bytes;
    {
      CEntryBytes data(model);
      if (!data.Ok()) return {1, "the data of " + Quoted(path) + " cannot be read"};
      bytes.assign(data.Bytes().begin(), data.Bytes().end());
    }
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> skinFiles;  // MD2: PCX files to write
    for (const EditStep& s : steps) {
      std::string why;
      ModelLayout l;
      if (!ReadModelLayout(bytes, l, &why)) return {1, Quoted(path) + " cannot be read as a model: " + why};
      const bool md2 = l.format == ModelData::kMd2;
      auto bad = [&](const std::string& what) { return Outcome{2, s.option + ": " + what}; };
      auto failed = [&](const std::string& what) {
        return Outcome{1, Quoted(path) + ": " + s.option + ": " + what + "; nothing changed"};
      };
      auto mdlOnly = [&]() -> std::optional<Outcome> {
        if (md2) return failed("a Quake II model has no " + s.option.substr(2) + "; only a Quake model has");
        return std::nullopt;
      };
      auto md2Only = [&]() -> std::optional<Outcome> {
        if (!md2) return failed("only a Quake II model names its skins by their paths");
        return std::nullopt;
      };
      ModelEdit e;
      const std::vector<std::string>& v = s.values;
      using K = ModelEdit::Kind;
      if (s.option == "--skin") {
        if (!ParseIndex(v[0], e.index, e.member)) return bad("takes a skin's number (N, or N.K in group N)");
        const RgbaImage& picture = pictures->at(v[1]);
        if (md2) {
          if (e.member >= 0 || static_cast<std::size_t>(e.index) >= l.skins.size())
            return failed("the model names no skin " + v[0]);
          std::vector<std::uint8_t> pcx;
          if (!EncodeMd2Skin(picture, encode, pcx, &why)) return failed(v[1] + ": " + why);
          skinFiles.emplace_back(l.skins[static_cast<std::size_t>(e.index)].names.front(), std::move(pcx));
          continue;
        }
        e.kind = K::ReplaceSkin;
        if (!EncodeMdlSkin(picture, l.skinWidth, l.skinHeight, encode, e.bytes, &why)) return failed(v[1] + ": " + why);
      } else if (s.option == "--add-skin") {
        if (auto no = mdlOnly()) return *no;
        e.kind = K::InsertSkin;
        e.index = static_cast<int>(l.skins.size());
        std::vector<std::uint8_t> pixels;
        if (!EncodeMdlSkin(pictures->at(v[0]), l.skinWidth, l.skinHeight, encode, pixels, &why))
          return failed(v[0] + ": " + why);
        e.bytes.assign(4, 0);  // a single skin's type
        e.bytes.insert(e.bytes.end(), pixels.begin(), pixels.end());
      } else if (s.option == "--remove-skin") {
        e.kind = K::RemoveSkin;
        if (!ParseInt(v[0], e.index)) return bad("takes a skin's number");
      } else if (s.option == "--group-skins" || s.option == "--skin-intervals") {
        if (auto no = mdlOnly()) return *no;
        const bool group = s.option == "--group-skins";
        std::vector<float> intervals;
        if (!ParseInt(v[0], e.index) || (group && !ParseInt(v[1], e.count)))
          return bad(group ? "takes the first skin's number and how many" : "takes a skin group's number");
        if (!ParseFloats(v[group ? 2 : 1], intervals))
          return bad("takes the intervals as numbers apart by commas, not " + Quoted(v[group ? 2 : 1]));
        if (std::any_of(intervals.begin(), intervals.end(), [](float f) { return f <= 0; }))
          return bad("the engines take only intervals above 0");
        e.kind = group ? K::GroupSkins : K::SetSkinIntervals;
        e.bytes = FloatBytes(intervals);
      } else if (s.option == "--ungroup-skins") {
        if (auto no = mdlOnly()) return *no;
        e.kind = K::UngroupSkins;
        if (!ParseInt(v[0], e.index)) return bad("takes a skin group's number");
      } else if (s.option == "--rename-frame" || s.option == "--move-frame" || s.option == "--delete-frame") {
        if (!FindFrame(l, v[0], e.index, e.member)) return failed("the model has no frame " + Quoted(v[0]));
        if (s.option == "--rename-frame") {
          e.kind = K::RenameFrame;
          if (!FrameNameField(v[1], e.bytes))
            return bad("a frame's name is at most 15 characters, not " + Quoted(v[1]));
        } else if (s.option == "--move-frame") {
          e.kind = K::MoveFrame;
          if (!ParseInt(v[1], e.to)) return bad("takes the number the frame is to have");
        } else {
          e.kind = K::RemoveFrame;
        }
      } else if (s.option == "--flags") {
        if (auto no = mdlOnly()) return *no;
        e.kind = K::SetFlags;
        if (!ParseModelFlags(v[0], e.value))
          return bad(
              "takes rocket, grenade, gib, rotate, tracer, zombiegib, tracer2, tracer3 apart by commas, a "
              "number or none, not " +
              Quoted(v[0]));
      } else if (s.option == "--sync") {
        if (auto no = mdlOnly()) return *no;
        e.kind = K::SetSyncType;
        if (v[0] != "sync" && v[0] != "rand") return bad("takes sync or rand, not " + Quoted(v[0]));
        e.value = v[0] == "rand" ? 1 : 0;
      } else if (s.option == "--eye") {
        if (auto no = mdlOnly()) return *no;
        std::vector<float> eye;
        if (!ParseFloats(v[0], eye) || eye.size() != 3) return bad("takes X,Y,Z, not " + Quoted(v[0]));
        e.kind = K::SetEye;
        e.bytes = FloatBytes(eye);
      } else if (s.option == "--skin-path" || s.option == "--add-skin-path") {
        if (auto no = md2Only()) return *no;
        const bool add = s.option == "--add-skin-path";
        if (!add && !ParseInt(v[0], e.index)) return bad("takes a skin's number");
        const std::string& skinPath = v[add ? 0 : 1];
        if (!SkinPathField(skinPath, e.bytes))
          return bad("a skin's path is at most 63 characters, not " + Quoted(skinPath));
        e.kind = add ? K::InsertSkin : K::ReplaceSkin;
        if (add) e.index = static_cast<int>(l.skins.size());
      }
      std::vector<std::uint8_t> edited;
      if (!ApplyModelEdit(bytes, e, edited, nullptr, &why)) return failed(why);
      bytes = std::move(edited);
    }
    if (list) {
      ModelLayout l;
      std::string why;
      if (!ReadModelLayout(bytes, l, &why)) return {1, Quoted(path) + " cannot be read as a model: " + why};
      ListModel(l, out);
      if (!out) return {1, "cannot write standard output"};
    }
    if (steps.empty()) return {};
    {
      CEntryBytes data(model);
      if (data.Ok()) WarnOfLimits(data.Bytes(), bytes, type == EntryType::Quake2Model, path, warnings);
    }
    for (auto& [skinPath, pcx] : skinFiles)
      if (const Outcome o = PutArchiveFile(model, skinPath, std::move(pcx)); o.code)
        return {1, Quoted(path) + ": " + o.message + "; nothing changed"};
    model.SetSize(static_cast<std::int64_t>(bytes.size()));
    model.SetData(std::move(bytes));
    notice = "edited " + Quoted(path) + " in place (" + std::to_string(steps.size()) +
             (steps.size() == 1 ? " edit)" : " edits)");
    return {};
  };
  return {};
}

}  // namespace tarn::cli
