// Comparing archives and folders, and finding entries below folders.
#include "TestSupport.h"
#include "ZipBuilder.h"
#include "containers/WadFormat.h"
#include "game/ArchiveDiff.h"

namespace tarn::test {
namespace {

class ArchiveDiff : public ::testing::Test {
 protected:
  TempDir dir;
  std::string Lines(const DiffResult& r) {
    std::string s;
    for (const DiffLine& l : r.lines) s += std::string(1, l.mark) + " " + l.path + "\n";
    return s;
  }
};

TEST_F(ArchiveDiff, ArchivesAndFoldersPathByPath) {
  WriteFile(dir / "a.pak", PakBuilder().File("same.txt", "1").File("gone.txt", "2").File("Maps/x.bsp", "abc").Build());
  WriteFile(dir / "b.pak", PakBuilder().File("maps/X.BSP", "abd").File("same.txt", "1").File("new.txt", "3").Build());
  const DiffResult r = DiffArchives(dir / "a.pak", dir / "b.pak");
  EXPECT_TRUE(r.errors.empty());
  // Same size, other bytes: told apart; paths in any case are one path, shown as the first has it.
  EXPECT_EQ(Lines(r), "- gone.txt\nM Maps/x.bsp\n+ new.txt\n");
  EXPECT_TRUE(DiffArchives(dir / "a.pak", dir / "a.pak").lines.empty());

  // A folder holding what the archive holds is the same.
  WriteFile(dir / "out/same.txt", "1");
  WriteFile(dir / "out/gone.txt", "2");
  WriteFile(dir / "out/maps/x.bsp", "abc");
  EXPECT_TRUE(DiffArchives(dir / "a.pak", dir / "out").lines.empty());
  WriteFile(dir / "out/MAPS/X.BSP", "abc");
  EXPECT_EQ(DiffArchives(dir / "out", dir / "a.pak").warnings.size(), 1u);

  WriteFile(dir / "bad.pak", PakBuilder().Raw("lost.txt", 5, 900).File("gone.txt", "2").Build());
  WriteFile(dir / "lost.pak", PakBuilder().File("lost.txt", Bytes(900, 1)).Build());
  const DiffResult broken = DiffArchives(dir / "bad.pak", dir / "lost.pak");
  ASSERT_EQ(broken.errors.size(), 1u);
  EXPECT_NE(broken.errors[0].find("cannot compare \"lost.txt\""), std::string::npos);
  EXPECT_EQ(DiffArchives(dir / "a.pak", dir / "missing.pak").errors.size(), 1u);
}

TEST_F(ArchiveDiff, Wildcards) {
  EXPECT_TRUE(WildcardMatch("maps/*.bsp", "MAPS/E1M1.BSP"));
  EXPECT_TRUE(WildcardMatch("*.wav", "sound/misc/a.wav"));
  EXPECT_TRUE(WildcardMatch("e?m*", "e1m1"));
  EXPECT_TRUE(WildcardMatch("**a*b", "xxaxxb"));
  EXPECT_FALSE(WildcardMatch("e?m", "em"));
  EXPECT_FALSE(WildcardMatch("*.bsp", "maps/a.bsp.bak"));
  EXPECT_TRUE(WildcardMatch("", ""));
  EXPECT_FALSE(WildcardMatch("", "a"));
}

TEST_F(ArchiveDiff, FindGoesThroughEveryArchiveAndLooseFileAndPastBrokenOnes) {
  WriteFile(dir / "q/id1/pak0.pak", PakBuilder().File("maps/e1m1.bsp", "m").File("progs/a.mdl", "p").Build());
  WriteFile(dir / "q/mod/sub/extra.pak", PakBuilder().File("maps/Start.bsp", "s").Build());
  WriteFile(dir / "q/mod/maps/loose.bsp", "l");
  WriteFile(dir / "q/mod/broken.pk3", "not a zip");
  WriteFile(dir / "q/mod/notes.txt", "n");
  std::vector<std::string> hits, errors;
  FindEntries(
      {dir / "q"}, "*maps/*.BSP",
      [&](const fs::path& source, const std::string& path) {
        hits.push_back(fs::relative(source, dir.path()).string() + " " + path);
      },
      errors);
  EXPECT_EQ(hits, (std::vector<std::string>{"q/id1/pak0.pak maps/e1m1.bsp", "q/mod/maps/loose.bsp mod/maps/loose.bsp",
                                            "q/mod/sub/extra.pak maps/Start.bsp"}));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("broken.pk3"), std::string::npos);
  hits.clear();
  errors.clear();
  FindEntries(
      {dir / "q/id1/pak0.pak"}, "progs/*", [&](const fs::path&, const std::string& p) { hits.push_back(p); }, errors);
  EXPECT_EQ(hits, std::vector<std::string>{"progs/a.mdl"});
  EXPECT_TRUE(IsSearchedArchive("x.WAD") && IsSearchedArchive("a.pk3") && !IsSearchedArchive("a.txt"));
}

// Other containers side by side: a pk3 (its directory's CRCs tell changed members apart without
// inflating them) against a pak, a folder and another pk3; two WADs lump by lump.
TEST_F(ArchiveDiff, ZipsAndWads) {
  WriteFile(dir / "a.pak", PakBuilder().File("same.txt", "1").File("maps/x.bsp", "abc").Build());
  WriteFile(dir / "a.pk3", ZipBuilder().Deflated("same.txt", ToBytes("1")).Stored("Maps/X.bsp", "abd").Build());
  EXPECT_EQ(Lines(DiffArchives(dir / "a.pak", dir / "a.pk3")), "M maps/x.bsp\n");
  WriteFile(dir / "out/same.txt", "1");
  WriteFile(dir / "out/Maps/X.bsp", "abd");
  EXPECT_TRUE(DiffArchives(dir / "a.pk3", dir / "out").lines.empty());
  ZipBuilder lying;
  lying.Stored("same.txt", "1").Stored("Maps/X.bsp", "abd").Last().crc ^= 1;
  WriteFile(dir / "b.pk3", lying.Build());
  EXPECT_EQ(Lines(DiffArchives(dir / "a.pk3", dir / "b.pk3")), "M Maps/X.bsp\n");

  WriteFile(dir / "a.wad", BuildWad(ContainerFormat::Wad2, {{"wall", Bytes(40, 1), 'D'}, {"pal", Bytes(768, 2), '@'}}));
  WriteFile(dir / "b.wad", BuildWad(ContainerFormat::Wad2, {{"WALL", Bytes(40, 3), 'D'}, {"pal", Bytes(768, 2), 'B'}}));
  EXPECT_EQ(Lines(DiffArchives(dir / "a.wad", dir / "b.wad")), "+ pal.lmp\n- pal.pal\nM wall.mip\n");
}

TEST_F(ArchiveDiff, FindInsideZipsAndWadsPastADamagedZip) {
  WriteFile(dir / "q/mod/pak0.pk3", ZipBuilder().Deflated("Maps/Start.bsp", ToBytes("s")).Build());
  WriteFile(dir / "q/mod/tex.wad", BuildWad(ContainerFormat::Wad3, {{"Start", Bytes(40, 1), 'C'}}));
  WriteFile(dir / "q/mod/cut.pk3", ZipBuilder().Stored("maps/start.bsp", "x").Build(true));
  std::vector<std::string> hits, errors;
  FindEntries(
      {dir / "q"}, "*start*",
      [&](const fs::path& source, const std::string& path) { hits.push_back(source.filename().string() + " " + path); },
      errors);
  EXPECT_EQ(hits, (std::vector<std::string>{"pak0.pk3 Maps/Start.bsp", "tex.wad Start.mip"}));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("cut.pk3"), std::string::npos) << errors[0];
}

}  // namespace
}  // namespace tarn::test
