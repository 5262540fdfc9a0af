#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>

#include <cstring>
#include <thread>

#include "TestSupport.h"
#include "archive/SafeExtract.h"
#include "document/TarnDoc.h"

namespace tarn::test {
namespace {

class SafeExtract : public ::testing::Test {
 protected:
  TempDir dir;
  CTarnDoc doc;
  std::size_t FilesBelow(const fs::path& p) {
    std::size_t n = 0;
    for (auto it = fs::recursive_directory_iterator(p); it != fs::recursive_directory_iterator(); ++it)
      if (it->is_regular_file()) ++n;
    return n;
  }
};

TEST_F(SafeExtract, ALinkSwappedInWhileExtractingIsNeverWrittenThrough) {
  // The first file of "evil" is read from a pipe, which holds the extraction there while the
  // folder it writes into is replaced by a link to a folder outside.
  const fs::path pipe = dir / "pipe";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  CPackObject* evil = doc.Root().AddChild("evil", true);
  CPackObject* slow = evil->AddChild("a.bin", false);
  slow->SetSize(4);
  slow->SetTempFile(pipe.string(), false);
  CPackObject* second = evil->AddChild("b.txt", false);
  second->SetData(ToBytes("bbb"));
  second->SetSize(3);
  const fs::path out = dir / "out";
  fs::create_directories(out / "evil");
  fs::create_directories(dir / "outside");
  std::thread attacker([&] {
    const int fd = ::open(pipe.c_str(), O_WRONLY);  // returns once the extraction reads the pipe
    fs::rename(out / "evil", out / "moved");
    fs::create_directory_symlink(dir / "outside", out / "evil");
    EXPECT_EQ(::write(fd, "aaaa", 4), 4);
    ::close(fd);
  });
  ExportReport r = doc.Root().ExportToDisk(out);
  attacker.join();
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(FilesBelow(dir / "outside"), 0u);
  EXPECT_EQ(ReadFile(out / "moved" / "a.bin"), ToBytes("aaaa"));
  EXPECT_EQ(ReadFile(out / "moved" / "b.txt"), ToBytes("bbb"));

  // Extracted again, the link is met on the way down and refused.
  r = doc.Root().ExportToDisk(out);
  ASSERT_EQ(r.refused.size(), 1u);
  EXPECT_EQ(r.refused[0].name, "evil");
  EXPECT_EQ(FilesBelow(dir / "outside"), 0u);
}

TEST_F(SafeExtract, AFileThatCannotBeWrittenWhollyLeavesNoneOfIt) {
  CPackObject* big = doc.Root().AddChild("big.bin", false);
  big->SetData(Bytes(100 << 10, 7));
  big->SetSize(100 << 10);
  CPackObject* small = doc.Root().AddChild("small.txt", false);
  small->SetData(ToBytes("s"));
  small->SetSize(1);
  const fs::path out = dir / "out";
  WriteFile(out / "big.bin", "the old file");
  // A file-size limit fails the write as a full disk would; in a child, so the limit stays there.
  const pid_t child = ::fork();
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{64 << 10, 64 << 10};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    const ExportReport r = doc.Root().ExportToDisk(out);
    const bool told = r.failed.size() == 1 && r.failed[0].name == "big.bin" &&
                      r.failed[0].reason == "\"" + (out / "big.bin").string() + "\": " + std::strerror(EFBIG);
    ::_exit(told && r.written == 1 ? 0 : 1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(ReadFile(out / "big.bin"), ToBytes("the old file"));
  EXPECT_EQ(ReadFile(out / "small.txt"), ToBytes("s"));
  EXPECT_EQ(FilesBelow(out), 2u);
}

TEST_F(SafeExtract, EntriesWithUnreadableBytesMakeNoFile) {
  auto pak = dir / "damaged.pak";
  WriteFile(pak, PakBuilder().File("good.txt", "g").Raw("lost.bsp", 12, 1 << 20).Raw("maps/gone.bsp", -5, 4).Build());
  ASSERT_TRUE(doc.Open(pak));
  const ExportReport r = doc.Root().ExportToDisk(dir / "out");
  EXPECT_EQ(r.written, 1);
  ASSERT_EQ(r.failed.size(), 2u);
  EXPECT_EQ(r.failed[0].reason, "the data of \"lost.bsp\" lie outside the archive");
  EXPECT_FALSE(fs::exists(dir / "out" / "lost.bsp"));
  EXPECT_FALSE(fs::exists(dir / "out" / "maps" / "gone.bsp"));
  EXPECT_EQ(FilesBelow(dir / "out"), 1u);
}

TEST_F(SafeExtract, ExportToAFileReplacesItButNeverALink) {
  CPackObject* e = doc.Root().AddChild("e.txt", false);
  e->SetData(ToBytes("entry"));
  e->SetSize(5);
  WriteFile(dir / "target.txt", "precious");
  fs::create_symlink(dir / "target.txt", dir / "link.txt");
  std::string why;
  EXPECT_EQ(ExportFileTo(*e, dir / "link.txt", &why), ExtractOutcome::Refused);
  EXPECT_EQ(ReadFile(dir / "target.txt"), ToBytes("precious"));
  EXPECT_EQ(ExportFileTo(*e, dir / "target.txt", &why), ExtractOutcome::Done);
  EXPECT_EQ(ReadFile(dir / "target.txt"), ToBytes("entry"));
  EXPECT_EQ(ExportFileTo(*e, dir / "no" / "such" / "e.txt", &why), ExtractOutcome::Done);
  EXPECT_EQ(ExportFileTo(*e, dir.path(), &why), ExtractOutcome::Failed);
}

}  // namespace
}  // namespace tarn::test
