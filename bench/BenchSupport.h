// What the benchmarks share: a folder of their own under the system's temporary folder,
// removed when the benchmark program ends.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace tarn::bench {

inline const std::filesystem::path& BenchFolder(const char* prefix) {
  static const std::filesystem::path dir = [prefix] {
    auto d = std::filesystem::temp_directory_path() / (std::string(prefix) + std::to_string(::getpid()));
    std::filesystem::create_directories(d);
    static std::filesystem::path removed = d;
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(removed, ec);
    });
    return d;
  }();
  return dir;
}

}  // namespace tarn::bench
