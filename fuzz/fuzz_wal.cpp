#include "FuzzArchive.h"
#include "FuzzPictures.h"
#include "pictures/EntryPictures.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tarn::Picture p;
  std::string next;
  if (tarn::DecodeWal({data, size}, p, &next)) CheckPicture(p);
  // The chain walk, over textures that name each other.
  auto root = SliceArchive(data, size, "start.wal", ".wal");
  auto result = tarn::LoadEntryPictures(*root->FindByPath("dir/start.wal"));
  CheckSet(result.set);
  return 0;
}
