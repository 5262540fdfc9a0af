// The engine checks one by one, on archives and folders built here; the header readers on
// bytes of each shape they meet.
#include "SoundBuilders.h"
#include "TestSupport.h"
#include "ZipBuilder.h"
#include "game/EngineChecks.h"
#include "maps/MapHeader.h"
#include "models/ModelHeader.h"
#include "sounds/SoundInfo.h"
#include "sounds/WaveFile.h"

namespace tarn::test {
namespace {

void PutU16(Bytes& b, std::size_t at, std::uint16_t v) {
  if (b.size() < at + 2) b.resize(at + 2);
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

// A map header: the magic (or version 29, 30) and the length of the lighting lump.
Bytes Map(const char* magic, std::uint32_t lighting = 0) {
  Bytes b(kMapHeaderBytes, 0);
  if (std::strlen(magic) == 4) std::memcpy(b.data(), magic, 4);
  else PutU32(b, 0, static_cast<std::uint32_t>(std::stoi(magic)));
  PutU32(b, 4 + 8 * 8 + 4, lighting);
  return b;
}

Bytes Quake2Map() {
  Bytes b = ToBytes("IBSP");
  PutU32(b, 4, 38);
  return b;
}

Bytes Lit(std::size_t samples, std::uint32_t version = 1) {
  Bytes b = ToBytes("QLIT");
  PutU32(b, 4, version);
  b.resize(8 + 3 * samples, 7);
  return b;
}

// RIFF WAVE with a chunk of odd length before "fmt ", as editors write them.
Bytes Wav(std::uint16_t format, std::uint16_t channels, std::uint16_t bits) {
  Bytes b = ToBytes("RIFF....WAVELIST");
  PutU32(b, 16, 3);
  b.insert(b.end(), {'a', 'b', 'c', 0});
  const std::size_t fmt = b.size();
  b.insert(b.end(), {'f', 'm', 't', ' '});
  PutU32(b, fmt + 4, 16);
  PutU16(b, fmt + 8, format);
  PutU16(b, fmt + 10, channels);
  PutU32(b, fmt + 12, 11025);
  PutU16(b, fmt + 22, bits);
  b.insert(b.end(), {'d', 'a', 't', 'a', 0, 0, 0, 0});
  return b;
}

// An MDL header with these counts and a 4 × 2 skin; poses > 0 adds the body: one skin, the
// texture coordinates, the triangles and one group of that many poses.
Bytes MdlHeader(std::int32_t vertices, std::int32_t triangles, std::int32_t poses = 0) {
  Bytes b = ToBytes("IDPO");
  PutU32(b, 4, 6);
  const std::uint32_t counts[] = {1, 4, 2, static_cast<std::uint32_t>(vertices), static_cast<std::uint32_t>(triangles),
                                  1};
  for (std::size_t i = 0; i < 6; ++i) PutU32(b, 48 + 4 * i, counts[i]);
  b.resize(84);
  if (poses == 0) return b;
  b.resize(84 + 4 + 8 + 12 * vertices + 16 * triangles);
  PutU32(b, b.size(), 1);  // a group
  PutU32(b, b.size(), static_cast<std::uint32_t>(poses));
  b.resize(b.size() + 8 + 4 * poses + (24 + 4 * vertices) * poses);
  return b;
}

// An MD2 header alone, with a texture coordinate and its sections' offsets inside the 68 bytes
// it says it has, as the loaders insist.
Bytes Md2Header(std::int32_t vertices, std::int32_t skins) {
  Bytes b = ToBytes("IDP2");
  PutU32(b, 4, 8);
  PutU32(b, 8, 4), PutU32(b, 12, 2), PutU32(b, 20, static_cast<std::uint32_t>(skins));
  PutU32(b, 24, static_cast<std::uint32_t>(vertices)), PutU32(b, 28, 1), PutU32(b, 32, 1), PutU32(b, 40, 1);
  for (std::size_t at = 44; at < 64; at += 4) PutU32(b, at, 64);
  PutU32(b, 64, 68);
  b.resize(68);
  return b;
}

class EngineChecks : public ::testing::Test {
 protected:
  TempDir dir;
  // "rule entry" (or "rule file-name") for each problem of the archive under the engine.
  std::vector<std::string> Check(const char* engine, const PakBuilder& pak) {
    WriteFile(dir / "x.pak", pak.Build());
    CGameView view = CGameView::LoadArchive(*FindEngineProfile(engine), dir / "x.pak");
    return Rules(view);
  }
  std::vector<std::string> CheckFolders(const char* engine, std::vector<std::string> folders) {
    std::vector<fs::path> paths;
    for (auto& f : folders) paths.push_back(dir / f);
    CGameView view = CGameView::LoadFolders(*FindEngineProfile(engine), paths);
    return Rules(view);
  }
  std::vector<std::string> Rules(CGameView& view) {
    std::vector<std::string> out;
    for (const EngineProblem& p : CheckForEngine(view)) {
      out.push_back(p.rule + " " + (p.entry.empty() ? fs::path(p.file).filename().string() : p.entry));
      last = p.message;
    }
    return out;
  }
  std::string last;  // the message of the last problem
};

using Names = std::vector<std::string>;

TEST_F(EngineChecks, HeaderReaders) {
  EXPECT_EQ(ReadMapHeader(Map("29", 330)).kind, MapHeader::Kind::Quake);
  EXPECT_EQ(ReadMapHeader(Map("29", 330)).lightingLength, 330);
  EXPECT_EQ(ReadMapHeader(Map("BSP2", 5)).kind, MapHeader::Kind::Bsp2);
  EXPECT_EQ(ReadMapHeader(Map("2PSB")).kind, MapHeader::Kind::Bsp2Old);
  EXPECT_EQ(ReadMapHeader(Map(" 46Q")).kind, MapHeader::Kind::Quake64);
  EXPECT_EQ(ReadMapHeader(Map("30")).kind, MapHeader::Kind::HalfLife);
  Bytes ibsp = Quake2Map();
  EXPECT_EQ(ReadMapHeader(ibsp).kind, MapHeader::Kind::Quake2);
  PutU32(ibsp, 4, 46);
  EXPECT_EQ(ReadMapHeader(ibsp).kind, MapHeader::Kind::Quake3);
  Bytes cut = Map("29", 9);
  cut.resize(70);  // the version, but not the lighting lump
  EXPECT_EQ(ReadMapHeader(cut).kind, MapHeader::Kind::Quake);
  EXPECT_FALSE(ReadMapHeader(cut).hasLighting);
  EXPECT_EQ(ReadMapHeader(ToBytes("IBS")).kind, MapHeader::Kind::TooShort);

  EXPECT_TRUE(ReadLitHeader(Lit(2)).qlit);
  EXPECT_EQ(ReadLitHeader(Lit(0, 2)).version, 2);
  EXPECT_FALSE(ReadLitHeader(ToBytes("QLIT")).qlit);

  const SoundHeader wav = ReadSoundHeader(Wav(1, 2, 16));
  EXPECT_EQ(wav.container, SoundContainer::Wave);
  EXPECT_TRUE(wav.fmtFound);
  EXPECT_EQ(wav.channels, 2);
  EXPECT_EQ(wav.bits, 16);
  Bytes shortFmt = Wav(1, 1, 8);
  shortFmt.resize(34);  // "fmt " claims 16 bytes and holds 2
  EXPECT_FALSE(ReadSoundHeader(shortFmt).fmtFound);
  EXPECT_EQ(ReadSoundHeader(ToBytes("OggS....")).container, SoundContainer::Ogg);
  EXPECT_EQ(ReadSoundHeader(ToBytes("ID3\x04")).container, SoundContainer::Mp3);
  EXPECT_EQ(ReadSoundHeader(ToBytes("fLaC")).container, SoundContainer::Flac);
  EXPECT_EQ(ReadSoundHeader(ToBytes("RIFF")).container, SoundContainer::Unknown);

  EXPECT_EQ(SniffModel(ToBytes("IDST")).format, ModelFormat::HalfLife);
  EXPECT_EQ(SniffModel(ToBytes("IDS")).format, std::nullopt);
  EXPECT_EQ(SniffModel(ToBytes("INTERQUAKEMODEL")).format, std::nullopt);  // the NUL is part of the magic
  EXPECT_EQ(SniffModel(ToBytes("IDSQ")).format, std::nullopt);             // a Half-Life sequence group
}

// WinQuake/common.c COM_LoadPackFile stops past 2048 files, Quakespasm-Spiked past 4096; FTE
// has no limit (fs_pak.c FSPAK_LoadArchive).
TEST_F(EngineChecks, FilesPerPak) {
  PakBuilder big;
  for (int i = 0; i < 2049; ++i) big.File("f" + std::to_string(i), "");
  EXPECT_EQ(Check("quake", big), Names{"files-per-pak x.pak"});
  EXPECT_NE(last.find("holds 2049 files by its header, more than the 2048"), std::string::npos) << last;
  EXPECT_NE(last.find("; the engine stops with a fatal error"), std::string::npos) << last;
  EXPECT_TRUE(Check("qss", big).empty());
  EXPECT_TRUE(Check("fte", big).empty());
  EXPECT_EQ(Check("yamagi", PakBuilder()), Names{"empty-pak x.pak"});
  EXPECT_EQ(last,
            "holds no files by its header (\"FS_LoadPAK: 'x.pak' is too short.\"); the engine stops with a "
            "fatal error");
  // Yamagi takes the count from the header, and only warns past 4096.
  Bytes claims = PakBuilder().File("a", "x").Build();
  PutU32(claims, 8, 4097 * 64);
  WriteFile(dir / "x.pak", claims);
  CGameView view = CGameView::LoadArchive(*FindEngineProfile("yamagi"), dir / "x.pak");
  EXPECT_EQ(Rules(view), (Names{"files-per-pak x.pak", "pak-directory x.pak"}));
}

// A name that fills its 56 bytes: the engines copy on into the record's offset (DarkPlaces cuts
// it); Yamagi cuts a zip member's name of 64 bytes and stops when it is asked for.
TEST_F(EngineChecks, NamesTheEnginesCopyWrong) {
  const std::string full(56, 'a');
  EXPECT_EQ(Check("quake", PakBuilder().File(full, "x")), Names{"pak-name-length " + full});
  EXPECT_NE(last.find("never found"), std::string::npos) << last;
  EXPECT_EQ(Check("darkplaces", PakBuilder().File(full, "x")), Names{"pak-name-length " + full});
  WriteFile(dir / "x.pk3", ZipBuilder().Stored(std::string(64, 'b'), "x").Build());
  CGameView view = CGameView::LoadArchive(*FindEngineProfile("yamagi"), dir / "x.pk3");
  EXPECT_EQ(Rules(view), Names{"zip-name-length " + std::string(64, 'b')});
}

// Quake compares pak members (COM_FindFile) and, on Linux, loose files exactly; Quake II
// compares pak members in any case (FS_FOpenFile) but loose files exactly.
TEST_F(EngineChecks, NamesWithCapitalLetters) {
  const PakBuilder pak = PakBuilder().File("Maps/Start.bsp", Map("29")).File("maps/e1m1.bsp", Map("29"));
  EXPECT_EQ(Check("quake", pak), Names{"name-case Maps/Start.bsp"});
  EXPECT_TRUE(Check("quake2", PakBuilder().File("Maps/X.bsp", Quake2Map())).empty());
  WriteFile(dir / "baseq2/Sound/Hit.wav", Wav(1, 1, 8));
  WriteFile(dir / "baseq2/README.TXT", "docs");
  EXPECT_EQ(CheckFolders("quake2", {"baseq2"}), Names{"name-case Hit.wav"});
  EXPECT_TRUE(CheckFolders("fte", {"baseq2"}).empty());
}

TEST_F(EngineChecks, PackagesNeverLoadedOrUnreadable) {
  MakeRegistered(dir / "id1");
  WriteFile(dir / "id1/pak0.pak", PakBuilder().File("a.cfg", "a").Build());
  WriteFile(dir / "id1/pak2.pak", PakBuilder().File("b.cfg", "b").Build());
  EXPECT_EQ(CheckFolders("quake", {"id1"}), Names{"never-loaded pak2.pak"});
  WriteFile(dir / "id1/pak1.pak", "not a pak at all");
  EXPECT_EQ(CheckFolders("quake", {"id1"}), (Names{"pak-header pak1.pak", "never-loaded pak2.pak"}));
  EXPECT_NE(last.find("pak1.pak is not loaded"), std::string::npos) << last;
}

// Quakespasm's Mod_LoadBrushModel takes 29, BSP2, 2PSB and Quake 64; Quake II's IBSP 38 only.
TEST_F(EngineChecks, MapVersions) {
  const PakBuilder maps = PakBuilder()
                              .File("maps/q1.bsp", Map("29"))
                              .File("maps/big.bsp", Map("BSP2"))
                              .File("maps/hl.bsp", Map("30"))
                              .File("maps/q2.bsp", Quake2Map())
                              .File("maps/junk.bsp", "junk");
  EXPECT_EQ(Check("quake", maps),
            (Names{"map-version maps/hl.bsp", "map-version maps/q2.bsp", "map-version maps/junk.bsp"}));
  EXPECT_EQ(Check("yamagi", maps), (Names{"map-version maps/q1.bsp", "map-version maps/big.bsp",
                                          "map-version maps/hl.bsp", "map-version maps/junk.bsp"}));
  EXPECT_EQ(Check("fte", maps), Names{"map-version maps/junk.bsp"});
}

// The extended QBSP is for the 2023 re-release and Yamagi; id's Quake II takes IBSP, and stops on
// one past its limits (cmodel.c "Map has too many").
TEST_F(EngineChecks, QuakeIIMapsPastTheOriginalLimits) {
  Bytes qbsp = Quake2Map();
  std::memcpy(qbsp.data(), "QBSP", 4);
  Bytes many = Quake2Map();
  many.resize(8 + 19 * 8, 0);
  PutU32(many, 8 + 13 * 8 + 4, 1025 * 48);  // models
  PutU32(many, 8 + 17 * 8 + 4, 256 * 8);    // areas: at the limit
  const PakBuilder maps = PakBuilder().File("maps/qbsp.bsp", qbsp).File("maps/many.bsp", many);
  EXPECT_EQ(Check("quake2", maps), (Names{"map-version maps/qbsp.bsp", "map-limits maps/many.bsp"}));
  EXPECT_NE(last.find("has 1025 models, past the 1024"), std::string::npos) << last;
  EXPECT_TRUE(Check("yamagi", maps).empty());
}

// Quakespasm's Mod_LoadLighting: "QLIT", version 1, 8 + 3 × the lighting lump, and only from
// the map's own game folder or a later one.
TEST_F(EngineChecks, LitFilesAgainstTheirMaps) {
  const PakBuilder good = PakBuilder().File("maps/a.bsp", Map("29", 100)).File("maps/a.lit", Lit(100));
  EXPECT_TRUE(Check("quake", good).empty());
  EXPECT_EQ(Check("quake", PakBuilder().File("maps/a.bsp", Map("29", 100)).File("maps/a.lit", Lit(99))),
            Names{"lit-size maps/a.lit"});
  EXPECT_NE(last.find("is 305 bytes, but the lighting of \"maps/a.bsp\" needs 8 + 3 × 100 = 308"), std::string::npos)
      << last;
  EXPECT_EQ(Check("qss", PakBuilder().File("maps/a.lit", "LITQ....")), Names{"lit-header maps/a.lit"});
  EXPECT_EQ(Check("quake", PakBuilder().File("maps/a.bsp", Map("29", 1)).File("maps/a.lit", Lit(1, 2))),
            Names{"lit-header maps/a.lit"});
  EXPECT_TRUE(Check("quake2", PakBuilder().File("maps/a.lit", "junk")).empty());
  MakeRegistered(dir / "id1");
  WriteFile(dir / "id1/maps/b.lit", Lit(3));
  WriteFile(dir / "mod/maps/b.bsp", Map("29", 3));
  EXPECT_EQ(CheckFolders("quake", {"id1", "mod"}), Names{"lit-folder b.lit"});
}

// WinQuake/snd_mem.c: PCM only ("Microsoft PCM format only"), mono only ("is a stereo
// sample"); Yamagi's S_LoadSound takes two channels. Music by its extension (bgmusic.c).
TEST_F(EngineChecks, SoundFormats) {
  const PakBuilder sounds = PakBuilder()
                                .File("sound/ok.wav", Wav(1, 1, 16))
                                .File("sound/stereo.wav", Wav(1, 2, 16))
                                .File("sound/adpcm.wav", Wav(17, 1, 4))
                                .File("sound/deep.wav", Wav(1, 1, 24))
                                .File("sound/vorbis.wav", "OggS and more")
                                .File("music/track02.ogg", "ID3 an mp3")
                                .File("gfx/notsound.wav", "anything");
  EXPECT_EQ(Check("quake", sounds),
            (Names{"sound-format sound/stereo.wav", "sound-format sound/adpcm.wav", "sound-format sound/deep.wav",
                   "sound-format sound/vorbis.wav", "sound-format music/track02.ogg"}));
  EXPECT_EQ(Check("yamagi", sounds), (Names{"sound-format sound/adpcm.wav", "sound-format sound/deep.wav",
                                            "sound-format sound/vorbis.wav", "sound-format music/track02.ogg"}));
  EXPECT_TRUE(Check("fte", sounds).empty());
}

// How the engines play the waves they take: Quake's and Quake II's ResampleSfx step in 256ths
// of a sample, so a rate that is no simple multiple of the mixer's plays off pitch; Quake loops
// from a cue point alone, refuses an ambient sound without one (S_StaticSound, "not looped") and
// stops on a "mark" length past the data (GetWavinfo, "has a bad loop length").
TEST_F(EngineChecks, SoundSpeedsAndLoops) {
  const Bytes samples(1000, 128);
  const PakBuilder sounds =
      PakBuilder()
          .File("sound/ok.wav", BuildWave(22050, 8, samples, std::nullopt))
          .File("sound/slow.wav", BuildWave(8000, 8, samples, std::nullopt))
          .File("sound/ambience/wind.wav", BuildWave(11025, 8, samples, std::nullopt))
          .File("sound/ambience/loops.wav", BuildWave(11025, 8, samples, WaveLoop{10, std::nullopt}))
          .File("sound/long.wav", BuildWave(11025, 8, samples, WaveLoop{10, 999}))
          .File("sound/smpl.wav", Wave(samples, 11025, SmplChunk(5, 50)));
  Bytes pastEnd = BuildWave(11025, 8, samples, WaveLoop{10, 900});
  PutU32(pastEnd, pastEnd.size() - 16, 5000);  // the "mark" length
  PakBuilder withPastEnd = sounds;
  withPastEnd.File("sound/past.wav", pastEnd);
  EXPECT_EQ(Check("quake", withPastEnd), (Names{"sound-speed sound/slow.wav", "sound-loop sound/ambience/wind.wav",
                                                "sound-loop sound/smpl.wav", "sound-loop sound/past.wav"}));
  EXPECT_EQ(last,
            "says its loop (its \"mark\" length) ends at sample 5010, past the end of its 1000 samples: "
            "Quake, Quakespasm, Ironwail and vkQuake stop with a fatal error (\"has a bad loop length\")");
  EXPECT_EQ(Check("quake", PakBuilder().File("sound/slow.wav", BuildWave(8000, 8, samples, std::nullopt))),
            Names{"sound-speed sound/slow.wav"});
  EXPECT_NE(last.find("play it 0.9% slow when mixing at 22050 Hz"), std::string::npos) << last;
  // DarkPlaces resamples properly, loops ambient sounds without a cue point and cuts a long loop.
  EXPECT_EQ(Check("darkplaces", withPastEnd), (Names{"sound-loop sound/smpl.wav", "sound-loop sound/past.wav"}));
  EXPECT_NE(last.find("DarkPlaces warns"), std::string::npos) << last;
  EXPECT_EQ(Check("quake2", sounds), (Names{"sound-speed sound/slow.wav", "sound-loop sound/smpl.wav"}));
}

// Quakespasm 0.95 stops past 2000 vertices and 256 poses (a group's frames counted), id's
// GLQuake past 1024 vertices; Quake II past 2048 MD2 vertices, with a table of 32 skins.
TEST_F(EngineChecks, ModelLimits) {
  EXPECT_EQ(Check("quake", PakBuilder().File("progs/x.mdl", MdlHeader(2400, 10))), Names{"model-limits progs/x.mdl"});
  EXPECT_EQ(last, "has 2,400 vertices; Quakespasm 0.95 loads at most 2000 (MAXALIASVERTS) and stops with an error");
  EXPECT_EQ(Check("quake", PakBuilder().File("progs/x.mdl", MdlHeader(1500, 10))), Names{"model-limits progs/x.mdl"});
  EXPECT_NE(last.find("id's GLQuake loads at most 1024 (MAXALIASVERTS)"), std::string::npos) << last;
  EXPECT_TRUE(Check("qss", PakBuilder().File("progs/x.mdl", MdlHeader(1500, 10))).empty());
  EXPECT_TRUE(Check("fte", PakBuilder().File("progs/x.mdl", MdlHeader(99999, 99999))).empty());

  const Bytes grouped = MdlHeader(3, 1, 300);
  EXPECT_EQ(CountMdlPoses(grouped), 300);
  EXPECT_EQ(CountMdlPoses(Bytes(grouped.begin(), grouped.end() - 1)), -1);
  EXPECT_EQ(Check("quake", PakBuilder().File("progs/g.mdl", grouped)), Names{"model-limits progs/g.mdl"});
  EXPECT_NE(last.find("has 300 frames (poses); Quakespasm 0.95 loads at most 256"), std::string::npos) << last;
  EXPECT_TRUE(Check("rerelease", PakBuilder().File("progs/g.mdl", grouped)).empty());

  const PakBuilder md2 = PakBuilder().File("models/a.md2", Md2Header(3000, 1)).File("models/b.md2", Md2Header(10, 40));
  EXPECT_EQ(Check("quake2", md2), (Names{"model-limits models/a.md2", "model-limits models/b.md2"}));
  EXPECT_NE(last.find("has 40 skins; Quake II loads at most 32 (MAX_MD2SKINS), and writes past"), std::string::npos)
      << last;
  EXPECT_EQ(Check("yamagi", md2).size(), 2u);
  // Yamagi 8.20 refuses the model, and its Mod_ForName ends the game for it (ERR_DROP).
  EXPECT_EQ(Check("yamagi", PakBuilder().File("models/a.md2", Md2Header(2116, 1))), Names{"model-limits models/a.md2"});
  EXPECT_EQ(last,
            "has 2,116 vertices; Yamagi Quake II 8.20 loads at most 2048 (MAX_VERTS): it says \"has too many "
            "vertices\", then ends the game with an error (\"Mod_ForName: Failed to load\") and drops to the console");
  EXPECT_TRUE(Check("darkplaces", md2).empty());
  // Quakespasm has no MD2 limits: it loads no MD2 at all.
  EXPECT_EQ(Check("quake", md2), (Names{"model-format models/a.md2", "model-format models/b.md2"}));
  EXPECT_EQ(ReadModelHeader(ToBytes("IDP2....")).kind, ModelHeader::Kind::TooShort);
}

// What the loaders refuse before any limit: another version (Quakespasm: "has wrong version
// number (7 should be 6)"; DarkPlaces: Host_Error), another format's first bytes, empty counts,
// and MD2 sections DarkPlaces finds outside the file's own size; then the texture coordinates
// off the skin that DarkPlaces moves to the corner.
TEST_F(EngineChecks, ModelHeadersTheEnginesRefuse) {
  Bytes v7 = MdlHeader(3, 1);
  PutU32(v7, 4, 7);
  const PakBuilder mdl = PakBuilder().File("progs/v7.mdl", v7).File("progs/ok.mdl", MdlHeader(3, 1));
  EXPECT_EQ(Check("quake", mdl), Names{"model-header progs/v7.mdl"});
  EXPECT_EQ(last,
            "is version 7, and Quake models are version 6; Quake, Quakespasm, Ironwail and vkQuake quit with a fatal "
            "error (\"has wrong version number (7 should be 6)\")");
  EXPECT_EQ(Check("darkplaces", mdl), Names{"model-header progs/v7.mdl"});
  EXPECT_NE(last.find("DarkPlaces stops the game with an error"), std::string::npos) << last;
  EXPECT_TRUE(Check("fte", mdl).empty());

  Bytes noSkins = MdlHeader(3, 1), other = MdlHeader(3, 1), md2InMdl = Md2Header(3, 1);
  PutU32(noSkins, 48, 0);
  std::memcpy(other.data(), "IDPX", 4);
  const PakBuilder odd =
      PakBuilder().File("progs/a.mdl", noSkins).File("progs/b.mdl", other).File("progs/c.mdl", md2InMdl);
  EXPECT_EQ(Check("quake", odd),
            (Names{"model-header progs/a.mdl", "model-header progs/b.mdl", "model-header progs/c.mdl"}));
  // DarkPlaces reads a model by its first bytes, and leaves out what it does not know.
  EXPECT_EQ(Check("darkplaces", odd), Names{"model-header progs/b.mdl"});
  EXPECT_NE(last.find("DarkPlaces leaves the model out"), std::string::npos) << last;

  Bytes v9 = Md2Header(3, 1), cut = Md2Header(3, 1), noSt = Md2Header(3, 1), outside = Md2Header(3, 1);
  PutU32(v9, 4, 9);
  PutU32(cut, 64, 69);  // one byte more than the file has
  PutU32(noSt, 28, 0);
  PutU32(outside, 48, 68);  // the texture coordinates start where the file ends
  const PakBuilder md2 = PakBuilder()
                             .File("models/v9.md2", v9)
                             .File("models/cut.md2", cut)
                             .File("models/nost.md2", noSt)
                             .File("models/outside.md2", outside);
  EXPECT_EQ(Check("yamagi", md2),
            (Names{"model-header models/v9.md2", "model-header models/cut.md2", "model-header models/nost.md2"}));
  EXPECT_EQ(last,
            "has no texture coordinates; Yamagi Quake II 8.20 says \"has no st vertices\", then ends the game with "
            "an error (\"Mod_ForName: Failed to load\") and drops to the console");
  EXPECT_EQ(Check("quake2", md2), (Names{"model-header models/v9.md2", "model-header models/nost.md2"}));
  EXPECT_EQ(Check("darkplaces", md2), (Names{"model-header models/v9.md2", "model-header models/outside.md2"}));
  EXPECT_NE(last.find("(\"is not a valid model\")"), std::string::npos) << last;

  // Texture coordinates: only those a triangle uses, each once.
  Bytes st = Md2Header(3, 1);
  st.resize(68 + 3 * 4 + 2 * 12);
  PutU32(st, 48, 68), PutU32(st, 28, 3), PutU32(st, 52, 80), PutU32(st, 32, 2), PutU32(st, 64, 104);
  const std::int16_t coords[3][2] = {{4, 0}, {3, 1}, {-1, 2}};  // on a 4 × 2 skin: off, on, off
  for (int i = 0; i < 3; ++i)
    for (int k = 0; k < 2; ++k) PutU16(st, 68 + 4 * i + 2 * k, static_cast<std::uint16_t>(coords[i][k]));
  for (int t = 0; t < 2; ++t)
    for (int k = 0; k < 3; ++k) PutU16(st, 80 + 12 * t + 6 + 2 * k, static_cast<std::uint16_t>(k < 2 ? k : 1));
  const OffSkinCoordinates off = FindMd2OffSkinCoordinates(st);
  EXPECT_EQ(off.count, 1);  // coordinate 2 is named by no triangle
  EXPECT_EQ(off.s, 4);
  EXPECT_EQ(Check("darkplaces", PakBuilder().File("models/st.md2", st)), Names{"model-skin-coordinates models/st.md2"});
  EXPECT_EQ(last,
            "1 of its texture coordinates lie off its 4 × 2 skin (the first at 4, 0); DarkPlaces moves each to 0, 0 "
            "(\"has an invalid skin coordinate\"), and those corners show the skin's top left pixel");
  EXPECT_TRUE(Check("yamagi", PakBuilder().File("models/st.md2", st)).empty());
  st.resize(90);  // the triangles cut short: nothing is read past the end
  EXPECT_EQ(FindMd2OffSkinCoordinates(st).count, 0);
}

// A model of another format than MDL and MD2: its first bytes and the 32-bit word after them.
Bytes Magic(std::string_view magic, std::uint32_t second) {
  Bytes b(magic.begin(), magic.end());
  PutU32(b, b.size(), second);
  b.resize(64);
  return b;
}

// Which engine loads which format when a game asks for the file by name, told by the first
// bytes whatever the name says; an MD5 mesh beside the MDL of its name stands in for that MDL
// and is never asked for, but Ironwail draws the MDL when its .md5anim is missing.
TEST_F(EngineChecks, ModelFormatsEachEngineLoads) {
  const Bytes md5 = ToBytes("MD5Version 10\ncommandline \"\"\nnumJoints 1\n");
  const PakBuilder pak = PakBuilder()
                             .File("progs/a.md3", Magic("IDP3", 15))
                             .File("progs/b.iqm", Magic(std::string_view("INTERQUAKEMODEL\0", 16), 2))
                             .File("progs/c.md5mesh", md5)
                             .File("progs/hl.mdl", Magic("IDST", 10))
                             .File("progs/r.mdl", MdlHeader(3, 1))
                             .File("progs/r.md5mesh", md5)
                             .File("progs/s.mdl", MdlHeader(3, 1))
                             .File("progs/s.md5mesh", md5)
                             .File("progs/s.md5anim", md5)
                             .File("models/m.md2", Md2Header(3, 1));
  const Names quake2 = {"model-format progs/a.md3",  "model-format progs/b.iqm", "model-format progs/c.md5mesh",
                        "model-format progs/hl.mdl", "model-format progs/r.mdl", "model-format progs/s.mdl"};
  const Names quake = {"model-format progs/a.md3",  "model-format progs/b.iqm",          "model-format progs/c.md5mesh",
                       "model-format progs/hl.mdl", "model-replacement progs/r.md5mesh", "model-format models/m.md2"};
  const struct {
    const char* engine;
    Names expected;
  } cases[] = {
      {"quake", quake},
      {"rerelease", quake},
      {"qss", {"model-format progs/hl.mdl", "model-format models/m.md2"}},
      {"darkplaces", {"model-format progs/c.md5mesh", "model-format progs/hl.mdl"}},
      {"fte", {}},
      {"quake2", quake2},
      {"yamagi", quake2},
  };
  for (const auto& c : cases) EXPECT_EQ(Check(c.engine, pak), c.expected) << c.engine;

  const PakBuilder one = PakBuilder().File("progs/a.md3", Magic("IDP3", 15));
  EXPECT_EQ(Check("quake", one), Names{"model-format progs/a.md3"});
  EXPECT_EQ(
      last,
      "is a Quake III model (MD3); asked for it, Quakespasm quits with a fatal error (\"Mod_LoadBrushModel: ... "
      "has unsupported version number (860898377)\"); Ironwail from 0.8.1 quits too (\"Can't load ... directly\"); "
      "vkQuake 1.33 and later load it");
  const PakBuilder hl = PakBuilder().File("progs/hl.mdl", Magic("IDST", 10));
  EXPECT_EQ(Check("darkplaces", hl), Names{"model-format progs/hl.mdl"});
  EXPECT_NE(last.find("DarkPlaces leaves the model out"), std::string::npos) << last;
  EXPECT_EQ(Check("yamagi", hl), Names{"model-format progs/hl.mdl"});
  EXPECT_NE(last.find("(\"Mod_ForName: unknown fileid for ...\") and drops to the console"), std::string::npos) << last;
}

// Half-Life's engine as Xash3D FWGS loads its files: studio models of version 10 and Quake's
// MDL, maps of version 30, 29 and BSP2; every other model left out ("has unknown format"); pak
// members and loose files found in any case; a pak past 65536 files left out.
TEST_F(EngineChecks, HalfLifeEngineProfile) {
  ASSERT_NE(FindEngineProfile("halflife"), nullptr);
  EXPECT_EQ(FindEngineProfile("xash3d")->id, Engine::GoldSrc);
  EXPECT_NE(EngineProfileNames().find("goldsrc"), std::string::npos);

  const PakBuilder maps = PakBuilder()
                              .File("maps/q1.bsp", Map("29"))
                              .File("maps/big.bsp", Map("BSP2"))
                              .File("maps/hl.bsp", Map("30"))
                              .File("maps/q2.bsp", Quake2Map())
                              .File("maps/junk.bsp", "junk");
  EXPECT_EQ(Check("goldsrc", maps), (Names{"map-version maps/q2.bsp", "map-version maps/junk.bsp"}));
  EXPECT_NE(last.find("Xash3D FWGS load maps of version 30 (Half-Life's), 29 and BSP2 only"), std::string::npos)
      << last;

  const PakBuilder models = PakBuilder()
                                .File("models/a.md3", Magic("IDP3", 15))
                                .File("models/b.iqm", Magic(std::string_view("INTERQUAKEMODEL\0", 16), 2))
                                .File("models/hl.mdl", Magic("IDST", 10))
                                .File("models/old.mdl", Magic("IDST", 6))
                                .File("models/r.mdl", MdlHeader(3, 1))
                                .File("models/m.md2", Md2Header(3, 1));
  EXPECT_EQ(Check("goldsrc", models), (Names{"model-format models/a.md3", "model-format models/b.iqm",
                                             "model-header models/old.mdl", "model-format models/m.md2"}));
  EXPECT_EQ(last,
            "is a Quake II model (MD2); asked for it, Xash3D FWGS leaves the model out (\"... has unknown format\") "
            "and goes on");
  Check("goldsrc", PakBuilder().File("models/old.mdl", Magic("IDST", 6)));
  EXPECT_NE(last.find("Xash3D FWGS loads version 10 only"), std::string::npos) << last;

  // Names in any case, in a pak and loose.
  EXPECT_TRUE(Check("goldsrc", PakBuilder().File("Maps/Start.bsp", Map("30"))).empty());
  WriteFile(dir / "valve/Sound/Hit.wav", Wav(1, 1, 8));
  EXPECT_TRUE(CheckFolders("goldsrc", {"valve"}).empty());

  // More files than the engine takes: the pak is left out, the game goes on.
  Bytes claims = PakBuilder().File("a", "x").Build();
  PutU32(claims, 8, 65537 * 64);
  WriteFile(dir / "x.pak", claims);
  CGameView view = CGameView::LoadArchive(*FindEngineProfile("goldsrc"), dir / "x.pak");
  EXPECT_EQ(Rules(view), Names{"files-per-pak x.pak"});
  EXPECT_NE(last.find("has too many files ( 65537 ). Ignored."), std::string::npos) << last;
  EXPECT_NE(last.find("the engine goes on without it"), std::string::npos) << last;
}

// Skin files are read as MODEL_0.skin, MODEL_1.skin, ... up to the first missing: DarkPlaces
// with the model's whole name, FTE with it or without the extension.
TEST_F(EngineChecks, SkinFilesTheEnginesNeverRead) {
  const PakBuilder pak = PakBuilder()
                             .File("progs/a.md3", Magic("IDP3", 15))
                             .File("progs/a.md3_0.skin", "tag_head,\n")
                             .File("progs/a.md3_2.skin", "tag_head,\n")
                             .File("progs/a_0.skin", "tag_head,\n")
                             .File("models/players/x/lower_default.skin", "tag_torso,\n");
  EXPECT_EQ(Check("darkplaces", pak), (Names{"skin-file progs/a.md3_2.skin", "skin-file progs/a_0.skin",
                                             "skin-file models/players/x/lower_default.skin"}));
  // FTE's QuakeC may ask for any skin file by name: only the gap is told.
  EXPECT_EQ(Check("fte", pak), Names{"skin-file progs/a.md3_2.skin"});
  EXPECT_TRUE(Check("qss", pak).empty());
}

// The headers a check needs are read from deflated pk3 members as from a pak.
TEST_F(EngineChecks, CompressedPk3Members) {
  WriteFile(dir / "x.pk3", ZipBuilder()
                               .Deflated("maps/a.bsp", Map("29", 100))
                               .Deflated("maps/a.lit", Lit(99))
                               .Deflated("maps/q2.bsp", Quake2Map())
                               .Deflated("sound/stereo.wav", Wav(1, 2, 16))
                               .Build());
  CGameView view = CGameView::LoadArchive(*FindEngineProfile("quake"), dir / "x.pk3");
  EXPECT_EQ(Rules(view), (Names{"lit-size maps/a.lit", "map-version maps/q2.bsp", "sound-format sound/stereo.wav"}));
}

}  // namespace
}  // namespace tarn::test
