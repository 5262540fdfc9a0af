#include "pictures/PaletteMatch.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace tarn {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kDegree = kPi / 180.0;

// CIEDE2000 decides among the colours nearest by plain L*a*b* distance: the first eight, of
// those no farther than 1.5 times the nearest (squared: 2.25). Farther ones are where the two
// measures part ways on colours no palette entry is near, and the plain distance is the
// safer guide there; on real pictures the limits change the mean error by less than 0.01.
constexpr std::size_t kShortlist = 8;
constexpr double kReach2 = 2.25;

double Linear(int c) {
  const double v = c / 255.0;
  return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

double LabF(double t) {
  constexpr double e = 216.0 / 24389.0, k = 24389.0 / 27.0;
  return t > e ? std::cbrt(t) : (k * t + 16.0) / 116.0;
}

std::uint32_t Key(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  return (std::uint32_t{r} << 16) | (std::uint32_t{g} << 8) | b;
}

std::size_t Slot(std::uint32_t key) { return (key * 2654435761u) >> 22; }  // 10 bits

}  // namespace

Lab ToLab(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  static const auto linear = [] {
    std::array<double, 256> t{};
    for (int i = 0; i < 256; ++i) t[static_cast<std::size_t>(i)] = Linear(i);
    return t;
  }();
  const double lr = linear[r], lg = linear[g], lb = linear[b];
  // sRGB to XYZ, relative to the D65 white.
  const double x = (0.4124564 * lr + 0.3575761 * lg + 0.1804375 * lb) / 0.95047;
  const double y = 0.2126729 * lr + 0.7151522 * lg + 0.0721750 * lb;
  const double z = (0.0193339 * lr + 0.1191920 * lg + 0.9503041 * lb) / 1.08883;
  const double fx = LabF(x), fy = LabF(y), fz = LabF(z);
  return {116.0 * fy - 16.0, 500.0 * (fx - fy), 200.0 * (fy - fz)};
}

double DeltaE2000(const Lab& x, const Lab& y) {
  // The usual formula, with the hue angles' trigonometry done on vectors: the mean hue is the
  // direction of the sum of the two unit hue vectors (the bisector of the smaller arc, as the
  // formula's case analysis has it), and the hue difference's sign is that of their cross
  // product. One arc tangent, one sine and one exponential remain.
  constexpr double k25to7 = 6103515625.0;
  auto pow7 = [](double v) {
    const double v2 = v * v, v3 = v2 * v;
    return v3 * v3 * v;
  };
  const double c1 = std::sqrt(x.a * x.a + x.b * x.b), c2 = std::sqrt(y.a * y.a + y.b * y.b);
  const double cBar7 = pow7((c1 + c2) / 2.0);
  const double g = 0.5 * (1.0 - std::sqrt(cBar7 / (cBar7 + k25to7)));
  const double a1 = (1.0 + g) * x.a, a2 = (1.0 + g) * y.a;
  const double c1p = std::sqrt(a1 * a1 + x.b * x.b), c2p = std::sqrt(a2 * a2 + y.b * y.b);
  const double dL = y.l - x.l, dC = c2p - c1p;
  // |ΔH'|² = |Δa'b|² − ΔC'², signed by the turn from the first hue to the second.
  const double da = a2 - a1, db = y.b - x.b;
  const double dH2 = std::max(0.0, da * da + db * db - dC * dC);
  const double dH = (a1 * y.b - a2 * x.b) < 0 ? -std::sqrt(dH2) : std::sqrt(dH2);
  double ux = 0, uy = 0;
  if (c1p > 0) ux += a1 / c1p, uy += x.b / c1p;
  if (c2p > 0) ux += a2 / c2p, uy += y.b / c2p;
  double norm = std::sqrt(ux * ux + uy * uy);
  if (norm < 1e-12) ux = 1, uy = 0, norm = 1;  // no hue, or opposite hues: the angle 0
  const double ch = ux / norm, sh = uy / norm;
  // cos(h − 30°), cos 2h, cos(3h + 6°), cos(4h − 63°) from cos h and sin h.
  const double c2h = 2 * ch * ch - 1, s2h = 2 * sh * ch;
  const double c3h = c2h * ch - s2h * sh, s3h = s2h * ch + c2h * sh;
  const double c4h = c2h * c2h - s2h * s2h, s4h = 2 * s2h * c2h;
  const double t = 1.0 - 0.17 * (ch * std::cos(30 * kDegree) + sh * std::sin(30 * kDegree)) + 0.24 * c2h +
                   0.32 * (c3h * std::cos(6 * kDegree) - s3h * std::sin(6 * kDegree)) -
                   0.20 * (c4h * std::cos(63 * kDegree) + s4h * std::sin(63 * kDegree));
  const double lBar = (x.l + y.l) / 2.0, cBarP = (c1p + c2p) / 2.0;
  // The blue rotation term: exp(−((h − 275°) / 25°)²) is below 1e-9 beyond 115° from 275°,
  // so the angle itself is needed only for hues within that.
  double rt = 0;
  if (ch * std::cos(275 * kDegree) + sh * std::sin(275 * kDegree) > std::cos(115 * kDegree)) {
    double hBarDeg = std::atan2(sh, ch) / kDegree;
    if (hBarDeg < 0) hBarDeg += 360.0;
    const double z = (hBarDeg - 275.0) / 25.0;
    const double dTheta = 30 * kDegree * std::exp(-z * z);
    const double cBarP7 = pow7(cBarP);
    rt = -std::sin(2.0 * dTheta) * 2.0 * std::sqrt(cBarP7 / (cBarP7 + k25to7));
  }
  const double l50 = (lBar - 50.0) * (lBar - 50.0);
  const double sl = 1.0 + 0.015 * l50 / std::sqrt(20.0 + l50);
  const double sc = 1.0 + 0.045 * cBarP, shue = 1.0 + 0.015 * cBarP * t;
  const double tl = dL / sl, tc = dC / sc, th = dH / shue;
  return std::sqrt(std::max(0.0, tl * tl + tc * tc + th * th + rt * tc * th));
}

PaletteMatcher::PaletteMatcher(const Palette& palette, const MatchRules& rules)
    : m_palette(palette), m_rules(rules), m_answers(std::size_t{1} << (3 * kCacheBits), 0xFFFF) {
  for (std::size_t i = 0; i < 256; ++i) {
    const Rgb c = palette.colors[i];
    m_lab[i] = ToLab(c.r, c.g, c.b);
  }
  enum class Use { Never, ExactOnly, Free };
  auto use = [&](int i) {
    if (i == kTransparentIndex) return rules.transparent ? Use::Never : Use::ExactOnly;
    if (IsFullbright(i)) {
      if (rules.fullbright == Fullbright::Never) return Use::Never;
      return rules.fullbright == Fullbright::Allow ? Use::Free : Use::ExactOnly;
    }
    return Use::Free;
  };
  // Preferred first: the indices that do not glow, lowest first, then the others.
  std::vector<int> order;
  for (int pass = 0; pass < 2; ++pass)
    for (int i = 0; i < 256; ++i)
      if ((pass == 0) == !(IsFullbright(i) || i == kTransparentIndex)) order.push_back(i);
  for (int i : order) {
    const Use u = use(i);
    if (u == Use::Never) continue;
    if (u == Use::Free) m_candidates.push_back(static_cast<std::uint8_t>(i));
    const Rgb c = palette.colors[static_cast<std::size_t>(i)];
    const std::uint32_t key = Key(c.r, c.g, c.b);
    for (std::size_t s = Slot(key);; s = (s + 1) % m_exactKeys.size()) {
      if (m_exactValues[s] == 0) {
        m_exactKeys[s] = key;
        m_exactValues[s] = static_cast<std::uint16_t>(i + 1);
        break;
      }
      if (m_exactKeys[s] == key) break;  // a preferred index already has this colour
    }
  }
  // A palette whose every index is reserved still matches something.
  if (m_candidates.empty())
    for (int i : order)
      if (use(i) != Use::Never) m_candidates.push_back(static_cast<std::uint8_t>(i));
  if (m_candidates.empty()) m_candidates.push_back(0);
  for (std::uint8_t i : m_candidates) {
    m_candL.push_back(static_cast<float>(m_lab[i].l));
    m_candA.push_back(static_cast<float>(m_lab[i].a));
    m_candB.push_back(static_cast<float>(m_lab[i].b));
  }
}

PaletteMatcher::~PaletteMatcher() = default;

int PaletteMatcher::Exact(std::uint8_t r, std::uint8_t g, std::uint8_t b) const {
  const std::uint32_t key = Key(r, g, b);
  for (std::size_t s = Slot(key);; s = (s + 1) % m_exactKeys.size()) {
    if (m_exactValues[s] == 0) return -1;
    if (m_exactKeys[s] == key) return m_exactValues[s] - 1;
  }
}

std::uint8_t PaletteMatcher::Nearest(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  constexpr int kDrop = 8 - kCacheBits;
  const std::size_t key = (std::size_t{r} >> kDrop) << (2 * kCacheBits) | (std::size_t{g} >> kDrop) << kCacheBits |
                          (std::size_t{b} >> kDrop);
  std::uint16_t& slot = m_answers[key];
  if (slot != 0xFFFF) return static_cast<std::uint8_t>(slot);
  // Every colour of the block gets the answer for the block's centre.
  const auto centre = [](std::uint8_t c) {
    return static_cast<std::uint8_t>((c & ~((1 << kDrop) - 1)) | ((1 << kDrop) >> 1));
  };
  slot = Search(centre(r), centre(g), centre(b));
  return static_cast<std::uint8_t>(slot);
}

std::uint8_t PaletteMatcher::Search(std::uint8_t r, std::uint8_t g, std::uint8_t b) const {
  const Lab q = ToLab(r, g, b);
  // Plain L*a*b* distances to every candidate in one pass the compiler can vectorise, then the
  // shortlist, kept sorted; ties keep the preferred index.
  const std::size_t count = m_candidates.size();
  std::array<float, 256> d;
  const float ql = static_cast<float>(q.l), qa = static_cast<float>(q.a), qb = static_cast<float>(q.b);
  for (std::size_t k = 0; k < count; ++k) {
    const float dl = m_candL[k] - ql, da = m_candA[k] - qa, db = m_candB[k] - qb;
    d[k] = dl * dl + da * da + db * db;
  }
  std::array<std::pair<float, std::uint8_t>, kShortlist> best;
  std::size_t n = 0;
  for (std::size_t k = 0; k < count; ++k) {
    if (n == kShortlist && d[k] >= best[n - 1].first) continue;
    std::size_t at = n < kShortlist ? n++ : n - 1;
    while (at > 0 && best[at - 1].first > d[k]) {
      best[at] = best[at - 1];
      --at;
    }
    best[at] = {d[k], m_candidates[k]};
  }
  std::uint8_t pick = best[0].second;
  double pickDistance = DeltaE2000(q, m_lab[pick]);
  for (std::size_t k = 1; k < n && best[k].first <= best[0].first * kReach2; ++k) {
    const double d = DeltaE2000(q, m_lab[best[k].second]);
    if (d < pickDistance) pickDistance = d, pick = best[k].second;
  }
  return pick;
}

void MatchPixels(std::span<const std::uint8_t> rgba, int width, int height, std::span<const std::uint8_t> transparent,
                 PaletteMatcher& matcher, Dither dither, std::span<std::uint8_t> out) {
  const std::size_t w = static_cast<std::size_t>(std::max(width, 0));
  const std::size_t h = static_cast<std::size_t>(std::max(height, 0));
  auto isTransparent = [&](std::size_t i) { return !transparent.empty() && transparent[i] != 0; };
  auto clamp = [](float v) { return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L)); };

  if (dither != Dither::FloydSteinberg) {
    // Bayer's 8 × 8 threshold matrix, built from the 2 × 2 one.
    static const auto bayer = [] {
      std::array<float, 64> m{};
      for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
          int v = 0;
          for (int bit = 0, xx = x, yy = y; bit < 3; ++bit, xx >>= 1, yy >>= 1)
            v = (v << 2) | (((xx ^ yy) & 1) << 1 | (yy & 1));
          m[static_cast<std::size_t>(y * 8 + x)] = (static_cast<float>(v) + 0.5f) / 64.0f - 0.5f;
        }
      return m;
    }();
    // About the distance between neighbouring shades of the games' colour ramps.
    constexpr float kSpread = 32.0f;
    for (std::size_t y = 0; y < h; ++y)
      for (std::size_t x = 0; x < w; ++x) {
        const std::size_t i = y * w + x;
        const std::uint8_t* p = rgba.data() + 4 * i;
        if (isTransparent(i)) {
          out[i] = kTransparentIndex;
        } else if (dither == Dither::None) {
          out[i] = matcher.Match(p[0], p[1], p[2]);
        } else if (const int e = matcher.Exact(p[0], p[1], p[2]); e >= 0) {
          out[i] = static_cast<std::uint8_t>(e);
        } else {
          const float t = bayer[(y & 7) * 8 + (x & 7)] * kSpread;
          out[i] = matcher.Nearest(clamp(p[0] + t), clamp(p[1] + t), clamp(p[2] + t));
        }
      }
    return;
  }

  // Floyd–Steinberg, alternating direction each row so that the error does not drift one way.
  std::vector<float> errors[2] = {std::vector<float>((w + 2) * 3, 0.0f), std::vector<float>((w + 2) * 3, 0.0f)};
  const Palette& pal = matcher.GetPalette();
  for (std::size_t y = 0; y < h; ++y) {
    std::vector<float>& cur = errors[y & 1];
    std::vector<float>& next = errors[(y + 1) & 1];
    std::fill(next.begin(), next.end(), 0.0f);
    const bool forward = (y & 1) == 0;
    for (std::size_t k = 0; k < w; ++k) {
      const std::size_t x = forward ? k : w - 1 - k;
      const std::size_t i = y * w + x;
      const std::uint8_t* p = rgba.data() + 4 * i;
      float* e = cur.data() + (x + 1) * 3;
      if (isTransparent(i)) {
        out[i] = kTransparentIndex;
        continue;
      }
      if (const int exact = matcher.Exact(p[0], p[1], p[2]); exact >= 0) {
        out[i] = static_cast<std::uint8_t>(exact);
        continue;
      }
      float v[3];
      for (int c = 0; c < 3; ++c) v[c] = std::clamp(p[c] + e[c], 0.0f, 255.0f);
      const std::uint8_t index = matcher.Nearest(clamp(v[0]), clamp(v[1]), clamp(v[2]));
      out[i] = index;
      const Rgb got = pal.colors[index];
      const float err[3] = {v[0] - got.r, v[1] - got.g, v[2] - got.b};
      const std::ptrdiff_t ahead = forward ? 1 : -1;
      float* nextRow = next.data() + (x + 1) * 3;
      for (int c = 0; c < 3; ++c) {
        e[ahead * 3 + c] += err[c] * (7.0f / 16.0f);
        nextRow[-ahead * 3 + c] += err[c] * (3.0f / 16.0f);
        nextRow[c] += err[c] * (5.0f / 16.0f);
        nextRow[ahead * 3 + c] += err[c] * (1.0f / 16.0f);
      }
    }
  }
}

}  // namespace tarn
