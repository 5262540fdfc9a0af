#include <QStatusBar>

#include "GuiSupport.h"

namespace tarn::test {
namespace {

class EditCommands : public GuiTest {
 protected:
  void Undo() { QTest::keyClick(frame.get(), Qt::Key_Z, Qt::ControlModifier); }
  void Redo(bool byY = false) {
    if (byY) QTest::keyClick(frame.get(), Qt::Key_Y, Qt::ControlModifier);
    else QTest::keyClick(frame.get(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
  }
  QString UndoText() {
    frame->UpdateCommandUI();
    return Action("actionUndo")->text();
  }
};

TEST_F(EditCommands, EveryChangeOfTheTreeIsUndoneAndRedoneByItsName) {
  OpenPak(PakBuilder().File("a.txt", "alpha").File("maps/e1m1.bsp", "map").Build());
  EXPECT_FALSE(Enabled("actionUndo"));
  EXPECT_EQ(UndoText(), "&Undo");

  // Rename.
  FocusList();
  SelectRows({"a.txt"});
  prompter->newName = "b.txt";
  Action("actionRename")->trigger();
  EXPECT_EQ(UndoText(), "&Undo Rename \"a.txt\"");
  EXPECT_EQ(Action("actionUndo")->toolTip(), "Undo Rename \"a.txt\" (Ctrl+Z)");
  Undo();
  EXPECT_NE(doc.Root().FindChild("a.txt"), nullptr);
  EXPECT_FALSE(doc.IsModified());  // back where the file is
  EXPECT_FALSE(frame->isWindowModified());
  Redo(true);
  EXPECT_NE(doc.Root().FindChild("b.txt"), nullptr);
  EXPECT_TRUE(frame->isWindowModified());

  // New directory, from the tree.
  ShowDir("maps");
  FocusTree();
  Action("actionNewDirectory")->trigger();
  EXPECT_EQ(UndoText(), "&Undo New Directory");
  Undo();
  EXPECT_EQ(doc.Root().FindByPath("maps/untitled"), nullptr);
  Redo();
  EXPECT_NE(doc.Root().FindByPath("maps/untitled"), nullptr);

  // Delete of several rows: one step, said in the status bar, undone with the rows selected.
  ShowDir("");
  FocusList();
  SelectRows({"maps", "b.txt"});
  QTest::keyClick(List()->ActiveView(), Qt::Key_Delete);
  EXPECT_TRUE(prompter->shown.empty());  // no question
  EXPECT_EQ(frame->statusBar()->currentMessage(), "Deleted 2 entries. Undo (Ctrl+Z) brings them back.");
  EXPECT_EQ(UndoText(), "&Undo Delete 2 entries");
  Undo();
  EXPECT_EQ(ListNames(), (std::vector<std::string>{"maps", "b.txt"}));
  EXPECT_EQ(List()->SelectedEntries().size(), 2u);
  EXPECT_EQ(Load(doc.Root().FindByPath("maps/e1m1.bsp")), ToBytes("map"));
  Redo();
  EXPECT_TRUE(ListNames().empty());
  Undo();

  // Paste, and a paste that replaces a taken name.
  SelectRows({"b.txt"});
  Action("actionCopy")->trigger();
  ShowDir("maps");
  FocusTree();
  Action("actionPaste")->trigger();
  EXPECT_EQ(UndoText(), "&Undo Paste \"b.txt\"");
  prompter->conflictAnswers = {{shell::ConflictChoice::Replace, false}};
  Action("actionPaste")->trigger();
  Undo();
  Undo();
  EXPECT_EQ(doc.Root().FindByPath("maps/b.txt"), nullptr);
  Redo();
  Redo();
  EXPECT_EQ(Load(doc.Root().FindByPath("maps/b.txt")), ToBytes("alpha"));
  EXPECT_EQ(doc.Root().FindChild("maps")->ChildCount(), 3u);  // e1m1.bsp, untitled, b.txt once

  // Import of a file and of a folder; the files' disk copies are gone by the time of the redo.
  WriteFile(dir / "in" / "new.txt", "new");
  WriteFile(dir / "in" / "sub" / "deep.txt", "deep");
  frame->ImportPaths(&doc.Root(), {QString::fromStdString((dir / "in" / "new.txt").string()),
                                   QString::fromStdString((dir / "in" / "sub").string())});
  EXPECT_EQ(UndoText(), "&Undo Import 2 entries");
  Undo();
  EXPECT_EQ(doc.Root().FindChild("new.txt"), nullptr);
  fs::remove_all(dir / "in");
  Redo();
  EXPECT_EQ(Load(doc.Root().FindChild("new.txt")), ToBytes("new"));
  EXPECT_EQ(Load(doc.Root().FindByPath("sub/deep.txt")), ToBytes("deep"));
}

TEST_F(EditCommands, AnUndoneDeleteBringsBackBytesWhoseSourceChangedOnDisk) {
  const fs::path pak = OpenPak(PakBuilder().File("keep.txt", "keep").File("gone.wav", "original sound").Build());
  // An imported file, then changed on disk, and the archive saved over with the entries gone.
  WriteFile(dir / "skin.pcx", "imported picture");
  frame->ImportPaths(&doc.Root(), {QString::fromStdString((dir / "skin.pcx").string())});
  WriteFile(dir / "skin.pcx", "changed on disk since");
  FocusList();
  SelectRows({"gone.wav", "skin.pcx"});
  Action("actionDelete")->trigger();
  Action("actionSave")->trigger();
  ASSERT_FALSE(doc.IsModified());
  fs::remove(dir / "skin.pcx");

  Undo();
  EXPECT_TRUE(doc.IsModified());
  EXPECT_EQ(Load(doc.Root().FindChild("gone.wav")), ToBytes("original sound"));
  EXPECT_EQ(Load(doc.Root().FindChild("skin.pcx")), ToBytes("imported picture"));
  Action("actionSave")->trigger();
  CTarnDoc check;
  ASSERT_TRUE(check.OnOpenDocument(pak));
  EXPECT_EQ(Load(check.Root().FindChild("gone.wav")), ToBytes("original sound"));
  EXPECT_EQ(Load(check.Root().FindChild("skin.pcx")), ToBytes("imported picture"));
  EXPECT_EQ(Load(check.Root().FindChild("keep.txt")), ToBytes("keep"));
}

}  // namespace
}  // namespace tarn::test
