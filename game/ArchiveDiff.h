// Comparing two archives or folders path by path, and finding entries by a pattern in every
// archive and loose file below folders. Archives of any container Tarn opens.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/NameFilter.h"

namespace tarn {

struct DiffLine {
  char mark = 'M';  // '+' only in B, '-' only in A, 'M' different bytes
  std::string path;
};

struct DiffResult {
  std::vector<DiffLine> lines;        // sorted by path
  std::vector<std::string> warnings;  // said, but no reason to doubt the answer
  std::vector<std::string> errors;    // what could not be compared: the answer is incomplete
};

// Paths compare as Tarn stores them, in any case; files by size, then CRC-32, then bytes.
DiffResult DiffArchives(const std::filesystem::path& a, const std::filesystem::path& b);

// Whether a file is searched as an archive: PAK, the PK3 family (pk2, pk3, pk4, pkz, zip, kpf), WAD.
bool IsSearchedArchive(std::string_view fileName);

// Every entry matching pattern in the archives below the folders (recursively) and every loose
// file there, matched against its path below the folder given; a regular file given is searched
// as an archive. found gets the archive (or the loose file) and the matching path; what cannot
// be read goes to errors and the search goes on.
void FindEntries(const std::vector<std::filesystem::path>& roots, std::string_view pattern,
                 const std::function<void(const std::filesystem::path& source, const std::string& path)>& found,
                 std::vector<std::string>& errors);

}  // namespace tarn
