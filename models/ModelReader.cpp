#include "models/ModelReader.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "fileio/ByteIO.h"

extern char** environ;

namespace tarn {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

std::mutex g_limitsLock;
ModelReaderLimits g_limits;

// --- the bytes of messages -------------------------------------------------------------------

class CWriter {
 public:
  explicit CWriter(std::vector<std::uint8_t>& out) : m_out(out) {}
  void U8(std::uint8_t v) { m_out.push_back(v); }
  void U32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) m_out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  void U64(std::uint64_t v) { U32(static_cast<std::uint32_t>(v)), U32(static_cast<std::uint32_t>(v >> 32)); }
  void F32(float f) { U32(std::bit_cast<std::uint32_t>(f)); }
  void F64(double d) { U64(std::bit_cast<std::uint64_t>(d)); }
  void Bytes(std::span<const std::uint8_t> b) {
    U64(b.size());
    m_out.insert(m_out.end(), b.begin(), b.end());
  }
  void Str(const std::string& s) { Bytes({reinterpret_cast<const std::uint8_t*>(s.data()), s.size()}); }

 private:
  std::vector<std::uint8_t>& m_out;
};

class CReader {
 public:
  explicit CReader(std::span<const std::uint8_t> bytes) : m_in(bytes) {}
  std::uint8_t U8() { return m_in.U8(); }
  std::uint32_t U32() { return m_in.U32(); }
  std::uint64_t U64() {
    const std::uint64_t low = m_in.U32();
    return low | static_cast<std::uint64_t>(m_in.U32()) << 32;
  }
  float F32() { return m_in.F32(); }
  double F64() { return std::bit_cast<double>(U64()); }
  std::span<const std::uint8_t> Bytes() { return m_in.Bytes(Count(1)); }
  std::string Str() {
    const auto b = Bytes();
    return {reinterpret_cast<const char*>(b.data()), b.size()};
  }
  // A count of records of at least each bytes: no more than the bytes left could hold.
  std::size_t Count(std::size_t each) {
    const std::uint64_t n = U64();
    if (n > m_in.Remaining() / each) throw ParseError("a count past the end of the message");
    return static_cast<std::size_t>(n);
  }
  bool AtEnd() const { return m_in.AtEnd(); }

 private:
  ByteReader m_in;
};

// --- the socket --------------------------------------------------------------------------------

// Waits for the socket until the deadline (none: for ever). False when the time ran out or the
// socket failed.
bool Wait(int fd, short events, const Clock::time_point* deadline) {
  for (;;) {
    int timeout = -1;
    if (deadline) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now()).count();
      if (left <= 0) return false;
      timeout = static_cast<int>(std::min<long long>(left, 60'000));
    }
    pollfd p{fd, events, 0};
    const int n = ::poll(&p, 1, timeout);
    if (n > 0) return true;
    if (n < 0 && errno != EINTR) return false;
  }
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size, const Clock::time_point* deadline) {
  while (size > 0) {
    ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (n < 0 && errno == ENOTSOCK) n = ::write(fd, data, size);
    if (n > 0) {
      data += n, size -= static_cast<std::size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!Wait(fd, POLLOUT, deadline)) return false;
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return false;
    }
  }
  return true;
}

bool ReadAll(int fd, std::uint8_t* data, std::size_t size, const Clock::time_point* deadline) {
  while (size > 0) {
    const ssize_t n = ::read(fd, data, size);
    if (n > 0) {
      data += n, size -= static_cast<std::size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!Wait(fd, POLLIN, deadline)) return false;
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return false;  // the other end is gone
    }
  }
  return true;
}

bool SendMessage(int fd, char type, std::span<const std::uint8_t> payload, const Clock::time_point* deadline) {
  if (payload.size() > reader::kMaxMessage) return false;
  std::uint8_t head[5] = {static_cast<std::uint8_t>(type)};
  StoreU32(head + 1, static_cast<std::uint32_t>(payload.size()));
  return WriteAll(fd, head, 5, deadline) && WriteAll(fd, payload.data(), payload.size(), deadline);
}

bool ReceiveMessage(int fd, char& type, std::vector<std::uint8_t>& payload, const Clock::time_point* deadline) {
  std::uint8_t head[5];
  if (!ReadAll(fd, head, 5, deadline)) return false;
  type = static_cast<char>(head[0]);
  const std::uint32_t size = head[1] | head[2] << 8 | head[3] << 16 | static_cast<std::uint32_t>(head[4]) << 24;
  if (size > reader::kMaxMessage) return false;
  payload.resize(size);
  return ReadAll(fd, payload.data(), size, deadline);
}

// --- the process ---------------------------------------------------------------------------------

// tarn-import beside the running program (the build folder, or a copy of the programs), then
// where an install puts it.
std::string FindProgram(std::string* tried) {
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  // Never a program of that name in the working folder.
  if (ec || !self.is_absolute()) return {};
  const fs::path here = self.parent_path();
  for (const fs::path& p : {here / "tarn-import", (here / TARN_IMPORT_FROM_BIN / "tarn-import").lexically_normal()}) {
    if (::access(p.c_str(), X_OK) == 0) return p.string();
    *tried += (tried->empty() ? "" : ", ") + p.string();
  }
  return {};
}

std::string Stopped(int status, bool timedOut, int seconds) {
  const std::string lead = "this model could not be read: ";
  if (timedOut) return lead + "its reader took more than " + std::to_string(seconds) + " seconds";
  if (WIFSIGNALED(status)) {
    const int sig = WTERMSIG(status);
    if (sig == SIGXCPU) return lead + "its reader took more than " + std::to_string(seconds) + " seconds";
    const char* name = ::strsignal(sig);
    return lead + "its reader crashed (" + (name ? name : "signal " + std::to_string(sig)) + ")";
  }
  if (WIFEXITED(status)) return lead + "its reader stopped (exit status " + std::to_string(WEXITSTATUS(status)) + ")";
  return lead + "its reader stopped";
}

}  // namespace

void SetModelReaderLimits(const ModelReaderLimits& limits) {
  const std::lock_guard lock(g_limitsLock);
  g_limits = limits;
}

ModelReaderLimits CurrentModelReaderLimits() {
  const std::lock_guard lock(g_limitsLock);
  return g_limits;
}

bool RunModelReader(const ModelReadRequest& request, const FindBytes& find, ReadModel& out, std::string* error) {
  out = ReadModel{};
  auto fail = [&](const std::string& why) {
    out = ReadModel{};
    if (error) *error = why;
    return false;
  };
  if (request.bytes.size() > kMaxModelFileBytes)
    return fail("the model is larger than the " + std::to_string(kMaxModelFileBytes >> 20) + " MB Tarn reads");
  const ModelReaderLimits limits = CurrentModelReaderLimits();
  std::string tried;
  const std::string program = limits.program.empty() ? FindProgram(&tried) : limits.program;
  if (program.empty())
    return fail("this model could not be read: tarn-import is not installed (" +
                (tried.empty() ? "the running program's folder is unknown" : "looked for " + tried) + ")");

  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
    return fail(std::string("this model could not be read: ") + std::strerror(errno));
  const int ours = fds[0];
  ::fcntl(ours, F_SETFL, ::fcntl(ours, F_GETFL) | O_NONBLOCK);
  // The child's end becomes its standard input and output (dup2 clears close-on-exec there);
  // it starts with no signal blocked and a write to Tarn gone ending it.
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_adddup2(&actions, fds[1], 0);
  ::posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  ::posix_spawnattr_init(&attributes);
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  ::posix_spawnattr_setsigmask(&attributes, &none);
  ::posix_spawnattr_setsigdefault(&attributes, &defaults);
  ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  const std::string seconds = std::to_string(limits.seconds), memory = std::to_string(limits.memoryMiB);
  const char* argv[] = {program.c_str(), "--serve",      "--seconds", seconds.c_str(),
                        "--memory-mb",   memory.c_str(), nullptr};
  pid_t pid = 0;
  const int spawned =
      ::posix_spawn(&pid, program.c_str(), &actions, &attributes, const_cast<char* const*>(argv), environ);
  ::posix_spawn_file_actions_destroy(&actions);
  ::posix_spawnattr_destroy(&attributes);
  ::close(fds[1]);
  if (spawned != 0) {
    ::close(ours);
    return fail("this model could not be read: " + program + " cannot be run (" + std::strerror(spawned) + ")");
  }

  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(limits.seconds);
  bool timedOut = false, answered = false, senseless = false;
  std::string why;
  try {
    bool talking = SendMessage(ours, reader::kRequest, reader::EncodeRequest(request), &deadline);
    std::vector<std::uint8_t> message, found;
    while (talking && !answered) {
      char type = 0;
      if (!ReceiveMessage(ours, type, message, &deadline)) break;
      if (type == reader::kFind) {
        // Only an archive's model asks, and only for files of the archive.
        const std::string path(message.begin(), message.end());
        found.clear();
        const bool have = request.inArchive && find && find(path, found);
        talking = have ? SendMessage(ours, reader::kFound, found, &deadline)
                       : SendMessage(ours, reader::kNotFound, {}, &deadline);
      } else if (type == reader::kResult) {
        answered = reader::DecodeResult(message, out);
        if (!answered) why = "this model could not be read: its reader's answer is damaged", senseless = true;
        break;
      } else if (type == reader::kFailed) {
        why.assign(message.begin(), message.end());
        if (why.empty()) why = "not a model Tarn can read";
        break;
      } else {
        why = "this model could not be read: its reader's answer is damaged", senseless = true;
        break;
      }
    }
  } catch (const std::bad_alloc&) {
    why = "the model is too large to read", senseless = true;
  }
  // The process ends on its own once it has answered (or crashed): its end of the socket closes
  // as it exits. One that is still at work past the deadline, or talks nonsense, is ended.
  timedOut = Clock::now() >= deadline;
  while (!timedOut && !senseless) {
    std::uint8_t rest;
    const ssize_t n = ::read(ours, &rest, 1);
    if (n == 0) break;
    if (n > 0 || errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) break;
    if (!Wait(ours, POLLIN, &deadline)) timedOut = true;
  }
  ::close(ours);
  int status = 0;
  if (timedOut || senseless) ::kill(pid, SIGKILL);
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  const bool clean = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (answered && clean) return true;
  if (!senseless && (!clean || why.empty())) why = Stopped(status, timedOut, limits.seconds);
  return fail(why);
}

namespace reader {

bool Send(int fd, char type, std::span<const std::uint8_t> payload) { return SendMessage(fd, type, payload, nullptr); }

bool Receive(int fd, char& type, std::vector<std::uint8_t>& payload) {
  return ReceiveMessage(fd, type, payload, nullptr);
}

std::vector<std::uint8_t> EncodeRequest(const ModelReadRequest& request) {
  std::vector<std::uint8_t> out;
  CWriter w(out);
  w.Str(request.path);
  w.U8(request.inArchive);
  w.F64(request.fps);
  w.U8(request.skin);
  w.Bytes(request.bytes);
  return out;
}

bool DecodeRequest(std::span<const std::uint8_t> bytes, ModelReadRequest& out) {
  try {
    CReader r(bytes);
    out.path = r.Str();
    out.inArchive = r.U8() != 0;
    out.fps = r.F64();
    out.skin = r.U8() != 0;
    const auto model = r.Bytes();
    out.bytes.assign(model.begin(), model.end());
    return r.AtEnd() && std::isfinite(out.fps) && out.fps > 0 && out.fps <= 1000;
  } catch (const ParseError&) {
    return false;
  }
}

std::vector<std::uint8_t> EncodeResult(const ReadModel& model) {
  std::vector<std::uint8_t> out;
  CWriter w(out);
  w.Str(model.format);
  w.U64(model.animations.size());
  for (const std::string& a : model.animations) w.Str(a);
  w.U64(model.warnings.size());
  for (const std::string& a : model.warnings) w.Str(a);
  w.U8(model.textured);
  w.U32(static_cast<std::uint32_t>(model.skin.width));
  w.U32(static_cast<std::uint32_t>(model.skin.height));
  w.Bytes(model.skin.rgba);
  const SourceModel& s = model.source;
  w.U64(s.vertexCount);
  w.U64(s.triangles.size());
  for (const auto& t : s.triangles)
    for (const SourceCorner& c : t) w.U32(c.vertex), w.F32(c.u), w.F32(c.v);
  w.U64(s.frames.size());
  for (const SourceFrame& f : s.frames) {
    w.Str(f.name);
    w.U64(f.positions.size());
    for (float p : f.positions) w.F32(p);
  }
  w.U64(model.moreSkins.size());
  for (const RgbaImage& skin : model.moreSkins) {
    w.U32(static_cast<std::uint32_t>(skin.width));
    w.U32(static_cast<std::uint32_t>(skin.height));
    w.Bytes(skin.rgba);
  }
  w.U64(model.facts.size());
  for (const auto& [name, value] : model.facts) w.Str(name), w.Str(value);
  return out;
}

bool DecodeResult(std::span<const std::uint8_t> bytes, ReadModel& out) {
  out = ReadModel{};
  try {
    CReader r(bytes);
    out.format = r.Str();
    out.animations.resize(r.Count(8));
    for (std::string& a : out.animations) a = r.Str();
    out.warnings.resize(r.Count(8));
    for (std::string& a : out.warnings) a = r.Str();
    out.textured = r.U8() != 0;
    const std::uint32_t width = r.U32(), height = r.U32();
    const auto rgba = r.Bytes();
    if (width > 16384 || height > 16384 || rgba.size() != std::uint64_t{width} * height * 4) return false;
    out.skin.width = static_cast<int>(width), out.skin.height = static_cast<int>(height);
    out.skin.rgba.assign(rgba.begin(), rgba.end());
    SourceModel& s = out.source;
    s.vertexCount = r.U64();
    if (s.vertexCount > std::uint64_t{1} << 31) return false;
    s.triangles.resize(r.Count(36));
    for (auto& t : s.triangles)
      for (SourceCorner& c : t) {
        c.vertex = r.U32(), c.u = r.F32(), c.v = r.F32();
        if (c.vertex >= s.vertexCount) return false;
      }
    s.frames.resize(r.Count(16));
    for (SourceFrame& f : s.frames) {
      f.name = r.Str();
      f.positions.resize(r.Count(4));
      if (f.positions.size() != s.vertexCount * 3) return false;
      for (float& p : f.positions) p = r.F32();
    }
    out.moreSkins.resize(r.Count(16));
    if (out.moreSkins.size() >= kMaxReadSkins) return false;
    for (RgbaImage& skin : out.moreSkins) {
      const std::uint32_t w = r.U32(), h = r.U32();
      const auto pixels = r.Bytes();
      if (w == 0 || h == 0 || w > 16384 || h > 16384 || pixels.size() != std::uint64_t{w} * h * 4) return false;
      skin.width = static_cast<int>(w), skin.height = static_cast<int>(h);
      skin.rgba.assign(pixels.begin(), pixels.end());
    }
    out.facts.resize(r.Count(16));
    for (auto& [name, value] : out.facts) name = r.Str(), value = r.Str();
    return r.AtEnd();
  } catch (const ParseError&) {
    out = ReadModel{};
    return false;
  }
}

}  // namespace reader

}  // namespace tarn
