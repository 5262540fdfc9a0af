#include <iostream>

#include "cli/Commands.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  std::vector<std::string> args(argv + 1, argv + argc);
  int rc = tarn::cli::Run(args, std::cout, std::cerr);
  std::cout.flush();
  return rc;
}
