// The commands of tarn-pak, callable from tests without a process.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace tarn::cli {

// Runs one command line (without the program name). Messages go to err as
// "tarn-pak: <message>". Returns 0 on success, 1 on failure, 2 on bad usage.
int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace tarn::cli
