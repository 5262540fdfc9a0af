#include "dialogs/EncodeDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QThreadPool>
#include <QTimer>
#include <QVBoxLayout>
#include <atomic>

#include "dialogs/Text.h"

namespace tarn::dialogs {

namespace {

constexpr int kShownSide = 256;

QImage ToQImage(const RgbaImage& image) {
  if (image.width <= 0 || image.height <= 0) return {};
  return QImage(image.rgba.data(), image.width, image.height, image.width * 4, QImage::Format_RGBA8888).copy();
}

// Small pictures grown by whole steps (each pixel a square), large ones shrunk, to fit the box.
QPixmap Shown(const QImage& image) {
  if (image.isNull()) return {};
  const int side = std::max(image.width(), image.height());
  if (side <= kShownSide) {
    const int zoom = kShownSide / side;
    return QPixmap::fromImage(image.scaled(image.size() * zoom));
  }
  return QPixmap::fromImage(image.scaled(kShownSide, kShownSide, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

struct Format {
  const char* text;
  OutputKind kind;
};
const Format kImportFormats[] = {{"Quake picture (.lmp)", OutputKind::Lmp},
                                 {"Quake texture (.mip)", OutputKind::Mip},
                                 {"Quake II texture (.wal)", OutputKind::Wal},
                                 {"PCX picture (.pcx)", OutputKind::Pcx}};

}  // namespace

struct CEncodeDialog::Work {
  RgbaImage result;
  std::string error;
  bool ok = false;
  std::atomic<bool> done{false};
};

CEncodeDialog::CEncodeDialog(const QStringList& images, Mode mode, QWidget* parent, std::optional<OutputKind> preferred)
    : QDialog(parent), m_mode(mode), m_images(images) {
  setObjectName("encodeDialog");
  setWindowTitle(mode == Mode::Import ? "Import Pictures" : "New Sprite");
  auto* layout = new QVBoxLayout(this);

  auto* how = new QGroupBox(mode == Mode::Import ? "Bring the pictures in" : "The sprite", this);
  auto* form = new QFormLayout(how);
  m_format = new QComboBox(how);
  m_format->setObjectName("encodeFormat");
  if (mode == Mode::Import) {
    const QString names =
        images.size() == 1 ? QFileInfo(images.front()).fileName() : QString("%1 pictures").arg(images.size());
    m_keep = new QRadioButton("&Keep " + names + " as " + (images.size() == 1 ? "it is" : "they are"), how);
    m_keep->setObjectName("encodeKeep");
    m_convert = new QRadioButton("&Encode as", how);
    m_convert->setObjectName("encodeConvert");
    m_convert->setChecked(true);
    for (const Format& f : kImportFormats) {
      m_format->addItem(f.text);
      if (preferred == f.kind) m_format->setCurrentIndex(m_format->count() - 1);
    }
    form->addRow(m_keep);
    form->addRow(m_convert, m_format);
    connect(m_keep, &QRadioButton::toggled, this, &CEncodeDialog::Update);
  } else {
    m_format->addItems({"Quake sprite (.spr)", "Quake II sprite (.sp2, with its PCX frames)"});
    m_name = new QLineEdit(QFileInfo(images.value(0)).completeBaseName().toLower(), how);
    m_name->setObjectName("encodeName");
    form->addRow("&Format:", m_format);
    form->addRow("&Name:", m_name);
  }
  m_palette = new QComboBox(how);
  m_palette->setObjectName("encodePalette");
  m_palette->addItems({"The format's own", "Quake", "Quake II", "Made for the picture (PCX only)", "From a file..."});
  m_dither = new QComboBox(how);
  m_dither->setObjectName("encodeDither");
  m_dither->addItems({"None", "Floyd-Steinberg", "Ordered (Bayer 8 x 8)"});
  m_fullbright = new QComboBox(how);
  m_fullbright->setObjectName("encodeFullbright");
  m_fullbright->addItems({"Only in palette art, for their exact colours", "Like any other colour", "Never"});
  m_fullbright->setToolTip("Quake's colours 224 to 254 glow in the dark");
  m_resize = new QCheckBox("Scale textures up to multiples of &16", how);
  m_resize->setObjectName("encodeResize");
  form->addRow("&Palette:", m_palette);
  form->addRow("&Dithering:", m_dither);
  form->addRow("&Glowing colours:", m_fullbright);
  // A mask drawn over the picture: where it is not black, the texture glows on purpose.
  auto* glow = new QHBoxLayout;
  m_glowPath = new QLineEdit(how);
  m_glowPath->setObjectName("encodeGlowMask");
  m_glowPath->setReadOnly(true);
  m_glowPath->setPlaceholderText("None");
  auto* chooseGlow = new QPushButton("C&hoose...", how);
  chooseGlow->setObjectName("encodeGlowChoose");
  auto* clearGlow = new QPushButton("&No Mask", how);
  clearGlow->setObjectName("encodeGlowClear");
  glow->addWidget(m_glowPath, 1);
  glow->addWidget(chooseGlow);
  glow->addWidget(clearGlow);
  auto* glowLabel = new QLabel("Glow &mask:", how);
  glowLabel->setBuddy(chooseGlow);
  glowLabel->setToolTip("A picture of the same size: where it is not black, the nearest glowing colour is used");
  form->addRow(glowLabel, glow);
  connect(chooseGlow, &QPushButton::clicked, this, &CEncodeDialog::ChooseGlowMask);
  connect(clearGlow, &QPushButton::clicked, this, [this] {
    m_glow = RgbaImage{};
    m_glowPath->clear();
    Update();
  });
  form->addRow(m_resize);
  layout->addWidget(how);

  m_picture = new QComboBox(this);
  m_picture->setObjectName("encodePicture");
  for (const QString& i : images) m_picture->addItem(QFileInfo(i).fileName());
  m_picture->setVisible(images.size() > 1);
  layout->addWidget(m_picture);
  auto* pictures = new QHBoxLayout;
  m_original = new QLabel(this);
  m_original->setObjectName("encodeOriginal");
  m_result = new QLabel(this);
  m_result->setObjectName("encodeResult");
  for (QLabel* l : {m_original, m_result}) {
    l->setMinimumSize(kShownSide, kShownSide);
    l->setAlignment(Qt::AlignCenter);
    l->setWordWrap(true);
    l->setFrameShape(QFrame::StyledPanel);
  }
  auto column = [&](const QString& title, QLabel* picture) {
    auto* c = new QVBoxLayout;
    c->addWidget(new QLabel(title, this));
    c->addWidget(picture, 1);
    pictures->addLayout(c);
  };
  column("Original", m_original);
  column("Encoded", m_result);
  layout->addLayout(pictures);

  m_refusal = new QLabel(this);
  m_refusal->setObjectName("encodeRefusal");
  m_refusal->setWordWrap(true);
  m_refusal->hide();
  layout->addWidget(m_refusal);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->setObjectName("encodeButtons");
  m_ok = buttons->button(QDialogButtonBox::Ok);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);

  m_poll = new QTimer(this);
  m_poll->setInterval(20);
  connect(m_poll, &QTimer::timeout, this, &CEncodeDialog::Poll);
  for (QComboBox* c : {m_format, m_dither, m_fullbright})
    connect(c, &QComboBox::currentIndexChanged, this, &CEncodeDialog::Update);
  connect(m_resize, &QCheckBox::toggled, this, &CEncodeDialog::Update);
  connect(m_picture, &QComboBox::currentIndexChanged, this, &CEncodeDialog::LoadImage);
  connect(m_palette, &QComboBox::currentIndexChanged, this, [this](int i) {
    if (i == 4) {
      // A palette file: 768 bytes of colours, a RIFF palette, or a PCX file's.
      const QString path =
          QFileDialog::getOpenFileName(this, "Palette", QString(), "Palettes (*.lmp *.pal *.pcx);;All Files (*)");
      QFile f(path);
      const QByteArray bytes = !path.isEmpty() && f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
      std::string why;
      if (bytes.isEmpty() || !LoadPaletteFile({reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                               static_cast<std::size_t>(bytes.size())},
                                              m_givenPalette, &why)) {
        const QSignalBlocker block(m_palette);
        m_palette->setCurrentIndex(0);
      }
    }
    Update();
  });
  LoadImage(0);
}

CEncodeDialog::~CEncodeDialog() = default;

void CEncodeDialog::LoadImage(int index) {
  m_image = RgbaImage{};
  m_loadProblem.clear();
  QFile f(m_images.value(index));
  if (!f.open(QIODevice::ReadOnly)) {
    m_loadProblem = "Cannot read " + m_images.value(index);
  } else {
    const QByteArray bytes = f.readAll();
    std::string why;
    if (!DecodeImage({reinterpret_cast<const std::uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size())},
                     S(QFileInfo(f.fileName()).fileName()), m_image, &why))
      m_loadProblem = Q(why);
  }
  m_originalImage = ToQImage(m_image);
  m_original->setPixmap(Shown(m_originalImage));
  if (!m_loadProblem.isEmpty()) m_original->setText(m_loadProblem);
  Update();
}

std::optional<OutputKind> CEncodeDialog::Kind() const {
  if (m_mode == Mode::Sprite) return m_format->currentIndex() == 1 ? OutputKind::Pcx : OutputKind::Lmp;
  if (m_keep && m_keep->isChecked()) return std::nullopt;
  return kImportFormats[std::clamp(m_format->currentIndex(), 0, 3)].kind;
}

EncodeOptions CEncodeDialog::Options() const {
  EncodeOptions o;
  static const PaletteChoice palettes[] = {PaletteChoice::Default, PaletteChoice::Quake, PaletteChoice::Quake2,
                                           PaletteChoice::Optimal, PaletteChoice::Given};
  o.paletteChoice = palettes[std::clamp(m_palette->currentIndex(), 0, 4)];
  o.palette = m_givenPalette;
  o.dither = m_dither->currentIndex() == 1   ? Dither::FloydSteinberg
             : m_dither->currentIndex() == 2 ? Dither::Ordered
                                             : Dither::None;
  o.fullbright = m_fullbright->currentIndex() == 1   ? Fullbright::Allow
                 : m_fullbright->currentIndex() == 2 ? Fullbright::Never
                                                     : Fullbright::Auto;
  o.resize = m_resize->isChecked();
  o.glow = m_glow;
  return o;
}

EncodeChoice CEncodeDialog::Choice() const {
  EncodeChoice c;
  const auto kind = Kind();
  c.encode = kind.has_value();
  c.kind = kind.value_or(OutputKind::Lmp);
  c.options = Options();
  return c;
}

SpriteChoice CEncodeDialog::Sprite() const {
  SpriteChoice c;
  c.quake2 = m_format->currentIndex() == 1;
  c.stem = m_name ? S(m_name->text().trimmed()) : std::string();
  c.options = Options();
  return c;
}

void CEncodeDialog::Update() {
  const auto kind = Kind();
  for (QWidget* w : {static_cast<QWidget*>(m_format), static_cast<QWidget*>(m_palette), static_cast<QWidget*>(m_dither),
                     static_cast<QWidget*>(m_fullbright), static_cast<QWidget*>(m_resize)})
    w->setEnabled(kind.has_value());
  m_resultImage = QImage();
  Refuse(QString());
  if (!kind || !m_loadProblem.isEmpty()) {
    m_work.reset();
    m_poll->stop();
    m_result->setPixmap(QPixmap());
    m_result->setText(kind ? m_loadProblem : "Kept as it is");
    if (kind) Refuse(m_loadProblem);
    return;
  }
  // Made on a worker, so that a large picture keeps the dialog live; only the newest counts.
  m_result->setText("Encoding\u2026");
  auto work = std::make_shared<Work>();
  m_work = work;
  EncodeOptions options = Options();
  options.name = m_mode == Mode::Import
                     ? TextureNameFor(S(QFileInfo(m_images.value(m_picture->currentIndex())).completeBaseName()), *kind)
                     : "";
  QThreadPool::globalInstance()->start([work, image = m_image, kind = *kind, options] {
    work->ok = PreviewEncoded(image, kind, options, work->result, &work->error);
    work->done = true;
  });
  m_poll->start();
}

void CEncodeDialog::Poll() {
  if (!m_work || !m_work->done) return;
  m_poll->stop();
  const auto work = std::move(m_work);
  if (work->ok) {
    m_resultImage = ToQImage(work->result);
    m_result->setPixmap(Shown(m_resultImage));
  } else {
    m_result->setPixmap(QPixmap());
    m_result->setText(Q(work->error));
    Refuse(Q(work->error));
  }
}

// Settings that cannot encode the picture are said before OK, not after it.
void CEncodeDialog::Refuse(const QString& why) {
  m_ok->setEnabled(why.isEmpty());
  m_refusal->setText(why.isEmpty() ? QString() : "Cannot encode with these settings: " + why);
  m_refusal->setVisible(!why.isEmpty());
}

QString CEncodeDialog::Refusal() const { return m_ok->isEnabled() ? QString() : m_refusal->text(); }

void CEncodeDialog::ChooseGlowMask() {
  const QString path = QFileDialog::getOpenFileName(this, "Glow Mask", QFileInfo(m_images.value(0)).path(),
                                                    "Pictures (*.png *.tga *.bmp *.jpg *.jpeg *.pcx);;All Files (*)");
  if (!path.isEmpty()) SetGlowMask(path);
}

bool CEncodeDialog::SetGlowMask(const QString& path) {
  QFile f(path);
  RgbaImage mask;
  std::string why = "cannot read it";
  const QByteArray bytes = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  if (bytes.isEmpty() ||
      !DecodeImage({reinterpret_cast<const std::uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size())},
                   S(QFileInfo(path).fileName()), mask, &why)) {
    m_glowPath->setText(QFileInfo(path).fileName() + ": " + Q(why));
    m_glow = RgbaImage{};
    Refuse("the glow mask " + QFileInfo(path).fileName() + " cannot be read: " + Q(why));
    return false;
  }
  m_glow = std::move(mask);
  m_glowPath->setText(path);
  Update();
  return true;
}

bool CEncodeDialog::PreviewDone() const { return !m_work; }
QImage CEncodeDialog::OriginalShown() const { return m_originalImage; }
QImage CEncodeDialog::ResultShown() const { return m_resultImage; }
QString CEncodeDialog::ResultProblem() const { return m_resultImage.isNull() ? m_result->text() : QString(); }

}  // namespace tarn::dialogs
