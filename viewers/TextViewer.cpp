#include "viewers/TextViewer.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStringDecoder>
#include <QTextBlock>
#include <QVBoxLayout>

#include "viewers/FindBar.h"

namespace tarn::viewers {

QString TextForDisplay(std::span<const std::uint8_t> bytes) {
  QByteArray raw(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
  raw.replace("\r\n", "\n");
  raw.replace('\r', '\n');
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = utf8.decode(raw);
  if (utf8.hasError()) text = QString::fromLatin1(raw);
  // A NUL would end the text in the editor; show it as the control picture instead.
  text.replace(QChar(0), QChar(0x2400));
  return text;
}

CTextViewerView::CTextViewerView(const QString& text, QWidget* parent) : QWidget(parent) {
  setObjectName("textViewerView");
  m_text = new QPlainTextEdit(this);
  m_text->setObjectName("textView");
  m_text->setReadOnly(true);
  // Read-only, but with a cursor that keys move, so that Find goes on from where one reads.
  m_text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  m_text->setLineWrapMode(QPlainTextEdit::NoWrap);
  m_text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  m_text->setPlainText(text);
  m_find = new CFindBar(m_text, this, this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(m_text, 1);
  layout->addWidget(m_find);
}

QSize CTextViewerView::sizeHint() const {
  const QFontMetrics metrics(m_text->font());
  int longest = 0, lines = 0;
  for (QTextBlock b = m_text->document()->begin(); b.isValid() && lines < 1000; b = b.next(), ++lines)
    longest = std::max(longest, static_cast<int>(b.length()));
  longest = std::clamp(longest, 40, 100);
  lines = std::clamp(lines, 10, 40);
  const int frame = 2 * m_text->frameWidth() + 8;
  return QSize(metrics.horizontalAdvance('M') * longest + frame + m_text->verticalScrollBar()->sizeHint().width(),
               metrics.lineSpacing() * lines + frame + m_text->horizontalScrollBar()->sizeHint().height());
}

CTextViewerFrame::CTextViewerFrame(const QString& text, const QString& title, QWidget* mainWindow)
    : CViewerFrame("Text", mainWindow) {
  setObjectName("textViewer");
  setWindowTitle(title);
  m_view = new CTextViewerView(text, this);
  setCentralWidget(m_view);
  PlaceBesideMainWindow(m_view->sizeHint());
  m_view->Text()->setFocus();
}

QPlainTextEdit* CTextViewerFrame::View() const { return m_view->Text(); }

}  // namespace tarn::viewers
