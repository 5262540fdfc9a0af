// Any bytes, under each name that picks a decoder: a decoded picture is exactly as large as it
// says and within the size limit, and encoding it back to a game picture does not fail on it.
#include <cstdlib>

#include "pictures/ImageDecode.h"
#include "pictures/ImageEncode.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const char* const kNames[] = {"x.png", "x.jpg", "x.tga", "x.bmp", "x.pcx", "x.lmp", "x.wal", "x.mip", "x"};
  if (size == 0) return 0;
  // The first byte picks the name, so that one corpus reaches every decoder.
  const char* name = kNames[data[0] % (sizeof kNames / sizeof *kNames)];
  tarn::RgbaImage img;
  if (!tarn::DecodeImage({data + 1, size - 1}, name, img, nullptr)) return 0;
  if (img.width <= 0 || img.height <= 0 || img.width > tarn::image::kMaxSide || img.height > tarn::image::kMaxSide)
    std::abort();
  if (img.rgba.size() != img.PixelCount() * 4) std::abort();
  if (img.HasIndices() && img.indices.size() != img.PixelCount()) std::abort();
  if (img.PixelCount() <= 64 * 64) {
    const tarn::EncodeResult r = tarn::EncodeImage(img, tarn::OutputKind::Lmp, {});
    if (!r.ok || r.bytes.size() != 8 + img.PixelCount()) std::abort();
  }
  return 0;
}
