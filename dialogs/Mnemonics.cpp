#include "dialogs/Mnemonics.h"

#include <QAbstractButton>
#include <QMenu>
#include <QMessageBox>
#include <QSet>

namespace tarn::dialogs {

namespace {

// The letter marked in text ("Save &As" gives 'a'), or none.
QChar Marked(const QString& text) {
  for (qsizetype i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != '&') continue;
    if (text[i + 1] != '&') return text[i + 1].toLower();
    ++i;  // "&&" is a plain '&'
  }
  return {};
}

}  // namespace

QStringList WithMnemonics(const QStringList& texts) {
  QSet<QChar> used;
  for (const QString& t : texts)
    if (const QChar c = Marked(t); !c.isNull()) used.insert(c);
  QStringList out;
  for (const QString& t : texts) {
    QString marked = t;
    if (Marked(t).isNull()) {
      // Before a tab comes the text; after it the shortcut, which is not the item's to give.
      const qsizetype end = t.contains('\t') ? t.indexOf('\t') : t.size();
      for (qsizetype i = 0; i < end; ++i) {
        if (!t[i].isLetterOrNumber() || used.contains(t[i].toLower())) continue;
        used.insert(t[i].toLower());
        marked.insert(i, '&');
        break;
      }
    }
    out << marked;
  }
  return out;
}

void GiveMnemonics(QMenu& menu) {
  QList<QAction*> items;
  QStringList texts;
  for (QAction* a : menu.actions())
    if (!a->isSeparator()) items << a, texts << a->text();
  const QStringList marked = WithMnemonics(texts);
  for (qsizetype i = 0; i < items.size(); ++i)
    if (items[i]->text() != marked[i]) items[i]->setText(marked[i]);
}

void GiveMnemonics(QMessageBox& box) {
  const QList<QAbstractButton*> buttons = box.buttons();
  QStringList texts;
  for (const QAbstractButton* b : buttons) texts << b->text();
  const QStringList marked = WithMnemonics(texts);
  for (qsizetype i = 0; i < buttons.size(); ++i) buttons[i]->setText(marked[i]);
}

}  // namespace tarn::dialogs
