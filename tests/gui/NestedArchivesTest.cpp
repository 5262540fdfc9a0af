// Archives inside the archive: gone into from the list and the tree, searched, edited, saved.
#include <QCheckBox>
#include <QLineEdit>

#include "GuiSupport.h"
#include "browser/PackModels.h"
#include "containers/WadFormat.h"

namespace tarn::test {
namespace {

Bytes GfxWad() {
  return BuildWad(ContainerFormat::Wad2,
                  {{"conchars", ToBytes("chars"), wad::kPicture}, {"colormap", ToBytes("colours"), wad::kPicture}});
}

class NestedArchives : public GuiTest {
 protected:
  // The lumps of gfx.wad as a fresh open of the file on disk finds them.
  std::vector<std::string> SavedLumps(const fs::path& pak) {
    CTarnDoc again;
    EXPECT_TRUE(again.Open(pak));
    CPackObject* holder = again.Root().FindByPath("gfx.wad");
    CPackObject* root = holder ? again.OpenInner(*holder, nullptr) : nullptr;
    std::vector<std::string> names;
    if (root)
      for (CPackObject* c : root->Children()) names.push_back(c->Name());
    return names;
  }
  // What the list shows, by path, in order of name.
  std::vector<std::string> ListedPaths() {
    std::vector<std::string> paths;
    auto* list = List()->ListModel();
    for (int r = 0; r < list->rowCount(); ++r)
      paths.push_back(list->data(list->index(r, 0), Qt::DisplayRole).toString().toStdString());
    std::sort(paths.begin(), paths.end());
    return paths;
  }
};

TEST_F(NestedArchives, WadInPakIsEditedSavedAndUndone) {
  const fs::path pak = OpenPak(PakBuilder().File("gfx.wad", GfxWad()).File("progs/player.mdl", "IDPO").Build());
  FocusList();
  SelectRows({"gfx.wad"});
  QTest::keyClick(List()->ActiveView(), Qt::Key_Return);
  QApplication::processEvents();
  CPackObject* holder = doc.Root().FindChild("gfx.wad");
  ASSERT_TRUE(doc.InnerRoot(*holder));
  EXPECT_EQ(List()->CurrentDirectory(), doc.InnerRoot(*holder));
  EXPECT_EQ(Tree()->SelectedDirectory(), doc.InnerRoot(*holder)) << "the tree follows into the archive";
  EXPECT_EQ(ListNames(), (std::vector<std::string>{"colormap.lmp", "conchars.lmp"}));

  SelectRows({"conchars.lmp"});
  QTest::keyClick(List()->ActiveView(), Qt::Key_Delete);
  EXPECT_TRUE(frame->isWindowModified());
  QTest::keyClick(frame.get(), Qt::Key_S, Qt::ControlModifier);
  QApplication::processEvents();
  EXPECT_FALSE(doc.IsModified()) << doc.LastError();
  EXPECT_EQ(SavedLumps(pak), (std::vector<std::string>{"colormap.lmp"}));

  QTest::keyClick(frame.get(), Qt::Key_Z, Qt::ControlModifier);
  QTest::keyClick(frame.get(), Qt::Key_S, Qt::ControlModifier);
  QApplication::processEvents();
  EXPECT_EQ(SavedLumps(pak), (std::vector<std::string>{"conchars.lmp", "colormap.lmp"}));

  // Up One Level leaves the archive for the directory holding its file.
  Action("actionUpOneLevel")->trigger();
  QApplication::processEvents();
  EXPECT_EQ(List()->CurrentDirectory(), &doc.Root());
}

TEST_F(NestedArchives, ADamagedArchiveInsideSaysSoAsWhenOpenedAlone) {
  Bytes wad = GfxWad();
  PutU32(wad, 8, static_cast<std::uint32_t>(wad.size() + 64));  // the directory past the end
  OpenPak(PakBuilder().File("gfx.wad", wad).File("progs/player.mdl", "IDPO").Build());
  const std::size_t before = prompter->shown.size();
  for (int time = 0; time < 2; ++time) {
    FocusList();
    SelectRows({"gfx.wad"});
    QTest::keyClick(List()->ActiveView(), Qt::Key_Return);
    QApplication::processEvents();
    EXPECT_TRUE(ListNames().empty());
    Action("actionUpOneLevel")->trigger();
    QApplication::processEvents();
  }
  // Told the first time it is gone into, not each time.
  ASSERT_EQ(prompter->shown.size(), before + 1);
  EXPECT_EQ(prompter->shown.back().caption, "Damaged archive");
  EXPECT_TRUE(prompter->shown.back().text.contains("The WAD's directory is damaged"))
      << prompter->shown.back().text.toStdString();
}

TEST_F(NestedArchives, TreeExpanderOpensAndTheWholeArchiveFilterSearchesInside) {
  const Bytes inner = PakBuilder().File("maps/e1m1.bsp", "map").File("readme.txt", "hi").Build();
  OpenPak(PakBuilder().File("mods/inner.pak", inner).File("e1m1.txt", "outer").Build());
  ShowDir("mods");
  CPackObject* holder = doc.Root().FindByPath("mods/inner.pak");
  const QModelIndex node = frame->findChild<browser::CPackTreeModel*>()->IndexOf(holder);
  ASSERT_TRUE(node.isValid()) << "an archive's file is a node of the tree before it is opened";
  Tree()->expand(node);
  QApplication::processEvents();
  QApplication::processEvents();
  CPackObject* root = doc.InnerRoot(*holder);
  ASSERT_TRUE(root);
  auto* model = frame->findChild<browser::CPackTreeModel*>();
  const QModelIndex opened = model->IndexOf(root);
  EXPECT_TRUE(Tree()->isExpanded(opened));
  ASSERT_EQ(model->rowCount(opened), 1);
  EXPECT_EQ(model->EntryOf(model->index(0, 0, opened))->Name(), "maps");
  EXPECT_EQ(model->data(opened, Qt::DisplayRole).toString(), "inner.pak");

  ShowDir("");
  FocusList();
  List()->FilterEdit()->setFocus();
  QTest::keyClicks(List()->FilterEdit(), "e1m1*");
  QTest::mouseClick(List()->WholeArchiveBox(), Qt::LeftButton);
  EXPECT_EQ(ListedPaths(), (std::vector<std::string>{"e1m1.txt", "mods/inner.pak/maps/e1m1.bsp"}));
}

// The search reaches into archives not yet gone into, and into theirs; one that cannot be read
// is passed over, and nothing counts as a change.
TEST_F(NestedArchives, WholeArchiveFilterOpensTheArchivesItSearches) {
  const Bytes inner = PakBuilder().File("gfx.wad", GfxWad()).Build();
  OpenPak(PakBuilder()
              .File("gfx.wad", GfxWad())
              .File("mods/inner.pak", inner)
              .File("broken.wad", "WAD2 not really")
              .Build());
  FocusList();
  QTest::mouseClick(List()->WholeArchiveBox(), Qt::LeftButton);
  List()->FilterEdit()->setFocus();
  QTest::keyClicks(List()->FilterEdit(), "conch");
  QApplication::processEvents();
  EXPECT_EQ(List()->FilterEdit()->text(), "conch");
  EXPECT_EQ(ListedPaths(), (std::vector<std::string>{"gfx.wad/conchars.lmp", "mods/inner.pak/gfx.wad/conchars.lmp"}));
  EXPECT_FALSE(doc.IsModified());
  EXPECT_FALSE(frame->isWindowModified());
}

}  // namespace
}  // namespace tarn::test
