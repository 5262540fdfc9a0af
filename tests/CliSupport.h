// tarn-pak run in the test's process, with what it printed.
#pragma once

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

}  // namespace tarn::test
