// The window on containers other than PAK: opening, Save As to another format, and Copy and
// Paste between archives of different formats.
#include <QClipboard>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QTimer>

#include "../ZipBuilder.h"
#include "GuiSupport.h"
#include "containers/WadFormat.h"

namespace tarn::test {
namespace {

QString Q(const fs::path& p) { return QString::fromStdString(p.string()); }

TEST_F(GuiTest, SaveAsAnotherFormatConvertsOrNamesWhatItCannotHold) {
  OpenPak(PakBuilder().File("maps/e1m1.bsp", "map").File("wall.mip", Bytes(40, 1)).Build());
  prompter->saveFile = Q(dir / "mod.pk3");
  Action("actionSaveAs")->trigger();
  ASSERT_TRUE(prompter->shown.empty()) << prompter->shown[0].text.toStdString();
  EXPECT_EQ(doc.Format(), ContainerFormat::Zip);
  EXPECT_EQ(ReadFile(dir / "mod.pk3")[0], 'P');
  EXPECT_EQ(frame->windowTitle().indexOf("mod.pk3"), 0);
  EXPECT_EQ(Load(doc.Root().FindByPath("maps/e1m1.bsp")), ToBytes("map"));

  // A WAD holds no directories: the save is refused before writing, naming the entry.
  prompter->saveFile = Q(dir / "textures.wad");
  Action("actionSaveAs")->trigger();
  ASSERT_EQ(prompter->shown.size(), 1u);
  EXPECT_NE(prompter->shown[0].text.indexOf("\"maps/e1m1.bsp\" is in one"), -1)
      << prompter->shown[0].text.toStdString();
  EXPECT_FALSE(fs::exists(dir / "textures.wad"));
  EXPECT_EQ(doc.Format(), ContainerFormat::Zip);

  // The conversion is a step of the history: undone, the window shows the PAK it was.
  EXPECT_TRUE(Enabled("actionUndo"));
  EXPECT_EQ(Action("actionUndo")->text(), "&Undo Convert to ZIP");
  Action("actionUndo")->trigger();
  EXPECT_EQ(doc.Format(), ContainerFormat::Pak);
  EXPECT_EQ(frame->windowTitle().indexOf("test.pak"), 0);
  ShowDir("maps");
  EXPECT_EQ(ListNames(), std::vector<std::string>{"e1m1.bsp"});
  EXPECT_EQ(Load(doc.Root().FindByPath("maps/e1m1.bsp")), ToBytes("map"));
  Action("actionRedo")->trigger();
  EXPECT_EQ(doc.Format(), ContainerFormat::Zip);
  EXPECT_FALSE(doc.IsModified());
}

TEST_F(GuiTest, CopyAndPasteBetweenFormats) {
  OpenPak(PakBuilder().File("maps/e1m1.bsp", "map").File("brick.mip", Bytes(40, 2)).Build());
  FocusList();
  SelectRows({"maps", "brick.mip"});
  Action("actionCopy")->trigger();

  WriteFile(dir / "mod.pk3", ZipBuilder().Stored("Readme.TXT", "hi").Build());
  ASSERT_TRUE(frame->OpenArchive(Q(dir / "mod.pk3")));
  ShowDir("");
  FocusTree();
  Action("actionPaste")->trigger();
  EXPECT_EQ(Load(doc.Root().FindByPath("maps/e1m1.bsp")), ToBytes("map"));
  EXPECT_EQ(doc.Root().FindChild("Readme.TXT")->Name(), "Readme.TXT");

  // Into a WAD only what is a lump goes; the directory is named as left out.
  WriteFile(dir / "tex.wad", BuildWad(ContainerFormat::Wad2, {{"old", Bytes(40, 3), 'D'}}));
  ASSERT_TRUE(frame->OpenArchive(Q(dir / "tex.wad")));
  ShowDir("");
  FocusTree();
  Action("actionPaste")->trigger();
  ASSERT_EQ(prompter->shown.size(), 1u);
  EXPECT_EQ(prompter->shown[0].caption, "Paste");
  EXPECT_NE(prompter->shown[0].text.indexOf("\"maps\": a WAD holds no directories"), -1);
  EXPECT_EQ(Load(doc.Root().FindChild("brick.mip")), Bytes(40, 2));
  EXPECT_EQ(doc.Root().FindChild("maps"), nullptr);
  prompter->saveFile = Q(dir / "tex.wad");
  Action("actionSave")->trigger();
  EXPECT_EQ(prompter->shown.size(), 1u);
  EXPECT_EQ(ReadFile(dir / "tex.wad").size(), 12u + 80 + 2 * 32);
  // Pictures imported into it are offered as its own kind of texture first.
  ASSERT_TRUE(QImage(16, 16, QImage::Format_RGB32).save(Q(dir / "new.png")));
  prompter->encodeChoice.reset();
  frame->ImportPaths(&doc.Root(), {Q(dir / "new.png")});
  EXPECT_EQ(prompter->encodeOffered, OutputKind::Mip);
}

}  // namespace
}  // namespace tarn::test

namespace tarn::test {
namespace {

// The real Save As dialog: choosing a kind of archive gives the name that kind's extension, so
// that the user's choice of kind is the format saved.
TEST_F(GuiTest, SaveAsDialogGivesTheNameTheChosenKindsExtension) {
  QString typed;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    auto* kinds = dialog->findChild<QComboBox*>("fileTypeCombo");
    ASSERT_NE(kinds, nullptr);
    const int pk3 = kinds->findText("PK3 Archives (*.pk3)");
    ASSERT_GE(pk3, 0);
    kinds->setCurrentIndex(pk3);
    emit kinds->activated(pk3);
    typed = dialog->findChild<QLineEdit*>("fileNameEdit")->text();
    dialog->reject();
  });
  dialogs::CPrompter real;
  real.SaveFileName(frame.get(), "Save As", "Pak Files (*.pak);;PK3 Archives (*.pk3);;All Files (*.*) (*)", "pak0.pak",
                    "pak");
  EXPECT_EQ(typed, "pak0.pk3");
}

}  // namespace
}  // namespace tarn::test
