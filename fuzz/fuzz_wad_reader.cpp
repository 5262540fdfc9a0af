// WAD bytes of any shape: reading the directory, checking it, building the tree, naming the
// lumps and reading every one must stay inside the bytes and never crash.
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "containers/Container.h"
#include "containers/WadFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto source = std::make_shared<tarn::CMemorySource>(data, size);
  tarn::WadIndex index;
  if (!tarn::ReadWadIndex(*source, index)) return 0;
  (void)tarn::CheckWadIndex(index);
  // Every lump's name, as shown, names its lump again: the trip through a folder keeps types.
  for (const tarn::WadRecord& rec : index.records) {
    if (rec.name.empty() || rec.name.size() > tarn::wad::kMaxNameLength) continue;
    const auto back = tarn::WadLumpOf(tarn::WadEntryName(rec.name, rec.type, index.version), index.version);
    if (!back || back->name != rec.name || back->type != rec.type) std::abort();
  }
  const tarn::CContainerCodec& wad = tarn::CodecFor(index.version);
  tarn::DirectoryListing listing;
  std::shared_ptr<tarn::CArchiveReader> reader = wad.Open(source, listing, nullptr);
  if (!reader) return 0;
  std::vector<std::string> renamed;
  auto root = tarn::BuildTree(listing, index.version, nullptr, &renamed);
  root->SetArchive(reader);
  (void)wad.SaveBlockers(*root);
  tarn::ForEachFileInSaveOrder(*root, [&](const std::string&, const tarn::CPackObject& f) {
    auto* e = const_cast<tarn::CPackObject*>(&f);
    if (e->LoadData()) {
      if (e->Data()->size() != static_cast<std::size_t>(e->Size())) std::abort();
      e->ReleaseData();
    }
  });
  return 0;
}
