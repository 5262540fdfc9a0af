#include "cli/EntryCommands.h"

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <set>

#include "TarnVersion.h"
#include "archive/EntryNames.h"
#include "archive/EntryTypes.h"
#include "archive/PackObject.h"
#include "cli/EncodeCommands.h"
#include "cli/GameCommands.h"
#include "cli/JsonReport.h"
#include "cli/MapCommands.h"
#include "cli/ModelCommands.h"
#include "cli/PaletteCommands.h"
#include "cli/PngWriter.h"
#include "cli/SoundCommands.h"
#include "cli/StdStreams.h"
#include "cli/TerminalProgress.h"
#include "cli/TextureCommands.h"
#include "cli/Voice.h"
#include "document/TarnDoc.h"
#include "fileio/Strings.h"
#include "fileio/TempFile.h"
#include "fileio/Words.h"
#include "formats/EntryInfo.h"
#include "maps/MapInfo.h"
#include "maps/MapRender.h"
#include "maps/MapTextures.h"
#include "models/Model.h"
#include "pictures/EntryPictures.h"
#include "sounds/SoundInfo.h"

#include "cli/CommandSupport.h"

namespace tarn::cli {

namespace fs = std::filesystem;

namespace {

bool IsAnyModelName(const std::string& name) { return IsGameModelType(FileTypeOf(name)); }

bool IsModelName(const std::string& name) { return FileTypeOf(name) == EntryType::QuakeModel; }

// The pictures of an entry; a model gives its skin.
EntryPictures PicturesOf(CPackObject& e) { return LoadEntryPictures(e, IsModelName(e.Name())); }

// info's document: what the text gives, read again for the JSON shapes of each kind.
int JsonInfo(const Context& ctx, const std::vector<std::string>& a, CPackObject* e,
             const MapFileLookup* textures = nullptr) {
  if (e->IsDirectory()) return JsonInfoEntry(ctx.out, a[0], *e), 0;
  if (IsAnyModelName(e->Name())) {
    ModelData model;
    CArchiveModelHost host(*e);
    std::string why;
    if (!LoadModel(*e, model, host, &why)) return ctx.Error(Quoted(a[1]) + " cannot be read as a model: " + why);
    return JsonInfoModel(ctx.out, a[0], *e, model), 0;
  }
  if (IsMapName(e->Name())) {
    MapFacts facts;
    std::string why;
    if (!ReadMapFacts(*e, facts, &why, textures)) return ctx.Error(why);
    return JsonInfoMap(ctx.out, a[0], *e, facts), 0;
  }
  if (TypeOf(e->Name(), false) == EntryType::Sound) {
    std::vector<std::uint8_t> bytes;
    SoundInfo sound;
    std::string why;
    if (!e->CopyBytes(bytes, &why) || !ReadSoundInfo(bytes, sound, &why))
      return ctx.Error(Quoted(a[1]) + " cannot be read as a sound: " + why);
    return JsonInfoSound(ctx.out, a[0], *e, sound), 0;
  }
  if (PictureKindOf(e->Name(), IsModelName(e->Name())) != PictureKind::None) {
    EntryPictures pictures = PicturesOf(*e);
    if (!pictures.ok()) return ctx.Error(pictures.message);
    return JsonInfoPictures(ctx.out, a[0], *e, pictures.set), 0;
  }
  return JsonInfoEntry(ctx.out, a[0], *e), 0;
}

// bspx, maptex and modeledit: MapCommands.cpp and ModelCommands.cpp read the arguments and do the
// work on the entry, a map (or a model, as kind says).
int RunMapEdit(const Context& ctx, const MapEdit& edit, const std::string& command, const char* kind = "map") {
  CTarnDoc doc;
  if (edit.changes ? !OpenToChange(ctx, doc, edit.archive) : !Open(ctx, doc, edit.archive)) return 1;
  CPackObject* e = Find(doc, edit.map);
  if (!e || e->IsDirectory())
    return ctx.Error(std::string("no ") + kind + " " + Quoted(edit.map) + " in " + Quoted(edit.archive));
  std::string notice;
  if (const Outcome o = edit.run(*e, ctx.out, ctx.Warnings(), notice); o.code) return ctx.Report(o);
  if (!notice.empty()) ctx.Notice(notice);
  return edit.changes ? Save(ctx, doc, edit.archive, command) : 0;
}

}  // namespace

int CmdInfo(const Context& ctx, const std::vector<std::string>& args) {
  // ARCHIVE MAP --game FOLDER... [--engine ENGINE]: the map's textures looked for in the game too.
  const auto dashes = std::find(args.begin(), args.end(), "--");
  const auto found = std::find(args.begin(), dashes, "--game");
  const auto game = found == dashes ? args.end() : found;
  if (game == args.end() && HasOption(args, "--engine")) return ctx.Usage("--engine goes with --game");
  const std::vector<std::string> a = Operands(std::vector<std::string>(args.begin(), game));
  if (a.size() != 2)
    return ctx.Usage(game == args.end() ? "info takes ARCHIVE and PATH" : "info takes ARCHIVE and MAP before --game");
  MapFileLookup gameFiles;
  if (game != args.end()) {
    if (!IsMapName(a[1])) return ctx.Usage("--game goes with a map (.bsp), whose missing textures it looks for");
    if (const Outcome o = LoadGameFiles(std::vector<std::string>(game + 1, args.end()), ctx.err, ctx.voice, gameFiles);
        o.code)
      return ctx.Report(o);
  }
  CTarnDoc doc;
  CPackObject* e = OpenEntry(ctx, doc, a[0], a[1]);
  if (!e) return 1;
  // The map's own archive first, then what the engine loads from the folders.
  const MapFileLookup beside = ArchiveLookup(*e);
  const MapFileLookup both = [&](const std::string& path, std::vector<std::uint8_t>& bytes) {
    return beside(path, bytes) || gameFiles(path, bytes);
  };
  const MapFileLookup* textures = gameFiles ? &both : nullptr;
  if (ctx.voice.json) return JsonInfo(ctx, a, e, textures);
  InfoLines lines;
  std::string why;
  if (textures && !e->IsDirectory()) {
    MapFacts facts;
    if (!ReadMapFacts(*e, facts, &why, textures)) return ctx.Error(why);
    lines = DescribeMap(facts);
  } else if (!DescribeEntry(*e, lines, &why)) {
    return ctx.Error(why);
  }
  for (const auto& [key, value] : lines) ctx.out << key << ": " << value << "\n";
  return 0;
}

int CmdConvert(const Context& ctx, const std::vector<std::string>& args) {
  std::vector<std::string> a;
  int frame = -1;
  std::string size, usage;
  MapPictureOptions view;
  bool viewGiven = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (TakeMapPictureOption(args, i, view, usage)) {
      if (!usage.empty()) return ctx.Usage(usage);
      viewGiven = true;
      continue;
    }
    if (args[i] == "--") {
      a.insert(a.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
      break;
    }
    if (args[i] == "--size") {
      if (++i == args.size()) return ctx.Usage("--size needs a map picture's WIDTHxHEIGHT, as 640x400");
      size = args[i];
      continue;
    }
    if (args[i] != "--frame") {
      a.push_back(args[i]);
      continue;
    }
    if (++i == args.size()) return ctx.Usage("--frame needs a frame's number, counted from 0");
    const std::string& v = args[i];
    const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), frame);
    if (ec != std::errc{} || end != v.data() + v.size() || frame < 0)
      return ctx.Usage("--frame takes a frame's number, counted from 0, not " + Quoted(v));
  }
  if (a.size() != 3) return ctx.Usage("convert takes ARCHIVE, PATH and OUT.png, OUT.gltf, OUT.glb or OUT.obj");
  const bool exportModel = IsModelExportName(a[2]);
  if (frame >= 0 && !exportModel) return ctx.Usage("--frame goes with a model's OUT.gltf, OUT.glb or OUT.obj");
  int width = 640, height = 400;
  if ((!size.empty() || viewGiven) && exportModel) return ctx.Usage("--size goes with a map and OUT.png");
  if (!size.empty() && !ParseMapPictureSize(size, width, height))
    return ctx.Usage("--size takes WIDTHxHEIGHT, each from 1 to " + std::to_string(kMapRenderMaxSide) + ", not " +
                     Quoted(size));
  CTarnDoc doc;
  CPackObject* e = OpenEntry(ctx, doc, a[0], a[1]);
  if (!e) return 1;
  if (e->IsDirectory()) return ctx.Error(Quoted(a[1]) + " is a directory");
  if (!exportModel && IsMapName(e->Name())) {
    const Outcome o = WriteMapPicture(*e, a[2], width, height, {}, view);
    if (o.code) return ctx.Report(o);
    ctx.Notice("wrote " + Quoted(a[2]));
    return 0;
  }
  if (!size.empty() || viewGiven)
    return ctx.Error(Quoted(a[1]) + " is not a map (.bsp); --size is for a map's picture");
  if (exportModel) {
    // The models of other formats read for showing (MD3, IQM, MD5) export as the games' do.
    if (!IsModelType(FileTypeOf(e->Name())))
      return ctx.Error(Quoted(a[1]) + " is not a model (.mdl, .md2, .md3, .iqm or .md5mesh)");
    return ctx.Report(RunModelExport(*e, a[1], a[2], frame, ctx.voice.Notices(ctx.err), ctx.Warnings()));
  }
  std::string stem = a[2];
  if (stem.size() > 4 && ToLower(stem.substr(stem.size() - 4)) == ".png") stem.resize(stem.size() - 4);
  auto numbered = [&](std::size_t i, std::size_t n) { return n == 1 ? a[2] : stem + "-" + std::to_string(i) + ".png"; };
  if (IsAnyModelName(e->Name())) {
    // Every skin the model loads, at its real size.
    ModelData model;
    CArchiveModelHost host(*e);
    std::string why;
    if (!LoadModel(*e, model, host, &why)) return ctx.Error(Quoted(a[1]) + " cannot be read as a model: " + why);
    // The checkerboard standing in for a missing skin is no skin of the model's.
    if (model.RealSkinCount() == 0) return ctx.Error(Quoted(a[1]) + " has no skin");
    for (std::size_t i = 0; i < model.skins.size(); ++i) {
      const ModelSkin& s = model.skins[i];
      if (!WritePngRgb(numbered(i, model.skins.size()), s.width, s.height, s.paddedWidth * 3, s.pixels.data(), &why))
        return ctx.Error(why);
      ctx.Notice("wrote " + Quoted(numbered(i, model.skins.size())));
    }
    return 0;
  }
  EntryPictures pictures = PicturesOf(*e);
  if (!pictures.ok())
    return ctx.Error(pictures.message.empty() ? Quoted(a[1]) + " holds no picture" : pictures.message);
  const auto& set = pictures.set;
  for (std::size_t i = 0; i < set.pictures.size(); ++i) {
    const std::string out = numbered(i, set.pictures.size());
    std::string why;
    if (!WritePng(out, set.pictures[i], set.PaletteFor(i), &why)) return ctx.Error(why);
    ctx.Notice("wrote " + Quoted(out));
  }
  return 0;
}

int CmdWad(const Context& ctx, const std::vector<std::string>& args) {
  const std::vector<std::string> a = Operands(args);
  if (a.size() < 3) return ctx.Usage("wad takes ARCHIVE, OUT.wad and at least one MAP");
  CTarnDoc doc;
  if (!Open(ctx, doc, a[0])) return 1;
  std::vector<WadLump> lumps;
  int skipped = 0;
  std::optional<MapTextures::Kind> kind;  // Half-Life's textures go into a WAD3, Quake's a WAD2
  for (std::size_t i = 2; i < a.size(); ++i) {
    CPackObject* e = Find(doc, a[i]);
    if (!e || e->IsDirectory()) return ctx.Error("no map " + Quoted(a[i]) + " in " + Quoted(a[0]));
    CEntryBytes data(*e);
    if (!data.Ok()) return ctx.Error("the data of " + Quoted(a[i]) + " cannot be read");
    MapTextures map = ReadMapTextures(data.Bytes());
    for (const auto& p : map.problems) ctx.Warnings() << "tarn-pak: " << Quoted(a[i]) << ": " << p << "\n";
    skipped += map.skipped;
    if (!map.textures.empty() && kind && *kind != map.kind)
      return ctx.Error("Quake's and Half-Life's textures cannot share a WAD; " + Quoted(a[1]) + " not written");
    if (!map.textures.empty()) kind = map.kind;
    AddMapTextures(map, lumps);
  }
  // A WAD without textures is of no use to anyone: say so rather than write one.
  if (lumps.empty()) return ctx.Error("no texture extracted, " + Quoted(a[1]) + " not written");
  std::string why;
  const ContainerFormat version = kind == MapTextures::Kind::HalfLife ? ContainerFormat::Wad3 : ContainerFormat::Wad2;
  if (!WriteWadFile(a[1], version, lumps, &why, ctx.consent)) return ctx.Error(why);
  ctx.Notice("wrote " + Quoted(a[1]));
  ctx.out << lumps.size() << " textures extracted";
  if (skipped) ctx.out << ", " << skipped << " without pixels skipped";
  ctx.out << "\n";
  return 0;
}

int CmdEnts(const Context& ctx, const std::vector<std::string>& args) {
  std::vector<std::string> a;
  std::string set;
  bool exportEnt = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--") {
      a.insert(a.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
      break;
    }
    if (args[i] == "--export") {
      exportEnt = true;
    } else if (args[i] != "--set") {
      a.push_back(args[i]);
    } else if (++i == args.size()) {
      return ctx.Usage("--set needs a FILE");
    } else {
      set = args[i];
    }
  }
  if (a.size() != 2) return ctx.Usage("ents takes ARCHIVE and MAP");
  if (exportEnt && !set.empty()) return ctx.Usage("--set and --export go one at a time");
  CTarnDoc doc;
  if (set.empty() && !exportEnt) {
    CPackObject* e = OpenEntry(ctx, doc, a[0], a[1]);
    if (!e) return 1;
    if (e->IsDirectory()) return ctx.Error(Quoted(a[1]) + " is a directory");
    return ctx.Report(PrintEntities(*e, ctx.out));
  }
  if (!OpenToChange(ctx, doc, a[0])) return 1;
  CPackObject* e = Find(doc, a[1]);
  if (!e || e->IsDirectory()) return ctx.Error("no map " + Quoted(a[1]) + " in " + Quoted(a[0]));
  if (exportEnt) {
    std::string written;
    if (const Outcome o = ExportEntities(*e, &written); o.code != 0) return ctx.Report(o);
    ctx.Notice("wrote the entities of " + Quoted(e->PathInArchive()) + " to " + Quoted(written));
  } else {
    if (const Outcome o = SetEntities(*e, set); o.code != 0) return ctx.Report(o);
    ctx.Notice("replaced the entities of " + Quoted(e->PathInArchive()));
  }
  return Save(ctx, doc, a[0], "ents");
}

int CmdBspx(const Context& ctx, const std::vector<std::string>& a) {
  MapEdit edit;
  if (const Outcome o = ParseBspx(a, edit); o.code) return ctx.Report(o);
  return RunMapEdit(ctx, edit, "bspx");
}
int CmdMapTex(const Context& ctx, const std::vector<std::string>& a) {
  MapEdit edit;
  if (const Outcome o = ParseMapTex(a, edit); o.code) return ctx.Report(o);
  return RunMapEdit(ctx, edit, "maptex");
}

int CmdModelEdit(const Context& ctx, const std::vector<std::string>& a) {
  MapEdit edit;
  if (const Outcome o = ParseModelEdit(a, edit); o.code) return ctx.Report(o);
  return RunMapEdit(ctx, edit, "modeledit", "model");
}

}  // namespace tarn::cli
