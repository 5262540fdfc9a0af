// The commands of tarn-pak, callable from tests without a process.
#pragma once

#include <chrono>
#include <iosfwd>
#include <string>
#include <vector>

namespace tarn::cli {

struct RunOptions {
  // A progress line on err for long extract, create and add (when err is a terminal).
  bool progress = false;
  std::chrono::milliseconds progressAfter{500};  // how long work runs before it shows
  // Set when the process ends as Run returns: a listing then leaves its tree to the system,
  // which takes the pages back whole, instead of destroying ten thousand entries one by one.
  bool processEndsAfter = false;
};

// Runs one command line (without the program name). Messages go to err as
// "tarn-pak: <message>". Returns 0 on success, 1 on failure, 2 on bad usage.
int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const RunOptions& options = {});

}  // namespace tarn::cli
