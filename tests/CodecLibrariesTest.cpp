// The picture codecs are loaded when a picture first needs them: without them tarn-pak says
// which library is missing, and fails as for any unreadable picture instead of crashing.
#include "CliSupport.h"
#include "TestSupport.h"
#include "cli/PngWriter.h"

namespace tarn::test {
namespace {

TEST(CodecLibraries, AMissingLibraryIsNamedNotCrashedOn) {
  TempDir dir;
  // Empty files by the libraries' names, first on the library path: the loader refuses them.
  std::istringstream sonames(TARN_CODEC_SONAMES);
  for (std::string soname; sonames >> soname;) WriteFile(dir / "nolibs" / soname, "");
  fs::create_directories(dir / "src");
  const Bytes rgb(16 * 16 * 3, 200);
  std::string why;
  ASSERT_TRUE(cli::WritePngRgb((dir / "in.png").string(), 16, 16, 16 * 3, rgb.data(), &why)) << why;
  ASSERT_EQ(Tool({"encode", (dir / "in.png").string(), (dir / "src/a.pcx").string()}).rc, 0);
  ASSERT_EQ(Tool({"create", (dir / "p.pak").string(), (dir / "src").string()}).rc, 0);
  WriteFile(dir / "a.jpg", "\xFF\xD8\xFF\xE0 not decoded");
  WriteFile(dir / "a.tga", "not decoded");

  const std::pair<const char*, const char*> cases[] = {
      {"encode in.png a.lmp", "PNG pictures need libpng ("},
      {"convert p.pak a.pcx a.png", "PNG pictures need libpng ("},
      {"encode a.jpg a.lmp", "JPEG pictures need libjpeg-turbo ("},
      {"encode a.tga a.lmp", "TGA and BMP pictures, and resizing, need stb ("},
      {"encode --palette optimal src/a.pcx b.pcx", "optimal palettes need libimagequant ("},
  };
  for (const auto& [args, message] : cases) {
    EXPECT_EQ(Shell(dir.path(), std::string("LD_LIBRARY_PATH=nolibs $T ") + args + " 2>err.txt"), 1) << args;
    const Bytes err = ReadFile(dir / "err.txt");
    EXPECT_NE(std::string(err.begin(), err.end()).find(message), std::string::npos) << args;
  }
  EXPECT_FALSE(fs::exists(dir / "a.lmp") || fs::exists(dir / "a.png") || fs::exists(dir / "b.pcx"));
}

}  // namespace
}  // namespace tarn::test
