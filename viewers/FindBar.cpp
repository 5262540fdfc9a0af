#include "viewers/FindBar.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QShortcut>
#include <QTextCursor>
#include <QToolButton>

namespace tarn::viewers {

CFindBar::CFindBar(QPlainTextEdit* text, QWidget* shortcutScope, QWidget* parent) : QWidget(parent), m_text(text) {
  setObjectName("findBar");
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(4, 2, 4, 2);
  layout->addWidget(new QLabel("Find:", this));
  m_edit = new QLineEdit(this);
  m_edit->setObjectName("findEdit");
  m_edit->setClearButtonEnabled(true);
  m_edit->installEventFilter(this);
  layout->addWidget(m_edit, 1);
  auto button = [&](const char* name, const QString& label, const QString& tip, bool backwards) {
    auto* b = new QToolButton(this);
    b->setObjectName(name);
    b->setText(label);
    b->setToolTip(tip);
    connect(b, &QToolButton::clicked, this, [this, backwards] { FindNext(backwards); });
    layout->addWidget(b);
  };
  button("findPrevious", "Previous", "Find Previous (Shift+F3)", true);
  button("findNext", "Next", "Find Next (F3)", false);
  m_result = new QLabel(this);
  m_result->setObjectName("findResult");
  layout->addWidget(m_result);
  connect(m_edit, &QLineEdit::returnPressed, this, [this] { FindNext(false); });
  connect(m_edit, &QLineEdit::textChanged, m_result, &QLabel::clear);

  auto shortcut = [&](const QKeySequence& key, auto slot) {
    auto* s = new QShortcut(key, shortcutScope);
    s->setContext(Qt::WindowShortcut);
    connect(s, &QShortcut::activated, this, slot);
  };
  shortcut(QKeySequence::Find, [this] { Open(); });
  shortcut(QKeySequence(Qt::Key_F3), [this] {
    if (m_edit->text().isEmpty()) Open();
    else FindNext(false);
  });
  shortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3), [this] { FindNext(true); });
  hide();
}

void CFindBar::Open() {
  const QString selected = m_text->textCursor().selectedText();
  if (!selected.isEmpty() && !selected.contains(QChar::ParagraphSeparator)) m_edit->setText(selected);
  show();
  m_edit->setFocus(Qt::ShortcutFocusReason);
  m_edit->selectAll();
}

bool CFindBar::FindNext(bool backwards) {
  const QString needle = m_edit->text();
  if (needle.isEmpty()) return false;
  const QTextDocument::FindFlags flags = backwards ? QTextDocument::FindBackward : QTextDocument::FindFlags();
  QTextCursor found = m_text->document()->find(needle, m_text->textCursor(), flags);
  if (found.isNull()) {
    // Round the end: from the other end of the text.
    QTextCursor from(m_text->document());
    if (backwards) from.movePosition(QTextCursor::End);
    found = m_text->document()->find(needle, from, flags);
  }
  if (found.isNull()) {
    m_result->setText("Not found");
    return false;
  }
  m_result->clear();
  m_text->setTextCursor(found);
  m_text->ensureCursorVisible();
  return true;
}

bool CFindBar::eventFilter(QObject* watched, QEvent* event) {
  // Esc in the bar hides the bar; it must not reach the window, where it closes the viewer.
  if (watched == m_edit && (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress) &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
    event->accept();
    if (event->type() == QEvent::KeyPress) {
      hide();
      m_text->setFocus(Qt::OtherFocusReason);
    }
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace tarn::viewers
