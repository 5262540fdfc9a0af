#include "FuzzPictures.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tarn::Picture p;
  tarn::Palette pal;
  if (tarn::DecodePcx({data, size}, p, pal)) CheckPicture(p);
  return 0;
}
