#include <QDockWidget>
#include <QLabel>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTimer>
#include <QTreeWidget>
#include <QWindow>
#include <iostream>

#include "AllocationLimit.h"
#include "BspBuilder.h"
#include "ModelBuilders.h"
#include "Ssim.h"
#include "browser/PreviewPane.h"
#include "gui/GuiSupport.h"
#include "maps/MapEntities.h"
#include "maps/MapRender.h"
#include "maps/MapTextures.h"
#include "viewers/Previews.h"
#include "viewers/maps/MapFrame.h"

namespace tarn::test {
namespace {

using viewers::CMapFrame;
using viewers::CMapView;

CMapFrame* ShownMapViewer() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* v = qobject_cast<CMapFrame*>(w); v && v->isVisible()) return v;
  return nullptr;
}

// Pixels a face was drawn on: neither black nor the dark grey Quakespasm's look clears to.
int LitPixels(const QImage& image) {
  int n = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      const QColor c(image.pixel(x, y));
      n += c.value() > 8 && c != QColor(31, 31, 31);
    }
  return n;
}

// A floor of 8 × 8 tiles in two textures, lit in stripes, with a player start, a light and
// the entities given.
Bytes FloorMap(BspFormat format, const std::string& more = {}) {
  BspBuilder b(format);
  b.miptex = {BspMiptex("floor", 16, 16, 5), BspMiptex("{fence", 16, 16, 255)};
  b.textureNames = {"e1u1/floor", "e1u1/gone"};
  const int sample = SampleBytes(format);
  for (int i = 0; i < 64; ++i) {
    b.lighting.insert(b.lighting.end(), static_cast<std::size_t>(25 * sample),
                      static_cast<std::uint8_t>(60 + (i % 8) * 20));
    b.Tile(static_cast<float>(i % 8) * 64, static_cast<float>(i / 8) * 64, (i / 8) % 7 == 3 ? 1 : 0, 25 * sample * i);
  }
  b.entities += "{\n\"classname\" \"light\"\n\"origin\" \"256 256 96\"\n\"targetname\" \"lamp\"\n}\n" + more;
  return b.Build();
}

// A Quake II texture: the header, then the full-size level only.
Bytes Wal(int side, std::uint8_t fill) {
  Bytes b(100, 0);
  PutU32(b, 32, static_cast<std::uint32_t>(side));
  PutU32(b, 36, static_cast<std::uint32_t>(side));
  PutU32(b, 40, 100);
  b.resize(100 + static_cast<std::size_t>(side * side), fill);
  return b;
}

class MapViewer : public GuiTest {
 protected:
  void TearDown() override {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* v = qobject_cast<CMapFrame*>(w)) v->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    GuiTest::TearDown();
  }
  CMapFrame* Open(const std::string& name) {
    ShowDir("maps");
    FocusList();
    SelectRows({name});
    Action("actionView")->trigger();
    QApplication::processEvents();
    return ShownMapViewer();
  }
};

TEST_F(MapViewer, OpensAtTheStartDrawsAndFliesByKeys) {
  OpenPak(PakBuilder().File("maps/floor.bsp", FloorMap(BspFormat::Quake)).Build());
  CMapFrame* v = Open("floor.bsp");
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->objectName(), "mapViewer");
  ASSERT_TRUE(v->Loaded());
  CMapView* view = v->View();
  EXPECT_EQ(view->Position(), QVector3D(32, 32, 46));  // the start, at eye height
  EXPECT_FLOAT_EQ(view->Yaw(), 90);
  EXPECT_EQ(view->Mesh().drawnFaces, 64u);
  EXPECT_EQ(view->Mesh().groups.size(), 2u);
  EXPECT_TRUE(view->MissingTextures().empty());
  ASSERT_TRUE(QTest::qWaitForWindowExposed(v));

  // Above the floor looking down along it.
  view->SetCamera({256, -200, 300}, 90, 45);
  const QImage before = view->grabFramebuffer();
  EXPECT_GT(LitPixels(before), before.width() * before.height() / 10);
  ASSERT_TRUE(QTest::qWaitForWindowActive(v));
  // W holds the camera moving; how far it gets is the clock's business, so the flight itself is
  // asked of the camera.
  QTest::keyPress(view, Qt::Key_W);
  EXPECT_TRUE(view->Moving());
  view->Fly({1, 0, 0}, 0.15);
  QTest::keyRelease(view, Qt::Key_W);
  EXPECT_GT(view->Position().y(), -200);
  EXPECT_LT(view->Position().z(), 300);  // forward is where the camera looks
  const QImage after = view->grabFramebuffer();
  EXPECT_NE(before, after);
  EXPECT_FALSE(view->Moving());

  // The View menu's modes, by their keys.
  QTest::keyClick(view, Qt::Key_4);
  EXPECT_EQ(view->CurrentMode(), CMapView::Mode::Wireframe);
  const QImage wire = view->grabFramebuffer();
  EXPECT_NE(wire, after);
  EXPECT_GT(LitPixels(wire), 0);
  QTest::keyClick(view, Qt::Key_2);
  EXPECT_EQ(view->CurrentMode(), CMapView::Mode::Lightmaps);
  EXPECT_NE(view->grabFramebuffer(), wire);
}

TEST_F(MapViewer, ThePreviewPaneDrawsTheMapFromItsStartWithItsFacts) {
  OpenPak(PakBuilder().File("maps/floor.bsp", FloorMap(BspFormat::Quake)).File("maps/bad.bsp", "IBSP").Build());
  Action("actionPreviewPane")->setChecked(true);
  ShowDir("maps");
  FocusList();
  SelectRows({"floor.bsp"});
  ASSERT_TRUE(QTest::qWaitFor([&] { return frame->PreviewPane()->Preview()->objectName() == "previewMap"; }, 5000));
  auto* preview = qobject_cast<viewers::CMapPreview*>(frame->PreviewPane()->Preview());
  ASSERT_NE(preview, nullptr);
  ASSERT_NE(preview->View(), nullptr);
  EXPECT_EQ(preview->View()->Position(), QVector3D(32, 32, 46));
  ASSERT_TRUE(QTest::qWaitFor([&] { return preview->View()->isVisible(); }, 5000));
  preview->View()->SetCamera({256, -200, 300}, 90, 45);
  EXPECT_GT(LitPixels(preview->View()->grabFramebuffer()), 0);
  const QString facts = frame->PreviewPane()->Properties()->text();
  EXPECT_NE(facts.indexOf("Faces: "), -1) << facts.toStdString();
  EXPECT_NE(facts.indexOf("Entities: "), -1);
  // One that cannot be read says why.
  SelectRows({"bad.bsp"});
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return frame->PreviewPane()->Preview()->findChild<QLabel*>("previewProblem"); }, 5000));
  Action("actionPreviewPane")->setChecked(false);
}

TEST_F(MapViewer, ChoosingAnEntityFliesToItAndMarksIt) {
  OpenPak(PakBuilder().File("maps/floor.bsp", FloorMap(BspFormat::Quake)).Build());
  CMapFrame* v = Open("floor.bsp");
  ASSERT_NE(v, nullptr);
  QTreeWidget* list = v->findChild<QTreeWidget*>("entityList");
  ASSERT_NE(list, nullptr);
  ASSERT_NE(v->findChild<QDockWidget*>("mapEntities"), nullptr);
  ASSERT_EQ(list->topLevelItemCount(), 3);
  EXPECT_EQ(list->topLevelItem(2)->text(0), "light");
  EXPECT_EQ(list->topLevelItem(2)->text(1), "256 256 96");
  EXPECT_EQ(list->topLevelItem(2)->text(2), "lamp");
  ASSERT_TRUE(QTest::qWaitForWindowExposed(v));
  const QImage before = v->View()->grabFramebuffer();
  list->setCurrentItem(list->topLevelItem(2));
  EXPECT_TRUE(v->View()->Marked());
  EXPECT_LT(v->View()->Position().distanceToPoint({256, 256, 96}), 200);
  EXPECT_NE(v->View()->grabFramebuffer(), before);
}

// A room 128 units square and 96 high with the player start and a light in it, every face
// wound clockwise seen from inside, as compilers wind a level's walls.
Bytes RoomMap() {
  BspBuilder b(BspFormat::Quake);
  b.miptex = {BspMiptex("floor", 16, 16, 5)};
  const QVector3D inside(64, 64, 48);
  auto face = [&](std::array<std::array<float, 3>, 4> c) {
    // The games' front of a face wound a, b, c is (c - a) x (b - a).
    const QVector3D a(c[0][0], c[0][1], c[0][2]), b1(c[1][0], c[1][1], c[1][2]), c1(c[2][0], c[2][1], c[2][2]);
    if (QVector3D::dotProduct(QVector3D::crossProduct(c1 - a, b1 - a), inside - a) < 0)
      std::reverse(c.begin(), c.end());
    b.Quad(c, 0, -1);
  };
  for (float z : {0.0f, 96.0f}) face({{{0, 0, z}, {0, 128, z}, {128, 128, z}, {128, 0, z}}});
  for (float x : {0.0f, 128.0f}) face({{{x, 0, 0}, {x, 128, 0}, {x, 128, 96}, {x, 0, 96}}});
  for (float y : {0.0f, 128.0f}) face({{{0, y, 0}, {128, y, 0}, {128, y, 96}, {0, y, 96}}});
  b.entities =
      "{\n\"classname\" \"worldspawn\"\n}\n{\n\"classname\" \"info_player_start\"\n\"origin\" \"64 32 24\"\n"
      "\"angle\" \"90\"\n}\n{\n\"classname\" \"light\"\n\"origin\" \"64 100 64\"\n}\n";
  return b.Build();
}

// Choosing an entity looks at it from within its room: a camera backed off by a fixed distance
// would stand behind the wall and see the wall's back (nothing, in a one-sided level).
TEST_F(MapViewer, ChosenEntitiesAreSeenFromInsideTheirRoom) {
  OpenPak(PakBuilder().File("maps/room.bsp", RoomMap()).Build());
  CMapFrame* v = Open("room.bsp");
  ASSERT_NE(v, nullptr);
  QTreeWidget* list = v->findChild<QTreeWidget*>("entityList");
  ASSERT_EQ(list->topLevelItemCount(), 3);
  for (int row : {1, 2}) {
    SCOPED_TRACE(row);
    for (float yaw : {0.0f, 90.0f, 225.0f}) {
      v->View()->SetCamera({64, 64, 48}, yaw, 0);
      list->setCurrentItem(nullptr);
      list->setCurrentItem(list->topLevelItem(row));
      const QVector3D at = v->View()->Position();
      EXPECT_TRUE(at.x() > 0 && at.x() < 128 && at.y() > 0 && at.y() < 128 && at.z() > 0 && at.z() < 96)
          << yaw << ": " << at.x() << " " << at.y() << " " << at.z();
    }
  }
  // Where there is room the camera still backs off to see the whole box.
  v->View()->SetCamera({64, 64, 48}, 90, 0);
  list->setCurrentItem(nullptr);
  list->setCurrentItem(list->topLevelItem(2));
  EXPECT_GT(v->View()->Position().distanceToPoint({64, 100, 64}), 40);
}

// The engines' default keys: the arrows Up and Down move, Left and Right turn; A and D step
// aside. How far a key held takes the camera is the clock's business, so the step itself is
// asked of the camera while the keys are held.
TEST_F(MapViewer, ArrowsTurnAndLettersStepAside) {
  OpenPak(PakBuilder().File("maps/floor.bsp", FloorMap(BspFormat::Quake)).Build());
  CMapFrame* v = Open("floor.bsp");
  ASSERT_NE(v, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(v));
  ASSERT_TRUE(QTest::qWaitForWindowActive(v));
  CMapView* view = v->View();
  view->setFocus();
  view->SetCamera({256, 256, 100}, 90, 0);

  QTest::keyPress(view, Qt::Key_Left);
  const QVector3D before = view->Position();
  const float yaw = view->Yaw();
  view->Step(0.5);
  EXPECT_NEAR(view->Yaw() - yaw, CMapView::kTurnSpeed / 2, 0.01);
  EXPECT_EQ(view->Position(), before);  // turning does not move
  QTest::keyRelease(view, Qt::Key_Left);
  QTest::keyPress(view, Qt::Key_Right);
  const float turned = view->Yaw();
  view->Step(0.25);
  EXPECT_NEAR(view->Yaw() - turned, -CMapView::kTurnSpeed / 4, 0.01);
  QTest::keyRelease(view, Qt::Key_Right);

  // Facing +y, A steps to the left (-x) and D to the right, the heading kept.
  view->SetCamera({256, 256, 100}, 90, 0);
  for (const auto& [key, sign] : {std::pair{Qt::Key_A, -1.0f}, {Qt::Key_D, 1.0f}}) {
    QTest::keyPress(view, key);
    const QVector3D from = view->Position();
    view->Step(0.5);
    EXPECT_GT((view->Position().x() - from.x()) * sign, 100) << key;
    EXPECT_NEAR(view->Position().y(), from.y(), 0.01) << key;
    EXPECT_FLOAT_EQ(view->Yaw(), 90) << key;
    QTest::keyRelease(view, key);
  }
  QTest::keyPress(view, Qt::Key_Up);
  const QVector3D from = view->Position();
  view->Step(0.5);
  EXPECT_GT(view->Position().y() - from.y(), 100);
  QTest::keyRelease(view, Qt::Key_Up);
  EXPECT_FALSE(view->Moving());
}

// The view draws into a window of its own (no composing of the whole window for each frame):
// the keys and the mouse that reach that window move the camera, and it shows frames.
TEST_F(MapViewer, TheViewsOwnWindowTakesKeysAndMouse) {
  OpenPak(PakBuilder().File("maps/floor.bsp", FloorMap(BspFormat::Quake)).Build());
  CMapFrame* v = Open("floor.bsp");
  ASSERT_NE(v, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(v));
  CMapView* view = v->View();
  QWindow* surface = view->Surface();
  ASSERT_NE(surface, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(surface));
  const int drawn = view->FramesDrawn();
  view->SetCamera({256, 256, 100}, 90, 0);
  ASSERT_TRUE(QTest::qWaitFor([&] { return view->FramesDrawn() > drawn; }, 10000));

  QTest::keyPress(surface, Qt::Key_Left);
  EXPECT_TRUE(view->Moving());
  view->Step(0.5);
  QTest::keyRelease(surface, Qt::Key_Left);
  EXPECT_FALSE(view->Moving());
  EXPECT_GT(view->Yaw(), 90 + CMapView::kTurnSpeed / 2 - 0.01);

  // The right button held looks about.
  const float yaw = view->Yaw();
  // Sent straight to the window: the test's own input is not for its pointer's whereabouts.
  const auto send = [&](QEvent::Type type, QPointF at, Qt::MouseButtons held) {
    QMouseEvent e(type, at, surface->mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : Qt::RightButton, held,
                  Qt::NoModifier);
    QCoreApplication::sendEvent(surface, &e);
  };
  send(QEvent::MouseButtonPress, {100, 100}, Qt::RightButton);
  send(QEvent::MouseMove, {150, 100}, Qt::RightButton);
  send(QEvent::MouseButtonRelease, {150, 100}, Qt::NoButton);
  EXPECT_LT(view->Yaw(), yaw);
}

// The frame time shows while the camera moves and stays a moment after it stops.
TEST_F(MapViewer, FrameTimeShowsWhileMovingAndAMomentAfter) {
  OpenPak(PakBuilder().File("maps/floor.bsp", FloorMap(BspFormat::Quake)).Build());
  CMapFrame* v = Open("floor.bsp");
  ASSERT_NE(v, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(v));
  ASSERT_TRUE(QTest::qWaitForWindowActive(v));
  auto* label = v->findChild<QLabel*>("frameTime");
  auto* hold = v->findChild<QTimer*>("frameTimeHold");
  ASSERT_NE(label, nullptr);
  ASSERT_NE(hold, nullptr);
  v->View()->setFocus();
  QTest::keyPress(v->View(), Qt::Key_W);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !label->text().isEmpty(); }, 10000));
  EXPECT_TRUE(label->text().endsWith(" ms a frame")) << label->text().toStdString();
  QTest::keyRelease(v->View(), Qt::Key_W);
  EXPECT_FALSE(label->text().isEmpty());
  EXPECT_TRUE(hold->isActive());
  // The moment over (its timer's end, not waited for), the figure goes.
  QMetaObject::invokeMethod(hold, "timeout");
  EXPECT_TRUE(label->text().isEmpty());
}

// A Quake model of one upright triangle 64 units wide across its origin, facing along y, its
// skin all palette colour 208 (pure blue).
Bytes BlueTriangleMdl() {
  Bytes b = Mdl({"stand"});
  for (int i = 0; i < 3; ++i) PutF32(b, 8 + 4 * i, 1.0f), PutF32(b, 20 + 4 * i, -32.0f);
  std::fill(b.begin() + 88, b.begin() + 96, 208);
  const std::uint8_t corners[3][3] = {{0, 32, 8}, {64, 32, 8}, {32, 32, 64}};
  for (std::size_t v = 0; v < 3; ++v) std::copy(corners[v], corners[v] + 3, b.end() - 12 + 4 * static_cast<long>(v));
  return b;
}

int BluePixels(const QImage& image, const QRect& area) {
  int n = 0;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x) {
      const QColor c(image.pixel(x, y));
      n += c.blue() > 200 && c.red() < 60 && c.green() < 60;
    }
  return n;
}

// A level is drawn one-sided, as the engines draw it: from under its floor nothing shows. A map
// with nowhere to start is an object, and shows from either side.
TEST_F(MapViewer, LevelsAreOneSidedAndOtherMapsTwoSided) {
  Bytes object;
  ASSERT_TRUE(SetEntityText(FloorMap(BspFormat::Quake), "{\n\"classname\" \"worldspawn\"\n}\n", object, nullptr));
  OpenPak(PakBuilder().File("maps/level.bsp", FloorMap(BspFormat::Quake)).File("maps/object.bsp", object).Build());
  for (const auto& [name, seen] : {std::pair{"level.bsp", false}, {"object.bsp", true}}) {
    CMapFrame* v = Open(name);
    ASSERT_NE(v, nullptr) << name;
    ASSERT_TRUE(QTest::qWaitForWindowExposed(v));
    CMapView* view = v->View();
    view->SetCamera({256, -200, -300}, 90, -45);  // below, looking up at it
    const QImage below = view->grabFramebuffer();
    EXPECT_EQ(LitPixels(below) > below.width() * below.height() / 10, seen) << name;
    view->SetCamera({256, -200, 300}, 90, 45);
    const QImage above = view->grabFramebuffer();
    EXPECT_GT(LitPixels(above), above.width() * above.height() / 10) << name;
    v->close();
  }
}

// A monster's class finds its model in the archive and draws it where the entity stands; a
// model the archive lacks leaves the box alone.
TEST_F(MapViewer, ChosenEntitiesAreDrawnWithTheirModels) {
  OpenPak(PakBuilder()
              .File("maps/floor.bsp", FloorMap(BspFormat::Quake,
                                               "{\n\"classname\" \"monster_ogre\"\n\"origin\" \"256 256 40\"\n}\n"
                                               "{\n\"classname\" \"misc_thing\"\n\"model\" \"progs/gone.mdl\"\n"
                                               "\"origin\" \"128 128 40\"\n}\n"))
              .File("progs/ogre.mdl", BlueTriangleMdl())
              .Build());
  CMapFrame* v = Open("floor.bsp");
  ASSERT_NE(v, nullptr);
  auto* list = v->findChild<QTreeWidget*>("entityList");
  ASSERT_EQ(list->topLevelItemCount(), 5);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(v));
  CMapView* view = v->View();
  const QImage before = view->grabFramebuffer();
  const QRect centre(before.width() / 2 - 10, before.height() / 2 - 10, 20, 20);
  EXPECT_EQ(BluePixels(before, centre), 0);
  list->setCurrentItem(list->topLevelItem(3));
  EXPECT_TRUE(view->Marked());
  EXPECT_TRUE(view->MarkedWithModel());
  EXPECT_GT(BluePixels(view->grabFramebuffer(), centre), 200);

  list->setCurrentItem(list->topLevelItem(4));
  EXPECT_TRUE(view->Marked());
  EXPECT_FALSE(view->MarkedWithModel());
  EXPECT_TRUE(v->statusBar()->currentMessage().contains("progs/gone.mdl"));
  const QImage gone = view->grabFramebuffer();
  EXPECT_EQ(BluePixels(gone, gone.rect()), 0);
}

// Typed line by line: QTest types no "\n".
void TypeLines(QWidget* widget, const QStringList& lines) {
  for (const QString& line : lines) {
    QTest::keyClicks(widget, line);
    QTest::keyClick(widget, Qt::Key_Return);
  }
}

// Every lump but the entities' byte for byte, and the entity text, of a map after an edit.
void ExpectOnlyEntitiesChanged(const Bytes& before, const Bytes& after, const std::string& text) {
  BspHeader a, b;
  ASSERT_TRUE(ReadBspHeader(before, a, nullptr));
  ASSERT_TRUE(ReadBspHeader(after, b, nullptr));
  const auto entities = static_cast<std::size_t>(a.Index().entities);
  for (std::size_t i = 0; i < a.lumps.size(); ++i) {
    if (i == entities) continue;
    ASSERT_EQ(a.lumps[i].length, b.lumps[i].length) << i;
    EXPECT_TRUE(std::equal(before.begin() + a.lumps[i].offset, before.begin() + a.lumps[i].offset + a.lumps[i].length,
                           after.begin() + b.lumps[i].offset))
        << i;
  }
  std::string read;
  ASSERT_TRUE(ReadEntityText(after, read, nullptr));
  EXPECT_EQ(read, text);
}

// The entity text typed into the map window: a broken edit refused with nothing changed, a good
// one saved into the map as one undoable change, the view reloaded where it looked; the .ent
// written beside the map and read back.
TEST_F(MapViewer, EntityTextIsEditedCheckedSavedAndExported) {
  OpenPak(PakBuilder()
              .File("maps/floor.bsp", FloorMap(BspFormat::Quake))
              .File("maps/hl.bsp", FloorMap(BspFormat::HalfLife))
              .File("maps/q2.bsp", FloorMap(BspFormat::Quake2))
              .Build());
  // Half-Life's textures may be left to its WADs; Quake II's are never in the map.
  for (const char* name : {"hl.bsp", "q2.bsp"}) {
    CMapFrame* other = Open(name);
    ASSERT_NE(other, nullptr) << name;
    const bool halfLife = name[0] == 'h';
    EXPECT_EQ(other->findChild<QAction*>("actionReplaceTexturesWad")->isEnabled(), halfLife) << name;
    EXPECT_EQ(other->findChild<QAction*>("actionUnembedTextures")->isEnabled(), halfLife) << name;
    other->close();
  }
  const Bytes original = Load(doc.Root().FindByPath("maps/floor.bsp"));
  CMapFrame* v = Open("floor.bsp");
  ASSERT_NE(v, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowActive(v));
  auto* edit = v->findChild<QPlainTextEdit*>("entityText");
  auto* list = v->findChild<QTreeWidget*>("entityList");
  ASSERT_NE(edit, nullptr);
  ASSERT_FALSE(edit->isReadOnly());
  std::string lump;
  ASSERT_TRUE(ReadEntityText(original, lump, nullptr));
  EXPECT_EQ(edit->toPlainText().toStdString(), lump);
  // Choosing the light puts the cursor on its opening brace, line 9.
  list->setCurrentItem(list->topLevelItem(2));
  EXPECT_EQ(edit->textCursor().blockNumber(), 8);

  // Digits go into the text, not to the view's mode keys.
  edit->setFocus();
  edit->moveCursor(QTextCursor::End);
  TypeLines(edit, {"{", "\"classname\" \"info_null\"", "\"origin\" \"1 2 3\""});
  EXPECT_EQ(v->View()->CurrentMode(), CMapView::Mode::Both);
  EXPECT_TRUE(v->windowTitle().endsWith("*"));
  QTest::keyClick(edit, Qt::Key_S, Qt::ControlModifier);
  ASSERT_EQ(prompter->shown.size(), 1u);
  EXPECT_TRUE(prompter->shown[0].text.contains("line 14: the entity opened here is never closed"))
      << prompter->shown[0].text.toStdString();
  EXPECT_EQ(edit->textCursor().blockNumber(), 13);
  EXPECT_EQ(Load(doc.Root().FindByPath("maps/floor.bsp")), original);

  edit->moveCursor(QTextCursor::End);
  TypeLines(edit, {"}"});
  v->View()->SetCamera({100, 50, 80}, 30, 10);
  QTest::keyClick(edit, Qt::Key_S, Qt::ControlModifier);
  EXPECT_EQ(prompter->shown.size(), 1u);
  const std::string text = edit->toPlainText().toStdString();
  const Bytes saved = Load(doc.Root().FindByPath("maps/floor.bsp"));
  ExpectOnlyEntitiesChanged(original, saved, text);
  EXPECT_FALSE(v->windowTitle().endsWith("*"));
  EXPECT_EQ(list->topLevelItemCount(), 4);
  EXPECT_EQ(list->topLevelItem(3)->text(0), "info_null");
  EXPECT_EQ(v->View()->Position(), QVector3D(100, 50, 80));
  EXPECT_EQ(Action("actionUndo")->text(), "&Undo Edit \"floor.bsp\"");

  // Exported beside the map, replacing what is there, each an undoable change.
  CPackObject* old = doc.Root().FindByPath("maps")->AddChild("floor.ent", false);
  old->SetSize(3);
  old->SetData(ToBytes("old"));
  v->findChild<QAction*>("actionExportEnt")->trigger();
  EXPECT_EQ(Load(doc.Root().FindByPath("maps/floor.ent")), ToBytes(text));
  EXPECT_EQ(Action("actionUndo")->text(), "&Undo Write \"floor.ent\"");
  Action("actionUndo")->trigger();
  EXPECT_EQ(Load(doc.Root().FindByPath("maps/floor.ent")), ToBytes("old"));
  Action("actionUndo")->trigger();
  EXPECT_EQ(Load(doc.Root().FindByPath("maps/floor.bsp")), original);

  // Import reads the .ent beside the map; without one, the file chosen.
  v->findChild<QAction*>("actionImportEnt")->trigger();
  EXPECT_EQ(edit->toPlainText(), "old");
  doc.Root().FindByPath("maps")->RemoveChild(doc.Root().FindByPath("maps/floor.ent"));
  WriteFile(dir / "mine.ent", "{\n\"classname\" \"worldspawn\"\n}\n");
  prompter->openFile = QString::fromStdString((dir / "mine.ent").string());
  v->findChild<QAction*>("actionImportEnt")->trigger();
  EXPECT_EQ(edit->toPlainText(), "{\n\"classname\" \"worldspawn\"\n}\n");
  // Closing with the text unsaved asks; Discard leaves the archive alone.
  prompter->answers = {QMessageBox::Discard};
  v->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(prompter->shown.size(), 2u);
  EXPECT_EQ(Load(doc.Root().FindByPath("maps/floor.bsp")), original);

  // Given no way to save, the text is only read.
  CMapFrame readOnly("floor", original, "maps/floor.bsp", {}, nullptr);
  EXPECT_TRUE(readOnly.EntityText()->isReadOnly());
  EXPECT_FALSE(readOnly.findChild<QAction*>("actionSaveEntities")->isEnabled());
}

// The window's Save keeps the rule of `ents --set`: a text whose first entity is not the world
// is refused, and the map stays as it was.
TEST_F(MapViewer, EntityTextWithoutTheWorldFirstIsRefused) {
  OpenPak(PakBuilder().File("maps/floor.bsp", FloorMap(BspFormat::Quake)).Build());
  const Bytes original = Load(doc.Root().FindByPath("maps/floor.bsp"));
  CMapFrame* v = Open("floor.bsp");
  ASSERT_NE(v, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowActive(v));
  auto* edit = v->findChild<QPlainTextEdit*>("entityText");
  ASSERT_NE(edit, nullptr);
  edit->setPlainText("{\n\"classname\" \"light\"\n}\n");
  QTest::keyClick(edit, Qt::Key_S, Qt::ControlModifier);
  ASSERT_EQ(prompter->shown.size(), 1u);
  EXPECT_TRUE(prompter->shown[0].text.contains("the first entity is the world"))
      << prompter->shown[0].text.toStdString();
  EXPECT_EQ(Load(doc.Root().FindByPath("maps/floor.bsp")), original);
  prompter->answers = {QMessageBox::Discard};
  v->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST_F(MapViewer, QuakeIITexturesFromTheArchiveAndRefusedMaps) {
  OpenPak(PakBuilder()
              .File("maps/q2.bsp", FloorMap(BspFormat::Quake2))
              .File("textures/e1u1/floor.wal", Wal(16, 40))
              .File("maps/broken.bsp", ToBytes("IBSP not really a map"))
              .Build());
  CMapFrame* v = Open("q2.bsp");
  ASSERT_NE(v, nullptr);
  ASSERT_TRUE(v->Loaded());
  EXPECT_EQ(v->View()->MissingTextures(), std::vector<std::string>{"e1u1/gone"});
  EXPECT_TRUE(v->InfoText().contains("e1u1/gone"));
  ASSERT_TRUE(QTest::qWaitForWindowExposed(v));
  EXPECT_GT(LitPixels(v->View()->grabFramebuffer()), 0);
  v->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

  v = Open("broken.bsp");
  ASSERT_NE(v, nullptr);
  EXPECT_FALSE(v->Loaded());
  EXPECT_TRUE(v->statusBar()->currentMessage().startsWith("The map cannot be shown: "));
  ASSERT_TRUE(QTest::qWaitForWindowExposed(v));
  EXPECT_EQ(LitPixels(v->View()->grabFramebuffer()), 0);
}

TEST_F(GuiTest, RealMapsOpenAndDraw) {
  TARN_REQUIRE_SAMPLES();
  for (const char* path :
       {"LibreQuake/lq1/maps/e2m2.bsp", "LibreQuake/lq1/maps/lq1m1.bsp", "qbsp/assets/example-quake2.bsp",
        "TrenchBroom/lib/TbMdlLib/test/fixture/mdl/LoadBspModel/hl.bsp"}) {
    SCOPED_TRACE(path);
    if (!fs::exists(SamplesDir() / path)) continue;
    const Bytes bytes = ReadFile(SamplesDir() / path);
    auto* v = new CMapFrame("map", bytes, "maps/map.bsp", {}, frame.get());
    v->show();
    EXPECT_TRUE(v->Loaded());
    EXPECT_GT(v->View()->Mesh().drawnFaces, 0u);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(v));
    EXPECT_GT(LitPixels(v->View()->grabFramebuffer()), 0);
    v->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
}

// Maps that ask too much of the window: floors each asking for a light page of its own, walls
// piled across the view, and a map whose light page there is not the memory for. The preview
// and the window show the first two within bounds, say why not for the last, and stay.
TEST_F(MapViewer, HostileMapsAreShownWithinBoundsOrRefusedAndTheWindowStays) {
  OpenPak(PakBuilder()
              .File("maps/light.bsp", SharedLightFloors(300).Build())
              .File("maps/piled.bsp", PiledWalls(300).Build())
              .Build());
  Action("actionPreviewPane")->setChecked(true);
  ShowDir("maps");
  FocusList();
  for (const auto& [name, faces] : {std::pair{"light.bsp", 300u}, {"piled.bsp", 300u}}) {
    SCOPED_TRACE(name);
    SelectRows({name});
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
          auto* p = qobject_cast<viewers::CMapPreview*>(frame->PreviewPane()->Preview());
          return p && p->View() && p->View()->Map().faces.size() == faces;
        },
        5000));
    auto* preview = qobject_cast<viewers::CMapPreview*>(frame->PreviewPane()->Preview());
    ASSERT_TRUE(QTest::qWaitFor([&] { return preview->View()->isVisible(); }, 5000));
    EXPECT_LE(preview->View()->Mesh().pages.size(), 1u);
    EXPECT_GT(LitPixels(preview->View()->grabFramebuffer()), 0);
  }
  Action("actionPreviewPane")->setChecked(false);

  CMapFrame* v = Open("light.bsp");
  ASSERT_NE(v, nullptr);
  EXPECT_TRUE(v->Loaded());
  EXPECT_EQ(v->View()->Mesh().oversizedLight, 300u);
  EXPECT_TRUE(v->InfoText().contains("300 face(s) drawn unlit")) << v->InfoText().toStdString();
  EXPECT_EQ(v->View()->Mesh().pages.size(), 1u);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(v));
  EXPECT_GT(LitPixels(v->View()->grabFramebuffer()), 0);
  v->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  v = Open("piled.bsp");
  ASSERT_NE(v, nullptr);
  EXPECT_TRUE(v->Loaded());
  ASSERT_TRUE(QTest::qWaitForWindowExposed(v));
  EXPECT_GT(LitPixels(v->View()->grabFramebuffer()), 0);
  v->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

  // Four lightmaps of 256 × 256 of their own take a page of 1024 × 1024, 3 MB; with no more
  // than a megabyte to be had at once, the map is refused, not half shown.
  BspBuilder big(BspFormat::Quake);
  big.miptex = {BspMiptex("floor", 16, 16, 5)};
  big.lighting = Bytes(4 * 256 * 256, 100);
  for (int i = 0; i < 4; ++i) big.Tile(static_cast<float>(i) * 4096, 0, 0, i * 256 * 256, 16 * 255);
  const Bytes bigMap = big.Build();
  {
    AllocationLimit limit(1 << 20);
    v = new CMapFrame("big", bigMap, "maps/big.bsp", {}, frame.get());
  }
  v->show();
  EXPECT_FALSE(v->Loaded());
  EXPECT_TRUE(v->View()->Mesh().empty);
  EXPECT_TRUE(v->statusBar()->currentMessage().contains("not enough memory"))
      << v->statusBar()->currentMessage().toStdString();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(v));
  v->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  std::unique_ptr<viewers::CMapPreview> preview;
  {
    AllocationLimit limit(1 << 20);
    preview = std::make_unique<viewers::CMapPreview>(bigMap, MapFileLookup(), nullptr);
  }
  EXPECT_EQ(preview->View(), nullptr);
  auto* problem = preview->findChild<QLabel*>("previewProblem");
  ASSERT_NE(problem, nullptr);
  EXPECT_TRUE(problem->text().contains("not enough memory"));
  // Given the memory, the same map shows.
  v = new CMapFrame("big", bigMap, "maps/big.bsp", {}, frame.get());
  EXPECT_TRUE(v->Loaded());
  EXPECT_EQ(v->View()->Mesh().pageSide, 1024);
  EXPECT_TRUE(frame->isVisible());
}

// The window and the software renderer draw by the same rules: the same view of the same map
// comes out the same from both, as near as two rasterizers' rounding lets it (SSIM of the grey
// pictures, as Ssim.h computes it; a picture that drifts in lighting, filtering, sides or
// texture levels falls far below).
TEST_F(GuiTest, TheWindowAndTheSoftwareRendererDrawTheSameView) {
  struct View {
    std::string name;
    Bytes map;
    QVector3D position;
    float yaw, pitch;
    MapFileLookup lookup = {};
  };
  std::vector<View> views = {{"floor from above", FloorMap(BspFormat::Quake), {256, -100, 200}, 90, 30},
                             {"floor from below", FloorMap(BspFormat::Quake), {256, -100, -200}, 90, -30}};
  // Quake II's sky box, into a corner where three of its pictures meet.
  const MapFileLookup skyBox = [](const std::string& path, std::vector<std::uint8_t>& bytes) {
    const char* sides[6] = {"rt", "bk", "lf", "ft", "up", "dn"};
    for (int k = 0; k < 6; ++k)
      if (path == std::string("env/unit1_") + sides[k] + ".tga") {
        bytes = MarkedTga(static_cast<std::uint8_t>(40 * k), static_cast<std::uint8_t>(200 - 30 * k), 90);
        return true;
      }
    return false;
  };
  views.push_back({"Quake II sky box", Quake2SkyRoom(""), {0, 0, 0}, 30, -30, skyBox});
  if (fs::exists(SamplesDir() / "LibreQuake/lq1/maps/e2m2.bsp")) {
    const Bytes e2m2 = ReadFile(SamplesDir() / "LibreQuake/lq1/maps/e2m2.bsp");
    views.push_back({"e2m2 at its start", e2m2, {64, 608, 46}, 270, 0});
    views.push_back({"e2m2 looking down", e2m2, {64, 608, 46}, 180, 11.25f});
  }
  constexpr int kWidth = 320, kHeight = 200;
  for (const View& v : views) {
    SCOPED_TRACE(v.name);
    BspMap map;
    ASSERT_TRUE(LoadBsp(v.map, map, nullptr));
    CMapView view;
    view.setFixedSize(kWidth, kHeight);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    ASSERT_TRUE(view.SetMap(map, v.lookup));
    view.SetCamera(v.position, v.yaw, v.pitch);
    const QImage window = view.grabFramebuffer().convertToFormat(QImage::Format_RGB888);
    ASSERT_EQ(window.width(), kWidth);

    MapCamera camera;
    camera.position[0] = v.position.x(), camera.position[1] = v.position.y(), camera.position[2] = v.position.z();
    camera.yaw = v.yaw, camera.pitch = v.pitch;
    std::vector<std::uint8_t> rgb;
    ASSERT_TRUE(RenderMap(BuildMapScene(map, v.lookup), camera, kWidth, kHeight, rgb));
    std::vector<std::uint8_t> grabbed;
    for (int y = 0; y < kHeight; ++y)
      grabbed.insert(grabbed.end(), window.constScanLine(y), window.constScanLine(y) + kWidth * 3);
    const double ssim = GreySsim(grabbed.data(), rgb.data(), kWidth, kHeight, 3);
    std::cerr << v.name << ": SSIM " << ssim << "\n";
    EXPECT_GT(ssim, 0.9);
    double mean[2] = {0, 0};
    for (std::size_t i = 0; i < rgb.size(); ++i) mean[0] += grabbed[i], mean[1] += rgb[i];
    EXPECT_NEAR(mean[0] / static_cast<double>(rgb.size()), mean[1] / static_cast<double>(rgb.size()), 2.0);
  }
}

// The Textures menu replaces the map's textures from a WAD, saved into the archive as one
// change and drawn at once; a WAD without them changes nothing and says so.
TEST_F(MapViewer, TexturesAreReplacedFromTheWindow) {
  OpenPak(PakBuilder()
              .File("maps/floor.bsp", FloorMap(BspFormat::Quake))
              .File("maps/hl.bsp", FloorMap(BspFormat::HalfLife))
              .File("maps/q2.bsp", FloorMap(BspFormat::Quake2))
              .Build());
  // Half-Life's textures may be left to its WADs; Quake II's are never in the map.
  for (const char* name : {"hl.bsp", "q2.bsp"}) {
    CMapFrame* other = Open(name);
    ASSERT_NE(other, nullptr) << name;
    const bool halfLife = name[0] == 'h';
    EXPECT_EQ(other->findChild<QAction*>("actionReplaceTexturesWad")->isEnabled(), halfLife) << name;
    EXPECT_EQ(other->findChild<QAction*>("actionUnembedTextures")->isEnabled(), halfLife) << name;
    other->close();
  }
  const Bytes original = Load(doc.Root().FindByPath("maps/floor.bsp"));
  CMapFrame* v = Open("floor.bsp");
  ASSERT_NE(v, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(v));
  auto* replace = v->findChild<QAction*>("actionReplaceTexturesWad");
  ASSERT_NE(replace, nullptr);
  EXPECT_TRUE(replace->isEnabled());
  // A Quake map has no WADs to leave its textures to.
  EXPECT_FALSE(v->findChild<QAction*>("actionEmbedTextures")->isEnabled());
  EXPECT_FALSE(v->findChild<QAction*>("actionUnembedTextures")->isEnabled());
  TempDir dir;
  WriteFile(dir / "new.wad", BuildWad(ContainerFormat::Wad2, {{"FLOOR", BspMiptex("FLOOR", 16, 16, 12), 'D'}}));
  WriteFile(dir / "other.wad", BuildWad(ContainerFormat::Wad2, {{"wall", BspMiptex("wall", 16, 16, 12), 'D'}}));
  const QImage before = v->View()->grabFramebuffer();
  EXPECT_FALSE(v->ReplaceTextures(QString::fromStdString((dir / "other.wad").string()), false));
  EXPECT_EQ(Load(doc.Root().FindByPath("maps/floor.bsp")), original);
  ASSERT_TRUE(v->ReplaceTextures(QString::fromStdString((dir / "new.wad").string()), false));
  const Bytes saved = Load(doc.Root().FindByPath("maps/floor.bsp"));
  const MapTextures textures = ReadMapTextures(saved);
  ASSERT_EQ(textures.textures.size(), 2u);
  EXPECT_EQ(textures.textures[0].bytes[40], 12);
  EXPECT_EQ(saved.size(), original.size());
  EXPECT_NE(v->View()->grabFramebuffer(), before);
}

// View > Plain Look draws as convert's --look plain does (black behind, the light clamped) and
// back; the camera stays where it was.
TEST_F(MapViewer, ThePlainLookIsOfferedBesideTheEngines) {
  OpenPak(PakBuilder().File("maps/floor.bsp", FloorMap(BspFormat::Quake)).Build());
  CMapFrame* v = Open("floor.bsp");
  ASSERT_NE(v, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(v));
  auto* plain = v->findChild<QAction*>("actionMapPlainLook");
  ASSERT_NE(plain, nullptr);
  v->View()->SetCamera({256, -200, 100}, 90, 10);
  const auto count = [](const QImage& image, QColor colour) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x) n += QColor(image.pixel(x, y)) == colour;
    return n;
  };
  const QImage engine = v->View()->grabFramebuffer();
  EXPECT_GT(count(engine, QColor(31, 31, 31)), 0);
  plain->trigger();
  EXPECT_FALSE(v->View()->Look().engine);
  EXPECT_EQ(v->View()->Position(), QVector3D(256, -200, 100));
  const QImage plainImage = v->View()->grabFramebuffer();
  EXPECT_EQ(count(plainImage, QColor(31, 31, 31)), 0);
  EXPECT_GT(count(plainImage, Qt::black), count(engine, Qt::black));
  plain->trigger();
  EXPECT_EQ(v->View()->grabFramebuffer(), engine);
}

}  // namespace
}  // namespace tarn::test
