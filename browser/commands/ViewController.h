// Looking at entries: the viewers opened from the window (and how their edits go back into the
// archive), the preview pane, the list's styles, going into directories and archives inside the
// archive, and the window's one sound player.
#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

#include "viewers/EntryEditing.h"
#include "viewers/TextViewer.h"

class QAction;
class QActionGroup;
class QTimer;

namespace tarn {
class CPackObject;
namespace viewers {
class CSoundPlayer;
class CViewerFrame;
struct ViewContext;
}  // namespace viewers
}  // namespace tarn

namespace tarn {
class CTarnDoc;
}

namespace tarn::browser {

class CMainFrame;
struct CommandState;

class CViewController : public QObject {
  Q_OBJECT
 public:
  explicit CViewController(CMainFrame& frame);

  struct Commands {
    QAction *view, *viewSkin, *stopSound, *upOneLevel;
    QAction *largeIcons, *smallIcons, *list, *details, *thumbnails, *previewPane, *previewBelow, *about;
  };
  const Commands& Cmd() const { return m_cmd; }
  void UpdateCommands(const CommandState& state);

  using ViewHandler = std::function<void(CMainFrame&, CPackObject& entry, bool skin)>;
  void SetViewHandler(ViewHandler handler) { m_viewHandler = std::move(handler); }
  viewers::ViewContext ViewerContext();
  viewers::CSoundPlayer& SoundPlayer() const { return *m_player; }
  bool IsPlaying() const;
  void ViewEntry(CPackObject& entry, bool skin);
  void ViewFromCommandLine(CPackObject& entry);
  // Tells why an entry cannot be viewed, for the viewers: on the status bar, or in a message
  // box while a view asked for on the command line runs.
  void TellViewProblem(const QString& text);
  void StopSound();

  // The viewer windows opened from the window (shown ones only, unless all).
  std::vector<viewers::CViewerFrame*> Viewers(bool all = false) const;
  // Closes them, asking for each with changes; false when one stays open.
  bool CloseViewers();
  // Closes them without asking, at once: the document they show is going.
  void DiscardViewers();

  // Shows the selected entry in the pane afresh, once the events now waiting are handled.
  void RefreshPreview();
  // The pane shows nothing any more (the entry it showed is going).
  void ForgetPreviewed() { m_previewed = nullptr; }
  void ShowPreviewPane(bool shown, bool below);
  void FitPreviewPane();
  void OnEntryActivated(CPackObject* entry);
  // Opens the archive a file holds as a directory of the tree, and shows it; false, told in the
  // status bar, when its bytes are no archive.
  bool OpenInnerArchive(CPackObject& holder, bool expand);
  void OpenArchivesToSearch();

 private:
  void UpdatePreview();
  void OnView();
  void OnViewSkin();
  void OnUpOneLevel();
  void OnAbout();
  void SetViewType(int style);
  void ShowPlaying(const QString& text);
  // How a viewer's edited text goes back into the entry, one undoable change a save; none for
  // an entry no command may change.
  viewers::TextSaver TextSaverFor(CPackObject& entry);
  // How a viewer puts a file beside the entry (a map's .ent), one undoable change each; none
  // where TextSaverFor gives none.
  viewers::BesideWriter BesideWriterFor(CPackObject& entry);
  // How a viewer changes the entry's bytes in steps of the document's history; none where
  // TextSaverFor gives none.
  viewers::EntryEditing EntryEditingFor(CPackObject& entry);

  CMainFrame& m_frame;
  CTarnDoc& m_doc;
  Commands m_cmd{};
  QActionGroup* m_styleGroup = nullptr;
  viewers::CSoundPlayer* m_player;
  QTimer* m_previewTimer;
  const CPackObject* m_previewed = nullptr;  // what the pane shows, while it is current
  bool m_loudViewProblems = false;
  ViewHandler m_viewHandler;
};

}  // namespace tarn::browser
