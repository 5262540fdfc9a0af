// What an engine refuses or misreads in an archive or a game folder: too many files in a pak,
// names it will not find, packages it never loads, maps, coloured light and sounds it cannot use.
// Only the few header bytes each check needs are read.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "game/EngineProfile.h"
#include "game/GameFolder.h"

namespace tarn {

struct EngineProblem {
  std::string file;    // the archive, or the loose file
  std::string entry;   // the path inside the archive; empty for the file itself
  std::string rule;    // "files-per-pak", "name-case", ...
  std::string engine;  // the profile's name
  std::string message;
};

// A model's format told by its first bytes, as every engine's Mod_LoadModel tells it whatever
// the file's name says; none when the bytes are no model Tarn knows.
struct SniffedModel {
  std::optional<ModelFormat> format;
  std::int32_t first = 0;   // the first 32-bit word, which a Quake engine's map loader takes for a version
  std::int32_t second = 0;  // the second: the model's version
};
SniffedModel SniffModel(std::span<const std::uint8_t> bytes);

// Every problem the view's engine has with its sources, in the order of the sources.
std::vector<EngineProblem> CheckForEngine(CGameView& view);

// Everything `tarn-pak check --engine` reports of the view, which the window's problems list
// shows too: each archive's own structure, what could not be read, then the engine's rules.
std::vector<EngineProblem> CheckEverything(CGameView& view);

}  // namespace tarn
