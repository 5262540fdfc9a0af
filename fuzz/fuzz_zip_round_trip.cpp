// Members of any names, contents and kinds through the zip writer and back through the zip
// reader: the writer either refuses with a reason or writes an archive whose every member the
// reader finds under its name with the same bytes, whatever the level, the threads and the
// size above which a member is streamed instead of held.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "archive/PackObject.h"
#include "containers/Container.h"
#include "containers/ZipWriter.h"
#include "fileio/ReadSource.h"
#include "fileio/SafeSave.h"

namespace {

// The bytes split into members: each takes a kind byte, a name length, a name and a length.
std::vector<std::pair<std::string, std::vector<std::uint8_t>>> Split(const std::uint8_t* data, std::size_t size,
                                                                     std::vector<tarn::ZipMember::Kind>& kinds) {
  std::vector<std::pair<std::string, std::vector<std::uint8_t>>> files;
  std::size_t at = 0;
  while (at + 3 <= size && files.size() < 16) {
    const std::uint8_t kind = data[at], nameLength = data[at + 1] % 24, dataLength = data[at + 2];
    at += 3;
    if (at + nameLength > size) break;
    // Names as Tarn's tree hands them to the writer: lower case (the tree tells names apart
    // without regard to case), files with an extension so that none is also a folder's name.
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789_-";
    std::string name = kind & 2 ? "d/" : "";
    for (std::size_t i = 0; i < nameLength; ++i) name += kLetters[data[at + i] % (sizeof kLetters - 1)];
    name += ".dat";
    at += nameLength;
    const std::size_t n = std::min<std::size_t>(size - at, dataLength * 37u);
    std::vector<std::uint8_t> bytes(data + at, data + at + n);
    // Short inputs still make members that deflate: repeat what there is.
    if (kind & 4)
      for (std::size_t i = 0; i < 4000 && !bytes.empty(); ++i) bytes.push_back(bytes[i % n]);
    at += n;
    kinds.push_back(kind & 1 ? tarn::ZipMember::Kind::Store : tarn::ZipMember::Kind::Deflate);
    files.emplace_back(std::move(name), std::move(bytes));
  }
  return files;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  tarn::ZipWriteOptions options;
  options.level = data[0] % 10;
  options.workers = 1 + data[1] % 3;
  options.holdLimit = data[1] & 0x80 ? 1000 : 32u << 20;
  std::vector<tarn::ZipMember::Kind> kinds;
  const auto files = Split(data + 2, size - 2, kinds);
  std::vector<tarn::ZipMember> members;
  std::map<std::string, const std::vector<std::uint8_t>*> expected;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const auto& [name, bytes] = files[i];
    // The tree holds a name once.
    if (expected.count(name)) continue;
    tarn::ZipMember m;
    m.path = name;
    m.dosTime = tarn::ToDosTime(1700000000);
    m.kind = kinds[i];
    m.size = static_cast<std::int64_t>(bytes.size());
    const std::vector<std::uint8_t>* b = &bytes;
    m.open = [b](std::string*) -> std::unique_ptr<tarn::CEntryStream> {
      return std::make_unique<tarn::CSpanStream>(b->data(), b->size());
    };
    members.push_back(std::move(m));
    expected[name] = &bytes;
  }
  static const std::filesystem::path path =
      std::filesystem::temp_directory_path() / ("tarn-fuzz-zip-" + std::to_string(::getpid()) + ".zip");
  std::string why;
  tarn::CSafeSave save;
  if (!save.Begin(path)) return 0;
  if (!tarn::WriteZip(members, save, options, &why)) {
    if (why.empty()) std::abort();
    save.Abort();
    return 0;
  }
  if (!save.Commit()) return 0;

  std::string error;
  auto source = tarn::CFileSource::Open(path, &error);
  if (!source) std::abort();
  tarn::DirectoryListing listing;
  const tarn::CContainerCodec& zip = tarn::CodecFor(tarn::ContainerFormat::Zip);
  std::shared_ptr<tarn::CArchiveReader> reader = zip.Open(source, listing, &error);
  if (!reader) std::abort();
  auto root = tarn::BuildTree(listing, tarn::ContainerFormat::Zip);
  root->SetArchive(reader);
  std::size_t found = 0;
  tarn::ForEachFileInSaveOrder(*root, [&](const std::string& name, const tarn::CPackObject& f) {
    const auto want = expected.find(name);
    std::vector<std::uint8_t> bytes;
    if (want == expected.end() || !f.CopyBytes(bytes, nullptr) || bytes != *want->second) std::abort();
    ++found;
  });
  if (found != expected.size()) std::abort();
  std::filesystem::remove(path);
  return 0;
}
