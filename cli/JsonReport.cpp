#include "cli/JsonReport.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <ostream>

#include "archive/ContainerFormat.h"
#include "archive/PackObject.h"
#include "containers/WadFormat.h"
#include "fileio/Strings.h"
#include "game/ArchiveDiff.h"
#include "game/EngineProfile.h"
#include "game/GameFolder.h"
#include "maps/MapInfo.h"
#include "models/Model.h"
#include "pictures/Pictures.h"
#include "sounds/SoundInfo.h"

namespace tarn::cli {

namespace fs = std::filesystem;

namespace {

// Keys stay in the order they are written, which is the order the manual describes.
using Json = nlohmann::ordered_json;

void Print(std::ostream& out, const Json& doc) {
  // A name is bytes, not text: what is not UTF-8 is replaced rather than failing the document.
  out << doc.dump(2, ' ', false, Json::error_handler_t::replace) << '\n';
}

Json Document(const char* command) { return Json{{"command", command}}; }

const char* FormatWord(ContainerFormat f) {
  switch (f) {
    case ContainerFormat::Zip: return "zip";
    case ContainerFormat::Wad2: return "wad2";
    case ContainerFormat::Wad3: return "wad3";
    case ContainerFormat::Pak: break;
  }
  return "pak";
}

// What a container records of a file beyond its path and size: a zip how it stores the bytes,
// a WAD the lump's name and type byte. Files added since the archive was read have no record.
void AddStorage(Json& file, const CPackObject& entry, ContainerFormat format) {
  if (format == ContainerFormat::Zip && entry.HasLocation()) {
    const EntryLocation at = entry.Location();
    file["compressed_size"] = at.storedSize;
    file["method"] = at.method;
    if (at.crcKnown) {
      char crc[9];
      std::snprintf(crc, sizeof crc, "%08x", static_cast<unsigned>(at.crc));
      file["crc32"] = crc;
    }
  } else if (IsWad(format)) {
    if (const auto lump = WadLumpOf(entry.Name(), format)) {
      file["lump"] = lump->name;
      file["type"] = lump->type;
    }
  }
}

}  // namespace

std::string CheckRecordLine(const CheckRecord& r) {
  std::string line;
  if (!r.file.empty()) line = Quoted(r.file) + (r.entry.empty() ? "" : " " + Quoted(r.entry)) + ": ";
  line += r.message;
  if (!r.rule.empty()) line += " [" + r.engine + ": " + r.rule + "]";
  return line;
}

void JsonList(std::ostream& out, const std::string& archive, const CPackObject& root) {
  Json doc = Document("list");
  doc["archive"] = archive;
  doc["format"] = FormatWord(root.Format());
  Json& files = doc["files"] = Json::array();
  ForEachFileInSaveOrder(root, [&](const std::string& path, const CPackObject& f) {
    Json& file = files.emplace_back(Json{{"path", path}, {"size", f.Size()}});
    AddStorage(file, f, root.Format());
  });
  Print(out, doc);
}

void JsonListGame(std::ostream& out, const EngineProfile& profile, const CGameView& view, bool all) {
  Json doc = Document("list");
  doc["engine"] = profile.name;
  Json& files = doc["files"] = Json::array();
  for (const GameFile& f : view.Files()) {
    for (std::size_t i = 0; i < (all ? f.copies.size() : 1); ++i)
      files.push_back({{"path", f.path},
                       {"size", view.Entry(f.copies[i]).size},
                       {"source", view.Location(f.copies[i]).string()},
                       {"shadowed", i > 0}});
  }
  Print(out, doc);
}

namespace {

Json InfoDocument(const std::string& archive, const CPackObject& entry, const char* kind) {
  Json doc = Document("info");
  doc["archive"] = archive;
  doc["path"] = entry.PathInArchive();
  doc["kind"] = kind;
  return doc;
}

}  // namespace

void JsonInfoEntry(std::ostream& out, const std::string& archive, const CPackObject& entry) {
  Json doc = InfoDocument(archive, entry, entry.IsDirectory() ? "directory" : "file");
  if (entry.IsDirectory()) {
    doc["entries"] = entry.ChildCount();
    doc["files"] = entry.CountFiles();
  } else {
    doc["size"] = entry.Size();
    AddStorage(doc, entry, entry.Root()->Format());
  }
  Print(out, doc);
}

void JsonInfoSound(std::ostream& out, const std::string& archive, const CPackObject& entry, const SoundInfo& sound) {
  Json doc = InfoDocument(archive, entry, "sound");
  doc["format"] = sound.format;
  doc["channels"] = sound.channels;
  doc["rate"] = sound.rate;
  if (sound.container == SoundContainer::Wave) doc["bits"] = sound.bits;
  doc["samples"] = sound.frames;
  if (sound.loopStart)
    doc["loop"] = {{"start", *sound.loopStart},
                   {"end", sound.loopEnd ? (sound.loopFromCue ? *sound.loopEnd : *sound.loopEnd + 1) : sound.frames}};
  else doc["loop"] = nullptr;
  Print(out, doc);
}

void JsonInfoModel(std::ostream& out, const std::string& archive, const CPackObject& entry, const ModelData& model) {
  Json doc = InfoDocument(archive, entry, "model");
  doc["format"] = model.format == ModelData::kMd2 ? "md2" : "mdl";
  doc["skins"] = model.RealSkinCount();
  doc["triangles"] = model.triangles.size();
  doc["vertices"] = std::max(model.vertexCount, 0);
  doc["frames"] = model.FrameCount();
  Json& animations = doc["animations"] = Json::array();
  for (const auto& anim : model.animations) animations.push_back({{"name", anim.name}, {"frames", anim.frames.size()}});
  if (model.format == ModelData::kMd2) {
    doc["missing_skins"] = model.missingSkins;
    doc["unreadable_skins"] = model.unreadableSkins;
  }
  Print(out, doc);
}

void JsonInfoPictures(std::ostream& out, const std::string& archive, const CPackObject& entry, const PictureSet& set) {
  Json doc = InfoDocument(archive, entry, "picture");
  Json& frames = doc["frames"] = Json::array();
  for (const Picture& p : set.pictures)
    frames.push_back({{"width", p.width}, {"height", p.height}, {"truecolor", p.IsTrueColor()}});
  Print(out, doc);
}

void JsonInfoMap(std::ostream& out, const std::string& archive, const CPackObject& entry, const MapFacts& map) {
  Json doc = InfoDocument(archive, entry, "map");
  doc["format"] = BspFormatName(map.header.format);
  doc["version"] = MapVersion(map.header);
  Json& lumps = doc["lumps"] = Json::array();
  for (std::size_t i = 0; i < map.header.lumps.size(); ++i)
    lumps.push_back({{"name", BspLumpName(map.header.format, i)},
                     {"offset", map.header.lumps[i].offset},
                     {"size", map.header.lumps[i].length}});
  doc["faces"] = map.faces;
  doc["texinfo"] = map.texinfo;
  doc["textures"] = map.textures;
  doc["embedded_textures"] = map.embedded;
  doc["models"] = map.models;
  doc["entities"] = map.entities;
  if (!map.entityError.empty()) doc["entity_error"] = map.entityError;
  doc["lighting"] = map.lighting;
  doc["light_source"] = map.lightSource;
  Json& bspx = doc["bspx"] = Json::array();
  for (const BspxLump& l : map.bspx) bspx.push_back({{"name", l.name}, {"offset", l.offset}, {"size", l.length}});
  doc["bspx_lighting"] = map.bspxLighting;
  const char* lit[] = {"none", "matching", "not matching", "not used"};
  doc["lit"] = lit[static_cast<int>(map.lit)];
  if (!map.litNote.empty()) doc["lit_note"] = map.litNote;
  doc["missing_textures"] = map.missingTextures;
  doc["unnamed_missing_textures"] = map.unnamedMissing;
  doc["problems"] = map.problems;
  Print(out, doc);
}

void JsonCheck(std::ostream& out, const std::string& archive, int files, const std::vector<std::string>& problems) {
  Json doc = Document("check");
  doc["archive"] = archive;
  doc["files"] = files;
  doc["problems"] = problems;
  Print(out, doc);
}

void JsonCheckEngine(std::ostream& out, const EngineProfile& profile, std::size_t files,
                     const std::vector<CheckRecord>& problems) {
  Json doc = Document("check");
  doc["engine"] = profile.name;
  doc["files"] = files;
  Json& list = doc["problems"] = Json::array();
  for (const CheckRecord& r : problems) {
    Json p = Json::object();
    // Only the facts a record has: a folder that could not be read names no file, and a fault
    // of an archive's own structure follows no engine's rule.
    for (const auto& [key, value] : {std::pair{"file", &r.file},
                                     {"entry", &r.entry},
                                     {"message", &r.message},
                                     {"engine", &r.engine},
                                     {"rule", &r.rule}})
      if (!value->empty()) p[key] = *value;
    list.push_back(std::move(p));
  }
  Print(out, doc);
}

void JsonWhich(std::ostream& out, const EngineProfile& profile, const CGameView& view, const std::string& path,
               const std::vector<GameCopy>& copies) {
  Json doc = Document("which");
  doc["engine"] = profile.name;
  doc["path"] = path;
  doc["source"] = view.Location(copies.front()).string();
  doc["entry"] = view.Entry(copies.front()).path;
  Json& shadowed = doc["shadowed"] = Json::array();
  for (std::size_t i = 1; i < copies.size(); ++i) shadowed.push_back(view.Location(copies[i]).string());
  Print(out, doc);
}

void JsonDiff(std::ostream& out, const std::string& a, const std::string& b, const DiffResult& result) {
  Json doc = Document("diff");
  doc["a"] = a;
  doc["b"] = b;
  doc["complete"] = result.errors.empty();
  Json& changes = doc["changes"] = Json::array();
  for (const DiffLine& l : result.lines)
    changes.push_back({{"change", l.mark == '+' ? "added" : l.mark == '-' ? "removed" : "modified"}, {"path", l.path}});
  Print(out, doc);
}

void JsonFind(std::ostream& out, const std::string& pattern,
              const std::vector<std::pair<fs::path, std::string>>& matches) {
  Json doc = Document("find");
  doc["pattern"] = pattern;
  Json& list = doc["matches"] = Json::array();
  for (const auto& [source, path] : matches) list.push_back({{"source", source.string()}, {"path", path}});
  Print(out, doc);
}

}  // namespace tarn::cli
