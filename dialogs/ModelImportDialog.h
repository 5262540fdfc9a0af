// How model files of modelling programs (glTF, OBJ, IQM, MD3, FBX, ...) come into an archive:
// as they are, or converted to a Quake (".mdl") or Quake II (".md2") model with their skin in the
// game's palette, the converted model turning beside the options as they change.
#pragma once

#include <QDialog>
#include <functional>
#include <memory>
#include <optional>

#include "models/Model.h"
#include "models/ModelImport.h"

class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QTimer;

namespace tarn::dialogs {

// Models imported: kept as they are, or converted (options.format says to which).
struct ModelImportChoice {
  bool convert = false;
  ModelImportOptions options;
};

// The turning model the dialog shows, made by the model viewer's layer above this one, so that
// the dialog needs no OpenGL of its own. Unset: the dialog tells the converted model's counts.
struct ModelPreviewHooks {
  std::function<QWidget*(QWidget* parent)> make;
  std::function<void(QWidget* view, ModelData model)> show;
};
void SetModelPreviewHooks(ModelPreviewHooks hooks);

// Whether a file's name is one of a model the import reads (models/ModelFiles.h): .gltf, .glb,
// .obj, .iqm, .md3, .md5mesh. The bytes decide the format when it is read.
bool IsModelFileName(const QString& name);

class CModelImportDialog : public QDialog {
  Q_OBJECT
 public:
  // The format the archive's game plays (a ModelData::Format) is offered first.
  explicit CModelImportDialog(const QStringList& models, QWidget* parent = nullptr,
                              int preferredFormat = ModelData::kMdl);
  ~CModelImportDialog() override;

  ModelImportChoice Choice() const;
  // The conversion shown matches the options now (or says why it cannot be made).
  bool PreviewDone() const;
  // The converted model shown (empty while none), and why none could be made.
  const ModelData& Converted() const { return m_converted; }
  QString Problem() const;

 private:
  struct Work;
  void Update();
  void Poll();

  QStringList m_models;
  QRadioButton* m_keep;
  QRadioButton* m_convert;
  QComboBox* m_model;
  QComboBox* m_format;
  QComboBox* m_palette;
  QComboBox* m_dither;
  QLabel* m_counts;
  QLabel* m_problem;
  QWidget* m_view = nullptr;
  QPushButton* m_ok;
  ModelData m_converted;
  std::shared_ptr<Work> m_work;
  QTimer* m_poll;
};

}  // namespace tarn::dialogs
