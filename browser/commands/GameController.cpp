#include "browser/commands/GameController.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <QStatusBar>
#include <QToolButton>
#include <algorithm>

#include "browser/GameSession.h"
#include "browser/MainFrame.h"
#include "browser/PackListView.h"
#include "browser/PackModels.h"
#include "browser/PackTreeView.h"
#include "browser/PreviewPane.h"
#include "browser/ProblemsPanel.h"
#include "browser/commands/FileController.h"
#include "browser/commands/ViewController.h"
#include "dialogs/Mnemonics.h"
#include "dialogs/Settings.h"
#include "dialogs/Text.h"
#include "dialogs/WorkDialog.h"
#include "fileio/Strings.h"
#include "game/GameFolder.h"

namespace tarn::browser {

using dialogs::Q;
using dialogs::S;

namespace {

const char* const kEngineKey = "Game/Engine";
const char* const kFoldersKey = "Game/Folders";
// How many paths a message names before it counts the rest.
constexpr std::size_t kNamedInMessage = 12;

const EngineProfile& EngineSetting() {
  const EngineProfile* p = FindEngineProfile(S(dialogs::OpenSettings()->value(kEngineKey).toString()));
  return p ? *p : DefaultEngineProfile();
}

// The paths as lines of a message, the first few named and the rest counted.
QString PathLines(const std::vector<std::string>& paths) {
  QString text;
  for (std::size_t i = 0; i < paths.size() && i < kNamedInMessage; ++i) text += "\n" + Q(paths[i]);
  if (paths.size() > kNamedInMessage) text += QString("\n... and %1 more").arg(paths.size() - kNamedInMessage);
  return text;
}

}  // namespace

CGameController::CGameController(CMainFrame& frame) : QObject(&frame), m_frame(frame), m_doc(frame.m_doc) {
  m_cmd.openGameFolder = frame.AddCommand(this, "actionOpenGameFolder", "Open &Game Folder...",
                                          "Open game folders (the base game, then the mod) as the engine sees them",
                                          [this] { OnOpenGameFolder(); });
  m_cmd.saveChangesAsPak =
      frame.AddCommand(this, "actionSaveChangesAsPak", "Save &Changes as pakN.pak",
                       "Write the changed and added files into a new pak of the mod, loaded after its others",
                       [this] { OnSaveChangesAsPak(); });
  m_cmd.showShadowed = frame.AddCommand(this, "actionShowShadowed", "Show s&hadowed files",
                                        "Also list the copies the engine does not load, greyed", nullptr);
  m_cmd.showShadowed->setCheckable(true);
  m_cmd.showShadowed->setChecked(dialogs::ProfileInt("Game", "ShowShadowed", 0) != 0);
  connect(m_cmd.showShadowed, &QAction::toggled, this, &CGameController::OnShowShadowed);
  m_engineGroup = new QActionGroup(this);
  for (const EngineProfile& p : EngineProfiles()) {
    const QString key = Q(p.name);
    QAction* a = frame.AddCommand(this, qPrintable("actionEngine_" + key), Q(p.displayName), nullptr, nullptr);
    a->setStatusTip(Q(p.engines));
    a->setCheckable(true);
    a->setChecked(&p == &EngineSetting());
    m_engineGroup->addAction(a);
    connect(a, &QAction::triggered, this, [this, key] { OnEngineChosen(key); });
  }
  connect(frame.m_problemsButton, &QToolButton::clicked, this, &CGameController::ShowProblemsPanel);
}

// The session's views go before the window's do.
CGameController::~CGameController() = default;

void CGameController::UpdateCommands() { m_cmd.saveChangesAsPak->setEnabled(m_game != nullptr); }

void CGameController::AddMenuItems(QMenu* file, QMenu* view) {
  if (file) {
    file->insertAction(m_frame.m_files->Cmd().save, m_cmd.openGameFolder);
    file->addAction(m_cmd.saveChangesAsPak);
  }
  if (view) {
    view->addSeparator();
    view->addAction(m_cmd.showShadowed);
    QMenu* engine = view->addMenu("&Engine");
    engine->setObjectName("menuEngine");
    engine->addActions(m_engineGroup->actions());
    dialogs::GiveMnemonics(*engine);
  }
}

void CGameController::OnOpenGameFolder() {
  if (!m_frame.m_files->SaveModified()) return;
  dialogs::GameFolderChoice start;
  start.engine = Q(EngineSetting().name);
  if (m_game)
    for (const auto& f : m_game->Folders()) start.folders << Q(f.string());
  else start.folders = dialogs::OpenSettings()->value(kFoldersKey).toStringList();
  const auto choice = m_frame.Prompter().GameFolders(&m_frame, start);
  if (!choice || choice->folders.isEmpty()) return;
  const EngineProfile* profile = FindEngineProfile(S(choice->engine));
  if (!profile) profile = &DefaultEngineProfile();
  auto settings = dialogs::OpenSettings();
  settings->setValue(kEngineKey, Q(profile->name));
  settings->setValue(kFoldersKey, choice->folders);
  std::vector<std::filesystem::path> folders;
  for (const QString& f : choice->folders) folders.emplace_back(S(f));
  OpenGameFolders(folders, *profile);
}

bool CGameController::OpenGameFolders(const std::vector<std::filesystem::path>& folders, const EngineProfile& profile) {
  LoadedGame loaded;
  if (!m_frame.m_files->ReadForOpening([&](CProgress& progress) { loaded = LoadGame(profile, folders, &progress); },
                                       loaded.cancelled, loaded.error))
    return false;
  m_frame.DetachViews();
  m_doc.New();
  m_doc.ExchangeRoot(std::move(loaded.root));
  m_game = std::move(loaded.session);
  m_game->ShowShadowed(m_cmd.showShadowed->isChecked());
  m_frame.m_listModel->SetSources(m_game.get());
  m_frame.m_inDocOperation = false;
  m_frame.RebuildViews();
  UpdateGameUI();
  if (!m_game->LoadNotes().empty()) {
    QString text = "Some of the game folders' packages or folders cannot be read:";
    text += PathLines(m_game->LoadNotes());
    m_frame.Message(text, "Open Game Folder", QMessageBox::Warning);
  }
  return true;
}

void CGameController::LeaveGameMode() {
  if (!m_game) return;
  // The shadowed copies go with the session: nothing may show them afterwards.
  m_frame.m_listModel->SetDirectory(nullptr);
  m_frame.m_listModel->SetSources(nullptr);
  m_frame.m_pane->ShowNothing(QString());
  m_frame.m_views->ForgetPreviewed();
  m_game.reset();
  UpdateGameUI();
}

void CGameController::UpdateGameUI() {
  QAction* save = m_cmd.saveChangesAsPak;
  QString pakName = "pakN.pak";
  if (m_game) {
    const NewPakPlan plan = PlanNewPak(m_game->Profile(), m_game->ModFolder());
    if (!plan.path.empty()) pakName = Q(plan.path.filename().string());
    const std::size_t n = m_game->Problems().size();
    m_frame.m_problemsButton->setText(n == 0 ? QString("No problems")
                                             : QString("%1 problem%2").arg(n).arg(n == 1 ? "" : "s"));
    for (QAction* a : m_engineGroup->actions())
      a->setChecked(a->objectName() == "actionEngine_" + Q(m_game->Profile().name));
  }
  save->setText("Save &Changes as " + pakName);
  m_frame.m_problemsButton->setVisible(m_game != nullptr);
  if (m_problemsPanel) {
    m_problemsPanel->SetProblems(m_game ? m_game->Problems() : std::vector<EngineProblem>{});
    if (!m_game) m_problemsPanel->hide();
  }
  m_frame.UpdateTitle();
  m_frame.UpdateCommandUI();
}

void CGameController::ShowProblemsPanel() {
  if (!m_problemsPanel) {
    m_problemsPanel = new CProblemsPanel(&m_frame);
    m_frame.addDockWidget(Qt::BottomDockWidgetArea, m_problemsPanel);
    connect(m_problemsPanel, &CProblemsPanel::entryWanted, this,
            [this](const QString&, const QString& entry) { RevealEntry(S(entry)); });
  }
  m_problemsPanel->SetProblems(m_game ? m_game->Problems() : std::vector<EngineProblem>{});
  m_problemsPanel->show();
  m_problemsPanel->raise();
}

void CGameController::RevealEntry(const std::string& path) {
  CPackObject* entry = path.empty() ? nullptr : m_doc.Root().FindByPath(path);
  if (!entry || !entry->Parent()) {
    m_frame.statusBar()->showMessage(path.empty()
                                         ? QString("The problem is with the file itself, not one of its entries.")
                                         : QString("%1 is not in the tree.").arg(Q(path)),
                                     CMainFrame::kReportMs);
    return;
  }
  m_frame.m_tree->SelectDirectory(entry->Parent());
  m_frame.m_list->SelectEntries({entry});
  m_frame.m_list->FocusList();
}

void CGameController::OnShowShadowed(bool shown) {
  dialogs::WriteProfileInt("Game", "ShowShadowed", shown ? 1 : 0);
  if (!m_game) return;
  m_game->ShowShadowed(shown);
  m_frame.ChangeTree([] { return nullptr; });
}

void CGameController::OnEngineChosen(const QString& name) {
  const EngineProfile* profile = FindEngineProfile(S(name));
  if (!profile) return;
  dialogs::OpenSettings()->setValue(kEngineKey, Q(profile->name));
  // The open folders are read again under the new engine's rules.
  if (!m_game || &m_game->Profile() == profile) return;
  if (!m_frame.m_files->SaveModified()) {
    UpdateGameUI();
    return;
  }
  const auto folders = m_game->Folders();
  OpenGameFolders(folders, *profile);
}

void CGameController::OnSaveChangesAsPak() {
  if (!m_game) return;
  const CGameSession::Changes changes = m_game->FindChanges(m_doc.Root());
  if (changes.written.empty() && changes.gone.empty()) {
    m_frame.statusBar()->showMessage("Nothing changed in the game folders.", CMainFrame::kReportMs);
    return;
  }
  const NewPakPlan plan = PlanNewPak(m_game->Profile(), m_game->ModFolder());
  if (plan.path.empty()) {
    m_frame.Message(Q(plan.problem) + ".", "Error", QMessageBox::Critical);
    return;
  }
  const QString pakName = Q(plan.path.filename().string());
  QString text;
  if (!changes.gone.empty())
    text += QString(
                "A new pak cannot take files away: the engine still loads these, which were deleted, renamed "
                "or moved here:%1\n\n")
                .arg(PathLines(changes.gone));
  if (!plan.loadedLater.empty()) {
    std::vector<std::string> later;
    for (const auto& p : plan.loadedLater) later.push_back(p.filename().string());
    text += QString("These are loaded after %1 and win over it:%2\n\n").arg(pakName, PathLines(later));
  }
  if (plan.looseFilesWin)
    text += QString("%1 prefers the mod folder's loose files to any pak: a loose file of the same name still wins.\n\n")
                .arg(Q(m_game->Profile().engines));
  if (changes.written.empty()) {
    m_frame.Message(text + "Nothing else changed, so nothing is saved.", "Save Changes", QMessageBox::Warning);
    return;
  }
  text += QString("Save %1 changed or new file%2 as %3 in %4?")
              .arg(changes.written.size())
              .arg(changes.written.size() == 1 ? "" : "s")
              .arg(pakName, Q(m_game->ModFolder().string()));
  if (m_frame.Prompter().Message(&m_frame, text, "Save Changes", QMessageBox::Question,
                                 QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
    return;

  CTarnDoc pak;
  pak.New();
  pak.ExchangeRoot(TreeOfFiles(changes.written));
  if (const auto blockers = pak.SaveBlockers(ContainerFormat::Pak); !blockers.empty()) {
    m_frame.Message("These files cannot be written into a pak:" + PathLines(blockers), "Error", QMessageBox::Critical);
    return;
  }
  std::error_code ec;
  if (std::filesystem::exists(plan.path, ec)) {
    // Appeared since it was planned: a new pak never replaces one of the game's.
    m_frame.Message(Q(Quoted(plan.path.string())) + " is already there; nothing was saved.", "Error",
                    QMessageBox::Critical);
    return;
  }
  bool ok = false;
  dialogs::CWorkDialog work(&m_frame, "Saving");
  work.Run([&](CProgress& progress) { ok = pak.Save(plan.path, {}, ContainerFormat::Pak, &progress); });
  if (pak.Cancelled()) {
    m_frame.statusBar()->showMessage(Q(pak.LastError()), CMainFrame::kReportMs);
    return;
  }
  if (!ok) {
    m_frame.Message(Q(pak.LastError()), "Error", QMessageBox::Critical);
    return;
  }
  // Read again, so that the tree shows what the engine now loads: the new pak's files win.
  const auto folders = m_game->Folders();
  const EngineProfile& profile = m_game->Profile();
  m_doc.SetModified(false);
  OpenGameFolders(folders, profile);
  m_frame.statusBar()->showMessage(QString("Saved %1 file%2 as %3.")
                                       .arg(changes.written.size())
                                       .arg(changes.written.size() == 1 ? "" : "s")
                                       .arg(Q(plan.path.string())),
                                   CMainFrame::kReportMs);
}

}  // namespace tarn::browser
