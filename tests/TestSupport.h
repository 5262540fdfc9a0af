// Builders and helpers shared by the tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "GameBytes.h"
#include "archive/PackObject.h"
#include "fileio/Progress.h"
#include "pictures/Palette.h"

namespace tarn::test {

namespace fs = std::filesystem;

inline Bytes ToBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

inline Bytes ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary | std::ios::ate);
  if (!in) return {};
  Bytes b(static_cast<std::size_t>(in.tellg()));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(b.data()), static_cast<std::streamsize>(b.size()));
  return b;
}

inline void WriteFile(const fs::path& p, const Bytes& b) {
  fs::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary);
  out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

inline void WriteFile(const fs::path& p, const std::string& s) { WriteFile(p, ToBytes(s)); }

// Makes a Quake game folder the registered game's, which has gfx/pop.lmp (Tarn looks only for
// the name): without it Quake is the shareware game, which finds no loose file in a subfolder
// and stops on a mod or on a pak that is not id's.
inline void MakeRegistered(const fs::path& id1) { WriteFile(id1 / "gfx" / "pop.lmp", "registered"); }

// A fresh folder under the system's temporary folder, removed with the object.
class TempDir {
 public:
  TempDir() {
    static std::mt19937_64 rng{std::random_device{}()};
    path_ = fs::temp_directory_path() / ("tarn-test-" + std::to_string(rng()));
    fs::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }
  fs::path operator/(const std::string& name) const { return path_ / name; }

 private:
  fs::path path_;
};

// Builds ".pak" bytes record by record; data are laid out after the header in the given order
// unless a record names its own offset and size.
class PakBuilder {
 public:
  struct Rec {
    std::string path;
    Bytes data;
    std::int64_t offset = -1;  // -1: where the data land
    std::int64_t size = -1;    // -1: the data's length
  };

  PakBuilder& File(const std::string& path, const std::string& data) { return File(path, ToBytes(data)); }
  PakBuilder& File(const std::string& path, Bytes data) {
    recs_.push_back({path, std::move(data)});
    return *this;
  }
  PakBuilder& Raw(const std::string& path, std::int64_t offset, std::int64_t size) {
    recs_.push_back({path, {}, offset, size});
    return *this;
  }

  Bytes Build() const {
    Bytes out = {'P', 'A', 'C', 'K', 0, 0, 0, 0, 0, 0, 0, 0};
    std::vector<std::pair<std::int64_t, std::int64_t>> placed;
    for (const Rec& r : recs_) {
      std::int64_t at = static_cast<std::int64_t>(out.size());
      out.insert(out.end(), r.data.begin(), r.data.end());
      placed.push_back(
          {r.offset != -1 ? r.offset : at, r.size != -1 ? r.size : static_cast<std::int64_t>(r.data.size())});
    }
    std::size_t dir = out.size();
    for (std::size_t i = 0; i < recs_.size(); ++i) {
      std::size_t at = out.size();
      out.resize(at + 64, 0);
      std::memcpy(&out[at], recs_[i].path.data(), std::min<std::size_t>(recs_[i].path.size(), 56));
      PutU32(out, at + 56, static_cast<std::uint32_t>(placed[i].first));
      PutU32(out, at + 60, static_cast<std::uint32_t>(placed[i].second));
    }
    PutU32(out, 4, static_cast<std::uint32_t>(dir));
    PutU32(out, 8, static_cast<std::uint32_t>(64 * recs_.size()));
    return out;
  }

 private:
  std::vector<Rec> recs_;
};

// An entry's bytes, loaded and released the way every reader of entries does it.
inline Bytes Load(CPackObject* e) {
  if (!e) return {};
  int loaded = e->LoadData();
  Bytes b = e->Data() ? *e->Data() : Bytes{};
  if (loaded) e->ReleaseData();
  return b;
}

inline Palette QuakePalette() {
  Palette p;
  LoadPalette(kQuakePaletteId, p);
  return p;
}

// Records what work reports, and says stop once `stopAfter` units are done.
struct RecordingProgress : CProgress {
  std::uint64_t expected = 0, done = 0;
  std::uint64_t stopAfter = UINT64_MAX;
  std::vector<std::string> items;
  void Expect(std::uint64_t units) override { expected += units; }
  bool Advance(std::uint64_t units, std::string_view what) override {
    done += units;
    if (!what.empty() && (items.empty() || items.back() != what)) items.emplace_back(what);
    return done < stopAfter;
  }
};

inline fs::path SamplesDir() { return fs::path(TARN_SAMPLES_DIR); }

#define TARN_REQUIRE_SAMPLES()                                                \
  do {                                                                        \
    if (!std::filesystem::is_directory(::tarn::test::SamplesDir()))           \
      GTEST_SKIP() << "sample folder absent: " << ::tarn::test::SamplesDir(); \
  } while (0)

// Files under the system's temporary folder whose names start with "pdc": the imported copies.
inline std::size_t CountPdcFiles() {
  std::size_t n = 0;
  for (const auto& e : fs::directory_iterator(fs::temp_directory_path()))
    if (e.path().filename().string().rfind("pdc", 0) == 0) ++n;
  return n;
}

// Points the system's temporary folder (TMPDIR) at a private one while the object lives, so
// that counting the files made there sees only this test's, whatever runs beside it.
class PrivateTempFolder {
 public:
  PrivateTempFolder() {
    const char* old = std::getenv("TMPDIR");
    if (old) saved_ = old;
    hadOld_ = old != nullptr;
    setenv("TMPDIR", folder_.path().c_str(), 1);
  }
  ~PrivateTempFolder() {
    if (hadOld_) setenv("TMPDIR", saved_.c_str(), 1);
    else unsetenv("TMPDIR");
  }
  PrivateTempFolder(const PrivateTempFolder&) = delete;
  PrivateTempFolder& operator=(const PrivateTempFolder&) = delete;

 private:
  TempDir folder_;
  std::string saved_;
  bool hadOld_ = false;
};

}  // namespace tarn::test
