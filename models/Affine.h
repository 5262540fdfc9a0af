// Where a skeleton's bone puts what it carries: a 3 × 3 matrix (rotation, and scale where the
// format has one) in rows, and a translation in the last column. Shared by the readers that pose
// bones (IQM, Half-Life's studio models), which read it the same way.
#pragma once

#include <cmath>

namespace tarn {

struct Affine {
  double m[3][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}};

  // The rotation of the unit quaternion (x, y, z, w), each axis scaled (scale, when given, is
  // applied first), then moved by pos.
  static Affine FromQuaternion(double x, double y, double z, double w, const double pos[3],
                               const double scale[3] = nullptr) {
    const double r[3][3] = {{1 - 2 * (y * y + z * z), 2 * (x * y - z * w), 2 * (x * z + y * w)},
                            {2 * (x * y + z * w), 1 - 2 * (x * x + z * z), 2 * (y * z - x * w)},
                            {2 * (x * z - y * w), 2 * (y * z + x * w), 1 - 2 * (x * x + y * y)}};
    Affine a;
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) a.m[i][j] = r[i][j] * (scale ? scale[j] : 1);
      a.m[i][3] = pos[i];
    }
    return a;
  }

  Affine operator*(const Affine& b) const {
    Affine r;
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 4; ++j) {
        double v = j == 3 ? m[i][3] : 0;
        for (int k = 0; k < 3; ++k) v += m[i][k] * b.m[k][j];
        r.m[i][j] = v;
      }
    return r;
  }

  template <typename T>
  void Point(const T in[3], double out[3]) const {
    for (int i = 0; i < 3; ++i) out[i] = m[i][0] * in[0] + m[i][1] * in[1] + m[i][2] * in[2] + m[i][3];
  }

  // The inverse, or the identity for a transform that flattens space.
  Affine Inverse() const {
    const double a = m[0][0], b = m[0][1], c = m[0][2], d = m[1][0], e = m[1][1], f = m[1][2], g = m[2][0], h = m[2][1],
                 k = m[2][2];
    const double det = a * (e * k - f * h) - b * (d * k - f * g) + c * (d * h - e * g);
    if (!(std::abs(det) > 1e-12) || !std::isfinite(det)) return {};
    Affine r;
    const double inv[3][3] = {{(e * k - f * h) / det, (c * h - b * k) / det, (b * f - c * e) / det},
                              {(f * g - d * k) / det, (a * k - c * g) / det, (c * d - a * f) / det},
                              {(d * h - e * g) / det, (b * g - a * h) / det, (a * e - b * d) / det}};
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) r.m[i][j] = inv[i][j];
      r.m[i][3] = -(inv[i][0] * m[0][3] + inv[i][1] * m[1][3] + inv[i][2] * m[2][3]);
    }
    return r;
  }
};

}  // namespace tarn
