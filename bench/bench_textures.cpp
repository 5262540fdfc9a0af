// Replacement art for a game folder of about 100 MB (maps, texture WADs, models with skins,
// gfx.wad): `tarn-pak textures` as a whole process, against the floor it has to meet (reading
// every file and writing every picture's PNG on every core, in this process) and against a plain
// loop of `tarn-pak convert`, one process a picture (timed on the first pictures and counted per
// picture: a loop over all of them would take minutes).
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <random>
#include <thread>

#include "BenchSupport.h"
#include "GameBytes.h"
#include "archive/PackObject.h"
#include "containers/WadFormat.h"
#include "document/TarnDoc.h"
#include "formats/PictureSpots.h"
#include "pictures/EntryPictures.h"
#include "pictures/GlowLayers.h"
#include "pictures/ImageWrite.h"

namespace fs = std::filesystem;

namespace {

using tarn::test::Bytes;

// Texture-like pixels: blotches of a few neighbouring colours; one picture in four has a light.
struct Painter {
  std::mt19937 rng;
  std::uint8_t At(int x, int y, int seed) {
    const int base = ((x / 11 + y / 7 + seed) * 16) % 208;
    if (seed % 4 == 0 && x >= 8 && x < 24 && y >= 8 && y < 16) return static_cast<std::uint8_t>(240 + x % 8);
    return static_cast<std::uint8_t>(base + rng() % 4);
  }
};

Bytes Miptex(Painter& p, const std::string& name, int side, int seed) {
  return tarn::test::ArtMiptex(name, side, side, [&](int x, int y) { return p.At(x, y, seed); });
}

Bytes Model(Painter& p, int skins, int side, int seed) {
  std::vector<tarn::test::ArtSkin> all;
  for (int s = 0; s < skins; ++s) all.push_back({{[&p, k = seed + s](int x, int y) { return p.At(x, y, k); }}});
  return tarn::test::ArtMdl(side, side, all);
}

void WriteBytes(const fs::path& path, const Bytes& b) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

// The game folder, about 100 MB: 40 maps of 60 textures of 128 × 128 (each about 22 kB with its
// levels), 4 texture WADs of 250 such textures, 200 models of two 256 × 256 skins, and gfx.wad.
const fs::path& Game() {
  static const fs::path dir = [] {
    const fs::path d = tarn::bench::BenchFolder("tarn-bench-textures-") / "id1";
    Painter p{std::mt19937(5)};
    int seed = 0;
    for (int m = 0; m < 40; ++m) {
      std::vector<Bytes> textures;
      for (int t = 0; t < 60; ++t)
        textures.push_back(Miptex(p, "m" + std::to_string(m) + "t" + std::to_string(t), 128, ++seed));
      WriteBytes(d / ("maps/e" + std::to_string(m) + ".bsp"), tarn::test::TextureMap(textures));
    }
    for (int w = 0; w < 4; ++w) {
      std::vector<tarn::WadLump> lumps;
      for (int t = 0; t < 250; ++t) {
        const std::string name = "w" + std::to_string(w) + "t" + std::to_string(t);
        lumps.push_back({name, Miptex(p, name, 128, ++seed), 'D'});
      }
      WriteBytes(d / ("tex" + std::to_string(w) + ".wad"), tarn::BuildWad(tarn::ContainerFormat::Wad2, lumps));
    }
    for (int m = 0; m < 200; ++m) WriteBytes(d / ("progs/m" + std::to_string(m) + ".mdl"), Model(p, 2, 256, ++seed));
    std::vector<tarn::WadLump> gfx;
    for (int i = 0; i < 40; ++i) {
      Bytes pic;
      tarn::test::PutU32(pic, 0, 64);
      tarn::test::PutU32(pic, 4, 24);
      for (int k = 0; k < 64 * 24; ++k) pic.push_back(p.At(k % 64, k / 64, i));
      gfx.push_back({"pic" + std::to_string(i), pic, 'B'});
    }
    WriteBytes(d / "gfx.wad", tarn::BuildWad(tarn::ContainerFormat::Wad2, gfx));
    return d;
  }();
  return dir;
}

std::uintmax_t GameBytes() {
  std::uintmax_t n = 0;
  for (const auto& e : fs::recursive_directory_iterator(Game()))
    if (e.is_regular_file()) n += e.file_size();
  return n;
}

void Run(benchmark::State& state, const std::string& command) {
  for (auto _ : state)
    if (std::system(command.c_str()) != 0) state.SkipWithError(("failed: " + command).c_str());
}

// The whole command, as a user runs it.
void BM_TexturesCommand(benchmark::State& state) {
  const fs::path out = tarn::bench::BenchFolder("tarn-bench-textures-") / "out";
  Run(state, std::string(TARN_PAK_PATH) + " textures " + Game().string() + " --engine fte --out " + out.string() +
                 " > /dev/null");
  state.counters["MB"] = static_cast<double>(GameBytes()) / 1e6;
}
BENCHMARK(BM_TexturesCommand)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// The floor: every file read, every picture decoded, split into its layers and each layer written
// as a PNG, on every core.
void BM_ReadAndWritePngs(benchmark::State& state) {
  const fs::path out = tarn::bench::BenchFolder("tarn-bench-textures-") / "floor";
  std::vector<fs::path> files;
  for (const auto& e : fs::recursive_directory_iterator(Game()))
    if (e.is_regular_file()) files.push_back(e.path());
  tarn::Palette palette;
  tarn::LoadPalette(tarn::kQuakePaletteId, palette);
  for (auto _ : state) {
    fs::create_directories(out);
    std::atomic<std::size_t> next{0}, pictures{0};
    auto work = [&] {
      for (std::size_t i; (i = next++) < files.size();) {
        std::ifstream in(files[i], std::ios::binary);
        const Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const tarn::PictureSpots spots = tarn::FindPictureSpots(files[i].filename().string(), bytes);
        for (std::size_t k = 0; k < spots.spots.size(); ++k) {
          tarn::Picture p;
          if (!tarn::ReadSpot(bytes, spots.spots[k], p, nullptr)) continue;
          tarn::LayerRules rules;
          rules.lit = true;
          rules.glowFirst = 224, rules.glowLast = 255;
          const tarn::PictureLayers layers = tarn::SplitLayers(p, palette, rules);
          for (const tarn::RgbaImage* layer : {&layers.base, &layers.glow}) {
            if (layer->rgba.empty()) continue;
            Bytes png;
            tarn::EncodePng(*layer, png, nullptr);
            WriteBytes(
                out / (std::to_string(i) + "_" + std::to_string(k) + (layer == &layers.base ? "" : "_glow") + ".png"),
                png);
          }
          ++pictures;
        }
      }
    };
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < std::max(1u, std::thread::hardware_concurrency()); ++t) threads.emplace_back(work);
    for (std::thread& t : threads) t.join();
    state.counters["pictures"] = static_cast<double>(pictures);
  }
}
BENCHMARK(BM_ReadAndWritePngs)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// tarn-pak convert, one process a picture, over the first 200 textures of a WAD (time per
// picture, "us/picture", to set beside the command's).
void BM_ConvertLoopPerPicture(benchmark::State& state) {
  const fs::path out = tarn::bench::BenchFolder("tarn-bench-textures-") / "convert";
  fs::create_directories(out);
  std::string loop = "for i in $(seq 0 199); do " + std::string(TARN_PAK_PATH) + " convert " +
                     (Game() / "tex0.wad").string() + " w0t$i.mip " + out.string() + "/$i.png || exit 1; done";
  const auto start = std::chrono::steady_clock::now();
  Run(state, "sh -c '" + loop + "'");
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  state.counters["us/picture"] = seconds * 1e6 / 200 / static_cast<double>(state.iterations());
}
BENCHMARK(BM_ConvertLoopPerPicture)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
