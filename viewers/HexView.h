// A read-only view of bytes: offset, up to sixteen bytes in hexadecimal, and the same bytes as
// characters, one line each. Only the lines on screen are drawn, so any size opens at once.
#pragma once

#include <QAbstractScrollArea>
#include <QByteArray>

#include "viewers/ViewerFrame.h"

namespace tarn::viewers {

// Line `line` of the view, perLine bytes a line: "00000010  41 42 ...  |AB..|", bytes outside
// 32-126 shown as ".".
QString HexLine(const QByteArray& bytes, qint64 line, int perLine = 16);
// The characters of such a line.
constexpr int HexLineChars(int perLine) { return 8 + 2 + perLine * 3 + 1 + 2 + perLine + 1; }

class CHexView : public QAbstractScrollArea {
  Q_OBJECT
 public:
  // As many as the width shows whole, down to four: a narrow pane keeps the characters in
  // sight rather than cutting them off.
  int BytesPerLine() const { return m_perLine; }
  explicit CHexView(QByteArray bytes, QWidget* parent = nullptr);
  const QByteArray& Bytes() const { return m_bytes; }
  qint64 LineCount() const;
  qint64 FirstVisibleLine() const;
  // Room for a whole line and up to 32 lines.
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;

 private:
  void UpdateScrollBars();
  void FitLine();
  int LineHeight() const;
  int LineWidth(int perLine) const;
  QByteArray m_bytes;
  int m_perLine = 16;
};

class CHexViewerFrame : public CViewerFrame {
  Q_OBJECT
 public:
  CHexViewerFrame(QByteArray bytes, const QString& title, QWidget* mainWindow = nullptr);
  CHexView* View() const { return m_view; }

 private:
  CHexView* m_view;
};

}  // namespace tarn::viewers
