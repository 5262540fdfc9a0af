// Half-Life's studio models: posed as the engine poses them, their textures and sequence groups
// found beside them, hostile files refused with a message, and the commands taking them as they
// take a modelling program's model.
#include <algorithm>
#include <cmath>
#include <map>

#include "CliSupport.h"
#include "StudioBuilders.h"
#include "TestSupport.h"
#include "fileio/ByteIO.h"
#include "models/Model.h"
#include "models/ModelFiles.h"
#include "models/StudioModel.h"

namespace tarn::test {
namespace {

// Files by name from a map, as a folder beside the model would give them.
StudioFiles Beside(std::map<std::string, Bytes> files) {
  return [files = std::move(files)](const std::string& name, std::vector<std::uint8_t>& out) {
    const auto it = files.find(name);
    if (it == files.end()) return false;
    out = it->second;
    return true;
  };
}

StudioModel Read(const StudioBuild& b, double fps = 10, bool withFiles = true) {
  StudioReadOptions options;
  options.stem = "tiny";
  options.fps = fps;
  std::map<std::string, Bytes> files;
  if (withFiles && !b.textures.empty()) files["tinyT.mdl"] = b.textures;
  if (withFiles && !b.group.empty()) files["tiny01.mdl"] = b.group;
  StudioModel m;
  std::string why;
  EXPECT_TRUE(ReadStudioModel(b.model, options, Beside(files), m, &why)) << why;
  return m;
}

std::array<float, 3> At(const StudioModel& m, std::size_t frame, std::uint32_t vertex) {
  const std::vector<float>& p = m.source.frames.at(frame).positions;
  return {p.at(vertex * 3), p.at(vertex * 3 + 1), p.at(vertex * 3 + 2)};
}

void ExpectNear(const std::array<float, 3>& got, std::array<float, 3> want) {
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(got[k], want[k], 1e-3) << "axis " << k;
}

// Frame 1 turns the bone a right angle about z (counter-clockwise seen from above, as the
// engine's AngleQuaternion turns yaw) and moves it 10 units along x.
TEST(StudioModel, PosesVerticesByTheirBoneFrameByFrame) {
  const StudioModel m = Read(BuildStudio({}));
  EXPECT_EQ(m.counts.bones, 1u);
  EXPECT_EQ(m.counts.bodyParts, 1u);
  EXPECT_EQ(m.counts.meshes, 1u);
  EXPECT_EQ(m.counts.triangles, 1u);
  EXPECT_EQ(m.counts.textures, 1u);
  EXPECT_EQ(m.counts.skinFamilies, 1u);
  EXPECT_EQ(m.counts.sequences, 1u);
  ASSERT_EQ(m.animations, std::vector<std::string>{"idle"});
  ASSERT_EQ(m.source.vertexCount, 3u);
  ASSERT_EQ(m.source.frames.size(), 2u);
  ExpectNear(At(m, 0, 1), {8, 0, 0});
  ExpectNear(At(m, 1, 1), {10, 8, 0});
  ExpectNear(At(m, 1, 2), {2, 0, 0});
  EXPECT_EQ(m.source.frames[0].name, "idle1");

  // The strip's corners as given, their texture coordinates in the texture's pixels.
  ASSERT_EQ(m.source.triangles.size(), 1u);
  const auto& t = m.source.triangles[0];
  EXPECT_EQ(t[1].vertex, 1u);
  EXPECT_FLOAT_EQ(t[1].u, 1);
  EXPECT_FLOAT_EQ(t[2].v, 1);
  // The skin: the texture's indices through its own palette (index i is grey i here).
  ASSERT_TRUE(m.textured);
  ASSERT_EQ(m.skin.width, 4);
  EXPECT_EQ(m.skin.rgba[1 * 4], 16);
  EXPECT_TRUE(m.warnings.empty());

  // Sampled twice as often as the sequence runs: the middle frame halfway, the turn too.
  const StudioModel twice = Read(BuildStudio({}), 20);
  ASSERT_EQ(twice.source.frames.size(), 3u);
  const float half = 8 * std::sqrt(0.5f);
  ExpectNear(At(twice, 1, 1), {5 + half, half, 0});
  // With no rate, every frame of the sequence once.
  EXPECT_EQ(Read(BuildStudio({}), 0).source.frames.size(), 2u);
}

// Strips turn every other triangle; fans turn round their first corner.
TEST(StudioModel, StripsAndFansBecomeTrianglesFacingOneWay) {
  StudioSpec s;
  s.vertices = {{{0, 0, 0}}, {{8, 0, 0}}, {{0, 8, 0}}, {{8, 8, 0}}};
  s.strip = {0, 1, 2, 3};
  StudioModel m = Read(BuildStudio(s));
  ASSERT_EQ(m.source.triangles.size(), 2u);
  EXPECT_EQ(m.source.triangles[1][0].vertex, 2u);
  EXPECT_EQ(m.source.triangles[1][1].vertex, 1u);
  EXPECT_EQ(m.source.triangles[1][2].vertex, 3u);
  s.fan = true;
  m = Read(BuildStudio(s));
  ASSERT_EQ(m.source.triangles.size(), 2u);
  EXPECT_EQ(m.source.triangles[1][0].vertex, 0u);
  EXPECT_EQ(m.source.triangles[1][1].vertex, 2u);
  EXPECT_EQ(m.source.triangles[1][2].vertex, 3u);
}

// studiomdl's $externaltextures and $sequencegroupsize: NAMEt.mdl and NAME01.mdl beside it.
TEST(StudioModel, TexturesAndSequenceGroupsComeFromTheFilesBeside) {
  StudioSpec s;
  s.externalTextures = true;
  s.group = 1;
  const StudioBuild b = BuildStudio(s);
  ASSERT_FALSE(b.textures.empty());
  ASSERT_FALSE(b.group.empty());
  StudioModel m = Read(b);
  EXPECT_TRUE(m.textured);
  EXPECT_EQ(m.counts.textures, 1u);
  EXPECT_EQ(m.counts.sequenceGroups, 2u);
  ASSERT_EQ(m.source.frames.size(), 2u);
  ExpectNear(At(m, 1, 1), {10, 8, 0});
  EXPECT_TRUE(m.warnings.empty());

  // Without them: shown untextured and at rest, saying why.
  m = Read(b, 10, false);
  EXPECT_FALSE(m.textured);
  EXPECT_TRUE(m.animations.empty());
  ASSERT_EQ(m.source.frames.size(), 1u);
  ExpectNear(At(m, 0, 1), {8, 0, 0});
  ASSERT_EQ(m.warnings.size(), 2u);
  EXPECT_NE(m.warnings[0].find("tinyT.mdl, which is not there"), std::string::npos);
  EXPECT_NE(m.warnings[1].find("tiny01.mdl is not there"), std::string::npos);

  // The two companions are not models to show of their own.
  EXPECT_EQ(SniffStudioFile(b.textures), StudioFileKind::Textures);
  EXPECT_EQ(SniffStudioFile(b.group), StudioFileKind::SequenceGroup);
  EXPECT_NE(StudioFileProblem(b.textures).find("only the textures"), std::string::npos);
  EXPECT_NE(StudioFileProblem(b.group).find("a sequence group"), std::string::npos);
  EXPECT_EQ(SniffModelFile(b.model), ModelFileFormat::HalfLife);
}

// Meshes drawing with textures of their own: each keeps its texture in the one skin, inside and
// kept in the model's own textures or in NAMEt.mdl alike.
TEST(StudioModel, EachMeshShowsItsOwnTexture) {
  for (bool external : {false, true}) {
    StudioSpec s;
    s.textures = 2;
    s.externalTextures = external;
    const StudioModel m = Read(BuildStudio(s));
    EXPECT_EQ(m.counts.textures, 2u);
    ASSERT_TRUE(m.textured);
    ASSERT_EQ(m.source.triangles.size(), 2u);
    EXPECT_TRUE(m.warnings.empty()) << m.warnings.front();
    for (std::size_t t = 0; t < 2; ++t)
      for (const SourceCorner& c : m.source.triangles[t]) {
        const int x = std::clamp(static_cast<int>(c.u * m.skin.width), 0, m.skin.width - 1);
        const int y = std::clamp(static_cast<int>(c.v * m.skin.height), 0, m.skin.height - 1);
        const std::uint8_t* rgba = &m.skin.rgba[(static_cast<std::size_t>(y) * m.skin.width + x) * 4];
        // Texture 0 is grey, texture 1 red with green 1.
        if (t == 0) EXPECT_EQ(rgba[1], rgba[0]) << "corner at " << c.u << "," << c.v;
        else EXPECT_TRUE(rgba[1] == 1 && rgba[2] == 0) << "corner at " << c.u << "," << c.v;
      }
  }
}

std::string Refusal(const Bytes& model, const Bytes& group = {}) {
  StudioReadOptions options;
  options.stem = "tiny";
  StudioModel m;
  std::string why;
  std::map<std::string, Bytes> files;
  if (!group.empty()) files["tiny01.mdl"] = group;
  EXPECT_FALSE(ReadStudioModel(model, options, Beside(files), m, &why));
  EXPECT_TRUE(m.source.triangles.empty());
  return why;
}

TEST(StudioModel, HostileFilesAreRefusedWithAMessage) {
  const StudioBuild b = BuildStudio({});
  auto with = [&](std::size_t at, std::int32_t v) {
    Bytes copy = b.model;
    StoreU32(&copy[at], static_cast<std::uint32_t>(v));
    return copy;
  };
  EXPECT_EQ(Refusal(with(4, 11)), "Half-Life model: version 11; Tarn reads version 10 (Half-Life's)");
  EXPECT_EQ(Refusal(with(kStudioNumBones, 100000)), "Half-Life model: it counts 100000 bones; Tarn reads at most 128");
  EXPECT_EQ(Refusal(with(kStudioBodyPartIndex, 0x7FFFFFF0)), "Half-Life model: its body parts lie outside the file");
  EXPECT_EQ(Refusal(with(kStudioNumSeq, -1)), "Half-Life model: it counts -1 sequences; Tarn reads at most 2048");

  // A strip naming a vertex past its submodel's, a vertex naming a bone past the model's.
  StudioSpec s;
  s.strip = {0, 1, 7};
  EXPECT_EQ(Refusal(BuildStudio(s).model), "Half-Life model: a strip names a vertex its submodel does not have");

  // A sequence in a group the model does not list, and a group file that is not one.
  StudioSpec grouped;
  grouped.group = 1;
  const StudioBuild g = BuildStudio(grouped);
  Bytes noGroups = g.model;
  StoreU32(&noGroups[172], 1);
  EXPECT_EQ(Refusal(noGroups, g.group), "Half-Life model: sequence idle names a group the model does not have");
  Bytes notGroup = g.group;
  notGroup[3] = 'X';
  EXPECT_EQ(Refusal(g.model, notGroup), "Half-Life model: tiny01.mdl is not a version 10 sequence group (\"IDSQ\")");

  // A sequence longer than its values, which end with their file: the runs are followed to
  // the file's end and no further.
  Bytes longer = g.model;
  const std::size_t seq = static_cast<std::size_t>(longer[168] | longer[169] << 8);
  StoreU32(&longer[seq + 56], 50);
  EXPECT_EQ(Refusal(longer, g.group), "Half-Life model: an animation runs past the end of its file");

  // Cut anywhere: a message, never a crash.
  for (std::size_t size = 0; size < b.model.size(); size += 7) {
    const Bytes cut(b.model.begin(), b.model.begin() + static_cast<std::ptrdiff_t>(size));
    if (size < 4) continue;
    const std::string w = Refusal(cut);
    EXPECT_EQ(w.rfind("Half-Life model: ", 0), 0u) << size << ": " << w;
  }
}

// The commands: info shows the model's own counts, model converts it as it converts a
// modelling program's, and the companions alone are refused by name.
TEST(StudioModel, CommandsReadItFromAnArchiveAndFromDisk) {
  TempDir dir;
  StudioSpec s;
  s.externalTextures = true;
  s.group = 1;
  const StudioBuild b = BuildStudio(s);
  WriteFile(dir / "m.pak", PakBuilder()
                               .File("models/tiny.mdl", b.model)
                               .File("models/tinyt.mdl", b.textures)
                               .File("models/tiny01.mdl", b.group)
                               .Build());
  Result r = Tool({"info", (dir / "m.pak").string(), "models/tiny.mdl"});
  ASSERT_EQ(r.rc, 0) << r.err;
  for (const char* line : {"format: hlmdl", "frames: 2", "bones: 1", "body parts: 1", "meshes: 1", "textures: 1",
                           "skin families: 1", "sequences: 1", "sequence groups: 2", "animation: idle 2"})
    EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
  r = Tool({"info", (dir / "m.pak").string(), "models/tinyt.mdl"});
  EXPECT_EQ(r.rc, 1);
  EXPECT_NE(r.err.find("Half-Life model: this holds only the textures"), std::string::npos) << r.err;
  r = Tool({"convert", (dir / "m.pak").string(), "models/tiny.mdl", (dir / "tiny.gltf").string()});
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_TRUE(fs::exists(dir / "tiny.gltf"));

  WriteFile(dir / "tiny.mdl", b.model);
  WriteFile(dir / "tinyT.mdl", b.textures);
  WriteFile(dir / "tiny01.mdl", b.group);
  r = Tool({"model", (dir / "tiny.mdl").string(), (dir / "out.mdl").string()});
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(r.err, "");  // textures and sequence found
  ModelData quake;
  std::string why;
  ASSERT_TRUE(LoadMdl(ReadFile(dir / "out.mdl"), quake, &why)) << why;
  EXPECT_EQ(quake.FrameCount(), 2);
  EXPECT_EQ(quake.triangles.size(), 1u);
  r = Tool({"model", (dir / "tiny.mdl").string(), (dir / "out.md2").string()});
  EXPECT_EQ(r.rc, 0) << r.err;
}

}  // namespace
}  // namespace tarn::test
