#include "FuzzModel.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tarn::ModelData m;
  if (tarn::LoadMdl({data, size}, m)) CheckModel(m);
  return 0;
}
