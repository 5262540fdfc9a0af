// Game folders in the window: opening them as the engine sees them, the engine setting, the
// shadowed copies, the problems panel, and saving the changes as a new pak of the mod.
#pragma once

#include <QObject>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "game/EngineProfile.h"

class QAction;
class QActionGroup;
class QMenu;

namespace tarn {
class CTarnDoc;
}

namespace tarn::browser {

class CMainFrame;
class CGameSession;
class CProblemsPanel;

class CGameController : public QObject {
  Q_OBJECT
 public:
  explicit CGameController(CMainFrame& frame);
  ~CGameController() override;

  struct Commands {
    QAction *openGameFolder, *saveChangesAsPak, *showShadowed;
  };
  const Commands& Cmd() const { return m_cmd; }
  void AddMenuItems(QMenu* file, QMenu* view);
  void UpdateCommands();

  bool OpenGameFolders(const std::vector<std::filesystem::path>& folders, const EngineProfile& profile);
  // The open game folders; nullptr while an archive is open.
  CGameSession* Session() const { return m_game.get(); }
  CProblemsPanel* ProblemsPanel() const { return m_problemsPanel; }
  // Back to an archive: the views must show nothing of the merged tree any more.
  void LeaveGameMode();
  void OnSaveChangesAsPak();

 private:
  void OnOpenGameFolder();
  void OnShowShadowed(bool shown);
  void OnEngineChosen(const QString& name);
  void ShowProblemsPanel();
  // Shows entry's directory and selects it in the list.
  void RevealEntry(const std::string& path);
  void UpdateGameUI();

  CMainFrame& m_frame;
  CTarnDoc& m_doc;
  Commands m_cmd{};
  std::unique_ptr<CGameSession> m_game;
  CProblemsPanel* m_problemsPanel = nullptr;
  QActionGroup* m_engineGroup = nullptr;
};

}  // namespace tarn::browser
