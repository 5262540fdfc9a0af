#include "fileio/TempFile.h"

#include <cerrno>
#include <cstdio>
#include <random>
#include <vector>

#include "fileio/SafeSave.h"

namespace tarn {

namespace {

std::filesystem::path TempFolder() {
  std::error_code ec;
  auto dir = std::filesystem::temp_directory_path(ec);
  if (ec || dir.empty()) return std::filesystem::current_path(ec);
  return dir;
}

}  // namespace

std::FILE* CreateExclusive(const std::filesystem::path& path) {
  // "x": fail rather than open a file that already exists (C11 exclusive mode).
  return std::fopen(path.c_str(), "wbx");
}

std::optional<std::filesystem::path> CreateTempFile(const std::string& prefix) {
  static std::mt19937_64 rng{std::random_device{}()};
  const auto dir = TempFolder();
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[32];
    std::snprintf(name, sizeof name, "%.3s%012llx.tmp", prefix.c_str(),
                  static_cast<unsigned long long>(rng() & 0xFFFFFFFFFFFFull));
    auto path = dir / name;
    if (std::FILE* f = CreateExclusive(path)) {
      std::fclose(f);
      return path;
    }
  }
  return std::nullopt;
}

bool CopyFileBytes(const std::filesystem::path& src, const std::filesystem::path& dst, std::uint64_t size,
                   std::string* error, CProgress* progress) {
  auto fail = [&](const char* why) {
    // A file that ended early is no system failure: it just has no reason to add.
    if (error) *error = errno ? std::string(why) + ": " + SystemReason(errno) : std::string(why);
    return false;
  };
  std::FILE* in = std::fopen(src.c_str(), "rb");
  if (!in) return fail("cannot be opened for reading");
  std::FILE* out = std::fopen(dst.c_str(), "wb");
  if (!out) {
    fail("cannot write its temporary copy");
    std::fclose(in);
    return false;
  }
  std::vector<char> buffer(static_cast<std::size_t>(std::min<std::uint64_t>(size, 1 << 20)) + 1);
  std::uint64_t left = size;
  bool ok = true;
  while (ok && left > 0) {
    std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer.size()));
    errno = 0;
    std::size_t got = std::fread(buffer.data(), 1, n, in);
    if (got != n) ok = fail("could not be read completely");
    else if (std::fwrite(buffer.data(), 1, n, out) != n) ok = fail("cannot write its temporary copy");
    else if (!Advance(progress, n, src.filename().string())) {
      if (error) *error = kCancelledReason;
      ok = false;
    }
    left -= got;
  }
  std::fclose(in);
  if (std::fclose(out) != 0 && ok) ok = fail("cannot write its temporary copy");
  return ok;
}

bool WriteFileBytes(const std::filesystem::path& dst, std::span<const std::uint8_t> bytes) {
  std::FILE* out = std::fopen(dst.c_str(), "wb");
  if (!out) return false;
  bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  return std::fclose(out) == 0 && ok;
}

}  // namespace tarn
