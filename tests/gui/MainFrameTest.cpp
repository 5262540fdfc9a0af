#include <QClipboard>
#include <QDropEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QTreeView>
#include <QUrl>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QLabel>
#include <QPushButton>

#include "GuiSupport.h"
#include "dialogs/Prompter.h"
#include "dialogs/Settings.h"

namespace tarn::test {
namespace {

Bytes SamplePak() {
  return PakBuilder()
      .File("autoexec.cfg", "bind x")
      .File("maps/e1m1.bsp", "map")
      .File("maps/e1m2.bsp", "map2")
      .File("progs/ogre.mdl", "IDPO")
      .File("progs/player.mdl", "IDPO")
      .File("sound/misc/pop.wav", "RIFF")
      .File("gfx/conback.lmp", "pic")
      .File("readme", "r")
      .Build();
}

std::vector<std::string> TreeChildren(browser::CPackTreeModel* m, const QModelIndex& parent) {
  std::vector<std::string> names;
  for (int r = 0; r < m->rowCount(parent); ++r) names.push_back(m->EntryOf(m->index(r, 0, parent))->Name());
  return names;
}

TEST_F(GuiTest, OpenedArchiveFillsTreeAndList) {
  OpenPak(SamplePak());
  auto* m = Tree()->TreeModel();
  QModelIndex root = m->index(0, 0);
  EXPECT_EQ(m->EntryOf(root), &doc.Root());
  EXPECT_TRUE(Tree()->isExpanded(root));
  EXPECT_EQ(TreeChildren(m, root), (std::vector<std::string>{"gfx", "maps", "progs", "sound"}));
  EXPECT_EQ(TreeChildren(m, m->IndexOf(doc.Root().FindChild("sound"))), std::vector<std::string>{"misc"});
  EXPECT_EQ(Tree()->SelectedDirectory(), &doc.Root());
  // Directories first, then files, each by name.
  EXPECT_EQ(ListNames(), (std::vector<std::string>{"gfx", "maps", "progs", "sound", "autoexec.cfg", "readme"}));
  auto* lm = List()->ListModel();
  EXPECT_EQ(lm->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), "Name");
  EXPECT_EQ(lm->headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), "Size");
  EXPECT_EQ(lm->data(lm->index(4, 1), Qt::DisplayRole).toString(), "6 bytes");
  EXPECT_FALSE(lm->data(lm->index(0, 1), Qt::DisplayRole).isValid());  // directories show no size

  ShowDir("maps");
  EXPECT_EQ(ListNames(), (std::vector<std::string>{"e1m1.bsp", "e1m2.bsp"}));
  EXPECT_EQ(frame->windowTitle(), "test.pak[*] - Tarn");
  EXPECT_NE(frame->StatusText().indexOf("2 entries"), -1);
}

TEST_F(GuiTest, EnablingFollowsFocusAndSelection) {
  OpenPak(SamplePak());
  // Tree focused on the root: nothing may rename, delete or climb above it.
  FocusTree();
  ASSERT_TRUE(frame->IsTreeFocused());
  EXPECT_TRUE(Enabled("actionNewDirectory"));
  EXPECT_FALSE(Enabled("actionRename"));
  EXPECT_FALSE(Enabled("actionDelete"));
  EXPECT_TRUE(Enabled("actionImportFile"));
  EXPECT_TRUE(Enabled("actionImportDirectory"));
  EXPECT_FALSE(Enabled("actionExportFile"));
  EXPECT_TRUE(Enabled("actionExportDirectory"));
  EXPECT_FALSE(Enabled("actionUpOneLevel"));
  EXPECT_FALSE(Enabled("actionView"));
  ShowDir("progs");
  FocusTree();
  EXPECT_TRUE(Enabled("actionRename"));
  EXPECT_TRUE(Enabled("actionDelete"));
  EXPECT_TRUE(Enabled("actionUpOneLevel"));

  // List focused, no row selected.
  FocusList();
  SelectRows({});
  ASSERT_FALSE(frame->IsTreeFocused());
  EXPECT_FALSE(Enabled("actionRename"));
  EXPECT_FALSE(Enabled("actionDelete"));
  EXPECT_TRUE(Enabled("actionImportFile"));  // into the shown directory
  EXPECT_FALSE(Enabled("actionExportFile"));
  EXPECT_FALSE(Enabled("actionExportDirectory"));
  EXPECT_FALSE(Enabled("actionView"));
  EXPECT_FALSE(Enabled("actionViewSkin"));
  EXPECT_FALSE(Enabled("actionExtractTextures"));

  // One model selected.
  SelectRows({"ogre.mdl"});
  EXPECT_TRUE(Enabled("actionRename"));
  EXPECT_TRUE(Enabled("actionDelete"));
  EXPECT_TRUE(Enabled("actionImportFile"));  // into the directory shown
  EXPECT_TRUE(Enabled("actionExportFile"));
  EXPECT_FALSE(Enabled("actionExportDirectory"));
  EXPECT_TRUE(Enabled("actionView"));
  EXPECT_TRUE(Enabled("actionViewSkin"));
  EXPECT_FALSE(Enabled("actionExtractTextures"));

  // Two selected.
  SelectRows({"ogre.mdl", "player.mdl"});
  EXPECT_FALSE(Enabled("actionRename"));
  EXPECT_TRUE(Enabled("actionDelete"));
  EXPECT_TRUE(Enabled("actionImportFile"));
  EXPECT_FALSE(Enabled("actionExportFile"));
  EXPECT_TRUE(Enabled("actionExportDirectory"));
  EXPECT_FALSE(Enabled("actionView"));

  // Maps: Extract Textures only when every selected row is a map; View never.
  ShowDir("maps");
  FocusList();
  SelectRows({"e1m1.bsp", "e1m2.bsp"});
  EXPECT_TRUE(Enabled("actionExtractTextures"));
  SelectRows({"e1m1.bsp"});
  EXPECT_TRUE(Enabled("actionView"));  // every file opens: a map in the hex view
  EXPECT_TRUE(Enabled("actionExtractTextures"));

  // One directory selected in the list: import goes into it.
  ShowDir("");
  FocusList();
  SelectRows({"maps"});
  EXPECT_TRUE(Enabled("actionImportFile"));
  EXPECT_FALSE(Enabled("actionExportFile"));
  EXPECT_TRUE(Enabled("actionExportDirectory"));
  SelectRows({"maps", "autoexec.cfg"});
  EXPECT_TRUE(Enabled("actionImportFile"));
  // A name without a known ending opens too (as text or bytes).
  SelectRows({"readme"});
  EXPECT_TRUE(Enabled("actionView"));
}

TEST_F(GuiTest, NewDirectoryTwiceGivesUntitledThenUntitled1) {
  OpenPak(SamplePak());
  ShowDir("maps");
  FocusTree();
  Action("actionNewDirectory")->trigger();
  EXPECT_EQ(Tree()->SelectedDirectory()->PathInArchive(), "maps/untitled");
  ShowDir("maps");
  Action("actionNewDirectory")->trigger();
  EXPECT_EQ(Tree()->SelectedDirectory()->PathInArchive(), "maps/untitled1");
  EXPECT_TRUE(doc.IsModified());
  EXPECT_TRUE(frame->isWindowModified());
  EXPECT_TRUE(Tree()->isExpanded(Tree()->TreeModel()->IndexOf(doc.Root().FindChild("maps"))));
}

TEST_F(GuiTest, RenameRefusesTakenAndEmptyNames) {
  OpenPak(SamplePak());
  ShowDir("progs");
  FocusList();
  SelectRows({"ogre.mdl"});
  prompter->newName = "player.mdl";
  Action("actionRename")->trigger();
  ASSERT_EQ(prompter->shown.size(), 1u);
  EXPECT_NE(prompter->shown[0].text.indexOf("already exists"), -1);
  prompter->newName = "";
  Action("actionRename")->trigger();
  ASSERT_EQ(prompter->shown.size(), 2u);
  EXPECT_NE(prompter->shown[1].text.indexOf("empty"), -1);
  EXPECT_EQ(ListNames(), (std::vector<std::string>{"ogre.mdl", "player.mdl"}));
  EXPECT_FALSE(doc.IsModified());

  prompter->newName = "knight.mdl";
  Action("actionRename")->trigger();
  EXPECT_EQ(ListNames(), (std::vector<std::string>{"knight.mdl", "player.mdl"}));
  EXPECT_EQ(List()->SelectedEntries().front()->Name(), "knight.mdl");
  EXPECT_TRUE(doc.IsModified());

  // A directory renamed from the tree keeps its place in the tree under the new name.
  ShowDir("sound");
  FocusTree();
  prompter->newName = "audio";
  Action("actionRename")->trigger();
  EXPECT_EQ(Tree()->SelectedDirectory()->Name(), "audio");
  EXPECT_TRUE(Tree()->isExpanded(Tree()->TreeModel()->index(0, 0)));
}

TEST_F(GuiTest, RenameStoresLowerCaseAndRefusesANameTakenInAnyCase) {
  OpenPak(PakBuilder()
              .File("ktx.cfg", "k")
              .File("server.cfg", "s")
              .File("textures/a.wal", "w")
              .File("tex/b.wal", "b")
              .Build());
  FocusList();
  SelectRows({"ktx.cfg"});
  prompter->newName = "SERVER.CFG";
  Action("actionRename")->trigger();
  ASSERT_EQ(prompter->shown.size(), 1u);
  EXPECT_EQ(prompter->shown[0].text, "An entry named \"server.cfg\" already exists in this directory.");
  prompter->newName = "Autoexec.CFG";
  Action("actionRename")->trigger();
  EXPECT_NE(doc.Root().FindChild("autoexec.cfg"), nullptr);
  // A directory renamed from the tree to another's name in capitals is refused, not merged later.
  ShowDir("tex");
  FocusTree();
  prompter->newName = "Textures";
  Action("actionRename")->trigger();
  EXPECT_EQ(prompter->shown.size(), 2u);
  EXPECT_NE(doc.Root().FindChild("tex"), nullptr);
}

TEST_F(GuiTest, RealRenameDialogRenames) {
  OpenPak(SamplePak());
  frame->SetPrompter(std::make_unique<dialogs::CPrompter>());
  ShowDir("gfx");
  FocusList();
  SelectRows({"conback.lmp"});
  QTimer::singleShot(0, [] {
    QWidget* dialog = QApplication::activeModalWidget();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->objectName(), "renameDialog");
    auto* edit = dialog->findChild<QLineEdit*>("renameEdit");
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->text(), "conback.lmp");
    edit->setText("console.lmp");
    QTest::keyClick(edit, Qt::Key_Return);
  });
  Action("actionRename")->trigger();
  EXPECT_EQ(ListNames(), std::vector<std::string>{"console.lmp"});
}

TEST_F(GuiTest, DeletingTheShownDirectoryShowsItsParent) {
  OpenPak(SamplePak());
  ShowDir("sound/misc");
  FocusTree();
  Action("actionDelete")->trigger();
  EXPECT_EQ(Tree()->SelectedDirectory(), doc.Root().FindChild("sound"));
  EXPECT_EQ(List()->CurrentDirectory(), doc.Root().FindChild("sound"));
  EXPECT_TRUE(ListNames().empty());
  EXPECT_TRUE(doc.IsModified());

  // Deleting rows from the list keeps the directory shown.
  ShowDir("progs");
  FocusList();
  SelectRows({"ogre.mdl", "player.mdl"});
  QTest::keyClick(List()->ActiveView(), Qt::Key_Delete);
  EXPECT_TRUE(ListNames().empty());
  EXPECT_EQ(List()->CurrentDirectory(), doc.Root().FindChild("progs"));
}

TEST_F(GuiTest, ImportReportsUnreadableFilesOnce) {
  OpenPak(SamplePak());
  WriteFile(dir / "good.txt", "good");
  const QString missing1 = QString::fromStdString((dir / "missing1.txt").string());
  const QString missing2 = QString::fromStdString((dir / "missing2.txt").string());
  ShowDir("gfx");
  FocusTree();
  prompter->openFiles = {QString::fromStdString((dir / "good.txt").string()), missing1, missing2};
  Action("actionImportFile")->trigger();
  ASSERT_EQ(prompter->shown.size(), 1u);
  const Shown& m = prompter->shown[0];
  EXPECT_EQ(m.caption, "Import Error");
  EXPECT_EQ(m.icon, QMessageBox::Question);
  EXPECT_EQ(m.text, "Could not import files :\n  " + missing1 + "\n  " + missing2 +
                        "\nFiles may be in use by another application");
  EXPECT_EQ(ListNames(), (std::vector<std::string>{"conback.lmp", "good.txt"}));
  EXPECT_EQ(Load(doc.Root().FindByPath("gfx/good.txt")), ToBytes("good"));
  EXPECT_TRUE(doc.IsModified());

  prompter->openFiles = {missing1};
  Action("actionImportFile")->trigger();
  EXPECT_EQ(prompter->shown.back().text,
            "Could not import " + missing1 + "\nFile may be in use by another application");
}

void Drop(QWidget* target, QPoint at, const QList<QUrl>& urls) {
  QMimeData mime;
  mime.setUrls(urls);
  DropOn(target, at, &mime);
}

TEST_F(GuiTest, DropsImportWhereThePointerIs) {
  OpenPak(SamplePak());
  WriteFile(dir / "dropped.wav", "RIFF....");
  WriteFile(dir / "folder" / "inner.txt", "inner");
  const QUrl file = QUrl::fromLocalFile(QString::fromStdString((dir / "dropped.wav").string()));
  ShowDir("maps");
  // Empty space below the tree's items: the root.
  QWidget* vp = Tree()->viewport();
  Drop(vp, QPoint(vp->width() / 2, vp->height() - 5), {file});
  EXPECT_NE(doc.Root().FindChild("dropped.wav"), nullptr);
  EXPECT_EQ(Tree()->SelectedDirectory(), &doc.Root());

  // On a directory row of the list: into that directory; a dropped folder comes with its files.
  List()->SetViewType(browser::CPackListView::kDetails);
  QApplication::processEvents();
  auto* details = List()->DetailsView();
  const int row = List()->ListModel()->RowOf(doc.Root().FindChild("progs"));
  QRect r = details->visualRect(List()->ListModel()->index(row, 0));
  Drop(details->viewport(), r.center(), {file, QUrl::fromLocalFile(QString::fromStdString((dir / "folder").string()))});
  EXPECT_NE(doc.Root().FindByPath("progs/dropped.wav"), nullptr);
  EXPECT_EQ(Load(doc.Root().FindByPath("progs/folder/inner.txt")), ToBytes("inner"));
}

TEST_F(GuiTest, ContextMenusOfferWhatFitsTheEntry) {
  OpenPak(SamplePak());
  auto texts = [&] {
    std::vector<std::string> t;
    auto menu = frame->BuildContextMenu();
    for (QAction* a : menu->actions())
      if (!a->isSeparator()) t.push_back(QString(a->text()).remove('&').toStdString());
    return t;
  };
  ShowDir("maps");
  FocusList();
  SelectRows({"e1m1.bsp"});
  const std::vector<std::string> edits{"Cut", "Copy", "Paste", "Duplicate"};
  auto with = [&](std::vector<std::string> t, std::vector<std::string> tail) {
    t.insert(t.end(), edits.begin(), edits.end());
    t.insert(t.end(), tail.begin(), tail.end());
    return t;
  };
  EXPECT_EQ(texts(), with({"Rename", "Export File", "Export for Engine", "View object", "Extract textures"},
                          {"Replace from File", "Delete"}));
  ShowDir("progs");
  FocusList();
  SelectRows({"ogre.mdl"});
  EXPECT_EQ(texts(), with({"Rename", "Export File", "Export for Engine", "View object", "View object skin"},
                          {"Replace from File", "Delete"}));
  ShowDir("");
  FocusList();
  SelectRows({"maps"});
  EXPECT_EQ(texts(), with({"Rename", "Import File", "Create directory", "Export to directory", "Export as PNG",
                           "Export for Engine"},
                          {"Delete"}));
  // Items follow the menu's enabling.
  auto menu = frame->BuildContextMenu();
  EXPECT_TRUE(menu->findChild<QAction*>("context_actionImportFile")->isEnabled());
  EXPECT_TRUE(menu->findChild<QAction*>("context_actionExportDirectory")->isEnabled());

  // Create directory on a directory row makes the new directory inside that one.
  menu->findChild<QAction*>("context_actionNewDirectory")->trigger();
  EXPECT_NE(doc.Root().FindByPath("maps/untitled"), nullptr);
  EXPECT_EQ(doc.Root().FindChild("untitled"), nullptr);
}

TEST_F(GuiTest, DetailsColumnsShareTheWidth) {
  Action("actionDetails")->trigger();
  frame->resize(700, 400);
  QApplication::processEvents();
  auto* details = List()->DetailsView();
  const int width = details->viewport()->width();
  EXPECT_EQ(details->columnWidth(0), width / 2);
  EXPECT_EQ(details->columnWidth(1), width / 5);
  EXPECT_EQ(details->columnWidth(0) + details->columnWidth(1) + details->columnWidth(2), width);
  EXPECT_TRUE(Action("actionDetails")->isChecked());
}

TEST_F(GuiTest, StyleAndPlacementSurviveARestart) {
  frame.reset();
  dialogs::OpenSettings()->clear();
  frame = std::make_unique<browser::CMainFrame>(doc);
  frame->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
  // Nothing saved yet: the first window's place.
  EXPECT_EQ(frame->size(), dialogs::FirstPlace(frame->screen()->availableGeometry()).size());
  EXPECT_EQ(List()->ViewType(), browser::CPackListView::kLargeIcons);

  Action("actionList")->trigger();
  frame->resize(640, 480);
  QApplication::processEvents();
  const QPoint pos = frame->pos();
  frame->close();
  frame.reset();

  frame = std::make_unique<browser::CMainFrame>(doc);
  EXPECT_EQ(List()->ViewType(), browser::CPackListView::kList);
  EXPECT_TRUE(Action("actionList")->isChecked());
  frame->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
  EXPECT_EQ(frame->size(), QSize(640, 480));
  EXPECT_EQ(frame->pos(), pos);
  auto s = dialogs::OpenSettings();
  EXPECT_EQ(s->value("Startup/ListViewStyle").toInt(), 3);
  EXPECT_EQ(s->value("Startup/WindowWidth").toInt(), 640);
}

TEST(WindowPlacement, ASavedPlaceIsFittedToTheScreensThereAreNow) {
  const QList<QRect> one{QRect(0, 0, 1600, 1000)};
  EXPECT_EQ(dialogs::FitToScreens(QRect(100, 50, 600, 400), one), QRect(100, 50, 600, 400));
  EXPECT_EQ(dialogs::FitToScreens(QRect(1590, 990, 600, 400), one), QRect(1000, 600, 600, 400));
  EXPECT_EQ(dialogs::FitToScreens(QRect(-5000, 20, 2000, 1200), one), QRect(0, 0, 1600, 1000));
  // Across two screens it stays; half below the second one, it comes up onto it.
  const QList<QRect> two{QRect(0, 0, 1600, 1000), QRect(1600, 0, 1280, 1024)};
  EXPECT_EQ(dialogs::FitToScreens(QRect(1400, 100, 600, 400), two), QRect(1400, 100, 600, 400));
  EXPECT_EQ(dialogs::FitToScreens(QRect(2000, 900, 600, 400), two), QRect(2000, 624, 600, 400));
}

TEST_F(GuiTest, AWindowSavedBeyondTheScreenOpensOnIt) {
  frame->close();
  frame.reset();
  {
    auto s = dialogs::OpenSettings();
    s->setValue("Startup/WindowX", 5000);
    s->setValue("Startup/WindowY", 4000);
  }
  frame = std::make_unique<browser::CMainFrame>(doc);
  frame->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
  EXPECT_TRUE(frame->screen()->availableGeometry().contains(frame->geometry()))
      << frame->geometry().x() << "," << frame->geometry().y();
  dialogs::OpenSettings()->clear();
}

// Every item of every menu is reached by a letter of its own there, and the context menu by the
// Menu key or Shift+F10 as by a click.
TEST_F(GuiTest, EveryMenuItemHasALetterOfItsOwn) {
  auto letters = [](QMenu* menu) {
    std::map<QString, QStringList> taken;
    for (QAction* a : menu->actions())
      if (!a->isSeparator()) {
        const QKeySequence key = QKeySequence::mnemonic(a->text());
        EXPECT_FALSE(key.isEmpty()) << menu->title().toStdString() << ": " << a->text().toStdString();
        if (!key.isEmpty()) taken[key.toString()] << a->text();
      }
    for (const auto& [key, texts] : taken)
      EXPECT_EQ(texts.size(), 1) << menu->title().toStdString() << ": " << texts.join(", ").toStdString();
  };
  std::function<void(QMenu*)> walk = [&](QMenu* menu) {
    letters(menu);
    for (QAction* a : menu->actions())
      if (a->menu()) walk(a->menu());
  };
  QMenu bar;  // the menu bar's own titles, as one menu
  for (QAction* a : frame->menuBar()->actions()) {
    bar.addAction(a->text());
    walk(a->menu());
  }
  letters(&bar);

  OpenPak(SamplePak());
  ShowDir("maps");
  FocusList();
  SelectRows({"e1m1.bsp"});
  auto popup = [&](QWidget* target, int key, Qt::KeyboardModifiers modifiers) {
    QStringList texts;
    QTimer::singleShot(0, [&] {
      if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
        letters(menu);
        for (QAction* a : menu->actions())
          if (!a->isSeparator()) texts << QString(a->text()).remove('&');
        menu->close();
      }
    });
    QTest::keyClick(target, static_cast<Qt::Key>(key), modifiers);
    return texts;
  };
  const QStringList onMap{
      "Rename", "Export File", "Export for Engine", "View object", "Extract textures", "Cut", "Copy",
      "Paste",  "Duplicate",   "Replace from File", "Delete"};
  EXPECT_EQ(popup(List()->ActiveView(), Qt::Key_F10, Qt::ShiftModifier), onMap);
  EXPECT_EQ(popup(List()->ActiveView(), Qt::Key_Menu, Qt::NoModifier), onMap);
  FocusTree();
  EXPECT_EQ(popup(Tree(), Qt::Key_F10, Qt::ShiftModifier).value(0), "Rename");
}

// The question before closing a changed archive, as the real message box asks it.
TEST(Prompter, SaveDiscardAndCancelEachHaveALetter) {
  dialogs::CPrompter prompter;
  QStringList texts;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    for (QAbstractButton* b : box->buttons()) texts << b->text();
    box->button(QMessageBox::Cancel)->click();
  });
  EXPECT_EQ(prompter.Message(nullptr, "Save changes to test.pak?", "Tarn", QMessageBox::Warning,
                             QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel),
            QMessageBox::Cancel);
  ASSERT_EQ(texts.size(), 3);
  QStringList keys;
  for (const QString& t : texts) keys << QKeySequence::mnemonic(t).toString();
  EXPECT_FALSE(keys.contains(QString())) << texts.join(", ").toStdString();
  keys.removeDuplicates();
  EXPECT_EQ(keys.size(), 3) << texts.join(", ").toStdString();
}

TEST_F(GuiTest, SaveChangesPromptHasThreeAnswers) {
  auto path = OpenPak(SamplePak());
  const Bytes before = ReadFile(path);
  ShowDir("");
  FocusTree();
  Action("actionNewDirectory")->trigger();
  ASSERT_TRUE(doc.IsModified());

  prompter->answers = {QMessageBox::Cancel};
  EXPECT_FALSE(frame->close());
  EXPECT_TRUE(frame->isVisible());
  EXPECT_TRUE(doc.IsModified());
  EXPECT_NE(doc.Root().FindChild("untitled"), nullptr);
  EXPECT_EQ(prompter->shown.back().text, "Save changes to test.pak?");

  // Save: the archive is written (with a file added so that the change shows) and New goes on.
  WriteFile(dir / "added.txt", "added");
  prompter->openFiles = {QString::fromStdString((dir / "added.txt").string())};
  ShowDir("");
  FocusTree();
  Action("actionImportFile")->trigger();
  prompter->answers = {QMessageBox::Save};
  Action("actionNew")->trigger();
  EXPECT_NE(ReadFile(path), before);
  EXPECT_EQ(doc.Root().ChildCount(), 0u);
  CTarnDoc check;
  ASSERT_TRUE(check.Open(path));
  EXPECT_EQ(Load(check.Root().FindChild("added.txt")), ToBytes("added"));

  // Discard: nothing written, the window closes.
  ASSERT_TRUE(frame->OpenArchive(QString::fromStdString(path.string())));
  FocusTree();
  Action("actionNewDirectory")->trigger();
  const Bytes saved = ReadFile(path);
  prompter->answers = {QMessageBox::Discard};
  EXPECT_TRUE(frame->close());
  EXPECT_EQ(ReadFile(path), saved);
}

TEST_F(GuiTest, CopyAndPasteCarryEntriesAndBytes) {
  OpenPak(SamplePak());
  ShowDir("progs");
  FocusList();
  SelectRows({"ogre.mdl"});
  Action("actionCopy")->trigger();
  ASSERT_TRUE(QApplication::clipboard()->mimeData()->hasFormat(browser::kPackObjectMime));
  ShowDir("maps");
  FocusTree();
  EXPECT_TRUE(Enabled("actionPaste"));
  Action("actionPaste")->trigger();
  EXPECT_EQ(Load(doc.Root().FindByPath("maps/ogre.mdl")), ToBytes("IDPO"));
  Action("actionPaste")->trigger();
  EXPECT_NE(doc.Root().FindByPath("maps/ogre(2).mdl"), nullptr);  // Keep Both
  EXPECT_EQ(prompter->conflicts, QStringList{"ogre.mdl"});

  // Garbage in the clipboard is refused with a message, not a crash.
  auto* mime = new QMimeData;
  mime->setData(browser::kPackObjectMime, QByteArray("\x01\x00\x00\x00garbage", 11));
  QApplication::clipboard()->setMimeData(mime);
  Action("actionPaste")->trigger();
  ASSERT_FALSE(prompter->shown.empty());
  EXPECT_EQ(prompter->shown.back().caption, "Paste");
}

TEST_F(GuiTest, NavigationByDoubleClickEnterAndUpOneLevel) {
  OpenPak(SamplePak());
  List()->SetViewType(browser::CPackListView::kDetails);
  FocusList();
  QApplication::processEvents();
  auto* details = List()->DetailsView();
  const int row = List()->ListModel()->RowOf(doc.Root().FindChild("sound"));
  QRect r = details->visualRect(List()->ListModel()->index(row, 0));
  QTest::mouseClick(details->viewport(), Qt::LeftButton, Qt::NoModifier, r.center());
  QTest::mouseDClick(details->viewport(), Qt::LeftButton, Qt::NoModifier, r.center());
  EXPECT_EQ(List()->CurrentDirectory(), doc.Root().FindChild("sound"));
  SelectRows({"misc"});
  QTest::keyClick(details, Qt::Key_Return);
  EXPECT_EQ(List()->CurrentDirectory(), doc.Root().FindByPath("sound/misc"));
  Action("actionUpOneLevel")->trigger();
  EXPECT_EQ(List()->CurrentDirectory(), doc.Root().FindChild("sound"));
  // Tab moves between the views.
  FocusTree();
  QTest::keyClick(Tree(), Qt::Key_Tab);
  EXPECT_FALSE(frame->IsTreeFocused());
  QTest::keyClick(List()->ActiveView(), Qt::Key_Tab);
  EXPECT_TRUE(frame->IsTreeFocused());
}

TEST_F(GuiTest, SaveAsksBeforeBreakingLinksOrOverwritingOthersChanges) {
  auto path = OpenPak(SamplePak());
  fs::create_hard_link(path, dir / "twin.pak");
  const Bytes before = ReadFile(path);
  auto editAndSave = [&](QMessageBox::StandardButton answer) {
    FocusTree();
    Action("actionNewDirectory")->trigger();
    prompter->answers = {answer};
    Action("actionSave")->trigger();
  };
  editAndSave(QMessageBox::No);
  ASSERT_EQ(prompter->shown.size(), 1u);
  EXPECT_NE(prompter->shown[0].text.indexOf("1 other name (hard links)"), -1);
  EXPECT_TRUE(prompter->shown[0].text.endsWith("\n\nSave anyway?"));
  EXPECT_TRUE(doc.IsModified());
  EXPECT_EQ(ReadFile(path), before);

  // Saved anyway: the other name keeps the old archive.
  WriteFile(dir / "added.txt", "added");
  frame->ImportPaths(&doc.Root(), {QString::fromStdString((dir / "added.txt").string())});
  prompter->answers = {QMessageBox::Yes};
  Action("actionSave")->trigger();
  EXPECT_FALSE(doc.IsModified());
  EXPECT_EQ(ReadFile(dir / "twin.pak"), before);

  // Another program saves the archive meanwhile: its version stays unless the user overwrites it.
  CTarnDoc other;
  ASSERT_TRUE(other.Open(path));
  other.Root().AddChild("theirs", false);
  ASSERT_TRUE(other.Save(path));
  const Bytes theirs = ReadFile(path);
  editAndSave(QMessageBox::No);
  ASSERT_EQ(prompter->shown.size(), 3u);
  EXPECT_EQ(prompter->shown[2].text, "\"" + QString::fromStdString(path.string()) +
                                         "\" has been changed on disk since it was opened or last saved.\n\n"
                                         "Overwrite it with this version?");
  EXPECT_EQ(ReadFile(path), theirs);
  prompter->answers = {QMessageBox::Yes};
  Action("actionSave")->trigger();
  EXPECT_FALSE(doc.IsModified());
  EXPECT_NE(ReadFile(path), theirs);
}

TEST_F(GuiTest, FailedSavesAndExportsNameTheFileAndTheReason) {
  OpenPak(SamplePak());
  fs::create_directories(dir / "folder.pak");
  prompter->saveFile = QString::fromStdString((dir / "folder.pak").string());
  Action("actionSaveAs")->trigger();
  ASSERT_EQ(prompter->shown.size(), 1u);
  EXPECT_EQ(prompter->shown[0].text, "Error 1 replacing file\n\"" + prompter->saveFile + "\": Is a directory");
  EXPECT_EQ(prompter->shown[0].caption, "Error");

  // Export To File neither writes through a link nor leaves a part of a file.
  WriteFile(dir / "precious.txt", "precious");
  fs::create_symlink(dir / "precious.txt", dir / "link.txt");
  ShowDir("");
  FocusList();
  SelectRows({"autoexec.cfg"});
  prompter->saveFile = QString::fromStdString((dir / "link.txt").string());
  Action("actionExportFile")->trigger();
  ASSERT_EQ(prompter->shown.size(), 2u);
  EXPECT_EQ(prompter->shown[1].text,
            "Could not export " + prompter->saveFile + ": a link of that name in the folder would lead elsewhere.");
  EXPECT_EQ(ReadFile(dir / "precious.txt"), ToBytes("precious"));
  prompter->saveFile = QString::fromStdString((dir / "out.cfg").string());
  Action("actionExportFile")->trigger();
  EXPECT_EQ(prompter->shown.size(), 2u);
  EXPECT_EQ(ReadFile(dir / "out.cfg"), ToBytes("bind x"));
}

TEST_F(GuiTest, BadArchivesLeaveTheWindowAsItWas) {
  OpenPak(SamplePak());
  WriteFile(dir / "bad.pak", "not an archive at all");
  EXPECT_FALSE(frame->OpenArchive(QString::fromStdString((dir / "bad.pak").string())));
  ASSERT_EQ(prompter->shown.size(), 1u);
  EXPECT_EQ(prompter->shown[0].caption, "Error");
  EXPECT_NE(doc.Root().FindChild("maps"), nullptr);
  EXPECT_EQ(ListNames().size(), 6u);

  // A damaged archive opens, says so once, and marks what cannot be read.
  WriteFile(dir / "damaged.pak", PakBuilder().File("ok.txt", "fine").Raw("lost.bsp", 12, 1 << 20).Build());
  ASSERT_TRUE(frame->OpenArchive(QString::fromStdString((dir / "damaged.pak").string())));
  ASSERT_EQ(prompter->shown.size(), 2u);
  EXPECT_EQ(prompter->shown[1].caption, "Damaged archive");
  WriteFile(dir / "twice.pak", PakBuilder().File("a.txt", "1").File("A.TXT", "2").Build());
  ASSERT_TRUE(frame->OpenArchive(QString::fromStdString((dir / "twice.pak").string())));
  ASSERT_EQ(prompter->shown.size(), 3u);
  EXPECT_EQ(prompter->shown[2].caption, "Archive names");  // both kept as they are: no damage
  EXPECT_NE(prompter->shown[2].text.indexOf("\"a.txt\" and \"A.TXT\" differ only in case"), -1);
  ASSERT_TRUE(frame->OpenArchive(QString::fromStdString((dir / "damaged.pak").string())));
  auto* lm = List()->ListModel();
  const int row = lm->RowOf(doc.Root().FindChild("lost.bsp"));
  EXPECT_TRUE(lm->data(lm->index(row, 0), Qt::ToolTipRole).isValid());
}

// A left click on the row's name, as the user gives it, in whichever view shows the style.
TEST_F(GuiTest, AClickedItemIsTheSelectionInEveryStyle) {
  OpenPak(SamplePak());
  std::vector<std::string> viewed;
  frame->SetViewHandler([&](browser::CMainFrame&, CPackObject& e, bool) { viewed.push_back(e.Name()); });
  int n = 0;
  for (const char* style : {"actionLargeIcons", "actionSmallIcons", "actionList", "actionDetails"}) {
    SCOPED_TRACE(style);
    Action(style)->trigger();
    ShowDir("progs");
    FocusList();
    ClickRow(List(), List()->ListModel()->RowOf(doc.Root().FindByPath("progs/ogre.mdl")));
    ASSERT_EQ(List()->SelectedEntries().size(), 1u);
    EXPECT_NE(frame->StatusText().indexOf("1 selected"), -1);
    for (const char* command : {"actionRename", "actionDelete", "actionCopy", "actionExportFile", "actionView"})
      EXPECT_TRUE(Enabled(command)) << command;
    // Enter views it, F2 renames it, Delete removes it: each reaches the clicked entry.
    QTest::keyClick(List()->ActiveView(), Qt::Key_Return);
    EXPECT_EQ(viewed.size(), static_cast<std::size_t>(++n));
    QTest::keyClick(List()->ActiveView(), Qt::Key_F2);
    auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    ASSERT_NE(editor, nullptr);
    editor->selectAll();
    QTest::keyClicks(editor, QString("renamed%1.mdl").arg(n));
    QTest::keyClick(editor, Qt::Key_Return);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return doc.Root().FindByPath("progs/renamed" + std::to_string(n) + ".mdl") != nullptr; }, 5000));
    QTest::keyClick(List()->ActiveView(), Qt::Key_Delete);
    EXPECT_EQ(doc.Root().FindByPath("progs/renamed" + std::to_string(n) + ".mdl"), nullptr);
    doc.Root().FindChild("progs")->AddChild("ogre.mdl", false);
  }
}

TEST_F(GuiTest, TabIntoTheListSelectsTheFirstRow) {
  OpenPak(SamplePak());
  Action("actionList")->trigger();
  FocusTree();
  QTest::keyClick(Tree(), Qt::Key_Tab);
  ASSERT_EQ(List()->SelectedEntries().size(), 1u);
  EXPECT_EQ(List()->SelectedEntries().front()->Name(), "gfx");
  QTest::keyClick(List()->ActiveView(), Qt::Key_Down);
  ASSERT_EQ(List()->SelectedEntries().size(), 1u);
  EXPECT_EQ(List()->SelectedEntries().front()->Name(), "maps");
}

}  // namespace
}  // namespace tarn::test

namespace tarn::test {
namespace {

TEST_F(GuiTest, PasteOntoTakenNamesAsksReplaceKeepBothOrSkip) {
  OpenPak(PakBuilder()
              .File("a/x.txt", "new x")
              .File("a/y.txt", "new y")
              .File("a/z.txt", "new z")
              .File("b/x.txt", "old x")
              .File("b/y.txt", "old y")
              .File("b/z.txt", "old z")
              .Build());
  ShowDir("a");
  FocusList();
  SelectRows({"x.txt", "y.txt", "z.txt"});
  Action("actionCopy")->trigger();
  ShowDir("b");
  FocusTree();
  using dialogs::ConflictChoice;
  prompter->conflictAnswers = {
      {ConflictChoice::Replace, false}, {ConflictChoice::Skip, false}, {ConflictChoice::KeepBoth, false}};
  Action("actionPaste")->trigger();
  EXPECT_EQ(prompter->conflicts, (QStringList{"x.txt", "y.txt", "z.txt"}));
  EXPECT_EQ(Load(doc.Root().FindByPath("b/x.txt")), ToBytes("new x"));
  EXPECT_EQ(Load(doc.Root().FindByPath("b/y.txt")), ToBytes("old y"));
  EXPECT_EQ(Load(doc.Root().FindByPath("b/z.txt")), ToBytes("old z"));
  EXPECT_EQ(Load(doc.Root().FindByPath("b/z(2).txt")), ToBytes("new z"));
  EXPECT_EQ(doc.Root().FindByPath("b/y(2).txt"), nullptr);

  // "Do this for all": asked once.
  prompter->conflicts.clear();
  prompter->conflictAnswers = {{ConflictChoice::Skip, true}};
  Action("actionPaste")->trigger();
  EXPECT_EQ(prompter->conflicts, QStringList{"x.txt"});
  EXPECT_EQ(ListNames(), (std::vector<std::string>{"x.txt", "y.txt", "z(2).txt", "z.txt"}));
}

TEST_F(GuiTest, ExportReportsWhatWentWhereInTheStatusBar) {
  OpenPak(SamplePak());
  ShowDir("maps");
  FocusList();
  SelectRows({"e1m1.bsp"});
  prompter->saveFile = QString::fromStdString((dir / "one.bsp").string());
  Action("actionExportFile")->trigger();
  EXPECT_EQ(frame->statusBar()->currentMessage(), "1 file exported to " + prompter->saveFile);
  ShowDir("");
  FocusList();
  SelectRows({"maps"});
  prompter->folder = QString::fromStdString((dir / "out").string());
  fs::create_directories(dir / "out");
  Action("actionExportDirectory")->trigger();
  EXPECT_EQ(frame->statusBar()->currentMessage(), "2 files exported to " + prompter->folder);
  EXPECT_EQ(ReadFile(dir / "out" / "maps" / "e1m2.bsp"), ToBytes("map2"));
}

TEST_F(GuiTest, CommandsSayWhatTheyDo) {
  // Tooltips: the name and the shortcut in brackets; every command has a status-bar tip.
  EXPECT_EQ(Action("actionSave")->toolTip(), "Save (Ctrl+S)");
  EXPECT_EQ(Action("actionDelete")->toolTip(), "Delete (Del)");
  EXPECT_EQ(Action("actionOpen")->toolTip(), "Open (Ctrl+O)");
  EXPECT_EQ(Action("actionLargeIcons")->toolTip(), "Large Icons");
  for (QAction* a : frame->actions()) {
    EXPECT_FALSE(a->toolTip().contains('\t')) << a->objectName().toStdString();
    EXPECT_FALSE(a->statusTip().isEmpty()) << a->objectName().toStdString();
  }
  // The list-style pictures are four different pictures, none of them the About picture.
  auto picture = [&](const char* name) { return Action(name)->icon().pixmap(16, 16).toImage(); };
  const QImage about = picture("actionAbout");
  std::vector<QImage> styles;
  for (const char* name : {"actionLargeIcons", "actionSmallIcons", "actionList", "actionDetails"}) {
    styles.push_back(picture(name));
    EXPECT_NE(styles.back(), about) << name;
    EXPECT_NE(styles.back(),
              QApplication::style()->standardIcon(QStyle::SP_FileDialogContentsView).pixmap(16, 16).toImage());
  }
  for (std::size_t i = 0; i < styles.size(); ++i)
    for (std::size_t j = i + 1; j < styles.size(); ++j) EXPECT_NE(styles[i], styles[j]);
}

TEST_F(GuiTest, CtrlQQuits) {
  EXPECT_TRUE(frame->isVisible());
  QTest::keyClick(frame.get(), Qt::Key_Q, Qt::ControlModifier);
  EXPECT_FALSE(frame->isVisible());
}

TEST_F(GuiTest, ACancelledSaveLeavesTheOldArchiveAndTheModifiedMark) {
  auto path = OpenPak(SamplePak());
  const Bytes before = ReadFile(path);
  // An entry whose bytes come through a pipe that the test fills only once Cancel is pressed:
  // the save is still running when the dialog shows, however fast the machine.
  const fs::path pipe = dir / "slow";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  CPackObject* slow = doc.Root().AddChild("slow.bin", false);
  slow->SetSize(1000);
  slow->SetTempFile(pipe.string(), false);
  doc.SetModified();
  bool cancelled = false;
  QString shownStatus;
  QTimer poll;
  poll.setInterval(20);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    QWidget* dialog = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->objectName() == "workDialog" && w->isVisible()) dialog = w;
    if (!dialog) return;
    poll.stop();
    EXPECT_EQ(dialog->windowTitle(), "Saving");
    QTest::mouseClick(dialog->findChild<QPushButton*>("workCancel"), Qt::LeftButton);
    shownStatus = dialog->findChild<QLabel*>("workStatus")->text();
    cancelled = true;
    const int fd = ::open(pipe.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    const Bytes bytes(1000, 7);
    EXPECT_EQ(::write(fd, bytes.data(), bytes.size()), 1000);
    ::close(fd);
  });
  poll.start();
  Action("actionSave")->trigger();  // back once the worker has stopped
  EXPECT_TRUE(cancelled);
  EXPECT_EQ(shownStatus, "Stopping...");
  EXPECT_EQ(ReadFile(path), before);
  EXPECT_TRUE(doc.IsModified());
  EXPECT_TRUE(frame->isWindowModified());
  EXPECT_NE(frame->statusBar()->currentMessage().indexOf("cancelled"), -1);
  EXPECT_TRUE(prompter->shown.empty());  // no error box: the user asked for it
  for (const auto& e : fs::directory_iterator(dir.path()))
    EXPECT_TRUE(e.path().filename() == "test.pak" || e.path().filename() == "slow") << e.path();
  doc.Root().RemoveChild(slow);
}

}  // namespace
}  // namespace tarn::test
