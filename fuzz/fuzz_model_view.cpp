// Bytes of any shape read as an archive's MD3, IQM or OBJ for the model viewer (the first byte
// picks the format): the reading fails with a reason or gives a model every frame of which can
// be drawn, and neither Tarn's MD3 frame walk nor Assimp leaves the bytes.
#include <cstdlib>

#include "formats/ModelImport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static const char* const kNames[] = {"m/x.md3", "m/x.iqm", "m/x.obj"};
  const std::span<const std::uint8_t> bytes(data + 1, size - 1);
  const tarn::FindBytes find = [](const std::string&, std::vector<std::uint8_t>&) { return false; };
  tarn::ModelData model;
  std::string why;
  if (!tarn::ReadModelForView(bytes, kNames[data[0] % 3], find, model, &why)) {
    if (why.empty() || model.FrameCount() != 0) std::abort();
    return 0;
  }
  for (std::size_t a = 0; a < model.animations.size(); ++a)
    for (std::size_t f = 0; f < model.animations[a].frames.size(); ++f)
      (void)tarn::BuildFrameGeometry(model, static_cast<int>(a), static_cast<int>(f));
  return 0;
}
