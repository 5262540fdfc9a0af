#include "cli/GameCommands.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <ostream>
#include <sstream>

#include "archive/PackObject.h"
#include "cli/JsonReport.h"
#include "fileio/Strings.h"
#include "game/ArchiveDiff.h"
#include "game/EngineChecks.h"
#include "game/GameFolder.h"

namespace tarn::cli {

namespace fs = std::filesystem;

bool HasArgument(const std::vector<std::string>& args, const std::string& option) {
  return std::find(args.begin(), args.end(), option) != args.end();
}

namespace {

Outcome Failed(const std::string& message) { return {1, message}; }
Outcome BadUsage(const std::string& message) { return {2, message}; }

void Warn(std::ostream& err, const std::string& message) { err << "tarn-pak: " << message << "\n"; }

struct GameArgs {
  const EngineProfile* profile = &DefaultEngineProfile();
  bool all = false;
  std::vector<std::string> positional;
};

// --engine E anywhere, --all and --game where the command takes them; empty when understood.
std::string Parse(const std::vector<std::string>& a, bool listOptions, GameArgs& p) {
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] == "--") {  // the end of the options: folders and paths follow, whatever they look like
      p.positional.insert(p.positional.end(), a.begin() + static_cast<std::ptrdiff_t>(i) + 1, a.end());
      break;
    }
    if (a[i] == "--engine") {
      if (i + 1 == a.size()) return "--engine needs an engine: " + EngineProfileNames();
      p.profile = FindEngineProfile(a[++i]);
      if (!p.profile) return "unknown engine " + Quoted(a[i]) + "; the engines are " + EngineProfileNames();
    } else if (listOptions && a[i] == "--all") {
      p.all = true;
    } else if (listOptions && a[i] == "--game") {
    } else if (a[i].size() > 1 && a[i][0] == '-') {
      return "unknown option " + Quoted(a[i]);
    } else {
      p.positional.push_back(a[i]);
    }
  }
  return {};
}

// A load failure with its package named once.
std::string Describe(const LoadFailure& f) {
  const std::string path = f.path.string();
  return f.reason.find(path) == std::string::npos ? Quoted(path) + " " + f.reason : f.reason;
}

// The engine's fatal error while loading its packages: it never gets to load a file.
Outcome EngineStops(const EngineProfile& profile, const LoadFailure& stop) {
  return Failed(Describe(stop) + ": " + std::string(profile.engines) +
                " would stop with a fatal error there, before loading any file");
}

// The game folders, loaded as the engine loads them; what could not be read is told on err,
// and each package and folder read, in the engine's order, on notices.
std::optional<CGameView> LoadGame(const EngineProfile& profile, const std::vector<std::string>& names,
                                  std::ostream& err, std::ostream& notices, Outcome& failure,
                                  bool* incomplete = nullptr) {
  std::vector<fs::path> folders;
  for (const std::string& n : names) {
    std::error_code ec;
    if (!fs::is_directory(n, ec)) {
      failure = Failed(Quoted(n) + " is not a folder");
      return std::nullopt;
    }
    folders.emplace_back(n);
  }
  CGameView view = CGameView::LoadFolders(profile, folders);
  for (const GameSource& s : view.Sources())
    Warn(notices, "read " + Quoted(s.path.string()) + ": " + std::to_string(s.listing.entries.size()) + " files");
  bool anything = false;
  for (const LoadFailure& f : view.Failures()) {
    if (&f == view.Stop()) continue;  // the command's own last word
    Warn(err, Describe(f) + (f.fatal ? "; " + std::string(profile.engines) + " would stop there too" : ""));
    anything = true;
  }
  for (const std::string& u : view.Unreadable()) {
    Warn(err, "cannot read " + u);
    anything = true;
  }
  // A Quake folder given for its game folder: say what to give instead.
  for (std::size_t i = 0; i < folders.size(); ++i) {
    const bool packages = std::any_of(view.Sources().begin(), view.Sources().end(), [&](const GameSource& s) {
      return s.folder == i && s.kind == SourceKind::Archive;
    });
    for (const char* game : {"id1", "baseq2"}) {
      std::error_code ec;
      if (!packages && fs::is_directory(folders[i] / game, ec))
        Warn(err, Quoted(folders[i].string()) + " holds the game folder " + Quoted((folders[i] / game).string()) +
                      ": give the game folders themselves, the base game first, then the mod's");
    }
  }
  if (incomplete) *incomplete = anything;
  return view;
}

std::string Source(const CGameView& view, GameCopy c) { return Escaped(view.Location(c).string()); }

}  // namespace

Outcome LoadGameFiles(const std::vector<std::string>& args, std::ostream& err, const Voice& voice,
                      std::function<bool(const std::string&, std::vector<std::uint8_t>&)>& lookup) {
  lookup = {};
  GameArgs p;
  if (std::string why = Parse(args, false, p); !why.empty()) return BadUsage(why);
  if (p.positional.empty()) return BadUsage("--game takes at least one FOLDER");
  Outcome failure;
  auto loaded = LoadGame(*p.profile, p.positional, voice.Warnings(err), voice.Notices(err), failure);
  if (!loaded) return failure;
  if (const LoadFailure* stop = loaded->Stop()) return EngineStops(*p.profile, *stop);
  // Shared by the lookup's copies; each file the engine would load first, as it asks for it.
  auto view = std::make_shared<CGameView>(std::move(*loaded));
  lookup = [view](const std::string& path, std::vector<std::uint8_t>& bytes) {
    for (const std::string& asked : {path, ToLower(path)}) {
      const std::vector<GameCopy> copies = view->Lookup(asked);
      if (copies.empty() || view->Entry(copies.front()).flaw != EntryFlaw::None) continue;
      CPackObject* e = view->Open(copies.front(), nullptr);
      if (e && !e->IsDirectory() && e->CopyBytes(bytes, nullptr)) return true;
    }
    return false;
  };
  return {};
}

Outcome RunWhich(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const Voice& voice) {
  GameArgs p;
  if (std::string e = Parse(args, false, p); !e.empty()) return BadUsage(e);
  if (p.positional.size() < 2) return BadUsage("which takes at least one FOLDER and a PATH");
  std::string path = p.positional.back();
  while (!path.empty() && path.front() == '/') path.erase(0, 1);
  p.positional.pop_back();
  Outcome failure;
  auto view = LoadGame(*p.profile, p.positional, voice.Warnings(err), voice.Notices(err), failure);
  if (!view) return failure;
  if (const LoadFailure* stop = view->Stop()) return EngineStops(*p.profile, *stop);
  const auto copies = view->Lookup(path);
  if (copies.empty()) {
    std::string message = "no copy of " + Quoted(path) + " for " + std::string(p.profile->name);
    const auto near = view->OtherCase(path);
    if (!near.empty())
      message += "; " + Quoted(view->Entry(near.front()).path) + " in " +
                 Quoted(view->Location(near.front()).string()) + " differs only in case, and " +
                 std::string(p.profile->engines) + " compare those names exactly";
    if (const std::string hidden = view->HiddenBecause(path); !hidden.empty()) message += "; " + hidden;
    return Failed(message);
  }
  if (view->Entry(copies.front()).flaw == EntryFlaw::StopsEngine)
    return Failed(Quoted(view->Entry(copies.front()).path) + " in " + Quoted(view->Location(copies.front()).string()) +
                  ": " + std::string(p.profile->engines) +
                  " would hold it under its first 63 bytes and stop with a fatal error (\"Couldn't reopen\") "
                  "when asked for it");
  if (voice.json) return JsonWhich(out, *p.profile, *view, path, copies), Outcome{};
  out << Source(*view, copies.front()) << '\t' << Escaped(view->Entry(copies.front()).path) << '\n';
  for (std::size_t i = 1; i < copies.size(); ++i) out << "shadowed\t" << Source(*view, copies[i]) << '\n';
  return {};
}

Outcome RunListGame(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const Voice& voice) {
  GameArgs p;
  if (std::string e = Parse(args, true, p); !e.empty()) return BadUsage(e);
  if (p.positional.empty()) return BadUsage("list --game takes at least one FOLDER");
  Outcome failure;
  bool incomplete = false;
  auto view = LoadGame(*p.profile, p.positional, voice.Warnings(err), voice.Notices(err), failure, &incomplete);
  if (!view) return failure;
  const LoadFailure* stop = view->Stop();
  const Outcome done = stop         ? EngineStops(*p.profile, *stop)
                       : incomplete ? Failed("some packages or folders could not be read; the list leaves them out")
                                    : Outcome{};
  if (voice.json) return JsonListGame(out, *p.profile, *view, p.all), done;
  std::string line;
  for (const GameFile& f : view->Files()) {
    const std::string path = Escaped(f.path);
    for (std::size_t i = 0; i < (p.all ? f.copies.size() : 1); ++i) {
      line = std::to_string(view->Entry(f.copies[i]).size);
      line += '\t';
      line += path;
      line += '\t';
      line += Source(*view, f.copies[i]);
      if (i > 0) line += "\tshadowed";
      line += '\n';
      out << line;
    }
  }
  return done;
}

Outcome RunCheckEngine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const Voice& voice) {
  GameArgs p;
  if (std::string e = Parse(args, false, p); !e.empty()) return BadUsage(e);
  if (p.positional.empty()) return BadUsage("check --engine takes at least one ARCHIVE or FOLDER");
  std::vector<std::string> folders, archives;
  for (const std::string& a : p.positional) {
    std::error_code ec;
    (fs::is_directory(a, ec) ? folders : archives).push_back(a);
  }
  std::vector<CheckRecord> problems;
  std::size_t files = 0;
  auto report = [&](CGameView& view) {
    for (const GameSource& s : view.Sources()) {
      Warn(voice.Notices(err),
           "read " + Quoted(s.path.string()) + ": " + std::to_string(s.listing.entries.size()) + " files");
      files += s.listing.entries.size();
    }
    for (EngineProblem& e : CheckEverything(view))
      problems.push_back(
          {std::move(e.file), std::move(e.entry), std::move(e.message), std::move(e.engine), std::move(e.rule)});
  };
  for (const std::string& a : archives) {
    CGameView view = CGameView::LoadArchive(*p.profile, a);
    report(view);
  }
  if (!folders.empty()) {
    Outcome failure;
    std::ostringstream quiet;  // load problems are reported as problems below
    auto view = LoadGame(*p.profile, folders, quiet, quiet, failure);
    if (!view) return failure;
    report(*view);
  }
  if (voice.json) JsonCheckEngine(out, *p.profile, files, problems);
  else
    for (const CheckRecord& r : problems) out << CheckRecordLine(r) << '\n';
  if (problems.empty()) {
    if (!voice.json) out << "no problems found for " << p.profile->name << " (" << files << " files)\n";
    return {};
  }
  return Failed(std::to_string(problems.size()) + " problem" + (problems.size() == 1 ? "" : "s") + " found");
}

Outcome RunDiff(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const Voice& voice) {
  if (args.size() != 2) return BadUsage("diff takes two archives or folders, A and B");
  const DiffResult result = DiffArchives(args[0], args[1]);
  if (voice.json) JsonDiff(out, args[0], args[1], result);
  else
    for (const DiffLine& l : result.lines) out << l.mark << ' ' << Escaped(l.path) << '\n';
  for (const std::string& w : result.warnings) Warn(voice.Warnings(err), w);
  if (!result.errors.empty()) {
    for (std::size_t i = 0; i + 1 < result.errors.size(); ++i) Warn(err, result.errors[i]);
    // As diff(1) does: 2 when the comparison could not be made in full.
    return {2, result.errors.back()};
  }
  return {result.lines.empty() ? 0 : 1, ""};
}

Outcome RunFind(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const Voice& voice) {
  if (args.size() < 2) return BadUsage("find takes at least one FOLDER and a PATTERN");
  const std::vector<fs::path> roots(args.begin(), args.end() - 1);
  std::size_t hits = 0;
  std::vector<std::string> errors;
  std::vector<std::pair<fs::path, std::string>> matches;  // for --json, which prints them at the end
  std::string line;
  FindEntries(
      roots, args.back(),
      [&](const fs::path& source, const std::string& path) {
        ++hits;
        if (voice.json) return matches.emplace_back(source, path), void();
        line = Escaped(source.string());
        line += '\t';
        line += Escaped(path);
        line += '\n';
        out << line;
      },
      errors);
  if (voice.json) JsonFind(out, args.back(), matches);
  for (const std::string& e : errors) Warn(err, e);
  if (!errors.empty())
    return Failed(std::to_string(errors.size()) + " archive" + (errors.size() == 1 ? "" : "s") + " or folder" +
                  (errors.size() == 1 ? "" : "s") + " could not be searched");
  return hits ? Outcome{} : Outcome{1, ""};
}

}  // namespace tarn::cli
