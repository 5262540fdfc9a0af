// A window that shows a sequence of palette-indexed pictures, one after another every 300 ms,
// each scaled to the window keeping its proportions, at the top left, with black around.
#pragma once

#include <QImage>
#include <QMainWindow>
#include <QPointer>
#include <vector>

#include "formats/Pictures.h"

class QTimer;

namespace tarn::viewers {

// One picture with its palette as a displayable image: 8-bit indexed, or RGBA for true colour.
QImage ToImage(const Picture& picture, const Palette& palette);

// The rectangle, anchored at the top left, that a picture of the given size fills in a client
// area while keeping its proportions (fractions cut off).
QSize ScaledSize(QSize picture, QSize client);

class CBitmapViewerView : public QWidget {
  Q_OBJECT
 public:
  CBitmapViewerView(const std::vector<QImage>& pictures, QWidget* parent = nullptr);
  ~CBitmapViewerView() override;
  int CurrentIndex() const { return m_current; }
  QRect DrawnRect() const;
  static constexpr int kIntervalMs = 300;

 protected:
  void paintEvent(QPaintEvent* e) override;

 private:
  void Advance();
  const std::vector<QImage>& m_pictures;
  int m_current = 0;
  QTimer* m_timer = nullptr;
};

class CBitmapViewerFrame : public QMainWindow {
  Q_OBJECT
 public:
  // Takes the pictures and palettes; shown over `placeOver`'s rectangle when given.
  CBitmapViewerFrame(PictureSet set, const QString& title, QWidget* placeOver = nullptr);
  ~CBitmapViewerFrame() override;

  CBitmapViewerView* View() const { return m_view; }
  const std::vector<QImage>& Images() const { return m_images; }
  const PictureSet& Pictures() const { return m_set; }
  // Writes every picture as PNG: path itself for one, path-0.png, path-1.png, ... for several.
  bool SaveAsPng(const QString& path, QString* error = nullptr) const;
  // How many viewer frames exist now (for tests of their release).
  static int LiveCount();

 private:
  void OnSave();
  PictureSet m_set;
  std::vector<QImage> m_images;
  CBitmapViewerView* m_view;
  QPointer<QWidget> m_returnTo;
};

// The file names SaveAsPng writes for n pictures.
QStringList NumberedPaths(const QString& path, std::size_t n);

}  // namespace tarn::viewers
