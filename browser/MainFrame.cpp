#include "browser/MainFrame.h"

#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QRegularExpression>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <algorithm>
#include <cstdio>
#include <optional>

#include "archive/ContainerFormat.h"
#include "archive/EntryNames.h"
#include "archive/SafeExtract.h"
#include "browser/ExportForEngine.h"
#include "browser/ExtractTextures.h"
#include "browser/GameSession.h"
#include "browser/Icons.h"
#include "browser/PackListView.h"
#include "browser/PackModels.h"
#include "browser/PackTreeView.h"
#include "browser/PreviewPane.h"
#include "browser/Thumbnails.h"
#include "dialogs/Settings.h"
#include "dialogs/Text.h"
#include "dialogs/WaitCursor.h"
#include "dialogs/WorkDialog.h"
#include "fileio/ByteIO.h"
#include "fileio/Strings.h"
#include "pictures/EntryPictures.h"
#include "viewers/Previews.h"
#include "viewers/Sound.h"
#include "viewers/ViewerFrame.h"
#include "viewers/ViewerRegistry.h"

namespace tarn::browser {

using dialogs::Q;
using dialogs::S;

namespace {

const char* const kOpenFilter =
    "Archives (*.pak *.pk3 *.pk2 *.zip *.pkz *.kpf *.wad);;Pak Files (*.pak);;"
    "Zip Archives (*.pk3 *.pk2 *.zip *.pkz *.kpf);;WAD Files (*.wad);;All Files (*.*) (*)";
// Save As writes the format the name's extension gives: choosing another converts.
const char* const kSaveFilter =
    "Pak Files (*.pak);;PK3 Archives (*.pk3);;Zip Archives (*.zip *.pk2 *.pkz);;WAD Files (*.wad);;All Files (*.*) (*)";
constexpr int kMaxRecent = 4;

// A file whose name says it holds an archive, which opening goes into.
bool IsArchiveFile(const CPackObject& e) { return !e.IsDirectory() && FormatOfName(e.Name()).has_value(); }

}  // namespace

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
  m_previewTimer = new QTimer(this);
  m_previewTimer->setSingleShot(true);
  m_previewTimer->setInterval(0);
  connect(m_previewTimer, &QTimer::timeout, this, &CMainFrame::UpdatePreview);
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
  connect(m_problemsButton, &QToolButton::clicked, this, &CMainFrame::ShowProblemsPanel);
  statusBar()->addPermanentWidget(m_problemsButton);
  m_problemsButton->hide();
  // The window's one player: a second sound replaces the first, and the status bar and the Stop
  // Sound command follow it.
  m_player = new viewers::CSoundPlayer(this);
  connect(m_player, &viewers::CSoundPlayer::playing, this, &CMainFrame::ShowPlaying);
  connect(m_player, &viewers::CSoundPlayer::finished, this, [this] { ShowPlaying(QString()); });

  CreateActions();
  CreateMenus();
  CreateToolBar();

  m_treeModel->SetDocument(&m_doc);
  m_listModel->SetDocument(&m_doc);
  connect(m_tree, &CPackTreeView::directorySelected, this, [this](CPackObject* dir) {
    // An archive's file chosen in the tree: opened once the view is done with the click.
    if (dir && !dir->IsDirectory()) {
      QTimer::singleShot(0, this, [this, path = m_doc.FullPath(*dir)] {
        if (CPackObject* holder = m_doc.FindFullPath(path)) OpenInnerArchive(*holder, false);
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
      if (CPackObject* holder = m_doc.FindFullPath(path)) OpenInnerArchive(*holder, true);
    });
  });
  connect(m_tree, &CPackTreeView::dropped, this, &CMainFrame::Drop);
  connect(m_list, &CPackListView::dropped, this, &CMainFrame::Drop);
  const auto dragData = [this](const std::vector<CPackObject*>& entries) { return DragData(entries); };
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
          RenameTo(entry, name);
          return;
        }
    });
  };
  m_treeModel->SetRenamer(renamer);
  m_listModel->SetRenamer(renamer);
  connect(m_tree, &CPackTreeView::focusToList, m_list, &CPackListView::EnterByTab);
  connect(m_list, &CPackListView::archiveSearchStarting, this, &CMainFrame::OpenArchivesToSearch);
  connect(m_list, &CPackListView::focusToTree, this, [this] { m_tree->setFocus(Qt::TabFocusReason); });
  connect(m_list, &CPackListView::selectionChanged, this, &CMainFrame::UpdateCommandUI);
  connect(m_list, &CPackListView::selectionChanged, m_previewTimer, qOverload<>(&QTimer::start));
  connect(m_list, &CPackListView::entryActivated, this, &CMainFrame::OnEntryActivated);
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
    const QSignalBlocker quiet(m_cmd.thumbnails);
    m_cmd.thumbnails->setChecked(m_list->ThumbnailsShown());
  }
  ShowPreviewPane(dialogs::ProfileInt("Startup", "PreviewPane", 0) != 0,
                  dialogs::ProfileInt("Startup", "PreviewBelow", 0) != 0);
  m_tree->setFocus();
}

CMainFrame::~CMainFrame() {
  // The document goes with the window; nothing of it may be left in a viewer.
  DiscardViewers();
  m_doc.RemoveObserver(this);
  if (m_game) LeaveGameMode();
  // The child views outlive this part of the object; nothing they signal may reach it now.
  disconnect(qApp, nullptr, this, nullptr);
  disconnect(QApplication::clipboard(), nullptr, this, nullptr);
  m_tree->disconnect(this);
  m_list->disconnect(this);
  m_pane->disconnect(this);
  m_tree->selectionModel()->disconnect(m_tree);
}

QAction* CMainFrame::MakeAction(QAction* Commands::*command, const char* objectName, const QString& text,
                                const char* tip, void (CMainFrame::*slot)(), const QKeySequence& key) {
  auto* a = new QAction(text, this);
  if (command) m_cmd.*command = a;
  a->setObjectName(objectName);
  a->setStatusTip(tip);
  if (!key.isEmpty()) a->setShortcut(key);
  // Whatever the command does, it finds the text typed in the preview pane in the archive.
  if (slot)
    connect(a, &QAction::triggered, this, [this, slot] {
      if (KeepPreviewEdits()) (this->*slot)();
    });
  addAction(a);
  return a;
}

namespace {

// A command's tooltip: its menu text without the accelerator mark, its shortcut column or a
// trailing ellipsis, then its shortcut (the first, as the menu shows it) in brackets.
QString ToolTipOf(const QAction& action) {
  QString name = action.text().section('\t', 0, 0);
  name.remove(QRegularExpression("&(?!&)"));
  name.replace("&&", "&");
  if (name.endsWith("...")) name.chop(3);
  const QKeySequence key = action.shortcut();
  return key.isEmpty() ? name : QString("%1 (%2)").arg(name, key.toString(QKeySequence::NativeText));
}

}  // namespace

void CMainFrame::CreateActions() {
  QStyle* st = style();
  MakeAction(&Commands::newArchive, "actionNew", "&New", "Start a new, empty archive", &CMainFrame::OnFileNew,
             QKeySequence::New)
      ->setIcon(st->standardIcon(QStyle::SP_FileIcon));
  MakeAction(&Commands::open, "actionOpen", "&Open...", "Open an archive", &CMainFrame::OnFileOpen, QKeySequence::Open)
      ->setIcon(st->standardIcon(QStyle::SP_DialogOpenButton));
  MakeAction(&Commands::save, "actionSave", "&Save", "Save the archive", &CMainFrame::OnFileSave, QKeySequence::Save)
      ->setIcon(st->standardIcon(QStyle::SP_DialogSaveButton));
  MakeAction(&Commands::saveAs, "actionSaveAs", "Save &As...", "Save the archive under another name",
             &CMainFrame::OnFileSaveAs);
  MakeAction(&Commands::exit, "actionExit", "E&xit", "Quit Tarn", nullptr, QKeySequence(Qt::CTRL | Qt::Key_Q));
  connect(m_cmd.exit, &QAction::triggered, this, &QWidget::close);

  MakeAction(&Commands::undo, "actionUndo", "&Undo", "Take back the last change", &CMainFrame::OnUndo,
             QKeySequence::Undo)
      ->setIcon(st->standardIcon(QStyle::SP_ArrowBack));
  MakeAction(&Commands::redo, "actionRedo", "&Redo", "Make the change taken back again", &CMainFrame::OnRedo)
      ->setShortcuts({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
  m_cmd.redo->setIcon(st->standardIcon(QStyle::SP_ArrowForward));
  MakeAction(&Commands::cut, "actionCut", "Cu&t", "Move the selected entries to the clipboard", &CMainFrame::OnCut,
             QKeySequence::Cut);
  MakeAction(&Commands::copy, "actionCopy", "&Copy", "Copy the selected entries to the clipboard", &CMainFrame::OnCopy,
             QKeySequence::Copy);
  MakeAction(&Commands::paste, "actionPaste", "&Paste", "Paste entries from the clipboard into the directory",
             &CMainFrame::OnPaste, QKeySequence::Paste);
  MakeAction(&Commands::duplicate, "actionDuplicate", "Dupl&icate", "Copy the selected entries beside themselves",
             &CMainFrame::OnDuplicate, QKeySequence(Qt::CTRL | Qt::Key_D));
  MakeAction(&Commands::selectAll, "actionSelectAll", "Select &All", "Select every entry the list shows",
             &CMainFrame::OnSelectAll, QKeySequence::SelectAll);
  MakeAction(&Commands::filter, "actionFilter", "&Filter...",
             "Narrow the list to the names that match, here or in the whole archive", &CMainFrame::OnFilter,
             QKeySequence::Find);
  MakeAction(&Commands::newDirectory, "actionNewDirectory", "&New Directory",
             "Create a directory in the selected directory", &CMainFrame::OnNewDirectory);
  // F2 renames in place in the view that has the focus; the menu's command asks in a dialog.
  MakeAction(&Commands::rename, "actionRename", "Rena&me...\tF2", "Rename the selected entry", &CMainFrame::OnRename);
  MakeAction(&Commands::replaceFromFile, "actionReplaceFromFile", "R&eplace from File...",
             "Give the selected file the contents of a file on disk", &CMainFrame::OnReplaceFromFile);
  MakeAction(&Commands::deleteEntries, "actionDelete", "&Delete\tDel", "Delete the selected entries",
             &CMainFrame::OnDelete, QKeySequence::Delete)
      ->setIcon(st->standardIcon(QStyle::SP_TrashIcon));

  MakeAction(&Commands::importFile, "actionImportFile", "&Import From File...", "Add files from disk to the directory",
             &CMainFrame::OnImportFile);
  MakeAction(&Commands::importDirectory, "actionImportDirectory", "Import &From Directory...",
             "Add a folder's contents to the directory", &CMainFrame::OnImportDirectory);
  MakeAction(&Commands::newSprite, "actionNewSprite", "New &Sprite from Pictures...",
             "Make a Quake or Quake II sprite of picture files, one frame each", &CMainFrame::OnNewSprite);
  MakeAction(&Commands::exportFile, "actionExportFile", "&Export To File...", "Write the selected file to disk",
             &CMainFrame::OnExportFile);
  MakeAction(&Commands::exportDirectory, "actionExportDirectory", "Export To &Directory...",
             "Write the selected entries into a folder", &CMainFrame::OnExportDirectory);
  MakeAction(&Commands::exportAsPng, "actionExportAsPng", "Export as &PNG...",
             "Write the selected pictures, and those in the selected directories, into a folder as PNG files",
             &CMainFrame::OnExportAsPng);
  MakeAction(&Commands::exportForEngine, "actionExportForEngine", "Export for E&ngine...",
             "Write the pictures of the selection, or of the whole archive, as an engine reads its replacements",
             &CMainFrame::OnExportForEngine);
  MakeAction(&Commands::view, "actionView", "&View", "Show, play or read the selected file", &CMainFrame::OnView);
  MakeAction(&Commands::viewSkin, "actionViewSkin", "View S&kin", "Show the skins of the selected Quake model",
             &CMainFrame::OnViewSkin);
  MakeAction(&Commands::extractTextures, "actionExtractTextures", "E&xtract Textures...",
             "Write the textures of the selected maps into a WAD file", &CMainFrame::OnExtractTextures);
  MakeAction(&Commands::stopSound, "actionStopSound", "S&top Sound", "Stop the sound that is playing",
             &CMainFrame::OnStopSound, QKeySequence(Qt::Key_Escape))
      ->setIcon(st->standardIcon(QStyle::SP_MediaStop));

  QAction* up = MakeAction(&Commands::upOneLevel, "actionUpOneLevel", "&Up One Level",
                           "Show the directory above this one", &CMainFrame::OnUpOneLevel);
  up->setShortcuts({QKeySequence(Qt::Key_Backspace), QKeySequence(Qt::ALT | Qt::Key_Up)});
  up->setIcon(st->standardIcon(QStyle::SP_FileDialogToParent));

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
    QAction* a = MakeAction(s.command, s.name, s.text, s.tip, nullptr);
    a->setCheckable(true);
    a->setIcon(ListStyleIcon(s.style));
    a->setData(s.style);
    m_styleGroup->addAction(a);
    const int value = s.style;
    connect(a, &QAction::triggered, this, [this, value] { SetViewType(value); });
  }
  MakeAction(&Commands::thumbnails, "actionThumbnails", "Show Thumbna&ils",
             "Show pictures, textures, sprites and model skins as their own pictures in the icon views", nullptr)
      ->setCheckable(true);
  connect(m_cmd.thumbnails, &QAction::toggled, this, [this](bool on) { m_list->SetThumbnailsShown(on); });
  MakeAction(&Commands::previewPane, "actionPreviewPane", "&Preview Pane", "Show the selected entry beside the list",
             nullptr, QKeySequence(Qt::Key_F3))
      ->setCheckable(true);
  MakeAction(&Commands::previewBelow, "actionPreviewBelow", "Preview &Below the List",
             "Put the preview pane below the list rather than beside it", nullptr)
      ->setCheckable(true);
  connect(m_cmd.previewPane, &QAction::toggled, this,
          [this](bool on) { ShowPreviewPane(on, m_cmd.previewBelow->isChecked()); });
  connect(m_cmd.previewBelow, &QAction::toggled, this,
          [this](bool below) { ShowPreviewPane(m_cmd.previewPane->isChecked(), below); });
  CreateGameActions();
  MakeAction(&Commands::about, "actionAbout", "&About Tarn...", "Show Tarn's version and licence", &CMainFrame::OnAbout)
      ->setIcon(st->standardIcon(QStyle::SP_MessageBoxInformation));

  for (QAction* a : actions()) {
    // The view's own shortcuts must not swallow the frame's (Delete, Backspace, F2).
    a->setShortcutContext(Qt::WindowShortcut);
    a->setToolTip(ToolTipOf(*a));
  }
}

void CMainFrame::CreateMenus() {
  QMenu* file = menuBar()->addMenu("&File");
  file->setObjectName("menuFile");
  file->addAction(m_cmd.newArchive);
  file->addAction(m_cmd.open);
  file->addAction(m_cmd.save);
  file->addAction(m_cmd.saveAs);
  AddGameMenus(file, nullptr);
  file->addSeparator();
  m_recentMenu = file->addMenu("Recent &Files");
  m_recentMenu->setObjectName("menuRecent");
  file->addSeparator();
  file->addAction(m_cmd.exit);
  UpdateRecentMenu();

  QMenu* edit = menuBar()->addMenu("&Edit");
  edit->setObjectName("menuEdit");
  edit->addAction(m_cmd.undo);
  edit->addAction(m_cmd.redo);
  edit->addSeparator();
  edit->addAction(m_cmd.cut);
  edit->addAction(m_cmd.copy);
  edit->addAction(m_cmd.paste);
  edit->addAction(m_cmd.duplicate);
  edit->addSeparator();
  edit->addAction(m_cmd.selectAll);
  edit->addAction(m_cmd.filter);
  edit->addSeparator();
  edit->addAction(m_cmd.newDirectory);
  edit->addAction(m_cmd.rename);
  edit->addAction(m_cmd.replaceFromFile);
  edit->addAction(m_cmd.deleteEntries);

  QMenu* view = menuBar()->addMenu("&View");
  view->setObjectName("menuView");
  view->addAction(m_cmd.largeIcons);
  view->addAction(m_cmd.smallIcons);
  view->addAction(m_cmd.list);
  view->addAction(m_cmd.details);
  view->addAction(m_cmd.thumbnails);
  view->addSeparator();
  view->addAction(m_cmd.previewPane);
  view->addAction(m_cmd.previewBelow);
  AddGameMenus(nullptr, view);
  view->addSeparator();
  view->addAction(m_cmd.upOneLevel);

  QMenu* object = menuBar()->addMenu("&Object");
  object->setObjectName("menuObject");
  object->addAction(m_cmd.importFile);
  object->addAction(m_cmd.importDirectory);
  object->addAction(m_cmd.newSprite);
  object->addAction(m_cmd.exportFile);
  object->addAction(m_cmd.exportDirectory);
  object->addAction(m_cmd.exportAsPng);
  object->addAction(m_cmd.exportForEngine);
  object->addSeparator();
  object->addAction(m_cmd.view);
  object->addAction(m_cmd.viewSkin);
  object->addAction(m_cmd.extractTextures);
  object->addSeparator();
  object->addAction(m_cmd.stopSound);

  QMenu* help = menuBar()->addMenu("&Help");
  help->setObjectName("menuHelp");
  help->addAction(m_cmd.about);
}

void CMainFrame::CreateToolBar() {
  QToolBar* bar = addToolBar("Toolbar");
  bar->setObjectName("toolBar");
  bar->setAllowedAreas(Qt::AllToolBarAreas);
  bar->addAction(m_cmd.newArchive);
  bar->addAction(m_cmd.open);
  bar->addAction(m_cmd.save);
  bar->addSeparator();
  bar->addAction(m_cmd.upOneLevel);
  bar->addSeparator();
  bar->addAction(m_cmd.deleteEntries);
  bar->addSeparator();
  bar->addAction(m_cmd.largeIcons);
  bar->addAction(m_cmd.smallIcons);
  bar->addAction(m_cmd.list);
  bar->addAction(m_cmd.details);
  bar->addSeparator();
  bar->addAction(m_cmd.about);
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
  auto set = [](QAction* a, bool enabled) { a->setEnabled(enabled); };
  CPackObject* treeDir = TreeSelection();
  const auto sel = ListSelection();
  const bool tree = m_treeFocused;
  const bool one = sel.size() == 1;
  const CPackObject* only = one ? sel.front() : nullptr;

  // A copy that a game folder's file hides is only looked at.
  const bool shadowed =
      std::any_of(sel.begin(), sel.end(), [this](CPackObject* e) { return m_listModel->IsShadowed(e); });
  set(m_cmd.rename, tree ? treeDir && treeDir->Parent() : only && only->Parent() && !shadowed);
  set(m_cmd.deleteEntries, tree ? treeDir && treeDir->Parent() : !sel.empty() && !shadowed);
  set(m_cmd.cut, m_cmd.deleteEntries->isEnabled());
  set(m_cmd.duplicate, m_cmd.deleteEntries->isEnabled());
  set(m_cmd.replaceFromFile, !tree && only && !only->IsDirectory() && !shadowed);
  set(m_cmd.selectAll, m_listModel->rowCount() > 0);
  set(m_cmd.exportAsPng, tree ? treeDir != nullptr : !sel.empty());
  set(m_cmd.importFile, ImportTarget() != nullptr);
  set(m_cmd.newSprite, ImportTarget() != nullptr);
  set(m_cmd.exportFile, !tree && only && !only->IsDirectory());
  set(m_cmd.exportDirectory,
      tree ? treeDir != nullptr : (sel.size() >= 2 || (only && only->IsDirectory())) && !shadowed);
  set(m_cmd.upOneLevel, m_treeModel->NodeParent(treeDir) != nullptr);
  // Every file has a viewer: its kind's, or the text or hex view.
  set(m_cmd.view, !tree && only && !only->IsDirectory());
  set(m_cmd.viewSkin, !tree && only && !only->IsDirectory() && EndsWith(ToLower(only->Name()), ".mdl"));
  bool allMaps = !tree && !sel.empty();
  for (const CPackObject* e : sel)
    if (e->IsDirectory() || e->Name().size() < 4 || !EndsWith(ToLower(e->Name()), ".bsp")) allMaps = false;
  set(m_cmd.extractTextures, allMaps);
  set(m_cmd.copy, tree ? treeDir && treeDir->Parent() : !sel.empty());
  const QMimeData* clip = QApplication::clipboard()->mimeData();
  set(m_cmd.paste, clip && clip->hasFormat(kPackObjectMime) && PasteTarget() != nullptr);
  set(m_cmd.stopSound, IsPlaying());
  // A merged view is saved only as a new pak of its changes.
  set(m_cmd.saveAs, !m_game);
  set(m_cmd.saveChangesAsPak, m_game != nullptr);
  // "Undo Delete 3 entries": what the command would take back.
  auto history = [&](QAction* a, const QString& verb, const CUndoCommand* next) {
    a->setEnabled(next != nullptr);
    const QString text = next ? QString("&%1 %2").arg(verb, Q(next->Text())) : "&" + verb;
    if (a->text() != text) {
      a->setText(text);
      a->setToolTip(ToolTipOf(*a));
    }
  };
  history(m_cmd.undo, "Undo", m_doc.History().NextUndo());
  history(m_cmd.redo, "Redo", m_doc.History().NextRedo());
  for (QAction* a : m_styleGroup->actions()) a->setChecked(a->data().toInt() == m_list->ViewType());
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
  add("&Rename", m_cmd.rename);
  if (e->IsDirectory()) {
    add("&Import File", m_cmd.importFile);
    add("&Create directory", m_cmd.newDirectory);
    add("E&xport to directory", m_cmd.exportDirectory);
    add("Export as PN&G", m_cmd.exportAsPng);
    add("Export for E&ngine", m_cmd.exportForEngine);
  } else {
    const std::string name = ToLower(e->Name());
    add("&Export File", m_cmd.exportFile);
    if (PictureKindOf(e->Name()) != PictureKind::None) add("Export as PN&G", m_cmd.exportAsPng);
    // Files an engine takes replacement pictures for.
    if (PictureKindOf(e->Name()) != PictureKind::None || EndsWith(name, ".bsp") || EndsWith(name, ".mdl") ||
        EndsWith(name, ".spr") || EndsWith(name, ".wad"))
      add("Export for E&ngine", m_cmd.exportForEngine);
    add("&View object", m_cmd.view);
    if (EndsWith(name, ".bsp")) add("E&xtract textures", m_cmd.extractTextures);
    if (EndsWith(name, ".mdl")) add("View object &skin", m_cmd.viewSkin);
  }
  menu->addSeparator();
  add("Cu&t", m_cmd.cut);
  add("C&opy", m_cmd.copy);
  add("&Paste", m_cmd.paste);
  add("D&uplicate", m_cmd.duplicate);
  if (!e->IsDirectory()) add("Replace from &File", m_cmd.replaceFromFile);
  add("&Delete", m_cmd.deleteEntries);
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
  RefreshPreview();
  m_listModel->SetDirectory(nullptr);
  m_treeModel->SetRoot(&m_doc.Root());
  m_tree->Rebuild();
  UpdateTitle();
  UpdateCommandUI();
}

void CMainFrame::UpdateTitle() {
  const QString title = Q(m_game ? m_game->Title() : m_doc.Title());
  setWindowTitle(title + "[*] - Tarn");
  setWindowModified(m_doc.IsModified() || m_pane->HasChanges());
  m_treeModel->SetRootLabel(title);
  // A window with nothing in it says how to begin, until something is opened or added.
  const bool empty = !m_game && m_doc.PathName().empty() && m_doc.Root().ChildCount() == 0;
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
  RefreshPreview();
  emit treeChanged();
}

bool CMainFrame::ReadForOpening(const std::function<void(CProgress&)>& read, const bool& cancelled,
                                const std::string& error) {
  // Read on a worker; the document and the views stay as they are until it is done, and stay
  // so when it fails or is cancelled.
  dialogs::CWorkDialog work(this, "Opening");
  work.Run(read);
  if (cancelled) {
    statusBar()->showMessage("Opening cancelled.", kReportMs);
    return false;
  }
  if (!error.empty()) {
    Message(Q(error), "Error", QMessageBox::Critical);
    return false;
  }
  return true;
}

void CMainFrame::DetachViews() {
  // Asked about before, when the user gave the command; the tree they read is about to go.
  DiscardViewers();
  ++m_treeGeneration;
  m_inDocOperation = true;
  m_listModel->SetDirectory(nullptr);
  m_treeModel->SetRoot(nullptr);
  LeaveGameMode();
}

bool CMainFrame::OpenArchive(const QString& path) {
  OpenedArchive opened;
  if (!ReadForOpening([&](CProgress& progress) { opened = CTarnDoc::ReadArchive(S(path), &progress); },
                      opened.cancelled, opened.error))
    return false;
  DetachViews();
  m_doc.Install(std::move(opened));
  m_inDocOperation = false;
  RebuildViews();
  AddRecent(QFileInfo(path).absoluteFilePath());
  ShowOpenProblems(m_doc);
  return true;
}

void CMainFrame::ShowOpenProblems(const CTarnDoc& doc) {
  if (doc.OpenProblems().empty()) return;
  // Names held twice, or that cannot be exported, are no damage: the archive is read whole.
  const bool damaged = doc.DirectoryDamaged() || doc.DamagedCount() > 0;
  QString text = damaged ? "This archive is damaged:" : "Tarn found this in the archive:";
  for (const auto& p : doc.OpenProblems()) text += "\n" + Q(p);
  if (doc.DirectoryDamaged()) text += "\n\nThe list shows the entries that could be read.";
  if (doc.DamagedCount() > 0) text += "\n\nEntries that cannot be read are shown in red. Delete them before saving.";
  if (!damaged) text += "\n\nEntries whose names the archive holds more than once are shown in orange, as they are.";
  Message(text, damaged ? "Damaged archive" : "Archive names",
          damaged ? QMessageBox::Warning : QMessageBox::Information);
}

std::vector<viewers::CViewerFrame*> CMainFrame::Viewers(bool all) const {
  std::vector<viewers::CViewerFrame*> found;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* v = qobject_cast<viewers::CViewerFrame*>(w); v && v->MainWindow() == this && (all || !v->isHidden()))
      found.push_back(v);
  return found;
}

bool CMainFrame::CloseViewers() {
  for (viewers::CViewerFrame* v : Viewers()) {
    // Brought forward, so that the user sees what the question is about.
    v->raise();
    if (!v->close()) return false;
  }
  return true;
}

void CMainFrame::DiscardViewers() {
  for (viewers::CViewerFrame* v : Viewers(true)) {
    if (!v->isHidden()) v->CloseDiscarding();
    delete v;
  }
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

bool CMainFrame::SaveModified() {
  // The viewers first: what they save goes into the archive asked about below.
  if (!CloseViewers() || !KeepPreviewEdits()) return false;
  if (!m_doc.IsModified()) return true;
  auto answer =
      m_prompter->Message(this, QString("Save changes to %1?").arg(Q(m_game ? m_game->Title() : m_doc.Title())), "Tarn",
                          QMessageBox::Warning, QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel);
  if (answer == QMessageBox::Save) {
    OnFileSave();
    return !m_doc.IsModified();
  }
  return answer == QMessageBox::Discard;
}

std::optional<SaveConsent> CMainFrame::AskBeforeSaving(const QString& path) {
  SaveConsent consent;
  for (const auto& [concern, text] : m_doc.SaveConcerns(S(path))) {
    const QString question = concern == SaveConcern::ChangedOnDisk ? "Overwrite it with this version?" : "Save anyway?";
    if (m_prompter->Message(this, Q(text) + "\n\n" + question, "Tarn", QMessageBox::Warning,
                            QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
      return std::nullopt;
    consent[concern] = true;
  }
  return consent;
}

bool CMainFrame::DoSave(const QString& path) {
  const auto consent = AskBeforeSaving(path);
  if (!consent) return false;
  bool ok = false;
  // Written on a worker while the window repaints; the views are not drawn meanwhile, since the
  // save gives the entries their new locations at its end (or, converting, a new tree).
  m_inDocOperation = true;
  m_list->Thumbnails()->Clear();  // nothing is read for them while the save moves the entries
  m_doc.SetWriteOptions({.deflateLevel = std::clamp(dialogs::ProfileInt("Archive", "DeflateLevel", 6), 0, 9)});
  m_splitter->setUpdatesEnabled(false);
  dialogs::CWorkDialog work(this, "Saving");
  work.Run([&](CProgress& progress) { ok = m_doc.Save(S(path), *consent, std::nullopt, &progress); });
  m_splitter->setUpdatesEnabled(true);
  m_inDocOperation = false;
  if (m_doc.Cancelled()) {
    statusBar()->showMessage(Q(m_doc.LastError()), kReportMs);
  } else if (!ok) {
    Message(Q(m_doc.LastError()), "Error", QMessageBox::Critical);
  } else {
    AddRecent(QFileInfo(path).absoluteFilePath());
    // Sizes and offsets may have changed under the views; show them afresh.
    ChangeTree([] { return nullptr; });
  }
  UpdateTitle();
  return ok;
}

void CMainFrame::OnFileNew() {
  if (!SaveModified()) return;
  DetachViews();
  m_doc.New();
  m_inDocOperation = false;
  RebuildViews();
}

void CMainFrame::OnFileOpen() {
  if (!SaveModified()) return;
  QString path = m_prompter->OpenFileName(this, "Open", kOpenFilter);
  if (!path.isEmpty()) OpenArchive(path);
}

void CMainFrame::OnFileSave() {
  if (m_game) OnSaveChangesAsPak();
  else if (m_doc.PathName().empty()) OnFileSaveAs();
  else DoSave(Q(m_doc.PathName().string()));
}

void CMainFrame::OnFileSaveAs() {
  QString path = m_prompter->SaveFileName(this, "Save As", kSaveFilter, Q(m_doc.Title()),
                                          QString(DefaultExtension(m_doc.Format())).mid(1));
  if (!path.isEmpty()) DoSave(path);
}

void CMainFrame::UpdateRecentMenu() {
  m_recentMenu->clear();
  auto settings = dialogs::OpenSettings();
  int shown = 0;
  for (int i = 1; i <= kMaxRecent; ++i) {
    QString path = settings->value(QString("Recent File List/File%1").arg(i)).toString();
    if (path.isEmpty()) continue;
    QAction* a = m_recentMenu->addAction(QString("&%1 %2").arg(++shown).arg(path));
    a->setObjectName(QString("actionRecent%1").arg(shown));
    connect(a, &QAction::triggered, this, [this, path] {
      if (SaveModified()) OpenArchive(path);
    });
  }
  m_recentMenu->setEnabled(shown > 0);
}

void CMainFrame::AddRecent(const QString& path) {
  auto settings = dialogs::OpenSettings();
  QStringList list{path};
  for (int i = 1; i <= kMaxRecent; ++i) {
    QString p = settings->value(QString("Recent File List/File%1").arg(i)).toString();
    if (!p.isEmpty() && p != path) list << p;
  }
  for (int i = 1; i <= kMaxRecent; ++i)
    settings->setValue(QString("Recent File List/File%1").arg(i), i <= list.size() ? list[i - 1] : QString());
  settings->sync();
  UpdateRecentMenu();
}

// --- navigation ---

void CMainFrame::OnUpOneLevel() {
  CPackObject* dir = TreeSelection();
  // Out of an archive opened inside another, to the directory holding its file.
  if (CPackObject* up = m_treeModel->NodeParent(dir)) m_tree->SelectDirectory(up);
}

bool CMainFrame::OpenInnerArchive(CPackObject& holder, bool expand) {
  std::string why;
  CPackObject* inner = nullptr;
  const bool openedBefore = m_doc.InnerRoot(holder) != nullptr;
  {
    dialogs::CWaitCursor wait;
    inner = m_doc.OpenInner(holder, &why);
  }
  if (!inner) {
    m_status->setText(Q(why));
    // The tree is left on the directory holding the file, which the list then shows chosen.
    if (CPackObject* dir = holder.Parent(); dir && TreeSelection() != dir) m_tree->SelectDirectory(dir);
    m_list->SelectEntries({&holder});
    return false;
  }
  if (m_list->ListModel()->SearchingArchive()) m_list->ClearFilter();
  ChangeTree([inner] { return inner; });
  if (expand) m_tree->expand(m_treeModel->IndexOf(inner));
  m_status->setText(
      QString("%1: %2 inside %3").arg(Q(m_doc.FullPath(holder)), FormatName(inner->Format()), Q(m_doc.Title())));
  // Gone into for the first time: what reading it found wrong, as for the archive opened alone.
  if (const CTarnDoc* innerDoc = m_doc.InnerDocument(*inner); innerDoc && !openedBefore) ShowOpenProblems(*innerDoc);
  return true;
}

void CMainFrame::OpenArchivesToSearch() {
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
  ChangeTree([&]() -> const CPackObject* {
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

void CMainFrame::SetViewType(int style) {
  m_list->SetViewType(style);
  UpdateCommandUI();
}

// --- viewing ---

viewers::ViewContext CMainFrame::ViewerContext() {
  viewers::ViewContext context;
  context.mainWindow = this;
  context.prompter = m_prompter.get();
  context.player = m_player;
  context.tellProblem = [this](const QString& text) { TellViewProblem(text); };
  context.textSaver = [this](CPackObject& entry) { return TextSaverFor(entry); };
  context.document = &m_doc;
  context.besideWriter = [this](CPackObject& entry) { return BesideWriterFor(entry); };
  context.entryEditing = [this](CPackObject& entry) { return EntryEditingFor(entry); };
  return context;
}

void CMainFrame::ViewEntry(CPackObject& entry, bool skin) {
  if (m_viewHandler) m_viewHandler(*this, entry, skin);
  else viewers::OpenViewer(entry, skin, ViewerContext());
}

void CMainFrame::ViewFromCommandLine(CPackObject& entry) {
  m_loudViewProblems = true;
  ViewEntry(entry, false);
  m_loudViewProblems = false;
}

void CMainFrame::TellViewProblem(const QString& text) {
  if (m_loudViewProblems) m_prompter->Message(this, text, "Tarn", QMessageBox::Warning);
  else statusBar()->showMessage(text, 5000);
}

void CMainFrame::OnView() {
  auto sel = ListSelection();
  if (m_treeFocused || sel.size() != 1 || sel.front()->IsDirectory()) return;
  ViewEntry(*sel.front(), false);
}

void CMainFrame::OnViewSkin() {
  auto sel = ListSelection();
  if (m_treeFocused || sel.size() != 1 || !EndsWith(ToLower(sel.front()->Name()), ".mdl")) return;
  ViewEntry(*sel.front(), true);
}

void CMainFrame::OnExportForEngine() { ExportForEngine(*this, Targets()); }

void CMainFrame::OnExtractTextures() {
  if (!m_cmd.extractTextures->isEnabled()) return;
  ExtractTextures(this, m_doc, Prompter(), ListSelection());
}

bool CMainFrame::IsPlaying() const { return m_player->IsPlaying(); }

void CMainFrame::ShowPlaying(const QString& text) {
  const bool was = m_playing->isVisibleTo(this);
  m_playing->setText(text);
  m_playing->setVisible(!text.isEmpty());
  // The text changes as the sound goes on; the commands only when it starts or ends.
  if (was != !text.isEmpty()) UpdateCommandUI();
}

void CMainFrame::OnStopSound() { m_player->Stop(); }

void CMainFrame::OnFilter() { m_list->FocusFilter(); }

// --- preview pane ---

void CMainFrame::ShowPreviewPane(bool shown, bool below) {
  for (auto [a, on] : {std::pair{m_cmd.previewPane, shown}, std::pair{m_cmd.previewBelow, below}}) {
    const QSignalBlocker block(a);
    a->setChecked(on);
  }
  m_listSplitter->setOrientation(below ? Qt::Vertical : Qt::Horizontal);
  m_pane->setVisible(shown);
  FitPreviewPane();
  dialogs::WriteProfileInt("Startup", "PreviewPane", shown ? 1 : 0);
  dialogs::WriteProfileInt("Startup", "PreviewBelow", below ? 1 : 0);
  RefreshPreview();
}

void CMainFrame::FitPreviewPane() {
  // Two fifths of the room, unless the user has given it a size of its own.
  const bool below = m_listSplitter->orientation() == Qt::Vertical;
  const int room = below ? m_listSplitter->height() : m_listSplitter->width();
  const int pane = below ? m_pane->height() : m_pane->width();
  if (m_pane->isVisible() && room > 0 && pane < room / 4) m_listSplitter->setSizes({room * 3 / 5, room * 2 / 5});
}

void CMainFrame::RefreshPreview() {
  m_previewed = nullptr;
  m_previewTimer->start();
}

void CMainFrame::UpdatePreview() {
  const auto sel = ListSelection();
  if (!m_pane->isHidden() && sel.size() == 1 && sel.front() == m_previewed) return;
  // Text typed in the pane goes into the archive before the pane shows anything else, and the
  // pane is shown afresh with the change; while it cannot, the text stays in sight.
  if (m_pane->HasChanges()) {
    if (KeepPreviewEdits()) RefreshPreview();
    return;
  }
  if (m_pane->isHidden()) {
    // Nothing is read for a pane nobody sees; what it showed goes (its timers with it).
    if (m_previewed) m_pane->ShowNothing(QString());
    m_previewed = nullptr;
    return;
  }
  if (sel.size() == 1) {
    m_previewed = sel.front();
    m_pane->ShowEntry(*sel.front(), ViewerContext());
    return;
  }
  m_previewed = nullptr;
  m_pane->ShowNothing(sel.empty() ? QString("Select an entry to see it here.")
                                  : QString("%1 entries selected.").arg(sel.size()));
}

void CMainFrame::OnEntryActivated(CPackObject* entry) {
  if (!entry) return;
  // A viewer opened on the entry shows what was typed in the pane; the entry is found again
  // by its path, as keeping the text replaced it.
  if (m_pane->HasChanges()) {
    const std::string path = m_doc.FullPath(*entry);
    const bool edited = Q(path) == m_pane->ShownPath();
    if (!KeepPreviewEdits() || (edited && !(entry = m_doc.FindFullPath(path)))) return;
  }
  if (entry->IsDirectory()) {
    // A directory found in the whole archive is gone into, its own entries shown whole.
    if (m_list->ListModel()->SearchingArchive()) m_list->ClearFilter();
    m_tree->SelectDirectory(entry);
    return;
  }
  // An archive inside the archive is gone into like a directory; one that cannot be read as
  // one is shown as its bytes.
  if (!m_listModel->IsShadowed(entry) && IsArchiveFile(*entry) && OpenInnerArchive(*entry, false)) return;
  ViewEntry(*entry, false);
}

void CMainFrame::OnAbout() {
  m_prompter->Message(
      this,
      "Tarn " + QApplication::applicationVersion() +
          "\n\nAn editor for the archives of Quake and Quake II: PAK, PK3 and other zips, WAD2 and WAD3.\n"
          "Licensed under the GNU General Public License, version 3 or later.",
      "About Tarn", QMessageBox::Information);
}

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
  QTimer::singleShot(0, this, &CMainFrame::FitPreviewPane);
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
  OnStopSound();
  e->accept();
}

}  // namespace tarn::browser
