// How image files come into an archive: as they are, or encoded into one of the games' formats
// (format, palette, dithering, fullbright), with the result beside the original as the
// options change. The same dialog makes a sprite of a list of pictures.
#pragma once

#include <QDialog>
#include <memory>
#include <optional>

#include "pictures/ImageEncode.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTimer;

namespace tarn::dialogs {

// Images imported: kept as they are, or encoded as kind.
struct EncodeChoice {
  bool encode = false;
  OutputKind kind = OutputKind::Lmp;
  EncodeOptions options;
};

// A sprite made of pictures: Quake's (.spr) or Quake II's (.sp2 with PCX frames), named stem.
struct SpriteChoice {
  bool quake2 = false;
  std::string stem;
  EncodeOptions options;
};

class CEncodeDialog : public QDialog {
  Q_OBJECT
 public:
  enum class Mode { Import, Sprite };
  // images: the files on disk; the first is previewed, others can be chosen. preferred: the
  // format offered first (a WAD's own texture type, say).
  CEncodeDialog(const QStringList& images, Mode mode, QWidget* parent = nullptr,
                std::optional<OutputKind> preferred = std::nullopt);
  ~CEncodeDialog() override;

  EncodeChoice Choice() const;
  SpriteChoice Sprite() const;
  // The result shown matches the options now (or says why they cannot be met).
  bool PreviewDone() const;
  // The pictures shown: the original and the encoded result (empty while none).
  QImage OriginalShown() const;
  QImage ResultShown() const;
  QString ResultProblem() const;
  // Why OK is disabled: the options cannot encode the picture shown. Empty while they can.
  QString Refusal() const;
  // The picture whose pixels that are not black glow (what Choose... picks). False when it
  // cannot be read, which OK's refusal then says.
  bool SetGlowMask(const QString& path);

 private:
  struct Work;
  void LoadImage(int index);
  void Update();
  void Poll();
  void ChooseGlowMask();
  void Refuse(const QString& why);
  std::optional<OutputKind> Kind() const;
  EncodeOptions Options() const;

  Mode m_mode;
  QStringList m_images;
  RgbaImage m_image;
  QString m_loadProblem;
  QRadioButton* m_keep = nullptr;
  QRadioButton* m_convert = nullptr;
  QComboBox* m_picture;
  QComboBox* m_format;
  QComboBox* m_palette;
  QComboBox* m_dither;
  QComboBox* m_fullbright;
  QCheckBox* m_resize;
  QLineEdit* m_name = nullptr;
  QLabel* m_original;
  QLabel* m_result;
  QLabel* m_refusal;
  QPushButton* m_ok;
  QLineEdit* m_glowPath;
  RgbaImage m_glow;
  Palette m_givenPalette;
  std::shared_ptr<Work> m_work;  // the preview being made
  QTimer* m_poll;
  QImage m_resultImage, m_originalImage;
};

}  // namespace tarn::dialogs
