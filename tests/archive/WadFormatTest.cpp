#include <map>

#include "CliSupport.h"
#include "TestSupport.h"
#include "archive/EntryNames.h"
#include "containers/WadFormat.h"
#include "document/TarnDoc.h"
#include "fileio/Strings.h"
#include "pictures/EntryPictures.h"

namespace tarn::test {
namespace {

// A Half-Life texture: a 16 x 16 miptex with its four levels and its palette after them.
Bytes Wad3Texture(std::uint8_t index, Rgb colour) {
  Bytes b(40, 0);
  std::memcpy(b.data(), "hl", 2);
  PutU32(b, 16, 16);
  PutU32(b, 20, 16);
  const std::uint32_t sizes[4] = {256, 64, 16, 4};
  std::uint32_t at = 40;
  for (int k = 0; k < 4; ++k) {
    PutU32(b, 24 + 4 * k, at);
    at += sizes[k];
  }
  b.resize(at, index);
  b.insert(b.end(), {0, 1});
  for (int i = 0; i < 256; ++i) b.insert(b.end(), {colour.r, colour.g, colour.b});
  b.insert(b.end(), {0, 0});
  return b;
}

TEST(Wad, TypesBecomeExtensionsAndBack) {
  for (ContainerFormat v : {ContainerFormat::Wad2, ContainerFormat::Wad3}) {
    for (int type = 0; type < 256; ++type) {
      const std::string name = WadEntryName("Lump", static_cast<std::uint8_t>(type), v);
      const auto back = WadLumpOf(name, v);
      ASSERT_TRUE(back) << name;
      EXPECT_EQ(back->name, "Lump");
      EXPECT_EQ(back->type, type) << name;
    }
  }
  EXPECT_EQ(WadEntryName("wall", 'D', ContainerFormat::Wad2), "wall.mip");
  EXPECT_EQ(WadEntryName("wall", 'C', ContainerFormat::Wad3), "wall.mip");
  EXPECT_EQ(WadEntryName("snd", 'C', ContainerFormat::Wad2), "snd.lump43");
  EXPECT_EQ(WadEntryName("pic", 'B', ContainerFormat::Wad2), "pic.lmp");
  EXPECT_EQ(WadEntryName("PALETTE", '@', ContainerFormat::Wad2), "PALETTE.pal");
  std::string why;
  EXPECT_FALSE(WadLumpOf("notes.txt", ContainerFormat::Wad2, &why));
  EXPECT_NE(why.find(".mip, .lmp, .pal or .lumpNN"), std::string::npos);
  EXPECT_FALSE(WadLumpOf("sixteen_chars_xx.mip", ContainerFormat::Wad2, &why));
  EXPECT_NE(why.find("at most 15 characters"), std::string::npos);
  EXPECT_FALSE(WadLumpOf(".mip", ContainerFormat::Wad2));
  EXPECT_FALSE(WadLumpOf("x.lumpzz", ContainerFormat::Wad2));
}

TEST(Wad, RealWadsOpenViewAndSaveTheSameLumps) {
  TARN_REQUIRE_SAMPLES();
  for (const char* rel : {"TrenchBroom/lib/TbFsLib/test/fixture/fs/Wad/cr8_czg.wad", "LibreQuake/lq1/gfx.wad",
                          "LibreQuake/texture-wads/lq_dev_legacy/lq_dev_legacy.wad"}) {
    TempDir dir;
    CTarnDoc doc;
    ASSERT_TRUE(doc.Open(SamplesDir() / rel)) << rel;
    EXPECT_EQ(doc.Format(), ContainerFormat::Wad2);
    EXPECT_TRUE(doc.OpenProblems().empty()) << rel;
    EXPECT_TRUE(doc.CheckArchive().empty()) << rel;
    std::vector<std::pair<std::string, Bytes>> lumps;
    ForEachFileInSaveOrder(doc.Root(), [&](const std::string& p, const CPackObject& f) {
      lumps.emplace_back(p, Load(const_cast<CPackObject*>(&f)));
      if (EndsWith(p, ".mip")) {
        EXPECT_TRUE(LoadEntryPictures(const_cast<CPackObject&>(f)).ok()) << p;
      }
    });
    ASSERT_TRUE(doc.Save(dir / "copy.wad")) << doc.LastError();
    CTarnDoc copy;
    ASSERT_TRUE(copy.Open(dir / "copy.wad"));
    std::size_t i = 0;
    ForEachFileInSaveOrder(copy.Root(), [&](const std::string& p, const CPackObject& f) {
      ASSERT_LT(i, lumps.size());
      EXPECT_EQ(p, lumps[i].first);
      EXPECT_EQ(Load(const_cast<CPackObject*>(&f)), lumps[i].second) << p;
      ++i;
    });
    EXPECT_EQ(i, lumps.size());
  }
  // gfx.wad: pictures, and the console font, known by its name whatever its type.
  CTarnDoc gfx;
  ASSERT_TRUE(gfx.Open(SamplesDir() / "LibreQuake/lq1/gfx.wad"));
  CPackObject* font = gfx.Root().FindChild("conchars.mip");
  ASSERT_NE(font, nullptr);
  EntryPictures chars = LoadEntryPictures(*font);
  ASSERT_TRUE(chars.ok());
  EXPECT_EQ(chars.set.pictures[0].width, 128);
  EXPECT_EQ(chars.set.pictures[0].height, 128);
  EXPECT_TRUE(LoadEntryPictures(*gfx.Root().FindChild("ANUM_0.lmp")).ok());
}

TEST(Wad, DamagedWadsOpenWithoutReadingOutside) {
  TARN_REQUIRE_SAMPLES();
  const fs::path wads = SamplesDir() / "TrenchBroom/lib/TbFsLib/test/fixture/fs/Wad";
  CTarnDoc doc;
  ASSERT_TRUE(doc.Open(wads / "entry_out_of_bounds.wad"));
  EXPECT_EQ(doc.DamagedCount(), 1);
  EXPECT_EQ(doc.Root().FindChild("toofar.mip")->LoadData(), 0);
  ASSERT_TRUE(doc.Open(wads / "directory_out_of_bounds.wad"));
  EXPECT_FALSE(doc.OpenProblems().empty());
  EXPECT_FALSE(doc.CheckArchive().empty());
  ASSERT_TRUE(doc.Open(wads / "wad3_empty.wad"));
  EXPECT_EQ(doc.Format(), ContainerFormat::Wad3);
  EXPECT_FALSE(doc.Open(wads / "bad_magic.wad"));
}

TEST(Wad, ExportedAndCreatedAgainIsTheSameWad) {
  TempDir dir;
  std::vector<WadLump> lumps = {{"Wall", Wad3Texture(1, {10, 20, 30}), 'C'},
                                {"HUD", {2, 0, 0, 0, 1, 0, 0, 0, 9, 9}, 'B'},
                                {"font", Bytes(300, 4), 'F'}};
  WriteFile(dir / "hl.wad", BuildWad(ContainerFormat::Wad3, lumps));
  EXPECT_EQ(Tool({"list", (dir / "hl.wad").string()}).out, "1152\tWall.mip\n10\tHUD.lmp\n300\tfont.lump46\n");
  ASSERT_EQ(Tool({"extract", (dir / "hl.wad").string(), "-C", (dir / "out").string()}).rc, 0);
  ASSERT_EQ(Tool({"create", "--format", "wad3", (dir / "again.wad").string(), (dir / "out").string()}).rc, 0);
  CTarnDoc doc;
  ASSERT_TRUE(doc.Open(dir / "again.wad"));
  WadIndex index;
  auto source = CFileSource::Open(dir / "again.wad");
  ASSERT_TRUE(ReadWadIndex(*source, index));
  EXPECT_EQ(index.version, ContainerFormat::Wad3);
  std::map<std::string, std::uint8_t> types;
  for (const WadRecord& r : index.records) types[std::string(r.name)] = r.type;
  EXPECT_EQ(types, (std::map<std::string, std::uint8_t>{{"HUD", 'B'}, {"Wall", 'C'}, {"font", 'F'}}));
  // A Half-Life texture and picture show in their own palette.
  EntryPictures wall = LoadEntryPictures(*doc.Root().FindChild("wall.mip"));
  ASSERT_TRUE(wall.ok());
  EXPECT_EQ(wall.set.PaletteFor(0).colors[1], (Rgb{10, 20, 30}));
  // repack to .wad keeps the version; Save keeps the format.
  ASSERT_EQ(Tool({"repack", (dir / "again.wad").string(), (dir / "third.wad").string()}).rc, 0);
  EXPECT_EQ(ReadFile(dir / "third.wad")[3], '3');
}

TEST(Wad, WhatAWadCannotHoldIsRefusedNamingIt) {
  TempDir dir;
  WriteFile(dir / "src" / "ok.mip", Bytes(40, 0));
  ASSERT_EQ(Tool({"create", (dir / "t.wad").string(), (dir / "src").string()}).rc, 0);
  WriteFile(dir / "notes.txt", "x");
  WriteFile(dir / "much_too_long_name.mip", "x");
  Result add =
      Tool({"add", (dir / "t.wad").string(), (dir / "notes.txt").string(), (dir / "much_too_long_name.mip").string()});
  EXPECT_EQ(add.rc, 1);
  EXPECT_NE(add.err.find("\"notes.txt\": a WAD lump's extension gives its type"), std::string::npos) << add.err;
  EXPECT_NE(add.err.find("at most 15 characters"), std::string::npos) << add.err;
  EXPECT_NE(Tool({"add", (dir / "t.wad").string(), "--to", "textures", (dir / "src" / "ok.mip").string()})
                .err.find("a WAD holds no directories"),
            std::string::npos);
  EXPECT_EQ(Tool({"list", (dir / "t.wad").string()}).out, "40\tok.mip\n");

  // Save As a WAD from a PAK: directories and names that are no lump's, all named, nothing written.
  CTarnDoc doc;
  doc.Root().AddChild("maps", true)->AddChild("e1m1.bsp", false);
  doc.Root().AddChild("readme.txt", false);
  doc.Root().AddChild("fine.lmp", false);
  EXPECT_FALSE(doc.Save(dir / "out.wad"));
  EXPECT_NE(doc.LastError().find("cannot be saved as WAD2"), std::string::npos);
  EXPECT_NE(doc.LastError().find("\"maps/e1m1.bsp\" is in one"), std::string::npos) << doc.LastError();
  EXPECT_NE(doc.LastError().find("\"readme.txt\""), std::string::npos);
  EXPECT_EQ(doc.LastError().find("fine.lmp"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir / "out.wad"));

  // Renaming within a WAD keeps to lump names.
  ASSERT_TRUE(doc.Open(dir / "t.wad"));
  EXPECT_EQ(CheckNewName(*doc.Root().FindChild("ok.mip"), "Bricks.MIP").problem, NewNameProblem::None);
  EXPECT_EQ(CheckNewName(*doc.Root().FindChild("ok.mip"), "bricks.png").problem, NewNameProblem::Unfit);
}

TEST(Wad, EncodedTexturesGoInAsTheirLumpType) {
  TempDir dir;
  // A 16 x 16 picture as PNG would need a codec here; a Quake picture is a picture too.
  Bytes lmp(8, 0);
  PutU32(lmp, 0, 16);
  PutU32(lmp, 4, 16);
  lmp.resize(8 + 256, 3);
  WriteFile(dir / "brick.lmp", lmp);
  for (ContainerFormat v : {ContainerFormat::Wad2, ContainerFormat::Wad3}) {
    const fs::path wad = dir / (v == ContainerFormat::Wad2 ? "q.wad" : "hl.wad");
    WriteFile(wad, BuildWad(v, {}));
    Result add = Tool({"add", wad.string(), "--as", "mip", (dir / "brick.lmp").string()});
    ASSERT_EQ(add.rc, 0) << add.err;
    auto source = CFileSource::Open(wad);
    WadIndex index;
    ASSERT_TRUE(ReadWadIndex(*source, index));
    ASSERT_EQ(index.records.size(), 1u);
    EXPECT_EQ(index.records[0].name, "brick");
    EXPECT_EQ(index.records[0].type, v == ContainerFormat::Wad2 ? 'D' : 'C');
    // Half-Life's texture carries the palette it was made in.
    CTarnDoc doc;
    ASSERT_TRUE(doc.Open(wad));
    Bytes bytes = Load(doc.Root().FindChild("brick.mip"));
    EXPECT_EQ(bytes.size(), 40u + 256 + 64 + 16 + 4 + (v == ContainerFormat::Wad3 ? 2 + 768 + 2 : 0));
  }
}

}  // namespace
}  // namespace tarn::test
