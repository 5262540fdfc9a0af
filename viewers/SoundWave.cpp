#include "viewers/SoundWave.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "dialogs/Prompter.h"
#include "dialogs/Text.h"
#include "sounds/SoundImport.h"
#include "viewers/Sound.h"

namespace tarn::viewers {

using dialogs::Q;

namespace {
// How near (in pixels) a press must be to an edge of the loop to take it.
constexpr int kGrab = 6;
}  // namespace

CWaveformView::CWaveformView(QWidget* parent) : QWidget(parent) {
  setObjectName("soundWaveform");
  setMinimumHeight(80);
  setMouseTracking(true);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void CWaveformView::SetSamples(std::vector<float> samples) {
  m_samples = std::move(samples);
  update();
}

void CWaveformView::SetLoop(std::optional<WaveLoop> loop) {
  m_loop = loop;
  update();
}

std::uint32_t CWaveformView::SampleAt(int x) const {
  if (m_samples.empty() || width() <= 1) return 0;
  const double f = std::clamp(static_cast<double>(x) / (width() - 1), 0.0, 1.0);
  return static_cast<std::uint32_t>(std::llround(f * static_cast<double>(m_samples.size())));
}

int CWaveformView::XOf(std::uint64_t sample) const {
  if (m_samples.empty()) return 0;
  return static_cast<int>(
      std::lround(static_cast<double>(sample) * (width() - 1) / static_cast<double>(m_samples.size())));
}

void CWaveformView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), QColor(24, 28, 32));
  const int w = width(), h = height(), mid = h / 2;
  if (m_loop) {
    const int x0 = XOf(m_loop->start), x1 = XOf(m_loop->end ? *m_loop->end : m_samples.size());
    p.fillRect(QRect(QPoint(x0, 0), QPoint(x1, h)), QColor(40, 70, 110));
  }
  p.setPen(QColor(60, 64, 70));
  p.drawLine(0, mid, w, mid);
  // Each column the loudest and softest sample under it.
  p.setPen(QColor(120, 210, 140));
  const std::size_t n = m_samples.size();
  for (int x = 0; x < w && n > 0; ++x) {
    const std::size_t from = static_cast<std::size_t>(static_cast<double>(x) * n / w);
    const std::size_t to = std::max(from + 1, static_cast<std::size_t>(static_cast<double>(x + 1) * n / w));
    float lo = 1, hi = -1;
    for (std::size_t i = from; i < std::min(to, n); ++i)
      lo = std::min(lo, m_samples[i]), hi = std::max(hi, m_samples[i]);
    if (lo > hi) continue;
    p.drawLine(x, mid - static_cast<int>(hi * (mid - 2)), x, mid - static_cast<int>(lo * (mid - 2)));
  }
  if (m_loop) {
    p.setPen(QPen(QColor(250, 200, 60), 2));
    const int x0 = XOf(m_loop->start), x1 = XOf(m_loop->end ? *m_loop->end : n);
    p.drawLine(x0, 0, x0, h);
    p.drawLine(x1, 0, x1, h);
  }
}

void CWaveformView::mousePressEvent(QMouseEvent* event) {
  if (!m_loop || event->button() != Qt::LeftButton || m_samples.empty()) return;
  const int x = event->position().toPoint().x();
  const int x0 = XOf(m_loop->start), x1 = XOf(m_loop->end ? *m_loop->end : m_samples.size());
  // The nearer edge: grabbed where it is, moved to the click elsewhere.
  m_dragging = std::abs(x - x0) <= std::abs(x - x1) ? Edge::Start : Edge::End;
  if (std::min(std::abs(x - x0), std::abs(x - x1)) > kGrab) MoveEdge(x);
}

void CWaveformView::mouseMoveEvent(QMouseEvent* event) {
  if (m_dragging != Edge::None) MoveEdge(event->position().toPoint().x());
  else if (m_loop) {
    const int x = event->position().toPoint().x();
    const bool near = std::abs(x - XOf(m_loop->start)) <= kGrab ||
                      std::abs(x - XOf(m_loop->end ? *m_loop->end : m_samples.size())) <= kGrab;
    setCursor(near ? Qt::SizeHorCursor : Qt::ArrowCursor);
  }
}

void CWaveformView::mouseReleaseEvent(QMouseEvent*) { m_dragging = Edge::None; }

void CWaveformView::MoveEdge(int x) {
  if (!m_loop) return;
  const std::uint32_t n = static_cast<std::uint32_t>(m_samples.size());
  const std::uint32_t at = std::min(SampleAt(x), n);
  // The loop keeps at least one sample, its start inside the sound.
  if (m_dragging == Edge::Start) {
    const std::uint32_t end = m_loop->end ? *m_loop->end : n;
    m_loop->start = std::min(at, end - 1);
  } else {
    const std::uint32_t end = std::max(at, m_loop->start + 1);
    m_loop->end = end >= n ? std::optional<std::uint32_t>() : end;
  }
  update();
  emit loopDragged();
}

CLoopEditor::CLoopEditor(std::span<const std::uint8_t> sound, const QString& name, CSoundPlayer& player, TextSaver save,
                         QWidget* parent)
    : QWidget(parent), m_bytes(sound.begin(), sound.end()), m_name(name), m_player(player), m_saver(std::move(save)) {
  setObjectName("soundLoopEditor");
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  DecodedSound decoded;
  std::string why;
  m_problem = new QLabel(this);
  m_problem->setObjectName("soundProblem");
  m_problem->setWordWrap(true);
  if (!DecodeSound(m_bytes, decoded, &why)) {
    m_problem->setText("The waveform cannot be drawn: " + Q(why) + ".");
    layout->addWidget(m_problem);
    return;
  }
  m_wave_ok = true;
  const SoundHeader header = ReadSoundHeader(m_bytes);
  m_editable = header.container == SoundContainer::Wave && header.fmtFound && header.format == 1;
  m_savedLoop = decoded.loop;
  m_wave = new CWaveformView(this);
  m_wave->SetSamples(std::move(decoded.samples));
  layout->addWidget(m_wave, 1);
  const int frames = static_cast<int>(std::min<std::size_t>(m_wave->SampleCount(), INT32_MAX));

  auto* row = new QHBoxLayout;
  m_enabled = new QCheckBox("&Loop", this);
  m_enabled->setObjectName("soundLoopOn");
  m_start = new QSpinBox(this);
  m_start->setObjectName("soundLoopStart");
  m_start->setRange(0, std::max(0, frames - 1));
  m_end = new QSpinBox(this);
  m_end->setObjectName("soundLoopEnd");
  m_end->setRange(1, std::max(1, frames));
  auto* startLabel = new QLabel("&From sample", this);
  startLabel->setBuddy(m_start);
  auto* endLabel = new QLabel("&to", this);
  endLabel->setBuddy(m_end);
  row->addWidget(m_enabled);
  row->addWidget(startLabel);
  row->addWidget(m_start);
  row->addWidget(endLabel);
  row->addWidget(m_end);
  row->addStretch(1);
  layout->addLayout(row);
  auto* buttons = new QHBoxLayout;
  m_playLoop = new QPushButton("Play Loo&ping", this);
  m_playLoop->setObjectName("soundPlayLoop");
  m_save = new QPushButton("&Save Loop", this);
  m_save->setObjectName("soundSaveLoop");
  m_save->setVisible(m_editable && m_saver);
  buttons->addWidget(m_playLoop);
  buttons->addWidget(m_save);
  buttons->addStretch(1);
  layout->addLayout(buttons);
  layout->addWidget(m_problem);
  m_problem->setVisible(false);
  // Only a PCM wave is played from its loop and keeps one.
  if (!m_editable) {
    for (QWidget* w : {static_cast<QWidget*>(m_enabled), static_cast<QWidget*>(m_start), static_cast<QWidget*>(m_end),
                       static_cast<QWidget*>(m_playLoop)})
      w->setEnabled(false);
    m_enabled->setToolTip("Only a PCM wave loops in the engines");
  }

  m_updating = true;
  m_enabled->setChecked(m_savedLoop.has_value());
  m_start->setValue(m_savedLoop ? static_cast<int>(m_savedLoop->start) : 0);
  m_end->setValue(m_savedLoop && m_savedLoop->end ? static_cast<int>(*m_savedLoop->end) : frames);
  m_updating = false;
  m_wave->SetLoop(m_savedLoop);

  connect(m_enabled, &QCheckBox::toggled, this, &CLoopEditor::FromControls);
  connect(m_start, &QSpinBox::valueChanged, this, &CLoopEditor::FromControls);
  connect(m_end, &QSpinBox::valueChanged, this, &CLoopEditor::FromControls);
  connect(m_wave, &CWaveformView::loopDragged, this, &CLoopEditor::FromWaveform);
  connect(m_playLoop, &QPushButton::clicked, this, [this] {
    const auto loop = Loop();
    std::string error;
    const bool ok = loop ? m_player.PlayLooping(m_bytes, m_name, loop->start, loop->end.value_or(0), &error)
                         : m_player.Play(m_bytes, m_name, &error);
    m_problem->setVisible(!ok);
    if (!ok) m_problem->setText(Q(error));
  });
  connect(m_save, &QPushButton::clicked, this, [this] {
    QString why;
    if (!SaveLoop(&why)) {
      m_problem->setText(why);
      m_problem->setVisible(true);
    }
  });
  Update();
}

std::optional<WaveLoop> CLoopEditor::Loop() const {
  if (!m_wave_ok || !m_enabled->isChecked()) return std::nullopt;
  WaveLoop loop{static_cast<std::uint32_t>(m_start->value()), static_cast<std::uint32_t>(m_end->value())};
  // A loop to the last sample is written as a cue point alone, as the engines read it.
  if (*loop.end >= m_wave->SampleCount()) loop.end.reset();
  return loop;
}

bool CLoopEditor::Changed() const { return m_wave_ok && Loop() != m_savedLoop; }

void CLoopEditor::FromControls() {
  if (m_updating) return;
  // The end follows the start past it, and the start the end.
  m_updating = true;
  if (m_end->value() <= m_start->value()) {
    if (sender() == m_end) m_start->setValue(m_end->value() - 1);
    else m_end->setValue(m_start->value() + 1);
  }
  m_updating = false;
  m_wave->SetLoop(Loop());
  Update();
}

void CLoopEditor::FromWaveform() {
  const auto loop = m_wave->Loop();
  if (!loop) return;
  m_updating = true;
  m_start->setValue(static_cast<int>(loop->start));
  m_end->setValue(static_cast<int>(loop->end.value_or(static_cast<std::uint32_t>(m_wave->SampleCount()))));
  m_updating = false;
  Update();
}

void CLoopEditor::Update() {
  m_start->setEnabled(m_editable && m_enabled->isChecked());
  m_end->setEnabled(m_editable && m_enabled->isChecked());
  m_save->setEnabled(Changed());
}

bool CLoopEditor::SaveLoop(QString* why) {
  if (!m_editable || !m_saver) {
    if (why) *why = "The loop of this sound cannot be saved here.";
    return false;
  }
  std::vector<std::uint8_t> out;
  std::string error;
  const auto loop = Loop();
  if (!SetWaveLoop(m_bytes, loop, out, &error)) {
    if (why) *why = "The loop cannot be saved: " + Q(error) + ".";
    return false;
  }
  if (!m_saver(out, why)) return false;
  m_bytes = std::move(out);
  m_savedLoop = loop;
  m_problem->setVisible(false);
  Update();
  emit saved();
  return true;
}

}  // namespace tarn::viewers

namespace tarn::viewers {

QString DescribeSoundLine(const SoundInfo& info) {
  QString text = Q(info.format) + ", " +
                 (info.channels == 1   ? QString("mono")
                  : info.channels == 2 ? QString("stereo")
                                       : QString("%1 channels").arg(info.channels)) +
                 QString(", %1 Hz").arg(info.rate);
  if (info.frames) text += QString(", %1 s (%2 samples)").arg(info.Seconds(), 0, 'f', 2).arg(info.frames);
  return text;
}

CSoundViewerFrame::CSoundViewerFrame(std::span<const std::uint8_t> sound, const QString& name, CSoundPlayer& player,
                                     TextSaver save, dialogs::CPrompter* prompter, QWidget* mainWindow)
    : CViewerFrame("Sound", mainWindow), m_prompter(prompter) {
  setObjectName("soundViewer");
  setWindowTitle(name);
  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  SoundInfo info;
  std::string why;
  auto* heading = new QLabel(ReadSoundInfo(sound, info, &why) ? DescribeSoundLine(info) : Q(why), central);
  heading->setObjectName("soundHeading");
  heading->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(heading);
  m_editor = new CLoopEditor(sound, name, player, std::move(save), central);
  layout->addWidget(m_editor, 1);
  auto* buttons = new QHBoxLayout;
  auto* play = new QPushButton("P&lay", central);
  play->setObjectName("soundPlay");
  auto* stop = new QPushButton("S&top", central);
  stop->setObjectName("soundStop");
  buttons->addWidget(play);
  buttons->addWidget(stop);
  buttons->addStretch(1);
  layout->addLayout(buttons);
  connect(play, &QPushButton::clicked, this, [this, &player, name] {
    std::string error;
    player.Play(m_editor->Bytes(), name, &error);
  });
  connect(stop, &QPushButton::clicked, &player, &CSoundPlayer::Stop);
  setCentralWidget(central);
  PlaceBesideMainWindow(QSize(560, 240));
  // The player and the prompter are the main window's: without them the viewer has nothing to
  // play through nor to ask with, and goes.
  connect(&player, &QObject::destroyed, this, [this] {
    m_prompter = nullptr;
    close();
  });
}

void CSoundViewerFrame::closeEvent(QCloseEvent* event) {
  if (m_prompter && m_editor->Changed() &&
      !MayCloseWithChanges(*m_prompter, "Save the changed loop of " + windowTitle() + "?", "Sound", [this] {
        QString why;
        if (m_editor->SaveLoop(&why)) return true;
        m_prompter->Message(this, why, "Sound", QMessageBox::Warning);
        return false;
      })) {
    event->ignore();
    return;
  }
  CViewerFrame::closeEvent(event);
}

}  // namespace tarn::viewers
