#include "browser/commands/EditController.h"

#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QPointer>
#include <QStatusBar>
#include <QStyle>
#include <unordered_set>

#include "archive/ContainerFormat.h"
#include "archive/EntryNames.h"
#include "browser/MainFrame.h"
#include "browser/PackListView.h"
#include "browser/PackModels.h"
#include "browser/PackTreeView.h"
#include "browser/commands/TransferController.h"
#include "dialogs/Text.h"
#include "dialogs/WaitCursor.h"
#include "dialogs/WorkDialog.h"
#include "fileio/ByteIO.h"
#include "fileio/Strings.h"

namespace tarn::browser {

using dialogs::Q;
using dialogs::S;

CEditController::CEditController(CMainFrame& frame) : QObject(&frame), m_frame(frame), m_doc(frame.m_doc) {
  QStyle* st = frame.style();
  m_cmd.undo = frame.AddCommand(
      this, "actionUndo", "&Undo", "Take back the last change", [this] { OnUndo(); }, QKeySequence::Undo);
  m_cmd.undo->setIcon(st->standardIcon(QStyle::SP_ArrowBack));
  m_cmd.redo = frame.AddCommand(this, "actionRedo", "&Redo", "Make the change taken back again", [this] { OnRedo(); });
  m_cmd.redo->setShortcuts({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
  m_cmd.redo->setIcon(st->standardIcon(QStyle::SP_ArrowForward));
  m_cmd.cut = frame.AddCommand(
      this, "actionCut", "Cu&t", "Move the selected entries to the clipboard", [this] { OnCut(); }, QKeySequence::Cut);
  m_cmd.copy = frame.AddCommand(
      this, "actionCopy", "&Copy", "Copy the selected entries to the clipboard", [this] { OnCopy(); },
      QKeySequence::Copy);
  m_cmd.paste = frame.AddCommand(
      this, "actionPaste", "&Paste", "Paste entries from the clipboard into the directory", [this] { OnPaste(); },
      QKeySequence::Paste);
  m_cmd.duplicate = frame.AddCommand(
      this, "actionDuplicate", "Dupl&icate", "Copy the selected entries beside themselves", [this] { OnDuplicate(); },
      QKeySequence(Qt::CTRL | Qt::Key_D));
  m_cmd.selectAll = frame.AddCommand(
      this, "actionSelectAll", "Select &All", "Select every entry the list shows", [this] { OnSelectAll(); },
      QKeySequence::SelectAll);
  m_cmd.filter = frame.AddCommand(
      this, "actionFilter", "&Filter...", "Narrow the list to the names that match, here or in the whole archive",
      [this] { m_frame.m_list->FocusFilter(); }, QKeySequence::Find);
  m_cmd.newDirectory = frame.AddCommand(this, "actionNewDirectory", "&New Directory",
                                        "Create a directory in the selected directory", [this] { OnNewDirectory(); });
  // F2 renames in place in the view that has the focus; the menu's command asks in a dialog.
  m_cmd.rename =
      frame.AddCommand(this, "actionRename", "Rena&me...\tF2", "Rename the selected entry", [this] { OnRename(); });
  m_cmd.replaceFromFile =
      frame.AddCommand(this, "actionReplaceFromFile", "R&eplace from File...",
                       "Give the selected file the contents of a file on disk", [this] { OnReplaceFromFile(); });
  m_cmd.deleteEntries = frame.AddCommand(
      this, "actionDelete", "&Delete\tDel", "Delete the selected entries", [this] { OnDelete(); },
      QKeySequence::Delete);
  m_cmd.deleteEntries->setIcon(st->standardIcon(QStyle::SP_TrashIcon));
}

void CEditController::UpdateCommands(const CommandState& state) {
  const auto& [treeDir, sel, only, tree, shadowed] = state;
  // A copy that a game folder's file hides is only looked at.
  m_cmd.rename->setEnabled(tree ? treeDir && treeDir->Parent() : only && only->Parent() && !shadowed);
  m_cmd.deleteEntries->setEnabled(tree ? treeDir && treeDir->Parent() : !sel.empty() && !shadowed);
  m_cmd.cut->setEnabled(m_cmd.deleteEntries->isEnabled());
  m_cmd.duplicate->setEnabled(m_cmd.deleteEntries->isEnabled());
  m_cmd.replaceFromFile->setEnabled(!tree && only && !only->IsDirectory() && !shadowed);
  m_cmd.selectAll->setEnabled(m_frame.m_listModel->rowCount() > 0);
  m_cmd.copy->setEnabled(tree ? treeDir && treeDir->Parent() : !sel.empty());
  const QMimeData* clip = QApplication::clipboard()->mimeData();
  m_cmd.paste->setEnabled(clip && clip->hasFormat(kPackObjectMime) && m_frame.PasteTarget() != nullptr);
  // "Undo Delete 3 entries": what the command would take back.
  auto history = [&](QAction* a, const QString& verb, const CUndoCommand* next) {
    a->setEnabled(next != nullptr);
    const QString text = next ? QString("&%1 %2").arg(verb, Q(next->Text())) : "&" + verb;
    if (a->text() != text) {
      a->setText(text);
      a->setToolTip(CommandToolTip(*a));
    }
  };
  history(m_cmd.undo, "Undo", m_doc.History().NextUndo());
  history(m_cmd.redo, "Redo", m_doc.History().NextRedo());
}

void CEditController::OnNewDirectory() {
  // In the directory row the command was given on (from the list's context menu, say), else in
  // the directory the tree shows.
  const auto sel = m_frame.ListSelection();
  CPackObject* dir =
      !m_frame.m_treeFocused && sel.size() == 1 && sel.front()->IsDirectory() ? sel.front() : m_frame.TreeSelection();
  if (!dir) dir = &m_doc.Root();
  std::string name = "untitled";
  for (int n = 1; dir->FindChild(name); ++n) name = "untitled" + std::to_string(n);
  CPackObject* made = nullptr;
  m_frame.EditTree("New Directory", [&](CTreeEdit& edit) {
    auto directory = std::make_unique<CPackObject>();
    directory->Rename(name);
    directory->SetDirectory(true);
    return made = edit.Insert(*dir, std::move(directory));
  });
  // The name is the user's next step: it is open for typing where the new directory shows.
  if (made) m_frame.m_tree->EditName(made);
}

void CEditController::OnRename() {
  if (!m_cmd.rename->isEnabled()) return;
  auto targets = m_frame.Targets();
  if (targets.size() != 1 || !targets.front()->Parent()) return;
  CPackObject* entry = targets.front();
  auto answer = m_frame.Prompter().NewName(&m_frame, Q(entry->Name()));
  if (answer) RenameTo(entry, *answer);
}

bool CEditController::RenameTo(CPackObject* entry, const QString& name) {
  const NewNameCheck check = CheckNewName(*entry, S(name));
  switch (check.problem) {
    case NewNameProblem::Empty:
      m_frame.Message("The name cannot be empty.", "Rename", QMessageBox::Warning);
      return false;
    case NewNameProblem::Separator:
      m_frame.Message("A name cannot contain \"/\".", "Rename", QMessageBox::Warning);
      return false;
    case NewNameProblem::Taken:
      m_frame.Message(QString("An entry named \"%1\" already exists in this directory.").arg(Q(check.taken->Name())),
                      "Rename", QMessageBox::Warning);
      return false;
    case NewNameProblem::Unfit: m_frame.Message(Q(check.reason) + ".", "Rename", QMessageBox::Warning); return false;
    case NewNameProblem::None: break;
  }
  if (check.stored == entry->Name()) return true;
  const bool directory = entry->IsDirectory();
  m_frame.EditTree("Rename " + Quoted(entry->Name()), [&](CTreeEdit& edit) -> const CPackObject* {
    edit.Rename(*entry, check.stored);
    return m_frame.m_treeFocused && directory ? entry : nullptr;
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

void CEditController::OnDelete() {
  if (!m_cmd.deleteEntries->isEnabled()) return;
  DeleteEntries(Outermost(m_frame.Targets()), "Delete");
}

void CEditController::DeleteEntries(const std::vector<CPackObject*>& targets, const std::string& verb) {
  if (targets.empty()) return;
  const std::string what = CountedEntries(targets.size(), targets.front()->Name());
  // The row after the last one taken (else the one before the first) is selected afterwards,
  // so that Delete pressed again goes on down the list.
  CPackObject* next = nullptr;
  if (!m_frame.m_treeFocused) {
    const CPackListModel* model = m_frame.m_list->ListModel();
    std::unordered_set<const CPackObject*> going(targets.begin(), targets.end());
    int first = model->rowCount(), last = -1;
    for (const CPackObject* e : targets)
      if (const int row = model->RowOf(e); row >= 0) first = std::min(first, row), last = std::max(last, row);
    for (int r = last + 1; r < model->rowCount() && !next; ++r)
      if (!going.count(model->EntryAt(r))) next = model->EntryAt(r);
    for (int r = first - 1; r >= 0 && !next; --r)
      if (!going.count(model->EntryAt(r))) next = model->EntryAt(r);
  }
  m_frame.EditTree(verb + " " + what, [&](CTreeEdit& edit) -> const CPackObject* {
    // The parent of a deleted directory that held what the list shows is shown instead.
    const CPackObject* select = nullptr;
    CPackObject* shown = m_frame.TreeSelection();
    for (CPackObject* e : targets)
      if (shown && shown->IsInside(e)) select = e->Parent();
    for (CPackObject* e : targets) edit.Remove(*e);
    return select;
  });
  if (next && next->Parent() == m_frame.m_list->CurrentDirectory()) m_frame.m_list->SelectEntries({next});
  // No question before deleting: it can be undone, and the status bar says how.
  m_frame.statusBar()->showMessage(
      QString("%1 %2. Undo (Ctrl+Z) brings %3 back.")
          .arg(verb == "Cut" ? "Cut" : "Deleted", Q(what), targets.size() == 1 ? "it" : "them"),
      CMainFrame::kReportMs);
}

void CEditController::StepHistory(bool back) {
  const CUndoCommand* command = back ? m_doc.History().NextUndo() : m_doc.History().NextRedo();
  if (!command) return;
  const QString text = Q(command->Text());
  std::vector<CPackObject*> touched;
  if (const auto* edit = dynamic_cast<const CTreeEdit*>(command)) touched = edit->Entries();
  m_frame.ChangeTree([&]() -> const CPackObject* {
    if (back) m_doc.Undo();
    else m_doc.Redo();
    return nullptr;
  });
  // What came back (or went again) is selected where the list shows it.
  std::vector<CPackObject*> shown;
  for (CPackObject* e : touched)
    if (e->Parent() && e->Parent() == m_frame.m_list->CurrentDirectory()) shown.push_back(e);
  if (!shown.empty()) m_frame.m_list->SelectEntries(shown);
  m_frame.statusBar()->showMessage((back ? "Undone: " : "Redone: ") + text, CMainFrame::kReportMs);
}

void CEditController::OnUndo() { StepHistory(true); }
void CEditController::OnRedo() { StepHistory(false); }

// --- clipboard and drags ---

QByteArray CEditController::EntryStream(const std::vector<CPackObject*>& entries, QStringList* unreadable) const {
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

void CEditController::OnCopy() {
  auto targets = m_frame.Targets();
  if (targets.empty()) return;
  QStringList unreadable;
  auto* mime = new QMimeData;
  mime->setData(kPackObjectMime, EntryStream(targets, &unreadable));
  QApplication::clipboard()->setMimeData(mime);
  if (!unreadable.isEmpty()) {
    QString text = "These files could not be read and were copied empty:";
    for (const auto& u : unreadable) text += "\n  " + u;
    m_frame.Message(text, "Copy", QMessageBox::Warning);
  }
}

void CEditController::OnCut() {
  if (!m_cmd.cut->isEnabled()) return;
  const auto targets = Outermost(m_frame.Targets());
  if (targets.empty()) return;
  QStringList unreadable;
  const QByteArray stream = EntryStream(targets, &unreadable);
  // A file whose bytes cannot be read would be lost by a cut: nothing is taken.
  if (!unreadable.isEmpty()) {
    m_frame.Message("These files could not be read, so nothing was cut:\n  " + unreadable.join("\n  "), "Cut",
                    QMessageBox::Warning);
    return;
  }
  auto* mime = new QMimeData;
  mime->setData(kPackObjectMime, stream);
  QApplication::clipboard()->setMimeData(mime);
  DeleteEntries(targets, "Cut");
}

void CEditController::OnDuplicate() {
  if (!m_cmd.duplicate->isEnabled()) return;
  const auto targets = Outermost(m_frame.Targets());
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
    m_frame.Message("These files could not be read, so nothing was duplicated:\n  " + unreadable.join("\n  "),
                    "Duplicate", QMessageBox::Warning);
    return;
  }
  std::vector<CPackObject*> made;
  m_frame.EditTree("Duplicate " + CountedEntries(copies.size(), targets.front()->Name()),
                   [&](CTreeEdit& edit) -> const CPackObject* {
                     for (auto& [dir, copy] : copies)
                       if (CPackObject* placed = edit.Insert(*dir, std::move(copy))) made.push_back(placed);
                     return nullptr;
                   });
  if (!m_frame.m_treeFocused) m_frame.m_list->SelectEntries(made);
}

void CEditController::OnSelectAll() {
  m_frame.m_list->SelectAll();
  m_frame.m_list->ActiveView()->setFocus(Qt::ShortcutFocusReason);
}

void CEditController::OnReplaceFromFile() {
  if (!m_cmd.replaceFromFile->isEnabled()) return;
  const auto sel = m_frame.ListSelection();
  if (sel.size() != 1) return;
  const std::string path = m_doc.FullPath(*sel.front()), name = sel.front()->Name();
  const QString file =
      m_frame.Prompter().OpenFileName(&m_frame, "Replace " + Q(Quoted(name)) + " with", "All Files (*)");
  if (file.isEmpty()) return;
  // Found again: the question ran an event loop.
  CPackObject* entry = m_doc.FindFullPath(path);
  if (!entry || entry->IsDirectory() || !entry->Parent()) return;
  auto staging = std::make_unique<CPackObject>();
  staging->SetDirectory(true);
  std::string why;
  ImportOptions options;
  if (!staging->ImportFile(S(file), options, &why)) {
    m_frame.Message(QString("Could not read %1: %2.").arg(file, Q(why)), "Replace from File", QMessageBox::Warning);
    return;
  }
  CPackObject* dir = entry->Parent();
  std::unique_ptr<CPackObject> replacement = staging->DetachChild(*staging->Children().begin());
  CPackObject* placed = nullptr;
  m_frame.EditTree("Replace " + Quoted(name), [&](CTreeEdit& edit) -> const CPackObject* {
    edit.Remove(*entry);
    placed = edit.Insert(*dir, std::move(replacement));
    // The entry keeps its name exactly as the archive has it.
    if (placed) edit.Rename(*placed, name);
    return nullptr;
  });
  if (placed) m_frame.m_list->SelectEntries({placed});
}

void CEditController::OnPaste() {
  const QMimeData* mime = QApplication::clipboard()->mimeData();
  CPackObject* dir = m_frame.PasteTarget();
  if (!mime || !mime->hasFormat(kPackObjectMime) || !dir) return;
  PasteStream(mime->data(kPackObjectMime), dir, "Paste");
}

void CEditController::PasteStream(const QByteArray& data, CPackObject* dir, const QString& command) {
  // Read on a worker: the bytes of large entries go to temporary files meanwhile.
  std::vector<std::unique_ptr<CPackObject>> entries;
  std::string error;
  dialogs::CWorkDialog work(&m_frame, command == "Paste" ? "Pasting" : "Copying");
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
    m_frame.Message("The clipboard does not hold entries Tarn can read (" + Q(error) + ").", command,
                    QMessageBox::Warning);
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
    m_frame.Message("These entries were not pasted:\n" + refused.join("\n"), command, QMessageBox::Warning);
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
    const dialogs::ConflictAnswer answer = m_frame.Prompter().NameConflict(
        &m_frame, Q(StoredName(*dir, entries[conflicts[k]]->Name())), Q(dirPath), k + 1 < conflicts.size());
    choice = answer.choice;
    if (answer.forAll) forAll = answer.choice;
  }
  // Found again by path: the questions ran an event loop.
  dir = m_frame.FindDirectory(dirPath);
  if (!dir) return;
  std::size_t placed = 0;
  for (std::size_t i = 0; i < entries.size(); ++i) placed += plan[i] != dialogs::ConflictChoice::Skip;
  if (placed == 0) return;
  const std::string what = CountedEntries(placed, entries.front()->Name());
  std::vector<CPackObject*> added;
  m_frame.EditTree(S(command) + " " + what, [&](CTreeEdit& edit) {
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (plan[i] == dialogs::ConflictChoice::Skip) continue;
      if (plan[i] == dialogs::ConflictChoice::Replace)
        if (CPackObject* old = dir->FindChild(StoredName(*dir, entries[i]->Name()))) edit.Remove(*old);
      added.push_back(entries[i].get());
      edit.Insert(*dir, std::move(entries[i]));
    }
    return dir;
  });
  m_frame.ShowAdded(dir, added, false);
  m_frame.statusBar()->showMessage(
      QString("%1 %2 into %3.").arg(command == "Paste" ? "Pasted" : "Copied", Q(what), m_frame.PlaceOf(*dir)),
      CMainFrame::kReportMs);
}

void CEditController::MoveEntries(const QStringList& paths, CPackObject* dir) {
  std::vector<CPackObject*> entries;
  for (const QString& p : paths)
    if (CPackObject* e = m_doc.FindFullPath(S(p)); e && e->Parent() && e->Parent() != dir) entries.push_back(e);
  entries = Outermost(entries);
  std::erase_if(entries, [&](CPackObject* e) { return dir->IsInside(e); });
  if (entries.empty()) return;
  const std::string what = CountedEntries(entries.size(), entries.front()->Name());
  m_frame.EditTree("Move " + what, [&](CTreeEdit& edit) {
    for (CPackObject* e : entries) edit.Move(*e, *dir);
    return nullptr;
  });
  // The entries leave the list without a trace; the status bar says where they went.
  m_frame.statusBar()->showMessage(QString("Moved %1 to %2. Undo (Ctrl+Z) brings %3 back.")
                                       .arg(Q(what), m_frame.PlaceOf(*dir), entries.size() == 1 ? "it" : "them"),
                                   CMainFrame::kReportMs);
}

void CEditController::Drop(const DroppedEntries& drop, CPackObject* dir, bool copy) {
  // Entries are dropped by their paths: keeping the text typed in the pane leaves them there.
  if (!m_frame.KeepPreviewEdits()) return;
  switch (drop.kind) {
    case DroppedEntries::Own:
      if (drop.from == m_frame.m_transfer && !copy) MoveEntries(drop.paths, dir);
      else if (drop.from) PasteStream(drop.from->StreamForDrag(drop.paths), dir, "Copy");
      break;
    case DroppedEntries::Stream: PasteStream(drop.stream, dir, "Copy"); break;
    case DroppedEntries::Files: m_frame.m_transfer->ImportPaths(dir, drop.paths); break;
    case DroppedEntries::None: break;
  }
}

}  // namespace tarn::browser
