// Private temporary files for imported and pasted bytes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

#include "fileio/Progress.h"

namespace tarn {

// Creates a new, empty, uniquely named file "pdc…" in the system's temporary folder.
std::optional<std::filesystem::path> CreateTempFile(const std::string& prefix = "pdc");

// Creates a new file that did not exist before (never overwrites), opened for binary writing.
std::FILE* CreateExclusive(const std::filesystem::path& path);

// Copies exactly `size` bytes of src to dst (created or truncated), reporting them to progress.
// False with a reason on failure, or "cancelled" when progress said stop.
bool CopyFileBytes(const std::filesystem::path& src, const std::filesystem::path& dst, std::uint64_t size,
                   std::string* error, CProgress* progress = nullptr);
inline constexpr const char* kCancelledReason = "cancelled";

bool WriteFileBytes(const std::filesystem::path& dst, std::span<const std::uint8_t> bytes);

}  // namespace tarn
