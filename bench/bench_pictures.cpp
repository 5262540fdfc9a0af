// Picture speed: decoding a 1024 × 1024 PCX (256-colour and 24-bit), and converting it to PNG
// with tarn-pak against ImageMagick's convert on the same file (skipped where ImageMagick is not
// installed); telling text from bytes in a large entry.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

#include "archive/TextSniff.h"
#include "cli/PngWriter.h"
#include "document/TarnDoc.h"
#include "pictures/Pictures.h"

namespace fs = std::filesystem;

namespace {

const fs::path& Folder() {
  static const fs::path dir = [] {
    fs::path d = fs::temp_directory_path() / ("tarn-bench-pictures-" + std::to_string(::getpid()));
    fs::create_directories(d);
    std::atexit([] {
      std::error_code ec;
      fs::remove_all(fs::temp_directory_path() / ("tarn-bench-pictures-" + std::to_string(::getpid())), ec);
    });
    return d;
  }();
  return dir;
}

// A 1024 × 1024 texture-like picture: blotches of colour with short runs, coded as an encoder would.
const std::vector<std::uint8_t>& PcxBytes() {
  static const std::vector<std::uint8_t> bytes = [] {
    const int size = 1024;
    std::vector<std::uint8_t> b(128, 0);
    b[0] = 10, b[1] = 5, b[2] = 1, b[3] = 8;
    b[8] = b[10] = 0xFF, b[9] = b[11] = 0x03;
    b[65] = 1, b[66] = 0x00, b[67] = 0x04;
    std::mt19937 rng(7);
    for (int y = 0; y < size; ++y) {
      int x = 0;
      while (x < size) {
        const int run = std::min<int>(size - x, 1 + static_cast<int>(rng() % 6));
        const std::uint8_t value = static_cast<std::uint8_t>((x / 37 + y / 23) * 7 + rng() % 3);
        if (run > 1 || value >= 0xC0) {
          b.push_back(static_cast<std::uint8_t>(0xC0 | run));
          b.push_back(value);
        } else {
          b.push_back(value);
        }
        x += run;
      }
    }
    b.push_back(0x0C);
    for (int i = 0; i < 768; ++i) b.push_back(static_cast<std::uint8_t>(i * 5));
    return b;
  }();
  return bytes;
}

fs::path WriteInputs() {
  static const fs::path pcx = [] {
    fs::path p = Folder() / "big.pcx";
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(PcxBytes().data()), PcxBytes().size());
    tarn::CTarnDoc doc;
    std::string why;
    doc.Root().ImportFile(p, {}, &why);
    doc.Save(Folder() / "pictures.pak");
    return p;
  }();
  return pcx;
}

void BM_DecodePcx1024(benchmark::State& state) {
  tarn::Picture p;
  tarn::Palette pal;
  for (auto _ : state) {
    tarn::DecodePcx(PcxBytes(), p, pal);
    benchmark::DoNotOptimize(p.pixels.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 1024 * 1024);
}
BENCHMARK(BM_DecodePcx1024)->Unit(benchmark::kMillisecond);

// The same blotches in three planes: a 24-bit PCX, each plane its own runs.
const std::vector<std::uint8_t>& Pcx24Bytes() {
  static const std::vector<std::uint8_t> bytes = [] {
    std::vector<std::uint8_t> b(PcxBytes().begin(), PcxBytes().begin() + 128);
    b[65] = 3;
    std::mt19937 rng(11);
    for (int line = 0; line < 3 * 1024; ++line) {
      for (int x = 0; x < 1024;) {
        const int run = std::min<int>(1024 - x, 1 + static_cast<int>(rng() % 6));
        b.push_back(static_cast<std::uint8_t>(0xC0 | run));
        b.push_back(static_cast<std::uint8_t>((x / 37 + line / 23) * 7 + rng() % 3));
        x += run;
      }
    }
    return b;
  }();
  return bytes;
}

void BM_DecodePcx24_1024(benchmark::State& state) {
  tarn::Picture p;
  tarn::Palette pal;
  for (auto _ : state) {
    if (!tarn::DecodePcx(Pcx24Bytes(), p, pal) || !p.IsTrueColor()) state.SkipWithError("not decoded");
    benchmark::DoNotOptimize(p.rgba.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 1024 * 1024 * 3);
}
BENCHMARK(BM_DecodePcx24_1024)->Unit(benchmark::kMillisecond);

// 16 MiB of Latin-1 map source (the worst case: it passes the UTF-8 reading first, then the
// Latin-1 one), as a double-click on an unknown entry reads it.
void BM_LooksLikeText16MiB(benchmark::State& state) {
  static const std::vector<std::uint8_t> text = [] {
    const std::string line = "{ \"classname\" \"light\" \"origin\" \"128 -64 32\" \"light\" \"300\" }\n";
    std::vector<std::uint8_t> t;
    while (t.size() < (16u << 20)) t.insert(t.end(), line.begin(), line.end());
    t.back() = 0xE9;  // one Latin-1 letter at the very end
    return t;
  }();
  for (auto _ : state) benchmark::DoNotOptimize(tarn::LooksLikeText(text));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_LooksLikeText16MiB)->Unit(benchmark::kMillisecond);

void BM_PcxToPngInProcess(benchmark::State& state) {
  const std::string out = (Folder() / "inproc.png").string();
  for (auto _ : state) {
    tarn::Picture p;
    tarn::Palette pal;
    tarn::DecodePcx(PcxBytes(), p, pal);
    std::string why;
    if (!tarn::cli::WritePng(out, p, pal, &why)) state.SkipWithError(why.c_str());
  }
}
BENCHMARK(BM_PcxToPngInProcess)->Unit(benchmark::kMillisecond);

void RunCommand(benchmark::State& state, const std::string& cmd) {
  for (auto _ : state)
    if (std::system(cmd.c_str()) != 0) state.SkipWithError("command failed");
}

void BM_TarnPakConvert(benchmark::State& state) {
  WriteInputs();
  RunCommand(state, std::string(TARN_PAK_PATH) + " convert " + (Folder() / "pictures.pak").string() + " big.pcx " +
                        (Folder() / "tarn.png").string());
}
BENCHMARK(BM_TarnPakConvert)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ImageMagickConvert(benchmark::State& state) {
  const char* convert = "/usr/bin/convert";
  if (!fs::exists(convert)) {
    state.SkipWithError("ImageMagick is not installed");
    return;
  }
  RunCommand(state, std::string(convert) + " " + WriteInputs().string() + " " + (Folder() / "magick.png").string());
}
BENCHMARK(BM_ImageMagickConvert)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
