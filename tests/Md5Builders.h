// MD5 text (".md5mesh", ".md5anim", MD5Version 10) built from a few joints, one mesh and the
// frames' joint values, for the MD5 reader's tests.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace tarn::test {

struct Md5Joint {
  std::string name;
  int parent = -1;
  std::array<double, 3> pos{}, q{};  // q: x, y, z; w follows from them
};
struct Md5Weight {
  int joint = 0;
  double bias = 1;
  std::array<double, 3> pos{};
};
struct Md5Vert {
  double s = 0, t = 0;
  int first = 0, count = 1;
};

struct Md5Spec {
  std::vector<Md5Joint> joints;  // as bound, each in the model's space
  std::string shader = "skin";
  std::vector<Md5Vert> verts;
  std::vector<std::array<int, 3>> tris;
  std::vector<Md5Weight> weights;
  // Each frame's joints relative to their parents, every component animated (flags 63).
  std::vector<std::vector<Md5Joint>> frames;
};

inline std::string Num(double v) {
  char b[32];
  std::snprintf(b, sizeof b, "%.6f", v);
  return b;
}
inline std::string Vec(const std::array<double, 3>& v) {
  return "( " + Num(v[0]) + " " + Num(v[1]) + " " + Num(v[2]) + " )";
}

inline std::string Md5Mesh(const Md5Spec& s) {
  std::string t = "MD5Version 10\ncommandline \"built\"\n\nnumJoints " + std::to_string(s.joints.size()) +
                  "\nnumMeshes 1\n\njoints {\n";
  for (const Md5Joint& j : s.joints)
    t += "\t\"" + j.name + "\" " + std::to_string(j.parent) + " " + Vec(j.pos) + " " + Vec(j.q) + "  // bound\n";
  t += "}\n\nmesh {\n\tshader \"" + s.shader + "\"\n\tnumverts " + std::to_string(s.verts.size()) + "\n";
  for (std::size_t i = 0; i < s.verts.size(); ++i)
    t += "\tvert " + std::to_string(i) + " ( " + Num(s.verts[i].s) + " " + Num(s.verts[i].t) + " ) " +
         std::to_string(s.verts[i].first) + " " + std::to_string(s.verts[i].count) + "\n";
  t += "\tnumtris " + std::to_string(s.tris.size()) + "\n";
  for (std::size_t i = 0; i < s.tris.size(); ++i)
    t += "\ttri " + std::to_string(i) + " " + std::to_string(s.tris[i][0]) + " " + std::to_string(s.tris[i][1]) + " " +
         std::to_string(s.tris[i][2]) + "\n";
  t += "\tnumweights " + std::to_string(s.weights.size()) + "\n";
  for (std::size_t i = 0; i < s.weights.size(); ++i)
    t += "\tweight " + std::to_string(i) + " " + std::to_string(s.weights[i].joint) + " " + Num(s.weights[i].bias) +
         " " + Vec(s.weights[i].pos) + "\n";
  return t + "}\n";
}

inline std::string Md5Anim(const Md5Spec& s) {
  const std::size_t n = s.joints.size();
  std::string t = "MD5Version 10\ncommandline \"\"\n\nnumFrames " + std::to_string(s.frames.size()) + "\nnumJoints " +
                  std::to_string(n) + "\nframeRate 10\nnumAnimatedComponents " + std::to_string(n * 6) +
                  "\n\nhierarchy {\n";
  for (std::size_t j = 0; j < n; ++j)
    t += "\t\"" + s.joints[j].name + "\" " + std::to_string(s.joints[j].parent) + " 63 " + std::to_string(j * 6) + "\n";
  t += "}\n\nbounds {\n";
  for (std::size_t f = 0; f < s.frames.size(); ++f) t += "\t( -1 -1 -1 ) ( 1 1 1 )\n";
  t += "}\n\nbaseframe {\n";
  for (std::size_t j = 0; j < n; ++j) t += "\t( 0 0 0 ) ( 0 0 0 )\n";
  t += "}\n";
  for (std::size_t f = 0; f < s.frames.size(); ++f) {
    t += "\nframe " + std::to_string(f) + " {\n";
    for (const Md5Joint& j : s.frames[f]) {
      for (double v : j.pos) t += " " + Num(v);
      for (double v : j.q) t += " " + Num(v);
      t += "\n";
    }
    t += "}\n";
  }
  return t;
}

// Two joints ten units apart on x, the second a child of the first; a triangle over a vertex
// on each joint and one weighed half to each (each two units out along x); two frames, the
// second turning the root a quarter to the left about z (its x, y, z of (0, 0, -0.7071): w is
// the negative root, so this is the quarter turn (0, 0, 0.7071, 0.7071)).
inline Md5Spec Md5Arm() {
  Md5Spec s;
  s.joints = {{"root", -1, {0, 0, 0}, {0, 0, 0}}, {"arm", 0, {10, 0, 0}, {0, 0, 0}}};
  s.verts = {{0, 0, 0, 1}, {1, 0, 1, 1}, {0, 1, 2, 2}};
  s.tris = {{0, 1, 2}};
  s.weights = {{0, 1, {2, 0, 0}}, {1, 1, {2, 0, 0}}, {0, 0.5, {2, 0, 0}}, {1, 0.5, {2, 0, 0}}};
  const double h = -0.70710678;
  s.frames = {{{"root", -1, {0, 0, 0}, {0, 0, 0}}, {"arm", 0, {10, 0, 0}, {0, 0, 0}}},
              {{"root", -1, {0, 0, 0}, {0, 0, h}}, {"arm", 0, {10, 0, 0}, {0, 0, 0}}}};
  return s;
}

}  // namespace tarn::test
