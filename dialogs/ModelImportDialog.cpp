#include "dialogs/ModelImportDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QThreadPool>
#include <QTimer>
#include <QVBoxLayout>
#include <atomic>

#include "archive/PackObject.h"
#include "dialogs/Text.h"

namespace tarn::dialogs {

namespace {

ModelPreviewHooks& Hooks() {
  static ModelPreviewHooks hooks;
  return hooks;
}

// Reads the converted model back as the games would: the skin of an MD2 is the PCX made with it.
class CMadeSkinHost : public CModelHost {
 public:
  explicit CMadeSkinHost(std::vector<std::uint8_t> pcx) {
    m_skin.SetSize(static_cast<std::int32_t>(pcx.size()));
    m_skin.SetData(std::move(pcx));
  }
  CPackObject* FindSkin(const std::string&) override { return &m_skin; }

 private:
  CPackObject m_skin;
};

}  // namespace

void SetModelPreviewHooks(ModelPreviewHooks hooks) { Hooks() = std::move(hooks); }

bool IsModelFileName(const QString& name) {
  static const QStringList kSuffixes = {"gltf", "glb", "obj", "iqm", "md3", "md5mesh"};
  return kSuffixes.contains(QFileInfo(name).suffix().toLower());
}

struct CModelImportDialog::Work {
  ModelData model;
  std::string error;
  bool ok = false;
  std::atomic<bool> done{false};
};

CModelImportDialog::CModelImportDialog(const QStringList& models, QWidget* parent, int preferredFormat)
    : QDialog(parent), m_models(models) {
  setObjectName("modelImportDialog");
  setWindowTitle("Import Models");
  auto* layout = new QHBoxLayout(this);
  auto* left = new QVBoxLayout;
  auto* how = new QGroupBox("Bring the models in", this);
  auto* form = new QFormLayout(how);
  const QString names =
      models.size() == 1 ? QFileInfo(models.front()).fileName() : QString("%1 models").arg(models.size());
  m_keep = new QRadioButton("&Keep " + names + " as " + (models.size() == 1 ? "it is" : "they are"), how);
  m_keep->setObjectName("modelKeep");
  m_convert = new QRadioButton("&Convert to", how);
  m_convert->setObjectName("modelConvert");
  m_convert->setChecked(true);
  m_format = new QComboBox(how);
  m_format->setObjectName("modelFormat");
  m_format->addItem("Quake model (.mdl)", ModelData::kMdl);
  m_format->insertItem(preferredFormat == ModelData::kMd2 ? 0 : 1, "Quake II model (.md2, with its PCX skin)",
                       ModelData::kMd2);
  m_format->setCurrentIndex(0);
  form->addRow(m_keep);
  form->addRow(m_convert, m_format);
  m_palette = new QComboBox(how);
  m_palette->setObjectName("modelPalette");
  m_palette->addItems({"The format's own", "Quake", "Quake II"});
  form->addRow("&Palette:", m_palette);
  m_dither = new QComboBox(how);
  m_dither->setObjectName("modelDither");
  m_dither->addItems({"None", "Floyd-Steinberg", "Ordered (Bayer 8 x 8)"});
  form->addRow("&Dithering:", m_dither);
  m_model = new QComboBox(how);
  m_model->setObjectName("modelShown");
  for (const QString& m : models) m_model->addItem(QFileInfo(m).fileName());
  m_model->setEnabled(models.size() > 1);
  form->addRow("&Shown:", m_model);
  left->addWidget(how);
  m_counts = new QLabel(this);
  m_counts->setObjectName("modelCounts");
  left->addWidget(m_counts);
  m_problem = new QLabel(this);
  m_problem->setObjectName("modelProblem");
  m_problem->setWordWrap(true);
  m_problem->setVisible(false);
  left->addWidget(m_problem);
  left->addStretch(1);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  m_ok = buttons->button(QDialogButtonBox::Ok);
  m_ok->setObjectName("modelOk");
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  left->addWidget(buttons);
  layout->addLayout(left);
  if (Hooks().make) {
    m_view = Hooks().make(this);
    m_view->setObjectName("modelPreview");
    m_view->setMinimumSize(320, 280);
    layout->addWidget(m_view, 1);
  }
  m_poll = new QTimer(this);
  m_poll->setInterval(20);
  connect(m_poll, &QTimer::timeout, this, &CModelImportDialog::Poll);
  for (QComboBox* c : {m_format, m_palette, m_dither, m_model})
    connect(c, &QComboBox::currentIndexChanged, this, &CModelImportDialog::Update);
  connect(m_convert, &QRadioButton::toggled, this, &CModelImportDialog::Update);
  Update();
}

CModelImportDialog::~CModelImportDialog() = default;

ModelImportChoice CModelImportDialog::Choice() const {
  ModelImportChoice c;
  c.convert = m_convert->isChecked();
  c.options.format = m_format->currentData().toInt() == ModelData::kMd2 ? ModelData::kMd2 : ModelData::kMdl;
  static const PaletteChoice palettes[] = {PaletteChoice::Default, PaletteChoice::Quake, PaletteChoice::Quake2};
  c.options.encode.paletteChoice = palettes[std::clamp(m_palette->currentIndex(), 0, 2)];
  c.options.encode.dither = m_dither->currentIndex() == 1   ? Dither::FloydSteinberg
                            : m_dither->currentIndex() == 2 ? Dither::Ordered
                                                            : Dither::None;
  return c;
}

bool CModelImportDialog::PreviewDone() const { return !m_work; }

QString CModelImportDialog::Problem() const { return m_problem->isVisible() ? m_problem->text() : QString(); }

void CModelImportDialog::Update() {
  const ModelImportChoice choice = Choice();
  for (QWidget* w :
       {static_cast<QWidget*>(m_format), static_cast<QWidget*>(m_palette), static_cast<QWidget*>(m_dither)})
    w->setEnabled(choice.convert);
  m_problem->setVisible(false);
  m_ok->setEnabled(true);
  if (!choice.convert) {
    m_work.reset();
    m_poll->stop();
    m_counts->setText("Each file comes in as it is.");
    return;
  }
  m_counts->setText("Converting\u2026");
  // A newer conversion replaces the one under way; that one finishes on its own and is dropped.
  auto work = std::make_shared<Work>();
  m_work = work;
  const std::string path = S(m_models.value(m_model->currentIndex()));
  ModelImportOptions options = choice.options;
  options.skinPath = "skin.pcx";  // an MD2 names its skin; the host below answers for any name
  QThreadPool::globalInstance()->start([work, path, options] {
    ImportedModel made;
    if (ImportModel(path, options, made, &work->error)) {
      if (options.format == ModelData::kMd2) {
        CMadeSkinHost host(made.skinBytes);
        work->ok = LoadMd2(made.bytes, work->model, host, &work->error);
      } else {
        work->ok = LoadMdl(made.bytes, work->model, &work->error);
      }
    }
    work->done = true;
  });
  m_poll->start();
}

void CModelImportDialog::Poll() {
  if (!m_work || !m_work->done) return;
  m_poll->stop();
  const auto work = std::move(m_work);
  if (!work->ok) {
    m_converted = ModelData{};
    m_counts->setText(QString());
    m_problem->setText("Cannot convert " + m_model->currentText() + ": " + Q(work->error));
    m_problem->setVisible(true);
    m_ok->setEnabled(false);
    return;
  }
  m_converted = std::move(work->model);
  m_counts->setText(QString("%1 vertices, %2 triangles, %3 frames, skin %4 \u00d7 %5")
                        .arg(m_converted.vertexCount)
                        .arg(m_converted.triangles.size())
                        .arg(m_converted.FrameCount())
                        .arg(m_converted.skins.empty() ? 0 : m_converted.skins.front().width)
                        .arg(m_converted.skins.empty() ? 0 : m_converted.skins.front().height));
  if (m_view && Hooks().show) Hooks().show(m_view, m_converted);
}

}  // namespace tarn::dialogs
