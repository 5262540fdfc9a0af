#include <QComboBox>
#include <QDockWidget>
#include <QLabel>
#include <QStatusBar>
#include <QToolBar>

#include "ModelBuilders.h"
#include "ModelWindowTest.h"
#include "dialogs/Settings.h"
#include "models/ModelBuild.h"
#include "viewers/models/GLFrame.h"

namespace tarn::test {
namespace {

class ModelViewer : public ModelWindowTest {
 protected:
  void SetUp() override {
    ModelWindowTest::SetUp();
    std::vector<std::string> frames = {"walk1", "walk2", "walk3", "run1", "run2"};
    OpenPak(PakBuilder()
                .File("progs/knight.mdl", Mdl(frames, 8, 8))
                .File("models/tris.md2", Md2({"models/skin.pcx"}, {"stand01", "stand02"}))
                .File("models/skin.pcx", SkinPcx())
                .File("other/bare.md2", Md2({"models/none.pcx"}, {"stand01"}))
                .Build());
  }
};

TEST_F(ModelViewer, OpensBesideTheMainWindowWhichStaysUsable) {
  CGLFrame* v = Open("progs", "knight.mdl");
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->windowTitle(), "knight.mdl");
  EXPECT_TRUE(frame->isEnabled());  // a window of its own, not a modal one
  EXPECT_TRUE(v->View()->ModelLoaded());
  EXPECT_EQ(v->AnimationCombo()->count(), 2);
  EXPECT_EQ(v->AnimationCombo()->itemText(1), "run");
  EXPECT_EQ(v->SkinCombo()->itemText(0), "Skin 1");
  EXPECT_EQ(v->View()->FrameCount(), 3);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(v));
  QImage shot = v->View()->grabFramebuffer();
  EXPECT_FALSE(shot.isNull());
  Close(v);
  EXPECT_TRUE(frame->isEnabled());
}

TEST_F(ModelViewer, CameraCommandsAndTheirLimits) {
  CGLFrame* v = Open("progs", "knight.mdl");
  ASSERT_NE(v, nullptr);
  auto* view = v->View();
  const double framed = view->Distance();
  view->ZoomOut();
  EXPECT_DOUBLE_EQ(view->Distance(), framed + 2);
  while (view->Distance() >= 3) view->ZoomIn();
  const int redraws = view->RedrawRequests();
  view->ZoomIn();  // below 1 -> clamped to 1, no redraw
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

  // Reset View (Home) puts the camera back where the whole model fills the view.
  QAction* reset = v->Command("cmdResetView");
  ASSERT_NE(reset, nullptr);
  EXPECT_EQ(reset->toolTip(), "Reset View (Home)");
  ASSERT_TRUE(QTest::qWaitForWindowActive(v));
  QTest::keyClick(view, Qt::Key_Home);
  EXPECT_DOUBLE_EQ(view->Yaw(), 225);
  EXPECT_DOUBLE_EQ(view->Pitch(), 270);
  EXPECT_DOUBLE_EQ(view->PanX(), 0);
  EXPECT_DOUBLE_EQ(view->Distance(), view->FramingDistance());
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
  EXPECT_EQ(v->FrameText(), "walk: frame 1 of 3");
  QTest::keyClick(view, Qt::Key_3);  // two animations: nothing
  EXPECT_EQ(view->CurrentAnimation(), 0);
  QTest::keyClick(view, Qt::Key_2);
  EXPECT_EQ(view->CurrentAnimation(), 1);
  EXPECT_EQ(v->AnimationCombo()->currentIndex(), 1);  // the box follows the keys
  EXPECT_EQ(view->FrameCount(), 2);
  QTest::keyClick(view, Qt::Key_N);
  EXPECT_EQ(view->CurrentFrame(), 1);
  EXPECT_EQ(v->findChild<QLabel*>("frameText")->text(), "run: frame 2 of 2");
  QTest::keyClick(view, Qt::Key_Minus);
  EXPECT_EQ(view->CurrentAnimation(), 0);
  EXPECT_EQ(v->AnimationCombo()->currentIndex(), 0);
  QTest::keyClick(view, Qt::Key_Plus);
  EXPECT_EQ(v->AnimationCombo()->currentIndex(), 1);
  QTest::keyClick(view, Qt::Key_Minus);
  v->AnimationCombo()->setCurrentIndex(1);
  EXPECT_EQ(view->CurrentAnimation(), 1);
}

TEST_F(ModelViewer, Md2SkinsFromTheArchiveOrAskForExternalOnes) {
  CGLFrame* v = Open("models", "tris.md2");
  ASSERT_NE(v, nullptr);
  EXPECT_TRUE(v->View()->ModelLoaded());
  EXPECT_EQ(v->SkinCombo()->itemText(0), "skin.pcx");
  EXPECT_EQ(v->AnimationCombo()->itemText(0), "stand");
  Close(v);

  // A skin not found is said in the status line, not in a box; only having none asks.
  prompter->answers = {QMessageBox::No};
  v = Open("other", "bare.md2");
  ASSERT_NE(v, nullptr);
  ASSERT_EQ(prompter->shown.size(), 1u);
  EXPECT_EQ(prompter->shown[0].text, "No textures loaded - Load external textures?");
  // No: the model is shown on a checkerboard, and the skin it wants is named.
  EXPECT_TRUE(v->View()->ModelLoaded());
  EXPECT_EQ(v->View()->AnimationCount(), 1);
  EXPECT_EQ(v->SkinCombo()->itemText(0), "checkerboard");
  EXPECT_EQ(v->statusBar()->currentMessage(), "Skin not found: models/none.pcx");
  Close(v);

  // Yes: the archive's pictures are offered, and one chosen from them is the skin.
  prompter->answers = {QMessageBox::Yes};
  prompter->skins.entries = {"models/skin.pcx"};
  v = Open("other", "bare.md2");
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(prompter->offeredSkins, QStringList{"models/skin.pcx"});
  EXPECT_TRUE(v->View()->ModelLoaded());
  EXPECT_EQ(v->SkinCombo()->itemText(0), "skin.pcx");
  EXPECT_EQ(v->statusBar()->currentMessage(), "Skin not found: models/none.pcx");
}

TEST_F(ModelViewer, AWrongSkinPathFindsThePictureBesideTheModel) {
  CPackObject* models = doc.Root().FindChild("models");
  ASSERT_NE(models, nullptr);
  CPackObject* moved = models->AddChild("moved.md2", false);
  const Bytes bytes = Md2({"players/elsewhere/skin.pcx"}, {"stand01"});
  moved->SetData(bytes);
  moved->SetSize(static_cast<std::int32_t>(bytes.size()));
  CGLFrame* v = Open("models", "moved.md2");
  ASSERT_NE(v, nullptr);
  EXPECT_TRUE(prompter->shown.empty());  // nothing to ask: the skin is beside the model
  EXPECT_TRUE(v->View()->ModelLoaded());
  EXPECT_EQ(v->SkinCombo()->itemText(0), "skin.pcx");
}

TEST_F(ModelViewer, WithoutToolbarsMouseAndKeysStillWork) {
  dialogs::WriteProfileInt("Debug", "ShowToolbars", 0);
  CGLFrame* v = Open("progs", "knight.mdl");
  dialogs::WriteProfileInt("Debug", "ShowToolbars", 1);
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

// The rectangle of the lit pixels of a view.
QRect LitArea(const QImage& image) {
  QRect lit;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (QColor(image.pixel(x, y)).value() > 8) lit |= QRect(x, y, 1, 1);
  return lit;
}

TEST_F(ModelWindowTest, RealModelsOpenWholeAndFillingTheView) {
  TARN_REQUIRE_SAMPLES();
  OpenPak(PakBuilder()
              .File("progs/backpack.mdl", ReadFile(SamplesDir() / "LibreQuake/lq1/progs/backpack.mdl"))
              .File("progs/v_rock2.mdl", ReadFile(SamplesDir() / "LibreQuake/lq1/progs/v_rock2.mdl"))
              .Build());
  for (const char* name : {"backpack.mdl", "v_rock2.mdl"}) {
    SCOPED_TRACE(name);
    CGLFrame* v = OpenExposed("progs", name);
    ASSERT_NE(v, nullptr);
    const QImage shot = v->View()->grabFramebuffer();
    const QRect lit = LitArea(shot);
    // Nothing cut at an edge, and the model takes a good part of the view.
    EXPECT_TRUE(QRect(1, 1, shot.width() - 2, shot.height() - 2).contains(lit))
        << lit.x() << "," << lit.y() << " " << lit.width() << "x" << lit.height();
    EXPECT_GT(std::max(lit.width() * 100 / shot.width(), lit.height() * 100 / shot.height()), 40);
    Close(v);
  }
}

TEST_F(ModelWindowTest, RealModelIsDrawnAndMovesWithItsFrames) {
  TARN_REQUIRE_SAMPLES();
  OpenPak(PakBuilder().File("progs/flame2.mdl", ReadFile(SamplesDir() / "LibreQuake/lq1/progs/flame2.mdl")).Build());
  CGLFrame* v = OpenExposed("progs", "flame2.mdl");
  ASSERT_NE(v, nullptr);
  const QImage first = v->View()->grabFramebuffer();
  EXPECT_GT(LitPixels(first), 50);
  v->View()->SetFrame(3);
  const QImage later = v->View()->grabFramebuffer();
  EXPECT_GT(LitPixels(later), 50);
  EXPECT_NE(first, later);
  Close(v);
  EXPECT_TRUE(frame->isEnabled());
}

// An untextured model of two faces meeting at a crease, one square to the viewer's starting
// view, one leaning back from it: a model lit without its normals shows one flat silhouette.
TEST_F(ModelWindowTest, ModelFacesAreShadedByTheirNormals) {
  // Quake's +x and +y both point towards the starting view (its yaw of 225 degrees), z up.
  const std::uint8_t square = static_cast<std::uint8_t>(NearestNormal(1, 1, 0)),
                     leaning = static_cast<std::uint8_t>(NearestNormal(1, 1, 1));
  const std::vector<ShapeVertex> vertices = {{30, 10, 0, square},  {30, 10, 20, square}, {20, 20, 0, square},
                                             {20, 20, 0, leaning}, {10, 30, 0, leaning}, {0, 20, 20, leaning}};
  OpenPak(PakBuilder().File("progs/crease.mdl", ShapeMdl(vertices, {{0, 1, 2}, {3, 4, 5}}, 15)).Build());
  CGLFrame* v = OpenExposed("progs", "crease.mdl");
  ASSERT_NE(v, nullptr);
  const QImage shot = v->View()->grabFramebuffer();
  const QRect lit = LitArea(shot);
  ASSERT_GT(lit.width(), 40);
  // The square face fills the left quarter of the model, the leaning one the right quarter.
  auto meanValue = [&](int from, int to) {
    long sum = 0, count = 0;
    for (int y = lit.top(); y <= lit.bottom(); ++y)
      for (int x = from; x < to; ++x)
        if (const int value = QColor(shot.pixel(x, y)).value(); value > 8) sum += value, ++count;
    return count ? sum / count : 0;
  };
  const long left = meanValue(lit.left(), lit.left() + lit.width() / 4);
  const long right = meanValue(lit.right() - lit.width() / 4, lit.right());
  EXPECT_GT(left, 40);
  EXPECT_GT(right, 40);
  EXPECT_GT(std::abs(left - right), 15) << left << " " << right;
  Close(v);
}

}  // namespace
}  // namespace tarn::test
