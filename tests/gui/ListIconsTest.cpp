// The icon styles of the list as a file manager's: a wheel's notch scrolls a row, F2 offers the
// base name, labels wrap and name the file.
#include <QCheckBox>
#include <QLineEdit>
#include <QListView>
#include <QScrollBar>
#include <QWheelEvent>

#include "GuiSupport.h"
#include "containers/WadFormat.h"
#include "dialogs/RenameDialog.h"

namespace tarn::test {
namespace {

class ListIcons : public GuiTest {
 protected:
  // One notch of a mouse wheel away from the user, over the list.
  void WheelDown(QWidget* viewport) {
    const QPointF at(viewport->width() / 2, viewport->height() / 2);
    QWheelEvent wheel(at, viewport->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(viewport, &wheel);
    QApplication::processEvents();
  }
  void OpenWad(const Bytes& bytes) {
    const fs::path p = dir / "test.wad";
    WriteFile(p, bytes);
    ASSERT_TRUE(frame->OpenArchive(QString::fromStdString(p.string())));
    QApplication::processEvents();
  }
};

TEST_F(ListIcons, AWheelNotchScrollsARowOfIconsAndPageDownAPage) {
  PakBuilder pak;
  for (int i = 0; i < 400; ++i) pak.File(QString("t%1.lmp").arg(i, 3, 10, QChar('0')).toStdString(), "x");
  OpenPak(pak.Build());
  frame->resize(900, 600);
  for (const char* style : {"actionLargeIcons", "actionSmallIcons"}) {
    Action(style)->trigger();
    QApplication::processEvents();
    QListView* icons = List()->IconView();
    QScrollBar* bar = icons->verticalScrollBar();
    bar->setValue(0);
    const int row = icons->gridSize().height();
    WheelDown(icons->viewport());
    EXPECT_GE(bar->value(), row * 3 / 4) << style;
    EXPECT_LE(bar->value(), row * 3 / 2) << style;

    bar->setValue(0);
    icons->setFocus();
    icons->setCurrentIndex(List()->ListModel()->index(0, 0));
    QTest::keyClick(icons, Qt::Key_PageDown);
    EXPECT_GE(bar->value(), icons->viewport()->height() / 2) << style;
    EXPECT_GT(icons->currentIndex().row(), 0) << "the current icon goes with the page";
    QTest::keyClick(icons, Qt::Key_PageUp);
    EXPECT_EQ(bar->value(), 0) << style;
    EXPECT_EQ(icons->currentIndex().row(), 0) << style;
  }
}

TEST_F(ListIcons, F2SelectsTheBaseNameSoThatTypingKeepsTheLumpType) {
  OpenWad(BuildWad(ContainerFormat::Wad2, {{"conchars", ToBytes("chars"), wad::kPicture}}));
  FocusList();
  SelectRows({"conchars.lmp"});
  QTest::keyClick(List()->ActiveView(), Qt::Key_F2);
  auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
  ASSERT_NE(editor, nullptr);
  EXPECT_EQ(editor->selectedText(), "conchars");
  QTest::keyClicks(editor, "charset");
  QTest::keyClick(editor, Qt::Key_Return);
  EXPECT_TRUE(QTest::qWaitFor([&] { return doc.Root().FindChild("charset.lmp") != nullptr; }, 5000));
  EXPECT_TRUE(prompter->shown.empty()) << prompter->shown.front().text.toStdString();

  // The menu's dialog alike; a name without a type is chosen whole.
  for (const auto& [name, base] : {std::pair{"autoexec.cfg", "autoexec"}, {"maps", "maps"}, {".cfg", ".cfg"}}) {
    dialogs::CRenameDialog dialog(name);
    EXPECT_EQ(dialog.findChild<QLineEdit*>("renameEdit")->selectedText(), base);
  }
}

TEST_F(ListIcons, LabelsWrapToTwoLinesAndNameTheFileOfAWholeArchiveMatch) {
  // The view sizes every item as its first: a short name must not narrow the others.
  OpenPak(PakBuilder()
              .File("ab.rc", "x")
              .File("autoexec.cfg", "x")
              .File("textures/switches/+0basebtn.wal", "w")
              .File("textures/switches/+1basebtn.wal", "w")
              .Build());
  for (const char* style : {"actionLargeIcons", "actionSmallIcons"}) {
    Action(style)->trigger();
    QApplication::processEvents();
    QListView* icons = List()->IconView();
    const int row = List()->ListModel()->RowOf(doc.Root().FindChild("autoexec.cfg"));
    const QRect r = icons->visualRect(List()->ListModel()->index(row, 0));
    const QFontMetrics fm(icons->font());
    if (std::string(style) == "actionLargeIcons") {
      EXPECT_GE(r.width(), fm.horizontalAdvance("autoexec")) << "room to break the name, not to cut it";
      EXPECT_GE(r.height(), icons->iconSize().height() + 2 * fm.lineSpacing()) << "two lines under the icon";
      // A name of one word longer than the cell breaks inside it, where a file manager would.
      const QChar br(QChar::LineSeparator);
      const int w = r.width();
      EXPECT_EQ(browser::BrokenLabel("h2oteleskip_and_more.mip", fm, fm.horizontalAdvance("h2oteleskip_and_")),
                QString("h2oteleskip_and_") + br + "more.mip");
      EXPECT_EQ(browser::BrokenLabel("autoexec.cfg", fm, fm.horizontalAdvance("autoexec.")),
                QString("autoexec") + br + ".cfg");
      EXPECT_EQ(browser::BrokenLabel("abcdefghijklmnop", fm, fm.horizontalAdvance("abcdefgh")),
                QString("abcdefgh") + br + "ijklmnop");
      EXPECT_EQ(browser::BrokenLabel("autoexec.cfg", fm, w), "autoexec.cfg") << "one line while it fits";
    } else {
      EXPECT_GE(r.width(), icons->iconSize().width() + fm.horizontalAdvance("autoexec.cfg")) << style;
    }
  }

  Action("actionLargeIcons")->trigger();
  FocusList();
  QTest::mouseClick(List()->WholeArchiveBox(), Qt::LeftButton);
  List()->FilterEdit()->setFocus();
  QTest::keyClicks(List()->FilterEdit(), "+0*");
  auto* model = List()->ListModel();
  ASSERT_EQ(model->rowCount(), 1);
  const QModelIndex match = model->index(0, 0);
  EXPECT_EQ(browser::IconLabel(match), "+0basebtn.wal");
  EXPECT_EQ(model->data(match, Qt::ToolTipRole).toString(), "textures/switches/+0basebtn.wal");
  EXPECT_EQ(model->data(match, Qt::DisplayRole).toString(), "textures/switches/+0basebtn.wal") << "details keep it";
  List()->SelectEntries({model->EntryAt(0)});
  QApplication::processEvents();
  EXPECT_TRUE(frame->StatusText().endsWith(": textures/switches/+0basebtn.wal")) << frame->StatusText().toStdString();
}

}  // namespace
}  // namespace tarn::test
