#include "cli/PngWriter.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <vector>

namespace tarn::cli {

bool WritePng(const std::string& path, const Picture& picture, const Palette& palette, std::string* error) {
  auto fail = [&](const char* why) {
    if (error) *error = std::string(why) + ": " + path;
    return false;
  };
  if (picture.width <= 0 || picture.height <= 0) return fail("a picture without pixels cannot be written");
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return fail("cannot create");
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info) {
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    return fail("out of memory");
  }
  std::vector<png_bytep> rows(static_cast<std::size_t>(picture.height));
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    std::remove(path.c_str());
    return fail("cannot write");
  }
  png_init_io(png, f);
  // Speed over the last few bytes: these are small pictures written in bulk.
  png_set_compression_level(png, 6);
  png_set_IHDR(png, info, static_cast<png_uint_32>(picture.width), static_cast<png_uint_32>(picture.height), 8,
               PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_color colors[256];
  for (int i = 0; i < 256; ++i) colors[i] = {palette.colors[static_cast<std::size_t>(i)].r, palette.colors[static_cast<std::size_t>(i)].g, palette.colors[static_cast<std::size_t>(i)].b};
  png_set_PLTE(png, info, colors, 256);
  png_write_info(png, info);
  for (int y = 0; y < picture.height; ++y) rows[static_cast<std::size_t>(y)] = const_cast<png_bytep>(picture.Row(y));
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  if (std::fclose(f) != 0) return fail("cannot write");
  return true;
}

}  // namespace tarn::cli
