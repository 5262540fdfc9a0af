// The main window: menu, toolbar, status bar, and the directory tree beside the list of the
// selected directory's entries. The commands live in controllers by what they act on (files,
// game folders, viewing, editing the tree, import and export); the window lays out their
// actions and keeps what they share: the document, the views, the tree's changes.
#pragma once

#include <QMainWindow>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "browser/EntryDrag.h"
#include "dialogs/Prompter.h"
#include "document/TarnDoc.h"
#include "game/EngineProfile.h"

class QAction;
class QActionGroup;
class QLabel;
class QMenu;
class QSplitter;
class QTemporaryDir;
class QTimer;
class QToolButton;

namespace tarn {

namespace viewers {
class CSoundPlayer;
class CViewerFrame;
struct ViewContext;
}  // namespace viewers

namespace browser {

class CPackTreeModel;
class CPackListModel;
class CPackTreeView;
class CPackListView;
class CPreviewPane;
class CGameSession;
class CProblemsPanel;
class CFileController;
class CGameController;
class CViewController;
class CEditController;
class CTransferController;

// What decides which commands are enabled, worked out once each time they are brought up to date.
struct CommandState {
  CPackObject* treeDir = nullptr;       // the directory chosen in the tree
  std::vector<CPackObject*> selection;  // the entries chosen in the list
  const CPackObject* only = nullptr;    // the one entry chosen, when one is
  bool tree = true;                     // the tree has the focus
  bool shadowed = false;                // a copy a game folder's file hides is among the chosen
};

// A command's tooltip: its menu text without the accelerator mark, its shortcut column or a
// trailing ellipsis, then its shortcut (the first, as the menu shows it) in brackets.
QString CommandToolTip(const QAction& action);

class CMainFrame : public QMainWindow, public CDocObserver {
  Q_OBJECT
 public:
  explicit CMainFrame(CTarnDoc& doc, QWidget* parent = nullptr);
  ~CMainFrame() override;

  CTarnDoc& Document() { return m_doc; }
  CPackTreeView* TreeView() const { return m_tree; }
  CPackListView* ListView() const { return m_list; }
  void SetPrompter(std::unique_ptr<dialogs::CPrompter> prompter) { m_prompter = std::move(prompter); }
  dialogs::CPrompter& Prompter() { return *m_prompter; }

  // Opens an archive as File Open does (without asking about unsaved changes).
  bool OpenArchive(const QString& path);
  // Opens game folders as File > Open Game Folder does (without asking about unsaved changes):
  // the merged tree the engine sees, with the Source column and the engine's problems.
  bool OpenGameFolders(const std::vector<std::filesystem::path>& folders, const EngineProfile& profile);
  // The open game folders; nullptr while an archive is open.
  const CGameSession* Game() const;
  CProblemsPanel* ProblemsPanel() const;
  // Before the document is let go (another opened, a new one, the window closed): closes the
  // viewers of this one, asking for each with changes; puts the text typed in the preview pane
  // into it; and asks whether to save it. False when the user cancelled any of it.
  bool SaveModified();
  // Text typed in the preview pane goes into the archive, one undoable change, before anything
  // else happens to the entries; false, with the text left in the pane, when it cannot and the
  // user keeps it.
  bool KeepPreviewEdits();

  // Shows an entry in place of the viewers (for tests); without one, the viewers show it.
  using ViewHandler = std::function<void(CMainFrame&, CPackObject& entry, bool skin)>;
  void SetViewHandler(ViewHandler handler);
  // What the viewers need from the window: placement, questions, the sound player, problems.
  viewers::ViewContext ViewerContext();
  viewers::CSoundPlayer& SoundPlayer() const;

  // A sound playing in the background: the status bar says what, Stop Sound (and closing the
  // window) ends it.
  bool IsPlaying() const;

  // Views an entry as the View command does (a model's skin when skin is set).
  void ViewByCommand(CPackObject& entry, bool skin = false);
  // Views an entry asked for on the command line: what cannot be shown is told in a message
  // box, as nobody may be looking at the status bar of a window that has just opened.
  void ViewFromCommandLine(CPackObject& entry);

  // The one place that decides which commands are enabled and checked: each controller for its
  // own, then the status bar.
  void UpdateCommandUI();
  bool IsTreeFocused() const { return m_treeFocused; }
  CPreviewPane* PreviewPane() const { return m_pane; }
  // The context menu for the current focus and selection, built afresh.
  std::unique_ptr<QMenu> BuildContextMenu();
  QString StatusText() const;

  // Imports files (and folders, as directories) into dir, reporting failures once.
  void ImportPaths(CPackObject* dir, const QStringList& paths);
  // The data of dragged entries (see CEntryMimeData).
  QMimeData* DragData(const std::vector<CPackObject*>& entries);

  // A command of the window, owned by owner, found by tests by its objectName: run goes only
  // once the text typed in the preview pane is in the archive. Its shortcut works anywhere in
  // the window.
  QAction* AddCommand(QObject* owner, const char* objectName, const QString& text, const char* tip,
                      std::function<void()> run, const QKeySequence& key = {});

  void OnDocumentChanged(CTarnDoc& doc) override;

  // How long a report of finished work stays in the status bar.
  static constexpr int kReportMs = 8000;

 protected:
  void closeEvent(QCloseEvent* e) override;
  void showEvent(QShowEvent* e) override;

 signals:
  // The entry tree changed (an edit, an undo): a window editing an entry looks at it again.
  void treeChanged();

 private:
  friend class CFileController;
  friend class CGameController;
  friend class CViewController;
  friend class CEditController;
  friend class CTransferController;

  void CreateMenus();
  void CreateToolBar();
  void RebuildViews();
  // Empties the views and leaves the game folders, before the document takes another tree
  // (the caller ends m_inDocOperation once it has).
  void DetachViews();
  void UpdateTitle();
  // A change of the entry tree, with both views reset around it. mutate returns the
  // directory to show afterwards, or nullptr to stay (or go to the nearest surviving parent).
  void ChangeTree(const std::function<const CPackObject*()>& mutate);
  // One undoable change of the tree: steps make it through the edit (and return as mutate does).
  void EditTree(const std::string& text, const std::function<const CPackObject*(CTreeEdit&)>& steps);
  // One undoable change putting a file of bytes named name in dir, in place of old when given;
  // the file placed, or nullptr when the archive refused it.
  CPackObject* PutFile(CPackObject& dir, CPackObject* old, const std::string& name,
                       const std::vector<std::uint8_t>& bytes, const std::string& text);
  CPackObject* FindDirectory(const std::string& path);
  // The directory holding entry, looked for in dirPath, then in every tree of the document (the
  // entry or a directory on its way may have been renamed or moved). Found by the pointer alone:
  // nothing of an entry no longer in the archive is read. nullptr when no tree holds it.
  CPackObject* DirectoryHolding(const CPackObject* entry, const std::string& dirPath);
  // How the status bar names a directory that entries went into.
  QString PlaceOf(const CPackObject& dir) const;
  // Entries just put in dir, selected in the list and scrolled to; with reveal, dir is shown
  // first when the list shows another (or a filter hides them).
  void ShowAdded(CPackObject* dir, const std::vector<CPackObject*>& added, bool reveal);

  CPackObject* TreeSelection() const;
  std::vector<CPackObject*> ListSelection() const;
  // The entries a command acts on, by the focus rule.
  std::vector<CPackObject*> Targets() const;
  CPackObject* ImportTarget() const;
  CPackObject* PasteTarget() const;
  void Message(const QString& text, const QString& caption, QMessageBox::Icon icon);

  CTarnDoc& m_doc;
  std::unique_ptr<dialogs::CPrompter> m_prompter;
  CPackTreeModel* m_treeModel;
  CPackListModel* m_listModel;
  CPackTreeView* m_tree;
  CPackListView* m_list;
  QSplitter* m_splitter;
  QSplitter* m_listSplitter;
  CPreviewPane* m_pane;
  // Counts the trees the document has had: an editor holding an entry of an older one saves
  // nothing into the new one.
  std::uint64_t m_treeGeneration = 0;
  QLabel* m_status;
  QLabel* m_playing;
  QToolButton* m_problemsButton;
  bool m_treeFocused = true;
  bool m_placed = false;
  bool m_inDocOperation = false;
  bool m_keepingEdits = false;
  // The commands, by what they act on; each makes and owns its actions. Children of the window,
  // so they go with it.
  CFileController* m_files;
  CGameController* m_games;
  CViewController* m_views;
  CEditController* m_edit;
  CTransferController* m_transfer;
};

}  // namespace browser
}  // namespace tarn
