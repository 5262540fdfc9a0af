#include "pictures/ImageWrite.h"

#include <png.h>

#include <csetjmp>
#include <cstring>

#include "fileio/Strings.h"

namespace tarn {

namespace {

bool HasPixels(const RgbaImage& image, std::string* error) {
  if (image.width > 0 && image.height > 0 && image.rgba.size() == image.PixelCount() * 4) return true;
  if (error) *error = "a picture without pixels cannot be written";
  return false;
}

// What libpng's callbacks reach; made before setjmp so that the jump back skips no destructor.
struct PngSink {
  std::vector<std::uint8_t>* out = nullptr;
  std::jmp_buf jump;
};

void PngWrite(png_structp png, png_bytep data, png_size_t n) {
  auto* sink = static_cast<PngSink*>(::png_get_io_ptr(png));
  sink->out->insert(sink->out->end(), data, data + n);
}

void PngFlush(png_structp) {}

void PngError(png_structp png, png_const_charp) {
  auto* sink = static_cast<PngSink*>(::png_get_error_ptr(png));
  std::longjmp(sink->jump, 1);
}

void PngWarning(png_structp, png_const_charp) {}

bool WritePngRows(PngSink& sink, png_structp png, png_infop info, const RgbaImage& image, bool opaque, int level,
                  std::vector<png_bytep>& rows) {
  if (setjmp(sink.jump)) return false;
  ::png_set_write_fn(png, &sink, PngWrite, PngFlush);
  ::png_set_compression_level(png, level);
  ::png_set_IHDR(png, info, static_cast<png_uint_32>(image.width), static_cast<png_uint_32>(image.height), 8,
                 opaque ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  ::png_write_info(png, info);
  // The fourth byte of each opaque pixel is dropped on the way: the same pixels, a quarter less
  // for deflate to read.
  if (opaque) ::png_set_filler(png, 0, PNG_FILLER_AFTER);
  ::png_write_image(png, rows.data());
  ::png_write_end(png, nullptr);
  return true;
}

}  // namespace

std::optional<ImageFileFormat> ImageFileFormatOf(std::string_view word) {
  const std::string w = ToLower(word);
  if (w == "png") return ImageFileFormat::Png;
  if (w == "tga") return ImageFileFormat::Tga;
  return std::nullopt;
}

const char* ImageFileExtension(ImageFileFormat format) { return format == ImageFileFormat::Png ? ".png" : ".tga"; }

bool EncodePng(const RgbaImage& image, std::vector<std::uint8_t>& out, std::string* error, int level) {
  out.clear();
  if (!HasPixels(image, error)) return false;
  bool opaque = true;
  for (std::size_t i = 3; i < image.rgba.size() && opaque; i += 4) opaque = image.rgba[i] == 0xFF;
  std::vector<png_bytep> rows(static_cast<std::size_t>(image.height));
  const std::size_t stride = static_cast<std::size_t>(image.width) * 4;
  for (std::size_t y = 0; y < rows.size(); ++y) rows[y] = const_cast<png_bytep>(image.rgba.data() + y * stride);
  PngSink sink;
  sink.out = &out;
  png_structp png = ::png_create_write_struct(PNG_LIBPNG_VER_STRING, &sink, PngError, PngWarning);
  png_infop info = png ? ::png_create_info_struct(png) : nullptr;
  const bool ok = png && info && WritePngRows(sink, png, info, image, opaque, level, rows);
  ::png_destroy_write_struct(&png, &info);
  if (!ok) {
    out.clear();
    if (error) *error = "the picture cannot be made into a PNG";
  }
  return ok;
}

bool EncodeTga(const RgbaImage& image, std::vector<std::uint8_t>& out, std::string* error) {
  out.clear();
  if (!HasPixels(image, error)) return false;
  if (image.width > 0xFFFF || image.height > 0xFFFF) {
    if (error) *error = "a TGA holds at most 65535 pixels a side";
    return false;
  }
  constexpr std::size_t kHeader = 18;
  out.assign(kHeader + image.PixelCount() * 4, 0);
  out[2] = 2;  // uncompressed true colour
  out[12] = static_cast<std::uint8_t>(image.width & 0xFF);
  out[13] = static_cast<std::uint8_t>(image.width >> 8);
  out[14] = static_cast<std::uint8_t>(image.height & 0xFF);
  out[15] = static_cast<std::uint8_t>(image.height >> 8);
  out[16] = 32;
  out[17] = 8;  // eight bits of alpha; rows from the bottom up
  std::uint8_t* p = out.data() + kHeader;
  for (int y = image.height - 1; y >= 0; --y) {
    const std::uint8_t* s = image.rgba.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(image.width) * 4;
    for (int x = 0; x < image.width; ++x, s += 4, p += 4) {
      p[0] = s[2];
      p[1] = s[1];
      p[2] = s[0];
      p[3] = s[3];
    }
  }
  return true;
}

bool EncodeImageFile(const RgbaImage& image, ImageFileFormat format, std::vector<std::uint8_t>& out,
                     std::string* error) {
  return format == ImageFileFormat::Png ? EncodePng(image, out, error) : EncodeTga(image, out, error);
}

}  // namespace tarn
