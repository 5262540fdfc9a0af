// Sounds made for the engines: the waves written and their loops, read back as Quake's own
// GetWavinfo reads them and as sox reads them; sounds of every format brought in and resampled,
// compared with sox's own resampling.
#include <cmath>

#include "CliSupport.h"
#include "SoundBuilders.h"
#include "sounds/SoundImport.h"
#include "sounds/SoundInfo.h"
#include "sounds/WaveFile.h"

namespace tarn::test {
namespace {

// Quakespasm's GetWavinfo (Quake/snd_mem.c) step by step on the bytes: the loop start from the
// first cue point, "mark" at byte 28 of the first LIST chunk after the cue chunk and the loop's
// length at byte 24, the samples counted from the data chunk.
struct QuakeWavInfo {
  int rate = 0, width = 0, channels = 0;
  std::int64_t loopstart = -1, samples = 0;
  bool badLoopLength = false;  // Sys_Error
};
QuakeWavInfo GetWavinfo(const Bytes& wav) {
  QuakeWavInfo info;
  const std::uint8_t* end = wav.data() + wav.size();
  const std::uint8_t* lastChunk = nullptr;
  const std::uint8_t* iffData = wav.data() + 12;
  auto le32 = [](const std::uint8_t* p) {
    return static_cast<std::int32_t>(p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24);
  };
  auto next = [&](const char* name) -> const std::uint8_t* {
    for (;;) {
      if (lastChunk + 8 >= end) return nullptr;
      const std::int32_t len = le32(lastChunk + 4);
      if (len < 0 || len > end - (lastChunk + 8)) return nullptr;
      const std::uint8_t* at = lastChunk;
      lastChunk = lastChunk + 8 + ((len + 1) & ~1);
      if (std::memcmp(at, name, 4) == 0) return at;
    }
  };
  auto find = [&](const char* name) {
    lastChunk = iffData;
    return next(name);
  };
  const std::uint8_t* fmt = find("fmt ");
  if (!fmt || (fmt[8] | fmt[9] << 8) != 1) return info;
  info.channels = fmt[10] | fmt[11] << 8;
  info.rate = le32(fmt + 12);
  info.width = (fmt[22] | fmt[23] << 8) / 8;
  if (const std::uint8_t* cue = find("cue ")) {
    info.loopstart = le32(cue + 32);
    if (const std::uint8_t* list = next("LIST"); list && std::memcmp(list + 28, "mark", 4) == 0)
      info.samples = info.loopstart + le32(list + 24);
  }
  const std::uint8_t* data = find("data");
  if (!data) return info;
  const std::int64_t samples = le32(data + 4) / info.width;
  if (info.samples) info.badLoopLength = samples < info.samples;
  else info.samples = samples;
  return info;
}

Bytes Samples16(std::size_t n, int period) {
  Bytes b;
  for (std::size_t i = 0; i < n; ++i) {
    const auto v = static_cast<std::int16_t>(12000 * std::sin(6.283185307 * static_cast<double>(i) / period));
    PutLe(b, static_cast<std::uint16_t>(v), 2);
  }
  return b;
}

// The chunks of a wave after its header, as id and bytes (pad included).
std::vector<std::pair<std::string, Bytes>> Chunks(const Bytes& wav) {
  std::vector<std::pair<std::string, Bytes>> out;
  for (std::size_t at = 12; at + 8 <= wav.size();) {
    const std::size_t len =
        wav[at + 4] | wav[at + 5] << 8 | wav[at + 6] << 16 | static_cast<std::size_t>(wav[at + 7]) << 24;
    const std::size_t whole = std::min(wav.size() - at, 8 + len + (len & 1));
    out.emplace_back(
        std::string(wav.begin() + static_cast<std::ptrdiff_t>(at), wav.begin() + static_cast<std::ptrdiff_t>(at) + 4),
        Bytes(wav.begin() + static_cast<std::ptrdiff_t>(at), wav.begin() + static_cast<std::ptrdiff_t>(at + whole)));
    at += whole;
  }
  return out;
}

TEST(WaveFile, LoopsAreWrittenWhereQuakeLooksForThem) {
  const Bytes samples = Samples16(5000, 50);
  const Bytes wav = BuildWave(11025, 16, samples, WaveLoop{1200, 4000});
  const QuakeWavInfo q = GetWavinfo(wav);
  EXPECT_EQ(q.rate, 11025);
  EXPECT_EQ(q.width, 2);
  EXPECT_EQ(q.channels, 1);
  EXPECT_EQ(q.loopstart, 1200);
  EXPECT_EQ(q.samples, 4000);  // the sound ends at the loop's end and goes back to its start
  EXPECT_FALSE(q.badLoopLength);
  SoundInfo info;
  ASSERT_TRUE(ReadSoundInfo(wav, info, nullptr));
  EXPECT_EQ(info.loopStart, 1200u);
  EXPECT_EQ(info.loopEnd, 4000u);
  EXPECT_TRUE(info.loopFromCue);
  EXPECT_EQ(info.frames, 5000u);
  EXPECT_EQ(info.bits, 16);

  // A loop to the end is a cue point alone; 8-bit samples of odd count are padded.
  const Bytes eight = BuildWave(22050, 8, Bytes(301, 128), WaveLoop{7, std::nullopt});
  EXPECT_EQ(eight.size() % 2, 0u);
  const QuakeWavInfo q8 = GetWavinfo(eight);
  EXPECT_EQ(q8.loopstart, 7);
  EXPECT_EQ(q8.samples, 301);
  ASSERT_TRUE(ReadSoundInfo(eight, info, nullptr));
  EXPECT_FALSE(info.loopEnd);
  EXPECT_EQ(GetWavinfo(BuildWave(11025, 16, samples, std::nullopt)).loopstart, -1);
}

TEST(WaveFile, ChangingTheLoopKeepsEveryOtherChunk) {
  // A wave as editors leave it: a LIST/INFO chunk, an unknown odd chunk, a sampler loop.
  Bytes extra;
  PutTag(extra, "LIST");
  PutLe(extra, 14, 4);
  PutTag(extra, "INFOINAM");
  PutLe(extra, 2, 4);
  PutTag(extra, "x");
  extra.push_back(0);
  PutTag(extra, "id3 ");
  PutLe(extra, 3, 4);
  extra.insert(extra.end(), {1, 2, 3, 0});
  const Bytes smpl = SmplChunk(10, 20);
  extra.insert(extra.end(), smpl.begin(), smpl.end());
  const Bytes wav = Wave(Bytes(1000, 100), 11025, extra);

  Bytes looped;
  std::string why;
  ASSERT_TRUE(SetWaveLoop(wav, WaveLoop{100, 900}, looped, &why)) << why;
  auto without = [](const Bytes& w) {
    auto chunks = Chunks(w);
    std::erase_if(chunks, [](const auto& c) { return c.first == "cue " || (c.first == "LIST" && c.second[8] == 'a'); });
    return chunks;
  };
  EXPECT_EQ(without(looped), without(wav));
  const QuakeWavInfo q = GetWavinfo(looped);
  EXPECT_EQ(q.loopstart, 100);
  EXPECT_EQ(q.samples, 900);
  EXPECT_EQ(looped.size() - 8, static_cast<std::size_t>(looped[4] | looped[5] << 8 | looped[6] << 16));

  // Changed again: one loop, in the old one's place; removed: the wave as it was.
  Bytes again, removed;
  ASSERT_TRUE(SetWaveLoop(looped, WaveLoop{5, std::nullopt}, again, &why)) << why;
  EXPECT_EQ(GetWavinfo(again).loopstart, 5);
  EXPECT_EQ(GetWavinfo(again).samples, 1000);
  ASSERT_TRUE(SetWaveLoop(again, std::nullopt, removed, &why)) << why;
  EXPECT_EQ(removed, wav);

  // A list that is no "adtl" but has "mark" where the engine looks is a loop length to it: a
  // loop to the end does not keep it (found by fuzz_wave_loop).
  Bytes list;
  PutTag(list, "LIST");
  PutLe(list, 24, 4);
  PutTag(list, "altlltxt");
  PutLe(list, 20, 4);
  PutLe(list, 1, 4);
  PutLe(list, 90, 4);
  PutTag(list, "mark");
  const Bytes stray = Wave(Bytes(1000, 100), 11025, list);
  ASSERT_TRUE(SetWaveLoop(stray, WaveLoop{100, std::nullopt}, again, &why)) << why;
  EXPECT_EQ(GetWavinfo(again).loopstart, 100);
  EXPECT_EQ(GetWavinfo(again).samples, 1000);
  SoundInfo info;
  ASSERT_TRUE(ReadSoundInfo(again, info, nullptr));
  EXPECT_FALSE(info.loopEnd);

  // Loops the engine cannot play are refused; nothing is written.
  Bytes out;
  EXPECT_FALSE(SetWaveLoop(wav, WaveLoop{100, 1001}, out, &why));
  EXPECT_EQ(why, "the loop ends at sample 1001, past the end of the sound's 1000 samples");
  EXPECT_FALSE(SetWaveLoop(wav, WaveLoop{1000, std::nullopt}, out, &why));
  EXPECT_FALSE(SetWaveLoop(wav, WaveLoop{50, 50}, out, &why));
  EXPECT_FALSE(SetWaveLoop(ToBytes("RIFF\x04\0\0\0WAVE"), WaveLoop{}, out, &why));
  EXPECT_TRUE(out.empty());
}

// The wave a shipped game loops with its cue point after an unknown chunk and an empty adtl list
// (LibreQuake's doormv1.wav): read without reading past the list.
TEST(WaveFile, ShippedLoopIsReadAsTheEngineReadsIt) {
  const fs::path path = SamplesDir() / "LibreQuake/lq1/sound/doors/doormv1.wav";
  if (!fs::exists(path)) GTEST_SKIP() << "no samples";
  const Bytes wav = ReadFile(path);
  SoundInfo info;
  ASSERT_TRUE(ReadSoundInfo(wav, info, nullptr));
  EXPECT_EQ(info.loopStart, 10985u);
  EXPECT_FALSE(info.loopEnd);
  Bytes moved;
  std::string why;
  ASSERT_TRUE(SetWaveLoop(wav, WaveLoop{100, 2000}, moved, &why)) << why;
  EXPECT_EQ(GetWavinfo(moved).loopstart, 100);
  EXPECT_EQ(GetWavinfo(moved).samples, 2000);
}

// What tarn-pak sound writes, info reads back: the loop exactly as asked, in text and JSON.
TEST(SoundImport, LoopPointsRoundTripThroughInfo) {
  TempDir dir;
  WriteFile(dir / "in.flac", Flac(std::vector<std::int16_t>(8000, 500), 8000));
  fs::create_directories(dir / "mod/sound");
  Result r = Tool({"sound", (dir / "in.flac").string(), (dir / "mod/sound/hum.wav").string(), "--rate", "22050",
                   "--loop", "1234:20001"});
  ASSERT_EQ(r.rc, 0) << r.err;
  ASSERT_EQ(Tool({"create", (dir / "mod.pak").string(), (dir / "mod").string()}).rc, 0);
  r = Tool({"info", (dir / "mod.pak").string(), "sound/hum.wav"});
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_NE(r.out.find("rate: 22050\nbits: 16\nsamples: 22050\nloop start: 1234\nloop end: 20001\n"), std::string::npos)
      << r.out;
  r = Tool({"--json", "info", (dir / "mod.pak").string(), "sound/hum.wav"});
  EXPECT_NE(r.out.find("\"loop\": {\n    \"start\": 1234,\n    \"end\": 20001\n  }"), std::string::npos) << r.out;
  EXPECT_EQ(Tool({"sound", (dir / "in.flac").string(), (dir / "x.wav").string(), "--loop", "5:4"}).rc, 1);
  EXPECT_EQ(Tool({"sound", (dir / "in.flac").string(), (dir / "x.wav").string(), "--rate", "8000"}).rc, 2);
  EXPECT_EQ(Tool({"sound", (dir / "in.flac").string(), (dir / "x.mp3").string()}).rc, 2);
}

bool HaveSox() { return std::system("command -v sox >/dev/null 2>&1 && command -v soxi >/dev/null 2>&1") == 0; }

std::string Capture(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buf[256];
    while (std::fgets(buf, sizeof buf, p)) out += buf;
    pclose(p);
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

std::vector<double> Pcm16(const Bytes& wav) {
  std::vector<double> out;
  for (const auto& [id, bytes] : Chunks(wav))
    if (id == "data")
      for (std::size_t i = 8; i + 1 < bytes.size(); i += 2)
        out.push_back(static_cast<std::int16_t>(bytes[i] | bytes[i + 1] << 8) / 32768.0);
  return out;
}

TEST(SoundImport, EveryFormatComesInAsTheEnginesPlayIt) {
  // Stereo 16-bit at 44.1 kHz, with a loop, to a mono 11025 Hz wave: the loop moves with it.
  Bytes stereo;
  PutTag(stereo, "RIFF");
  PutLe(stereo, 0, 4);
  PutTag(stereo, "WAVEfmt ");
  PutLe(stereo, 16, 4);
  for (std::uint64_t v : {1u, 2u}) PutLe(stereo, v, 2);
  PutLe(stereo, 44100, 4);
  PutLe(stereo, 44100 * 4, 4);
  for (std::uint64_t v : {4u, 16u}) PutLe(stereo, v, 2);
  const Bytes mono = Samples16(44100, 100);
  PutTag(stereo, "data");
  PutLe(stereo, mono.size() * 2, 4);
  for (std::size_t i = 0; i < mono.size(); i += 2)
    for (int c = 0; c < 2; ++c)
      stereo.insert(stereo.end(), mono.begin() + static_cast<std::ptrdiff_t>(i),
                    mono.begin() + static_cast<std::ptrdiff_t>(i) + 2);
  const Bytes cue = CueChunk(4000);
  stereo.insert(stereo.end(), cue.begin(), cue.end());
  PutU32(stereo, 4, static_cast<std::uint32_t>(stereo.size() - 8));

  ImportedSound made;
  std::string why;
  ASSERT_TRUE(ImportSound(stereo, {}, made, &why)) << why;
  EXPECT_EQ(made.rate, 44100);  // a rate the engines mix at is kept
  SoundImportOptions options;
  options.rate = 11025;
  ASSERT_TRUE(ImportSound(stereo, options, made, &why)) << why;
  EXPECT_EQ(made.rate, 11025);
  EXPECT_EQ(made.bits, 16);
  EXPECT_EQ(made.frames, 11025u);
  ASSERT_TRUE(made.loop);
  EXPECT_EQ(made.loop->start, 1000u);
  const QuakeWavInfo q = GetWavinfo(made.bytes);
  EXPECT_EQ(q.channels, 1);
  EXPECT_EQ(q.rate, 11025);
  EXPECT_EQ(q.loopstart, 1000);
  EXPECT_EQ(q.samples, 11025);

  // FLAC, and Ogg Vorbis (made here by the same library), at 8 bits with the loop given.
  options.bits = 8;
  options.loopChoice = LoopChoice::Given;
  options.loop = {10, 500};
  ASSERT_TRUE(ImportSound(Flac(std::vector<std::int16_t>(4410, 1000), 44100), options, made, &why)) << why;
  EXPECT_EQ(made.frames, 1103u);
  EXPECT_EQ(GetWavinfo(made.bytes).width, 1);
  EXPECT_EQ(GetWavinfo(made.bytes).samples, 500);
  SoundImportOptions toOgg;
  toOgg.output = SoundOutput::OggVorbis;
  ImportedSound ogg;
  ASSERT_TRUE(ImportSound(stereo, toOgg, ogg, &why)) << why;
  SoundInfo oggInfo;
  ASSERT_TRUE(ReadSoundInfo(ogg.bytes, oggInfo, nullptr));
  EXPECT_EQ(oggInfo.format, "Ogg Vorbis");
  EXPECT_EQ(oggInfo.channels, 1);
  ImportedSound again;
  ASSERT_TRUE(ImportSound(ogg.bytes, toOgg, again, &why)) << why;  // Ogg asked of Ogg: kept
  EXPECT_TRUE(again.keptAsItWas);
  EXPECT_EQ(again.bytes, ogg.bytes);
  ASSERT_TRUE(ImportSound(ogg.bytes, options, made, &why)) << why;
  EXPECT_EQ(made.rate, 11025);
  toOgg.loopChoice = LoopChoice::All;
  EXPECT_FALSE(ImportSound(stereo, toOgg, ogg, &why));

  // A mono wave at the rate and width asked keeps its bytes but for the loop.
  const Bytes engine = Wave(Bytes(3000, 90), 22050, SmplChunk(1, 2));
  ASSERT_TRUE(ImportSound(engine, {}, made, &why)) << why;
  EXPECT_TRUE(made.keptAsItWas);
  EXPECT_EQ(made.bytes, engine);
  SoundImportOptions loopAll;
  loopAll.loopChoice = LoopChoice::All;
  ASSERT_TRUE(ImportSound(engine, loopAll, made, &why)) << why;
  EXPECT_FALSE(made.keptAsItWas);
  EXPECT_EQ(GetWavinfo(made.bytes).loopstart, 0);
  const std::string smpl = "smpl";  // the sampler chunk stays
  EXPECT_NE(std::search(made.bytes.begin(), made.bytes.end(), smpl.begin(), smpl.end()), made.bytes.end());

  // What is not a sound, or a loop past the end, is refused with a reason.
  EXPECT_FALSE(ImportSound(ToBytes("not a sound at all"), {}, made, &why));
  EXPECT_FALSE(why.empty());
  options.loop = {10, 20000};
  EXPECT_FALSE(ImportSound(stereo, options, made, &why));
  EXPECT_EQ(why, "the loop ends at sample 20000, past the end of the sound's 11025 samples");
  options.rate = 8000;
  EXPECT_FALSE(ImportSound(stereo, options, made, &why));
}

// sox is the judge: it reads every wave written with the rate, width and length asked, and a
// sound resampled here and by sox's "rate -v" differ by noise more than 60 dB down.
TEST(SoundImport, SoxReadsWhatIsWrittenAndResamplesAlike) {
  if (!HaveSox()) GTEST_SKIP() << "sox is not installed";
  TempDir dir;
  // A sweep of 48 kHz stereo floating point: every rate conversion, every width.
  ASSERT_EQ(Shell(dir.path(), "sox -n -r 48000 -c 2 -e floating-point -b 32 in.wav synth 1.5 sine 100-9000 gain -3"),
            0);
  for (const char* rate : {"11025", "22050", "44100"})
    for (const char* bits : {"8", "16"}) {
      const std::string out = std::string("out") + rate + "_" + bits + ".wav";
      ASSERT_EQ(Shell(dir.path(),
                      "\"$T\" -q sound in.wav " + out + " --rate " + rate + " --bits " + bits + " --loop 100:2000"),
                0);
      EXPECT_EQ(Capture("soxi -r " + (dir / out).string()), rate);
      EXPECT_EQ(Capture("soxi -b " + (dir / out).string()), bits);
      EXPECT_EQ(Capture("soxi -c " + (dir / out).string()), "1");
      EXPECT_EQ(Capture("soxi -s " + (dir / out).string()), std::to_string(std::lround(1.5 * std::stoi(rate))));
      EXPECT_NE(Capture("sox --i " + (dir / out).string()).find("Integer PCM"), std::string::npos);
    }
  // Mono first, so that both resample the same signal; no dither from sox.
  ASSERT_EQ(Shell(dir.path(), "sox in.wav -c 1 mono.wav && sox -D mono.wav -b 16 soxed.wav rate -v 11025"), 0);
  ASSERT_EQ(Shell(dir.path(), "\"$T\" -q sound mono.wav tarn.wav --rate 11025 --bits 16"), 0);
  const std::vector<double> a = Pcm16(ReadFile(dir / "tarn.wav")), b = Pcm16(ReadFile(dir / "soxed.wav"));
  ASSERT_EQ(a.size(), b.size());
  double signal = 0, noise = 0;
  for (std::size_t i = 0; i < a.size(); ++i) signal += b[i] * b[i], noise += (a[i] - b[i]) * (a[i] - b[i]);
  const double snr = 10 * std::log10(signal / std::max(noise, 1e-20));
  RecordProperty("snr_db", std::to_string(snr));
  std::printf("Tarn against sox rate -v, 48000 to 11025 Hz: SNR %.1f dB\n", snr);
  EXPECT_GT(snr, 60.0);
}

}  // namespace
}  // namespace tarn::test
