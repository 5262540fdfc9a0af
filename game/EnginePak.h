// A .pak as each engine's own loader reads it: the file count its header claims, the checks made
// on that header and what follows from failing them (the engine stops, skips the pak, or ignores
// it), and each record's name as the engine copies it. Tarn's own PAK reader is stricter and
// kinder at once (it refuses a directory past the end, and reads every name to its 56 bytes),
// so it cannot answer what the engine loads.
#pragma once

#include <filesystem>
#include <string>

#include "game/EngineProfile.h"
#include "game/GameFolder.h"

namespace tarn {

class CReadSource;

enum class PakVerdict {
  Loads,    // on the search path, with the records listed
  Ignored,  // passed over without an error (an empty pak in Quakespasm)
  Refused,  // a message, and the engine goes on without it
  Stops,    // a fatal error: the engine quits
};

struct EnginePak {
  PakVerdict verdict = PakVerdict::Loads;
  std::string rule;    // the check that reports anything but Loads
  std::string reason;  // what the engine finds wrong, with its own message
};

// Whether the engine's PAK loader is modelled here (every profile's but FTE's).
bool ReadsPakAsEngine(const EngineProfile& profile);

// Reads path's header and directory as the profile's engine does: out gets the records it holds
// (those past the end of the file only counted, in out.pastEnd; names the engine holds under
// another name flagged NeverFound), and out.records the count its header claims.
EnginePak ReadPakAsEngine(const EngineProfile& profile, const std::filesystem::path& path, ArchiveListing& out);
// The same on bytes already open; fileName is the pak's name in the engine's messages.
EnginePak ReadPakAsEngine(const EngineProfile& profile, CReadSource& source, const std::string& fileName,
                          ArchiveListing& out);

}  // namespace tarn
