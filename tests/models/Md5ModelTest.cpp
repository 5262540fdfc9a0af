// MD5 meshes and their animations read by Tarn's own reader: each frame skinned from the
// joints (the rotation's w derived as the games derive it), hostile files refused with a
// message, the .md5anim and the skins found beside the mesh, and the model converted; and an
// MD3's .skin files read as DarkPlaces reads them.
#include <algorithm>
#include <cmath>
#include <map>

#include "CliSupport.h"
#include "Md5Builders.h"
#include "ModelBuilders.h"
#include "TestSupport.h"
#include "models/Md3Skins.h"
#include "models/Md5Model.h"
#include "models/ModelFiles.h"
#include "models/ModelImport.h"

namespace tarn::test {
namespace {

struct Read {
  bool ok = false;
  Md5Model model;
  std::string why;
};

Read ReadText(const std::string& mesh, const std::vector<std::string>& anims = {}) {
  const Bytes meshBytes = ToBytes(mesh);
  std::vector<Bytes> animBytes;
  for (const std::string& a : anims) animBytes.push_back(ToBytes(a));
  std::vector<Md5Animation> list;
  for (const Bytes& b : animBytes) list.push_back({"wave", b});
  Read r;
  r.ok = ReadMd5(meshBytes, list, r.model, &r.why);
  return r;
}

void ExpectAt(const SourceFrame& frame, std::size_t v, float x, float y, float z) {
  EXPECT_NEAR(frame.positions[v * 3], x, 1e-3) << frame.name << " vertex " << v;
  EXPECT_NEAR(frame.positions[v * 3 + 1], y, 1e-3) << frame.name << " vertex " << v;
  EXPECT_NEAR(frame.positions[v * 3 + 2], z, 1e-3) << frame.name << " vertex " << v;
}

// Each vertex where its weights put it at each frame: the root's quarter turn carries the
// child joint and every vertex round with it. A turn the wrong way (w taken positive) would put
// them at negative y.
TEST(Md5Model, VerticesFollowTheirJointsAtEachFrame) {
  const Md5Spec s = Md5Arm();
  const Read r = ReadText(Md5Mesh(s), {Md5Anim(s)});
  ASSERT_TRUE(r.ok) << r.why;
  EXPECT_EQ(r.model.joints, 2u);
  EXPECT_EQ(r.model.meshes, 1u);
  EXPECT_EQ(r.model.material, "skin");
  EXPECT_EQ(r.model.animations, std::vector<std::string>{"wave"});
  EXPECT_TRUE(r.model.warnings.empty());
  const SourceModel& m = r.model.source;
  ASSERT_EQ(m.vertexCount, 3u);
  ASSERT_EQ(m.triangles.size(), 1u);
  EXPECT_EQ(m.triangles[0][1].vertex, 1u);
  EXPECT_FLOAT_EQ(m.triangles[0][1].u, 1);
  EXPECT_FLOAT_EQ(m.triangles[0][2].v, 1);
  ASSERT_EQ(m.frames.size(), 2u);
  EXPECT_EQ(m.frames[0].name, "wave1");
  EXPECT_EQ(m.frames[1].name, "wave2");
  ExpectAt(m.frames[0], 0, 2, 0, 0);
  ExpectAt(m.frames[0], 1, 12, 0, 0);
  ExpectAt(m.frames[0], 2, 7, 0, 0);
  ExpectAt(m.frames[1], 0, 0, 2, 0);
  ExpectAt(m.frames[1], 1, 0, 12, 0);
  ExpectAt(m.frames[1], 2, 0, 7, 0);

  // Without an animation, the mesh as it is bound.
  const Read bound = ReadText(Md5Mesh(s));
  ASSERT_TRUE(bound.ok) << bound.why;
  ASSERT_EQ(bound.model.source.frames.size(), 1u);
  ExpectAt(bound.model.source.frames[0], 1, 12, 0, 0);
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

// Indices past their arrays, numbers that are none, counts past any model and files cut short
// are refused with what is wrong; an animation that does not fit is left out, with why.
TEST(Md5Model, HostileFilesAreRefusedWithAReason) {
  const Md5Spec s = Md5Arm();
  const std::string mesh = Md5Mesh(s);
  const std::pair<std::string, std::string> bad[] = {
      {Replaced(mesh, "tri 0 0 1 2", "tri 0 0 1 3"), "triangle names vertex 3 of its 3"},
      {Replaced(mesh, "tri 0 0 1 2", "tri 0 0 1 4294967296"), "a triangle's vertex is 4294967296, outside"},
      {Replaced(mesh, ") 2 2\n", ") 3 2\n"), "vertex names weights 3 to 5 of its 4"},
      {Replaced(mesh, "weight 3 1", "weight 3 2"), "a weight's joint is 2, outside 0 to 1"},
      {Replaced(mesh, "weight 3 1 0.500000", "weight 3 1 nan"), "a weight's bias is not a finite number"},
      {Replaced(mesh, "weight 3 1 0.500000", "weight 3 1 1e300"), "a weight's bias is not a finite number"},
      {Replaced(mesh, "numverts 3", "numverts 99999999999"), "is 99999999999: more than Tarn reads (1048576)"},
      {Replaced(mesh, "numverts 3", "numverts 900000"), "is 900000, more than the file holds"},
      {Replaced(mesh, "numJoints 2", "numJoints 5000"), "numJoints is 5000: more than Tarn reads (1024)"},
      {Replaced(mesh, "\"arm\" 0", "\"arm\" 1"), "a joint's parent is 1, outside -1 to 0"},
      {Replaced(mesh, "vert 2", "vert 1"), "vertex 1 is given twice"},
      {Replaced(mesh, "MD5Version 10", "MD5Version 11"), "only MD5Version 10 is read"},
      {Replaced(mesh, "\"root\"", "\"root"), "a joint's parent is not a whole number: \"arm\""},
      {mesh.substr(0, mesh.find("numweights")), "it ends where a mesh's contents should be"},
      {mesh.substr(0, mesh.find("( 10")), "it ends where \"(\" should be"},
      {mesh + "mesh {\n", "it goes on past its last mesh"},
  };
  for (const auto& [text, why] : bad) {
    const Read r = ReadText(text);
    EXPECT_FALSE(r.ok) << why;
    EXPECT_NE(r.why.find(why), std::string::npos) << r.why;
    EXPECT_EQ(r.why.rfind("not an MD5 mesh Tarn reads: ", 0), 0u) << r.why;
    EXPECT_TRUE(r.model.source.frames.empty());
  }

  const std::string anim = Md5Anim(s);
  const std::pair<std::string, std::string> badAnims[] = {
      {Replaced(anim, "\"arm\" 0", "\"leg\" 0"), "its joint 1 (\"leg\") is not the mesh's"},
      {Replaced(anim, "numJoints 2", "numJoints 3"), "it moves 3 joints, the mesh has 2"},
      {Replaced(anim, "\"arm\" 0 63 6", "\"arm\" 0 64 6"), "a joint's flags is 64, outside 0 to 63"},
      {Replaced(anim, "\"arm\" 0 63 6", "\"arm\" 0 63 7"), "joint 1 reads past the frame's 12 components"},
      {Replaced(anim, "frame 1", "frame 0"), "frame 0 is given twice"},
      {Replaced(anim, "frame 1", "frame 2"), "a frame's number is 2, outside 0 to 1"},
      {Replaced(anim, "numFrames 2", "numFrames 2000"), "numFrames is 2000: more than Tarn reads (1024)"},
      {anim.substr(0, anim.size() - 8), "it ends where"},
  };
  for (const auto& [text, why] : badAnims) {
    const Read r = ReadText(mesh, {text});
    ASSERT_TRUE(r.ok) << r.why;
    ASSERT_EQ(r.model.warnings.size(), 1u) << why;
    EXPECT_NE(r.model.warnings[0].find("the animation \"wave\" is left out: " + why), std::string::npos)
        << r.model.warnings[0];
    EXPECT_EQ(r.model.source.frames.size(), 1u);
    EXPECT_TRUE(r.model.animations.empty());
  }
}

// The bytes tell a mesh; its animation alone is no model, and says which file to open.
TEST(Md5Model, AMeshIsAModelItsAnimationIsNot) {
  const Md5Spec s = Md5Arm();
  EXPECT_EQ(SniffModelFile(ToBytes(Md5Mesh(s))), ModelFileFormat::Md5);
  const Bytes anim = ToBytes(Md5Anim(s));
  EXPECT_EQ(SniffModelFile(anim), ModelFileFormat::Unknown);
  EXPECT_EQ(ModelFileProblem(SniffModelFile(anim), anim),
            "an MD5 animation is not a model: open the .md5mesh it goes with");
  EXPECT_EQ(Md5AnimationPath("progs/ogre.md5mesh"), "progs/ogre.md5anim");
  EXPECT_EQ(Md5SkinName("ogre", 1), "ogre_01_00");
}

// In an archive the mesh asks for NAME.md5anim beside it and for its shader's picture (the
// re-release's SHADER_00_00 when the shader names none), further skins SHADER_01_00, ...
TEST(Md5Model, AnArchivesMeshFindsItsAnimationAndSkins) {
  Md5Spec s = Md5Arm();
  s.shader = "arm";
  const Bytes mesh = ToBytes(Md5Mesh(s)), anim = ToBytes(Md5Anim(s));
  const Bytes red = SolidTga(8, 8, 255, 0, 0), blue = SolidTga(4, 4, 0, 0, 255);
  std::vector<std::string> asked;
  const FindBytes find = [&](const std::string& path, std::vector<std::uint8_t>& out) {
    asked.push_back(path);
    if (path == "progs/arm.md5anim") out = anim;
    else if (path == "progs/arm_00_00.tga") out = red;
    else if (path == "progs/arm_01_00.tga") out = blue;
    else return false;
    return true;
  };
  ModelData shown;
  std::string why;
  ASSERT_TRUE(ReadModelForView(mesh, "progs/arm.md5mesh", find, shown, &why)) << why;
  EXPECT_EQ(shown.readAs, "md5");
  EXPECT_EQ(shown.FrameCount(), 2);
  ASSERT_EQ(shown.animations.size(), 1u);
  EXPECT_EQ(shown.animations[0].name, "arm");
  ASSERT_EQ(shown.skins.size(), 2u);
  EXPECT_EQ(shown.skins[0].width, 8);
  EXPECT_EQ(shown.skins[0].pixels[0], 255);
  EXPECT_EQ(shown.skins[1].pixels[2], 255);  // blue, drawn at the first skin's size
  const std::vector<std::pair<std::string, std::string>> facts = {{"meshes", "1"}, {"joints", "2"}};
  EXPECT_EQ(shown.readFacts, facts);

  // tarn-pak info tells the same; without its .md5anim the mesh is read bound, with a warning.
  TempDir dir;
  WriteFile(dir / "m.pak", PakBuilder()
                               .File("progs/arm.md5mesh", mesh)
                               .File("progs/arm.md5anim", anim)
                               .File("progs/lone.md5mesh", mesh)
                               .Build());
  Result r = Tool({"info", (dir / "m.pak").string(), "progs/arm.md5mesh"});
  EXPECT_EQ(r.rc, 0) << r.err;
  for (const char* line : {"format: md5\n", "frames: 2\n", "meshes: 1\n", "joints: 2\n", "animation: arm 2\n"})
    EXPECT_NE(r.out.find(line), std::string::npos) << line << r.out;
  r = Tool({"info", (dir / "m.pak").string(), "progs/arm.md5anim"});
  EXPECT_EQ(r.out.find("kind: model"), std::string::npos) << r.out;

  // Converted to glTF from the archive, and from disk to an MDL with every frame.
  r = Tool({"convert", (dir / "m.pak").string(), "progs/arm.md5mesh", (dir / "arm.gltf").string()});
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_TRUE(fs::exists(dir / "arm.gltf"));
  WriteFile(dir / "arm.md5mesh", mesh);
  WriteFile(dir / "arm.md5anim", anim);
  WriteFile(dir / "arm_00_00.tga", red);
  r = Tool({"model", (dir / "arm.md5mesh").string(), (dir / "arm.mdl").string()});
  ASSERT_EQ(r.rc, 0) << r.err;
  WriteFile(dir / "out.pak", PakBuilder().File("progs/arm.mdl", ReadFile(dir / "arm.mdl")).Build());
  r = Tool({"info", (dir / "out.pak").string(), "progs/arm.mdl"});
  EXPECT_NE(r.out.find("frames: 2\n"), std::string::npos) << r.out;
  fs::remove(dir / "arm.md5anim");
  r = Tool({"model", (dir / "arm.md5mesh").string(), (dir / "bound.mdl").string()});
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_NE(r.err.find("no \"arm.md5anim\" beside it: only the mesh as it is bound is read"), std::string::npos)
      << r.err;
}

// A model of parts, each mesh naming a picture of its own: each is drawn with its own.
TEST(Md5Model, EachMeshOfAModelOfPartsShowsItsOwnPicture) {
  Md5Spec s = Md5Arm();
  s.shader = "models/head.tga";
  std::string text = Md5Mesh(s);
  const std::size_t at = text.find("mesh {");
  ASSERT_NE(at, std::string::npos);
  std::string second = text.substr(at);
  second.replace(second.find("models/head.tga"), 15, "models/body.tga");
  text.replace(text.find("numMeshes 1"), 11, "numMeshes 2");
  text += "\n" + second;
  const Bytes red = SolidTga(8, 8, 255, 0, 0), blue = SolidTga(4, 4, 0, 0, 255);
  const FindBytes find = [&](const std::string& path, std::vector<std::uint8_t>& out) {
    if (path == "models/head.tga") out = red;
    else if (path == "models/body.tga") out = blue;
    else return false;
    return true;
  };
  ModelData shown;
  std::string why;
  ASSERT_TRUE(ReadModelForView(ToBytes(text), "models/parts.md5mesh", find, shown, &why)) << why;
  ASSERT_EQ(shown.skins.size(), 1u);
  const ModelSkin& skin = shown.skins[0];
  ASSERT_EQ(shown.triangles.size() % 2, 0u);
  for (std::size_t i = 0; i < shown.triangles.size(); ++i)
    for (int k = 0; k < 3; ++k) {
      const ModelVertex& st = shown.texCoords[static_cast<std::size_t>(shown.triangles[i].texCoord[k])];
      const int x = std::clamp(st.s, 0, skin.width - 1), y = std::clamp(st.t, 0, skin.height - 1);
      const std::uint8_t* rgb = &skin.pixels[(static_cast<std::size_t>(y) * skin.paddedWidth + x) * 3];
      // The first mesh's triangles come first.
      if (i < shown.triangles.size() / 2) EXPECT_EQ(rgb[0], 255) << "triangle " << i;
      else EXPECT_EQ(rgb[2], 255) << "triangle " << i;
    }
}

// DarkPlaces' .skin lines: "surface,picture", tag lines passed over, "replace", comments; what
// it cannot take is said, line by line.
TEST(Md3Skins, SkinFilesAreReadAsDarkPlacesReadsThem) {
  const SkinFile f =
      ParseSkinFile(ToBytes("body,models/p/body.tga\r\n"
                            "tag_weapon,\n"
                            "// a comment\n"
                            "replace head \"models/p/head red.tga\"\n"
                            "head,models/p/head.tga  // kept last\n"
                            "just words\n"
                            "a,b,c,d,e,f,g\n"));
  const std::vector<std::pair<std::string, std::string>> pictures = {
      {"body", "models/p/body.tga"}, {"head", "models/p/head red.tga"}, {"head", "models/p/head.tga"}};
  EXPECT_EQ(f.pictures, pictures);
  const std::vector<std::string> warnings = {"line 6: neither \"surface,picture\", a tag nor \"replace\"",
                                             "line 7: more than 10 words, passed over"};
  EXPECT_EQ(f.warnings, warnings);
  // The largest surface's picture first; a surface's last line wins.
  const std::vector<Md3Surface> surfaces = {{"body", 10}, {"head", 40}};
  const std::vector<std::string> order = {"models/p/head.tga", "models/p/body.tga", "models/p/head red.tga"};
  EXPECT_EQ(SkinPictures(f, surfaces), order);
  EXPECT_EQ(SkinFilePath("progs/player.md3", 1), "progs/player.md3_1.skin");
}

// An MD3 with .skin files shows one skin a file, each the picture its file names; without them
// the surface's shader, as before.
TEST(Md3Skins, AnMd3ShowsTheSkinsItsSkinFilesName) {
  const Bytes md3 = Md3(2, "models/p/shader.tga");
  const Bytes red = SolidTga(8, 8, 255, 0, 0), green = SolidTga(8, 8, 0, 255, 0), grey = SolidTga(8, 8, 9, 9, 9);
  std::map<std::string, Bytes> files = {{"progs/p.md3_0.skin", ToBytes("body,models/p/red.tga\ntag_head,\n")},
                                        {"progs/p.md3_1.skin", ToBytes("body,models/p/green\n")},
                                        {"models/p/red.tga", red},
                                        {"models/p/green.tga", green},
                                        {"models/p/shader.tga", grey}};
  const FindBytes find = [&](const std::string& path, std::vector<std::uint8_t>& out) {
    const auto it = files.find(path);
    if (it == files.end()) return false;
    out = it->second;
    return true;
  };
  ModelData shown;
  std::string why;
  ASSERT_TRUE(ReadModelForView(md3, "progs/p.md3", find, shown, &why)) << why;
  ASSERT_EQ(shown.skins.size(), 2u);
  EXPECT_EQ(shown.skins[0].pixels[0], 255);
  EXPECT_EQ(shown.skins[1].pixels[1], 255);
  EXPECT_EQ(shown.FrameCount(), 2);

  files.erase("progs/p.md3_0.skin");
  ASSERT_TRUE(ReadModelForView(md3, "progs/p.md3", find, shown, &why)) << why;
  ASSERT_EQ(shown.skins.size(), 1u);
  EXPECT_EQ(shown.skins[0].pixels[0], 9);
}

}  // namespace
}  // namespace tarn::test
