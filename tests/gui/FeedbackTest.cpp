// What the window says and shows after a change: an import is selected where it went, a move
// and a paste are told in the status bar, an archive inside is previewed as its files.
#include <QStatusBar>
#include <QTreeWidget>

#include "GuiSupport.h"
#include "browser/PreviewPane.h"
#include "containers/WadFormat.h"
#include "dialogs/Settings.h"
#include "viewers/Previews.h"

namespace tarn::test {
namespace {

class Feedback : public GuiTest {
 protected:
  void SetUp() override {
    dialogs::WriteProfileInt("Startup", "PreviewPane", 0);
    GuiTest::SetUp();
    OpenPak(PakBuilder()
                .File("autoexec.cfg", "bind x")
                .File("maps/e1m1.bsp", "map one")
                .File("mods/inner.pak", PakBuilder().File("maps/e2m1.bsp", "m").File("readme.txt", "hi").Build())
                .File("gfx.wad", BuildWad(ContainerFormat::Wad2, {{"conchars", ToBytes("chars"), wad::kPicture}}))
                .Build());
    List()->SetViewType(browser::CPackListView::kDetails);
  }
  QString Said() { return frame->statusBar()->currentMessage(); }
  std::vector<std::string> Selected() {
    std::vector<std::string> names;
    for (CPackObject* e : List()->SelectedEntries()) names.push_back(e->Name());
    return names;
  }
};

TEST_F(Feedback, AnImportIsShownSelectedWhereItWent) {
  WriteFile(dir / "new.cfg", "echo");
  ShowDir("");
  FocusList();
  SelectRows({"autoexec.cfg"});
  frame->ImportPaths(doc.Root().FindChild("maps"), {QString::fromStdString((dir / "new.cfg").string())});
  EXPECT_EQ(List()->CurrentDirectory(), doc.Root().FindChild("maps"));
  EXPECT_EQ(Selected(), std::vector<std::string>{"new.cfg"});
  EXPECT_TRUE(Said().contains("Import \"new.cfg\" into \"maps\"")) << Said().toStdString();
}

TEST_F(Feedback, AMoveAndAPasteSayWhatTheyDid) {
  ShowDir("");
  FocusList();
  std::unique_ptr<QMimeData> mime(frame->DragData({doc.Root().FindChild("autoexec.cfg")}));
  const QModelIndex maps = Tree()->TreeModel()->IndexOf(doc.Root().FindChild("maps"));
  DropOn(Tree()->viewport(), Tree()->visualRect(maps).center(), mime.get());
  ASSERT_NE(doc.Root().FindByPath("maps/autoexec.cfg"), nullptr);
  EXPECT_TRUE(Said().startsWith("Moved \"autoexec.cfg\" to \"maps\".")) << Said().toStdString();

  ShowDir("maps");
  FocusList();
  SelectRows({"e1m1.bsp", "autoexec.cfg"});
  Action("actionCopy")->trigger();
  ShowDir("");
  FocusList();
  List()->SelectEntries({});
  Action("actionPaste")->trigger();
  EXPECT_EQ(Said(), "Pasted 2 entries into the archive's root.");
  EXPECT_EQ(Selected(), (std::vector<std::string>{"autoexec.cfg", "e1m1.bsp"}));
}

TEST_F(Feedback, AnArchiveInsideIsPreviewedAsItsFiles) {
  QTest::keyClick(frame.get(), Qt::Key_F3);
  ShowDir("mods");
  FocusList();
  SelectRows({"inner.pak"});
  QApplication::processEvents();
  viewers::CPreview* preview = frame->PreviewPane()->Preview();
  ASSERT_NE(preview, nullptr);
  EXPECT_EQ(preview->objectName(), "previewArchive");
  auto* files = preview->findChild<QTreeWidget*>("previewArchiveList");
  ASSERT_NE(files, nullptr);
  ASSERT_EQ(files->topLevelItemCount(), 2);
  QStringList paths;
  for (int i = 0; i < 2; ++i) paths << files->topLevelItem(i)->text(0);
  paths.sort();
  EXPECT_EQ(paths, (QStringList{"maps/e2m1.bsp", "readme.txt"}));
  EXPECT_EQ(doc.InnerRoot(*doc.Root().FindByPath("mods/inner.pak")), nullptr) << "a glance opens nothing";

  // A WAD has its expander before it is opened, as every archive inside has; it opens it.
  CPackObject* wad = doc.Root().FindChild("gfx.wad");
  auto* model = Tree()->TreeModel();
  const QModelIndex node = model->IndexOf(wad);
  ASSERT_TRUE(node.isValid());
  EXPECT_TRUE(model->hasChildren(node));
  Tree()->expand(node);
  QApplication::processEvents();
  QApplication::processEvents();
  ASSERT_NE(doc.InnerRoot(*wad), nullptr);
  EXPECT_EQ(List()->CurrentDirectory(), doc.InnerRoot(*wad));
}

}  // namespace
}  // namespace tarn::test
