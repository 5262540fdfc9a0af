// Pictures to PNG files, for tarn-pak (no toolkit involved).
#pragma once

#include <string>

#include "pictures/Pictures.h"

namespace tarn::cli {

// A palette picture as an indexed PNG, a true-colour one as an RGBA PNG, or RGB when every
// pixel is opaque (the palette unused).
bool WritePng(const std::string& path, const Picture& picture, const Palette& palette, std::string* error);
// width × height RGB pixels, rows `stride` bytes apart.
bool WritePngRgb(const std::string& path, int width, int height, std::size_t stride, const std::uint8_t* rgb,
                 std::string* error);

}  // namespace tarn::cli
