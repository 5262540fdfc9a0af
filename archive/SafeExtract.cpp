#include "archive/SafeExtract.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "archive/PackObject.h"
#include "fileio/SafeSave.h"
#include "fileio/Strings.h"

namespace tarn {

namespace fs = std::filesystem;

namespace {

constexpr const char* kLinkRefusal = "a link of that name in the folder would lead elsewhere";

bool IsLinkAt(int dirFd, const std::string& name) {
  struct stat st;
  return ::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
}

}  // namespace

std::optional<CExtractFolder> CExtractFolder::Open(const fs::path& folder, std::string* why) {
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) fs::create_directories(folder, ec);
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    if (why) *why = Quoted(folder.string()) + ": " + SystemReason(errno);
    return std::nullopt;
  }
  return CExtractFolder(fd, folder);
}

std::string CExtractFolder::Where(const std::string& name) const { return Quoted((m_path / name).string()); }

CExtractFolder::~CExtractFolder() {
  if (m_fd >= 0) ::close(m_fd);
}

CExtractFolder& CExtractFolder::operator=(CExtractFolder&& o) noexcept {
  if (this != &o) {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = o.m_fd;
    m_path = std::move(o.m_path);
    o.m_fd = -1;
  }
  return *this;
}

ExtractOutcome CExtractFolder::Enter(const std::string& name, std::optional<CExtractFolder>* sub,
                                     std::string* why) const {
  constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  int fd = ::openat(m_fd, name.c_str(), kFlags);
  if (fd < 0 && errno == ENOENT && (::mkdirat(m_fd, name.c_str(), 0777) == 0 || errno == EEXIST))
    fd = ::openat(m_fd, name.c_str(), kFlags);
  if (fd < 0) {
    const int err = errno;
    if (err == ELOOP || IsLinkAt(m_fd, name)) {
      *why = kLinkRefusal;
      return ExtractOutcome::Refused;
    }
    *why = Where(name) + ": " + SystemReason(err);
    return ExtractOutcome::Failed;
  }
  sub->emplace(CExtractFolder(fd, m_path / name));
  return ExtractOutcome::Done;
}

ExtractOutcome CExtractFolder::WriteFile(const std::string& name, const Filler& fill, std::string* why) const {
  struct stat st;
  if (::fstatat(m_fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    // Renaming over a link would not follow it, but the user may not expect the link to go.
    if (S_ISLNK(st.st_mode)) {
      *why = kLinkRefusal;
      return ExtractOutcome::Refused;
    }
    if (S_ISDIR(st.st_mode)) {
      *why = Where(name) + ": " + SystemReason(EISDIR);
      return ExtractOutcome::Failed;
    }
  }
  CPendingFile file;
  int err = 0;
  if (!file.Create(m_fd, name, 0666, true, &err)) {
    *why = Where(name) + ": " + SystemReason(err);
    return ExtractOutcome::Failed;
  }
  int writeErr = 0;
  const auto sink = [&](const std::uint8_t* p, std::size_t n) {
    if (std::fwrite(p, 1, n, file.File()) == n) return true;
    writeErr = errno ? errno : EIO;
    return false;
  };
  std::string fillWhy;
  if (!fill(sink, &fillWhy)) {
    *why = writeErr ? Where(name) + ": " + SystemReason(writeErr) : fillWhy;
    return ExtractOutcome::Failed;
  }
  // Extracted files are not pushed to the disk one by one (as archivers do not): the rename
  // already keeps a partial file from ever appearing under the name.
  if (!file.Flush(false, &err) || !file.Publish(false, &err)) {
    *why = Where(name) + ": " + SystemReason(err);
    return ExtractOutcome::Failed;
  }
  return ExtractOutcome::Done;
}

bool CExtractFolder::RemoveFile(const std::string& name, std::string* why) const {
  struct stat st;
  if (::fstatat(m_fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return true;
    *why = Where(name) + ": " + SystemReason(errno);
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    *why = Where(name) + ": " + SystemReason(EISDIR);
    return false;
  }
  if (::unlinkat(m_fd, name.c_str(), 0) == 0 || errno == ENOENT) return true;
  *why = Where(name) + ": " + SystemReason(errno);
  return false;
}

namespace {

ExtractOutcome WriteAt(const fs::path& path, const CExtractFolder::Filler& fill, std::string* why) {
  auto folder = CExtractFolder::Open(path.has_parent_path() ? path.parent_path() : fs::path("."), why);
  if (!folder) return ExtractOutcome::Failed;
  return folder->WriteFile(path.filename().string(), fill, why);
}

}  // namespace

ExtractOutcome ExportFileTo(const CPackObject& entry, const fs::path& path, std::string* why, CProgress* progress) {
  if (!entry.CanStream(why)) return ExtractOutcome::Failed;
  Expect(progress, static_cast<std::uint64_t>(std::max<std::int64_t>(entry.Size(), 0)));
  return WriteAt(
      path,
      [&](const CExtractFolder::Sink& sink, std::string* fillWhy) {
        return entry.StreamData(
            [&](const std::uint8_t* p, std::size_t n) { return sink(p, n) && Advance(progress, n); }, fillWhy);
      },
      why);
}

ExtractOutcome WriteFileTo(const fs::path& path, std::span<const std::uint8_t> bytes, std::string* why) {
  return WriteAt(
      path,
      [&](const CExtractFolder::Sink& sink, std::string*) { return bytes.empty() || sink(bytes.data(), bytes.size()); },
      why);
}

}  // namespace tarn
