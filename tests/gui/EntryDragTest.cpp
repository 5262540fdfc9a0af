#include <QHeaderView>
#include <QStatusBar>
#include <QTreeView>
#include <QUrl>

#include "GuiSupport.h"

namespace tarn::test {
namespace {

class EntryDrag : public GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    OpenPak(PakBuilder()
                .File("autoexec.cfg", "bind x")
                .File("maps/e1m1.bsp", "map one")
                .File("maps/sub/deep.txt", "deep")
                .File("bad:name.txt", "unsafe")
                .File("progs/ogre.mdl", "IDPO")
                .Build());
    List()->SetViewType(browser::CPackListView::kDetails);
    FocusList();
  }
  // The data a drag of these rows of the list carries, as the view asks the model for them.
  std::unique_ptr<QMimeData> Drag(const std::vector<std::string>& names) {
    QModelIndexList rows;
    auto* m = List()->ListModel();
    for (const auto& n : names) rows << m->index(m->RowOf(List()->CurrentDirectory()->FindChild(n)), 0);
    return std::unique_ptr<QMimeData>(m->mimeData(rows));
  }
  QPoint TreePoint(const std::string& dir) {
    return Tree()->visualRect(Tree()->TreeModel()->IndexOf(doc.Root().FindByPath(dir))).center();
  }
};

TEST_F(EntryDrag, DraggedOutTheEntriesAreFilesInATemporaryFolderThatGoesWithTheWindow) {
  auto mime = Drag({"maps", "autoexec.cfg", "bad:name.txt"});
  ASSERT_NE(mime, nullptr);
  EXPECT_TRUE(mime->hasUrls());
  EXPECT_TRUE(mime->hasFormat(browser::kPackObjectMime));
  const QList<QUrl> urls = mime->urls();  // a file manager asks: now they are exported
  ASSERT_EQ(urls.size(), 2);              // the unsafe name is left out, as Export leaves it
  const fs::path folder = fs::path(urls[0].toLocalFile().toStdString()).parent_path();
  EXPECT_EQ(urls[0].toLocalFile().toStdString(), (folder / "maps").string());
  EXPECT_EQ(ReadFile(folder / "maps" / "e1m1.bsp"), ToBytes("map one"));
  EXPECT_EQ(ReadFile(folder / "maps" / "sub" / "deep.txt"), ToBytes("deep"));
  EXPECT_EQ(ReadFile(folder / "autoexec.cfg"), ToBytes("bind x"));
  EXPECT_FALSE(fs::exists(folder / "bad:name.txt"));
  EXPECT_NE(frame->statusBar()->currentMessage().indexOf("could not be exported"), -1);
  EXPECT_EQ(mime->urls(), urls);  // asked again, not exported again
  frame.reset();
  EXPECT_FALSE(fs::exists(folder));
}

TEST_F(EntryDrag, WithinTheWindowADropMovesWithCtrlItCopies) {
  auto mime = Drag({"autoexec.cfg", "maps"});
  DropOn(Tree()->viewport(), TreePoint("progs"), mime.get());
  EXPECT_EQ(doc.Root().FindChild("autoexec.cfg"), nullptr);
  EXPECT_EQ(Load(doc.Root().FindByPath("progs/autoexec.cfg")), ToBytes("bind x"));
  EXPECT_EQ(Load(doc.Root().FindByPath("progs/maps/sub/deep.txt")), ToBytes("deep"));
  frame->UpdateCommandUI();
  EXPECT_EQ(Action("actionUndo")->text(), "&Undo Move 2 entries");
  Action("actionUndo")->trigger();
  EXPECT_NE(doc.Root().FindChild("maps"), nullptr);
  EXPECT_EQ(doc.Root().FindByPath("progs/maps"), nullptr);

  // With Ctrl, onto a directory row of the list: a copy, the original stays.
  ShowDir("");
  FocusList();
  mime = Drag({"autoexec.cfg"});
  auto* details = List()->DetailsView();
  const QRect row =
      details->visualRect(List()->ListModel()->index(List()->ListModel()->RowOf(doc.Root().FindChild("maps")), 0));
  DropOn(details->viewport(), row.center(), mime.get(), Qt::ControlModifier);
  EXPECT_EQ(Load(doc.Root().FindByPath("maps/autoexec.cfg")), ToBytes("bind x"));
  EXPECT_NE(doc.Root().FindChild("autoexec.cfg"), nullptr);
  // A directory dropped into itself stays where it is.
  mime = Drag({"maps"});
  DropOn(Tree()->viewport(), TreePoint("maps/sub"), mime.get());
  EXPECT_NE(doc.Root().FindChild("maps"), nullptr);
}

TEST_F(EntryDrag, BetweenTwoWindowsADropCopies) {
  CTarnDoc otherDoc;
  browser::CMainFrame other(otherDoc);
  other.SetPrompter(std::make_unique<ScriptedPrompter>());
  other.show();
  auto mime = Drag({"maps"});
  QWidget* vp = other.TreeView()->viewport();
  DropOn(vp, QPoint(vp->width() / 2, vp->height() - 5), mime.get());
  EXPECT_EQ(Load(otherDoc.Root().FindByPath("maps/sub/deep.txt")), ToBytes("deep"));
  EXPECT_NE(doc.Root().FindChild("maps"), nullptr);  // still here
  EXPECT_TRUE(otherDoc.IsModified());

  // From another process the entries come as their transfer stream alone.
  QMimeData foreign;
  foreign.setData(browser::kPackObjectMime, mime->data(browser::kPackObjectMime));
  DropOn(vp, QPoint(vp->width() / 2, vp->height() - 5), &foreign);
  EXPECT_NE(otherDoc.Root().FindByPath("maps(2)/e1m1.bsp"), nullptr);
  otherDoc.SetModified(false);
}

}  // namespace
}  // namespace tarn::test
