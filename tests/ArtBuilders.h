// Game files holding pictures drawn pixel by pixel (GameBytes.h builds them), for the tests of
// replacement art, held in memory under their paths as a command reads an archive's.
#pragma once

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "GameBytes.h"
#include "TestSupport.h"
#include "archive/PackObject.h"
#include "containers/WadFormat.h"
#include "game/EngineArt.h"

namespace tarn::test {

// Game files held in memory under their paths, as a command reads an archive's.
class ArtGame {
 public:
  ArtGame() : m_root(std::make_unique<CPackObject>()) { m_root->SetDirectory(true); }
  ArtGame& File(const std::string& path, Bytes bytes) {
    CPackObject* e = m_root->AddChildAsIs(std::to_string(m_files.size()), false);
    e->SetSize(static_cast<std::int64_t>(bytes.size()));
    e->SetData(std::move(bytes));
    m_files.push_back({path, e});
    return *this;
  }
  const std::vector<ArtFile>& Files() const { return m_files; }
  Bytes Of(std::size_t i) const { return *m_files[i].entry->Data(); }

 private:
  std::unique_ptr<CPackObject> m_root;
  std::vector<ArtFile> m_files;
};

// Every file below a folder, as paths relative to it, sorted.
inline std::vector<std::string> FilesBelow(const fs::path& dir) {
  std::vector<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (e.is_regular_file()) out.push_back(fs::relative(e.path(), dir).generic_string());
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace tarn::test
