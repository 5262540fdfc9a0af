// Archive speed: opening and listing many records, packing (into a PAK, and into a pk3 stored)
// and unpacking 256 MiB against plain `cat` of the same files, adding colliding names, extracting records that cannot
// be read, and the memory a listing needs.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "document/TarnDoc.h"

namespace fs = std::filesystem;
using tarn::CPackObject;
using tarn::CTarnDoc;

namespace {

const fs::path& BenchFolder() { return tarn::bench::BenchFolder("tarn-bench-"); }

void PutU32(std::vector<char>& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (8 * i));
}

enum class Layout {
  Grouped,      // records of one directory together, as every archive writer lays them out
  Interleaved,  // consecutive records in different directories: the worst case for caches
  SamePath,     // every record has the same path
};

// An archive of `count` records spread over 700 directories; data are left as a hole when sparse.
fs::path MakeArchive(int count, std::size_t fileSize, Layout layout, bool sparse) {
  static std::map<std::string, fs::path> made;
  std::string key = std::to_string(count) + "-" + std::to_string(fileSize) + "-" +
                    std::to_string(static_cast<int>(layout)) + (sparse ? "h" : "");
  if (auto it = made.find(key); it != made.end()) return it->second;
  fs::path p = BenchFolder() / ("records-" + key + ".pak");
  std::ofstream out(p, std::ios::binary);
  const std::uint64_t dataEnd = 12 + static_cast<std::uint64_t>(count) * fileSize;
  std::vector<char> header(12, 0);
  std::memcpy(header.data(), "PACK", 4);
  PutU32(header, 4, static_cast<std::uint32_t>(dataEnd));
  PutU32(header, 8, static_cast<std::uint32_t>(count) * 64);
  out.write(header.data(), 12);
  if (sparse) {
    out.seekp(static_cast<std::streamoff>(dataEnd));
  } else {
    std::vector<char> data(fileSize, 'x');
    for (int i = 0; i < count; ++i) out.write(data.data(), static_cast<std::streamsize>(data.size()));
  }
  std::vector<char> rec(64);
  for (int i = 0; i < count; ++i) {
    std::fill(rec.begin(), rec.end(), 0);
    const int perDirectory = std::max(1, count / 700);
    const int group = layout == Layout::Grouped ? std::min(i / perDirectory, 699) : i % 700;
    if (layout == Layout::SamePath) std::snprintf(rec.data(), 56, "maps/same.bsp");
    else std::snprintf(rec.data(), 56, "dir%02d/sub%d/file%07d.dat", group / 7, group % 7, i);
    PutU32(rec, 56, static_cast<std::uint32_t>(12 + static_cast<std::uint64_t>(i) * fileSize));
    PutU32(rec, 60, static_cast<std::uint32_t>(fileSize));
    out.write(rec.data(), 64);
  }
  made[key] = p;
  return p;
}

// Opens the archive and produces the listing, as `tarn-pak list` does.
void OpenAndList(benchmark::State& state, Layout layout) {
  fs::path p = MakeArchive(static_cast<int>(state.range(0)), 16, layout, false);
  for (auto _ : state) {
    CTarnDoc doc;
    if (!doc.Open(p)) state.SkipWithError("open failed");
    std::size_t bytes = 0;
    tarn::ForEachFileInSaveOrder(doc.Root(),
                                 [&](const std::string& path, const CPackObject&) { bytes += path.size(); });
    benchmark::DoNotOptimize(bytes);
  }
  state.counters["records"] = static_cast<double>(state.range(0));
}
void BM_OpenAndList(benchmark::State& state) { OpenAndList(state, Layout::Grouped); }
void BM_OpenAndListInterleaved(benchmark::State& state) { OpenAndList(state, Layout::Interleaved); }
BENCHMARK(BM_OpenAndList)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_OpenAndListInterleaved)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_OpenIdenticalPaths(benchmark::State& state) {
  fs::path p = MakeArchive(static_cast<int>(state.range(0)), 1, Layout::SamePath, false);
  for (auto _ : state) {
    CTarnDoc doc;
    doc.Open(p);
    benchmark::DoNotOptimize(doc.Root().CountFiles());
  }
}
BENCHMARK(BM_OpenIdenticalPaths)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();

// Adding n entries of one name must stay linear: fitted to N, the "RMS" row says how far the
// times stray from a straight line (a few percent; a quadratic cost would leave tens).
void BM_AddCollidingNames(benchmark::State& state) {
  for (auto _ : state) {
    CPackObject root;
    root.SetDirectory(true);
    for (int64_t i = 0; i < state.range(0); ++i) root.AddChild("skin.pcx", false);
    benchmark::DoNotOptimize(root.ChildCount());
  }
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_AddCollidingNames)
    ->Arg(4000)
    ->Arg(40000)
    ->Arg(400000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

// A 1 MiB archive of 16,384 records whose data lie outside it: extracting reports each and
// writes nothing, at a cost per record that must not depend on the sizes the records claim.
void BM_ExtractUnreadableRecords(benchmark::State& state) {
  const int count = 16384;
  fs::path p = BenchFolder() / "unreadable.pak";
  {
    std::ofstream out(p, std::ios::binary);
    std::vector<char> header(12, 0), rec(64);
    std::memcpy(header.data(), "PACK", 4);
    PutU32(header, 4, 12);
    PutU32(header, 8, count * 64);
    out.write(header.data(), 12);
    for (int i = 0; i < count; ++i) {
      std::fill(rec.begin(), rec.end(), 0);
      std::snprintf(rec.data(), 56, "maps/lost%05d.bsp", i);
      PutU32(rec, 56, 0x10000000);
      PutU32(rec, 60, 1 << 20);
      out.write(rec.data(), 64);
    }
  }
  for (auto _ : state) {
    CTarnDoc doc;
    doc.Open(p);
    auto report = doc.Root().ExportToDisk(BenchFolder() / "unreadable");
    if (report.failed.size() != static_cast<std::size_t>(count)) state.SkipWithError("expected every record to fail");
  }
  state.counters["records"] = count;
}
BENCHMARK(BM_ExtractUnreadableRecords)->Unit(benchmark::kMillisecond)->UseRealTime();

// 256 files of 1 MiB, written once.
fs::path SourceTree() {
  static fs::path dir = [] {
    fs::path d = BenchFolder() / "tree";
    std::mt19937 rng(1);
    std::vector<char> block(1 << 20);
    for (int i = 0; i < 256; ++i) {
      fs::path sub = d / ("dir" + std::to_string(i % 8));
      fs::create_directories(sub);
      for (auto& c : block) c = static_cast<char>(rng());
      std::ofstream(sub / ("file" + std::to_string(i) + ".bin"), std::ios::binary).write(block.data(), block.size());
    }
    return d;
  }();
  return dir;
}

void BM_Cat256MiB(benchmark::State& state) {
  fs::path tree = SourceTree();
  fs::path out = BenchFolder() / "cat.out";
  std::string cmd = "cat";
  for (int i = 0; i < 256; ++i)
    cmd += " " + (tree / ("dir" + std::to_string(i % 8)) / ("file" + std::to_string(i) + ".bin")).string();
  cmd += " > " + out.string() + " && sync";
  std::system(cmd.c_str());  // warm-up: the same page-cache state for every contender
  for (auto _ : state)
    if (std::system(cmd.c_str()) != 0) state.SkipWithError("cat failed");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * (256 << 20));
}
BENCHMARK(BM_Cat256MiB)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// Packs the files into out (a pk3 is written stored, as tarn-pak --store writes it: each file's
// CRC is computed on the way, against the copy alone of `cat`).
void Pack256MiB(benchmark::State& state, const char* name) {
  fs::path tree = SourceTree();
  fs::path out = BenchFolder() / name;
  auto pack = [&] {
    CTarnDoc doc;
    doc.Root().ImportDirectory(tree, tarn::ImportOptions{.snapshot = false});
    doc.SetWriteOptions({.deflateLevel = 0});
    bool ok = doc.Save(out);
    ::sync();
    return ok;
  };
  pack();  // warm-up
  for (auto _ : state)
    if (!pack()) state.SkipWithError("save failed");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * (256 << 20));
}
void BM_Pack256MiB(benchmark::State& state) { Pack256MiB(state, "packed.pak"); }
BENCHMARK(BM_Pack256MiB)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
void BM_Pack256MiBIntoPk3Stored(benchmark::State& state) { Pack256MiB(state, "packed.pk3"); }
BENCHMARK(BM_Pack256MiBIntoPk3Stored)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_Unpack256MiB(benchmark::State& state) {
  fs::path pak = BenchFolder() / "packed.pak";
  if (!fs::exists(pak)) {
    CTarnDoc doc;
    doc.Root().ImportDirectory(SourceTree(), tarn::ImportOptions{.snapshot = false});
    doc.Save(pak);
  }
  fs::path out = BenchFolder() / "unpacked";
  auto unpack = [&] {
    CTarnDoc doc;
    doc.Open(pak);
    bool ok = doc.Root().ExportToDisk(out).ok();
    ::sync();
    return ok;
  };
  unpack();  // warm-up
  for (auto _ : state)
    if (!unpack()) state.SkipWithError("export failed");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * (256 << 20));
}
BENCHMARK(BM_Unpack256MiB)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// `tarn-pak list` of a 1 GiB archive in a child process; reports the child's peak memory.
void BM_ListPeakMemory1GiB(benchmark::State& state) {
  fs::path p = MakeArchive(16384, 64 << 10, Layout::Grouped, true);
  long peakKiB = 0;
  for (auto _ : state) {
    pid_t child = ::fork();
    if (child == 0) {
      int devnull = ::open("/dev/null", O_WRONLY);
      ::dup2(devnull, 1);
      ::execl(TARN_PAK_PATH, "tarn-pak", "list", p.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) state.SkipWithError("tarn-pak list failed");
    rusage usage{};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    peakKiB = usage.ru_maxrss;
  }
  state.counters["archive_MiB"] = static_cast<double>(fs::file_size(p) >> 20);
  state.counters["peak_rss_MiB"] = static_cast<double>(peakKiB) / 1024.0;
}
BENCHMARK(BM_ListPeakMemory1GiB)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
