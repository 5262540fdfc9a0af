// A find bar for a text view: Ctrl+F shows it, Enter and F3 find the next match, Shift+F3 the
// previous one, searching round the end; Esc hides it. Over editable text, Ctrl+H shows it with
// a replace row. The bar lives below the text and knows nothing of the window around them.
#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QPlainTextEdit;

namespace tarn::viewers {

class CFindBar : public QWidget {
  Q_OBJECT
 public:
  // Installs its shortcuts (Ctrl+F, F3, Shift+F3) on `shortcutScope`, which holds the text.
  CFindBar(QPlainTextEdit* text, QWidget* shortcutScope, QWidget* parent = nullptr);

  QLineEdit* Edit() const { return m_edit; }
  // Shows the bar with the text's selection (if any) as the search text, ready to type.
  void Open();
  // Selects the next (or previous) match of the search text after (before) the cursor, round
  // the end of the text; false, with "Not found" on the bar, when there is none.
  bool FindNext(bool backwards = false);
  // Whether the replace row may show (the text is editable).
  void SetReplaceable(bool replaceable);
  // Shows the bar with its replace row.
  void OpenReplace();
  QLineEdit* ReplaceEdit() const { return m_replace; }
  // Replaces the selected match and finds the next; every match at once, as one undoable edit,
  // telling how many.
  bool ReplaceOne();
  int ReplaceAll();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QPlainTextEdit* m_text;
  QLineEdit* m_edit;
  QLabel* m_result;
  QWidget* m_replaceRow;
  QLineEdit* m_replace;
  bool m_replaceable = false;
};

}  // namespace tarn::viewers
