#include <unistd.h>

#include <iostream>

#include "cli/Commands.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  std::vector<std::string> args(argv + 1, argv + argc);
  // The progress line only for a person watching a terminal, never into a file or a pipe.
  tarn::cli::RunOptions options;
  options.progress = ::isatty(STDERR_FILENO) != 0;
  int rc = tarn::cli::Run(args, std::cout, std::cerr, options);
  std::cout.flush();
  return rc;
}
