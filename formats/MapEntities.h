// A map's entities: the text of its entity lump (or of a .ent file), one brace-enclosed block
// per entity holding quoted keys and values, read and checked.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarn {

struct BspMap;

struct MapEntity {
  std::vector<std::pair<std::string, std::string>> keys;  // in the text's order
  int line = 0;                                           // of its opening brace, from 1
  // The value of the last key of that name, as the engines take it; nullptr when there is none.
  const std::string* Find(std::string_view key) const;
};

// Reads every entity. False, with the line and what is wrong, when the braces do not balance
// or a key or value is not a quoted string on one line; out then holds the entities before it.
// "//" comments and white space between the tokens are allowed, as the engines' parser does.
bool ParseEntities(std::string_view text, std::vector<MapEntity>& out, std::string* error);

// Where a player starts: the first info_player_start, else info_player_deathmatch, else the
// middle of the world's bounds, looking along the start's "angle" (degrees about the up axis).
struct MapStart {
  float origin[3]{};
  float yaw = 0;
  std::string from;  // the classname it came from, or "centre"
};
MapStart FindStart(const BspMap& map, const std::vector<MapEntity>& entities);

}  // namespace tarn
