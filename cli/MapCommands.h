// tarn-pak's work on compiled maps: for "ents", the entity lump printed, or replaced by the text
// of a file once it is checked; for "convert", a picture of the map from its start.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

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

// "640x400" (an "X" will do) as a size of at least 1 and at most kMapRenderMaxSide a side.
bool ParseMapPictureSize(const std::string& text, int& width, int& height);

// The map drawn from where a player starts, width × height, to the PNG file out (written beside
// it, then put in its place). Its coloured light comes from the .lit beside it, the textures it
// does not hold through textures (the archive's files when that is empty).
Outcome WriteMapPicture(CPackObject& map, const std::string& out, int width, int height,
                        const std::function<bool(const std::string&, std::vector<std::uint8_t>&)>& textures = {});

}  // namespace tarn::cli
