// tarn-pak encode and add --as: disk to disk, into archives, and nothing left behind on failure.
#include <sstream>

#include "TestSupport.h"
#include "cli/Commands.h"
#include "cli/PngWriter.h"
#include "document/TarnDoc.h"
#include "pictures/Sprites.h"

namespace tarn::test {
namespace {

int Tool(std::vector<std::string> args, std::string* err = nullptr) {
  std::ostringstream out, e;
  const int rc = cli::Run(args, out, e);
  if (err) *err = e.str();
  return rc;
}

class EncodeCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    // A 32 × 16 RGB picture of soft colours.
    Bytes rgb;
    for (int i = 0; i < 32 * 16; ++i) rgb.insert(rgb.end(), {std::uint8_t(i % 32 * 8), std::uint8_t(i / 32 * 16), 90});
    std::string why;
    ASSERT_TRUE(cli::WritePngRgb(P("in.png"), 32, 16, 32 * 3, rgb.data(), &why)) << why;
  }
  std::string P(const std::string& name) { return (dir / name).string(); }
  std::size_t FileCount() {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.path())) ++n;
    return n;
  }
  TempDir dir;
};

TEST_F(EncodeCommands, EncodesEveryKindAndNamesTextures) {
  for (const char* out : {"a.lmp", "wall1.mip", "wall2.wal", "a.pcx"})
    EXPECT_EQ(Tool({"encode", P("in.png"), P(out)}), 0) << out;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(ReadFile(dir / "wall1.mip").data())), "wall1");
  EXPECT_EQ(Tool({"encode", "--name", "e1u1/wall", "--dither", "ordered", P("in.png"), P("w.wal")}), 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(ReadFile(dir / "w.wal").data())), "e1u1/wall");
  EXPECT_EQ(Tool({"encode", "--palette", "optimal", "--dither", "floyd-steinberg", P("in.png"), P("o.pcx")}), 0);
  EXPECT_EQ(Tool({"encode", "--palette", P("a.pcx"), "--fullbright", "never", P("in.png"), P("b.lmp")}), 0);
  EXPECT_EQ(ReadFile(dir / "b.lmp").size(), 8u + 32 * 16);
  // Sprites of several frames; the Quake II one writes its frames beside it.
  EXPECT_EQ(Tool({"encode", P("in.png"), P("in.png"), P("s.spr")}), 0);
  PictureSet set;
  ReadQuakeSprite(ReadFile(dir / "s.spr"), set);
  EXPECT_EQ(set.pictures.size(), 2u);
  EXPECT_EQ(Tool({"encode", P("in.png"), P("in.png"), P("Fire.sp2")}), 0);
  EXPECT_TRUE(fs::exists(dir / "fire_0.pcx"));
  EXPECT_TRUE(fs::exists(dir / "fire_1.pcx"));
}

TEST_F(EncodeCommands, BadInputLeavesNothingBehind) {
  WriteFile(dir / "empty.png", Bytes{});
  WriteFile(dir / "text.png", "hello");
  Bytes cut = ReadFile(dir / "in.png");
  cut.resize(cut.size() / 2);
  WriteFile(dir / "cut.png", cut);
  const std::size_t before = FileCount();
  std::string err;
  for (const char* in : {"empty.png", "text.png", "cut.png", "missing.png"}) {
    EXPECT_EQ(Tool({"encode", P(in), P("out.lmp")}, &err), 1) << in;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  }
  EXPECT_EQ(Tool({"encode", P("in.png"), P("cut.png"), P("out.spr")}), 1);
  EXPECT_EQ(Tool({"encode", P("in.png"), P("a_texture_name_too_long.mip")}, &err), 1);
  EXPECT_NE(err.find("longer than 15"), std::string::npos);
  EXPECT_EQ(Tool({"encode", "--palette", "optimal", P("in.png"), P("out.mip")}, &err), 1);
  EXPECT_NE(err.find("an optimal palette can only be stored in a .pcx file or a Half-Life texture"), std::string::npos)
      << err;
  EXPECT_EQ(Tool({"encode", "--dither", "lots", P("in.png"), P("out.lmp")}), 2);
  EXPECT_EQ(Tool({"encode", P("in.png"), P("out.jpg")}), 2);
  EXPECT_EQ(FileCount(), before);
  // A failed encode over an existing file leaves it as it was.
  WriteFile(dir / "keep.lmp", "old");
  EXPECT_EQ(Tool({"encode", P("cut.png"), P("keep.lmp")}), 1);
  EXPECT_EQ(ReadFile(dir / "keep.lmp"), ToBytes("old"));
}

TEST_F(EncodeCommands, AddEncodesIntoTheArchive) {
  WriteFile(dir / "src" / "readme.txt", "x");
  ASSERT_EQ(Tool({"create", P("a.pak"), P("src")}), 0);
  ASSERT_EQ(Tool({"add", P("a.pak"), "--as", "wal", "--to", "textures/e1u1", "--resize", P("in.png")}), 0);
  ASSERT_EQ(Tool({"add", P("a.pak"), "--as", "lmp", P("in.png")}), 0);
  CTarnDoc doc;
  ASSERT_TRUE(doc.Open(dir / "a.pak"));
  CPackObject* wal = doc.Root().FindByPath("textures/e1u1/in.wal");
  ASSERT_NE(wal, nullptr);
  EXPECT_EQ(Load(wal).size(), 100u + 32 * 16 + 16 * 8 + 8 * 4 + 4 * 2);
  EXPECT_EQ(Load(doc.Root().FindByPath("in.lmp")).size(), 8u + 32 * 16);
  // A bad image: the archive is left as it was.
  WriteFile(dir / "bad.png", "nope");
  const Bytes before = ReadFile(dir / "a.pak");
  EXPECT_EQ(Tool({"add", P("a.pak"), "--as", "mip", P("in.png"), P("bad.png")}), 1);
  EXPECT_EQ(ReadFile(dir / "a.pak"), before);
  EXPECT_EQ(Tool({"add", P("a.pak"), "--as", "gif", P("in.png")}), 2);
}

}  // namespace
}  // namespace tarn::test
