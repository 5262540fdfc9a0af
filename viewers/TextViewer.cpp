#include "viewers/TextViewer.h"

#include <QAction>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStatusBar>
#include <QStringDecoder>
#include <QTextBlock>
#include <QVBoxLayout>

#include "dialogs/Prompter.h"
#include "viewers/FindBar.h"
#include "viewers/TextHighlighter.h"

namespace tarn::viewers {

QString TextForDisplay(std::span<const std::uint8_t> bytes, TextEncoding* how) {
  QByteArray raw(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
  TextEncoding found;
  found.crlf = raw.contains("\r\n");
  found.nul = raw.contains('\0');
  raw.replace("\r\n", "\n");
  raw.replace('\r', '\n');
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = utf8.decode(raw);
  if (utf8.hasError()) {
    text = QString::fromLatin1(raw);
    found.latin1 = true;
  }
  // A NUL would end the text in the editor; show it as the control picture instead.
  text.replace(QChar(0), QChar(0x2400));
  if (how) *how = found;
  return text;
}

bool BytesOfText(const QString& text, const TextEncoding& how, std::vector<std::uint8_t>& out, QString* why) {
  QString lines = text;
  if (how.crlf) lines.replace('\n', "\r\n");
  QByteArray bytes;
  if (how.latin1) {
    for (const QChar c : lines)
      if (c.unicode() > 0xFF) {
        if (why) *why = QString("the text was read byte for byte, and \"%1\" is no byte").arg(c);
        return false;
      }
    bytes = lines.toLatin1();
  } else {
    bytes = lines.toUtf8();
  }
  out.assign(bytes.begin(), bytes.end());
  return true;
}

CTextViewerView::CTextViewerView(const QString& text, QWidget* parent, const QString& name) : QWidget(parent) {
  setObjectName("textViewerView");
  m_text = new QPlainTextEdit(this);
  m_text->setObjectName("textView");
  m_text->setLineWrapMode(QPlainTextEdit::NoWrap);
  m_text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  m_text->setPlainText(text);
  Highlight(m_text->document(), SyntaxOf(name));
  m_find = new CFindBar(m_text, this, this);
  SetEditable(false);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(m_text, 1);
  layout->addWidget(m_find);
}

void CTextViewerView::SetEditable(bool editable) {
  m_text->setReadOnly(!editable);
  // Read-only, but with a cursor that keys move, so that Find goes on from where one reads.
  if (!editable) m_text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  else m_text->setTextInteractionFlags(Qt::TextEditorInteraction);
  m_find->SetReplaceable(editable);
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
    : CViewerFrame("Text", mainWindow), m_title(title) {
  setObjectName("textViewer");
  setWindowTitle(title);
  m_view = new CTextViewerView(text, this, title);
  setCentralWidget(m_view);
  PlaceBesideMainWindow(m_view->sizeHint());
  m_view->Text()->setFocus();
}

QPlainTextEdit* CTextViewerFrame::View() const { return m_view->Text(); }

void CTextViewerFrame::EnableEditing(const TextEncoding& how, TextSaver save, dialogs::CPrompter* prompter) {
  // Text with NUL bytes is shown with pictures of them, which would be saved as characters.
  if (how.nul || !save) return;
  m_encoding = how;
  m_save = std::move(save);
  m_prompter = prompter;
  m_view->SetEditable(true);
  auto* saveAction = new QAction("&Save to Archive", this);
  saveAction->setObjectName("textSave");
  saveAction->setShortcut(QKeySequence::Save);
  connect(saveAction, &QAction::triggered, this, &CTextViewerFrame::Save);
  AddFileAction(saveAction);
  connect(View()->document(), &QTextDocument::modificationChanged, this, &CTextViewerFrame::UpdateTitle);
}

void CTextViewerFrame::UpdateTitle() { setWindowTitle(View()->document()->isModified() ? m_title + " *" : m_title); }

bool CTextViewerFrame::Save() {
  if (!m_save) return false;
  std::vector<std::uint8_t> bytes;
  QString why;
  if (BytesOfText(View()->toPlainText(), m_encoding, bytes, &why) && m_save(bytes, &why)) {
    View()->document()->setModified(false);
    statusBar()->showMessage("Saved into the archive; Undo in the main window takes it back.", 4000);
    return true;
  }
  if (m_prompter)
    m_prompter->Message(this, "The text could not be saved: " + why + ".", "Tarn", QMessageBox::Warning,
                        QMessageBox::Ok);
  return false;
}

void CTextViewerFrame::closeEvent(QCloseEvent* e) {
  if (m_save && m_prompter && View()->document()->isModified() &&
      !MayCloseWithChanges(*m_prompter, QString("Save the changes to %1 into the archive?").arg(m_title), "Tarn",
                           [this] { return Save(); })) {
    e->ignore();
    return;
  }
  CViewerFrame::closeEvent(e);
}

}  // namespace tarn::viewers
