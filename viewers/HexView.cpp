#include "viewers/HexView.h"

#include <QFontDatabase>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>

namespace tarn::viewers {

namespace {

constexpr int kMargin = 4;
constexpr int kMostPerLine = 16;
constexpr int kFewestPerLine = 4;

}  // namespace

QString HexLine(const QByteArray& bytes, qint64 line, int perLine) {
  const qint64 start = line * perLine;
  static const char kDigits[] = "0123456789abcdef";
  QString text = QString("%1  ").arg(start, 8, 16, QChar('0'));
  QString chars;
  for (int i = 0; i < perLine; ++i) {
    if (i == perLine / 2) text += ' ';
    if (start + i < bytes.size()) {
      const auto b = static_cast<unsigned char>(bytes[start + i]);
      text += QChar(kDigits[b >> 4]);
      text += QChar(kDigits[b & 15]);
      text += ' ';
      chars += b >= 32 && b < 127 ? QChar(b) : QChar('.');
    } else {
      text += "   ";
    }
  }
  return text + " |" + chars + "|";
}

CHexView::CHexView(QByteArray bytes, QWidget* parent) : QAbstractScrollArea(parent), m_bytes(std::move(bytes)) {
  setObjectName("hexView");
  setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  setFocusPolicy(Qt::StrongFocus);
  UpdateScrollBars();
}

qint64 CHexView::LineCount() const { return (m_bytes.size() + m_perLine - 1) / m_perLine; }

qint64 CHexView::FirstVisibleLine() const { return verticalScrollBar()->value(); }

int CHexView::LineHeight() const { return fontMetrics().lineSpacing(); }

QSize CHexView::sizeHint() const {
  const int lines = static_cast<int>(std::clamp<qint64>(LineCount(), 4, 32));
  return QSize(fontMetrics().horizontalAdvance(QString(HexLineChars(kMostPerLine), 'M')) + 2 * kMargin +
                   2 * frameWidth() + verticalScrollBar()->sizeHint().width(),
               lines * LineHeight() + 2 * kMargin + 2 * frameWidth());
}

int CHexView::LineWidth(int perLine) const {
  return fontMetrics().horizontalAdvance(QString(HexLineChars(perLine), 'M')) + 2 * kMargin;
}

void CHexView::FitLine() {
  const qint64 top = FirstVisibleLine() * m_perLine;
  m_perLine = kMostPerLine;
  while (m_perLine > kFewestPerLine && LineWidth(m_perLine) > viewport()->width()) m_perLine /= 2;
  UpdateScrollBars();
  verticalScrollBar()->setValue(static_cast<int>(top / m_perLine));  // the same bytes stay on top
}

void CHexView::UpdateScrollBars() {
  const int visible = std::max(1, (viewport()->height() - 2 * kMargin) / LineHeight());
  // A scroll bar counts in int; the lines of any entry an archive can hold fit.
  verticalScrollBar()->setRange(0, static_cast<int>(std::max<qint64>(0, LineCount() - visible)));
  verticalScrollBar()->setPageStep(visible);
  verticalScrollBar()->setSingleStep(1);
  const int width = LineWidth(m_perLine);
  horizontalScrollBar()->setRange(0, std::max(0, width - viewport()->width()));
  horizontalScrollBar()->setPageStep(viewport()->width());
}

void CHexView::resizeEvent(QResizeEvent* e) {
  QAbstractScrollArea::resizeEvent(e);
  FitLine();
}

void CHexView::paintEvent(QPaintEvent*) {
  QPainter p(viewport());
  p.fillRect(viewport()->rect(), palette().base());
  p.setPen(palette().text().color());
  const int height = LineHeight();
  const int ascent = fontMetrics().ascent();
  const int x = kMargin - horizontalScrollBar()->value();
  qint64 line = FirstVisibleLine();
  for (int y = kMargin; y < viewport()->height() && line < LineCount(); y += height, ++line)
    p.drawText(x, y + ascent, HexLine(m_bytes, line, m_perLine));
}

void CHexView::keyPressEvent(QKeyEvent* e) {
  QScrollBar* bar = verticalScrollBar();
  switch (e->key()) {
    case Qt::Key_Up: bar->triggerAction(QAbstractSlider::SliderSingleStepSub); break;
    case Qt::Key_Down: bar->triggerAction(QAbstractSlider::SliderSingleStepAdd); break;
    case Qt::Key_PageUp: bar->triggerAction(QAbstractSlider::SliderPageStepSub); break;
    case Qt::Key_PageDown: bar->triggerAction(QAbstractSlider::SliderPageStepAdd); break;
    case Qt::Key_Home: bar->triggerAction(QAbstractSlider::SliderToMinimum); break;
    case Qt::Key_End: bar->triggerAction(QAbstractSlider::SliderToMaximum); break;
    default: QAbstractScrollArea::keyPressEvent(e); return;
  }
}

CHexViewerFrame::CHexViewerFrame(QByteArray bytes, const QString& title, QWidget* mainWindow)
    : CViewerFrame("Hex", mainWindow) {
  setObjectName("hexViewer");
  setWindowTitle(title);
  m_view = new CHexView(std::move(bytes), this);
  setCentralWidget(m_view);
  PlaceBesideMainWindow(m_view->sizeHint());
  m_view->setFocus();
}

}  // namespace tarn::viewers
