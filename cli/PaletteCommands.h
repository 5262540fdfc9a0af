// tarn-pak's "palette" commands: a colour map made from a palette by id's rules, and art moved
// from one palette to another.
#pragma once

#include <array>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "cli/EncodeCommands.h"

namespace tarn {
class CPackObject;
}

namespace tarn::cli {

// palette colormap PALETTE OUT.lmp|OUT.pcx [--fullbrights N], the words after "colormap".
Outcome RunPaletteColormap(const std::vector<std::string>& args, std::ostream& notices);

// What palette remap is asked: FROM TO TARGET [PATH...] [--fullbrights N].
struct RemapRequest {
  std::array<std::uint8_t, 256> table{};
  std::string target;
  std::vector<std::string> paths;  // none: everything
};
// Reads the arguments after "remap" and both palettes; code 2 for bad usage.
Outcome ParseRemap(const std::vector<std::string>& args, RemapRequest& request);
// Remaps the art below root (or below each of paths in it) in place; each file changed is named
// on notices, each that cannot be read on warnings. changed counts them.
Outcome RemapTree(CPackObject& root, const RemapRequest& request, std::ostream& notices, std::ostream& warnings,
                  int& changed);
// The same for a folder on disk: each file is saved beside itself and put in place.
Outcome RemapFolder(const RemapRequest& request, std::ostream& notices, std::ostream& warnings);

}  // namespace tarn::cli
