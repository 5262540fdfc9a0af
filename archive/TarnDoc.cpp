#include "archive/TarnDoc.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <unordered_map>

#include "archive/ByteIO.h"
#include "archive/PakWriter.h"

namespace tarn {

namespace fs = std::filesystem;

CTarnDoc::CTarnDoc() { ResetRoot(); }

CTarnDoc::~CTarnDoc() = default;

void CTarnDoc::ResetRoot() {
  auto root = std::make_unique<CPackObject>();
  root->Rename("root");
  root->SetDirectory(true);
  m_root = std::move(root);
}

std::string CTarnDoc::Title() const { return m_path.empty() ? "Untitled" : m_path.filename().string(); }

void CTarnDoc::SetModifiedFlag(bool modified) { m_modified = modified; }

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
  if (std::find(m_observers.begin(), m_observers.end(), observer) == m_observers.end())
    m_observers.push_back(observer);
}

void CTarnDoc::RemoveObserver(CDocObserver* observer) {
  m_observers.erase(std::remove(m_observers.begin(), m_observers.end(), observer), m_observers.end());
}

void CTarnDoc::UpdateAllViews() {
  auto observers = m_observers;  // an observer may unregister while being told
  for (CDocObserver* o : observers) o->OnDocumentChanged(*this);
}

bool CTarnDoc::Fail(const std::string& message) {
  m_lastError = message;
  return false;
}

bool CTarnDoc::FailSave(const SaveFailure& failure, bool targetExisted) {
  switch (failure.stage) {
    case SaveStage::Refused:
      return Fail(failure.reason);
    case SaveStage::Create:
      return Fail(std::string(docmsg::kOpenForSaving) + "\n" + failure.Text());
    case SaveStage::Write:
      return Fail(std::string(docmsg::kWriting) + "\n" + failure.Text());
    case SaveStage::None:
    case SaveStage::Replace:
      break;
  }
  return Fail(std::string(targetExisted ? docmsg::kReplacing : docmsg::kRenaming) + "\n" + failure.Text());
}

bool CTarnDoc::OnNewDocument() {
  m_history.Clear();
  m_cancelled = false;
  m_source.reset();
  m_path.clear();
  m_diskStamp = {};
  ResetRoot();
  m_modified = false;
  m_openProblems.clear();
  m_damagedCount = 0;
  m_lastError.clear();
  UpdateAllViews();
  return true;
}

namespace {

// How many changed names the open message lists before it only counts the rest.
constexpr std::size_t kListedNames = 20;

std::string ShownAs(std::string_view stored, const CPackObject& entry) {
  return Quoted(stored) + " is shown as " + Quoted(entry.PathInArchive()) + ": the archive holds that name twice";
}

}  // namespace

std::unique_ptr<CPackObject> CTarnDoc::BuildTree(const PakIndex& index, int* damaged, std::vector<std::string>* renamed,
                                                 CProgress* progress) {
  // Reported in batches: a record takes well under a microsecond.
  constexpr std::size_t kBatch = 4096;
  Expect(progress, index.records.size());
  std::size_t sinceReport = 0;
  auto root = std::make_unique<CPackObject>();
  root->Rename("root");
  root->SetDirectory(true);
  int bad = 0;
  // Records of one directory usually come together, and a directory path resolves to the
  // same entry every time while the tree only grows: remember each resolved path.
  std::unordered_map<std::string, CPackObject*> directories;
  std::string lowered;
  for (const PakRecord& rec : index.records) {
    if (++sinceReport == kBatch) {
      if (!Advance(progress, sinceReport)) return nullptr;
      sinceReport = 0;
    }
    const std::size_t lastSlash = rec.path.rfind('/');
    CPackObject* dir = root.get();
    if (lastSlash != std::string_view::npos) {
      lowered = ToLower(rec.path.substr(0, lastSlash));
      auto [it, fresh] = directories.try_emplace(lowered, nullptr);
      if (fresh) {
        std::string_view rest(lowered);
        std::size_t slash;
        while (true) {
          slash = rest.find('/');
          std::string segment(rest.substr(0, slash));
          CPackObject* sub = dir->FindChildDirectory(segment);
          dir = sub ? sub : dir->AddChild(segment, true);
          if (renamed && dir->Name() != segment)
            renamed->push_back(ShownAs(rec.path.substr(0, static_cast<std::size_t>(rest.data() - lowered.data()) + segment.size()), *dir));
          if (slash == std::string_view::npos) break;
          rest.remove_prefix(slash + 1);
        }
        it->second = dir;
      }
      dir = it->second;
    }
    CPackObject* file = dir->AddChild(lastSlash == std::string_view::npos ? rec.path : rec.path.substr(lastSlash + 1), false);
    if (renamed) {
      const std::string_view leaf = lastSlash == std::string_view::npos ? rec.path : rec.path.substr(lastSlash + 1);
      if (file->Name() != ToLower(leaf)) renamed->push_back(ShownAs(rec.path, *file));
      for (std::size_t start = 0;;) {
        const std::size_t slash = rec.path.find('/', start);
        const std::string why = UnsafeNameReason(rec.path.substr(start, slash == std::string_view::npos ? slash : slash - start));
        if (!why.empty()) {
          renamed->push_back(Quoted(rec.path) + " cannot be exported: " + why);
          break;
        }
        if (slash == std::string_view::npos) break;
        start = slash + 1;
      }
    }
    file->SetOffset(rec.offset);
    file->SetSize(rec.size);
    if (!rec.dataInside) {
      file->SetDamaged(true);
      ++bad;
    }
  }
  Advance(progress, sinceReport);
  if (damaged) *damaged = bad;
  return root;
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
  PakIndex index;
  if (ReadPakIndex(*source, index) != PakReadResult::Ok) {
    opened.error = Quoted(path.string()) + " is not a PAK archive.";
    return opened;
  }
  std::vector<std::string> renamed;
  opened.root = BuildTree(index, &opened.damaged, &renamed, progress);
  if (!opened.root) {
    opened.cancelled = true;
    opened.error = "Opening " + Quoted(path.string()) + " was cancelled.";
    return opened;
  }
  opened.root->SetSource(source);
  opened.source = std::move(source);
  // Only what opening itself finds; the full check (overlaps, duplicates, names) is CheckArchive.
  std::vector<std::string>& problems = opened.problems;
  if (index.directoryTruncated || index.directoryLength % static_cast<std::int32_t>(pak::kRecordSize) != 0)
    problems.push_back("The archive's directory is damaged; some entries may be missing.");
  if (opened.damaged > 0)
    problems.push_back(std::to_string(opened.damaged) + (opened.damaged == 1 ? " entry has" : " entries have") +
                       " data outside the file and cannot be read.");
  for (std::size_t i = 0; i < renamed.size() && i < kListedNames; ++i) problems.push_back(renamed[i]);
  if (renamed.size() > kListedNames)
    problems.push_back("... and " + std::to_string(renamed.size() - kListedNames) +
                       " more names like these (tarn-pak check lists every problem).");
  return opened;
}

bool CTarnDoc::OnOpenDocument(const fs::path& path, CProgress* progress) { return Install(ReadArchive(path, progress)); }

bool CTarnDoc::Install(OpenedArchive opened) {
  m_cancelled = opened.cancelled;
  // Only now is the old document let go: a failed open leaves it as it was.
  if (!opened.error.empty() || !opened.root) return Fail(opened.error);
  m_history.Clear();
  m_root = std::move(opened.root);
  m_source = std::move(opened.source);
  m_path = opened.path;
  m_diskStamp = m_source->Stamp();
  m_modified = false;
  m_damagedCount = opened.damaged;
  m_openProblems = std::move(opened.problems);
  m_lastError.clear();
  UpdateAllViews();
  return true;
}

std::vector<std::string> CTarnDoc::CheckArchive() const {
  if (!m_source) return {};
  PakIndex index;
  if (ReadPakIndex(*m_source, index) != PakReadResult::Ok) return {"the file is no longer a PAK archive"};
  return CheckPakIndex(index);
}

std::vector<std::string> CTarnDoc::SaveBlockers() const {
  std::vector<std::string> blockers;
  std::int64_t end = static_cast<std::int64_t>(pak::kHeaderSize);
  std::int64_t files = 0;
  ForEachFileInSaveOrder(*m_root, [&](const std::string& path, const CPackObject& file) {
    ++files;
    if (path.size() > pak::kMaxPathLength)
      blockers.push_back("The path " + Quoted(path) + " is longer than 55 characters.");
    if (file.Size() < 0) blockers.push_back("The file " + Quoted(path) + " has an invalid size.");
    end += std::max<std::int32_t>(file.Size(), 0);
  });
  end += files * static_cast<std::int64_t>(pak::kRecordSize);
  if (end > pak::kMaxArchiveSize)
    blockers.push_back("The archive would be " + std::to_string(end) + " bytes, more than the 2 GiB a PAK file can hold.");
  return blockers;
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
  for (SaveConcern c : ConcernsOf(target, LastSeen(path)))
    concerns.emplace_back(c, DescribeConcern(c, target));
  return concerns;
}

bool CTarnDoc::OnSaveDocument(const fs::path& path, const SaveConsent& consent, CProgress* progress) {
  m_cancelled = false;
  // Refuse what the format cannot hold before anything is written.
  auto blockers = SaveBlockers();
  if (!blockers.empty()) {
    std::string text = "The archive cannot be saved:";
    for (const auto& b : blockers) text += "\n" + b;
    return Fail(text);
  }
  // Written to in place by another program: the offsets of its entries no longer describe its
  // bytes, and copying them would put that program's bytes into the new archive unnoticed.
  const std::string changedInPlace =
      "The archive cannot be saved: " + Quoted(m_path.string()) + " was changed by another program while it was open. "
      "Open it again and repeat the changes.";
  if (m_source && m_source->ChangedSinceOpened()) return Fail(changedInPlace);

  // A program that locked the archive for its own read-modify-write finishes first.
  std::unique_ptr<CFileLock> saveLock;
  if (!m_lock || !m_lock->Covers(FileStamp::OfPath(path))) {
    std::string why;
    if (CFileLock::Acquire(path, std::chrono::seconds(10), &saveLock, &why) == CFileLock::Outcome::TimedOut)
      return Fail(std::string(docmsg::kOpenForSaving) + "\n" + why);
  }

  CSafeSave out;
  CSafeSave::Options options;
  options.consent = consent;
  options.expected = LastSeen(path);
  if (!out.Begin(path, options)) return FailSave(out.Failure(), out.Target().exists);

  CPakWriter writer(out, progress);
  const int files = m_root->CountFiles();
  if (progress) {
    std::uint64_t bytes = pak::kHeaderSize + static_cast<std::uint64_t>(files) * pak::kRecordSize;
    ForEachFileInSaveOrder(*m_root, [&](const std::string&, const CPackObject& f) {
      bytes += static_cast<std::uint64_t>(std::max<std::int32_t>(f.Size(), 0));
    });
    progress->Expect(bytes);
  }
  std::uint8_t header[pak::kHeaderSize] = {'P', 'A', 'C', 'K'};
  StoreU32(header + 8, static_cast<std::uint32_t>(files) * pak::kRecordSize);
  writer.Write(header, sizeof header);
  bool ok = m_root->WriteData(writer);
  const auto directoryOffset = static_cast<std::uint32_t>(writer.Position());
  ok = ok && m_root->WriteDirectory(writer, "");
  if (ok) {
    StoreU32(header + 4, directoryOffset);
    if (std::fseek(out.File(), 0, SEEK_SET) != 0) out.WriteFailed(errno);
    ok = out.Write(header, sizeof header);
  }
  // Nothing of the new file stays (the pending file goes with `out`).
  if (writer.Cancelled()) {
    m_cancelled = true;
    return Fail("The save was cancelled; " + Quoted(path.string()) + " was left as it was.");
  }
  // A file that could not be read is the user's to mend; a disk failure is told by Commit.
  if (!ok && !writer.WriteFailed() && writer.Failed()) return Fail("The archive cannot be saved: " + writer.Error() + ".");
  if (m_source && m_source->ChangedSinceOpened()) return Fail(changedInPlace);
  if (!out.Commit()) return FailSave(out.Failure(), out.Target().exists);

  // The new file is in place: offsets now refer to it, and it becomes the source archive.
  ApplyOffsets(*m_root, writer.Offsets());
  m_source = CFileSource::Open(out.Target().path);
  m_diskStamp = m_source ? m_source->Stamp() : out.Committed();
  m_root->SetSource(m_source);
  // Every entry now reads from the new file, also those that came back from an older one.
  std::function<void(CPackObject&)> clearDamage = [&](CPackObject& d) {
    for (CPackObject* c : d.Children()) {
      c->SetDamaged(false);
      c->UnbindSource();
      if (c->IsDirectory()) clearDamage(*c);
    }
  };
  clearDamage(*m_root);
  m_damagedCount = 0;
  m_openProblems.clear();
  m_path = path;
  m_modified = false;
  m_history.SetClean();
  m_lastError.clear();
  UpdateAllViews();
  return true;
}

}  // namespace tarn
