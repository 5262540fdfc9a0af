#include "archive/ContainerFormat.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "fileio/ReadSource.h"
#include "fileio/Strings.h"

namespace tarn {

const char* FormatName(ContainerFormat format) {
  switch (format) {
    case ContainerFormat::Pak: return "PAK";
    case ContainerFormat::Zip: return "ZIP";
    case ContainerFormat::Wad2: return "WAD2";
    case ContainerFormat::Wad3: return "WAD3";
  }
  return "?";
}

const char* DefaultExtension(ContainerFormat format) {
  switch (format) {
    case ContainerFormat::Pak: return ".pak";
    case ContainerFormat::Zip: return ".pk3";
    case ContainerFormat::Wad2:
    case ContainerFormat::Wad3: return ".wad";
  }
  return "";
}

std::optional<ContainerFormat> FormatOfWord(std::string_view word) {
  const std::string w = ToLower(word);
  if (w == "pak") return ContainerFormat::Pak;
  if (w == "pk3" || w == "pk2" || w == "zip" || w == "pkz" || w == "kpf") return ContainerFormat::Zip;
  if (w == "wad" || w == "wad2") return ContainerFormat::Wad2;
  if (w == "wad3") return ContainerFormat::Wad3;
  return std::nullopt;
}

std::optional<ContainerFormat> FormatOfName(const std::filesystem::path& path) {
  const std::string ext = path.extension().string();
  if (ext.size() < 2 || ext == ".wad2" || ext == ".wad3") return std::nullopt;
  return FormatOfWord(std::string_view(ext).substr(1));
}

bool IsReadOnlyArchiveName(const std::filesystem::path& path) { return ToLower(path.extension().string()) == ".kpf"; }

std::optional<ContainerFormat> ProbeFormat(CReadSource& source) {
  std::uint8_t magic[4];
  if (source.ReadAt(0, magic, 4)) {
    if (std::memcmp(magic, "PACK", 4) == 0) return ContainerFormat::Pak;
    if (std::memcmp(magic, "WAD2", 4) == 0) return ContainerFormat::Wad2;
    if (std::memcmp(magic, "WAD3", 4) == 0) return ContainerFormat::Wad3;
    if (std::memcmp(magic, "PK\3\4", 4) == 0) return ContainerFormat::Zip;
  }
  // An empty zip, or one with something before its first entry, is known by the record that
  // ends it: 22 bytes and a comment of up to 65,535.
  const std::uint64_t size = source.Size();
  if (size < 22) return std::nullopt;
  const std::uint64_t tail = std::min<std::uint64_t>(size, 22 + 0xFFFF);
  std::vector<std::uint8_t> end(static_cast<std::size_t>(tail));
  if (!source.ReadAt(size - tail, end.data(), end.size())) return std::nullopt;
  for (std::size_t i = end.size() - 22 + 1; i-- > 0;)
    if (end[i] == 'P' && std::memcmp(&end[i], "PK\5\6", 4) == 0) return ContainerFormat::Zip;
  return std::nullopt;
}

}  // namespace tarn
