// How a command speaks: --json for its answer, --quiet and --verbose for its messages.
#pragma once

#include <ostream>
#include <string>

namespace tarn::cli {

struct Voice {
  bool json = false;     // the answer as one JSON document on standard output
  bool quiet = false;    // no warnings or notices; errors still go out
  bool verbose = false;  // a notice for each thing done

  // Where warnings go: err, or nowhere when quiet.
  std::ostream& Warnings(std::ostream& err) const { return quiet ? Nowhere() : err; }
  // Where notices of what is done go: err when verbose (and not quiet), else nowhere.
  std::ostream& Notices(std::ostream& err) const { return verbose && !quiet ? err : Nowhere(); }

 private:
  static std::ostream& Nowhere() {
    static std::ostream sink(nullptr);
    return sink;
  }
};

// Sets what arg asks for and returns true when it is one of the options above.
inline bool TakeVoiceOption(const std::string& arg, Voice& voice) {
  if (arg == "--json") return voice.json = true;
  if (arg == "-q" || arg == "--quiet") return voice.quiet = true;
  if (arg == "-v" || arg == "--verbose") return voice.verbose = true;
  return false;
}

}  // namespace tarn::cli
