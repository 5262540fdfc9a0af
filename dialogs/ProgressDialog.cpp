#include "dialogs/ProgressDialog.h"

#include <QApplication>
#include <QEventLoop>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarn::dialogs {

CProgressDialog::CProgressDialog(QWidget* parent) : QDialog(parent) {
  setObjectName("progressDialog");
  setModal(false);
  m_status = new QLabel(this);
  m_status->setObjectName("progressStatus");
  m_text = new QLabel(this);
  m_text->setObjectName("progressText");
  m_bar = new QProgressBar(this);
  m_bar->setObjectName("progressBar");
  m_close = new QPushButton("&Close", this);
  m_close->setObjectName("progressClose");
  m_close->setEnabled(false);
  connect(m_close, &QPushButton::clicked, this, &QDialog::accept);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_status);
  layout->addWidget(m_text);
  layout->addWidget(m_bar);
  layout->addWidget(m_close, 0, Qt::AlignRight);
  resize(360, sizeHint().height());
}

void CProgressDialog::SetCaption(const QString& caption) { setWindowTitle(caption); }

void CProgressDialog::SetStatus(const QString& text) {
  m_status->setText(text);
  QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void CProgressDialog::SetText(const QString& text) { m_text->setText(text); }
void CProgressDialog::SetRange(int low, int high) {
  m_bar->setRange(low, high);
  // A fresh bar holds no value (-1), from which the first step would only reach the start.
  m_bar->setValue(low);
}
void CProgressDialog::SetPos(int pos) { m_bar->setValue(pos); }
void CProgressDialog::Step() {
  m_bar->setValue(std::min(std::max(m_bar->value(), m_bar->minimum()) + 1, m_bar->maximum()));
}
void CProgressDialog::Finish() { m_bar->setValue(m_bar->maximum()); }
int CProgressDialog::Pos() const { return m_bar->value(); }
QString CProgressDialog::Status() const { return m_status->text(); }

void CProgressDialog::WaitForClose() {
  m_close->setEnabled(true);
  // Shown again so that it becomes modal: a dialog already on screen keeps its old modality.
  hide();
  setWindowModality(Qt::ApplicationModal);
  m_close->setFocus();
  exec();
}

}  // namespace tarn::dialogs
