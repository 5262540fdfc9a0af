#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>

#include "../ArtBuilders.h"
#include "GuiSupport.h"
#include "viewers/BitmapViewer.h"

namespace tarn::test {
namespace {

// Export for Engine on a selected map: the dialog's engine and folder, the files that engine
// reads, and a message that says what was written.
TEST_F(GuiTest, ExportForEngineWritesWhatTheChosenEngineReads) {
  OpenPak(PakBuilder()
              .File("maps/m.bsp", TextureMap({ArtMiptex("*Lava", 16, 16, [](int x, int) { return x ? 240 : 8; }),
                                              ArtMiptex("panel", 16, 16, [](int x, int) { return x < 8 ? 240 : 5; })}))
              .File("progs/s.spr", ArtSpr(4, 4, {[](int, int) { return 9; }}))
              .Build());
  ShowDir("maps");
  FocusList();
  SelectRows({"m.bsp"});
  ASSERT_TRUE(Enabled("actionExportForEngine"));
  const fs::path out = dir / "out";
  bool seen = false;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->objectName(), "exportForEngineDialog");
    auto* engine = dialog->findChild<QComboBox*>("engineCombo");
    auto* ok = dialog->findChild<QDialogButtonBox*>("buttons")->button(QDialogButtonBox::Ok);
    EXPECT_FALSE(ok->isEnabled());                         // no folder yet
    for (QLabel* label : dialog->findChildren<QLabel*>())  // Alt+letter reaches every field
      EXPECT_NE(label->buddy(), nullptr) << label->text().toStdString();
    engine->setCurrentIndex(engine->findData("fte"));
    EXPECT_EQ(dialog->findChild<QComboBox*>("formatCombo")->currentText(), "PNG");
    dialog->findChild<QLineEdit*>("folderEdit")->setText(QString::fromStdString(out.string()));
    seen = true;
    ok->click();
  });
  Action("actionExportForEngine")->trigger();
  ASSERT_TRUE(seen);
  // Only the selected map's textures (the sprite was not selected); FTE's luma layer, "#".
  EXPECT_EQ(FilesBelow(out),
            (std::vector<std::string>{"textures/#Lava.png", "textures/panel.png", "textures/panel_luma.png"}));
  ASSERT_FALSE(prompter->shown.empty());
  EXPECT_NE(prompter->shown.back().text.indexOf("2 pictures, 3 files written"), -1)
      << prompter->shown.back().text.toStdString();
}

// View > Outline Glowing Pixels: each glowing pixel outlined, the strays in magenta, and counted.
TEST(BitmapViewer, GlowingPixelsAreOutlinedAndStraysStandOut) {
  Bytes px(16 * 16, 5);
  for (int y = 8; y < 12; ++y)
    for (int x = 8; x < 12; ++x) px[static_cast<std::size_t>(y * 16 + x)] = 240;
  px[1 * 16 + 1] = 250;  // a speck
  PictureSet set;
  set.pictures.emplace_back();
  BuildPicture(16, 16, px, set.pictures.back());
  set.palettes.push_back(QuakePalette());
  auto* frame = new viewers::CBitmapViewerFrame(std::move(set), "panel.mip");
  frame->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(frame));
  QAction* outline = frame->GlowCommand();
  ASSERT_TRUE(outline->isEnabled());
  frame->findChild<QAction*>("actionActualSize")->trigger();
  for (int i = 0; i < 5; ++i) frame->findChild<QAction*>("actionZoomIn")->trigger();  // 8 screen pixels a pixel
  const QImage plain = frame->View()->grab().toImage();
  outline->trigger();
  EXPECT_NE(frame->statusBar()->currentMessage().indexOf("17 glowing pixels, 1 strays"), -1)
      << frame->statusBar()->currentMessage().toStdString();
  const QImage marked = frame->View()->grab().toImage();
  EXPECT_EQ(marked.pixelColor(8, 8), QColor(255, 0, 255));         // the speck's square, in magenta
  EXPECT_EQ(marked.pixelColor(64, 64), QColor(255, 255, 0));       // the light's corner, in yellow
  EXPECT_EQ(marked.pixelColor(36, 36), plain.pixelColor(36, 36));  // a plain pixel, as it was
  outline->trigger();
  EXPECT_EQ(frame->View()->grab().toImage(), plain);
  frame->close();

  // Quake II's pictures have no glowing colours: nothing is offered.
  PictureSet wal;
  wal.pictures.emplace_back();
  BuildPicture(16, 16, px, wal.pictures.back());
  wal.palettes.emplace_back();
  LoadPalette(kQuake2PaletteId, wal.palettes.back());
  auto* second = new viewers::CBitmapViewerFrame(std::move(wal), "floor.wal");
  EXPECT_FALSE(second->GlowCommand()->isEnabled());
  second->close();
}

}  // namespace
}  // namespace tarn::test
