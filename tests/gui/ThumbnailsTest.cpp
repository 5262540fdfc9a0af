// Thumbnails in the icon views: made for the entries in sight, the kind's icon for the rest and
// for what has no picture, gone with a change of the tree, and off by the View menu.
#include <QListView>
#include <QScrollBar>

#include "BspBuilder.h"
#include "GuiSupport.h"
#include "browser/Thumbnails.h"
#include "dialogs/Settings.h"

namespace tarn::test {
namespace {

Bytes Lmp(std::uint8_t index) {
  Bytes b;
  PutU32(b, 0, 2);
  PutU32(b, 4, 2);
  b.insert(b.end(), 4, index);
  return b;
}

TEST_F(GuiTest, ThumbnailsShowTheEntriesInSightAndFollowTheTree) {
  dialogs::WriteProfileInt("Startup", "Thumbnails", 1);
  PakBuilder pak;
  pak.File("readme.txt", "text");
  for (int i = 0; i < 400; ++i)
    pak.File("gfx/pic" + std::to_string(1000 + i) + ".lmp", Lmp(static_cast<std::uint8_t>(i)));
  OpenPak(pak.Build());
  frame->resize(640, 480);
  Action("actionLargeIcons")->trigger();
  ShowDir("gfx");
  List()->ActiveView()->viewport()->repaint();
  browser::CThumbnails* thumbs = List()->Thumbnails();
  thumbs->WaitForPending();
  CPackObject* first = doc.Root().FindByPath("gfx/pic1000.lmp");
  CPackObject* last = doc.Root().FindByPath("gfx/pic1390.lmp");
  EXPECT_TRUE(thumbs->Made(first));
  CPackObject* middle = doc.Root().FindByPath("gfx/pic1200.lmp");
  EXPECT_FALSE(thumbs->Made(middle));  // out of sight: never read
  auto* model = List()->ListModel();
  const QVariant icon = model->data(model->index(model->RowOf(first), 0), Qt::DecorationRole);
  ASSERT_EQ(icon.typeId(), QMetaType::QPixmap);
  const QImage shown = icon.value<QPixmap>().toImage();
  EXPECT_EQ(shown.size(), QSize(64, 64));
  const auto quake = QuakePalette().colors[0];
  EXPECT_EQ(shown.pixelColor(32, 32), QColor(quake.r, quake.g, quake.b));

  // Scrolled to the end, the last ones are made.
  auto* view = List()->ActiveView();
  view->scrollToBottom();
  view->viewport()->repaint();
  thumbs->WaitForPending();
  EXPECT_TRUE(thumbs->Made(last));

  // A change of the tree forgets them; off, the kind's icon is back, and a text keeps its icon.
  ShowDir("");
  FocusList();
  SelectRows({"readme.txt"});
  Action("actionDuplicate")->trigger();
  EXPECT_FALSE(thumbs->Made(first));
  Action("actionThumbnails")->setChecked(false);
  EXPECT_EQ(dialogs::ProfileInt("Startup", "Thumbnails", 1), 0);
  ShowDir("gfx");
  EXPECT_EQ(model->data(model->index(model->RowOf(first), 0), Qt::DecorationRole).typeId(), QMetaType::QIcon);
  dialogs::WriteProfileInt("Startup", "Thumbnails", 1);
}

TEST_F(GuiTest, MapThumbnailsAreTheViewFromTheStartWithTheArchivesTextures) {
  dialogs::WriteProfileInt("Startup", "Thumbnails", 1);
  // A Quake II map whose floor's WAL is in the archive: the worker never reads the tree.
  Bytes wal(100 + 16 * 16, 40);
  std::fill_n(wal.begin(), 100, 0);
  PutU32(wal, 32, 16), PutU32(wal, 36, 16), PutU32(wal, 40, 100);
  // The start a little way off the floor's edge, looking along it.
  BspBuilder q2 = LitTiles(BspFormat::Quake2);
  q2.entities =
      "{\n\"classname\" \"worldspawn\"\n}\n{\n\"classname\" \"info_player_start\"\n"
      "\"origin\" \"96 -100 24\"\n\"angle\" \"90\"\n}\n";
  OpenPak(PakBuilder()
              .File("maps/q2.bsp", q2.Build())
              .File("maps/bad.bsp", "not a map")
              .File("textures/e1u1/floor.wal", wal)
              .Build());
  frame->resize(640, 480);
  Action("actionLargeIcons")->trigger();
  ShowDir("maps");
  List()->ActiveView()->viewport()->repaint();
  browser::CThumbnails* thumbs = List()->Thumbnails();
  thumbs->WaitForPending();
  CPackObject* map = doc.Root().FindByPath("maps/q2.bsp");
  ASSERT_TRUE(thumbs->Made(map));
  EXPECT_FALSE(thumbs->Made(doc.Root().FindByPath("maps/bad.bsp")));
  auto* model = List()->ListModel();
  const QImage shown = model->data(model->index(model->RowOf(map), 0), Qt::DecorationRole).value<QPixmap>().toImage();
  ASSERT_EQ(shown.size(), QSize(64, 64));
  // The floor below the middle, the WAL's colour in light 200; the sky above it black.
  Palette quake2;
  LoadPalette(kQuake2PaletteId, quake2);
  EXPECT_EQ(shown.pixelColor(32, 20), QColor(0, 0, 0));
  const QColor floor = shown.pixelColor(32, 42);
  EXPECT_NEAR(floor.red(), quake2.colors[40].r * 200 / 255, 3);
  EXPECT_NEAR(floor.green(), quake2.colors[40].g * 200 / 255, 3);
  EXPECT_NEAR(floor.blue(), quake2.colors[40].b * 200 / 255, 3);
}

// A map whose floors each ask for a light page of their own gets its picture from bounded
// light pages; one whose walls pile up across the view past what a picture may take keeps its
// icon rather than show a picture cut short.
TEST_F(GuiTest, MapThumbnailsOfHostileMapsAreBoundedOrKeepTheIcon) {
  dialogs::WriteProfileInt("Startup", "Thumbnails", 1);
  OpenPak(PakBuilder()
              .File("maps/light.bsp", SharedLightFloors(300).Build())
              .File("maps/piled.bsp", PiledWalls(600).Build())
              .File("maps/few.bsp", PiledWalls(3).Build())
              .Build());
  frame->resize(640, 480);
  Action("actionLargeIcons")->trigger();
  ShowDir("maps");
  List()->ActiveView()->viewport()->repaint();
  browser::CThumbnails* thumbs = List()->Thumbnails();
  thumbs->WaitForPending();
  EXPECT_TRUE(thumbs->Made(doc.Root().FindByPath("maps/light.bsp")));
  EXPECT_TRUE(thumbs->Made(doc.Root().FindByPath("maps/few.bsp")));
  EXPECT_FALSE(thumbs->Made(doc.Root().FindByPath("maps/piled.bsp")));
  EXPECT_TRUE(frame->isVisible());
}

}  // namespace
}  // namespace tarn::test
