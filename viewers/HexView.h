// A read-only view of bytes: offset, sixteen bytes in hexadecimal, and the same bytes as
// characters, one line each. Only the lines on screen are drawn, so any size opens at once.
#pragma once

#include <QAbstractScrollArea>
#include <QByteArray>

#include "viewers/ViewerFrame.h"

namespace tarn::viewers {

// Line `line` of the view: "00000010  41 42 ...  |AB..|", bytes outside 32-126 shown as ".".
QString HexLine(const QByteArray& bytes, qint64 line);

class CHexView : public QAbstractScrollArea {
  Q_OBJECT
 public:
  static constexpr int kBytesPerLine = 16;
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
  int LineHeight() const;
  QByteArray m_bytes;
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
