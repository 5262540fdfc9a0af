// What one family of engines does with a game folder: which package files it loads and in what
// order, how it compares names, and what it refuses. Each rule is written from that engine's own
// code (cited where the rule is applied, in EngineProfile.cpp, GameFolder.cpp and EngineChecks.cpp).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarn {

enum class Engine { Quake, Qss, Fte, Quake2, Yamagi, Rerelease, DarkPlaces, GoldSrc };

// How an engine matches the name it asks for against a stored name.
enum class NameMatch {
  Exact,    // byte for byte (strcmp, or a Linux file system)
  AnyCase,  // ASCII letters in either case (Q_strcasecmp)
  // The exact name, and when that file is missing the name lower-cased (a Linux file system
  // asked twice): "TEST.CFG" finds test.cfg, "Test.cfg" does not find TEST.CFG.
  ExactThenLower,
  // The folders on the way byte for byte, the file's own name in any case (a folder listed and
  // its names matched): "sub/test.cfg" finds sub/TEST.CFG, not SUB/test.cfg.
  AnyCaseFileName,
};

struct EngineProfile {
  Engine id;
  std::string_view name;         // as typed after --engine and kept in the settings
  std::string_view displayName;  // what a window's menus and lists show ("Yamagi Quake II")
  std::string_view engines;      // the engines that follow these rules, for messages
  // More files than this in one .pak and the engine stops; 0 when it has no limit.
  int maxFilesInPak;
  NameMatch pakNames;    // members of a .pak
  NameMatch zipNames;    // members of a .pk3 and the other zip packages
  NameMatch looseNames;  // files in the game folder, on Linux
  // The loose files of a folder win over every package of that folder (else every package wins).
  bool looseFilesWin;
  bool readsLit;    // coloured light from maps/NAME.lit
  bool quake2Data;  // Quake II maps and sounds, not Quake's
  // How `exec` finds a loose script (.cfg, .rc), where that is not as every other loose file.
  NameMatch looseScripts = looseNames;
};

// What an engine's model loader does with a model past one of its limits.
enum class PastLimit {
  Stops,      // a fatal error: the engine quits, or drops to the console
  Drops,      // the game ends with an error (Quake II's ERR_DROP) and the engine shows its console
  Refuses,    // the model is not loaded; the game goes on without it
  Cuts,       // the rest is left out, with a warning
  Warns,      // loaded, with a warning
  Overflows,  // not checked: the engine writes past a table of this size
  Unchecked,  // the format's own limit, which the loader does not check
};

struct ModelLimit {
  std::int64_t max = 0;        // 0: no limit known
  std::string_view name = {};  // the engine's own name for it ("MAXALIASVERTS")
  PastLimit past = PastLimit::Stops;
  std::string_view said = {};  // what the engine prints first ("has too many vertices")
};

// One engine's limits for one model format, each cited where it is set (EngineProfile.cpp).
struct ModelLimits {
  std::string_view engine;  // whose limits, for messages ("Quakespasm 0.95")
  ModelLimit vertices, triangles;
  ModelLimit frames;  // MDL: poses, a group's frames counted one by one
  ModelLimit skins, skinHeight;
  // The error that ends the game when the loader refuses a model (PastLimit::Drops), where it
  // is not the loader's own message ("Mod_ForName: Failed to load").
  std::string_view dropped = {};
};

// The limits that apply to an engine's profile for MDL (md2 false) or MD2 models, the most
// generous first: a model past none of the first may still be past a later, older engine's.
// Empty when the profile's engines do not load the format, or their limits were not traced.
std::span<const ModelLimits> ModelLimitsFor(Engine engine, bool md2);

// The model formats an engine may be asked for, told apart by their first bytes.
enum class ModelFormat {
  Mdl,       // Quake's, "IDPO"
  Md2,       // Quake II's, "IDP2"
  Md3,       // Quake III's, "IDP3"
  Iqm,       // the Inter-Quake Model, "INTERQUAKEMODEL"
  Md5,       // a text .md5mesh, "MD5Version" (the 2021 re-release ships them beside its MDLs)
  HalfLife,  // a Half-Life studio model, "IDST" (version 10)
};

// What an engine does with a model of a format that a game asks for by its name.
struct FormatSupport {
  bool loads = true;
  PastLimit refusal = PastLimit::Stops;  // Stops, Drops or Refuses when it does not load it
  // What it prints; "%i" stands for the file's first 32-bit word, which a Quake engine's map
  // loader reads as the map's version ("Mod_LoadBrushModel: ... has unsupported version number
  // (%i)": 860898377 for "IDP3").
  std::string_view said = {};
  std::string_view others = {};  // which engines of the profile's family do load it, for messages
  // Engines of the profile that take a file of this format in place of the MDL of the same name
  // (progs/x.md5mesh for progs/x.mdl); empty when none does.
  std::string_view replacesMdl = {};
};

FormatSupport ModelFormatSupport(Engine engine, ModelFormat format);
// "a Quake III model (MD3)", ... for messages.
std::string_view ModelFormatName(ModelFormat format);

// The profile for a profile or engine name ("quake", "ironwail", "fteqw", ...); nullptr when unknown.
const EngineProfile* FindEngineProfile(std::string_view name);
const EngineProfile& DefaultEngineProfile();
// Every profile, in the order the menus and messages list them.
std::span<const EngineProfile> EngineProfiles();
// "quake, qss, fte, quake2, yamagi, rerelease, darkplaces, goldsrc", for messages.
std::string EngineProfileNames();

// Whether stored names of this kind answer a request only in their exact spelling (or one
// derived from it, never in any case).
inline bool IsExact(NameMatch m) { return m != NameMatch::AnyCase; }

// Whether a stored name answers a request for requested under this kind of comparison.
bool NameAnswers(NameMatch m, std::string_view stored, std::string_view requested);

// Whether a name holds ASCII capital letters, which an engine that compares names exactly
// will not find when asked for the name in lower case.
bool HasCapitals(std::string_view name);

// Lower-case extension of a file name without the dot ("pak" for "PAK1.PAK"); empty when none.
std::string ExtensionOf(std::string_view fileName);

}  // namespace tarn
