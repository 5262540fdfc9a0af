#include "document/TarnDoc.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <unordered_map>

#include "fileio/ByteIO.h"
#include "fileio/Strings.h"

namespace tarn {

namespace fs = std::filesystem;

void CTarnDoc::ResetRoot() {
  auto root = std::make_unique<CPackObject>();
  root->Rename("root");
  root->SetDirectory(true);
  m_root = std::move(root);
}

std::string CTarnDoc::Title() const { return m_path.empty() ? "Untitled" : m_path.filename().string(); }

void CTarnDoc::SetModified(bool modified) { m_modified = modified; }

void CTarnDoc::Record(std::unique_ptr<CUndoCommand> done) {
  m_history.Push(std::move(done));
  m_modified = true;
}

bool CTarnDoc::Undo() {
  if (!m_history.Undo(*this)) return false;
  m_modified = !m_history.IsClean();
  return true;
}

bool CTarnDoc::Redo() {
  if (!m_history.Redo(*this)) return false;
  m_modified = !m_history.IsClean();
  return true;
}

std::unique_ptr<CPackObject> CTarnDoc::ExchangeRoot(std::unique_ptr<CPackObject> root) {
  std::swap(m_root, root);
  return root;
}

void CTarnDoc::AddObserver(CDocObserver* observer) {
  if (std::find(m_observers.begin(), m_observers.end(), observer) == m_observers.end()) m_observers.push_back(observer);
}

void CTarnDoc::RemoveObserver(CDocObserver* observer) {
  m_observers.erase(std::remove(m_observers.begin(), m_observers.end(), observer), m_observers.end());
}

void CTarnDoc::NotifyObservers() {
  auto observers = m_observers;  // an observer may unregister while being told
  for (CDocObserver* o : observers) o->OnDocumentChanged(*this);
}

bool CTarnDoc::Fail(const std::string& message) {
  m_lastError = message;
  return false;
}

bool CTarnDoc::FailSave(const SaveFailure& failure, bool targetExisted) {
  switch (failure.stage) {
    case SaveStage::Refused: return Fail(failure.reason);
    case SaveStage::Create: return Fail(std::string(docmsg::kOpenForSaving) + "\n" + failure.Text());
    case SaveStage::Write: return Fail(std::string(docmsg::kWriting) + "\n" + failure.Text());
    case SaveStage::None:
    case SaveStage::Replace: break;
  }
  return Fail(std::string(targetExisted ? docmsg::kReplacing : docmsg::kRenaming) + "\n" + failure.Text());
}

bool CTarnDoc::New() {
  m_history.Clear();
  ForgetInner();
  m_cancelled = false;
  m_source.reset();
  m_path.clear();
  m_diskStamp = {};
  ResetRoot();
  m_modified = false;
  m_openProblems.clear();
  m_damagedCount = 0;
  m_directoryDamaged = false;
  m_lastError.clear();
  NotifyObservers();
  return true;
}

namespace {

// How many changed names the open message lists before it only counts the rest.
constexpr std::size_t kListedNames = 20;

// A save in another format: the document before it (tree, file, format) for the way back, and
// the converted one for the way forward again. The converted file stays on disk either way.
class CConvertDocument final : public CUndoCommand {
 public:
  CConvertDocument(std::string text, CTarnDoc::Container other) : m_text(std::move(text)), m_other(std::move(other)) {}
  std::string Text() const override { return m_text; }
  void Undo(CTarnDoc& doc) override { doc.ExchangeContainer(m_other); }
  void Redo(CTarnDoc& doc) override { doc.ExchangeContainer(m_other); }

 private:
  std::string m_text;
  CTarnDoc::Container m_other;
};

}  // namespace

void CTarnDoc::ExchangeContainer(Container& other) {
  std::swap(m_root, other.root);
  std::swap(m_source, other.source);
  std::swap(m_path, other.path);
  std::swap(m_diskStamp, other.diskStamp);
  // What opening found concerned the other file.
  m_openProblems.clear();
  m_damagedCount = 0;
  m_directoryDamaged = false;
}

std::unique_ptr<CPackObject> CTarnDoc::BuildTree(const PakIndex& index, int* damaged,
                                                 std::vector<std::string>* renamed) {
  return tarn::BuildTree(PakListing(index), ContainerFormat::Pak, damaged, renamed);
}

void CTarnDoc::TakeProblems(const std::vector<std::string>& directory, int damaged,
                            const std::vector<std::string>& renamed) {
  m_damagedCount = damaged;
  m_directoryDamaged = !directory.empty();
  // Only what opening itself finds; the full check (overlaps, duplicates, names) is CheckArchive.
  m_openProblems = directory;
  if (damaged > 0)
    m_openProblems.push_back(std::to_string(damaged) + (damaged == 1 ? " entry" : " entries") +
                             " cannot be read: " + (damaged == 1 ? "its data lie" : "their data lie") +
                             " outside the file, or are stored in a way Tarn cannot undo.");
  for (std::size_t i = 0; i < renamed.size() && i < kListedNames; ++i) m_openProblems.push_back(renamed[i]);
  if (renamed.size() > kListedNames)
    m_openProblems.push_back("... and " + std::to_string(renamed.size() - kListedNames) +
                             " more names like these (tarn-pak check lists every problem).");
}

OpenedArchive CTarnDoc::ReadArchive(const fs::path& path, CProgress* progress) {
  OpenedArchive opened;
  opened.path = path;
  std::string why;
  auto source = CFileSource::Open(path, &why);
  if (!source) {
    opened.error = "Cannot open " + Quoted(path.string()) + ": " + why + ".";
    return opened;
  }
  const std::optional<ContainerFormat> format = ProbeFormat(*source);
  if (!format) {
    opened.error = Quoted(path.string()) + " is not an archive Tarn reads (PAK, PK3 or another zip, WAD2, WAD3).";
    return opened;
  }
  // The tree is built as the directory is read, reported in batches: a record takes well under
  // a microsecond. Once told to stop, the records left are passed over.
  constexpr std::size_t kBatch = 4096;
  std::size_t sinceReport = 0;
  bool stopped = false;
  CTreeBuilding building(*format, &opened.renamed);
  DirectoryListing listing;
  listing.expect = [&](std::size_t count) {
    CPackObject::ExpectEntries(count);
    Expect(progress, count);
  };
  listing.sink = [&](const DirectoryRecord& record) {
    if (stopped) return;
    building.Add(record);
    if (++sinceReport == kBatch) {
      stopped = !Advance(progress, sinceReport);
      sinceReport = 0;
    }
  };
  std::shared_ptr<CArchiveReader> reader = CodecFor(*format).Open(source, listing, &why);
  if (stopped) {
    opened.cancelled = true;
    opened.error = "Opening " + Quoted(path.string()) + " was cancelled.";
    return opened;
  }
  if (!reader) {
    opened.error = "Cannot open " + Quoted(path.string()) + ": " + why + ".";
    return opened;
  }
  Advance(progress, sinceReport);
  opened.damaged = building.Damaged();
  opened.root = building.Take();
  opened.root->SetArchive(std::move(reader));
  opened.source = std::move(source);
  opened.problems = std::move(listing.problems);
  return opened;
}

bool CTarnDoc::Open(const fs::path& path, CProgress* progress) { return Install(ReadArchive(path, progress)); }

bool CTarnDoc::Install(OpenedArchive opened) {
  m_cancelled = opened.cancelled;
  // Only now is the old document let go: a failed open leaves it as it was.
  if (!opened.error.empty() || !opened.root) return Fail(opened.error);
  m_history.Clear();
  ForgetInner();
  m_root = std::move(opened.root);
  m_source = std::move(opened.source);
  m_path = opened.path;
  m_diskStamp = m_source->Stamp();
  m_modified = false;
  TakeProblems(opened.problems, opened.damaged, opened.renamed);
  m_lastError.clear();
  NotifyObservers();
  return true;
}

std::vector<std::string> CTarnDoc::CheckArchive() const {
  if (!m_source) return {};
  return CodecFor(Format()).Check(m_source);
}

std::vector<std::string> CTarnDoc::SaveBlockers(ContainerFormat format) const {
  std::vector<std::string> blockers = CodecFor(format).SaveBlockers(*m_root);
  // Bytes the source holds in a way Tarn cannot read (encrypted, compressed lumps) cannot be
  // written anywhere; those outside the file are told when the save reaches them.
  std::string path;
  VisitFilesInSaveOrder(*m_root, path, [&](const std::string&, const CPackObject& file) {
    if (file.IsDamaged() && file.Problem() != EntryProblem::Outside && file.BytesInSource()) {
      std::string why;
      if (!file.CanStream(&why)) blockers.push_back(why + ".");
    }
  });
  return blockers;
}

ContainerFormat CTarnDoc::FormatForSave(const fs::path& path) const {
  if (m_source && LastSeen(path)) return Format();
  const std::optional<ContainerFormat> named = FormatOfName(path);
  if (!named) return Format();
  // ".wad" names no version: a WAD stays the one it is.
  if (IsWad(*named) && IsWad(Format())) return Format();
  return *named;
}

std::optional<FileStamp> CTarnDoc::LastSeen(const fs::path& path) const {
  if (!m_source) return std::nullopt;
  std::error_code a, b;
  const fs::path mine = fs::weakly_canonical(m_path, a);
  if (a || mine != fs::weakly_canonical(path, b) || b) return std::nullopt;
  return m_diskStamp;
}

bool CTarnDoc::ChangedOnDisk() const { return m_source && !(FileStamp::OfPath(m_path) == m_diskStamp); }

std::vector<std::pair<SaveConcern, std::string>> CTarnDoc::SaveConcerns(const fs::path& path) const {
  const SaveTarget target = InspectSaveTarget(path);
  std::vector<std::pair<SaveConcern, std::string>> concerns;
  for (SaveConcern c : ConcernsOf(target, LastSeen(path))) concerns.emplace_back(c, DescribeConcern(c, target));
  return concerns;
}

bool CTarnDoc::Save(const fs::path& path, const SaveConsent& consent, std::optional<ContainerFormat> format,
                    CProgress* progress) {
  m_cancelled = false;
  if (IsReadOnlyArchiveName(path))
    return Fail("Tarn does not write " + Quoted(path.filename().string()) +
                ": the game reads .kpf files as they are. Save a copy under another name (.pk3, .zip).");
  const ContainerFormat target = format ? *format : FormatForSave(path);
  const CContainerCodec& codec = CodecFor(target);
  const bool converts = m_source && target != Format();
  // Refuse what the format cannot hold before anything is written.
  auto blockers = SaveBlockers(target);
  if (!blockers.empty()) {
    std::string text = std::string("The archive cannot be saved as ") + FormatName(target) + ":";
    for (const auto& b : blockers) text += "\n" + b;
    return Fail(text);
  }
  // Written to in place by another program: the offsets of its entries no longer describe its
  // bytes, and copying them would put that program's bytes into the new archive unnoticed.
  const std::string changedInPlace = "The archive cannot be saved: " + Quoted(m_path.string()) +
                                     " was changed by another program while it was open. "
                                     "Open it again and repeat the changes.";
  if (m_source && m_source->ChangedSinceOpened()) return Fail(changedInPlace);
  // Archives inside, edited in place, go into their files first.
  if (!WriteInnerArchives()) return false;

  // A program that locked the archive for its own read-modify-write finishes first.
  std::unique_ptr<CFileLock> saveLock;
  if (!m_lock || !m_lock->Covers(FileStamp::OfPath(path))) {
    std::string why;
    if (CFileLock::Acquire(path, m_lockTimeout, &saveLock, &why) == CFileLock::Outcome::TimedOut)
      return Fail(std::string(docmsg::kOpenForSaving) + "\n" + why);
  }

  CSafeSave out;
  CSafeSave::Options options;
  options.consent = consent;
  options.expected = LastSeen(path);
  if (!out.Begin(path, options)) return FailSave(out.Failure(), out.Target().exists);

  // The files' bytes are what the save reports. Stopped, nothing of the new file stays (the
  // pending file goes with `out`).
  CStopNoted watched(progress);
  WriteOptions writeOptions = m_writeOptions;
  if (progress) {
    std::uint64_t bytes = 0;
    ForEachFileInSaveOrder(*m_root, [&](const std::string&, const CPackObject& f) {
      bytes += static_cast<std::uint64_t>(std::max<std::int64_t>(f.Size(), 0));
    });
    watched.Expect(bytes);
    writeOptions.progress = &watched;
  }
  std::string entryError;
  const bool ok = codec.Write(*m_root, out, writeOptions, &entryError);
  if (watched.Stopped()) {
    m_cancelled = true;
    return Fail("The save was cancelled; " + Quoted(path.string()) + " was left as it was.");
  }
  // A file that could not be read is the user's to mend; a disk failure is told by Commit.
  if (!ok && !entryError.empty()) return Fail("The archive cannot be saved: " + entryError + ".");
  if (m_source && m_source->ChangedSinceOpened()) return Fail(changedInPlace);
  if (!out.Commit()) return FailSave(out.Failure(), out.Target().exists);

  // Another format: the file just written is read back as a new tree, and the old one, with
  // the file its entries' locations describe, is kept for Undo.
  if (converts) {
    OpenedArchive fresh = ReadArchive(out.Target().path);
    if (fresh.root) {
      Container other{std::move(fresh.root), std::move(fresh.source), path, {}};
      other.diskStamp = other.source->Stamp();
      ExchangeContainer(other);
      m_history.Push(
          std::make_unique<CConvertDocument>(std::string("Convert to ") + FormatName(target), std::move(other)));
      TakeProblems(fresh.problems, fresh.damaged, fresh.renamed);
      m_modified = false;
      m_history.SetClean();
      m_lastError.clear();
      NotifyObservers();
      return true;
    }
  }
  // The new file is in place: it becomes the source archive, and the entries' locations are
  // read back from it.
  auto source = CFileSource::Open(out.Target().path);
  DirectoryListing listing;
  std::shared_ptr<CArchiveReader> reader;
  std::string why;
  if (source) reader = codec.Open(source, listing, &why);
  m_root->SetFormat(target);
  m_root->SetArchive(reader);
  m_source = reader ? source : nullptr;
  m_diskStamp = source ? source->Stamp() : out.Committed();
  std::vector<std::string> problems;
  if (!reader || !Relocate(*m_root, listing))
    problems.push_back("The saved archive could not be read back; open it again before editing it further.");
  TakeProblems(problems, 0, {});
  // Every entry now reads from the new file, also those that came back from an older one.
  std::function<void(CPackObject&)> unbind = [&](CPackObject& dir) {
    for (CPackObject* c : dir.Children()) {
      c->UnbindSource();
      if (c->IsDirectory()) unbind(*c);
    }
  };
  unbind(*m_root);
  NoteInnerHolders();
  m_path = path;
  m_modified = false;
  m_history.SetClean();
  m_lastError.clear();
  NotifyObservers();
  return true;
}

}  // namespace tarn
