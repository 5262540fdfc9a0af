// The models a map's point entities are drawn with: the path a "model" key names, or the model
// a common Quake item or monster class stands for, read from the archive the map came from and
// laid out at the entity's place and heading.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "maps/MapImages.h"

namespace tarn {

struct MapEntity;

// The .mdl or .md2 the entity is drawn with: its "model" key when that names one, else the
// model of its class when Quake draws that class with one; empty otherwise (brush models,
// classes drawn by the game's code, sprites).
std::string EntityModelPath(const MapEntity& entity);
// The entity's heading in degrees about the up axis: its "angle", or the yaw of its "angles".
float EntityYaw(const MapEntity& entity);

// Frame 0 of a model in map coordinates, ready to draw with its first skin.
struct MapModelMesh {
  std::vector<float> vertices;     // x y z s t for each corner, three corners a triangle
  std::vector<std::uint8_t> skin;  // skinWidth × skinHeight × RGB, rows top first
  int skinWidth = 0, skinHeight = 0;
  float mins[3] = {0, 0, 0}, maxs[3] = {0, 0, 0};
  bool empty() const { return vertices.empty(); }
};

// The model at path, found through lookup (an MD2's skins too), turned by yaw degrees and put at
// origin. False, with why, when it is not there, cannot be read or has nothing to draw.
bool BuildMapModel(const std::string& path, const MapFileLookup& lookup, const float origin[3], float yaw,
                   MapModelMesh& out, std::string* error);

}  // namespace tarn
