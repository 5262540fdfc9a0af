// Shared by the picture fuzzers: every decoded picture must be exactly as large as it says.
#pragma once

#include <cstdlib>

#include "pictures/Pictures.h"

inline void CheckPicture(const tarn::Picture& p) {
  if (p.width < 0 || p.height < 0) std::abort();
  const std::size_t area = static_cast<std::size_t>(p.width) * static_cast<std::size_t>(p.height);
  if (p.IsTrueColor()) {
    if (!p.pixels.empty() || p.rgba.size() != area * 4) std::abort();
  } else if (p.pixels.size() != static_cast<std::size_t>(p.Stride()) * static_cast<std::size_t>(p.height)) {
    std::abort();
  }
}

inline void CheckSet(const tarn::PictureSet& set) {
  for (const auto& p : set.pictures) CheckPicture(p);
  if (!set.pictures.empty() && set.palettes.empty()) std::abort();
}
