#include "viewers/FindBar.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QShortcut>
#include <QTextCursor>
#include <QToolButton>
#include <QVBoxLayout>

namespace tarn::viewers {

CFindBar::CFindBar(QPlainTextEdit* text, QWidget* shortcutScope, QWidget* parent) : QWidget(parent), m_text(text) {
  setObjectName("findBar");
  auto* rows = new QVBoxLayout(this);
  rows->setContentsMargins(0, 0, 0, 0);
  rows->setSpacing(0);
  auto* layout = new QHBoxLayout;
  rows->addLayout(layout);
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
  m_replaceRow = new QWidget(this);
  auto* replaceLayout = new QHBoxLayout(m_replaceRow);
  replaceLayout->setContentsMargins(4, 2, 4, 2);
  auto* with = new QLabel("Replace &with:", m_replaceRow);
  m_replace = new QLineEdit(m_replaceRow);
  m_replace->setObjectName("replaceEdit");
  m_replace->installEventFilter(this);
  with->setBuddy(m_replace);
  replaceLayout->addWidget(with);
  replaceLayout->addWidget(m_replace, 1);
  auto* one = new QToolButton(m_replaceRow);
  one->setObjectName("replaceOne");
  one->setText("&Replace");
  connect(one, &QToolButton::clicked, this, &CFindBar::ReplaceOne);
  auto* all = new QToolButton(m_replaceRow);
  all->setObjectName("replaceAll");
  all->setText("Replace &All");
  connect(all, &QToolButton::clicked, this, &CFindBar::ReplaceAll);
  replaceLayout->addWidget(one);
  replaceLayout->addWidget(all);
  rows->addWidget(m_replaceRow);
  m_replaceRow->hide();
  connect(m_replace, &QLineEdit::returnPressed, this, &CFindBar::ReplaceOne);
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
  shortcut(QKeySequence(Qt::CTRL | Qt::Key_H), [this] {
    if (m_replaceable) OpenReplace();
  });
  hide();
}

void CFindBar::SetReplaceable(bool replaceable) {
  m_replaceable = replaceable;
  if (!replaceable) m_replaceRow->hide();
}

void CFindBar::OpenReplace() {
  m_replaceRow->show();
  Open();
}

bool CFindBar::ReplaceOne() {
  if (!m_replaceable || m_edit->text().isEmpty()) return false;
  QTextCursor cursor = m_text->textCursor();
  // The match found last, still selected, is replaced; otherwise the next is found first.
  if (cursor.selectedText().compare(m_edit->text(), Qt::CaseInsensitive) == 0) cursor.insertText(m_replace->text());
  return FindNext(false);
}

int CFindBar::ReplaceAll() {
  if (!m_replaceable || m_edit->text().isEmpty()) return 0;
  int n = 0;
  QTextCursor edit(m_text->document());
  edit.beginEditBlock();
  for (QTextCursor found = m_text->document()->find(m_edit->text(), 0); !found.isNull();
       found = m_text->document()->find(m_edit->text(), found)) {
    found.insertText(m_replace->text());
    ++n;
  }
  edit.endEditBlock();
  m_result->setText(n == 0 ? QString("Not found") : QString("%1 replaced").arg(n));
  return n;
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
  if ((watched == m_edit || watched == m_replace) &&
      (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress) &&
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
