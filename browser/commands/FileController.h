// The File menu's archive commands: a new archive, opening one (and the recent ones), saving it
// (asking first about what a save would break), and asking about unsaved changes before the
// document is let go.
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <optional>
#include <string>

#include "document/TarnDoc.h"

class QAction;
class QMenu;

namespace tarn::browser {

class CMainFrame;

class CFileController : public QObject {
  Q_OBJECT
 public:
  explicit CFileController(CMainFrame& frame);

  struct Commands {
    QAction *newArchive, *open, *save, *saveAs, *exit;
  };
  const Commands& Cmd() const { return m_cmd; }
  // The File menu's "Recent Files", filled from the profile.
  void AddRecentMenu(QMenu& file);
  void UpdateCommands();

  bool OpenArchive(const QString& path);
  bool SaveModified();
  // Runs read (the slow half of an open) on a worker; false, told to the user, when it was
  // cancelled or failed (the flags read has set).
  bool ReadForOpening(const std::function<void(CProgress&)>& read, const bool& cancelled, const std::string& error);
  // What opening doc (the window's, or an archive inside it) found wrong, in a message box.
  void ShowOpenProblems(const CTarnDoc& doc);
  void OnFileSave();

 private:
  void OnFileNew();
  void OnFileOpen();
  void OnFileSaveAs();
  bool DoSave(const QString& path);
  // Asks about what saving to path would do beyond replacing the archive's contents (break
  // hard links, overwrite a read-only file or another program's changes); nothing when the
  // user declined any of it.
  std::optional<SaveConsent> AskBeforeSaving(const QString& path);
  void UpdateRecentMenu();
  void AddRecent(const QString& path);

  CMainFrame& m_frame;
  CTarnDoc& m_doc;
  Commands m_cmd{};
  QMenu* m_recentMenu = nullptr;
};

}  // namespace tarn::browser
