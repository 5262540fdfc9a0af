#include "cli/StdStreams.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <csignal>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <vector>

#include "fileio/Strings.h"

namespace tarn::cli {

namespace fs = std::filesystem;

namespace {

std::string SystemReason() { return std::strerror(errno); }

// The scratch folder of the archive written to standard output is removed also when a signal
// ends the process: a reader that stops early (SIGPIPE), kill (SIGTERM), Ctrl-C, a closed
// terminal. The handler may only make async-signal-safe calls, so the folder's path is kept
// in a fixed buffer and its files are listed with getdents64.
constexpr int kEndingSignals[] = {SIGPIPE, SIGTERM, SIGINT, SIGHUP};
char g_scratch[PATH_MAX];
volatile std::sig_atomic_t g_scratchArmed = 0;
struct sigaction g_previous[sizeof kEndingSignals / sizeof kEndingSignals[0]];

void RemoveScratchNow() {
  const int dir = ::open(g_scratch, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    alignas(struct dirent64) char buffer[4096];
    for (;;) {
      const ssize_t n = ::getdents64(dir, buffer, sizeof buffer);
      if (n <= 0) break;
      for (ssize_t at = 0; at < n;) {
        const auto* entry = reinterpret_cast<const struct dirent64*>(buffer + at);
        const char* name = entry->d_name;
        if (!(name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))) ::unlinkat(dir, name, 0);
        at += entry->d_reclen;
      }
    }
    ::close(dir);
  }
  ::rmdir(g_scratch);
}

void OnEndingSignal(int signal) {
  if (g_scratchArmed) RemoveScratchNow();
  g_scratchArmed = 0;
  // Then the signal does what it would have done: the process ends as killed by it.
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

void ArmScratch(const std::string& path) {
  if (path.size() >= sizeof g_scratch) return;
  std::memcpy(g_scratch, path.c_str(), path.size() + 1);
  struct sigaction action {};
  action.sa_handler = OnEndingSignal;
  sigemptyset(&action.sa_mask);
  for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
    ::sigaction(kEndingSignals[i], nullptr, &g_previous[i]);
    // A signal the caller chose to ignore stays ignored (a broken pipe then fails the write).
    if (g_previous[i].sa_handler != SIG_IGN) ::sigaction(kEndingSignals[i], &action, nullptr);
  }
  g_scratchArmed = 1;
}

void DisarmScratch() {
  if (!g_scratchArmed) return;
  g_scratchArmed = 0;
  for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) ::sigaction(kEndingSignals[i], &g_previous[i], nullptr);
}

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
  DisarmScratch();
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
  ArmScratch(pattern);
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

bool ReadWholeFile(const std::filesystem::path& path, std::vector<std::uint8_t>& out, std::string* why) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) {
    *why = Quoted(path.string()) + (std::filesystem::exists(path, ec) ? " is not a regular file" : " does not exist");
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (in) out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (!in && !in.eof()) {
    *why = Quoted(path.string()) + " cannot be read";
    return false;
  }
  return true;
}

}  // namespace tarn::cli
