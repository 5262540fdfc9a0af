#include "cli/CommandSupport.h"

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <set>

#include "TarnVersion.h"
#include "archive/EntryNames.h"
#include "archive/EntryTypes.h"
#include "archive/PackObject.h"
#include "cli/EncodeCommands.h"
#include "cli/GameCommands.h"
#include "cli/JsonReport.h"
#include "cli/MapCommands.h"
#include "cli/ModelCommands.h"
#include "cli/PaletteCommands.h"
#include "cli/PngWriter.h"
#include "cli/SoundCommands.h"
#include "cli/StdStreams.h"
#include "cli/TerminalProgress.h"
#include "cli/TextureCommands.h"
#include "cli/Voice.h"
#include "document/TarnDoc.h"
#include "fileio/Strings.h"
#include "fileio/TempFile.h"
#include "fileio/Words.h"
#include "formats/EntryInfo.h"
#include "maps/MapInfo.h"
#include "maps/MapRender.h"
#include "maps/MapTextures.h"
#include "models/Model.h"
#include "pictures/EntryPictures.h"
#include "sounds/SoundInfo.h"

namespace tarn::cli {

namespace fs = std::filesystem;

namespace {

std::string OneLine(const std::string& text) {
  std::string s = text;
  for (char& c : s)
    if (c == '\n') c = ' ';
  return s;
}

// The name messages give an archive: "-" is standard input.
std::string Shown(const std::string& archive) { return IsStdStream(archive) ? "standard input" : Quoted(archive); }

// "-": the archive is written as any other, to a private file, then copied out whole, so that
// standard output never receives half an archive from a failed save.
int SaveToStdout(const Context& ctx, CTarnDoc& doc, const std::string& command, std::optional<ContainerFormat> format) {
  CScratchFolder scratch;
  std::string why;
  if (!scratch.Create(&why)) return ctx.Error(why);
  const fs::path file = scratch.Path() / "archive";
  doc.SetWriteOptions(ctx.write);
  doc.SetLockTimeout(ctx.lockTimeout);
  bool saved;
  {
    const auto progress = ctx.Progress(command + ": saving");
    saved = doc.Save(file, ctx.consent, format, progress.get());
  }
  if (!saved) return ctx.Error(OneLine(doc.LastError()));
  if (!CopyToStream(file, ctx.out, &why)) return ctx.Error(why);
  ctx.Notice("wrote standard output: " + std::to_string(doc.Root().CountFiles()) + " files");
  return 0;
}

// Names each file of entry's subtree that the export wrote: all but those refused or failed,
// alone or with a directory on their way.
void TellExtracted(const Context& ctx, const CPackObject& entry, const ExportReport& report) {
  if (!ctx.voice.verbose) return;
  std::vector<std::string> missed;
  for (const auto* list : {&report.refused, &report.failed})
    for (const TransferFailure& f : *list) missed.push_back(f.name);
  auto tell = [&](const std::string& path) {
    for (const std::string& m : missed)
      if (path == m || (path.size() > m.size() && path.compare(0, m.size(), m) == 0 && path[m.size()] == '/')) return;
    ctx.Notice("extracted " + Quoted(path));
  };
  if (!entry.IsDirectory()) return tell(entry.Parent() ? entry.PathInArchive() : entry.Name());
  ForEachFileInSaveOrder(entry, [&](const std::string& path, const CPackObject&) { tell(path); });
}

}  // namespace

// A command's options are looked for only before "--": what follows is names and paths.
std::vector<std::string> BeforeDashes(const std::vector<std::string>& a) {
  return {a.begin(), std::find(a.begin(), a.end(), "--")};
}
bool HasOption(const std::vector<std::string>& a, const std::string& option) {
  const auto end = std::find(a.begin(), a.end(), "--");
  return std::find(a.begin(), end, option) != end;
}
// The arguments but the "--" among them, for a command whose options Run has taken.
std::vector<std::string> Operands(std::vector<std::string> a) {
  if (auto dashes = std::find(a.begin(), a.end(), "--"); dashes != a.end()) a.erase(dashes);
  return a;
}

// Opens the archive and, unless told not to, says what opening found wrong with it (a damaged
// directory, names the archive holds twice) on standard error.
bool Open(const Context& ctx, CTarnDoc& doc, const std::string& path, bool tell) {
  fs::path file = path;
  if (IsStdStream(path)) {
    std::string why;
    if (!ctx.stdinSpool->Fill(&why)) return ctx.Error(why), false;
    file = ctx.stdinSpool->Path();
  }
  if (!doc.Open(file)) {
    std::string message = OneLine(doc.LastError());
    // The copy of standard input has a name of no use to anyone.
    const std::string spooled = Quoted(file.string());
    if (IsStdStream(path))
      for (std::size_t at; (at = message.find(spooled)) != std::string::npos;)
        message.replace(at, spooled.size(), "standard input");
    ctx.Error(message);
    return false;
  }
  if (tell)
    for (const std::string& p : doc.OpenProblems()) ctx.Warnings() << "tarn-pak: " << Shown(path) << ": " << p << "\n";
  // Counting walks the whole tree: only for someone who asked to be told.
  if (ctx.voice.verbose) ctx.Notice("read " + Shown(path) + ": " + std::to_string(doc.Root().CountFiles()) + " files");
  return true;
}

// Locks the archive for the whole read-modify-write that follows: another tarn-pak changing it
// finishes first, and one that comes later waits for this one. Standard output needs no lock,
// but a terminal is refused here, before any work.
bool Lock(const Context& ctx, CTarnDoc& doc, const std::string& path) {
  if (IsStdStream(path)) {
    if (!IsTerminal(ctx.out)) return true;  // a new stream nobody else writes
    ctx.Error("an archive is not written to a terminal; redirect standard output to a file or a pipe");
    return false;
  }
  std::unique_ptr<CFileLock> lock;
  std::string why;
  if (CFileLock::Acquire(path, ctx.lockTimeout, &lock, &why) == CFileLock::Outcome::TimedOut) {
    char waited[32];
    std::snprintf(waited, sizeof waited, "%g", static_cast<double>(ctx.lockTimeout.count()) / 1000.0);
    ctx.Error(why + "; gave up after " + waited + " s, nothing changed");
    return false;
  }
  doc.AdoptLock(std::move(lock));
  return true;
}

bool OpenToChange(const Context& ctx, CTarnDoc& doc, const std::string& path) {
  if (IsStdStream(path))
    return ctx.Error("an archive read from standard input cannot be changed in place; save it to a file first"), false;
  return Lock(ctx, doc, path) && Open(ctx, doc, path);
}

int Save(const Context& ctx, CTarnDoc& doc, const fs::path& path, const std::string& command,
         std::optional<ContainerFormat> format) {
  if (IsStdStream(path.string())) return SaveToStdout(ctx, doc, command, format);
  for (const auto& [concern, text] : doc.SaveConcerns(path))
    if (!ctx.consent.Allows(concern))
      return ctx.Error(text + " Not saved; " + (concern == SaveConcern::HardLinks ? "--break-links" : "--force") +
                       " saves anyway.");
  doc.SetWriteOptions(ctx.write);
  doc.SetLockTimeout(ctx.lockTimeout);
  bool saved;
  {
    const auto progress = ctx.Progress(command + ": saving");
    saved = doc.Save(path, ctx.consent, format, progress.get());
  }
  if (!saved) return ctx.Error(OneLine(doc.LastError()));
  ctx.Notice("wrote " + Quoted(path.string()) + ": " + std::to_string(doc.Root().CountFiles()) + " files");
  return 0;
}

// Finds an entry by its archive path, in any case: within a directory, names that differ only
// in case are one name.
CPackObject* Find(CTarnDoc& doc, const std::string& path) {
  std::string p = path;
  while (!p.empty() && p.back() == '/') p.pop_back();
  if (p.empty()) return &doc.Root();
  return doc.Root().FindByPath(p);
}

// The format of --format, or of the output's name; nothing (after saying why) when neither tells.
std::optional<ContainerFormat> OutputFormat(const Context& ctx, const std::string& given, const fs::path& out) {
  if (!given.empty()) {
    if (auto f = FormatOfWord(given)) return f;
    ctx.Usage("--format takes pak, pk3, zip, wad or wad3, not " + Quoted(given));
    return std::nullopt;
  }
  if (auto f = FormatOfName(out)) return f;
  if (IsStdStream(out.string()))
    return ctx.Usage("standard output has no name to tell the format by: give --format"), std::nullopt;
  ctx.Usage("cannot tell the format from the name " + Quoted(out.string()) +
            ": end it in .pak, .pk3, .pk2, .zip, .pkz or .wad, or give --format");
  return std::nullopt;
}

// Splits off "--format F" from a command's arguments; false (after saying why) when it lacks F.
bool TakeFormat(const Context& ctx, const std::vector<std::string>& a, std::string& format,
                std::vector<std::string>& rest) {
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] == "--") {
      rest.insert(rest.end(), a.begin() + static_cast<std::ptrdiff_t>(i) + 1, a.end());
      break;
    }
    if (a[i] != "--format") {
      rest.push_back(a[i]);
      continue;
    }
    if (++i == a.size()) {
      ctx.Usage("--format needs pak, pk3, zip, wad or wad3");
      return false;
    }
    format = a[i];
  }
  return true;
}

// Opens the archive and finds the entry at path; nullptr, after saying why, when either fails.
CPackObject* OpenEntry(const Context& ctx, CTarnDoc& doc, const std::string& archive, const std::string& path) {
  if (!Open(ctx, doc, archive)) return nullptr;
  CPackObject* e = Find(doc, path);
  if (!e) ctx.Error("no entry " + Quoted(path) + " in " + Quoted(archive));
  return e;
}

// Archives held inside another (gfx.wad in pak0.pak) are reached through their paths: each one
// on the way is opened inside the document, as the window opens them, and kept with it.
// The entry at path in doc, going into the archives on its way; for a path that ends at an
// archive file with "/" (or when enter is set), that archive's root. Nothing, told, when there
// is none. What opening an archive on the way found wrong is told as for that archive alone;
// damaged, when given, is set when one's directory is damaged.
CPackObject* FindNested(const Context& ctx, CTarnDoc& doc, const std::string& archive, const std::string& path,
                        bool enter, bool* damaged) {
  const auto isArchive = [](const CPackObject& e) { return FormatOfName(e.Name()).has_value(); };
  const auto below = [](CPackObject& root, std::string p) -> CPackObject* {
    while (!p.empty() && p.back() == '/') p.pop_back();
    return p.empty() ? &root : root.FindByPath(p);
  };
  CPackObject* root = &doc.Root();
  std::string rest = path, where = archive;
  for (;;) {
    const bool into = enter || (!rest.empty() && rest.back() == '/');
    CPackObject* found = below(*root, rest);
    if (found && (!into || found->IsDirectory() || !isArchive(*found))) return found;
    // Else the last archive file the path goes through (or ends at) is opened.
    CPackObject* holder = found;
    std::size_t cut = rest.size();
    if (!holder)
      for (std::size_t at = rest.find('/'); at != std::string::npos; at = rest.find('/', at + 1))
        if (CPackObject* e = below(*root, rest.substr(0, at)); e && !e->IsDirectory() && isArchive(*e)) {
          holder = e;
          cut = at;
          break;
        }
    if (!holder) {
      ctx.Error("no entry " + Quoted(rest) + " in " + Quoted(where));
      return nullptr;
    }
    std::string why;
    root = doc.OpenInner(*holder, &why);
    if (!root) return ctx.Error(OneLine(why) + " (in " + Quoted(archive) + ")"), nullptr;
    std::string passed = rest.substr(0, cut);
    while (!passed.empty() && passed.back() == '/') passed.pop_back();
    where += "/" + passed;
    if (const CTarnDoc* inner = doc.InnerDocument(*root)) {
      for (const std::string& p : inner->OpenProblems())
        ctx.Warnings() << "tarn-pak: " << Quoted(where) << ": " << p << "\n";
      if (damaged && inner->DirectoryDamaged()) *damaged = true;
    }
    rest = cut < rest.size() ? rest.substr(cut + 1) : std::string();
    enter = false;
    if (rest.empty() || rest == "/") return root;
  }
}

// Tells what the export of entry wrote (when verbose) and what it did not.
int Warn(const Context& ctx, const CPackObject& entry, const ExportReport& report) {
  TellExtracted(ctx, entry, report);
  for (const auto& r : report.refused) ctx.err << "tarn-pak: refused " << Quoted(r.name) << ": " << r.reason << "\n";
  for (const auto& f : report.failed) ctx.err << "tarn-pak: failed " << Quoted(f.name) << ": " << f.reason << "\n";
  return report.ok() ? 0 : 1;
}

}  // namespace tarn::cli
