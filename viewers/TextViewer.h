// A read-only window on text: the text entries (".txt", ".cfg", ".rc") and any other file whose
// bytes look like text. Ctrl+F finds, F3 finds again.
#pragma once

#include <QWidget>
#include <span>

#include "viewers/ViewerFrame.h"

class QPlainTextEdit;

namespace tarn::viewers {

class CFindBar;

// The entry's bytes as text: CR LF and lone CR become line breaks; UTF-8 when the bytes are
// valid UTF-8, otherwise one character per byte (Latin-1), so that no byte is ever dropped.
QString TextForDisplay(std::span<const std::uint8_t> bytes);

// The text with its find bar below it; embeddable anywhere.
class CTextViewerView : public QWidget {
  Q_OBJECT
 public:
  explicit CTextViewerView(const QString& text, QWidget* parent = nullptr);
  QPlainTextEdit* Text() const { return m_text; }
  CFindBar* FindBar() const { return m_find; }
  // Room for the text's longest line (up to 100 characters) and its lines (up to 40).
  QSize sizeHint() const override;

 private:
  QPlainTextEdit* m_text;
  CFindBar* m_find;
};

class CTextViewerFrame : public CViewerFrame {
  Q_OBJECT
 public:
  CTextViewerFrame(const QString& text, const QString& title, QWidget* mainWindow = nullptr);
  CTextViewerView* Viewer() const { return m_view; }
  QPlainTextEdit* View() const;

 private:
  CTextViewerView* m_view;
};

}  // namespace tarn::viewers
