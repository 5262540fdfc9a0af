// Game folders built here, one engine's rules at a time; each expectation names the engine
// code it comes from. Packages named .pk3 hold PAK bytes: the order depends on names only, and
// Tarn reads a container by its content.
#include "TestSupport.h"
#include "ZipBuilder.h"
#include "archive/PackObject.h"
#include "game/GameFolder.h"
#include "game/LoadOrder.h"

namespace tarn::test {
namespace {

class GameFolder : public ::testing::Test {
 protected:
  TempDir dir;
  fs::path Pak(const std::string& path, const std::string& member = "maps/a.bsp", const std::string& data = "x") {
    WriteFile(dir / path, PakBuilder().File(member, data).Build());
    return dir / path;
  }
  void Zip(const std::string& path, const std::string& member = "maps/a.bsp", const std::string& data = "x") {
    WriteFile(dir / path, ZipBuilder().Deflated(member, ToBytes(data)).Build());
  }
  // Where each copy of path comes from, the loaded one first, as names below the test folder.
  std::vector<std::string> Copies(const char* engine, std::vector<std::string> folders, const std::string& path) {
    std::vector<fs::path> paths;
    for (auto& f : folders) paths.push_back(dir / f);
    CGameView view = CGameView::LoadFolders(*FindEngineProfile(engine), paths);
    std::vector<std::string> out;
    for (GameCopy c : view.Lookup(path)) out.push_back(fs::relative(view.Location(c), dir.path()).string());
    return out;
  }
  std::vector<std::string> Passed(const char* engine, const std::string& folder) {
    CGameView view = CGameView::LoadFolders(*FindEngineProfile(engine), {dir / folder});
    std::vector<std::string> out;
    for (const PassedOver& p : view.Passed()) out.push_back(p.path.filename().string());
    return out;
  }
};

using Names = std::vector<std::string>;

TEST_F(GameFolder, ProfilesAndTheirEngineNames) {
  EXPECT_EQ(FindEngineProfile("Ironwail"), FindEngineProfile("quake"));
  EXPECT_EQ(FindEngineProfile("vkquake"), &DefaultEngineProfile());
  EXPECT_EQ(FindEngineProfile("quakespasm-spiked")->id, Engine::Qss);
  EXPECT_EQ(FindEngineProfile("fteqw")->id, Engine::Fte);
  EXPECT_EQ(FindEngineProfile("doom"), nullptr);
}

// id-Software/Quake WinQuake/common.c COM_AddGameDirectory: the folder, then pak0.pak, pak1.pak,
// ... each ahead of the last, until one is missing; COM_InitFilesystem adds a mod after id1.
TEST_F(GameFolder, QuakeLaterPaksWinOverEarlierAndOverLooseFilesUntilAGap) {
  MakeRegistered(dir / "id1");
  Pak("id1/pak0.pak");
  Pak("id1/pak1.pak");
  Pak("id1/pak3.pak");
  WriteFile(dir / "id1/maps/a.bsp", "loose");
  EXPECT_EQ(Copies("quake", {"id1"}, "maps/a.bsp"), (Names{"id1/pak1.pak", "id1/pak0.pak", "id1/maps/a.bsp"}));
  EXPECT_EQ(Passed("quake", "id1"), Names{"pak3.pak"});
  WriteFile(dir / "mod/maps/a.bsp", "mod");
  EXPECT_EQ(Copies("quake", {"id1", "mod"}, "maps/a.bsp").front(), "mod/maps/a.bsp");
  EXPECT_EQ(Copies("rerelease", {"id1"}, "maps/a.bsp").front(), "id1/pak1.pak");
  EXPECT_EQ(Copies("quake", {"id1", "id1/"}, "maps/a.bsp").size(), 3u);  // a folder is added once
}

// Pak members are compared with strcmp (COM_FindFile) and pakN.pak is opened by that exact name,
// where FTE (fs_pak.c FSPAK_FLocate) and Quake II (qcommon/files.c FS_FOpenFile) take any case.
TEST_F(GameFolder, NamesCompareAsTheEngineComparesThem) {
  Pak("id1/pak0.pak", "Maps/A.bsp");
  Pak("id1/PAK1.PAK");
  CGameView quake = CGameView::LoadFolders(DefaultEngineProfile(), {dir / "id1"});
  EXPECT_TRUE(quake.Lookup("maps/a.bsp").empty());
  ASSERT_EQ(quake.OtherCase("maps/a.bsp").size(), 1u);
  EXPECT_EQ(quake.Lookup("Maps/A.bsp").size(), 1u);
  EXPECT_EQ(Passed("quake", "id1"), Names{"PAK1.PAK"});
  EXPECT_EQ(Copies("quake2", {"id1"}, "maps/a.bsp"), Names{"id1/pak0.pak"});
  EXPECT_EQ(Copies("fte", {"id1"}, "MAPS/A.BSP"), (Names{"id1/PAK1.PAK", "id1/pak0.pak"}));
}

// sezero/quakespasm Quake/common.c COM_LoadPackFile ignores a pak without files, and the
// numbering ends there; id-Software/Quake-2 qcommon/files.c loads it and skips gaps anyway.
TEST_F(GameFolder, AnEmptyPakEndsQuakesNumberingButNotQuakeIIs) {
  Pak("id1/pak0.pak");
  WriteFile(dir / "id1/pak1.pak", PakBuilder().Build());
  Pak("id1/pak2.pak");
  EXPECT_EQ(Copies("quake", {"id1"}, "maps/a.bsp"), Names{"id1/pak0.pak"});
  EXPECT_EQ(Passed("quake", "id1"), (Names{"pak1.pak", "pak2.pak"}));
  EXPECT_EQ(Copies("quake2", {"id1"}, "maps/a.bsp"), (Names{"id1/pak2.pak", "id1/pak0.pak"}));
  Pak("id1/pak10.pak");
  EXPECT_EQ(Passed("quake2", "id1"), Names{"pak10.pak"});
}

// Alex3474247/Quakespasm-Spiked quakespasm/Quake/common.c COM_AddGameDirectoryBase: pak.lst
// first, then pak%i.pak and pak%i.pk3 in turn, then every other *.pak and *.pk3, then the
// folder itself; .zip only through pak.lst.
TEST_F(GameFolder, QuakespasmSpikedOrder) {
  Pak("mod/pak0.pak");
  Pak("mod/pak0.pk3");
  Pak("mod/pak2.pak");
  Pak("mod/extra.PK3");
  Pak("mod/listed.zip");
  Pak("mod/unlisted.zip");
  WriteFile(dir / "mod/pak.lst", "// first\n\"listed.zip\" ../evil.pak\n");
  WriteFile(dir / "mod/maps/a.bsp", "loose");
  EXPECT_EQ(Copies("qss", {"mod"}, "maps/a.bsp"), (Names{"mod/maps/a.bsp", "mod/pak2.pak", "mod/extra.PK3",
                                                         "mod/pak0.pk3", "mod/pak0.pak", "mod/listed.zip"}));
  EXPECT_EQ(Passed("qss", "mod"), Names{"unlisted.zip"});
  EXPECT_EQ(ParsePakList("a.pak // b.pak\n\"c d.pk3\" e:f"), (Names{"a.pak", "c d.pk3", "e", ":", "f"}));
}

// fteqw engine/common/fs.c FS_AddDataFiles: per type (pak, PAK, pk3dir, pk3, pk4) the numbered
// packages until a gap, then per type every other one by its exact extension; FS_AddPathHandle
// links the folder last.
TEST_F(GameFolder, FteOrder) {
  Pak("mod/pak0.pak");
  Pak("mod/pak2.pak");
  Pak("mod/pak0.pk3");
  Pak("mod/other.PAK");
  Pak("mod/mixed.Pk3");
  WriteFile(dir / "mod/tex.pk3dir/maps/a.bsp", "dir");
  EXPECT_EQ(Copies("fte", {"mod"}, "maps/a.bsp"),
            (Names{"mod/tex.pk3dir/maps/a.bsp", "mod/other.PAK", "mod/pak2.pak", "mod/pak0.pk3", "mod/pak0.pak"}));
  EXPECT_EQ(Passed("fte", "mod"), Names{"mixed.Pk3"});
}

// Yamagi Quake II 8.20 src/common/filesystem.c FS_AddDirToSearchPath: the folder, then per type
// (pak, pk2, pk3, pkz, zip) pak0 to pak99 with gaps skipped, then every other pack but those
// named pak0 to pak99 in any case. FS_FOpenFile tries a loose name lower-cased too.
TEST_F(GameFolder, YamagiOrder) {
  for (const char* name : {"pak0.pak", "pak9.pak", "pak0.pk3", "mine.pak", "pakfoo.pak", "pak01.pak", "PAK1.pak"})
    Pak(std::string("baseq2/") + name);
  WriteFile(dir / "baseq2/maps/a.bsp", "loose");
  EXPECT_EQ(Copies("yamagi", {"baseq2"}, "MAPS/A.BSP"),
            (Names{"baseq2/pakfoo.pak", "baseq2/pak01.pak", "baseq2/mine.pak", "baseq2/pak0.pk3", "baseq2/pak9.pak",
                   "baseq2/pak0.pak", "baseq2/maps/a.bsp"}));
  EXPECT_EQ(Passed("yamagi", "baseq2"), Names{"PAK1.pak"});
  // maps.lst and players/ come from loose files alone while no mod is set.
  Pak("baseq2/pak2.pak", "players/male/a.pcx");
  EXPECT_TRUE(Copies("yamagi", {"baseq2"}, "players/male/a.pcx").empty());
  fs::create_directories(dir / "mod");
  EXPECT_EQ(Copies("yamagi", {"baseq2", "mod"}, "players/male/a.pcx"), Names{"baseq2/pak2.pak"});
}

// Each engine's own reading of a pak header (EnginePak.cpp): what stops it, what it skips.
TEST_F(GameFolder, PakHeadersAsEachEngineReadsThem) {
  MakeRegistered(dir / "q");
  Pak("q/pak0.pak");
  Bytes past = PakBuilder().File("maps/a.bsp", "x").Build();
  PutU32(past, 4, 4096);  // the directory past the end of the file
  WriteFile(dir / "q/pak1.pak", past);
  Pak("q/pak2.pak");
  CGameView quake = CGameView::LoadFolders(DefaultEngineProfile(), {dir / "q"});
  EXPECT_EQ(quake.Stop(), nullptr);
  ASSERT_EQ(quake.Sources().size(), 4u);  // loaded as one file of garbage, and on to pak2
  EXPECT_EQ(quake.Sources()[2].listing.pastEnd, 1u);
  PutU32(past, 4, 0xFFFFFFFF);
  WriteFile(dir / "q/pak1.pak", past);
  quake = CGameView::LoadFolders(DefaultEngineProfile(), {dir / "q"});
  ASSERT_NE(quake.Stop(), nullptr);
  EXPECT_NE(quake.Stop()->reason.find("Invalid packfile pak1.pak (dirlen: 64, dirofs: -1)"), std::string::npos);
  // DarkPlaces refuses a directory not a multiple of 64 and goes on; pak9 sorts after pak10.
  PutU32(past, 8, 65);
  WriteFile(dir / "q/pak1.pak", past);
  Pak("q/pak9.pak", "maps/a.bsp", "9");
  Pak("q/pak10.pak", "maps/a.bsp", "10");
  CGameView dp = CGameView::LoadFolders(*FindEngineProfile("darkplaces"), {dir / "q"});
  ASSERT_EQ(dp.Failures().size(), 1u);
  EXPECT_FALSE(dp.Failures()[0].fatal);
  EXPECT_EQ(Copies("darkplaces", {"q"}, "maps/a.bsp")[0], "q/pak9.pak");
}

// Quakespasm 0.95.1 Quake/common.c COM_CheckRegistered and COM_FindFile: without gfx/pop.lmp
// the shareware game finds no loose file in a subfolder, and stops on a mod or a pak not id's.
TEST_F(GameFolder, QuakeWithoutPopLmpIsTheSharewareGame) {
  WriteFile(dir / "id1/test.cfg", "top");
  WriteFile(dir / "id1/sub/test.cfg", "below");
  EXPECT_EQ(Copies("quake", {"id1"}, "test.cfg"), Names{"id1/test.cfg"});
  EXPECT_TRUE(Copies("quake", {"id1"}, "sub/test.cfg").empty());
  EXPECT_EQ(Copies("darkplaces", {"id1"}, "sub/test.cfg"), Names{"id1/sub/test.cfg"});
  const EngineProfile& quake = DefaultEngineProfile();
  const CGameView shareware = CGameView::LoadFolders(quake, {dir / "id1"});
  EXPECT_EQ(shareware.Stop(), nullptr);
  EXPECT_NE(
      shareware.HiddenBecause("sub/test.cfg").find("the shareware game, which finds no loose file in a subfolder"),
      std::string::npos);
  WriteFile(dir / "mod/x.cfg", "m");
  for (const std::vector<fs::path>& folders :
       {std::vector<fs::path>{dir / "id1", dir / "mod"}, std::vector<fs::path>{dir / "id1"}}) {
    if (folders.size() == 1) Pak("id1/pak0.pak");
    const CGameView view = CGameView::LoadFolders(quake, folders);
    ASSERT_NE(view.Stop(), nullptr) << folders.size();
    EXPECT_EQ(view.Stop()->path, folders.size() == 2 ? dir / "mod" : dir / "id1/pak0.pak");
    EXPECT_NE(view.Stop()->reason.find("\"You must have the registered version to use modified games\""),
              std::string::npos)
        << view.Stop()->reason;
  }
  MakeRegistered(dir / "id1");
  EXPECT_EQ(CGameView::LoadFolders(quake, {dir / "id1", dir / "mod"}).Stop(), nullptr);
  EXPECT_EQ(Copies("quake", {"id1"}, "sub/test.cfg"), Names{"id1/sub/test.cfg"});
}

// DarkPlaces' exec (cmd.c Cmd_Exec_f) finds its script with FS_Search: a loose name in any case,
// the folders on its way as spelled. Every other loose file is found exactly (FS_FindFile).
TEST_F(GameFolder, DarkPlacesExecFindsALooseScriptInAnyCase) {
  MakeRegistered(dir / "id1");
  WriteFile(dir / "id1/TEST.CFG", "caps");
  WriteFile(dir / "id1/sub/Other.cfg", "o");
  WriteFile(dir / "id1/maps/A.BSP", "m");
  EXPECT_EQ(Copies("darkplaces", {"id1"}, "test.cfg"), Names{"id1/TEST.CFG"});
  EXPECT_EQ(Copies("darkplaces", {"id1"}, "sub/other.cfg"), Names{"id1/sub/Other.cfg"});
  EXPECT_TRUE(Copies("darkplaces", {"id1"}, "SUB/other.cfg").empty());
  EXPECT_TRUE(Copies("darkplaces", {"id1"}, "maps/a.bsp").empty());
  EXPECT_TRUE(Copies("quake", {"id1"}, "test.cfg").empty());
}

// Quakespasm 0.95.1 COM_AddGameDirectory: the base folder's quakespasm.pak right after pak0.
TEST_F(GameFolder, QuakespasmPakOfTheBaseFolder) {
  Pak("id1/pak0.pak");
  Pak("quakespasm.pak");
  EXPECT_EQ(Copies("quake", {"id1"}, "maps/a.bsp"), (Names{"quakespasm.pak", "id1/pak0.pak"}));
  Pak("id1/pak1.pak");
  EXPECT_EQ(Copies("quake", {"id1/"}, "maps/a.bsp")[0], "id1/pak1.pak");
  EXPECT_EQ(Copies("quakespasm-spiked", {"id1"}, "maps/a.bsp").size(), 2u);
}

TEST_F(GameFolder, MergedFilesTreeAndBytes) {
  Pak("id1/pak0.pak", "maps/a.bsp", "pak");
  WriteFile(dir / "id1/maps/a.bsp", "loose");
  WriteFile(dir / "id1/Maps/a.bsp", "other case");
  CGameView view = CGameView::LoadFolders(*FindEngineProfile("quake2"), {dir / "id1"});
  // Quake II takes the pak's name in any case, loose names only as written.
  const auto files = view.Files();
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[0].path, "Maps/a.bsp");
  EXPECT_EQ(files[0].copies.size(), 2u);
  EXPECT_EQ(files[1].path, "maps/a.bsp");
  ASSERT_EQ(files[1].copies.size(), 2u);
  // Many questions go through an index of the names: the same answers.
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(view.Lookup("maps/a.bsp"), files[1].copies);
    EXPECT_EQ(view.Lookup("Maps/a.bsp"), files[0].copies);
  }
  Bytes bytes;
  ASSERT_TRUE(view.ReadPrefix(files[1].copies[0], 2, bytes, nullptr));
  EXPECT_EQ(bytes, ToBytes("pa"));
  ASSERT_TRUE(view.ReadPrefix(files[1].copies[1], 100, bytes, nullptr));
  EXPECT_EQ(bytes, ToBytes("loose"));
  const MergedTree tree = view.BuildTree(files);
  EXPECT_EQ(tree.root->CountFiles(), 2);
  // Each shown as the engine names it, none renamed.
  const CPackObject* loose = tree.root->FindByPath("maps/a.bsp");
  ASSERT_NE(loose, nullptr);
  EXPECT_EQ(tree.fileOf.at(loose), 1u);
}

TEST_F(GameFolder, NewPakGoesWhereTheEngineLoadsItLast) {
  Pak("mod/pak0.pak");
  Pak("mod/pak1.pak");
  NewPakPlan plan = PlanNewPak(DefaultEngineProfile(), dir / "mod");
  EXPECT_EQ(plan.path, dir / "mod/pak2.pak");
  EXPECT_TRUE(plan.loadedLater.empty());
  Pak("mod/pak3.pak");
  plan = PlanNewPak(DefaultEngineProfile(), dir / "mod");
  EXPECT_EQ(plan.path, dir / "mod/pak2.pak");
  EXPECT_EQ(plan.loadedLater, std::vector<fs::path>{dir / "mod/pak3.pak"});
  // Quake II skips gaps: after the highest number.
  EXPECT_EQ(PlanNewPak(*FindEngineProfile("quake2"), dir / "mod").path, dir / "mod/pak4.pak");
  Pak("mod/named.pak");
  plan = PlanNewPak(*FindEngineProfile("qss"), dir / "mod");
  EXPECT_EQ(plan.loadedLater, (std::vector<fs::path>{dir / "mod/pak3.pak", dir / "mod/named.pak"}));
  EXPECT_TRUE(plan.looseFilesWin);
}

// The zips engines load, as real zips: each engine's order, Quakespasm-Spiked's lower-cased
// members (fs_zip.c FSZIP_EnumerateCentralDirectory), Yamagi's stop at an empty pk3
// (filesystem.c FS_LoadPK3: "'%s' has %i files") and a damaged zip passed over with the reason.
TEST_F(GameFolder, RealZipsInEachEnginesOrder) {
  Pak("baseq2/pak0.pak");
  for (const char* ext : {"pk2", "pk3", "pkz", "zip"}) Zip(std::string("baseq2/pak0.") + ext);
  Zip("baseq2/mine.pk3");
  EXPECT_EQ(Copies("yamagi", {"baseq2"}, "maps/a.bsp"),
            (Names{"baseq2/mine.pk3", "baseq2/pak0.zip", "baseq2/pak0.pkz", "baseq2/pak0.pk3", "baseq2/pak0.pk2",
                   "baseq2/pak0.pak"}));
  Zip("mod/pak0.pk3", "Maps/A.bsp", "zip");
  Pak("mod/pak0.pak", "Maps/A.bsp");
  CGameView qss = CGameView::LoadFolders(*FindEngineProfile("qss"), {dir / "mod"});
  ASSERT_EQ(qss.Lookup("maps/a.bsp").size(), 1u);
  EXPECT_EQ(qss.Location(qss.Lookup("maps/a.bsp")[0]).filename(), "pak0.pk3");
  EXPECT_EQ(qss.Lookup("Maps/A.bsp").size(), 1u);  // the pak keeps its case
  Bytes bytes;
  ASSERT_TRUE(qss.ReadPrefix(qss.Lookup("maps/a.bsp")[0], 10, bytes, nullptr));
  EXPECT_EQ(bytes, ToBytes("zip"));
  EXPECT_EQ(Copies("fte", {"mod"}, "MAPS/a.BSP"), (Names{"mod/pak0.pk3", "mod/pak0.pak"}));

  WriteFile(dir / "q2/pak0.pk3", ZipBuilder().Build());
  WriteFile(dir / "q2/pak1.zip", ZipBuilder().Stored("maps/a.bsp", "x").Build(true));
  Zip("q2/pak2.pk2");
  CGameView yamagi = CGameView::LoadFolders(*FindEngineProfile("yamagi"), {dir / "q2"});
  ASSERT_EQ(yamagi.Failures().size(), 1u);
  EXPECT_EQ(yamagi.Failures()[0].path.filename(), "pak1.zip");
  EXPECT_FALSE(yamagi.Failures()[0].fatal);
  EXPECT_NE(yamagi.Failures()[0].reason.find("zip"), std::string::npos) << yamagi.Failures()[0].reason;
  ASSERT_EQ(yamagi.Passed().size(), 1u);  // the empty pk3 is skipped, and stops nothing
  EXPECT_NE(yamagi.Passed()[0].reason.find("holds no files"), std::string::npos);
  EXPECT_EQ(yamagi.Lookup("maps/a.bsp").size(), 1u);
  // A member name of 64 bytes is held cut to 63, and finding it stops Yamagi.
  const std::string longName = "maps/" + std::string(55, 'x') + ".bsp";
  Zip("q2/pak3.pk3", longName);
  yamagi = CGameView::LoadFolders(*FindEngineProfile("yamagi"), {dir / "q2"});
  ASSERT_EQ(yamagi.Lookup(longName.substr(0, 63)).size(), 1u);
  EXPECT_EQ(yamagi.Entry(yamagi.Lookup(longName)[0]).flaw, EntryFlaw::StopsEngine);
}

}  // namespace
}  // namespace tarn::test
