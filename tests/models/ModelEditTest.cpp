// Models edited in place: every edit, undone, gives the model's bytes back; what an edit does not
// concern keeps its bytes; broken models and edits that do not fit are refused with a reason.
#include <gtest/gtest.h>

#include "CliSupport.h"
#include "ModelBuilders.h"
#include "TestSupport.h"
#include "fileio/ByteIO.h"
#include "models/Model.h"
#include "models/ModelBuild.h"
#include "models/ModelEdit.h"
#include "pictures/ImageWrite.h"

namespace tarn::test {
namespace {

using K = ModelEdit::Kind;

ModelEdit Edit(K kind, int index = 0, int member = -1, Bytes bytes = {}) {
  ModelEdit e;
  e.kind = kind, e.index = index, e.member = member, e.bytes = std::move(bytes);
  return e;
}
std::uint32_t ReadU32At(const Bytes& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}
ModelEdit Counted(ModelEdit e, int count) {
  e.count = count;
  return e;
}
ModelEdit Moved(int from, int to) {
  ModelEdit e = Edit(K::MoveFrame, from);
  e.to = to;
  return e;
}

Bytes Splice(const Bytes& b, std::size_t at, std::size_t removed, const Bytes& inserted) {
  Bytes out(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(at));
  out.insert(out.end(), inserted.begin(), inserted.end());
  out.insert(out.end(), b.begin() + static_cast<std::ptrdiff_t>(at + removed), b.end());
  return out;
}

// A Quake model with what id's tools and others leave in files: a skin group of type 2, a frame
// group, bytes after a frame name's end, and a chunk of an editor's own after the frames.
Bytes MdlWithGroups() {
  Bytes b = Mdl({"stand1", "run1", "run2", "pain1"}, 4, 2, 6, 3);
  ModelLayout l;
  EXPECT_TRUE(ReadModelLayout(b, l, nullptr));
  // Skins 1 and 2 into a group.
  Bytes group = {2, 0, 0, 0, 2, 0, 0, 0};
  const float skinTimes[] = {0.25f, 0.5f};
  const Bytes times = FloatBytes(skinTimes);
  group.insert(group.end(), times.begin(), times.end());
  for (int k : {1, 2}) group.insert(group.end(), b.begin() + l.skins[k].members[0], b.begin() + l.skins[k].end);
  // Frames 1 and 2 into a group.
  Bytes frames = {1, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 9, 9, 9, 0};
  const float frameTimes[] = {0.1f, 0.2f};
  const Bytes ftimes = FloatBytes(frameTimes);
  frames.insert(frames.end(), ftimes.begin(), ftimes.end());
  for (int k : {1, 2}) frames.insert(frames.end(), b.begin() + l.frames[k].members[0], b.begin() + l.frames[k].end);
  b = Splice(b, l.frames[1].at, l.frames[2].end - l.frames[1].at, frames);
  b = Splice(b, l.skins[1].at, l.skins[2].end - l.skins[1].at, group);
  PutU32(b, 48, 2);
  PutU32(b, 68, 3);
  PutU32(b, 76, 8);  // rotates
  EXPECT_TRUE(ReadModelLayout(b, l, nullptr));
  b[l.frames[0].members[0] + 8 + 7] = 'x';  // after "stand1"'s end
  const std::string chunk = "EDITOR CHUNK";
  b.insert(b.end(), chunk.begin(), chunk.end());
  return b;
}

// A Quake II model as Tarn writes it: GL commands, and the file's end in its header.
Bytes BuiltMd2() {
  SourceModel quad;
  quad.vertexCount = 4;
  quad.triangles = {{{{0, 0, 0}, {1, 1, 0}, {2, 1, 1}}}, {{{0, 0, 0}, {2, 1, 1}, {3, 0, 1}}}};
  quad.frames = {{"base1", {0, 0, 0, 0, 16, 0, 0, 16, 16, 0, 0, 16}},
                 {"base2", {0, 0, 1, 0, 16, 1, 0, 16, 17, 0, 0, 17}}};
  PackedModel packed;
  std::string why;
  EXPECT_TRUE(PackModel(quad, ModelData::kMd2, 16, 16, packed, &why)) << why;
  packed.skinPath = "models/t/skin.pcx";
  return WriteMd2(packed);
}

struct Sample {
  std::string name;
  Bytes bytes;
};

std::vector<Sample> Models() {
  // An empty section's offset is anything at all: this one past 2 GiB moves, and comes back.
  Bytes farGlCommands = Md2({"s.pcx"}, {"a01", "a02"});
  PutU32(farGlCommands, 60, 0x80000000u);
  std::vector<Sample> models = {
      {"MD2 with an empty section far away", farGlCommands},
      {"built MDL", Mdl({"stand1", "stand2", "run1"}, 4, 2, 6, 3)},
      {"MDL with groups and a chunk after", MdlWithGroups()},
      {"built MD2", Md2({"models/a/skin.pcx", "models/a/skin2.pcx"}, {"stand01", "stand02", "run01"})},
      {"MD2 without skins", Md2({}, {"stand01", "stand02"})},
      {"MD2 as Tarn writes it", BuiltMd2()},
  };
  std::error_code ec;
  if (fs::is_directory(SamplesDir(), ec))
    for (const auto& f : fs::recursive_directory_iterator(SamplesDir(), ec)) {
      const std::string ext = f.path().extension().string();
      if (f.is_regular_file() && (ext == ".mdl" || ext == ".md2" || ext == ".MDL" || ext == ".MD2"))
        models.push_back({f.path().lexically_relative(SamplesDir()).string(), ReadFile(f.path())});
    }
  return models;
}

// Every edit that fits the model, as the window and modeledit would make them.
std::vector<std::pair<std::string, ModelEdit>> EditsFor(const Bytes& bytes, const ModelLayout& l) {
  std::vector<std::pair<std::string, ModelEdit>> edits;
  auto add = [&](const std::string& name, ModelEdit e) { edits.emplace_back(name, std::move(e)); };
  const bool md2 = l.format == ModelData::kMd2;
  const std::size_t skinBytes = static_cast<std::size_t>(l.skinWidth) * static_cast<std::size_t>(l.skinHeight);
  if (!l.skins.empty()) {
    ModelEdit e = Edit(K::ReplaceSkin);
    const ModelLayout::Piece& p = l.skins.front();
    e.member = p.group ? 0 : -1;
    if (md2) SkinPathField("models/other/path.pcx", e.bytes);
    else
      for (std::size_t i = 0; i < skinBytes; ++i)
        e.bytes.push_back(static_cast<std::uint8_t>(~bytes[p.members[0] + i]));
    add("replace skin", e);
    ModelEdit insert = Edit(K::InsertSkin);
    insert.bytes.assign(bytes.begin() + static_cast<std::ptrdiff_t>(p.at),
                        bytes.begin() + static_cast<std::ptrdiff_t>(p.end));
    add("insert a copy of skin 0 first", insert);
    insert.index = static_cast<int>(l.skins.size());
    add("add a copy of skin 0 last", insert);
    if (md2 || l.skins.size() > 1)
      add("remove the last skin", Edit(K::RemoveSkin, static_cast<int>(l.skins.size()) - 1));
  } else if (md2) {
    ModelEdit e = Edit(K::InsertSkin);
    SkinPathField("models/new/skin.pcx", e.bytes);
    add("add a skin path", e);
  }
  if (!md2) {
    for (std::size_t i = 0; i < l.skins.size(); ++i) {
      const ModelLayout::Piece& p = l.skins[i];
      const int index = static_cast<int>(i);
      if (p.group && !p.members.empty()) {
        add("ungroup skin " + std::to_string(i), Edit(K::UngroupSkins, index));
        const std::vector<float> times(p.members.size(), 0.75f);
        ModelEdit e = Edit(K::SetSkinIntervals, index);
        e.bytes = FloatBytes(times);
        add("new intervals of skin " + std::to_string(i), e);
      } else if (!p.group) {
        int count = 1;
        while (i + count < l.skins.size() && !l.skins[i + count].group) ++count;
        const std::vector<float> times(static_cast<std::size_t>(count), 0.1f);
        ModelEdit e = Edit(K::GroupSkins, index);
        e.count = count;
        e.bytes = FloatBytes(times);
        add("group skins from " + std::to_string(i), e);
      }
    }
    ModelEdit flags = Edit(K::SetFlags);
    flags.value = l.flags ^ 0x49;
    add("flags", flags);
    ModelEdit sync = Edit(K::SetSyncType);
    sync.value = l.syncType == 0 ? 1 : 0;
    add("sync type", sync);
    ModelEdit eye = Edit(K::SetEye);
    const float at[] = {1.5f, -2.25f, 24.0f};
    eye.bytes = FloatBytes(at);
    add("eye", eye);
  }
  if (!l.frames.empty()) {
    const int last = static_cast<int>(l.frames.size()) - 1;
    for (std::size_t i = 0; i < l.frames.size(); ++i) {
      ModelEdit rename = Edit(K::RenameFrame, static_cast<int>(i), l.frames[i].group ? 0 : -1);
      FrameNameField("renamed" + std::to_string(i), rename.bytes);
      add("rename frame " + std::to_string(i), rename);
    }
    if (last > 0) {
      ModelEdit move = Edit(K::MoveFrame, 0);
      move.to = last;
      add("move the first frame last", move);
      move.index = last, move.to = 0;
      add("move the last frame first", move);
      add("remove the first frame", Edit(K::RemoveFrame, 0));
      add("remove the last frame", Edit(K::RemoveFrame, last));
    }
    ModelEdit insert = Edit(K::InsertFrame, 1);
    insert.bytes.assign(bytes.begin() + static_cast<std::ptrdiff_t>(l.frames[last].at),
                        bytes.begin() + static_cast<std::ptrdiff_t>(l.frames[last].end));
    add("insert a copy of the last frame second", insert);
  }
  return edits;
}

// The bytes from the end of the part an edit of that kind touches: an edit of skins or of the
// header leaves the texture coordinates, triangles and frames (and what follows) as they were.
Bytes AfterSkins(const Bytes& b) {
  ModelLayout l;
  if (!ReadModelLayout(b, l, nullptr)) return {};
  if (l.format == ModelData::kMd2) {
    Bytes frames;
    for (const auto& p : l.frames) frames.insert(frames.end(), b.begin() + p.at, b.begin() + p.end);
    return frames;
  }
  return Bytes(b.begin() + static_cast<std::ptrdiff_t>(l.skinsEnd), b.end());
}

bool Loads(const Bytes& b) {
  ModelData model;
  CModelHost host;
  std::string why;
  const bool ok = b.size() >= 4 && b[3] == '2' ? LoadMd2(b, model, host, &why) : LoadMdl(b, model, &why);
  EXPECT_TRUE(ok) << why;
  return ok;
}

TEST(ModelEdit, EveryEditUndoneGivesTheModelBack) {
  int edits = 0, models = 0;
  for (const Sample& m : Models()) {
    SCOPED_TRACE(m.name);
    ModelLayout l;
    std::string why;
    ASSERT_TRUE(ReadModelLayout(m.bytes, l, &why)) << why;
    ++models;
    for (const auto& [name, edit] : EditsFor(m.bytes, l)) {
      SCOPED_TRACE(name);
      Bytes edited, back;
      ModelEdit undo, redo;
      ASSERT_TRUE(ApplyModelEdit(m.bytes, edit, edited, &undo, &why)) << why;
      EXPECT_NE(edited, m.bytes);
      EXPECT_TRUE(Loads(edited));
      if (edit.kind == K::ReplaceSkin || edit.kind == K::SetFlags || edit.kind == K::SetSyncType ||
          edit.kind == K::SetEye || edit.kind == K::InsertSkin || edit.kind == K::RemoveSkin ||
          edit.kind == K::GroupSkins || edit.kind == K::UngroupSkins || edit.kind == K::SetSkinIntervals) {
        EXPECT_EQ(AfterSkins(edited), AfterSkins(m.bytes));
      }
      // An edit in place changes no byte but its own.
      if (edit.kind == K::ReplaceSkin || edit.kind == K::RenameFrame || edit.kind == K::SetFlags ||
          edit.kind == K::SetSyncType || edit.kind == K::SetEye || edit.kind == K::SetSkinIntervals) {
        ASSERT_EQ(edited.size(), m.bytes.size());
        std::size_t changed = 0;
        for (std::size_t i = 0; i < edited.size(); ++i) changed += edited[i] != m.bytes[i];
        EXPECT_LE(changed, std::max<std::size_t>(edit.bytes.size(), 4));
      }
      ASSERT_TRUE(ApplyModelEdit(edited, undo, back, &redo, &why)) << why;
      EXPECT_EQ(back, m.bytes);
      // And the undo's undo is the edit again.
      Bytes again;
      ASSERT_TRUE(ApplyModelEdit(back, redo, again, nullptr, &why)) << why;
      EXPECT_EQ(again, edited);
      ++edits;
    }
  }
  std::cout << "model edits undone: " << edits << " on " << models << " models\n";
}

TEST(ModelEdit, EditsChangeWhatTheyNameAndTheEnginesLimitsHold) {
  const Bytes mdl = MdlWithGroups();
  ModelLayout l;
  ASSERT_TRUE(ReadModelLayout(mdl, l, nullptr));
  EXPECT_EQ(l.flags, 8);
  ASSERT_EQ(l.frames.size(), 3u);
  EXPECT_TRUE(l.frames[1].group);
  EXPECT_EQ(l.frames[1].names, (std::vector<std::string>{"run1", "run2"}));
  EXPECT_EQ(l.skins[1].intervals, (std::vector<float>{0.25f, 0.5f}));

  Bytes out;
  std::string why;
  ModelEdit move = Edit(K::MoveFrame, 0);
  move.to = 2;
  ASSERT_TRUE(ApplyModelEdit(mdl, move, out, nullptr, &why)) << why;
  ModelData model;
  ASSERT_TRUE(LoadMdl(out, model, &why)) << why;
  ASSERT_EQ(model.animations.size(), 3u);
  EXPECT_EQ(model.animations[0].name, "run");
  EXPECT_EQ(model.animations[2].frames[0].name, "stand1");
  ModelLayout moved;
  ASSERT_TRUE(ReadModelLayout(out, moved, nullptr));
  EXPECT_EQ(moved.frames[2].names.front(), "stand1");

  // Quake refuses a model without skins or frames; MD2 skins may all go.
  EXPECT_FALSE(ApplyModelEdit(Mdl({"a"}), Edit(K::RemoveSkin), out, nullptr, &why));
  EXPECT_NE(why.find("only skin"), std::string::npos) << why;
  EXPECT_FALSE(ApplyModelEdit(Mdl({"a"}), Edit(K::RemoveFrame), out, nullptr, &why));
  EXPECT_NE(why.find("only frame"), std::string::npos) << why;
  const Bytes md2 = Md2({"models/a/skin.pcx"}, {"a01"});
  ASSERT_TRUE(ApplyModelEdit(md2, Edit(K::RemoveSkin), out, nullptr, &why)) << why;
  EXPECT_EQ(out.size(), md2.size() - 64);
  ModelLayout noSkin;
  ASSERT_TRUE(ReadModelLayout(out, noSkin, nullptr));
  EXPECT_TRUE(noSkin.skins.empty());
  EXPECT_EQ(noSkin.frames.front().names.front(), "a01");

  std::int32_t flags = 0;
  EXPECT_TRUE(ParseModelFlags("rocket,rotate,tracer3", flags));
  EXPECT_EQ(flags, 1 | 8 | 128);
  EXPECT_EQ(ModelFlagsText(flags | 512), "rocket,rotate,tracer3,512");
  EXPECT_TRUE(ParseModelFlags("0x20", flags));
  EXPECT_EQ(ModelFlagsText(flags), "zombiegib");
  EXPECT_FALSE(ParseModelFlags("rockets", flags));
  Bytes field;
  EXPECT_FALSE(FrameNameField("sixteen_letters_", field));
  EXPECT_FALSE(SkinPathField(std::string(64, 'a'), field));
}

TEST(ModelEdit, BrokenModelsAndEditsThatDoNotFitAreRefused) {
  const Bytes mdl = Mdl({"a1", "a2"}, 4, 2, 6, 2);
  const Bytes md2 = Md2({"s.pcx"}, {"a01", "a02"});
  struct Case {
    const char* name;
    Bytes bytes;
    ModelEdit edit;
    const char* says;
  };
  std::vector<Case> cases;
  auto broken = [&](const char* name, Bytes b, const char* says) {
    cases.push_back({name, std::move(b), Edit(K::SetFlags), says});
  };
  broken("empty", {}, "too short");
  broken("cut in the frames", Bytes(mdl.begin(), mdl.end() - 3), "end of data");
  Bytes v = mdl;
  PutU32(v, 4, 7);
  broken("version 7", v, "version 7");
  Bytes hugeGroup = mdl;
  PutU32(hugeGroup, 84, 1), PutU32(hugeGroup, 88, 0x7fffffff);
  broken("a skin group larger than the file", hugeGroup, "group larger than the file");
  Bytes negative = mdl;
  PutU32(negative, 68, 0xffffffff);
  broken("negative frames", negative, "negative counts");
  Bytes manySkins = mdl;
  PutU32(manySkins, 48, 0x40000000);
  broken("more skins than bytes", manySkins, "counts larger than the file");
  Bytes wide = mdl;
  PutU32(wide, 52, 100000);
  broken("a skin too wide", wide, "impossible skin size");
  Bytes outside = md2;
  PutU32(outside, 56, 0x7ffffff0);
  broken("MD2 frames outside the file", outside, "outside the file");
  Bytes smallFrames = md2;
  PutU32(smallFrames, 16, 20);
  broken("MD2 frames too small", smallFrames, "too small");

  // Sections that share bytes cannot grow apart.
  Bytes overlap = md2;
  PutU32(overlap, 48, 68 + 10);  // the texture coordinates inside the skin path
  ModelEdit path = Edit(K::InsertSkin, 0);
  SkinPathField("x.pcx", path.bytes);
  cases.push_back({"an MD2 whose sections overlap", overlap, path, "overlap"});
  // Putting the frame back could not tell whether the empty section began inside it.
  Bytes inside = md2;
  PutU32(inside, 60, ReadU32At(md2, 56) + 4);
  cases.push_back({"an MD2 section starting inside a frame", inside, Edit(K::RemoveFrame), "starts inside"});
  cases.push_back({"no skin 5", mdl, Edit(K::ReplaceSkin, 5), "no skin 5"});
  cases.push_back({"a skin of the wrong size", mdl, Edit(K::ReplaceSkin, 0, -1, Bytes(3, 1)), "bytes where"});
  cases.push_back({"a member of a single skin", mdl, Edit(K::ReplaceSkin, 0, 1, Bytes(8, 1)), "no member"});
  cases.push_back({"a flag of an MD2", md2, Edit(K::SetFlags), "Quake II model has no flags"});
  cases.push_back({"a group of MD2 skins", md2, Counted(Edit(K::GroupSkins, 0, -1, Bytes(4, 0)), 1), "no skin groups"});
  cases.push_back({"ungroup a single skin", mdl, Edit(K::UngroupSkins, 1), "not a group"});
  cases.push_back({"group past the end", mdl, Counted(Edit(K::GroupSkins, 1, -1, Bytes(8, 0)), 2), "not 2 skins"});
  cases.push_back({"move past the end", mdl, Moved(0, 2), "no place for a frame 2"});
  cases.push_back({"a frame cut short", mdl, Edit(K::InsertFrame, 0, -1, Bytes(10, 0)), "would not read"});
  cases.push_back({"two frames for one", mdl,
                   Edit(K::InsertFrame, 0, -1, Bytes(mdl.end() - 2 * (4 + 24 + 12), mdl.end())),
                   "not one whole piece"});
  cases.push_back({"an MD2 frame of the wrong size", md2, Edit(K::InsertFrame, 0, -1, Bytes(12, 0)), "bytes where"});
  cases.push_back({"a name of 15 bytes", mdl, Edit(K::RenameFrame, 0, -1, Bytes(15, 'a')), "16 bytes"});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes out = {42};
    std::string why;
    EXPECT_FALSE(ApplyModelEdit(c.bytes, c.edit, out, nullptr, &why));
    EXPECT_NE(why.find(c.says), std::string::npos) << why;
    EXPECT_EQ(out, Bytes{42});
  }
}

// A picture of w × h in one colour, as a TGA file.
void WritePicture(const fs::path& file, int w, int h, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  WriteFile(file, SolidTga(w, h, r, g, b));
}

TEST(ModelEdit, ModeleditEditsInPlaceAndItsInverseGivesTheArchiveBack) {
  TempDir dir;
  const Bytes mdl = Mdl({"stand1", "stand2", "run1"}, 4, 2, 6, 2);
  const Bytes md2 = Md2({"models/a/skin.pcx"}, {"stand01", "stand02"});
  Bytes cut = mdl, group = mdl;
  cut.resize(cut.size() - 5);
  PutU32(group, 84, 1), PutU32(group, 88, 1000);  // a skin group of more skins than bytes
  WriteFile(dir / "p.pak", PakBuilder()
                               .File("progs/m.mdl", mdl)
                               .File("models/a/tris.md2", md2)
                               .File("progs/cut.mdl", cut)
                               .File("progs/group.mdl", group)
                               .File("progs/notes.txt", "text")
                               .Build());
  const std::string pak = (dir / "p.pak").string();
  auto modelIn = [&](const std::string& path) {
    const Result r = Tool({"cat", pak, path});
    return Bytes(r.out.begin(), r.out.end());
  };

  // Each edit, then the one that undoes it, by hand.
  const std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>> pairs = {
      {{"--rename-frame", "stand2", "walk1"}, {"--rename-frame", "1", "stand2"}},
      {{"--move-frame", "0", "2"}, {"--move-frame", "2", "0"}},
      {{"--group-skins", "0", "2", "0.1,0.2"}, {"--ungroup-skins", "0"}},
      {{"--flags", "rocket,tracer2", "--sync", "rand", "--eye", "0,-1.5,22.125"},
       {"--flags", "none", "--sync", "sync", "--eye", "0,0,0"}},
  };
  for (const auto& [edit, inverse] : pairs) {
    std::vector<std::string> args = {"modeledit", pak, "progs/m.mdl"};
    args.insert(args.end(), edit.begin(), edit.end());
    const Result r = Tool(args);
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_NE(modelIn("progs/m.mdl"), mdl) << edit[0];
    args.resize(3);
    args.insert(args.end(), inverse.begin(), inverse.end());
    ASSERT_EQ(Tool(args).rc, 0);
    EXPECT_EQ(modelIn("progs/m.mdl"), mdl) << edit[0];
  }

  // A skin from a picture of the skins' size; the list shows what the model holds now.
  WritePicture(dir / "red.tga", 4, 2, 255, 0, 0);
  Result r = Tool({"modeledit", pak, "progs/m.mdl", "--add-skin", (dir / "red.tga").string(), "--rename-frame",
                   "stand1", "idle1", "--flags", "rotate", "--list"});
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_NE(r.out.find("flags\trotate\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("skin\t2\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("frame\t0\tidle1\n"), std::string::npos) << r.out;
  ModelData model;
  std::string why;
  ASSERT_TRUE(LoadMdl(modelIn("progs/m.mdl"), model, &why)) << why;
  ASSERT_EQ(model.skins.size(), 3u);
  EXPECT_GT(model.skins[2].pixels[0], 150);  // red, in Quake's palette
  EXPECT_LT(model.skins[2].pixels[1], 60);
  ASSERT_EQ(
      Tool({"modeledit", pak, "progs/m.mdl", "--remove-skin", "2", "--rename-frame", "0", "stand1", "--flags", "none"})
          .rc,
      0);
  EXPECT_EQ(modelIn("progs/m.mdl"), mdl);

  // An MD2's skin paths, and its skin from a picture as the PCX its path names.
  r = Tool({"modeledit", pak, "models/a/tris.md2", "--add-skin-path", "models/a/two.pcx", "--skin", "1",
            (dir / "red.tga").string()});
  ASSERT_EQ(r.rc, 0) << r.err;
  const Result list = Tool({"modeledit", pak, "models/a/tris.md2", "--list"});
  EXPECT_NE(list.out.find("skin\t1\tmodels/a/two.pcx\n"), std::string::npos) << list.out;
  const Result pcx = Tool({"info", pak, "models/a/two.pcx"});
  EXPECT_EQ(pcx.rc, 0) << pcx.err;
  ASSERT_EQ(Tool({"modeledit", pak, "models/a/tris.md2", "--remove-skin", "1"}).rc, 0);
  EXPECT_EQ(modelIn("models/a/tris.md2"), md2);

  // A frame and a frame group go whole.
  ASSERT_EQ(Tool({"modeledit", pak, "progs/m.mdl", "--delete-frame", "run1"}).rc, 0);
  ModelLayout l;
  ASSERT_TRUE(ReadModelLayout(modelIn("progs/m.mdl"), l, nullptr));
  ASSERT_EQ(l.frames.size(), 2u);
  EXPECT_EQ(l.frames[1].names.front(), "stand2");

  // Refusals name what is wrong, and change nothing: edits that do not fit, broken models.
  WritePicture(dir / "big.tga", 8, 8, 0, 0, 255);
  const std::string big = (dir / "big.tga").string();
  struct Refusal {
    std::string model;
    std::vector<std::string> args;
    std::string says;
  };
  const std::vector<Refusal> refused = {
      {"progs/m.mdl", {"--skin", "0", big}, "the model's skins are 4 × 2"},
      {"progs/m.mdl", {"--rename-frame", "nosuch", "x"}, "has no frame \"nosuch\""},
      {"progs/m.mdl", {"--rename-frame", "0", "a_name_too_long_x"}, "at most 15 characters"},
      {"progs/m.mdl", {"--flags", "rockets"}, "takes rocket"},
      {"progs/m.mdl", {"--remove-skin", "0", "--remove-skin", "0"}, "only skin"},
      {"progs/m.mdl", {"--skin-path", "0", "x.pcx"}, "only a Quake II model"},
      {"progs/m.mdl", {"--eye", "1,2"}, "takes X,Y,Z"},
      {"models/a/tris.md2", {"--flags", "gib"}, "Quake II model has no flags"},
      {"progs/cut.mdl", {"--flags", "gib"}, "cannot be read as a model: unexpected end of data"},
      {"progs/group.mdl", {"--sync", "rand"}, "cannot be read as a model: a group larger than the file"},
      {"progs/notes.txt", {"--flags", "gib"}, "is not a Quake or Quake II model"},
      {"progs/none.mdl", {"--flags", "gib"}, "no model \"progs/none.mdl\""},
  };
  const Bytes before = ReadFile(dir / "p.pak");
  for (const Refusal& r : refused) {
    std::vector<std::string> args = {"modeledit", pak, r.model};
    args.insert(args.end(), r.args.begin(), r.args.end());
    const Result bad = Tool(args);
    EXPECT_NE(bad.rc, 0) << r.says;
    EXPECT_NE(bad.err.find(r.says), std::string::npos) << bad.err;
  }
  EXPECT_EQ(Tool({"modeledit", pak, "progs/m.mdl"}).rc, 2);
  EXPECT_EQ(ReadFile(dir / "p.pak"), before);
  EXPECT_NE(Tool({"modeledit", "--help"}).out.find("--group-skins N COUNT INTERVALS"), std::string::npos);

  // Past an engine's limit the edit is made, with a warning.
  std::vector<std::string> many = {"modeledit", pak, "progs/m.mdl"};
  for (int i = 0; i < 31; ++i) many.insert(many.end(), {"--add-skin", (dir / "red.tga").string()});
  const Result past = Tool(many);
  EXPECT_EQ(past.rc, 0) << past.err;
  EXPECT_NE(past.err.find("\"progs/m.mdl\" now has 33 skins;"), std::string::npos) << past.err;
  EXPECT_NE(past.err.find("at most 32 (MAX_SKINS)"), std::string::npos) << past.err;
}

}  // namespace
}  // namespace tarn::test
