#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>
#include <QWheelEvent>

#include "../ZipBuilder.h"
#include "GuiSupport.h"
#include "SoundBuilders.h"
#include "browser/PreviewPane.h"
#include "containers/WadFormat.h"
#include "dialogs/Settings.h"
#include "viewers/BitmapViewer.h"
#include "viewers/HexView.h"
#include "viewers/Previews.h"
#include "viewers/Sound.h"

namespace tarn::test {
namespace {

Bytes Lmp(int w, int h, const Bytes& pixels) {
  Bytes b;
  PutU32(b, 0, static_cast<std::uint32_t>(w));
  PutU32(b, 4, static_cast<std::uint32_t>(h));
  b.insert(b.end(), pixels.begin(), pixels.end());
  return b;
}

// A Quake sprite of two single 2 × 2 frames.
Bytes Sprite() {
  Bytes b = ToBytes("IDSP");
  b.resize(36, 0);
  PutU32(b, 24, 2);
  for (std::uint8_t fill : {10, 20}) {
    const std::size_t at = b.size();
    b.resize(at + 20, 0);
    PutU32(b, at + 12, 2);
    PutU32(b, at + 16, 2);
    b.insert(b.end(), 4, fill);
  }
  return b;
}

class PreviewPane : public GuiTest {
 protected:
  void SetUp() override {
    dialogs::WriteProfileInt("Startup", "PreviewPane", 0);
    dialogs::WriteProfileInt("Startup", "PreviewBelow", 0);
    dialogs::WriteProfileInt("Viewers", "PreviewFit", 0);
    GuiTest::SetUp();
    OpenPak(PakBuilder()
                .File("gfx/pic.lmp", Lmp(4, 2, {1, 2, 255, 255, 3, 4, 255, 255}))
                .File("gfx/big.lmp", Lmp(1024, 1024, Bytes(1024 * 1024, 7)))
                .File("gfx/table.lmp", Bytes(768, 1))
                .File("progs/s.spr", Sprite())
                .File("docs/readme.txt", "line one\r\nline two\r\n")
                .File("sound/drip.wav", Wave(Bytes(11025, 128), 11025, CueChunk(2000)))
                .File("maps/x.dat", Bytes{29, 0, 0, 0, 0xFF, 0x01})
                .Raw("lost.bin", 12, 1 << 24)
                .Build());
    QTest::keyClick(frame.get(), Qt::Key_F3);
  }
  browser::CPreviewPane* Pane() { return frame->PreviewPane(); }
  viewers::CPreview* Show(const std::string& path) {
    const auto slash = path.rfind('/');
    ShowDir(slash == std::string::npos ? "" : path.substr(0, slash));
    FocusList();
    SelectRows({slash == std::string::npos ? path : path.substr(slash + 1)});
    QApplication::processEvents();
    return Pane()->Preview();
  }
  QString Properties() { return Pane()->Properties()->text(); }
};

TEST_F(PreviewPane, F3TogglesItAndItIsRemembered) {
  EXPECT_TRUE(Pane()->isVisible());
  EXPECT_TRUE(Action("actionPreviewPane")->isChecked());
  EXPECT_EQ(dialogs::ProfileInt("Startup", "PreviewPane", 0), 1);
  auto* splitter = Pane()->parentWidget();
  EXPECT_GT(Pane()->width(), splitter->width() / 4);  // beside the list, with room
  Action("actionPreviewBelow")->trigger();
  EXPECT_GT(Pane()->y(), List()->y());
  EXPECT_EQ(dialogs::ProfileInt("Startup", "PreviewBelow", 0), 1);
  QTest::keyClick(frame.get(), Qt::Key_F3);
  EXPECT_FALSE(Pane()->isVisible());
  EXPECT_EQ(dialogs::ProfileInt("Startup", "PreviewPane", 1), 0);
  // Hidden, nothing is read for it.
  Show("gfx/pic.lmp");
  EXPECT_EQ(Pane()->Preview()->objectName(), "previewMessage");
}

TEST_F(PreviewPane, PicturesShowAtTheirSizeOrFittedZoomedAndOverACheckerboard) {
  auto* preview = qobject_cast<viewers::CPicturePreview*>(Show("gfx/pic.lmp"));
  ASSERT_NE(preview, nullptr);
  EXPECT_NE(Properties().indexOf("Path: gfx/pic.lmp"), -1);
  EXPECT_NE(Properties().indexOf("Type: Quake picture"), -1);
  EXPECT_NE(Properties().indexOf("Size: 16 bytes"), -1);
  EXPECT_NE(Properties().indexOf("Offset: 12"), -1);
  EXPECT_NE(Properties().indexOf("Frame: 4x2"), -1);
  viewers::CBitmapViewerView* view = preview->View();
  EXPECT_EQ(view->DrawnRect(), QRect(0, 0, 4, 2));
  // Index 255 is see-through: the checkerboard shows where it is, the palette's colours elsewhere.
  preview->ZoomBy(2);
  EXPECT_EQ(view->DrawnRect(), QRect(0, 0, 16, 8));
  const QImage shot = view->grab().toImage();
  const QColor opaque = shot.pixelColor(1, 1), seeThrough = shot.pixelColor(9, 1);
  EXPECT_TRUE(seeThrough == QColor(204, 204, 204) || seeThrough == QColor(153, 153, 153));
  EXPECT_NE(opaque, seeThrough);
  // Ctrl+wheel zooms; Fit fits and is remembered.
  QWheelEvent wheel(QPointF(2, 2), view->mapToGlobal(QPointF(2, 2)), {}, QPoint(0, 120), Qt::NoButton,
                    Qt::ControlModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(view, &wheel);
  EXPECT_EQ(preview->findChild<QLabel*>("previewZoom")->text(), "800%");
  QTest::mouseClick(preview->FitBox(), Qt::LeftButton);
  EXPECT_TRUE(view->IsFit());
  EXPECT_EQ(dialogs::ProfileInt("Viewers", "PreviewFit", 0), 1);
  EXPECT_NEAR(view->DrawnRect().width(), 2 * view->DrawnRect().height(), 1);

  // A sprite's frames go by as in the viewer; a large picture shows whole.
  preview = qobject_cast<viewers::CPicturePreview*>(Show("progs/s.spr"));
  ASSERT_NE(preview, nullptr);
  EXPECT_NE(Properties().indexOf("Frames: 2"), -1);
  ASSERT_TRUE(QTest::qWaitFor([&] { return preview->View()->CurrentIndex() == 1; }, 10000));
  QTest::mouseClick(preview->FitBox(), Qt::LeftButton);
  preview = qobject_cast<viewers::CPicturePreview*>(Show("gfx/big.lmp"));
  ASSERT_NE(preview, nullptr);
  EXPECT_EQ(preview->View()->PictureSize(), QSize(1024, 1024));
  EXPECT_FALSE(doc.Root().FindByPath("gfx/big.lmp")->HasData());  // read, and let go
}

TEST_F(PreviewPane, TextBytesSoundsAndDamagedEntriesEachShowWhatTheyAre) {
  Show("docs/readme.txt");
  auto* text = Pane()->findChild<QPlainTextEdit*>("previewTextView");
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->toPlainText(), "line one\nline two\n");
  EXPECT_TRUE(text->isReadOnly());

  Show("maps/x.dat");
  auto* hex = Pane()->findChild<viewers::CHexView*>();
  ASSERT_NE(hex, nullptr);
  EXPECT_EQ(hex->Bytes().size(), 6);
  EXPECT_EQ(Properties().count("Size"), 1) << Properties().toStdString();
  // In a narrow pane the lines hold fewer bytes, so that their characters stay in sight.
  hex->resize(hex->fontMetrics().horizontalAdvance(QString(viewers::HexLineChars(16), 'M')) / 2, 200);
  EXPECT_LT(hex->BytesPerLine(), 16);
  EXPECT_LE(hex->fontMetrics().horizontalAdvance(QString(viewers::HexLineChars(hex->BytesPerLine()), 'M')),
            hex->viewport()->width());

  Show("lost.bin");
  EXPECT_EQ(Pane()->Preview()->objectName(), "previewMessage");
  EXPECT_NE(Pane()->findChild<QLabel*>("previewMessageText")->text().indexOf("lie outside the archive"), -1);
  EXPECT_NE(Properties().indexOf("cannot be read"), -1);
  Show("gfx/table.lmp");
  EXPECT_EQ(Pane()->findChild<QLabel*>("previewMessageText")->text(), ".lmp not viewable");

  Show("sound/drip.wav");
  EXPECT_EQ(Pane()->findChild<QLabel*>("soundFormat")->text(), "Wave, PCM 8-bit");
  EXPECT_EQ(Pane()->findChild<QLabel*>("soundChannels")->text(), "1 (mono)");
  EXPECT_EQ(Pane()->findChild<QLabel*>("soundRate")->text(), "11025 Hz");
  EXPECT_EQ(Pane()->findChild<QLabel*>("soundLength")->text(), "1.00 s");
  EXPECT_EQ(Pane()->findChild<QLabel*>("soundLoop")->text(), "from sample 2000 (0.18 s)");
  EXPECT_EQ(Properties().indexOf("Rate"), -1) << Properties().toStdString();  // said once, in the grid
  // Play and Stop go through the window's player.
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  auto* play = Pane()->findChild<QPushButton*>("previewPlay");
  auto* stop = Pane()->findChild<QPushButton*>("previewStop");
  EXPECT_FALSE(stop->isEnabled());
  QTest::mouseClick(play, Qt::LeftButton);
  EXPECT_TRUE(frame->IsPlaying());
  EXPECT_TRUE(stop->isEnabled());
  QTest::mouseClick(stop, Qt::LeftButton);
  EXPECT_FALSE(frame->IsPlaying());
  unsetenv("SDL_AUDIODRIVER");

  // Several rows: no preview, but how many.
  ShowDir("gfx");
  FocusList();
  SelectRows({"pic.lmp", "big.lmp"});
  QApplication::processEvents();
  EXPECT_EQ(Pane()->findChild<QLabel*>("previewMessageText")->text(), "2 entries selected.");
}

// The offset is where a hex editor finds the entry: a zip member's local header; an entry
// imported since has one once saved.
TEST_F(PreviewPane, TheOffsetIsTheEntrysPlaceInTheFile) {
  const fs::path zip = dir / "mod.pk3";
  WriteFile(zip, ZipBuilder().Stored("a.txt", "first").Stored("b.txt", "second").Build());
  ASSERT_TRUE(frame->OpenArchive(QString::fromStdString(zip.string())));
  Show("b.txt");
  EXPECT_NE(Properties().indexOf(QString("Offset: %1").arg(30 + 5 + 5)), -1) << Properties().toStdString();
  WriteFile(dir / "c.txt", "third");
  prompter->openFiles = {QString::fromStdString((dir / "c.txt").string())};
  ShowDir("");
  FocusTree();
  Action("actionImportFile")->trigger();
  Show("c.txt");
  EXPECT_NE(Properties().indexOf("Offset: none yet"), -1);
  Action("actionSave")->trigger();
  Show("b.txt");
  Show("c.txt");
  const Bytes bytes = ReadFile(zip);
  const std::string text(bytes.begin(), bytes.end());
  std::size_t header = text.find("PK\x03\x04");
  while (header != std::string::npos && text.compare(header + 30, 5, "c.txt") != 0)
    header = text.find("PK\x03\x04", header + 1);
  ASSERT_NE(header, std::string::npos);
  EXPECT_NE(Properties().indexOf(QString("Offset: %1").arg(header)), -1) << Properties().toStdString();
}

TEST_F(PreviewPane, WadLumpsShowAsTheirKindWithTheirType) {
  Bytes mip(40 + 256 + 64 + 16 + 4, 255);
  std::fill(mip.begin(), mip.begin() + 40, 0);
  std::memcpy(mip.data(), "{grate", 6);
  for (std::uint32_t at : {16u, 20u}) PutU32(mip, at, 16);
  for (std::uint32_t i = 0, offset = 40; i < 4; offset += (256 >> (2 * i)), ++i) PutU32(mip, 24 + 4 * i, offset);
  Bytes palette(768);
  for (std::size_t i = 0; i < palette.size(); ++i) palette[i] = static_cast<std::uint8_t>(i / 3);
  const fs::path wad = dir / "tex.wad";
  WriteFile(wad, BuildWad(ContainerFormat::Wad2, {{"{grate", mip, wad::kQuakeMiptex},
                                                  {"palette", palette, wad::kPalette},
                                                  {"colormap", Bytes(40, 1), 0x23}}));
  ASSERT_TRUE(frame->OpenArchive(QString::fromStdString(wad.string())));
  auto type = [&](const std::string& name) {
    const std::vector<std::string> names = ListNames();
    const auto row = std::find(names.begin(), names.end(), name) - names.begin();
    return List()->ListModel()->index(static_cast<int>(row), 2).data().toString().toStdString();
  };
  EXPECT_EQ(type("{grate.mip"), "Quake texture");
  EXPECT_EQ(type("palette.pal"), "Palette");
  EXPECT_EQ(type("colormap.lump23"), "WAD lump");

  // A texture whose name begins with "{" shows the checkerboard where it holds index 255.
  auto* texture = qobject_cast<viewers::CPicturePreview*>(Show("{grate.mip"));
  ASSERT_NE(texture, nullptr);
  EXPECT_EQ(texture->View()->PictureSize(), QSize(16, 16));
  const QColor seeThrough = texture->View()->grab().toImage().pixelColor(1, 1);
  EXPECT_TRUE(seeThrough == QColor(204, 204, 204) || seeThrough == QColor(153, 153, 153));
  // A palette shows its colours, a square each, from the first to the last.
  auto* colours = qobject_cast<viewers::CPicturePreview*>(Show("palette.pal"));
  ASSERT_NE(colours, nullptr);
  const QImage board = colours->View()->grab().toImage();
  EXPECT_EQ(board.pixelColor(2, 2), QColor(0, 0, 0));
  EXPECT_EQ(board.pixelColor(124, 124), QColor(255, 255, 255));
  Show("colormap.lump23");
  EXPECT_NE(Pane()->findChild<viewers::CHexView*>(), nullptr);
  EXPECT_NE(Properties().indexOf("Type: WAD lump"), -1);
}

// Text typed in the pane is as much the archive's as a viewer's edit: the title says there is a
// change; choosing another row puts it in as one undoable change; quitting or opening another
// archive asks first.
TEST_F(PreviewPane, TextTypedInThePaneIsKeptAndAskedAbout) {
  prompter->shown.clear();
  const fs::path pak =
      OpenPak(PakBuilder().File("autoexec.cfg", "bind w +forward\n").File("quake.rc", "exec a\n").Build());
  ShowDir("");
  FocusList();
  const auto type = [&](const std::string& name, const QString& text) {
    ClickRow(List(), List()->ListModel()->RowOf(doc.Root().FindChild(name)));
    QCheckBox* edit = nullptr;
    // Clicked once laid out where it shows.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return (edit = Pane()->findChild<QCheckBox*>("previewEdit")) != nullptr && edit->isVisible(); }));
    if (!edit) return;
    QApplication::processEvents();
    QTest::mouseClick(edit, Qt::LeftButton);
    EXPECT_TRUE(edit->isChecked());
    auto* pane = Pane()->findChild<QPlainTextEdit*>("previewTextView");
    pane->setFocus();
    pane->moveCursor(QTextCursor::End);
    QTest::keyClicks(pane, text);
  };
  type("autoexec.cfg", "echo on");
  EXPECT_FALSE(doc.IsModified());
  EXPECT_TRUE(frame->isWindowModified());
  // Ctrl+Q asks about the archive, which has the text now; Cancel stays.
  prompter->answers = {QMessageBox::Cancel};
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Q, Qt::ControlModifier);
  EXPECT_TRUE(frame->isVisible());
  ASSERT_EQ(prompter->shown.size(), 1u);
  EXPECT_EQ(prompter->shown.back().text, "Save changes to test.pak?");
  EXPECT_EQ(Load(doc.Root().FindChild("autoexec.cfg")), ToBytes("bind w +forward\necho on"));

  // Another row clicked: the text goes into the archive, one change that Undo takes back.
  type("quake.rc", "exec b");
  ClickRow(List(), List()->ListModel()->RowOf(doc.Root().FindChild("autoexec.cfg")));
  ASSERT_TRUE(QTest::qWaitFor([&] { return Properties().startsWith("Path: autoexec.cfg"); }));
  EXPECT_EQ(Load(doc.Root().FindChild("quake.rc")), ToBytes("exec a\nexec b"));
  EXPECT_EQ(Action("actionUndo")->text(), "&Undo Edit \"quake.rc\"");
  EXPECT_EQ(Pane()->findChild<QPlainTextEdit*>("previewTextView")->toPlainText(), "bind w +forward\necho on");

  // Opening another archive: Save writes this one with both texts first.
  type("autoexec.cfg", "; exec c");
  const fs::path other = dir / "other.pak";
  WriteFile(other, PakBuilder().File("other.txt", "other").Build());
  prompter->openFile = QString::fromStdString(other.string());
  prompter->answers = {QMessageBox::Save};
  Action("actionOpen")->trigger();
  EXPECT_NE(doc.Root().FindChild("other.txt"), nullptr);
  CTarnDoc saved;
  ASSERT_TRUE(saved.Open(pak));
  EXPECT_EQ(Load(saved.Root().FindChild("autoexec.cfg")), ToBytes("bind w +forward\necho on; exec c"));
  EXPECT_EQ(Load(saved.Root().FindChild("quake.rc")), ToBytes("exec a\nexec b"));
}

}  // namespace
}  // namespace tarn::test
