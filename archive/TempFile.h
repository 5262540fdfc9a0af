// Private temporary files for imported and pasted bytes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

namespace tarn {

// Creates a new, empty, uniquely named file "pdc…" in the system's temporary folder.
std::optional<std::filesystem::path> CreateTempFile(const std::string& prefix = "pdc");

// Creates a new file that did not exist before (never overwrites), opened for binary writing.
std::FILE* CreateExclusive(const std::filesystem::path& path);

// Creates the first free "<prefix><n in hex>.tmp" in dir (prefix0.tmp, prefix1.tmp, ...),
// opened for binary writing; nullptr when the folder cannot take a new file.
std::FILE* CreateNumberedTemp(const std::filesystem::path& dir, const char* prefix, std::filesystem::path* created);

// Copies exactly `size` bytes of src to dst (created or truncated). False with a reason on failure.
bool CopyFileBytes(const std::filesystem::path& src, const std::filesystem::path& dst, std::uint64_t size,
                   std::string* error);

bool WriteFileBytes(const std::filesystem::path& dst, std::span<const std::uint8_t> bytes);

// Pushes written data to the disk, so that a rename that follows cannot expose a partial file.
bool FlushToDisk(std::FILE* f);
void SyncDirectory(const std::filesystem::path& dir);

}  // namespace tarn
