// Editing a model in place from its window: the Skins and Frames panels and a Quake model's
// properties, each edit a change of the archive that the main window's Undo takes back.
#include <QCheckBox>
#include <QComboBox>
#include <QDockWidget>
#include <QDoubleSpinBox>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include "ModelBuilders.h"
#include "ModelWindowTest.h"
#include "models/Model.h"
#include "models/ModelEdit.h"
#include "pictures/EntryPictures.h"
#include "pictures/Palette.h"

namespace tarn::test {
namespace {

const std::vector<std::string> kFrames = {"walk1", "walk2", "walk3", "run1", "run2"};

class ModelEditing : public ModelWindowTest {
 protected:
  void SetUp() override {
    ModelWindowTest::SetUp();
    OpenPak(PakBuilder()
                .File("progs/knight.mdl", Mdl(kFrames, 8, 8, 6, 2))
                .File("progs/one.mdl", Mdl({"stand"}, 8, 8))
                .File("models/tris.md2", Md2({"models/skin.pcx"}, {"stand01", "stand02"}))
                .File("models/skin.pcx", SkinPcx())
                .Build());
  }
  // The entry's bytes as the archive holds them now (an edit puts a new entry in its place).
  Bytes EntryBytes(const std::string& path) {
    CPackObject* e = doc.Root().FindByPath(path);
    EXPECT_NE(e, nullptr) << path;
    if (!e) return {};
    CEntryBytes data(*e);
    return Bytes(data.Bytes().begin(), data.Bytes().end());
  }
  ModelLayout Layout(const Bytes& bytes) {
    ModelLayout l;
    std::string why;
    EXPECT_TRUE(ReadModelLayout(bytes, l, &why)) << why;
    return l;
  }
  template <typename W>
  W* Find(CGLFrame* v, const char* name) {
    auto* w = v->findChild<W*>(name);
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  // Clicks the panel's button, and lets the window look at the changed archive.
  void Click(CGLFrame* v, const char* name) {
    auto* b = Find<QPushButton>(v, name);
    ASSERT_TRUE(b->isEnabled()) << name;
    b->click();
    QApplication::processEvents();
  }
  void Choose(QTreeWidget* list, QTreeWidgetItem* item) {
    ASSERT_NE(item, nullptr);
    list->setCurrentItem(item);
    QApplication::processEvents();
  }
  static int SkinWidthOf(const Bytes& pcx) {
    ModelSkin skin;
    return DecodeSkinPcx(pcx, skin) ? skin.width : -1;
  }
  std::vector<std::string> FrameNames(const Bytes& bytes) {
    std::vector<std::string> names;
    for (const auto& p : Layout(bytes).frames) names.insert(names.end(), p.names.begin(), p.names.end());
    return names;
  }
};

TEST_F(ModelEditing, PanelsShowTheModelAndChoosingShowsIt) {
  CGLFrame* v = OpenExposed("progs", "knight.mdl");
  ASSERT_NE(v, nullptr);
  EXPECT_TRUE(Find<QDockWidget>(v, "skinsPanel")->isVisible());
  EXPECT_TRUE(Find<QDockWidget>(v, "framesPanel")->isVisible());
  EXPECT_TRUE(Find<QDockWidget>(v, "propertiesPanel")->isVisible());
  QTreeWidget* skins = v->SkinList();
  QTreeWidget* frames = v->FrameList();
  ASSERT_EQ(skins->topLevelItemCount(), 2);
  EXPECT_EQ(skins->topLevelItem(1)->text(0), "Skin 2");
  ASSERT_EQ(frames->topLevelItemCount(), 5);
  EXPECT_EQ(frames->topLevelItem(3)->text(0), "run1");
  Choose(skins, skins->topLevelItem(1));
  EXPECT_EQ(v->View()->CurrentSkin(), 1);
  EXPECT_EQ(v->SkinCombo()->currentIndex(), 1);
  Choose(frames, frames->topLevelItem(4));  // run2: the second frame of "run"
  EXPECT_EQ(v->View()->CurrentAnimation(), 1);
  EXPECT_EQ(v->View()->CurrentFrame(), 1);
}

// The picture in the Quake palette's colours, with one pixel that its glow mask lights.
TEST_F(ModelEditing, ReplaceSkinFromPictureKeepsTheVertices) {
  Palette quake;
  ASSERT_TRUE(LoadPalette(kQuakePaletteId, quake));
  QImage picture(8, 8, QImage::Format_RGB32), glow(8, 8, QImage::Format_RGB32);
  glow.fill(Qt::black);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      const Rgb& c = quake.colors[static_cast<std::size_t>(16 + 8 * y + x)];
      picture.setPixel(x, y, qRgb(c.r, c.g, c.b));
    }
  glow.setPixel(3, 5, qRgb(255, 255, 255));
  const QString png = QString::fromStdString((dir / "red.png").string());
  ASSERT_TRUE(picture.save(png));
  ASSERT_TRUE(glow.save(QString::fromStdString((dir / "red_glow.png").string())));

  const Bytes before = EntryBytes("progs/knight.mdl");
  CGLFrame* v = Open("progs", "knight.mdl");
  ASSERT_NE(v, nullptr);
  Choose(v->SkinList(), v->SkinList()->topLevelItem(1));
  prompter->openFile = png;
  Click(v, "btnReplaceSkin");

  const Bytes after = EntryBytes("progs/knight.mdl");
  ASSERT_EQ(after.size(), before.size());
  const ModelLayout was = Layout(before), is = Layout(after);
  // Only the second skin's pixels changed: the first skin, the vertices and frames did not.
  EXPECT_TRUE(
      std::equal(after.begin(), after.begin() + static_cast<std::ptrdiff_t>(is.skins[1].members[0]), before.begin()));
  EXPECT_TRUE(std::equal(after.begin() + static_cast<std::ptrdiff_t>(is.skinsEnd), after.end(),
                         before.begin() + static_cast<std::ptrdiff_t>(was.skinsEnd)));
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      const std::uint8_t index = after[is.skins[1].members[0] + static_cast<std::size_t>(8 * y + x)];
      const Rgb& c = quake.colors[index];
      if (x == 3 && y == 5) {
        EXPECT_GE(index, 224) << "the glow mask's pixel glows";
        continue;
      }
      EXPECT_EQ(qRgb(c.r, c.g, c.b), picture.pixel(x, y)) << x << "," << y;
      EXPECT_LT(index, 224) << x << "," << y;
    }
  // The window shows what the archive holds, and the main window says it changed.
  EXPECT_EQ(v->ShownBytes(), after);
  EXPECT_TRUE(frame->isWindowModified());

  // Ctrl+Z in the model window takes it back through the document, Ctrl+Shift+Z does it again.
  v->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(v));
  QTest::keyClick(v->View(), Qt::Key_Z, Qt::ControlModifier);
  QApplication::processEvents();
  EXPECT_EQ(EntryBytes("progs/knight.mdl"), before);
  EXPECT_EQ(v->ShownBytes(), before);
  QTest::keyClick(v->View(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
  QApplication::processEvents();
  EXPECT_EQ(EntryBytes("progs/knight.mdl"), after);
}

TEST_F(ModelEditing, RenameAndMoveFrameThenUndoInTheMainWindow) {
  const Bytes before = EntryBytes("progs/knight.mdl");
  CGLFrame* v = OpenExposed("progs", "knight.mdl");
  ASSERT_NE(v, nullptr);
  QTreeWidget* frames = v->FrameList();

  // Rename in place: the button opens the name for typing, Return puts it in.
  Choose(frames, frames->topLevelItem(1));
  Click(v, "btnRenameFrame");
  auto* editor = frames->viewport()->findChild<QLineEdit*>();
  ASSERT_NE(editor, nullptr);
  editor->selectAll();
  QTest::keyClicks(editor, "stride2");
  QTest::keyClick(editor, Qt::Key_Return);
  QApplication::processEvents();
  EXPECT_EQ(FrameNames(EntryBytes("progs/knight.mdl")),
            (std::vector<std::string>{"walk1", "stride2", "walk3", "run1", "run2"}));
  EXPECT_EQ(frames->topLevelItem(1)->text(0), "stride2");

  // A name too long for the file is refused, and the list shows the name the file has.
  Choose(frames, frames->topLevelItem(2));
  frames->topLevelItem(2)->setText(0, "a_name_far_too_long");
  QApplication::processEvents();
  ASSERT_FALSE(prompter->shown.empty());
  EXPECT_EQ(prompter->shown.back().text,
            "Cannot rename frame: a frame's name is at most 15 characters.\n"
            "Nothing changed.");
  EXPECT_EQ(frames->topLevelItem(2)->text(0), "walk3");

  Choose(frames, frames->topLevelItem(0));
  Click(v, "btnFrameDown");
  const Bytes moved = EntryBytes("progs/knight.mdl");
  EXPECT_EQ(FrameNames(moved), (std::vector<std::string>{"stride2", "walk1", "walk3", "run1", "run2"}));
  EXPECT_EQ(frames->currentItem(), frames->topLevelItem(1));  // the moved frame stays chosen
  EXPECT_EQ(frames->topLevelItem(0)->text(0), "stride2");
  Click(v, "btnFrameUp");
  EXPECT_EQ(FrameNames(EntryBytes("progs/knight.mdl"))[0], "walk1");
  EXPECT_TRUE(frame->isWindowModified());

  // The main window's Undo takes each edit back, to the very bytes the archive had.
  Action("actionUndo")->trigger();
  QApplication::processEvents();
  EXPECT_EQ(EntryBytes("progs/knight.mdl"), moved);
  EXPECT_EQ(v->ShownBytes(), moved);
  Action("actionUndo")->trigger();
  Action("actionUndo")->trigger();
  QApplication::processEvents();
  EXPECT_EQ(EntryBytes("progs/knight.mdl"), before);
  EXPECT_EQ(frames->topLevelItem(1)->text(0), "walk2");
  EXPECT_FALSE(frame->isWindowModified());
}

TEST_F(ModelEditing, AFrameDraggedMovesInTheFile) {
  CGLFrame* v = OpenExposed("progs", "knight.mdl");
  ASSERT_NE(v, nullptr);
  QTreeWidget* frames = v->FrameList();
  Choose(frames, frames->topLevelItem(4));
  const QRect top = frames->visualItemRect(frames->topLevelItem(0));
  std::unique_ptr<QMimeData> dragged(frames->model()->mimeData({frames->model()->index(4, 0)}));
  DropOn(frames->viewport(), QPoint(top.center().x(), top.top() + 2), dragged.get());
  EXPECT_EQ(FrameNames(EntryBytes("progs/knight.mdl")),
            (std::vector<std::string>{"run2", "walk1", "walk2", "walk3", "run1"}));
  EXPECT_EQ(frames->topLevelItem(0)->text(0), "run2");
  // Onto the lower half of the last: to the end.
  Choose(frames, frames->topLevelItem(0));
  const QRect last = frames->visualItemRect(frames->topLevelItem(4));
  dragged.reset(frames->model()->mimeData({frames->model()->index(0, 0)}));
  DropOn(frames->viewport(), QPoint(last.center().x(), last.bottom() - 2), dragged.get());
  EXPECT_EQ(FrameNames(EntryBytes("progs/knight.mdl")), kFrames);
}

TEST_F(ModelEditing, PropertiesGoIntoTheHeader) {
  CGLFrame* v = OpenExposed("progs", "knight.mdl");
  ASSERT_NE(v, nullptr);
  auto* rotate = Find<QCheckBox>(v, "flag_rotate");
  ASSERT_TRUE(rotate->isVisible());
  QTest::mouseClick(rotate, Qt::LeftButton, Qt::NoModifier, QPoint(8, rotate->height() / 2));
  QApplication::processEvents();
  EXPECT_EQ(ModelFlagsText(Layout(EntryBytes("progs/knight.mdl")).flags), "rotate");
  Find<QCheckBox>(v, "flag_tracer3")->click();
  QApplication::processEvents();
  EXPECT_EQ(ModelFlagsText(Layout(EntryBytes("progs/knight.mdl")).flags), "rotate,tracer3");
  EXPECT_TRUE(Find<QCheckBox>(v, "flag_rotate")->isChecked());  // shown again from the bytes

  Find<QComboBox>(v, "syncCombo")->setCurrentIndex(1);
  QApplication::processEvents();
  EXPECT_EQ(Layout(EntryBytes("progs/knight.mdl")).syncType, 1);
  auto* eyeZ = Find<QDoubleSpinBox>(v, "eyeZ");
  eyeZ->setValue(24);
  emit eyeZ->editingFinished();
  QApplication::processEvents();
  const ModelLayout l = Layout(EntryBytes("progs/knight.mdl"));
  EXPECT_EQ(l.eye[2], 24.0f);
  EXPECT_EQ(l.eye[0], 0.0f);

  // Save writes the edited model into the archive's file.
  Action("actionSave")->trigger();
  EXPECT_FALSE(doc.IsModified());
  CTarnDoc saved;
  ASSERT_TRUE(saved.Open(dir / "test.pak"));
  CPackObject* model = saved.Root().FindByPath("progs/knight.mdl");
  ASSERT_NE(model, nullptr);
  CEntryBytes savedBytes(*model);
  EXPECT_EQ(Bytes(savedBytes.Bytes().begin(), savedBytes.Bytes().end()), EntryBytes("progs/knight.mdl"));

  // A Quake II model has none of these.
  Open("models", "tris.md2");
  CGLFrame* md2 = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* f = qobject_cast<CGLFrame*>(w); f && f->windowTitle() == "tris.md2") md2 = f;
  ASSERT_NE(md2, nullptr);
  EXPECT_FALSE(Find<QDockWidget>(md2, "propertiesPanel")->isVisible());
}

TEST_F(ModelEditing, AFailedEditChangesNothingAndSaysWhy) {
  const Bytes before = EntryBytes("progs/one.mdl");
  CGLFrame* v = Open("progs", "one.mdl");
  ASSERT_NE(v, nullptr);
  const std::size_t steps = doc.History().Count();
  Choose(v->FrameList(), v->FrameList()->topLevelItem(0));
  Click(v, "btnRemoveFrame");
  ASSERT_EQ(prompter->shown.size(), 1u);
  EXPECT_EQ(prompter->shown[0].text,
            "Cannot remove frame: it is the model's only frame, and the engines refuse a model without one.\n"
            "Nothing changed.");
  EXPECT_EQ(EntryBytes("progs/one.mdl"), before);
  EXPECT_EQ(doc.History().Count(), steps);
  EXPECT_FALSE(frame->isWindowModified());
  EXPECT_EQ(v->FrameList()->topLevelItemCount(), 1);
}

TEST_F(ModelEditing, SkinGroupsAndIntervals) {
  CGLFrame* v = Open("progs", "knight.mdl");
  ASSERT_NE(v, nullptr);
  QTreeWidget* skins = v->SkinList();
  skins->selectAll();
  QApplication::processEvents();
  Click(v, "btnGroupSkins");
  ModelLayout l = Layout(EntryBytes("progs/knight.mdl"));
  ASSERT_EQ(l.skins.size(), 1u);
  ASSERT_TRUE(l.skins[0].group);
  EXPECT_EQ(l.skins[0].intervals, (std::vector<float>{0.1f, 0.1f}));
  ASSERT_EQ(skins->topLevelItemCount(), 1);
  QTreeWidgetItem* group = skins->topLevelItem(0);
  ASSERT_EQ(group->childCount(), 2);
  EXPECT_EQ(group->child(1)->text(0), "Skin 1.2");
  // A group member is shown from the file's pixels.
  EXPECT_EQ(v->View()->Model().skins.size(), 2u);
  Choose(skins, group->child(1));
  EXPECT_EQ(v->View()->CurrentSkin(), 1);

  Click(v, "btnSkinInterval");
  auto* editor = skins->viewport()->findChild<QLineEdit*>();
  ASSERT_NE(editor, nullptr);
  editor->selectAll();
  QTest::keyClicks(editor, "0.25");
  QTest::keyClick(editor, Qt::Key_Return);
  QApplication::processEvents();
  EXPECT_EQ(Layout(EntryBytes("progs/knight.mdl")).skins[0].intervals, (std::vector<float>{0.1f, 0.25f}));

  Choose(skins, skins->topLevelItem(0));
  Click(v, "btnUngroupSkins");
  l = Layout(EntryBytes("progs/knight.mdl"));
  EXPECT_EQ(l.skins.size(), 2u);
  EXPECT_EQ(skins->topLevelItemCount(), 2);
}

TEST_F(ModelEditing, Md2SkinPathsAndPictures) {
  const Bytes original = EntryBytes("models/tris.md2");
  CGLFrame* v = Open("models", "tris.md2");
  ASSERT_NE(v, nullptr);
  QTreeWidget* skins = v->SkinList();
  ASSERT_EQ(skins->topLevelItemCount(), 1);
  EXPECT_EQ(skins->topLevelItem(0)->text(0), "models/skin.pcx");
  Choose(skins, skins->topLevelItem(0));
  Click(v, "btnSkinPath");
  auto* editor = skins->viewport()->findChild<QLineEdit*>();
  ASSERT_NE(editor, nullptr);
  editor->selectAll();
  QTest::keyClicks(editor, "players/male/skin.pcx");
  QTest::keyClick(editor, Qt::Key_Return);
  QApplication::processEvents();
  ASSERT_EQ(Layout(EntryBytes("models/tris.md2")).skins[0].names, std::vector<std::string>{"players/male/skin.pcx"});

  // Its skin's picture is the PCX file the path names, written beside the model only.
  QImage picture(16, 8, QImage::Format_RGB32);
  picture.fill(qRgb(200, 40, 40));
  const QString png = QString::fromStdString((dir / "red.png").string());
  ASSERT_TRUE(picture.save(png));
  const Bytes pcx = EntryBytes("models/skin.pcx");
  const Bytes model = EntryBytes("models/tris.md2");
  prompter->openFile = png;
  Choose(skins, skins->topLevelItem(0));
  Click(v, "btnReplaceSkin");
  ASSERT_EQ(prompter->shown.size(), 1u);
  EXPECT_EQ(prompter->shown[0].text,
            "Cannot replace skin: the model names its picture \"players/male/skin.pcx\", which is not beside the "
            "model; edit the path to one there first.\nNothing changed.");
  EXPECT_EQ(EntryBytes("models/tris.md2"), model);
  Action("actionUndo")->trigger();  // the path back to models/skin.pcx
  QApplication::processEvents();
  Choose(skins, skins->topLevelItem(0));
  Click(v, "btnReplaceSkin");
  EXPECT_EQ(SkinWidthOf(EntryBytes("models/skin.pcx")), 16);
  EXPECT_EQ(EntryBytes("models/tris.md2"), original);   // the model itself is as it was
  EXPECT_EQ(v->View()->Model().skins.at(0).width, 16);  // shown at once
  Action("actionUndo")->trigger();
  QApplication::processEvents();
  EXPECT_EQ(EntryBytes("models/skin.pcx"), pcx);
  EXPECT_EQ(v->View()->Model().skins.at(0).width, SkinWidthOf(pcx));

  prompter->newName = "models/third.pcx";
  Click(v, "btnAddSkin");
  const ModelLayout l = Layout(EntryBytes("models/tris.md2"));
  ASSERT_EQ(l.skins.size(), 2u);
  EXPECT_EQ(l.skins[1].names, std::vector<std::string>{"models/third.pcx"});
  EXPECT_EQ(skins->topLevelItem(1)->text(0), "models/third.pcx");
}

}  // namespace
}  // namespace tarn::test
