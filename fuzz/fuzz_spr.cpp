#include "FuzzPictures.h"
#include "pictures/Sprites.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tarn::PictureSet set;
  tarn::ReadQuakeSprite({data, size}, set);
  CheckSet(set);
  return 0;
}
