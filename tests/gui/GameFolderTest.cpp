// Game folders in the window: File > Open Game Folder, the Source column, the shadowed copies,
// Save Changes as a new pak of the mod, and the problems panel opened from the status bar.
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDockWidget>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QStatusBar>
#include <QToolButton>
#include <QTreeWidget>

#include "GuiSupport.h"
#include "browser/GameSession.h"
#include "browser/ProblemsPanel.h"
#include "dialogs/GameFolderDialog.h"
#include "dialogs/Settings.h"
#include "game/GameFolder.h"

namespace tarn::test {
namespace {

QString Q(const fs::path& p) { return QString::fromStdString(p.string()); }

// id1 with pak0 and pak1 (pak1's player.mdl wins), a mod with two paks of its own, one name
// in capitals (which Quake on Linux never finds) and a loose map.
class GameFolderTest : public GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    id1 = dir / "quake" / "id1";
    mod = dir / "quake" / "mymod";
    fs::create_directories(id1);
    fs::create_directories(mod / "maps");
    MakeRegistered(id1);
    WriteFile(
        id1 / "pak0.pak",
        PakBuilder().File("progs/player.mdl", "old").File("maps/e1m1.bsp", "m0").File("sound/a.wav", "w").Build());
    WriteFile(id1 / "pak1.pak", PakBuilder().File("progs/player.mdl", "new").Build());
    WriteFile(mod / "pak0.pak", PakBuilder().File("maps/Start.bsp", "s").Build());
    WriteFile(mod / "pak1.pak", PakBuilder().File("gfx/a.lmp", "g").Build());
    WriteFile(mod / "maps" / "e1m1.bsp", "loose");
  }
  void TearDown() override {
    dialogs::WriteProfileInt("Game", "ShowShadowed", 0);
    GuiTest::TearDown();
  }
  void OpenThroughMenu() {
    prompter->gameFolders = dialogs::GameFolderChoice{{Q(id1), Q(mod)}, "quake"};
    QMenu* file = frame->findChild<QMenu*>("menuFile");
    ASSERT_TRUE(file->actions().contains(Action("actionOpenGameFolder")));
    Action("actionOpenGameFolder")->trigger();
    QApplication::processEvents();
    ASSERT_NE(frame->Game(), nullptr);
  }
  QString Cell(const std::string& name, int column, int role = Qt::DisplayRole, int nth = 0) {
    auto* m = List()->ListModel();
    for (int r = 0; r < m->rowCount(); ++r)
      if (m->EntryAt(r)->Name() == name && nth-- == 0) return m->data(m->index(r, column), role).toString();
    return "(no row)";
  }
  fs::path id1, mod;
};

TEST_F(GameFolderTest, OpensTheMergedViewWithSourcesAndShadowedCopies) {
  OpenThroughMenu();
  EXPECT_EQ(Load(doc.Root().FindByPath("progs/player.mdl")), ToBytes("new"));
  // Under quake the mod wins over id1, even with a loose file over a pak.
  EXPECT_EQ(Load(doc.Root().FindByPath("maps/e1m1.bsp")), ToBytes("loose"));
  EXPECT_EQ(frame->windowTitle().indexOf("id1 + mymod (quake)"), 0) << frame->windowTitle().toStdString();
  EXPECT_FALSE(Enabled("actionSaveAs"));

  ShowDir("progs");
  EXPECT_EQ(List()->ListModel()->columnCount(), 4);
  EXPECT_EQ(Cell("player.mdl", browser::CPackListModel::kSource), "id1/pak1.pak");
  EXPECT_EQ(ListNames(), std::vector<std::string>{"player.mdl"});

  // Shown, the hidden copy comes below its winner, greyed, readable, and not to be deleted.
  Action("actionShowShadowed")->setChecked(true);
  EXPECT_EQ(dialogs::ProfileInt("Game", "ShowShadowed", 0), 1);
  ShowDir("progs");
  ASSERT_EQ(ListNames(), (std::vector<std::string>{"player.mdl", "player.mdl"}));
  EXPECT_EQ(Cell("player.mdl", browser::CPackListModel::kSource, Qt::DisplayRole, 1), "id1/pak0.pak");
  CPackObject* hidden = List()->ListModel()->EntryAt(1);
  EXPECT_TRUE(List()->ListModel()->data(List()->ListModel()->index(1, 0), Qt::ForegroundRole).isValid());
  EXPECT_FALSE(List()->ListModel()->data(List()->ListModel()->index(0, 0), Qt::ForegroundRole).isValid());
  EXPECT_EQ(Load(hidden), ToBytes("old"));
  FocusList();
  List()->SelectEntries({hidden});
  QApplication::processEvents();
  EXPECT_FALSE(Enabled("actionDelete"));
  EXPECT_TRUE(Enabled("actionExportFile"));
  // Exported as from an archive: the bytes of the copy shown.
  prompter->saveFile = Q(dir / "hidden.mdl");
  Action("actionExportFile")->trigger();
  EXPECT_EQ(ReadFile(dir / "hidden.mdl"), ToBytes("old"));
  ShowDir("maps");
  EXPECT_EQ(Cell("e1m1.bsp", browser::CPackListModel::kSource), "mymod/maps/e1m1.bsp");
  EXPECT_EQ(Cell("e1m1.bsp", browser::CPackListModel::kSource, Qt::DisplayRole, 1), "id1/pak0.pak");
  Action("actionShowShadowed")->setChecked(false);
  ShowDir("progs");
  EXPECT_EQ(ListNames().size(), 1u);

  // The problems check --engine reports, in a panel opened from the status bar.
  auto* button = frame->statusBar()->findChild<QToolButton*>("problemsButton");
  ASSERT_NE(button, nullptr);
  EXPECT_TRUE(button->isVisible());
  EXPECT_EQ(button->text(), QString("%1 problem%2")
                                .arg(frame->Game()->Problems().size())
                                .arg(frame->Game()->Problems().size() == 1 ? "" : "s"));
  QTest::mouseClick(button, Qt::LeftButton);
  auto* dock = frame->findChild<QDockWidget*>("problemsDock");
  ASSERT_NE(dock, nullptr);
  EXPECT_TRUE(dock->isVisible());
  auto* list = dock->findChild<QTreeWidget*>("problemsList");
  bool caseRule = false;
  for (int i = 0; i < list->topLevelItemCount(); ++i)
    caseRule |= list->topLevelItem(i)->text(0).endsWith("pak0.pak") &&
                list->topLevelItem(i)->text(1) == "maps/Start.bsp" && list->topLevelItem(i)->text(3) == "quake";
  EXPECT_TRUE(caseRule) << "rows: " << list->topLevelItemCount();

  // Another engine reads the folders again under its rules, and is remembered.
  EXPECT_TRUE(frame->findChild<QMenu*>("menuEngine")->actions().contains(Action("actionEngine_yamagi")));
  EXPECT_EQ(Action("actionEngine_yamagi")->text().remove('&'), "Yamagi Quake II");
  EXPECT_EQ(Action("actionEngine_quake")->text().remove('&'), "Quake / Quakespasm / Ironwail / vkQuake");
  EXPECT_EQ(Action("actionEngine_rerelease")->text().remove('&'), "Quake (2021 re-release)");
  Action("actionEngine_yamagi")->trigger();
  EXPECT_EQ(frame->Game()->Profile().name, "yamagi");
  EXPECT_EQ(frame->windowTitle().indexOf("id1 + mymod (yamagi)"), 0);
  EXPECT_EQ(dialogs::OpenSettings()->value("Game/Engine").toString(), "yamagi");
  Action("actionEngine_quake")->trigger();

  // An archive opened afterwards leaves the game folders behind.
  OpenPak(PakBuilder().File("a.txt", "a").Build());
  EXPECT_EQ(frame->Game(), nullptr);
  EXPECT_FALSE(button->isVisible());
  EXPECT_EQ(List()->ListModel()->columnCount(), 3);
}

// The panel lists what `tarn-pak check --engine` reports, an archive's own faults too, and a
// double-click on a problem shows its entry.
TEST_F(GameFolderTest, TheProblemsListIsTheChecksAndLeadsToTheEntry) {
  WriteFile(mod / "pak1.pak", PakBuilder().File("gfx/a.lmp", "g").File("../evil.txt", "e").Build());
  OpenThroughMenu();
  QTest::mouseClick(frame->statusBar()->findChild<QToolButton*>("problemsButton"), Qt::LeftButton);
  auto* list = frame->findChild<QTreeWidget*>("problemsList");
  ASSERT_NE(list, nullptr);
  QTreeWidgetItem* start = nullptr;
  bool structure = false;
  for (int i = 0; i < list->topLevelItemCount(); ++i) {
    QTreeWidgetItem* item = list->topLevelItem(i);
    structure |= item->text(0).endsWith("pak1.pak") && item->text(4).contains("cannot be exported safely");
    if (item->text(1) == "maps/Start.bsp") start = item;
  }
  EXPECT_TRUE(structure);
  EXPECT_TRUE(list->wordWrap());
  ASSERT_NE(start, nullptr);
  list->scrollToItem(start);
  const QPoint at = list->visualItemRect(start).center();
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
  QApplication::processEvents();
  ASSERT_NE(List()->CurrentDirectory(), nullptr);
  EXPECT_EQ(List()->CurrentDirectory()->PathInArchive(), "maps");
  const auto selected = List()->SelectedEntries();
  ASSERT_EQ(selected.size(), 1u);
  EXPECT_EQ(selected.front()->Name(), "Start.bsp");
}

TEST_F(GameFolderTest, SaveChangesWritesTheNextPakOfTheModAndItsFilesWin) {
  OpenThroughMenu();
  EXPECT_EQ(Action("actionSaveChangesAsPak")->text(), "Save &Changes as pak2.pak");
  Action("actionSave")->trigger();
  EXPECT_FALSE(fs::exists(mod / "pak2.pak"));  // nothing changed
  ASSERT_TRUE(prompter->shown.empty()) << prompter->shown[0].text.toStdString();

  // A changed map (deleted, and imported again), a renamed model and a deleted sound.
  WriteFile(dir / "e1m1.bsp", "changed");
  ShowDir("maps");
  FocusList();
  SelectRows({"e1m1.bsp"});
  Action("actionDelete")->trigger();
  prompter->openFiles = {Q(dir / "e1m1.bsp")};
  Action("actionImportFile")->trigger();
  ShowDir("progs");
  SelectRows({"player.mdl"});
  prompter->newName = "player2.mdl";
  Action("actionRename")->trigger();
  ShowDir("sound");
  SelectRows({"a.wav"});
  Action("actionDelete")->trigger();
  ASSERT_TRUE(doc.IsModified());

  // Declined: nothing is written.
  prompter->shown.clear();
  prompter->answers = {QMessageBox::No};
  Action("actionSave")->trigger();
  EXPECT_FALSE(fs::exists(mod / "pak2.pak"));
  // What a new pak cannot express is named.
  ASSERT_EQ(prompter->shown.size(), 1u);
  const QString asked = prompter->shown[0].text;
  EXPECT_TRUE(asked.contains("progs/player.mdl") && asked.contains("sound/a.wav")) << asked.toStdString();
  EXPECT_TRUE(asked.contains("Save 2 changed or new files as pak2.pak")) << asked.toStdString();

  prompter->answers = {QMessageBox::Yes};
  Action("actionSave")->trigger();
  QApplication::processEvents();
  ASSERT_TRUE(fs::exists(mod / "pak2.pak"));
  EXPECT_FALSE(fs::exists(id1 / "pak2.pak"));
  ArchiveListing written;
  ASSERT_TRUE(ListArchive(mod / "pak2.pak", written, nullptr));
  std::vector<std::string> paths;
  for (const auto& e : written.entries) paths.push_back(e.path);
  std::sort(paths.begin(), paths.end());
  EXPECT_EQ(paths, (std::vector<std::string>{"maps/e1m1.bsp", "progs/player2.mdl"}));

  // Read again: the new pak's copy wins, the game's own paks are untouched.
  ASSERT_NE(frame->Game(), nullptr);
  EXPECT_FALSE(doc.IsModified());
  EXPECT_EQ(Load(doc.Root().FindByPath("maps/e1m1.bsp")), ToBytes("changed"));
  ShowDir("maps");
  EXPECT_EQ(Cell("e1m1.bsp", browser::CPackListModel::kSource), "mymod/pak2.pak");
  EXPECT_NE(doc.Root().FindByPath("sound/a.wav"), nullptr);
  EXPECT_EQ(Action("actionSaveChangesAsPak")->text(), "Save &Changes as pak3.pak");
  EXPECT_EQ(ReadFile(id1 / "pak1.pak"), PakBuilder().File("progs/player.mdl", "new").Build());
}

TEST_F(GameFolderTest, DialogOrdersFoldersAndChoosesTheEngine) {
  dialogs::CGameFolderDialog dialog({{}, "fte"});
  auto* engine = dialog.findChild<QComboBox*>("engineCombo");
  EXPECT_EQ(engine->currentText(), "FTE");
  EXPECT_NE(engine->findText("Quake II"), -1);
  QStringList chosen{Q(id1), Q(mod)};
  dialog.SetFolderChooser([&] { return chosen.isEmpty() ? QString() : chosen.takeFirst(); });
  auto* ok = dialog.findChild<QDialogButtonBox*>("gameFolderButtons")->button(QDialogButtonBox::Ok);
  EXPECT_FALSE(ok->isEnabled());
  auto click = [&](const char* name) { QTest::mouseClick(dialog.findChild<QPushButton*>(name), Qt::LeftButton); };
  click("addFolderButton");
  click("addFolderButton");
  click("addFolderButton");  // the chooser was cancelled: nothing added
  EXPECT_TRUE(ok->isEnabled());
  click("upFolderButton");  // the mod, selected after adding, goes first
  EXPECT_EQ(dialog.Choice().folders, (QStringList{Q(mod), Q(id1)}));
  EXPECT_EQ(dialog.Choice().engine, "fte");  // a Quake engine already: id1 leaves it
  click("removeFolderButton");
  EXPECT_EQ(dialog.Choice().folders, QStringList{Q(id1)});
}

// The folders' game proposes its engine: by the folder's name, or by what its paks hold. Once
// the user picks one, adding folders no longer changes it.
TEST_F(GameFolderTest, DialogProposesTheEngineOfTheFoldersGame) {
  const fs::path baseq2 = dir / "q2" / "baseq2", q2 = dir / "q2other", q1 = dir / "q1";
  fs::create_directories(baseq2);
  WriteFile(q2 / "pak0.pak", PakBuilder().File("maps/base1.bsp", "m").File("pics/colormap.pcx", "p").Build());
  WriteFile(q1 / "pak0.pak", PakBuilder().File("progs/player.mdl", "m").Build());
  struct Case {
    const char* start;
    fs::path folder;
    const char* proposed;
  };
  for (const Case& c : {Case{"quake", baseq2, "quake2"}, Case{"darkplaces", q2, "quake2"}, Case{"yamagi", q2, "yamagi"},
                        Case{"yamagi", id1, "quake"}, Case{"quake2", q1, "quake"}, Case{"quake2", mod, "quake2"}}) {
    dialogs::CGameFolderDialog dialog({{}, c.start});
    dialog.SetFolderChooser([&] { return Q(c.folder); });
    QTest::mouseClick(dialog.findChild<QPushButton*>("addFolderButton"), Qt::LeftButton);
    EXPECT_EQ(dialog.Choice().engine, c.proposed) << c.start << " + " << c.folder;
  }

  dialogs::CGameFolderDialog dialog({{}, "quake"});
  auto* engine = dialog.findChild<QComboBox*>("engineCombo");
  engine->setFocus();
  QTest::keyClick(engine, Qt::Key_Down);  // the user's choice: Quakespasm-Spiked
  ASSERT_EQ(dialog.Choice().engine, "qss");
  QStringList chosen{Q(baseq2), Q(id1)};
  dialog.SetFolderChooser([&] { return chosen.takeFirst(); });
  QTest::mouseClick(dialog.findChild<QPushButton*>("addFolderButton"), Qt::LeftButton);
  EXPECT_EQ(dialog.Choice().engine, "qss");
}

}  // namespace
}  // namespace tarn::test
