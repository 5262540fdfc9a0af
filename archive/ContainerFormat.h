// The kinds of archive Tarn reads and writes, told apart by their content, never by their
// names: the file name only proposes a kind for a file still to be written.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tarn {

class CReadSource;

enum class ContainerFormat : std::uint8_t {
  Pak,   // Quake and Quake II ".pak"
  Zip,   // ".pk3", ".pk2", ".zip", ".pkz", ".kpf": the zip family
  Wad2,  // Quake texture and picture WADs
  Wad3,  // Half-Life texture WADs
};

// "PAK", "ZIP", "WAD2", "WAD3", for messages.
const char* FormatName(ContainerFormat format);
// The extension a new file of the format gets (".pak", ".pk3", ".wad").
const char* DefaultExtension(ContainerFormat format);
inline bool IsWad(ContainerFormat f) { return f == ContainerFormat::Wad2 || f == ContainerFormat::Wad3; }

// The format a file of this name is written in, by its extension in any case: ".pak"; ".pk3",
// ".pk2", ".zip", ".pkz", ".kpf"; ".wad" (WAD2). Nothing for any other name.
std::optional<ContainerFormat> FormatOfName(const std::filesystem::path& path);

// A format named on the command line: "pak", "pk3", "pk2", "zip", "pkz", "wad" (or "wad2"), "wad3".
std::optional<ContainerFormat> FormatOfWord(std::string_view word);

// ".kpf" files (the 2021 re-release's localisation) are opened but never written: the game
// reads them, and nothing a modder does should go into them.
bool IsReadOnlyArchiveName(const std::filesystem::path& path);

// The format of the bytes, by their magic: "PACK", "WAD2", "WAD3", a zip's local header at the
// start or its end-of-central-directory record near the end. Nothing when none matches.
std::optional<ContainerFormat> ProbeFormat(CReadSource& source);

}  // namespace tarn
