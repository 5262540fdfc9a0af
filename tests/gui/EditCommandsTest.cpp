#include <functional>

#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QLineEdit>
#include <QPointer>
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
  prompter->conflictAnswers = {{dialogs::ConflictChoice::Replace, false}};
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
  ASSERT_TRUE(check.Open(pak));
  EXPECT_EQ(Load(check.Root().FindChild("gone.wav")), ToBytes("original sound"));
  EXPECT_EQ(Load(check.Root().FindChild("skin.pcx")), ToBytes("imported picture"));
  EXPECT_EQ(Load(check.Root().FindChild("keep.txt")), ToBytes("keep"));
}

// The commands people reach for: Cut, Duplicate, Select All, Replace from File, the next row
// after a delete, and renames typed in place.
TEST_F(EditCommands, CutDuplicateSelectAllAndReplaceAreEachOneUndoableStep) {
  OpenPak(
      PakBuilder().File("A.txt", "alpha").File("b.txt", "beta").File("c.txt", "gamma").File("maps/x.bsp", "m").Build());
  ShowDir("");
  FocusList();
  QTest::keyClick(List()->ActiveView(), Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(List()->SelectedEntries().size(), 4u);

  // Cut takes the entry away now and brings it back with Paste, bytes and exact name kept.
  SelectRows({"A.txt"});
  QTest::keyClick(List()->ActiveView(), Qt::Key_X, Qt::ControlModifier);
  EXPECT_EQ(doc.Root().FindChild("A.txt"), nullptr);
  EXPECT_EQ(UndoText(), "&Undo Cut \"A.txt\"");
  ASSERT_EQ(List()->SelectedEntries().size(), 1u);  // the row that followed it
  EXPECT_EQ(List()->SelectedEntries().front()->Name(), "b.txt");
  ShowDir("maps");
  FocusList();
  QTest::keyClick(List()->ActiveView(), Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(Load(doc.Root().FindByPath("maps/a.txt")), ToBytes("alpha"));

  // Duplicate: a copy of its own beside it, its bytes its own.
  ShowDir("");
  FocusList();
  SelectRows({"c.txt"});
  QTest::keyClick(List()->ActiveView(), Qt::Key_D, Qt::ControlModifier);
  EXPECT_EQ(ListNames().size(), 4u);
  ASSERT_EQ(List()->SelectedEntries().size(), 1u);
  CPackObject* copy = List()->SelectedEntries().front();
  EXPECT_NE(copy->Name(), "c.txt");
  EXPECT_EQ(Load(copy), ToBytes("gamma"));
  EXPECT_EQ(UndoText(), "&Undo Duplicate \"c.txt\"");
  Undo();
  EXPECT_EQ(ListNames().size(), 3u);

  // Replace from File: the disk file's bytes under the entry's own name, undone whole.
  WriteFile(dir / "new.txt", "replaced");
  prompter->openFile = QString::fromStdString((dir / "new.txt").string());
  FocusList();
  SelectRows({"b.txt"});
  Action("actionReplaceFromFile")->trigger();
  EXPECT_EQ(Load(doc.Root().FindChild("b.txt")), ToBytes("replaced"));
  Undo();
  EXPECT_EQ(Load(doc.Root().FindChild("b.txt")), ToBytes("beta"));
}

TEST_F(EditCommands, F2AndNewDirectoryRenameInPlace) {
  OpenPak(PakBuilder().File("a.txt", "alpha").File("maps/x.bsp", "m").Build());
  std::vector<std::string> viewed;  // Enter that ends a rename views nothing
  frame->SetViewHandler([&](browser::CMainFrame&, CPackObject& e, bool) { viewed.push_back(e.Name()); });
  // Types name into the open editor and waits (on the document, not the clock) until done()
  // says the rename has happened.
  auto typeName = [&](const char* name, const std::function<bool()>& done) {
    auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    EXPECT_NE(editor, nullptr);
    if (!editor) return;
    editor->selectAll();
    QTest::keyClicks(editor, name);
    QTest::keyClick(editor, Qt::Key_Return);
    EXPECT_TRUE(QTest::qWaitFor(done, 5000)) << name;
  };
  for (int style : {browser::CPackListView::kLargeIcons, browser::CPackListView::kDetails}) {
    List()->SetViewType(style);
    ShowDir("");
    FocusList();
    SelectRows({style == browser::CPackListView::kDetails ? "b.txt" : "a.txt"});
    QTest::keyClick(List()->ActiveView(), Qt::Key_F2);
    const char* name = style == browser::CPackListView::kDetails ? "c.txt" : "b.txt";
    typeName(name, [&] { return doc.Root().FindChild(name) != nullptr; });
  }
  EXPECT_NE(doc.Root().FindChild("c.txt"), nullptr);
  EXPECT_EQ(UndoText(), "&Undo Rename \"b.txt\"");
  EXPECT_TRUE(viewed.empty());
  // A name taken is refused as the dialog refuses it.
  SelectRows({"c.txt"});
  QTest::keyClick(List()->ActiveView(), Qt::Key_F2);
  typeName("maps", [&] { return !prompter->shown.empty(); });
  ASSERT_FALSE(prompter->shown.empty());
  EXPECT_NE(prompter->shown.back().text.indexOf("already exists"), -1);
  EXPECT_NE(doc.Root().FindChild("c.txt"), nullptr);

  // The tree's directories too; a new one is open for its name at once.
  ShowDir("maps");
  FocusTree();
  QTest::keyClick(Tree(), Qt::Key_F2);
  typeName("levels", [&] { return doc.Root().FindChild("levels") != nullptr; });
  EXPECT_NE(doc.Root().FindChild("levels"), nullptr);
  Action("actionNewDirectory")->trigger();
  typeName("textures", [&] { return doc.Root().FindByPath("levels/textures") != nullptr; });
  EXPECT_NE(doc.Root().FindByPath("levels/textures"), nullptr);
}

}  // namespace
}  // namespace tarn::test
