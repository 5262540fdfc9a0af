#include "cli/Commands.h"

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
#include "archive/TarnDoc.h"
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

namespace tarn::cli {

namespace fs = std::filesystem;

namespace {

constexpr const char* kHelpHead =
    "Usage: tarn-pak COMMAND ARGUMENTS\n"
    "\n"
    "An ARCHIVE is a PAK, a zip (.pk3, .pk2, .zip, .pkz; .kpf is only read) or a WAD2 or WAD3,\n"
    "known by its content whatever its name. In a WAD each lump is a file named after it with\n"
    "an extension from its type: .mip (texture), .lmp (picture), .pal (palette), .lumpNN (type NN).\n"
    "\n"
    "Commands:\n";

// Each command's usage, in the order --help gives them; a command may have several (add, info,
// convert, list), and `tarn-pak COMMAND --help` gives all of its own.
struct CommandUsage {
  const char* command;
  const char* text;
};
constexpr CommandUsage kUsage[] = {
    {"list", "  list [--json] ARCHIVE [PATH]          one line per file: SIZE<TAB>PATH, in save order\n"},
    {"extract",
     "  extract ARCHIVE [-C DIR] [PATH...]    write the whole archive, or the named files and\n"
     "                                        directories, under DIR (default: the current folder)\n"},
    {"create",
     "  create [--format pak|pk3|zip|wad|wad3] ARCHIVE DIR\n"
     "                                        a new archive holding DIR's contents at its root, in\n"
     "                                        the format its extension names (or --format's)\n"},
    {"repack",
     "  repack [--format pak|pk3|zip|wad|wad3] IN OUT\n"
     "                                        IN's entries into OUT, in the format of OUT's extension\n"},
    {"add", "  add ARCHIVE [--to DIRPATH] SOURCE...  import files and folders' contents, then save\n"},
    {"rm", "  rm ARCHIVE PATH...                    delete files or directories, then save\n"},
    {"rename", "  rename ARCHIVE PATH NEWNAME           rename an entry within its directory, then save\n"},
    {"cat", "  cat ARCHIVE PATH                      a file's bytes on standard output\n"},
    {"check",
     "  check [--json] [--engine ENGINE] ARCHIVE|FOLDER...\n"
     "                                        report every problem; exit 1 when there is any. With\n"
     "                                        --engine, of archives and game folders, and also what\n"
     "                                        that engine refuses or misreads: too many files in a\n"
     "                                        pak, names it will not find, packages it never loads,\n"
     "                                        maps, .lit files and sounds it cannot use, plays off\n"
     "                                        pitch or does not loop\n"},
    {"info",
     "  info [--json] ARCHIVE PATH            what an entry holds: pictures and their sizes, a\n"
     "                                        model's format, skins, triangles, frames, animations,\n"
     "                                        or a map's format, lumps, faces, textures, models,\n"
     "                                        entities, lighting, .lit and missing textures, or a\n"
     "                                        sound's format, rate, samples and loop (its start and\n"
     "                                        the sample after its end)\n"},
    {"info",
     "  info [--json] ARCHIVE MAP --game [--engine ENGINE] FOLDER...\n"
     "                                        a map's facts, its missing textures looked for in the\n"
     "                                        map's archive and every package the engine loads from\n"
     "                                        the game folders\n"},
    {"convert",
     "  convert ARCHIVE PATH OUT.png          a picture, texture chain, sprite or model skins to\n"
     "                                        PNG (OUT-0.png, OUT-1.png, ... for several)\n"},
    {"convert",
     "  convert [--size WxH] ARCHIVE MAP.bsp OUT.png\n"
     "                                        a map drawn from where a player starts, WxH pixels\n"
     "                                        (640x400), textures from the map or the archive (its\n"
     "                                        WALs, the WADs the map names), as Quakespasm draws it\n"
     "      map picture OPTIONS: --pos X,Y,Z (the eye)   --angles PITCH,YAW,ROLL (as viewpos prints\n"
     "      them)   --fov DEGREES (the engine's fov, 90)   --look engine|plain   --world (no doors,\n"
     "      lifts or other brush entities)\n"},
    {"convert",
     "  convert [--frame N] ARCHIVE MODEL OUT.gltf|OUT.glb|OUT.obj\n"
     "                                        a Quake or Quake II model to glTF 2.0, every frame a\n"
     "                                        morph target and each animation one of glTF's (or\n"
     "                                        frame N alone, from 0), its skin inside; or frame N\n"
     "                                        (the first) to OBJ, with OUT.mtl and OUT.png beside\n"},
    {"wad",
     "  wad ARCHIVE OUT.wad MAP...            the textures of Quake maps in the archive into a WAD2\n"
     "                                        (of Half-Life maps into a WAD3)\n"},
    {"bspx",
     "  bspx ARCHIVE MAP --list|--extract NAME FILE|--insert NAME FILE|--remove NAME\n"
     "                                        a map's BSPX lumps listed (NAME<TAB>SIZE), one written\n"
     "                                        to FILE, put in from FILE or removed, then save\n"},
    {"maptex",
     "  maptex ARCHIVE MAP --replace FROM.wad|FOLDER | --embed | --unembed\n"
     "                                        a map's textures replaced by name from a WAD or a\n"
     "                                        folder of pictures (NAME.png ...); a Half-Life map's\n"
     "                                        put in from the WADs it names, or left to them; then save\n"},
    {"ents",
     "  ents ARCHIVE MAP [--set FILE] [--export]\n"
     "                                        a map's entity lump on standard output; with --set,\n"
     "                                        replaced by FILE's text (checked first: its syntax, the\n"
     "                                        worldspawn first, no key or value longer than the map's\n"
     "                                        engine reads); with --export, written as NAME.ent\n"
     "                                        beside the map (NAME.bsp), as source ports load in its\n"
     "                                        place; then save\n"},
    {"encode",
     "  encode [OPTIONS] IN OUT               an image (PNG, JPEG, TGA, BMP, PCX or a game picture)\n"
     "                                        to OUT.lmp, .mip, .wal or .pcx; several IN frames to\n"
     "                                        OUT.spr, or OUT.sp2 with its PCX frames beside it\n"},
    {"add",
     "  add ARCHIVE --as lmp|mip|wal|pcx [--to DIRPATH] [OPTIONS] IMAGE...\n"
     "                                        encode images and add them, then save\n"
     "    encoding OPTIONS: --palette quake|quake2|FILE|optimal (optimal: .pcx and Half-Life's)\n"
     "      --dither none|floyd-steinberg|ordered   --fullbright auto|allow|never (auto: glowing\n"
     "      colours only for a picture drawn in the palette)   --glow MASK (a picture of IN's size:\n"
     "      where it is not black, the nearest glowing colour)\n"
     "      --name NAME (a texture's name; default: the file's name)   --strict (a transparent\n"
     "      pixel in an opaque texture is an error)   --resize (textures up to multiples of 16)\n"
     "      --halflife (a Half-Life texture or picture: its own palette after its pixels, made for\n"
     "      it, exact for 256 colours or fewer, 255 the blue a \"{\" texture sees through; every\n"
     "      texture added to a WAD3 is one)   --decal (a Half-Life decal: its opacity as its\n"
     "      indices, drawn in the colour at 255; every texture added to a decals.wad is one)\n"
     "      several IN frames to a Half-Life sprite (.spr, its own palette): --sprite-format\n"
     "      normal|additive|index-alpha|alpha-test (alpha-test)   --orientation parallel-upright|\n"
     "      facing-upright|parallel|oriented|parallel-oriented (parallel)\n"},
    {"model",
     "  model [OPTIONS] IN OUT.mdl|OUT.md2   a model of a modelling program (glTF 2.0, OBJ, IQM,\n"
     "                                        MD3) as a Quake or Quake II model, its animations as\n"
     "                                        frames (an MD2's skin is written as OUT.pcx beside it)\n"
     "    model OPTIONS: --skin IMAGE (in place of the material's)   --fps N (frames a second, 10)\n"
     "      --skin-path PATH (the MD2's skin; models/OUT/OUT.pcx)   --palette, --dither, --fullbright\n"},
    {"add",
     "  add ARCHIVE --as mdl|md2 [--to DIRPATH] [model OPTIONS but --skin-path] MODEL...\n"
     "                                        make models as model does and add them, named after\n"
     "                                        each MODEL (an MD2's skin as a PCX beside it), then save\n"},
    {"sound",
     "  sound [OPTIONS] IN OUT.wav|OUT.ogg     any sound (a wave of any rate, width and channels, FLAC,\n"
     "                                        Ogg Vorbis, Opus, MP3) as the engines play it: a mono\n"
     "                                        PCM wave, resampled, its loop as Quake reads it (a cue\n"
     "                                        point and a \"mark\" length); or Ogg Vorbis, for the\n"
     "                                        engines that read it (an Ogg Vorbis IN is kept as it is)\n"
     "    sound OPTIONS: --rate 11025|22050|44100 (default: IN's when it is one of those, else\n"
     "      11025)   --bits 8|16 (default: IN's when it is one of those, else 16)\n"
     "      --loop START[:END] (in samples of OUT; END is the sample after the loop, the end of\n"
     "      the sound when left out)   --loop-all   --no-loop (default: IN's own loop, moved to\n"
     "      the new rate)   --normalize (the loudest sample made full scale). A mono PCM wave at\n"
     "      the rate and width asked is kept byte for byte, but for its loop\n"},
    {"palette",
     "  palette colormap PALETTE OUT.lmp|OUT.pcx [--fullbrights N]\n"
     "                                        the colour map of a palette (quake, quake2 or a file),\n"
     "                                        by id's rules: Quake's 64 light levels (.lmp, the last\n"
     "                                        32 colours full bright), or Quake II's light levels and\n"
     "                                        translucency table (.pcx, the last 1)\n"},
    {"palette",
     "  palette remap FROM TO ARCHIVE|FOLDER [PATH...] [--fullbrights N]\n"
     "                                        the pictures, textures, skins and sprites (or those at\n"
     "                                        the PATHs) moved from palette FROM to TO, each colour\n"
     "                                        to its nearest, full-bright ones (the last N, 32) to\n"
     "                                        full-bright ones; then save\n"},
    {"which",
     "  which [--json] [--engine ENGINE] FOLDER... PATH\n"
     "                                        the copy of PATH the engine loads from the game folders\n"
     "                                        (the base game first, then the mod): SOURCE<TAB>PATH,\n"
     "                                        then shadowed<TAB>SOURCE for each copy it hides\n"},
    {"list",
     "  list --game [--json] [--engine ENGINE] [--all] FOLDER...\n"
     "                                        every path the engine sees: SIZE<TAB>PATH<TAB>SOURCE;\n"
     "                                        --all adds the hidden copies, ending in <TAB>shadowed\n"},
    {"diff",
     "  diff [--json] A B                     the paths that differ between two archives or folders:\n"
     "                                        \"+ PATH\" only in B, \"- PATH\" only in A, \"M PATH\"\n"
     "                                        different bytes; exit 0 same, 1 different, 2 trouble\n"},
    {"textures",
     "  textures ARCHIVE|FOLDER... --engine ENGINE --out DIR [--format png|tga] [--map NAME]\n"
     "                                        every picture the engine replaces (world textures, skins,\n"
     "                                        sprite frames, gfx pictures, Quake II textures) as the\n"
     "                                        files it reads, glowing pixels in a _glow or _luma layer;\n"
     "                                        --map: one map's textures, in its own folder\n"
     "    ENGINE: quakespasm (.tga), ironwail, qss, darkplaces, fte, yamagi\n"},
    {"textures",
     "  textures --import DIR --engine ENGINE ARCHIVE [--format png|tga] [--map NAME]\n"
     "                                        the replacements in DIR back into the archive's 8-bit\n"
     "                                        pictures (a _glow layer is the glow mask), then save\n"},
    {"glow",
     "  glow [--list|--fix] [--every] ARCHIVE [PATH...]\n"
     "                                        stray glowing pixels of textures and skins: FILE, PICTURE,\n"
     "                                        X,Y, index and the nearest that does not glow; --fix gives\n"
     "                                        them that colour and saves; --every: every glowing pixel\n"
     "                                        of the files named\n"},
    {"find",
     "  find [--json] FOLDER... PATTERN       every archive entry (PAK, PK3, WAD) and loose file below\n"
     "                                        the folders whose path matches PATTERN (* and ?, any\n"
     "                                        case): SOURCE<TAB>PATH; exit 1 when none\n"},
};

constexpr const char* kHelpOptions =
    "  -q, --quiet                           no warnings or notices on standard error, only errors\n"
    "  -v, --verbose                         a notice on standard error of each thing done: each file\n"
    "                                        extracted, added or deleted, each archive read or written\n"
    "  --help                                this text; COMMAND --help (or help COMMAND): that\n"
    "                                        command's usage\n"
    "  --version                             the version of tarn-pak\n"
    "  --                                    ends the options: every argument after it is a name or a\n"
    "                                        path, even one that begins with \"-\" (cat ARCHIVE -- -v)\n"
    "-q, -v, --json and the write options below go before COMMAND, or after it among its own options\n"
    "(--json and the write options only with the commands that take them).\n";

constexpr const char* kWriteOptions =
    "Options of the commands that write a file (create, repack, add, rm, rename, wad, ents, bspx,\n"
    "maptex, textures --import, glow --fix):\n"
    "  --break-links    save over a file that has other names (hard links); they keep the old contents\n"
    "  --force          save over a read-only file, or one another program changed meanwhile\n"
    "  --store          write every file of a zip stored, none deflated\n";

constexpr const char* kHelpTail =
    "Zips deflate each file at level 6 (TARN_PAK_DEFLATE_LEVEL: 1 fastest to 9 smallest; 0 stores\n"
    "every file) but for kinds already compressed (.ogg, .png, .jpg and the like), which are stored.\n"
    "A save replaces the file a symbolic link leads to, keeping the link, the file's mode, owner and\n"
    "group. A save keeps the archive's format; it never writes zip64, so a zip cannot hold a file of\n"
    "4 GiB or more, 65,536 files or 4 GiB in all; a PAK or WAD nothing of 2 GiB. create, repack, add,\n"
    "rm and rename lock the archive while they run; one that finds it locked waits up to 10 seconds\n"
    "(TARN_PAK_LOCK_TIMEOUT, in seconds) and then gives up. extract, create, add and repack draw a\n"
    "progress line on standard error when it is a terminal and they run for more than half a second.\n"
    "\n"
    "An ARCHIVE or IN named \"-\" is read from standard input (list, extract, cat, info, convert,\n"
    "check, wad, repack); create and repack write the new archive to standard output when ARCHIVE\n"
    "or OUT is \"-\" (give --format), never to a terminal. Only one argument may be \"-\"; a file\n"
    "of that name is \"./-\".\n"
    "\n"
    "--json prints one JSON document on standard output in place of the text, with the same facts\n"
    "(the manual describes each document); bytes of a name that are not UTF-8 become U+FFFD. A\n"
    "command that fails outright prints no document.\n"
    "\n"
    "Names and messages are printed with control characters escaped, one record a line: \"\\n"
    "\",\n"
    "\"\\t\", \"\\\\\" for a backslash and \"\\xNN\" for other bytes below 0x20 and 0x7F; in messages\n"
    "names are in double quotes, a quote in them as \"\\\"\".\n"
    "\n"
    "Engines (ENGINE), each with the other names it is known by:\n"
    "    quake       Quake / Quakespasm / Ironwail / vkQuake (the default; quakespasm,\n"
    "                ironwail, vkquake)\n"
    "    qss         Quakespasm-Spiked (quakespasm-spiked)\n"
    "    fte         FTE (fteqw)\n"
    "    darkplaces  DarkPlaces (dp)\n"
    "    quake2      Quake II\n"
    "    yamagi      Yamagi Quake II (yquake2)\n"
    "    rerelease   Quake (2021 re-release)\n"
    "Each loads a game folder's packages in its own order and compares names its own way: quake\n"
    "finds names in paks and loose files (on Linux) only in their exact case, while fte, quake2,\n"
    "yamagi and darkplaces take names in paks in any case (and darkplaces' exec a loose .cfg's\n"
    "name). quake without gfx/pop.lmp is the shareware game: no loose file in a subfolder, and a\n"
    "mod or a pak not id's stops it. which and list --game fail when the engine would stop with\n"
    "a fatal error while loading its packages.\n"
    "\n"
    "Exit status: 0 success, 1 failure, 2 bad usage.\n";

struct Context {
  std::ostream& out;
  std::ostream& err;
  SaveConsent consent;  // --force, --break-links
  std::chrono::milliseconds lockTimeout;
  WriteOptions write;               // --store, TARN_PAK_DEFLATE_LEVEL
  Voice voice;                      // --json, --quiet, --verbose
  CStdinSpool* stdinSpool;          // the archive named "-", read once
  std::vector<std::string> passOn;  // the options above as given, for a command that runs another
  std::ostream& Warnings() const { return voice.Warnings(err); }
  void Notice(const std::string& message) const { voice.Notices(err) << "tarn-pak: " << message << "\n"; }
  RunOptions options;
  // The progress line of one step of a command; nothing when it is not wanted.
  std::unique_ptr<CTerminalProgress> Progress(const std::string& what) const {
    return options.progress ? std::make_unique<CTerminalProgress>(err, what, options.progressAfter) : nullptr;
  }
  int Error(const std::string& message) const {
    err << "tarn-pak: " << message << "\n";
    return 1;
  }
  int Usage(const std::string& message) const {
    err << "tarn-pak: " << message << "\n"
        << "Try 'tarn-pak --help'.\n";
    return 2;
  }
  int Report(const Outcome& o) const {
    if (o.message.empty()) return o.code;
    return o.code == 2 ? Usage(o.message) : Error(o.message);
  }
};

// A command's options are looked for only before "--": what follows is names and paths.
std::vector<std::string> BeforeDashes(const std::vector<std::string>& a) {
  return {a.begin(), std::find(a.begin(), a.end(), "--")};
}
bool HasOption(const std::vector<std::string>& a, const std::string& option) {
  const auto end = std::find(a.begin(), a.end(), "--");
  return std::find(a.begin(), end, option) != end;
}
// The arguments but the "--" among them, for a command whose options Run has taken.
std::vector<std::string> Operands(std::vector<std::string> a) {
  if (auto dashes = std::find(a.begin(), a.end(), "--"); dashes != a.end()) a.erase(dashes);
  return a;
}

std::string OneLine(const std::string& text) {
  std::string s = text;
  for (char& c : s)
    if (c == '\n') c = ' ';
  return s;
}

// The name messages give an archive: "-" is standard input.
std::string Shown(const std::string& archive) { return IsStdStream(archive) ? "standard input" : Quoted(archive); }

// Opens the archive and, unless told not to, says what opening found wrong with it (a damaged
// directory, names the archive holds twice) on standard error.
bool Open(const Context& ctx, CTarnDoc& doc, const std::string& path, bool tell = true) {
  fs::path file = path;
  if (IsStdStream(path)) {
    std::string why;
    if (!ctx.stdinSpool->Fill(&why)) return ctx.Error(why), false;
    file = ctx.stdinSpool->Path();
  }
  if (!doc.OnOpenDocument(file)) {
    std::string message = OneLine(doc.LastError());
    // The copy of standard input has a name of no use to anyone.
    const std::string spooled = Quoted(file.string());
    if (IsStdStream(path))
      for (std::size_t at; (at = message.find(spooled)) != std::string::npos;)
        message.replace(at, spooled.size(), "standard input");
    ctx.Error(message);
    return false;
  }
  if (tell)
    for (const std::string& p : doc.OpenProblems()) ctx.Warnings() << "tarn-pak: " << Shown(path) << ": " << p << "\n";
  // Counting walks the whole tree: only for someone who asked to be told.
  if (ctx.voice.verbose) ctx.Notice("read " + Shown(path) + ": " + std::to_string(doc.Root().CountFiles()) + " files");
  return true;
}

// Locks the archive for the whole read-modify-write that follows: another tarn-pak changing it
// finishes first, and one that comes later waits for this one. Standard output needs no lock,
// but a terminal is refused here, before any work.
bool Lock(const Context& ctx, CTarnDoc& doc, const std::string& path) {
  if (IsStdStream(path)) {
    if (!IsTerminal(ctx.out)) return true;  // a new stream nobody else writes
    ctx.Error("an archive is not written to a terminal; redirect standard output to a file or a pipe");
    return false;
  }
  std::unique_ptr<CFileLock> lock;
  std::string why;
  if (CFileLock::Acquire(path, ctx.lockTimeout, &lock, &why) == CFileLock::Outcome::TimedOut) {
    char waited[32];
    std::snprintf(waited, sizeof waited, "%g", static_cast<double>(ctx.lockTimeout.count()) / 1000.0);
    ctx.Error(why + "; gave up after " + waited + " s, nothing changed");
    return false;
  }
  doc.AdoptLock(std::move(lock));
  return true;
}

bool OpenToChange(const Context& ctx, CTarnDoc& doc, const std::string& path) {
  if (IsStdStream(path))
    return ctx.Error("an archive read from standard input cannot be changed in place; save it to a file first"), false;
  return Lock(ctx, doc, path) && Open(ctx, doc, path);
}

// "-": the archive is written as any other, to a private file, then copied out whole, so that
// standard output never receives half an archive from a failed save.
int SaveToStdout(const Context& ctx, CTarnDoc& doc, const std::string& command, std::optional<ContainerFormat> format) {
  CScratchFolder scratch;
  std::string why;
  if (!scratch.Create(&why)) return ctx.Error(why);
  const fs::path file = scratch.Path() / "archive";
  doc.SetWriteOptions(ctx.write);
  doc.SetLockTimeout(ctx.lockTimeout);
  bool saved;
  {
    const auto progress = ctx.Progress(command + ": saving");
    saved = doc.OnSaveDocument(file, ctx.consent, format, progress.get());
  }
  if (!saved) return ctx.Error(OneLine(doc.LastError()));
  if (!CopyToStream(file, ctx.out, &why)) return ctx.Error(why);
  ctx.Notice("wrote standard output: " + std::to_string(doc.Root().CountFiles()) + " files");
  return 0;
}

int Save(const Context& ctx, CTarnDoc& doc, const fs::path& path, const std::string& command,
         std::optional<ContainerFormat> format = std::nullopt) {
  if (IsStdStream(path.string())) return SaveToStdout(ctx, doc, command, format);
  for (const auto& [concern, text] : doc.SaveConcerns(path))
    if (!ctx.consent.Allows(concern))
      return ctx.Error(text + " Not saved; " + (concern == SaveConcern::HardLinks ? "--break-links" : "--force") +
                       " saves anyway.");
  doc.SetWriteOptions(ctx.write);
  doc.SetLockTimeout(ctx.lockTimeout);
  bool saved;
  {
    const auto progress = ctx.Progress(command + ": saving");
    saved = doc.OnSaveDocument(path, ctx.consent, format, progress.get());
  }
  if (!saved) return ctx.Error(OneLine(doc.LastError()));
  ctx.Notice("wrote " + Quoted(path.string()) + ": " + std::to_string(doc.Root().CountFiles()) + " files");
  return 0;
}

// Finds an entry by its archive path, in any case: within a directory, names that differ only
// in case are one name.
CPackObject* Find(CTarnDoc& doc, const std::string& path) {
  std::string p = path;
  while (!p.empty() && p.back() == '/') p.pop_back();
  if (p.empty()) return &doc.Root();
  return doc.Root().FindByPath(p);
}

// The format of --format, or of the output's name; nothing (after saying why) when neither tells.
std::optional<ContainerFormat> OutputFormat(const Context& ctx, const std::string& given, const fs::path& out) {
  if (!given.empty()) {
    if (auto f = FormatOfWord(given)) return f;
    ctx.Usage("--format takes pak, pk3, zip, wad or wad3, not " + Quoted(given));
    return std::nullopt;
  }
  if (auto f = FormatOfName(out)) return f;
  if (IsStdStream(out.string()))
    return ctx.Usage("standard output has no name to tell the format by: give --format"), std::nullopt;
  ctx.Usage("cannot tell the format from the name " + Quoted(out.string()) +
            ": end it in .pak, .pk3, .pk2, .zip, .pkz or .wad, or give --format");
  return std::nullopt;
}

// Splits off "--format F" from a command's arguments; false (after saying why) when it lacks F.
bool TakeFormat(const Context& ctx, const std::vector<std::string>& a, std::string& format,
                std::vector<std::string>& rest) {
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] == "--") {
      rest.insert(rest.end(), a.begin() + static_cast<std::ptrdiff_t>(i) + 1, a.end());
      break;
    }
    if (a[i] != "--format") {
      rest.push_back(a[i]);
      continue;
    }
    if (++i == a.size()) {
      ctx.Usage("--format needs pak, pk3, zip, wad or wad3");
      return false;
    }
    format = a[i];
  }
  return true;
}

// Opens the archive and finds the entry at path; nullptr, after saying why, when either fails.
CPackObject* OpenEntry(const Context& ctx, CTarnDoc& doc, const std::string& archive, const std::string& path) {
  if (!Open(ctx, doc, archive)) return nullptr;
  CPackObject* e = Find(doc, path);
  if (!e) ctx.Error("no entry " + Quoted(path) + " in " + Quoted(archive));
  return e;
}

// Archives held inside another (gfx.wad in pak0.pak) are reached through their paths: each one
// on the way is opened inside the document, as the window opens them, and kept with it.
// The entry at path in doc, going into the archives on its way; for a path that ends at an
// archive file with "/" (or when enter is set), that archive's root. Nothing, told, when there
// is none. What opening an archive on the way found wrong is told as for that archive alone;
// damaged, when given, is set when one's directory is damaged.
CPackObject* FindNested(const Context& ctx, CTarnDoc& doc, const std::string& archive, const std::string& path,
                        bool enter, bool* damaged = nullptr) {
  const auto isArchive = [](const CPackObject& e) { return FormatOfName(e.Name()).has_value(); };
  const auto below = [](CPackObject& root, std::string p) -> CPackObject* {
    while (!p.empty() && p.back() == '/') p.pop_back();
    return p.empty() ? &root : root.FindByPath(p);
  };
  CPackObject* root = &doc.Root();
  std::string rest = path, where = archive;
  for (;;) {
    const bool into = enter || (!rest.empty() && rest.back() == '/');
    CPackObject* found = below(*root, rest);
    if (found && (!into || found->IsDirectory() || !isArchive(*found))) return found;
    // Else the last archive file the path goes through (or ends at) is opened.
    CPackObject* holder = found;
    std::size_t cut = rest.size();
    if (!holder)
      for (std::size_t at = rest.find('/'); at != std::string::npos; at = rest.find('/', at + 1))
        if (CPackObject* e = below(*root, rest.substr(0, at)); e && !e->IsDirectory() && isArchive(*e)) {
          holder = e;
          cut = at;
          break;
        }
    if (!holder) {
      ctx.Error("no entry " + Quoted(rest) + " in " + Quoted(where));
      return nullptr;
    }
    std::string why;
    root = doc.OpenInner(*holder, &why);
    if (!root) return ctx.Error(OneLine(why) + " (in " + Quoted(archive) + ")"), nullptr;
    std::string passed = rest.substr(0, cut);
    while (!passed.empty() && passed.back() == '/') passed.pop_back();
    where += "/" + passed;
    if (const CTarnDoc* inner = doc.InnerDocument(*root)) {
      for (const std::string& p : inner->OpenProblems())
        ctx.Warnings() << "tarn-pak: " << Quoted(where) << ": " << p << "\n";
      if (damaged && inner->DirectoryDamaged()) *damaged = true;
    }
    rest = cut < rest.size() ? rest.substr(cut + 1) : std::string();
    enter = false;
    if (rest.empty() || rest == "/") return root;
  }
}

// Names each file of entry's subtree that the export wrote: all but those refused or failed,
// alone or with a directory on their way.
void TellExtracted(const Context& ctx, const CPackObject& entry, const ExportReport& report) {
  if (!ctx.voice.verbose) return;
  std::vector<std::string> missed;
  for (const auto* list : {&report.refused, &report.failed})
    for (const TransferFailure& f : *list) missed.push_back(f.name);
  auto tell = [&](const std::string& path) {
    for (const std::string& m : missed)
      if (path == m || (path.size() > m.size() && path.compare(0, m.size(), m) == 0 && path[m.size()] == '/')) return;
    ctx.Notice("extracted " + Quoted(path));
  };
  if (!entry.IsDirectory()) return tell(entry.Parent() ? entry.PathInArchive() : entry.Name());
  ForEachFileInSaveOrder(entry, [&](const std::string& path, const CPackObject&) { tell(path); });
}

// Tells what the export of entry wrote (when verbose) and what it did not.
int Warn(const Context& ctx, const CPackObject& entry, const ExportReport& report) {
  TellExtracted(ctx, entry, report);
  for (const auto& r : report.refused) ctx.err << "tarn-pak: refused " << Quoted(r.name) << ": " << r.reason << "\n";
  for (const auto& f : report.failed) ctx.err << "tarn-pak: failed " << Quoted(f.name) << ": " << f.reason << "\n";
  return report.ok() ? 0 : 1;
}

// Listing many records is mostly output: lines are written into a buffer of their own, each
// directory's path once, and escaped only where a name needs it.
class CListWriter {
 public:
  explicit CListWriter(std::ostream& out) : m_out(out) {}
  ~CListWriter() { Flush(); }

  void Directory(const CPackObject& dir, std::string& prefix) {
    const std::string shownPrefix = NeedsEscape(prefix) ? Escaped(prefix) : prefix;
    bool subdirectories = false;
    for (CPackObject* c : dir.Children()) {
      if (c->IsDirectory()) {
        subdirectories = true;
        continue;
      }
      const std::string& name = c->Name();
      Reserve(shownPrefix.size() + 4 * name.size() + 24);
      m_at = std::to_chars(m_at, m_end, c->Size()).ptr;
      *m_at++ = '\t';
      Put(shownPrefix);
      if (c->PlainName()) Put(name);
      else Put(Escaped(name));
      *m_at++ = '\n';
    }
    if (!subdirectories) return;
    const std::size_t base = prefix.size();
    for (CPackObject* c : dir.Children()) {
      if (!c->IsDirectory()) continue;
      prefix.append(c->Name()).push_back('/');
      Directory(*c, prefix);
      prefix.resize(base);
    }
  }

 private:
  static bool NeedsEscape(std::string_view text) { return HasSpecialByte(text, false); }
  void Put(std::string_view text) {
    std::memcpy(m_at, text.data(), text.size());
    m_at += text.size();
  }
  void Reserve(std::size_t n) {
    if (static_cast<std::size_t>(m_end - m_at) >= n) return;
    Flush();
    if (n > m_buffer.size()) {
      m_buffer.resize(n);
      m_at = m_buffer.data();
      m_end = m_at + m_buffer.size();
    }
  }
  void Flush() {
    m_out.write(m_buffer.data(), m_at - m_buffer.data());
    m_at = m_buffer.data();
  }

  std::ostream& m_out;
  std::vector<char> m_buffer = std::vector<char>(1 << 16);
  char* m_at = m_buffer.data();
  char* m_end = m_at + m_buffer.size();
};

int CmdList(const Context& ctx, const std::vector<std::string>& args) {
  if (HasOption(args, "--game")) return ctx.Report(RunListGame(args, ctx.out, ctx.err, ctx.voice));
  if (HasOption(args, "--all") || HasOption(args, "--engine"))
    return ctx.Usage("--all and --engine go with list --game");
  const std::vector<std::string> a = Operands(args);
  if (a.empty() || a.size() > 2) return ctx.Usage("list takes one ARCHIVE, and a PATH in it");
  auto doc = std::make_unique<CTarnDoc>();
  if (!Open(ctx, *doc, a[0])) return 1;
  // A PATH lists a directory, or an archive inside this one, as if it were the archive.
  bool innerDamaged = false;
  CPackObject* shown = a.size() == 2 ? FindNested(ctx, *doc, a[0], a[1], true, &innerDamaged) : &doc->Root();
  if (!shown) return 1;
  if (!shown->IsDirectory()) return ctx.Error(Quoted(a[1]) + " is neither a directory nor an archive");
  if (ctx.voice.json) {
    JsonList(ctx.out, a[0], *shown);
  } else {
    std::string prefix;
    CListWriter(ctx.out).Directory(*shown, prefix);
  }
  // What can be read is listed, but a listing of a damaged directory is not a success.
  const int rc = doc->DirectoryDamaged() || innerDamaged ? 1 : 0;
  if (ctx.options.processEndsAfter) (void)doc.release();
  return rc;
}

int CmdExtract(const Context& ctx, const std::vector<std::string>& a) {
  std::string archive;
  fs::path dir = ".";
  std::vector<std::string> paths;
  bool ended = false;  // past "--"
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (!ended && a[i] == "--") {
      ended = true;
    } else if (!ended && a[i] == "-C") {
      if (++i == a.size()) return ctx.Usage("-C needs a folder");
      dir = a[i];
    } else if (archive.empty()) {
      archive = a[i];
    } else {
      paths.push_back(a[i]);
    }
  }
  if (archive.empty()) return ctx.Usage("extract needs an ARCHIVE");
  CTarnDoc doc;
  // What opening found is told first (a name held twice, a file that is a folder too); the
  // second of two entries of one path is refused by the extraction, which then fails.
  if (!Open(ctx, doc, archive)) return 1;
  const auto progress = ctx.Progress("extract");
  if (paths.empty()) return Warn(ctx, doc.Root(), doc.Root().ExportToDisk(dir, false, progress.get()));

  std::vector<CPackObject*> entries;
  for (const auto& p : paths) {
    CPackObject* e = Find(doc, p);
    if (!e) return ctx.Error("no entry " + Quoted(p) + " in " + Quoted(archive));
    entries.push_back(e);
  }
  int rc = 0;
  // A named entry keeps its path: its parent directories become folders under DIR.
  for (CPackObject* e : entries)
    if (Warn(ctx, *e, e->ExportToDisk(dir, true, progress.get())) != 0) rc = 1;
  return rc;
}

// Names each file an import brought in: those read from disk, not from the archive.
void TellAdded(const Context& ctx, const CPackObject& root) {
  if (!ctx.voice.verbose) return;
  ForEachFileInSaveOrder(root, [&](const std::string& path, const CPackObject& f) {
    if (!f.TempPath().empty()) ctx.Notice("added " + Quoted(path));
  });
}

int CmdCreate(const Context& ctx, const std::vector<std::string>& args) {
  std::string given;
  std::vector<std::string> a;
  if (!TakeFormat(ctx, args, given, a)) return 2;
  if (a.size() != 2) return ctx.Usage("create takes ARCHIVE and DIR");
  const auto format = OutputFormat(ctx, given, a[0]);
  if (!format) return 2;
  std::error_code ec;
  if (!fs::is_directory(a[1], ec)) return ctx.Error(Quoted(a[1]) + " is not a folder");
  CTarnDoc doc;
  if (!Lock(ctx, doc, a[0])) return 1;
  doc.Root().SetFormat(*format);
  // The archive is written at once, so the files are read where they are, not copied first.
  ImportReport report;
  {
    const auto progress = ctx.Progress("create: reading");
    report = doc.Root().ImportDirectory(a[1], ImportOptions{.snapshot = false, .progress = progress.get()});
  }
  for (const auto& f : report.failures)
    ctx.err << "tarn-pak: cannot import " << Quoted(f.name) << ": " << f.reason << "\n";
  if (!report.failures.empty()) return ctx.Error("nothing written");
  TellAdded(ctx, doc.Root());
  return Save(ctx, doc, a[0], "create", *format);
}

int CmdRepack(const Context& ctx, const std::vector<std::string>& args) {
  std::string given;
  std::vector<std::string> a;
  if (!TakeFormat(ctx, args, given, a)) return 2;
  if (a.size() != 2) return ctx.Usage("repack takes IN and OUT");
  auto format = OutputFormat(ctx, given, a[1]);
  if (!format) return 2;
  CTarnDoc doc;
  if (!Open(ctx, doc, a[0])) return 1;
  // ".wad" names no version: a WAD stays the one it is.
  if (given.empty() && IsWad(*format) && IsWad(doc.Format())) format = doc.Format();
  std::error_code ec;
  if (fs::equivalent(a[0], a[1], ec)) return ctx.Error("IN and OUT are the same file");
  // OUT is locked by the document that saves it, which then does not wait on its own lock.
  if (!Lock(ctx, doc, a[1])) return 1;
  return Save(ctx, doc, a[1], "repack", *format);
}

// The directory at path, made where missing; nullptr (after saying why) when a file holds a
// name on the way or the container holds no directories.
CPackObject* EnsureDirectory(const Context& ctx, CPackObject& root, const std::string& path) {
  CPackObject* dir = &root;
  std::size_t start = 0;
  while (start < path.size()) {
    std::size_t slash = path.find('/', start);
    std::string seg = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (!seg.empty()) {
      CPackObject* sub = dir->FindChildDirectory(seg);
      if (!sub && dir->FindChild(seg)) {
        ctx.Error(Quoted(path) + " names a file, not a directory");
        return nullptr;
      }
      if (!sub) {
        if (const std::string unfit = UnfitNameReason(root.Format(), seg, true, dir == &root); !unfit.empty()) {
          ctx.Error("cannot make " + Quoted(path) + ": " + unfit);
          return nullptr;
        }
        sub = dir->AddChild(seg, true);
      }
      dir = sub;
    }
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return dir;
}

int CmdAdd(const Context& ctx, const std::vector<std::string>& a) {
  if (IsModelAdd(BeforeDashes(a))) return ctx.Report(RunAddModel(a, ctx.out, ctx.err, ctx.passOn, ctx.options));
  if (IsEncodingAdd(BeforeDashes(a))) return ctx.Report(RunAddEncoded(a, ctx.out, ctx.err, ctx.passOn, ctx.options));
  std::string archive, to;
  std::vector<std::string> sources;
  bool ended = false;  // past "--"
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (!ended && a[i] == "--") {
      ended = true;
    } else if (!ended && a[i] == "--to") {
      if (++i == a.size()) return ctx.Usage("--to needs a directory path");
      to = a[i];
    } else if (archive.empty()) {
      archive = a[i];
    } else {
      sources.push_back(a[i]);
    }
  }
  if (archive.empty() || sources.empty()) return ctx.Usage("add takes ARCHIVE and at least one SOURCE");
  CTarnDoc doc;
  if (!OpenToChange(ctx, doc, archive)) return 1;
  CPackObject* dir = EnsureDirectory(ctx, doc.Root(), to);
  if (!dir) return 1;
  auto progress = ctx.Progress("add: reading");
  const ImportOptions options{.snapshot = false, .progress = progress.get()};
  bool failed = false;
  for (const auto& s : sources) {
    std::error_code ec;
    if (fs::is_directory(s, ec)) {
      ImportReport report = dir->ImportDirectory(s, options);
      for (const auto& f : report.failures) {
        ctx.err << "tarn-pak: cannot import " << Quoted(f.name) << ": " << f.reason << "\n";
        failed = true;
      }
    } else {
      std::string why;
      if (!dir->ImportFile(s, options, &why)) {
        ctx.err << "tarn-pak: cannot import " << Quoted(s) << ": " << why << "\n";
        failed = true;
      }
    }
  }
  progress.reset();  // its line goes before the save draws its own
  if (failed) return ctx.Error("archive left unchanged");
  TellAdded(ctx, doc.Root());
  return Save(ctx, doc, archive, "add");
}

int CmdRm(const Context& ctx, const std::vector<std::string>& args) {
  const std::vector<std::string> a = Operands(args);
  if (a.size() < 2) return ctx.Usage("rm takes ARCHIVE and at least one PATH");
  CTarnDoc doc;
  if (!OpenToChange(ctx, doc, a[0])) return 1;
  std::vector<CPackObject*> doomed;
  for (std::size_t i = 1; i < a.size(); ++i) {
    CPackObject* e = Find(doc, a[i]);
    if (!e) return ctx.Error("no entry " + Quoted(a[i]) + " in " + Quoted(a[0]));
    if (!e->Parent()) return ctx.Error("the root cannot be deleted");
    doomed.push_back(e);
  }
  // A path named twice, or inside a directory also named, goes with the first removal.
  for (std::size_t i = 0; i < doomed.size(); ++i) {
    bool covered = false;
    for (std::size_t j = 0; j < doomed.size(); ++j)
      if (i != j && doomed[j] && doomed[i]->Parent() && doomed[i]->Parent()->IsInside(doomed[j])) covered = true;
    for (std::size_t j = 0; j < i; ++j)
      if (doomed[j] == doomed[i]) covered = true;
    if (covered) doomed[i] = nullptr;
  }
  for (CPackObject* e : doomed) {
    if (!e) continue;
    ctx.Notice("deleted " + Quoted(e->PathInArchive()) + (e->IsDirectory() ? " and everything in it" : ""));
    e->Parent()->RemoveChild(e);
  }
  return Save(ctx, doc, a[0], "rm");
}

int CmdRename(const Context& ctx, const std::vector<std::string>& args) {
  const std::vector<std::string> a = Operands(args);
  if (a.size() != 3) return ctx.Usage("rename takes ARCHIVE, PATH and NEWNAME");
  CTarnDoc doc;
  if (!OpenToChange(ctx, doc, a[0])) return 1;
  CPackObject* e = Find(doc, a[1]);
  if (!e || !e->Parent()) return ctx.Error("no entry " + Quoted(a[1]) + " in " + Quoted(a[0]));
  const NewNameCheck check = CheckNewName(*e, a[2]);
  switch (check.problem) {
    case NewNameProblem::Empty: return ctx.Error("the new name is empty");
    case NewNameProblem::Separator: return ctx.Error("the new name must not contain \"/\"");
    case NewNameProblem::Taken: return ctx.Error(Quoted(check.taken->Name()) + " already exists in that directory");
    case NewNameProblem::Unfit: return ctx.Error(check.reason);
    case NewNameProblem::None: break;
  }
  const std::string before = e->PathInArchive();
  if (!e->Rename(check.stored)) return ctx.Error("cannot rename " + Quoted(a[1]));
  ctx.Notice("renamed " + Quoted(before) + " to " + Quoted(e->PathInArchive()));
  return Save(ctx, doc, a[0], "rename");
}

int CmdCat(const Context& ctx, const std::vector<std::string>& args) {
  const std::vector<std::string> a = Operands(args);
  if (a.size() != 2) return ctx.Usage("cat takes ARCHIVE and PATH");
  CTarnDoc doc;
  if (!Open(ctx, doc, a[0])) return 1;
  CPackObject* e = FindNested(ctx, doc, a[0], a[1], false);
  if (!e) return 1;
  if (e->IsDirectory()) return ctx.Error(Quoted(a[1]) + " is a directory");
  std::string why;
  bool ok = e->StreamData(
      [&](const std::uint8_t* p, std::size_t n) {
        ctx.out.write(reinterpret_cast<const char*>(p), static_cast<std::streamsize>(n));
        return static_cast<bool>(ctx.out);
      },
      &why);
  return ok ? 0 : ctx.Error(why);
}

int CmdCheck(const Context& ctx, const std::vector<std::string>& args) {
  if (HasOption(args, "--engine")) return ctx.Report(RunCheckEngine(args, ctx.out, ctx.err, ctx.voice));
  const std::vector<std::string> a = Operands(args);
  if (a.size() != 1) return ctx.Usage("check takes one ARCHIVE");
  CTarnDoc doc;
  if (!Open(ctx, doc, a[0], false)) return 1;  // the check lists the problems itself
  auto problems = doc.CheckArchive();
  for (std::string& stray : StrayGlowProblems(doc.Root())) problems.push_back(std::move(stray));
  if (ctx.voice.json) JsonCheck(ctx.out, a[0], doc.Root().CountFiles(), problems);
  else
    for (const auto& p : problems) ctx.out << p << "\n";
  if (problems.empty()) {
    if (!ctx.voice.json) ctx.out << a[0] << ": " << doc.Root().CountFiles() << " files, no problems found\n";
    return 0;
  }
  ctx.err << "tarn-pak: " << problems.size() << " problem" << (problems.size() == 1 ? "" : "s") << " found\n";
  return 1;
}

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
    if (!IsAnyModelName(e->Name())) return ctx.Error(Quoted(a[1]) + " is not a model (.mdl or .md2)");
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

// bspx and maptex: MapCommands.cpp reads the arguments and does the work on the map's entry.
int RunMapEdit(const Context& ctx, const MapEdit& edit, const std::string& command) {
  CTarnDoc doc;
  if (edit.changes ? !OpenToChange(ctx, doc, edit.archive) : !Open(ctx, doc, edit.archive)) return 1;
  CPackObject* e = Find(doc, edit.map);
  if (!e || e->IsDirectory()) return ctx.Error("no map " + Quoted(edit.map) + " in " + Quoted(edit.archive));
  std::string notice;
  if (const Outcome o = edit.run(*e, ctx.out, ctx.Warnings(), notice); o.code) return ctx.Report(o);
  if (!notice.empty()) ctx.Notice(notice);
  return edit.changes ? Save(ctx, doc, edit.archive, command) : 0;
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

int CmdEncode(const Context& ctx, const std::vector<std::string>& a) {
  return ctx.Report(RunEncode(a, ctx.voice.Notices(ctx.err)));
}
int CmdModel(const Context& ctx, const std::vector<std::string>& a) {
  return ctx.Report(RunModel(a, ctx.voice.Notices(ctx.err), ctx.voice.Warnings(ctx.err)));
}
int CmdSound(const Context& ctx, const std::vector<std::string>& a) {
  return ctx.Report(RunSound(a, ctx.voice.Notices(ctx.err)));
}
int CmdPalette(const Context& ctx, const std::vector<std::string>& a) {
  const std::vector<std::string> rest(a.begin() + (a.empty() ? 0 : 1), a.end());
  if (!a.empty() && a[0] == "colormap") return ctx.Report(RunPaletteColormap(rest, ctx.voice.Notices(ctx.err)));
  if (a.empty() || a[0] != "remap") return ctx.Usage("palette takes colormap or remap");
  RemapRequest request;
  if (const Outcome o = ParseRemap(rest, request); o.code) return ctx.Report(o);
  std::error_code ec;
  if (fs::is_directory(request.target, ec))
    return ctx.Report(RemapFolder(request, ctx.voice.Notices(ctx.err), ctx.Warnings()));
  CTarnDoc doc;
  if (!OpenToChange(ctx, doc, request.target)) return 1;
  int changed = 0;
  if (const Outcome o = RemapTree(doc.Root(), request, ctx.voice.Notices(ctx.err), ctx.Warnings(), changed); o.code)
    return ctx.Report(o);
  if (changed == 0) return ctx.Notice("nothing to remap; " + Quoted(request.target) + " left as it was"), 0;
  return Save(ctx, doc, request.target, "palette remap");
}
int CmdWhich(const Context& ctx, const std::vector<std::string>& a) {
  return ctx.Report(RunWhich(a, ctx.out, ctx.err, ctx.voice));
}
int CmdDiff(const Context& ctx, const std::vector<std::string>& a) {
  return ctx.Report(RunDiff(Operands(a), ctx.out, ctx.err, ctx.voice));
}
int CmdFind(const Context& ctx, const std::vector<std::string>& a) {
  return ctx.Report(RunFind(Operands(a), ctx.out, ctx.err, ctx.voice));
}
ArtCommandContext ArtContext(const Context& ctx) {
  return {ctx.out, ctx.err, ctx.voice, ctx.consent, ctx.write, ctx.lockTimeout};
}
int CmdTextures(const Context& ctx, const std::vector<std::string>& a) {
  return ctx.Report(RunTextures(a, ArtContext(ctx)));
}
int CmdGlow(const Context& ctx, const std::vector<std::string>& a) { return ctx.Report(RunGlow(a, ArtContext(ctx))); }

// A command's own options: those it reads itself, with a value or alone, and those of every
// command's that it takes after its word as well as before (-q and -v always).
struct CommandSpec {
  int (*run)(const Context&, const std::vector<std::string>&);
  std::set<std::string> values;  // followed by their value
  std::set<std::string> flags;   // alone
  bool writes = false;           // --force, --break-links and --store
  bool json = false;             // --json
};

const std::map<std::string, CommandSpec>& Commands() {
  static const std::map<std::string, CommandSpec> commands = {
      {"list", {CmdList, {"--engine"}, {"--game", "--all"}, false, true}},
      {"extract", {CmdExtract, {"-C"}, {}}},
      {"create", {CmdCreate, {"--format"}, {}, true}},
      {"repack", {CmdRepack, {"--format"}, {}, true}},
      {"add",
       {CmdAdd,
        {"--to", "--as", "--palette", "--dither", "--fullbright", "--glow", "--name", "--skin", "--fps",
         "--sprite-format", "--orientation"},
        {"--strict", "--resize", "--halflife", "--decal"},
        true}},
      {"rm", {CmdRm, {}, {}, true}},
      {"rename", {CmdRename, {}, {}, true}},
      {"cat", {CmdCat, {}, {}}},
      {"check", {CmdCheck, {"--engine"}, {}, false, true}},
      {"info", {CmdInfo, {"--engine"}, {"--game"}, false, true}},
      {"convert", {CmdConvert, {"--size", "--frame", "--pos", "--angles", "--fov", "--look"}, {"--world"}}},
      {"wad", {CmdWad, {}, {}, true}},
      {"ents", {CmdEnts, {"--set"}, {"--export"}, true}},
      {"bspx", {CmdBspx, {"--extract", "--insert", "--remove"}, {"--list"}, true}},
      {"maptex", {CmdMapTex, {"--replace"}, {"--embed", "--unembed"}, true}},
      {"encode",
       {CmdEncode,
        {"--palette", "--dither", "--fullbright", "--glow", "--name", "--sprite-format", "--orientation"},
        {"--strict", "--resize", "--halflife", "--decal"}}},
      {"model", {CmdModel, {"--skin", "--skin-path", "--fps", "--palette", "--dither", "--fullbright"}, {}}},
      {"sound", {CmdSound, {"--rate", "--bits", "--loop"}, {"--loop-all", "--no-loop", "--normalize"}}},
      {"palette", {CmdPalette, {"--fullbrights"}, {}, true}},
      {"which", {CmdWhich, {"--engine"}, {}, false, true}},
      {"diff", {CmdDiff, {}, {}, false, true}},
      {"find", {CmdFind, {}, {}, false, true}},
      {"textures", {CmdTextures, {"--engine", "--out", "--format", "--map", "--import"}, {}, true}},
      {"glow", {CmdGlow, {}, {"--list", "--fix", "--every"}, true}},
  };
  return commands;
}

std::string Help() {
  std::string help = kHelpHead;
  for (const CommandUsage& u : kUsage) help += u.text;
  return help + kHelpOptions + "\n" + kWriteOptions + kHelpTail;
}

// One command's usage: its lines of --help, with the options it shares with others.
std::string UsageOf(const std::string& word, const CommandSpec& spec) {
  std::string usage = "Usage: tarn-pak [-q|-v] " + word + " ...\n";
  for (const CommandUsage& u : kUsage)
    if (word == u.command) usage += u.text;
  usage += "\n";
  usage += "  -q, -v    fewer or more messages on standard error, as before the command\n";
  if (spec.json) usage += "  --json    one JSON document on standard output in place of the text\n";
  usage +=
      "  --        ends the options: every argument after it is a name or a path, even one that\n"
      "            begins with \"-\"\n";
  if (spec.writes) usage += std::string("\n") + kWriteOptions;
  return usage + "\ntarn-pak --help describes every command.\n";
}

// Takes an option that goes with every command; false when arg is none of them.
bool TakeCommonOption(Context& ctx, const std::string& a) {
  if (a == "--force") {
    ctx.consent.overwriteReadOnly = ctx.consent.overwriteChanged = true;
  } else if (a == "--break-links") {
    ctx.consent.breakHardLinks = true;
  } else if (a == "--store") {
    ctx.write.deflateLevel = 0;
  } else if (!TakeVoiceOption(a, ctx.voice)) {
    return false;
  }
  if (a != "--json") ctx.passOn.push_back(a);
  return true;
}

bool IsWriteOption(const std::string& a) { return a == "--force" || a == "--break-links" || a == "--store"; }

}  // namespace

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const RunOptions& options) {
  CStdinSpool stdinSpool;
  Context ctx{out, err, {}, std::chrono::seconds(10), {}, {}, &stdinSpool, {}, options};
  if (const char* wait = std::getenv("TARN_PAK_LOCK_TIMEOUT")) {
    char* end = nullptr;
    const double seconds = std::strtod(wait, &end);
    if (end != wait && seconds >= 0 && seconds < 86400)
      ctx.lockTimeout = std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
  }
  if (const char* level = std::getenv("TARN_PAK_DEFLATE_LEVEL")) {
    if (level[0] >= '0' && level[0] <= '9' && level[1] == '\0') ctx.write.deflateLevel = level[0] - '0';
  }
  // Before the command word, the options of every command.
  std::size_t at = 0;
  while (at < args.size() && TakeCommonOption(ctx, args[at])) ++at;
  if (at == args.size()) return ctx.Usage("no command given");
  const std::string& word = args[at];
  if (word == "--help" || word == "-h" || word == "help") {
    const auto named = at + 1 < args.size() ? Commands().find(args[at + 1]) : Commands().end();
    out << (named != Commands().end() ? UsageOf(named->first, named->second) : Help());
    return 0;
  }
  if (word == "--version") {
    out << "tarn-pak " << TARN_VERSION << "\n";
    return 0;
  }
  const auto command = Commands().find(word);
  if (command == Commands().end())
    return ctx.Usage((word.size() > 1 && word[0] == '-' ? "unknown option " : "unknown command ") + Quoted(word));
  const CommandSpec& spec = command->second;
  // After it, up to "--": the command's own options (with their values), and of every
  // command's those it takes. Anything else that looks like an option is refused rather than
  // taken for a name, so that an entry named "-v" is reached after "--" and only there.
  std::vector<std::string> rest;
  bool ended = false;
  for (std::size_t i = at + 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (ended || a.size() < 2 || a[0] != '-') {
      rest.push_back(a);
    } else if (a == "--") {
      ended = true;
      rest.push_back(a);
    } else if (a == "--help" || a == "-h") {
      out << UsageOf(word, spec);
      return 0;
    } else if (spec.values.contains(a)) {
      rest.push_back(a);
      if (i + 1 < args.size()) rest.push_back(args[++i]);
    } else if (spec.flags.contains(a)) {
      rest.push_back(a);
    } else if (IsWriteOption(a) && !spec.writes) {
      return ctx.Usage(a +
                       " goes with the commands that write a file: create, repack, add, rm, rename, wad, ents, "
                       "bspx, maptex, textures and glow");
    } else if (!TakeCommonOption(ctx, a)) {
      return ctx.Usage("unknown option " + Quoted(a) + " of " + word +
                       "; a name that begins with \"-\" goes after \"--\"");
    }
  }
  if (ctx.voice.quiet && ctx.voice.verbose) return ctx.Usage("--quiet and --verbose contradict each other");
  if (ctx.voice.json && !spec.json) return ctx.Usage("--json goes with list, info, check, which, diff and find");
  if (std::count_if(rest.begin(), rest.end(), [](const std::string& a) { return IsStdStream(a); }) > 1)
    return ctx.Usage("only one argument can be \"-\": standard input is read once, and output goes to one place");
  return spec.run(ctx, rest);
}

}  // namespace tarn::cli
