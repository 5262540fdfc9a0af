#include <QImage>
#include <QPlainTextEdit>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "GuiSupport.h"
#include "viewers/BitmapViewer.h"
#include "viewers/TextViewer.h"
#include "viewers/ViewEntry.h"

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
}

TEST_F(GuiTest, ViewCommandOpensTheFittingViewer) {
  viewers::InstallViewers(*frame);
  Bytes lmp;
  PutU32(lmp, 0, 2);
  PutU32(lmp, 4, 2);
  lmp.insert(lmp.end(), {1, 2, 3, 4});
  Bytes table(16384, 7);
  OpenPak(PakBuilder()
              .File("gfx/pic.lmp", lmp)
              .File("gfx/colormap.lmp", table)
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
  EXPECT_EQ(viewer->geometry(), frame->geometry());
  viewer->close();
  Flush();
  EXPECT_FALSE(doc.Root().FindByPath("gfx/pic.lmp")->HasData());  // released after decoding

  SelectRows({"colormap.lmp"});
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
  EXPECT_TRUE(text->View()->isReadOnly());
  text->close();
  Flush();
}

}  // namespace
}  // namespace tarn::test

namespace tarn::test {
namespace {

TEST_F(GuiTest, ViewAskedForOnTheCommandLineSaysWhyNothingOpens) {
  viewers::InstallViewers(*frame);
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
  viewers::InstallViewers(*frame);
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
  OpenPak(PakBuilder().File("maps/a.bsp", map).File("maps/b.bsp", map).File("maps/c.txt", "x").Build());
  ShowDir("maps");
  FocusList();
  SelectRows({"a.bsp", "c.txt"});
  EXPECT_FALSE(Enabled("actionExtractTextures"));
  SelectRows({"a.bsp", "b.bsp"});
  ASSERT_TRUE(Enabled("actionExtractTextures"));

  prompter->saveFile = QString::fromStdString((dir / "no-such-folder" / "out.wad").string());
  Action("actionExtractTextures")->trigger();
  ASSERT_EQ(prompter->shown.size(), 1u);
  EXPECT_EQ(prompter->shown[0].text, "Unable to open file " + prompter->saveFile + " for output: No such file or directory");
  EXPECT_EQ(prompter->shown[0].caption, "Error");
  EXPECT_EQ(prompter->shown[0].icon, QMessageBox::Critical);

  prompter->saveFile = QString::fromStdString((dir / "out.wad").string());
  QString status, text;
  // The dialog waits for its Close button once the work is done.
  QTimer poll;
  poll.setInterval(20);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    QWidget* dialog = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->objectName() == "progressDialog" && w->isVisible() && w->findChild<QPushButton*>("progressClose")->isEnabled())
        dialog = w;
    if (!dialog) return;
    poll.stop();
    status = dialog->findChild<QLabel*>("progressStatus")->text();
    text = dialog->findChild<QLabel*>("progressText")->text();
    dialog->findChild<QPushButton*>("progressClose")->click();
  });
  poll.start();
  Action("actionExtractTextures")->trigger();
  EXPECT_EQ(status, "Done");
  EXPECT_EQ(text, "1 textures extracted");
  const Bytes wad = ReadFile(dir / "out.wad");
  ASSERT_EQ(wad.size(), 12 + mt.size() + 32);
  EXPECT_EQ(Bytes(wad.begin() + 12, wad.begin() + 12 + static_cast<long>(mt.size())), mt);
}

}  // namespace
}  // namespace tarn::test
