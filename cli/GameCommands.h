// tarn-pak's commands on game folders and on several archives: "which", "list --game",
// "check --engine", "diff" and "find".
#pragma once

#include <cstdint>
#include <functional>
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

// The files of game folders as the engine loads them, by path, for a map's textures: args are
// FOLDER... and --engine ENGINE. What cannot be read is told on err; lookup is left empty when
// the folders cannot be loaded at all (the Outcome says why).
Outcome LoadGameFiles(const std::vector<std::string>& args, std::ostream& err, const Voice& voice,
                      std::function<bool(const std::string&, std::vector<std::uint8_t>&)>& lookup);

// Whether list's or check's arguments ask for the game-folder forms.
bool HasArgument(const std::vector<std::string>& args, const std::string& option);

}  // namespace tarn::cli
