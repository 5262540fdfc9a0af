// What a modder sees first: the window's size and the hint in an empty one, and the tree's
// root named after the archive.
#include <QLabel>
#include <QScreen>

#include "GuiSupport.h"
#include "shell/Settings.h"

namespace tarn::test {
namespace {

QString Q(const fs::path& p) { return QString::fromStdString(p.string()); }

TEST_F(GuiTest, AnEmptyWindowSaysHowToBeginAndTheRootIsNamedAfterTheArchive) {
  QLabel* hint = frame->findChild<QLabel*>("emptyHint");
  ASSERT_NE(hint, nullptr);
  EXPECT_TRUE(hint->isVisible());
  EXPECT_NE(hint->text().indexOf("Open Game Folder"), -1);
  // Over the list, centred in it.
  const QRect inList = QRect(hint->mapTo(List(), QPoint()), hint->size());
  EXPECT_TRUE(List()->rect().contains(inList));
  EXPECT_EQ(inList.center().x(), List()->rect().center().x());
  auto* tree = Tree()->TreeModel();
  EXPECT_EQ(tree->data(tree->index(0, 0), Qt::DisplayRole).toString(), "Untitled");

  OpenPak(PakBuilder().File("maps/e1m1.bsp", "m").Build());
  EXPECT_FALSE(hint->isVisible());
  EXPECT_EQ(tree->data(tree->index(0, 0), Qt::DisplayRole).toString(), "test.pak");

  // A new archive is empty again until something is added to it.
  Action("actionNew")->trigger();
  EXPECT_TRUE(hint->isVisible());
  WriteFile(dir / "a.txt", "a");
  prompter->openFiles = {Q(dir / "a.txt")};
  Action("actionImportFile")->trigger();
  QApplication::processEvents();
  ASSERT_NE(doc.Root().FindChild("a.txt"), nullptr);
  EXPECT_FALSE(hint->isVisible());
}

TEST_F(GuiTest, TheFirstWindowTakesTwoThirdsOfTheScreenCentred) {
  frame.reset();
  shell::OpenSettings()->clear();
  frame = std::make_unique<browser::CMainFrame>(doc);
  frame->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
  const QRect screen = frame->screen()->availableGeometry();
  EXPECT_EQ(frame->size(), QSize(screen.width() * 2 / 3, screen.height() * 2 / 3));
  EXPECT_LE((frame->geometry().center() - screen.center()).manhattanLength(), 2);
}

}  // namespace
}  // namespace tarn::test
