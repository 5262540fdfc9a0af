#include "pictures/ImageDecode.h"

#include <png.h>
#include <turbojpeg.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "fileio/ByteIO.h"
#include "fileio/Strings.h"
#include "pictures/BmpTga.h"
#include "pictures/Pictures.h"

namespace tarn {

namespace {

bool Fail(std::string* error, const std::string& why) {
  if (error) *error = why;
  return false;
}

// libpng's row interface. Its simplified interface (png_image_*) in the libpng Debian 12
// ships fills the rows of an interlaced 16-bit picture's first six passes wrongly, so that
// PngSuite's interlaced pictures differ from their plain twins; rows read through
// png_read_image with interlace handling do not. Samples are taken as stored, without gamma
// correction, as ImageMagick and image-rs take them; 16-bit samples are rounded to 8 bits.
struct PngRead {
  std::span<const std::uint8_t> bytes;
  std::size_t at = 0;
  char message[200] = {};
  std::jmp_buf jump;
};

void PngError(png_structp png, png_const_charp message) {
  auto* read = static_cast<PngRead*>(::png_get_error_ptr(png));
  std::snprintf(read->message, sizeof read->message, "%s", message);
  std::longjmp(read->jump, 1);
}

void PngWarning(png_structp, png_const_charp) {}

void PngSource(png_structp png, png_bytep data, png_size_t n) {
  auto* read = static_cast<PngRead*>(::png_get_io_ptr(png));
  if (n > read->bytes.size() - read->at) ::png_error(png, "the file is cut short");
  std::memcpy(data, read->bytes.data() + read->at, n);
  read->at += n;
}

// Everything C++ that outlives a libpng error is made before setjmp and only filled after it,
// so that the jump back skips no destructor.
struct PngPixels {
  std::uint32_t width = 0, height = 0;
  bool indexed = false;
  std::vector<std::uint8_t> data;  // indices, or RGBA
  std::vector<png_bytep> rows;
  png_color palette[256] = {};
  png_byte paletteAlpha[256] = {};
  int paletteSize = 0;
};

bool ReadPngRows(PngRead& read, PngPixels& px, png_structp png, png_infop info) {
  if (setjmp(read.jump)) return false;
  ::png_set_read_fn(png, &read, PngSource);
  ::png_set_user_limits(png, image::kMaxSide, image::kMaxSide);
  ::png_read_info(png, info);
  px.width = ::png_get_image_width(png, info);
  px.height = ::png_get_image_height(png, info);
  const int type = ::png_get_color_type(png, info), depth = ::png_get_bit_depth(png, info);
  px.indexed = type == PNG_COLOR_TYPE_PALETTE;
  if (px.indexed) {
    png_colorp colors = nullptr;
    int n = 0;
    if (::png_get_PLTE(png, info, &colors, &n) && n > 0) {
      px.paletteSize = std::min(n, 256);
      std::memcpy(px.palette, colors, sizeof(png_color) * static_cast<std::size_t>(px.paletteSize));
    }
    std::fill(std::begin(px.paletteAlpha), std::end(px.paletteAlpha), 255);
    png_bytep alpha = nullptr;
    int alphas = 0;
    if (::png_get_tRNS(png, info, &alpha, &alphas, nullptr) && alpha)
      std::memcpy(px.paletteAlpha, alpha, static_cast<std::size_t>(std::clamp(alphas, 0, 256)));
    if (depth < 8) ::png_set_packing(png);  // one index a byte
  } else {
    ::png_set_expand(png);  // grey below 8 bits to 8, tRNS to alpha
    if (depth == 16) ::png_set_scale_16(png);
    if (!(type & PNG_COLOR_MASK_COLOR)) ::png_set_gray_to_rgb(png);
    if (!(type & PNG_COLOR_MASK_ALPHA)) ::png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
  }
  ::png_set_interlace_handling(png);
  ::png_read_update_info(png, info);
  const std::size_t stride = ::png_get_rowbytes(png, info);
  if (stride != static_cast<std::size_t>(px.width) * (px.indexed ? 1 : 4)) ::png_error(png, "unexpected row layout");
  px.data.resize(stride * px.height);
  px.rows.resize(px.height);
  for (std::uint32_t y = 0; y < px.height; ++y) px.rows[y] = px.data.data() + stride * y;
  ::png_read_image(png, px.rows.data());
  ::png_read_end(png, nullptr);
  return true;
}

bool DecodePng(std::span<const std::uint8_t> bytes, RgbaImage& out, std::string* error) {
  // The header's size, read first so that the refusal names it.
  if (bytes.size() >= 24 && std::memcmp(bytes.data() + 12, "IHDR", 4) == 0) {
    auto be32 = [&](std::size_t at) {
      return std::int64_t{bytes[at]} << 24 | std::int64_t{bytes[at + 1]} << 16 | std::int64_t{bytes[at + 2]} << 8 |
             bytes[at + 3];
    };
    if (!PictureSizeFits(be32(16), be32(20), error)) return false;
  }
  auto read = std::make_unique<PngRead>();
  read->bytes = bytes;
  PngPixels px;
  png_structp png = ::png_create_read_struct(PNG_LIBPNG_VER_STRING, read.get(), PngError, PngWarning);
  if (!png) return Fail(error, "the PNG decoder cannot start");
  png_infop info = ::png_create_info_struct(png);
  const bool ok = info && ReadPngRows(*read, px, png, info);
  ::png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
  if (!ok) return Fail(error, std::string("the PNG file is damaged: ") + read->message);
  if (!PictureSizeFits(px.width, px.height, error)) return false;
  StartImage(out, static_cast<int>(px.width), static_cast<int>(px.height));
  if (!px.indexed) {
    out.rgba = std::move(px.data);
    return true;
  }
  // The file's own palette and indices, unchanged, so that a picture drawn in a game's
  // palette keeps its exact indices. An index past the palette is black.
  bool outside = false;
  for (std::size_t i = 0; i < out.PixelCount(); ++i) {
    const std::uint8_t index = px.data[i];
    std::uint8_t* p = out.rgba.data() + 4 * i;
    if (index >= px.paletteSize) {
      outside = true;
      p[0] = p[1] = p[2] = 0, p[3] = 255;
      continue;
    }
    p[0] = px.palette[index].red, p[1] = px.palette[index].green, p[2] = px.palette[index].blue;
    p[3] = px.paletteAlpha[index];
  }
  if (!outside) {
    out.indices = std::move(px.data);
    out.paletteSize = px.paletteSize;
    for (int i = 0; i < out.paletteSize; ++i)
      out.palette.colors[static_cast<std::size_t>(i)] = {px.palette[i].red, px.palette[i].green, px.palette[i].blue};
  }
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
  if (!PictureSizeFits(width, height, error)) return false;
  StartImage(out, width, height);
  // A cut or damaged file is refused rather than shown half grey; a progressive file with
  // thousands of scans (a known way to make decoders crawl) is refused too.
  if (::tjDecompress2(tj.get(), data, size, out.rgba.data(), width, 0, height, TJPF_RGBA,
                      TJFLAG_STOPONWARNING | TJFLAG_LIMITSCANS) != 0)
    return Fail(error, std::string("the JPEG file is damaged: ") + ::tjGetErrorStr2(tj.get()));
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
  return PictureSizeFits(width, height, error);
}

bool FromPicture(const Picture& p, const Palette& palette, bool transparent255, RgbaImage& out) {
  if (p.IsTrueColor()) {
    StartImage(out, p.width, p.height);
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
    if (!PictureSizeFits(width, height, error)) return false;
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
    if (!PictureSizeFits(picture.width, picture.height, error)) return false;
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
  if (starts("BM", 2)) return DecodeBmp(b, out, error);
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
    if (!PictureSizeFits(picture.width, picture.height, error)) return false;
    LoadPalette(kQuakePaletteId, palette);
    return FromPicture(picture, palette, false, out);
  }
  if (ext == ".lmp" || ext == ".wal" || ext == ".mip") return DecodeGamePicture(b, ext, out, error);
  if (b[0] == 0x0A && (ext == ".pcx" || ext.empty())) {
    Picture picture;
    Palette palette;
    if (b.size() >= 12 && !CheckHeaderSize(b, 8, 10, true, error)) return false;
    if (!DecodePcx(b, picture, palette, error)) return false;
    if (!PictureSizeFits(picture.width, picture.height, error)) return false;
    if (!FromPicture(picture, palette, false, out)) return Fail(error, "the PCX picture is damaged");
    return true;
  }
  if (ext == ".tga" || ext.empty()) return DecodeTga(b, out, error);
  return Fail(error, "not a picture Tarn reads (PNG, JPEG, TGA, BMP, PCX, LMP, WAL, MIP or a Quake model's skin)");
}

}  // namespace

void ImageFromIndices(int width, int height, std::span<const std::uint8_t> indices, const Palette& palette,
                      bool transparent255, RgbaImage& out) {
  StartImage(out, width, height);
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
  if (!PictureSizeFits(picture.width, picture.height, error)) return false;
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

bool PictureSizeFits(std::int64_t width, std::int64_t height, std::string* error) {
  if (width <= 0 || height <= 0) return Fail(error, "the picture has no pixels");
  if (width > image::kMaxSide || height > image::kMaxSide)
    return Fail(error, "the picture is " + std::to_string(width) + " × " + std::to_string(height) +
                           ", larger than the " + std::to_string(image::kMaxSide) + " × " +
                           std::to_string(image::kMaxSide) + " Tarn reads");
  return true;
}

void StartImage(RgbaImage& out, int width, int height) {
  out = RgbaImage{};
  out.width = width;
  out.height = height;
  out.rgba.assign(out.PixelCount() * 4, 0);
}

}  // namespace tarn
