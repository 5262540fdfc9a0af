// An archive in memory whose entries are slices of the fuzzer's input, for the readers that
// follow names from one entry to others (texture chains, Quake II sprite frames).
#pragma once

#include <memory>
#include <string>

#include "archive/PackObject.h"

// The first entry is the whole input under `name`; the others, named a.* to d.*, are its four
// quarters, so that names found in the input can lead to bytes of the input.
inline std::unique_ptr<tarn::CPackObject> SliceArchive(const std::uint8_t* data, std::size_t size,
                                                       const std::string& name, const std::string& extension) {
  auto root = std::make_unique<tarn::CPackObject>();
  root->SetDirectory(true);
  root->SetSource(std::make_shared<tarn::CMemorySource>(data, size));
  tarn::CPackObject* dir = root->AddChild("dir", true);
  tarn::CPackObject* whole = dir->AddChild(name, false);
  whole->SetOffset(0);
  whole->SetSize(static_cast<std::int64_t>(size));
  const std::size_t quarter = size / 4;
  for (int i = 0; i < 4; ++i) {
    tarn::CPackObject* e = dir->AddChild(std::string(1, static_cast<char>('a' + i)) + extension, false);
    e->SetOffset(static_cast<std::int64_t>(quarter * i));
    e->SetSize(static_cast<std::int64_t>(i == 3 ? size - 3 * quarter : quarter));
  }
  return root;
}
