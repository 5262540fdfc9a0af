#include "pictures/HalfLife.h"

#include <libimagequant.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <unordered_map>

#include "fileio/ByteIO.h"

namespace tarn {

namespace {

bool Transparent(const std::uint8_t* p) { return p[3] < 128; }

std::uint32_t Key(const std::uint8_t* p) { return std::uint32_t{p[0]} << 16 | std::uint32_t{p[1]} << 8 | p[2]; }

void PutF32(ByteWriter& w, float f) {
  std::uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  w.U32(bits);
}

}  // namespace

bool MakeOwnPalette(const std::vector<const RgbaImage*>& images, const std::vector<std::vector<std::uint8_t>>& masks,
                    int colours, Palette& out, int& used, std::string* error) {
  out = Palette{};
  used = 0;
  colours = std::clamp(colours, 1, 256);
  auto hidden = [&](std::size_t image, std::size_t pixel) {
    return image < masks.size() && !masks[image].empty() && masks[image][pixel];
  };
  // Exact first: the picture's own colours, in the order they first appear.
  std::unordered_map<std::uint32_t, int> seen;
  bool fits = true;
  for (std::size_t i = 0; i < images.size() && fits; ++i)
    for (std::size_t p = 0; p < images[i]->PixelCount() && fits; ++p) {
      if (hidden(i, p)) continue;
      const std::uint8_t* px = images[i]->Pixel(p);
      if (seen.count(Key(px))) continue;
      if (static_cast<int>(seen.size()) == colours) fits = false;
      else {
        out.colors[seen.size()] = {px[0], px[1], px[2]};
        seen.emplace(Key(px), static_cast<int>(seen.size()));
      }
    }
  if (fits) {
    used = static_cast<int>(seen.size());
    return true;
  }
  out = Palette{};
  std::unique_ptr<liq_attr, void (*)(liq_attr*)> attr(::liq_attr_create(), ::liq_attr_destroy);
  std::unique_ptr<liq_histogram, void (*)(liq_histogram*)> histogram(nullptr, ::liq_histogram_destroy);
  if (attr) histogram.reset(::liq_histogram_create(attr.get()));
  if (!attr || !histogram || ::liq_set_max_colors(attr.get(), colours) != LIQ_OK ||
      ::liq_set_speed(attr.get(), 3) != LIQ_OK) {
    if (error) *error = "the palette maker cannot start";
    return false;
  }
  for (std::size_t i = 0; i < images.size(); ++i) {
    // Transparent pixels are left out of the palette.
    std::vector<std::uint8_t> pixels = images[i]->rgba;
    for (std::size_t p = 0; p < images[i]->PixelCount(); ++p) pixels[4 * p + 3] = hidden(i, p) ? 0 : 255;
    std::unique_ptr<liq_image, void (*)(liq_image*)> img(
        ::liq_image_create_rgba(attr.get(), pixels.data(), images[i]->width, images[i]->height, 0),
        ::liq_image_destroy);
    if (!img || ::liq_histogram_add_image(histogram.get(), attr.get(), img.get()) != LIQ_OK) {
      if (error) *error = "no palette can be made for this picture";
      return false;
    }
  }
  liq_result* raw = nullptr;
  if (::liq_histogram_quantize(histogram.get(), attr.get(), &raw) != LIQ_OK) {
    if (error) *error = "no palette can be made for this picture";
    return false;
  }
  std::unique_ptr<liq_result, void (*)(liq_result*)> result(raw, ::liq_result_destroy);
  const liq_palette* pal = ::liq_get_palette(result.get());
  for (unsigned i = 0; i < pal->count && used < colours; ++i)
    if (pal->entries[i].a >= 128)
      out.colors[static_cast<std::size_t>(used++)] = {pal->entries[i].r, pal->entries[i].g, pal->entries[i].b};
  return true;
}

void MakeDecal(const RgbaImage& image, std::vector<std::uint8_t>& indices, Palette& palette) {
  const std::size_t n = image.PixelCount();
  bool hasAlpha = false;
  for (std::size_t i = 0; i < n && !hasAlpha; ++i) hasAlpha = image.Pixel(i)[3] != 255;
  indices.resize(n);
  double r = 0, g = 0, b = 0, weight = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t* p = image.Pixel(i);
    // A decal without alpha is drawn dark on light, as decals.wad's are: its darkness is its opacity.
    const int luminance = static_cast<int>(std::lround(0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2]));
    const std::uint8_t opacity = hasAlpha ? p[3] : static_cast<std::uint8_t>(255 - luminance);
    indices[i] = opacity;
    r += p[0] * static_cast<double>(opacity), g += p[1] * static_cast<double>(opacity),
        b += p[2] * static_cast<double>(opacity);
    weight += opacity;
  }
  for (int i = 0; i < 256; ++i) {
    const auto v = static_cast<std::uint8_t>(i);
    palette.colors[static_cast<std::size_t>(i)] = {v, v, v};
  }
  palette.colors[255] = weight > 0 ? Rgb{static_cast<std::uint8_t>(std::lround(r / weight)),
                                         static_cast<std::uint8_t>(std::lround(g / weight)),
                                         static_cast<std::uint8_t>(std::lround(b / weight))}
                                   : Rgb{};
}

void AppendTrailingPalette(std::vector<std::uint8_t>& bytes, const Palette& palette) {
  bytes.push_back(0);  // 256 colours, little-endian
  bytes.push_back(1);
  for (const Rgb& c : palette.colors) bytes.insert(bytes.end(), {c.r, c.g, c.b});
  bytes.insert(bytes.end(), {0, 0});
}

namespace hlsprite {
const char* OrientationName(Orientation o) {
  switch (o) {
    case Orientation::ParallelUpright: return "parallel-upright";
    case Orientation::FacingUpright: return "facing-upright";
    case Orientation::Parallel: return "parallel";
    case Orientation::Oriented: return "oriented";
    case Orientation::ParallelOriented: return "parallel-oriented";
  }
  return "";
}
const char* TextureFormatName(TextureFormat f) {
  switch (f) {
    case TextureFormat::Normal: return "normal";
    case TextureFormat::Additive: return "additive";
    case TextureFormat::IndexAlpha: return "index-alpha";
    case TextureFormat::AlphaTest: return "alpha-test";
  }
  return "";
}
}  // namespace hlsprite

int SpriteVersion(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < 8 || std::memcmp(bytes.data(), "IDSP", 4) != 0) return 0;
  return static_cast<int>(bytes[4] | bytes[5] << 8 | bytes[6] << 16 | static_cast<std::uint32_t>(bytes[7]) << 24);
}

bool ReadHalfLifeSprite(std::span<const std::uint8_t> bytes, PictureSet& out, HalfLifeSpriteInfo* info,
                        std::string* error) {
  using namespace hlsprite;
  HalfLifeSpriteInfo header;
  Palette palette;
  std::int32_t frames = 0;
  ByteReader r(bytes);
  try {
    if (SpriteVersion(bytes) != kVersion) throw ParseError("not a Half-Life sprite (IDSP version 2)");
    r.Seek(8);
    const std::int32_t type = r.I32(), format = r.I32();
    if (type < 0 || type > 4)
      throw ParseError("the sprite's orientation " + std::to_string(type) + " is none of the five");
    if (format < 0 || format > 3)
      throw ParseError("the sprite's texture format " + std::to_string(format) + " is none of the four");
    header.orientation = static_cast<Orientation>(type);
    header.format = static_cast<TextureFormat>(format);
    r.Skip(4);  // bounding radius
    header.width = r.I32();
    header.height = r.I32();
    frames = r.I32();
    header.frames = frames;
    r.Seek(kHeaderSize);
    const std::uint16_t colours = r.U16();
    if (colours == 0 || colours > 256)
      throw ParseError("the sprite's palette has " + std::to_string(colours) + " colours");
    for (std::size_t i = 0; i < colours; ++i) {
      const auto c = r.Bytes(3);
      palette.colors[i] = {c[0], c[1], c[2]};
    }
  } catch (const ParseError& e) {
    if (error) *error = e.what();
    return false;
  }
  if (info) *info = header;
  out.palettes.push_back(palette);
  out.ownPalettes = true;
  out.transparent255 = header.format == TextureFormat::AlphaTest;
  auto picture = [&] {
    r.Skip(8);  // origin
    const std::int32_t width = r.I32(), height = r.I32();
    if (width <= 0 || height <= 0 || width > image::kMaxSide || height > image::kMaxSide)
      throw ParseError("a frame's size is out of range");
    const std::size_t n = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    const auto indices = r.Bytes(n);
    Picture p;
    if (header.format == TextureFormat::IndexAlpha) {
      // Drawn in the last colour, each pixel as opaque as its index says.
      p.width = width;
      p.height = height;
      p.rgba.resize(n * 4);
      const Rgb& c = palette.colors[255];
      for (std::size_t i = 0; i < n; ++i) {
        p.rgba[4 * i] = c.r, p.rgba[4 * i + 1] = c.g, p.rgba[4 * i + 2] = c.b;
        p.rgba[4 * i + 3] = indices[i];
      }
    } else {
      BuildPicture(width, height, indices, p);
    }
    out.pictures.push_back(std::move(p));
  };
  try {
    for (std::int32_t f = 0; f < frames; ++f) {
      const std::int32_t type = r.I32();
      if (type == 0) {
        picture();
        continue;
      }
      if (type != 1) break;  // an unknown frame type ends the sprite
      const std::int32_t count = r.I32();
      if (count < 0 || static_cast<std::uint64_t>(count) * 4 > r.Remaining()) break;
      r.Skip(static_cast<std::size_t>(count) * 4);  // intervals
      for (std::int32_t i = 0; i < count; ++i) picture();
    }
  } catch (const ParseError&) {
    // A damaged frame ends the sprite; the pictures before it are shown.
  }
  return true;
}

bool EncodeHalfLifeSprite(const std::vector<RgbaImage>& frames, const HalfLifeSpriteOptions& o,
                          std::vector<std::uint8_t>& out, std::string* error) {
  using hlsprite::TextureFormat;
  if (frames.empty()) {
    if (error) *error = "a sprite needs at least one frame";
    return false;
  }
  std::vector<std::vector<std::uint8_t>> indices(frames.size());
  Palette palette;
  if (o.format == TextureFormat::IndexAlpha) {
    // One colour for the sprite: each frame's opacity as its indices, the colour of them all.
    double r = 0, g = 0, b = 0, weight = 0;
    for (std::size_t f = 0; f < frames.size(); ++f) {
      Palette own;
      MakeDecal(frames[f], indices[f], own);
      for (std::size_t i = 0; i < indices[f].size(); ++i) {
        const std::uint8_t* p = frames[f].Pixel(i);
        const double opacity = indices[f][i];
        r += p[0] * opacity, g += p[1] * opacity, b += p[2] * opacity;
        weight += opacity;
      }
    }
    for (int i = 0; i < 256; ++i) {
      const auto v = static_cast<std::uint8_t>(i);
      palette.colors[static_cast<std::size_t>(i)] = {v, v, v};
    }
    if (weight > 0)
      palette.colors[255] = {static_cast<std::uint8_t>(std::lround(r / weight)),
                             static_cast<std::uint8_t>(std::lround(g / weight)),
                             static_cast<std::uint8_t>(std::lround(b / weight))};
  } else {
    const bool alphaTest = o.format == TextureFormat::AlphaTest;
    std::vector<std::vector<std::uint8_t>> masks(frames.size());
    std::vector<const RgbaImage*> images;
    for (std::size_t f = 0; f < frames.size(); ++f) {
      images.push_back(&frames[f]);
      masks[f].resize(frames[f].PixelCount());
      for (std::size_t i = 0; i < masks[f].size(); ++i) masks[f][i] = alphaTest ? Transparent(frames[f].Pixel(i)) : 0;
    }
    int used = 0;
    if (!MakeOwnPalette(images, masks, alphaTest ? 255 : 256, palette, used, error)) return false;
    if (alphaTest) palette.colors[255] = kHalfLifeTransparent;
    MatchRules rules;
    rules.fullbright = Fullbright::Allow;
    rules.transparent = alphaTest;
    PaletteMatcher matcher(palette, rules);
    for (std::size_t f = 0; f < frames.size(); ++f) {
      indices[f].resize(frames[f].PixelCount());
      // Additive sprites add their colour: what is transparent adds nothing, so it is black.
      std::vector<std::uint8_t> rgba = frames[f].rgba;
      if (o.format == TextureFormat::Additive)
        for (std::size_t i = 0; i < frames[f].PixelCount(); ++i)
          if (Transparent(&rgba[4 * i])) rgba[4 * i] = rgba[4 * i + 1] = rgba[4 * i + 2] = 0;
      MatchPixels(rgba, frames[f].width, frames[f].height, alphaTest ? masks[f] : std::vector<std::uint8_t>{}, matcher,
                  o.dither, indices[f]);
    }
  }
  int width = 0, height = 0;
  for (const RgbaImage& f : frames) width = std::max(width, f.width), height = std::max(height, f.height);
  out.clear();
  ByteWriter w(out);
  w.Bytes("IDSP", 4);
  w.I32(hlsprite::kVersion);
  w.I32(static_cast<std::int32_t>(o.orientation));
  w.I32(static_cast<std::int32_t>(o.format));
  PutF32(w, static_cast<float>(std::sqrt((width / 2.0) * (width / 2.0) + (height / 2.0) * (height / 2.0))));
  w.I32(width), w.I32(height);
  w.I32(static_cast<std::int32_t>(frames.size()));
  PutF32(w, 0.0f);  // beam length
  w.I32(0);         // frames in step
  w.U16(256);
  for (const Rgb& c : palette.colors) w.U8(c.r), w.U8(c.g), w.U8(c.b);
  for (std::size_t f = 0; f < frames.size(); ++f) {
    w.I32(0);  // a single frame
    w.I32(-(frames[f].width / 2)), w.I32(frames[f].height / 2);
    w.I32(frames[f].width), w.I32(frames[f].height);
    w.Bytes(indices[f].data(), indices[f].size());
  }
  return true;
}

}  // namespace tarn
