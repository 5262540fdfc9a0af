// Palette-indexed pictures to PNG files, for tarn-pak (no toolkit involved).
#pragma once

#include <string>

#include "formats/Pictures.h"

namespace tarn::cli {

bool WritePng(const std::string& path, const Picture& picture, const Palette& palette, std::string* error);

}  // namespace tarn::cli
