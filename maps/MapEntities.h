// A map's entities: the text of its entity lump (or of a .ent file), one brace-enclosed block
// per entity holding quoted keys and values, read and checked.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
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
// errorLine, when given, gets the line of the fault alone, for an editor to go to.
bool ParseEntities(std::string_view text, std::vector<MapEntity>& out, std::string* error, int* errorLine = nullptr);

// The text of a map's entity lump up to its first NUL, as the engines read it. False, with the
// reason, when the map's header cannot be read.
bool ReadEntityText(std::span<const std::uint8_t> map, std::string& text, std::string* error);

// What the engines need of a map's entities beyond their syntax: a first entity that is the
// world ("classname" "worldspawn"), and keys and values no longer than the engine of the map's
// format reads whole (Quake: keys of 255 bytes, values of 1023; Quake II: 127). False, with
// the reason naming the engine and the entity's line, when they are not so.
enum class BspFormat;
bool CheckEntities(const std::vector<MapEntity>& entities, BspFormat format, std::string* error,
                   int* errorLine = nullptr);

// The map with text in its entity lump once ParseEntities and CheckEntities accept the text:
// the one check behind both `tarn-pak ents --set` and the map window's Save, so that neither
// lets through what the other refuses. False, with the reason (and errorLine as ParseEntities
// gives it), when the text or the map is refused.
bool SetEntityText(std::span<const std::uint8_t> map, std::string_view text, std::vector<std::uint8_t>& out,
                   std::string* error, int* errorLine = nullptr);

// Where a player starts: the first info_player_start, else info_player_deathmatch, else the
// middle of the world's bounds, looking along the start's "angle" (degrees about the up axis).
struct MapStart {
  float origin[3]{};
  float yaw = 0;
  std::string from;  // the classname it came from, or "centre"
};
MapStart FindStart(const BspMap& map, const std::vector<MapEntity>& entities);

}  // namespace tarn
