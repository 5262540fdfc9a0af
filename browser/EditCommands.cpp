// The commands that change the entry tree in place: new directory, rename, delete, copy and
// paste, moves and copies by drag, and undo and redo of them all.
#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QPointer>
#include <QStatusBar>
#include <unordered_set>

#include "archive/ContainerFormat.h"
#include "archive/EntryNames.h"
#include "browser/MainFrame.h"
#include "browser/PackListView.h"
#include "browser/PackModels.h"
#include "browser/PackTreeView.h"
#include "dialogs/Text.h"
#include "dialogs/WaitCursor.h"
#include "dialogs/WorkDialog.h"
#include "fileio/ByteIO.h"
#include "fileio/Strings.h"

namespace tarn::browser {

using dialogs::Q;
using dialogs::S;

void CMainFrame::EditTree(const std::string& text, const std::function<const CPackObject*(CTreeEdit&)>& steps) {
  auto edit = std::make_unique<CTreeEdit>(text);
  ChangeTree([&] {
    const CPackObject* shown = steps(*edit);
    if (!edit->Empty()) m_doc.Record(std::move(edit));
    return shown;
  });
}

void CMainFrame::OnNewDirectory() {
  // In the directory row the command was given on (from the list's context menu, say), else in
  // the directory the tree shows.
  const auto sel = ListSelection();
  CPackObject* dir = !m_treeFocused && sel.size() == 1 && sel.front()->IsDirectory() ? sel.front() : TreeSelection();
  if (!dir) dir = &m_doc.Root();
  std::string name = "untitled";
  for (int n = 1; dir->FindChild(name); ++n) name = "untitled" + std::to_string(n);
  CPackObject* made = nullptr;
  EditTree("New Directory", [&](CTreeEdit& edit) {
    auto directory = std::make_unique<CPackObject>();
    directory->Rename(name);
    directory->SetDirectory(true);
    return made = edit.Insert(*dir, std::move(directory));
  });
  // The name is the user's next step: it is open for typing where the new directory shows.
  if (made) m_tree->EditName(made);
}

void CMainFrame::OnRename() {
  if (!m_cmd.rename->isEnabled()) return;
  auto targets = Targets();
  if (targets.size() != 1 || !targets.front()->Parent()) return;
  CPackObject* entry = targets.front();
  auto answer = m_prompter->NewName(this, Q(entry->Name()));
  if (answer) RenameTo(entry, *answer);
}

bool CMainFrame::RenameTo(CPackObject* entry, const QString& name) {
  const NewNameCheck check = CheckNewName(*entry, S(name));
  switch (check.problem) {
    case NewNameProblem::Empty: Message("The name cannot be empty.", "Rename", QMessageBox::Warning); return false;
    case NewNameProblem::Separator:
      Message("A name cannot contain \"/\".", "Rename", QMessageBox::Warning);
      return false;
    case NewNameProblem::Taken:
      Message(QString("An entry named \"%1\" already exists in this directory.").arg(Q(check.taken->Name())), "Rename",
              QMessageBox::Warning);
      return false;
    case NewNameProblem::Unfit: Message(Q(check.reason) + ".", "Rename", QMessageBox::Warning); return false;
    case NewNameProblem::None: break;
  }
  if (check.stored == entry->Name()) return true;
  const bool directory = entry->IsDirectory();
  EditTree("Rename " + Quoted(entry->Name()), [&](CTreeEdit& edit) -> const CPackObject* {
    edit.Rename(*entry, check.stored);
    return m_treeFocused && directory ? entry : nullptr;
  });
  return true;
}

namespace {

// The entries that are not inside another of them: a directory takes its contents along.
std::vector<CPackObject*> Outermost(const std::vector<CPackObject*>& entries) {
  std::vector<CPackObject*> out;
  for (CPackObject* e : entries) {
    bool inside = !e->Parent();
    for (CPackObject* other : entries)
      if (other != e && e->Parent() && e->Parent()->IsInside(other)) inside = true;
    if (!inside && std::find(out.begin(), out.end(), e) == out.end()) out.push_back(e);
  }
  return out;
}

}  // namespace

void CMainFrame::OnDelete() {
  if (!m_cmd.deleteEntries->isEnabled()) return;
  DeleteEntries(Outermost(Targets()), "Delete");
}

void CMainFrame::DeleteEntries(const std::vector<CPackObject*>& targets, const std::string& verb) {
  if (targets.empty()) return;
  const std::string what = CountedEntries(targets.size(), targets.front()->Name());
  // The row after the last one taken (else the one before the first) is selected afterwards,
  // so that Delete pressed again goes on down the list.
  CPackObject* next = nullptr;
  if (!m_treeFocused) {
    const CPackListModel* model = m_list->ListModel();
    std::unordered_set<const CPackObject*> going(targets.begin(), targets.end());
    int first = model->rowCount(), last = -1;
    for (const CPackObject* e : targets)
      if (const int row = model->RowOf(e); row >= 0) first = std::min(first, row), last = std::max(last, row);
    for (int r = last + 1; r < model->rowCount() && !next; ++r)
      if (!going.count(model->EntryAt(r))) next = model->EntryAt(r);
    for (int r = first - 1; r >= 0 && !next; --r)
      if (!going.count(model->EntryAt(r))) next = model->EntryAt(r);
  }
  EditTree(verb + " " + what, [&](CTreeEdit& edit) -> const CPackObject* {
    // The parent of a deleted directory that held what the list shows is shown instead.
    const CPackObject* select = nullptr;
    CPackObject* shown = TreeSelection();
    for (CPackObject* e : targets)
      if (shown && shown->IsInside(e)) select = e->Parent();
    for (CPackObject* e : targets) edit.Remove(*e);
    return select;
  });
  if (next && next->Parent() == m_list->CurrentDirectory()) m_list->SelectEntries({next});
  // No question before deleting: it can be undone, and the status bar says how.
  statusBar()->showMessage(QString("%1 %2. Undo (Ctrl+Z) brings %3 back.")
                               .arg(verb == "Cut" ? "Cut" : "Deleted", Q(what), targets.size() == 1 ? "it" : "them"),
                           kReportMs);
}

void CMainFrame::StepHistory(bool back) {
  const CUndoCommand* command = back ? m_doc.History().NextUndo() : m_doc.History().NextRedo();
  if (!command) return;
  const QString text = Q(command->Text());
  std::vector<CPackObject*> touched;
  if (const auto* edit = dynamic_cast<const CTreeEdit*>(command)) touched = edit->Entries();
  ChangeTree([&]() -> const CPackObject* {
    if (back) m_doc.Undo();
    else m_doc.Redo();
    return nullptr;
  });
  // What came back (or went again) is selected where the list shows it.
  std::vector<CPackObject*> shown;
  for (CPackObject* e : touched)
    if (e->Parent() && e->Parent() == m_list->CurrentDirectory()) shown.push_back(e);
  if (!shown.empty()) m_list->SelectEntries(shown);
  statusBar()->showMessage((back ? "Undone: " : "Redone: ") + text, kReportMs);
}

void CMainFrame::OnUndo() { StepHistory(true); }
void CMainFrame::OnRedo() { StepHistory(false); }

// --- clipboard and drags ---

QByteArray CMainFrame::EntryStream(const std::vector<CPackObject*>& entries, QStringList* unreadable) const {
  std::vector<std::uint8_t> bytes;
  std::vector<std::string> failed;
  {
    dialogs::CWaitCursor wait;
    ByteWriter out(bytes);
    for (CPackObject* e : entries)
      if (e->Parent()) e->Serialize(out, &failed);
  }
  if (unreadable)
    for (const auto& u : failed) *unreadable << Q(u);
  return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}

void CMainFrame::OnCopy() {
  auto targets = Targets();
  if (targets.empty()) return;
  QStringList unreadable;
  auto* mime = new QMimeData;
  mime->setData(kPackObjectMime, EntryStream(targets, &unreadable));
  QApplication::clipboard()->setMimeData(mime);
  if (!unreadable.isEmpty()) {
    QString text = "These files could not be read and were copied empty:";
    for (const auto& u : unreadable) text += "\n  " + u;
    Message(text, "Copy", QMessageBox::Warning);
  }
}

void CMainFrame::OnCut() {
  if (!m_cmd.cut->isEnabled()) return;
  const auto targets = Outermost(Targets());
  if (targets.empty()) return;
  QStringList unreadable;
  const QByteArray stream = EntryStream(targets, &unreadable);
  // A file whose bytes cannot be read would be lost by a cut: nothing is taken.
  if (!unreadable.isEmpty()) {
    Message("These files could not be read, so nothing was cut:\n  " + unreadable.join("\n  "), "Cut",
            QMessageBox::Warning);
    return;
  }
  auto* mime = new QMimeData;
  mime->setData(kPackObjectMime, stream);
  QApplication::clipboard()->setMimeData(mime);
  DeleteEntries(targets, "Cut");
}

void CMainFrame::OnDuplicate() {
  if (!m_cmd.duplicate->isEnabled()) return;
  const auto targets = Outermost(Targets());
  if (targets.empty()) return;
  // Each copy is made through the clipboard's stream, so that it takes its own bytes along.
  std::vector<std::pair<CPackObject*, std::unique_ptr<CPackObject>>> copies;
  QStringList unreadable;
  for (CPackObject* e : targets) {
    const QByteArray stream = EntryStream({e}, &unreadable);
    ByteReader in(reinterpret_cast<const std::uint8_t*>(stream.constData()), static_cast<std::size_t>(stream.size()));
    std::string why;
    if (auto copy = CPackObject::Deserialize(in, &why)) copies.emplace_back(e->Parent(), std::move(copy));
  }
  if (!unreadable.isEmpty()) {
    Message("These files could not be read, so nothing was duplicated:\n  " + unreadable.join("\n  "), "Duplicate",
            QMessageBox::Warning);
    return;
  }
  std::vector<CPackObject*> made;
  EditTree("Duplicate " + CountedEntries(copies.size(), targets.front()->Name()),
           [&](CTreeEdit& edit) -> const CPackObject* {
             for (auto& [dir, copy] : copies)
               if (CPackObject* placed = edit.Insert(*dir, std::move(copy))) made.push_back(placed);
             return nullptr;
           });
  if (!m_treeFocused) m_list->SelectEntries(made);
}

void CMainFrame::OnSelectAll() {
  m_list->SelectAll();
  m_list->ActiveView()->setFocus(Qt::ShortcutFocusReason);
}

void CMainFrame::OnReplaceFromFile() {
  if (!m_cmd.replaceFromFile->isEnabled()) return;
  const auto sel = ListSelection();
  if (sel.size() != 1) return;
  const std::string path = m_doc.FullPath(*sel.front()), name = sel.front()->Name();
  const QString file = m_prompter->OpenFileName(this, "Replace " + Q(Quoted(name)) + " with", "All Files (*)");
  if (file.isEmpty()) return;
  // Found again: the question ran an event loop.
  CPackObject* entry = m_doc.FindFullPath(path);
  if (!entry || entry->IsDirectory() || !entry->Parent()) return;
  auto staging = std::make_unique<CPackObject>();
  staging->SetDirectory(true);
  std::string why;
  ImportOptions options;
  if (!staging->ImportFile(S(file), options, &why)) {
    Message(QString("Could not read %1: %2.").arg(file, Q(why)), "Replace from File", QMessageBox::Warning);
    return;
  }
  CPackObject* dir = entry->Parent();
  std::unique_ptr<CPackObject> replacement = staging->DetachChild(*staging->Children().begin());
  CPackObject* placed = nullptr;
  EditTree("Replace " + Quoted(name), [&](CTreeEdit& edit) -> const CPackObject* {
    edit.Remove(*entry);
    placed = edit.Insert(*dir, std::move(replacement));
    // The entry keeps its name exactly as the archive has it.
    if (placed) edit.Rename(*placed, name);
    return nullptr;
  });
  if (placed) m_list->SelectEntries({placed});
}

CPackObject* CMainFrame::PutFile(CPackObject& dir, CPackObject* old, const std::string& name,
                                 const std::vector<std::uint8_t>& bytes, const std::string& text) {
  auto made = std::make_unique<CPackObject>();
  made->Rename(name);
  made->SetSize(static_cast<std::int64_t>(bytes.size()));
  made->SetData(bytes);
  CPackObject* placed = nullptr;
  std::vector<CPackObject*> selected = ListSelection();
  const bool wasSelected = old && std::find(selected.begin(), selected.end(), old) != selected.end();
  EditTree(text, [&](CTreeEdit& edit) -> const CPackObject* {
    if (old) edit.Remove(*old);
    placed = edit.Insert(dir, std::move(made));
    // Renamed after, so that the name is kept exactly as given, case and all.
    if (placed) edit.Rename(*placed, name);
    return nullptr;
  });
  // The list goes on showing the file chosen, now the new entry.
  if (placed && wasSelected) {
    selected = ListSelection();
    selected.push_back(placed);
    m_list->SelectEntries(selected);
  }
  return placed;
}

viewers::TextSaver CMainFrame::TextSaverFor(CPackObject& entry) {
  if (!entry.Parent() || entry.IsDirectory() || m_listModel->IsShadowed(&entry)) return {};
  // The entry each save leaves, for the next one: a save puts a new entry in its place.
  auto current = std::make_shared<CPackObject*>(&entry);
  const std::string path = m_doc.FullPath(entry);
  QPointer<CMainFrame> self(this);
  const std::uint64_t generation = m_treeGeneration;
  return [self, current, path, generation](const std::vector<std::uint8_t>& bytes, QString* why) {
    CMainFrame* frame = self.data();
    const auto slash = path.rfind('/');
    CPackObject* dir =
        !frame || frame->m_treeGeneration != generation
            ? nullptr
            : frame->DirectoryHolding(*current, slash == std::string::npos ? std::string() : path.substr(0, slash));
    if (!dir) {
      *why = Q(Quoted(path)) + " is no longer in the archive";
      return false;
    }
    // The entry keeps its name exactly as the archive has it now (renamed since, perhaps).
    const std::string name = (*current)->Name();
    CPackObject* placed = frame->PutFile(*dir, *current, name, bytes, "Edit " + Quoted(name));
    if (!placed) {
      *why = "the archive refused it";
      return false;
    }
    *current = placed;
    return true;
  };
}

viewers::BesideWriter CMainFrame::BesideWriterFor(CPackObject& entry) {
  if (!entry.Parent() || entry.IsDirectory() || m_listModel->IsShadowed(&entry)) return {};
  const std::string dirPath = m_doc.FullPath(*entry.Parent());
  QPointer<CMainFrame> self(this);
  const std::uint64_t generation = m_treeGeneration;
  return [self, dirPath, generation](const std::string& name, const std::vector<std::uint8_t>& bytes, QString* why) {
    CMainFrame* frame = self.data();
    CPackObject* dir = !frame || frame->m_treeGeneration != generation ? nullptr : frame->FindDirectory(dirPath);
    if (!dir) {
      *why = "the map's directory is no longer in the archive";
      return false;
    }
    CPackObject* old = dir->FindChild(name);
    if (old && old->IsDirectory()) {
      *why = Q(Quoted(old->PathInArchive())) + " is a directory";
      return false;
    }
    // A file already there keeps its name as the archive spells it.
    const std::string kept = old ? old->Name() : name;
    if (!frame->PutFile(*dir, old, kept, bytes, "Write " + Quoted(kept))) {
      *why = "the archive refused it";
      return false;
    }
    return true;
  };
}

viewers::EntryEditing CMainFrame::EntryEditingFor(CPackObject& entry) {
  if (!entry.Parent() || entry.IsDirectory() || m_listModel->IsShadowed(&entry)) return {};
  // Found by its path each time: an edit puts a new entry in the old one's place, and undoing
  // it puts the old one back.
  const std::string path = m_doc.FullPath(entry);
  const auto slash = path.rfind('/');
  const std::string dirPath = slash == std::string::npos ? std::string() : path.substr(0, slash);
  const std::string name = entry.Name();
  QPointer<CMainFrame> self(this);
  const std::uint64_t generation = m_treeGeneration;
  viewers::EntryEditing editing;
  editing.current = [self, dirPath, name, generation]() -> CPackObject* {
    CMainFrame* frame = self.data();
    CPackObject* dir = !frame || frame->m_treeGeneration != generation ? nullptr : frame->FindDirectory(dirPath);
    CPackObject* found = dir ? dir->FindChild(name) : nullptr;
    return found && !found->IsDirectory() ? found : nullptr;
  };
  editing.put = [self, current = editing.current, path](const std::vector<std::uint8_t>& bytes, const std::string& text,
                                                        QString* why) {
    CPackObject* old = current();
    if (!old) {
      *why = Q(Quoted(path)) + " is no longer in the archive";
      return false;
    }
    if (!self->PutFile(*old->Parent(), old, old->Name(), bytes, text)) {
      *why = "the archive refused it";
      return false;
    }
    return true;
  };
  editing.putBeside = BesideWriterFor(entry);
  editing.stepHistory = [self](bool back) {
    if (self) self->StepHistory(back);
  };
  editing.watch = [self](QObject* receiver, std::function<void()> changed) {
    if (self) connect(self.data(), &CMainFrame::treeChanged, receiver, std::move(changed));
  };
  return editing;
}

void CMainFrame::OnPaste() {
  const QMimeData* mime = QApplication::clipboard()->mimeData();
  CPackObject* dir = PasteTarget();
  if (!mime || !mime->hasFormat(kPackObjectMime) || !dir) return;
  PasteStream(mime->data(kPackObjectMime), dir, "Paste");
}

void CMainFrame::PasteStream(const QByteArray& data, CPackObject* dir, const QString& command) {
  // Read on a worker: the bytes of large entries go to temporary files meanwhile.
  std::vector<std::unique_ptr<CPackObject>> entries;
  std::string error;
  dialogs::CWorkDialog work(this, command == "Paste" ? "Pasting" : "Copying");
  work.Run([&](CProgress& progress) {
    ByteReader in(reinterpret_cast<const std::uint8_t*>(data.constData()), static_cast<std::size_t>(data.size()));
    progress.Expect(in.Size());
    while (!in.AtEnd()) {
      const std::size_t at = in.Position();
      auto e = CPackObject::Deserialize(in, &error);
      if (!e) break;
      if (!progress.Advance(in.Position() - at, e->Name())) break;
      entries.push_back(std::move(e));
    }
  });
  if (work.CancelAsked()) return;
  if (!error.empty()) {
    Message("The clipboard does not hold entries Tarn can read (" + Q(error) + ").", command, QMessageBox::Warning);
    return;
  }
  if (entries.empty()) return;

  // What the archive's container cannot hold (a directory or a name that is no lump's, in a
  // WAD) stays out, and the user is told which entries.
  QStringList refused;
  std::erase_if(entries, [&](const std::unique_ptr<CPackObject>& e) {
    const std::string why =
        UnfitNameReason(dir->Format(), StoredName(*dir, e->Name()), e->IsDirectory(), !dir->Parent());
    if (!why.empty()) refused << "  " + Q(Quoted(e->Name())) + ": " + Q(why);
    return !why.empty();
  });
  if (!refused.isEmpty())
    Message("These entries were not pasted:\n" + refused.join("\n"), command, QMessageBox::Warning);
  if (entries.empty()) return;

  // Names the directory already has are settled first, asking once each (or once for all).
  const std::string dirPath = m_doc.FullPath(*dir);
  std::vector<dialogs::ConflictChoice> plan(entries.size(), dialogs::ConflictChoice::KeepBoth);
  std::vector<std::size_t> conflicts;
  for (std::size_t i = 0; i < entries.size(); ++i)
    if (dir->FindChild(StoredName(*dir, entries[i]->Name()))) conflicts.push_back(i);
  std::optional<dialogs::ConflictChoice> forAll;
  for (std::size_t k = 0; k < conflicts.size(); ++k) {
    dialogs::ConflictChoice& choice = plan[conflicts[k]];
    if (forAll) {
      choice = *forAll;
      continue;
    }
    const dialogs::ConflictAnswer answer = m_prompter->NameConflict(
        this, Q(StoredName(*dir, entries[conflicts[k]]->Name())), Q(dirPath), k + 1 < conflicts.size());
    choice = answer.choice;
    if (answer.forAll) forAll = answer.choice;
  }
  // Found again by path: the questions ran an event loop.
  dir = FindDirectory(dirPath);
  if (!dir) return;
  std::size_t placed = 0;
  for (std::size_t i = 0; i < entries.size(); ++i) placed += plan[i] != dialogs::ConflictChoice::Skip;
  if (placed == 0) return;
  const std::string what = CountedEntries(placed, entries.front()->Name());
  std::vector<CPackObject*> added;
  EditTree(S(command) + " " + what, [&](CTreeEdit& edit) {
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (plan[i] == dialogs::ConflictChoice::Skip) continue;
      if (plan[i] == dialogs::ConflictChoice::Replace)
        if (CPackObject* old = dir->FindChild(StoredName(*dir, entries[i]->Name()))) edit.Remove(*old);
      added.push_back(entries[i].get());
      edit.Insert(*dir, std::move(entries[i]));
    }
    return dir;
  });
  ShowAdded(dir, added, false);
  statusBar()->showMessage(
      QString("%1 %2 into %3.").arg(command == "Paste" ? "Pasted" : "Copied", Q(what), PlaceOf(*dir)), kReportMs);
}

QString CMainFrame::PlaceOf(const CPackObject& dir) const {
  const std::string path = m_doc.FullPath(dir);
  return path.empty() ? QString("the archive's root") : Q(Quoted(path));
}

void CMainFrame::ShowAdded(CPackObject* dir, const std::vector<CPackObject*>& added, bool reveal) {
  if (!dir || added.empty()) return;
  if (reveal && m_list->ListModel()->Filtering()) m_list->ClearFilter();
  if (reveal && m_list->CurrentDirectory() != dir) m_tree->SelectDirectory(dir);
  if (m_list->CurrentDirectory() != dir || m_list->ListModel()->SearchingArchive()) return;
  m_list->RevealEntries(added);
}

void CMainFrame::MoveEntries(const QStringList& paths, CPackObject* dir) {
  std::vector<CPackObject*> entries;
  for (const QString& p : paths)
    if (CPackObject* e = m_doc.FindFullPath(S(p)); e && e->Parent() && e->Parent() != dir) entries.push_back(e);
  entries = Outermost(entries);
  std::erase_if(entries, [&](CPackObject* e) { return dir->IsInside(e); });
  if (entries.empty()) return;
  const std::string what = CountedEntries(entries.size(), entries.front()->Name());
  EditTree("Move " + what, [&](CTreeEdit& edit) {
    for (CPackObject* e : entries) edit.Move(*e, *dir);
    return nullptr;
  });
  // The entries leave the list without a trace; the status bar says where they went.
  statusBar()->showMessage(QString("Moved %1 to %2. Undo (Ctrl+Z) brings %3 back.")
                               .arg(Q(what), PlaceOf(*dir), entries.size() == 1 ? "it" : "them"),
                           kReportMs);
}

CPackObject* CMainFrame::DirectoryHolding(const CPackObject* entry, const std::string& dirPath) {
  const auto holds = [entry](const CPackObject& dir) {
    for (const CPackObject* c : dir.Children())
      if (c == entry) return true;
    return false;
  };
  if (CPackObject* dir = FindDirectory(dirPath); dir && holds(*dir)) return dir;
  std::vector<CPackObject*> stack{&m_doc.Root()};
  while (!stack.empty()) {
    CPackObject* dir = stack.back();
    stack.pop_back();
    if (holds(*dir)) return dir;
    for (CPackObject* c : dir->Children()) {
      if (c->IsDirectory()) stack.push_back(c);
      else if (FormatOfName(c->Name()))
        if (CPackObject* inner = m_doc.InnerRoot(*c)) stack.push_back(inner);
    }
  }
  return nullptr;
}

CPackObject* CMainFrame::FindDirectory(const std::string& path) {
  CPackObject* dir = path.empty() ? &m_doc.Root() : m_doc.FindFullPath(path);
  // A path that ends at an archive's file names the archive opened inside it.
  if (dir && !dir->IsDirectory()) dir = m_doc.InnerRoot(*dir);
  return dir && dir->IsDirectory() ? dir : nullptr;
}

}  // namespace tarn::browser
