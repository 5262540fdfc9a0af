// Viewer windows as a file manager opens them: one an entry, cascaded, sized to show it whole.
#include <QScrollArea>
#include <QScrollBar>

#include "GuiSupport.h"
#include "dialogs/Settings.h"
#include "viewers/BitmapViewer.h"
#include "viewers/ViewerFrame.h"

namespace tarn::test {
namespace {

Bytes Lmp(int w, int h) {
  Bytes lmp;
  PutU32(lmp, 0, static_cast<std::uint32_t>(w));
  PutU32(lmp, 4, static_cast<std::uint32_t>(h));
  lmp.resize(8 + static_cast<std::size_t>(w * h), 5);
  return lmp;
}

class ViewerWindows : public GuiTest {
 protected:
  void TearDown() override {
    for (viewers::CViewerFrame* v : Open()) delete v;
    GuiTest::TearDown();
  }
  std::vector<viewers::CViewerFrame*> Open() {
    std::vector<viewers::CViewerFrame*> found;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* v = qobject_cast<viewers::CViewerFrame*>(w); v && v->isVisible()) found.push_back(v);
    return found;
  }
  void View(const std::string& name) {
    SelectRows({name});
    Action("actionView")->trigger();
    QApplication::processEvents();
  }
};

TEST_F(ViewerWindows, ViewingAnEntryAgainRaisesItsWindowAndNewOnesCascade) {
  OpenPak(PakBuilder().File("a.lmp", Lmp(8, 8)).File("b.lmp", Lmp(8, 8)).File("c.txt", "text").Build());
  frame->setGeometry(0, 0, 500, 400);
  QApplication::processEvents();
  dialogs::WriteProfileInt("Viewers", "PictureFit", 0);
  FocusList();
  View("a.lmp");
  ASSERT_EQ(Open().size(), 1u);
  viewers::CViewerFrame* first = Open().front();
  for (int time = 0; time < 3; ++time) {
    FocusList();
    QTest::keyClick(List()->ActiveView(), Qt::Key_Return);
  }
  QApplication::processEvents();
  ASSERT_EQ(Open().size(), 1u) << "Enter again brings the window open";
  EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == first; }, 5000));

  FocusList();
  View("b.lmp");
  ASSERT_EQ(Open().size(), 2u);
  FocusList();
  View("c.txt");
  const auto open = Open();
  ASSERT_EQ(open.size(), 3u);
  for (std::size_t i = 0; i < open.size(); ++i)
    for (std::size_t j = i + 1; j < open.size(); ++j)
      EXPECT_NE(open[i]->pos(), open[j]->pos()) << "cascaded, not one exactly on another";
}

TEST_F(ViewerWindows, APictureOpensInAWindowThatShowsItWhole) {
  OpenPak(PakBuilder().File("skin.lmp", Lmp(200, 200)).Build());
  frame->setGeometry(0, 0, 500, 400);
  QApplication::processEvents();
  dialogs::WriteProfileInt("Viewers", "PictureFit", 0);
  FocusList();
  View("skin.lmp");
  ASSERT_EQ(Open().size(), 1u);
  auto* viewer = qobject_cast<viewers::CBitmapViewerFrame*>(Open().front());
  ASSERT_NE(viewer, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(viewer));
  auto* scroll = viewer->findChild<QScrollArea*>("bitmapScroll");
  ASSERT_NE(scroll, nullptr);
  EXPECT_FALSE(scroll->verticalScrollBar()->isVisible());
  EXPECT_FALSE(scroll->horizontalScrollBar()->isVisible());
  EXPECT_GE(scroll->viewport()->width(), 200);
  EXPECT_GE(scroll->viewport()->height(), 200);
}

}  // namespace
}  // namespace tarn::test
