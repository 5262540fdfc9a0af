// Archive bytes of any shape: reading the directory, checking it, building the tree and
// loading every entry must stay inside the bytes and never crash.
#include <cstdint>
#include <memory>

#include "containers/PakFormat.h"
#include "document/TarnDoc.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto source = std::make_shared<tarn::CMemorySource>(data, size);
  tarn::PakIndex index;
  if (tarn::ReadPakIndex(*source, index) != tarn::PakReadResult::Ok) return 0;
  (void)tarn::CheckPakIndex(index);
  std::vector<std::string> renamed;
  auto root = tarn::CTarnDoc::BuildTree(index, nullptr, &renamed);
  root->SetSource(source);
  tarn::ForEachFileInSaveOrder(*root, [](const std::string&, const tarn::CPackObject& f) {
    auto* e = const_cast<tarn::CPackObject*>(&f);
    if (e->LoadData()) e->ReleaseData();
    e->StreamData([](const std::uint8_t*, std::size_t) { return true; }, nullptr);
  });
  return 0;
}
