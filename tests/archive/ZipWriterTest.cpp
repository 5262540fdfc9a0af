// The zip writer: the same members give the same bytes whatever the number of threads and
// whether a member is held or streamed; what it writes is what Info-ZIP reads back, dates
// included; a member that cannot be read, or a stop, fails the write.
#include <sys/stat.h>

#include <cstdlib>
#include <random>
#include <thread>

#include "CliSupport.h"
#include "TestSupport.h"
#include "containers/Container.h"
#include "containers/ZipWriter.h"
#include "fileio/Progress.h"
#include "fileio/SafeSave.h"
#include "fileio/Strings.h"

namespace tarn::test {
namespace {

class ZipWriter : public ::testing::Test {
 protected:
  // Text that deflates, noise that does not, a picture's worth of one byte, and an empty file.
  void SetUp() override {
    std::mt19937 rng(7);
    std::string text;
    while (text.size() < 300000) text += "// line " + std::to_string(rng() % 1000) + " of some QuakeC\n";
    Bytes noise(200000);
    for (auto& b : noise) b = static_cast<std::uint8_t>(rng());
    files = {{"progs/defs.qc", ToBytes(text)},
             {"sound/noise.wav", noise},
             {"gfx/flat.lmp", Bytes(65536, 7)},
             {"maps/empty.ent", {}},
             {"music/track.ogg", noise}};
  }

  std::vector<ZipMember> Members(const char* failing = nullptr) const {
    std::vector<ZipMember> members;
    for (const auto& [path, bytes] : files) {
      ZipMember m;
      m.path = path;
      m.dosTime = ToDosTime(1700000000);
      m.kind = EndsWith(path, ".ogg") ? ZipMember::Kind::Store : ZipMember::Kind::Deflate;
      m.size = static_cast<std::int64_t>(bytes.size());
      const Bytes* data = &bytes;
      const bool fail = failing && path == failing;
      m.open = [data, fail](std::string*) -> std::unique_ptr<CEntryStream> {
        if (fail) return std::make_unique<CFailedStream>("the disk went away");
        return std::make_unique<CSpanStream>(data->data(), data->size());
      };
      members.push_back(std::move(m));
    }
    return members;
  }

  bool Write(const fs::path& path, const ZipWriteOptions& options, std::string* error = nullptr,
             const char* failing = nullptr) const {
    CSafeSave save;
    if (!save.Begin(path)) return false;
    if (!WriteZip(Members(failing), save, options, error)) {
      save.Abort();
      return false;
    }
    return save.Commit();
  }

  std::vector<std::pair<std::string, Bytes>> files;
  TempDir dir;
};

TEST_F(ZipWriter, SameBytesWhateverTheThreadsAndReadBackByUnzip) {
  Bytes first;
  for (unsigned workers : {1u, 2u, 8u}) {
    for (std::uint64_t hold : {std::uint64_t{32} << 20, std::uint64_t{100000}}) {
      ZipWriteOptions options;
      options.workers = workers;
      options.holdLimit = hold;
      const fs::path out = dir / ("w" + std::to_string(workers) + "-" + std::to_string(hold) + ".pk3");
      std::string why;
      ASSERT_TRUE(Write(out, options, &why)) << why;
      const Bytes bytes = ReadFile(out);
      if (hold > 1000000) {
        if (first.empty()) first = bytes;
        EXPECT_EQ(bytes, first) << workers << " workers";
      }
      ASSERT_EQ(Shell(dir.path(), "unzip -tqq '" + out.string() + "'"), 0) << out;
    }
  }
  // Every file comes back as it went in, with its date.
  const fs::path out = dir / "w1-33554432.pk3";
  for (const auto& [path, bytes] : files) {
    ASSERT_EQ(Shell(dir.path(), "unzip -p '" + out.string() + "' '" + path + "' > one"), 0);
    EXPECT_EQ(ReadFile(dir / "one"), bytes) << path;
  }
  ASSERT_EQ(Shell(dir.path(), "mkdir x && cd x && unzip -qq '" + out.string() + "'"), 0);
  struct stat st {};
  ASSERT_EQ(::stat((dir / "x/progs/defs.qc").c_str(), &st), 0);
  EXPECT_LE(std::llabs(static_cast<long long>(st.st_mtime) - 1700000000), 2);
  // Noise is stored (deflate cannot shrink it), text deflated well, the .ogg stored as asked.
  EXPECT_LT(first.size(), 200000u * 2 + 300000u / 3);
}

TEST_F(ZipWriter, AMemberThatCannotBeReadOrAStopFailsTheWrite) {
  WriteFile(dir / "old.pk3", "the old archive");
  for (std::uint64_t hold : {std::uint64_t{32} << 20, std::uint64_t{1000}}) {
    ZipWriteOptions options;
    options.holdLimit = hold;
    std::string why;
    EXPECT_FALSE(Write(dir / "old.pk3", options, &why, "gfx/flat.lmp"));
    EXPECT_EQ(why, "the disk went away");
    EXPECT_EQ(ReadFile(dir / "old.pk3"), ToBytes("the old archive"));
  }
  struct StopAfter final : CProgress {
    int left = 2;
    void Expect(std::uint64_t) override {}
    bool Advance(std::uint64_t, std::string_view) override { return --left > 0; }
  } stop;
  ZipWriteOptions options;
  options.progress = &stop;
  std::string why;
  EXPECT_FALSE(Write(dir / "old.pk3", options, &why));
  EXPECT_EQ(why, "cancelled");
  EXPECT_EQ(ReadFile(dir / "old.pk3"), ToBytes("the old archive"));
}

TEST(ZipTimes, DosTimesAndTheReproducibleBound) {
  ::setenv("TZ", "UTC", 1);
  ::tzset();
  // 2023-11-14 22:13:20 UTC, seconds halved.
  EXPECT_EQ(ToDosTime(1700000000), (43u << 25) | (11u << 21) | (14u << 16) | (22u << 11) | (13u << 5) | 10u);
  EXPECT_EQ(ToDosTime(0), (1u << 21) | (1u << 16));  // before 1980: its first day
  ::unsetenv("SOURCE_DATE_EPOCH");
  EXPECT_EQ(ReproducibleTime(1700000000), 1700000000);
  ::setenv("SOURCE_DATE_EPOCH", "1600000000", 1);
  EXPECT_EQ(ReproducibleTime(1700000000), 1600000000);
  EXPECT_EQ(ReproducibleTime(1500000000), 1500000000);
  ::setenv("SOURCE_DATE_EPOCH", "soon", 1);
  EXPECT_EQ(ReproducibleTime(1700000000), 1700000000);
  ::unsetenv("SOURCE_DATE_EPOCH");
  ::unsetenv("TZ");
  ::tzset();
}

}  // namespace
}  // namespace tarn::test

namespace tarn::test {
namespace {

// tarn-pak create twice gives the same archive, whose members (folders too) carry their
// files' own times: every time is set more than a year back, so a member dated by the clock
// shows without waiting for the clock to move on.
TEST(ZipDates, MembersKeepTheirFilesTimesAndTheSameInputGivesTheSameArchive) {
  TempDir dir;
  WriteFile(dir / "src/progs.dat", std::string(5000, 'p'));
  WriteFile(dir / "src/maps/e1m1.bsp", std::string(3000, 'm'));
  const auto then = fs::file_time_type::clock::now() - std::chrono::hours(24 * 400);
  fs::last_write_time(dir / "src/progs.dat", then);
  fs::last_write_time(dir / "src/maps/e1m1.bsp", then - std::chrono::hours(1));
  fs::last_write_time(dir / "src/maps", then - std::chrono::hours(2));
  fs::last_write_time(dir / "src", then - std::chrono::hours(3));
  ASSERT_EQ(Tool({"create", (dir / "a.pk3").string(), (dir / "src").string()}).rc, 0);
  ASSERT_EQ(Tool({"create", (dir / "b.pk3").string(), (dir / "src").string()}).rc, 0);
  EXPECT_EQ(ReadFile(dir / "a.pk3"), ReadFile(dir / "b.pk3"));
  EXPECT_EQ(Shell(dir.path(),
                  "python3 -c \"import sys, time, zipfile\n"
                  "recent = [i.filename for i in zipfile.ZipFile('a.pk3').infolist()\n"
                  "          if time.mktime(i.date_time + (0, 0, -1)) > time.time() - 86400 * 300]\n"
                  "sys.exit(1 if recent else 0)\""),
            0);
  ASSERT_EQ(Shell(dir.path(), "mkdir x && cd x && unzip -qq ../a.pk3"), 0);
  for (const char* name : {"progs.dat", "maps/e1m1.bsp"}) {
    struct stat in {
    }, out{};
    ASSERT_EQ(::stat((dir / "src" / name).c_str(), &in), 0);
    ASSERT_EQ(::stat((dir / "x" / name).c_str(), &out), 0);
    EXPECT_LE(std::llabs(static_cast<long long>(in.st_mtime - out.st_mtime)), 2) << name;
  }
}

}  // namespace
}  // namespace tarn::test
