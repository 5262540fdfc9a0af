// Long work on a worker thread while the window stays live: the window repaints, and after half
// a second a dialog shows how far the work got, with Cancel. Until the work ends the user's
// input reaches only that dialog, so nothing can change what the work reads.
#pragma once

#include <QDialog>
#include <atomic>
#include <functional>
#include <mutex>
#include <string>

#include "fileio/Progress.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace tarn::dialogs {

// What the work reports, kept for the dialog to show; Cancel makes it say stop.
class CWorkProgress final : public CProgress {
 public:
  void Expect(std::uint64_t units) override { m_total += units; }
  bool Advance(std::uint64_t units, std::string_view what) override;
  void Cancel() { m_cancel = true; }
  bool CancelAsked() const { return m_cancel; }
  std::uint64_t Done() const { return m_done; }
  std::uint64_t Total() const { return m_total; }
  std::string What() const;

 private:
  std::atomic<std::uint64_t> m_done{0}, m_total{0};
  std::atomic<bool> m_cancel{false};
  mutable std::mutex m_mutex;
  std::string m_what;
};

class CWorkDialog : public QDialog {
  Q_OBJECT
 public:
  // caption: what the work is ("Saving", "Importing"), the dialog's title and first line.
  CWorkDialog(QWidget* parent, const QString& caption);
  ~CWorkDialog() override;

  // Runs work on a worker thread and returns when it has ended. The work must not touch
  // widgets; what it reads must not change meanwhile (the user's input is held back).
  void Run(const std::function<void(CProgress& progress)>& work);
  // Cancel was pressed while the work ran.
  bool CancelAsked() const { return m_progress.CancelAsked(); }

  // How long work runs before the dialog shows.
  static constexpr int kShowAfterMs = 500;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void reject() override;  // Esc and the window's close button cancel

 private:
  void ShowProgress();
  CWorkProgress m_progress;
  QLabel* m_status;
  QProgressBar* m_bar;
  QPushButton* m_cancel;
  bool m_running = false;
};

}  // namespace tarn::dialogs
