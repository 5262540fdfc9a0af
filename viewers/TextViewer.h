// A read-only window on a text entry (".txt", ".cfg", ".rc").
#pragma once

#include <QMainWindow>
#include <span>

class QPlainTextEdit;

namespace tarn::viewers {

// The entry's bytes as text: CR LF and lone CR become line breaks; UTF-8 when the bytes are
// valid UTF-8, otherwise one character per byte (Latin-1), so that no byte is ever dropped.
QString TextForDisplay(std::span<const std::uint8_t> bytes);

class CTextViewerView;

class CTextViewerFrame : public QMainWindow {
  Q_OBJECT
 public:
  CTextViewerFrame(const QString& text, const QString& title, QWidget* placeOver = nullptr);
  QPlainTextEdit* View() const { return m_view; }

 private:
  QPlainTextEdit* m_view;
};

}  // namespace tarn::viewers
