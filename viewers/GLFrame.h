// The model viewer window: the OpenGL view, a toolbar of frame commands, and a bar on the
// right with view, animation and skin controls. It is a window of its own: the main window and
// other viewers stay usable beside it.
#pragma once

#include <QPushButton>

#include "viewers/GLView.h"
#include "viewers/ViewerFrame.h"

class QComboBox;
class QLabel;
class QDockWidget;
class QToolBar;

namespace tarn {
class CPackObject;
namespace dialogs {
class CPrompter;
}
}  // namespace tarn

namespace tarn::viewers {

// A push button showing a small picture instead of text (arrows, play, stop).
class CSmartBitmapButton : public QPushButton {
  Q_OBJECT
 public:
  enum Picture { kUp, kLeft, kRight, kDown, kRotateLeft, kRotateRight, kPlay, kStop, kFit };
  CSmartBitmapButton(Picture picture, const QString& tip, QWidget* parent = nullptr);
};

class CGLFrame : public CViewerFrame {
  Q_OBJECT
 public:
  // Loads the model from the entry (whose bytes are read only here) and shows it beside the
  // main window.
  CGLFrame(CPackObject& entry, QWidget* mainWindow, dialogs::CPrompter& prompter);
  ~CGLFrame() override;

  CGLView* View() const { return m_view; }
  QComboBox* AnimationCombo() const { return m_animations; }
  QComboBox* SkinCombo() const { return m_skins; }
  QAction* Command(const char* objectName) const;
  void UpdateCommandUI();
  bool SaveViewAsPng(const QString& path);
  // "walk: frame 3 of 8" for the status bar.
  QString FrameText() const;

 protected:
  void closeEvent(QCloseEvent* e) override;

 private:
  void CreateBars();
  void FillCombos();
  void ShowFrame();

  CGLView* m_view;
  QToolBar* m_toolBar = nullptr;
  QDockWidget* m_dialogBar = nullptr;
  QComboBox* m_animations = nullptr;
  QComboBox* m_skins = nullptr;
  QPushButton* m_playButton = nullptr;
  QPushButton* m_stopButton = nullptr;
  QLabel* m_frameText = nullptr;
};

}  // namespace tarn::viewers
