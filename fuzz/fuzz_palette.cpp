// The palette and colour-map readers, and the remapping of art, on any bytes: palette files
// (768 bytes, RIFF, PCX), colour maps, and pictures, textures, skins and sprites remapped in place.
#include <array>

#include "FuzzPictures.h"
#include "pictures/Colormap.h"
#include "pictures/EntryPictures.h"
#include "pictures/ImageEncode.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  static const char* const kNames[] = {"gfx/x.lmp",      "gfx/palette.lmp", "gfx/colormap.lmp", "w.mip",
                                       "textures/w.wal", "progs/m.mdl",     "progs/s.spr",      "conchars"};
  const char* name = kNames[data[0] % 8];
  const std::span<const std::uint8_t> bytes(data + 1, size - 1);
  tarn::Palette palette;
  std::string error;
  tarn::LoadPaletteFile(bytes, palette, &error);
  tarn::Picture picture;
  tarn::DecodeQuakeColormap(bytes, picture);
  CheckPicture(picture);
  CheckSet(tarn::DecodeEntryBytes(name, bytes).set);
  std::array<std::uint8_t, 256> table{};
  for (std::size_t i = 0; i < 256; ++i) table[i] = static_cast<std::uint8_t>(255 - i);
  std::vector<std::uint8_t> out;
  const tarn::RemapOutcome outcome = tarn::RemapArt(name, bytes, table, out, &error);
  // A remapped file keeps its size: only indices change.
  if ((outcome == tarn::RemapOutcome::Changed || outcome == tarn::RemapOutcome::Unchanged) &&
      out.size() != bytes.size())
    std::abort();
  return 0;
}
