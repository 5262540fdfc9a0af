// tarn-pak's commands on game folders and on several archives: "which", "list --game",
// "check --engine", "diff" and "find".
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "cli/EncodeCommands.h"
#include "cli/Voice.h"

namespace tarn::cli {

// Each takes the arguments after the command's name; what they print goes to out, warnings
// to err as "tarn-pak: ...", and the last word to the caller in the Outcome. voice says whether
// out gets text or JSON, and which messages err gets.
Outcome RunWhich(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const Voice& voice = {});
Outcome RunListGame(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                    const Voice& voice = {});
Outcome RunCheckEngine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                       const Voice& voice = {});
Outcome RunDiff(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const Voice& voice = {});
Outcome RunFind(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const Voice& voice = {});

// Whether list's or check's arguments ask for the game-folder forms.
bool HasArgument(const std::vector<std::string>& args, const std::string& option);

}  // namespace tarn::cli
