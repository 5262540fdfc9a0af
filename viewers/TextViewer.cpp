#include "viewers/TextViewer.h"

#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QStringDecoder>

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

CTextViewerFrame::CTextViewerFrame(const QString& text, const QString& title, QWidget* placeOver) {
  setObjectName("textViewer");
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(title);
  m_view = new QPlainTextEdit(this);
  m_view->setObjectName("textView");
  m_view->setReadOnly(true);
  m_view->setLineWrapMode(QPlainTextEdit::NoWrap);
  m_view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  m_view->setPlainText(text);
  setCentralWidget(m_view);
  if (placeOver) setGeometry(placeOver->geometry());
}

}  // namespace tarn::viewers
