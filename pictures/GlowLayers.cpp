#include "pictures/GlowLayers.h"

#include <stb_image_resize.h>

#include <algorithm>
#include <cstring>

#include "pictures/ImageEncode.h"
#include "pictures/PaletteMatch.h"

namespace tarn {

namespace {

void Put(RgbaImage& image, std::size_t i, const Rgb& c, std::uint8_t alpha) {
  std::uint8_t* p = image.rgba.data() + 4 * i;
  p[0] = c.r, p[1] = c.g, p[2] = c.b, p[3] = alpha;
}

// A layer made when its first pixel is put.
RgbaImage& Layer(RgbaImage& layer, int width, int height) {
  if (layer.rgba.empty()) StartImage(layer, width, height);
  return layer;
}

// Yamagi's choice of colour under a see-through pixel (R_Convert8to32): the pixel above,
// below, left or right that is not see-through, else index 0. Its tests are kept as they are,
// "i > width" included.
std::uint8_t FringeIndex(const std::vector<std::uint8_t>& px, std::size_t i, std::size_t width) {
  const std::size_t s = px.size();
  if (i > width && px[i - width] != 255) return px[i - width];
  if (i + width < s && px[i + width] != 255) return px[i + width];
  if (i > 0 && px[i - 1] != 255) return px[i - 1];
  if (i + 1 < s && px[i + 1] != 255) return px[i + 1];
  return 0;
}

bool Lights(const std::uint8_t* p) { return p[3] >= 128 && (p[0] | p[1] | p[2]) != 0; }
bool Holds(const std::uint8_t* p) { return p[3] >= 128; }

// A layer at the original's size: nearest pixel for the masks.
const std::uint8_t* At(const RgbaImage& layer, int x, int y, int width, int height) {
  const int lx = static_cast<int>(static_cast<std::int64_t>(x) * layer.width / width);
  const int ly = static_cast<int>(static_cast<std::int64_t>(y) * layer.height / height);
  return layer.Pixel(static_cast<std::size_t>(ly) * static_cast<std::size_t>(layer.width) +
                     static_cast<std::size_t>(lx));
}

bool Usable(const RgbaImage* image) {
  return image && image->width > 0 && image->height > 0 && image->rgba.size() == image->PixelCount() * 4;
}

// The shade of a colour-mapped range nearest a colour of the layer's grey ramp.
int NearestShade(const Palette& palette, const std::uint8_t* p) {
  int best = 0;
  long bestD = -1;
  for (int k = 0; k < kColormapShades; ++k) {
    const Rgb& c = palette.colors[static_cast<std::size_t>(k)];
    const long d = (c.r - p[0]) * (c.r - p[0]) + (c.g - p[1]) * (c.g - p[1]) + (c.b - p[2]) * (c.b - p[2]);
    if (bestD < 0 || d < bestD) best = k, bestD = d;
  }
  return best;
}

}  // namespace

PictureLayers SplitLayers(const Picture& picture, const Palette& palette, const LayerRules& rules) {
  PictureLayers out;
  const int w = picture.width, h = picture.height;
  if (w <= 0 || h <= 0 || picture.IsTrueColor()) return out;
  StartImage(out.base, w, h);
  const std::vector<std::uint8_t> px = picture.Packed();
  const Rgb black{};
  for (std::size_t i = 0; i < px.size(); ++i) {
    const std::uint8_t v = px[i];
    const Rgb& c = palette.colors[v];
    if (rules.Transparent(v)) {
      Put(out.base, i, rules.fringe ? palette.colors[FringeIndex(px, i, static_cast<std::size_t>(w))] : black, 0);
    } else if (rules.Pants(v)) {
      Put(out.base, i, black, 255);
      Put(Layer(out.pants, w, h), i, palette.colors[static_cast<std::size_t>(v - kPantsFirst)], 255);
    } else if (rules.Shirt(v)) {
      Put(out.base, i, black, 255);
      Put(Layer(out.shirt, w, h), i, palette.colors[static_cast<std::size_t>(v - kShirtFirst)], 255);
    } else if (rules.Glowing(v)) {
      Put(out.base, i, black, 255);
      Put(Layer(out.glow, w, h), i, c, 255);
    } else {
      Put(out.base, i, c, 255);
    }
  }
  return out;
}

bool JoinLayers(const LayerImages& layers, const Picture& original, const Palette& palette, const LayerRules& rules,
                std::vector<std::uint8_t>& out, std::string* error) {
  auto fail = [&](const char* why) {
    if (error) *error = why;
    return false;
  };
  const int w = original.width, h = original.height;
  if (w <= 0 || h <= 0 || original.IsTrueColor()) return fail("the original picture has no indices");
  if (!Usable(layers.base)) return fail("the replacement has no pixels");
  // The base at the original's size.
  RgbaImage scaled;
  const RgbaImage* base = layers.base;
  if (base->width != w || base->height != h) {
    StartImage(scaled, w, h);
    if (!::stbir_resize_uint8_srgb(base->rgba.data(), base->width, base->height, 0, scaled.rgba.data(), w, h, 0, 4, 3,
                                   0))
      return fail("the replacement cannot be scaled to the original's size");
    base = &scaled;
  }
  const RgbaImage* glow = Usable(layers.glow) && rules.lit ? layers.glow : nullptr;
  const RgbaImage* pants = Usable(layers.pants) && rules.colormap ? layers.pants : nullptr;
  const RgbaImage* shirt = Usable(layers.shirt) && rules.colormap ? layers.shirt : nullptr;
  const bool seeThrough = rules.transparent >= 0;

  const std::size_t n = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
  const std::vector<std::uint8_t> orig = original.Packed();
  out.assign(n, 0);
  // What each pixel is: decided (its index known) or left to the encoder with this colour.
  RgbaImage combined;
  StartImage(combined, w, h);
  RgbaImage glowMask;
  std::vector<std::uint8_t> decided(n, 0);
  bool encode = false, anyGlow = false;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const std::size_t i = static_cast<std::size_t>(y) * static_cast<std::size_t>(w) + static_cast<std::size_t>(x);
      const std::uint8_t* b = base->Pixel(i);
      const std::uint8_t o = orig[i];
      std::uint8_t* c = combined.rgba.data() + 4 * i;
      if (seeThrough && b[3] < 128) {
        out[i] = rules.Transparent(o) ? o : static_cast<std::uint8_t>(rules.transparent);
        decided[i] = 1;
        continue;  // transparent black in combined: the encoder keeps it see-through
      }
      if (const std::uint8_t* p = pants ? At(*pants, x, y, w, h) : nullptr; p && Holds(p)) {
        out[i] = static_cast<std::uint8_t>(kPantsFirst + NearestShade(palette, p));
        decided[i] = 1;
        continue;
      }
      if (const std::uint8_t* s = shirt ? At(*shirt, x, y, w, h) : nullptr; s && Holds(s)) {
        out[i] = static_cast<std::uint8_t>(kShirtFirst + NearestShade(palette, s));
        decided[i] = 1;
        continue;
      }
      const std::uint8_t* g = glow ? At(*glow, x, y, w, h) : nullptr;
      const bool glowing = g && Lights(g);
      const std::uint8_t* from = glowing ? g : b;
      c[0] = from[0], c[1] = from[1], c[2] = from[2], c[3] = 255;
      // Unchanged: the original's index, which of a colour held twice may not be the encoder's.
      // A glowing index whose colour is black lights nothing, so its glow layer is dark too.
      const Rgb& was = palette.colors[o];
      const bool darkGlow = rules.Glowing(o) && (was.r | was.g | was.b) == 0;
      if (was.r == c[0] && was.g == c[1] && was.b == c[2] && (rules.Glowing(o) == glowing || darkGlow) &&
          !(seeThrough && rules.Transparent(o))) {
        out[i] = o;
        decided[i] = 1;
        continue;
      }
      if (glowing) {
        Layer(glowMask, w, h);
        std::memset(glowMask.rgba.data() + 4 * i, 255, 4);
        anyGlow = true;
      }
      encode = true;
    }
  if (!encode) return true;

  EncodeOptions o;
  o.paletteChoice = PaletteChoice::Given;
  o.palette = palette;
  // Where the picture is lit, only the glow layer's pixels glow; elsewhere glowing colours are
  // colours like any other.
  o.fullbright = rules.lit ? Fullbright::Never : Fullbright::Allow;
  if (anyGlow) o.glow = std::move(glowMask);
  // 255 is no colour for a lit picture either: Quakespasm and DarkPlaces make it glow.
  o.opaque = !seeThrough && !rules.lit;
  const EncodeResult r = EncodeImage(combined, OutputKind::Lmp, o);
  if (!r.ok) {
    if (error) *error = r.error;
    return false;
  }
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const std::size_t i = static_cast<std::size_t>(y) * static_cast<std::size_t>(w) + static_cast<std::size_t>(x);
      if (!decided[i]) out[i] = r.picture.At(x, y);
    }
  return true;
}

std::array<Picture, 3> MipLevelsFor(const Picture& full, const Palette& palette, const LayerRules& rules) {
  RgbaImage image;
  ImageFromIndices(full.width, full.height, full.Packed(), palette, false, image);
  const std::vector<std::uint8_t> px = full.Packed();
  bool anyTransparent = false;
  for (std::size_t i = 0; i < px.size(); ++i)
    if (rules.Transparent(px[i])) image.rgba[4 * i + 3] = 0, anyTransparent = true;
  MatchRules match;
  match.fullbright = rules.lit ? Fullbright::Never : Fullbright::Allow;
  match.fullbrightFirst = kQuakeFullbrightFirst;
  match.fullbrightLast = kQuakeFullbrightLast;
  // 255 is kept from a lit texture's levels too, where the engines make it glow.
  match.transparent = anyTransparent || rules.lit;
  PaletteMatcher matcher(palette, match);
  std::array<Picture, 3> levels = MakeMipLevels(image, anyTransparent, matcher, Dither::None);
  if (!rules.lit || rules.glowFirst > rules.glowLast) return levels;
  // A smaller level's pixel glows where at least half of the full-size pixels under it do, as
  // the encoder makes them.
  for (std::size_t k = 0; k < levels.size(); ++k) {
    Picture& m = levels[k];
    const int side = 2 << k;
    for (int y = 0; y < m.height; ++y)
      for (int x = 0; x < m.width; ++x) {
        int lit = 0;
        for (int dy = 0; dy < side; ++dy)
          for (int dx = 0; dx < side; ++dx)
            lit += rules.Glowing(
                full.At(std::min(x * side + dx, full.width - 1), std::min(y * side + dy, full.height - 1)));
        std::uint8_t& v =
            m.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(m.Stride()) + static_cast<std::size_t>(x)];
        if (2 * lit < side * side || (anyTransparent && v == kTransparentIndex) || rules.Glowing(v)) continue;
        // The nearest glowing colour.
        const Lab want = ToLab(palette.colors[v].r, palette.colors[v].g, palette.colors[v].b);
        double best = 1e300;
        for (int g = std::max(rules.glowFirst, kQuakeFullbrightFirst);
             g <= std::min(rules.glowLast, kQuakeFullbrightLast); ++g) {
          const Rgb& c = palette.colors[static_cast<std::size_t>(g)];
          const double d = DeltaE2000(want, ToLab(c.r, c.g, c.b));
          if (d < best) best = d, v = static_cast<std::uint8_t>(g);
        }
      }
  }
  return levels;
}

std::vector<GlowPixel> GlowingPixels(const Picture& picture, int first, int last, int transparent) {
  std::vector<GlowPixel> out;
  if (picture.IsTrueColor()) return out;
  for (int y = 0; y < picture.height; ++y)
    for (int x = 0; x < picture.width; ++x) {
      const int v = picture.At(x, y);
      if (v >= first && v <= last && v != transparent) out.push_back({x, y, static_cast<std::uint8_t>(v)});
    }
  return out;
}

std::vector<GlowPixel> StrayGlowPixels(const Picture& picture, int first, int last, int transparent) {
  const std::vector<GlowPixel> all = GlowingPixels(picture, first, last, transparent);
  if (all.empty()) return {};
  const int w = picture.width, h = picture.height;
  auto glows = [&](int x, int y) {
    if (x < 0 || y < 0 || x >= w || y >= h) return false;
    const int v = picture.At(x, y);
    return v >= first && v <= last && v != transparent;
  };
  // Groups by flood fill over the eight neighbours; only the small ones are kept, and a group
  // stops being small as soon as it passes the limit.
  std::vector<std::uint8_t> seen(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), 0);
  std::vector<std::vector<GlowPixel>> small;
  std::vector<GlowPixel> stack, group;
  for (const GlowPixel& start : all) {
    std::uint8_t& s =
        seen[static_cast<std::size_t>(start.y) * static_cast<std::size_t>(w) + static_cast<std::size_t>(start.x)];
    if (s) continue;
    s = 1;
    stack.assign(1, start);
    group.clear();
    while (!stack.empty()) {
      const GlowPixel p = stack.back();
      stack.pop_back();
      group.push_back(p);
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
          const int nx = p.x + dx, ny = p.y + dy;
          if (!glows(nx, ny)) continue;
          std::uint8_t& t =
              seen[static_cast<std::size_t>(ny) * static_cast<std::size_t>(w) + static_cast<std::size_t>(nx)];
          if (t) continue;
          t = 1;
          stack.push_back({nx, ny, picture.At(nx, ny)});
        }
    }
    if (static_cast<int>(group.size()) <= kStrayGroup) {
      small.push_back(group);
      if (static_cast<int>(small.size()) > kStrayGroups) return {};  // a pattern, drawn on purpose
    }
  }
  std::vector<GlowPixel> out;
  for (const auto& g : small) out.insert(out.end(), g.begin(), g.end());
  if (small.size() > 1) {
    int minX = w, maxX = -1, minY = h, maxY = -1;
    for (const GlowPixel& p : out) {
      minX = std::min(minX, p.x), maxX = std::max(maxX, p.x);
      minY = std::min(minY, p.y), maxY = std::max(maxY, p.y);
    }
    const bool acrossX =
        std::all_of(out.begin(), out.end(), [&](const GlowPixel& p) { return glows(minX + maxX - p.x, p.y); });
    const bool acrossY =
        std::all_of(out.begin(), out.end(), [&](const GlowPixel& p) { return glows(p.x, minY + maxY - p.y); });
    if (acrossX || acrossY) return {};
  }
  std::sort(out.begin(), out.end(),
            [](const GlowPixel& a, const GlowPixel& b) { return a.y != b.y ? a.y < b.y : a.x < b.x; });
  return out;
}

std::uint8_t NearestNotGlowing(const Palette& palette, std::uint8_t index, int first, int last, int transparent) {
  const Rgb& want = palette.colors[index];
  const Lab lab = ToLab(want.r, want.g, want.b);
  double best = 1e300;
  std::uint8_t found = 0;
  for (int i = 0; i < 256; ++i) {
    if ((i >= first && i <= last) || i == transparent) continue;
    const Rgb& c = palette.colors[static_cast<std::size_t>(i)];
    const double d = DeltaE2000(lab, ToLab(c.r, c.g, c.b));
    if (d < best) best = d, found = static_cast<std::uint8_t>(i);
  }
  return found;
}

}  // namespace tarn
