#include "FuzzPictures.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<tarn::Picture> pictures;
  tarn::DecodeMdlSkins({data, size}, pictures);
  for (const auto& p : pictures) CheckPicture(p);
  return 0;
}
