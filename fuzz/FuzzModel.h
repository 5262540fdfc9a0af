// Shared by the model fuzzers: a loaded model must be whole, and every frame must draw.
#pragma once

#include <cstdlib>

#include "models/Model.h"

inline void CheckModel(const tarn::ModelData& m) {
  for (const auto& s : m.skins)
    if (s.pixels.size() != static_cast<std::size_t>(s.paddedWidth) * s.paddedHeight * 3) std::abort();
  for (std::size_t a = 0; a < m.animations.size(); ++a)
    for (std::size_t f = 0; f < m.animations[a].frames.size(); ++f) {
      auto corners = tarn::BuildFrameGeometry(m, static_cast<int>(a), static_cast<int>(f));
      // With a drawable first skin every triangle draws; without one, nothing does.
      const bool drawable = !m.skins.empty() && !m.skins.front().pixels.empty();
      if (corners.size() != (drawable ? m.triangles.size() * 3 : 0)) std::abort();
    }
}
