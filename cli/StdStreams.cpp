#include "cli/StdStreams.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <vector>

namespace tarn::cli {

namespace fs = std::filesystem;

namespace {

std::string SystemReason() { return std::strerror(errno); }

}  // namespace

CStdinSpool::~CStdinSpool() {
  if (m_fd >= 0) ::close(m_fd);
  if (m_named) {
    std::error_code ec;
    fs::remove(m_path, ec);
  }
}

bool CStdinSpool::Fill(std::string* why) {
  if (m_filled) return true;
  std::error_code ec;
  const fs::path tmp = fs::temp_directory_path(ec);
  if (ec) {
    *why = "no temporary folder to hold standard input: " + ec.message();
    return false;
  }
  // An unnamed file vanishes with the process whatever happens to it; where the file system
  // cannot make one, a named one is removed at the end.
  m_fd = ::open(tmp.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (m_fd >= 0) {
    m_path = "/proc/self/fd/" + std::to_string(m_fd);
  } else {
    std::string pattern = (tmp / "tarn-pak-stdin-XXXXXX").string();
    m_fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (m_fd < 0) {
      *why = "cannot make a temporary file to hold standard input: " + SystemReason();
      return false;
    }
    m_path = pattern;
    m_named = true;
  }
  std::vector<char> buffer(1 << 16);
  for (;;) {
    const ssize_t n = ::read(STDIN_FILENO, buffer.data(), buffer.size());
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      *why = "cannot read standard input: " + SystemReason();
      return false;
    }
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = ::write(m_fd, buffer.data() + done, static_cast<std::size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        *why = "cannot hold standard input in a temporary file: " + SystemReason();
        return false;
      }
      done += w;
    }
    m_size += static_cast<std::uint64_t>(n);
  }
  m_filled = true;
  return true;
}

CScratchFolder::~CScratchFolder() {
  if (m_path.empty()) return;
  std::error_code ec;
  fs::remove_all(m_path, ec);
}

bool CScratchFolder::Create(std::string* why) {
  std::error_code ec;
  std::string pattern = (fs::temp_directory_path(ec) / "tarn-pak-out-XXXXXX").string();
  if (ec || !::mkdtemp(pattern.data())) {
    *why = "cannot make a temporary folder: " + (ec ? ec.message() : SystemReason());
    return false;
  }
  m_path = pattern;
  return true;
}

bool IsTerminal(const std::ostream& out) { return &out == &std::cout && ::isatty(STDOUT_FILENO) == 1; }

bool CopyToStream(const fs::path& file, std::ostream& out, std::string* why) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    *why = "cannot read the temporary file " + file.string();
    return false;
  }
  std::vector<char> buffer(1 << 16);
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    out.write(buffer.data(), in.gcount());
  }
  out.flush();
  if (in.bad()) *why = "cannot read the temporary file " + file.string();
  else if (!out) *why = "cannot write to standard output";
  return !in.bad() && static_cast<bool>(out);
}

}  // namespace tarn::cli
