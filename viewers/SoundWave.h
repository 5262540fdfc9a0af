// A sound drawn as its waveform, its loop shaded on it: the loop's start and end are dragged on
// the waveform or typed, the sound played looping as the engines loop it, and the loop saved
// into the wave (every other chunk kept as it was). The sound viewer window and the preview pane
// both show it.
#pragma once

#include <QWidget>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "sounds/SoundInfo.h"
#include "sounds/WaveFile.h"
#include "viewers/TextViewer.h"
#include "viewers/ViewerFrame.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QSpinBox;

namespace tarn::viewers {

class CSoundPlayer;

class CWaveformView : public QWidget {
  Q_OBJECT
 public:
  explicit CWaveformView(QWidget* parent = nullptr);
  // Mono samples from -1 to 1.
  void SetSamples(std::vector<float> samples);
  std::size_t SampleCount() const { return m_samples.size(); }
  // The loop shaded and its edges drawn; none: no loop.
  void SetLoop(std::optional<WaveLoop> loop);
  const std::optional<WaveLoop>& Loop() const { return m_loop; }
  // The sample under x, and the x of a sample, in this widget's coordinates.
  std::uint32_t SampleAt(int x) const;
  int XOf(std::uint64_t sample) const;
  QSize sizeHint() const override { return {480, 120}; }

 signals:
  // The user dragged an edge of the loop (or clicked to move the nearer one).
  void loopDragged();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void MoveEdge(int x);
  std::vector<float> m_samples;
  std::optional<WaveLoop> m_loop;
  enum class Edge { None, Start, End } m_dragging = Edge::None;
};

// The waveform with the loop's controls: "Loop" on or off, its start and end in samples, Play
// Looping, and Save Loop (for a PCM wave whose archive may change). Built from the sound's bytes;
// a sound that cannot be decoded shows why instead.
class CLoopEditor : public QWidget {
  Q_OBJECT
 public:
  CLoopEditor(std::span<const std::uint8_t> sound, const QString& name, CSoundPlayer& player, TextSaver save,
              QWidget* parent);
  CWaveformView* Waveform() const { return m_wave; }
  QSpinBox* StartBox() const { return m_start; }
  QSpinBox* EndBox() const { return m_end; }
  QCheckBox* LoopBox() const { return m_enabled; }
  QPushButton* SaveButton() const { return m_save; }
  // The loop as it stands in the controls; none when Loop is off.
  std::optional<WaveLoop> Loop() const;
  // The sound's bytes, with the loop last saved.
  const std::vector<std::uint8_t>& Bytes() const { return m_bytes; }
  bool Changed() const;
  // Writes the loop into the wave and hands it to the saver; false, with why, when it cannot.
  bool SaveLoop(QString* why);

 signals:
  void saved();

 private:
  void FromControls();
  void FromWaveform();
  void Update();
  std::vector<std::uint8_t> m_bytes;
  QString m_name;
  CSoundPlayer& m_player;
  TextSaver m_saver;
  std::optional<WaveLoop> m_savedLoop;
  bool m_wave_ok = false;
  bool m_editable = false;  // a PCM wave: its loop can be written
  CWaveformView* m_wave = nullptr;
  QCheckBox* m_enabled = nullptr;
  QSpinBox* m_start = nullptr;
  QSpinBox* m_end = nullptr;
  QPushButton* m_playLoop = nullptr;
  QPushButton* m_save = nullptr;
  QLabel* m_problem = nullptr;
  bool m_updating = false;
};

// "Wave, PCM 16-bit, mono, 11025 Hz, 1.00 s, loop from 100 to 2000" for a window's or pane's heading.
QString DescribeSoundLine(const SoundInfo& info);

// The sound viewer: what the sound is, its waveform and loop, Play, Play Looping and Stop. It
// starts playing as it opens, as View always played a sound.
class CSoundViewerFrame : public CViewerFrame {
  Q_OBJECT
 public:
  CSoundViewerFrame(std::span<const std::uint8_t> sound, const QString& name, CSoundPlayer& player, TextSaver save,
                    dialogs::CPrompter* prompter, QWidget* mainWindow);
  CLoopEditor* Editor() const { return m_editor; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  CLoopEditor* m_editor;
  dialogs::CPrompter* m_prompter;
};

}  // namespace tarn::viewers
