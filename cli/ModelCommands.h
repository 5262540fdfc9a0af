// tarn-pak's "model" command: a model made in a modelling program into a Quake or Quake II model.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "cli/EncodeCommands.h"

namespace tarn::cli {

// model IN OUT.mdl|OUT.md2 [OPTIONS], without the command's name; files written are named on
// notices, the engines' limits the model goes past on warnings.
Outcome RunModel(const std::vector<std::string>& args, std::ostream& notices, std::ostream& warnings);

}  // namespace tarn::cli
