#include "pictures/ImageEncode.h"

#include <libimagequant.h>
#include <stb_image_resize.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "fileio/ByteIO.h"
#include "fileio/Strings.h"
#include "pictures/HalfLife.h"
#include "pictures/Sprites.h"

namespace tarn {

namespace {

constexpr int kTextureStep = 16;

bool IsTexture(OutputKind kind) { return kind == OutputKind::Mip || kind == OutputKind::Wal; }

std::string SizeText(int width, int height) { return std::to_string(width) + " × " + std::to_string(height); }

// Where index 255 stands for a transparent pixel: pictures, and textures named "{...".
bool IsTransparentKind(OutputKind kind, const std::string& name) {
  if (IsTexture(kind)) return !name.empty() && name[0] == '{';
  return true;
}

bool TransparentPixel(const std::uint8_t* p) { return p[3] < 128; }

// width × height indices, rows without padding.
Picture ToPicture(int width, int height, std::span<const std::uint8_t> indices) {
  Picture p;
  BuildPicture(width, height, indices, p);
  return p;
}

bool OptimalPalette(const RgbaImage& image, std::span<const std::uint8_t> transparent, Palette& out,
                    std::string* error) {
  // Transparent pixels are left out of the palette; index 255 stays theirs.
  std::vector<std::uint8_t> pixels = image.rgba;
  for (std::size_t i = 0; i < image.PixelCount(); ++i)
    pixels[4 * i + 3] = transparent.empty() || !transparent[i] ? 255 : 0;
  std::unique_ptr<liq_attr, void (*)(liq_attr*)> attr(::liq_attr_create(), ::liq_attr_destroy);
  if (!attr || ::liq_set_max_colors(attr.get(), 255) != LIQ_OK) {
    *error = "the palette maker cannot start";
    return false;
  }
  std::unique_ptr<liq_image, void (*)(liq_image*)> img(
      ::liq_image_create_rgba(attr.get(), pixels.data(), image.width, image.height, 0), ::liq_image_destroy);
  liq_result* raw = nullptr;
  if (!img || ::liq_image_quantize(img.get(), attr.get(), &raw) != LIQ_OK) {
    *error = "no palette can be made for this picture";
    return false;
  }
  std::unique_ptr<liq_result, void (*)(liq_result*)> result(raw, ::liq_result_destroy);
  const liq_palette* pal = ::liq_get_palette(result.get());
  out = Palette{};
  std::size_t n = 0;
  for (unsigned i = 0; i < pal->count && n < 255; ++i)
    if (pal->entries[i].a >= 128) out.colors[n++] = {pal->entries[i].r, pal->entries[i].g, pal->entries[i].b};
  return true;
}

// A Half-Life texture or picture whose palette is made for it: by default, or when asked.
bool OwnPalette(OutputKind kind, const EncodeOptions& o) {
  return o.halfLife && (kind == OutputKind::Mip || kind == OutputKind::Lmp) &&
         (o.paletteChoice == PaletteChoice::Default || o.paletteChoice == PaletteChoice::Optimal);
}

// A decal's smaller levels: each index (an opacity) the mean of the four above it.
std::array<Picture, 3> DecalMipLevels(std::vector<std::uint8_t> level, int w, int h) {
  std::array<Picture, 3> levels;
  for (Picture& out : levels) {
    const int lw = std::max(w / 2, 1), lh = std::max(h / 2, 1);
    std::vector<std::uint8_t> next(static_cast<std::size_t>(lw) * static_cast<std::size_t>(lh));
    for (int y = 0; y < lh; ++y)
      for (int x = 0; x < lw; ++x) {
        int sum = 0;
        for (int dy = 0; dy < 2; ++dy)
          for (int dx = 0; dx < 2; ++dx)
            sum += level[static_cast<std::size_t>(std::min(2 * y + dy, h - 1)) * static_cast<std::size_t>(w) +
                         static_cast<std::size_t>(std::min(2 * x + dx, w - 1))];
        next[static_cast<std::size_t>(y) * static_cast<std::size_t>(lw) + static_cast<std::size_t>(x)] =
            static_cast<std::uint8_t>((sum + 2) / 4);
      }
    out = ToPicture(lw, lh, next);
    level = std::move(next);
    w = lw, h = lh;
  }
  return levels;
}

bool ChoosePalette(OutputKind kind, const EncodeOptions& o, Palette& out, std::string* error) {
  if (OwnPalette(kind, o)) return true;  // made from the picture later
  switch (o.paletteChoice) {
    case PaletteChoice::Default:
      return LoadPalette(kind == OutputKind::Lmp || kind == OutputKind::Mip ? kQuakePaletteId : kQuake2PaletteId, out);
    case PaletteChoice::Quake: return LoadPalette(kQuakePaletteId, out);
    case PaletteChoice::Quake2: return LoadPalette(kQuake2PaletteId, out);
    case PaletteChoice::Given: out = o.palette; return true;
    case PaletteChoice::Optimal:
      if (kind == OutputKind::Pcx || OwnPalette(kind, o)) return true;  // made from the picture later
      *error =
          "an optimal palette can only be stored in a .pcx file or a Half-Life texture (a WAD3's, or with "
          "--halflife); the game reads the others in its own palette";
      return false;
  }
  return false;
}

// The source's own indices, when they index the same colours.
bool SamePalette(const RgbaImage& image, const Palette& palette) {
  if (!image.HasIndices() || image.paletteSize <= 0) return false;
  for (int i = 0; i < image.paletteSize; ++i)
    if (!(image.palette.colors[static_cast<std::size_t>(i)] == palette.colors[static_cast<std::size_t>(i)]))
      return false;
  for (std::uint8_t v : image.indices)
    if (v >= image.paletteSize) return false;
  return true;
}

bool Resize(const RgbaImage& image, int width, int height, RgbaImage& out, std::string* error) {
  out = RgbaImage{};
  out.width = width;
  out.height = height;
  out.rgba.resize(out.PixelCount() * 4);
  // Textures tile, so the filter wraps around the edges rather than clamping to them.
  if (!::stbir_resize_uint8_srgb_edgemode(image.rgba.data(), image.width, image.height, 0, out.rgba.data(), width,
                                          height, 0, 4, 3, 0, STBIR_EDGE_WRAP)) {
    if (error) *error = "the picture cannot be resized";
    return false;
  }
  return true;
}

void PutName(ByteWriter& w, const std::string& name, std::size_t size) {
  std::vector<char> field(size, 0);
  std::memcpy(field.data(), name.data(), std::min(name.size(), size - 1));
  w.Bytes(field.data(), field.size());
}

void PutF32(ByteWriter& w, float f) {
  std::uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  w.U32(bits);
}

// Every opaque pixel is a colour of the palette: a picture drawn in it, whose glowing colours
// are meant, not met by chance.
bool DrawnInPalette(const RgbaImage& image, const Palette& palette) {
  std::unordered_set<std::uint32_t> colours;
  for (const Rgb& c : palette.colors) colours.insert((std::uint32_t{c.r} << 16) | (std::uint32_t{c.g} << 8) | c.b);
  const std::size_t n = image.PixelCount();
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t* p = image.Pixel(i);
    if (!TransparentPixel(p) && !colours.count((std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2]))
      return false;
  }
  return true;
}

// The glowing index nearest each colour asked for, by CIEDE2000.
class CGlowMatcher {
 public:
  CGlowMatcher(const Palette& palette, int first, int last) : m_palette(palette), m_first(first), m_last(last) {}
  std::uint8_t Nearest(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    const std::uint32_t key = (std::uint32_t{r} << 16) | (std::uint32_t{g} << 8) | b;
    if (auto it = m_known.find(key); it != m_known.end()) return it->second;
    const Lab lab = ToLab(r, g, b);
    double best = 1e300;
    std::uint8_t index = static_cast<std::uint8_t>(m_first);
    for (int i = m_first; i <= m_last; ++i) {
      const Rgb& c = m_palette.colors[static_cast<std::size_t>(i)];
      const double d = DeltaE2000(lab, ToLab(c.r, c.g, c.b));
      if (d < best) best = d, index = static_cast<std::uint8_t>(i);
    }
    return m_known[key] = index;
  }

 private:
  const Palette& m_palette;
  int m_first, m_last;
  std::unordered_map<std::uint32_t, std::uint8_t> m_known;
};

bool Glows(const std::uint8_t* p) { return !TransparentPixel(p) && (p[0] | p[1] | p[2]) != 0; }

// The glow mask at the picture's (maybe resized) size, one flag a pixel, nearest-neighbour.
std::vector<std::uint8_t> GlowFlags(const RgbaImage& glow, int width, int height) {
  std::vector<std::uint8_t> flags(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const int gx = static_cast<int>(static_cast<std::int64_t>(x) * glow.width / width);
      const int gy = static_cast<int>(static_cast<std::int64_t>(y) * glow.height / height);
      flags[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)] =
          Glows(glow.Pixel(static_cast<std::size_t>(gy) * static_cast<std::size_t>(glow.width) +
                           static_cast<std::size_t>(gx)));
    }
  return flags;
}

}  // namespace

std::optional<OutputKind> OutputKindOf(std::string_view name) {
  const std::string n = ToLower(name);
  if (EndsWith(n, ".lmp")) return OutputKind::Lmp;
  if (EndsWith(n, ".mip")) return OutputKind::Mip;
  if (EndsWith(n, ".wal")) return OutputKind::Wal;
  if (EndsWith(n, ".pcx")) return OutputKind::Pcx;
  return std::nullopt;
}

const char* ExtensionOf(OutputKind kind) {
  switch (kind) {
    case OutputKind::Lmp: return ".lmp";
    case OutputKind::Mip: return ".mip";
    case OutputKind::Wal: return ".wal";
    case OutputKind::Pcx: return ".pcx";
  }
  return "";
}

std::array<Picture, 3> MakeMipLevels(const RgbaImage& level0, bool transparent, PaletteMatcher& matcher,
                                     Dither dither) {
  std::array<Picture, 3> levels;
  // Sums over each pixel's square of full-size pixels, carried from level to level unrounded, so
  // that every level is the exact average of its square: red, green, blue (of the pixels that
  // are there, for a transparent texture) and how many pixels are there.
  // (At most 64 × 255 for level 3: 16 bits hold it.)
  int w = level0.width, h = level0.height;
  std::vector<std::uint16_t> above;
  std::uint32_t covered = 1;  // full-size pixels under each pixel of the level
  int shift = 0;              // log2(covered)
  for (Picture& level : levels) {
    const int lw = std::max(w / 2, 1), lh = std::max(h / 2, 1);
    const std::size_t n = static_cast<std::size_t>(lw) * static_cast<std::size_t>(lh);
    std::vector<std::uint16_t> cur(n * 4);
    std::vector<std::uint8_t> rgba(n * 4), mask(transparent ? n : 0);
    covered *= 4;
    shift += 2;
    for (int y = 0; y < lh; ++y) {
      const std::size_t row0 = static_cast<std::size_t>(std::min(2 * y, h - 1)) * static_cast<std::size_t>(w);
      const std::size_t row1 = static_cast<std::size_t>(std::min(2 * y + 1, h - 1)) * static_cast<std::size_t>(w);
      for (int x = 0; x < lw; ++x) {
        const std::size_t x0 = static_cast<std::size_t>(std::min(2 * x, w - 1));
        const std::size_t x1 = static_cast<std::size_t>(std::min(2 * x + 1, w - 1));
        const std::size_t d = static_cast<std::size_t>(y) * static_cast<std::size_t>(lw) + static_cast<std::size_t>(x);
        std::uint16_t* sum = cur.data() + 4 * d;
        for (std::size_t s : {row0 + x0, row0 + x1, row1 + x0, row1 + x1}) {
          if (above.empty()) {
            // The full-size level: a transparent texture's pixels are either there or not, as
            // that level shows them.
            const std::uint8_t* p = level0.rgba.data() + 4 * s;
            if (transparent && TransparentPixel(p)) continue;
            for (std::size_t c = 0; c < 3; ++c) sum[c] = static_cast<std::uint16_t>(sum[c] + p[c]);
            ++sum[3];
          } else {
            for (std::size_t c = 0; c < 4; ++c) sum[c] = static_cast<std::uint16_t>(sum[c] + above[4 * s + c]);
          }
        }
        // Colour averaged over the pixels that are there, so that what lies under
        // transparent pixels does not bleed in.
        if (transparent) {
          const std::uint32_t count = sum[3];
          for (std::size_t c = 0; c < 3; ++c)
            rgba[4 * d + c] = count ? static_cast<std::uint8_t>((sum[c] + count / 2) / count) : 0;
        } else {
          for (std::size_t c = 0; c < 3; ++c)
            rgba[4 * d + c] = static_cast<std::uint8_t>((sum[c] + covered / 2) >> shift);
        }
        rgba[4 * d + 3] = 255;
        // Transparent where fewer than half of its pixels are there.
        if (transparent) mask[d] = 2 * sum[3] < covered;
      }
    }
    std::vector<std::uint8_t> indices(n);
    MatchPixels(rgba, lw, lh, mask, matcher, dither, indices);
    level = ToPicture(lw, lh, indices);
    above = std::move(cur);
    w = lw, h = lh;
  }
  return levels;
}

std::vector<std::uint8_t> BuildPcx(const Picture& picture, const Palette& palette) {
  std::vector<std::uint8_t> out;
  ByteWriter w(out);
  const std::size_t width = static_cast<std::size_t>(picture.width);
  // Scan lines are an even number of bytes long, as readers expect.
  const std::size_t line = (width + 1) & ~std::size_t{1};
  w.U8(10);  // manufacturer
  w.U8(5);   // version: with a 256-colour palette
  w.U8(1);   // run-length coded
  w.U8(8);   // bits per pixel
  w.U16(0), w.U16(0);
  w.U16(static_cast<std::uint16_t>(picture.width - 1)), w.U16(static_cast<std::uint16_t>(picture.height - 1));
  w.U16(72), w.U16(72);
  w.Zeros(48);  // the 16-colour palette, unused
  w.U8(0);
  w.U8(1);  // planes
  w.U16(static_cast<std::uint16_t>(line));
  w.U16(1);  // colour palette
  w.Zeros(128 - w.Size());
  std::vector<std::uint8_t> row(line, 0);
  for (int y = 0; y < picture.height; ++y) {
    std::memcpy(row.data(), picture.Row(y), width);
    for (std::size_t x = 0; x < line;) {
      const std::uint8_t v = row[x];
      std::size_t run = 1;
      while (x + run < line && run < 63 && row[x + run] == v) ++run;
      if (run > 1 || v >= 0xC0) w.U8(static_cast<std::uint8_t>(0xC0 | run));
      w.U8(v);
      x += run;
    }
  }
  w.U8(0x0C);
  for (const Rgb& c : palette.colors) w.U8(c.r), w.U8(c.g), w.U8(c.b);
  return out;
}

EncodeResult EncodeImage(const RgbaImage& source, OutputKind kind, const EncodeOptions& o) {
  EncodeResult result;
  // By value: the reason is often result.error itself, which the reset below empties.
  auto fail = [&](std::string why) {
    result = EncodeResult{};
    result.error = std::move(why);
    return result;
  };
  if (source.width <= 0 || source.height <= 0 || source.rgba.size() != source.PixelCount() * 4)
    return fail("the picture has no pixels");
  if (IsTexture(kind)) {
    const std::size_t limit = kind == OutputKind::Mip ? miptex::kNameSize - 1 : walfile::kNameSize - 1;
    if (o.name.empty()) return fail("the texture needs a name");
    if (o.name.size() > limit)
      return fail("the texture name \"" + o.name + "\" is longer than " + std::to_string(limit) + " characters");
    if (kind == OutputKind::Wal && o.nextFrame.size() > walfile::kNameSize - 1)
      return fail("the next frame's name \"" + o.nextFrame + "\" is longer than 31 characters");
  }
  Palette palette;
  if (!ChoosePalette(kind, o, palette, &result.error)) return fail(result.error);

  // Textures are drawn in 16-pixel steps by the engines' mip levels.
  const RgbaImage* image = &source;
  RgbaImage resized;
  if (IsTexture(kind) && (source.width % kTextureStep || source.height % kTextureStep)) {
    if (!o.resize)
      return fail("the picture is " + SizeText(source.width, source.height) +
                  "; a texture's width and height must be multiples of 16 (resize scales it up)");
    const int w = (source.width + kTextureStep - 1) / kTextureStep * kTextureStep;
    const int h = (source.height + kTextureStep - 1) / kTextureStep * kTextureStep;
    if (w > image::kMaxSide || h > image::kMaxSide) return fail("the picture is too large to be a texture");
    if (!Resize(source, w, h, resized, &result.error)) return fail(result.error);
    image = &resized;
  }
  const int width = image->width, height = image->height;
  const std::size_t n = image->PixelCount();

  const bool transparentKind = !o.opaque && IsTransparentKind(kind, o.name);
  std::vector<std::uint8_t> mask;
  bool anyTransparent = false;
  for (std::size_t i = 0; i < n && !anyTransparent; ++i) anyTransparent = TransparentPixel(image->Pixel(i));
  if (anyTransparent) {
    if (transparentKind) {
      mask.resize(n);
      for (std::size_t i = 0; i < n; ++i) mask[i] = TransparentPixel(image->Pixel(i));
    } else if (o.strict) {
      return fail("the picture has transparent pixels, but only textures whose name starts with \"{\" can show them");
    }
  }
  if (o.decal) {
    if (!o.halfLife || kind != OutputKind::Mip) return fail("a decal is a Half-Life texture (.mip in a WAD3)");
    if (!o.glow.rgba.empty()) return fail("a glow mask needs glowing colours, and Half-Life's textures have none");
    std::vector<std::uint8_t> indices;
    MakeDecal(*image, indices, palette);
    result.picture = ToPicture(width, height, indices);
    result.palette = palette;
    ByteWriter w(result.bytes);
    PutName(w, o.name, miptex::kNameSize);
    w.I32(width), w.I32(height);
    const auto mips = DecalMipLevels(indices, width, height);
    std::uint32_t at = static_cast<std::uint32_t>(miptex::kHeaderSize);
    w.U32(at);
    at += static_cast<std::uint32_t>(n);
    for (const Picture& m : mips) {
      w.U32(at);
      at += static_cast<std::uint32_t>(m.width * m.height);
    }
    w.Bytes(indices.data(), n);
    for (const Picture& m : mips) {
      const auto packed = m.Packed();
      w.Bytes(packed.data(), packed.size());
    }
    AppendTrailingPalette(result.bytes, palette);
    result.wadType = wadtype::kMiptex;
    result.ok = true;
    return result;
  }
  if (OwnPalette(kind, o)) {
    // Half-Life's "{" textures and pictures see through index 255, which the tools make blue.
    int used = 0;
    if (!MakeOwnPalette({image}, {mask}, transparentKind ? 255 : 256, palette, used, &result.error))
      return fail(result.error);
    if (transparentKind) palette.colors[kTransparentIndex] = kHalfLifeTransparent;
  } else if (o.paletteChoice == PaletteChoice::Optimal && !OptimalPalette(*image, mask, palette, &result.error)) {
    return fail(result.error);
  }

  MatchRules rules;
  rules.fullbright = o.fullbright;
  // A pixel of a photograph that happens to equal a glowing colour must not glow in the dark.
  if (o.fullbright == Fullbright::Auto && !DrawnInPalette(*image, palette)) rules.fullbright = Fullbright::Never;
  if (!o.halfLife && (kind == OutputKind::Lmp || kind == OutputKind::Mip))
    rules.fullbrightFirst = kQuakeFullbrightFirst, rules.fullbrightLast = kQuakeFullbrightLast;
  std::vector<std::uint8_t> glow;
  if (!o.glow.rgba.empty()) {
    if (o.glow.width != source.width || o.glow.height != source.height || o.glow.rgba.size() != o.glow.PixelCount() * 4)
      return fail("the glow mask is " + SizeText(o.glow.width, o.glow.height) + ", the picture " +
                  SizeText(source.width, source.height) + ": they must be the same size");
    if (rules.fullbrightFirst > rules.fullbrightLast)
      return fail(o.halfLife ? "a glow mask needs glowing colours, and Half-Life's pictures have none"
                             : "a glow mask needs glowing colours, and Quake II's pictures have none");
    glow = GlowFlags(o.glow, width, height);
  }
  rules.transparent = transparentKind;
  PaletteMatcher matcher(palette, rules);

  std::vector<std::uint8_t> indices(n);
  if (image == &source && SamePalette(source, palette)) {
    // Drawn in this palette already: the indices stay byte for byte, but for the rules'
    // demands (transparent pixels, glowing indices refused).
    for (std::size_t i = 0; i < n; ++i) {
      const std::uint8_t v = source.indices[i];
      const std::uint8_t* p = source.Pixel(i);
      if (!mask.empty() && mask[i]) indices[i] = kTransparentIndex;
      else if (rules.fullbright == Fullbright::Never && matcher.IsFullbright(v))
        indices[i] = matcher.Match(p[0], p[1], p[2]);
      else indices[i] = v;
    }
  } else {
    MatchPixels(image->rgba, width, height, mask, matcher, o.dither, indices);
  }
  std::optional<CGlowMatcher> glowing;
  if (!glow.empty()) {
    glowing.emplace(palette, rules.fullbrightFirst, rules.fullbrightLast);
    for (std::size_t i = 0; i < n; ++i)
      if (glow[i] && !(!mask.empty() && mask[i])) {
        const std::uint8_t* p = image->Pixel(i);
        indices[i] = glowing->Nearest(p[0], p[1], p[2]);
      }
  }
  result.picture = ToPicture(width, height, indices);
  result.palette = palette;

  ByteWriter w(result.bytes);
  switch (kind) {
    case OutputKind::Lmp:
      w.I32(width), w.I32(height);
      w.Bytes(indices.data(), n);
      result.wadType = wadtype::kPicture;
      break;
    case OutputKind::Pcx: result.bytes = BuildPcx(result.picture, palette); break;
    case OutputKind::Mip:
    case OutputKind::Wal: {
      auto mips = MakeMipLevels(*image, transparentKind, matcher, o.dither);
      // A smaller level's pixel glows where at least half of the full-size pixels under it do.
      for (std::size_t level = 0; glowing && level < mips.size(); ++level) {
        Picture& m = mips[level];
        const int side = 2 << level;
        for (int y = 0; y < m.height; ++y)
          for (int x = 0; x < m.width; ++x) {
            int lit = 0;
            for (int dy = 0; dy < side; ++dy)
              for (int dx = 0; dx < side; ++dx) {
                const int fx = std::min(x * side + dx, width - 1), fy = std::min(y * side + dy, height - 1);
                lit +=
                    glow[static_cast<std::size_t>(fy) * static_cast<std::size_t>(width) + static_cast<std::size_t>(fx)];
              }
            std::uint8_t& v = m.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(m.Stride()) +
                                       static_cast<std::size_t>(x)];
            if (2 * lit >= side * side && !(transparentKind && v == kTransparentIndex)) {
              const Rgb& c = palette.colors[v];
              v = glowing->Nearest(c.r, c.g, c.b);
            }
          }
      }
      const bool mip = kind == OutputKind::Mip;
      PutName(w, o.name, mip ? miptex::kNameSize : walfile::kNameSize);
      w.I32(width), w.I32(height);
      std::uint32_t at =
          mip ? static_cast<std::uint32_t>(miptex::kHeaderSize) : static_cast<std::uint32_t>(wal::kHeaderSize);
      w.U32(at);
      at += static_cast<std::uint32_t>(n);
      for (const Picture& m : mips) {
        w.U32(at);
        at += static_cast<std::uint32_t>(m.width * m.height);
      }
      if (!mip) {
        PutName(w, o.nextFrame, walfile::kNameSize);
        w.I32(o.flags), w.I32(o.contents), w.I32(o.value);
      }
      w.Bytes(indices.data(), n);
      for (const Picture& m : mips) {
        const auto packed = m.Packed();
        w.Bytes(packed.data(), packed.size());
      }
      result.wadType = mip ? wadtype::kMiptex : wadtype::kNone;
      break;
    }
  }
  if (o.halfLife && (kind == OutputKind::Mip || kind == OutputKind::Lmp)) AppendTrailingPalette(result.bytes, palette);
  result.ok = true;
  return result;
}

bool PreviewEncoded(const RgbaImage& image, OutputKind kind, const EncodeOptions& options, RgbaImage& out,
                    std::string* error) {
  EncodeOptions o = options;
  // The name matters only for its "{": a preview needs none, nor one short enough to store.
  if (IsTexture(kind)) {
    if (o.name.empty()) o.name = "preview";
    o.name.resize(std::min(o.name.size(), (kind == OutputKind::Mip ? miptex::kNameSize : walfile::kNameSize) - 1));
    o.nextFrame.clear();
  }
  const EncodeResult r = EncodeImage(image, kind, o);
  if (!r.ok) {
    if (error) *error = r.error;
    return false;
  }
  ImageFromIndices(r.picture.width, r.picture.height, r.picture.Packed(), r.palette,
                   !o.opaque && IsTransparentKind(kind, o.name), out);
  return true;
}

bool LoadPaletteFile(std::span<const std::uint8_t> bytes, Palette& out, std::string* error) {
  if (bytes.size() == 768) {
    for (std::size_t i = 0; i < 256; ++i) out.colors[i] = {bytes[3 * i], bytes[3 * i + 1], bytes[3 * i + 2]};
    return true;
  }
  if (bytes.size() >= 4 && std::memcmp(bytes.data(), "RIFF", 4) == 0 && ParseRiffPalette(bytes, out)) return true;
  Picture picture;
  if (!bytes.empty() && bytes[0] == 0x0A && bytes.size() >= 128 + 769 && bytes[bytes.size() - 769] == 0x0C) {
    const std::uint8_t* pal = bytes.data() + bytes.size() - 768;
    for (std::size_t i = 0; i < 256; ++i) out.colors[i] = {pal[3 * i], pal[3 * i + 1], pal[3 * i + 2]};
    return true;
  }
  if (error) *error = "not a palette: expected 768 bytes of colours, a RIFF palette or a 256-colour PCX file";
  return false;
}

bool BuildQuakeSprite(const std::vector<Picture>& frames, std::vector<std::uint8_t>& out, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  if (frames.empty()) return fail("a sprite needs at least one frame");
  const int width = frames[0].width, height = frames[0].height;
  for (std::size_t i = 1; i < frames.size(); ++i)
    if (frames[i].width != width || frames[i].height != height)
      return fail("frame " + std::to_string(i + 1) + " is " + SizeText(frames[i].width, frames[i].height) +
                  ", the first " + SizeText(width, height) + ": a sprite's frames must all be one size");
  out.clear();
  ByteWriter w(out);
  w.Bytes("IDSP", 4);
  w.I32(1);  // version
  w.I32(2);  // always faces the viewer
  PutF32(w, static_cast<float>(std::sqrt((width / 2.0) * (width / 2.0) + (height / 2.0) * (height / 2.0))));
  w.I32(width), w.I32(height);
  w.I32(static_cast<std::int32_t>(frames.size()));
  PutF32(w, 0.0f);  // beam length
  w.I32(0);         // frames in step
  for (const Picture& f : frames) {
    w.I32(0);  // a single frame
    w.I32(-(width / 2)), w.I32(height / 2);
    w.I32(width), w.I32(height);
    const auto packed = f.Packed();
    w.Bytes(packed.data(), packed.size());
  }
  return true;
}

std::vector<std::uint8_t> BuildQuake2Sprite(const std::vector<Picture>& frames, const std::vector<std::string>& names) {
  std::vector<std::uint8_t> out;
  ByteWriter w(out);
  w.Bytes("IDS2", 4);
  w.I32(2);
  w.I32(static_cast<std::int32_t>(frames.size()));
  for (std::size_t i = 0; i < frames.size(); ++i) {
    w.I32(frames[i].width), w.I32(frames[i].height);
    w.I32(frames[i].width / 2), w.I32(frames[i].height / 2);
    PutName(w, i < names.size() ? names[i] : std::string(), sp2::kFrameNameSize);
  }
  return out;
}

bool EncodeSprite(const std::vector<RgbaImage>& frames, bool quake2, const std::string& stem,
                  const std::string& framesFolder, const EncodeOptions& options, std::vector<SpriteFile>& files,
                  std::string* error) {
  files.clear();
  std::vector<Picture> pictures;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    EncodeResult r = EncodeImage(frames[i], quake2 ? OutputKind::Pcx : OutputKind::Lmp, options);
    if (!r.ok) {
      if (error) *error = "frame " + std::to_string(i + 1) + ": " + r.error;
      return false;
    }
    pictures.push_back(std::move(r.picture));
    if (quake2) files.push_back({ToLower(stem) + "_" + std::to_string(i) + ".pcx", std::move(r.bytes)});
  }
  if (!quake2) {
    std::vector<std::uint8_t> sprite;
    if (!BuildQuakeSprite(pictures, sprite, error)) return false;
    files.push_back({stem + ".spr", std::move(sprite)});
    return true;
  }
  // The frames lie beside the sprite; the names it holds are where the game looks them up.
  std::vector<std::string> names;
  for (const SpriteFile& f : files) {
    names.push_back(framesFolder + f.name);
    if (names.back().size() >= sp2::kFrameNameSize) {
      if (error) *error = "the sprite's name \"" + stem + "\" is too long";
      return false;
    }
  }
  files.push_back({stem + ".sp2", BuildQuake2Sprite(pictures, names)});
  return true;
}

std::string TextureNameFor(const std::string& stem, OutputKind kind) {
  const std::size_t limit = kind == OutputKind::Mip ? miptex::kNameSize - 1 : walfile::kNameSize - 1;
  return stem.substr(0, std::min(stem.size(), limit));
}

}  // namespace tarn
