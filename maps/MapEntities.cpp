#include "maps/MapEntities.h"

#include <algorithm>
#include <charconv>
#include <optional>

#include "fileio/Strings.h"
#include "maps/Bsp.h"

namespace tarn {

namespace {

class CEntityText {
 public:
  explicit CEntityText(std::string_view text) : m_text(text) {}

  // Skips white space and comments; false at the end of the text.
  bool Next() {
    while (m_at < m_text.size()) {
      const char c = m_text[m_at];
      if (c == '\n') ++m_line;
      if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
        ++m_at;
      } else if (c == '/' && m_at + 1 < m_text.size() && m_text[m_at + 1] == '/') {
        while (m_at < m_text.size() && m_text[m_at] != '\n') ++m_at;
      } else {
        return true;
      }
    }
    return false;
  }
  char Peek() const { return m_text[m_at]; }
  void Take() { ++m_at; }
  int Line() const { return m_line; }

  // A quoted string on one line, the cursor on its opening quote.
  bool Quoted(std::string& out) {
    const std::size_t open = m_at++;
    while (m_at < m_text.size() && m_text[m_at] != '"' && m_text[m_at] != '\n') ++m_at;
    if (m_at >= m_text.size() || m_text[m_at] != '"') return false;
    out.assign(m_text.substr(open + 1, m_at - open - 1));
    ++m_at;
    return true;
  }

 private:
  std::string_view m_text;
  std::size_t m_at = 0;
  int m_line = 1;
};

// A key or value as a message shows it: whole when short, else its start, so that a message
// about a key of a megabyte stays one line.
std::string Shown(std::string_view text) {
  constexpr std::size_t kShown = 40;
  if (text.size() <= kShown) return "\"" + std::string(text) + "\"";
  std::size_t cut = kShown - 8;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;  // not inside a character
  return "\"" + std::string(text.substr(0, cut)) + "...\"";
}

// The longest key and value an engine's entity parser takes whole for a map of this format,
// and the engine and the place in its code that says so.
struct TokenLimits {
  std::size_t key, value;
  const char* keyRule;
  const char* valueRule;
};

std::optional<TokenLimits> LimitsFor(BspFormat format) {
  switch (format) {
    // id-Software/Quake WinQuake/common.c: COM_Parse copies a quoted string into com_token[1024]
    // without a bound, as Quakespasm 0.95 does; pr_edict.c ED_ParseEdict copies a key into
    // keyname[256] (strcpy in id's Quake, cut short by Quakespasm).
    case BspFormat::Quake:
    case BspFormat::Bsp2:
    case BspFormat::Bsp2Old:
      return TokenLimits{255, 1023, "Quake reads a key into 256 bytes (ED_ParseEdict)",
                         "Quake reads a value into 1024 bytes (COM_Parse)"};
    // id-Software/Quake-2 game/q_shared.c: COM_Parse keeps MAX_TOKEN_CHARS 128 (q_shared.h) of a
    // quoted string and writes its end one byte past com_token when it is that long.
    // The extended QBSP layout is read by the same game code (Yamagi, the 2023 re-release).
    case BspFormat::Quake2:
    case BspFormat::Quake2Qbism:
      return TokenLimits{127, 127, "Quake II reads a key into 128 bytes (COM_Parse, MAX_TOKEN_CHARS)",
                         "Quake II reads a value into 128 bytes (COM_Parse, MAX_TOKEN_CHARS)"};
    // Half-Life's engine is not open to read: its limits are not known.
    case BspFormat::HalfLife: return std::nullopt;
  }
  return std::nullopt;
}

struct Fault {
  std::string* error;
  int* line;
  bool operator()(int at, const std::string& why) const {
    if (error) *error = "line " + std::to_string(at) + ": " + why;
    if (line) *line = at;
    return false;
  }
};

// Numbers as the engines write them, whatever the locale says a decimal point is.
bool ReadFloats(const std::string* text, float* out, int n) {
  if (!text) return false;
  const char* at = text->data();
  const char* end = at + text->size();
  for (int i = 0; i < n; ++i) {
    while (at < end && (*at == ' ' || *at == '\t')) ++at;
    if (at < end && *at == '+') ++at;
    const auto [next, ec] = std::from_chars(at, end, out[i]);
    if (ec != std::errc()) return false;
    at = next;
  }
  return true;
}

}  // namespace

const std::string* MapEntity::Find(std::string_view key) const {
  for (auto it = keys.rbegin(); it != keys.rend(); ++it)
    if (it->first == key) return &it->second;
  return nullptr;
}

bool ParseEntities(std::string_view text, std::vector<MapEntity>& out, std::string* error, int* errorLine) {
  const Fault Fail{error, errorLine};
  out.clear();
  CEntityText t(text);
  while (t.Next()) {
    if (t.Peek() != '{') return Fail(t.Line(), "expected \"{\" to open an entity");
    MapEntity e;
    e.line = t.Line();
    t.Take();
    for (;;) {
      if (!t.Next()) return Fail(e.line, "the entity opened here is never closed with \"}\"");
      if (t.Peek() == '}') {
        t.Take();
        break;
      }
      if (t.Peek() == '{') return Fail(t.Line(), "\"{\" inside an entity");
      std::string key, value;
      if (t.Peek() != '"' || !t.Quoted(key)) return Fail(t.Line(), "a key must be a quoted string on one line");
      if (!t.Next() || t.Peek() == '}') return Fail(t.Line(), "the key " + Shown(key) + " has no value");
      if (t.Peek() != '"' || !t.Quoted(value))
        return Fail(t.Line(), "the value of " + Shown(key) + " must be a quoted string on one line");
      e.keys.emplace_back(std::move(key), std::move(value));
    }
    out.push_back(std::move(e));
  }
  return true;
}

bool ReadEntityText(std::span<const std::uint8_t> map, std::string& text, std::string* error) {
  BspHeader header;
  if (!ReadBspHeader(map, header, error)) return false;
  const BspLump& lump = header.lumps[static_cast<std::size_t>(header.Index().entities)];
  const auto bytes = map.subspan(static_cast<std::size_t>(lump.offset), static_cast<std::size_t>(lump.length));
  const auto end = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
  text.assign(bytes.begin(), end);
  return true;
}

bool CheckEntities(const std::vector<MapEntity>& entities, BspFormat format, std::string* error, int* errorLine) {
  const Fault Fail{error, errorLine};
  // The engines load the first entity as the world and call the spawn function its classname
  // names (ED_LoadFromFile, SpawnEntities): without worldspawn there the level has no world.
  if (entities.empty())
    return Fail(1, "there is no entity: the first must be the world, with \"classname\" \"worldspawn\"");
  const MapEntity& world = entities.front();
  const std::string* classname = world.Find("classname");
  if (!classname || *classname != "worldspawn")
    return Fail(world.line, "the first entity is the world: its \"classname\" must be \"worldspawn\"" +
                                (classname ? ", not " + Shown(*classname) : std::string()));
  const std::optional<TokenLimits> limits = LimitsFor(format);
  if (!limits) return true;
  for (const MapEntity& e : entities)
    for (const auto& [key, value] : e.keys) {
      if (key.size() > limits->key)
        return Fail(e.line, "the entity opened here has a key of " + std::to_string(key.size()) + " bytes (" +
                                Shown(key) + "); " + limits->keyRule + ", at most " + std::to_string(limits->key));
      if (value.size() > limits->value)
        return Fail(e.line, "the value of " + Shown(key) + " in the entity opened here is " +
                                std::to_string(value.size()) + " bytes long; " + limits->valueRule + ", at most " +
                                std::to_string(limits->value));
    }
  return true;
}

bool SetEntityText(std::span<const std::uint8_t> map, std::string_view text, std::vector<std::uint8_t>& out,
                   std::string* error, int* errorLine) {
  BspHeader header;
  if (!ReadBspHeader(map, header, error)) return false;
  std::vector<MapEntity> entities;
  return ParseEntities(text, entities, error, errorLine) && CheckEntities(entities, header.format, error, errorLine) &&
         ReplaceEntityLump(map, text, out, error);
}

MapStart FindStart(const BspMap& map, const std::vector<MapEntity>& entities) {
  MapStart start;
  for (const char* wanted : {"info_player_start", "info_player_deathmatch"}) {
    for (const MapEntity& e : entities) {
      const std::string* classname = e.Find("classname");
      float origin[3];
      if (!classname || *classname != wanted || !ReadFloats(e.Find("origin"), origin, 3)) continue;
      std::copy(origin, origin + 3, start.origin);
      float yaw = 0;
      if (ReadFloats(e.Find("angle"), &yaw, 1)) start.yaw = yaw;
      start.from = wanted;
      return start;
    }
  }
  if (!map.models.empty())
    for (int i = 0; i < 3; ++i) start.origin[i] = (map.models[0].mins[i] + map.models[0].maxs[i]) / 2;
  start.from = "centre";
  return start;
}

}  // namespace tarn
