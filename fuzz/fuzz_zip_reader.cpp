// Zip bytes of any shape through Tarn's zip reader and checks: opening, building the tree, the
// full check and reading every entry must stay inside the bytes, never crash and never hand
// out more bytes than an entry declares.
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "containers/Container.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto source = std::make_shared<tarn::CMemorySource>(data, size);
  const tarn::CContainerCodec& zip = tarn::CodecFor(tarn::ContainerFormat::Zip);
  (void)zip.Check(source);
  tarn::DirectoryListing listing;
  std::shared_ptr<tarn::CArchiveReader> reader = zip.Open(source, listing, nullptr);
  if (!reader) return 0;
  std::vector<std::string> renamed;
  auto root = tarn::BuildTree(listing, tarn::ContainerFormat::Zip, nullptr, &renamed);
  root->SetArchive(reader);
  (void)zip.SaveBlockers(*root);
  tarn::ForEachFileInSaveOrder(*root, [](const std::string&, const tarn::CPackObject& f) {
    auto* e = const_cast<tarn::CPackObject*>(&f);
    if (e->LoadData()) {
      if (e->Data()->size() != static_cast<std::size_t>(e->Size())) std::abort();
      e->ReleaseData();
    }
    std::int64_t streamed = 0;
    e->StreamData(
        [&](const std::uint8_t*, std::size_t n) {
          streamed += static_cast<std::int64_t>(n);
          return true;
        },
        nullptr);
    if (streamed > e->Size()) std::abort();
  });
  return 0;
}
