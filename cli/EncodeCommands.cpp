#include "cli/EncodeCommands.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <ostream>
#include <random>

#include "archive/ContainerFormat.h"
#include "cli/Commands.h"
#include "cli/StdStreams.h"
#include "fileio/ReadSource.h"
#include "fileio/SafeSave.h"
#include "fileio/Strings.h"
#include "fileio/TempFile.h"
#include "pictures/HalfLife.h"
#include "pictures/ImageEncode.h"
#include "pictures/Sprites.h"

namespace tarn::cli {

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;

Outcome Failed(const std::string& message) { return {1, message}; }
Outcome BadUsage(const std::string& message) { return {2, message}; }

// The options encode and add --as share, and the arguments that are not options.
struct Parsed {
  EncodeOptions options;
  HalfLifeSpriteOptions sprite;  // --sprite-format, --orientation
  std::string paletteFile;
  std::string glowFile;
  bool nameGiven = false;
  std::string as, to;
  std::vector<std::string> positional;
};

// Empty when the arguments are understood; otherwise what is wrong with them.
std::string Parse(const std::vector<std::string>& a, bool forAdd, Parsed& p) {
  for (std::size_t i = 0; i < a.size(); ++i) {
    const std::string& arg = a[i];
    auto value = [&](std::string& into) {
      if (i + 1 == a.size()) return false;
      into = a[++i];
      return true;
    };
    std::string v;
    if (arg == "--") {  // the end of the options: files follow, whatever they look like
      p.positional.insert(p.positional.end(), a.begin() + static_cast<std::ptrdiff_t>(i) + 1, a.end());
      break;
    }
    if (arg == "--palette") {
      if (!value(v)) return "--palette needs quake, quake2, optimal or a palette file";
      if (v == "quake") p.options.paletteChoice = PaletteChoice::Quake;
      else if (v == "quake2") p.options.paletteChoice = PaletteChoice::Quake2;
      else if (v == "optimal") p.options.paletteChoice = PaletteChoice::Optimal;
      else p.options.paletteChoice = PaletteChoice::Given, p.paletteFile = v;
    } else if (arg == "--dither") {
      if (!value(v)) return "--dither needs none, floyd-steinberg or ordered";
      if (v == "none") p.options.dither = Dither::None;
      else if (v == "floyd-steinberg") p.options.dither = Dither::FloydSteinberg;
      else if (v == "ordered") p.options.dither = Dither::Ordered;
      else return "--dither takes none, floyd-steinberg or ordered, not \"" + v + "\"";
    } else if (arg == "--fullbright") {
      if (!value(v)) return "--fullbright needs auto, allow or never";
      if (v == "auto") p.options.fullbright = Fullbright::Auto;
      else if (v == "allow") p.options.fullbright = Fullbright::Allow;
      else if (v == "never") p.options.fullbright = Fullbright::Never;
      else return "--fullbright takes auto, allow or never, not \"" + v + "\"";
    } else if (arg == "--glow") {
      if (!value(p.glowFile)) return "--glow needs a picture";
    } else if (arg == "--name") {
      if (!value(p.options.name)) return "--name needs a name";
      p.nameGiven = true;
    } else if (arg == "--halflife") {
      p.options.halfLife = true;
    } else if (arg == "--decal") {
      p.options.halfLife = p.options.decal = true;
    } else if (arg == "--sprite-format") {
      if (!value(v)) return "--sprite-format needs normal, additive, index-alpha or alpha-test";
      bool known = false;
      for (int f = 0; f < 4; ++f)
        if (v == hlsprite::TextureFormatName(static_cast<hlsprite::TextureFormat>(f)))
          p.sprite.format = static_cast<hlsprite::TextureFormat>(f), known = true;
      if (!known) return "--sprite-format takes normal, additive, index-alpha or alpha-test, not \"" + v + "\"";
      p.options.halfLife = true;
    } else if (arg == "--orientation") {
      if (!value(v))
        return "--orientation needs parallel-upright, facing-upright, parallel, oriented or parallel-oriented";
      bool known = false;
      for (int o = 0; o < 5; ++o)
        if (v == hlsprite::OrientationName(static_cast<hlsprite::Orientation>(o)))
          p.sprite.orientation = static_cast<hlsprite::Orientation>(o), known = true;
      if (!known)
        return "--orientation takes parallel-upright, facing-upright, parallel, oriented or parallel-oriented, "
               "not \"" +
               v + "\"";
      p.options.halfLife = true;
    } else if (arg == "--strict") {
      p.options.strict = true;
    } else if (arg == "--resize") {
      p.options.resize = true;
    } else if (forAdd && arg == "--as") {
      if (!value(p.as)) return "--as needs lmp, mip, wal or pcx";
    } else if (forAdd && arg == "--to") {
      if (!value(p.to)) return "--to needs a directory path";
    } else if (arg.size() > 1 && arg[0] == '-') {
      return "unknown option \"" + arg + "\"";
    } else {
      p.positional.push_back(arg);
    }
  }
  return {};
}

bool LoadImage(const std::string& path, RgbaImage& image, std::string* error) {
  Bytes bytes;
  if (!ReadWholeFile(path, bytes, error)) return false;
  std::string why;
  if (DecodeImage(bytes, path, image, &why)) return true;
  *error = path + ": " + why;
  return false;
}

// The palette file and the glow mask the options name, read.
bool LoadPaletteOption(Parsed& p, std::string* error) {
  if (!p.glowFile.empty() && !LoadImage(p.glowFile, p.options.glow, error)) return false;
  if (p.options.paletteChoice != PaletteChoice::Given) return true;
  Bytes bytes;
  if (!ReadWholeFile(p.paletteFile, bytes, error)) return false;
  std::string why;
  if (LoadPaletteFile(bytes, p.options.palette, &why)) return true;
  *error = p.paletteFile + ": " + why;
  return false;
}

std::string Stem(const std::string& path) { return fs::path(path).stem().string(); }

// Every file is written beside its target and put in its place only when all are complete,
// so a failure leaves no new file behind and no old one damaged.
bool WriteAll(const std::vector<std::pair<fs::path, Bytes>>& files, std::string* error, std::ostream& notices) {
  std::vector<std::unique_ptr<CSafeSave>> saves;
  for (const auto& [path, bytes] : files) {
    auto& save = saves.emplace_back(std::make_unique<CSafeSave>());
    if (!save->Begin(path) || !save->Write(bytes.data(), bytes.size())) {
      *error = "cannot write " + save->Failure().Text();
      return false;
    }
  }
  for (auto& save : saves) {
    if (!save->Commit()) {
      *error = "cannot write " + save->Failure().Text();
      return false;
    }
  }
  for (const auto& file : files) notices << "tarn-pak: wrote " << Quoted(file.first.string()) << "\n";
  return true;
}

Outcome EncodeSpriteFiles(Parsed& p, const std::vector<std::string>& inputs, const fs::path& out, bool quake2,
                          std::ostream& notices) {
  std::string why;
  std::vector<RgbaImage> frames(inputs.size());
  for (std::size_t i = 0; i < inputs.size(); ++i)
    if (!LoadImage(inputs[i], frames[i], &why)) return Failed(why);
  if (p.options.halfLife) {
    if (quake2) return Failed("a Half-Life sprite is a .spr file");
    std::vector<std::uint8_t> bytes;
    p.sprite.dither = p.options.dither;
    if (!EncodeHalfLifeSprite(frames, p.sprite, bytes, &why)) return Failed(why);
    if (!WriteAll({{out, std::move(bytes)}}, &why, notices)) return Failed(why);
    return {};
  }
  // Quake II looks for a sprite's frames in its sprites folder.
  std::vector<SpriteFile> sprite;
  if (!EncodeSprite(frames, quake2, out.stem().string(), "sprites/", p.options, sprite, &why)) return Failed(why);
  std::vector<std::pair<fs::path, Bytes>> files;
  for (SpriteFile& f : sprite) files.emplace_back(out.parent_path() / f.name, std::move(f.bytes));
  files.back().first = out;  // the sprite itself, named as asked
  if (!WriteAll(files, &why, notices)) return Failed(why);
  return {};
}

}  // namespace

Outcome RunEncode(const std::vector<std::string>& args, std::ostream& notices) {
  Parsed p;
  if (std::string bad = Parse(args, false, p); !bad.empty()) return BadUsage(bad);
  if (p.positional.size() < 2) return BadUsage("encode takes IN and OUT");
  const fs::path out = p.positional.back();
  const std::vector<std::string> inputs(p.positional.begin(), p.positional.end() - 1);
  std::string why;
  if (!LoadPaletteOption(p, &why)) return Failed(why);
  const std::string lower = ToLower(out.string());
  if (EndsWith(lower, ".spr") || EndsWith(lower, ".sp2"))
    return EncodeSpriteFiles(p, inputs, out, EndsWith(lower, ".sp2"), notices);
  const std::optional<OutputKind> kind = OutputKindOf(lower);
  if (!kind) return BadUsage("OUT must end in .lmp, .mip, .wal, .pcx, .spr or .sp2");
  if (inputs.size() != 1) return BadUsage("only a sprite (.spr, .sp2) is made of several pictures");
  if (!p.nameGiven) p.options.name = Stem(out.string());
  RgbaImage image;
  if (!LoadImage(inputs[0], image, &why)) return Failed(why);
  EncodeResult r = EncodeImage(image, *kind, p.options);
  if (!r.ok) return Failed(inputs[0] + ": " + r.error);
  if (!WriteAll({{out, std::move(r.bytes)}}, &why, notices)) return Failed(why);
  return {};
}

// The file an encoded picture is added as. A WAD takes the texture's own name (its lump name)
// and the extension of the lump type the encoder gives; a Half-Life WAD's textures and pictures
// carry their palette after the pixels.
std::optional<std::string> AddedName(const std::string& in, OutputKind kind, const EncodeOptions& options,
                                     EncodeResult& r, std::optional<ContainerFormat> target, std::string* error) {
  if (!target || !IsWad(*target)) return ToLower(Stem(in)) + ExtensionOf(kind);
  if (r.wadType == wadtype::kNone) {
    *error = in + ": a WAD holds textures and pictures (--as mip or lmp), not " + ExtensionOf(kind) + " files";
    return std::nullopt;
  }
  // A WAD3's textures and pictures were encoded as Half-Life's, their palette after their pixels.
  if (*target == ContainerFormat::Wad3 && !options.halfLife) AppendTrailingPalette(r.bytes, r.palette);
  return options.name + (r.wadType == wadtype::kMiptex ? ".mip" : ".lmp");
}

bool IsEncodingAdd(const std::vector<std::string>& args) {
  return std::find(args.begin(), args.end(), "--as") != args.end();
}

Outcome RunAddEncoded(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                      const std::vector<std::string>& passOn, const RunOptions& runOptions) {
  Parsed p;
  if (std::string bad = Parse(args, true, p); !bad.empty()) return BadUsage(bad);
  if (p.positional.size() < 2) return BadUsage("add takes ARCHIVE and at least one IMAGE");
  const std::optional<OutputKind> kind = OutputKindOf("." + p.as);
  if (!kind) return BadUsage("--as takes lmp, mip, wal or pcx, not \"" + p.as + "\"");
  if (p.nameGiven && p.positional.size() > 2) return BadUsage("--name names one texture; give one IMAGE with it");
  std::string why;
  if (!LoadPaletteOption(p, &why)) return Failed(why);

  // The encoded files wait in a private folder and are added from there as ordinary files.
  std::random_device random;
  const fs::path folder =
      fs::temp_directory_path() / ("tarn-encode-" + std::to_string(random()) + std::to_string(random()));
  std::error_code ec;
  if (!fs::create_directory(folder, ec)) return Failed("cannot create a temporary folder");
  struct Remove {
    fs::path path;
    ~Remove() {
      std::error_code e;
      fs::remove_all(path, e);
    }
  } remove{folder};

  std::optional<ContainerFormat> target;
  if (auto source = CFileSource::Open(p.positional[0])) target = ProbeFormat(*source);
  std::vector<std::string> addArgs = passOn;
  addArgs.insert(addArgs.end(), {"add", p.positional[0]});
  if (!p.to.empty()) addArgs.insert(addArgs.end(), {"--to", p.to});
  for (std::size_t i = 1; i < p.positional.size(); ++i) {
    const std::string& in = p.positional[i];
    EncodeOptions options = p.options;
    if (!p.nameGiven) options.name = Stem(in);
    // Half-Life's textures have their own palettes; those of decals.wad are decals.
    if (target == ContainerFormat::Wad3) {
      options.halfLife = true;
      options.decal = options.decal || ToLower(fs::path(p.positional[0]).filename().string()) == "decals.wad";
    }
    RgbaImage image;
    if (!LoadImage(in, image, &why)) return Failed(why + "; archive left unchanged");
    EncodeResult r = EncodeImage(image, *kind, options);
    if (!r.ok) return Failed(in + ": " + r.error + "; archive left unchanged");
    const auto name = AddedName(in, *kind, options, r, target, &why);
    if (!name) return Failed(why + "; archive left unchanged");
    const fs::path file = folder / std::to_string(i) / *name;
    fs::create_directory(file.parent_path(), ec);
    if (!WriteFileBytes(file, r.bytes)) return Failed("cannot write a temporary file; archive left unchanged");
    addArgs.push_back(file.string());
  }
  // add reports its own failures.
  return {Run(addArgs, out, err, runOptions), {}};
}

}  // namespace tarn::cli
