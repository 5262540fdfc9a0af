// Writing files out below a folder the user chose without ever writing through a symbolic
// link: every folder below the chosen one is opened from its parent with O_NOFOLLOW, so a
// link met on the way (or swapped in while extraction runs) is refused, never followed; and
// every file is written beside its destination and renamed into place when complete, so a
// full disk, a size limit or a kill leaves the whole file or none.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "fileio/Progress.h"

namespace tarn {

class CPackObject;

enum class ExtractOutcome { Done, Refused, Failed };

class CExtractFolder {
 public:
  // The chosen folder, created with its parents when missing; links on the way to it are the
  // user's own choice and are followed. Nothing, with a reason, when it cannot be opened.
  static std::optional<CExtractFolder> Open(const std::filesystem::path& folder, std::string* why);
  ~CExtractFolder();
  CExtractFolder(CExtractFolder&& o) noexcept : m_fd(o.m_fd), m_path(std::move(o.m_path)) { o.m_fd = -1; }
  CExtractFolder& operator=(CExtractFolder&& o) noexcept;
  CExtractFolder(const CExtractFolder&) = delete;

  const std::filesystem::path& Path() const { return m_path; }

  // The subfolder name, created when missing. Refused when a link holds the name.
  ExtractOutcome Enter(const std::string& name, std::optional<CExtractFolder>* sub, std::string* why) const;

  // Writes the file name with the bytes fill hands to its sink (fill returns false, with a
  // reason, when it cannot produce them). Refused when a link holds the name.
  using Sink = std::function<bool(const std::uint8_t*, std::size_t)>;
  using Filler = std::function<bool(const Sink& sink, std::string* why)>;
  ExtractOutcome WriteFile(const std::string& name, const Filler& fill, std::string* why) const;

  // Removes the file name when there is one: a link of that name goes itself, never what it
  // leads to; a folder stays. False with the reason when it cannot be removed.
  bool RemoveFile(const std::string& name, std::string* why) const;

 private:
  CExtractFolder(int fd, std::filesystem::path path) : m_fd(fd), m_path(std::move(path)) {}
  std::string Where(const std::string& name) const;
  int m_fd;
  std::filesystem::path m_path;
};

// Writes an entry's bytes to the disk file at path (the Export To File command), reporting them
// to progress; stopped by it, nothing is written.
ExtractOutcome ExportFileTo(const CPackObject& entry, const std::filesystem::path& path, std::string* why,
                            CProgress* progress = nullptr);
// Writes bytes made in memory (a picture converted to PNG, say) to the disk file at path.
ExtractOutcome WriteFileTo(const std::filesystem::path& path, std::span<const std::uint8_t> bytes, std::string* why);

}  // namespace tarn
