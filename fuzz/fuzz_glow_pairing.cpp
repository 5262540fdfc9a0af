// A replacement and its glow layer, any two pictures (PNG, TGA, ... ; the first bytes give the
// first one's length and which decoders read them), joined back into an original of any indices:
// the result is the original's size, and a pixel glows exactly where the glow layer lights it
// (opaque, not black), unless it is see-through.
#include <cstdlib>

#include "FuzzInput.h"
#include "pictures/GlowLayers.h"
#include "pictures/ImageDecode.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const char* const kNames[] = {"x.png", "x.tga", "x.bmp", "x.pcx", "x.lmp"};
  tarn::fuzz::Input in{data, size};
  const std::uint8_t names = in.Byte();
  const std::uint8_t shape = in.Byte();
  const std::size_t first = std::min<std::size_t>(in.U16(), in.size);
  const std::span<const std::uint8_t> baseBytes(in.data, first), glowBytes(in.data + first, in.size - first);
  tarn::RgbaImage base, glow;
  if (!tarn::DecodeImage(baseBytes, kNames[names % 5], base, nullptr)) return 0;
  const bool hasGlow = tarn::DecodeImage(glowBytes, kNames[(names / 5) % 5], glow, nullptr);
  if (base.PixelCount() > 128 * 128 || (hasGlow && glow.PixelCount() > 128 * 128)) return 0;
  // An original of 1 to 16 pixels a side, its indices from the base's red.
  const int w = 1 + (shape & 15), h = 1 + (shape >> 4);
  std::vector<std::uint8_t> indices(static_cast<std::size_t>(w * h));
  for (std::size_t i = 0; i < indices.size(); ++i) indices[i] = base.rgba[(4 * i) % base.rgba.size()];
  tarn::Picture original;
  tarn::BuildPicture(w, h, indices, original);
  tarn::Palette palette;
  tarn::LoadPalette(tarn::kQuakePaletteId, palette);
  tarn::LayerRules rules;
  rules.lit = true;
  rules.glowFirst = 224, rules.glowLast = 255;
  rules.transparent = names & 0x80 ? 255 : -1;
  std::vector<std::uint8_t> out;
  if (!tarn::JoinLayers({&base, hasGlow ? &glow : nullptr}, original, palette, rules, out, nullptr)) return 0;
  if (out.size() != indices.size()) std::abort();
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const std::uint8_t v = out[static_cast<std::size_t>(y * w + x)];
      if (rules.Transparent(v)) continue;
      bool lit = false;
      if (hasGlow) {
        const int gx = static_cast<int>(static_cast<std::int64_t>(x) * glow.width / w);
        const int gy = static_cast<int>(static_cast<std::int64_t>(y) * glow.height / h);
        const std::uint8_t* p = glow.Pixel(static_cast<std::size_t>(gy) * static_cast<std::size_t>(glow.width) +
                                           static_cast<std::size_t>(gx));
        lit = p[3] >= 128 && (p[0] | p[1] | p[2]) != 0;
      }
      if (rules.Glowing(v) != lit) std::abort();
    }
  return 0;
}
