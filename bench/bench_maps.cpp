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

#include "GeneratedMap.h"
#include "maps/Bsp.h"
#include "maps/MapEntities.h"

namespace {

using tarn::bench::Bytes;
using tarn::bench::MakeMap;

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
