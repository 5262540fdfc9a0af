// Model import speed: a skinned glTF of 10,000 triangles whose 20-second animation makes 200
// frames at 10 a second, into a Quake II model; the quantiser alone on the same frames; and
// what reading one small model costs over all (tarn-import started, asked and answering).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "models/ModelBuild.h"
#include "models/ModelImport.h"

namespace {

namespace fs = std::filesystem;

constexpr int kColumns = 50, kRows = 100;  // quads: 2 × 50 × 100 = 10,000 triangles
constexpr int kKeys = 200;                 // 0 to 19.9 s

template <typename T>
void Append(std::vector<std::uint8_t>& b, const T& v) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(&v);
  b.insert(b.end(), p, p + sizeof v);
}

// A sheet two units high bending at its middle joint, written as .gltf and .bin in a folder
// removed at exit.
struct Folder {
  fs::path path = fs::temp_directory_path() / ("tarn-bench-model-" + std::to_string(std::random_device{}()));
  Folder() { fs::create_directories(path); }
  ~Folder() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};

const std::string& SkinnedSheet() {
  static const Folder folder;
  static const std::string path = [] {
    const fs::path& dir = folder.path;
    std::vector<std::uint8_t> bin;
    const int vertices = (kColumns + 1) * (kRows + 1);
    std::size_t views[7];
    views[0] = bin.size();
    for (int r = 0; r <= kRows; ++r)
      for (int c = 0; c <= kColumns; ++c)
        Append(bin, c / float(kColumns)), Append(bin, 2 * r / float(kRows)), Append(bin, 0.0f);
    views[1] = bin.size();
    for (int r = 0; r <= kRows; ++r)
      for (int c = 0; c <= kColumns; ++c) Append(bin, c / float(kColumns)), Append(bin, 1 - r / float(kRows));
    views[2] = bin.size();
    for (int i = 0; i < vertices; ++i) bin.insert(bin.end(), {0, 1, 0, 0});
    views[3] = bin.size();
    for (int r = 0; r <= kRows; ++r)
      for (int c = 0; c <= kColumns; ++c)
        Append(bin, 1 - r / float(kRows)), Append(bin, r / float(kRows)), Append(bin, 0.0f), Append(bin, 0.0f);
    views[4] = bin.size();
    for (int r = 0; r < kRows; ++r)
      for (int c = 0; c < kColumns; ++c) {
        const std::uint32_t a = r * (kColumns + 1) + c, b = a + 1, d = a + kColumns + 1, e = d + 1;
        for (std::uint32_t i : {a, b, e, a, e, d}) Append(bin, i);
      }
    views[5] = bin.size();
    const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    float below[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, -1, 0, 1};
    for (float f : identity) Append(bin, f);
    for (float f : below) Append(bin, f);
    views[6] = bin.size();
    for (int k = 0; k < kKeys; ++k) Append(bin, k / 10.0f);
    const std::size_t rotations = bin.size();
    for (int k = 0; k < kKeys; ++k) {
      const float angle = std::sin(k / 10.0f) * 0.6f;
      Append(bin, std::sin(angle / 2)), Append(bin, 0.0f), Append(bin, 0.0f), Append(bin, std::cos(angle / 2));
    }
    const std::size_t end = bin.size();
    std::ofstream(dir / "sheet.bin", std::ios::binary).write(reinterpret_cast<const char*>(bin.data()), bin.size());
    auto view = [&](std::size_t from, std::size_t to) {
      return "{\"buffer\":0,\"byteOffset\":" + std::to_string(from) + ",\"byteLength\":" + std::to_string(to - from) +
             "}";
    };
    const std::string v = std::to_string(vertices);
    std::string json =
        "{\"asset\":{\"version\":\"2.0\"},\"buffers\":[{\"uri\":\"sheet.bin\",\"byteLength\":" + std::to_string(end) +
        "}],\"bufferViews\":[" + view(views[0], views[1]) + "," + view(views[1], views[2]) + "," +
        view(views[2], views[3]) + "," + view(views[3], views[4]) + "," + view(views[4], views[5]) + "," +
        view(views[5], views[6]) + "," + view(views[6], rotations) + "," + view(rotations, end) + "],\"accessors\":[" +
        "{\"bufferView\":0,\"componentType\":5126,\"count\":" + v +
        ",\"type\":\"VEC3\",\"min\":[0,0,0],\"max\":[1,2,0]}," +
        "{\"bufferView\":1,\"componentType\":5126,\"count\":" + v + ",\"type\":\"VEC2\"}," +
        "{\"bufferView\":2,\"componentType\":5121,\"count\":" + v + ",\"type\":\"VEC4\"}," +
        "{\"bufferView\":3,\"componentType\":5126,\"count\":" + v + ",\"type\":\"VEC4\"}," +
        "{\"bufferView\":4,\"componentType\":5125,\"count\":" + std::to_string(6 * kColumns * kRows) +
        ",\"type\":\"SCALAR\"}," + "{\"bufferView\":5,\"componentType\":5126,\"count\":2,\"type\":\"MAT4\"}," +
        "{\"bufferView\":6,\"componentType\":5126,\"count\":" + std::to_string(kKeys) +
        ",\"type\":\"SCALAR\",\"min\":[0],\"max\":[19.9]}," +
        "{\"bufferView\":7,\"componentType\":5126,\"count\":" + std::to_string(kKeys) + ",\"type\":\"VEC4\"}]," +
        "\"meshes\":[{\"primitives\":[{\"attributes\":{\"POSITION\":0,\"TEXCOORD_0\":1,\"JOINTS_0\":2," +
        "\"WEIGHTS_0\":3},\"indices\":4}]}],\"skins\":[{\"joints\":[1,2],\"inverseBindMatrices\":5}]," +
        "\"nodes\":[{\"mesh\":0,\"skin\":0},{\"children\":[2]},{\"translation\":[0,1,0]}]," +
        "\"scenes\":[{\"nodes\":[0,1]}],\"scene\":0,\"animations\":[{\"name\":\"bend\",\"channels\":" +
        "[{\"sampler\":0,\"target\":{\"node\":2,\"path\":\"rotation\"}}],\"samplers\":[{\"input\":6," +
        "\"output\":7,\"interpolation\":\"LINEAR\"}]}]}";
    std::ofstream(dir / "sheet.gltf") << json;
    return (dir / "sheet.gltf").string();
  }();
  return path;
}

void BM_ImportSkinnedGltfToMd2(benchmark::State& state) {
  tarn::ModelImportOptions options;
  options.format = tarn::ModelData::kMd2;
  options.skinPath = "models/sheet/skin.pcx";
  tarn::ImportedModel model;
  std::string why;
  for (auto _ : state) {
    if (!tarn::ImportModel(SkinnedSheet(), options, model, &why)) state.SkipWithError(why.c_str());
    benchmark::DoNotOptimize(model.bytes.data());
  }
  state.counters["frames"] = static_cast<double>(model.model.frames.size());
  state.counters["triangles"] = static_cast<double>(model.model.triangles.size());
}
BENCHMARK(BM_ImportSkinnedGltfToMd2)->Unit(benchmark::kMillisecond);

// One triangle read for the viewer: the cost of a model's own reading process, per model.
void BM_ReadOneTriangleForView(benchmark::State& state) {
  const std::string obj = "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
  const std::vector<std::uint8_t> bytes(obj.begin(), obj.end());
  tarn::ModelData model;
  std::string why;
  for (auto _ : state) {
    if (!tarn::ReadModelForView(bytes, "models/one.obj", nullptr, model, &why)) state.SkipWithError(why.c_str());
    benchmark::DoNotOptimize(model.triangles.data());
  }
}
BENCHMARK(BM_ReadOneTriangleForView)->Unit(benchmark::kMillisecond);

// The quantiser, normals and writer alone, on frames already sampled: linear in vertices
// times frames.
void BM_PackMd2(benchmark::State& state) {
  const int frames = static_cast<int>(state.range(0));
  tarn::SourceModel source;
  source.vertexCount = (kColumns + 1) * (kRows + 1);
  for (int r = 0; r < kRows; ++r)
    for (int c = 0; c < kColumns; ++c) {
      const std::uint32_t a = r * (kColumns + 1) + c, b = a + 1, d = a + kColumns + 1, e = d + 1;
      const float u = c / float(kColumns), v = r / float(kRows);
      source.triangles.push_back({{{a, u, v}, {e, u, v}, {b, u, v}}});
      source.triangles.push_back({{{a, u, v}, {d, u, v}, {e, u, v}}});
    }
  for (int f = 0; f < frames; ++f) {
    tarn::SourceFrame frame;
    frame.name = "bend" + std::to_string(f + 1);
    for (int r = 0; r <= kRows; ++r)
      for (int c = 0; c <= kColumns; ++c)
        frame.positions.insert(frame.positions.end(), {float(c), std::sin(f * 0.1f + r * 0.05f), float(r)});
    source.frames.push_back(std::move(frame));
  }
  tarn::PackedModel packed;
  for (auto _ : state) {
    tarn::PackModel(source, tarn::ModelData::kMd2, 256, 256, packed, nullptr);
    benchmark::DoNotOptimize(tarn::WriteMd2(packed).data());
  }
  state.SetComplexityN(frames);
}
BENCHMARK(BM_PackMd2)->Arg(50)->Arg(100)->Arg(200)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);

}  // namespace

BENCHMARK_MAIN();
