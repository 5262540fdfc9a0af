// tarn-pak's work on compiled maps: for "ents", the entity lump printed, replaced by the text
// of a file once it is checked, or written beside the map as the .ent file source ports load in
// its place; for "convert", a picture of the map from its start or a camera; for "bspx", the
// BSPX lump table listed and edited; for "maptex", the map's textures replaced or moved.
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

// convert's options for a map's picture: the camera (--pos X,Y,Z --angles PITCH,YAW,ROLL, the
// eye and the angles as Quake's `viewpos` prints them; --fov DEGREES, the engine's `fov`) and
// the look (--look engine|plain) and --world (the world without its brush entities).
struct MapPictureOptions {
  bool hasPosition = false, hasAngles = false, hasFov = false;
  float position[3]{}, angles[3]{}, fov = 90;
  bool plain = false, worldOnly = false;
};
// When args[i] is one of those options, takes it and its value (i moves past it) and returns
// true; usage gets what is wrong with the value (then true too).
bool TakeMapPictureOption(const std::vector<std::string>& args, std::size_t& i, MapPictureOptions& options,
                          std::string& usage);

// The map drawn from where a player starts (or the options' camera), width × height, to the
// PNG file out (written beside it, then put in its place). Its coloured light comes from the
// BSPX table or the .lit beside it, the textures it does not hold through textures (the
// archive's files when that is empty).
Outcome WriteMapPicture(CPackObject& map, const std::string& out, int width, int height,
                        const std::function<bool(const std::string&, std::vector<std::uint8_t>&)>& textures = {},
                        const MapPictureOptions& options = {});

// A command on one map of an archive: its arguments read into one, then the caller opens the
// archive (to change it, and saves it after, when changes is set), finds the map and runs it.
struct MapEdit {
  std::string archive, map;
  bool changes = false;
  // Runs on the map's entry; notice gets what was done, for --verbose.
  std::function<Outcome(CPackObject& map, std::ostream& out, std::ostream& warnings, std::string& notice)> run;
};

// bspx ARCHIVE MAP --list | --extract NAME FILE | --insert NAME FILE | --remove NAME
Outcome ParseBspx(const std::vector<std::string>& args, MapEdit& edit);
// maptex ARCHIVE MAP --replace FROM.wad|FOLDER | --embed | --unembed
Outcome ParseMapTex(const std::vector<std::string>& args, MapEdit& edit);

}  // namespace tarn::cli
