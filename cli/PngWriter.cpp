#include "cli/PngWriter.h"

#include <csetjmp>
#include <cstdio>
#include <vector>

#include <png.h>
#include "fileio/SafeSave.h"

namespace tarn::cli {

namespace {

// Writes one PNG; rows[y] points at row y in the layout the colour type says (with a fourth,
// dropped byte after each RGB pixel when dropFourth is set).
bool Write(const std::string& path, int width, int height, int colorType, const Palette* palette,
           const std::vector<png_bytep>& rows, std::string* error, bool dropFourth = false) {
  auto fail = [&](const char* why) {
    if (error) *error = std::string(why) + ": " + path;
    return false;
  };
  if (width <= 0 || height <= 0) return fail("a picture without pixels cannot be written");
  // Written beside the target and put in its place once complete, as every file Tarn writes.
  CSafeSave save;
  const auto saveFailed = [&] {
    if (error) *error = "cannot write " + save.Failure().Text();
    return false;
  };
  if (!save.Begin(path)) return saveFailed();
  png_structp png = ::png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? ::png_create_info_struct(png) : nullptr;
  if (!png || !info) {
    ::png_destroy_write_struct(&png, &info);
    return fail("out of memory");
  }
  // What png_jmpbuf(png) expands to, through the loaded library.
  if (setjmp(png_jmpbuf(png))) {
    ::png_destroy_write_struct(&png, &info);
    return fail("cannot write");
  }
  ::png_init_io(png, save.File());
  ::png_set_compression_level(png, 6);
  ::png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, colorType,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_color colors[256];
  if (palette) {
    for (std::size_t i = 0; i < 256; ++i)
      colors[i] = {palette->colors[i].r, palette->colors[i].g, palette->colors[i].b};
    ::png_set_PLTE(png, info, colors, 256);
  }
  ::png_write_info(png, info);
  if (dropFourth) ::png_set_filler(png, 0, PNG_FILLER_AFTER);
  ::png_write_image(png, const_cast<png_bytepp>(rows.data()));
  ::png_write_end(png, nullptr);
  ::png_destroy_write_struct(&png, &info);
  return save.Commit() || saveFailed();
}

}  // namespace

bool WritePng(const std::string& path, const Picture& picture, const Palette& palette, std::string* error) {
  std::vector<png_bytep> rows(static_cast<std::size_t>(std::max(picture.height, 0)));
  if (picture.IsTrueColor()) {
    const std::size_t stride = static_cast<std::size_t>(picture.width) * 4;
    for (int y = 0; y < picture.height; ++y)
      rows[static_cast<std::size_t>(y)] =
          const_cast<png_bytep>(picture.rgba.data() + static_cast<std::size_t>(y) * stride);
    // An opaque picture is written without its alpha: the same pixels, and deflate has a
    // quarter less to do without a constant fourth byte.
    bool opaque = true;
    for (std::size_t i = 3; i < picture.rgba.size() && opaque; i += 4) opaque = picture.rgba[i] == 0xFF;
    return Write(path, picture.width, picture.height, opaque ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_RGB_ALPHA, nullptr,
                 rows, error, opaque);
  }
  for (int y = 0; y < picture.height; ++y) rows[static_cast<std::size_t>(y)] = const_cast<png_bytep>(picture.Row(y));
  return Write(path, picture.width, picture.height, PNG_COLOR_TYPE_PALETTE, &palette, rows, error);
}

bool WritePngRgb(const std::string& path, int width, int height, std::size_t stride, const std::uint8_t* rgb,
                 std::string* error) {
  std::vector<png_bytep> rows(static_cast<std::size_t>(std::max(height, 0)));
  for (int y = 0; y < height; ++y) rows[static_cast<std::size_t>(y)] = const_cast<png_bytep>(rgb + y * stride);
  return Write(path, width, height, PNG_COLOR_TYPE_RGB, nullptr, rows, error);
}

}  // namespace tarn::cli
