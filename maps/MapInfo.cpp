#include "maps/MapInfo.h"

#include <new>

#include "archive/PackObject.h"
#include "fileio/Strings.h"
#include "maps/MapEntities.h"
#include "pictures/EntryPictures.h"

namespace tarn {

namespace {

std::string Stem(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

}  // namespace

std::string MapVersion(const BspHeader& header) {
  // The extended formats are told by their magic, which stands where the others' number is.
  const bool magic = header.format == BspFormat::Bsp2 || header.format == BspFormat::Bsp2Old;
  return magic ? BspFormatName(header.format) : std::to_string(header.version);
}

namespace {

bool ReadFacts(std::span<const std::uint8_t> bytes, const std::vector<std::uint8_t>* lit, MapFacts& facts,
               std::string* error, const MapFileLookup* textures) {
  facts = MapFacts{};
  BspMap map;
  if (!LoadBsp(bytes, map, error)) return false;
  facts.header = map.header;
  facts.faces = map.faces.size();
  facts.texinfo = map.texinfoCount;
  facts.models = map.models.size();
  facts.vertices = map.vertices.size();
  facts.textures = map.textures.size();
  facts.lightSource = map.lightSource;
  facts.colouredLight = map.lightBytes == 3;
  facts.lighting = static_cast<std::int64_t>(map.lighting.size());
  for (const BspxLump& l : map.bspx)
    if (map.lightSource == "BSPX " + l.name) facts.lighting = l.length;
  facts.bspx = map.bspx;
  facts.bspxLighting = map.bspxLighting;
  facts.problems = map.problems;
  for (const BspTexture& t : map.textures) {
    if (t.embedded) ++facts.embedded;
    else if (t.name.empty()) ++facts.unnamedMissing;
    else if (BspIsQuake2(map.header.format)) facts.external.push_back(t.name);
    else if (!textures) facts.missingTextures.push_back(t.name);
  }
  if (textures) facts.missingTextures = MissingMapTextures(map, *textures);
  std::vector<MapEntity> entities;
  if (!ParseEntities(map.entities, entities, &facts.entityError))
    facts.entityError = "unreadable, " + facts.entityError;
  facts.entities = entities.size();
  if (lit) {
    std::string why;
    if (ExpectedLitSize(map.header) == 0) {
      facts.lit = MapFacts::Lit::NotTaken;
      facts.litNote = map.lighting.empty() ? "the map has no lighting" : "the map's light is coloured already";
    } else if (ApplyLit(map, *lit, &why)) facts.lit = MapFacts::Lit::Matching;
    else facts.lit = MapFacts::Lit::Wrong, facts.litNote = why;
  }
  return true;
}

}  // namespace

bool ReadMapFacts(std::span<const std::uint8_t> bytes, const std::vector<std::uint8_t>* lit, MapFacts& facts,
                  std::string* error, const MapFileLookup* textures) {
  try {
    return ReadFacts(bytes, lit, facts, error, textures);
  } catch (const std::bad_alloc&) {
    facts = MapFacts{};
    if (error) *error = "there is not enough memory to read it";
    return false;
  }
}

bool ReadMapFacts(CPackObject& entry, MapFacts& facts, std::string* error, const MapFileLookup* textures) {
  std::vector<std::uint8_t> litBytes;
  bool haveLit = false;
  if (CPackObject* parent = entry.Parent()) {
    if (CPackObject* lit = parent->FindChild(Stem(entry.Name()) + ".lit"); lit && !lit->IsDirectory()) {
      CEntryBytes data(*lit);
      if (data.Ok()) {
        litBytes.assign(data.Bytes().begin(), data.Bytes().end());
        haveLit = true;
      }
    }
  }
  CEntryBytes data(entry);
  if (!data.Ok()) {
    if (error) *error = "the data of " + Quoted(entry.PathInArchive()) + " cannot be read";
    return false;
  }
  std::string why;
  const MapFileLookup beside = textures ? MapFileLookup() : ArchiveLookup(entry);
  if (!ReadMapFacts(data.Bytes(), haveLit ? &litBytes : nullptr, facts, &why, textures ? textures : &beside)) {
    if (error) *error = Quoted(entry.PathInArchive()) + " cannot be read as a map: " + why;
    return false;
  }
  return true;
}

}  // namespace tarn
