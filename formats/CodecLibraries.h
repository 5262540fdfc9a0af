// The picture codec libraries, loaded the first time a picture of their kind is decoded or
// encoded rather than when the program starts. tarn-pak starts often and briefly (a listing, a
// completion at Tab), and the dynamic loader's work for libpng, libjpeg-turbo, stb and
// libimagequant (which brings libgomp) was a third of such a start.
//
// Each function gives the library's table of functions, loaded once (safe from any thread), or
// nullptr with why set to a message for the user when the library cannot be loaded; a caller
// turns that into its usual failure, never a crash. The headers are the libraries' own, for
// their types and constants; their functions are called through the tables only.
#pragma once

#include <libimagequant.h>
#include <png.h>
#include <stb_image.h>
#include <stb_image_resize.h>
#include <turbojpeg.h>

#include <string>

namespace tarn::codecs {

// The simplified reading API for decoding, and the full writing API for tarn-pak's PNG files.
// png_jmpbuf is a macro over png_set_longjmp_fn: call Png()->png_set_longjmp_fn(png, longjmp,
// sizeof(jmp_buf)) for it.
#define TARN_PNG_FUNCTIONS(X)         \
  X(png_image_begin_read_from_memory) \
  X(png_image_finish_read)            \
  X(png_image_free)                   \
  X(png_create_write_struct)          \
  X(png_create_info_struct)           \
  X(png_destroy_write_struct)         \
  X(png_set_longjmp_fn)               \
  X(png_init_io)                      \
  X(png_set_compression_level)        \
  X(png_set_IHDR)                     \
  X(png_set_PLTE)                     \
  X(png_write_info)                   \
  X(png_set_filler)                   \
  X(png_write_image)                  \
  X(png_write_end)

#define TARN_TURBOJPEG_FUNCTIONS(X) \
  X(tjInitDecompress)               \
  X(tjDestroy)                      \
  X(tjDecompressHeader3)            \
  X(tjDecompress2)                  \
  X(tjGetErrorStr2)

#define TARN_STB_FUNCTIONS(X) \
  X(stbi_info_from_memory)    \
  X(stbi_load_from_memory)    \
  X(stbi_failure_reason)      \
  X(stbi_image_free)          \
  X(stbir_resize_uint8_srgb_edgemode)

#define TARN_IMAGEQUANT_FUNCTIONS(X) \
  X(liq_attr_create)                 \
  X(liq_attr_destroy)                \
  X(liq_set_max_colors)              \
  X(liq_image_create_rgba)           \
  X(liq_image_destroy)               \
  X(liq_image_quantize)              \
  X(liq_result_destroy)              \
  X(liq_get_palette)

#define TARN_CODEC_POINTER(name) decltype(&::name) name = nullptr;
struct PngLibrary {
  TARN_PNG_FUNCTIONS(TARN_CODEC_POINTER)
};
struct TurboJpegLibrary {
  TARN_TURBOJPEG_FUNCTIONS(TARN_CODEC_POINTER)
};
struct StbLibrary {
  TARN_STB_FUNCTIONS(TARN_CODEC_POINTER)
};
struct ImageQuantLibrary {
  TARN_IMAGEQUANT_FUNCTIONS(TARN_CODEC_POINTER)
};
#undef TARN_CODEC_POINTER

const PngLibrary* Png(std::string* why);
const TurboJpegLibrary* TurboJpeg(std::string* why);
// stb_image for TGA and BMP, and stb_image_resize.
const StbLibrary* Stb(std::string* why);
const ImageQuantLibrary* ImageQuant(std::string* why);

}  // namespace tarn::codecs
