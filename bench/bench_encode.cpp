// Encoding speed and colour accuracy: a 1024 × 1024 photograph to a Quake picture with tarn-pak
// against ImageMagick's "-dither None -remap" on the same palette (whole process each), mip
// level generation of a 1024 × 1024 texture, and the colour error of both matchers (mean
// CIEDE2000 and CIE76 ΔE over the generated photograph and, where ../shared/samples is
// present, real photographs and textures), reported as counters. ImageMagick's parts are
// skipped where it is not installed.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

#include "BenchSupport.h"
#include "cli/PngWriter.h"
#include "maps/MapTextures.h"
#include "pictures/ImageDecode.h"
#include "pictures/ImageEncode.h"

namespace fs = std::filesystem;
using tarn::RgbaImage;

namespace {

const char* const kMagick = "/usr/bin/convert";

const fs::path& Folder() { return tarn::bench::BenchFolder("tarn-bench-encode-"); }

// Smooth random field in [0, 1]: value noise over a grid of `cells`, interpolated smoothly.
struct Noise {
  int cells;
  std::vector<float> grid;
  Noise(int c, std::mt19937& rng) : cells(c), grid(static_cast<std::size_t>((c + 1) * (c + 1))) {
    std::uniform_real_distribution<float> u(0, 1);
    for (float& v : grid) v = u(rng);
  }
  float At(float x, float y) const {  // x, y in [0, 1)
    const float fx = x * cells, fy = y * cells;
    const int ix = static_cast<int>(fx), iy = static_cast<int>(fy);
    auto s = [](float t) { return t * t * (3 - 2 * t); };
    const float tx = s(fx - ix), ty = s(fy - iy);
    auto g = [&](int a, int b) { return grid[static_cast<std::size_t>(b * (cells + 1) + a)]; };
    const float top = g(ix, iy) + (g(ix + 1, iy) - g(ix, iy)) * tx;
    const float bottom = g(ix, iy + 1) + (g(ix + 1, iy + 1) - g(ix, iy + 1)) * tx;
    return top + (bottom - top) * ty;
  }
};

// A deterministic stand-in for a photograph: lit, shaded regions of several hues with detail
// at every scale and a little sensor grain, so that most pixels have their own colour.
RgbaImage Photograph(int size) {
  std::mt19937 rng(1234);
  Noise hue(3, rng), light(5, rng), detail(37, rng), fine(150, rng), sat(4, rng);
  std::normal_distribution<float> grain(0, 2.0f);
  RgbaImage img;
  img.width = img.height = size;
  img.rgba.resize(img.PixelCount() * 4);
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      const float u = static_cast<float>(x) / size, v = static_cast<float>(y) / size;
      const float h = hue.At(u, v) * 6.2832f * 1.5f;
      const float s = 0.15f + 0.6f * sat.At(u, v);
      const float l = 0.12f + 0.7f * light.At(u, v) * (0.75f + 0.25f * detail.At(u, v)) * (0.9f + 0.1f * fine.At(u, v));
      const float base[3] = {std::cos(h), std::cos(h - 2.094f), std::cos(h + 2.094f)};
      std::uint8_t* p = img.rgba.data() + 4 * (static_cast<std::size_t>(y) * size + x);
      for (int c = 0; c < 3; ++c)
        p[c] = static_cast<std::uint8_t>(std::clamp(255.0f * l * (1 + s * base[c]) + grain(rng), 0.0f, 255.0f));
      p[3] = 255;
    }
  return img;
}

bool WriteRgbPng(const fs::path& path, const RgbaImage& img) {
  std::vector<std::uint8_t> rgb(img.PixelCount() * 3);
  for (std::size_t i = 0; i < img.PixelCount(); ++i)
    for (int c = 0; c < 3; ++c) rgb[3 * i + c] = img.rgba[4 * i + c];
  std::string why;
  return tarn::cli::WritePngRgb(path.string(), img.width, img.height, static_cast<std::size_t>(img.width) * 3,
                                rgb.data(), &why);
}

fs::path PalettePng(int paletteId) {
  tarn::Palette pal;
  tarn::LoadPalette(paletteId, pal);
  RgbaImage img;
  img.width = img.height = 16;
  for (const auto& c : pal.colors) img.rgba.insert(img.rgba.end(), {c.r, c.g, c.b, 255});
  const fs::path p = Folder() / ("palette" + std::to_string(paletteId) + ".png");
  WriteRgbPng(p, img);
  return p;
}

const fs::path& PhotoPng() {
  static const fs::path p = [] {
    const fs::path path = Folder() / "photo.png";
    WriteRgbPng(path, Photograph(1024));
    return path;
  }();
  return p;
}

void RunCommand(benchmark::State& state, const std::string& cmd) {
  for (auto _ : state)
    if (std::system(cmd.c_str()) != 0) state.SkipWithError("command failed");
}

void BM_TarnPakEncodePhotoToLmp(benchmark::State& state) {
  RunCommand(state,
             std::string(TARN_PAK_PATH) + " encode " + PhotoPng().string() + " " + (Folder() / "tarn.lmp").string());
}
BENCHMARK(BM_TarnPakEncodePhotoToLmp)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

void BM_ImageMagickRemapPhoto(benchmark::State& state) {
  if (!fs::exists(kMagick)) return state.SkipWithError("ImageMagick is not installed");
  RunCommand(state, std::string(kMagick) + " " + PhotoPng().string() + " -dither None -remap " +
                        PalettePng(tarn::kQuakePaletteId).string() + " " + (Folder() / "magick.png").string());
}
BENCHMARK(BM_ImageMagickRemapPhoto)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// A 1024 × 1024 texture drawn in Quake's palette, as textures are: the photograph, matched.
void BM_MipLevels1024(benchmark::State& state) {
  tarn::Palette pal;
  tarn::LoadPalette(tarn::kQuakePaletteId, pal);
  const RgbaImage photo = Photograph(1024);
  tarn::PaletteMatcher first(pal,
                             {tarn::Fullbright::Auto, tarn::kQuakeFullbrightFirst, tarn::kQuakeFullbrightLast, false});
  std::vector<std::uint8_t> indices(photo.PixelCount());
  tarn::MatchPixels(photo.rgba, 1024, 1024, {}, first, tarn::Dither::None, indices);
  RgbaImage texture;
  tarn::ImageFromIndices(1024, 1024, indices, pal, false, texture);
  for (auto _ : state) {
    // A new matcher each time: its cache must not carry the answers over.
    tarn::PaletteMatcher matcher(
        pal, {tarn::Fullbright::Auto, tarn::kQuakeFullbrightFirst, tarn::kQuakeFullbrightLast, false});
    auto levels = tarn::MakeMipLevels(texture, false, matcher, tarn::Dither::None);
    benchmark::DoNotOptimize(levels[2].pixels.data());
  }
}
BENCHMARK(BM_MipLevels1024)->Unit(benchmark::kMillisecond);

struct Error {
  double e2000 = 0, e76 = 0;
};

// Mean colour difference between two pictures' opaque pixels.
Error MeanError(const RgbaImage& a, const RgbaImage& b) {
  Error e;
  std::size_t n = 0;
  for (std::size_t i = 0; i < a.PixelCount(); ++i) {
    const std::uint8_t *p = a.Pixel(i), *q = b.Pixel(i);
    const tarn::Lab x = tarn::ToLab(p[0], p[1], p[2]), y = tarn::ToLab(q[0], q[1], q[2]);
    e.e2000 += tarn::DeltaE2000(x, y);
    e.e76 += std::sqrt((x.l - y.l) * (x.l - y.l) + (x.a - y.a) * (x.a - y.a) + (x.b - y.b) * (x.b - y.b));
    ++n;
  }
  if (n) e.e2000 /= static_cast<double>(n), e.e76 /= static_cast<double>(n);
  return e;
}

std::vector<std::uint8_t> ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The pictures measured: the generated photograph, and the real ones among the samples, each
// into the palette of the other game (so that none is already in it).
std::vector<std::pair<RgbaImage, int>> QualitySet() {
  std::vector<std::pair<RgbaImage, int>> set;
  set.emplace_back(Photograph(512), tarn::kQuakePaletteId);
  const fs::path samples = TARN_SAMPLES_DIR;
  auto add = [&](const std::string& rel, int paletteId) {
    RgbaImage img;
    std::string why;
    if (tarn::DecodeImage(ReadAll(samples / rel), rel, img, &why)) {
      for (std::size_t i = 0; i < img.PixelCount(); ++i) img.rgba[4 * i + 3] = 255;
      set.emplace_back(std::move(img), paletteId);
    }
  };
  add("wal-R/inst/extdata/bricks.wal", tarn::kQuakePaletteId);  // a photograph of bricks
  add("TrenchBroom/lib/TbMdlLib/test/fixture/mdl/LoadWalTexture/rtz/b_pv_v1a1.wal", tarn::kQuakePaletteId);
  add("LibreQuake/lq1/gfx/conback.lmp", tarn::kQuake2PaletteId);
  add("LibreQuake/lq1/progs/v_rock2.mdl", tarn::kQuake2PaletteId);
  const auto wad = ReadAll(samples / "TrenchBroom/lib/TbFsLib/test/fixture/fs/Wad/cr8_czg.wad");
  if (wad.size() > 12) {
    // The first textures of a real texture set, straight from the WAD's lumps.
    const std::uint32_t count = wad[4] | wad[5] << 8, dir = wad[8] | wad[9] << 8 | wad[10] << 16 | wad[11] << 24;
    for (std::uint32_t i = 0; i < std::min<std::uint32_t>(count, 6); ++i) {
      const std::size_t rec = dir + i * 32;
      if (rec + 32 > wad.size()) break;
      const std::uint32_t pos = wad[rec] | wad[rec + 1] << 8 | wad[rec + 2] << 16 | wad[rec + 3] << 24;
      const std::uint32_t size = wad[rec + 4] | wad[rec + 5] << 8 | wad[rec + 6] << 16 | wad[rec + 7] << 24;
      if (pos > wad.size() || size > wad.size() - pos) break;
      RgbaImage img;
      if (tarn::DecodeMiptex(std::span(wad).subspan(pos, size), img, nullptr, nullptr))
        set.emplace_back(std::move(img), tarn::kQuake2PaletteId);
    }
  }
  return set;
}

void BM_MatchQualityVsImageMagick(benchmark::State& state) {
  if (!fs::exists(kMagick)) return state.SkipWithError("ImageMagick is not installed");
  double oursSum = 0, magickSum = 0, ours76 = 0, magick76 = 0;
  int pictures = 0;
  for (auto _ : state) {
    const auto set = QualitySet();
    oursSum = magickSum = ours76 = magick76 = 0;
    pictures = 0;
    for (const auto& [img, paletteId] : set) {
      const fs::path in = Folder() / "q.png", out = Folder() / "q-magick.png";
      WriteRgbPng(in, img);
      const std::string cmd = std::string(kMagick) + " " + in.string() + " -dither None -remap " +
                              PalettePng(paletteId).string() + " " + out.string();
      RgbaImage magick;
      if (std::system(cmd.c_str()) != 0 || !tarn::DecodeImage(ReadAll(out), "q.png", magick, nullptr))
        return state.SkipWithError("ImageMagick failed");
      tarn::EncodeOptions o;
      o.paletteChoice = paletteId == tarn::kQuakePaletteId ? tarn::PaletteChoice::Quake : tarn::PaletteChoice::Quake2;
      const auto r = tarn::EncodeImage(img, tarn::OutputKind::Pcx, o);
      std::vector<std::uint8_t> packed;
      for (int y = 0; y < img.height; ++y) packed.insert(packed.end(), r.picture.Row(y), r.picture.Row(y) + img.width);
      RgbaImage ours;
      tarn::ImageFromIndices(img.width, img.height, packed, r.palette, false, ours);
      const Error a = MeanError(img, ours), b = MeanError(img, magick);
      oursSum += a.e2000, magickSum += b.e2000, ours76 += a.e76, magick76 += b.e76;
      ++pictures;
    }
  }
  state.counters["pictures"] = pictures;
  state.counters["tarn_dE2000"] = oursSum / pictures;
  state.counters["magick_dE2000"] = magickSum / pictures;
  state.counters["tarn_dE76"] = ours76 / pictures;
  state.counters["magick_dE76"] = magick76 / pictures;
}
BENCHMARK(BM_MatchQualityVsImageMagick)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
