// The wait cursor for as long as the object lives.
#pragma once

#include <QApplication>
#include <QCursor>

namespace tarn::dialogs {

class CWaitCursor {
 public:
  CWaitCursor() { QApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); }
  ~CWaitCursor() { QApplication::restoreOverrideCursor(); }
  CWaitCursor(const CWaitCursor&) = delete;
  CWaitCursor& operator=(const CWaitCursor&) = delete;
};

}  // namespace tarn::dialogs
