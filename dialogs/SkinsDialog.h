// Asks which pictures to use as a model's skins: PCX entries of the archive (listed), and PCX
// files from disk (added with "From &Disk...").
#pragma once

#include <QDialog>

class QListWidget;

namespace tarn::dialogs {

class CSkinsDialog : public QDialog {
  Q_OBJECT
 public:
  CSkinsDialog(const QStringList& entries, QWidget* parent = nullptr);
  // The selected archive paths, and the selected disk files.
  QStringList Entries() const;
  QStringList Files() const;
  QListWidget* List() const { return m_list; }
  // Adds disk files to the list, selected.
  void AddFiles(const QStringList& files);

 private:
  QStringList Selected(bool files) const;
  QListWidget* m_list;
};

}  // namespace tarn::dialogs
