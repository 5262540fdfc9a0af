#include "browser/MainFrame.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QRegularExpression>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <algorithm>
#include <optional>

#include "archive/ContainerFormat.h"
#include "archive/EntryNames.h"
#include "browser/GameSession.h"
#include "browser/PackListView.h"
#include "browser/PackModels.h"
#include "browser/PackTreeView.h"
#include "browser/PreviewPane.h"
#include "browser/commands/EditController.h"
#include "browser/commands/FileController.h"
#include "browser/commands/GameController.h"
#include "browser/commands/TransferController.h"
#include "browser/commands/ViewController.h"
#include "dialogs/Settings.h"
#include "dialogs/Text.h"
#include "fileio/Strings.h"
#include "pictures/EntryPictures.h"
#include "viewers/Previews.h"
#include "viewers/Sound.h"
#include "viewers/ViewerFrame.h"

namespace tarn::browser {

using dialogs::Q;
using dialogs::S;

CMainFrame::CMainFrame(CTarnDoc& doc, QWidget* parent)
    : QMainWindow(parent), m_doc(doc), m_prompter(std::make_unique<dialogs::CPrompter>()) {
  setObjectName("mainFrame");
  m_treeModel = new CPackTreeModel(this);
  m_listModel = new CPackListModel(this);
  m_splitter = new QSplitter(Qt::Horizontal, this);
  m_splitter->setObjectName("splitter");
  m_tree = new CPackTreeView(m_treeModel, m_splitter);
  // The list shares its place with the preview pane, beside it or below it.
  m_listSplitter = new QSplitter(Qt::Horizontal, m_splitter);
  m_listSplitter->setObjectName("listSplitter");
  m_list = new CPackListView(m_listModel, m_listSplitter);
  m_pane = new CPreviewPane(m_listSplitter);
  m_listSplitter->addWidget(m_list);
  m_listSplitter->addWidget(m_pane);
  m_listSplitter->setStretchFactor(0, 3);
  m_listSplitter->setStretchFactor(1, 2);
  m_listSplitter->setChildrenCollapsible(false);
  m_tree->resize(160, 160);
  m_list->resize(160, 160);
  m_splitter->addWidget(m_tree);
  m_splitter->addWidget(m_listSplitter);
  m_splitter->setStretchFactor(1, 1);
  m_splitter->setSizes({200, 400});
  setCentralWidget(m_splitter);
  connect(m_pane, &CPreviewPane::changesChanged, this, &CMainFrame::UpdateTitle);

  m_status = new QLabel(this);
  m_status->setObjectName("statusText");
  statusBar()->setObjectName("statusBar");
  statusBar()->addWidget(m_status, 1);
  m_playing = new QLabel(this);
  m_playing->setObjectName("playingText");
  statusBar()->addPermanentWidget(m_playing);
  m_playing->hide();
  m_problemsButton = new QToolButton(this);
  m_problemsButton->setObjectName("problemsButton");
  m_problemsButton->setAutoRaise(true);
  m_problemsButton->setToolTip("Show what the engine would refuse or misread");
  statusBar()->addPermanentWidget(m_problemsButton);
  m_problemsButton->hide();

  m_files = new CFileController(*this);
  m_games = new CGameController(*this);
  m_edit = new CEditController(*this);
  m_transfer = new CTransferController(*this);
  m_views = new CViewController(*this);
  // Made now, once every shortcut is set.
  for (QAction* a : actions()) a->setToolTip(CommandToolTip(*a));
  CreateMenus();
  CreateToolBar();

  m_treeModel->SetDocument(&m_doc);
  m_listModel->SetDocument(&m_doc);
  connect(m_tree, &CPackTreeView::directorySelected, this, [this](CPackObject* dir) {
    // An archive's file chosen in the tree: opened once the view is done with the click.
    if (dir && !dir->IsDirectory()) {
      QTimer::singleShot(0, this, [this, path = m_doc.FullPath(*dir)] {
        if (CPackObject* holder = m_doc.FindFullPath(path)) m_views->OpenInnerArchive(*holder, false);
      });
      return;
    }
    m_list->ShowDirectory(dir);
    UpdateCommandUI();
  });
  connect(m_tree, &QTreeView::expanded, this, [this](const QModelIndex& index) {
    CPackObject* e = m_treeModel->EntryOf(index);
    if (!e || e->IsDirectory()) return;
    QTimer::singleShot(0, this, [this, path = m_doc.FullPath(*e)] {
      if (CPackObject* holder = m_doc.FindFullPath(path)) m_views->OpenInnerArchive(*holder, true);
    });
  });
  connect(m_tree, &CPackTreeView::dropped, m_edit, &CEditController::Drop);
  connect(m_list, &CPackListView::dropped, m_edit, &CEditController::Drop);
  const auto dragData = [this](const std::vector<CPackObject*>& entries) { return m_transfer->DragData(entries); };
  m_treeModel->SetDragData(dragData);
  m_listModel->SetDragData(dragData);
  // The document is taken now: an editor still open when the window goes commits its text from
  // the views' destructors, after this part of the object is gone.
  const auto renamer = [this, doc = &m_doc](CPackObject* entry, const QString& name) {
    // Made once the editor has closed: the change resets the models the editor belongs to.
    const std::string dirPath = entry->Parent() ? doc->FullPath(*entry->Parent()) : std::string();
    QTimer::singleShot(0, this, [this, entry, dirPath, name] {
      CPackObject* dir = FindDirectory(dirPath);
      if (!dir) return;
      for (CPackObject* c : dir->Children())
        if (c == entry) {
          m_edit->RenameTo(entry, name);
          return;
        }
    });
  };
  m_treeModel->SetRenamer(renamer);
  m_listModel->SetRenamer(renamer);
  connect(m_tree, &CPackTreeView::focusToList, m_list, &CPackListView::EnterByTab);
  connect(m_list, &CPackListView::archiveSearchStarting, m_views, &CViewController::OpenArchivesToSearch);
  connect(m_list, &CPackListView::focusToTree, this, [this] { m_tree->setFocus(Qt::TabFocusReason); });
  connect(m_list, &CPackListView::selectionChanged, this, &CMainFrame::UpdateCommandUI);
  connect(m_list, &CPackListView::selectionChanged, m_views, &CViewController::RefreshPreview);
  connect(m_list, &CPackListView::entryActivated, m_views, &CViewController::OnEntryActivated);
  auto popup = [this](const QPoint& at) {
    UpdateCommandUI();
    auto menu = BuildContextMenu();
    menu->exec(at);
  };
  connect(m_tree, &CPackTreeView::contextMenuWanted, this, [this, popup](const QPoint& at) {
    m_treeFocused = true;
    m_tree->setFocus(Qt::MouseFocusReason);
    popup(at);
  });
  connect(m_list, &CPackListView::contextMenuWanted, this, [this, popup](const QPoint& at) {
    m_treeFocused = false;
    popup(at);
  });
  connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
    if (now == m_tree) m_treeFocused = true;
    else if (m_list->HasFocusInside()) m_treeFocused = false;
    else return;
    UpdateCommandUI();
  });
  connect(QApplication::clipboard(), &QClipboard::dataChanged, this, &CMainFrame::UpdateCommandUI);

  m_doc.AddObserver(this);
  RebuildViews();
  {
    const QSignalBlocker quiet(m_views->Cmd().thumbnails);
    m_views->Cmd().thumbnails->setChecked(m_list->ThumbnailsShown());
  }
  m_views->ShowPreviewPane(dialogs::ProfileInt("Startup", "PreviewPane", 0) != 0,
                           dialogs::ProfileInt("Startup", "PreviewBelow", 0) != 0);
  m_tree->setFocus();
}

CMainFrame::~CMainFrame() {
  // The document goes with the window; nothing of it may be left in a viewer.
  m_views->DiscardViewers();
  m_doc.RemoveObserver(this);
  m_games->LeaveGameMode();
  // The child views outlive this part of the object; nothing they signal may reach it now.
  disconnect(qApp, nullptr, this, nullptr);
  disconnect(QApplication::clipboard(), nullptr, this, nullptr);
  m_tree->disconnect(this);
  m_list->disconnect(this);
  m_pane->disconnect(this);
  m_tree->selectionModel()->disconnect(m_tree);
}

QString CommandToolTip(const QAction& action) {
  QString name = action.text().section('\t', 0, 0);
  name.remove(QRegularExpression("&(?!&)"));
  name.replace("&&", "&");
  if (name.endsWith("...")) name.chop(3);
  const QKeySequence key = action.shortcut();
  return key.isEmpty() ? name : QString("%1 (%2)").arg(name, key.toString(QKeySequence::NativeText));
}

QAction* CMainFrame::AddCommand(QObject* owner, const char* objectName, const QString& text, const char* tip,
                                std::function<void()> run, const QKeySequence& key) {
  auto* a = new QAction(text, owner);
  a->setObjectName(objectName);
  a->setStatusTip(tip);
  if (!key.isEmpty()) a->setShortcut(key);
  // Whatever the command does, it finds the text typed in the preview pane in the archive.
  if (run)
    connect(a, &QAction::triggered, owner, [this, run = std::move(run)] {
      if (KeepPreviewEdits()) run();
    });
  // The view's own shortcuts must not swallow the window's (Delete, Backspace, F2).
  a->setShortcutContext(Qt::WindowShortcut);
  addAction(a);
  return a;
}

void CMainFrame::CreateMenus() {
  QMenu* file = menuBar()->addMenu("&File");
  file->setObjectName("menuFile");
  file->addAction(m_files->Cmd().newArchive);
  file->addAction(m_files->Cmd().open);
  file->addAction(m_files->Cmd().save);
  file->addAction(m_files->Cmd().saveAs);
  m_games->AddMenuItems(file, nullptr);
  file->addSeparator();
  m_files->AddRecentMenu(*file);
  file->addSeparator();
  file->addAction(m_files->Cmd().exit);

  QMenu* edit = menuBar()->addMenu("&Edit");
  edit->setObjectName("menuEdit");
  edit->addAction(m_edit->Cmd().undo);
  edit->addAction(m_edit->Cmd().redo);
  edit->addSeparator();
  edit->addAction(m_edit->Cmd().cut);
  edit->addAction(m_edit->Cmd().copy);
  edit->addAction(m_edit->Cmd().paste);
  edit->addAction(m_edit->Cmd().duplicate);
  edit->addSeparator();
  edit->addAction(m_edit->Cmd().selectAll);
  edit->addAction(m_edit->Cmd().filter);
  edit->addSeparator();
  edit->addAction(m_edit->Cmd().newDirectory);
  edit->addAction(m_edit->Cmd().rename);
  edit->addAction(m_edit->Cmd().replaceFromFile);
  edit->addAction(m_edit->Cmd().deleteEntries);

  QMenu* view = menuBar()->addMenu("&View");
  view->setObjectName("menuView");
  view->addAction(m_views->Cmd().largeIcons);
  view->addAction(m_views->Cmd().smallIcons);
  view->addAction(m_views->Cmd().list);
  view->addAction(m_views->Cmd().details);
  view->addAction(m_views->Cmd().thumbnails);
  view->addSeparator();
  view->addAction(m_views->Cmd().previewPane);
  view->addAction(m_views->Cmd().previewBelow);
  m_games->AddMenuItems(nullptr, view);
  view->addSeparator();
  view->addAction(m_views->Cmd().upOneLevel);

  QMenu* object = menuBar()->addMenu("&Object");
  object->setObjectName("menuObject");
  object->addAction(m_transfer->Cmd().importFile);
  object->addAction(m_transfer->Cmd().importDirectory);
  object->addAction(m_transfer->Cmd().newSprite);
  object->addAction(m_transfer->Cmd().exportFile);
  object->addAction(m_transfer->Cmd().exportDirectory);
  object->addAction(m_transfer->Cmd().exportAsPng);
  object->addAction(m_transfer->Cmd().exportForEngine);
  object->addSeparator();
  object->addAction(m_views->Cmd().view);
  object->addAction(m_views->Cmd().viewSkin);
  object->addAction(m_transfer->Cmd().extractTextures);
  object->addSeparator();
  object->addAction(m_views->Cmd().stopSound);

  QMenu* help = menuBar()->addMenu("&Help");
  help->setObjectName("menuHelp");
  help->addAction(m_views->Cmd().about);
}

void CMainFrame::CreateToolBar() {
  QToolBar* bar = addToolBar("Toolbar");
  bar->setObjectName("toolBar");
  bar->setAllowedAreas(Qt::AllToolBarAreas);
  bar->addAction(m_files->Cmd().newArchive);
  bar->addAction(m_files->Cmd().open);
  bar->addAction(m_files->Cmd().save);
  bar->addSeparator();
  bar->addAction(m_views->Cmd().upOneLevel);
  bar->addSeparator();
  bar->addAction(m_edit->Cmd().deleteEntries);
  bar->addSeparator();
  bar->addAction(m_views->Cmd().largeIcons);
  bar->addAction(m_views->Cmd().smallIcons);
  bar->addAction(m_views->Cmd().list);
  bar->addAction(m_views->Cmd().details);
  bar->addSeparator();
  bar->addAction(m_views->Cmd().about);
}

// --- state ---

CPackObject* CMainFrame::TreeSelection() const { return m_tree->SelectedDirectory(); }

std::vector<CPackObject*> CMainFrame::ListSelection() const { return m_list->SelectedEntries(); }

std::vector<CPackObject*> CMainFrame::Targets() const {
  if (m_treeFocused) {
    CPackObject* d = TreeSelection();
    return d ? std::vector<CPackObject*>{d} : std::vector<CPackObject*>{};
  }
  return ListSelection();
}

CPackObject* CMainFrame::ImportTarget() const {
  if (m_treeFocused) return TreeSelection();
  // Into the one directory selected, else the one the list shows: a file left selected after
  // a delete does not stand in the way.
  auto sel = ListSelection();
  if (sel.size() == 1 && sel.front()->IsDirectory()) return sel.front();
  return m_list->CurrentDirectory();
}

CPackObject* CMainFrame::PasteTarget() const {
  if (m_treeFocused) return TreeSelection();
  auto sel = ListSelection();
  if (sel.size() == 1 && sel.front()->IsDirectory()) return sel.front();
  return m_list->CurrentDirectory();
}

void CMainFrame::UpdateCommandUI() {
  CommandState state;
  state.treeDir = TreeSelection();
  state.selection = ListSelection();
  state.only = state.selection.size() == 1 ? state.selection.front() : nullptr;
  state.tree = m_treeFocused;
  state.shadowed = std::any_of(state.selection.begin(), state.selection.end(),
                               [this](CPackObject* e) { return m_listModel->IsShadowed(e); });
  m_files->UpdateCommands();
  m_games->UpdateCommands();
  m_views->UpdateCommands(state);
  m_edit->UpdateCommands(state);
  m_transfer->UpdateCommands(state);
  m_status->setText(StatusText());
}

QString CMainFrame::StatusText() const {
  const CPackObject* dir = m_list->CurrentDirectory();
  if (!dir) return QString();
  const CPackListModel* model = m_list->ListModel();
  const std::size_t n = dir->ChildCount();
  const int shown = model->rowCount();
  QString text = QString("%1 %2").arg(n).arg(n == 1 ? "entry" : "entries");
  if (model->SearchingArchive())
    text = QString("%1 %2 in the archive").arg(shown).arg(shown == 1 ? "match" : "matches");
  else if (model->Filtering()) text = QString("%1 of %2 entries match").arg(shown).arg(n);
  const auto sel = ListSelection();
  if (!sel.empty()) {
    qint64 bytes = 0;
    for (const CPackObject* e : sel)
      if (!e->IsDirectory()) bytes += e->Size();
    text += QString(", %1 selected (%2 bytes)").arg(sel.size()).arg(bytes);
    // The icons name a match by its file alone; where it lies is said here.
    if (sel.size() == 1 && model->SearchingArchive()) text += ": " + Q(FullPathOf(model->Document(), *sel.front()));
  }
  return text;
}

std::unique_ptr<QMenu> CMainFrame::BuildContextMenu() {
  auto menu = std::make_unique<QMenu>(this);
  menu->setObjectName("contextMenu");
  auto add = [&](const QString& text, QAction* source) {
    QAction* item = menu->addAction(text);
    item->setObjectName("context_" + source->objectName());
    item->setEnabled(source->isEnabled());
    connect(item, &QAction::triggered, source, &QAction::trigger);
  };
  const auto targets = Targets();
  if (targets.empty()) return menu;
  const CPackObject* e = targets.front();
  add("&Rename", m_edit->Cmd().rename);
  if (e->IsDirectory()) {
    add("&Import File", m_transfer->Cmd().importFile);
    add("&Create directory", m_edit->Cmd().newDirectory);
    add("E&xport to directory", m_transfer->Cmd().exportDirectory);
    add("Export as PN&G", m_transfer->Cmd().exportAsPng);
    add("Export for E&ngine", m_transfer->Cmd().exportForEngine);
  } else {
    const std::string name = ToLower(e->Name());
    add("&Export File", m_transfer->Cmd().exportFile);
    if (PictureKindOf(e->Name()) != PictureKind::None) add("Export as PN&G", m_transfer->Cmd().exportAsPng);
    // Files an engine takes replacement pictures for.
    if (PictureKindOf(e->Name()) != PictureKind::None || EndsWith(name, ".bsp") || EndsWith(name, ".mdl") ||
        EndsWith(name, ".spr") || EndsWith(name, ".wad"))
      add("Export for E&ngine", m_transfer->Cmd().exportForEngine);
    add("&View object", m_views->Cmd().view);
    if (EndsWith(name, ".bsp")) add("E&xtract textures", m_transfer->Cmd().extractTextures);
    if (EndsWith(name, ".mdl")) add("View object &skin", m_views->Cmd().viewSkin);
  }
  menu->addSeparator();
  add("Cu&t", m_edit->Cmd().cut);
  add("C&opy", m_edit->Cmd().copy);
  add("&Paste", m_edit->Cmd().paste);
  add("D&uplicate", m_edit->Cmd().duplicate);
  if (!e->IsDirectory()) add("Replace from &File", m_edit->Cmd().replaceFromFile);
  add("&Delete", m_edit->Cmd().deleteEntries);
  return menu;
}

void CMainFrame::Message(const QString& text, const QString& caption, QMessageBox::Icon icon) {
  m_prompter->Message(this, text, caption, icon, QMessageBox::Ok);
}

// --- document ---

void CMainFrame::OnDocumentChanged(CTarnDoc&) {
  if (!m_inDocOperation) RebuildViews();
}

void CMainFrame::RebuildViews() {
  m_pane->ShowNothing(QString());
  m_views->RefreshPreview();
  m_listModel->SetDirectory(nullptr);
  m_treeModel->SetRoot(&m_doc.Root());
  m_tree->Rebuild();
  UpdateTitle();
  UpdateCommandUI();
}

void CMainFrame::UpdateTitle() {
  const QString title = Q(m_games->Session() ? m_games->Session()->Title() : m_doc.Title());
  setWindowTitle(title + "[*] - Tarn");
  setWindowModified(m_doc.IsModified() || m_pane->HasChanges());
  m_treeModel->SetRootLabel(title);
  // A window with nothing in it says how to begin, until something is opened or added.
  const bool empty = !m_games->Session() && m_doc.PathName().empty() && m_doc.Root().ChildCount() == 0;
  m_list->SetEmptyHint(empty ? QString("Open an archive with File > Open (Ctrl+O), or a game's folders with File > "
                                       "Open Game Folder.\n\nOr drop files here to start a new archive with them.")
                             : QString());
}

void CMainFrame::ChangeTree(const std::function<const CPackObject*()>& mutate) {
  const QStringList expanded = m_tree->SaveExpanded();
  const CPackObject* before = TreeSelection();
  const std::string beforePath = before ? m_doc.FullPath(*before) : std::string();
  const std::vector<CPackObject*> kept = ListSelection();
  const bool listHadFocus = m_list->HasFocusInside();

  m_tree->SetRebuilding(true);
  m_listModel->BeginChange();
  m_treeModel->BeginChange();
  const CPackObject* target = mutate();
  if (!target) {
    // The directory shown before, or the nearest of its ancestors that survived.
    std::string path = beforePath;
    while (!target) {
      const CPackObject* found = FindDirectory(path);
      if (found) target = found;
      if (target || path.empty()) break;
      auto slash = path.rfind('/');
      path = slash == std::string::npos ? std::string() : path.substr(0, slash);
    }
  }
  // The root itself may be another one now (an undone conversion, say).
  m_treeModel->EndChange(&m_doc.Root());
  m_listModel->EndChange(const_cast<CPackObject*>(target));
  m_tree->RestoreExpanded(expanded);
  m_tree->SelectDirectory(target);
  m_tree->SetRebuilding(false);
  m_list->SelectEntries(kept);
  if (listHadFocus) m_list->FocusList();
  UpdateTitle();
  UpdateCommandUI();
  // The entry shown may have changed (renamed, say), or be gone.
  m_views->RefreshPreview();
  emit treeChanged();
}

void CMainFrame::DetachViews() {
  // Asked about before, when the user gave the command; the tree they read is about to go.
  m_views->DiscardViewers();
  ++m_treeGeneration;
  m_inDocOperation = true;
  m_listModel->SetDirectory(nullptr);
  m_treeModel->SetRoot(nullptr);
  m_games->LeaveGameMode();
}

bool CMainFrame::KeepPreviewEdits() {
  if (m_keepingEdits || !m_pane->HasChanges()) return true;
  viewers::CPreview* preview = m_pane->Preview();
  QString why;
  m_keepingEdits = true;
  const bool saved = preview->SaveChanges(&why);
  m_keepingEdits = false;
  if (saved) return true;
  const auto answer = m_prompter->Message(
      this,
      QString("The text typed in the preview of %1 cannot be put into the archive: %2.\n\nDiscard it?")
          .arg(m_pane->ShownPath(), why),
      "Tarn", QMessageBox::Warning, QMessageBox::Discard | QMessageBox::Cancel);
  if (answer != QMessageBox::Discard) return false;
  preview->DropChanges();
  return true;
}

void CMainFrame::EditTree(const std::string& text, const std::function<const CPackObject*(CTreeEdit&)>& steps) {
  auto edit = std::make_unique<CTreeEdit>(text);
  ChangeTree([&] {
    const CPackObject* shown = steps(*edit);
    if (!edit->Empty()) m_doc.Record(std::move(edit));
    return shown;
  });
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

// --- what the controllers do for callers of the window ---

bool CMainFrame::OpenArchive(const QString& path) { return m_files->OpenArchive(path); }
bool CMainFrame::SaveModified() { return m_files->SaveModified(); }
bool CMainFrame::OpenGameFolders(const std::vector<std::filesystem::path>& folders, const EngineProfile& profile) {
  return m_games->OpenGameFolders(folders, profile);
}
const CGameSession* CMainFrame::Game() const { return m_games->Session(); }
CProblemsPanel* CMainFrame::ProblemsPanel() const { return m_games->ProblemsPanel(); }
void CMainFrame::SetViewHandler(ViewHandler handler) { m_views->SetViewHandler(std::move(handler)); }
viewers::ViewContext CMainFrame::ViewerContext() { return m_views->ViewerContext(); }
viewers::CSoundPlayer& CMainFrame::SoundPlayer() const { return m_views->SoundPlayer(); }
bool CMainFrame::IsPlaying() const { return m_views->IsPlaying(); }
void CMainFrame::ViewByCommand(CPackObject& entry, bool skin) { m_views->ViewEntry(entry, skin); }
void CMainFrame::ViewFromCommandLine(CPackObject& entry) { m_views->ViewFromCommandLine(entry); }
void CMainFrame::ImportPaths(CPackObject* dir, const QStringList& paths) { m_transfer->ImportPaths(dir, paths); }
QMimeData* CMainFrame::DragData(const std::vector<CPackObject*>& entries) { return m_transfer->DragData(entries); }

// --- window ---

void CMainFrame::showEvent(QShowEvent* e) {
  if (!m_placed) {
    m_placed = true;
    // Saved on another set of screens, the place may lie beyond these.
    QList<QRect> screens;
    for (const QScreen* s : QGuiApplication::screens()) screens << s->availableGeometry();
    const QRect first = dialogs::FirstPlace(screen() ? screen()->availableGeometry() : QRect(0, 0, 900, 600));
    const QRect placed = dialogs::FitToScreens(QRect(dialogs::ProfileInt("Startup", "WindowX", first.x()),
                                                     dialogs::ProfileInt("Startup", "WindowY", first.y()),
                                                     dialogs::ProfileInt("Startup", "WindowWidth", first.width()),
                                                     dialogs::ProfileInt("Startup", "WindowHeight", first.height())),
                                               screens);
    move(placed.topLeft());
    resize(placed.size());
  }
  QMainWindow::showEvent(e);
  // Laid out only now: the pane gets its share of the room.
  QTimer::singleShot(0, m_views, &CViewController::FitPreviewPane);
}

void CMainFrame::closeEvent(QCloseEvent* e) {
  if (!SaveModified()) {
    e->ignore();
    return;
  }
  auto settings = dialogs::OpenSettings();
  settings->setValue("Startup/WindowX", x());
  settings->setValue("Startup/WindowY", y());
  settings->setValue("Startup/WindowWidth", width());
  settings->setValue("Startup/WindowHeight", height());
  settings->setValue("Startup/ListViewStyle", m_list->ViewType());
  m_views->StopSound();
  e->accept();
}

}  // namespace tarn::browser
