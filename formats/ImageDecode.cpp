#include "formats/ImageDecode.h"

#include <png.h>
#include <stb_image.h>
#include <turbojpeg.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "archive/ByteIO.h"
#include "archive/Strings.h"
#include "formats/Pictures.h"

namespace tarn {

namespace {

bool Fail(std::string* error, const std::string& why) {
  if (error) *error = why;
  return false;
}

bool CheckSize(std::int64_t width, std::int64_t height, std::string* error) {
  if (width <= 0 || height <= 0) return Fail(error, "the picture has no pixels");
  if (width > image::kMaxSide || height > image::kMaxSide)
    return Fail(error, "the picture is " + std::to_string(width) + " × " + std::to_string(height) +
                           ", larger than the " + std::to_string(image::kMaxSide) + " × " +
                           std::to_string(image::kMaxSide) + " Tarn reads");
  return true;
}

void Allocate(RgbaImage& out, int width, int height) {
  out = RgbaImage{};
  out.width = width;
  out.height = height;
  out.rgba.resize(out.PixelCount() * 4);
}

bool DecodePng(std::span<const std::uint8_t> bytes, RgbaImage& out, std::string* error) {
  // The header's size, read first so that the refusal names it.
  if (bytes.size() >= 24 && std::memcmp(bytes.data() + 12, "IHDR", 4) == 0) {
    auto be32 = [&](std::size_t at) {
      return std::int64_t{bytes[at]} << 24 | std::int64_t{bytes[at + 1]} << 16 | std::int64_t{bytes[at + 2]} << 8 |
             bytes[at + 3];
    };
    if (!CheckSize(be32(16), be32(20), error)) return false;
  }
  png_image img{};
  img.version = PNG_IMAGE_VERSION;
  if (!::png_image_begin_read_from_memory(&img, bytes.data(), bytes.size()))
    return Fail(error, std::string("the PNG file is damaged: ") + img.message);
  // Frees libpng's state however this function is left.
  std::unique_ptr<png_image, void (*)(png_image*)> guard(&img, ::png_image_free);
  if (!CheckSize(img.width, img.height, error)) return false;
  const bool indexed = (img.format & PNG_FORMAT_FLAG_COLORMAP) != 0 && img.colormap_entries <= 256;
  Allocate(out, static_cast<int>(img.width), static_cast<int>(img.height));
  if (indexed) {
    // The file's own palette and indices, unchanged, so that a picture drawn in a game's
    // palette keeps its exact indices.
    img.format = PNG_FORMAT_RGBA_COLORMAP;
    std::uint8_t colormap[256 * 4] = {};
    out.indices.resize(out.PixelCount());
    if (!::png_image_finish_read(&img, nullptr, out.indices.data(), 0, colormap))
      return Fail(error, std::string("the PNG file is damaged: ") + img.message);
    out.paletteSize = static_cast<int>(img.colormap_entries);
    for (int i = 0; i < out.paletteSize; ++i)
      out.palette.colors[static_cast<std::size_t>(i)] = {colormap[4 * i], colormap[4 * i + 1], colormap[4 * i + 2]};
    for (std::size_t i = 0; i < out.PixelCount(); ++i) {
      const std::uint8_t* c = colormap + 4 * std::size_t{out.indices[i]};
      std::memcpy(out.rgba.data() + 4 * i, c, 4);
    }
    return true;
  }
  img.format = PNG_FORMAT_RGBA;
  if (!::png_image_finish_read(&img, nullptr, out.rgba.data(), 0, nullptr))
    return Fail(error, std::string("the PNG file is damaged: ") + img.message);
  return true;
}

bool DecodeJpeg(std::span<const std::uint8_t> bytes, RgbaImage& out, std::string* error) {
  std::unique_ptr<void, int (*)(tjhandle)> tj(::tjInitDecompress(), ::tjDestroy);
  if (!tj) return Fail(error, "the JPEG decoder cannot start");
  int width = 0, height = 0, subsampling = 0, colorspace = 0;
  auto* data = const_cast<unsigned char*>(bytes.data());
  const auto size = static_cast<unsigned long>(bytes.size());
  if (::tjDecompressHeader3(tj.get(), data, size, &width, &height, &subsampling, &colorspace) != 0)
    return Fail(error, std::string("the JPEG file is damaged: ") + ::tjGetErrorStr2(tj.get()));
  if (!CheckSize(width, height, error)) return false;
  Allocate(out, width, height);
  // A cut or damaged file is refused rather than shown half grey; a progressive file with
  // thousands of scans (a known way to make decoders crawl) is refused too.
  if (::tjDecompress2(tj.get(), data, size, out.rgba.data(), width, 0, height, TJPF_RGBA,
                      TJFLAG_STOPONWARNING | TJFLAG_LIMITSCANS) != 0)
    return Fail(error, std::string("the JPEG file is damaged: ") + ::tjGetErrorStr2(tj.get()));
  return true;
}

// stb_image fills the missing end of an uncompressed BMP or TGA with nothing in particular; a
// file cut short is refused instead, by the size its header implies.
bool CutShort(std::span<const std::uint8_t> b, bool bmp) {
  auto u16 = [&](std::size_t at) { return std::uint64_t{b[at]} | std::uint64_t{b[at + 1]} << 8; };
  auto u32 = [&](std::size_t at) { return u16(at) | u16(at + 2) << 16; };
  if (bmp) {
    if (b.size() < 34 || u32(14) < 40) return false;
    const std::uint64_t compression = u32(30), bits = u16(28);
    if (compression != 0 && compression != 3) return false;
    const std::int64_t width = static_cast<std::int32_t>(u32(18)), height = static_cast<std::int32_t>(u32(22));
    const std::uint64_t row = (static_cast<std::uint64_t>(std::abs(width)) * bits + 31) / 32 * 4;
    return u32(10) + row * static_cast<std::uint64_t>(std::abs(height)) > b.size();
  }
  if (b.size() < 18) return true;
  const std::uint64_t type = b[2], bits = b[16];
  if (type != 1 && type != 2 && type != 3) return false;
  const std::uint64_t colormap = b[1] ? u16(5) * ((b[7] + 7) / 8) : 0;
  return 18 + b[0] + colormap + u16(12) * u16(14) * ((bits + 7) / 8) > b.size();
}

// TGA and BMP.
bool DecodeWithStb(std::span<const std::uint8_t> bytes, const char* kind, RgbaImage& out, std::string* error) {
  if (bytes.size() > static_cast<std::size_t>(INT32_MAX)) return Fail(error, std::string("the file is too large"));
  const int size = static_cast<int>(bytes.size());
  int width = 0, height = 0, channels = 0;
  if (!::stbi_info_from_memory(bytes.data(), size, &width, &height, &channels))
    return Fail(error, std::string("not a readable ") + kind + " picture: " + ::stbi_failure_reason());
  // A BMP stored top row first reports its height negative here.
  if (!CheckSize(std::abs(std::int64_t{width}), std::abs(std::int64_t{height}), error)) return false;
  if (CutShort(bytes, std::string_view(kind) == "BMP"))
    return Fail(error, std::string("the ") + kind + " file is cut short");
  std::unique_ptr<stbi_uc, void (*)(void*)> pixels(
      ::stbi_load_from_memory(bytes.data(), size, &width, &height, &channels, 4), ::stbi_image_free);
  if (!pixels) return Fail(error, std::string("the ") + kind + " file is damaged: " + ::stbi_failure_reason());
  if (!CheckSize(width, height, error)) return false;
  Allocate(out, width, height);
  std::memcpy(out.rgba.data(), pixels.get(), out.rgba.size());
  return true;
}

// The size a game format's header claims, checked before its decoder allocates anything.
bool CheckHeaderSize(std::span<const std::uint8_t> bytes, std::size_t widthAt, std::size_t heightAt, bool int16,
                     std::string* error) {
  ByteReader r(bytes);
  r.Seek(widthAt);
  const std::int64_t width = int16 ? r.I16() + 1 : r.I32();
  r.Seek(heightAt);
  const std::int64_t height = int16 ? r.I16() + 1 : r.I32();
  return CheckSize(width, height, error);
}

bool FromPicture(const Picture& p, const Palette& palette, bool transparent255, RgbaImage& out) {
  if (p.IsTrueColor()) {
    Allocate(out, p.width, p.height);
    if (p.rgba.size() != out.rgba.size()) return false;
    out.rgba = p.rgba;
    return true;
  }
  std::vector<std::uint8_t> packed(static_cast<std::size_t>(p.width) * static_cast<std::size_t>(p.height));
  for (int y = 0; y < p.height; ++y)
    std::memcpy(packed.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(p.width), p.Row(y),
                static_cast<std::size_t>(p.width));
  ImageFromIndices(p.width, p.height, packed, palette, transparent255, out);
  return true;
}

bool DecodeGamePicture(std::span<const std::uint8_t> bytes, const std::string& ext, RgbaImage& out,
                       std::string* error) {
  Picture picture;
  Palette palette;
  if (ext == ".lmp") {
    // Any Quake picture whose pixels are all there, not only those the viewer shows.
    if (bytes.size() < 8) return Fail(error, "too short for a Quake picture");
    ByteReader r(bytes);
    const std::int32_t width = r.I32(), height = r.I32();
    if (!CheckSize(width, height, error)) return false;
    if (static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) > bytes.size() - 8)
      return Fail(error, "not a Quake picture: it is shorter than its size says");
    LoadPalette(kQuakePaletteId, palette);
    ImageFromIndices(width, height,
                     bytes.subspan(8, static_cast<std::size_t>(width) * static_cast<std::size_t>(height)), palette,
                     true, out);
    return true;
  }
  if (ext == ".wal") {
    if (bytes.size() >= wal::kHeaderSize && !CheckHeaderSize(bytes, wal::kWidth, wal::kHeight, false, error))
      return false;
    if (!DecodeWal(bytes, picture, nullptr, error)) return false;
    if (!CheckSize(picture.width, picture.height, error)) return false;
    LoadPalette(kQuake2PaletteId, palette);
    return FromPicture(picture, palette, false, out);
  }
  if (ext == ".mip") return DecodeMiptex(bytes, out, nullptr, error);
  return Fail(error, "not a picture Tarn reads");
}

std::string Extension(std::string_view name) {
  const std::size_t slash = name.find_last_of("/\\");
  const std::string_view leaf = slash == std::string_view::npos ? name : name.substr(slash + 1);
  const std::size_t dot = leaf.rfind('.');
  return dot == std::string_view::npos ? std::string() : ToLower(leaf.substr(dot));
}

bool DecodeImageInner(std::span<const std::uint8_t> b, std::string_view name, RgbaImage& out, std::string* error) {
  const std::string ext = Extension(name);
  if (b.empty()) return Fail(error, "the file is empty");
  auto starts = [&](const char* magic, std::size_t n) { return b.size() >= n && std::memcmp(b.data(), magic, n) == 0; };
  if (starts("\x89PNG\r\n\x1a\n", 8)) return DecodePng(b, out, error);
  if (starts("\xFF\xD8\xFF", 3)) return DecodeJpeg(b, out, error);
  if (starts("BM", 2)) return DecodeWithStb(b, "BMP", out, error);
  if (starts("IDPO", 4)) {
    Picture picture;
    Palette palette;
    if (b.size() >= mdlskin::kHeaderSize &&
        !CheckHeaderSize(b, mdlskin::kSkinWidth, mdlskin::kSkinHeight, false, error))
      return false;
    // The first skin is the model's own; groups and later skins are other looks of it.
    std::vector<Picture> skins;
    if (!DecodeMdlSkins(b, skins, error)) return false;
    picture = std::move(skins.front());
    if (!CheckSize(picture.width, picture.height, error)) return false;
    LoadPalette(kQuakePaletteId, palette);
    return FromPicture(picture, palette, false, out);
  }
  if (ext == ".lmp" || ext == ".wal" || ext == ".mip") return DecodeGamePicture(b, ext, out, error);
  if (b[0] == 0x0A && (ext == ".pcx" || ext.empty())) {
    Picture picture;
    Palette palette;
    if (b.size() >= 12 && !CheckHeaderSize(b, 8, 10, true, error)) return false;
    if (!DecodePcx(b, picture, palette, error)) return false;
    if (!CheckSize(picture.width, picture.height, error)) return false;
    if (!FromPicture(picture, palette, false, out)) return Fail(error, "the PCX picture is damaged");
    return true;
  }
  if (ext == ".tga" || ext.empty()) return DecodeWithStb(b, "TGA", out, error);
  return Fail(error, "not a picture Tarn reads (PNG, JPEG, TGA, BMP, PCX, LMP, WAL, MIP or a Quake model's skin)");
}

}  // namespace

void ImageFromIndices(int width, int height, std::span<const std::uint8_t> indices, const Palette& palette,
                      bool transparent255, RgbaImage& out) {
  Allocate(out, width, height);
  out.indices.assign(indices.begin(), indices.begin() + static_cast<std::ptrdiff_t>(out.PixelCount()));
  out.palette = palette;
  out.paletteSize = 256;
  for (std::size_t i = 0; i < out.PixelCount(); ++i) {
    const Rgb c = palette.colors[out.indices[i]];
    std::uint8_t* p = out.rgba.data() + 4 * i;
    p[0] = c.r, p[1] = c.g, p[2] = c.b;
    p[3] = transparent255 && out.indices[i] == 255 ? 0 : 255;
  }
}

bool DecodeMiptex(std::span<const std::uint8_t> bytes, RgbaImage& out, std::string* name, std::string* error) {
  Picture picture;
  Palette palette;
  LoadPalette(kQuakePaletteId, palette);
  std::string texName;
  if (!DecodeMip(bytes, picture, palette, nullptr, &texName, error)) return false;
  if (!CheckSize(picture.width, picture.height, error)) return false;
  std::vector<std::uint8_t> indices(static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height));
  for (int y = 0; y < picture.height; ++y)
    std::memcpy(indices.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(picture.width), picture.Row(y),
                static_cast<std::size_t>(picture.width));
  ImageFromIndices(picture.width, picture.height, indices, palette, !texName.empty() && texName[0] == '{', out);
  if (name) *name = std::move(texName);
  return true;
}

bool DecodeImage(std::span<const std::uint8_t> bytes, std::string_view name, RgbaImage& out, std::string* error) {
  out = RgbaImage{};
  try {
    if (DecodeImageInner(bytes, name, out, error)) return true;
  } catch (const ParseError& e) {
    Fail(error, std::string("the picture is damaged: ") + e.what());
  } catch (const std::bad_alloc&) {
    Fail(error, "not enough memory for the picture");
  }
  out = RgbaImage{};
  return false;
}

}  // namespace tarn
