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
#include "cli/ArchiveCommands.h"
#include "cli/CommandSupport.h"
#include "cli/EncodeCommands.h"
#include "cli/EntryCommands.h"
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
     "                                        MD3, MD5) or Half-Life's (a studio .mdl, its NAMEt.mdl\n"
     "                                        and NAME01.mdl beside it) as a Quake or Quake II model,\n"
     "                                        its animations as frames (an MD2's skin is written as\n"
     "                                        OUT.pcx beside it; an MD5 mesh's animation is\n"
     "                                        NAME.md5anim beside it)\n"
     "    model OPTIONS: --skin IMAGE (in place of the material's)   --fps N (frames a second, 10)\n"
     "      --skin-path PATH (the MD2's skin; models/OUT/OUT.pcx)   --palette, --dither, --fullbright\n"},
    {"modeledit",
     "  modeledit ARCHIVE MODEL [--list] [EDIT...]\n"
     "                                        a Quake or Quake II model changed in place, the EDITs in\n"
     "                                        the order given, every other byte kept (no vertex is\n"
     "                                        quantised again); --list: its skins, frames, flags, sync\n"
     "                                        and eye (after the EDITs); then save\n"
     "    EDITs: --skin N PICTURE (skin N, or N.K the Kth of group N, from a picture of the skins'\n"
     "      size, encoded as add --as lmp does with --palette, --dither, --fullbright, --glow MASK;\n"
     "      of an MD2, the PCX its path N names, made or replaced)   --add-skin PICTURE\n"
     "      --remove-skin N   --group-skins N COUNT INTERVALS (COUNT skins from N into a group;\n"
     "      INTERVALS: 0.1,0.2,...)   --ungroup-skins N   --skin-intervals N INTERVALS\n"
     "      --rename-frame FRAME NEWNAME   --move-frame FRAME TO   --delete-frame FRAME (FRAME: N,\n"
     "      N.K in group N, or a name; moving or deleting a group's member takes the group)\n"
     "      --flags FLAGS (rocket,grenade,gib,rotate,tracer,zombiegib,tracer2,tracer3, a number or\n"
     "      none)   --sync sync|rand   --eye X,Y,Z   an MD2's: --skin-path N PATH\n"
     "      --add-skin-path PATH\n"},
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
    "maptex, modeledit, textures --import, glow --fix):\n"
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
    "    goldsrc     Half-Life, as Xash3D FWGS loads it (halflife, xash3d)\n"
    "Each loads a game folder's packages in its own order and compares names its own way: quake\n"
    "finds names in paks and loose files (on Linux) only in their exact case, while fte, quake2,\n"
    "yamagi, darkplaces and goldsrc take names in paks in any case (and darkplaces' exec a loose .cfg's\n"
    "name). quake without gfx/pop.lmp is the shareware game: no loose file in a subfolder, and a\n"
    "mod or a pak not id's stops it. which and list --game fail when the engine would stop with\n"
    "a fatal error while loading its packages.\n"
    "\n"
    "Exit status: 0 success, 1 failure, 2 bad usage.\n";

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
struct CommandForm {
  int (*run)(const Context&, const std::vector<std::string>&);
  std::set<std::string> values;  // followed by their value
  std::set<std::string> flags;   // alone
  bool writes = false;           // --force, --break-links and --store
  bool json = false;             // --json
};

const std::map<std::string, CommandForm>& Commands() {
  static const std::map<std::string, CommandForm> commands = {
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
      {"modeledit",
       {CmdModelEdit,
        {"--skin", "--add-skin", "--remove-skin", "--group-skins", "--ungroup-skins", "--skin-intervals",
         "--rename-frame", "--move-frame", "--delete-frame", "--flags", "--sync", "--eye", "--skin-path",
         "--add-skin-path", "--palette", "--dither", "--fullbright", "--glow"},
        {"--list"},
        true}},
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
std::string UsageOf(const std::string& word, const CommandForm& form) {
  std::string usage = "Usage: tarn-pak [-q|-v] " + word + " ...\n";
  for (const CommandUsage& u : kUsage)
    if (word == u.command) usage += u.text;
  usage += "\n";
  usage += "  -q, -v    fewer or more messages on standard error, as before the command\n";
  if (form.json) usage += "  --json    one JSON document on standard output in place of the text\n";
  usage +=
      "  --        ends the options: every argument after it is a name or a path, even one that\n"
      "            begins with \"-\"\n";
  if (form.writes) usage += std::string("\n") + kWriteOptions;
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
  const CommandForm& form = command->second;
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
      out << UsageOf(word, form);
      return 0;
    } else if (form.values.contains(a)) {
      rest.push_back(a);
      if (i + 1 < args.size()) rest.push_back(args[++i]);
    } else if (form.flags.contains(a)) {
      rest.push_back(a);
    } else if (IsWriteOption(a) && !form.writes) {
      return ctx.Usage(a +
                       " goes with the commands that write a file: create, repack, add, rm, rename, wad, ents, "
                       "bspx, maptex, modeledit, textures and glow");
    } else if (!TakeCommonOption(ctx, a)) {
      return ctx.Usage("unknown option " + Quoted(a) + " of " + word +
                       "; a name that begins with \"-\" goes after \"--\"");
    }
  }
  if (ctx.voice.quiet && ctx.voice.verbose) return ctx.Usage("--quiet and --verbose contradict each other");
  if (ctx.voice.json && !form.json) return ctx.Usage("--json goes with list, info, check, which, diff and find");
  if (std::count_if(rest.begin(), rest.end(), [](const std::string& a) { return IsStdStream(a); }) > 1)
    return ctx.Usage("only one argument can be \"-\": standard input is read once, and output goes to one place");
  return form.run(ctx, rest);
}

}  // namespace tarn::cli
