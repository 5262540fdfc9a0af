// tarn-pak's commands on replacement art: "textures" (every picture an engine can replace,
// written as that engine reads it, and such pictures brought back into the archive) and "glow"
// (stray glowing pixels listed and quenched), and the stray glowing pixels "check" reports.
#pragma once

#include <chrono>
#include <iosfwd>
#include <string>
#include <vector>

#include "cli/EncodeCommands.h"
#include "cli/Voice.h"
#include "containers/Container.h"
#include "fileio/SafeSave.h"

namespace tarn {
class CPackObject;
}

namespace tarn::cli {

// What the commands need of tarn-pak's run: where they speak, and how they save.
struct ArtCommandContext {
  std::ostream& out;
  std::ostream& err;
  Voice voice;
  SaveConsent consent;
  WriteOptions write;
  std::chrono::milliseconds lockTimeout{10000};
};

// textures ARCHIVE|FOLDER... --engine ENGINE --out DIR [--format png|tga] [--map NAME], or
// textures --import DIR --engine ENGINE ARCHIVE [--format png|tga] [--map NAME]; the arguments
// after the command's name.
Outcome RunTextures(const std::vector<std::string>& args, const ArtCommandContext& ctx);
// glow [--list|--fix] [--every] ARCHIVE [PATH...]
Outcome RunGlow(const std::vector<std::string>& args, const ArtCommandContext& ctx);

// check's lines for the stray glowing pixels of an archive's lit pictures (its maps', WADs'
// and models'), one a picture.
std::vector<std::string> StrayGlowProblems(CPackObject& root);

}  // namespace tarn::cli
