#include "TestSupport.h"
#include "ZipBuilder.h"
#include "document/TarnDoc.h"
#include "document/UndoStack.h"

namespace tarn::test {
namespace {

class Undo : public ::testing::Test {
 protected:
  TempDir dir;
  CTarnDoc doc;
  fs::path OpenPak(const Bytes& bytes) {
    const fs::path p = dir / "a.pak";
    WriteFile(p, bytes);
    EXPECT_TRUE(doc.Open(p)) << doc.LastError();
    return p;
  }
  std::vector<std::string> Names(const CPackObject& d) {
    std::vector<std::string> n;
    for (const CPackObject* c : d.Children()) n.push_back(c->Name());
    return n;
  }
};

TEST_F(Undo, AnUndoneDeleteBringsBackTheVeryBytesInTheirPlace) {
  const fs::path pak = OpenPak(PakBuilder()
                                   .File("a.txt", "alpha")
                                   .File("maps/e1m1.bsp", "first map")
                                   .File("maps/e1m2.bsp", "second")
                                   .File("z.txt", "zed")
                                   .Build());
  WriteFile(dir / "new.wav", "imported bytes");
  std::string why;
  ASSERT_NE(doc.Root().FindChild("maps")->ImportFile(dir / "new.wav", {}, &why), nullptr) << why;

  auto edit = std::make_unique<CTreeEdit>("Delete 2 entries");
  edit->Remove(*doc.Root().FindChild("maps"));
  edit->Remove(*doc.Root().FindChild("a.txt"));
  doc.Record(std::move(edit));
  EXPECT_EQ(Names(doc.Root()), std::vector<std::string>{"z.txt"});
  ASSERT_EQ(doc.History().NextUndo()->Text(), "Delete 2 entries");

  // The archive is saved without them (the old file replaced) and the imported file is gone.
  fs::remove(dir / "new.wav");
  ASSERT_TRUE(doc.Save(pak)) << doc.LastError();
  EXPECT_FALSE(doc.IsModified());
  ASSERT_TRUE(doc.Undo());
  EXPECT_TRUE(doc.IsModified());  // the saved state is the one without them
  EXPECT_EQ(Names(doc.Root()), (std::vector<std::string>{"a.txt", "maps", "z.txt"}));
  EXPECT_EQ(Load(doc.Root().FindByPath("maps/e1m1.bsp")), ToBytes("first map"));
  EXPECT_EQ(Load(doc.Root().FindByPath("maps/new.wav")), ToBytes("imported bytes"));
  EXPECT_EQ(Load(doc.Root().FindChild("a.txt")), ToBytes("alpha"));

  // Saved again, they are in the new file, and the tree reads it from then on.
  ASSERT_TRUE(doc.Save(pak)) << doc.LastError();
  CTarnDoc check;
  ASSERT_TRUE(check.Open(pak));
  EXPECT_EQ(Load(check.Root().FindByPath("maps/e1m2.bsp")), ToBytes("second"));
  EXPECT_EQ(Load(check.Root().FindByPath("maps/new.wav")), ToBytes("imported bytes"));
  EXPECT_EQ(doc.Root().FindByPath("maps/e1m2.bsp")->Source(), doc.Root().Source());

  // Redo deletes them again; undo to the start and redo to the end walk the same states.
  ASSERT_TRUE(doc.Redo());
  EXPECT_EQ(Names(doc.Root()), std::vector<std::string>{"z.txt"});
  EXPECT_TRUE(doc.IsModified());
  EXPECT_FALSE(doc.Redo());
}

TEST_F(Undo, RenameMoveAndInsertGoBackAndForth) {
  OpenPak(PakBuilder().File("a/x.txt", "x").File("a/y.txt", "y").File("b/x.txt", "other x").Build());
  CPackObject& a = *doc.Root().FindChild("a");
  CPackObject& b = *doc.Root().FindChild("b");
  CPackObject& x = *a.FindChild("x.txt");

  auto edit = std::make_unique<CTreeEdit>("Move");
  EXPECT_FALSE(edit->Move(a, a));  // not into itself
  EXPECT_TRUE(edit->Move(x, b));
  EXPECT_EQ(x.Name(), "x(2).txt");  // the name is taken there
  EXPECT_FALSE(edit->Rename(x, "x.txt"));
  EXPECT_TRUE(edit->Rename(x, "moved.txt"));
  auto fresh = std::make_unique<CPackObject>();
  fresh->Rename("New");
  fresh->SetDirectory(true);
  CPackObject* made = edit->Insert(a, std::move(fresh));
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->Name(), "new");
  doc.Record(std::move(edit));
  EXPECT_EQ(Names(a), (std::vector<std::string>{"y.txt", "new"}));
  EXPECT_EQ(Names(b), (std::vector<std::string>{"x.txt", "moved.txt"}));

  ASSERT_TRUE(doc.Undo());
  EXPECT_EQ(Names(a), (std::vector<std::string>{"x.txt", "y.txt"}));
  EXPECT_EQ(Names(b), std::vector<std::string>{"x.txt"});
  EXPECT_EQ(x.Parent(), &a);
  EXPECT_EQ(Load(&x), ToBytes("x"));
  ASSERT_TRUE(doc.Redo());
  EXPECT_EQ(Names(a), (std::vector<std::string>{"y.txt", "new"}));
  EXPECT_EQ(b.FindChild("moved.txt"), &x);
  EXPECT_EQ(Load(&x), ToBytes("x"));
}

TEST_F(Undo, TheModifiedMarkFollowsTheSavedState) {
  const fs::path pak = OpenPak(PakBuilder().File("a.txt", "a").Build());
  auto rename = [&](const std::string& to) {
    auto edit = std::make_unique<CTreeEdit>("Rename");
    ASSERT_TRUE(edit->Rename(**doc.Root().Children().begin(), to));
    doc.Record(std::move(edit));
  };
  rename("b.txt");
  rename("c.txt");
  EXPECT_TRUE(doc.IsModified());
  ASSERT_TRUE(doc.Save(pak));
  EXPECT_EQ(doc.History().Count(), 2u);  // saving keeps the history
  ASSERT_TRUE(doc.Undo());
  EXPECT_TRUE(doc.IsModified());
  ASSERT_TRUE(doc.Redo());
  EXPECT_FALSE(doc.IsModified());
  // A change made after undoing past the saved state can never come back to it.
  ASSERT_TRUE(doc.Undo());
  rename("d.txt");
  ASSERT_TRUE(doc.Undo());
  EXPECT_TRUE(doc.IsModified());
  // Opening forgets it all.
  ASSERT_TRUE(doc.Open(pak));
  EXPECT_FALSE(doc.History().CanUndo());
  EXPECT_FALSE(doc.IsModified());
}

TEST_F(Undo, AWholeTreeIsReplacedAndComesBack) {
  OpenPak(PakBuilder().File("old.txt", "old").Build());
  auto other = std::make_unique<CPackObject>();
  other->Rename("root");
  other->SetDirectory(true);
  other->AddChild("new.txt", false);
  doc.Record(std::make_unique<CReplaceTree>("Convert", doc.ExchangeRoot(std::move(other))));
  EXPECT_NE(doc.Root().FindChild("new.txt"), nullptr);
  ASSERT_TRUE(doc.Undo());
  EXPECT_EQ(Load(doc.Root().FindChild("old.txt")), ToBytes("old"));
  ASSERT_TRUE(doc.Redo());
  EXPECT_EQ(doc.Root().FindChild("old.txt"), nullptr);
}

TEST(CountedEntries, NamesOneAndCountsMore) {
  EXPECT_EQ(CountedEntries(1, "pop.wav"), "\"pop.wav\"");
  EXPECT_EQ(CountedEntries(1), "1 entry");
  EXPECT_EQ(CountedEntries(3, "x"), "3 entries");
}

TEST_F(Undo, AnUndoneDeleteInAZipReadsTheZipItCameFrom) {
  const fs::path pk3 = dir / "a.pk3";
  WriteFile(pk3, ZipBuilder().Deflated("maps/e1m1.bsp", Bytes(5000, 7)).Stored("z.txt", "zed").Build());
  ASSERT_TRUE(doc.Open(pk3)) << doc.LastError();
  auto edit = std::make_unique<CTreeEdit>("Delete \"maps\"");
  edit->Remove(*doc.Root().FindChild("maps"));
  doc.Record(std::move(edit));
  ASSERT_TRUE(doc.Save(pk3)) << doc.LastError();
  ASSERT_TRUE(doc.Undo());
  EXPECT_EQ(Load(doc.Root().FindByPath("maps/e1m1.bsp")), Bytes(5000, 7));
  // Saved again, its compressed bytes are copied from the zip it was deleted from.
  ASSERT_TRUE(doc.Save(pk3)) << doc.LastError();
  CTarnDoc check;
  ASSERT_TRUE(check.Open(pk3)) << check.LastError();
  EXPECT_EQ(Load(check.Root().FindByPath("maps/e1m1.bsp")), Bytes(5000, 7));
  EXPECT_EQ(Load(check.Root().FindChild("z.txt")), ToBytes("zed"));
  EXPECT_TRUE(check.CheckArchive().empty());
}

TEST_F(Undo, ASaveInAnotherFormatIsUndoneToTheArchiveItWas) {
  const fs::path pak = OpenPak(PakBuilder().File("maps/e1m1.bsp", "map").File("a.txt", "alpha").Build());
  ASSERT_TRUE(doc.Save(dir / "mod.pk3")) << doc.LastError();
  EXPECT_EQ(doc.Format(), ContainerFormat::Zip);
  ASSERT_NE(doc.History().NextUndo(), nullptr);
  EXPECT_EQ(doc.History().NextUndo()->Text(), "Convert to ZIP");
  EXPECT_FALSE(doc.IsModified());

  ASSERT_TRUE(doc.Undo());
  EXPECT_EQ(doc.Format(), ContainerFormat::Pak);
  EXPECT_EQ(doc.PathName(), pak);
  EXPECT_TRUE(doc.IsModified());  // the state saved last is the zip's
  EXPECT_EQ(Load(doc.Root().FindByPath("maps/e1m1.bsp")), ToBytes("map"));

  ASSERT_TRUE(doc.Redo());
  EXPECT_EQ(doc.Format(), ContainerFormat::Zip);
  EXPECT_EQ(doc.PathName(), dir / "mod.pk3");
  EXPECT_FALSE(doc.IsModified());
  EXPECT_EQ(Load(doc.Root().FindChild("a.txt")), ToBytes("alpha"));
}

}  // namespace
}  // namespace tarn::test
