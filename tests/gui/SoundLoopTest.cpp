// Loops seen and set in the window: the waveform with its loop, dragged or typed, played over and
// over, saved into the wave in the archive (as one change Undo takes back); sounds imported as
// the engines play them.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QSpinBox>
#include <algorithm>

#include "GuiSupport.h"
#include "SoundBuilders.h"
#include "dialogs/SoundImportDialog.h"
#include "sounds/SoundInfo.h"
#include "viewers/Sound.h"
#include "viewers/SoundWave.h"

namespace tarn::test {
namespace {

// A ramp of 8-bit samples, each value telling where it came from.
Bytes Ramp(std::size_t n) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i % 251);
  return b;
}

SoundInfo InfoOf(const Bytes& wave) {
  SoundInfo info;
  EXPECT_TRUE(ReadSoundInfo(wave, info, nullptr));
  return info;
}

TEST(SoundLoop, TheLoopIsTypedDraggedAndSaved) {
  viewers::CSoundPlayer player;
  Bytes saved;
  const Bytes wave = Wave(Ramp(1000), 11025, CueChunk(200));
  viewers::CLoopEditor editor(
      wave, "drip.wav", player,
      [&](const std::vector<std::uint8_t>& bytes, QString*) {
        saved = bytes;
        return true;
      },
      nullptr);
  editor.resize(500, 200);
  editor.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&editor));
  // The wave's own loop: from its cue point to the end.
  EXPECT_TRUE(editor.LoopBox()->isChecked());
  EXPECT_EQ(editor.StartBox()->value(), 200);
  EXPECT_EQ(editor.EndBox()->value(), 1000);
  EXPECT_FALSE(editor.SaveButton()->isEnabled());

  // Typed: the end, then saved; the wave in the archive loops there, its data as it was.
  editor.EndBox()->setValue(800);
  ASSERT_TRUE(editor.Loop());
  EXPECT_EQ(editor.Loop()->end, 800u);
  EXPECT_TRUE(editor.SaveButton()->isEnabled());
  QTest::mouseClick(editor.SaveButton(), Qt::LeftButton);
  ASSERT_FALSE(saved.empty());
  EXPECT_EQ(InfoOf(saved).loopStart, 200u);
  EXPECT_EQ(InfoOf(saved).loopEnd, 800u);
  EXPECT_FALSE(editor.SaveButton()->isEnabled());

  // Dragged: the start edge taken from where it is drawn to the waveform's first quarter.
  viewers::CWaveformView* view = editor.Waveform();
  const int y = view->height() / 2;
  QTest::mousePress(view, Qt::LeftButton, {}, QPoint(view->XOf(200), y));
  QTest::mouseMove(view, QPoint(view->width() / 10, y));
  QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(view->width() / 10, y));
  EXPECT_EQ(static_cast<std::uint32_t>(editor.StartBox()->value()), view->SampleAt(view->width() / 10));
  EXPECT_LT(editor.StartBox()->value(), 200);
  EXPECT_EQ(editor.EndBox()->value(), 800);
  // The start never passes the end.
  editor.StartBox()->setValue(900);
  EXPECT_GT(editor.EndBox()->value(), 900);

  // Off: the loop goes, and with it the cue point when saved.
  editor.LoopBox()->setChecked(false);
  EXPECT_FALSE(editor.Loop());
  QString why;
  ASSERT_TRUE(editor.SaveLoop(&why)) << why.toStdString();
  EXPECT_FALSE(InfoOf(saved).loopStart);
}

TEST(SoundLoop, PlayingLoopingRepeatsTheLoopUntilStopped) {
  TempDir dir;
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", (dir / "device.raw").c_str(), 1);
  const Bytes samples = Ramp(2000);
  viewers::CSoundPlayer player;
  std::string error;
  ASSERT_TRUE(player.PlayLooping(Wave(samples, 8000), "hum.wav", 1500, 1800, &error)) << error;
  EXPECT_TRUE(player.IsLooping());
  EXPECT_TRUE(player.StatusText().startsWith("Playing \"hum.wav\" in a loop"));
  // Longer than the sound: still playing, the loop gone round again and again.
  QTest::qWait(600);
  EXPECT_TRUE(player.IsPlaying());
  player.Stop();
  EXPECT_FALSE(player.IsPlaying());
  unsetenv("SDL_AUDIODRIVER");
  unsetenv("SDL_DISKAUDIOFILE");
  const Bytes written = ReadFile(dir / "device.raw");
  const Bytes intro(samples.begin(), samples.begin() + 1800), loop(samples.begin() + 1500, samples.begin() + 1800);
  Bytes twice = loop;
  twice.insert(twice.end(), loop.begin(), loop.end());
  auto at = std::search(written.begin(), written.end(), intro.begin(), intro.end());
  ASSERT_NE(at, written.end());
  EXPECT_TRUE(std::equal(twice.begin(), twice.end(), at + 1800)) << "the loop follows the loop's end, twice over";
  EXPECT_FALSE(player.PlayLooping(Wave(samples, 8000), "hum.wav", 1900, 1800, &error));
}

class SoundViewer : public GuiTest {};

TEST_F(SoundViewer, ViewOpensTheWaveformAndSaveLoopIsOneChangeUndoTakesBack) {
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  OpenPak(PakBuilder().File("sound/hum.wav", Wave(Ramp(3000), 11025)).Build());
  ShowDir("sound");
  FocusList();
  SelectRows({"hum.wav"});
  // The viewer this View opens (others' may still be open).
  QSet<QWidget*> before;
  for (QWidget* w : QApplication::topLevelWidgets()) before.insert(w);
  Action("actionView")->trigger();
  QApplication::processEvents();
  EXPECT_TRUE(frame->IsPlaying());  // View still plays the sound
  viewers::CSoundViewerFrame* viewer = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* v = qobject_cast<viewers::CSoundViewerFrame*>(w); v && !before.contains(w)) viewer = v;
  ASSERT_NE(viewer, nullptr);
  EXPECT_EQ(viewer->findChild<QLabel*>("soundHeading")->text(),
            "Wave, PCM 8-bit, mono, 11025 Hz, 0.27 s (3000 samples)");
  viewers::CLoopEditor* editor = viewer->Editor();
  EXPECT_FALSE(editor->LoopBox()->isChecked());
  editor->LoopBox()->setChecked(true);
  editor->StartBox()->setValue(1000);
  QTest::mouseClick(editor->SaveButton(), Qt::LeftButton);
  Bytes now = Load(doc.Root().FindByPath("sound/hum.wav"));
  EXPECT_EQ(InfoOf(now).loopStart, 1000u);
  EXPECT_TRUE(doc.IsModified());
  frame->findChild<QAction*>("actionUndo")->trigger();
  QApplication::processEvents();
  now = Load(doc.Root().FindByPath("sound/hum.wav"));
  EXPECT_FALSE(InfoOf(now).loopStart);
  // A loop changed and not saved is asked about on closing: Discard closes.
  editor->StartBox()->setValue(5);
  prompter->answers = {QMessageBox::Discard};
  viewer->close();
  QApplication::processEvents();
  ASSERT_FALSE(prompter->shown.empty());
  EXPECT_EQ(prompter->shown.back().caption, "Sound");
  Action("actionStopSound")->trigger();
  unsetenv("SDL_AUDIODRIVER");
}

TEST_F(SoundViewer, ImportedSoundsAreMadeAsTheEnginesPlayThem) {
  OpenPak(PakBuilder().File("readme.txt", "x").Build());
  const fs::path flac = dir / "rain.flac";
  // A second at 8000 Hz (the builder numbers its frames in one byte: fewer than 128 of them).
  WriteFile(flac, Flac(std::vector<std::int16_t>(8000, 3000), 8000));
  dialogs::SoundImportChoice choice;
  choice.convert = true;
  choice.options.rate = 11025;
  choice.options.loopChoice = LoopChoice::All;
  prompter->soundChoice = choice;
  frame->ImportPaths(&doc.Root(), {QString::fromStdString(flac.string())});
  QApplication::processEvents();
  EXPECT_EQ(prompter->soundsAsked.size(), 1);
  CPackObject* made = doc.Root().FindChild("rain.wav");
  ASSERT_NE(made, nullptr);
  const SoundInfo info = InfoOf(Load(made));
  EXPECT_EQ(info.rate, 11025);
  EXPECT_EQ(info.frames, 11025u);
  EXPECT_EQ(info.loopStart, 0u);

  // The dialog: its choice and what the first sound becomes.
  dialogs::CSoundImportDialog dialog({QString::fromStdString(flac.string())});
  dialog.findChild<QComboBox*>("soundRate")->setCurrentIndex(2);
  dialog.findChild<QComboBox*>("soundBits")->setCurrentIndex(1);
  dialog.findChild<QComboBox*>("soundLoop")->setCurrentIndex(2);
  const dialogs::SoundImportChoice c = dialog.Choice();
  EXPECT_TRUE(c.convert);
  EXPECT_EQ(c.options.rate, 22050);
  EXPECT_EQ(c.options.bits, 8);
  EXPECT_EQ(c.options.loopChoice, LoopChoice::All);
  EXPECT_EQ(dialog.Result(),
            "rain.flac becomes 22050 Hz, 8-bit, 22050 samples (1.00 s), looping from sample 0 to 22050.");
  dialog.findChild<QRadioButton*>("soundKeep")->setChecked(true);
  EXPECT_FALSE(dialog.Choice().convert);
  EXPECT_FALSE(dialog.findChild<QComboBox*>("soundRate")->isEnabled());
}

}  // namespace
}  // namespace tarn::test
