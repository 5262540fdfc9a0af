// What every viewer window shares: a File menu ending in "&Close" (Ctrl+W, Esc), a place beside
// the main window rather than over it, a size fitted to what it shows, and the size of the last
// window of its kind remembered in the profile. The main window is only a placement reference:
// a viewer depends on nothing of it.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <functional>

class QMenu;

namespace tarn::dialogs {
class CPrompter;
}

namespace tarn::viewers {

// Where a window of the given frame size goes beside `anchor` on `screen`: to its right when it
// fits there, else to its left, else on the side with more room, kept on the screen; top edges
// aligned as far as the screen allows. The size is cut to the screen.
QRect PlaceBeside(const QRect& anchor, QSize size, const QRect& screen);

class CViewerFrame : public QMainWindow {
  Q_OBJECT
 public:
  // kind names the size memory ("Picture", "Text", "Hex", "Model"); mainWindow may be null.
  CViewerFrame(const QString& kind, QWidget* mainWindow);
  ~CViewerFrame() override;

  const QString& Kind() const { return m_kind; }
  QMenu* FileMenu() const { return m_file; }
  // Adds a command to the File menu, above "&Close".
  void AddFileAction(QAction* action);

  // Sizes the window so that its client area is `content` (the remembered size of the kind
  // instead, when there is one and useRemembered is set) and places it beside the main window.
  void PlaceBesideMainWindow(QSize content, bool useRemembered = true);
  // The size last remembered for a kind; empty when none.
  static QSize RememberedSize(const QString& kind);
  // The window it was opened from, whose document it shows; nullptr when none.
  QWidget* MainWindow() const { return m_mainWindow; }
  // Closes without asking about changes not yet put in the archive: the archive is going.
  void CloseDiscarding();

  // What the window shows, so that viewing it again raises this window rather than opening
  // another: the entry's identity and path (see ViewerRegistry).
  void SetShownKey(const QString& key) { m_shownKey = key; }
  const QString& ShownKey() const { return m_shownKey; }
  // The open window of mainWindow showing key; nullptr when none.
  static CViewerFrame* FindShowing(const QWidget* mainWindow, const QString& key);
  // Brings the window to the front with the keyboard, restored when it was minimized.
  void Bring();

 protected:
  void closeEvent(QCloseEvent* e) override;
  void showEvent(QShowEvent* e) override;
  // Before closing with changes not yet put in the archive: asks whether to save them (with
  // save) or discard them; false when the window should stay open. Nothing is asked while
  // CloseDiscarding closes it.
  bool MayCloseWithChanges(dialogs::CPrompter& prompter, const QString& question, const QString& caption,
                           const std::function<bool()>& save);

 private:
  // The place beside the main window moved down and right past the viewers already there, so
  // that a new one never hides another exactly.
  QPoint Cascaded(QPoint at, QSize outer, const QRect& available, int step) const;

  QString m_kind;
  QString m_shownKey;
  QPointer<QWidget> m_mainWindow;
  QMenu* m_file;
  QAction* m_close;
  bool m_shown = false;
  bool m_discarding = false;
};

}  // namespace tarn::viewers
