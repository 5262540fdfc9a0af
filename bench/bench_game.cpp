// Game folders: `which`, `find` and `list --game` over a folder of 20 paks holding 100,000
// entries in all, in this process and as whole tarn-pak processes. Only the archives'
// directories should be read: the data of every entry is a hole in a sparse file.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "browser/GameSession.h"
#include "game/ArchiveDiff.h"
#include "game/GameFolder.h"

namespace fs = std::filesystem;

namespace {

constexpr int kArchives = 20;
constexpr int kEntriesEach = 5000;
constexpr std::uint32_t kEntrySize = 4096;

void PutU32(std::vector<char>& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (8 * i));
}

// pak0.pak to pak19.pak; each later pak repeats a tenth of the earlier one's paths, so that
// lookups meet shadowed copies.
fs::path GameFolder() {
  static fs::path dir = [] {
    fs::path d = fs::temp_directory_path() / ("tarn-bench-game-" + std::to_string(::getpid()));
    fs::create_directories(d / "id1");
    std::atexit([] {
      std::error_code ec;
      fs::remove_all(fs::temp_directory_path() / ("tarn-bench-game-" + std::to_string(::getpid())), ec);
    });
    for (int a = 0; a < kArchives; ++a) {
      std::ofstream out(d / "id1" / ("pak" + std::to_string(a) + ".pak"), std::ios::binary);
      const std::uint64_t dataEnd = 12 + static_cast<std::uint64_t>(kEntriesEach) * kEntrySize;
      std::vector<char> header(12, 0);
      std::memcpy(header.data(), "PACK", 4);
      PutU32(header, 4, static_cast<std::uint32_t>(dataEnd));
      PutU32(header, 8, kEntriesEach * 64);
      out.write(header.data(), 12);
      out.seekp(static_cast<std::streamoff>(dataEnd));
      std::vector<char> rec(64);
      for (int i = 0; i < kEntriesEach; ++i) {
        std::fill(rec.begin(), rec.end(), 0);
        const int id = i < kEntriesEach / 10 ? i : a * kEntriesEach + i;
        std::snprintf(rec.data(), 56, "sound/dir%03d/file%07d.wav", id % 700, id);
        PutU32(rec, 56, static_cast<std::uint32_t>(12 + static_cast<std::uint64_t>(i) * kEntrySize));
        PutU32(rec, 60, kEntrySize);
        out.write(rec.data(), 64);
      }
    }
    return d;
  }();
  return dir;
}

void BM_WhichInProcess(benchmark::State& state) {
  const fs::path id1 = GameFolder() / "id1";
  for (auto _ : state) {
    tarn::CGameView view = tarn::CGameView::LoadFolders(tarn::DefaultEngineProfile(), {id1});
    auto copies = view.Lookup("sound/dir007/file0000007.wav");
    if (copies.size() != kArchives) state.SkipWithError("expected a copy in every pak");
    benchmark::DoNotOptimize(copies);
  }
  state.counters["entries"] = kArchives * kEntriesEach;
}
BENCHMARK(BM_WhichInProcess)->Unit(benchmark::kMillisecond)->UseRealTime();

// What File > Open Game Folder does on its worker: the merged tree with every file bound to
// its archive, the shadowed copies, and the engine's checks.
void BM_OpenGameFolderForWindow(benchmark::State& state) {
  const fs::path id1 = GameFolder() / "id1";
  for (auto _ : state) {
    tarn::browser::LoadedGame loaded = tarn::browser::LoadGame(tarn::DefaultEngineProfile(), {id1});
    if (!loaded.root) state.SkipWithError("the folder did not open");
    benchmark::DoNotOptimize(loaded);
  }
  state.counters["entries"] = kArchives * kEntriesEach;
}
BENCHMARK(BM_OpenGameFolderForWindow)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FindInProcess(benchmark::State& state) {
  const fs::path root = GameFolder();
  for (auto _ : state) {
    std::size_t hits = 0;
    std::vector<std::string> errors;
    tarn::FindEntries(
        {root}, "*/dir00?/*7.wav", [&](const fs::path&, const std::string&) { ++hits; }, errors);
    if (hits == 0 || !errors.empty()) state.SkipWithError("expected hits and no errors");
    benchmark::DoNotOptimize(hits);
  }
}
BENCHMARK(BM_FindInProcess)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ListGameInProcess(benchmark::State& state) {
  const fs::path id1 = GameFolder() / "id1";
  for (auto _ : state) {
    tarn::CGameView view = tarn::CGameView::LoadFolders(tarn::DefaultEngineProfile(), {id1});
    auto files = view.Files();
    benchmark::DoNotOptimize(files);
  }
}
BENCHMARK(BM_ListGameInProcess)->Unit(benchmark::kMillisecond)->UseRealTime();

// The whole tarn-pak process, output thrown away.
void RunTool(benchmark::State& state, std::vector<std::string> args) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>("tarn-pak"));
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (auto _ : state) {
    const pid_t child = ::fork();
    if (child == 0) {
      const int devnull = ::open("/dev/null", O_WRONLY);
      ::dup2(devnull, 1);
      ::execv(TARN_PAK_PATH, argv.data());
      ::_exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) state.SkipWithError("tarn-pak failed");
  }
}

void BM_WhichProcess(benchmark::State& state) {
  RunTool(state, {"which", (GameFolder() / "id1").string(), "sound/dir007/file0000007.wav"});
}
BENCHMARK(BM_WhichProcess)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FindProcess(benchmark::State& state) { RunTool(state, {"find", GameFolder().string(), "*/dir00?/*7.wav"}); }
BENCHMARK(BM_FindProcess)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
