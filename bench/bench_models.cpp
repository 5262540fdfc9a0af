// Model speed: loading a Quake II model of 200 frames, and building one frame for drawing.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "models/Model.h"

namespace {

void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void Put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

// A model of the size of a Quake II player: 400 vertices, 700 triangles, 500 texture
// coordinates, 200 frames named in animations of 20.
const std::vector<std::uint8_t>& Md2() {
  static const std::vector<std::uint8_t> bytes = [] {
    const int vertices = 400, triangles = 700, sts = 500, frames = 200;
    const int frameSize = 40 + 4 * vertices;
    const std::size_t stAt = 68, trisAt = stAt + 4 * sts, framesAt = trisAt + 12 * triangles;
    std::vector<std::uint8_t> b(framesAt + static_cast<std::size_t>(frames) * frameSize, 0);
    std::memcpy(b.data(), "IDP2", 4);
    Put32(b, 4, 8);
    Put32(b, 16, frameSize);
    Put32(b, 24, vertices);
    Put32(b, 28, sts);
    Put32(b, 32, triangles);
    Put32(b, 40, frames);
    Put32(b, 44, 68);
    Put32(b, 48, static_cast<std::uint32_t>(stAt));
    Put32(b, 52, static_cast<std::uint32_t>(trisAt));
    Put32(b, 56, static_cast<std::uint32_t>(framesAt));
    for (int i = 0; i < sts; ++i)
      Put16(b, stAt + 4 * i, static_cast<std::uint16_t>(i % 256)),
          Put16(b, stAt + 4 * i + 2, static_cast<std::uint16_t>(i / 2));
    for (int t = 0; t < triangles; ++t)
      for (int c = 0; c < 3; ++c) {
        Put16(b, trisAt + 12 * t + 2 * c, static_cast<std::uint16_t>((t + c * 7) % vertices));
        Put16(b, trisAt + 12 * t + 6 + 2 * c, static_cast<std::uint16_t>((t * 3 + c) % sts));
      }
    for (int f = 0; f < frames; ++f) {
      const std::size_t at = framesAt + static_cast<std::size_t>(f) * frameSize;
      float one = 1.0f;
      for (int i = 0; i < 3; ++i) std::memcpy(&b[at + 4 * i], &one, 4);
      const std::string name = "anim" + std::to_string(f / 20) + "_" + std::to_string(100 + f % 20);
      std::memcpy(&b[at + 24], name.data(), name.size());
      for (int v = 0; v < vertices; ++v) b[at + 40 + 4 * v] = static_cast<std::uint8_t>(v + f);
    }
    return b;
  }();
  return bytes;
}

// The model names no skin in the archive; the user "chooses" one file that cannot be read, so
// the load completes with one empty skin, as it would in the window.
class ExternalSkin : public tarn::CModelHost {
 public:
  tarn::ExternalSkinChoice ExternalSkins() override { return {{}, {"/nonexistent/skin.pcx"}}; }
};

void BM_LoadMd2With200Frames(benchmark::State& state) {
  ExternalSkin host;
  for (auto _ : state) {
    tarn::ModelData m;
    if (!tarn::LoadMd2(Md2(), m, host)) state.SkipWithError("load failed");
    benchmark::DoNotOptimize(m.animations.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(Md2().size()));
}
BENCHMARK(BM_LoadMd2With200Frames)->Unit(benchmark::kMillisecond);

void BM_BuildOneFrame(benchmark::State& state) {
  ExternalSkin host;
  tarn::ModelData m;
  tarn::LoadMd2(Md2(), m, host);
  tarn::ModelSkin& skin = m.skins.front();  // a drawable 256 × 256 skin in place of the empty one
  skin.width = skin.height = skin.paddedWidth = skin.paddedHeight = 256;
  skin.pixels.assign(256 * 256 * 3, 0);
  int frame = 0;
  for (auto _ : state) {
    auto corners = tarn::BuildFrameGeometry(m, frame / 20 % 10, frame % 20);
    if (corners.empty()) state.SkipWithError("nothing built");
    benchmark::DoNotOptimize(corners.data());
    ++frame;
  }
  state.counters["triangles"] = static_cast<double>(m.triangles.size());
}
BENCHMARK(BM_BuildOneFrame)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
