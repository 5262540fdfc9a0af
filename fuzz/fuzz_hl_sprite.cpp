// Half-Life sprites: the header, the palette and every frame checked against the bytes.
#include "FuzzPictures.h"
#include "pictures/HalfLife.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tarn::PictureSet set;
  tarn::HalfLifeSpriteInfo info;
  std::string error;
  tarn::ReadHalfLifeSprite({data, size}, set, &info, &error);
  CheckSet(set);
  return 0;
}
