#include "cli/MapCommands.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <ostream>
#include <sstream>

#include <charconv>

#include "archive/PackObject.h"
#include "cli/PngWriter.h"
#include "fileio/Strings.h"
#include "maps/Bsp.h"
#include "maps/MapEntities.h"
#include "maps/MapRender.h"
#include "pictures/EntryPictures.h"

namespace tarn::cli {

namespace fs = std::filesystem;

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
  // A folder opens as a stream that reads nothing, which would empty the lump.
  std::error_code ec;
  if (fs::is_directory(file, ec))
    return Failed(Quoted(file.string()) + " is a folder, not a file of entities; nothing changed");
  std::ifstream in(file, std::ios::binary);
  if (!in) return Failed("cannot read " + Quoted(file.string()));
  std::ostringstream text;
  if (in.peek() != std::char_traits<char>::eof()) text << in.rdbuf();
  if (in.bad() || !text) return Failed("cannot read " + Quoted(file.string()) + "; nothing changed");
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

bool ParseMapPictureSize(const std::string& text, int& width, int& height) {
  const std::size_t x = ToLower(text).find('x');
  if (x == std::string::npos) return false;
  auto number = [](std::string_view s, int& v) {
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    return ec == std::errc{} && end == s.data() + s.size() && v >= 1 && v <= kMapRenderMaxSide;
  };
  return number(std::string_view(text).substr(0, x), width) && number(std::string_view(text).substr(x + 1), height);
}

namespace {

Outcome DrawMapPicture(CPackObject& map, const std::string& out, int width, int height,
                       const std::function<bool(const std::string&, std::vector<std::uint8_t>&)>& textures) {
  const std::string path = map.PathInArchive();
  BspMap bsp;
  {
    CEntryBytes data(map);
    if (!data.Ok()) return Failed("the data of " + Quoted(path) + " cannot be read");
    std::string why;
    if (!LoadBsp(data.Bytes(), bsp, &why)) return Failed(Quoted(path) + " cannot be read as a map: " + why);
  }
  const MapFileLookup beside = ArchiveLookup(map);
  std::vector<std::uint8_t> lit;
  // The coloured light of a .lit beside the map, when there is one that fits, as the window does.
  if (ExpectedLitSize(bsp.header) > 0 && path.size() > 4 && beside(path.substr(0, path.size() - 4) + ".lit", lit))
    ApplyLit(bsp, lit, nullptr);
  std::vector<std::uint8_t> rgb;
  MapRenderWork work;
  {
    const MapScene scene = BuildMapScene(bsp, textures ? textures : beside);
    if (!RenderMap(scene, MapStartCamera(bsp), width, height, rgb, &work))
      return {2, "the picture's size is out of range"};
  }
  // Half a picture would pass for the whole map: none rather than a wrong one.
  if (work.cutShort)
    return Failed("the picture of " + Quoted(path) + " was cut short: its faces lie over " +
                  std::to_string(kMapRenderWorkPerPixel) + " deep across the view; nothing written");
  std::string why;
  if (!WritePngRgb(out, width, height, static_cast<std::size_t>(width) * 3, rgb.data(), &why)) return Failed(why);
  return {};
}

}  // namespace

Outcome WriteMapPicture(CPackObject& map, const std::string& out, int width, int height,
                        const std::function<bool(const std::string&, std::vector<std::uint8_t>&)>& textures) {
  try {
    return DrawMapPicture(map, out, width, height, textures);
  } catch (const std::bad_alloc&) {
    return Failed(Quoted(map.PathInArchive()) + " cannot be drawn: there is not enough memory; nothing written");
  }
}

}  // namespace tarn::cli
