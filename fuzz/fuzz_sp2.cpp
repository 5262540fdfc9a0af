#include "FuzzArchive.h"
#include "FuzzPictures.h"
#include "pictures/EntryPictures.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto root = SliceArchive(data, size, "sprite.sp2", ".pcx");
  auto result = tarn::LoadEntryPictures(*root->FindByPath("dir/sprite.sp2"));
  CheckSet(result.set);
  if (result.set.palettes.size() != result.set.pictures.size()) std::abort();
  return 0;
}
