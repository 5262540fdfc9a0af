#include <QCheckBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QTreeView>

#include "GuiSupport.h"
#include "dialogs/Settings.h"

namespace tarn::test {
namespace {

class ListSortAndFilter : public GuiTest {
 protected:
  void SetUp() override {
    dialogs::OpenSettings()->remove("Startup/ListSortColumn");
    dialogs::OpenSettings()->remove("Startup/ListSortOrder");
    GuiTest::SetUp();
    OpenPak(PakBuilder()
                .File("zeta.wav", Bytes(10, 1))
                .File("alpha.lmp", Bytes(300, 1))
                .File("mid.txt", Bytes(20, 1))
                .File("maps/e1m1.bsp", "m")
                .File("maps/e1m2.bsp", "m")
                .File("maps/sounds/e1m1.wav", "w")
                .File("gfx/pop.lmp", "p")
                .Build());
    Action("actionDetails")->trigger();
    FocusList();
  }
  void ClickHeader(int column) {
    QHeaderView* header = List()->DetailsView()->header();
    const int x = header->sectionViewportPosition(column) + header->sectionSize(column) / 2;
    QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(x, header->height() / 2));
  }
  QString Cell(int row, int column) {
    auto* m = List()->ListModel();
    return m->data(m->index(row, column), Qt::DisplayRole).toString();
  }
};

TEST_F(ListSortAndFilter, HeadersSortDirectoriesFirstAndTheOrderIsRemembered) {
  // Today's order: directories first, then by name.
  EXPECT_EQ(ListNames(), (std::vector<std::string>{"gfx", "maps", "alpha.lmp", "mid.txt", "zeta.wav"}));
  EXPECT_EQ(List()->ListModel()->headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(), "Type");
  EXPECT_EQ(Cell(2, 2), "Quake picture");
  EXPECT_EQ(Cell(4, 2), "Sound");
  EXPECT_EQ(Cell(0, 2), "Directory");

  SelectRows({"mid.txt"});
  ClickHeader(1);  // size, smallest first
  EXPECT_EQ(ListNames(), (std::vector<std::string>{"gfx", "maps", "zeta.wav", "mid.txt", "alpha.lmp"}));
  ClickHeader(1);  // again: reversed, directories still first
  EXPECT_EQ(ListNames(), (std::vector<std::string>{"maps", "gfx", "alpha.lmp", "mid.txt", "zeta.wav"}));
  ASSERT_EQ(List()->SelectedEntries().size(), 1u);
  EXPECT_EQ(List()->SelectedEntries().front()->Name(), "mid.txt");  // the selection follows its row
  ClickHeader(2);                                                   // type
  EXPECT_EQ(ListNames(), (std::vector<std::string>{"gfx", "maps", "alpha.lmp", "zeta.wav", "mid.txt"}));

  // The sort survives a change of the tree and a restart.
  ShowDir("maps");
  EXPECT_EQ(ListNames(), (std::vector<std::string>{"sounds", "e1m1.bsp", "e1m2.bsp"}));
  frame.reset();
  frame = std::make_unique<browser::CMainFrame>(doc);
  ShowDir("");
  EXPECT_EQ(ListNames(), (std::vector<std::string>{"gfx", "maps", "alpha.lmp", "zeta.wav", "mid.txt"}));
  EXPECT_EQ(List()->DetailsView()->header()->sortIndicatorSection(), 2);
}

TEST_F(ListSortAndFilter, TheFilterNarrowsAsOneTypesHereOrInTheWholeArchive) {
  QLineEdit* filter = List()->FilterEdit();
  QTest::keyClick(frame.get(), Qt::Key_F, Qt::ControlModifier);
  EXPECT_TRUE(filter->hasFocus());
  QTest::keyClicks(filter, "A");
  EXPECT_EQ(ListNames(), (std::vector<std::string>{"maps", "alpha.lmp", "zeta.wav"}));
  EXPECT_NE(frame->StatusText().indexOf("3 of 5 entries match"), -1);
  filter->clear();
  QTest::keyClicks(filter, "*.wav");
  EXPECT_EQ(ListNames(), std::vector<std::string>{"zeta.wav"});

  // The whole archive: matches from every directory, named with their paths.
  QTest::mouseClick(List()->WholeArchiveBox(), Qt::LeftButton);
  EXPECT_EQ(ListNames(), (std::vector<std::string>{"e1m1.wav", "zeta.wav"}));  // by path
  EXPECT_EQ(Cell(0, 0), "maps/sounds/e1m1.wav");
  EXPECT_NE(frame->StatusText().indexOf("2 matches in the archive"), -1);
  filter->clear();
  QTest::keyClicks(filter, "e1m");
  EXPECT_EQ(ListNames(), (std::vector<std::string>{"e1m1.bsp", "e1m2.bsp", "e1m1.wav"}));

  // Commands act on the matches: deleting two of them removes them from their directories.
  SelectRows({});
  List()->SelectEntries({doc.Root().FindByPath("maps/e1m2.bsp"), doc.Root().FindByPath("maps/sounds/e1m1.wav")});
  FocusList();
  Action("actionDelete")->trigger();
  EXPECT_EQ(ListNames(), std::vector<std::string>{"e1m1.bsp"});
  EXPECT_EQ(doc.Root().FindByPath("maps/e1m2.bsp"), nullptr);
  EXPECT_EQ(doc.Root().FindByPath("maps/sounds/e1m1.wav"), nullptr);

  // Esc in the box clears the filter: the directory again, whole.
  filter->setFocus();
  QTest::keyClick(filter, Qt::Key_Escape);
  EXPECT_TRUE(filter->text().isEmpty());
  EXPECT_EQ(ListNames().size(), 5u);
}

}  // namespace
}  // namespace tarn::test
