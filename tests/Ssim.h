// The structural similarity of two pictures of one size, as scikit-image's
// structural_similarity computes it by default on grey pictures: grey from rgb2gray's weights
// (0.2125 red, 0.7154 green, 0.0721 blue) on values from 0 to 1, a 7 × 7 window of equal
// weights, the sample covariance (divided by 48), K1 0.01, K2 0.03, a data range of 1, and the
// mean over the windows wholly inside the picture (skimage crops 3 pixels off each side).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarn::test {

// rgb: width × height × channels bytes (3 or 4; alpha ignored). -1 when the sizes differ or the
// pictures are smaller than the window.
inline double GreySsim(const std::uint8_t* a, const std::uint8_t* b, int width, int height, int channels) {
  constexpr int kWin = 7, kHalf = kWin / 2;
  if (width < kWin || height < kWin) return -1;
  const std::size_t n = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  std::vector<double> x(n), y(n);
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t* p = a + i * static_cast<std::size_t>(channels);
    const std::uint8_t* q = b + i * static_cast<std::size_t>(channels);
    x[i] = (0.2125 * p[0] + 0.7154 * p[1] + 0.0721 * p[2]) / 255.0;
    y[i] = (0.2125 * q[0] + 0.7154 * q[1] + 0.0721 * q[2]) / 255.0;
  }
  const double c1 = 0.01 * 0.01, c2 = 0.03 * 0.03;
  const double np = kWin * kWin, cov = np / (np - 1);
  double total = 0;
  std::size_t windows = 0;
  for (int cy = kHalf; cy + kHalf < height; ++cy)
    for (int cx = kHalf; cx + kHalf < width; ++cx) {
      double sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
      for (int dy = -kHalf; dy <= kHalf; ++dy)
        for (int dx = -kHalf; dx <= kHalf; ++dx) {
          const std::size_t i =
              static_cast<std::size_t>(cy + dy) * static_cast<std::size_t>(width) + static_cast<std::size_t>(cx + dx);
          sx += x[i], sy += y[i], sxx += x[i] * x[i], syy += y[i] * y[i], sxy += x[i] * y[i];
        }
      const double ux = sx / np, uy = sy / np;
      const double vx = cov * (sxx / np - ux * ux), vy = cov * (syy / np - uy * uy);
      const double vxy = cov * (sxy / np - ux * uy);
      total += ((2 * ux * uy + c1) * (2 * vxy + c2)) / ((ux * ux + uy * uy + c1) * (vx + vy + c2));
      ++windows;
    }
  return total / static_cast<double>(windows);
}

}  // namespace tarn::test
