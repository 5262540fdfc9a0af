#include "viewers/Sound.h"

#include <SDL.h>

#include <algorithm>
#include <chrono>

#include "formats/EntryPictures.h"

namespace tarn::viewers {

namespace {

// Opens and closes SDL's audio subsystem around one sound, so that the device in use is the
// one present now.
class AudioSubsystem {
 public:
  AudioSubsystem() : m_ok(SDL_InitSubSystem(SDL_INIT_AUDIO) == 0) {}
  ~AudioSubsystem() {
    if (m_ok) SDL_QuitSubSystem(SDL_INIT_AUDIO);
  }
  bool Ok() const { return m_ok; }

 private:
  bool m_ok;
};

}  // namespace

bool PlayWave(std::span<const std::uint8_t> bytes, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  AudioSubsystem audio;
  if (!audio.Ok()) return fail(std::string("No sound device is available (") + SDL_GetError() + ").");
  if (bytes.size() > static_cast<std::size_t>(INT32_MAX)) return fail("The sound is too large to play.");

  SDL_RWops* rw = SDL_RWFromConstMem(bytes.data(), static_cast<int>(bytes.size()));
  SDL_AudioSpec wave{};
  Uint8* samples = nullptr;
  Uint32 length = 0;
  if (!rw || !SDL_LoadWAV_RW(rw, 1, &wave, &samples, &length))
    return fail(std::string("This is not a wave sound that can be played (") + SDL_GetError() + ").");

  // The device is opened with the wave's own format; SDL converts if the hardware differs.
  SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &wave, nullptr, 0);
  if (device == 0) {
    SDL_FreeWAV(samples);
    return fail(std::string("No sound device is available (") + SDL_GetError() + ").");
  }
  const int frameBytes = std::max(1, static_cast<int>(SDL_AUDIO_BITSIZE(wave.format) / 8) * wave.channels);
  const auto duration = std::chrono::milliseconds(
      wave.freq > 0 ? static_cast<long long>(length / static_cast<Uint32>(frameBytes)) * 1000 / wave.freq : 0);
  const auto start = std::chrono::steady_clock::now();
  SDL_QueueAudio(device, samples, length);
  SDL_PauseAudioDevice(device, 0);

  // Wait for the queue to drain, but never for much longer than the sound lasts.
  const auto deadline = start + duration + std::chrono::seconds(2);
  while (SDL_GetQueuedAudioSize(device) > 0 && std::chrono::steady_clock::now() < deadline) SDL_Delay(5);
  // The device still holds the last buffer it took from the queue.
  const auto buffered = std::chrono::milliseconds(wave.freq > 0 ? 1000LL * wave.samples / wave.freq : 0);
  const auto playedUntil = std::max(start + duration, std::chrono::steady_clock::now() + buffered);
  while (std::chrono::steady_clock::now() < std::min(playedUntil, deadline)) SDL_Delay(5);

  SDL_CloseAudioDevice(device);
  SDL_FreeWAV(samples);
  return true;
}

bool PlaySoundEntry(CPackObject& entry, std::string* error) {
  CEntryBytes data(entry);
  if (!data.Ok()) {
    if (error) *error = "The sound's data cannot be read.";
    return false;
  }
  return PlayWave(data.Bytes(), error);
}

}  // namespace tarn::viewers
