// Real archives made by other programs.
#include "TestSupport.h"
#include "document/TarnDoc.h"

namespace tarn::test {
namespace {

fs::path Sample(const std::string& rel) { return SamplesDir() / rel; }

TEST(Samples, QuakeTwoLayoutArchiveOpensAndRoundTrips) {
  TARN_REQUIRE_SAMPLES();
  const auto path = Sample("TrenchBroom/lib/TbFsLib/test/fixture/fs/Pak/idpak.pak");
  CTarnDoc doc;
  ASSERT_TRUE(doc.Open(path));
  EXPECT_TRUE(doc.OpenProblems().empty());
  EXPECT_TRUE(doc.CheckArchive().empty());
  EXPECT_EQ(doc.Root().CountFiles(), 11);
  CPackObject* wal = doc.Root().FindByPath("textures/e1u1/brlava.wal");
  ASSERT_NE(wal, nullptr);
  EXPECT_EQ(wal->Size(), 5540);
  EXPECT_EQ(doc.Root().FindByPath("amnet.cfg")->Size(), 419);

  TempDir dir;
  ASSERT_TRUE(doc.Save(dir / "copy.pak"));
  CTarnDoc copy;
  ASSERT_TRUE(copy.Open(dir / "copy.pak"));
  CTarnDoc original;
  ASSERT_TRUE(original.Open(path));
  ForEachFileInSaveOrder(original.Root(), [&](const std::string& p, const CPackObject&) {
    EXPECT_EQ(Load(copy.Root().FindByPath(p)), Load(original.Root().FindByPath(p))) << p;
  });
  EXPECT_EQ(copy.Root().CountFiles(), 11);
}

TEST(Samples, MinimalArchiveReadsItsText) {
  TARN_REQUIRE_SAMPLES();
  CTarnDoc doc;
  ASSERT_TRUE(doc.Open(Sample("TrenchBroom/lib/TbMdlLib/test/fixture/mdl/GameFileSystem/id1/pak0.pak")));
  EXPECT_EQ(doc.Root().CountFiles(), 3);
  EXPECT_EQ(Load(doc.Root().FindChild("id1_pak0_loose_file.txt")).size(), 4u);
}

TEST(Samples, CorruptAndForeignArchivesOpenWithoutReadingOutside) {
  TARN_REQUIRE_SAMPLES();
  for (const char* rel : {"TrenchBroom/lib/TbMdlLib/test/fixture/mdl/Game/CorruptPak/id1/pak0.pak",
                          "TrenchBroom/lib/TbFsLib/test/fixture/fs/Pak/dkpak_truncated.pak",
                          "TrenchBroom/lib/TbFsLib/test/fixture/fs/Pak/dkpak.pak",
                          "TrenchBroom/lib/TbFsLib/test/fixture/fs/Pak/dkpak_duplicate_name.pak"}) {
    CTarnDoc doc;
    ASSERT_TRUE(doc.Open(Sample(rel))) << rel;
    EXPECT_FALSE(doc.OpenProblems().empty()) << rel;
    EXPECT_FALSE(doc.CheckArchive().empty()) << rel;
    // Whatever the records say, loading reads only what lies inside the file.
    ForEachFileInSaveOrder(doc.Root(), [&](const std::string&, const CPackObject& f) {
      auto* e = const_cast<CPackObject*>(&f);
      if (e->LoadData()) {
        EXPECT_EQ(e->Data()->size(), static_cast<std::size_t>(e->Size()));
        e->ReleaseData();
      }
    });
    // Exporting the damaged tree writes nothing outside the chosen folder.
    TempDir out;
    auto inner = out / "inner";
    doc.Root().ExportToDisk(inner);
    for (const auto& e : fs::directory_iterator(out.path())) EXPECT_EQ(e.path(), inner) << rel;
  }
}

TEST(Samples, NonArchivesAreRefused) {
  TARN_REQUIRE_SAMPLES();
  CTarnDoc doc;
  EXPECT_FALSE(doc.Open(Sample("LibreQuake/lq1/gfx/palette.lmp")));
  EXPECT_FALSE(doc.Open(Sample("TrenchBroom/lib/TbFsLib/test/fixture/fs/Wad/too_small.wad")));
}

}  // namespace
}  // namespace tarn::test
