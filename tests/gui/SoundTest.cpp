#include <QLabel>
#include <algorithm>
#include <cstdlib>

#include "GuiSupport.h"
#include "SoundBuilders.h"
#include "viewers/Sound.h"

namespace tarn::test {
namespace {

// Sounds go to SDL's "disk" driver, which writes what the device would play to a file at the
// pace of a real device.
class DiskAudio {
 public:
  explicit DiskAudio(const fs::path& out) {
    const char* d = std::getenv("SDL_AUDIODRIVER");
    saved = d ? d : "";
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", out.c_str(), 1);
  }
  ~DiskAudio() {
    if (saved.empty()) unsetenv("SDL_AUDIODRIVER");
    else setenv("SDL_AUDIODRIVER", saved.c_str(), 1);
    unsetenv("SDL_DISKAUDIOFILE");
  }
  std::string saved;
};

TEST(Sound, PlayReturnsAtOnceAndTheDeviceGetsTheSamples) {
  TempDir dir;
  DiskAudio audio(dir / "device.raw");
  Bytes samples(4000);  // half a second at 8000 Hz
  for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<std::uint8_t>(16 + (i * 7) % 200);
  viewers::CSoundPlayer player;
  int finished = 0;
  QStringList texts;
  QObject::connect(&player, &viewers::CSoundPlayer::finished, [&] { ++finished; });
  QObject::connect(&player, &viewers::CSoundPlayer::playing, [&](const QString& t) { texts << t; });
  std::string error;
  ASSERT_TRUE(player.Play(Wave(samples, 8000), "pop.wav", &error)) << error;
  EXPECT_TRUE(player.IsPlaying());  // returned while the sound plays
  ASSERT_FALSE(texts.isEmpty());
  EXPECT_EQ(texts.front(), "Playing \"pop.wav\": 0.0 of 0.5 s");
  ASSERT_TRUE(QTest::qWaitFor([&] { return !player.IsPlaying(); }, 5000));
  EXPECT_EQ(finished, 1);
  // The device plays silence for as long as the sound takes to reach it (longer on a busy
  // machine); the samples then come whole and in order.
  const Bytes written = ReadFile(dir / "device.raw");
  EXPECT_NE(std::search(written.begin(), written.end(), samples.begin(), samples.end()), written.end());
}

TEST(Sound, MusicFormatsAreDecodedAndTheirSamplesReachTheDevice) {
  TempDir dir;
  DiskAudio audio(dir / "device.raw");
  std::vector<std::int16_t> samples(4000);  // half a second at 8000 Hz
  for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<std::int16_t>((i * 997) % 20000 - 10000);
  viewers::CSoundPlayer player;
  std::string error;
  ASSERT_TRUE(player.Play(Flac(samples, 8000), "track.flac", &error)) << error;
  EXPECT_TRUE(player.IsPlaying());
  EXPECT_DOUBLE_EQ(player.Seconds(), 0.5);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !player.IsPlaying(); }, 10000));
  // The device got the decoded samples as they are, in its own byte order, after whatever
  // silence the mixer gave it before the music began.
  const Bytes written = ReadFile(dir / "device.raw");
  std::vector<std::int16_t> got(written.size() / 2);
  std::memcpy(got.data(), written.data(), got.size() * 2);
  const auto start = std::find_if(got.begin(), got.end(), [](std::int16_t v) { return v != 0; });
  ASSERT_GE(got.end() - start, static_cast<std::ptrdiff_t>(samples.size()));
  EXPECT_EQ(std::vector<std::int16_t>(start, start + static_cast<std::ptrdiff_t>(samples.size())), samples);

  EXPECT_FALSE(player.Play(Mp3(0, false), "empty.mp3", &error));
  EXPECT_NE(error.find("not a sound that can be played"), std::string::npos) << error;
}

TEST(Sound, ASecondSoundReplacesTheFirstAndStopEndsIt) {
  TempDir dir;
  DiskAudio audio(dir / "device.raw");
  viewers::CSoundPlayer player;
  int finished = 0;
  QObject::connect(&player, &viewers::CSoundPlayer::finished, [&] { ++finished; });
  std::string error;
  ASSERT_TRUE(player.Play(Wave(Bytes(40000, 128), 8000), "long.wav", &error)) << error;
  ASSERT_TRUE(player.Play(Wave(Bytes(16000, 128), 8000), "other.wav", &error)) << error;
  EXPECT_EQ(finished, 1);
  EXPECT_EQ(player.Name(), "other.wav");
  EXPECT_DOUBLE_EQ(player.Seconds(), 2.0);
  player.Stop();
  EXPECT_FALSE(player.IsPlaying());
  EXPECT_EQ(finished, 2);
}

TEST(Sound, NoDeviceOrNoWaveGivesAMessage) {
  DiskAudio restore("unused");
  setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
  viewers::CSoundPlayer player;
  std::string error;
  EXPECT_FALSE(player.Play(Wave(Bytes(800, 128), 8000), "a.wav", &error));
  EXPECT_NE(error.find("No sound device"), std::string::npos) << error;
  EXPECT_FALSE(player.IsPlaying());

  setenv("SDL_AUDIODRIVER", "dummy", 1);
  error.clear();
  EXPECT_FALSE(player.Play(ToBytes("RIFF\x10\0\0\0WAVEjunkjunk"), "b.wav", &error));
  EXPECT_NE(error.find("not a wave"), std::string::npos) << error;
  EXPECT_FALSE(player.Play({}, "c.wav", &error));
  EXPECT_FALSE(player.IsPlaying());
}

TEST_F(GuiTest, SoundPlaysWhileTheWindowStaysLive) {
  DiskAudio audio(dir / "device.raw");
  OpenPak(PakBuilder().File("sound/long.wav", Wave(Bytes(48000, 128), 8000)).File("sound/b.txt", "b").Build());
  ShowDir("sound");
  FocusList();
  SelectRows({"long.wav"});
  EXPECT_FALSE(Enabled("actionStopSound"));
  Action("actionView")->trigger();
  // Back at once: the six seconds play on while the list takes clicks and keys.
  ASSERT_TRUE(frame->IsPlaying());
  auto* playing = frame->findChild<QLabel*>("playingText");
  EXPECT_TRUE(playing->isVisible());
  EXPECT_TRUE(playing->text().startsWith("Playing \"long.wav\": ")) << playing->text().toStdString();
  EXPECT_TRUE(playing->text().endsWith(" of 6.0 s"));
  EXPECT_TRUE(Enabled("actionStopSound"));
  QTest::keyClick(List()->ActiveView(), Qt::Key_End);
  EXPECT_EQ(List()->SelectedEntries().front()->Name(), "long.wav");  // the last row, by name order
  QTest::keyClick(List()->ActiveView(), Qt::Key_Home);
  EXPECT_EQ(List()->SelectedEntries().front()->Name(), "b.txt");
  ASSERT_TRUE(frame->IsPlaying());
  // Esc in the list stops it.
  QTest::keyClick(List()->ActiveView(), Qt::Key_Escape);
  EXPECT_FALSE(frame->IsPlaying());
  EXPECT_FALSE(playing->isVisible());
  EXPECT_FALSE(frame->findChild<viewers::CSoundPlayer*>()->IsPlaying());

  // Closing the window ends the sound with it.
  SelectRows({"long.wav"});
  Action("actionView")->trigger();
  ASSERT_TRUE(frame->IsPlaying());
  frame->close();
  EXPECT_FALSE(frame->findChild<viewers::CSoundPlayer*>()->IsPlaying());
}

}  // namespace
}  // namespace tarn::test
