#include "SoundBuilders.h"
#include "sounds/SoundInfo.h"

namespace tarn::test {
namespace {

TEST(SoundInfo, WavesTellTheirFormatLengthAndLoop) {
  SoundInfo info;
  std::string why;
  ASSERT_TRUE(ReadSoundInfo(Wave(Bytes(11025, 128), 11025, CueChunk(2000)), info, &why)) << why;
  EXPECT_EQ(info.format, "Wave, PCM 8-bit");
  EXPECT_EQ(info.channels, 1);
  EXPECT_EQ(info.rate, 11025);
  EXPECT_EQ(info.frames, 11025u);
  EXPECT_DOUBLE_EQ(info.Seconds(), 1.0);
  EXPECT_EQ(info.loopStart, 2000u);
  EXPECT_FALSE(info.loopEnd);
  // The engines loop from the cue point: a sampler's loop counts only without one. A cut data
  // chunk counts what is there.
  Bytes both = Wave(Bytes(800, 128), 8000, CueChunk(5));
  const Bytes smpl = SmplChunk(100, 700);
  both.insert(both.end(), smpl.begin(), smpl.end());
  ASSERT_TRUE(ReadSoundInfo(both, info, &why)) << why;
  EXPECT_EQ(info.loopStart, 5u);
  EXPECT_FALSE(info.loopEnd);
  EXPECT_TRUE(info.loopFromCue);
  ASSERT_TRUE(ReadSoundInfo(Wave(Bytes(800, 128), 8000, smpl), info, &why)) << why;
  EXPECT_EQ(info.loopStart, 100u);
  EXPECT_EQ(info.loopEnd, 700u);
  EXPECT_FALSE(info.loopFromCue);
  Bytes cut = Wave(Bytes(800, 128), 8000);
  cut.resize(cut.size() - 300);
  ASSERT_TRUE(ReadSoundInfo(cut, info, &why));
  EXPECT_EQ(info.frames, 500u);
  EXPECT_FALSE(info.loopStart);
}

TEST(SoundInfo, MusicFormatsTellTheirsFromTheirHeaders) {
  SoundInfo info;
  std::string why;
  ASSERT_TRUE(ReadSoundInfo(Flac(std::vector<std::int16_t>(4410, 0), 44100), info, &why)) << why;
  EXPECT_EQ(info.format, "FLAC, 16-bit");
  EXPECT_EQ(info.container, SoundInfo::Container::Flac);
  EXPECT_EQ(info.channels, 1);
  EXPECT_EQ(info.rate, 44100);
  EXPECT_EQ(info.frames, 4410u);

  ASSERT_TRUE(ReadSoundInfo(OggVorbis(2, 48000, 96000), info, &why)) << why;
  EXPECT_EQ(info.format, "Ogg Vorbis");
  EXPECT_EQ(info.channels, 2);
  EXPECT_DOUBLE_EQ(info.Seconds(), 2.0);

  ASSERT_TRUE(ReadSoundInfo(Mp3(100, true), info, &why)) << why;
  EXPECT_EQ(info.format, "MP3 (MPEG-1 Layer III, 128 kbit/s)");
  EXPECT_EQ(info.rate, 44100);
  EXPECT_EQ(info.channels, 2);
  EXPECT_EQ(info.frames, 100u * 1152);
  // Without a frame count the length follows from the bit rate.
  ASSERT_TRUE(ReadSoundInfo(Mp3(100, false), info, &why)) << why;
  EXPECT_NEAR(info.Seconds(), 100 * 417 * 8 / 128000.0, 0.01);
}

TEST(SoundInfo, DamagedOrForeignBytesGiveAReason) {
  SoundInfo info;
  std::string why;
  EXPECT_FALSE(ReadSoundInfo(ToBytes("RIFF\x10\0\0\0WAVEjunkjunk"), info, &why));
  EXPECT_FALSE(why.empty());
  EXPECT_FALSE(ReadSoundInfo(ToBytes("fLaC\x00"), info, &why));
  EXPECT_FALSE(ReadSoundInfo(ToBytes("OggS"), info, &why));
  EXPECT_FALSE(ReadSoundInfo(Bytes(100, 0), info, &why));
  EXPECT_NE(why.find("not a sound"), std::string::npos);
  Bytes noFrame = Mp3(0, false);
  EXPECT_FALSE(ReadSoundInfo(noFrame, info, &why));
  EXPECT_EQ(info.channels, 0);
}

}  // namespace
}  // namespace tarn::test
