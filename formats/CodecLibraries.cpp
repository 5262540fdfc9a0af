#include "formats/CodecLibraries.h"

#include <dlfcn.h>

#include <memory>

namespace tarn::codecs {

namespace {

// Opens the library by its soname and fills the table from it; nullptr when the library is
// missing or lacks one of the functions (an older version). Local binding, so that its symbols
// cannot stand in for anyone else's; the handle is kept for the life of the process.
template <typename Library, typename Resolve>
const Library* Load(const char* soname, Resolve resolve) {
  void* handle = ::dlopen(soname, RTLD_NOW | RTLD_LOCAL);
  if (!handle) return nullptr;
  auto library = std::make_unique<Library>();
  if (!resolve(handle, *library)) {
    ::dlclose(handle);
    return nullptr;
  }
  return library.release();
}

}  // namespace

#define TARN_CODEC_RESOLVE(name)                                                   \
  library.name = reinterpret_cast<decltype(library.name)>(::dlsym(handle, #name)); \
  if (!library.name) return false;

#define TARN_CODEC_LIBRARY(Function, Library, FUNCTIONS, soname, needs)                             \
  const Library* Function(std::string* why) {                                                       \
    static const Library* const loaded = Load<Library>(soname, [](void* handle, Library& library) { \
      FUNCTIONS(TARN_CODEC_RESOLVE)                                                                 \
      return true;                                                                                  \
    });                                                                                             \
    if (!loaded && why) *why = needs " (" soname "), which cannot be loaded";                       \
    return loaded;                                                                                  \
  }

TARN_CODEC_LIBRARY(Png, PngLibrary, TARN_PNG_FUNCTIONS, TARN_LIBPNG_SONAME, "PNG pictures need libpng")
TARN_CODEC_LIBRARY(TurboJpeg, TurboJpegLibrary, TARN_TURBOJPEG_FUNCTIONS, TARN_LIBTURBOJPEG_SONAME,
                   "JPEG pictures need libjpeg-turbo")
TARN_CODEC_LIBRARY(Stb, StbLibrary, TARN_STB_FUNCTIONS, TARN_LIBSTB_SONAME,
                   "TGA and BMP pictures, and resizing, need stb")
TARN_CODEC_LIBRARY(ImageQuant, ImageQuantLibrary, TARN_IMAGEQUANT_FUNCTIONS, TARN_LIBIMAGEQUANT_SONAME,
                   "optimal palettes need libimagequant")

#undef TARN_CODEC_LIBRARY
#undef TARN_CODEC_RESOLVE

}  // namespace tarn::codecs
