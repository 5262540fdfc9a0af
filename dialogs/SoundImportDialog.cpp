#include "dialogs/SoundImportDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "dialogs/Text.h"

namespace tarn::dialogs {

namespace {
// The first sound is made again at each change of the options; past this it is not.
constexpr qint64 kMostTried = 16 << 20;
}  // namespace

bool IsSoundFileName(const QString& name) {
  static const QStringList kSuffixes = {"wav", "flac", "ogg", "oga", "opus", "mp3", "aif", "aiff"};
  return kSuffixes.contains(QFileInfo(name).suffix().toLower());
}

CSoundImportDialog::CSoundImportDialog(const QStringList& sounds, QWidget* parent) : QDialog(parent), m_sounds(sounds) {
  setObjectName("soundImportDialog");
  setWindowTitle("Import Sounds");
  auto* layout = new QVBoxLayout(this);
  auto* how = new QGroupBox("Bring the sounds in", this);
  auto* form = new QFormLayout(how);
  const QString names =
      sounds.size() == 1 ? QFileInfo(sounds.front()).fileName() : QString("%1 sounds").arg(sounds.size());
  m_keep = new QRadioButton("&Keep " + names + " as " + (sounds.size() == 1 ? "it is" : "they are"), how);
  m_keep->setObjectName("soundKeep");
  m_convert = new QRadioButton("&Convert to", how);
  m_convert->setObjectName("soundConvert");
  m_convert->setChecked(true);
  m_format = new QComboBox(how);
  m_format->setObjectName("soundFormat");
  m_format->addItems({"A wave the engines play (.wav, mono PCM)", "Ogg Vorbis (.ogg: Quake II ports, DarkPlaces)"});
  form->addRow(m_keep);
  form->addRow(m_convert, m_format);
  m_rate = new QComboBox(how);
  m_rate->setObjectName("soundRate");
  m_rate->addItems({"The sound's own where the engines mix at it, else 11025 Hz", "11025 Hz", "22050 Hz", "44100 Hz"});
  form->addRow("&Rate:", m_rate);
  m_bits = new QComboBox(how);
  m_bits->setObjectName("soundBits");
  m_bits->addItems({"The sound's own (8 or 16), else 16", "8 bits", "16 bits"});
  form->addRow("&Width:", m_bits);
  m_loop = new QComboBox(how);
  m_loop->setObjectName("soundLoop");
  m_loop->addItems({"The sound's own", "None", "The whole sound"});
  form->addRow("&Loop:", m_loop);
  m_normalize = new QCheckBox("&Normalize (the loudest sample made full scale)", how);
  m_normalize->setObjectName("soundNormalize");
  form->addRow(m_normalize);
  layout->addWidget(how);
  m_result = new QLabel(this);
  m_result->setObjectName("soundResult");
  m_result->setWordWrap(true);
  layout->addWidget(m_result);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  m_ok = buttons->button(QDialogButtonBox::Ok);
  m_ok->setObjectName("soundOk");
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  for (QComboBox* c : {m_format, m_rate, m_bits, m_loop})
    connect(c, &QComboBox::currentIndexChanged, this, &CSoundImportDialog::Update);
  connect(m_convert, &QRadioButton::toggled, this, &CSoundImportDialog::Update);
  connect(m_normalize, &QCheckBox::toggled, this, &CSoundImportDialog::Update);
  Update();
}

SoundImportChoice CSoundImportDialog::Choice() const {
  SoundImportChoice c;
  c.convert = m_convert->isChecked();
  SoundImportOptions& o = c.options;
  o.output = m_format->currentIndex() == 1 ? SoundOutput::OggVorbis : SoundOutput::Wave;
  o.rate = m_rate->currentIndex() == 0 ? 0 : kSoundRates[m_rate->currentIndex() - 1];
  o.bits = m_bits->currentIndex() == 1 ? 8 : m_bits->currentIndex() == 2 ? 16 : 0;
  o.loopChoice = m_loop->currentIndex() == 1   ? LoopChoice::None
                 : m_loop->currentIndex() == 2 ? LoopChoice::All
                                               : LoopChoice::Keep;
  o.normalize = m_normalize->isChecked();
  return c;
}

QString CSoundImportDialog::Result() const { return m_result->text(); }

void CSoundImportDialog::Update() {
  const SoundImportChoice choice = Choice();
  const bool wave = choice.options.output == SoundOutput::Wave;
  m_format->setEnabled(choice.convert);
  m_rate->setEnabled(choice.convert);
  m_bits->setEnabled(choice.convert && wave);
  m_loop->setEnabled(choice.convert && wave);
  m_normalize->setEnabled(choice.convert);
  m_ok->setEnabled(true);
  if (!choice.convert) {
    m_result->setText("Each file comes in as it is.");
    return;
  }
  SoundImportOptions options = choice.options;
  if (!wave) options.loopChoice = LoopChoice::Keep;
  const QString first = m_sounds.value(0);
  QFile file(first);
  if (file.size() > kMostTried || !file.open(QIODevice::ReadOnly)) {
    m_result->setText(QString());
    return;
  }
  const QByteArray all = file.readAll();
  ImportedSound made;
  std::string why;
  if (!ImportSound(std::span(reinterpret_cast<const std::uint8_t*>(all.data()), static_cast<std::size_t>(all.size())),
                   options, made, &why)) {
    m_result->setText("Cannot convert " + QFileInfo(first).fileName() + ": " + Q(why));
    m_ok->setEnabled(m_sounds.size() > 1);
    return;
  }
  QString text = QFileInfo(first).fileName() + " becomes " + QString("%1 Hz").arg(made.rate);
  if (made.bits) text += QString(", %1-bit").arg(made.bits);
  text += QString(", %1 samples (%2 s)").arg(made.frames).arg(static_cast<double>(made.frames) / made.rate, 0, 'f', 2);
  if (made.loop)
    text += QString(", looping from sample %1 to %2")
                .arg(made.loop->start)
                .arg(made.loop->end.value_or(static_cast<std::uint32_t>(made.frames)));
  if (made.keptAsItWas) text += " (as it was)";
  m_result->setText(text + ".");
}

}  // namespace tarn::dialogs
