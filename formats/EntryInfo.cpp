#include "formats/EntryInfo.h"

#include "archive/EntryTypes.h"
#include "archive/PackObject.h"
#include "fileio/Strings.h"
#include "maps/MapInfo.h"
#include "models/StudioModel.h"
#include "pictures/EntryPictures.h"
#include "sounds/SoundInfo.h"

namespace tarn {

InfoLines DescribePictures(const PictureSet& pictures) {
  InfoLines lines = {{"kind", "picture"}, {"frames", std::to_string(pictures.pictures.size())}};
  for (const Picture& p : pictures.pictures)
    lines.emplace_back("frame",
                       std::to_string(p.width) + "x" + std::to_string(p.height) + (p.IsTrueColor() ? " (24-bit)" : ""));
  return lines;
}

InfoLines DescribeModel(const ModelData& model) {
  InfoLines lines = {{"kind", "model"},
                     {"format", !model.readAs.empty()             ? model.readAs
                                : model.format == ModelData::kMd2 ? "md2"
                                                                  : "mdl"},
                     {"skins", std::to_string(model.RealSkinCount())},
                     {"triangles", std::to_string(model.triangles.size())},
                     {"vertices", std::to_string(std::max(model.vertexCount, 0))},
                     {"frames", std::to_string(model.FrameCount())}};
  for (const auto& [name, value] : model.readFacts) lines.emplace_back(name, value);
  for (const auto& anim : model.animations)
    lines.emplace_back("animation", Escaped(anim.name) + " " + std::to_string(anim.frames.size()));
  for (const std::string& path : model.missingSkins) lines.emplace_back("missing skin", Escaped(path));
  for (const std::string& path : model.unreadableSkins) lines.emplace_back("unreadable skin", Escaped(path));
  return lines;
}

namespace {

// A Half-Life model's own counts, read again from its bytes (its structure only, no frame
// posed) with its textures and sequence groups found beside it: the model read for showing
// keeps only what Quake's models have.
void AddStudioCounts(CPackObject& entry, InfoLines& lines) {
  CEntryBytes data(entry);
  if (!data.Ok()) return;
  const std::string path = entry.PathInArchive();
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  const CPackObject* root = entry.Root();
  const StudioFiles files = [&](const std::string& name, std::vector<std::uint8_t>& out) {
    const CPackObject* e = root->FindByPath(folder + name);
    if (!e) e = root->FindByPath(ToLower(folder + name));
    return e && !e->IsDirectory() && e->CopyBytes(out, nullptr);
  };
  StudioReadOptions options;
  const std::string& name = entry.Name();
  options.stem = name.size() > 4 ? name.substr(0, name.size() - 4) : name;
  options.frames = false;
  StudioModel model;
  if (!ReadStudioModel(data.Bytes(), options, files, model, nullptr)) return;
  const StudioCounts& c = model.counts;
  const InfoLines counts = {{"bones", std::to_string(c.bones)},
                            {"body parts", std::to_string(c.bodyParts)},
                            {"meshes", std::to_string(c.meshes)},
                            {"textures", std::to_string(c.textures)},
                            {"skin families", std::to_string(c.skinFamilies)},
                            {"sequences", std::to_string(c.sequences)},
                            {"sequence groups", std::to_string(c.sequenceGroups)}};
  // After the model's own counts, before its animations.
  auto at = lines.begin();
  while (at != lines.end() && at->first != "animation") ++at;
  lines.insert(at, counts.begin(), counts.end());
}

}  // namespace

InfoLines DescribeMap(const MapFacts& f) {
  InfoLines lines = {
      {"kind", "map"},
      {"format", std::string(BspFormatName(f.header.format)) + " (" + BspGameName(f.header.format) + ")"},
      {"version", MapVersion(f.header)}};
  for (std::size_t i = 0; i < f.header.lumps.size(); ++i)
    lines.emplace_back(std::string("lump ") + BspLumpName(f.header.format, i),
                       std::to_string(f.header.lumps[i].length) + " bytes");
  lines.emplace_back("faces", std::to_string(f.faces));
  lines.emplace_back("texinfo", std::to_string(f.texinfo));
  lines.emplace_back("textures",
                     std::to_string(f.textures) +
                         (BspIsQuake2(f.header.format) ? " named" : ", " + std::to_string(f.embedded) + " embedded"));
  lines.emplace_back("models", std::to_string(f.models));
  lines.emplace_back("entities", f.entityError.empty() ? std::to_string(f.entities) : f.entityError);
  lines.emplace_back("lightmap", f.lighting > 0
                                     ? "yes, " + std::to_string(f.lighting) + " bytes" +
                                           (f.colouredLight ? " of coloured light" : "") +
                                           (f.lightSource.rfind("BSPX", 0) == 0 ? " (" + f.lightSource + ")" : "")
                                     : "no");
  if (!f.bspxLighting.empty()) {
    std::string used;
    for (const std::string& n : f.bspxLighting) used += (used.empty() ? "" : ", ") + n;
    lines.emplace_back("lightmap layout", "per face, from BSPX " + used);
  }
  for (const BspxLump& l : f.bspx) lines.emplace_back("bspx " + Escaped(l.name), std::to_string(l.length) + " bytes");
  switch (f.lit) {
    case MapFacts::Lit::None: lines.emplace_back("lit", "none"); break;
    case MapFacts::Lit::Matching: lines.emplace_back("lit", "present, matching"); break;
    case MapFacts::Lit::Wrong: lines.emplace_back("lit", "present, not matching: " + f.litNote); break;
    case MapFacts::Lit::NotTaken: lines.emplace_back("lit", "present, not used: " + f.litNote); break;
  }
  if (f.unnamedMissing) lines.emplace_back("missing textures", std::to_string(f.unnamedMissing) + " without a name");
  for (const std::string& name : f.missingTextures) lines.emplace_back("missing texture", Escaped(name));
  for (const std::string& p : f.problems) lines.emplace_back("problem", p);
  return lines;
}

InfoLines DescribeSound(const SoundInfo& sound) {
  InfoLines lines = {{"kind", "sound"},
                     {"format", sound.format},
                     {"channels", std::to_string(sound.channels)},
                     {"rate", std::to_string(sound.rate)}};
  if (sound.container == SoundContainer::Wave) lines.emplace_back("bits", std::to_string(sound.bits));
  lines.emplace_back("samples", sound.frames ? std::to_string(sound.frames) : "not known");
  if (sound.loopStart) {
    lines.emplace_back("loop start", std::to_string(*sound.loopStart));
    // A sampler's loop end is its last sample; the engines' is the sample after it.
    lines.emplace_back("loop end", sound.loopEnd
                                       ? std::to_string(sound.loopFromCue ? *sound.loopEnd : *sound.loopEnd + 1)
                                       : std::to_string(sound.frames));
  } else if (sound.container == SoundContainer::Wave) {
    lines.emplace_back("loop", "none");
  }
  return lines;
}

bool DescribeEntry(CPackObject& entry, InfoLines& lines, std::string* error) {
  if (entry.IsDirectory()) {
    lines = {{"kind", "directory"},
             {"entries", std::to_string(entry.ChildCount())},
             {"files", std::to_string(entry.CountFiles())}};
    return true;
  }
  if (IsModelType(TypeOf(entry.Name(), false))) {
    ModelData model;
    CArchiveModelHost host(entry);
    std::string why;
    if (!LoadModel(entry, model, host, &why)) {
      if (error) *error = Quoted(entry.PathInArchive()) + " cannot be read as a model: " + why;
      return false;
    }
    lines = DescribeModel(model);
    if (model.readAs == "hlmdl") AddStudioCounts(entry, lines);
    return true;
  }
  if (TypeOf(entry.Name(), false) == EntryType::Map) {
    MapFacts facts;
    if (!ReadMapFacts(entry, facts, error)) return false;
    lines = DescribeMap(facts);
    return true;
  }
  if (PictureKindOf(entry.Name()) != PictureKind::None) {
    EntryPictures pictures = LoadEntryPictures(entry);
    if (!pictures.ok()) {
      if (error) *error = pictures.message;
      return false;
    }
    lines = DescribePictures(pictures.set);
    return true;
  }
  if (TypeOf(entry.Name(), false) == EntryType::Sound) {
    std::vector<std::uint8_t> bytes;
    SoundInfo sound;
    std::string why;
    // The headers are at the start; a wave's loop chunks usually follow its data, so a wave is
    // read whole.
    if (!entry.CopyBytes(bytes, &why) || !ReadSoundInfo(bytes, sound, &why)) {
      if (error) *error = Quoted(entry.PathInArchive()) + " cannot be read as a sound: " + why;
      return false;
    }
    lines = DescribeSound(sound);
    return true;
  }
  lines = {{"kind", "file"}, {"size", std::to_string(entry.Size())}};
  return true;
}

}  // namespace tarn
