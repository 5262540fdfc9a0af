#include <QComboBox>
#include <QDockWidget>
#include <QToolBar>

#include "GuiSupport.h"
#include "ModelBuilders.h"
#include "shell/Settings.h"
#include "viewers/GLFrame.h"
#include "viewers/ViewEntry.h"

namespace tarn::test {
namespace {

using viewers::CGLFrame;

class ModelViewer : public GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    viewers::InstallViewers(*frame);
    std::vector<std::string> frames = {"walk1", "walk2", "walk3", "run1", "run2"};
    OpenPak(PakBuilder()
                .File("progs/knight.mdl", Mdl(frames, 8, 8))
                .File("models/tris.md2", Md2({"models/skin.pcx"}, {"stand01", "stand02"}))
                .File("models/skin.pcx", SkinPcx())
                .File("models/bare.md2", Md2({"models/none.pcx"}, {"stand01"}))
                .Build());
  }
  void TearDown() override {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* v = qobject_cast<CGLFrame*>(w)) v->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    GuiTest::TearDown();
  }
  CGLFrame* Open(const std::string& dirPath, const std::string& name) {
    ShowDir(dirPath);
    FocusList();
    SelectRows({name});
    Action("actionView")->trigger();
    QApplication::processEvents();
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* v = qobject_cast<CGLFrame*>(w); v && v->isVisible()) return v;
    return nullptr;
  }
};

TEST_F(ModelViewer, OpensOverTheDisabledMainWindowAndGivesItBack) {
  CGLFrame* v = Open("progs", "knight.mdl");
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->windowTitle(), "knight.mdl");
  EXPECT_FALSE(frame->isEnabled());
  EXPECT_TRUE(v->View()->ModelLoaded());
  EXPECT_EQ(v->AnimationCombo()->count(), 2);
  EXPECT_EQ(v->AnimationCombo()->itemText(1), "run");
  EXPECT_EQ(v->SkinCombo()->itemText(0), "Skin 1");
  EXPECT_EQ(v->View()->FrameCount(), 3);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(v));
  QImage shot = v->View()->grabFramebuffer();
  EXPECT_FALSE(shot.isNull());
  v->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(frame->isEnabled());
}

TEST_F(ModelViewer, CameraCommandsAndTheirLimits) {
  CGLFrame* v = Open("progs", "knight.mdl");
  ASSERT_NE(v, nullptr);
  auto* view = v->View();
  for (int i = 0; i < 49; ++i) view->ZoomIn();
  EXPECT_DOUBLE_EQ(view->Distance(), 2);
  view->ZoomOut();
  view->ZoomIn();
  view->ZoomIn();
  view->Move(0, 0);  // back to 2.5 is not reachable by whole steps; use the mouse below
  const int redraws = view->RedrawRequests();
  view->ZoomIn();  // 0 -> clamped to 1, no redraw
  EXPECT_DOUBLE_EQ(view->Distance(), 1);
  EXPECT_EQ(view->RedrawRequests(), redraws);

  v->findChild<QPushButton*>("btnRotateLeft")->click();
  EXPECT_DOUBLE_EQ(view->Yaw(), 215);
  for (int i = 0; i < 22; ++i) view->Rotate(-10);
  EXPECT_DOUBLE_EQ(view->Yaw(), 355);  // 215 - 220 + 360
  v->findChild<QPushButton*>("btnMoveRight")->click();
  v->findChild<QPushButton*>("btnMoveUp")->click();
  EXPECT_DOUBLE_EQ(view->PanX(), 5);
  EXPECT_DOUBLE_EQ(view->PanY(), 5);

  // Mouse: a left drag turns, a right drag moves the camera away.
  QWidget* w = view;
  QTest::mousePress(w, Qt::LeftButton, Qt::NoModifier, QPoint(50, 50));
  QMouseEvent first(QEvent::MouseMove, QPointF(50, 50), QPointF(50, 50), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(w, &first);
  QMouseEvent drag(QEvent::MouseMove, QPointF(70, 50), QPointF(70, 50), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(w, &drag);
  EXPECT_DOUBLE_EQ(view->Yaw(), 5);  // 355 + 20 / 2 - 360
  QMouseEvent away(QEvent::MouseMove, QPointF(70, 80), QPointF(70, 80), Qt::NoButton, Qt::RightButton, Qt::NoModifier);
  QApplication::sendEvent(w, &away);
  EXPECT_DOUBLE_EQ(view->Distance(), 31);
}

TEST_F(ModelViewer, FramesAnimationsAndKeys) {
  CGLFrame* v = Open("progs", "knight.mdl");
  ASSERT_NE(v, nullptr);
  auto* view = v->View();
  v->Command("cmdLastFrame")->trigger();
  EXPECT_EQ(view->CurrentFrame(), 2);
  v->Command("cmdNextFrame")->trigger();
  EXPECT_EQ(view->CurrentFrame(), 2);  // stays on the last
  v->Command("cmdPlay")->trigger();
  EXPECT_TRUE(view->IsPlaying());
  EXPECT_FALSE(v->Command("cmdNextFrame")->isEnabled());
  EXPECT_FALSE(v->Command("cmdPlay")->isEnabled());
  EXPECT_TRUE(v->Command("cmdStop")->isEnabled());
  ASSERT_TRUE(QTest::qWaitFor([&] { return view->CurrentFrame() == 0; }, 10000));  // wraps; the bound only ends a hang
  v->Command("cmdStop")->trigger();
  EXPECT_TRUE(v->Command("cmdNextFrame")->isEnabled());

  view->setFocus();
  QTest::keyClick(view, Qt::Key_3);  // two animations: nothing
  EXPECT_EQ(view->CurrentAnimation(), 0);
  QTest::keyClick(view, Qt::Key_2);
  EXPECT_EQ(view->CurrentAnimation(), 1);
  EXPECT_EQ(view->FrameCount(), 2);
  QTest::keyClick(view, Qt::Key_N);
  EXPECT_EQ(view->CurrentFrame(), 1);
  QTest::keyClick(view, Qt::Key_Minus);
  EXPECT_EQ(view->CurrentAnimation(), 0);
  v->AnimationCombo()->setCurrentIndex(1);
  EXPECT_EQ(view->CurrentAnimation(), 1);
}

TEST_F(ModelViewer, Md2SkinsFromTheArchiveOrAskForExternalOnes) {
  CGLFrame* v = Open("models", "tris.md2");
  ASSERT_NE(v, nullptr);
  EXPECT_TRUE(v->View()->ModelLoaded());
  EXPECT_EQ(v->SkinCombo()->itemText(0), "skin.pcx");
  EXPECT_EQ(v->AnimationCombo()->itemText(0), "stand");
  v->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

  prompter->answers = {QMessageBox::Ok, QMessageBox::No};
  v = Open("models", "bare.md2");
  ASSERT_NE(v, nullptr);
  ASSERT_EQ(prompter->shown.size(), 2u);
  EXPECT_EQ(prompter->shown[0].text, "Unable to load the following texture(s)\n\nmodels/none.pcx\n");
  EXPECT_EQ(prompter->shown[1].text, "No textures loaded - Load external textures?");
  EXPECT_FALSE(v->View()->ModelLoaded());
  EXPECT_EQ(v->View()->AnimationCount(), 0);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(v));
  EXPECT_EQ(v->View()->grabFramebuffer().pixelColor(5, 5), QColor(Qt::black));
}

TEST_F(ModelViewer, WithoutToolbarsMouseAndKeysStillWork) {
  shell::WriteProfileInt("Debug", "ShowToolbars", 0);
  CGLFrame* v = Open("progs", "knight.mdl");
  shell::WriteProfileInt("Debug", "ShowToolbars", 1);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->findChild<QToolBar*>("modelToolBar"), nullptr);
  EXPECT_EQ(v->findChild<QDockWidget*>("modelDialogBar"), nullptr);
  QTest::keyClick(v->View(), Qt::Key_N);
  EXPECT_EQ(v->View()->CurrentFrame(), 1);
}

}  // namespace
}  // namespace tarn::test

namespace tarn::test {
namespace {

int LitPixels(const QImage& image) {
  int lit = 0;
  for (int y = 0; y < image.height(); y += 2)
    for (int x = 0; x < image.width(); x += 2)
      if (QColor(image.pixel(x, y)).value() > 8) ++lit;
  return lit;
}

TEST_F(GuiTest, RealModelIsDrawnAndMovesWithItsFrames) {
  TARN_REQUIRE_SAMPLES();
  viewers::InstallViewers(*frame);
  OpenPak(PakBuilder().File("progs/flame2.mdl", ReadFile(SamplesDir() / "LibreQuake/lq1/progs/flame2.mdl")).Build());
  ShowDir("progs");
  FocusList();
  SelectRows({"flame2.mdl"});
  Action("actionView")->trigger();
  CGLFrame* v = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* g = qobject_cast<CGLFrame*>(w); g && g->isVisible()) v = g;
  ASSERT_NE(v, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(v));
  const QImage first = v->View()->grabFramebuffer();
  EXPECT_GT(LitPixels(first), 50);
  v->View()->SetFrame(3);
  const QImage later = v->View()->grabFramebuffer();
  EXPECT_GT(LitPixels(later), 50);
  EXPECT_NE(first, later);
  v->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(frame->isEnabled());
}

}  // namespace
}  // namespace tarn::test
