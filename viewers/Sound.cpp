#include "viewers/Sound.h"

#include <SDL.h>
#include <SDL_mixer.h>

#include <QTimer>
#include <algorithm>
#include <cstring>

#include "archive/PackObject.h"
#include "pictures/EntryPictures.h"
#include "sounds/SoundInfo.h"

namespace tarn::viewers {

CSoundPlayer::CSoundPlayer(QObject* parent) : QObject(parent) {
  setObjectName("soundPlayer");
  m_poll = new QTimer(this);
  m_poll->setInterval(kPollMs);
  connect(m_poll, &QTimer::timeout, this, &CSoundPlayer::Poll);
}

CSoundPlayer::~CSoundPlayer() {
  // Whoever listens may be half destroyed by now (the window owning the player): no signal.
  blockSignals(true);
  Close();
}

void CSoundPlayer::Close() {
  m_poll->stop();
  if (m_device != 0) SDL_CloseAudioDevice(m_device);
  m_device = 0;
  if (m_music) {
    Mix_HaltMusic();
    Mix_FreeMusic(static_cast<Mix_Music*>(m_music));
    Mix_CloseAudio();
    m_music = nullptr;
  }
  m_musicBytes.clear();
  m_loop.clear();
  // The subsystem is opened and closed around each sound, so that the device in use is the
  // one present now.
  if (m_audio) SDL_QuitSubSystem(SDL_INIT_AUDIO);
  m_audio = false;
}

void CSoundPlayer::Stop() {
  const bool was = IsPlaying();
  Close();
  if (was) emit finished();
}

bool CSoundPlayer::Play(std::span<const std::uint8_t> bytes, const QString& name, std::string* error) {
  Stop();
  auto fail = [&](const std::string& why) {
    Close();
    if (error) *error = why;
    return false;
  };
  m_audio = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
  if (!m_audio) return fail(std::string("No sound device is available (") + SDL_GetError() + ").");
  if (bytes.size() > static_cast<std::size_t>(INT32_MAX)) return fail("The sound is too large to play.");
  std::string why;
  const bool wave = bytes.size() >= 4 && std::memcmp(bytes.data(), "RIFF", 4) == 0;
  if (!(wave ? PlayWave(bytes, &why) : PlayMusic(bytes, &why))) return fail(why);
  Started(name);
  return true;
}

bool CSoundPlayer::PlayMusic(std::span<const std::uint8_t> bytes, std::string* error) {
  SoundInfo info;
  if (!ReadSoundInfo(bytes, info, error)) {
    *error = "This is not a sound that can be played (" + *error + ").";
    return false;
  }
  // Opened at the sound's own rate and channels, so that its samples reach the device as decoded.
  if (Mix_OpenAudioDevice(info.rate, AUDIO_S16SYS, std::clamp(info.channels, 1, 8), 2048, nullptr, 0) != 0) {
    *error = std::string("No sound device is available (") + Mix_GetError() + ").";
    return false;
  }
  static const int decoders = Mix_Init(MIX_INIT_OGG | MIX_INIT_MP3 | MIX_INIT_FLAC | MIX_INIT_OPUS);
  (void)decoders;
  m_musicBytes.assign(bytes.begin(), bytes.end());
  Mix_Music* music = Mix_LoadMUS_RW(SDL_RWFromConstMem(m_musicBytes.data(), static_cast<int>(m_musicBytes.size())), 1);
  if (!music) {
    *error = std::string("This sound cannot be decoded (") + Mix_GetError() + ").";
    Mix_CloseAudio();
    return false;
  }
  m_music = music;
  if (Mix_PlayMusic(music, 1) != 0) {
    *error = std::string("The sound cannot be played (") + Mix_GetError() + ").";
    return false;
  }
  const double seconds = Mix_MusicDuration(music);
  m_duration = std::chrono::milliseconds(static_cast<long long>((seconds > 0 ? seconds : info.Seconds()) * 1000));
  m_buffered = std::chrono::milliseconds(0);
  return true;
}

void CSoundPlayer::Started(const QString& name) {
  m_name = name;
  m_start = std::chrono::steady_clock::now();
  m_drained.reset();
  if (m_device) SDL_PauseAudioDevice(m_device, 0);
  m_poll->start();
  emit playing(StatusText());
}

bool CSoundPlayer::PlayLooping(std::span<const std::uint8_t> wave, const QString& name, std::uint32_t loopStart,
                               std::uint32_t loopEnd, std::string* error) {
  Stop();
  auto fail = [&](const std::string& why) {
    Close();
    if (error) *error = why;
    return false;
  };
  m_audio = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
  if (!m_audio) return fail(std::string("No sound device is available (") + SDL_GetError() + ").");
  if (wave.size() > static_cast<std::size_t>(INT32_MAX)) return fail("The sound is too large to play.");
  std::string why;
  if (!PlayWave(wave, &why, loopStart, loopEnd, true)) return fail(why);
  Started(name);
  return true;
}

bool CSoundPlayer::PlayWave(std::span<const std::uint8_t> bytes, std::string* error, std::uint32_t loopStart,
                            std::uint32_t loopEnd, bool looping) {
  auto fail = [&](const std::string& why) {
    *error = why;
    return false;
  };

  SDL_RWops* rw = SDL_RWFromConstMem(bytes.data(), static_cast<int>(bytes.size()));
  SDL_AudioSpec wave{};
  Uint8* samples = nullptr;
  Uint32 length = 0;
  if (!rw || !SDL_LoadWAV_RW(rw, 1, &wave, &samples, &length))
    return fail(std::string("This is not a wave sound that can be played (") + SDL_GetError() + ").");

  // The device is opened with the wave's own format; SDL converts if the hardware differs. Its
  // buffer holds about a twentieth of a second, so that Stop (which waits for the device to
  // finish the buffers it holds) answers at once.
  wave.samples = 256;
  while (wave.samples < 4096 && wave.samples * 2 <= wave.freq / 16) wave.samples *= 2;
  m_device = SDL_OpenAudioDevice(nullptr, 0, &wave, nullptr, 0);
  if (m_device == 0) {
    SDL_FreeWAV(samples);
    return fail(std::string("No sound device is available (") + SDL_GetError() + ").");
  }
  const int frameBytes = std::max(1, static_cast<int>(SDL_AUDIO_BITSIZE(wave.format) / 8) * wave.channels);
  if (looping) {
    // Up to the loop's end, then the loop again and again, kept half a second ahead of the device.
    const Uint32 frames = length / static_cast<Uint32>(frameBytes);
    const Uint32 end = loopEnd == 0 || loopEnd > frames ? frames : loopEnd;
    if (loopStart >= end) {
      SDL_FreeWAV(samples);
      return fail("The loop lies outside the sound.");
    }
    length = end * static_cast<Uint32>(frameBytes);
    m_loop.assign(samples + loopStart * static_cast<Uint32>(frameBytes), samples + length);
    m_loopQueueBytes = static_cast<std::uint32_t>(std::max(1, wave.freq / 2)) * static_cast<std::uint32_t>(frameBytes);
  }
  // The queue keeps its own copy of the samples.
  const bool queued = SDL_QueueAudio(m_device, samples, length) == 0;
  SDL_FreeWAV(samples);
  if (!queued) return fail(std::string("The sound cannot be played (") + SDL_GetError() + ").");
  m_duration = std::chrono::milliseconds(
      wave.freq > 0 ? static_cast<long long>(length / static_cast<Uint32>(frameBytes)) * 1000 / wave.freq : 0);
  // Once the queue is empty the device still holds the last buffer it took from it.
  m_buffered = std::chrono::milliseconds(wave.freq > 0 ? 1000LL * wave.samples / wave.freq : 0);
  return true;
}

bool CSoundPlayer::PlayEntry(CPackObject& entry, std::string* error) {
  CEntryBytes data(entry);
  if (!data.Ok()) {
    if (error) *error = "The sound's data cannot be read.";
    return false;
  }
  return Play(data.Bytes(), QString::fromLocal8Bit(entry.Name().c_str()), error);
}

QString CSoundPlayer::StatusText() const {
  if (!IsPlaying()) return QString();
  if (!m_loop.empty())
    return QString("Playing \"%1\" in a loop: %2 s")
        .arg(m_name)
        .arg(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - m_start).count() /
                 1000.0,
             0, 'f', 1);
  const auto elapsed = std::min(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - m_start), m_duration);
  return QString("Playing \"%1\": %2 of %3 s")
      .arg(m_name)
      .arg(elapsed.count() / 1000.0, 0, 'f', 1)
      .arg(Seconds(), 0, 'f', 1);
}

void CSoundPlayer::Poll() {
  if (!IsPlaying()) return;
  const auto now = std::chrono::steady_clock::now();
  if (m_music) {
    // The mixer plays music to its end by itself; a stalled device is given up as below.
    if (!Mix_PlayingMusic() || now >= m_start + m_duration + std::chrono::seconds(2)) Stop();
    else emit playing(StatusText());
    return;
  }
  if (!m_loop.empty()) {
    // A loop never ends on its own: it is queued again before the device runs dry.
    while (SDL_GetQueuedAudioSize(m_device) < m_loopQueueBytes)
      if (SDL_QueueAudio(m_device, m_loop.data(), static_cast<Uint32>(m_loop.size())) != 0) {
        Stop();
        return;
      }
    emit playing(StatusText());
    return;
  }
  // Ended once the queue has drained, the device has played the last buffer it took from it,
  // and the sound's length has passed; a stalled device is given up a little after the sound
  // should have ended.
  if (!m_drained && SDL_GetQueuedAudioSize(m_device) == 0) m_drained = now;
  const bool played = m_drained && now >= std::max(m_start + m_duration, *m_drained + m_buffered);
  const bool overdue = now >= m_start + m_duration + std::chrono::seconds(2);
  if (played || overdue) {
    Stop();
    return;
  }
  emit playing(StatusText());
}

}  // namespace tarn::viewers
