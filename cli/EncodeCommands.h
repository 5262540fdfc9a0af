// tarn-pak's encoding commands: "encode" (image files to game pictures, textures and sprites on
// disk) and "add --as" (images encoded on their way into an archive).
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "cli/Commands.h"

namespace tarn::cli {

// What a command came to: 0 done, 1 failed, 2 bad usage, and the one-line message for the
// caller to report (empty when there is nothing more to say).
struct Outcome {
  int code = 0;
  std::string message;
};

// encode [OPTIONS] IN... OUT, without the command's name; each file written is named on notices.
Outcome RunEncode(const std::vector<std::string>& args, std::ostream& notices);

// True when add's arguments ask for encoding (--as).
bool IsEncodingAdd(const std::vector<std::string>& args);
// add ARCHIVE --as KIND [--to DIRPATH] [OPTIONS] IMAGE..., without the command's name; the
// adding itself is the plain add command's, run with out and err, with the options of every
// command given (--force, --quiet, ...), passOn, and with the run's options (progress).
Outcome RunAddEncoded(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                      const std::vector<std::string>& passOn, const RunOptions& runOptions = {});

}  // namespace tarn::cli
