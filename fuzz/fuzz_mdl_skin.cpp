#include "FuzzPictures.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tarn::Picture p;
  if (tarn::DecodeMdlSkin({data, size}, p)) CheckPicture(p);
  return 0;
}
