#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLineEdit>
#include <QStatusBar>

#include "GuiSupport.h"
#include "ModelBuilders.h"
#include "dialogs/ModelImportDialog.h"
#include "models/Model.h"
#include "pictures/EntryPictures.h"
#include "pictures/ImageDecode.h"

namespace tarn::test {
namespace {

QColor Quake(int index) {
  const Palette q = QuakePalette();
  return QColor(q.colors[static_cast<std::size_t>(index)].r, q.colors[static_cast<std::size_t>(index)].g,
                q.colors[static_cast<std::size_t>(index)].b);
}

// A picture in Quake's colours: index (x + y) % 8, as a PNG file.
QString Png(const fs::path& path, int w, int h) {
  QImage image(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) image.setPixelColor(x, y, Quake((x + y) % 8));
  const QString p = QString::fromStdString(path.string());
  image.save(p, "PNG");
  return p;
}

class TransferCommands : public GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    Bytes lmp;
    PutU32(lmp, 0, 2);
    PutU32(lmp, 4, 1);
    lmp.insert(lmp.end(), {9, 255});
    OpenPak(PakBuilder().File("gfx/pic.lmp", lmp).File("textures/readme.txt", "r").Build());
  }
};

// Matches of a filter over the whole archive, exported by the keyboard: each keeps its path
// below the directory shown, none overwrites another, and the count is what is on disk.
TEST_F(TransferCommands, ExportOfWholeArchiveMatchesKeepsEveryFile) {
  OpenPak(PakBuilder()
              .File("top.pcx", "0")
              .File("players/a/skin.pcx", "1")
              .File("players/b/skin.pcx", "2")
              .File("models/c/skin.pcx", "3")
              .File("models/c/skin.txt", "not a match")
              .Build());
  ShowDir("");
  QTest::mouseClick(List()->WholeArchiveBox(), Qt::LeftButton);
  QTest::keyClicks(List()->FilterEdit(), "*.pcx");
  ASSERT_EQ(ListNames().size(), 4u);
  FocusList();
  QTest::keyClick(List()->ActiveView(), Qt::Key_A, Qt::ControlModifier);
  prompter->folder = QString::fromStdString((dir / "out").string());
  fs::create_directories(dir / "out");
  Action("actionExportDirectory")->trigger();
  EXPECT_EQ(ReadFile(dir / "out/players/a/skin.pcx"), ToBytes("1"));
  EXPECT_EQ(ReadFile(dir / "out/players/b/skin.pcx"), ToBytes("2"));
  EXPECT_EQ(ReadFile(dir / "out/models/c/skin.pcx"), ToBytes("3"));
  EXPECT_EQ(ReadFile(dir / "out/top.pcx"), ToBytes("0"));
  EXPECT_NE(frame->statusBar()->currentMessage().indexOf("4 files exported"), -1);
  EXPECT_TRUE(prompter->shown.empty());

  // An archive holding one path twice: the first is written, the second told of, never over it.
  OpenPak(PakBuilder().File("skin.pcx", "first").File("skin.pcx", "second").Build());
  prompter->shown.clear();  // what opening found
  ShowDir("");
  FocusList();
  QTest::keyClick(List()->ActiveView(), Qt::Key_A, Qt::ControlModifier);
  prompter->folder = QString::fromStdString((dir / "twice").string());
  fs::create_directories(dir / "twice");
  Action("actionExportDirectory")->trigger();
  EXPECT_EQ(ReadFile(dir / "twice/skin.pcx"), ToBytes("first"));
  EXPECT_NE(frame->statusBar()->currentMessage().indexOf("1 file exported"), -1);
  ASSERT_EQ(prompter->shown.size(), 1u);
  EXPECT_NE(prompter->shown[0].text.indexOf("already written by this export"), -1);
}

TEST_F(TransferCommands, ImagesAreAskedForOnceAndEncodedAsOneUndoableStep) {
  const QString stone = Png(dir / "stone.png", 16, 16), moss = Png(dir / "moss.png", 32, 16);
  WriteFile(dir / "notes.txt", "notes");
  prompter->encodeChoice = dialogs::EncodeChoice{true, OutputKind::Mip, {}};
  frame->ImportPaths(doc.Root().FindChild("textures"),
                     {stone, QString::fromStdString((dir / "notes.txt").string()), moss});
  EXPECT_EQ(prompter->encodeAsked, (QStringList{stone, moss}));  // once, for both pictures
  EXPECT_EQ(prompter->encodeOffered, std::nullopt);              // a pak has no kind of its own
  EXPECT_EQ(Load(doc.Root().FindByPath("textures/notes.txt")), ToBytes("notes"));
  CPackObject* mip = doc.Root().FindByPath("textures/stone.mip");
  ASSERT_NE(mip, nullptr);
  RgbaImage decoded;
  std::string name, why;
  ASSERT_TRUE(DecodeMiptex(Load(mip), decoded, &name, &why)) << why;
  EXPECT_EQ(name, "stone");
  EXPECT_EQ(decoded.width, 16);
  for (int i = 0; i < 16 * 16; ++i) EXPECT_EQ(decoded.indices[static_cast<std::size_t>(i)], (i % 16 + i / 16) % 8) << i;
  EXPECT_NE(doc.Root().FindByPath("textures/moss.mip"), nullptr);
  frame->UpdateCommandUI();
  EXPECT_EQ(Action("actionUndo")->text(), "&Undo Import and encode 3 entries");
  Action("actionUndo")->trigger();
  EXPECT_EQ(doc.Root().FindByPath("textures/stone.mip"), nullptr);
  EXPECT_EQ(doc.Root().FindByPath("textures/notes.txt"), nullptr);

  // Cancelled at the question: nothing comes in; kept as they are: PNG files come in.
  prompter->encodeChoice.reset();
  frame->ImportPaths(&doc.Root(), {stone});
  EXPECT_EQ(doc.Root().FindChild("stone.png"), nullptr);
  prompter->encodeChoice = dialogs::EncodeChoice{};
  frame->ImportPaths(&doc.Root(), {stone});
  EXPECT_NE(doc.Root().FindChild("stone.png"), nullptr);
  // A picture that cannot be a texture says why.
  prompter->encodeChoice = dialogs::EncodeChoice{true, OutputKind::Wal, {}};
  frame->ImportPaths(&doc.Root(), {Png(dir / "odd.png", 10, 10)});
  ASSERT_FALSE(prompter->shown.empty());
  EXPECT_NE(prompter->shown.back().text.indexOf("multiples of 16"), -1);
}

TEST_F(TransferCommands, APictureExportsAsPngAndPicturesMakeSprites) {
  ShowDir("gfx");
  FocusList();
  SelectRows({"pic.lmp"});
  prompter->saveFile = QString::fromStdString((dir / "pic.png").string());
  Action("actionExportFile")->trigger();
  const QImage png(prompter->saveFile);
  ASSERT_EQ(png.size(), QSize(2, 1));
  EXPECT_EQ(png.pixelColor(0, 0), Quake(9));
  EXPECT_EQ(png.pixelColor(1, 0), Quake(255));  // a PNG of the palette's colours, as tarn-pak convert writes
  EXPECT_NE(frame->statusBar()->currentMessage().indexOf("exported as a PNG picture"), -1);

  // A Quake sprite of two frames, then a Quake II one whose frames lie beside it.
  prompter->openFiles = {Png(dir / "f10.png", 8, 8), Png(dir / "f2.png", 8, 8)};
  prompter->spriteChoice = dialogs::SpriteChoice{false, "fire", {}};
  ShowDir("gfx");
  FocusTree();
  Action("actionNewSprite")->trigger();
  CPackObject* spr = doc.Root().FindByPath("gfx/fire.spr");
  ASSERT_NE(spr, nullptr);
  EXPECT_EQ(LoadEntryPictures(*spr).set.pictures.size(), 2u);
  prompter->spriteChoice = dialogs::SpriteChoice{true, "fire", {}};
  Action("actionNewSprite")->trigger();
  for (const char* frameName : {"gfx/fire_0.pcx", "gfx/fire_1.pcx"})
    EXPECT_NE(doc.Root().FindByPath(frameName), nullptr);
  CPackObject* sp2 = doc.Root().FindByPath("gfx/fire.sp2");
  ASSERT_NE(sp2, nullptr);
  EXPECT_EQ(LoadEntryPictures(*sp2).set.pictures.size(), 2u);
  frame->UpdateCommandUI();
  EXPECT_EQ(Action("actionUndo")->text(), "&Undo New Sprite \"fire.sp2\"");
  // Frames of different sizes make no Quake sprite.
  prompter->openFiles = {Png(dir / "a.png", 8, 8), Png(dir / "b.png", 4, 4)};
  prompter->spriteChoice = dialogs::SpriteChoice{false, "bad", {}};
  Action("actionNewSprite")->trigger();
  EXPECT_EQ(doc.Root().FindByPath("gfx/bad.spr"), nullptr);
  EXPECT_NE(prompter->shown.back().text.indexOf("must all be one size"), -1);
}

// Pictures out as PNG files in one go: paths kept below the shown directory, other files left alone.
TEST_F(TransferCommands, ExportAsPngWritesEveryPictureKeepingPaths) {
  ShowDir("");
  FocusList();
  QTest::keyClick(List()->ActiveView(), Qt::Key_A, Qt::ControlModifier);
  prompter->folder = QString::fromStdString((dir / "png").string());
  fs::create_directories(dir / "png");
  Action("actionExportAsPng")->trigger();
  EXPECT_EQ(QImage(QString::fromStdString((dir / "png/gfx/pic.png").string())).size(), QSize(2, 1));
  EXPECT_NE(frame->statusBar()->currentMessage().indexOf("PNG"), -1);
  for (const auto& e : fs::recursive_directory_iterator(dir / "png"))
    if (e.is_regular_file()) EXPECT_EQ(e.path().extension(), ".png") << e.path();
}

// Models exported as PNG give their skins, every one, named apart from a picture of the model's
// name; an MD2's skin written as itself is not written twice; what cannot be read, and a skin
// that is not there, is named.
TEST_F(TransferCommands, ExportAsPngWritesModelSkinsAndNamesWhatItSkipped) {
  Bytes twoSkins = Mdl({"stand1"});  // a 4 × 2 skin
  PutU32(twoSkins, 48, 2);
  Bytes second(4 + 8, 0);
  for (std::size_t i = 0; i < 8; ++i) second[4 + i] = static_cast<std::uint8_t>(100 + i);
  twoSkins.insert(twoSkins.begin() + 84 + 4 + 8, second.begin(), second.end());
  Bytes picture;  // 2 × 1, beside a model of its name
  PutU32(picture, 0, 2);
  PutU32(picture, 4, 1);
  picture.insert(picture.end(), {9, 255});
  OpenPak(PakBuilder()
              .File("progs/two.mdl", twoSkins)
              .File("progs/one.mdl", Mdl({"stand1"}, 2, 2))
              .File("progs/one.lmp", picture)
              .File("progs/bad.mdl", ToBytes("IDPO"))
              .File("models/m/tris.md2", Md2({"models/m/skin.pcx"}, {"stand01"}))
              .File("models/m/skin.pcx", SkinPcx())
              .File("models/n/tris.md2", Md2({"models/n/gone.pcx"}, {"stand01"}))
              .Build());
  ShowDir("");
  FocusList();
  QTest::keyClick(List()->ActiveView(), Qt::Key_A, Qt::ControlModifier);
  const fs::path out = dir / "png";
  fs::create_directories(out);
  prompter->folder = QString::fromStdString(out.string());
  Action("actionExportAsPng")->trigger();
  const auto image = [&](const char* path) { return QImage(QString::fromStdString((out / path).string())); };
  EXPECT_EQ(image("progs/two-skin-0.png").size(), QSize(4, 2));
  EXPECT_EQ(image("progs/two-skin-1.png").pixelColor(0, 0), Quake(100));
  EXPECT_EQ(image("progs/one-skin.png").size(), QSize(2, 2));
  EXPECT_EQ(image("progs/one.png").size(), QSize(2, 1));
  EXPECT_EQ(image("models/m/skin.png").size(), QSize(2, 1));
  EXPECT_FALSE(fs::exists(out / "models/m/tris-skin.png"));
  EXPECT_NE(frame->statusBar()->currentMessage().indexOf("5 PNG pictures exported"), -1)
      << frame->statusBar()->currentMessage().toStdString();
  ASSERT_FALSE(prompter->shown.empty());
  const QString told = prompter->shown.back().text;
  EXPECT_NE(told.indexOf("progs/bad.mdl: "), -1) << told.toStdString();
  // A missing skin is named, and its checkerboard not written.
  EXPECT_NE(told.indexOf("models/n/tris.md2: its skin \"models/n/gone.pcx\" is not there"), -1) << told.toStdString();
  EXPECT_FALSE(fs::exists(out / "models/n/tris-skin.png"));
}

// A square of two triangles in OBJ text, as modelling programs write it.
QString ObjSquare(const fs::path& path) {
  WriteFile(path,
            "v 0 0 0\nv 10 0 0\nv 10 10 0\nv 0 10 0\nvt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n"
            "f 1/1 2/2 3/3\nf 1/1 3/3 4/4\n");
  return QString::fromStdString(path.string());
}

// A Quake model exports as glTF, GLB or OBJ by the extension chosen (as pictures do as PNG);
// the raw file stays the first choice.
TEST_F(TransferCommands, AModelExportsForModellingPrograms) {
  OpenPak(PakBuilder().File("progs/knight.mdl", Mdl({"stand1", "stand2"})).Build());
  ShowDir("progs");
  FocusList();
  SelectRows({"knight.mdl"});
  prompter->saveFile = QString::fromStdString((dir / "knight.gltf").string());
  Action("actionExportFile")->trigger();
  EXPECT_TRUE(prompter->saveFilter.startsWith("Quake model (*.mdl);;glTF (*.gltf);;glTF binary (*.glb);;OBJ (*.obj)"))
      << prompter->saveFilter.toStdString();
  const Bytes gltf = ReadFile(dir / "knight.gltf");
  ASSERT_FALSE(gltf.empty());
  EXPECT_NE(std::string(gltf.begin(), gltf.end()).find("\"asset\""), std::string::npos);
  prompter->saveFile = QString::fromStdString((dir / "knight.obj").string());
  Action("actionExportFile")->trigger();
  for (const char* f : {"knight.obj", "knight.mtl", "knight.png"}) EXPECT_TRUE(fs::exists(dir / f)) << f;
  prompter->saveFile = QString::fromStdString((dir / "raw.mdl").string());
  Action("actionExportFile")->trigger();
  EXPECT_EQ(ReadFile(dir / "raw.mdl"), Mdl({"stand1", "stand2"}));
}

// Model files are asked for once, as pictures are: kept, or converted to MDL or MD2 (with its
// PCX skin, named by its path in the archive).
TEST_F(TransferCommands, ModelFilesAreAskedForAndConverted) {
  const QString obj = ObjSquare(dir / "square.obj");
  WriteFile(dir / "notes.txt", "notes");
  prompter->modelChoice = dialogs::ModelImportChoice{true, {}};
  frame->ImportPaths(doc.Root().FindChild("gfx"), {obj, QString::fromStdString((dir / "notes.txt").string())});
  EXPECT_EQ(prompter->modelsAsked, QStringList{obj});
  CPackObject* mdl = doc.Root().FindByPath("gfx/square.mdl");
  ASSERT_NE(mdl, nullptr);
  ModelData model;
  std::string why;
  ASSERT_TRUE(LoadMdl(Load(mdl), model, &why)) << why;
  EXPECT_EQ(model.triangles.size(), 2u);

  prompter->modelChoice->options.format = ModelData::kMd2;
  frame->ImportPaths(doc.Root().FindChild("gfx"), {obj});
  CPackObject* md2 = doc.Root().FindByPath("gfx/square.md2");
  ASSERT_NE(md2, nullptr);
  EXPECT_NE(doc.Root().FindByPath("gfx/square.pcx"), nullptr);
  CArchiveModelHost host(*md2);
  ASSERT_TRUE(LoadMd2(Load(md2), model, host, &why)) << why;
  const Bytes md2Bytes = Load(md2);
  EXPECT_NE(std::string(md2Bytes.begin(), md2Bytes.end()).find("gfx/square.pcx"), std::string::npos);

  prompter->modelChoice = dialogs::ModelImportChoice{};  // kept as it is
  frame->ImportPaths(&doc.Root(), {obj});
  EXPECT_NE(doc.Root().FindChild("square.obj"), nullptr);
  prompter->modelChoice.reset();  // cancelled
  frame->ImportPaths(doc.Root().FindChild("textures"), {obj});
  EXPECT_EQ(doc.Root().FindByPath("textures/square.obj"), nullptr);
  // A file that does not read as a model says why.
  WriteFile(dir / "bad.obj", "f 9 9 9\n");
  prompter->modelChoice = dialogs::ModelImportChoice{true, {}};
  frame->ImportPaths(&doc.Root(), {QString::fromStdString((dir / "bad.obj").string())});
  EXPECT_EQ(doc.Root().FindChild("bad.mdl"), nullptr);
  ASSERT_FALSE(prompter->shown.empty());
  EXPECT_NE(prompter->shown.back().text.indexOf("bad.obj"), -1);
}

}  // namespace
}  // namespace tarn::test

namespace tarn::test {
namespace {

// Models come into a Quake II archive as Quake II models unless the user says otherwise: the
// archive's files tell its game.
TEST_F(TransferCommands, AQuake2ArchiveIsOfferedMd2First) {
  const QString obj = ObjSquare(dir / "square.obj");
  OpenPak(PakBuilder()
              .File("models/monsters/tank/tris.md2", "IDP2")
              .File("textures/e1u1/floor1_1.wal", "w")
              .File("progs/stray.mdl", "IDPO")
              .Build());
  frame->ImportPaths(&doc.Root(), {obj});
  EXPECT_EQ(prompter->modelFormatOffered, ModelData::kMd2);
  OpenPak(PakBuilder().File("progs/player.mdl", "IDPO").File("gfx.wad", "WAD2").Build());
  frame->ImportPaths(&doc.Root(), {obj});
  EXPECT_EQ(prompter->modelFormatOffered, ModelData::kMdl);

  // The dialog lists the format offered first and chooses it.
  for (int format : {ModelData::kMd2, ModelData::kMdl}) {
    dialogs::CModelImportDialog dialog({obj}, frame.get(), format);
    auto* formats = dialog.findChild<QComboBox*>("modelFormat");
    ASSERT_NE(formats, nullptr);
    EXPECT_TRUE(formats->itemText(0).contains(format == ModelData::kMd2 ? ".md2" : ".mdl"));
    EXPECT_EQ(dialog.Choice().options.format, format);
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.PreviewDone(); }, 20000));
    EXPECT_EQ(dialog.Converted().format, format);
  }
}

}  // namespace
}  // namespace tarn::test
