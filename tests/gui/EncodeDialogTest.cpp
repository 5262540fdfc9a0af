#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "GuiSupport.h"
#include "dialogs/EncodeDialog.h"

namespace tarn::test {
namespace {

using dialogs::CEncodeDialog;

// A picture of Quake's own colours 5 and 250 (glowing), a colour the palette lacks, and a
// see-through pixel.
QString WritePicture(const fs::path& path, int w, int h) {
  const Palette q = QuakePalette();
  QImage image(w, h, QImage::Format_RGBA8888);
  image.fill(QColor(q.colors[5].r, q.colors[5].g, q.colors[5].b));
  image.setPixelColor(1, 0, QColor(q.colors[250].r, q.colors[250].g, q.colors[250].b));
  image.setPixelColor(2, 0, QColor(201, 13, 77));
  image.setPixelColor(3, 0, QColor(0, 0, 0, 0));
  const QString p = QString::fromStdString(path.string());
  image.save(p, "PNG");
  return p;
}

bool Settled(const CEncodeDialog& d) {
  // The bound only ends a hang: the preview is made on a worker.
  return QTest::qWaitFor([&] { return d.PreviewDone(); }, 20000);
}

QColor Palette(int index) {
  const tarn::Palette q = QuakePalette();
  return QColor(q.colors[static_cast<std::size_t>(index)].r, q.colors[static_cast<std::size_t>(index)].g,
                q.colors[static_cast<std::size_t>(index)].b);
}

TEST(EncodeDialog, ThePreviewFollowsTheOptionsBesideTheOriginal) {
  TempDir dir;
  CEncodeDialog dialog({WritePicture(dir / "stone.png", 16, 16)}, CEncodeDialog::Mode::Import);
  dialog.show();
  ASSERT_TRUE(Settled(dialog));
  EXPECT_EQ(dialog.OriginalShown().size(), QSize(16, 16));
  QImage result = dialog.ResultShown();
  ASSERT_EQ(result.size(), QSize(16, 16));
  EXPECT_EQ(result.pixelColor(0, 0), Palette(5));    // exact colours stay
  EXPECT_NE(result.pixelColor(1, 0), Palette(250));  // a glowing one by chance, in a picture not drawn in the palette
  EXPECT_EQ(result.pixelColor(3, 0).alpha(), 0);     // see-through in a Quake picture
  EXPECT_NE(result.pixelColor(2, 0), QColor(201, 13, 77));  // the nearest the palette has

  // Glowing colours allowed, the colour is kept; refused, it moves out of the range.
  dialog.findChild<QComboBox*>("encodeFullbright")->setCurrentIndex(1);
  ASSERT_TRUE(Settled(dialog));
  EXPECT_EQ(dialog.ResultShown().pixelColor(1, 0), Palette(250));
  dialog.findChild<QComboBox*>("encodeFullbright")->setCurrentIndex(2);
  ASSERT_TRUE(Settled(dialog));
  EXPECT_NE(dialog.ResultShown().pixelColor(1, 0), Palette(250));
  dialogs::EncodeChoice choice = dialog.Choice();
  EXPECT_TRUE(choice.encode);
  EXPECT_EQ(choice.kind, OutputKind::Lmp);
  EXPECT_EQ(choice.options.fullbright, Fullbright::Never);

  // A Quake II texture in its own palette; kept as it is, nothing is encoded.
  dialog.findChild<QComboBox*>("encodeFormat")->setCurrentIndex(2);
  dialog.findChild<QComboBox*>("encodeDither")->setCurrentIndex(1);
  ASSERT_TRUE(Settled(dialog));
  EXPECT_FALSE(dialog.ResultShown().isNull());
  EXPECT_EQ(dialog.Choice().kind, OutputKind::Wal);
  EXPECT_EQ(dialog.Choice().options.dither, Dither::FloydSteinberg);
  auto* keep = dialog.findChild<QRadioButton*>("encodeKeep");
  QTest::mouseClick(keep, Qt::LeftButton, {}, QPoint(6, keep->height() / 2));  // on its round mark
  EXPECT_FALSE(dialog.Choice().encode);
  EXPECT_FALSE(dialog.findChild<QComboBox*>("encodeFormat")->isEnabled());
}

TEST(EncodeDialog, ATextureOfTheWrongSizeSaysSoUntilScaled) {
  TempDir dir;
  CEncodeDialog dialog({WritePicture(dir / "odd.png", 20, 10)}, CEncodeDialog::Mode::Import);
  dialog.findChild<QComboBox*>("encodeFormat")->setCurrentIndex(1);  // .mip
  ASSERT_TRUE(Settled(dialog));
  EXPECT_TRUE(dialog.ResultShown().isNull());
  EXPECT_NE(dialog.ResultProblem().indexOf("multiples of 16"), -1);
  // OK is refused with the reason beside it, not taken to fail afterwards.
  QPushButton* ok = dialog.findChild<QDialogButtonBox*>("encodeButtons")->button(QDialogButtonBox::Ok);
  EXPECT_FALSE(ok->isEnabled());
  EXPECT_NE(dialog.Refusal().indexOf("multiples of 16"), -1);
  QTest::mouseClick(dialog.findChild<QCheckBox*>("encodeResize"), Qt::LeftButton);
  ASSERT_TRUE(Settled(dialog));
  EXPECT_EQ(dialog.ResultShown().size(), QSize(32, 16));
  EXPECT_TRUE(dialog.Choice().options.resize);
  EXPECT_TRUE(ok->isEnabled());
  EXPECT_TRUE(dialog.Refusal().isEmpty());
}

TEST(EncodeDialog, AGlowMaskMakesItsPixelsGlowAndAWadOffersTextures) {
  TempDir dir;
  CEncodeDialog dialog({WritePicture(dir / "lamp.png", 16, 16)}, CEncodeDialog::Mode::Import, nullptr, OutputKind::Mip);
  EXPECT_EQ(dialog.findChild<QComboBox*>("encodeFormat")->currentIndex(), 1);  // .mip first
  QImage mask(16, 16, QImage::Format_RGB32);
  mask.fill(Qt::black);
  mask.setPixelColor(0, 0, Qt::white);
  const QString maskPath = QString::fromStdString((dir / "lamp_glow.png").string());
  ASSERT_TRUE(mask.save(maskPath));
  ASSERT_TRUE(dialog.SetGlowMask(maskPath));
  ASSERT_TRUE(Settled(dialog));
  const QColor lit = dialog.ResultShown().pixelColor(0, 0);
  bool glows = false;
  for (int i = 224; i < 255; ++i) glows = glows || lit == Palette(i);
  EXPECT_TRUE(glows) << lit.name().toStdString();
  EXPECT_EQ(dialog.ResultShown().pixelColor(0, 1), Palette(5));
  EXPECT_EQ(dialog.Choice().options.glow.width, 16);
  // A mask of another size cannot be laid over the picture: said before OK.
  mask = QImage(8, 8, QImage::Format_RGB32);
  mask.fill(Qt::white);
  ASSERT_TRUE(mask.save(maskPath));
  ASSERT_TRUE(dialog.SetGlowMask(maskPath));
  ASSERT_TRUE(Settled(dialog));
  EXPECT_FALSE(dialog.Refusal().isEmpty());
}

TEST(EncodeDialog, ASpriteIsNamedAfterItsFirstFrame) {
  TempDir dir;
  CEncodeDialog dialog({WritePicture(dir / "Flame1.png", 8, 8), WritePicture(dir / "flame2.png", 8, 8)},
                       CEncodeDialog::Mode::Sprite);
  EXPECT_EQ(dialog.findChild<QLineEdit*>("encodeName")->text(), "flame1");
  EXPECT_TRUE(dialog.findChild<QComboBox*>("encodePicture")->isVisibleTo(&dialog));
  dialog.findChild<QComboBox*>("encodeFormat")->setCurrentIndex(1);
  dialog.findChild<QLineEdit*>("encodeName")->setText("fire");
  ASSERT_TRUE(Settled(dialog));
  EXPECT_FALSE(dialog.ResultShown().isNull());
  const dialogs::SpriteChoice sprite = dialog.Sprite();
  EXPECT_TRUE(sprite.quake2);
  EXPECT_EQ(sprite.stem, "fire");
}

}  // namespace
}  // namespace tarn::test
