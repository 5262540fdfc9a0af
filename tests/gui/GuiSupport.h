// A main window on a scripted prompter, for the window tests.
#pragma once

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QTest>
#include <optional>

#include "TestSupport.h"
#include "browser/MainFrame.h"
#include "browser/PackListView.h"
#include "browser/PackModels.h"
#include "browser/PackTreeView.h"
#include "document/TarnDoc.h"

namespace tarn::test {

struct Shown {
  QString text;
  QString caption;
  QMessageBox::Icon icon;
};

// Answers dialogs from a script and remembers every message box.
class ScriptedPrompter : public dialogs::CPrompter {
 public:
  QString openFile;
  QStringList openFiles;
  QString saveFile;
  QString folder;
  std::optional<QString> newName;
  std::vector<QMessageBox::StandardButton> answers;  // taken in order; Ok when none left
  std::vector<Shown> shown;

  QString OpenFileName(QWidget*, const QString&, const QString&) override { return openFile; }
  QStringList OpenFileNames(QWidget*, const QString&, const QString&) override { return openFiles; }
  QString saveFilter;  // the filter the last Save offered
  QString SaveFileName(QWidget*, const QString&, const QString& filter, const QString&, const QString&) override {
    saveFilter = filter;
    return saveFile;
  }
  QString ExistingDirectory(QWidget*, const QString&) override { return folder; }
  QMessageBox::StandardButton Message(QWidget*, const QString& text, const QString& caption, QMessageBox::Icon icon,
                                      QMessageBox::StandardButtons) override {
    shown.push_back({text, caption, icon});
    if (answers.empty()) return QMessageBox::Ok;
    auto a = answers.front();
    answers.erase(answers.begin());
    return a;
  }
  std::optional<QString> NewName(QWidget*, const QString&) override { return newName; }
  dialogs::SkinChoice skins;  // what ChooseSkins answers
  QStringList offeredSkins;
  dialogs::SkinChoice ChooseSkins(QWidget*, const QStringList& entries) override {
    offeredSkins = entries;
    return skins;
  }
  // Image imports are kept as they are unless a test says otherwise.
  std::optional<dialogs::EncodeChoice> encodeChoice = dialogs::EncodeChoice{};
  QStringList encodeAsked;
  std::optional<OutputKind> encodeOffered;
  std::optional<dialogs::EncodeChoice> EncodeImages(QWidget*, const QStringList& images,
                                                    std::optional<OutputKind> preferred) override {
    encodeAsked = images;
    encodeOffered = preferred;
    return encodeChoice;
  }
  // Model files are kept as they are unless a test says otherwise.
  std::optional<dialogs::ModelImportChoice> modelChoice = dialogs::ModelImportChoice{};
  QStringList modelsAsked;
  int modelFormatOffered = 0;
  std::optional<dialogs::ModelImportChoice> ImportModels(QWidget*, const QStringList& models,
                                                         int preferredFormat) override {
    modelsAsked = models;
    modelFormatOffered = preferredFormat;
    return modelChoice;
  }
  // Sound files are kept as they are unless a test says otherwise.
  std::optional<dialogs::SoundImportChoice> soundChoice = dialogs::SoundImportChoice{};
  QStringList soundsAsked;
  std::optional<dialogs::SoundImportChoice> ImportSounds(QWidget*, const QStringList& sounds) override {
    soundsAsked = sounds;
    return soundChoice;
  }
  std::optional<dialogs::SpriteChoice> spriteChoice;
  std::optional<dialogs::SpriteChoice> SpriteOf(QWidget*, const QStringList&) override { return spriteChoice; }
  std::optional<dialogs::GameFolderChoice> gameFolders;  // what Open Game Folder answers
  std::optional<dialogs::GameFolderChoice> GameFolders(QWidget*, const dialogs::GameFolderChoice&) override {
    return gameFolders;
  }
  std::vector<dialogs::ConflictAnswer> conflictAnswers;  // taken in order; Keep Both when none left
  QStringList conflicts;                                 // the names asked about
  dialogs::ConflictAnswer NameConflict(QWidget*, const QString& name, const QString&, bool) override {
    conflicts << name;
    if (conflictAnswers.empty()) return {};
    auto a = conflictAnswers.front();
    conflictAnswers.erase(conflictAnswers.begin());
    return a;
  }
};

// A drag of mime entering target at a point and dropped there, as a user's drag delivers it.
inline void DropOn(QWidget* target, QPoint at, QMimeData* mime, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, mime, Qt::LeftButton, modifiers);
  QApplication::sendEvent(target, &enter);
  QDragMoveEvent move(at, Qt::CopyAction | Qt::MoveAction, mime, Qt::LeftButton, modifiers);
  QApplication::sendEvent(target, &move);
  QDropEvent drop(QPointF(at), Qt::CopyAction | Qt::MoveAction, mime, Qt::LeftButton, modifiers);
  QApplication::sendEvent(target, &drop);
  QApplication::processEvents();
  QApplication::processEvents();
}

// A click on the list's row, as the user clicks it.
inline void ClickRow(browser::CPackListView* list, int row) {
  QAbstractItemView* view = list->ActiveView();
  const QRect r = view->visualRect(list->ListModel()->index(row, 0));
  ASSERT_TRUE(r.isValid());
  QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, r.center());
  QApplication::processEvents();
}

class GuiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    frame = std::make_unique<browser::CMainFrame>(doc);
    auto p = std::make_unique<ScriptedPrompter>();
    prompter = p.get();
    frame->SetPrompter(std::move(p));
    frame->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
    frame->activateWindow();
    // Shortcuts and focus reach only the active window; the display makes it so a moment later.
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
  }
  void TearDown() override {
    doc.SetModified(false);
    frame.reset();
  }

  QAction* Action(const char* name) { return frame->findChild<QAction*>(name); }
  bool Enabled(const char* name) {
    frame->UpdateCommandUI();
    return Action(name)->isEnabled();
  }
  browser::CPackTreeView* Tree() { return frame->TreeView(); }
  browser::CPackListView* List() { return frame->ListView(); }

  void FocusTree() {
    Tree()->setFocus(Qt::OtherFocusReason);
    QApplication::processEvents();
  }
  void FocusList() {
    List()->FocusList();
    QApplication::processEvents();
  }
  void ShowDir(const std::string& path) {
    CPackObject* d = path.empty() ? &doc.Root() : doc.Root().FindByPath(path);
    ASSERT_NE(d, nullptr) << path;
    Tree()->SelectDirectory(d);
    QApplication::processEvents();
  }
  void SelectRows(const std::vector<std::string>& names) {
    std::vector<CPackObject*> entries;
    for (const auto& n : names) {
      CPackObject* e = List()->CurrentDirectory()->FindChild(n);
      EXPECT_NE(e, nullptr) << n;
      if (e) entries.push_back(e);
    }
    List()->SelectEntries(entries);
    QApplication::processEvents();
  }
  std::vector<std::string> ListNames() {
    std::vector<std::string> names;
    auto* m = List()->ListModel();
    for (int r = 0; r < m->rowCount(); ++r) names.push_back(m->EntryAt(r)->Name());
    return names;
  }
  fs::path OpenPak(const Bytes& bytes) {
    auto p = dir / "test.pak";
    WriteFile(p, bytes);
    EXPECT_TRUE(frame->OpenArchive(QString::fromStdString(p.string())));
    QApplication::processEvents();
    return p;
  }

  TempDir dir;
  CTarnDoc doc;
  std::unique_ptr<browser::CMainFrame> frame;
  ScriptedPrompter* prompter = nullptr;
};

}  // namespace tarn::test
