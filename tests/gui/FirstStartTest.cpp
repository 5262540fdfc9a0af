// What a modder sees first: the window's size and the hint in an empty one, the tree's root
// named after the archive, and the Details columns (sizes as people read them, a zip's members
// as they are stored).
#include <QHeaderView>
#include <QLabel>
#include <QScreen>
#include <QTreeView>

#include "../ZipBuilder.h"
#include "GuiSupport.h"
#include "dialogs/Settings.h"

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
  dialogs::OpenSettings()->clear();
  frame = std::make_unique<browser::CMainFrame>(doc);
  frame->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
  const QRect screen = frame->screen()->availableGeometry();
  EXPECT_EQ(frame->size(), QSize(screen.width() * 2 / 3, screen.height() * 2 / 3));
  EXPECT_LE((frame->geometry().center() - screen.center()).manhattanLength(), 2);
}

TEST_F(GuiTest, SizesReadAsPeopleReadThemAndSortByTheNumber) {
  EXPECT_EQ(browser::ReadableSize(1), "1 byte");
  EXPECT_EQ(browser::ReadableSize(512), "512 bytes");
  EXPECT_EQ(browser::ReadableSize(1258291), "1.2 MiB");
  EXPECT_EQ(browser::ReadableSize(1048575), "1.0 MiB");
  EXPECT_EQ(browser::ExactSize(1258291), "1,258,291 bytes");

  OpenPak(PakBuilder().File("big.lmp", Bytes(1500, 1)).File("mid.lmp", Bytes(900, 1)).File("tiny.lmp", "t").Build());
  auto* m = List()->ListModel();
  EXPECT_EQ(m->columnCount(), 3);
  EXPECT_EQ(m->headerData(browser::CPackListModel::kSize, Qt::Horizontal, Qt::DisplayRole).toString(), "Size");
  m->sort(browser::CPackListModel::kSize, Qt::AscendingOrder);
  // As text "1.5 KiB" would come first.
  EXPECT_EQ(ListNames(), (std::vector<std::string>{"tiny.lmp", "mid.lmp", "big.lmp"}));
  EXPECT_EQ(m->data(m->index(2, browser::CPackListModel::kSize), Qt::DisplayRole).toString(), "1.5 KiB");
  EXPECT_EQ(m->data(m->index(2, browser::CPackListModel::kSize), Qt::ToolTipRole).toString(), "1,500 bytes");
  EXPECT_EQ(m->data(m->index(0, browser::CPackListModel::kSize), Qt::DisplayRole).toString(), "1 byte");
  m->sort(browser::CPackListModel::kName, Qt::AscendingOrder);
}

TEST_F(GuiTest, AZipShowsHowEachMemberIsStored) {
  ZipBuilder zip;
  zip.Stored("readme.txt", "hello");
  zip.Deflated("maps/e1m1.bsp", Bytes(3000, 7));
  // 2021-08-19 14:30, local time as zips keep it.
  zip.Last().dosTime = (((2021u - 1980) << 9 | 8 << 5 | 19) << 16) | (14 << 11 | 30 << 5);
  WriteFile(dir / "mod.pk3", zip.Build());
  ASSERT_TRUE(frame->OpenArchive(Q(dir / "mod.pk3")));
  Action("actionDetails")->trigger();
  QApplication::processEvents();
  auto* m = List()->ListModel();
  ASSERT_EQ(m->columnCount(), 6);
  QStringList headers;
  for (int c = 0; c < m->columnCount(); ++c) headers << m->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
  EXPECT_EQ(headers, (QStringList{"Name", "Size", "Type", "Packed", "Method", "Date"}));
  // Every column gets some of the width.
  for (int c = 0; c < m->columnCount(); ++c) EXPECT_GT(List()->DetailsView()->columnWidth(c), 20) << c;
  auto cell = [&](const std::string& name, int column, int role = Qt::DisplayRole) {
    return m->data(m->index(m->RowOf(List()->CurrentDirectory()->FindChild(name)), column), role).toString();
  };
  EXPECT_EQ(cell("readme.txt", browser::CPackListModel::kMethod), "Stored");
  EXPECT_EQ(cell("readme.txt", browser::CPackListModel::kPacked), "5 bytes");
  ShowDir("maps");
  EXPECT_EQ(cell("e1m1.bsp", browser::CPackListModel::kMethod), "Deflated");
  EXPECT_EQ(cell("e1m1.bsp", browser::CPackListModel::kSize), "2.9 KiB");
  EXPECT_EQ(cell("e1m1.bsp", browser::CPackListModel::kPacked, Qt::ToolTipRole), "3,005 bytes");
  EXPECT_EQ(cell("e1m1.bsp", browser::CPackListModel::kDate), "2021-08-19 14:30");

  // A pak has none of them.
  OpenPak(PakBuilder().File("a.txt", "a").Build());
  EXPECT_EQ(m->columnCount(), 3);
}

}  // namespace
}  // namespace tarn::test
