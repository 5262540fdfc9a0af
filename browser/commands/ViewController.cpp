#include "browser/commands/ViewController.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QPointer>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>

#include "archive/ContainerFormat.h"
#include "browser/Icons.h"
#include "browser/MainFrame.h"
#include "browser/PackListView.h"
#include "browser/PackModels.h"
#include "browser/PackTreeView.h"
#include "browser/PreviewPane.h"
#include "browser/commands/EditController.h"
#include "browser/commands/FileController.h"
#include "dialogs/Settings.h"
#include "dialogs/Text.h"
#include "dialogs/WaitCursor.h"
#include "fileio/Strings.h"
#include "viewers/Previews.h"
#include "viewers/Sound.h"
#include "viewers/ViewerFrame.h"
#include "viewers/ViewerRegistry.h"

namespace tarn::browser {

using dialogs::Q;
using dialogs::S;

namespace {

// A file whose name says it holds an archive, which opening goes into.
bool IsArchiveFile(const CPackObject& e) { return !e.IsDirectory() && FormatOfName(e.Name()).has_value(); }

}  // namespace

CViewController::CViewController(CMainFrame& frame) : QObject(&frame), m_frame(frame), m_doc(frame.m_doc) {
  QStyle* st = frame.style();
  m_cmd.view =
      frame.AddCommand(this, "actionView", "&View", "Show, play or read the selected file", [this] { OnView(); });
  m_cmd.viewSkin = frame.AddCommand(this, "actionViewSkin", "View S&kin", "Show the skins of the selected Quake model",
                                    [this] { OnViewSkin(); });
  m_cmd.stopSound = frame.AddCommand(
      this, "actionStopSound", "S&top Sound", "Stop the sound that is playing", [this] { StopSound(); },
      QKeySequence(Qt::Key_Escape));
  m_cmd.stopSound->setIcon(st->standardIcon(QStyle::SP_MediaStop));
  m_cmd.upOneLevel = frame.AddCommand(this, "actionUpOneLevel", "&Up One Level", "Show the directory above this one",
                                      [this] { OnUpOneLevel(); });
  m_cmd.upOneLevel->setShortcuts({QKeySequence(Qt::Key_Backspace), QKeySequence(Qt::ALT | Qt::Key_Up)});
  m_cmd.upOneLevel->setIcon(st->standardIcon(QStyle::SP_FileDialogToParent));

  m_styleGroup = new QActionGroup(this);
  struct StyleAction {
    QAction* Commands::*command;
    const char* name;
    const char* text;
    const char* tip;
    int style;
  };
  for (const StyleAction& s :
       {StyleAction{&Commands::largeIcons, "actionLargeIcons", "&Large Icons", "Show the entries as large icons", 0},
        StyleAction{&Commands::smallIcons, "actionSmallIcons", "&Small Icons", "Show the entries as small icons", 2},
        StyleAction{&Commands::list, "actionList", "Lis&t", "Show the entries as a list", 3},
        StyleAction{&Commands::details, "actionDetails", "&Details", "Show the entries with their sizes", 1}}) {
    QAction* a = m_cmd.*s.command = frame.AddCommand(this, s.name, s.text, s.tip, nullptr);
    a->setCheckable(true);
    a->setIcon(ListStyleIcon(s.style));
    a->setData(s.style);
    m_styleGroup->addAction(a);
    const int value = s.style;
    connect(a, &QAction::triggered, this, [this, value] { SetViewType(value); });
  }
  m_cmd.thumbnails = frame.AddCommand(
      this, "actionThumbnails", "Show Thumbna&ils",
      "Show pictures, textures, sprites and model skins as their own pictures in the icon views", nullptr);
  m_cmd.thumbnails->setCheckable(true);
  connect(m_cmd.thumbnails, &QAction::toggled, this, [this](bool on) { m_frame.m_list->SetThumbnailsShown(on); });
  m_cmd.previewPane = frame.AddCommand(this, "actionPreviewPane", "&Preview Pane",
                                       "Show the selected entry beside the list", nullptr, QKeySequence(Qt::Key_F3));
  m_cmd.previewPane->setCheckable(true);
  m_cmd.previewBelow = frame.AddCommand(this, "actionPreviewBelow", "Preview &Below the List",
                                        "Put the preview pane below the list rather than beside it", nullptr);
  m_cmd.previewBelow->setCheckable(true);
  connect(m_cmd.previewPane, &QAction::toggled, this,
          [this](bool on) { ShowPreviewPane(on, m_cmd.previewBelow->isChecked()); });
  connect(m_cmd.previewBelow, &QAction::toggled, this,
          [this](bool below) { ShowPreviewPane(m_cmd.previewPane->isChecked(), below); });
  m_cmd.about =
      frame.AddCommand(this, "actionAbout", "&About Tarn...", "Show Tarn's version and licence", [this] { OnAbout(); });
  m_cmd.about->setIcon(st->standardIcon(QStyle::SP_MessageBoxInformation));

  m_previewTimer = new QTimer(this);
  m_previewTimer->setSingleShot(true);
  m_previewTimer->setInterval(0);
  connect(m_previewTimer, &QTimer::timeout, this, &CViewController::UpdatePreview);
  // The window's one player: a second sound replaces the first, and the status bar and the Stop
  // Sound command follow it.
  m_player = new viewers::CSoundPlayer(&frame);
  connect(m_player, &viewers::CSoundPlayer::playing, this, &CViewController::ShowPlaying);
  connect(m_player, &viewers::CSoundPlayer::finished, this, [this] { ShowPlaying(QString()); });
}

void CViewController::UpdateCommands(const CommandState& state) {
  [[maybe_unused]] const auto& [treeDir, sel, only, tree, shadowed] = state;
  m_cmd.upOneLevel->setEnabled(m_frame.m_treeModel->NodeParent(treeDir) != nullptr);
  // Every file has a viewer: its kind's, or the text or hex view.
  m_cmd.view->setEnabled(!tree && only && !only->IsDirectory());
  m_cmd.viewSkin->setEnabled(!tree && only && !only->IsDirectory() && EndsWith(ToLower(only->Name()), ".mdl"));
  m_cmd.stopSound->setEnabled(IsPlaying());
  for (QAction* a : m_styleGroup->actions()) a->setChecked(a->data().toInt() == m_frame.m_list->ViewType());
}

std::vector<viewers::CViewerFrame*> CViewController::Viewers(bool all) const {
  std::vector<viewers::CViewerFrame*> found;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* v = qobject_cast<viewers::CViewerFrame*>(w); v && v->MainWindow() == &m_frame && (all || !v->isHidden()))
      found.push_back(v);
  return found;
}

bool CViewController::CloseViewers() {
  for (viewers::CViewerFrame* v : Viewers()) {
    // Brought forward, so that the user sees what the question is about.
    v->raise();
    if (!v->close()) return false;
  }
  return true;
}

void CViewController::DiscardViewers() {
  for (viewers::CViewerFrame* v : Viewers(true)) {
    if (!v->isHidden()) v->CloseDiscarding();
    delete v;
  }
}

void CViewController::OnUpOneLevel() {
  CPackObject* dir = m_frame.TreeSelection();
  // Out of an archive opened inside another, to the directory holding its file.
  if (CPackObject* up = m_frame.m_treeModel->NodeParent(dir)) m_frame.m_tree->SelectDirectory(up);
}

bool CViewController::OpenInnerArchive(CPackObject& holder, bool expand) {
  std::string why;
  CPackObject* inner = nullptr;
  const bool openedBefore = m_doc.InnerRoot(holder) != nullptr;
  {
    dialogs::CWaitCursor wait;
    inner = m_doc.OpenInner(holder, &why);
  }
  if (!inner) {
    m_frame.m_status->setText(Q(why));
    // The tree is left on the directory holding the file, which the list then shows chosen.
    if (CPackObject* dir = holder.Parent(); dir && m_frame.TreeSelection() != dir) m_frame.m_tree->SelectDirectory(dir);
    m_frame.m_list->SelectEntries({&holder});
    return false;
  }
  if (m_frame.m_list->ListModel()->SearchingArchive()) m_frame.m_list->ClearFilter();
  m_frame.ChangeTree([inner] { return inner; });
  if (expand) m_frame.m_tree->expand(m_frame.m_treeModel->IndexOf(inner));
  m_frame.m_status->setText(
      QString("%1: %2 inside %3").arg(Q(m_doc.FullPath(holder)), FormatName(inner->Format()), Q(m_doc.Title())));
  // Gone into for the first time: what reading it found wrong, as for the archive opened alone.
  if (const CTarnDoc* innerDoc = m_doc.InnerDocument(*inner); innerDoc && !openedBefore)
    m_frame.m_files->ShowOpenProblems(*innerDoc);
  return true;
}

void CViewController::OpenArchivesToSearch() {
  // A search of the whole archive means what the user sees in it, gfx.wad's lumps included,
  // whether or not that file was gone into. Large ones are left until they are: each is
  // copied out to be read, and this runs on a keystroke.
  constexpr std::int64_t kLargest = 64 << 20;
  // Read off the name's last four characters: a path made of each name of 100,000 costs more
  // than the search it comes before.
  const auto archiveName = [](const std::string& n) {
    return n.size() > 4 && n[n.size() - 4] == '.' && FormatOfWord(std::string_view(n).substr(n.size() - 3));
  };
  const auto closed = [this, &archiveName](CPackObject& root) {
    std::vector<CPackObject*> found, stack{&root};
    while (!stack.empty()) {
      CPackObject* d = stack.back();
      stack.pop_back();
      for (CPackObject* c : d->Children()) {
        if (c->IsDirectory()) stack.push_back(c);
        else if (!archiveName(c->Name())) continue;
        else if (CPackObject* inner = m_doc.InnerRoot(*c)) stack.push_back(inner);
        else if (c->Size() <= kLargest) found.push_back(c);
      }
    }
    return found;
  };
  std::vector<CPackObject*> due = closed(m_doc.Root());
  if (due.empty()) return;
  dialogs::CWaitCursor wait;
  m_frame.ChangeTree([&]() -> const CPackObject* {
    // Inner archives may hold archives in turn; each round opens one level deeper.
    while (!due.empty()) {
      std::vector<CPackObject*> next;
      for (CPackObject* holder : due) {
        // One that cannot be read is searched as the file it is; going into it says why.
        if (CPackObject* inner = m_doc.OpenInner(*holder, nullptr))
          for (CPackObject* more : closed(*inner)) next.push_back(more);
      }
      due = std::move(next);
    }
    return nullptr;
  });
}

void CViewController::SetViewType(int style) {
  m_frame.m_list->SetViewType(style);
  m_frame.UpdateCommandUI();
}

viewers::ViewContext CViewController::ViewerContext() {
  viewers::ViewContext context;
  context.mainWindow = &m_frame;
  context.prompter = m_frame.m_prompter.get();
  context.player = m_player;
  context.tellProblem = [this](const QString& text) { TellViewProblem(text); };
  context.textSaver = [this](CPackObject& entry) { return TextSaverFor(entry); };
  context.document = &m_doc;
  context.besideWriter = [this](CPackObject& entry) { return BesideWriterFor(entry); };
  context.entryEditing = [this](CPackObject& entry) { return EntryEditingFor(entry); };
  return context;
}

void CViewController::ViewEntry(CPackObject& entry, bool skin) {
  if (m_viewHandler) m_viewHandler(m_frame, entry, skin);
  else viewers::OpenViewer(entry, skin, ViewerContext());
}

void CViewController::ViewFromCommandLine(CPackObject& entry) {
  m_loudViewProblems = true;
  ViewEntry(entry, false);
  m_loudViewProblems = false;
}

void CViewController::TellViewProblem(const QString& text) {
  if (m_loudViewProblems) m_frame.Prompter().Message(&m_frame, text, "Tarn", QMessageBox::Warning);
  else m_frame.statusBar()->showMessage(text, 5000);
}

void CViewController::OnView() {
  auto sel = m_frame.ListSelection();
  if (m_frame.m_treeFocused || sel.size() != 1 || sel.front()->IsDirectory()) return;
  ViewEntry(*sel.front(), false);
}

void CViewController::OnViewSkin() {
  auto sel = m_frame.ListSelection();
  if (m_frame.m_treeFocused || sel.size() != 1 || !EndsWith(ToLower(sel.front()->Name()), ".mdl")) return;
  ViewEntry(*sel.front(), true);
}

bool CViewController::IsPlaying() const { return m_player->IsPlaying(); }

void CViewController::ShowPlaying(const QString& text) {
  const bool was = m_frame.m_playing->isVisibleTo(&m_frame);
  m_frame.m_playing->setText(text);
  m_frame.m_playing->setVisible(!text.isEmpty());
  // The text changes as the sound goes on; the commands only when it starts or ends.
  if (was != !text.isEmpty()) m_frame.UpdateCommandUI();
}

void CViewController::StopSound() { m_player->Stop(); }

// --- preview pane ---

void CViewController::ShowPreviewPane(bool shown, bool below) {
  for (auto [a, on] : {std::pair{m_cmd.previewPane, shown}, std::pair{m_cmd.previewBelow, below}}) {
    const QSignalBlocker block(a);
    a->setChecked(on);
  }
  m_frame.m_listSplitter->setOrientation(below ? Qt::Vertical : Qt::Horizontal);
  m_frame.m_pane->setVisible(shown);
  FitPreviewPane();
  dialogs::WriteProfileInt("Startup", "PreviewPane", shown ? 1 : 0);
  dialogs::WriteProfileInt("Startup", "PreviewBelow", below ? 1 : 0);
  RefreshPreview();
}

void CViewController::FitPreviewPane() {
  // Two fifths of the room, unless the user has given it a size of its own.
  const bool below = m_frame.m_listSplitter->orientation() == Qt::Vertical;
  const int room = below ? m_frame.m_listSplitter->height() : m_frame.m_listSplitter->width();
  const int pane = below ? m_frame.m_pane->height() : m_frame.m_pane->width();
  if (m_frame.m_pane->isVisible() && room > 0 && pane < room / 4)
    m_frame.m_listSplitter->setSizes({room * 3 / 5, room * 2 / 5});
}

void CViewController::RefreshPreview() {
  m_previewed = nullptr;
  m_previewTimer->start();
}

void CViewController::UpdatePreview() {
  const auto sel = m_frame.ListSelection();
  if (!m_frame.m_pane->isHidden() && sel.size() == 1 && sel.front() == m_previewed) return;
  // Text typed in the pane goes into the archive before the pane shows anything else, and the
  // pane is shown afresh with the change; while it cannot, the text stays in sight.
  if (m_frame.m_pane->HasChanges()) {
    if (m_frame.KeepPreviewEdits()) RefreshPreview();
    return;
  }
  if (m_frame.m_pane->isHidden()) {
    // Nothing is read for a pane nobody sees; what it showed goes (its timers with it).
    if (m_previewed) m_frame.m_pane->ShowNothing(QString());
    m_previewed = nullptr;
    return;
  }
  if (sel.size() == 1) {
    m_previewed = sel.front();
    m_frame.m_pane->ShowEntry(*sel.front(), ViewerContext());
    return;
  }
  m_previewed = nullptr;
  m_frame.m_pane->ShowNothing(sel.empty() ? QString("Select an entry to see it here.")
                                          : QString("%1 entries selected.").arg(sel.size()));
}

void CViewController::OnEntryActivated(CPackObject* entry) {
  if (!entry) return;
  // A viewer opened on the entry shows what was typed in the pane; the entry is found again
  // by its path, as keeping the text replaced it.
  if (m_frame.m_pane->HasChanges()) {
    const std::string path = m_doc.FullPath(*entry);
    const bool edited = Q(path) == m_frame.m_pane->ShownPath();
    if (!m_frame.KeepPreviewEdits() || (edited && !(entry = m_doc.FindFullPath(path)))) return;
  }
  if (entry->IsDirectory()) {
    // A directory found in the whole archive is gone into, its own entries shown whole.
    if (m_frame.m_list->ListModel()->SearchingArchive()) m_frame.m_list->ClearFilter();
    m_frame.m_tree->SelectDirectory(entry);
    return;
  }
  // An archive inside the archive is gone into like a directory; one that cannot be read as
  // one is shown as its bytes.
  if (!m_frame.m_listModel->IsShadowed(entry) && IsArchiveFile(*entry) && OpenInnerArchive(*entry, false)) return;
  ViewEntry(*entry, false);
}

void CViewController::OnAbout() {
  m_frame.Prompter().Message(
      &m_frame,
      "Tarn " + QApplication::applicationVersion() +
          "\n\nAn editor for the archives of Quake and Quake II: PAK, PK3 and other zips, WAD2 and WAD3.\n"
          "Licensed under the GNU General Public License, version 3 or later.",
      "About Tarn", QMessageBox::Information);
}

viewers::TextSaver CViewController::TextSaverFor(CPackObject& entry) {
  if (!entry.Parent() || entry.IsDirectory() || m_frame.m_listModel->IsShadowed(&entry)) return {};
  // The entry each save leaves, for the next one: a save puts a new entry in its place.
  auto current = std::make_shared<CPackObject*>(&entry);
  const std::string path = m_doc.FullPath(entry);
  QPointer<CMainFrame> self(&m_frame);
  const std::uint64_t generation = m_frame.m_treeGeneration;
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

viewers::BesideWriter CViewController::BesideWriterFor(CPackObject& entry) {
  if (!entry.Parent() || entry.IsDirectory() || m_frame.m_listModel->IsShadowed(&entry)) return {};
  const std::string dirPath = m_doc.FullPath(*entry.Parent());
  QPointer<CMainFrame> self(&m_frame);
  const std::uint64_t generation = m_frame.m_treeGeneration;
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

viewers::EntryEditing CViewController::EntryEditingFor(CPackObject& entry) {
  if (!entry.Parent() || entry.IsDirectory() || m_frame.m_listModel->IsShadowed(&entry)) return {};
  // Found by its path each time: an edit puts a new entry in the old one's place, and undoing
  // it puts the old one back.
  const std::string path = m_doc.FullPath(entry);
  const auto slash = path.rfind('/');
  const std::string dirPath = slash == std::string::npos ? std::string() : path.substr(0, slash);
  const std::string name = entry.Name();
  QPointer<CMainFrame> self(&m_frame);
  const std::uint64_t generation = m_frame.m_treeGeneration;
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
    if (self) self->m_edit->StepHistory(back);
  };
  editing.watch = [self](QObject* receiver, std::function<void()> changed) {
    if (self) connect(self.data(), &CMainFrame::treeChanged, receiver, std::move(changed));
  };
  return editing;
}

}  // namespace tarn::browser
