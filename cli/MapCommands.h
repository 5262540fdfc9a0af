// tarn-pak's work on compiled maps: for "ents", the entity lump printed, replaced by the text
// of a file once it is checked, or written beside the map as the .ent file source ports load in
// its place; for "convert", a picture of the map from its start.
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

// The .ent file of a map of that name: "e1m1.bsp" gives "e1m1.ent".
std::string EntFileName(const std::string& mapName);

// Puts the map's entity text, as its lump holds it, in the .ent entry beside the map in the
// document (replacing one there, whatever the case of its name); the caller saves. written
// gets the entry's path.
Outcome ExportEntities(CPackObject& map, std::string* written);

// "640x400" (an "X" will do) as a size of at least 1 and at most kMapRenderMaxSide a side.
bool ParseMapPictureSize(const std::string& text, int& width, int& height);

// The map drawn from where a player starts, width × height, to the PNG file out (written beside
// it, then put in its place). Its coloured light comes from the .lit beside it, the textures it
// does not hold through textures (the archive's files when that is empty).
Outcome WriteMapPicture(CPackObject& map, const std::string& out, int width, int height,
                        const std::function<bool(const std::string&, std::vector<std::uint8_t>&)>& textures = {});

}  // namespace tarn::cli
