#include "cli/PaletteCommands.h"

#include <charconv>
#include <filesystem>
#include <fstream>
#include <functional>
#include <ostream>

#include "archive/ContainerFormat.h"
#include "archive/PackObject.h"
#include "cli/StdStreams.h"
#include "fileio/SafeSave.h"
#include "fileio/Strings.h"
#include "pictures/Colormap.h"
#include "pictures/EntryPictures.h"
#include "pictures/ImageEncode.h"

namespace tarn::cli {

namespace fs = std::filesystem;

namespace {

Outcome Failed(const std::string& message) { return {1, message}; }
Outcome BadUsage(const std::string& message) { return {2, message}; }

// "quake", "quake2", or a palette file.
bool LoadNamedPalette(const std::string& name, Palette& out, std::string* error) {
  if (name == "quake") return LoadPalette(kQuakePaletteId, out);
  if (name == "quake2") return LoadPalette(kQuake2PaletteId, out);
  std::vector<std::uint8_t> bytes;
  if (!ReadWholeFile(name, bytes, error)) return false;
  std::string why;
  if (LoadPaletteFile(bytes, out, &why)) return true;
  *error = name + ": " + why;
  return false;
}

// --fullbrights N taken out of args; -1 when not given.
std::string TakeFullbrights(std::vector<std::string>& args, int& fullbrights) {
  fullbrights = -1;
  // Options stop at "--": what follows is a name, whatever it looks like.
  std::size_t end = args.size();
  for (std::size_t i = 0; i < end; ++i)
    if (args[i] == "--") end = i;
  for (std::size_t i = 0; i < end; ++i) {
    if (args[i] != "--fullbrights") continue;
    int n = -1;
    const std::string v = i + 1 < args.size() ? args[i + 1] : "";
    const auto [ptr, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
    if (ec != std::errc() || ptr != v.data() + v.size() || n < 0 || n > 255)
      return "--fullbrights takes a count of colours from 0 to 255";
    fullbrights = n;
    args.erase(args.begin() + static_cast<std::ptrdiff_t>(i), args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
    end -= 2;
    --i;
  }
  for (std::size_t i = 0; i < end; ++i)
    if (args[i].size() > 1 && args[i][0] == '-') return "unknown option " + Quoted(args[i]);
  if (end < args.size()) args.erase(args.begin() + static_cast<std::ptrdiff_t>(end));
  return {};
}

}  // namespace

Outcome RunPaletteColormap(const std::vector<std::string>& given, std::ostream& notices) {
  std::vector<std::string> args = given;
  int fullbrights = -1;
  if (std::string bad = TakeFullbrights(args, fullbrights); !bad.empty()) return BadUsage(bad);
  if (args.size() != 2) return BadUsage("palette colormap takes PALETTE and OUT.lmp or OUT.pcx");
  const std::string lower = ToLower(args[1]);
  const bool quake2 = EndsWith(lower, ".pcx");
  if (!quake2 && !EndsWith(lower, ".lmp")) return BadUsage("OUT must end in .lmp (Quake) or .pcx (Quake II)");
  Palette palette;
  std::string why;
  if (!LoadNamedPalette(args[0], palette, &why)) return Failed(why);
  std::vector<std::uint8_t> bytes;
  if (quake2)
    bytes =
        BuildPcx(MakeQuake2Colormap(palette, fullbrights < 0 ? colormap::kQuake2Fullbrights : fullbrights), palette);
  else bytes = MakeQuakeColormap(palette, fullbrights < 0 ? colormap::kQuakeFullbrights : fullbrights);
  CSafeSave save;
  if (!save.Begin(args[1]) || !save.Write(bytes.data(), bytes.size()) || !save.Commit())
    return Failed("cannot write " + save.Failure().Text());
  notices << "tarn-pak: wrote " << Quoted(args[1]) << "\n";
  return {};
}

Outcome ParseRemap(const std::vector<std::string>& given, RemapRequest& request) {
  std::vector<std::string> args = given;
  int fullbrights = -1;
  if (std::string bad = TakeFullbrights(args, fullbrights); !bad.empty()) return BadUsage(bad);
  if (args.size() < 3) return BadUsage("palette remap takes FROM, TO and ARCHIVE (or FOLDER), and PATHs in it");
  Palette from, to;
  std::string why;
  if (!LoadNamedPalette(args[0], from, &why) || !LoadNamedPalette(args[1], to, &why)) return Failed(why);
  request.table = RemapTable(from, to, fullbrights < 0 ? colormap::kQuakeFullbrights : fullbrights);
  request.target = args[2];
  request.paths.assign(args.begin() + 3, args.end());
  return {};
}

Outcome RemapTree(CPackObject& root, const RemapRequest& request, std::ostream& notices, std::ostream& warnings,
                  int& changed) {
  changed = 0;
  std::vector<CPackObject*> files;
  std::function<void(CPackObject&)> collect = [&](CPackObject& e) {
    if (!e.IsDirectory()) {
      files.push_back(&e);
      return;
    }
    for (CPackObject* c : e.Children()) collect(*c);
  };
  if (request.paths.empty()) collect(root);
  for (const std::string& path : request.paths) {
    CPackObject* e = root.FindByPath(path);
    if (!e) return Failed("no entry " + Quoted(path) + " in " + Quoted(request.target) + "; nothing changed");
    collect(*e);
  }
  for (CPackObject* e : files) {
    if (FormatOfName(e->Name()))
      warnings << "tarn-pak: " << Quoted(e->PathInArchive()) << ": an archive inside; remap it on its own\n";
    std::vector<std::uint8_t> out;
    std::string why;
    RemapOutcome outcome;
    {
      CEntryBytes data(*e);
      if (!data.Ok()) {
        warnings << "tarn-pak: " << Quoted(e->PathInArchive()) << " cannot be read\n";
        continue;
      }
      outcome = RemapArt(e->Name(), data.Bytes(), request.table, out, &why);
    }
    if (outcome == RemapOutcome::Damaged)
      warnings << "tarn-pak: " << Quoted(e->PathInArchive()) << " left as it is: " << why << "\n";
    if (outcome != RemapOutcome::Changed) continue;
    e->SetSize(static_cast<std::int64_t>(out.size()));
    e->SetData(std::move(out));
    notices << "tarn-pak: remapped " << Quoted(e->PathInArchive()) << "\n";
    ++changed;
  }
  return {};
}

Outcome RemapFolder(const RemapRequest& request, std::ostream& notices, std::ostream& warnings) {
  std::vector<fs::path> files;
  std::error_code ec;
  auto collect = [&](const fs::path& p) {
    if (fs::is_regular_file(p, ec)) {
      files.push_back(p);
      return;
    }
    for (fs::recursive_directory_iterator it(p, ec), end; !ec && it != end; it.increment(ec))
      if (it->is_regular_file(ec)) files.push_back(it->path());
  };
  if (request.paths.empty()) collect(request.target);
  for (const std::string& path : request.paths) {
    const fs::path p = fs::path(request.target) / path;
    if (!fs::exists(p, ec)) return Failed("no file " + Quoted(p.string()) + "; nothing changed");
    collect(p);
  }
  int changed = 0;
  for (const fs::path& file : files) {
    std::vector<std::uint8_t> bytes, out;
    std::string why;
    if (!ReadWholeFile(file, bytes, &why)) {
      warnings << "tarn-pak: " << why << "\n";
      continue;
    }
    const RemapOutcome outcome = RemapArt(file.filename().string(), bytes, request.table, out, &why);
    if (outcome == RemapOutcome::Damaged)
      warnings << "tarn-pak: " << Quoted(file.string()) << " left as it is: " << why << "\n";
    if (outcome != RemapOutcome::Changed) continue;
    CSafeSave save;
    if (!save.Begin(file) || !save.Write(out.data(), out.size()) || !save.Commit())
      return Failed("cannot write " + save.Failure().Text());
    notices << "tarn-pak: remapped " << Quoted(file.string()) << "\n";
    ++changed;
  }
  notices << "tarn-pak: " << changed << " file" << (changed == 1 ? "" : "s") << " remapped\n";
  return {};
}

}  // namespace tarn::cli
