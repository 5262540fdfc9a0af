// Every file of other projects' test suites read by Tarn and by the programs people trust with
// them: libzip's regression zips against Info-ZIP's unzip and Python's zipfile, bmpsuite and
// PngSuite against ImageMagick, image-rs's TGA suite against its reference decodes. Tarn reads
// each as one of them does or refuses it with a reason; it never reads one a third way.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "CliSupport.h"
#include "TestSupport.h"
#include "containers/Deflate.h"
#include "fileio/Strings.h"
#include "pictures/ImageDecode.h"

namespace tarn::test {
namespace {

// What a command wrote on standard output, and whether it succeeded.
bool Capture(const std::string& command, std::string& out) {
  out.clear();
  std::FILE* p = ::popen(command.c_str(), "r");
  if (!p) return false;
  char buffer[1 << 16];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;) out.append(buffer, n);
  return ::pclose(p) == 0;
}

bool Have(const char* program) {
  return std::system(("command -v " + std::string(program) + " >/dev/null 2>&1").c_str()) == 0;
}

std::string ShellQuoted(const fs::path& p) {
  std::string q = "'";
  for (char c : p.string()) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::vector<fs::path> FilesIn(const fs::path& dir, const std::string& ext) {
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().extension() == ext) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  return files;
}

// One line of the table the report gives: how each file of a corpus was read.
struct Tally {
  int files = 0, same = 0, refused = 0, renamed = 0;
  std::vector<std::string> differ;
  std::string Line(const std::string& corpus) const {
    std::string line = corpus + ": " + std::to_string(files) + " files, " + std::to_string(same) +
                       " read as the reference reads them, " + std::to_string(refused) + " refused with a reason, ";
    if (renamed)
      line += std::to_string(renamed) +
              " with a name held twice: the first written (the copy engines load), the others refused with exit 1, ";
    return line + std::to_string(differ.size()) + " read differently";
  }
};

// --- zips ---

using Crcs = std::map<std::string, std::uint32_t>;

std::uint32_t CrcOf(const fs::path& file) {
  const Bytes b = ReadFile(file);
  return Crc32(0, b.data(), b.size());
}

Crcs FilesUnder(const fs::path& dir) {
  Crcs crcs;
  if (!fs::exists(dir)) return crcs;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (e.is_regular_file()) crcs[fs::relative(e.path(), dir).string()] = CrcOf(e.path());
  return crcs;
}

// Python's zipfile: every entry it can read, by name, with the CRC of what it reads.
Crcs PythonReads(const fs::path& zip) {
  static const char* const kScript =
      "import sys, zipfile, zlib\n"
      "try:\n"
      "  z = zipfile.ZipFile(sys.argv[1])\n"
      "except Exception:\n"
      "  sys.exit(0)\n"
      "for i in z.infolist():\n"
      "  try:\n"
      "    sys.stdout.buffer.write(i.filename.encode('utf-8', 'surrogateescape').hex().encode() + b' %d\\n' % "
      "zlib.crc32(z.read(i)))\n"
      "  except Exception:\n"
      "    pass\n";
  std::string out;
  Capture("python3 -c " + ShellQuoted(kScript) + " " + ShellQuoted(zip) + " 2>/dev/null", out);
  Crcs crcs;
  std::istringstream lines(out);
  for (std::string hex, crc; lines >> hex >> crc;) {
    std::string name;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
      name += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    crcs[name] = static_cast<std::uint32_t>(std::stoul(crc));
  }
  return crcs;
}

TEST(Corpus, LibzipRegressionZipsReadAsUnzipOrZipfileReadThem) {
  TARN_REQUIRE_SAMPLES();
  if (!Have("unzip") || !Have("python3")) GTEST_SKIP() << "unzip or python3 is not installed";
  TempDir dir;
  Tally tally;
  for (const fs::path& zip : FilesIn(SamplesDir() / "libzip" / "regress", ".zip")) {
    ++tally.files;
    const std::string name = zip.filename().string();
    const fs::path mine = dir / "tarn" / name, theirs = dir / "unzip" / name;
    const Result r = Tool({"extract", zip.string(), "-C", mine.string()});
    fs::create_directories(theirs);
    std::system(
        ("unzip -o -qq -P '' -d " + ShellQuoted(theirs) + " " + ShellQuoted(zip) + " </dev/null >/dev/null 2>&1")
            .c_str());
    const Crcs tarn = FilesUnder(mine), unzip = FilesUnder(theirs), python = PythonReads(zip);
    bool renamed = false;
    std::string differs;
    for (const auto& [path, crc] : tarn) {
      const auto u = unzip.find(path), p = python.find(path);
      if ((u != unzip.end() && u->second == crc) || (p != python.end() && p->second == crc)) continue;
      // A name held twice: the first is written, as engines load it, and the others refused.
      if (r.rc != 0 && r.err.find(Quoted(path) + " is in the archive twice") != std::string::npos) {
        renamed = true;
        continue;
      }
      differs += " " + Quoted(path);
    }
    if (!differs.empty()) tally.differ.push_back(name + ":" + differs);
    else if (renamed) ++tally.renamed;
    else if (r.rc == 0) ++tally.same;
    else if (!r.err.empty()) ++tally.refused;
    else tally.differ.push_back(name + " (failed without a reason)");
    // A refused entry is refused with its reason on every line Tarn writes.
    EXPECT_EQ(r.err.find("tarn-pak: \n"), std::string::npos) << name;
  }
  std::cout << tally.Line("libzip regression zips") << "\n";
  EXPECT_TRUE(tally.differ.empty()) << ::testing::PrintToString(tally.differ);
}

// libzip's own tests list the zips it finds inconsistent when told to check (tryopen -c):
// Tarn's check reports a problem with each of them.
TEST(Corpus, CheckFlagsWhatLibzipsOwnTestsCallInconsistent) {
  TARN_REQUIRE_SAMPLES();
  std::ifstream test(SamplesDir() / "libzip" / "regress-tests" / "open_incons.test");
  ASSERT_TRUE(test);
  std::map<std::string, std::string> files;  // the name the test gives a zip -> the zip
  std::vector<std::string> inconsistent;
  for (std::string line; std::getline(test, line);) {
    std::istringstream words(line);
    std::string first, a, b;
    words >> first >> a >> b;
    if (first == "file") files[a] = b;
    if (first == "opening" && line.find("returned error") != std::string::npos)
      inconsistent.push_back(a.substr(1, a.size() - 2));
  }
  ASSERT_GT(inconsistent.size(), 30u);
  for (const std::string& n : inconsistent) {
    // A Unicode path field only in the local header, repeating an ASCII name, misleads no reader.
    if (files[n] == "incons-ef-local-utf8name-ascii.zip") continue;
    const fs::path zip = SamplesDir() / "libzip" / "regress" / files[n];
    const Result check = Tool({"check", zip.string()});
    EXPECT_EQ(check.rc, 1) << files[n] << "\n" << check.out;
    // Each says what is wrong, not one sentence for every kind of fault.
    EXPECT_EQ(check.out.find("the local headers disagree with the central directory:"), std::string::npos) << check.out;
  }
}

// --- pictures ---

bool MagickReads(const fs::path& file, RgbaImage& img) {
  std::string size, pixels;
  const std::string f = ShellQuoted(file.string() + "[0]");
  if (!Capture("identify -format '%w %h' " + f + " 2>/dev/null", size)) return false;
  std::istringstream(size) >> img.width >> img.height;
  if (!Capture("convert " + f + " -set colorspace sRGB -depth 8 rgba:- 2>/dev/null", pixels)) return false;
  img.rgba.assign(pixels.begin(), pixels.end());
  return img.width > 0 && img.rgba.size() == img.PixelCount() * 4;
}

// The same picture: same size, and every pixel within one step of 255 (rounding between
// bit depths), colour compared only where a pixel is not fully transparent.
bool SamePicture(const RgbaImage& a, const RgbaImage& b, std::string* where) {
  if (a.width != b.width || a.height != b.height) {
    *where = std::to_string(a.width) + "×" + std::to_string(a.height) + " against " + std::to_string(b.width) + "×" +
             std::to_string(b.height);
    return false;
  }
  for (std::size_t i = 0; i < a.PixelCount(); ++i) {
    const std::uint8_t *p = a.Pixel(i), *q = b.Pixel(i);
    for (int c = (p[3] == 0 && q[3] == 0) ? 3 : 0; c < 4; ++c)
      if (std::abs(p[c] - q[c]) > 1) {
        *where = "pixel " + std::to_string(i % static_cast<std::size_t>(a.width)) + "," +
                 std::to_string(i / static_cast<std::size_t>(a.width));
        return false;
      }
  }
  return true;
}

// Reads every file of a folder and compares it with reference(file), which fills the picture
// the reference reads or returns false when it refuses it.
Tally ReadPictures(const std::vector<fs::path>& files,
                   const std::function<bool(const fs::path&, RgbaImage&)>& reference) {
  Tally tally;
  for (const fs::path& file : files) {
    ++tally.files;
    const Bytes bytes = ReadFile(file);
    RgbaImage mine, theirs;
    std::string why, where;
    if (!DecodeImage(bytes, file.filename().string(), mine, &why)) {
      EXPECT_FALSE(why.empty()) << file;
      ++tally.refused;
    } else if (!reference(file, theirs)) {
      tally.differ.push_back(file.filename().string() + " (read where the reference refuses it)");
    } else if (!SamePicture(mine, theirs, &where)) {
      tally.differ.push_back(file.filename().string() + " (" + where + ")");
    } else {
      ++tally.same;
    }
  }
  return tally;
}

TEST(Corpus, BmpsuiteReadsAsImageMagickReadsIt) {
  TARN_REQUIRE_SAMPLES();
  if (!Have("convert")) GTEST_SKIP() << "ImageMagick is not installed";
  std::vector<fs::path> files;
  for (const char* part : {"g", "q", "b"})
    for (const fs::path& f : FilesIn(SamplesDir() / "bmpsuite" / part, ".bmp")) files.push_back(f);
  // ImageMagick reads the OS/2 2.x header's palette wrongly (all black); bmpsuite draws that
  // file as pal8.bmp, which ImageMagick reads right.
  const Tally tally = ReadPictures(files, [](const fs::path& f, RgbaImage& img) {
    if (f.filename() == "pal8os2v2.bmp") return MagickReads(f.parent_path().parent_path() / "g" / "pal8.bmp", img);
    return MagickReads(f, img);
  });
  std::cout << tally.Line("bmpsuite") << "\n";
  EXPECT_TRUE(tally.differ.empty()) << ::testing::PrintToString(tally.differ);
  // The good ones are all read.
  for (const fs::path& f : FilesIn(SamplesDir() / "bmpsuite" / "g", ".bmp")) {
    RgbaImage img;
    std::string why;
    EXPECT_TRUE(DecodeImage(ReadFile(f), f.filename().string(), img, &why)) << f << ": " << why;
  }
}

TEST(Corpus, PngSuiteReadsAsImageMagickReadsItAndInterlacedTwinsAlike) {
  TARN_REQUIRE_SAMPLES();
  const std::vector<fs::path> files = FilesIn(SamplesDir() / "PngSuite", ".png");
  for (const fs::path& f : files) {
    const std::string name = f.filename().string();
    if (name.rfind("basi", 0) != 0) continue;
    RgbaImage interlaced, plain;
    std::string why;
    ASSERT_TRUE(DecodeImage(ReadFile(f), name, interlaced, &why)) << name << ": " << why;
    ASSERT_TRUE(DecodeImage(ReadFile(f.parent_path() / ("basn" + name.substr(4))), name, plain, &why)) << why;
    EXPECT_EQ(interlaced.rgba, plain.rgba) << name;
  }
  if (!Have("convert")) GTEST_SKIP() << "ImageMagick is not installed";
  const Tally tally = ReadPictures(files, MagickReads);
  std::cout << tally.Line("PngSuite") << "\n";
  EXPECT_TRUE(tally.differ.empty()) << ::testing::PrintToString(tally.differ);
  EXPECT_GT(tally.same, 150);
}

TEST(Corpus, TgaSuiteReadsAsItsReferenceDecodes) {
  TARN_REQUIRE_SAMPLES();
  const fs::path suite = SamplesDir() / "image-rs" / "tga" / "testsuite";
  const fs::path references = SamplesDir() / "image-rs" / "reference" / "tga" / "testsuite";
  const bool magick = Have("convert");
  std::vector<fs::path> files;
  for (const fs::path& f : FilesIn(suite, ".tga"))
    if (magick || fs::exists(references / (f.filename().string() + ".png"))) files.push_back(f);
  const Tally tally = ReadPictures(files, [&](const fs::path& f, RgbaImage& img) {
    const fs::path png = references / (f.filename().string() + ".png");
    if (!fs::exists(png)) return MagickReads(f, img);
    std::string why;
    return DecodeImage(ReadFile(png), png.string(), img, &why);
  });
  std::cout << tally.Line("image-rs TGA suite") << "\n";
  EXPECT_TRUE(tally.differ.empty()) << ::testing::PrintToString(tally.differ);
  EXPECT_GE(tally.same, 15);
}

}  // namespace
}  // namespace tarn::test
