// tarn-pak run in the test's process, with what it printed.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "cli/Commands.h"

namespace tarn::test {

struct Result {
  int rc;
  std::string out, err;
};

inline Result Tool(std::vector<std::string> args) {
  std::ostringstream out, err;
  int rc = cli::Run(args, out, err);
  return {rc, out.str(), err.str()};
}

// A shell command line run in dir, $T standing for the built tarn-pak; its exit status, or -1
// when it did not exit (a crash).
inline int Shell(const std::filesystem::path& dir, const std::string& line) {
  const std::string command = "cd '" + dir.string() + "' && T='" TARN_PAK_PATH "' && " + line;
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace tarn::test
