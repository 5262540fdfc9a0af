#include "browser/commands/FileController.h"

#include <QAction>
#include <QFileInfo>
#include <QMenu>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <algorithm>

#include "archive/ContainerFormat.h"
#include "browser/GameSession.h"
#include "browser/MainFrame.h"
#include "browser/PackListView.h"
#include "browser/Thumbnails.h"
#include "browser/commands/GameController.h"
#include "browser/commands/ViewController.h"
#include "dialogs/Settings.h"
#include "dialogs/Text.h"
#include "dialogs/WorkDialog.h"

namespace tarn::browser {

using dialogs::Q;
using dialogs::S;

namespace {

const char* const kOpenFilter =
    "Archives (*.pak *.pk3 *.pk2 *.zip *.pkz *.kpf *.wad);;Pak Files (*.pak);;"
    "Zip Archives (*.pk3 *.pk2 *.zip *.pkz *.kpf);;WAD Files (*.wad);;All Files (*.*) (*)";
// Save As writes the format the name's extension gives: choosing another converts.
const char* const kSaveFilter =
    "Pak Files (*.pak);;PK3 Archives (*.pk3);;Zip Archives (*.zip *.pk2 *.pkz);;WAD Files (*.wad);;All Files (*.*) (*)";
constexpr int kMaxRecent = 4;

}  // namespace

CFileController::CFileController(CMainFrame& frame) : QObject(&frame), m_frame(frame), m_doc(frame.m_doc) {
  QStyle* st = frame.style();
  m_cmd.newArchive = frame.AddCommand(
      this, "actionNew", "&New", "Start a new, empty archive", [this] { OnFileNew(); }, QKeySequence::New);
  m_cmd.newArchive->setIcon(st->standardIcon(QStyle::SP_FileIcon));
  m_cmd.open = frame.AddCommand(
      this, "actionOpen", "&Open...", "Open an archive", [this] { OnFileOpen(); }, QKeySequence::Open);
  m_cmd.open->setIcon(st->standardIcon(QStyle::SP_DialogOpenButton));
  m_cmd.save = frame.AddCommand(
      this, "actionSave", "&Save", "Save the archive", [this] { OnFileSave(); }, QKeySequence::Save);
  m_cmd.save->setIcon(st->standardIcon(QStyle::SP_DialogSaveButton));
  m_cmd.saveAs = frame.AddCommand(this, "actionSaveAs", "Save &As...", "Save the archive under another name",
                                  [this] { OnFileSaveAs(); });
  m_cmd.exit = frame.AddCommand(this, "actionExit", "E&xit", "Quit Tarn", nullptr, QKeySequence(Qt::CTRL | Qt::Key_Q));
  connect(m_cmd.exit, &QAction::triggered, &frame, &QWidget::close);
}

void CFileController::AddRecentMenu(QMenu& file) {
  m_recentMenu = file.addMenu("Recent &Files");
  m_recentMenu->setObjectName("menuRecent");
  UpdateRecentMenu();
}

void CFileController::UpdateCommands() {
  // A merged view is saved only as a new pak of its changes.
  m_cmd.saveAs->setEnabled(!m_frame.m_games->Session());
}

bool CFileController::ReadForOpening(const std::function<void(CProgress&)>& read, const bool& cancelled,
                                     const std::string& error) {
  // Read on a worker; the document and the views stay as they are until it is done, and stay
  // so when it fails or is cancelled.
  dialogs::CWorkDialog work(&m_frame, "Opening");
  work.Run(read);
  if (cancelled) {
    m_frame.statusBar()->showMessage("Opening cancelled.", CMainFrame::kReportMs);
    return false;
  }
  if (!error.empty()) {
    m_frame.Message(Q(error), "Error", QMessageBox::Critical);
    return false;
  }
  return true;
}

bool CFileController::OpenArchive(const QString& path) {
  OpenedArchive opened;
  if (!ReadForOpening([&](CProgress& progress) { opened = CTarnDoc::ReadArchive(S(path), &progress); },
                      opened.cancelled, opened.error))
    return false;
  m_frame.DetachViews();
  m_doc.Install(std::move(opened));
  m_frame.m_inDocOperation = false;
  m_frame.RebuildViews();
  AddRecent(QFileInfo(path).absoluteFilePath());
  ShowOpenProblems(m_doc);
  return true;
}

void CFileController::ShowOpenProblems(const CTarnDoc& doc) {
  if (doc.OpenProblems().empty()) return;
  // Names held twice, or that cannot be exported, are no damage: the archive is read whole.
  const bool damaged = doc.DirectoryDamaged() || doc.DamagedCount() > 0;
  QString text = damaged ? "This archive is damaged:" : "Tarn found this in the archive:";
  for (const auto& p : doc.OpenProblems()) text += "\n" + Q(p);
  if (doc.DirectoryDamaged()) text += "\n\nThe list shows the entries that could be read.";
  if (doc.DamagedCount() > 0) text += "\n\nEntries that cannot be read are shown in red. Delete them before saving.";
  if (!damaged) text += "\n\nEntries whose names the archive holds more than once are shown in orange, as they are.";
  m_frame.Message(text, damaged ? "Damaged archive" : "Archive names",
                  damaged ? QMessageBox::Warning : QMessageBox::Information);
}

bool CFileController::SaveModified() {
  // The viewers first: what they save goes into the archive asked about below.
  if (!m_frame.m_views->CloseViewers() || !m_frame.KeepPreviewEdits()) return false;
  if (!m_doc.IsModified()) return true;
  auto answer = m_frame.Prompter().Message(
      &m_frame,
      QString("Save changes to %1?")
          .arg(Q(m_frame.m_games->Session() ? m_frame.m_games->Session()->Title() : m_doc.Title())),
      "Tarn", QMessageBox::Warning, QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel);
  if (answer == QMessageBox::Save) {
    OnFileSave();
    return !m_doc.IsModified();
  }
  return answer == QMessageBox::Discard;
}

std::optional<SaveConsent> CFileController::AskBeforeSaving(const QString& path) {
  SaveConsent consent;
  for (const auto& [concern, text] : m_doc.SaveConcerns(S(path))) {
    const QString question = concern == SaveConcern::ChangedOnDisk ? "Overwrite it with this version?" : "Save anyway?";
    if (m_frame.Prompter().Message(&m_frame, Q(text) + "\n\n" + question, "Tarn", QMessageBox::Warning,
                                   QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
      return std::nullopt;
    consent[concern] = true;
  }
  return consent;
}

bool CFileController::DoSave(const QString& path) {
  const auto consent = AskBeforeSaving(path);
  if (!consent) return false;
  bool ok = false;
  // Written on a worker while the window repaints; the views are not drawn meanwhile, since the
  // save gives the entries their new locations at its end (or, converting, a new tree).
  m_frame.m_inDocOperation = true;
  m_frame.m_list->Thumbnails()->Clear();  // nothing is read for them while the save moves the entries
  m_doc.SetWriteOptions({.deflateLevel = std::clamp(dialogs::ProfileInt("Archive", "DeflateLevel", 6), 0, 9)});
  m_frame.m_splitter->setUpdatesEnabled(false);
  dialogs::CWorkDialog work(&m_frame, "Saving");
  work.Run([&](CProgress& progress) { ok = m_doc.Save(S(path), *consent, std::nullopt, &progress); });
  m_frame.m_splitter->setUpdatesEnabled(true);
  m_frame.m_inDocOperation = false;
  if (m_doc.Cancelled()) {
    m_frame.statusBar()->showMessage(Q(m_doc.LastError()), CMainFrame::kReportMs);
  } else if (!ok) {
    m_frame.Message(Q(m_doc.LastError()), "Error", QMessageBox::Critical);
  } else {
    AddRecent(QFileInfo(path).absoluteFilePath());
    // Sizes and offsets may have changed under the views; show them afresh.
    m_frame.ChangeTree([] { return nullptr; });
  }
  m_frame.UpdateTitle();
  return ok;
}

void CFileController::OnFileNew() {
  if (!SaveModified()) return;
  m_frame.DetachViews();
  m_doc.New();
  m_frame.m_inDocOperation = false;
  m_frame.RebuildViews();
}

void CFileController::OnFileOpen() {
  if (!SaveModified()) return;
  QString path = m_frame.Prompter().OpenFileName(&m_frame, "Open", kOpenFilter);
  if (!path.isEmpty()) OpenArchive(path);
}

void CFileController::OnFileSave() {
  if (m_frame.m_games->Session()) m_frame.m_games->OnSaveChangesAsPak();
  else if (m_doc.PathName().empty()) OnFileSaveAs();
  else DoSave(Q(m_doc.PathName().string()));
}

void CFileController::OnFileSaveAs() {
  QString path = m_frame.Prompter().SaveFileName(&m_frame, "Save As", kSaveFilter, Q(m_doc.Title()),
                                                 QString(DefaultExtension(m_doc.Format())).mid(1));
  if (!path.isEmpty()) DoSave(path);
}

void CFileController::UpdateRecentMenu() {
  m_recentMenu->clear();
  auto settings = dialogs::OpenSettings();
  int shown = 0;
  for (int i = 1; i <= kMaxRecent; ++i) {
    QString path = settings->value(QString("Recent File List/File%1").arg(i)).toString();
    if (path.isEmpty()) continue;
    QAction* a = m_recentMenu->addAction(QString("&%1 %2").arg(++shown).arg(path));
    a->setObjectName(QString("actionRecent%1").arg(shown));
    connect(a, &QAction::triggered, this, [this, path] {
      if (SaveModified()) OpenArchive(path);
    });
  }
  m_recentMenu->setEnabled(shown > 0);
}

void CFileController::AddRecent(const QString& path) {
  auto settings = dialogs::OpenSettings();
  QStringList list{path};
  for (int i = 1; i <= kMaxRecent; ++i) {
    QString p = settings->value(QString("Recent File List/File%1").arg(i)).toString();
    if (!p.isEmpty() && p != path) list << p;
  }
  for (int i = 1; i <= kMaxRecent; ++i)
    settings->setValue(QString("Recent File List/File%1").arg(i), i <= list.size() ? list[i - 1] : QString());
  settings->sync();
  UpdateRecentMenu();
}

}  // namespace tarn::browser
