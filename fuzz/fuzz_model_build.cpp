// The import path's own code: frame naming, the quantiser, normals and seam splitting, and the
// writers, checked by reading every written model back.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "FuzzModel.h"
#include "models/ModelBuild.h"
#include "models/ModelHeader.h"

namespace {

struct Input {
  const std::uint8_t* data;
  std::size_t size;
  std::uint8_t Byte() {
    if (!size) return 0;
    --size;
    return *data++;
  }
  float Float() {
    std::uint32_t bits = 0;
    for (int i = 0; i < 4; ++i) bits |= static_cast<std::uint32_t>(Byte()) << (8 * i);
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in{data, size};
  const int format = in.Byte() & 1 ? tarn::ModelData::kMd2 : tarn::ModelData::kMdl;
  const std::size_t frames = in.Byte() % 5 + 1, vertices = in.Byte() % 40, triangles = in.Byte() % 60;
  const int width = (in.Byte() % 16 + 1) * 4, height = in.Byte() % 32 + 1;
  std::string animation;
  for (std::uint8_t n = in.Byte() % 24; n; --n) animation += static_cast<char>(in.Byte());

  std::vector<std::string> taken{"frame"};
  const auto names = tarn::FrameNames(animation, frames, taken);
  for (const std::string& name : names)
    if (name.size() > 15 || tarn::MdlAnimationName(name) != taken.back()) std::abort();

  tarn::SourceModel source;
  source.vertexCount = vertices;
  for (std::size_t t = 0; t < triangles; ++t) {
    std::array<tarn::SourceCorner, 3> tri;
    // A few corners out of range, to be refused.
    for (auto& c : tri) c = {static_cast<std::uint32_t>(in.Byte() % (vertices + 1)), in.Float(), in.Float()};
    source.triangles.push_back(tri);
  }
  for (std::size_t f = 0; f < frames; ++f) {
    tarn::SourceFrame frame;
    frame.name = names[f];
    // Coordinates from a small set, so that vertices often share positions, or raw floats.
    const bool raw = in.Byte() & 1;
    for (std::size_t i = 0; i < vertices * 3; ++i) frame.positions.push_back(raw ? in.Float() : in.Byte() % 8 - 3.5f);
    source.frames.push_back(std::move(frame));
  }

  tarn::PackedModel packed;
  if (!tarn::PackModel(source, format, width, height, packed, nullptr)) return 0;
  if (packed.frames.size() != frames || packed.triangles.size() != triangles) std::abort();
  for (const auto& f : packed.frames)
    if (f.vertices.size() != packed.vertexCount) std::abort();
  tarn::ModelData model;
  bool read;
  if (format == tarn::ModelData::kMdl) {
    packed.skin.assign(static_cast<std::size_t>(width) * height, 0);
    read = tarn::LoadMdl(tarn::WriteMdl(packed), model);
  } else {
    tarn::CModelHost host;  // no skin: a checkerboard stands in
    packed.skinPath = "skin.pcx";
    const std::vector<std::uint8_t> md2 = tarn::WriteMd2(packed);
    read = tarn::LoadMd2(md2, model, host) && model.skins.size() == 1 && model.skins[0].placeholder;
    // Every texture coordinate on the skin, as the engines want them.
    if (tarn::FindMd2OffSkinCoordinates(md2).count != 0) std::abort();
  }
  if (!read) std::abort();
  if (format == tarn::ModelData::kMdl) {
    CheckModel(model);
    if (model.FrameCount() != static_cast<int>(frames) || model.triangles.size() != triangles) std::abort();
    // Every corner within one grid step of where the source put it.
    for (std::size_t f = 0, a = 0, k = 0; f < frames; ++f) {
      while (k == model.animations[a].frames.size()) ++a, k = 0;
      const auto& frame = model.animations[a].frames[k++];
      for (std::size_t t = 0; t < triangles; ++t)
        for (int c = 0; c < 3; ++c) {
          const auto& v = frame.vertices[static_cast<std::size_t>(model.triangles[t].vertex[c])];
          const float* want = &source.frames[f].positions[source.triangles[t][c].vertex * 3];
          const float got[3] = {v.x, v.y, v.z};
          for (int axis = 0; axis < 3; ++axis)
            if (std::abs(got[axis] - want[axis]) > packed.frames[f].scale[axis] * 1.001f + 1e-6f * std::abs(want[axis]))
              std::abort();
        }
    }
  }
  return 0;
}
