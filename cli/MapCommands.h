// tarn-pak's work on compiled maps for the "ents" command: the entity lump printed, or replaced
// by the text of a file once it is checked.
#pragma once

#include <filesystem>
#include <iosfwd>
#include <string>

#include "cli/EncodeCommands.h"

namespace tarn {
class CPackObject;
}

namespace tarn::cli {

// Whether an entry's name says it is a compiled map (.bsp).
bool IsMapName(const std::string& name);

// The entity lump's text, as the map holds it, on out.
Outcome PrintEntities(CPackObject& map, std::ostream& out);

// Puts the text of file in the map's entity lump, in the document: the caller saves. Refused,
// with the line and the fault, when the text's braces do not balance or a key or value is not
// quoted; nothing is changed then.
Outcome SetEntities(CPackObject& map, const std::filesystem::path& file);

}  // namespace tarn::cli
