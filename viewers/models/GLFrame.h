// The model viewer window: the OpenGL view, a toolbar of frame commands, and a bar on the
// right with view, animation and skin controls. It is a window of its own: the main window and
// other viewers stay usable beside it. Given a way to change the entry, the Skins and Frames
// panels and a Quake model's properties edit the model in place, each edit one step of the
// document's history.
#pragma once

#include <QPushButton>
#include <cstdint>
#include <vector>

#include "models/ModelEdit.h"
#include "viewers/EntryEditing.h"
#include "viewers/ViewerFrame.h"
#include "viewers/models/GLView.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QDockWidget;
class QToolBar;
class QTreeWidget;
class QTreeWidgetItem;

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
  // main window. editing, when given, lets the panels change the model in the archive.
  CGLFrame(CPackObject& entry, QWidget* mainWindow, dialogs::CPrompter& prompter, EntryEditing editing = {});
  ~CGLFrame() override;

  CGLView* View() const { return m_view; }
  QComboBox* AnimationCombo() const { return m_animations; }
  QComboBox* SkinCombo() const { return m_skins; }
  QAction* Command(const char* objectName) const;
  void UpdateCommandUI();
  bool SaveViewAsPng(const QString& path);
  // "walk: frame 3 of 8" for the status bar.
  QString FrameText() const;
  QTreeWidget* SkinList() const { return m_skinList; }
  QTreeWidget* FrameList() const { return m_frameList; }
  // The model's bytes the window shows now.
  const std::vector<std::uint8_t>& ShownBytes() const { return m_bytes; }

 protected:
  void closeEvent(QCloseEvent* e) override;

 private:
  void CreateBars();
  void FillCombos();
  void ShowFrame();

  // The panels, and editing through them (GLFrameEditing.cpp).
  void CreatePanels();
  void CreateSkinsPanel();
  void CreateFramesPanel();
  void CreatePropertiesPanel();
  // The model in the view and the panels from m_bytes; loaded from entry through host.
  bool ShowModel(CPackObject& entry, CModelHost& host, bool keepCamera, std::string* error);
  // Group members' skins among the loaded ones, in the file's order: the loader passes over them.
  void PutInGroupSkins(ModelData& model) const;
  void FillPanels();
  void UpdatePanelCommands();
  // Looks at the entry again after a change of the archive; reloads when its bytes changed.
  void Reload();
  // Makes the edit in the archive as one undoable change; tells why and changes nothing when
  // it cannot be made.
  bool Apply(const ModelEdit& edit, const QString& what);
  void Refuse(const QString& what, const QString& why);
  void SkinFromPicture(bool replace);
  // The PCX file the Quake II model's skin index names, made from the picture.
  void ReplaceMd2Skin(int index, const RgbaImage& picture);
  void ShowChosenSkin();
  void ShowChosenFrame();
  void SkinEdited(QTreeWidgetItem* item, int column);
  void FrameEdited(QTreeWidgetItem* item, int column);
  void MoveChosenFrame(int by);
  void MoveFrame(int from, int to);  // to: as ModelEdit counts it
  void RemoveChosenFrame();
  void RemoveChosenSkin();
  void GroupChosenSkins();
  void UngroupChosenSkin();
  void PropertiesEdited();
  // The chosen piece and member (-1: the piece itself, or a single one); false when none.
  static bool Chosen(const QTreeWidget* list, int& index, int& member);

  CGLView* m_view;
  QToolBar* m_toolBar = nullptr;
  QDockWidget* m_dialogBar = nullptr;
  QComboBox* m_animations = nullptr;
  QComboBox* m_skins = nullptr;
  QPushButton* m_playButton = nullptr;
  QPushButton* m_stopButton = nullptr;
  QLabel* m_frameText = nullptr;

  dialogs::CPrompter& m_prompter;
  EntryEditing m_editing;
  std::vector<std::uint8_t> m_bytes;
  ModelLayout m_layout;
  bool m_layoutRead = false;
  bool m_filling = false;    // the panels are being filled: their signals are no edits
  bool m_reloadDue = false;  // a look at the entry is queued
  QDockWidget* m_skinsPanel = nullptr;
  QDockWidget* m_framesPanel = nullptr;
  QDockWidget* m_propertiesPanel = nullptr;
  QTreeWidget* m_skinList = nullptr;
  QTreeWidget* m_frameList = nullptr;
  std::vector<QCheckBox*> m_flagBoxes;
  QComboBox* m_sync = nullptr;
  QDoubleSpinBox* m_eye[3] = {nullptr, nullptr, nullptr};
};

}  // namespace tarn::viewers
