#include "cli/MapCommands.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <ostream>
#include <sstream>

#include <charconv>

#include "archive/PackObject.h"
#include "cli/PngWriter.h"
#include "fileio/SafeSave.h"
#include "fileio/Strings.h"
#include "maps/Bsp.h"
#include "maps/Bspx.h"
#include "maps/MapEntities.h"
#include "maps/MapRender.h"
#include "maps/MapTextures.h"
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

bool TakeMapPictureOption(const std::vector<std::string>& args, std::size_t& i, MapPictureOptions& options,
                          std::string& usage) {
  const std::string& a = args[i];
  if (a == "--world") return options.worldOnly = true;
  const bool position = a == "--pos", angles = a == "--angles", fov = a == "--fov", look = a == "--look";
  if (!position && !angles && !fov && !look) return false;
  if (++i == args.size()) {
    usage = a + (position ? " needs the eye's X,Y,Z"
                 : angles ? " needs PITCH,YAW,ROLL in degrees"
                 : fov    ? " needs the field of view in degrees, as the engine's fov (90)"
                          : " needs engine or plain");
    return true;
  }
  const std::string& v = args[i];
  if (look) {
    if (v != "engine" && v != "plain") usage = "--look takes engine or plain, not " + Quoted(v);
    options.plain = v == "plain";
    return true;
  }
  // Numbers apart by commas or spaces, as viewpos prints them and as a shell passes them.
  std::vector<float> numbers;
  std::string text = v;
  for (char& c : text)
    if (c == ',') c = ' ';
  std::istringstream in(text);
  in.imbue(std::locale::classic());
  for (float f; in >> f;) numbers.push_back(f);
  const std::size_t want = fov ? 1 : 3;
  const bool finite = std::all_of(numbers.begin(), numbers.end(), [](float f) { return std::isfinite(f); });
  if (!in.eof() || numbers.size() != want || !finite) {
    usage = a + " takes " + (fov ? "one number" : "three numbers apart by commas") + ", not " + Quoted(v);
    return true;
  }
  if (fov && !(numbers[0] >= 1 && numbers[0] <= 179)) {
    usage = "--fov takes 1 to 179 degrees, not " + Quoted(v);
    return true;
  }
  if (position) std::copy(numbers.begin(), numbers.end(), options.position), options.hasPosition = true;
  if (angles) std::copy(numbers.begin(), numbers.end(), options.angles), options.hasAngles = true;
  if (fov) options.fov = numbers[0], options.hasFov = true;
  return true;
}

namespace {

Outcome DrawMapPicture(CPackObject& map, const std::string& out, int width, int height,
                       const std::function<bool(const std::string&, std::vector<std::uint8_t>&)>& textures,
                       const MapPictureOptions& options) {
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
  // The coloured light of a .lit beside the map, when there is one that fits and the map's BSPX
  // table has none, as the window does.
  if (ExpectedLitSize(bsp.header) > 0 && path.size() > 4 && beside(path.substr(0, path.size() - 4) + ".lit", lit))
    ApplyLit(bsp, lit, nullptr);
  std::vector<std::uint8_t> rgb;
  MapRenderWork work;
  {
    MapLook look;
    look.engine = !options.plain;
    look.worldOnly = options.worldOnly;
    const MapScene scene = BuildMapScene(bsp, textures ? textures : beside, look);
    MapCamera camera = MapStartCamera(bsp);
    if (options.hasPosition) std::copy(options.position, options.position + 3, camera.position);
    if (options.hasAngles)
      camera.pitch = options.angles[0], camera.yaw = options.angles[1], camera.roll = options.angles[2];
    camera.fieldOfView = MapVerticalFov(options.fov, width, height);
    if (!RenderMap(scene, camera, width, height, rgb, &work)) return {2, "the picture's size is out of range"};
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
                        const std::function<bool(const std::string&, std::vector<std::uint8_t>&)>& textures,
                        const MapPictureOptions& options) {
  try {
    return DrawMapPicture(map, out, width, height, textures, options);
  } catch (const std::bad_alloc&) {
    return Failed(Quoted(map.PathInArchive()) + " cannot be drawn: there is not enough memory; nothing written");
  }
}

namespace {

bool ReadInputFile(const std::string& file, std::vector<std::uint8_t>& bytes) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

Outcome WriteOutputFile(const std::string& file, std::span<const std::uint8_t> bytes) {
  CSafeSave out;
  if (out.Begin(file, {}) && out.Write(bytes.data(), bytes.size()) && out.Commit()) return {};
  const SaveFailure& f = out.Failure();
  return Failed(f.stage == SaveStage::Refused ? f.reason : "Unable to write " + Quoted(file) + ": " + f.reason);
}

// The map's bytes replaced in the document; the caller saves.
void PutMapBytes(CPackObject& map, std::vector<std::uint8_t> bytes) {
  map.SetSize(static_cast<std::int64_t>(bytes.size()));
  map.SetData(std::move(bytes));
}

}  // namespace

Outcome ParseBspx(const std::vector<std::string>& args, MapEdit& edit) {
  std::vector<std::string> a;
  std::string op, name, file;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& v = args[i];
    if (v == "--") {  // what follows is a name, whatever it begins with
      a.insert(a.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
      break;
    }
    if (v != "--list" && v != "--extract" && v != "--insert" && v != "--remove") {
      a.push_back(v);
      continue;
    }
    if (!op.empty()) return {2, "bspx does one of --list, --extract, --insert and --remove at a time"};
    op = v;
    const std::size_t want = v == "--list" ? 0 : v == "--remove" ? 1 : 2;
    if (args.size() - i - 1 < want)
      return {2, v + (want == 1 ? " needs a lump's NAME" : " needs a lump's NAME and a FILE")};
    if (want >= 1) name = args[++i];
    if (want == 2) file = args[++i];
  }
  if (a.size() != 2 || op.empty())
    return {2, "bspx takes ARCHIVE, MAP and one of --list, --extract NAME FILE, --insert NAME FILE, --remove NAME"};
  edit.archive = a[0];
  edit.map = a[1];
  edit.changes = op == "--insert" || op == "--remove";
  edit.run = [op, name, file](CPackObject& map, std::ostream& out, std::ostream& warnings,
                              std::string& notice) -> Outcome {
    const std::string path = map.PathInArchive();
    std::vector<std::uint8_t> bytes;
    {
      CEntryBytes data(map);
      if (!data.Ok()) return Failed("the data of " + Quoted(path) + " cannot be read");
      bytes.assign(data.Bytes().begin(), data.Bytes().end());
    }
    BspHeader header;
    std::string why;
    if (!ReadBspHeader(bytes, header, &why)) return Failed(Quoted(path) + " cannot be read as a map: " + why);
    const BspxTable table = ReadBspxTable(bytes, header);
    if (op == "--list") {
      for (const std::string& p : table.problems) warnings << "tarn-pak: " << Quoted(path) << ": " << p << "\n";
      for (const BspxLump& l : table.lumps) out << Escaped(l.name) << "\t" << l.length << "\n";
      if (!out) return Failed("cannot write standard output");
      return {};
    }
    if (op == "--extract") {
      const BspxLump* l = table.Find(name);
      if (!l) return Failed(Quoted(path) + " has no BSPX lump " + Quoted(name));
      if (const Outcome o =
              WriteOutputFile(file, std::span<const std::uint8_t>(bytes).subspan(static_cast<std::size_t>(l->offset),
                                                                                 static_cast<std::size_t>(l->length)));
          o.code)
        return o;
      notice = "wrote BSPX lump " + Quoted(name) + " of " + Quoted(path) + " to " + Quoted(file);
      return {};
    }
    std::vector<std::uint8_t> lump, result;
    if (op == "--insert" && !ReadInputFile(file, lump)) return Failed("cannot read " + Quoted(file));
    if (!EditBspxLump(bytes, name, op == "--insert" ? &lump : nullptr, result, &why))
      return Failed(Quoted(path) + ": " + why + "; nothing changed");
    PutMapBytes(map, std::move(result));
    notice = (op == "--insert" ? "put BSPX lump " : "removed BSPX lump ") + Quoted(name) +
             (op == "--insert" ? " into " : " from ") + Quoted(path);
    return {};
  };
  return {};
}

Outcome ParseMapTex(const std::vector<std::string>& args, MapEdit& edit) {
  std::vector<std::string> a;
  std::string op, from;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& v = args[i];
    if (v == "--") {  // what follows is a name, whatever it begins with
      a.insert(a.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
      break;
    }
    if (v != "--replace" && v != "--embed" && v != "--unembed") {
      a.push_back(v);
      continue;
    }
    if (!op.empty()) return {2, "maptex does one of --replace, --embed and --unembed at a time"};
    op = v;
    if (v == "--replace") {
      if (++i == args.size()) return {2, "--replace needs a WAD or a folder of pictures"};
      from = args[i];
    }
  }
  if (a.size() != 2 || op.empty())
    return {2, "maptex takes ARCHIVE, MAP and one of --replace FROM.wad|FOLDER, --embed, --unembed"};
  edit.archive = a[0];
  edit.map = a[1];
  edit.changes = true;
  edit.run = [op, from](CPackObject& map, std::ostream& out, std::ostream& warnings, std::string& notice) -> Outcome {
    const std::string path = map.PathInArchive();
    std::vector<std::uint8_t> bytes;
    {
      CEntryBytes data(map);
      if (!data.Ok()) return Failed("the data of " + Quoted(path) + " cannot be read");
      bytes.assign(data.Bytes().begin(), data.Bytes().end());
    }
    MapTextureFinder finder;
    std::vector<std::string> refused;
    std::string why;
    if (op == "--replace") {
      std::error_code ec;
      if (std::filesystem::is_directory(from, ec)) {
        finder = FolderTextureFinder(from, &refused);
      } else {
        std::vector<std::uint8_t> wad;
        if (!ReadInputFile(from, wad)) return Failed("cannot read " + Quoted(from));
        if (!WadTextureFinder(std::move(wad), finder, &why)) return Failed(Quoted(from) + ": " + why);
      }
    } else {
      BspMap bsp;
      if (!LoadBsp(bytes, bsp, &why)) return Failed(Quoted(path) + " cannot be read as a map: " + why);
      finder = MapWadTextures(bsp, ArchiveLookup(map));
    }
    MapTextureReport report;
    std::vector<std::uint8_t> result;
    const bool done = op == "--replace" ? ReplaceMapTextures(bytes, finder, result, report, &why)
                                        : EmbedMapTextures(bytes, op == "--embed", finder, result, report, &why);
    if (!done) return Failed(Quoted(path) + ": " + why + "; nothing changed");
    report.refused.insert(report.refused.begin(), refused.begin(), refused.end());
    for (const std::string& r : report.refused)
      warnings << "tarn-pak: " << Quoted(path) << ": not taken: " << Escaped(r) << "\n";
    for (const std::string& n : report.notes) warnings << "tarn-pak: " << Quoted(path) << ": " << Escaped(n) << "\n";
    if (op != "--replace")
      for (const std::string& n : report.notFound)
        warnings << "tarn-pak: " << Quoted(path) << ": " << Quoted(n) << " is in none of the map's WADs"
                 << (op == "--unembed" ? "; it stays in the map" : "") << "\n";
    const char* verb = op == "--replace" ? "replaced" : op == "--embed" ? "embedded" : "left to the WADs";
    out << report.replaced.size() << " textures " << verb;
    if (!report.same.empty()) out << ", " << report.same.size() << " the same";
    if (op == "--replace" && !report.notFound.empty())
      out << ", " << report.notFound.size() << " not in " << Quoted(from);
    out << "\n";
    if (report.replaced.empty()) return {};
    PutMapBytes(map, std::move(result));
    notice = "rewrote the textures of " + Quoted(path);
    return {};
  };
  return {};
}

}  // namespace tarn::cli
