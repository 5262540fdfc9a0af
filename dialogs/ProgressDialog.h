// A small modeless window that long work reports to: a caption, a status line, a bar, and a
// "&Close" button for work that waits to be dismissed.
#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;

namespace tarn::dialogs {

class CProgressDialog : public QDialog {
  Q_OBJECT
 public:
  explicit CProgressDialog(QWidget* parent = nullptr);
  void SetCaption(const QString& caption);
  void SetStatus(const QString& text);
  void SetText(const QString& text);  // the second line
  void SetRange(int low, int high);
  void SetPos(int pos);
  void Step();
  // The bar at its end, whatever steps were skipped on the way.
  void Finish();
  int Pos() const;
  QString Status() const;
  // Enables "&Close" and waits until it is pressed.
  void WaitForClose();

 private:
  QLabel* m_status;
  QLabel* m_text;
  QProgressBar* m_bar;
  QPushButton* m_close;
};

}  // namespace tarn::dialogs
