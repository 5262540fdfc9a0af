// tarn-import: reads one model of a modelling program for Tarn or tarn-pak, which start it with
// a socket as its standard input and output (formats/ModelReader.h has the conversation). It
// runs under a memory limit, a processor-time limit and no core files, so that a reader that
// goes wrong on a hostile file ends here.
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "TarnVersion.h"
#include "import/ModelScene.h"
#include "models/ModelReader.h"

#if defined(__SANITIZE_ADDRESS__)
#define TARN_IMPORT_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TARN_IMPORT_ASAN 1
#endif
#endif

#ifdef TARN_IMPORT_ASAN
// AddressSanitizer reserves terabytes of address space for its shadow, so an address-space
// limit would stop it at start: a sanitized build limits what it keeps in memory instead.
extern "C" const char* __asan_default_options() { return "hard_rss_limit_mb=2048:allocator_may_return_null=1"; }
#endif

namespace {

namespace fs = std::filesystem;
using namespace tarn;

void Limit(int resource, rlim_t value) {
  const rlimit limit{value, value};
  ::setrlimit(resource, &limit);
}

bool ReadModelBytes(const std::string& path, std::vector<std::uint8_t>& out, std::string* error) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) {
    *error = "it is not a file Tarn can read";
    return false;
  }
  if (fs::file_size(path, ec) > kMaxModelFileBytes) {
    *error = "the model is larger than the " + std::to_string(kMaxModelFileBytes >> 20) + " MB Tarn reads";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (!in && !in.eof()) {
    *error = "it cannot be read";
    return false;
  }
  return true;
}

int Serve(int seconds, std::uint64_t memoryMiB) {
  Limit(RLIMIT_CORE, 0);
  Limit(RLIMIT_CPU, static_cast<rlim_t>(seconds) + 1);
#ifndef TARN_IMPORT_ASAN
  Limit(RLIMIT_AS, static_cast<rlim_t>(memoryMiB) << 20);
#else
  (void)memoryMiB;
#endif
  char type = 0;
  std::vector<std::uint8_t> message;
  ModelReadRequest request;
  if (!reader::Receive(0, type, message) || type != reader::kRequest || !reader::DecodeRequest(message, request))
    return 1;
  message = {};

  import::FileSource files;
  std::string why;
  if (request.inArchive) {
    // Every file an archive's model names comes from Tarn, which holds the archive.
    files = import::ArchiveFiles([](const std::string& path, std::vector<std::uint8_t>& out) {
      char answer = 0;
      if (!reader::Send(1, reader::kFind, {reinterpret_cast<const std::uint8_t*>(path.data()), path.size()}) ||
          !reader::Receive(0, answer, out))
        std::exit(1);
      return answer == reader::kFound;
    });
  } else {
    files = import::FolderFiles(fs::path(request.path).parent_path().string());
    if (!ReadModelBytes(request.path, request.bytes, &why)) {
      reader::Send(1, reader::kFailed, {reinterpret_cast<const std::uint8_t*>(why.data()), why.size()});
      return 0;
    }
  }
  ReadModel model;
  if (!import::ReadModelFile(request, files, model, &why)) {
    reader::Send(1, reader::kFailed, {reinterpret_cast<const std::uint8_t*>(why.data()), why.size()});
    return 0;
  }
  request = {};
  return reader::Send(1, reader::kResult, reader::EncodeResult(model)) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  bool serve = false;
  int seconds = 30;
  std::uint64_t memory = 2048;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--serve") {
      serve = true;
    } else if (arg == "--seconds" && i + 1 < argc) {
      seconds = std::clamp(std::atoi(argv[++i]), 1, 3600);
    } else if (arg == "--memory-mb" && i + 1 < argc) {
      memory = std::clamp<std::uint64_t>(std::strtoull(argv[++i], nullptr, 10), 64, std::uint64_t{1} << 20);
    } else if (arg == "--version") {
      std::printf("tarn-import %s\n", TARN_VERSION);
      return 0;
    } else {
      serve = false;
      break;
    }
  }
  if (!serve) {
    std::fprintf(stderr,
                 "tarn-import reads models of modelling programs for Tarn and tarn-pak, which run it;\n"
                 "it is not run by hand (tarn-pak model IN OUT.mdl converts a model).\n");
    return 2;
  }
  return Serve(seconds, memory);
}
