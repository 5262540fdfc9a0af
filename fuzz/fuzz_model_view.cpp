// Bytes of any shape read as tarn-import reads an archive's model (the first byte picks the name
// it goes by, which must not matter: the bytes tell the format), then made into what the model
// viewer shows: the reading fails with a reason or gives a model every frame of which can be
// drawn, and neither Tarn's readers and checks nor Assimp leaves the bytes.
#include <cstdlib>

#include "import/ModelScene.h"
#include "models/ModelImport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static const char* const kNames[] = {"m/x.md3", "m/x.iqm", "m/x.obj", "m/x.gltf", "m/x.glb", "m/x"};
  tarn::ModelReadRequest request;
  request.path = kNames[data[0] % 6];
  request.inArchive = true;
  request.bytes.assign(data + 1, data + size);
  const tarn::import::FileSource files = tarn::import::ArchiveFiles(nullptr);
  tarn::ReadModel read;
  tarn::ModelData model;
  std::string why;
  if (!tarn::import::ReadModelFile(request, files, read, &why) ||
      !tarn::ModelForView(std::move(read), request.path, model, &why)) {
    if (why.empty() || model.FrameCount() != 0) std::abort();
    return 0;
  }
  for (std::size_t a = 0; a < model.animations.size(); ++a)
    for (std::size_t f = 0; f < model.animations[a].frames.size(); ++f)
      (void)tarn::BuildFrameGeometry(model, static_cast<int>(a), static_cast<int>(f));
  return 0;
}
