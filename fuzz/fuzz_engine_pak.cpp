// Bytes of any shape read as a .pak by each engine's loader (EnginePak): the reader stays inside
// the bytes, allocates no more than they hold, and its counts add up.
#include <cstdint>
#include <cstdlib>

#include "fileio/ReadSource.h"
#include "game/EnginePak.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  for (const char* name : {"quake", "qss", "quake2", "yamagi", "darkplaces"}) {
    tarn::CMemorySource source(data, size);
    tarn::ArchiveListing listing;
    const tarn::EnginePak pak = tarn::ReadPakAsEngine(*tarn::FindEngineProfile(name), source, "x.pak", listing);
    if (pak.verdict != tarn::PakVerdict::Loads) continue;
    if (listing.entries.size() + listing.pastEnd != listing.records) std::abort();
    if (listing.entries.size() * 64 > size) std::abort();
    for (const tarn::ListedEntry& e : listing.entries)
      if (e.path.size() > 56) std::abort();
  }
  return 0;
}
