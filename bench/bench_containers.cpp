// Containers against their yardsticks, whole processes where the user runs one:
// - `tarn-pak list` of a 10,000-entry PAK against a minimal C lister (the floor: one read of
//   the directory, one line per record), and of a 10,000-entry pk3 against `unzip -l`;
// - deflating 64 MiB of text into a pk3 against Info-ZIP's `zip -r -6`;
// - repacking a 1 GiB PAK of mixed files into a pk3 against `zip -r -6` on the same tree;
// - extracting a 256 MiB deflated pk3 against `unzip`;
// - the peak memory of `tarn-pak list` of a 1 GiB pk3.
// The outside programs are skipped when they are not installed.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "document/TarnDoc.h"

namespace fs = std::filesystem;

namespace {

const fs::path& BenchFolder() { return tarn::bench::BenchFolder("tarn-bench-containers-"); }

void Put16(std::string& b, std::uint16_t v) { b.append({static_cast<char>(v), static_cast<char>(v >> 8)}); }
void Put32(std::string& b, std::uint32_t v) {
  Put16(b, static_cast<std::uint16_t>(v));
  Put16(b, static_cast<std::uint16_t>(v >> 16));
}

std::string RecordPath(int i) {
  char name[56];
  const int group = std::min(i / 14, 699);
  std::snprintf(name, sizeof name, "dir%02d/sub%d/file%07d.dat", group / 7, group % 7, i);
  return name;
}

// 10,000 records of 16 bytes in 700 directories, as the archive benchmarks lay them out.
fs::path TenThousandPak() {
  static const fs::path p = [] {
    const fs::path path = BenchFolder() / "records.pak";
    const int count = 10000;
    std::string out(12, '\0'), dir;
    std::memcpy(out.data(), "PACK", 4);
    for (int i = 0; i < count; ++i) {
      std::string rec(64, '\0');
      const std::string name = RecordPath(i);
      std::memcpy(rec.data(), name.data(), name.size());
      std::string numbers;
      Put32(numbers, static_cast<std::uint32_t>(out.size()));
      Put32(numbers, 16);
      std::memcpy(rec.data() + 56, numbers.data(), 8);
      dir += rec;
      out.append(16, 'x');
    }
    std::string header;
    Put32(header, static_cast<std::uint32_t>(out.size()));
    Put32(header, static_cast<std::uint32_t>(dir.size()));
    std::memcpy(out.data() + 4, header.data(), 8);
    std::ofstream(path, std::ios::binary) << out << dir;
    return path;
  }();
  return p;
}

// A zip of count stored entries of size bytes each; the data are left as a hole when sparse
// (listing reads only the central directory).
fs::path StoredZip(const std::string& name, int count, std::uint32_t size, bool sparse) {
  const fs::path path = BenchFolder() / name;
  if (fs::exists(path)) return path;
  std::ofstream out(path, std::ios::binary);
  std::string central;
  std::uint64_t at = 0;
  const std::string data(sparse ? 0 : size, 'x');
  for (int i = 0; i < count; ++i) {
    const std::string entry = RecordPath(i);
    std::string local;
    Put32(local, 0x04034b50);
    for (std::uint16_t v : {10, 0, 0, 0, 0}) Put16(local, v);
    Put32(local, 0);  // the CRC of a hole is not checked by a listing
    Put32(local, size);
    Put32(local, size);
    Put16(local, static_cast<std::uint16_t>(entry.size()));
    Put16(local, 0);
    local += entry;
    Put32(central, 0x02014b50);
    for (std::uint16_t v : {20, 10, 0, 0, 0, 0}) Put16(central, v);
    Put32(central, 0);
    Put32(central, size);
    Put32(central, size);
    Put16(central, static_cast<std::uint16_t>(entry.size()));
    for (std::uint16_t v : {0, 0, 0, 0}) Put16(central, v);
    Put32(central, 0);
    Put32(central, static_cast<std::uint32_t>(at));
    central += entry;
    out << local;
    if (sparse) out.seekp(static_cast<std::streamoff>(at + local.size() + size));
    else out << data;
    at += local.size() + size;
  }
  std::string end;
  Put32(end, 0x06054b50);
  Put32(end, 0);
  Put16(end, static_cast<std::uint16_t>(count));
  Put16(end, static_cast<std::uint16_t>(count));
  Put32(end, static_cast<std::uint32_t>(central.size()));
  Put32(end, static_cast<std::uint32_t>(at));
  Put16(end, 0);
  out << central << end;
  return path;
}

bool Installed(const char* program) {
  return std::system(("command -v " + std::string(program) + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs a program with its output thrown away; its peak memory in KiB, or -1 when it failed.
long RunQuietly(const std::vector<std::string>& argv) {
  const pid_t child = ::fork();
  if (child == 0) {
    const int devnull = ::open("/dev/null", O_WRONLY);
    ::dup2(devnull, 1);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  ::wait4(child, &status, 0, &usage);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? usage.ru_maxrss : -1;
}

void WholeProcess(benchmark::State& state, const std::vector<std::string>& argv) {
  long peak = 0;
  for (auto _ : state) {
    peak = RunQuietly(argv);
    if (peak < 0) state.SkipWithError((argv[0] + " failed").c_str());
  }
  state.counters["peak_rss_MiB"] = static_cast<double>(peak) / 1024.0;
}

void BM_ListPak10k_TarnPak(benchmark::State& state) { WholeProcess(state, {TARN_PAK_PATH, "list", TenThousandPak()}); }
void BM_ListPak10k_CLister(benchmark::State& state) { WholeProcess(state, {PAK_LISTER_PATH, TenThousandPak()}); }
BENCHMARK(BM_ListPak10k_TarnPak)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ListPak10k_CLister)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ListPk3_10k_TarnPak(benchmark::State& state) {
  WholeProcess(state, {TARN_PAK_PATH, "list", StoredZip("records.pk3", 10000, 16, false)});
}
void BM_ListPk3_10k_UnzipL(benchmark::State& state) {
  if (!Installed("unzip")) return state.SkipWithError("unzip is not installed");
  WholeProcess(state, {"unzip", "-l", StoredZip("records.pk3", 10000, 16, false)});
}
BENCHMARK(BM_ListPk3_10k_TarnPak)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ListPk3_10k_UnzipL)->Unit(benchmark::kMillisecond)->UseRealTime();

// `tarn-pak list` of a 1 GiB pk3 (16,384 entries of 64 KiB): the child's peak memory.
void BM_ListPk3_1GiB_PeakMemory(benchmark::State& state) {
  WholeProcess(state, {TARN_PAK_PATH, "list", StoredZip("big.pk3", 16384, 64 << 10, true)});
  state.counters["archive_MiB"] = static_cast<double>(fs::file_size(BenchFolder() / "big.pk3") >> 20);
}
BENCHMARK(BM_ListPk3_1GiB_PeakMemory)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// 64 MiB of text: lines of words, as .cfg, .qc and .ent files are.
fs::path TextTree() {
  static const fs::path dir = [] {
    const fs::path d = BenchFolder() / "text";
    static const char* kWords[] = {
        "bind",  "alias",  "impulse", "self",  "entity", "origin", "classname", "worldspawn",
        "light", "target", "void()",  "float", "{",      "}",      "=",         "\"info_player_start\""};
    std::mt19937 rng(2);
    for (int i = 0; i < 64; ++i) {
      const fs::path sub = d / ("src" + std::to_string(i % 4));
      fs::create_directories(sub);
      std::string text;
      while (text.size() < (1u << 20)) {
        for (int w = 0; w < 8; ++w) text.append(kWords[rng() % 16]).push_back(' ');
        text += std::to_string(rng() % 4096) + "\n";
      }
      text.resize(1 << 20);
      std::ofstream(sub / ("file" + std::to_string(i) + ".qc"), std::ios::binary) << text;
    }
    return d;
  }();
  return dir;
}

void BM_Deflate64MiBText_TarnPak(benchmark::State& state) {
  const std::vector<std::string> argv = {TARN_PAK_PATH, "create", (BenchFolder() / "text.pk3").string(),
                                         TextTree().string()};
  for (auto _ : state)
    if (RunQuietly(argv) < 0) state.SkipWithError("tarn-pak create failed");
  state.counters["ratio"] = static_cast<double>(fs::file_size(BenchFolder() / "text.pk3")) / (64 << 20);
}
void BM_Deflate64MiBText_InfoZip(benchmark::State& state) {
  if (!Installed("zip")) return state.SkipWithError("zip is not installed");
  const fs::path out = BenchFolder() / "text.zip";
  for (auto _ : state) {
    fs::remove(out);
    if (RunQuietly({"sh", "-c", "cd '" + TextTree().string() + "' && zip -q -r -6 '" + out.string() + "' ."}) < 0)
      state.SkipWithError("zip failed");
  }
  state.counters["ratio"] = static_cast<double>(fs::file_size(out)) / (64 << 20);
}
BENCHMARK(BM_Deflate64MiBText_TarnPak)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_Deflate64MiBText_InfoZip)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// A mod's worth of mixed files, as a folder: text, sounds (noisy 8-bit PCM), maps (half
// structure, half noise) and pictures (runs of palette indices), in the proportions a game's
// pak has them, to mb MiB in all.
fs::path MixedTree(const std::string& name, int mb) {
  const fs::path d = BenchFolder() / name;
  if (fs::exists(d)) return d;
  std::mt19937 rng(3);
  std::uint64_t total = 0;
  for (int i = 0; total < (std::uint64_t{static_cast<unsigned>(mb)} << 20); ++i) {
    std::string bytes;
    std::string path;
    switch (i % 4) {
      case 0:
        path = "progs/f" + std::to_string(i) + ".qc";
        while (bytes.size() < 256u << 10) bytes += "self.origin = '0 0 " + std::to_string(rng() % 999) + "';\n";
        break;
      case 1:
        path = "sound/s" + std::to_string(i) + ".wav";
        bytes.resize(1u << 20);
        for (std::size_t k = 0; k < bytes.size(); ++k)
          bytes[k] = static_cast<char>(128 + 40 * std::sin(k * 0.05) + static_cast<int>(rng() % 16));
        break;
      case 2:
        path = "maps/m" + std::to_string(i) + ".bsp";
        bytes.resize(2u << 20);
        for (std::size_t k = 0; k < bytes.size(); ++k) bytes[k] = static_cast<char>(k % 2 ? rng() : (k / 64) % 251);
        break;
      default:
        path = "gfx/p" + std::to_string(i) + ".lmp";
        bytes.resize(512u << 10);
        for (std::size_t k = 0; k < bytes.size(); ++k) bytes[k] = static_cast<char>((k / 37 + rng() % 3) % 256);
    }
    fs::create_directories((d / path).parent_path());
    std::ofstream(d / path, std::ios::binary) << bytes;
    total += bytes.size();
  }
  return d;
}

// The mixed tree of 1 GiB as a PAK, made by tarn-pak itself (a PAK only stores).
fs::path MixedPak() {
  const fs::path pak = BenchFolder() / "mixed.pak";
  if (!fs::exists(pak) && RunQuietly({TARN_PAK_PATH, "create", pak.string(), MixedTree("mixed", 1024).string()}) < 0)
    return {};
  return pak;
}

void BM_Repack1GiBPak_TarnPak(benchmark::State& state) {
  const fs::path pak = MixedPak();
  if (pak.empty()) return state.SkipWithError("the PAK could not be made");
  const fs::path out = BenchFolder() / "mixed.pk3";
  long peak = 0;
  for (auto _ : state) {
    fs::remove(out);
    peak = RunQuietly({TARN_PAK_PATH, "repack", pak.string(), out.string()});
    if (peak < 0) state.SkipWithError("tarn-pak repack failed");
  }
  state.counters["peak_rss_MiB"] = static_cast<double>(peak) / 1024.0;
  state.counters["ratio"] = static_cast<double>(fs::file_size(out)) / static_cast<double>(fs::file_size(pak));
}
void BM_Repack1GiBPak_InfoZipOfTree(benchmark::State& state) {
  if (!Installed("zip")) return state.SkipWithError("zip is not installed");
  const fs::path tree = MixedTree("mixed", 1024);
  const fs::path out = BenchFolder() / "mixed.zip";
  for (auto _ : state) {
    fs::remove(out);
    if (RunQuietly({"sh", "-c", "cd '" + tree.string() + "' && zip -q -r -6 '" + out.string() + "' ."}) < 0)
      state.SkipWithError("zip failed");
  }
}
BENCHMARK(BM_Repack1GiBPak_TarnPak)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(BM_Repack1GiBPak_InfoZipOfTree)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

// A 256 MiB deflated pk3 of the mixed files, extracted into an empty folder each time.
fs::path MixedPk3() {
  const fs::path pk3 = BenchFolder() / "mixed256.pk3";
  if (!fs::exists(pk3) && RunQuietly({TARN_PAK_PATH, "create", pk3.string(), MixedTree("mixed256", 256).string()}) < 0)
    return {};
  return pk3;
}

void BM_Extract256MiBPk3_TarnPak(benchmark::State& state) {
  const fs::path pk3 = MixedPk3();
  if (pk3.empty()) return state.SkipWithError("the pk3 could not be made");
  const fs::path out = BenchFolder() / "out-tarn";
  long peak = 0;
  for (auto _ : state) {
    fs::remove_all(out);
    peak = RunQuietly({TARN_PAK_PATH, "extract", pk3.string(), "-C", out.string()});
    if (peak < 0) state.SkipWithError("tarn-pak extract failed");
  }
  state.counters["peak_rss_MiB"] = static_cast<double>(peak) / 1024.0;
}
void BM_Extract256MiBPk3_Unzip(benchmark::State& state) {
  if (!Installed("unzip")) return state.SkipWithError("unzip is not installed");
  const fs::path pk3 = MixedPk3();
  const fs::path out = BenchFolder() / "out-unzip";
  for (auto _ : state) {
    fs::remove_all(out);
    if (RunQuietly({"unzip", "-qq", pk3.string(), "-d", out.string()}) < 0) state.SkipWithError("unzip failed");
  }
}
BENCHMARK(BM_Extract256MiBPk3_TarnPak)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_Extract256MiBPk3_Unzip)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
