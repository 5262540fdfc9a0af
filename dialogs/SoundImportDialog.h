// How sound files (waves of any kind, FLAC, Ogg Vorbis, Opus, MP3, AIFF) come into an archive:
// as they are, or made into what the engines play (a mono PCM wave at a rate they mix at, or Ogg
// Vorbis), with the rate, width, loop and loudness asked, the first sound's result told.
#pragma once

#include <QDialog>
#include <optional>

#include "sounds/SoundImport.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;

namespace tarn::dialogs {

struct SoundImportChoice {
  bool convert = false;
  SoundImportOptions options;
};

// Whether a file's name is a sound's the import reads: .wav, .flac, .ogg, .oga, .opus, .mp3,
// .aif, .aiff.
bool IsSoundFileName(const QString& name);

class CSoundImportDialog : public QDialog {
  Q_OBJECT
 public:
  explicit CSoundImportDialog(const QStringList& sounds, QWidget* parent = nullptr);
  SoundImportChoice Choice() const;
  // What the first sound becomes with the options now, or why it cannot.
  QString Result() const;

 private:
  void Update();
  QStringList m_sounds;
  QRadioButton* m_keep;
  QRadioButton* m_convert;
  QComboBox* m_format;
  QComboBox* m_rate;
  QComboBox* m_bits;
  QComboBox* m_loop;
  QCheckBox* m_normalize;
  QLabel* m_result;
  QPushButton* m_ok;
};

}  // namespace tarn::dialogs
