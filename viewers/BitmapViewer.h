// A window that shows a sequence of pictures, one after another every 300 ms: fitted to the
// window keeping their proportions, at the top left with black around, or at their own size.
#pragma once

#include <QImage>
#include <QPointer>
#include <utility>
#include <vector>

#include "pictures/Pictures.h"
#include "viewers/ViewerFrame.h"

class QAction;
class QScrollArea;
class QTimer;

namespace tarn::viewers {

// One picture with its palette as a displayable image: 8-bit indexed, or RGBA for true colour;
// with transparent255, index 255 is see-through.
QImage ToImage(const Picture& picture, const Palette& palette, bool transparent255 = false);
// The set's pictures as images, each with its palette.
std::vector<QImage> ToImages(const PictureSet& set);

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
  // Fitted to the view, or at the pictures' own size times the zoom (the view then asks for
  // room for the largest of them, so that a scroll area around it scrolls). See-through pixels
  // show a checkerboard.
  void SetFit(bool fit);
  bool IsFit() const { return m_fit; }
  void SetZoom(double zoom);
  double Zoom() const { return m_zoom; }
  // The size of the largest picture.
  QSize PictureSize() const;
  QSize sizeHint() const override;
  static constexpr int kIntervalMs = 300;
  // Frames: shown in turn while playing; stepped by hand, the animation stops.
  void SetCurrent(int index);
  void SetPlaying(bool playing);
  bool Playing() const;
  // Outlines drawn around pixels of each picture: those that glow, and among them the strays
  // (formats/GlowLayers.h kStrayRule) more boldly. Empty lists: none.
  struct GlowMarks {
    std::vector<QPoint> glowing, strays;
  };
  void SetGlowMarks(std::vector<GlowMarks> marks);
  bool ShowsGlow() const { return !m_marks.empty(); }

 signals:
  void changed();  // the frame or the zoom
  void zoomWanted(int steps);

 protected:
  void paintEvent(QPaintEvent* e) override;
  void wheelEvent(QWheelEvent* e) override;

 private:
  void Advance();
  const std::vector<QImage>& m_pictures;
  std::vector<GlowMarks> m_marks;
  int m_current = 0;
  bool m_fit = true;
  double m_zoom = 1;
  QTimer* m_timer = nullptr;
};

class CBitmapViewerFrame : public CViewerFrame {
  Q_OBJECT
 public:
  // Takes the pictures and palettes; placed beside mainWindow when given. Opens fitted at the
  // size last used when the last picture window was fitted, else at the pictures' own size.
  CBitmapViewerFrame(PictureSet set, const QString& title, QWidget* mainWindow = nullptr);
  ~CBitmapViewerFrame() override;

  CBitmapViewerView* View() const { return m_view; }
  QAction* FitCommand() const { return m_fitCommand; }
  // View > Outline Glowing Pixels: offered for pictures in Quake's palette, whose indices 224 to
  // 255 are drawn at full brightness in the dark (but a see-through 255).
  QAction* GlowCommand() const { return m_glowCommand; }
  // The zoom steps of the View menu, Ctrl+wheel, Ctrl++ and Ctrl+-; Actual Size is 100%.
  void ZoomStep(int steps);
  // Draws the pictures that carry no palette of their own (all but PCX) in another one.
  void UsePalette(const Palette& palette);
  // The palettes the picture's archive holds (gfx/palette.lmp, a mod's own), offered by their
  // paths in the Palette menu.
  void OfferArchivePalettes(std::vector<std::pair<std::string, Palette>> palettes);
  const std::vector<QImage>& Images() const { return m_images; }
  const PictureSet& Pictures() const { return m_set; }
  // Writes every picture as PNG: path itself for one, path-0.png, path-1.png, ... for several.
  bool SaveAsPng(const QString& path, QString* error = nullptr) const;
  // How many viewer frames exist now (for tests of their release).
  static int LiveCount();

 protected:
  void closeEvent(QCloseEvent* e) override;

 private:
  void OnSave();
  void SetFit(bool fit);
  void ShowGlow(bool show);
  void ShowState();
  void ChoosePaletteFile();
  PictureSet m_set;
  std::vector<QImage> m_images;
  CBitmapViewerView* m_view;
  QScrollArea* m_scroll;
  QAction* m_fitCommand;
  QAction* m_glowCommand = nullptr;
  QMenu* m_archivePalettes = nullptr;
};

// The file names SaveAsPng writes for n pictures.
QStringList NumberedPaths(const QString& path, std::size_t n);

}  // namespace tarn::viewers
