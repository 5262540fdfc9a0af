#include "dialogs/WorkDialog.h"

#include <QApplication>
#include <QEventLoop>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <thread>

namespace tarn::dialogs {

bool CWorkProgress::Advance(std::uint64_t units, std::string_view what) {
  m_done += units;
  if (!what.empty()) {
    std::lock_guard lock(m_mutex);
    m_what.assign(what);
  }
  return !m_cancel;
}

std::string CWorkProgress::What() const {
  std::lock_guard lock(m_mutex);
  return m_what;
}

CWorkDialog::CWorkDialog(QWidget* parent, const QString& caption) : QDialog(parent) {
  setObjectName("workDialog");
  setWindowTitle(caption);
  setWindowModality(Qt::WindowModal);
  auto* title = new QLabel(caption + "...", this);
  m_status = new QLabel(this);
  m_status->setObjectName("workStatus");
  m_status->setTextFormat(Qt::PlainText);
  m_bar = new QProgressBar(this);
  m_bar->setObjectName("workBar");
  m_bar->setRange(0, 1000);
  m_cancel = new QPushButton("Cancel", this);
  m_cancel->setObjectName("workCancel");
  connect(m_cancel, &QPushButton::clicked, this, &CWorkDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(title);
  layout->addWidget(m_status);
  layout->addWidget(m_bar);
  layout->addWidget(m_cancel, 0, Qt::AlignRight);
  resize(420, sizeHint().height());
}

CWorkDialog::~CWorkDialog() = default;

void CWorkDialog::reject() {
  if (!m_running) return;
  m_progress.Cancel();
  m_cancel->setEnabled(false);
  m_status->setText("Stopping...");
}

void CWorkDialog::ShowProgress() {
  const std::uint64_t total = m_progress.Total(), done = m_progress.Done();
  if (total == 0) {
    m_bar->setRange(0, 0);  // busy: how much there is, is not known
  } else {
    m_bar->setRange(0, 1000);
    m_bar->setValue(static_cast<int>(std::min<std::uint64_t>(done, total) * 1000 / total));
  }
  if (!m_progress.CancelAsked()) m_status->setText(QString::fromStdString(m_progress.What()));
}

bool CWorkDialog::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::ContextMenu:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
    case QEvent::Close: {
      // Input for the dialog goes on; anything else waits for the work to end (dropped).
      auto* widget = qobject_cast<QWidget*>(watched);
      if (widget && (widget == this || isAncestorOf(widget))) break;
      if (!widget && !watched->isWidgetType() && event->type() != QEvent::Shortcut) break;
      event->ignore();
      return true;
    }
    default: break;
  }
  return QDialog::eventFilter(watched, event);
}

void CWorkDialog::Run(const std::function<void(CProgress& progress)>& work) {
  m_running = true;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  bool cursor = true;
  qApp->installEventFilter(this);
  QEventLoop loop;
  std::atomic<bool> finished{false};
  std::thread worker([&] {
    work(m_progress);
    finished = true;
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  QTimer show;
  show.setSingleShot(true);
  connect(&show, &QTimer::timeout, this, [&] {
    if (finished) return;
    QApplication::restoreOverrideCursor();
    cursor = false;
    ShowProgress();
    QDialog::show();
  });
  show.start(kShowAfterMs);
  QTimer tick;
  connect(&tick, &QTimer::timeout, this, &CWorkDialog::ShowProgress);
  tick.start(50);
  if (!finished) loop.exec();
  worker.join();
  tick.stop();
  show.stop();
  qApp->removeEventFilter(this);
  if (cursor) QApplication::restoreOverrideCursor();
  hide();
  m_running = false;
}

}  // namespace tarn::dialogs
