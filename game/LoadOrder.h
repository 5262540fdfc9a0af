// Which packages an engine loads from a game folder and in what order, the way that engine's own
// code walks the folder; why each other package of the folder is passed over; and where a new pak
// goes so that the engine loads it last.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "game/GameFolder.h"

namespace tarn {

// What the engine makes of its game folders so far: each folder planned adds to it.
struct FolderPlan {
  std::vector<GameSource> sources;  // in the engine's order: each wins over those before it
  std::vector<PassedOver> passed;
  std::vector<LoadFailure> failures;
  std::vector<std::string> unreadable;
};

// Adds the sources of game folder number index (0 for the base game) to plan. virtualPak names a
// pak that is not there yet and is taken as loadable (PlanNewPak).
void PlanFolder(const EngineProfile& profile, const std::filesystem::path& folder, std::size_t index, FolderPlan& plan,
                const std::string& virtualPak = {});

// The package names of a pak.lst, split as the engines that read one split it.
std::vector<std::string> ParsePakList(std::string_view text);

// How the engine compares the names of an archive it loaded (and how it stores them).
void MatchNames(const EngineProfile& profile, GameSource& source);

// Yamagi Quake II keeps 63 bytes of a zip member's name (MAX_QPATH, with its NUL).
inline constexpr std::size_t kYamagiNameLimit = 64;

// Reads the package file at source.path as the engine reads it: true with its listing, the
// names as the engine holds them. Otherwise false: what the engine says of a package it cannot
// load goes to plan.failures, or, for one it passes over without a word, the reason to passedOver.
bool ReadPackage(const EngineProfile& profile, GameSource& source, FolderPlan& plan, std::string* passedOver);

}  // namespace tarn
