#include "viewers/BitmapViewer.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QScrollArea>
#include <QStatusBar>
#include <QTimer>
#include <QWheelEvent>
#include <algorithm>
#include <atomic>
#include <cstring>

#include "dialogs/Settings.h"
#include "pictures/GlowLayers.h"
#include "pictures/ImageEncode.h"

namespace tarn::viewers {

namespace {
std::atomic<int> g_liveFrames{0};
const QSize kSmallestContent(160, 100);
}  // namespace

std::vector<QImage> ToImages(const PictureSet& set) {
  std::vector<QImage> images;
  images.reserve(set.pictures.size());
  for (std::size_t i = 0; i < set.pictures.size(); ++i)
    images.push_back(ToImage(set.pictures[i], set.PaletteFor(i), set.transparent255));
  return images;
}

QImage ToImage(const Picture& picture, const Palette& palette, bool transparent255) {
  if (picture.width <= 0 || picture.height <= 0) return QImage();
  if (picture.IsTrueColor()) {
    // Copied, so that the image owns its pixels whatever happens to the picture.
    return QImage(picture.rgba.data(), picture.width, picture.height, picture.width * 4, QImage::Format_RGBA8888)
        .copy();
  }
  QImage image(picture.width, picture.height, QImage::Format_Indexed8);
  if (image.isNull()) return image;
  QList<QRgb> table(256);
  for (int i = 0; i < 256; ++i) {
    const Rgb& c = palette.colors[static_cast<std::size_t>(i)];
    table[i] = qRgb(c.r, c.g, c.b);
  }
  if (transparent255) table[255] = qRgba(0, 0, 0, 0);
  image.setColorTable(table);
  for (int y = 0; y < picture.height; ++y)
    std::memcpy(image.scanLine(y), picture.Row(y), static_cast<std::size_t>(picture.width));
  return image;
}

QSize ScaledSize(QSize picture, QSize client) {
  if (picture.width() <= 0 || picture.height() <= 0 || client.width() <= 0 || client.height() <= 0) return {0, 0};
  // Compared as client.w / client.h >= pic.w / pic.h, in integers.
  const qint64 cw = client.width(), ch = client.height(), pw = picture.width(), ph = picture.height();
  if (cw * ph >= pw * ch) return QSize(static_cast<int>(ch * pw / ph), static_cast<int>(ch));
  return QSize(static_cast<int>(cw), static_cast<int>(cw * ph / pw));
}

CBitmapViewerView::CBitmapViewerView(const std::vector<QImage>& pictures, QWidget* parent)
    : QWidget(parent), m_pictures(pictures) {
  setObjectName("bitmapView");
  setAttribute(Qt::WA_OpaquePaintEvent);
  if (!m_pictures.empty()) {
    m_timer = new QTimer(this);
    m_timer->setObjectName("pictureTimer");
    m_timer->setInterval(kIntervalMs);
    connect(m_timer, &QTimer::timeout, this, &CBitmapViewerView::Advance);
    // One picture has nothing to show in turn.
    if (m_pictures.size() > 1) m_timer->start();
  }
  update();
}

CBitmapViewerView::~CBitmapViewerView() {
  if (m_timer) m_timer->stop();
}

void CBitmapViewerView::Advance() {
  m_current = (m_current + 1) % static_cast<int>(m_pictures.size());
  repaint();
  emit changed();
}

void CBitmapViewerView::SetCurrent(int index) {
  if (m_pictures.empty()) return;
  const int n = static_cast<int>(m_pictures.size());
  m_current = ((index % n) + n) % n;
  update();
  emit changed();
}

bool CBitmapViewerView::Playing() const { return m_timer && m_timer->isActive(); }

void CBitmapViewerView::SetPlaying(bool playing) {
  if (!m_timer || m_pictures.size() < 2) return;
  if (playing) m_timer->start();
  else m_timer->stop();
  emit changed();
}

void CBitmapViewerView::wheelEvent(QWheelEvent* e) {
  // Ctrl+wheel zooms, as in every picture program; the plain wheel scrolls.
  if (!(e->modifiers() & Qt::ControlModifier) || e->angleDelta().y() == 0) return QWidget::wheelEvent(e);
  emit zoomWanted(e->angleDelta().y() > 0 ? 1 : -1);
  e->accept();
}

QRect CBitmapViewerView::DrawnRect() const {
  if (m_pictures.empty()) return {};
  const QSize picture = m_pictures[static_cast<std::size_t>(m_current)].size();
  return QRect(QPoint(0, 0), m_fit ? ScaledSize(picture, size()) : picture * m_zoom);
}

QSize CBitmapViewerView::sizeHint() const { return PictureSize() * m_zoom; }

void CBitmapViewerView::SetZoom(double zoom) {
  m_zoom = zoom;
  if (!m_fit) setMinimumSize(PictureSize() * m_zoom);
  updateGeometry();
  update();
  emit changed();
}

QSize CBitmapViewerView::PictureSize() const {
  QSize largest(0, 0);
  for (const QImage& image : m_pictures) largest = largest.expandedTo(image.size());
  return largest;
}

void CBitmapViewerView::SetGlowMarks(std::vector<GlowMarks> marks) {
  m_marks = std::move(marks);
  update();
}

void CBitmapViewerView::SetFit(bool fit) {
  m_fit = fit;
  setMinimumSize(fit ? QSize(0, 0) : PictureSize() * m_zoom);
  update();
}

namespace {

// Grey squares of 8 pixels, the usual sign of see-through pixels.
const QBrush& Checkerboard() {
  static const QBrush brush = [] {
    QPixmap tile(16, 16);
    tile.fill(QColor(204, 204, 204));
    QPainter p(&tile);
    p.fillRect(0, 0, 8, 8, QColor(153, 153, 153));
    p.fillRect(8, 8, 8, 8, QColor(153, 153, 153));
    return QBrush(tile);
  }();
  return brush;
}

}  // namespace

void CBitmapViewerView::paintEvent(QPaintEvent*) {
  if (m_pictures.empty()) return;
  QPainter p(this);
  const QRect drawn = DrawnRect();
  const QImage& image = m_pictures[static_cast<std::size_t>(m_current)];
  if (!drawn.isEmpty() && image.hasAlphaChannel()) p.fillRect(drawn, Checkerboard());
  if (!drawn.isEmpty()) p.drawImage(drawn, image);
  if (static_cast<std::size_t>(m_current) < m_marks.size() && !drawn.isEmpty() && image.width() > 0) {
    // Each pixel's square, grown to a few screen pixels where the picture is drawn small.
    const double scale = static_cast<double>(drawn.width()) / image.width();
    const double side = std::max(scale, 4.0), inset = (side - scale) / 2;
    const GlowMarks& marks = m_marks[static_cast<std::size_t>(m_current)];
    p.setBrush(Qt::NoBrush);
    for (const auto& [points, pen] : {std::pair{&marks.glowing, QPen(QColor(255, 255, 0), 1)},
                                      std::pair{&marks.strays, QPen(QColor(255, 0, 255), 2)}}) {
      p.setPen(pen);
      for (const QPoint& at : *points) p.drawRect(QRectF(at.x() * scale - inset, at.y() * scale - inset, side, side));
    }
  }
  p.fillRect(QRect(drawn.width(), 0, width() - drawn.width(), height()), Qt::black);
  p.fillRect(QRect(0, drawn.height(), width(), height() - drawn.height()), Qt::black);
}

CBitmapViewerFrame::CBitmapViewerFrame(PictureSet set, const QString& title, QWidget* mainWindow)
    : CViewerFrame("Picture", mainWindow), m_set(std::move(set)) {
  ++g_liveFrames;
  setObjectName("bitmapViewer");
  setWindowTitle(title);
  m_images = ToImages(m_set);
  m_view = new CBitmapViewerView(m_images);
  m_scroll = new QScrollArea(this);
  m_scroll->setObjectName("bitmapScroll");
  m_scroll->setWidgetResizable(true);
  m_scroll->setFrameShape(QFrame::NoFrame);
  m_scroll->setBackgroundRole(QPalette::Shadow);
  m_scroll->setWidget(m_view);
  setCentralWidget(m_scroll);

  auto* save = new QAction("Save as &PNG...", this);
  save->setObjectName("actionSavePng");
  save->setShortcut(QKeySequence::Save);
  connect(save, &QAction::triggered, this, &CBitmapViewerFrame::OnSave);
  AddFileAction(save);
  QMenu* view = menuBar()->addMenu("&View");
  m_fitCommand = view->addAction("&Fit to Window");
  m_fitCommand->setObjectName("actionFit");
  m_fitCommand->setCheckable(true);
  m_fitCommand->setShortcut(QKeySequence(Qt::Key_F));
  m_fitCommand->setStatusTip("Fit the picture to the window, or show it at its own size");
  connect(m_fitCommand, &QAction::toggled, this, &CBitmapViewerFrame::SetFit);

  const auto add = [&](const char* name, const QString& text, const QKeySequence& key, auto slot) {
    QAction* a = view->addAction(text);
    a->setObjectName(name);
    if (!key.isEmpty()) a->setShortcut(key);
    connect(a, &QAction::triggered, this, slot);
    return a;
  };
  add("actionZoomIn", "Zoom &In", QKeySequence::ZoomIn, [this] { ZoomStep(1); });
  add("actionZoomOut", "Zoom &Out", QKeySequence::ZoomOut, [this] { ZoomStep(-1); });
  add("actionActualSize", "&Actual Size (100%)", QKeySequence(Qt::CTRL | Qt::Key_0), [this] {
    SetFit(false);
    m_view->SetZoom(1);
  });
  connect(m_view, &CBitmapViewerView::zoomWanted, this, &CBitmapViewerFrame::ZoomStep);
  m_glowCommand = view->addAction("Outline &Glowing Pixels");
  m_glowCommand->setObjectName("actionOutlineGlow");
  m_glowCommand->setCheckable(true);
  m_glowCommand->setShortcut(QKeySequence(Qt::Key_G));
  m_glowCommand->setStatusTip("Outline the pixels drawn at full brightness in the dark; strays in magenta");
  connect(m_glowCommand, &QAction::toggled, this, &CBitmapViewerFrame::ShowGlow);
  {
    Palette quake2;
    LoadPalette(kQuake2PaletteId, quake2);
    const bool indexed = std::any_of(m_set.pictures.begin(), m_set.pictures.end(),
                                     [](const Picture& p) { return !p.IsTrueColor() && p.width > 0; });
    m_glowCommand->setEnabled(indexed && !m_set.ownPalettes && !m_set.palettes.empty() &&
                              !(m_set.palettes.front() == quake2));
  }
  if (m_images.size() > 1) {
    view->addSeparator();
    add("actionNextFrame", "&Next Frame", QKeySequence(Qt::Key_Right),
        [this] { m_view->SetPlaying(false), m_view->SetCurrent(m_view->CurrentIndex() + 1); });
    add("actionPreviousFrame", "&Previous Frame", QKeySequence(Qt::Key_Left),
        [this] { m_view->SetPlaying(false), m_view->SetCurrent(m_view->CurrentIndex() - 1); });
    add("actionPlay", "Play or &Stop", QKeySequence(Qt::Key_Space), [this] { m_view->SetPlaying(!m_view->Playing()); });
  }
  // Pictures drawn in a palette they do not carry can be seen in another.
  const bool ownPalettes = m_set.ownPalettes || std::all_of(m_set.pictures.begin(), m_set.pictures.end(),
                                                            [](const Picture& p) { return p.IsTrueColor(); });
  QMenu* palettes = view->addMenu("Pa&lette");
  palettes->setObjectName("menuPalette");
  palettes->setEnabled(!ownPalettes);
  const auto builtIn = [this](int id) {
    Palette p;
    LoadPalette(id, p);
    UsePalette(p);
  };
  palettes->addAction("&Quake", this, [builtIn] { builtIn(kQuakePaletteId); })->setObjectName("actionPaletteQuake");
  palettes->addAction("Quake &II", this, [builtIn] { builtIn(kQuake2PaletteId); })
      ->setObjectName("actionPaletteQuake2");
  m_archivePalettes = palettes->addMenu("From the &Archive");
  m_archivePalettes->setObjectName("menuPaletteArchive");
  m_archivePalettes->setEnabled(false);
  palettes->addAction("From a &File...", this, &CBitmapViewerFrame::ChoosePaletteFile)
      ->setObjectName("actionPaletteFile");
  connect(m_view, &CBitmapViewerView::changed, this, &CBitmapViewerFrame::ShowState);

  // At the pictures' own size unless the last picture window was left fitted: then at its size.
  const bool fit = dialogs::ProfileInt("Viewers", "PictureFit", 0) != 0;
  m_fitCommand->setChecked(fit);
  SetFit(fit);
  // Tiny pictures get room for the menu bar, with black around them. The status bar below
  // the picture takes its height from the window too: uncounted, a picture that would fit
  // opens with scroll bars.
  PlaceBesideMainWindow(m_view->PictureSize().expandedTo(kSmallestContent) + QSize(0, statusBar()->sizeHint().height()),
                        fit);
}

CBitmapViewerFrame::~CBitmapViewerFrame() { --g_liveFrames; }

void CBitmapViewerFrame::ShowGlow(bool show) {
  std::vector<CBitmapViewerView::GlowMarks> marks;
  if (show) {
    const int transparent = m_set.transparent255 ? 255 : -1;
    for (const Picture& picture : m_set.pictures) {
      CBitmapViewerView::GlowMarks m;
      for (const GlowPixel& g : GlowingPixels(picture, kQuakeFullbrightFirst, 255, transparent))
        m.glowing.emplace_back(g.x, g.y);
      for (const GlowPixel& g : StrayGlowPixels(picture, kQuakeFullbrightFirst, 255, transparent))
        m.strays.emplace_back(g.x, g.y);
      marks.push_back(std::move(m));
    }
  }
  m_view->SetGlowMarks(std::move(marks));
  ShowState();
}

void CBitmapViewerFrame::SetFit(bool fit) {
  m_view->SetFit(fit);
  if (m_fitCommand->isChecked() != fit) m_fitCommand->setChecked(fit);
  ShowState();
}

namespace {
constexpr double kZoomSteps[] = {0.25, 0.5, 1, 2, 3, 4, 6, 8, 12, 16};
}

void CBitmapViewerFrame::ZoomStep(int steps) {
  // From what is on screen: a fitted picture's scale is where the steps start.
  double now = m_view->Zoom();
  if (m_view->IsFit() && !m_view->PictureSize().isEmpty())
    now = static_cast<double>(m_view->DrawnRect().width()) /
          m_images[static_cast<std::size_t>(m_view->CurrentIndex())].width();
  const auto* begin = std::begin(kZoomSteps);
  const auto* end = std::end(kZoomSteps);
  double next = now;
  if (steps > 0) {
    const auto* it = std::upper_bound(begin, end, now + 1e-9);
    next = it == end ? *(end - 1) : *it;
  } else {
    const auto* it = std::lower_bound(begin, end, now - 1e-9);
    next = it == begin ? *begin : *(it - 1);
  }
  SetFit(false);
  m_view->SetZoom(next);
}

void CBitmapViewerFrame::UsePalette(const Palette& palette) {
  if (m_set.ownPalettes) return;
  m_set.palettes.assign(1, palette);
  m_images = ToImages(m_set);
  m_view->update();
}

void CBitmapViewerFrame::OfferArchivePalettes(std::vector<std::pair<std::string, Palette>> palettes) {
  m_archivePalettes->clear();
  for (auto& [path, palette] : palettes)
    m_archivePalettes->addAction(QString::fromStdString(path), this, [this, p = palette] { UsePalette(p); })
        ->setObjectName("actionPaletteArchive");
  m_archivePalettes->setEnabled(!palettes.empty());
}

void CBitmapViewerFrame::ChoosePaletteFile() {
  const QString path =
      QFileDialog::getOpenFileName(this, "Palette", QString(), "Palettes (*.lmp *.pal *.pcx);;All Files (*)");
  if (path.isEmpty()) return;
  QFile f(path);
  const QByteArray bytes = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  Palette palette;
  std::string why = "it cannot be read";
  if (bytes.isEmpty() || !LoadPaletteFile({reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                           static_cast<std::size_t>(bytes.size())},
                                          palette, &why)) {
    QMessageBox::warning(this, "Palette", QString("%1 is no palette: %2.").arg(path, QString::fromStdString(why)));
    return;
  }
  UsePalette(palette);
}

void CBitmapViewerFrame::ShowState() {
  QString text = m_view->IsFit() ? QString("Fitted") : QString("%1%").arg(qRound(m_view->Zoom() * 100));
  if (m_view->ShowsGlow() && static_cast<std::size_t>(m_view->CurrentIndex()) < m_set.pictures.size()) {
    const Picture& picture = m_set.pictures[static_cast<std::size_t>(m_view->CurrentIndex())];
    const int transparent = m_set.transparent255 ? 255 : -1;
    text += QString(", %1 glowing pixels, %2 strays")
                .arg(GlowingPixels(picture, kQuakeFullbrightFirst, 255, transparent).size())
                .arg(StrayGlowPixels(picture, kQuakeFullbrightFirst, 255, transparent).size());
  }
  if (m_images.size() > 1)
    text += QString(", frame %1 of %2%3")
                .arg(m_view->CurrentIndex() + 1)
                .arg(m_images.size())
                .arg(m_view->Playing() ? "" : " (stopped)");
  statusBar()->showMessage(text);
}

void CBitmapViewerFrame::closeEvent(QCloseEvent* e) {
  dialogs::WriteProfileInt("Viewers", "PictureFit", m_view->IsFit() ? 1 : 0);
  CViewerFrame::closeEvent(e);
}

int CBitmapViewerFrame::LiveCount() { return g_liveFrames; }

QStringList NumberedPaths(const QString& path, std::size_t n) {
  if (n == 1) return {path};
  QFileInfo info(path);
  QString stem =
      info.suffix().compare("png", Qt::CaseInsensitive) == 0 ? info.path() + "/" + info.completeBaseName() : path;
  QStringList out;
  for (std::size_t i = 0; i < n; ++i) out << QString("%1-%2.png").arg(stem).arg(i);
  return out;
}

bool CBitmapViewerFrame::SaveAsPng(const QString& path, QString* error) const {
  const QStringList paths = NumberedPaths(path, m_images.size());
  for (int i = 0; i < paths.size(); ++i) {
    if (!m_images[static_cast<std::size_t>(i)].save(paths[i], "PNG")) {
      if (error) *error = "Could not write " + paths[i];
      return false;
    }
  }
  return true;
}

void CBitmapViewerFrame::OnSave() {
  if (m_images.empty()) return;
  QString proposed = windowTitle();
  proposed.replace('/', '_');
  const int dot = proposed.lastIndexOf('.');
  if (dot > 0) proposed = proposed.left(dot);
  QString path = QFileDialog::getSaveFileName(this, "Save as PNG", proposed + ".png", "PNG pictures (*.png)");
  if (path.isEmpty()) return;
  QString error;
  if (!SaveAsPng(path, &error)) QMessageBox::warning(this, "Save as PNG", error);
}

}  // namespace tarn::viewers
