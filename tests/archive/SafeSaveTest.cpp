#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>

#include <cstring>

#include "TestSupport.h"
#include "fileio/SafeSave.h"

namespace tarn::test {
namespace {

class SafeSave : public ::testing::Test {
 protected:
  TempDir dir;
  // Every name in the folder, sorted.
  std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir.path())) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  static bool Save(const fs::path& path, const std::string& text, SaveOptions options = {}) {
    CSafeSave s;
    return s.Begin(path, options) && s.Write(text.data(), text.size()) && s.Commit();
  }
  static SaveOptions Temporary(bool unnamed) {
    SaveOptions options;
    options.unnamedTemporary = unnamed;
    return options;
  }
  static unsigned Mode(const fs::path& p) {
    struct stat st;
    return ::stat(p.c_str(), &st) == 0 ? static_cast<unsigned>(st.st_mode & 07777) : 0;
  }
  // Runs body in a child process and returns its exit status (or 128 + the signal).
  static int InChild(const std::function<int()>& body) {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(body());
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
};

TEST_F(SafeSave, LinksLeadToTheFileThatIsReplacedAndStay) {
  WriteFile(dir / "real" / "pak0.pak", "old");
  fs::create_directories(dir / "game");
  fs::create_symlink("../real/pak0.pak", dir / "game" / "middle.pak");
  fs::create_symlink("middle.pak", dir / "game" / "pak0.pak");
  CSafeSave s;
  ASSERT_TRUE(s.Begin(dir / "game" / "pak0.pak")) << s.Failure().Text();
  EXPECT_EQ(s.Target().path, dir / "game" / ".." / "real" / "pak0.pak");
  ASSERT_TRUE(s.Write("new", 3) && s.Commit()) << s.Failure().Text();
  EXPECT_TRUE(fs::is_symlink(dir / "game" / "pak0.pak"));
  EXPECT_TRUE(fs::is_symlink(dir / "game" / "middle.pak"));
  EXPECT_EQ(ReadFile(dir / "real" / "pak0.pak"), ToBytes("new"));

  // A dangling link makes the file it names.
  fs::create_symlink("made.pak", dir / "dangling.pak");
  ASSERT_TRUE(Save(dir / "dangling.pak", "made"));
  EXPECT_EQ(ReadFile(dir / "made.pak"), ToBytes("made"));
  EXPECT_TRUE(fs::is_symlink(dir / "dangling.pak"));
}

TEST_F(SafeSave, WhatCannotBeReplacedIsRefusedWithTheSystemsReason) {
  fs::create_symlink("loop.pak", dir / "loop.pak");
  fs::create_directories(dir / "folder.pak");
  const std::pair<fs::path, std::string> cases[] = {
      {dir / "loop.pak", std::strerror(ELOOP)},
      {dir / "folder.pak", std::strerror(EISDIR)},
      {"/dev/null", "not a regular file"},
      {dir / "missing" / "x.pak", std::strerror(ENOENT)},
  };
  for (const auto& [path, reason] : cases) {
    CSafeSave s;
    EXPECT_FALSE(s.Begin(path)) << path;
    EXPECT_EQ(s.Failure().reason, reason) << path;
    EXPECT_NE(s.Failure().Text().find(path.filename().string()), std::string::npos) << s.Failure().Text();
  }
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
  EXPECT_EQ(Names(), (std::vector<std::string>{"folder.pak", "loop.pak"}));
}

TEST_F(SafeSave, ModeOwnerAndGroupAreKept) {
  const fs::path p = dir / "a.pak";
  for (unsigned mode : {0600u, 0640u, 0755u}) {
    WriteFile(p, "x");
    ASSERT_EQ(::chmod(p.c_str(), mode), 0);
    ASSERT_TRUE(Save(p, "y"));
    EXPECT_EQ(Mode(p), mode);
  }
  const mode_t old = ::umask(027);
  ASSERT_TRUE(Save(dir / "new.pak", "n"));
  ::umask(old);
  EXPECT_EQ(Mode(dir / "new.pak"), 0640u);
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(p.c_str(), 1234, 5678), 0);
    ASSERT_TRUE(Save(p, "z"));
    struct stat st;
    ASSERT_EQ(::stat(p.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 1234u);
    EXPECT_EQ(st.st_gid, 5678u);
  }
}

TEST_F(SafeSave, ConcernsAreRefusedWithoutConsent) {
  const fs::path p = dir / "a.pak";
  WriteFile(p, "old");
  const FileStamp seen = FileStamp::OfPath(p);
  fs::create_hard_link(p, dir / "twin.pak");
  ASSERT_EQ(::chmod(p.c_str(), 0444), 0);
  const SaveTarget t = InspectSaveTarget(p);
  EXPECT_EQ(t.otherNames, 1u);
  EXPECT_TRUE(t.readOnly);
  EXPECT_EQ(ConcernsOf(t, seen), (std::vector<SaveConcern>{SaveConcern::HardLinks, SaveConcern::ReadOnly}));
  EXPECT_EQ(DescribeConcern(SaveConcern::HardLinks, t),
            "\"" + p.string() +
                "\" has 1 other name (hard links); saving gives this name a new file and leaves "
                "the other with the old contents.");

  SaveOptions options;
  options.expected = seen;
  options.expected->size = 99;  // as if another program had written it since
  for (SaveConcern c : {SaveConcern::ChangedOnDisk, SaveConcern::HardLinks, SaveConcern::ReadOnly}) {
    CSafeSave s;
    EXPECT_FALSE(s.Begin(p, options));
    EXPECT_EQ(s.Failure().stage, SaveStage::Refused);
    EXPECT_EQ(s.Failure().reason, DescribeConcern(c, t));
    options.consent[c] = true;
  }
  ASSERT_TRUE(Save(p, "new", options));
  EXPECT_EQ(ReadFile(p), ToBytes("new"));
  EXPECT_EQ(ReadFile(dir / "twin.pak"), ToBytes("old"));
  EXPECT_EQ(Mode(p), 0444u);
}

TEST_F(SafeSave, AFileReplacedWhileTheSaveRunsWinsAndTheSaveFails) {
  const fs::path p = dir / "a.pak";
  WriteFile(p, "old");
  CSafeSave s;
  ASSERT_TRUE(s.Begin(p));
  ASSERT_TRUE(s.Write("mine", 4));
  WriteFile(dir / "theirs", "theirs");
  fs::rename(dir / "theirs", p);
  EXPECT_FALSE(s.Commit());
  EXPECT_EQ(s.Failure().stage, SaveStage::Replace);
  EXPECT_EQ(ReadFile(p), ToBytes("theirs"));
  EXPECT_EQ(Names(), std::vector<std::string>{"a.pak"});
}

TEST_F(SafeSave, AFailedWriteTellsWhyAndLeavesNothing) {
  const fs::path p = dir / "a.pak";
  WriteFile(p, "old");
  for (bool unnamed : {true, false}) {
    // A file-size limit makes the write fail the way a full disk does, in a child process.
    const int rc = InChild([&] {
      std::signal(SIGXFSZ, SIG_IGN);
      rlimit limit{4096, 4096};
      ::setrlimit(RLIMIT_FSIZE, &limit);
      CSafeSave s;
      if (!s.Begin(p, Temporary(unnamed))) return 2;
      const std::string block(64 << 10, 'b');
      s.Write(block.data(), block.size());
      if (s.Commit()) return 3;
      return s.Failure().stage == SaveStage::Write && s.Failure().reason == std::strerror(EFBIG) ? 0 : 4;
    });
    EXPECT_EQ(rc, 0) << unnamed;
    EXPECT_EQ(ReadFile(p), ToBytes("old"));
    EXPECT_EQ(Names(), std::vector<std::string>{"a.pak"});
  }
}

TEST_F(SafeSave, KilledSavesLeaveNothingOrWhatTheNextSaveRemoves) {
  const fs::path p = dir / "a.pak";
  WriteFile(p, "old");
  for (bool unnamed : {true, false}) {
    const int rc = InChild([&] {
      CSafeSave s;
      const std::string block(1 << 20, 'k');
      if (s.Begin(p, Temporary(unnamed)) && s.Write(block.data(), block.size()))
        std::fflush(s.File()), ::raise(SIGKILL);
      return 1;
    });
    ASSERT_EQ(rc, 128 + SIGKILL);
    EXPECT_EQ(ReadFile(p), ToBytes("old"));
    if (unnamed) {
      EXPECT_EQ(Names(), std::vector<std::string>{"a.pak"});
    }
  }
  // The named temporary of the killed writer is recognisable by its target's name.
  auto names = Names();
  ASSERT_EQ(names.size(), 2u);
  EXPECT_EQ(names[0].rfind(".a.pak.tarn-", 0), 0u) << names[0];

  // The next save removes it; a live writer's temporary stays.
  CSafeSave live;
  ASSERT_TRUE(live.Begin(p, Temporary(false)));
  const auto withLive = Names();
  ASSERT_EQ(withLive.size(), 2u);
  EXPECT_NE(withLive[0], names[0]);
  ASSERT_TRUE(Save(p, "next"));
  EXPECT_EQ(Names(), withLive);
  live.Abort();
  EXPECT_EQ(Names(), std::vector<std::string>{"a.pak"});
  EXPECT_EQ(ReadFile(p), ToBytes("next"));
}

TEST_F(SafeSave, AnInterruptRemovesTheTemporariesBeingWritten) {
  const fs::path p = dir / "a.pak";
  WriteFile(p, "old");
  for (int sig : {SIGINT, SIGTERM}) {
    // Named temporaries, as extraction has one between giving its file a name and renaming it.
    const int rc = InChild([&] {
      RemoveTemporariesOnSignals();
      CSafeSave save;
      CPendingFile extracted;
      const int folder = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
      const std::string block(1 << 16, 'i');
      int err = 0;
      if (save.Begin(p, Temporary(false)) && save.Write(block.data(), block.size()) &&
          extracted.Create(folder, "e1m1.bsp", 0644, false, &err))
        std::fflush(save.File()), ::raise(sig);
      return 1;
    });
    EXPECT_EQ(rc, 128 + sig);
    EXPECT_EQ(Names(), std::vector<std::string>{"a.pak"}) << sig;
    EXPECT_EQ(ReadFile(p), ToBytes("old"));
  }
}

}  // namespace
}  // namespace tarn::test
