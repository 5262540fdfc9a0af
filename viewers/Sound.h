// Playing sounds from memory in the background: Play returns at once, the sound goes on while
// the window stays live, a new Play replaces the sound playing, Stop ends it. Waves go to the
// device as they are (SDL's own queue); the music formats of the re-releases (Ogg Vorbis and
// Opus, MP3, FLAC) are decoded by SDL_mixer.
#pragma once

#include <QObject>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

class QTimer;

namespace tarn {
class CPackObject;
}

namespace tarn::viewers {

class CSoundPlayer : public QObject {
  Q_OBJECT
 public:
  explicit CSoundPlayer(QObject* parent = nullptr);
  ~CSoundPlayer() override;

  // Stops what plays and starts a complete sound file held in memory. False, with a message for
  // the user, when there is no sound device or the bytes are not a sound that can be played.
  bool Play(std::span<const std::uint8_t> sound, const QString& name, std::string* error);
  // Plays a PCM wave to the loop's end, then its loop over and over, as the engines play a
  // looped sound, until Stop; loopEnd 0 is the end of the sound. False, with a message, as Play.
  bool PlayLooping(std::span<const std::uint8_t> wave, const QString& name, std::uint32_t loopStart,
                   std::uint32_t loopEnd, std::string* error);
  bool IsLooping() const { return !m_loop.empty(); }
  // Reads the entry's bytes for the purpose (released again at once: the device keeps its own
  // copy of the samples) and plays them.
  bool PlayEntry(CPackObject& entry, std::string* error);
  void Stop();
  bool IsPlaying() const { return m_device != 0 || m_music != nullptr; }
  const QString& Name() const { return m_name; }
  double Seconds() const { return m_duration.count() / 1000.0; }
  // "Playing "name": 1.2 of 6.0 s", for the status bar.
  QString StatusText() const;
  static constexpr int kPollMs = 100;

 signals:
  // While a sound plays, now and then, with the status text.
  void playing(const QString& text);
  // When it has ended, on its own or stopped.
  void finished();

 private:
  void Poll();
  void Close();
  bool PlayWave(std::span<const std::uint8_t> wave, std::string* error, std::uint32_t loopStart = 0,
                std::uint32_t loopEnd = 0, bool looping = false);
  bool PlayMusic(std::span<const std::uint8_t> bytes, std::string* error);
  void Started(const QString& name);

  std::uint32_t m_device = 0;              // a wave's
  void* m_music = nullptr;                 // SDL_mixer's Mix_Music, while music plays
  std::vector<std::uint8_t> m_musicBytes;  // what the decoder reads as it plays
  std::vector<std::uint8_t> m_loop;        // a looping wave's loop, queued again as the device drains it
  std::uint32_t m_loopQueueBytes = 0;      // what is kept queued ahead: half a second
  bool m_audio = false;
  QString m_name;
  std::chrono::milliseconds m_duration{0}, m_buffered{0};
  std::chrono::steady_clock::time_point m_start;
  std::optional<std::chrono::steady_clock::time_point> m_drained;
  QTimer* m_poll;
};

}  // namespace tarn::viewers
