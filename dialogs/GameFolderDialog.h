// Open Game Folder: the game folders in the order the engine adds them (the base game first,
// then the mod, each winning over those before it), and the engine whose rules apply.
#pragma once

#include <QDialog>
#include <QStringList>
#include <functional>

class QComboBox;
class QListWidget;
class QPushButton;

namespace tarn::dialogs {

struct GameFolderChoice {
  QStringList folders;  // the base game first
  QString engine;       // a profile name ("quake", "yamagi", ...), not the name shown
};

class CGameFolderDialog : public QDialog {
  Q_OBJECT
 public:
  CGameFolderDialog(const GameFolderChoice& start, QWidget* parent = nullptr);
  GameFolderChoice Choice() const;
  // How Add chooses a folder: a folder dialog unless told otherwise (tests).
  void SetFolderChooser(std::function<QString()> chooser) { m_chooser = std::move(chooser); }

 private:
  void Add();
  // The engine of the listed folders' game, unless the user chose one.
  void ProposeEngine();
  void Move(int by);
  void UpdateButtons();
  QListWidget* m_list;
  QComboBox* m_engine;
  QPushButton* m_remove;
  QPushButton* m_up;
  QPushButton* m_down;
  QPushButton* m_ok;
  std::function<QString()> m_chooser;
  bool m_engineChosen = false;
};

}  // namespace tarn::dialogs
