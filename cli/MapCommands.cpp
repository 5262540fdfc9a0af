#include "cli/MapCommands.h"

#include <fstream>
#include <iterator>
#include <ostream>
#include <sstream>

#include "archive/PackObject.h"
#include "archive/Strings.h"
#include "formats/Bsp.h"
#include "formats/EntryPictures.h"
#include "formats/MapEntities.h"

namespace tarn::cli {

namespace {

Outcome Failed(const std::string& message) { return {1, message}; }

}  // namespace

bool IsMapName(const std::string& name) { return EndsWith(ToLower(name), ".bsp"); }

Outcome PrintEntities(CPackObject& map, std::ostream& out) {
  const std::string path = map.PathInArchive();
  CEntryBytes data(map);
  if (!data.Ok()) return Failed("the data of " + Quoted(path) + " cannot be read");
  BspHeader header;
  std::string why;
  if (!ReadBspHeader(data.Bytes(), header, &why)) return Failed(Quoted(path) + " cannot be read as a map: " + why);
  const BspLump& lump = header.lumps[static_cast<std::size_t>(header.Index().entities)];
  const auto bytes = data.Bytes().subspan(static_cast<std::size_t>(lump.offset), static_cast<std::size_t>(lump.length));
  std::size_t length = 0;
  while (length < bytes.size() && bytes[length] != 0) ++length;
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(length));
  if (!out) return Failed("cannot write standard output");
  return {};
}

Outcome SetEntities(CPackObject& map, const std::filesystem::path& file) {
  const std::string path = map.PathInArchive();
  std::ifstream in(file, std::ios::binary);
  if (!in) return Failed("cannot read " + Quoted(file.string()));
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) return Failed("cannot read " + Quoted(file.string()));
  std::vector<MapEntity> entities;
  std::string why;
  if (!ParseEntities(text.str(), entities, &why))
    return Failed(Quoted(file.string()) + ", " + why + "; nothing changed");
  std::vector<std::uint8_t> bytes;
  {
    CEntryBytes data(map);
    if (!data.Ok()) return Failed("the data of " + Quoted(path) + " cannot be read");
    if (!ReplaceEntityLump(data.Bytes(), text.str(), bytes, &why))
      return Failed(Quoted(path) + ": " + why + "; nothing changed");
  }
  map.SetSize(static_cast<std::int64_t>(bytes.size()));
  map.SetData(std::move(bytes));
  return {};
}

}  // namespace tarn::cli
