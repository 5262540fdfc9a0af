#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>

#include "CliSupport.h"
#include "TestSupport.h"
#include "document/TarnDoc.h"
#include "fileio/FileLock.h"

namespace tarn::test {
namespace {

class Cli : public ::testing::Test {
 protected:
  TempDir dir;
  std::string P(const std::string& name) { return (dir / name).string(); }
};

TEST_F(Cli, UsageErrorsExitTwo) {
  EXPECT_EQ(Tool({}).rc, 2);
  EXPECT_EQ(Tool({"frobnicate"}).rc, 2);
  EXPECT_EQ(Tool({"list"}).rc, 2);
  EXPECT_EQ(Tool({"rename", "a", "b"}).rc, 2);
  Result r = Tool({"extract", "x.pak", "-C"});
  EXPECT_EQ(r.rc, 2);
  EXPECT_EQ(r.err.rfind("tarn-pak: ", 0), 0u);
  Result help = Tool({"--help"});
  EXPECT_EQ(help.rc, 0);
  for (const char* cmd : {"list", "extract", "create", "add", "rm", "rename", "cat", "check"})
    EXPECT_NE(help.out.find(std::string("  ") + cmd + " "), std::string::npos) << cmd;
}

// Entries named like options are reached after "--"; options of every command are taken
// before the command word or among its own options, never after "--".
TEST_F(Cli, DoubleDashEndsTheOptionsAndEachCommandHasItsHelp) {
  WriteFile(dir / "t.pak", PakBuilder().File("-v", "dash v").File("--help", "dash help").File("a.txt", "a").Build());
  const Result cat = Tool({"cat", P("t.pak"), "--", "-v"});
  EXPECT_EQ(cat.rc, 0) << cat.err;
  EXPECT_EQ(cat.out, "dash v");
  EXPECT_EQ(Tool({"-q", "cat", P("t.pak"), "--", "--help"}).out, "dash help");
  const Result notice = Tool({"cat", "-v", P("t.pak"), "--", "-v"});
  EXPECT_EQ(notice.out, "dash v");
  EXPECT_NE(notice.err.find("tarn-pak: read"), std::string::npos) << "-v before \"--\" is verbose";
  EXPECT_EQ(Tool({"cat", P("t.pak"), "--force"}).rc, 2);  // cat writes nothing
  EXPECT_NE(Tool({"cat", P("t.pak"), "-x"}).err.find("unknown option \"-x\" of cat"), std::string::npos);
  ASSERT_EQ(Tool({"extract", P("t.pak"), "-C", P("out"), "--", "-v"}).rc, 0);
  EXPECT_EQ(ReadFile(dir / "out" / "-v"), ToBytes("dash v"));
  ASSERT_EQ(Tool({"rm", P("t.pak"), "--", "-v", "--help"}).rc, 0);
  EXPECT_EQ(Tool({"list", P("t.pak")}).out, "1\ta.txt\n");

  for (const std::string word : {"list", "extract", "create", "repack", "add", "rm", "rename", "cat", "check", "info",
                                 "convert", "wad", "ents", "encode", "model", "which", "diff", "find"}) {
    const Result help = Tool({word, "--help"});
    EXPECT_EQ(help.rc, 0) << word;
    EXPECT_EQ(help.out.rfind("Usage: tarn-pak [-q|-v] " + word + " ...\n  " + word + " ", 0), 0u) << help.out;
    EXPECT_EQ(Tool({"help", word}).out, help.out);
    // Its own usage, not every command's.
    EXPECT_EQ(help.out.find(word == "list" ? "  cat ARCHIVE PATH" : "  list [--json]"), std::string::npos) << word;
  }
  EXPECT_NE(Tool({"rm", "--help"}).out.find("--break-links"), std::string::npos);
  EXPECT_EQ(Tool({"cat", "--help"}).out.find("--break-links"), std::string::npos);
}

TEST_F(Cli, CreateListCatExtractRoundTrip) {
  WriteFile(dir / "src" / "Autoexec.cfg", "bind x");
  WriteFile(dir / "src" / "maps" / "e1m1.bsp", Bytes(5000, 9));
  WriteFile(dir / "src" / "maps" / "sub" / "a.txt", "a");
  ASSERT_EQ(Tool({"create", P("x.pak"), P("src")}).rc, 0);
  Result l = Tool({"list", P("x.pak")});
  EXPECT_EQ(l.rc, 0);
  EXPECT_EQ(l.out, "6\tautoexec.cfg\n5000\tmaps/e1m1.bsp\n1\tmaps/sub/a.txt\n");
  EXPECT_EQ(Tool({"cat", P("x.pak"), "AUTOEXEC.CFG"}).out, "bind x");
  EXPECT_EQ(Tool({"cat", P("x.pak"), "maps"}).rc, 1);
  EXPECT_EQ(Tool({"cat", P("x.pak"), "nope"}).rc, 1);

  ASSERT_EQ(Tool({"extract", P("x.pak"), "-C", P("out")}).rc, 0);
  EXPECT_EQ(ReadFile(dir / "out" / "maps" / "e1m1.bsp"), Bytes(5000, 9));
  // Named entries keep their place below DIR.
  ASSERT_EQ(Tool({"extract", P("x.pak"), "-C", P("part"), "maps/sub"}).rc, 0);
  EXPECT_EQ(ReadFile(dir / "part" / "maps" / "sub" / "a.txt"), ToBytes("a"));
  EXPECT_FALSE(fs::exists(dir / "part" / "maps" / "e1m1.bsp"));
  EXPECT_EQ(Tool({"extract", P("x.pak"), "-C", P("part"), "missing"}).rc, 1);
}

// gfx.wad inside pak0.pak, as every Quake install has it: listed and read through its path.
TEST_F(Cli, ArchivesInsideArchivesAreReachedThroughTheirPaths) {
  WriteFile(dir / "wad" / "conchars.lmp", "font");
  ASSERT_EQ(Tool({"create", P("gfx.pk3"), P("wad")}).rc, 0);
  WriteFile(dir / "src" / "gfx" / "inner.pk3", ReadFile(dir / "gfx.pk3"));
  WriteFile(dir / "src" / "readme.txt", "r");
  ASSERT_EQ(Tool({"create", P("pak0.pak"), P("src")}).rc, 0);
  Result l = Tool({"list", P("pak0.pak"), "gfx/inner.pk3/"});
  EXPECT_EQ(l.rc, 0) << l.err;
  EXPECT_EQ(l.out, "4\tconchars.lmp\n");
  EXPECT_EQ(Tool({"cat", P("pak0.pak"), "gfx/inner.pk3/conchars.lmp"}).out, "font");
  EXPECT_EQ(Tool({"list", P("pak0.pak"), "gfx"}).out, std::to_string(fs::file_size(dir / "gfx.pk3")) + "\tinner.pk3\n");
  Result missing = Tool({"cat", P("pak0.pak"), "gfx/inner.pk3/nope.lmp"});
  EXPECT_EQ(missing.rc, 1);
  EXPECT_NE(missing.err.find("gfx/inner.pk3"), std::string::npos);
  EXPECT_EQ(Tool({"list", P("pak0.pak"), "readme.txt"}).rc, 1);  // neither a directory nor an archive
}

TEST_F(Cli, AddRmRenameEditAndSave) {
  WriteFile(dir / "src" / "one.txt", "1");
  ASSERT_EQ(Tool({"create", P("x.pak"), P("src")}).rc, 0);
  WriteFile(dir / "more" / "two.txt", "2");
  WriteFile(dir / "three.wav", "3");
  ASSERT_EQ(Tool({"add", P("x.pak"), "--to", "sound/new", P("more"), P("three.wav")}).rc, 0);
  EXPECT_EQ(Tool({"list", P("x.pak")}).out, "1\tone.txt\n1\tsound/new/two.txt\n1\tsound/new/three.wav\n");

  Result taken = Tool({"rename", P("x.pak"), "sound/new/two.txt", "three.wav"});
  EXPECT_EQ(taken.rc, 1);
  EXPECT_NE(taken.err.find("already exists"), std::string::npos);
  EXPECT_EQ(Tool({"rename", P("x.pak"), "sound/new/two.txt", ""}).rc, 1);
  // Names are stored lower case: a name taken in another case is refused, a new one lowered.
  EXPECT_NE(Tool({"rename", P("x.pak"), "sound/new/two.txt", "THREE.WAV"}).err.find("\"three.wav\" already exists"),
            std::string::npos);
  ASSERT_EQ(Tool({"rename", P("x.pak"), "sound/new/two.txt", "Two.TXT"}).rc, 0);
  EXPECT_NE(Tool({"list", P("x.pak")}).out.find("sound/new/two.txt"), std::string::npos);
  ASSERT_EQ(Tool({"rename", P("x.pak"), "sound/new", "fresh"}).rc, 0);

  Bytes before = ReadFile(dir / "x.pak");
  EXPECT_EQ(Tool({"rm", P("x.pak"), "one.txt", "missing"}).rc, 1);
  EXPECT_EQ(ReadFile(dir / "x.pak"), before);  // all or nothing
  ASSERT_EQ(Tool({"rm", P("x.pak"), "sound/fresh/two.txt", "sound", "sound/fresh"}).rc, 0);
  EXPECT_EQ(Tool({"list", P("x.pak")}).out, "1\tone.txt\n");

  EXPECT_EQ(Tool({"add", P("x.pak"), P("nonexistent")}).rc, 1);
  EXPECT_EQ(Tool({"add", P("x.pak"), "--to", "one.txt", P("three.wav")}).rc, 1);
}

// rm and repack write back what they read: a name the archive holds twice, in any case, stays
// as it was, and tarn-pak says so on opening. A cut directory is a failure of list.
TEST_F(Cli, NamesAsReadSurviveEditsAndDamageIsNoSuccess) {
  WriteFile(dir / "f.pak", PakBuilder().File("progs/Flag.mdl", "A").File("progs/flag.mdl", "B").File("x", "").Build());
  Result rm = Tool({"rm", P("f.pak"), "x"});
  ASSERT_EQ(rm.rc, 0) << rm.err;
  EXPECT_NE(rm.err.find("\"progs/Flag.mdl\" and \"progs/flag.mdl\" differ only in case"), std::string::npos);
  ASSERT_EQ(Tool({"repack", P("f.pak"), P("g.pak")}).rc, 0);
  EXPECT_EQ(ReadFile(dir / "g.pak"), PakBuilder().File("progs/Flag.mdl", "A").File("progs/flag.mdl", "B").Build());
  EXPECT_EQ(Tool({"cat", P("g.pak"), "progs/flag.mdl"}).out, "B");

  const Bytes whole = ReadFile(dir / "g.pak");
  WriteFile(dir / "cut.pak", Bytes(whole.begin(), whole.end() - 10));
  Result cut = Tool({"list", P("cut.pak")});
  EXPECT_EQ(cut.rc, 1);
  EXPECT_EQ(cut.out, "1\tprogs/Flag.mdl\n");
  EXPECT_NE(cut.err.find("The directory runs past the end of the file"), std::string::npos);
  EXPECT_NE(cut.err.find("1 of 2 entries can be read"), std::string::npos);
}

TEST_F(Cli, CheckExitsOneOnProblems) {
  WriteFile(dir / "good.pak", PakBuilder().File("a", "1").Build());
  Result good = Tool({"check", P("good.pak")});
  EXPECT_EQ(good.rc, 0);
  WriteFile(dir / "bad.pak", PakBuilder().File("a", "1").File("A", "2").Raw("../x", 5, 900).Build());
  Result bad = Tool({"check", P("bad.pak")});
  EXPECT_EQ(bad.rc, 1);
  EXPECT_NE(bad.out.find("duplicate path"), std::string::npos);
  EXPECT_NE(bad.out.find("lie outside the file"), std::string::npos);
  EXPECT_NE(bad.out.find("cannot be exported safely"), std::string::npos);
  WriteFile(dir / "not.pak", "hello");
  Result notPak = Tool({"check", P("not.pak")});
  EXPECT_EQ(notPak.rc, 1);
  EXPECT_NE(notPak.err.find("is not an archive Tarn reads"), std::string::npos);
}

TEST_F(Cli, InfoAndConvertDescribeAndWritePictures) {
  Bytes lmp;
  PutU32(lmp, 0, 3);
  PutU32(lmp, 4, 2);
  lmp.insert(lmp.end(), {1, 2, 3, 4, 5, 6});
  Bytes spr(36, 0);
  PutU32(spr, 24, 2);
  for (int f = 0; f < 2; ++f) {
    const std::size_t at = spr.size();
    PutU32(spr, at, 0);
    PutU32(spr, at + 4, 0), PutU32(spr, at + 8, 0);
    PutU32(spr, at + 12, 2), PutU32(spr, at + 16, 1);
    spr.insert(spr.end(), {7, 8});
  }
  WriteFile(dir / "p.pak", PakBuilder().File("gfx/a.lmp", lmp).File("s.spr", spr).File("maps/x.bsp", "xx").Build());
  Result info = Tool({"info", P("p.pak"), "gfx/a.lmp"});
  EXPECT_EQ(info.rc, 0);
  EXPECT_EQ(info.out, "kind: picture\nframes: 1\nframe: 3x2\n");
  EXPECT_EQ(Tool({"info", P("p.pak"), "s.spr"}).out, "kind: picture\nframes: 2\nframe: 2x1\nframe: 2x1\n");
  EXPECT_EQ(Tool({"info", P("p.pak"), "maps/x.bsp"}).rc, 1);  // read as a map, which it is not
  EXPECT_EQ(Tool({"info", P("p.pak"), "nope"}).rc, 1);

  // Written as every file is: through a link into the file it names, the link kept.
  WriteFile(dir / "real.png", "old");
  fs::create_symlink("real.png", dir / "a.png");
  ASSERT_EQ(Tool({"convert", P("p.pak"), "gfx/a.lmp", P("a.png")}).rc, 0);
  EXPECT_TRUE(fs::is_symlink(dir / "a.png"));
  const Bytes png = ReadFile(dir / "real.png");
  ASSERT_GT(png.size(), 8u);
  EXPECT_EQ(Bytes(png.begin() + 1, png.begin() + 4), ToBytes("PNG"));
  ASSERT_EQ(Tool({"convert", P("p.pak"), "s.spr", P("s.png")}).rc, 0);
  EXPECT_TRUE(fs::exists(dir / "s-0.png"));
  EXPECT_TRUE(fs::exists(dir / "s-1.png"));
  EXPECT_FALSE(fs::exists(dir / "s.png"));
  // A 24-bit PCX: described as such, written as a true-colour PNG (colour type 2, RGB: the
  // picture is opaque).
  Bytes pcx(128, 0);
  pcx[3] = 8, pcx[8] = 1, pcx[65] = 3, pcx[66] = 2;  // 2 × 1, three planes of 2 bytes a line
  pcx.insert(pcx.end(), {10, 20, 30, 40, 50, 60});
  WriteFile(dir / "t.pak", PakBuilder().File("rgb.pcx", pcx).Build());
  EXPECT_EQ(Tool({"info", P("t.pak"), "rgb.pcx"}).out, "kind: picture\nframes: 1\nframe: 2x1 (24-bit)\n");
  ASSERT_EQ(Tool({"convert", P("t.pak"), "rgb.pcx", P("rgb.png")}).rc, 0);
  const Bytes rgba = ReadFile(dir / "rgb.png");
  ASSERT_GT(rgba.size(), 26u);
  EXPECT_EQ(rgba[24], 8);
  EXPECT_EQ(rgba[25], 2);
  Result notPicture = Tool({"convert", P("p.pak"), "maps/x.bsp", P("x.png")});
  EXPECT_EQ(notPicture.rc, 1);
  EXPECT_EQ(Tool({"convert", P("p.pak"), "maps", P("x.png")}).rc, 1);
}

TEST_F(Cli, NamedExtractionNeverWritesThroughLinks) {
  WriteFile(dir / "links.pak", PakBuilder().File("evil/x.txt", "x").File("a/b/c.txt", "c").Build());
  fs::create_directories(dir / "out" / "a");
  fs::create_directories(dir / "outside");
  fs::create_directory_symlink("../outside", dir / "out" / "evil");
  fs::create_directory_symlink("../../outside", dir / "out" / "a" / "b");
  Result evil = Tool({"extract", P("links.pak"), "-C", P("out"), "evil/x.txt"});
  EXPECT_EQ(evil.rc, 1);
  EXPECT_EQ(evil.err, "tarn-pak: refused \"evil\": a link of that name in the folder would lead elsewhere\n");
  Result deeper = Tool({"extract", P("links.pak"), "-C", P("out"), "a/b/c.txt"});
  EXPECT_EQ(deeper.rc, 1);
  EXPECT_NE(deeper.err.find("refused \"a/b\""), std::string::npos);
  EXPECT_EQ(Tool({"extract", P("links.pak"), "-C", P("out")}).rc, 1);
  EXPECT_TRUE(fs::is_empty(dir / "outside"));
}

TEST_F(Cli, ControlCharactersAreEscapedOneRecordALine) {
  WriteFile(dir / "ctl.pak", PakBuilder()
                                 .File("two\nlines.txt", "1")
                                 .File("tab\tname", "2")
                                 .File("back\\slash", "3")
                                 .File("bell\x07", "4")
                                 .Raw("lo\"st", 12, 1 << 20)
                                 .Build());
  Result list = Tool({"list", P("ctl.pak")});
  EXPECT_EQ(list.out, "1\ttwo\\nlines.txt\n1\ttab\\tname\n1\tback\\\\slash\n1\tbell\\x07\n1048576\tlo\"st\n");
  Result extract = Tool({"extract", P("ctl.pak"), "-C", P("out")});
  EXPECT_EQ(extract.rc, 1);
  // What opening found (four names, one entry that cannot be read), then what extracting did.
  EXPECT_EQ(std::count(extract.err.begin(), extract.err.end(), '\n'), 10);
  EXPECT_NE(extract.err.find("refused \"two\\nlines.txt\""), std::string::npos);
  EXPECT_NE(extract.err.find("failed \"lo\\\"st\": the data of \"lo\\\"st\" lie outside"), std::string::npos);
  EXPECT_NE(Tool({"--help"}).out.find("\\xNN"), std::string::npos);
}

TEST_F(Cli, WadWithoutTexturesWritesNothing) {
  Bytes quake2(80, 0);
  std::memcpy(quake2.data(), "IBSP", 4);
  WriteFile(dir / "maps.pak", PakBuilder().File("q2.bsp", quake2).File("notes.txt", "not a map").Build());
  for (const char* map : {"q2.bsp", "notes.txt"}) {
    Result r = Tool({"wad", P("maps.pak"), P("out.wad"), map});
    EXPECT_EQ(r.rc, 1) << map;
    EXPECT_NE(r.err.find("no texture extracted, \"" + P("out.wad") + "\" not written"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "out.wad"));
  }
}

TEST_F(Cli, FailedSavesSayWhereAndWhy) {
  WriteFile(dir / "src" / "a.txt", "a");
  fs::create_directories(dir / "folder.pak");
  Result r = Tool({"create", P("folder.pak"), P("src")});
  EXPECT_EQ(r.rc, 1);
  EXPECT_EQ(r.err, "tarn-pak: Error 1 replacing file \"" + P("folder.pak") + "\": Is a directory\n");
  Result missing = Tool({"list", P("missing.pak")});
  EXPECT_EQ(missing.err, "tarn-pak: Cannot open \"" + P("missing.pak") + "\": No such file or directory.\n");
}

TEST_F(Cli, HardLinksAndReadOnlyArchivesNeedTheirOptions) {
  WriteFile(dir / "src" / "a.txt", "a");
  ASSERT_EQ(Tool({"create", P("x.pak"), P("src")}).rc, 0);
  WriteFile(dir / "b.txt", "b");
  fs::create_hard_link(dir / "x.pak", dir / "twin.pak");
  Result linked = Tool({"add", P("x.pak"), P("b.txt")});
  EXPECT_EQ(linked.rc, 1);
  EXPECT_NE(linked.err.find("other name (hard links)"), std::string::npos);
  EXPECT_NE(linked.err.find("--break-links saves anyway"), std::string::npos);
  ASSERT_EQ(Tool({"add", "--break-links", P("x.pak"), P("b.txt")}).rc, 0);
  EXPECT_EQ(Tool({"list", P("twin.pak")}).out, "1\ta.txt\n");

  fs::permissions(dir / "x.pak", fs::perms::owner_read);
  Result readOnly = Tool({"rm", P("x.pak"), "a.txt"});
  EXPECT_EQ(readOnly.rc, 1);
  EXPECT_EQ(readOnly.err, "tarn-pak: \"" + P("x.pak") + "\" is read-only. Not saved; --force saves anyway.\n");
  ASSERT_EQ(Tool({"rm", P("x.pak"), "a.txt", "--force"}).rc, 0);
  EXPECT_EQ(Tool({"list", P("x.pak")}).out, "1\tb.txt\n");
  EXPECT_EQ(fs::status(dir / "x.pak").permissions(), fs::perms::owner_read);
}

TEST_F(Cli, ConcurrentWritersTakeTurns) {
  WriteFile(dir / "src" / "base.txt", "base");
  ASSERT_EQ(Tool({"create", P("x.pak"), P("src")}).rc, 0);
  WriteFile(dir / "one.txt", "1");
  WriteFile(dir / "two.txt", "2");
  // One writer holds the lock while the other starts and waits for it.
  CTarnDoc first;
  std::unique_ptr<CFileLock> lock;
  ASSERT_EQ(CFileLock::Acquire(P("x.pak"), std::chrono::seconds(0), &lock, nullptr), CFileLock::Outcome::Locked);
  first.AdoptLock(std::move(lock));
  ASSERT_TRUE(first.Open(P("x.pak")));
  // The real program, so that it holds none of this process's descriptors (and their locks).
  const pid_t second = fork();
  if (second == 0) {
    execl(TARN_PAK_PATH, "tarn-pak", "add", P("x.pak").c_str(), P("two.txt").c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  std::string why;
  ASSERT_NE(first.Root().ImportFile(dir / "one.txt", {}, &why), nullptr) << why;
  ASSERT_TRUE(first.Save(P("x.pak"))) << first.LastError();
  first.AdoptLock(nullptr);
  int status = 0;
  waitpid(second, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(Tool({"list", P("x.pak")}).out, "4\tbase.txt\n1\tone.txt\n1\ttwo.txt\n");

  // A writer that finds the archive locked for longer than it may wait gives up, changing nothing.
  ASSERT_EQ(CFileLock::Acquire(P("x.pak"), std::chrono::seconds(0), &lock, nullptr), CFileLock::Outcome::Locked);
  setenv("TARN_PAK_LOCK_TIMEOUT", "0.2", 1);
  const Bytes before = ReadFile(dir / "x.pak");
  Result waited = Tool({"rm", P("x.pak"), "one.txt"});
  unsetenv("TARN_PAK_LOCK_TIMEOUT");
  EXPECT_EQ(waited.rc, 1);
  EXPECT_EQ(waited.err,
            "tarn-pak: \"" + P("x.pak") + "\": another program is changing it; gave up after 0.2 s, nothing changed\n");
  EXPECT_EQ(ReadFile(dir / "x.pak"), before);
}

TEST_F(Cli, LongWorkDrawsAProgressLineOnlyWhenAskedTo) {
  WriteFile(dir / "src" / "big.bin", Bytes(3 << 20, 1));
  WriteFile(dir / "src" / "small.txt", "s");
  // tarn-pak asks for it when standard error is a terminal; here after no delay at all.
  cli::RunOptions shown;
  shown.progress = true;
  shown.progressAfter = std::chrono::milliseconds(0);
  std::ostringstream out, err;
  ASSERT_EQ(cli::Run({"create", P("x.pak"), P("src")}, out, err, shown), 0);
  EXPECT_NE(err.str().find("\rtarn-pak: create: reading "), std::string::npos) << err.str();
  EXPECT_NE(err.str().find("\rtarn-pak: create: saving "), std::string::npos) << err.str();
  std::ostringstream out2, err2;
  ASSERT_EQ(cli::Run({"extract", P("x.pak"), "-C", P("out")}, out2, err2, shown), 0);
  const std::string line = err2.str();
  // Files are written on several threads and the line is redrawn at most every 100 ms: which
  // share is drawn depends on which file is told first, but the total is always there.
  EXPECT_EQ(line.rfind("\rtarn-pak: extract ", 0), 0u) << line;
  EXPECT_NE(line.find(" of 3.0 MB)"), std::string::npos) << line;
  // Wiped at the end: the terminal is left as it was.
  ASSERT_GE(line.size(), 2u);
  EXPECT_EQ(line.back(), '\r');
  EXPECT_EQ(ReadFile(dir / "out" / "big.bin").size(), 3u << 20);
  std::ostringstream out3, err3;
  ASSERT_EQ(cli::Run({"repack", P("x.pak"), P("x.pk3")}, out3, err3, shown), 0);
  EXPECT_NE(err3.str().find("\rtarn-pak: repack: saving "), std::string::npos) << err3.str();
  // Not a terminal (the default): nothing at all.
  Result quiet = Tool({"extract", P("x.pak"), "-C", P("out2")});
  EXPECT_EQ(quiet.rc, 0);
  EXPECT_TRUE(quiet.err.empty());
}

}  // namespace
}  // namespace tarn::test
