// Map loading speed: a generated Quake map of the size of a large level (20,000 lit, textured
// faces, 64 embedded textures), at several sizes to show the load is linear in faces, and the
// real maps in ../shared/samples when they are there. The target is a first frame under
// 300 ms, of which this load is the part that does not depend on the renderer.
#include <benchmark/benchmark.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "formats/Bsp.h"
#include "formats/MapEntities.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

void U32(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void U16(Bytes& b, std::uint32_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void F32(Bytes& b, float f) {
  std::uint32_t bits;
  std::memcpy(&bits, &f, 4);
  U32(b, bits);
}

// A BSP29 map of faces floor tiles, 64 units square, each with its own 5 × 5 lightmap; its own
// vertices and edges, as a compiler writes them for faces that share no corners.
Bytes MakeMap(int faces) {
  const int textures = 64, side = 256;
  std::vector<Bytes> lumps(15);
  lumps[0] = Bytes{'{', '"', 'c', 'l', 'a', 's', 's', 'n', 'a', 'm', 'e', '"', ' ', '"',
                   'w', 'o', 'r', 'l', 'd', 's', 'p', 'a', 'w', 'n', '"', '}', 0};
  U32(lumps[2], textures);
  lumps[2].resize(4 + 4 * textures);
  for (int t = 0; t < textures; ++t) {
    const auto offset = static_cast<std::uint32_t>(lumps[2].size());
    std::memcpy(lumps[2].data() + 4 + 4 * t, &offset, 4);
    Bytes m(40, 0);
    const std::string name = "tex" + std::to_string(t);
    std::memcpy(m.data(), name.data(), name.size());
    m[16] = 64, m[20] = 64;
    std::uint32_t at = 40;
    for (int k = 0; k < 4; ++k) {
      std::memcpy(m.data() + 24 + 4 * k, &at, 4);
      at += (64u >> k) * (64u >> k);
    }
    m.resize(at, static_cast<std::uint8_t>(t));
    lumps[2].insert(lumps[2].end(), m.begin(), m.end());
  }
  for (int t = 0; t < textures; ++t) {
    for (float f : {1.f, 0.f, 0.f, 0.f, 0.f, 1.f, 0.f, 0.f}) F32(lumps[6], f);
    U32(lumps[6], static_cast<std::uint32_t>(t));
    U32(lumps[6], 0);
  }
  U32(lumps[12], 0), U32(lumps[12], 0);  // edge 0 is never used
  for (int i = 0; i < faces; ++i) {
    const float x = static_cast<float>(i % side) * 64, y = static_cast<float>(i / side) * 64;
    const std::uint32_t base = static_cast<std::uint32_t>(lumps[3].size() / 12);
    for (auto [vx, vy] : {std::pair{x, y}, {x + 64, y}, {x + 64, y + 64}, {x, y + 64}})
      F32(lumps[3], vx), F32(lumps[3], vy), F32(lumps[3], 0);
    const std::uint32_t firstEdge = static_cast<std::uint32_t>(lumps[13].size() / 4);
    for (std::uint32_t k = 0; k < 4; ++k) {
      U32(lumps[13], static_cast<std::uint32_t>(lumps[12].size() / 4));
      U16(lumps[12], base + k), U16(lumps[12], base + (k + 1) % 4);
    }
    U16(lumps[7], 0), U16(lumps[7], 0), U32(lumps[7], firstEdge), U16(lumps[7], 4);
    U16(lumps[7], static_cast<std::uint32_t>(i % textures));
    lumps[7].insert(lumps[7].end(), {0, 255, 255, 255});
    U32(lumps[7], static_cast<std::uint32_t>(lumps[8].size()));
    lumps[8].resize(lumps[8].size() + 25, static_cast<std::uint8_t>(i));
  }
  for (float f : {0.f, 0.f, -8.f, side * 64.f, 64.f * (faces / side + 1), 8.f, 0.f, 0.f, 0.f}) F32(lumps[14], f);
  lumps[14].resize(lumps[14].size() + 20, 0);
  U32(lumps[14], 0), U32(lumps[14], static_cast<std::uint32_t>(faces));

  Bytes out;
  U32(out, 29);
  out.resize(4 + 15 * 8);
  for (std::size_t i = 0; i < lumps.size(); ++i) {
    const auto at = static_cast<std::uint32_t>(out.size()), length = static_cast<std::uint32_t>(lumps[i].size());
    std::memcpy(out.data() + 4 + 8 * i, &at, 4);
    std::memcpy(out.data() + 8 + 8 * i, &length, 4);
    out.insert(out.end(), lumps[i].begin(), lumps[i].end());
    while (out.size() % 4) out.push_back(0);
  }
  return out;
}

void BM_LoadGeneratedMap(benchmark::State& state) {
  const Bytes map = MakeMap(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    tarn::BspMap loaded;
    if (!tarn::LoadBsp(map, loaded, nullptr)) state.SkipWithError("the generated map does not load");
    std::vector<tarn::MapEntity> entities;
    tarn::ParseEntities(loaded.entities, entities, nullptr);
    benchmark::DoNotOptimize(tarn::FindStart(loaded, entities));
  }
  state.SetComplexityN(state.range(0));
  state.counters["faces"] = static_cast<double>(state.range(0));
}
BENCHMARK(BM_LoadGeneratedMap)
    ->Arg(5000)
    ->Arg(10000)
    ->Arg(20000)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond);

void BM_LoadSampleMap(benchmark::State& state, const char* path) {
  std::ifstream in(std::filesystem::path(TARN_SAMPLES_DIR) / path, std::ios::binary);
  const Bytes map((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (map.empty()) {
    state.SkipWithError("the samples are not there");
    return;
  }
  for (auto _ : state) {
    tarn::BspMap loaded;
    if (!tarn::LoadBsp(map, loaded, nullptr)) state.SkipWithError("the map does not load");
    benchmark::DoNotOptimize(loaded.faces.data());
  }
}
BENCHMARK_CAPTURE(BM_LoadSampleMap, lq1m1_bsp2, "LibreQuake/lq1/maps/lq1m1.bsp")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoadSampleMap, e2m2_bsp29, "LibreQuake/lq1/maps/e2m2.bsp")->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
