#include "maps/MapModels.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string_view>

#include "archive/EntryTypes.h"
#include "archive/PackObject.h"
#include "fileio/Strings.h"
#include "maps/MapEntities.h"
#include "models/Model.h"

namespace tarn {

namespace {

// Quake's classes whose models the game's code sets rather than the map: the common ones.
struct ClassModel {
  std::string_view classname, path;
};
constexpr ClassModel kClassModels[] = {
    {"monster_army", "progs/soldier.mdl"},
    {"monster_dog", "progs/dog.mdl"},
    {"monster_ogre", "progs/ogre.mdl"},
    {"monster_ogre_marksman", "progs/ogre.mdl"},
    {"monster_knight", "progs/knight.mdl"},
    {"monster_hell_knight", "progs/hknight.mdl"},
    {"monster_zombie", "progs/zombie.mdl"},
    {"monster_demon1", "progs/demon.mdl"},
    {"monster_shambler", "progs/shambler.mdl"},
    {"monster_wizard", "progs/wizard.mdl"},
    {"monster_enforcer", "progs/enforcer.mdl"},
    {"monster_fish", "progs/fish.mdl"},
    {"monster_shalrath", "progs/shalrath.mdl"},
    {"monster_tarbaby", "progs/tarbaby.mdl"},
    {"item_armor1", "progs/armor.mdl"},
    {"item_armor2", "progs/armor.mdl"},
    {"item_armorInv", "progs/armor.mdl"},
    {"weapon_supershotgun", "progs/g_shot.mdl"},
    {"weapon_nailgun", "progs/g_nail.mdl"},
    {"weapon_supernailgun", "progs/g_nail2.mdl"},
    {"weapon_grenadelauncher", "progs/g_rock.mdl"},
    {"weapon_rocketlauncher", "progs/g_rock2.mdl"},
    {"weapon_lightning", "progs/g_light.mdl"},
    {"item_artifact_invulnerability", "progs/invulner.mdl"},
    {"item_artifact_envirosuit", "progs/suit.mdl"},
    {"item_artifact_invisibility", "progs/invisibl.mdl"},
    {"item_artifact_super_damage", "progs/quaddama.mdl"},
    {"light_torch_small_walltorch", "progs/flame.mdl"},
    {"light_flame_small_yellow", "progs/flame2.mdl"},
    {"light_flame_large_yellow", "progs/flame2.mdl"},
    {"light_flame_small_white", "progs/flame2.mdl"},
};

// Finds an MD2's skins through the lookup: at the path the model names, else a PCX of that file
// name beside the model (mods move models without mending the paths inside).
class CLookupModelHost : public CModelHost {
 public:
  CLookupModelHost(const MapFileLookup& lookup, std::string modelDir) : m_lookup(lookup), m_dir(std::move(modelDir)) {
    m_root.SetDirectory(true);
  }
  CPackObject* FindSkin(const std::string& path) override {
    std::vector<std::uint8_t> bytes;
    const auto slash = path.find_last_of("/\\");
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (!m_lookup(path, bytes) && !m_lookup(m_dir + name, bytes)) return nullptr;
    CPackObject* e = m_root.AddChild(name, false);
    e->SetSize(static_cast<std::int32_t>(bytes.size()));
    e->SetData(std::move(bytes));
    return e;
  }

 private:
  const MapFileLookup& m_lookup;
  std::string m_dir;
  CPackObject m_root;
};

}  // namespace

std::string EntityModelPath(const MapEntity& entity) {
  if (const std::string* model = entity.Find("model")) {
    if (IsGameModelType(FileTypeOf(*model))) return *model;
  }
  if (const std::string* classname = entity.Find("classname"))
    for (const ClassModel& c : kClassModels)
      if (*classname == c.classname) return std::string(c.path);
  return {};
}

float EntityYaw(const MapEntity& entity) {
  float pitch = 0, yaw = 0;
  if (const std::string* angles = entity.Find("angles"))
    if (std::sscanf(angles->c_str(), "%f %f", &pitch, &yaw) == 2 && std::isfinite(yaw)) return yaw;
  // -1 and -2 mean up and down, which a model on the floor does not show.
  if (const std::string* angle = entity.Find("angle"))
    if (std::sscanf(angle->c_str(), "%f", &yaw) == 1 && std::isfinite(yaw) && yaw >= 0) return yaw;
  return 0;
}

bool BuildMapModel(const std::string& path, const MapFileLookup& lookup, const float origin[3], float yaw,
                   MapModelMesh& out, std::string* error) {
  out = MapModelMesh{};
  std::vector<std::uint8_t> bytes;
  if (!lookup || !(lookup(path, bytes) || lookup(ToLower(path), bytes))) {
    if (error) *error = path + " is not in the archive";
    return false;
  }
  ModelData model;
  std::string why;
  const auto slash = path.rfind('/');
  CLookupModelHost host(lookup, slash == std::string::npos ? std::string() : path.substr(0, slash + 1));
  const bool read =
      FileTypeOf(path) == EntryType::Quake2Model ? LoadMd2(bytes, model, host, &why) : LoadMdl(bytes, model, &why);
  if (!read) {
    if (error) *error = path + ": " + why;
    return false;
  }
  const std::vector<FrameCorner> corners = BuildFrameGeometry(model, 0, 0);
  const ModelSkin* skin = model.skins.empty() ? nullptr : &model.skins.front();
  if (corners.empty() || !skin ||
      skin->pixels.size() <
          static_cast<std::size_t>(skin->paddedWidth) * static_cast<std::size_t>(skin->paddedHeight) * 3) {
    if (error) *error = path + " has nothing to draw";
    return false;
  }
  const float radians = yaw * static_cast<float>(M_PI) / 180, c = std::cos(radians), s = std::sin(radians);
  for (int a = 0; a < 3; ++a) {
    out.mins[a] = std::numeric_limits<float>::max();
    out.maxs[a] = std::numeric_limits<float>::lowest();
  }
  out.vertices.reserve(corners.size() * 5);
  for (const FrameCorner& k : corners) {
    const float p[3] = {origin[0] + k.x * c - k.y * s, origin[1] + k.x * s + k.y * c, origin[2] + k.z};
    if (!std::isfinite(p[0]) || !std::isfinite(p[1]) || !std::isfinite(p[2])) {
      if (error) *error = path + " has vertices that are not numbers";
      out = MapModelMesh{};
      return false;
    }
    for (int a = 0; a < 3; ++a) {
      out.mins[a] = std::min(out.mins[a], p[a]);
      out.maxs[a] = std::max(out.maxs[a], p[a]);
    }
    out.vertices.insert(out.vertices.end(), {p[0], p[1], p[2], static_cast<float>(k.s), static_cast<float>(k.t)});
  }
  out.skinWidth = skin->paddedWidth;
  out.skinHeight = skin->paddedHeight;
  out.skin = skin->pixels;
  return true;
}

}  // namespace tarn
