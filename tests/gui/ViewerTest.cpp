#include <QAction>
#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QSyntaxHighlighter>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QTimer>
#include <QToolButton>
#include <QWheelEvent>

#include "GuiSupport.h"
#include "containers/WadFormat.h"
#include "dialogs/Settings.h"
#include "viewers/BitmapViewer.h"
#include "viewers/HexView.h"
#include "viewers/TextHighlighter.h"
#include "viewers/TextViewer.h"

namespace tarn::test {
namespace {

using viewers::CBitmapViewerFrame;

Picture Solid(int w, int h, std::uint8_t index) {
  Picture p;
  BuildPicture(w, h, Bytes(static_cast<std::size_t>(w * h), index), p);
  return p;
}

Palette Ramp() {
  Palette pal;
  for (int i = 0; i < 256; ++i) pal.colors[i] = {static_cast<std::uint8_t>(i), 100, static_cast<std::uint8_t>(255 - i)};
  return pal;
}

void Flush() {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QApplication::processEvents();
}

TEST(BitmapViewer, ScalesAtTheTopLeftWithBlackAround) {
  EXPECT_EQ(viewers::ScaledSize({64, 32}, {300, 300}), QSize(300, 150));
  EXPECT_EQ(viewers::ScaledSize({32, 64}, {300, 300}), QSize(150, 300));
  EXPECT_EQ(viewers::ScaledSize({3, 7}, {100, 100}), QSize(42, 100));  // fractions cut off

  PictureSet set;
  set.pictures.push_back(Solid(64, 32, 200));
  set.palettes.push_back(Ramp());
  auto* frame = new CBitmapViewerFrame(std::move(set), "pic.lmp");
  frame->FitCommand()->setChecked(true);
  frame->show();
  frame->View()->resize(300, 300);
  frame->View()->setFixedSize(300, 300);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(frame));
  EXPECT_EQ(frame->View()->DrawnRect(), QRect(0, 0, 300, 150));
  const QImage shot = frame->View()->grab().toImage();
  EXPECT_EQ(shot.pixelColor(150, 75), QColor(200, 100, 55));
  EXPECT_EQ(shot.pixelColor(150, 200), QColor(Qt::black));
  EXPECT_EQ(shot.pixelColor(299, 299), QColor(Qt::black));
  EXPECT_EQ(frame->windowTitle(), "pic.lmp");
  frame->close();
  Flush();
}

TEST(BitmapViewer, TrueColourPicturesShowTheirOwnColours) {
  Picture p;
  p.width = 2;
  p.height = 1;
  p.rgba = {10, 20, 30, 255, 200, 100, 50, 255};
  const QImage image = viewers::ToImage(p, Ramp());
  ASSERT_EQ(image.size(), QSize(2, 1));
  EXPECT_EQ(image.pixelColor(0, 0), QColor(10, 20, 30));
  EXPECT_EQ(image.pixelColor(1, 0), QColor(200, 100, 50));
}

TEST(BitmapViewer, FramesCycleEveryThreeTenthsOfASecond) {
  PictureSet set;
  for (int i = 0; i < 5; ++i) set.pictures.push_back(Solid(4, 4, static_cast<std::uint8_t>(i)));
  set.palettes.push_back(Ramp());
  auto* frame = new CBitmapViewerFrame(std::move(set), "five.spr");
  frame->show();
  auto* timer = frame->View()->findChild<QTimer*>("pictureTimer");
  ASSERT_NE(timer, nullptr);
  EXPECT_EQ(timer->interval(), 300);
  std::vector<int> seen{frame->View()->CurrentIndex()};
  while (seen.size() < 6) {
    // The bound only ends a hang; it does not time the timer.
    ASSERT_TRUE(QTest::qWaitFor([&] { return frame->View()->CurrentIndex() != seen.back(); }, 10000));
    seen.push_back(frame->View()->CurrentIndex());
  }
  EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 3, 4, 0}));
  frame->close();
  Flush();
}

// Frames stepped by hand with a counter, zoom in steps, and another palette for pictures that
// carry none.
TEST(BitmapViewer, FramesStepZoomStepsAndThePaletteChanges) {
  PictureSet set;
  for (int i = 0; i < 3; ++i) set.pictures.push_back(Solid(4, 4, static_cast<std::uint8_t>(i)));
  set.palettes.push_back(Ramp());
  auto* frame = new CBitmapViewerFrame(std::move(set), "three.spr");
  frame->show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(frame));
  QTest::keyClick(frame, Qt::Key_Right);
  QTest::keyClick(frame, Qt::Key_Right);
  EXPECT_FALSE(frame->View()->Playing());  // stepping stops the animation
  EXPECT_EQ(frame->View()->CurrentIndex(), 2);
  EXPECT_NE(frame->statusBar()->currentMessage().indexOf("frame 3 of 3"), -1);
  QTest::keyClick(frame, Qt::Key_Right);  // round to the first
  EXPECT_EQ(frame->View()->CurrentIndex(), 0);

  QTest::keyClick(frame, Qt::Key_0, Qt::ControlModifier);
  EXPECT_EQ(frame->View()->Zoom(), 1);
  frame->findChild<QAction*>("actionZoomIn")->trigger();
  frame->findChild<QAction*>("actionZoomIn")->trigger();
  EXPECT_EQ(frame->View()->Zoom(), 3);
  QWheelEvent wheel(QPointF(2, 2), frame->View()->mapToGlobal(QPointF(2, 2)), {}, QPoint(0, -120), Qt::NoButton,
                    Qt::ControlModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(frame->View(), &wheel);
  EXPECT_EQ(frame->View()->Zoom(), 2);
  EXPECT_NE(frame->statusBar()->currentMessage().indexOf("200%"), -1);

  const Palette quake = QuakePalette();
  frame->findChild<QAction*>("actionPaletteQuake")->trigger();
  EXPECT_EQ(frame->Images()[1].pixelColor(0, 0), QColor(quake.colors[1].r, quake.colors[1].g, quake.colors[1].b));
  frame->close();
  Flush();

  // A PCX carries its own palette: no other is offered.
  PictureSet pcx;
  pcx.pictures.push_back(Solid(4, 4, 1));
  pcx.palettes.push_back(Ramp());
  pcx.ownPalettes = true;
  frame = new CBitmapViewerFrame(std::move(pcx), "one.pcx");
  EXPECT_FALSE(frame->findChild<QMenu*>("menuPalette")->isEnabled());
  frame->close();
  Flush();
}

TEST(BitmapViewer, OnePaletteServesEveryPictureAndGoesWithTheWindow) {
  const int before = CBitmapViewerFrame::LiveCount();
  PictureSet set;
  for (int i = 0; i < 3; ++i) set.pictures.push_back(Solid(2, 2, static_cast<std::uint8_t>(i)));
  set.palettes.push_back(Ramp());
  auto* frame = new CBitmapViewerFrame(std::move(set), "three");
  EXPECT_EQ(CBitmapViewerFrame::LiveCount(), before + 1);
  ASSERT_EQ(frame->Images().size(), 3u);
  for (const QImage& image : frame->Images()) {
    EXPECT_EQ(image.format(), QImage::Format_Indexed8);
    EXPECT_EQ(image.colorTable(), frame->Images().front().colorTable());
    EXPECT_EQ(image.colorTable()[7], qRgb(7, 100, 248));
  }
  TempDir dir;
  ASSERT_TRUE(frame->SaveAsPng(QString::fromStdString((dir / "out.png").string())));
  for (int i = 0; i < 3; ++i) {
    QImage back(QString::fromStdString((dir / ("out-" + std::to_string(i) + ".png")).string()));
    ASSERT_FALSE(back.isNull()) << i;
    EXPECT_EQ(back.pixelColor(1, 1), QColor(i, 100, 255 - i));
  }
  frame->show();
  frame->close();
  Flush();
  EXPECT_EQ(CBitmapViewerFrame::LiveCount(), before);
}

TEST(TextViewer, LineEndsAndHighBytesSurvive) {
  const Bytes crlf = ToBytes("bind w +forward\r\nbind s +back\r\n");
  EXPECT_EQ(viewers::TextForDisplay(crlf), "bind w +forward\nbind s +back\n");
  EXPECT_EQ(viewers::TextForDisplay(ToBytes("a\nb")), "a\nb");
  const Bytes latin = {'c', 0xE9, '\n', 0x80, 0xFF};  // not UTF-8: one character per byte
  EXPECT_EQ(viewers::TextForDisplay(latin), QString::fromLatin1("c\xE9\n\x80\xFF"));
  EXPECT_EQ(viewers::TextForDisplay(ToBytes("caf\xC3\xA9")), QString::fromUtf8("caf\xC3\xA9"));
  EXPECT_EQ(viewers::TextForDisplay(Bytes{'a', 0, 'b'}).size(), 3);
  // Edited text goes back as it came: CR LF lines, Latin-1 bytes; a character that is no byte
  // in a Latin-1 text is refused rather than changed.
  viewers::TextEncoding how;
  std::vector<std::uint8_t> out;
  viewers::TextForDisplay(crlf, &how);
  ASSERT_TRUE(viewers::BytesOfText("bind w +forward\nbind s +back\n", how, out, nullptr));
  EXPECT_EQ(out, crlf);
  viewers::TextForDisplay(latin, &how);
  ASSERT_TRUE(viewers::BytesOfText(QString::fromLatin1("c\xE9\n\x80\xFF"), how, out, nullptr));
  EXPECT_EQ(out, latin);
  QString why;
  EXPECT_FALSE(viewers::BytesOfText(QString::fromUtf8("\xE2\x82\xAC"), how, out, &why));
  EXPECT_FALSE(why.isEmpty());
}

// Coloured text stays readable on a dark theme: the colours come from the palette's page.
TEST(TextHighlighter, ColoursStandOutFromLightAndDarkPages) {
  const QPalette before = QGuiApplication::palette();
  for (const bool dark : {false, true}) {
    QPalette palette = before;
    palette.setColor(QPalette::Base, dark ? QColor(0x20, 0x20, 0x20) : QColor(Qt::white));
    QGuiApplication::setPalette(palette);
    QTextDocument document("bind w +forward // walk\n");
    viewers::Highlight(&document, viewers::TextSyntax::Config);
    ASSERT_NE(document.findChild<QSyntaxHighlighter*>(), nullptr);
    document.findChild<QSyntaxHighlighter*>()->rehighlight();
    const QList<QTextLayout::FormatRange> ranges = document.firstBlock().layout()->formats();
    ASSERT_GE(ranges.size(), 2);
    for (const QTextLayout::FormatRange& range : ranges) {
      const double lightness = range.format.foreground().color().lightnessF();
      EXPECT_TRUE(dark ? lightness >= 0.55 : lightness <= 0.45) << dark << " " << range.start;
    }
  }
  QGuiApplication::setPalette(before);
}

TEST_F(GuiTest, ViewCommandOpensTheFittingViewer) {
  Bytes lmp;
  PutU32(lmp, 0, 2);
  PutU32(lmp, 4, 2);
  lmp.insert(lmp.end(), {1, 2, 3, 4});
  Bytes table(16384, 7);
  OpenPak(PakBuilder()
              .File("gfx/pic.lmp", lmp)
              .File("gfx/colormap.lmp", table)
              .File("gfx/table.lmp", table)
              .File("docs/readme.txt", "line one\r\nline two\r\n")
              .Build());
  ShowDir("gfx");
  FocusList();
  SelectRows({"pic.lmp"});
  const int before = CBitmapViewerFrame::LiveCount();
  Action("actionView")->trigger();
  EXPECT_EQ(CBitmapViewerFrame::LiveCount(), before + 1);
  CBitmapViewerFrame* viewer = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* v = qobject_cast<CBitmapViewerFrame*>(w)) viewer = v;
  ASSERT_NE(viewer, nullptr);
  EXPECT_EQ(viewer->windowTitle(), "pic.lmp");
  EXPECT_FALSE(viewer->frameGeometry().intersects(frame->frameGeometry()));  // beside, not over
  viewer->close();
  Flush();
  EXPECT_FALSE(doc.Root().FindByPath("gfx/pic.lmp")->HasData());  // released after decoding

  // The colour map is shown as its light levels; another table of its size is no picture.
  SelectRows({"colormap.lmp"});
  Action("actionView")->trigger();
  EXPECT_EQ(CBitmapViewerFrame::LiveCount(), before + 1);
  EXPECT_TRUE(prompter->shown.empty());
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* v = qobject_cast<CBitmapViewerFrame*>(w); v && v->windowTitle() == "colormap.lmp") v->close();
  Flush();
  SelectRows({"table.lmp"});
  Action("actionView")->trigger();
  ASSERT_EQ(prompter->shown.size(), 1u);
  EXPECT_EQ(prompter->shown[0].text, ".lmp not viewable");

  ShowDir("docs");
  FocusList();
  SelectRows({"readme.txt"});
  Action("actionView")->trigger();
  viewers::CTextViewerFrame* text = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* t = qobject_cast<viewers::CTextViewerFrame*>(w); t && t->isVisible()) text = t;
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->windowTitle(), "readme.txt");
  EXPECT_EQ(text->View()->toPlainText(), "line one\nline two\n");
  EXPECT_FALSE(text->View()->isReadOnly());  // edited, and saved back with Ctrl+S
  text->close();
  Flush();
}

}  // namespace
}  // namespace tarn::test

namespace tarn::test {
namespace {

TEST_F(GuiTest, ViewAskedForOnTheCommandLineSaysWhyNothingOpens) {
  Bytes wal(100, 0);
  std::memcpy(wal.data(), "bad", 3);
  PutU32(wal, 32, 64);  // 64 x 64 pixels, said to lie far beyond the entry's 100 bytes
  PutU32(wal, 36, 64);
  for (int k = 0; k < 4; ++k) PutU32(wal, 40 + 4 * k, 5000 + 1000 * static_cast<std::uint32_t>(k));
  OpenPak(PakBuilder().File("textures/bad.wal", wal).Build());
  const int before = CBitmapViewerFrame::LiveCount();
  CPackObject* entry = doc.Root().FindByPath("textures/bad.wal");
  frame->ViewFromCommandLine(*entry);
  EXPECT_EQ(CBitmapViewerFrame::LiveCount(), before);
  ASSERT_EQ(prompter->shown.size(), 1u);
  EXPECT_EQ(prompter->shown[0].text, "\"bad.wal\": the WAL texture's pixels lie outside it");
  // From the window's own View command the same stays a status line.
  frame->ViewByCommand(*entry);
  EXPECT_EQ(prompter->shown.size(), 1u);
}

TEST_F(GuiTest, ExtractTexturesWritesAWadOrSaysWhyNot) {
  Bytes mt(40, 0);
  std::memcpy(mt.data(), "stone", 5);
  PutU32(mt, 16, 16);
  PutU32(mt, 20, 16);
  for (int k = 0, at = 40; k < 4; ++k) {
    PutU32(mt, 24 + 4 * k, static_cast<std::uint32_t>(at));
    at += (16 >> k) * (16 >> k);
  }
  mt.resize(40 + 16 * 16 * 85 / 64, 3);
  Bytes map(124, 0);
  PutU32(map, 0, 29);
  PutU32(map, 20, 124);
  PutU32(map, 24, static_cast<std::uint32_t>(8 + mt.size()));
  PutU32(map, 124, 1);
  PutU32(map, 128, 8);
  map.insert(map.end(), mt.begin(), mt.end());
  Bytes bare(124, 0);  // a map of no textures
  PutU32(bare, 0, 29);
  OpenPak(PakBuilder()
              .File("maps/a.bsp", map)
              .File("maps/b.bsp", map)
              .File("maps/c.txt", "x")
              .File("maps/d.bsp", bare)
              .Build());
  ShowDir("maps");
  FocusList();
  SelectRows({"a.bsp", "c.txt"});
  EXPECT_FALSE(Enabled("actionExtractTextures"));
  SelectRows({"a.bsp", "b.bsp"});
  ASSERT_TRUE(Enabled("actionExtractTextures"));

  // Nothing found: said so, and no file is written over what was there.
  SelectRows({"d.bsp"});
  prompter->saveFile = QString::fromStdString((dir / "none.wad").string());
  WriteFile(dir / "none.wad", "kept");
  Action("actionExtractTextures")->trigger();
  ASSERT_EQ(prompter->shown.size(), 1u);
  EXPECT_EQ(prompter->shown[0].text.section('\n', 0, 0),
            "No texture was extracted; " + prompter->saveFile + " was not written.");
  EXPECT_EQ(ReadFile(dir / "none.wad"), ToBytes("kept"));
  prompter->shown.clear();
  SelectRows({"a.bsp", "b.bsp"});

  prompter->saveFile = QString::fromStdString((dir / "no-such-folder" / "out.wad").string());
  Action("actionExtractTextures")->trigger();
  ASSERT_EQ(prompter->shown.size(), 1u);
  EXPECT_EQ(prompter->shown[0].text,
            "Unable to open file " + prompter->saveFile + " for output: No such file or directory");
  EXPECT_EQ(prompter->shown[0].caption, "Error");
  EXPECT_EQ(prompter->shown[0].icon, QMessageBox::Critical);

  prompter->saveFile = QString::fromStdString((dir / "out.wad").string());
  QString status, text;
  int bar = -1, barEnd = 0;
  // The dialog waits for its Close button once the work is done.
  QTimer poll;
  poll.setInterval(20);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    QWidget* dialog = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->objectName() == "progressDialog" && w->isVisible() &&
          w->findChild<QPushButton*>("progressClose")->isEnabled())
        dialog = w;
    if (!dialog) return;
    poll.stop();
    status = dialog->findChild<QLabel*>("progressStatus")->text();
    text = dialog->findChild<QLabel*>("progressText")->text();
    bar = dialog->findChild<QProgressBar*>("progressBar")->value();
    barEnd = dialog->findChild<QProgressBar*>("progressBar")->maximum();
    dialog->findChild<QPushButton*>("progressClose")->click();
  });
  poll.start();
  Action("actionExtractTextures")->trigger();
  EXPECT_EQ(status, "Done");
  EXPECT_EQ(text, "1 textures extracted");
  EXPECT_EQ(bar, barEnd);
  const Bytes wad = ReadFile(dir / "out.wad");
  ASSERT_EQ(wad.size(), 12 + mt.size() + 32);
  EXPECT_EQ(Bytes(wad.begin() + 12, wad.begin() + 12 + static_cast<long>(mt.size())), mt);
}

}  // namespace
}  // namespace tarn::test

namespace tarn::test {
namespace {

template <typename T>
T* Shown() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* v = qobject_cast<T*>(w); v && v->isVisible()) return v;
  return nullptr;
}

TEST(ViewerPlacement, BesideTheAnchorWhereverThereIsRoom) {
  const QRect screen(0, 0, 1280, 1024);
  EXPECT_EQ(viewers::PlaceBeside(QRect(0, 0, 600, 400), {500, 300}, screen), QRect(600, 0, 500, 300));
  EXPECT_EQ(viewers::PlaceBeside(QRect(700, 100, 500, 400), {600, 300}, screen), QRect(100, 100, 600, 300));
  // No room on either side: the roomier side, kept on the screen.
  EXPECT_EQ(viewers::PlaceBeside(QRect(300, 900, 600, 400), {700, 300}, screen), QRect(580, 724, 700, 300));
  EXPECT_EQ(viewers::PlaceBeside(QRect(0, 0, 10, 10), {4000, 4000}, screen), screen);
}

TEST(HexView, LinesShowOffsetBytesAndCharacters) {
  QByteArray bytes("IDPO\x06\0\0\0abcdefghijklmnopq", 25);
  EXPECT_EQ(viewers::HexLine(bytes, 0),
            "00000000  49 44 50 4f 06 00 00 00  61 62 63 64 65 66 67 68  |IDPO....abcdefgh|");
  EXPECT_EQ(viewers::HexLine(bytes, 1), "00000010  69 6a 6b 6c 6d 6e 6f 70  71                       |ijklmnopq|");
  viewers::CHexView view(bytes);
  EXPECT_EQ(view.LineCount(), 2);
}

TEST_F(GuiTest, FilesOfNoKnownKindOpenAsTextOrBytes) {
  OpenPak(PakBuilder()
              .File("maps/e1m1.ent", "{\n\"classname\" \"worldspawn\"\n}\n")
              .File("progs.dat", Bytes{6, 0, 0, 0, 'x', 0xFF})
              .File("scripts/base.shader", "textures/base\n{\n\tsurfaceparm nolightmap\n}\n")
              .Build());
  FocusList();
  SelectRows({"progs.dat"});
  QTest::keyClick(List()->ActiveView(), Qt::Key_Return);
  auto* hex = Shown<viewers::CHexViewerFrame>();
  ASSERT_NE(hex, nullptr);
  EXPECT_EQ(hex->windowTitle(), "progs.dat");
  EXPECT_EQ(hex->View()->Bytes(), QByteArray("\x06\0\0\0x\xFF", 6));
  hex->close();
  Flush();

  ShowDir("maps");
  FocusList();
  SelectRows({"e1m1.ent"});
  QTest::keyClick(List()->ActiveView(), Qt::Key_Return);
  auto* text = Shown<viewers::CTextViewerFrame>();
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->View()->toPlainText(), "{\n\"classname\" \"worldspawn\"\n}\n");
  text->close();
  Flush();
}

TEST_F(GuiTest, TextViewerFindsAndClosesLikeTheOthers) {
  OpenPak(PakBuilder().File("notes.txt", "alpha\nbeta\nalpha beta\n").Build());
  FocusList();
  SelectRows({"notes.txt"});
  Action("actionView")->trigger();
  auto* text = Shown<viewers::CTextViewerFrame>();
  ASSERT_NE(text, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowActive(text));
  QPlainTextEdit* edit = text->View();
  auto* bar = text->findChild<QWidget*>("findBar");
  auto* find = text->findChild<QLineEdit*>("findEdit");
  EXPECT_FALSE(bar->isVisible());
  QTest::keyClick(edit, Qt::Key_F, Qt::ControlModifier);
  EXPECT_TRUE(bar->isVisible());
  QTest::keyClicks(find, "beta");
  QTest::keyClick(find, Qt::Key_Return);
  EXPECT_EQ(edit->textCursor().selectionStart(), 6);
  QTest::keyClick(find, Qt::Key_F3);
  EXPECT_EQ(edit->textCursor().selectionStart(), 17);
  QTest::keyClick(find, Qt::Key_F3);  // round the end
  EXPECT_EQ(edit->textCursor().selectionStart(), 6);
  QTest::keyClick(find, Qt::Key_F3, Qt::ShiftModifier);
  EXPECT_EQ(edit->textCursor().selectionStart(), 17);
  find->setText("gamma");
  QTest::keyClick(find, Qt::Key_Return);
  EXPECT_EQ(text->findChild<QLabel*>("findResult")->text(), "Not found");
  // Esc leaves the find bar first, then closes the window; Ctrl+W closes it too.
  QTest::keyClick(find, Qt::Key_Escape);
  EXPECT_FALSE(bar->isVisible());
  EXPECT_TRUE(text->isVisible());
  QPointer<QWidget> gone = text;
  QTest::keyClick(edit, Qt::Key_Escape);
  Flush();
  EXPECT_TRUE(gone.isNull());
  Action("actionView")->trigger();
  text = Shown<viewers::CTextViewerFrame>();
  ASSERT_NE(text, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowActive(text));
  gone = text;
  QTest::keyClick(text->View(), Qt::Key_W, Qt::ControlModifier);
  Flush();
  EXPECT_TRUE(gone.isNull());
}

// A config edited in its viewer goes back into the archive on Ctrl+S, as one change the main
// window undoes; the preview pane edits the same way behind its Edit toggle.
TEST_F(GuiTest, EditedTextGoesBackIntoTheArchive) {
  OpenPak(PakBuilder().File("autoexec.cfg", "bind w +forward\r\nbind s +back\r\n").Build());
  FocusList();
  SelectRows({"autoexec.cfg"});
  Action("actionView")->trigger();
  auto* text = Shown<viewers::CTextViewerFrame>();
  ASSERT_NE(text, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowActive(text));
  QPlainTextEdit* edit = text->View();
  EXPECT_FALSE(edit->isReadOnly());
  // Replace All: every match, in one step of the text's own undo.
  QTest::keyClick(edit, Qt::Key_H, Qt::ControlModifier);
  QTest::keyClicks(text->findChild<QLineEdit*>("findEdit"), "bind");
  QTest::keyClicks(text->findChild<QLineEdit*>("replaceEdit"), "alias");
  QTest::mouseClick(text->findChild<QToolButton*>("replaceAll"), Qt::LeftButton);
  EXPECT_EQ(text->findChild<QLabel*>("findResult")->text(), "2 replaced");
  EXPECT_TRUE(text->windowTitle().endsWith("*"));
  QTest::keyClick(edit, Qt::Key_S, Qt::ControlModifier);
  EXPECT_EQ(Load(doc.Root().FindChild("autoexec.cfg")), ToBytes("alias w +forward\r\nalias s +back\r\n"));
  EXPECT_FALSE(text->windowTitle().endsWith("*"));
  EXPECT_EQ(Action("actionUndo")->text(), "&Undo Edit \"autoexec.cfg\"");
  // Changed again and closed: asked, and Discard leaves the archive as saved.
  QTest::keyClicks(edit, "x");
  prompter->answers = {QMessageBox::Discard};
  text->close();
  Flush();
  EXPECT_EQ(prompter->shown.size(), 1u);
  Action("actionUndo")->trigger();
  EXPECT_EQ(Load(doc.Root().FindChild("autoexec.cfg")), ToBytes("bind w +forward\r\nbind s +back\r\n"));

  // The preview pane: read-only until Edit is ticked, then saved by its button.
  Action("actionPreviewPane")->setChecked(true);
  FocusList();
  SelectRows({"autoexec.cfg"});
  ASSERT_TRUE(QTest::qWaitFor([&] { return frame->findChild<QCheckBox*>("previewEdit") != nullptr; }, 5000));
  auto* pane = frame->findChild<QPlainTextEdit*>("previewTextView");
  ASSERT_NE(pane, nullptr);
  EXPECT_TRUE(pane->isReadOnly());
  QTest::mouseClick(frame->findChild<QCheckBox*>("previewEdit"), Qt::LeftButton);
  EXPECT_FALSE(pane->isReadOnly());
  pane->moveCursor(QTextCursor::End);
  QTest::keyClicks(pane, "echo hi");
  QTest::mouseClick(frame->findChild<QPushButton*>("previewSaveText"), Qt::LeftButton);
  Flush();
  EXPECT_EQ(Load(doc.Root().FindChild("autoexec.cfg")), ToBytes("bind w +forward\r\nbind s +back\r\necho hi"));
  Action("actionPreviewPane")->setChecked(false);
}

// The viewers go with their archive: opening another, New and closing the window close them,
// asking for each with changes (Cancel: nothing happens); Save puts the text into the archive
// that is asked about next.
TEST_F(GuiTest, ViewersCloseWithTheirArchiveAskingForChanges) {
  const fs::path pak0 = OpenPak(PakBuilder().File("autoexec.cfg", "bind w +forward\n").File("a.txt", "a").Build());
  const auto view = [&](const std::string& name) {
    FocusList();
    SelectRows({name});
    Action("actionView")->trigger();
    QPointer<viewers::CTextViewerFrame> text;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* v = qobject_cast<viewers::CTextViewerFrame*>(w);
          v && v->isVisible() && v->windowTitle() == QString::fromStdString(name))
        text = v;
    EXPECT_FALSE(text.isNull()) << name;
    return text;
  };
  const QPointer<viewers::CTextViewerFrame> plain = view("a.txt");
  const QPointer<viewers::CTextViewerFrame> edited = view("autoexec.cfg");
  ASSERT_FALSE(edited.isNull());
  edited->View()->moveCursor(QTextCursor::End);
  QTest::keyClicks(edited->View(), "echo on");
  const fs::path other = dir / "other.pak";
  WriteFile(other, PakBuilder().File("other.txt", "other").Build());
  prompter->openFile = QString::fromStdString(other.string());

  // Cancel: the archive and the edited viewer stay.
  prompter->answers = {QMessageBox::Cancel};
  Action("actionOpen")->trigger();
  Flush();
  EXPECT_NE(doc.Root().FindChild("autoexec.cfg"), nullptr);
  ASSERT_FALSE(edited.isNull());
  EXPECT_TRUE(edited->isVisible());
  ASSERT_EQ(prompter->shown.size(), 1u);
  EXPECT_EQ(prompter->shown[0].text, "Save the changes to autoexec.cfg into the archive?");

  // Save, then Save the archive: the text is in pak0 on disk, no viewer is left, the other is open.
  prompter->answers = {QMessageBox::Save, QMessageBox::Save};
  Action("actionOpen")->trigger();
  Flush();
  EXPECT_TRUE(edited.isNull());
  EXPECT_TRUE(plain.isNull());
  EXPECT_NE(doc.Root().FindChild("other.txt"), nullptr);
  ASSERT_EQ(prompter->shown.size(), 3u);
  EXPECT_EQ(prompter->shown[2].text, "Save changes to test.pak?");
  CTarnDoc saved;
  ASSERT_TRUE(saved.Open(pak0));
  EXPECT_EQ(Load(saved.Root().FindChild("autoexec.cfg")), ToBytes("bind w +forward\necho on"));

  // New and closing the window take their viewers too; an archive opened without asking (from
  // the command line) lets them go unasked.
  QPointer<viewers::CTextViewerFrame> left = view("other.txt");
  Action("actionNew")->trigger();
  Flush();
  EXPECT_TRUE(left.isNull());
  ASSERT_TRUE(frame->OpenArchive(QString::fromStdString(other.string())));
  left = view("other.txt");
  QTest::keyClicks(left->View(), "x");
  ASSERT_TRUE(frame->OpenArchive(QString::fromStdString(pak0.string())));
  EXPECT_TRUE(left.isNull());
  left = view("a.txt");
  EXPECT_TRUE(frame->close());
  Flush();
  EXPECT_TRUE(left.isNull());
  EXPECT_EQ(prompter->shown.size(), 3u);
}

TEST_F(GuiTest, ViewSkinShowsEverySkinInTurn) {
  // Two single skins of 2 × 2, filled with 1 and 2.
  Bytes mdl(84, 0);
  std::memcpy(mdl.data(), "IDPO", 4);
  PutU32(mdl, 48, 2);
  PutU32(mdl, 52, 2);
  PutU32(mdl, 56, 2);
  for (std::uint8_t fill : {1, 2}) {
    PutU32(mdl, mdl.size(), 0);
    mdl.insert(mdl.end(), 4, fill);
  }
  OpenPak(PakBuilder().File("progs/two.mdl", mdl).Build());
  ShowDir("progs");
  FocusList();
  SelectRows({"two.mdl"});
  Action("actionViewSkin")->trigger();
  auto* skins = Shown<CBitmapViewerFrame>();
  ASSERT_NE(skins, nullptr);
  EXPECT_EQ(skins->windowTitle(), "two.mdl skin");
  ASSERT_EQ(skins->Images().size(), 2u);
  EXPECT_NE(skins->Images()[0].pixel(0, 0), skins->Images()[1].pixel(0, 0));
  skins->close();
  Flush();
}

TEST_F(GuiTest, ViewersFitTheirContentAndRememberTheirSize) {
  Bytes lmp;
  PutU32(lmp, 0, 320);
  PutU32(lmp, 4, 200);
  lmp.resize(8 + 320 * 200, 5);
  OpenPak(PakBuilder().File("gfx/conback.lmp", lmp).File("a.txt", "text").Build());
  // Room beside the main window, which a first window (wide, centred) does not leave.
  frame->setGeometry(0, 0, 600, 400);
  QApplication::processEvents();
  dialogs::WriteProfileInt("Viewers", "PictureFit", 0);
  ShowDir("gfx");
  FocusList();
  SelectRows({"conback.lmp"});
  Action("actionView")->trigger();
  auto* picture = Shown<CBitmapViewerFrame>();
  ASSERT_NE(picture, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(picture));
  // At its own size: the whole picture, one pixel for one.
  EXPECT_FALSE(picture->View()->IsFit());
  EXPECT_EQ(picture->View()->size(), QSize(320, 200));
  EXPECT_EQ(picture->View()->DrawnRect(), QRect(0, 0, 320, 200));
  ASSERT_TRUE(QTest::qWaitForWindowActive(picture));
  QTest::keyClick(picture, Qt::Key_F);  // Fit
  EXPECT_TRUE(picture->View()->IsFit());
  picture->resize(500, 300);
  ASSERT_TRUE(QTest::qWaitFor([&] { return picture->size() == QSize(500, 300); }));
  picture->close();
  Flush();
  // The next picture opens fitted, at the size the last was left.
  Action("actionView")->trigger();
  picture = Shown<CBitmapViewerFrame>();
  ASSERT_NE(picture, nullptr);
  EXPECT_TRUE(picture->View()->IsFit());
  EXPECT_EQ(picture->size(), QSize(500, 300));
  picture->close();
  Flush();

  ShowDir("");
  FocusList();
  SelectRows({"a.txt"});
  Action("actionView")->trigger();
  auto* text = Shown<viewers::CTextViewerFrame>();
  ASSERT_NE(text, nullptr);
  text->resize(420, 310);
  ASSERT_TRUE(QTest::qWaitFor([&] { return text->size() == QSize(420, 310); }));
  text->close();
  Flush();
  Action("actionView")->trigger();
  text = Shown<viewers::CTextViewerFrame>();
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->size(), QSize(420, 310));
  EXPECT_FALSE(text->frameGeometry().intersects(frame->frameGeometry()));
  text->close();
  Flush();
}

}  // namespace
}  // namespace tarn::test

namespace tarn::test {
namespace {

// The palette a picture is drawn in may come from the archive: also, for a lump of gfx.wad
// opened inside pak0.pak, from the pak around it.
TEST_F(GuiTest, PictureViewerOffersTheArchivesPalettes) {
  Bytes lmp;
  PutU32(lmp, 0, 1);
  PutU32(lmp, 4, 1);
  lmp.push_back(3);
  Bytes red(768, 0);
  for (std::size_t i = 0; i < 256; ++i) red[i * 3] = 200;
  const Bytes wad = BuildWad(ContainerFormat::Wad2, {{"pic", lmp, wad::kPicture}});
  OpenPak(PakBuilder().File("gfx/palette.lmp", red).File("gfx.wad", wad).Build());
  CPackObject* holder = doc.Root().FindChild("gfx.wad");
  CPackObject* root = doc.OpenInner(*holder, nullptr);
  ASSERT_TRUE(root);
  frame->ViewByCommand(*root->FindChild("pic.lmp"));
  CBitmapViewerFrame* viewer = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* v = qobject_cast<CBitmapViewerFrame*>(w); v && v->isVisible()) viewer = v;
  ASSERT_NE(viewer, nullptr);
  auto* menu = viewer->findChild<QMenu*>("menuPaletteArchive");
  ASSERT_TRUE(menu->isEnabled());
  ASSERT_EQ(menu->actions().size(), 1);
  EXPECT_EQ(menu->actions()[0]->text(), "gfx/palette.lmp");
  menu->actions()[0]->trigger();
  EXPECT_EQ(viewer->Images()[0].pixelColor(0, 0), QColor(200, 0, 0));
  viewer->close();
  Flush();
}

}  // namespace
}  // namespace tarn::test
