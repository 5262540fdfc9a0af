#include "viewers/models/GLFrame.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDockWidget>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QPainter>
#include <QStatusBar>
#include <QToolBar>
#include <QVBoxLayout>

#include "archive/PackObject.h"
#include "dialogs/ProgressDialog.h"
#include "dialogs/Prompter.h"
#include "dialogs/Settings.h"
#include "dialogs/Text.h"
#include "dialogs/WaitCursor.h"
#include "pictures/EntryPictures.h"

namespace tarn::viewers {

using dialogs::Q;

namespace {

// The view's size when the window is sized to its content.
constexpr int kViewWidth = 560, kViewHeight = 420;

QIcon DrawPicture(CSmartBitmapButton::Picture picture) {
  QPixmap pm(16, 15);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(30, 30, 30));
  auto tri = [&](QPointF a, QPointF b, QPointF c) { p.drawPolygon(QPolygonF({a, b, c})); };
  switch (picture) {
    case CSmartBitmapButton::kUp: tri({8, 2}, {14, 12}, {2, 12}); break;
    case CSmartBitmapButton::kDown: tri({8, 13}, {14, 3}, {2, 3}); break;
    case CSmartBitmapButton::kLeft: tri({2, 7.5}, {13, 2}, {13, 13}); break;
    case CSmartBitmapButton::kRight: tri({14, 7.5}, {3, 2}, {3, 13}); break;
    case CSmartBitmapButton::kPlay: tri({4, 2}, {13, 7.5}, {4, 13}); break;
    case CSmartBitmapButton::kStop: p.drawRect(QRectF(4, 3.5, 8, 8)); break;
    case CSmartBitmapButton::kFit: {
      // Four corners around a box: the whole model in the view.
      p.setBrush(Qt::NoBrush);
      p.setPen(QPen(QColor(30, 30, 30), 1.5));
      for (QPointF c : {QPointF(2, 2), QPointF(14, 2), QPointF(2, 13), QPointF(14, 13)}) {
        const qreal dx = c.x() < 8 ? 4 : -4, dy = c.y() < 8 ? 4 : -4;
        p.drawPolyline(QPolygonF({QPointF(c.x() + dx, c.y()), c, QPointF(c.x(), c.y() + dy)}));
      }
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(30, 30, 30));
      p.drawRect(QRectF(5.5, 5, 5, 5));
      break;
    }
    case CSmartBitmapButton::kRotateLeft:
    case CSmartBitmapButton::kRotateRight: {
      p.setBrush(Qt::NoBrush);
      p.setPen(QPen(QColor(30, 30, 30), 2));
      p.drawArc(QRectF(3, 3, 10, 10), 30 * 16, 280 * 16);
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(30, 30, 30));
      if (picture == CSmartBitmapButton::kRotateLeft) tri({1, 5}, {6, 5}, {3.5, 9});
      else tri({15, 5}, {10, 5}, {12.5, 9});
      break;
    }
  }
  return QIcon(pm);
}

// Reports the loader's progress in the progress dialog and asks the user through the prompter.
class CViewerModelHost : public CArchiveModelHost {
 public:
  CViewerModelHost(CPackObject& entry, QWidget* parent, dialogs::CPrompter& prompter)
      : CArchiveModelHost(entry), m_parent(parent), m_prompter(prompter) {}
  ~CViewerModelHost() override { delete m_progress; }

  void Progress(const std::string& caption, const std::string& status, int range) override {
    if (!m_progress) m_progress = new dialogs::CProgressDialog(m_parent);
    m_progress->SetCaption(Q(caption));
    m_progress->SetRange(0, std::max(range, 0));
    m_progress->SetPos(0);
    m_progress->show();
    m_progress->SetStatus(Q(status));
  }
  void Status(const std::string& status) override {
    if (m_progress) m_progress->SetStatus(Q(status));
  }
  void Step() override {
    if (m_progress) m_progress->Step();
  }
  void CloseProgress() override {
    if (m_progress) m_progress->hide();
  }
  // A skin not found is no question for the user: the viewer says so in its status line.
  void MissingSkins(const std::vector<std::string>& paths) override { m_missing = paths; }
  const std::vector<std::string>& Missing() const { return m_missing; }
  ExternalSkinChoice ExternalSkins() override {
    if (m_prompter.Message(m_parent, "No textures loaded - Load external textures?", "Tarn", QMessageBox::Question,
                           QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
      return {};
    // The archive's own pictures are offered first, the model's directory at the top.
    QStringList offered;
    for (const CPackObject* e : ArchiveSkins()) offered << Q(e->PathInArchive());
    const dialogs::SkinChoice chosen = m_prompter.ChooseSkins(m_parent, offered);
    ExternalSkinChoice result;
    for (const QString& path : chosen.entries)
      if (CPackObject* e = Model().Root()->FindByPath(path.toLocal8Bit().toStdString())) result.entries.push_back(e);
    for (const QString& f : chosen.files) result.files.push_back(f.toLocal8Bit().toStdString());
    return result;
  }

 private:
  QWidget* m_parent;
  dialogs::CPrompter& m_prompter;
  dialogs::CProgressDialog* m_progress = nullptr;
  std::vector<std::string> m_missing;
};

}  // namespace

CSmartBitmapButton::CSmartBitmapButton(Picture picture, const QString& tip, QWidget* parent) : QPushButton(parent) {
  setIcon(DrawPicture(picture));
  setToolTip(tip);
  setFixedSize(30, 24);
}

CGLFrame::CGLFrame(CPackObject& entry, QWidget* mainWindow, dialogs::CPrompter& prompter, EntryEditing editing)
    : CViewerFrame("Model", mainWindow), m_prompter(prompter), m_editing(std::move(editing)) {
  setObjectName("modelViewer");
  setWindowTitle(Q(entry.Name()));
  m_view = new CGLView(this);
  setCentralWidget(m_view);
  if (dialogs::ProfileInt("Debug", "ShowToolbars", 1) != 0) CreateBars();
  m_frameText = new QLabel(this);
  m_frameText->setObjectName("frameText");
  statusBar()->addPermanentWidget(m_frameText);
  auto* save = new QAction("Save View as &PNG...", this);
  save->setObjectName("actionSaveViewPng");
  connect(save, &QAction::triggered, this, [this] {
    QString path =
        QFileDialog::getSaveFileName(this, "Save View as PNG", windowTitle() + ".png", "PNG pictures (*.png)");
    if (!path.isEmpty()) SaveViewAsPng(path);
  });
  AddFileAction(save);
  CreatePanels();
  {
    CEntryBytes data(entry);
    if (data.Ok()) m_bytes.assign(data.Bytes().begin(), data.Bytes().end());
  }
  QSize content(kViewWidth, kViewHeight);
  if (m_dialogBar) content.rwidth() += m_dialogBar->sizeHint().width();
  // The panels are there only for a model edited in place, an MDL or MD2.
  if (m_skinsPanel && ReadModelLayout(m_bytes, m_layout, nullptr)) content.rwidth() += m_skinsPanel->sizeHint().width();
  if (m_toolBar) content.rheight() += m_toolBar->sizeHint().height();
  PlaceBesideMainWindow(content + QSize(0, statusBar()->sizeHint().height()));

  std::string error;
  bool loaded;
  std::vector<std::string> missing;
  {
    CViewerModelHost host(entry, this, prompter);
    dialogs::CWaitCursor wait;
    loaded = ShowModel(entry, host, false, &error);
    missing = host.Missing();
  }
  if (m_editing)
    m_editing.watch(this, [this] {
      // After the change is done with: the change may have come from one of the panels' own
      // signals, whose items a reload replaces.
      if (m_reloadDue) return;
      m_reloadDue = true;
      QMetaObject::invokeMethod(this, &CGLFrame::Reload, Qt::QueuedConnection);
    });
  if (!loaded && !error.empty()) {
    statusBar()->showMessage("The model cannot be shown: " + Q(error));
  } else if (!missing.empty()) {
    QStringList paths;
    for (const auto& p : missing) paths << Q(p);
    statusBar()->showMessage(QString("Skin%1 not found: %2").arg(paths.size() == 1 ? "" : "s", paths.join(", ")));
  }
  connect(m_view, &CGLView::playingChanged, this, &CGLFrame::UpdateCommandUI);
  connect(m_view, &CGLView::frameChanged, this, &CGLFrame::ShowFrame);
  // The animation box follows the animation, however it was chosen (keys included).
  connect(m_view, &CGLView::animationChanged, this, [this](int index) {
    if (m_animations && m_animations->currentIndex() != index) {
      const QSignalBlocker block(m_animations);
      m_animations->setCurrentIndex(index);
    }
    ShowFrame();
  });
  ShowFrame();
  UpdateCommandUI();
  m_view->setFocus();
}

CGLFrame::~CGLFrame() = default;

void CGLFrame::closeEvent(QCloseEvent* e) {
  m_view->Stop();
  CViewerFrame::closeEvent(e);
}

QAction* CGLFrame::Command(const char* objectName) const { return findChild<QAction*>(objectName); }

void CGLFrame::CreateBars() {
  struct Cmd {
    const char* name;
    const char* tip;
    const char* status;
    void (CGLView::*method)();
  };
  m_toolBar = addToolBar("Frames");
  m_toolBar->setObjectName("modelToolBar");
  QStyle* st = style();
  const Cmd frameCmds[] = {
      {"cmdFirstFrame", "First Frame", "Goto the first frame", &CGLView::FirstFrame},
      {"cmdPreviousFrame", "Previous Frame", "Goto the previous frame", &CGLView::PreviousFrame},
      {"cmdPlay", "Play", "Play the current animation", &CGLView::Play},
      {"cmdStop", "Stop", "Stop playing the animation", &CGLView::Stop},
      {"cmdNextFrame", "Next Frame", "Goto the next frame", &CGLView::NextFrame},
      {"cmdLastFrame", "Last Frame", "Goto the last frame", &CGLView::LastFrame},
  };
  const QStyle::StandardPixmap icons[] = {QStyle::SP_MediaSkipBackward, QStyle::SP_MediaSeekBackward,
                                          QStyle::SP_MediaPlay,         QStyle::SP_MediaStop,
                                          QStyle::SP_MediaSeekForward,  QStyle::SP_MediaSkipForward};
  for (std::size_t i = 0; i < std::size(frameCmds); ++i) {
    const Cmd& c = frameCmds[i];
    QAction* a = m_toolBar->addAction(st->standardIcon(icons[i]), c.tip);
    a->setObjectName(c.name);
    a->setStatusTip(c.status);
    connect(a, &QAction::triggered, m_view, c.method);
  }
  m_toolBar->addSeparator();
  QAction* reset = m_toolBar->addAction(DrawPicture(CSmartBitmapButton::kFit), "Reset View");
  reset->setObjectName("cmdResetView");
  reset->setShortcut(QKeySequence(Qt::Key_Home));
  reset->setToolTip("Reset View (Home)");
  reset->setStatusTip("Turn the camera back to where the whole model fills the view");
  connect(reset, &QAction::triggered, m_view, &CGLView::ResetView);

  auto* bar = new QWidget;
  auto* layout = new QVBoxLayout(bar);
  auto* viewBox = new QGroupBox(" View ", bar);
  auto* grid = new QGridLayout(viewBox);
  auto button = [&](CSmartBitmapButton::Picture pic, const char* name, const char* tip, auto slot) {
    auto* b = new CSmartBitmapButton(pic, tip, viewBox);
    b->setObjectName(name);
    b->setStatusTip(tip);
    connect(b, &QPushButton::clicked, m_view, slot);
    return b;
  };
  grid->addWidget(button(CSmartBitmapButton::kUp, "btnMoveUp", "Move Up", [this] { m_view->Move(0, 5); }), 0, 2);
  grid->addWidget(button(CSmartBitmapButton::kLeft, "btnMoveLeft", "Move Left", [this] { m_view->Move(-5, 0); }), 1, 1);
  grid->addWidget(button(CSmartBitmapButton::kRight, "btnMoveRight", "Move Right", [this] { m_view->Move(5, 0); }), 1,
                  3);
  grid->addWidget(button(CSmartBitmapButton::kDown, "btnMoveDown", "Move Down", [this] { m_view->Move(0, -5); }), 2, 2);
  grid->addWidget(
      button(CSmartBitmapButton::kRotateLeft, "btnRotateLeft", "Rotate Left", [this] { m_view->Rotate(-10); }), 2, 0);
  grid->addWidget(
      button(CSmartBitmapButton::kRotateRight, "btnRotateRight", "Rotate Right", [this] { m_view->Rotate(10); }), 2, 4);
  auto* zoomIn = new QPushButton("+", viewBox);
  zoomIn->setObjectName("btnZoomIn");
  zoomIn->setToolTip("Zoom In");
  connect(zoomIn, &QPushButton::clicked, m_view, &CGLView::ZoomIn);
  auto* zoomOut = new QPushButton("-", viewBox);
  zoomOut->setObjectName("btnZoomOut");
  zoomOut->setToolTip("Zoom Out");
  connect(zoomOut, &QPushButton::clicked, m_view, &CGLView::ZoomOut);
  grid->addWidget(zoomIn, 3, 1, 1, 2);
  grid->addWidget(zoomOut, 3, 3, 1, 2);
  layout->addWidget(viewBox);

  auto* animBox = new QGroupBox(" Animation ", bar);
  auto* animRow = new QHBoxLayout(animBox);
  m_animations = new QComboBox(animBox);
  m_animations->setObjectName("animationCombo");
  animRow->addWidget(m_animations, 1);
  m_playButton = new CSmartBitmapButton(CSmartBitmapButton::kPlay, "Play", animBox);
  m_playButton->setObjectName("btnPlay");
  m_stopButton = new CSmartBitmapButton(CSmartBitmapButton::kStop, "Stop", animBox);
  m_stopButton->setObjectName("btnStop");
  connect(m_playButton, &QPushButton::clicked, m_view, &CGLView::Play);
  connect(m_stopButton, &QPushButton::clicked, m_view, &CGLView::Stop);
  animRow->addWidget(m_playButton);
  animRow->addWidget(m_stopButton);
  layout->addWidget(animBox);
  connect(m_animations, &QComboBox::currentIndexChanged, this, [this](int i) {
    if (i >= 0) m_view->SelectAnimation(i);
  });

  auto* skinBox = new QGroupBox(" Skin ", bar);
  auto* skinRow = new QHBoxLayout(skinBox);
  m_skins = new QComboBox(skinBox);
  m_skins->setObjectName("skinCombo");
  skinRow->addWidget(m_skins, 1);
  layout->addWidget(skinBox);
  layout->addStretch(1);
  connect(m_skins, &QComboBox::currentIndexChanged, this, [this](int i) {
    if (i >= 0) m_view->SelectSkin(i, true);
  });

  m_dialogBar = new QDockWidget(this);
  m_dialogBar->setObjectName("modelDialogBar");
  m_dialogBar->setFeatures(QDockWidget::NoDockWidgetFeatures);
  m_dialogBar->setTitleBarWidget(new QWidget(m_dialogBar));
  m_dialogBar->setWidget(bar);
  addDockWidget(Qt::RightDockWidgetArea, m_dialogBar);
}

void CGLFrame::FillCombos() {
  if (!m_animations || !m_skins) return;
  const QSignalBlocker blockA(m_animations), blockS(m_skins);
  m_animations->clear();
  m_skins->clear();
  for (const auto& a : m_view->Model().animations) m_animations->addItem(Q(a.name));
  m_animations->setCurrentIndex(m_animations->count() ? 0 : -1);
  int n = 0;
  for (const auto& s : m_view->Model().skins) {
    ++n;
    m_skins->addItem(s.name.empty() ? QString("Skin %1").arg(n) : Q(s.name));
  }
  m_skins->setCurrentIndex(m_skins->count() ? 0 : -1);
}

void CGLFrame::UpdateCommandUI() {
  const bool playing = m_view->IsPlaying();
  for (const char* name : {"cmdFirstFrame", "cmdPreviousFrame", "cmdNextFrame", "cmdLastFrame", "cmdPlay"})
    if (QAction* a = Command(name)) a->setEnabled(!playing);
  if (QAction* a = Command("cmdStop")) a->setEnabled(playing);
  if (m_playButton) m_playButton->setEnabled(!playing);
  if (m_stopButton) m_stopButton->setEnabled(playing);
}

bool CGLFrame::SaveViewAsPng(const QString& path) { return m_view->grabFramebuffer().save(path, "PNG"); }

QString CGLFrame::FrameText() const {
  const auto& animations = m_view->Model().animations;
  const int a = m_view->CurrentAnimation();
  if (a < 0 || a >= static_cast<int>(animations.size()) || m_view->FrameCount() <= 0) return QString();
  return QString("%1: frame %2 of %3")
      .arg(Q(animations[static_cast<std::size_t>(a)].name))
      .arg(m_view->CurrentFrame() + 1)
      .arg(m_view->FrameCount());
}

void CGLFrame::ShowFrame() { m_frameText->setText(FrameText()); }

}  // namespace tarn::viewers
