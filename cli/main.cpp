#include <unistd.h>

#include <iostream>

#include "cli/Commands.h"
#include "fileio/SafeSave.h"

#if defined(__SANITIZE_ADDRESS__)
#define TARN_LEAK_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TARN_LEAK_CHECKED 1
#endif
#endif

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  std::vector<std::string> args(argv + 1, argv + argc);
  // Interrupted, extraction and saves leave none of the files they were writing behind.
  tarn::RemoveTemporariesOnSignals();
  // The progress line only for a person watching a terminal, never into a file or a pipe.
  tarn::cli::RunOptions options;
  options.progress = ::isatty(STDERR_FILENO) != 0;
#ifndef TARN_LEAK_CHECKED
  options.processEndsAfter = true;  // not under the leak checker, which would count what is left on purpose
#endif
  int rc = tarn::cli::Run(args, std::cout, std::cerr, options);
  std::cout.flush();
  return rc;
}
