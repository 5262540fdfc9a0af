#include <cstdlib>

#include "TestSupport.h"
#include "viewers/Sound.h"

namespace tarn::test {
namespace {

// A RIFF wave of 8-bit mono samples at the given rate.
Bytes Wave(const Bytes& samples, int rate) {
  Bytes b = ToBytes("RIFF");
  PutU32(b, 4, static_cast<std::uint32_t>(36 + samples.size()));
  const Bytes rest = ToBytes("WAVEfmt ");
  b.insert(b.end(), rest.begin(), rest.end());
  PutU32(b, 16, 16);
  b.resize(20);
  b.push_back(1), b.push_back(0);  // PCM
  b.push_back(1), b.push_back(0);  // mono
  PutU32(b, 24, static_cast<std::uint32_t>(rate));
  PutU32(b, 28, static_cast<std::uint32_t>(rate));
  b.push_back(1), b.push_back(0);  // block align
  b.push_back(8), b.push_back(0);  // bits
  const Bytes data = ToBytes("data");
  b.insert(b.end(), data.begin(), data.end());
  PutU32(b, 40, static_cast<std::uint32_t>(samples.size()));
  b.insert(b.end(), samples.begin(), samples.end());
  return b;
}

class Sound : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* d = std::getenv("SDL_AUDIODRIVER");
    savedDriver = d ? d : "";
  }
  void TearDown() override {
    if (savedDriver.empty())
      unsetenv("SDL_AUDIODRIVER");
    else
      setenv("SDL_AUDIODRIVER", savedDriver.c_str(), 1);
    unsetenv("SDL_DISKAUDIOFILE");
  }
  std::string savedDriver;
};

TEST_F(Sound, TheDeviceGetsTheSamplesAndTheCallWaitsForThem) {
  TempDir dir;
  const fs::path out = dir / "device.raw";
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", out.c_str(), 1);
  Bytes samples(2000);  // a quarter of a second at 8000 Hz
  for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<std::uint8_t>(16 + (i * 7) % 200);
  std::string error;
  ASSERT_TRUE(viewers::PlayWave(Wave(samples, 8000), &error)) << error;
  // Every sample reached the device before the call returned: it waited for them, however
  // long the device took (no clock is asked, which a loaded machine would make lie).
  const Bytes written = ReadFile(out);
  ASSERT_GE(written.size(), samples.size());
  EXPECT_EQ(Bytes(written.begin(), written.begin() + static_cast<long>(samples.size())), samples);
}

TEST_F(Sound, NoDeviceOrNoWaveGivesAMessage) {
  setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
  std::string error;
  EXPECT_FALSE(viewers::PlayWave(Wave(Bytes(800, 128), 8000), &error));
  EXPECT_NE(error.find("No sound device"), std::string::npos) << error;

  setenv("SDL_AUDIODRIVER", "dummy", 1);
  error.clear();
  EXPECT_FALSE(viewers::PlayWave(ToBytes("RIFF\x10\0\0\0WAVEjunkjunk"), &error));
  EXPECT_NE(error.find("not a wave"), std::string::npos) << error;
  EXPECT_FALSE(viewers::PlayWave({}, &error));
}

}  // namespace
}  // namespace tarn::test
