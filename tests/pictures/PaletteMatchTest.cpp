// Palette matching: exact colours, the fullbright and transparency rules, dithering.
#include <set>

#include "TestSupport.h"
#include "pictures/PaletteMatch.h"

namespace tarn::test {
namespace {

MatchRules QuakeRules(Fullbright f, bool transparent = false) {
  return {f, kQuakeFullbrightFirst, kQuakeFullbrightLast, transparent};
}

TEST(PaletteMatch, DeltaE2000MatchesPublishedPairs) {
  // Sharma, Wu and Dalal's test data.
  EXPECT_NEAR(DeltaE2000({50, 2.6772, -79.7751}, {50, 0, -82.7485}), 2.0425, 1e-4);
  EXPECT_NEAR(DeltaE2000({50, -1.3802, -84.2814}, {50, 0, -82.7485}), 1.0000, 1e-4);
  EXPECT_NEAR(DeltaE2000({50, 2.49, -0.001}, {50, -2.49, 0.0011}), 7.2195, 1e-4);
  EXPECT_NEAR(DeltaE2000({50, 2.5, 0}, {73, 25, -18}), 27.1492, 1e-4);
  EXPECT_NEAR(DeltaE2000({60.2574, -34.0099, 36.2677}, {60.4626, -34.1751, 39.4387}), 1.2644, 1e-4);
  EXPECT_NEAR(DeltaE2000({2.0776, 0.0795, -1.135}, {0.9033, -0.0636, -0.5514}), 0.9082, 1e-4);
}

TEST(PaletteMatch, ExactColoursPreferTheIndexThatDoesNotGlow) {
  const Palette q = QuakePalette();
  PaletteMatcher m(q, QuakeRules(Fullbright::Auto));
  int pairs = 0;
  for (int i = 0; i < 256; ++i) {
    const Rgb c = q.colors[static_cast<std::size_t>(i)];
    // The lowest index of the colour that does not glow, otherwise the lowest.
    int first = -1;
    for (int j = 255; j >= 0; --j)
      if (q.colors[static_cast<std::size_t>(j)] == c && (first < 0 || j < 224 || first >= 224)) first = j;
    if (first != i) ++pairs;
    EXPECT_EQ(m.Match(c.r, c.g, c.b), first) << i;
  }
  EXPECT_EQ(pairs, 12);
}

TEST(PaletteMatch, FullbrightRules) {
  const Palette q = QuakePalette();
  const Rgb glow = q.colors[250];
  PaletteMatcher automatic(q, QuakeRules(Fullbright::Auto)), allow(q, QuakeRules(Fullbright::Allow)),
      never(q, QuakeRules(Fullbright::Never));
  EXPECT_EQ(automatic.Match(glow.r, glow.g, glow.b), 250);
  EXPECT_LT(never.Match(glow.r, glow.g, glow.b), 224);
  // A colour one step off: only allow may give a glowing index.
  const std::uint8_t r = static_cast<std::uint8_t>(glow.r - 1);
  EXPECT_EQ(allow.Match(r, glow.g, glow.b), 250);
  EXPECT_LT(automatic.Match(r, glow.g, glow.b), 224);
  // Over every colour of a coarse grid, auto and never stay out of the range and off 255.
  for (int c = 0; c < 1 << 15; c += 7) {
    const auto v = [&](int s) { return static_cast<std::uint8_t>(((c >> s) & 31) * 8 + 3); };
    EXPECT_LT(automatic.Nearest(v(0), v(5), v(10)), 224);
    EXPECT_LT(never.Nearest(v(0), v(5), v(10)), 224);
  }
}

TEST(PaletteMatch, DitheringKeepsTransparencyExactColoursAndTheFullbrightRule) {
  const Palette q = QuakePalette();
  const int w = 64, h = 64;
  Bytes rgba(w * h * 4), mask(w * h, 0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      std::uint8_t* p = rgba.data() + 4 * (y * w + x);
      p[0] = static_cast<std::uint8_t>(x * 4), p[1] = static_cast<std::uint8_t>(y * 4), p[2] = 200, p[3] = 255;
      if ((x + y) % 9 == 0) mask[static_cast<std::size_t>(y * w + x)] = 1;
      if (x == 10) p[0] = q.colors[240].r, p[1] = q.colors[240].g, p[2] = q.colors[240].b;  // an exact glowing colour
    }
  for (Dither d : {Dither::None, Dither::FloydSteinberg, Dither::Ordered}) {
    PaletteMatcher m(q, QuakeRules(Fullbright::Auto, true));
    Bytes out(w * h);
    MatchPixels(rgba, w, h, mask, m, d, out);
    std::set<int> used;
    for (int i = 0; i < w * h; ++i) {
      const bool transparent = mask[static_cast<std::size_t>(i)] != 0;
      EXPECT_EQ(out[static_cast<std::size_t>(i)] == 255, transparent) << i;
      used.insert(out[static_cast<std::size_t>(i)]);
      if (transparent) continue;
      if (i % w == 10) {
        EXPECT_EQ(out[static_cast<std::size_t>(i)], 240);
      } else {
        EXPECT_LT(out[static_cast<std::size_t>(i)], 224) << i;
      }
    }
    // Dithering mixes more colours into the gradient than plain matching does.
    if (d != Dither::None) {
      EXPECT_GT(used.size(), 20u);
    }
  }
}

}  // namespace
}  // namespace tarn::test
