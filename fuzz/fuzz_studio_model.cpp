// A Half-Life model read with its textures file and a sequence group beside it, all three cut
// from one input: two 16-bit lengths (the model's, the textures'), then the model, the textures
// and the sequence group. Every frame of what is read must hold a position for each vertex.
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "models/StudioModel.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tarn::fuzz::Input in{data, size};
  const std::size_t modelSize = in.U16(), texturesSize = in.U16();
  auto take = [&](std::size_t n) {
    n = std::min(n, in.size);
    std::vector<std::uint8_t> out(in.data, in.data + n);
    in.data += n, in.size -= n;
    return out;
  };
  const std::vector<std::uint8_t> model = take(modelSize);
  std::map<std::string, std::vector<std::uint8_t>> files = {{"xT.mdl", take(texturesSize)}, {"x01.mdl", take(in.size)}};
  const tarn::StudioFiles find = [&](const std::string& name, std::vector<std::uint8_t>& out) {
    const auto it = files.find(name);
    if (it == files.end()) return false;
    out = it->second;
    return true;
  };
  tarn::StudioReadOptions options;
  options.stem = "x";
  tarn::StudioModel m;
  std::string why;
  if (!tarn::ReadStudioModel(model, options, find, m, &why)) {
    if (why.rfind("Half-Life model: ", 0) != 0) std::abort();
    return 0;
  }
  for (const auto& t : m.source.triangles)
    for (const auto& c : t)
      if (c.vertex >= m.source.vertexCount) std::abort();
  for (const auto& f : m.source.frames)
    if (f.positions.size() != m.source.vertexCount * 3) std::abort();
  if (m.textured && m.skin.rgba.size() != static_cast<std::size_t>(m.skin.width) * m.skin.height * 4) std::abort();
  return 0;
}
