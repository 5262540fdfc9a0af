// Bringing true colour into a game's 256-colour palette: exact colours first, then the nearest
// colour by CIEDE2000 among the nearest by CIE L*a*b* distance, with the games' rules for glowing (fullbright) colours
// and the transparent index, and optional dithering.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "pictures/Palette.h"

namespace tarn {

enum class Fullbright {
  Auto,   // a glowing index only for a pixel of exactly its colour
  Allow,  // glowing indices are ordinary colours
  Never,  // no pixel ever gets a glowing index
};

enum class Dither { None, FloydSteinberg, Ordered };

struct MatchRules {
  Fullbright fullbright = Fullbright::Auto;
  // The glowing indices, first to last; first > last when the game has none.
  int fullbrightFirst = 1;
  int fullbrightLast = 0;
  // Index 255 is kept for transparent pixels and never given to an opaque one.
  bool transparent = false;
};

inline constexpr int kQuakeFullbrightFirst = 224;
inline constexpr int kQuakeFullbrightLast = 254;
inline constexpr std::uint8_t kTransparentIndex = 255;

// CIE L*a*b* (D65) of an sRGB colour.
struct Lab {
  double l = 0, a = 0, b = 0;
};
Lab ToLab(std::uint8_t r, std::uint8_t g, std::uint8_t b);
// The CIEDE2000 colour difference.
double DeltaE2000(const Lab& x, const Lab& y);

class PaletteMatcher {
 public:
  // Colours are matched to this many bits a channel (a 64 × 64 × 64 table of answers): every
  // colour of a block of 4 × 4 × 4 gets the answer for the block's centre. Exact palette
  // colours are found apart from it (see Exact), so they never shift.
  static constexpr int kCacheBits = 6;

  PaletteMatcher(const Palette& palette, const MatchRules& rules);
  ~PaletteMatcher();
  PaletteMatcher(const PaletteMatcher&) = delete;
  PaletteMatcher& operator=(const PaletteMatcher&) = delete;

  // The index the rules allow for exactly this colour (where the palette holds it twice, the
  // one that does not glow, otherwise the lowest), or -1.
  int Exact(std::uint8_t r, std::uint8_t g, std::uint8_t b) const;
  // The nearest of the indices any colour may take. Cached: every colour is worked out once.
  std::uint8_t Nearest(std::uint8_t r, std::uint8_t g, std::uint8_t b);
  std::uint8_t Match(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    const int e = Exact(r, g, b);
    return e >= 0 ? static_cast<std::uint8_t>(e) : Nearest(r, g, b);
  }

  const Palette& GetPalette() const { return m_palette; }
  bool IsFullbright(int index) const { return index >= m_rules.fullbrightFirst && index <= m_rules.fullbrightLast; }

 private:
  std::uint8_t Search(std::uint8_t r, std::uint8_t g, std::uint8_t b) const;

  Palette m_palette;
  MatchRules m_rules;
  std::array<Lab, 256> m_lab{};
  std::vector<std::uint8_t> m_candidates;        // the indices Nearest may give, preferred first
  std::vector<float> m_candL, m_candA, m_candB;  // their L*a*b*, apart for vectorised distances
  // Exact colours: open addressing on the 24-bit colour; value = index + 1, 0 = empty.
  std::array<std::uint32_t, 1024> m_exactKeys{};
  std::array<std::uint16_t, 1024> m_exactValues{};
  // The answers by colour to kCacheBits bits a channel, made as colours are first asked for
  // (0xFFFF: not worked out yet).
  std::vector<std::uint16_t> m_answers;
};

// Matches width × height RGBA pixels to indices. transparent marks the pixels that become
// index 255 (empty: none). Dithering spreads the error of matched pixels only: pixels of an
// exact palette colour keep it, and transparent pixels neither take nor give error.
void MatchPixels(std::span<const std::uint8_t> rgba, int width, int height, std::span<const std::uint8_t> transparent,
                 PaletteMatcher& matcher, Dither dither, std::span<std::uint8_t> out);

}  // namespace tarn
