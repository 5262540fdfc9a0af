#include <QComboBox>
#include <QLabel>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include "ImportBuilders.h"
#include "ModelBuilders.h"
#include "StudioBuilders.h"
#include "gui/GuiSupport.h"

#include "browser/PreviewPane.h"
#include "dialogs/ModelImportDialog.h"
#include "dialogs/Settings.h"
#include "models/ModelReader.h"
#include "viewers/Previews.h"
#include "viewers/models/GLFrame.h"
#include "viewers/models/GLView.h"

namespace tarn::test {
namespace {

// A Half-Life model whose textures and sequence are kept in tinyt.mdl and tiny01.mdl.
StudioBuild SplitStudio() {
  StudioSpec s;
  s.externalTextures = true;
  s.group = 1;
  s.textureWidth = s.textureHeight = 16;
  return BuildStudio(s);
}

// An IQM whose positions lie at 0xFFFFFFF0: Assimp 5.2.5 reads there and crashes.
Bytes HostileIqm() {
  IqmSpec s;
  s.positions = {{{0, 0, 0}}, {{8, 0, 0}}, {{0, 8, 0}}};
  s.triangles = {{{0, 1, 2}}};
  Bytes b = Iqm(s);
  StoreU32(&b[kIqmArraysAt + 16], 0xFFFFFFF0u);
  return b;
}

class ModelPreview : public GuiTest {
 protected:
  void SetUp() override {
    dialogs::WriteProfileInt("Startup", "PreviewPane", 1);
    GuiTest::SetUp();
    OpenPak(PakBuilder()
                .File("progs/knight.mdl", Mdl({"walk1", "walk2", "walk3", "run1", "run2"}, 8, 8))
                .File("models/tris.md2", Md2({"elsewhere/skin.pcx"}, {"stand01", "stand02"}))
                .File("models/skin.pcx", SkinPcx())
                .File("other/bare.md2", Md2({"models/none.pcx"}, {"stand01"}))
                .File("progs/cut.mdl", Bytes(40, 0))
                .File("progs/v7.mdl", Mdl({"stand1"}, 4, 2, 7))
                .File("models/q3/body.md3", Md3(3, "models/q3/skin.tga"))
                .File("models/q3/skin.tga", SolidTga(8, 8, 0, 200, 0))
                .File("models/q3/broken.md3", Bytes(120, 7))
                .File("models/q3/hostile.iqm", HostileIqm())
                .File("models/hl/tiny.mdl", SplitStudio().model)
                .File("models/hl/tinyt.mdl", SplitStudio().textures)
                .File("models/hl/tiny01.mdl", SplitStudio().group)
                .Build());
  }
  viewers::CModelPreview* Show(const std::string& dir, const std::string& name) {
    ShowDir(dir);
    FocusList();
    SelectRows({name});
    QApplication::processEvents();
    auto* preview = qobject_cast<viewers::CModelPreview*>(frame->PreviewPane()->Preview());
    // The bound only ends a hang; the load takes a moment on its worker.
    if (preview) {
      EXPECT_TRUE(QTest::qWaitFor([&] { return !preview->Loading(); }, 20000));
    }
    return preview;
  }
  QString Properties() { return frame->PreviewPane()->Properties()->text(); }
};

TEST_F(ModelPreview, ModelsLoadOnAWorkerAndAnimateFramed) {
  viewers::CModelPreview* preview = Show("progs", "knight.mdl");
  ASSERT_NE(preview, nullptr);
  ASSERT_NE(preview->View(), nullptr);
  EXPECT_TRUE(preview->View()->ModelLoaded());
  EXPECT_TRUE(preview->View()->IsPlaying());
  EXPECT_DOUBLE_EQ(preview->View()->Distance(), preview->View()->FramingDistance());
  EXPECT_EQ(preview->AnimationBox()->count(), 2);
  preview->AnimationBox()->setCurrentIndex(1);
  EXPECT_EQ(preview->View()->CurrentAnimation(), 1);
  EXPECT_NE(Properties().indexOf("Triangles: 1"), -1);
  EXPECT_NE(Properties().indexOf("Animation: walk 3"), -1);
  EXPECT_NE(Properties().indexOf("Animation: run 2"), -1);
  // Read from a copy: the archive's entry keeps no bytes.
  EXPECT_FALSE(doc.Root().FindByPath("progs/knight.mdl")->HasData());

  // A Quake II model takes the skin beside it, as the viewer does.
  preview = Show("models", "tris.md2");
  ASSERT_NE(preview, nullptr);
  ASSERT_NE(preview->View(), nullptr);
  EXPECT_EQ(preview->View()->Model().skins.size(), 1u);
  EXPECT_NE(Properties().indexOf("Format: md2"), -1);
}

TEST_F(ModelPreview, TheKeyboardStillReachesTheWindowOnceAModelShows) {
  // The first OpenGL view recreates the window's surface; Del must still delete.
  ASSERT_NE(Show("progs", "knight.mdl"), nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowActive(List()->window()));
  QTest::keyClick(List()->ActiveView(), Qt::Key_Delete);
  EXPECT_EQ(doc.Root().FindByPath("progs/knight.mdl"), nullptr);
}

// Each view draws from texture objects of its own context: viewers opened (by the mouse, from
// the list) while the pane shows a model all draw their skin, the pane too, and nothing crashes.
TEST_F(ModelPreview, ViewersOpenWhileThePaneShowsAModel) {
  const auto drawsSomething = [](const QImage& shot) {
    const QImage rgb = shot.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < rgb.height(); y += 2)
      for (int x = 0; x < rgb.width(); x += 2)
        if (rgb.pixel(x, y) != qRgb(0, 0, 0)) return true;
    return false;
  };
  // A model whose one triangle is not flat to the eye, skinned from the picture beside it.
  Bytes md2 = Md2({"models/skin.pcx"}, {"stand01"});
  const std::uint8_t corners[3][3] = {{0, 0, 0}, {200, 0, 100}, {0, 200, 50}};
  for (std::size_t v = 0; v < 3; ++v) std::copy_n(corners[v], 3, &md2[68 + 64 + 24 + 40 + 4 * v]);
  CPackObject* model = doc.Root().FindChild("models")->AddChild("big.md2", false);
  model->SetData(md2);
  model->SetSize(static_cast<std::int64_t>(md2.size()));
  doc.NotifyObservers();
  List()->SetViewType(browser::CPackListView::kDetails);
  for (int i = 0; i < 20; ++i) {
    // The pane shows one model; the other is double-clicked, which the pane starts loading too.
    const std::string shown = i % 2 ? "big.md2" : "tris.md2", opened = i % 2 ? "tris.md2" : "big.md2";
    viewers::CModelPreview* preview = Show("models", shown);
    ASSERT_NE(preview, nullptr);
    ASSERT_NE(preview->View(), nullptr);
    QAbstractItemView* list = List()->DetailsView();
    const int row = List()->ListModel()->RowOf(List()->CurrentDirectory()->FindChild(opened));
    const QRect at = list->visualRect(List()->ListModel()->index(row, 0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at.center());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at.center());
    QApplication::processEvents();
    viewers::CGLFrame* viewer = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* v = qobject_cast<viewers::CGLFrame*>(w); v && v->isVisible()) viewer = v;
    ASSERT_NE(viewer, nullptr) << "round " << i;
    ASSERT_TRUE(QTest::qWaitForWindowExposed(viewer));
    preview = qobject_cast<viewers::CModelPreview*>(frame->PreviewPane()->Preview());
    ASSERT_NE(preview, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !preview->Loading(); }, 20000));
    if (opened == "big.md2") {  // the other model's one triangle is edge-on
      EXPECT_TRUE(drawsSomething(viewer->View()->grabFramebuffer())) << "round " << i;
      EXPECT_TRUE(drawsSomething(preview->View()->grabFramebuffer())) << "round " << i;
      // Each draws from a texture object of its own context, not the default one both share.
      for (viewers::CGLView* view : {viewer->View(), preview->View()}) {
        view->makeCurrent();
        EXPECT_TRUE(QOpenGLContext::currentContext()->functions()->glIsTexture(view->TextureObject())) << "round " << i;
        view->doneCurrent();
      }
    }
    viewer->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QApplication::processEvents();
  }
}

TEST_F(ModelPreview, AModelThatCannotBeReadSaysWhy) {
  viewers::CModelPreview* preview = Show("progs", "v7.mdl");
  ASSERT_NE(preview, nullptr);
  EXPECT_EQ(preview->View(), nullptr);
  auto* problem = preview->findChild<QLabel*>("previewProblem");
  ASSERT_NE(problem, nullptr);
  EXPECT_EQ(problem->text(),
            "The model cannot be shown: it is version 7, and Quake models are version 6: the engines refuse it");
  // A missing skin is no reason not to show the model: a checkerboard stands in.
  preview = Show("other", "bare.md2");
  ASSERT_NE(preview, nullptr);
  ASSERT_NE(preview->View(), nullptr);
  EXPECT_TRUE(preview->View()->Model().skins.at(0).placeholder);
  preview = Show("progs", "cut.mdl");
  ASSERT_NE(preview, nullptr);
  EXPECT_NE(preview->findChild<QLabel*>("previewProblem")->text().indexOf("too short"), -1);
}

// MD3 (and IQM) entries are read as an import reads them, and shown in the same pane and viewer.
TEST_F(ModelPreview, Quake3ModelsShowWithTheSkinTheirShaderNames) {
  viewers::CModelPreview* preview = Show("models/q3", "body.md3");
  ASSERT_NE(preview, nullptr);
  ASSERT_NE(preview->View(), nullptr);
  EXPECT_EQ(preview->View()->Model().FrameCount(), 3);
  ASSERT_EQ(preview->View()->Model().skins.size(), 1u);
  EXPECT_EQ(preview->View()->Model().skins[0].pixels[1], 200);  // the TGA's green
  preview = Show("models/q3", "broken.md3");
  ASSERT_NE(preview, nullptr);
  EXPECT_EQ(preview->View(), nullptr);
  EXPECT_TRUE(preview->findChild<QLabel*>("previewProblem")->text().startsWith("The model cannot be shown: "));

  SelectRows({"body.md3"});
  Action("actionView")->trigger();
  QApplication::processEvents();
  viewers::CGLFrame* viewer = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* v = qobject_cast<viewers::CGLFrame*>(w); v && v->isVisible()) viewer = v;
  ASSERT_NE(viewer, nullptr);
  EXPECT_TRUE(viewer->findChild<viewers::CGLView*>()->ModelLoaded());
  viewer->close();
}

// A Half-Life model is a ".mdl" too: told by its bytes, read with the textures and sequence
// beside it (the preview reads a copy holding them), and its companions are no models to show.
TEST_F(ModelPreview, HalfLifeModelsShowWithTheFilesBesideThem) {
  viewers::CModelPreview* preview = Show("models/hl", "tiny.mdl");
  ASSERT_NE(preview, nullptr);
  ASSERT_NE(preview->View(), nullptr);
  EXPECT_EQ(preview->View()->Model().readAs, "hlmdl");
  EXPECT_EQ(preview->View()->Model().FrameCount(), 2);
  ASSERT_EQ(preview->View()->Model().skins.size(), 1u);
  EXPECT_FALSE(preview->View()->Model().skins[0].placeholder);
  EXPECT_EQ(preview->View()->Model().skins[0].pixels[3], 16);  // the second pixel, grey 16
  EXPECT_NE(Properties().indexOf("Animation: idle 2"), -1);
  preview = Show("models/hl", "tinyt.mdl");
  ASSERT_NE(preview, nullptr);
  EXPECT_EQ(preview->View(), nullptr);
  EXPECT_NE(preview->findChild<QLabel*>("previewProblem")->text().indexOf("only the textures of a model"), -1);
}

// Models of modelling programs are read in a process of their own: a hostile one, and a reader
// that crashes, leave the window as it was, the pane saying the model could not be read.
TEST_F(ModelPreview, AHostileModelOrACrashedReaderLeavesTheWindowAlive) {
  viewers::CModelPreview* preview = Show("models/q3", "hostile.iqm");
  ASSERT_NE(preview, nullptr);
  EXPECT_EQ(preview->View(), nullptr);
  EXPECT_EQ(preview->findChild<QLabel*>("previewProblem")->text(),
            "The model cannot be shown: its vertex arrays lie outside the file");

  const ModelReaderLimits before = CurrentModelReaderLimits();
  WriteFile(dir / "crash", "#!/bin/sh\nkill -SEGV $$\n");
  fs::permissions(dir / "crash", fs::perms::owner_all);
  ModelReaderLimits crashing = before;
  crashing.program = (dir / "crash").string();
  SetModelReaderLimits(crashing);
  preview = Show("models/q3", "body.md3");
  SetModelReaderLimits(before);
  ASSERT_NE(preview, nullptr);
  EXPECT_EQ(preview->View(), nullptr);
  EXPECT_EQ(preview->findChild<QLabel*>("previewProblem")->text(),
            "The model cannot be shown: this model could not be read: its reader crashed (Segmentation fault)");
  EXPECT_TRUE(frame->isVisible());
  // The next model reads as ever.
  preview = Show("progs", "knight.mdl");
  ASSERT_NE(preview, nullptr);
  EXPECT_NE(preview->View(), nullptr);
}

// The real import question: the converted model turns in the model viewer's view as the format
// changes, a file that cannot be converted refuses OK, and keeping needs no conversion.
TEST_F(GuiTest, TheModelImportDialogShowsTheConvertedModel) {
  WriteFile(dir / "square.obj", "v 0 0 0\nv 10 0 0\nv 10 10 0\nv 0 10 0\nf 1 2 3\nf 1 3 4\n");
  WriteFile(dir / "bad.obj", "f 7 8 9\n");
  dialogs::CModelImportDialog dialog(
      {QString::fromStdString((dir / "square.obj").string()), QString::fromStdString((dir / "bad.obj").string())},
      frame.get());
  dialog.show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.PreviewDone(); }, 20000));
  EXPECT_EQ(dialog.Converted().triangles.size(), 2u);
  EXPECT_EQ(dialog.Converted().format, ModelData::kMdl);
  auto* view = dialog.findChild<viewers::CGLView*>("modelPreview");
  ASSERT_NE(view, nullptr);
  EXPECT_TRUE(view->ModelLoaded());
  EXPECT_NE(view->findChild<QTimer*>("modelTurn"), nullptr);
  dialog.findChild<QComboBox*>("modelFormat")->setCurrentIndex(1);
  ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.PreviewDone(); }, 20000));
  EXPECT_EQ(dialog.Converted().format, ModelData::kMd2);
  ASSERT_EQ(dialog.Converted().skins.size(), 1u);
  EXPECT_GT(dialog.Converted().skins[0].width, 0);  // the PCX made with it
  EXPECT_EQ(dialog.Choice().options.format, ModelData::kMd2);
  EXPECT_TRUE(dialog.Choice().convert);

  dialog.findChild<QComboBox*>("modelShown")->setCurrentIndex(1);
  ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.PreviewDone(); }, 20000));
  EXPECT_TRUE(dialog.Problem().startsWith("Cannot convert bad.obj: ")) << dialog.Problem().toStdString();
  EXPECT_FALSE(dialog.findChild<QPushButton*>("modelOk")->isEnabled());
  dialog.findChild<QRadioButton*>("modelKeep")->setChecked(true);
  EXPECT_TRUE(dialog.findChild<QPushButton*>("modelOk")->isEnabled());
  EXPECT_FALSE(dialog.Choice().convert);
}

}  // namespace
}  // namespace tarn::test
