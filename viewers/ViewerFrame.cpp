#include "viewers/ViewerFrame.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QMenuBar>
#include <QScreen>
#include <algorithm>
#include <vector>

#include "dialogs/Prompter.h"
#include "dialogs/Settings.h"

namespace tarn::viewers {

namespace {

const char* const kSection = "Viewers";

}  // namespace

QRect PlaceBeside(const QRect& anchor, QSize size, const QRect& screen) {
  size = size.boundedTo(screen.size());
  const int right = screen.right() - anchor.right();
  const int left = anchor.left() - screen.left();
  int x;
  if (size.width() <= right) x = anchor.right() + 1;
  else if (size.width() <= left) x = anchor.left() - size.width();
  else x = right >= left ? screen.right() + 1 - size.width() : screen.left();
  const int y = std::clamp(anchor.top(), screen.top(), screen.bottom() + 1 - size.height());
  return QRect(QPoint(x, y), size);
}

CViewerFrame::CViewerFrame(const QString& kind, QWidget* mainWindow)
    : QMainWindow(nullptr), m_kind(kind), m_mainWindow(mainWindow) {
  setAttribute(Qt::WA_DeleteOnClose);
  if (mainWindow) setWindowIcon(mainWindow->windowIcon());
  m_file = menuBar()->addMenu("&File");
  m_close = m_file->addAction("&Close", this, &QWidget::close);
  m_close->setObjectName("actionClose");
  m_close->setShortcuts({QKeySequence::Close, QKeySequence(Qt::Key_Escape)});
}

CViewerFrame::~CViewerFrame() {
  if (m_mainWindow) m_mainWindow->activateWindow();
}

void CViewerFrame::AddFileAction(QAction* action) { m_file->insertAction(m_close, action); }

QSize CViewerFrame::RememberedSize(const QString& kind) {
  const int w = dialogs::ProfileInt(kSection, kind + "Width", 0), h = dialogs::ProfileInt(kSection, kind + "Height", 0);
  return w > 0 && h > 0 ? QSize(w, h) : QSize();
}

void CViewerFrame::PlaceBesideMainWindow(QSize content, bool useRemembered) {
  const QSize remembered = useRemembered ? RememberedSize(m_kind) : QSize();
  QSize client = remembered.isValid() ? remembered : content;
  // The menu bar and any tool bars sit above the content; the window manager's frame around
  // it is taken to be as wide as the main window's.
  if (!remembered.isValid()) client += QSize(0, menuBar()->sizeHint().height());
  QScreen* screen = m_mainWindow ? m_mainWindow->screen() : QGuiApplication::primaryScreen();
  const QRect available = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
  QRect anchor = available.adjusted(0, 0, -available.width(), 0);
  QMargins decoration;
  if (m_mainWindow) {
    anchor = m_mainWindow->frameGeometry();
    const QRect inner = m_mainWindow->geometry();
    decoration = QMargins(inner.left() - anchor.left(), inner.top() - anchor.top(), anchor.right() - inner.right(),
                          anchor.bottom() - inner.bottom());
  }
  const QSize outer = client.grownBy(decoration);
  const QRect placed = PlaceBeside(anchor, outer, available);
  resize(placed.size().shrunkBy(decoration));
  move(Cascaded(placed.topLeft(), placed.size(), available, std::max(decoration.top(), 24)));
}

QPoint CViewerFrame::Cascaded(QPoint at, QSize outer, const QRect& available, int step) const {
  std::vector<QPoint> taken;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* v = qobject_cast<CViewerFrame*>(w); v && v != this && v->isVisible() && v->m_mainWindow == m_mainWindow)
      taken.push_back(v->pos());
  const auto near = [&](QPoint p) {
    return std::any_of(taken.begin(), taken.end(), [&](QPoint t) { return (t - p).manhattanLength() < step; });
  };
  const QPoint first = at;
  for (std::size_t tries = 0; tries <= taken.size() && near(at); ++tries) {
    at += QPoint(step, step);
    // Off the screen's bottom or right, the cascade starts again at the top of the column.
    if (at.y() + outer.height() > available.bottom() + 1 || at.x() + outer.width() > available.right() + 1)
      at = QPoint(first.x() + step / 2, available.top());
  }
  return at;
}

CViewerFrame* CViewerFrame::FindShowing(const QWidget* mainWindow, const QString& key) {
  if (key.isEmpty()) return nullptr;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* v = qobject_cast<CViewerFrame*>(w);
        v && v->isVisible() && v->m_mainWindow == mainWindow && v->m_shownKey == key)
      return v;
  return nullptr;
}

void CViewerFrame::Bring() {
  if (isMinimized()) showNormal();
  raise();
  activateWindow();
}

void CViewerFrame::showEvent(QShowEvent* e) {
  QMainWindow::showEvent(e);
  // Opened by a command: the new window takes the keyboard, as a window manager would give it.
  if (!m_shown) {
    m_shown = true;
    raise();
    activateWindow();
  }
}

void CViewerFrame::closeEvent(QCloseEvent* e) {
  auto settings = dialogs::OpenSettings();
  settings->setValue(QString(kSection) + "/" + m_kind + "Width", width());
  settings->setValue(QString(kSection) + "/" + m_kind + "Height", height());
  QMainWindow::closeEvent(e);
}

void CViewerFrame::CloseDiscarding() {
  m_discarding = true;
  close();
}

bool CViewerFrame::MayCloseWithChanges(dialogs::CPrompter& prompter, const QString& question, const QString& caption,
                                       const std::function<bool()>& save) {
  if (m_discarding) return true;
  const auto answer = prompter.Message(this, question, caption, QMessageBox::Warning,
                                       QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel);
  return answer != QMessageBox::Cancel && (answer != QMessageBox::Save || save());
}

}  // namespace tarn::viewers
