// The hand-written BMP and TGA readers on any bytes: a picture they accept is exactly as large
// as it says, and no byte outside the input is read (ASan watches).
#include <cstdlib>

#include "pictures/BmpTga.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  for (bool bmp : {true, false}) {
    tarn::RgbaImage img;
    std::string why;
    const bool ok = bmp ? tarn::DecodeBmp({data, size}, img, &why) : tarn::DecodeTga({data, size}, img, &why);
    if (ok && (img.width <= 0 || img.height <= 0 || img.rgba.size() != img.PixelCount() * 4)) std::abort();
    if (!ok && why.empty()) std::abort();
  }
  return 0;
}
