// Clipboard bytes of any shape: reading a transfer stream must fail cleanly or give a tree
// that streams out again and reads back the same.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "archive/PackObject.h"
#include "fileio/ByteIO.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tarn::ByteReader in(data, size);
  tarn::CPackObject::StreamOptions options;
  options.spillToTempFiles = false;
  auto entry = tarn::CPackObject::Deserialize(in, options, nullptr);
  if (!entry) return 0;
  std::vector<std::uint8_t> out;
  tarn::ByteWriter w(out);
  entry->Serialize(w);
  tarn::ByteReader again(out);
  auto copy = tarn::CPackObject::Deserialize(again, options, nullptr);
  if (!copy || copy->CountFiles() != entry->CountFiles()) std::abort();
  return 0;
}
