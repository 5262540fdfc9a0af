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
  std::string text, why;
  if (!ReadEntityText(data.Bytes(), text, &why)) return Failed(Quoted(path) + " cannot be read as a map: " + why);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
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
  std::vector<std::uint8_t> bytes;
  {
    CEntryBytes data(map);
    if (!data.Ok()) return Failed("the data of " + Quoted(path) + " cannot be read");
    std::string why;
    int line = 0;
    if (!SetEntityText(data.Bytes(), text.str(), bytes, &why, &line))
      return Failed((line ? Quoted(file.string()) + ", " : Quoted(path) + ": ") + why + "; nothing changed");
  }
  map.SetSize(static_cast<std::int64_t>(bytes.size()));
  map.SetData(std::move(bytes));
  return {};
}

std::string EntFileName(const std::string& mapName) {
  const auto dot = mapName.rfind('.');
  return (dot == std::string::npos || dot == 0 ? mapName : mapName.substr(0, dot)) + ".ent";
}

Outcome ExportEntities(CPackObject& map, std::string* written) {
  const std::string path = map.PathInArchive();
  std::string text, why;
  {
    CEntryBytes data(map);
    if (!data.Ok()) return Failed("the data of " + Quoted(path) + " cannot be read");
    if (!ReadEntityText(data.Bytes(), text, &why)) return Failed(Quoted(path) + " cannot be read as a map: " + why);
  }
  CPackObject* dir = map.Parent();
  if (!dir) return Failed(Quoted(path) + " is not in a directory");
  const std::string name = EntFileName(map.Name());
  CPackObject* ent = dir->FindChild(name);
  if (ent && ent->IsDirectory()) return Failed(Quoted(ent->PathInArchive()) + " is a directory; nothing changed");
  if (!ent) ent = dir->AddChild(name, false);
  if (!ent) return Failed("cannot add " + Quoted(name) + " beside " + Quoted(path));
  ent->SetSize(static_cast<std::int64_t>(text.size()));
  ent->SetData(std::vector<std::uint8_t>(text.begin(), text.end()));
  if (written) *written = ent->PathInArchive();
  return {};
}

}  // namespace tarn::cli
