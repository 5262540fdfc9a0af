#include "formats/MapEntities.h"

#include <algorithm>
#include <charconv>

#include "archive/Strings.h"
#include "formats/Bsp.h"

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
      if (!t.Next() || t.Peek() == '}') return Fail(t.Line(), "the key \"" + key + "\" has no value");
      if (t.Peek() != '"' || !t.Quoted(value))
        return Fail(t.Line(), "the value of \"" + key + "\" must be a quoted string on one line");
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

bool SetEntityText(std::span<const std::uint8_t> map, std::string_view text, std::vector<std::uint8_t>& out,
                   std::string* error, int* errorLine) {
  std::vector<MapEntity> entities;
  return ParseEntities(text, entities, error, errorLine) && ReplaceEntityLump(map, text, out, error);
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
