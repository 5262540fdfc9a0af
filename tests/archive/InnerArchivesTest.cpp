// Archives inside the document's archive, opened, edited in place and saved through it.
#include "CliSupport.h"
#include "TestSupport.h"
#include "containers/WadFormat.h"
#include "document/TarnDoc.h"
#include "document/UndoStack.h"

namespace tarn::test {
namespace {

Bytes Wad(const std::vector<std::pair<std::string, std::string>>& lumps) {
  std::vector<WadLump> built;
  for (const auto& [name, text] : lumps) built.push_back({name, ToBytes(text), wad::kPicture});
  return BuildWad(ContainerFormat::Wad2, built);
}

// New bytes for a file, as an edit gives them.
void Give(CPackObject& file, const Bytes& bytes) {
  file.SetData(bytes);
  file.SetSize(static_cast<std::int64_t>(bytes.size()));
}

class Inner : public ::testing::Test {
 protected:
  TempDir dir;
  CTarnDoc doc;
  Bytes wad = Wad({{"conchars", "chars"}, {"colormap", "colours"}});
  Bytes other = ToBytes(std::string(5000, 'q'));

  void OpenOuter() {
    WriteFile(dir / "pak0.pak", PakBuilder().File("gfx.wad", wad).File("progs/player.mdl", other).Build());
    ASSERT_TRUE(doc.Open(dir / "pak0.pak")) << doc.LastError();
  }
  CPackObject* OpenWad() {
    std::string why;
    CPackObject* root = doc.OpenInner(*doc.Root().FindByPath("gfx.wad"), &why);
    EXPECT_TRUE(root) << why;
    return root;
  }
  // Renames an inner lump as the window does: one recorded change of the document.
  void RenameLump(CPackObject& lump, const std::string& name) {
    auto edit = std::make_unique<CTreeEdit>("Rename");
    ASSERT_TRUE(edit->Rename(lump, name));
    doc.Record(std::move(edit));
  }
};

TEST_F(Inner, EditSavedInnerThenOuterAndReopened) {
  OpenOuter();
  CPackObject* root = OpenWad();
  ASSERT_TRUE(root);
  EXPECT_EQ(root->Format(), ContainerFormat::Wad2);
  EXPECT_EQ(doc.InnerRoot(*doc.Root().FindByPath("gfx.wad")), root);
  EXPECT_EQ(doc.OpenInner(*doc.Root().FindByPath("gfx.wad"), nullptr), root) << "opened once";
  CPackObject* lump = root->FindChild("conchars.lmp");
  ASSERT_TRUE(lump);
  EXPECT_EQ(doc.FullPath(*lump), "gfx.wad/conchars.lmp");
  EXPECT_EQ(doc.FindFullPath("gfx.wad/conchars.lmp"), lump);
  EXPECT_EQ(doc.FullPath(*root), "gfx.wad");
  EXPECT_EQ(doc.HolderOf(*root), doc.Root().FindByPath("gfx.wad"));

  RenameLump(*lump, "conback.lmp");
  Give(*lump, ToBytes("new chars"));
  ASSERT_TRUE(doc.Save(dir / "pak0.pak")) << doc.LastError();

  CTarnDoc again;
  ASSERT_TRUE(again.Open(dir / "pak0.pak"));
  EXPECT_EQ(Load(again.Root().FindByPath("progs/player.mdl")), other) << "the rest kept byte for byte";
  CPackObject* reopened = again.OpenInner(*again.Root().FindByPath("gfx.wad"), nullptr);
  ASSERT_TRUE(reopened);
  EXPECT_EQ(Load(reopened->FindChild("conback.lmp")), ToBytes("new chars"));
  EXPECT_EQ(Load(reopened->FindChild("colormap.lmp")), ToBytes("colours"));
  EXPECT_FALSE(reopened->FindChild("conchars.lmp"));

  // The tree stays open after the save, and a second edit goes through the same file again.
  RenameLump(*root->FindChild("colormap.lmp"), "palette.lmp");
  ASSERT_TRUE(doc.Save(dir / "pak0.pak")) << doc.LastError();
  ASSERT_TRUE(again.Open(dir / "pak0.pak"));
  reopened = again.OpenInner(*again.Root().FindByPath("gfx.wad"), nullptr);
  ASSERT_TRUE(reopened);
  EXPECT_TRUE(reopened->FindChild("palette.lmp"));
  EXPECT_TRUE(reopened->FindChild("conback.lmp"));
}

TEST_F(Inner, UnchangedOrUndoneInnerArchiveKeepsItsBytes) {
  OpenOuter();
  CPackObject* root = OpenWad();
  ASSERT_TRUE(root);
  RenameLump(*root->FindChild("conchars.lmp"), "conback.lmp");
  ASSERT_TRUE(doc.Undo());
  Give(*doc.Root().FindByPath("progs/player.mdl"), ToBytes("other"));
  ASSERT_TRUE(doc.Save(dir / "pak0.pak")) << doc.LastError();
  CTarnDoc again;
  ASSERT_TRUE(again.Open(dir / "pak0.pak"));
  EXPECT_EQ(Load(again.Root().FindByPath("gfx.wad")), wad);
}

TEST_F(Inner, FileGivenOtherBytesClosesItsTree) {
  OpenOuter();
  CPackObject* holder = doc.Root().FindByPath("gfx.wad");
  CPackObject* root = OpenWad();
  ASSERT_TRUE(root);
  RenameLump(*root->FindChild("conchars.lmp"), "conback.lmp");
  const Bytes replaced = Wad({{"other", "x"}});
  Give(*holder, replaced);
  EXPECT_FALSE(doc.InnerRoot(*holder));
  EXPECT_FALSE(doc.FindFullPath("gfx.wad/conback.lmp"));
  ASSERT_TRUE(doc.Save(dir / "pak0.pak")) << doc.LastError();
  CTarnDoc again;
  ASSERT_TRUE(again.Open(dir / "pak0.pak"));
  EXPECT_EQ(Load(again.Root().FindByPath("gfx.wad")), replaced) << "the given bytes win over the old tree";
}

// A lump moved out of the inner archive keeps its bytes, read from the archive it left.
TEST_F(Inner, EntryMovedBetweenInnerAndOuterKeepsItsBytes) {
  OpenOuter();
  CPackObject* root = OpenWad();
  ASSERT_TRUE(root);
  auto edit = std::make_unique<CTreeEdit>("Move");
  ASSERT_TRUE(edit->Move(*root->FindChild("colormap.lmp"), doc.Root()));
  doc.Record(std::move(edit));
  ASSERT_TRUE(doc.Save(dir / "pak0.pak")) << doc.LastError();
  CTarnDoc again;
  ASSERT_TRUE(again.Open(dir / "pak0.pak"));
  EXPECT_EQ(Load(again.Root().FindChild("colormap.lmp")), ToBytes("colours"));
  CPackObject* reopened = again.OpenInner(*again.Root().FindByPath("gfx.wad"), nullptr);
  ASSERT_TRUE(reopened);
  EXPECT_FALSE(reopened->FindChild("colormap.lmp"));
  EXPECT_EQ(Load(reopened->FindChild("conchars.lmp")), ToBytes("chars"));
}

// The file may be destroyed while its opened tree lives on (a discarded undo step held it).
TEST_F(Inner, FileDestroyedLeavesItsTreeHarmless) {
  OpenOuter();
  CPackObject* holder = doc.Root().FindByPath("gfx.wad");
  CPackObject* root = OpenWad();
  ASSERT_TRUE(root);
  CPackObject* lump = root->FindChild("conchars.lmp");
  ASSERT_EQ(doc.Root().RemoveChild(holder), 1);
  EXPECT_FALSE(doc.HolderOf(*root));
  EXPECT_EQ(doc.FullPath(*lump), "conchars.lmp");
  EXPECT_FALSE(doc.FindFullPath("gfx.wad/conchars.lmp"));
  // A new file in the same place is not taken for the old one.
  Give(*doc.Root().AddChild("gfx.wad", false), wad);
  EXPECT_FALSE(doc.InnerRoot(*doc.Root().FindByPath("gfx.wad")));
  ASSERT_TRUE(doc.Save(dir / "pak0.pak")) << doc.LastError();
}

TEST_F(Inner, ArchiveInAnArchiveInAnArchive) {
  const Bytes inner = PakBuilder().File("gfx.wad", wad).File("readme.txt", "hi").Build();
  WriteFile(dir / "outer.pak", PakBuilder().File("mods/inner.pak", inner).Build());
  ASSERT_TRUE(doc.Open(dir / "outer.pak"));
  CPackObject* middle = doc.OpenInner(*doc.Root().FindByPath("mods/inner.pak"), nullptr);
  ASSERT_TRUE(middle);
  CPackObject* deepest = doc.OpenInner(*middle->FindChild("gfx.wad"), nullptr);
  ASSERT_TRUE(deepest);
  EXPECT_EQ(doc.FullPath(*deepest->FindChild("colormap.lmp")), "mods/inner.pak/gfx.wad/colormap.lmp");
  EXPECT_EQ(doc.FindFullPath("mods/inner.pak/gfx.wad/colormap.lmp"), deepest->FindChild("colormap.lmp"));
  Give(*deepest->FindChild("colormap.lmp"), ToBytes("deep edit"));
  ASSERT_TRUE(doc.Save(dir / "outer.pak")) << doc.LastError();

  CTarnDoc again;
  ASSERT_TRUE(again.Open(dir / "outer.pak"));
  CPackObject* m = again.OpenInner(*again.Root().FindByPath("mods/inner.pak"), nullptr);
  ASSERT_TRUE(m);
  EXPECT_EQ(Load(m->FindChild("readme.txt")), ToBytes("hi"));
  CPackObject* d = again.OpenInner(*m->FindChild("gfx.wad"), nullptr);
  ASSERT_TRUE(d);
  EXPECT_EQ(Load(d->FindChild("colormap.lmp")), ToBytes("deep edit"));
}

TEST_F(Inner, RefusalsLeaveTheArchiveAsItWas) {
  WriteFile(dir / "pak0.pak", PakBuilder().File("gfx.wad", wad).File("fake.pak", "not an archive").Build());
  const Bytes before = ReadFile(dir / "pak0.pak");
  ASSERT_TRUE(doc.Open(dir / "pak0.pak"));
  std::string why;
  EXPECT_FALSE(doc.OpenInner(*doc.Root().FindByPath("fake.pak"), &why));
  EXPECT_NE(why.find("fake.pak"), std::string::npos) << why;
  EXPECT_EQ(why.find("tarn-inner"), std::string::npos) << "the private copy is not named: " << why;

  // A WAD holds no directories: the inner save refuses, and so the outer one.
  CPackObject* root = OpenWad();
  ASSERT_TRUE(root);
  Give(*root->AddChild("folder", true)->AddChild("lump", false), ToBytes("x"));
  EXPECT_FALSE(doc.Save(dir / "pak0.pak"));
  EXPECT_NE(doc.LastError().find("gfx.wad"), std::string::npos) << doc.LastError();
  EXPECT_EQ(ReadFile(dir / "pak0.pak"), before);
}

TEST_F(Inner, ADamagedArchiveInsideIsToldAsWhenItIsAlone) {
  // The directory said to lie past the end of the file: nothing of it can be read.
  PutU32(wad, 8, static_cast<std::uint32_t>(wad.size() + 64));
  WriteFile(dir / "gfx.wad", wad);
  WriteFile(dir / "pak0.pak", PakBuilder().File("gfx.wad", wad).Build());
  const Result alone = Tool({"list", (dir / "gfx.wad").string()});
  EXPECT_EQ(alone.rc, 1);
  EXPECT_EQ(alone.err, "tarn-pak: \"" + (dir / "gfx.wad").string() +
                           "\": The WAD's directory is damaged; some lumps may be missing.\n");
  for (const std::string& path : {"gfx.wad", "gfx.wad/"}) {
    const Result inside = Tool({"list", (dir / "pak0.pak").string(), path});
    EXPECT_EQ(inside.rc, 1) << path;
    EXPECT_EQ(inside.err, "tarn-pak: \"" + (dir / "pak0.pak").string() +
                              "/gfx.wad\": The WAD's directory is damaged; some lumps may be missing.\n")
        << path;
  }
  ASSERT_TRUE(doc.Open(dir / "pak0.pak"));
  CPackObject* root = OpenWad();
  ASSERT_TRUE(root);
  ASSERT_NE(doc.InnerDocument(*root), nullptr);
  EXPECT_TRUE(doc.InnerDocument(*root)->DirectoryDamaged());
  EXPECT_EQ(doc.InnerDocument(doc.Root()), nullptr);
}

}  // namespace
}  // namespace tarn::test
