// Bytes of any shape read as the header of a map, a .lit file, a sound and a model (its format
// told by its first bytes, an MDL's poses counted, an MD2's texture coordinates off its skin
// found), as a pak.lst, and (split in two) as a pattern and a path: every reader stays inside
// the bytes and terminates.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "game/ArchiveDiff.h"
#include "game/EngineChecks.h"
#include "game/LoadOrder.h"
#include "maps/MapHeader.h"
#include "models/ModelHeader.h"
#include "sounds/SoundInfo.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  const tarn::MapHeader map = tarn::ReadMapHeader(bytes);
  if (map.hasLighting && (map.lightingLength < 0 || size < tarn::kMapHeaderBytes)) std::abort();
  (void)tarn::ReadLitHeader(bytes);
  (void)tarn::ReadModelHeader(bytes);
  const tarn::SniffedModel sniffed = tarn::SniffModel(bytes);
  if (sniffed.format && size < 4) std::abort();
  if (tarn::CountMdlPoses(bytes) < -1) std::abort();
  const tarn::OffSkinCoordinates off = tarn::FindMd2OffSkinCoordinates(bytes);
  if (off.count < 0 || (off.count > 0 && size < tarn::kModelHeaderBytes - 16)) std::abort();
  const tarn::SoundHeader sound = tarn::ReadSoundHeader(bytes);
  if (sound.fmtFound && sound.container != tarn::SoundContainer::Wave) std::abort();
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (const std::string& token : tarn::ParsePakList(text))
    if (token.empty() && text.find('"') == std::string_view::npos) std::abort();
  const std::size_t half = size / 2;
  (void)tarn::WildcardMatch(text.substr(0, half), text.substr(half));
  return 0;
}
