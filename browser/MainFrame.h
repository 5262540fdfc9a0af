// The main window: menu, toolbar, status bar, and the directory tree beside the list of the
// selected directory's entries, with the commands that act on them.
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
#include "viewers/TextViewer.h"

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
  const CGameSession* Game() const { return m_game.get(); }
  CProblemsPanel* ProblemsPanel() const { return m_problemsPanel; }
  // Before the document is let go (another opened, a new one, the window closed): closes the
  // viewers of this one, asking for each with changes; puts the text typed in the preview pane
  // into it; and asks whether to save it. False when the user cancelled any of it.
  bool SaveModified();

  // Shows an entry in place of the viewers (for tests); without one, the viewers show it.
  using ViewHandler = std::function<void(CMainFrame&, CPackObject& entry, bool skin)>;
  void SetViewHandler(ViewHandler handler) { m_viewHandler = std::move(handler); }
  // What the viewers need from the window: placement, questions, the sound player, problems.
  viewers::ViewContext ViewerContext();
  viewers::CSoundPlayer& SoundPlayer() const { return *m_player; }

  // A sound playing in the background: the status bar says what, Stop Sound (and closing the
  // window) ends it.
  bool IsPlaying() const;

  // Views an entry as the View command does (a model's skin when skin is set).
  void ViewByCommand(CPackObject& entry, bool skin = false) { ViewEntry(entry, skin); }
  // Views an entry asked for on the command line: what cannot be shown is told in a message
  // box, as nobody may be looking at the status bar of a window that has just opened.
  void ViewFromCommandLine(CPackObject& entry);
  // Tells why an entry cannot be viewed, for the viewers: on the status bar, or in a message
  // box while a view asked for on the command line runs.
  void TellViewProblem(const QString& text);

  // The one place that decides which commands are enabled and checked.
  void UpdateCommandUI();
  bool IsTreeFocused() const { return m_treeFocused; }
  CPreviewPane* PreviewPane() const { return m_pane; }
  // The context menu for the current focus and selection, built afresh.
  std::unique_ptr<QMenu> BuildContextMenu();
  QString StatusText() const;

  // Imports files (and folders, as directories) into dir, reporting failures once.
  void ImportPaths(CPackObject* dir, const QStringList& paths);

  // Drag and drop: the data of dragged entries; what they become for a file manager (exported
  // into a temporary folder that goes with the window) and for another Tarn window; and a drop
  // on dir (entries of this window move there, or are copied with copy set).
  QMimeData* DragData(const std::vector<CPackObject*>& entries);
  QList<QUrl> ExportForDrag(const QStringList& paths);
  QByteArray StreamForDrag(const QStringList& paths);
  void Drop(const DroppedEntries& drop, CPackObject* dir, bool copy);

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
  void CreateActions();
  void CreateMenus();
  void CreateToolBar();
  // The frame's commands, each made once in CreateActions (or CreateGameActions) and named
  // here, so that a misspelt command fails to compile rather than being skipped.
  struct Commands {
    QAction *newArchive, *open, *save, *saveAs, *exit;
    QAction *undo, *redo, *cut, *copy, *paste, *duplicate, *selectAll, *filter, *newDirectory, *rename,
        *replaceFromFile, *deleteEntries;
    QAction *importFile, *importDirectory, *newSprite, *exportFile, *exportDirectory, *exportAsPng, *exportForEngine;
    QAction *view, *viewSkin, *extractTextures, *stopSound, *upOneLevel;
    QAction *largeIcons, *smallIcons, *list, *details, *thumbnails, *previewPane, *previewBelow, *about;
    QAction *openGameFolder, *saveChangesAsPak, *showShadowed;
  };
  Commands m_cmd{};
  // A command of the frame, kept in m_cmd.*command (when given) and found by tests by its objectName.
  QAction* MakeAction(QAction* Commands::*command, const char* objectName, const QString& text, const char* tip,
                      void (CMainFrame::*slot)(), const QKeySequence& key = {});
  void RebuildViews();
  // Runs read (the slow half of an open) on a worker; false, told to the user, when it was
  // cancelled or failed (the flags read has set).
  bool ReadForOpening(const std::function<void(CProgress&)>& read, const bool& cancelled, const std::string& error);
  // Empties the views and leaves the game folders, before the document takes another tree
  // (the caller ends m_inDocOperation once it has).
  void DetachViews();
  void UpdateTitle();
  // Text typed in the preview pane goes into the archive, one undoable change, before anything
  // else happens to the entries; false, with the text left in the pane, when it cannot and the
  // user keeps it.
  bool KeepPreviewEdits();
  // The viewer windows opened from this window (shown ones only, unless all).
  std::vector<viewers::CViewerFrame*> Viewers(bool all = false) const;
  // Closes them, asking for each with changes; false when one stays open.
  bool CloseViewers();
  // Closes them without asking, at once: the document they show is going.
  void DiscardViewers();
  void UpdateRecentMenu();
  void AddRecent(const QString& path);
  bool DoSave(const QString& path);
  // Asks about what saving to path would do beyond replacing the archive's contents (break
  // hard links, overwrite a read-only file or another program's changes); nothing when the
  // user declined any of it.
  std::optional<SaveConsent> AskBeforeSaving(const QString& path);
  // What opening doc (the window's, or an archive inside it) found wrong, in a message box.
  void ShowOpenProblems(const CTarnDoc& doc);

  // A change of the entry tree, with both views reset around it. mutate returns the
  // directory to show afterwards, or nullptr to stay (or go to the nearest surviving parent).
  void ChangeTree(const std::function<const CPackObject*()>& mutate);
  // One undoable change of the tree: steps make it through the edit (and return as mutate does).
  void EditTree(const std::string& text, const std::function<const CPackObject*(CTreeEdit&)>& steps);
  // One undoable change putting a file of bytes named name in dir, in place of old when given;
  // the file placed, or nullptr when the archive refused it.
  CPackObject* PutFile(CPackObject& dir, CPackObject* old, const std::string& name,
                       const std::vector<std::uint8_t>& bytes, const std::string& text);
  void StepHistory(bool back);
  CPackObject* FindDirectory(const std::string& path);
  // The directory holding entry, looked for in dirPath, then in every tree of the document (the
  // entry or a directory on its way may have been renamed or moved). Found by the pointer alone:
  // nothing of an entry no longer in the archive is read. nullptr when no tree holds it.
  CPackObject* DirectoryHolding(const CPackObject* entry, const std::string& dirPath);
  // The transfer stream of the entries with their subtrees; unreadable gets the files copied empty.
  QByteArray EntryStream(const std::vector<CPackObject*>& entries, QStringList* unreadable) const;
  // Reads entries from a transfer stream into dir, asking about taken names; one undoable step.
  void PasteStream(const QByteArray& data, CPackObject* dir, const QString& command);
  void MoveEntries(const QStringList& paths, CPackObject* dir);
  // How the status bar names a directory that entries went into.
  QString PlaceOf(const CPackObject& dir) const;
  // Entries just put in dir, selected in the list and scrolled to; with reveal, dir is shown
  // first when the list shows another (or a filter hides them).
  void ShowAdded(CPackObject* dir, const std::vector<CPackObject*>& added, bool reveal);
  // Moves what an import made in a detached directory into dir, as one undoable step named
  // "command what" (what: the entries, counted or named, unless given).
  void TakeStaged(CPackObject* dir, std::unique_ptr<CPackObject> staging, const std::string& command,
                  const std::string& what = {});
  bool ExportAsPng(CPackObject& entry, const QString& path);
  // Exports the entries into folder, the directories between base and each made as folders (see
  // CPackObject::ExportInto).
  ExportReport ExportEntries(const std::vector<CPackObject*>& entries, const QString& folder, const CPackObject* base);

  CPackObject* TreeSelection() const;
  std::vector<CPackObject*> ListSelection() const;
  // The entries a command acts on, by the focus rule.
  std::vector<CPackObject*> Targets() const;
  CPackObject* ImportTarget() const;
  CPackObject* PasteTarget() const;
  void Message(const QString& text, const QString& caption, QMessageBox::Icon icon);

  // commands
  void OnFileNew();
  void OnFileOpen();
  void OnFileSave();
  void OnFileSaveAs();
  void OnUndo();
  void OnRedo();
  // How a viewer's edited text goes back into the entry, one undoable change a save; none for
  // an entry no command may change.
  viewers::TextSaver TextSaverFor(CPackObject& entry);
  // How a viewer puts a file beside the entry (a map's .ent), one undoable change each; none
  // where TextSaverFor gives none.
  viewers::BesideWriter BesideWriterFor(CPackObject& entry);
  viewers::EntryEditing EntryEditingFor(CPackObject& entry);  // none where TextSaverFor gives none
  void OnCut();
  void OnCopy();
  void OnPaste();
  void OnDuplicate();
  void OnSelectAll();
  void OnReplaceFromFile();
  void OnExportAsPng();
  // Renames entry to name after the checks every rename passes; false, told, when refused.
  bool RenameTo(CPackObject* entry, const QString& name);
  // Takes the entries out as one undoable step named verb; the list then selects the entry
  // that followed them.
  void DeleteEntries(const std::vector<CPackObject*>& entries, const std::string& verb);
  void OnNewDirectory();
  void OnRename();
  void OnDelete();
  void OnImportFile();
  void OnImportDirectory();
  void OnNewSprite();
  void OnExportFile();
  void OnExportDirectory();
  void OnUpOneLevel();
  void OnFilter();
  void OnView();
  void OnViewSkin();
  void OnExtractTextures();
  void OnExportForEngine();
  void OnStopSound();
  void OnAbout();
  // game folders (GameFolderCommands.cpp)
  void CreateGameActions();
  void AddGameMenus(QMenu* file, QMenu* view);
  void OnOpenGameFolder();
  void OnSaveChangesAsPak();
  void OnShowShadowed(bool shown);
  void OnEngineChosen(const QString& name);
  void ShowProblemsPanel();
  // Shows entry's directory and selects it in the list.
  void RevealEntry(const std::string& path);
  // Back to an archive: the views must show nothing of the merged tree any more.
  void LeaveGameMode();
  void UpdateGameUI();
  void SetViewType(int style);
  void OnEntryActivated(CPackObject* entry);
  void ShowPlaying(const QString& text);
  void ShowPreviewPane(bool shown, bool below);
  void FitPreviewPane();
  // Shows the selected entry in the pane afresh, once the events now waiting are handled.
  void RefreshPreview();
  void UpdatePreview();
  void ViewEntry(CPackObject& entry, bool skin);
  // Opens the archive a file holds as a directory of the tree, and shows it; false, told in the
  // status bar, when its bytes are no archive.
  bool OpenInnerArchive(CPackObject& holder, bool expand);
  void OpenArchivesToSearch();

  CTarnDoc& m_doc;
  std::unique_ptr<dialogs::CPrompter> m_prompter;
  viewers::CSoundPlayer* m_player;
  CPackTreeModel* m_treeModel;
  CPackListModel* m_listModel;
  CPackTreeView* m_tree;
  CPackListView* m_list;
  QSplitter* m_splitter;
  QSplitter* m_listSplitter;
  CPreviewPane* m_pane;
  QTimer* m_previewTimer;
  std::vector<std::unique_ptr<QTemporaryDir>> m_dragFolders;
  const CPackObject* m_previewed = nullptr;
  // Counts the trees the document has had: an editor holding an entry of an older one saves
  // nothing into the new one.
  std::uint64_t m_treeGeneration = 0;  // what the pane shows, while it is current
  QLabel* m_status;
  QLabel* m_playing;
  QMenu* m_recentMenu = nullptr;
  QActionGroup* m_styleGroup = nullptr;
  bool m_treeFocused = true;
  bool m_placed = false;
  bool m_inDocOperation = false;
  bool m_loudViewProblems = false;
  bool m_keepingEdits = false;
  ViewHandler m_viewHandler;
  std::unique_ptr<CGameSession> m_game;
  CProblemsPanel* m_problemsPanel = nullptr;
  QToolButton* m_problemsButton = nullptr;
  QActionGroup* m_engineGroup = nullptr;
};

}  // namespace browser
}  // namespace tarn
