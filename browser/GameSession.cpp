#include "browser/GameSession.h"

#include <algorithm>
#include <unordered_set>

#include "archive/EntryNames.h"
#include "containers/Container.h"
#include "containers/PakFormat.h"
#include "fileio/Strings.h"
#include "game/GameFolder.h"

namespace tarn::browser {

namespace fs = std::filesystem;

namespace {

// Files between two reports of progress: often enough for the bar, rarely enough to cost nothing.
constexpr std::size_t kFilesPerReport = 256;

CPackObject* DirectoryFor(CPackObject& root, std::string_view path) {
  CPackObject* dir = &root;
  for (std::size_t slash; (slash = path.find('/')) != std::string_view::npos; path.remove_prefix(slash + 1)) {
    // As the game names them: folders apart for the engine stay apart, whatever their case.
    const std::string_view segment = path.substr(0, slash);
    CPackObject* sub = dir->FindChildExact(segment);
    dir = sub && sub->IsDirectory() ? sub : dir->AddChildAsIs(segment, true);
  }
  return dir;
}

std::string_view Leaf(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// Makes file read the bytes of a copy: the loose file where it lies, or the member of its
// archive (whose reader the file keeps, so the bytes stay readable after the view is gone).
void ReadFrom(CGameView& view, GameCopy copy, CPackObject& file, std::vector<std::string>& notes) {
  if (view.Source(copy).kind == SourceKind::Folder) {
    file.SetTempFile(view.Location(copy).string(), false);
    return;
  }
  std::string why;
  const CPackObject* member = view.Open(copy, &why);
  if (!member) {
    // Shown in red and refused by every command that would read it.
    file.SetDamaged(true);
    notes.push_back("cannot read " + Quoted(view.Entry(copy).path) + ": " + why);
    return;
  }
  file.SetLocation(member->Location());
  file.SetProblem(member->Problem());
  file.SetArchive(member->ArchiveRef());
}

// The same bytes as from, for another tree: copies of what is held in memory, the rest read
// where from reads it.
void ShareBytes(const CPackObject& from, CPackObject& to) {
  to.SetSize(from.Size());
  if (const auto* data = from.Data()) {
    to.SetData(*data);
  } else if (!from.TempPath().empty()) {
    to.SetTempFile(from.TempPath(), false);
  } else if (from.HasLocation()) {
    to.SetLocation(from.Location());
    to.SetProblem(from.Problem());
    to.SetArchive(from.ArchiveRef());
  }
}

}  // namespace

std::string CGameSession::Title() const {
  std::string title;
  for (const fs::path& f : m_folders) title += (title.empty() ? "" : " + ") + f.filename().string();
  return title + " (" + std::string(m_profile->name) + ")";
}

bool CGameSession::Unchanged(const CPackObject& file, const Origin& origin) const {
  if (file.IsDirectory() || file.HasData() || file.Size() != origin.size) return false;
  if (origin.archive)
    return file.TempPath().empty() && file.BytesInSource() && file.Archive() == origin.archive &&
           file.Offset() == origin.offset;
  return !file.HasLocation() && file.TempPath() == origin.temp;
}

std::string CGameSession::FullSourceOf(const CPackObject& entry) const {
  if (entry.IsDirectory()) return {};
  if (auto s = m_shadowSource.find(&entry); s != m_shadowSource.end())
    return m_sourceIsFolder[s->second] ? entry.TempPath() : m_sourcePaths[s->second].string();
  auto o = m_origins.find(entry.PathInArchive());
  if (o == m_origins.end() || !Unchanged(entry, o->second)) return {};
  return o->second.archive ? m_sourcePaths[o->second.source].string() : o->second.temp;
}

std::string CGameSession::SourceOf(const CPackObject& entry) const {
  if (entry.IsDirectory()) return {};
  const std::string full = FullSourceOf(entry);
  if (full.empty()) return "changed, not saved";
  const fs::path relative = fs::path(full).lexically_relative(m_base);
  const std::string shown = relative.generic_string();
  return shown.empty() || shown.starts_with("..") ? full : shown;
}

std::vector<CPackObject*> CGameSession::ShownShadowed(const CPackObject& dir) const {
  if (!m_showShadowed) return {};
  auto it = m_shadowedIn.find(dir.PathInArchive());
  return it == m_shadowedIn.end() ? std::vector<CPackObject*>{} : it->second;
}

CGameSession::Changes CGameSession::FindChanges(const CPackObject& root) const {
  Changes changes;
  std::unordered_set<std::string> present;
  std::string path;
  VisitFilesInSaveOrder(root, path, [&](const std::string& p, const CPackObject& file) {
    present.insert(p);
    auto o = m_origins.find(p);
    if (o == m_origins.end() || !Unchanged(file, o->second)) changes.written.push_back(&file);
  });
  for (const auto& [p, origin] : m_origins)
    if (!present.count(p)) changes.gone.push_back(p);
  std::sort(changes.gone.begin(), changes.gone.end());
  return changes;
}

LoadedGame LoadGame(const EngineProfile& profile, const std::vector<fs::path>& folders, CProgress* progress) {
  LoadedGame out;
  if (folders.empty()) {
    out.error = "No game folder was given.";
    return out;
  }
  for (const fs::path& f : folders) {
    std::error_code ec;
    if (!fs::is_directory(f, ec)) {
      out.error = Quoted(f.string()) + " is not a folder.";
      return out;
    }
  }
  CGameView view = CGameView::LoadFolders(profile, folders);
  auto session = std::make_unique<CGameSession>();
  CGameSession& s = *session;
  s.m_profile = &profile;
  s.m_folders = folders;
  s.m_base = folders.front().parent_path();
  for (const GameSource& src : view.Sources()) {
    s.m_sourcePaths.push_back(src.path);
    s.m_sourceIsFolder.push_back(src.kind == SourceKind::Folder);
  }
  for (const LoadFailure& f : view.Failures())
    s.m_notes.push_back(f.reason + (f.fatal ? "; " + std::string(profile.engines) + " would stop here" : ""));
  for (const std::string& u : view.Unreadable()) s.m_notes.push_back("cannot read " + u);

  const std::vector<GameFile> files = view.Files();
  if (progress) progress->Expect(files.size());
  MergedTree tree = view.BuildTree(files);
  s.m_shadowRoots.resize(view.Sources().size());
  // In the order of the paths, so that the progress reads as the tree fills.
  std::vector<std::pair<std::size_t, CPackObject*>> order;
  order.reserve(tree.fileOf.size());
  for (const auto& [file, i] : tree.fileOf) order.emplace_back(i, const_cast<CPackObject*>(file));
  std::sort(order.begin(), order.end());
  std::size_t done = 0;
  for (const auto& [i, file] : order) {
    const GameFile& gf = files[i];
    const GameCopy winner = gf.copies.front();
    ReadFrom(view, winner, *file, s.m_notes);
    CGameSession::Origin& origin = s.m_origins[file->PathInArchive()];
    origin.source = winner.source;
    origin.archive = file->HasLocation() ? file->Archive() : nullptr;
    origin.offset = file->Offset();
    origin.size = file->Size();
    origin.temp = file->TempPath();
    const std::string dirPath = file->Parent()->PathInArchive();
    for (std::size_t k = 1; k < gf.copies.size(); ++k) {
      const GameCopy c = gf.copies[k];
      auto& root = s.m_shadowRoots[c.source];
      if (!root) {
        root = std::make_unique<CPackObject>();
        root->SetDirectory(true);
      }
      CPackObject* copy = DirectoryFor(*root, gf.path)->AddChildAsIs(Leaf(gf.path), false);
      copy->SetSize(std::min<std::int64_t>(view.Entry(c).size, pak::kMaxArchiveSize));
      ReadFrom(view, c, *copy, s.m_notes);
      s.m_shadowSource.emplace(copy, c.source);
      s.m_shadowedIn[dirPath].push_back(copy);
    }
    if (progress && ++done % kFilesPerReport == 0 && !progress->Advance(kFilesPerReport, gf.path)) {
      out.cancelled = true;
      return out;
    }
  }
  s.m_problems = CheckEverything(view);
  out.root = std::move(tree.root);
  out.session = std::move(session);
  return out;
}

std::unique_ptr<CPackObject> TreeOfFiles(const std::vector<const CPackObject*>& files) {
  auto root = std::make_unique<CPackObject>();
  root->SetDirectory(true);
  for (const CPackObject* f : files) {
    const std::string path = f->PathInArchive();
    ShareBytes(*f, *DirectoryFor(*root, path)->AddChildAsIs(Leaf(path), false));
  }
  return root;
}

}  // namespace tarn::browser
