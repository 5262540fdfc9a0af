#include "cli/ArchiveCommands.h"

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

#include "cli/CommandSupport.h"

namespace tarn::cli {

namespace fs = std::filesystem;

namespace {

// Listing many records is mostly output: lines are written into a buffer of their own, each
// directory's path once, and escaped only where a name needs it.
class CListWriter {
 public:
  explicit CListWriter(std::ostream& out) : m_out(out) {}
  ~CListWriter() { Flush(); }

  void Directory(const CPackObject& dir, std::string& prefix) {
    const std::string shownPrefix = NeedsEscape(prefix) ? Escaped(prefix) : prefix;
    bool subdirectories = false;
    for (CPackObject* c : dir.Children()) {
      if (c->IsDirectory()) {
        subdirectories = true;
        continue;
      }
      const std::string& name = c->Name();
      Reserve(shownPrefix.size() + 4 * name.size() + 24);
      m_at = std::to_chars(m_at, m_end, c->Size()).ptr;
      *m_at++ = '\t';
      Put(shownPrefix);
      if (c->PlainName()) Put(name);
      else Put(Escaped(name));
      *m_at++ = '\n';
    }
    if (!subdirectories) return;
    const std::size_t base = prefix.size();
    for (CPackObject* c : dir.Children()) {
      if (!c->IsDirectory()) continue;
      prefix.append(c->Name()).push_back('/');
      Directory(*c, prefix);
      prefix.resize(base);
    }
  }

 private:
  static bool NeedsEscape(std::string_view text) { return HasSpecialByte(text, false); }
  void Put(std::string_view text) {
    std::memcpy(m_at, text.data(), text.size());
    m_at += text.size();
  }
  void Reserve(std::size_t n) {
    if (static_cast<std::size_t>(m_end - m_at) >= n) return;
    Flush();
    if (n > m_buffer.size()) {
      m_buffer.resize(n);
      m_at = m_buffer.data();
      m_end = m_at + m_buffer.size();
    }
  }
  void Flush() {
    m_out.write(m_buffer.data(), m_at - m_buffer.data());
    m_at = m_buffer.data();
  }

  std::ostream& m_out;
  std::vector<char> m_buffer = std::vector<char>(1 << 16);
  char* m_at = m_buffer.data();
  char* m_end = m_at + m_buffer.size();
};

// Names each file an import brought in: those read from disk, not from the archive.
void TellAdded(const Context& ctx, const CPackObject& root) {
  if (!ctx.voice.verbose) return;
  ForEachFileInSaveOrder(root, [&](const std::string& path, const CPackObject& f) {
    if (!f.TempPath().empty()) ctx.Notice("added " + Quoted(path));
  });
}

// The directory at path, made where missing; nullptr (after saying why) when a file holds a
// name on the way or the container holds no directories.
CPackObject* EnsureDirectory(const Context& ctx, CPackObject& root, const std::string& path) {
  CPackObject* dir = &root;
  std::size_t start = 0;
  while (start < path.size()) {
    std::size_t slash = path.find('/', start);
    std::string seg = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (!seg.empty()) {
      CPackObject* sub = dir->FindChildDirectory(seg);
      if (!sub && dir->FindChild(seg)) {
        ctx.Error(Quoted(path) + " names a file, not a directory");
        return nullptr;
      }
      if (!sub) {
        if (const std::string unfit = UnfitNameReason(root.Format(), seg, true, dir == &root); !unfit.empty()) {
          ctx.Error("cannot make " + Quoted(path) + ": " + unfit);
          return nullptr;
        }
        sub = dir->AddChild(seg, true);
      }
      dir = sub;
    }
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return dir;
}

}  // namespace

int CmdList(const Context& ctx, const std::vector<std::string>& args) {
  if (HasOption(args, "--game")) return ctx.Report(RunListGame(args, ctx.out, ctx.err, ctx.voice));
  if (HasOption(args, "--all") || HasOption(args, "--engine"))
    return ctx.Usage("--all and --engine go with list --game");
  const std::vector<std::string> a = Operands(args);
  if (a.empty() || a.size() > 2) return ctx.Usage("list takes one ARCHIVE, and a PATH in it");
  auto doc = std::make_unique<CTarnDoc>();
  if (!Open(ctx, *doc, a[0])) return 1;
  // A PATH lists a directory, or an archive inside this one, as if it were the archive.
  bool innerDamaged = false;
  CPackObject* shown = a.size() == 2 ? FindNested(ctx, *doc, a[0], a[1], true, &innerDamaged) : &doc->Root();
  if (!shown) return 1;
  if (!shown->IsDirectory()) return ctx.Error(Quoted(a[1]) + " is neither a directory nor an archive");
  if (ctx.voice.json) {
    JsonList(ctx.out, a[0], *shown);
  } else {
    std::string prefix;
    CListWriter(ctx.out).Directory(*shown, prefix);
  }
  // What can be read is listed, but a listing of a damaged directory is not a success.
  const int rc = doc->DirectoryDamaged() || innerDamaged ? 1 : 0;
  if (ctx.options.processEndsAfter) (void)doc.release();
  return rc;
}

int CmdExtract(const Context& ctx, const std::vector<std::string>& a) {
  std::string archive;
  fs::path dir = ".";
  std::vector<std::string> paths;
  bool ended = false;  // past "--"
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (!ended && a[i] == "--") {
      ended = true;
    } else if (!ended && a[i] == "-C") {
      if (++i == a.size()) return ctx.Usage("-C needs a folder");
      dir = a[i];
    } else if (archive.empty()) {
      archive = a[i];
    } else {
      paths.push_back(a[i]);
    }
  }
  if (archive.empty()) return ctx.Usage("extract needs an ARCHIVE");
  CTarnDoc doc;
  // What opening found is told first (a name held twice, a file that is a folder too); the
  // second of two entries of one path is refused by the extraction, which then fails.
  if (!Open(ctx, doc, archive)) return 1;
  const auto progress = ctx.Progress("extract");
  if (paths.empty()) return Warn(ctx, doc.Root(), doc.Root().ExportToDisk(dir, false, progress.get()));

  std::vector<CPackObject*> entries;
  for (const auto& p : paths) {
    CPackObject* e = Find(doc, p);
    if (!e) return ctx.Error("no entry " + Quoted(p) + " in " + Quoted(archive));
    entries.push_back(e);
  }
  int rc = 0;
  // A named entry keeps its path: its parent directories become folders under DIR.
  for (CPackObject* e : entries)
    if (Warn(ctx, *e, e->ExportToDisk(dir, true, progress.get())) != 0) rc = 1;
  return rc;
}

int CmdCreate(const Context& ctx, const std::vector<std::string>& args) {
  std::string given;
  std::vector<std::string> a;
  if (!TakeFormat(ctx, args, given, a)) return 2;
  if (a.size() != 2) return ctx.Usage("create takes ARCHIVE and DIR");
  const auto format = OutputFormat(ctx, given, a[0]);
  if (!format) return 2;
  std::error_code ec;
  if (!fs::is_directory(a[1], ec)) return ctx.Error(Quoted(a[1]) + " is not a folder");
  CTarnDoc doc;
  if (!Lock(ctx, doc, a[0])) return 1;
  doc.Root().SetFormat(*format);
  // The archive is written at once, so the files are read where they are, not copied first.
  ImportReport report;
  {
    const auto progress = ctx.Progress("create: reading");
    report = doc.Root().ImportDirectory(a[1], ImportOptions{.snapshot = false, .progress = progress.get()});
  }
  for (const auto& f : report.failures)
    ctx.err << "tarn-pak: cannot import " << Quoted(f.name) << ": " << f.reason << "\n";
  if (!report.failures.empty()) return ctx.Error("nothing written");
  TellAdded(ctx, doc.Root());
  return Save(ctx, doc, a[0], "create", *format);
}

int CmdRepack(const Context& ctx, const std::vector<std::string>& args) {
  std::string given;
  std::vector<std::string> a;
  if (!TakeFormat(ctx, args, given, a)) return 2;
  if (a.size() != 2) return ctx.Usage("repack takes IN and OUT");
  auto format = OutputFormat(ctx, given, a[1]);
  if (!format) return 2;
  CTarnDoc doc;
  if (!Open(ctx, doc, a[0])) return 1;
  // ".wad" names no version: a WAD stays the one it is.
  if (given.empty() && IsWad(*format) && IsWad(doc.Format())) format = doc.Format();
  std::error_code ec;
  if (fs::equivalent(a[0], a[1], ec)) return ctx.Error("IN and OUT are the same file");
  // OUT is locked by the document that saves it, which then does not wait on its own lock.
  if (!Lock(ctx, doc, a[1])) return 1;
  return Save(ctx, doc, a[1], "repack", *format);
}

int CmdAdd(const Context& ctx, const std::vector<std::string>& a) {
  if (IsModelAdd(BeforeDashes(a))) return ctx.Report(RunAddModel(a, ctx.out, ctx.err, ctx.passOn, ctx.options));
  if (IsEncodingAdd(BeforeDashes(a))) return ctx.Report(RunAddEncoded(a, ctx.out, ctx.err, ctx.passOn, ctx.options));
  std::string archive, to;
  std::vector<std::string> sources;
  bool ended = false;  // past "--"
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (!ended && a[i] == "--") {
      ended = true;
    } else if (!ended && a[i] == "--to") {
      if (++i == a.size()) return ctx.Usage("--to needs a directory path");
      to = a[i];
    } else if (archive.empty()) {
      archive = a[i];
    } else {
      sources.push_back(a[i]);
    }
  }
  if (archive.empty() || sources.empty()) return ctx.Usage("add takes ARCHIVE and at least one SOURCE");
  CTarnDoc doc;
  if (!OpenToChange(ctx, doc, archive)) return 1;
  CPackObject* dir = EnsureDirectory(ctx, doc.Root(), to);
  if (!dir) return 1;
  auto progress = ctx.Progress("add: reading");
  const ImportOptions options{.snapshot = false, .progress = progress.get()};
  bool failed = false;
  for (const auto& s : sources) {
    std::error_code ec;
    if (fs::is_directory(s, ec)) {
      ImportReport report = dir->ImportDirectory(s, options);
      for (const auto& f : report.failures) {
        ctx.err << "tarn-pak: cannot import " << Quoted(f.name) << ": " << f.reason << "\n";
        failed = true;
      }
    } else {
      std::string why;
      if (!dir->ImportFile(s, options, &why)) {
        ctx.err << "tarn-pak: cannot import " << Quoted(s) << ": " << why << "\n";
        failed = true;
      }
    }
  }
  progress.reset();  // its line goes before the save draws its own
  if (failed) return ctx.Error("archive left unchanged");
  TellAdded(ctx, doc.Root());
  return Save(ctx, doc, archive, "add");
}

int CmdRm(const Context& ctx, const std::vector<std::string>& args) {
  const std::vector<std::string> a = Operands(args);
  if (a.size() < 2) return ctx.Usage("rm takes ARCHIVE and at least one PATH");
  CTarnDoc doc;
  if (!OpenToChange(ctx, doc, a[0])) return 1;
  std::vector<CPackObject*> doomed;
  for (std::size_t i = 1; i < a.size(); ++i) {
    CPackObject* e = Find(doc, a[i]);
    if (!e) return ctx.Error("no entry " + Quoted(a[i]) + " in " + Quoted(a[0]));
    if (!e->Parent()) return ctx.Error("the root cannot be deleted");
    doomed.push_back(e);
  }
  // A path named twice, or inside a directory also named, goes with the first removal.
  for (std::size_t i = 0; i < doomed.size(); ++i) {
    bool covered = false;
    for (std::size_t j = 0; j < doomed.size(); ++j)
      if (i != j && doomed[j] && doomed[i]->Parent() && doomed[i]->Parent()->IsInside(doomed[j])) covered = true;
    for (std::size_t j = 0; j < i; ++j)
      if (doomed[j] == doomed[i]) covered = true;
    if (covered) doomed[i] = nullptr;
  }
  for (CPackObject* e : doomed) {
    if (!e) continue;
    ctx.Notice("deleted " + Quoted(e->PathInArchive()) + (e->IsDirectory() ? " and everything in it" : ""));
    e->Parent()->RemoveChild(e);
  }
  return Save(ctx, doc, a[0], "rm");
}

int CmdRename(const Context& ctx, const std::vector<std::string>& args) {
  const std::vector<std::string> a = Operands(args);
  if (a.size() != 3) return ctx.Usage("rename takes ARCHIVE, PATH and NEWNAME");
  CTarnDoc doc;
  if (!OpenToChange(ctx, doc, a[0])) return 1;
  CPackObject* e = Find(doc, a[1]);
  if (!e || !e->Parent()) return ctx.Error("no entry " + Quoted(a[1]) + " in " + Quoted(a[0]));
  const NewNameCheck check = CheckNewName(*e, a[2]);
  switch (check.problem) {
    case NewNameProblem::Empty: return ctx.Error("the new name is empty");
    case NewNameProblem::Separator: return ctx.Error("the new name must not contain \"/\"");
    case NewNameProblem::Taken: return ctx.Error(Quoted(check.taken->Name()) + " already exists in that directory");
    case NewNameProblem::Unfit: return ctx.Error(check.reason);
    case NewNameProblem::None: break;
  }
  const std::string before = e->PathInArchive();
  if (!e->Rename(check.stored)) return ctx.Error("cannot rename " + Quoted(a[1]));
  ctx.Notice("renamed " + Quoted(before) + " to " + Quoted(e->PathInArchive()));
  return Save(ctx, doc, a[0], "rename");
}

int CmdCat(const Context& ctx, const std::vector<std::string>& args) {
  const std::vector<std::string> a = Operands(args);
  if (a.size() != 2) return ctx.Usage("cat takes ARCHIVE and PATH");
  CTarnDoc doc;
  if (!Open(ctx, doc, a[0])) return 1;
  CPackObject* e = FindNested(ctx, doc, a[0], a[1], false);
  if (!e) return 1;
  if (e->IsDirectory()) return ctx.Error(Quoted(a[1]) + " is a directory");
  std::string why;
  bool ok = e->StreamData(
      [&](const std::uint8_t* p, std::size_t n) {
        ctx.out.write(reinterpret_cast<const char*>(p), static_cast<std::streamsize>(n));
        return static_cast<bool>(ctx.out);
      },
      &why);
  return ok ? 0 : ctx.Error(why);
}

int CmdCheck(const Context& ctx, const std::vector<std::string>& args) {
  if (HasOption(args, "--engine")) return ctx.Report(RunCheckEngine(args, ctx.out, ctx.err, ctx.voice));
  const std::vector<std::string> a = Operands(args);
  if (a.size() != 1) return ctx.Usage("check takes one ARCHIVE");
  CTarnDoc doc;
  if (!Open(ctx, doc, a[0], false)) return 1;  // the check lists the problems itself
  auto problems = doc.CheckArchive();
  for (std::string& stray : StrayGlowProblems(doc.Root())) problems.push_back(std::move(stray));
  if (ctx.voice.json) JsonCheck(ctx.out, a[0], doc.Root().CountFiles(), problems);
  else
    for (const auto& p : problems) ctx.out << p << "\n";
  if (problems.empty()) {
    if (!ctx.voice.json) ctx.out << a[0] << ": " << doc.Root().CountFiles() << " files, no problems found\n";
    return 0;
  }
  ctx.err << "tarn-pak: " << problems.size() << " problem" << (problems.size() == 1 ? "" : "s") << " found\n";
  return 1;
}

}  // namespace tarn::cli
