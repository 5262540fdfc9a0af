// tarn-pak as a filter: "-" for standard input and output through real pipes, and what
// --quiet and --verbose do to the messages (and nothing else).
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "CliSupport.h"
#include "TestSupport.h"

namespace tarn::test {
namespace {

class CliStreams : public ::testing::Test {
 protected:
  TempDir dir;
  std::string P(const std::string& name) { return (dir / name).string(); }
  // A shell pipeline in the test's folder.
  int Shell(const std::string& line) { return test::Shell(dir.path(), line); }
  void Source() {
    WriteFile(dir / "src/autoexec.cfg", "bind x");
    WriteFile(dir / "src/maps/e1m1.bsp", Bytes(70000, 9));
  }
};

TEST_F(CliStreams, ArchivesGoThroughPipes) {
  Source();
  ASSERT_EQ(Tool({"create", P("x.pak"), P("src")}).rc, 0);
  // Written to standard output: the same bytes as to a file.
  Result written = Tool({"create", "--format", "pak", "-", P("src")});
  ASSERT_EQ(written.rc, 0);
  EXPECT_EQ(ToBytes(written.out), ReadFile(dir / "x.pak"));

  ASSERT_EQ(Shell("$T create --format pak - src | $T extract - -C out && $T repack --format pk3 x.pak - | $T list - "
                  ">list.txt && "
                  "$T cat - maps/e1m1.bsp <x.pak >e1m1.bsp && $T info - autoexec.cfg <x.pak >info.txt"),
            0);
  EXPECT_EQ(ReadFile(dir / "out/maps/e1m1.bsp"), Bytes(70000, 9));
  EXPECT_EQ(ReadFile(dir / "list.txt"), ToBytes("6\tautoexec.cfg\n70000\tmaps/e1m1.bsp\n"));
  EXPECT_EQ(ReadFile(dir / "e1m1.bsp"), Bytes(70000, 9));
  EXPECT_EQ(ReadFile(dir / "info.txt"), ToBytes("kind: file\nsize: 6\n"));
  // What is not an archive is named as standard input, not as the temporary copy.
  ASSERT_EQ(Shell("echo hello | $T list - 2>err.txt"), 1);
  const Bytes err = ReadFile(dir / "err.txt");
  EXPECT_EQ(std::string(err.begin(), err.end()).rfind("tarn-pak: standard input is not an archive", 0), 0u);
}

TEST_F(CliStreams, AReaderThatStopsEarlyLeavesNoCopyBehind) {
  WriteFile(dir / "src/big.bin", Bytes(4 << 20, 7));
  ASSERT_EQ(Tool({"create", P("x.pak"), P("src")}).rc, 0);
  fs::create_directories(dir / "tmp");
  // head closes the pipe after ten bytes: tarn-pak dies of SIGPIPE, its scratch copy with it.
  Shell("TMPDIR=tmp $T repack --format pak x.pak - | head -c 10 >/dev/null");
  EXPECT_TRUE(fs::is_empty(dir / "tmp"));
}

TEST_F(CliStreams, DashIsOneStreamAndNeverChangedInPlace) {
  EXPECT_EQ(Tool({"cat", "-", "-"}).rc, 2);
  Result add = Tool({"add", "-", P("file")});
  EXPECT_EQ(add.rc, 1);
  EXPECT_NE(add.err.find("cannot be changed in place"), std::string::npos);
}

TEST_F(CliStreams, NoArchiveToATerminal) {
  Source();
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const pid_t child = fork();
  if (child == 0) {
    const int terminal = open(ptsname(master), O_RDWR);
    dup2(terminal, STDOUT_FILENO);
    dup2(terminal, STDERR_FILENO);
    execl(TARN_PAK_PATH, "tarn-pak", "create", "--format", "pak", "-", P("src").c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  char seen[512] = {};
  const ssize_t n = read(master, seen, sizeof seen - 1);
  close(master);
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_NE(std::string(seen, n > 0 ? n : 0).find("not written to a terminal"), std::string::npos);
}

TEST_F(CliStreams, QuietAndVerboseChangeOnlyTheMessages) {
  Source();
  Result plain = Tool({"create", P("x.pak"), P("src")});
  Result loud = Tool({"-v", "create", P("y.pak"), P("src")});
  EXPECT_EQ(plain.err, "");
  EXPECT_EQ(loud.err,
            "tarn-pak: added \"autoexec.cfg\"\ntarn-pak: added \"maps/e1m1.bsp\"\n"
            "tarn-pak: wrote \"" +
                P("y.pak") + "\": 2 files\n");
  EXPECT_EQ(ReadFile(dir / "x.pak"), ReadFile(dir / "y.pak"));
  Result extracted = Tool({"extract", "--verbose", P("x.pak"), "-C", P("out"), "maps"});
  EXPECT_EQ(extracted.err, "tarn-pak: read \"" + P("x.pak") + "\": 2 files\ntarn-pak: extracted \"maps/e1m1.bsp\"\n");
  EXPECT_EQ(Tool({"-v", "list", P("x.pak")}).out, Tool({"list", P("x.pak")}).out);

  // The Quake folder given for its game folder is a warning; that nothing is found, an error.
  WriteFile(dir / "quake/id1/pak0.pak", PakBuilder().File("a.txt", "a").Build());
  Result warned = Tool({"which", P("quake"), "a.txt"});
  EXPECT_NE(warned.err.find("give the game folders themselves"), std::string::npos);
  Result quiet = Tool({"which", "-q", P("quake"), "a.txt"});
  EXPECT_EQ(quiet.rc, 1);
  EXPECT_EQ(quiet.err, "tarn-pak: no copy of \"a.txt\" for quake\n");
  EXPECT_EQ(Tool({"-q", "-v", "list", P("x.pak")}).rc, 2);
}

// add --as runs add itself: the options given for every command reach it.
TEST_F(CliStreams, AddAsKeepsTheOptionsOfEveryCommand) {
  WriteFile(dir / "src/a.txt", "a");
  ASSERT_EQ(Tool({"create", P("x.pak"), P("src")}).rc, 0);
  fs::permissions(dir / "x.pak", fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  WriteFile(dir / "red.tga", Bytes{0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 24, 0, 0, 0, 255});
  EXPECT_EQ(Tool({"add", P("x.pak"), "--as", "lmp", P("red.tga")}).rc, 1);
  Result forced = Tool({"--force", "-v", "add", P("x.pak"), "--as", "lmp", P("red.tga")});
  EXPECT_EQ(forced.rc, 0) << forced.err;
  EXPECT_NE(forced.err.find("tarn-pak: added \"red.lmp\""), std::string::npos);
}

}  // namespace
}  // namespace tarn::test
