#pragma once

#include <QTreeView>

#include "browser/EntryDrag.h"
#include "browser/PackModels.h"

namespace tarn::browser {

// The directory tree. Its directories can be dragged; drops (files from the desktop, entries)
// go to the directory under the pointer, or to the root when there is none; the frame acts.
class CPackTreeView : public QTreeView {
  Q_OBJECT
 public:
  explicit CPackTreeView(CPackTreeModel* model, QWidget* parent = nullptr);

  CPackTreeModel* TreeModel() const { return m_model; }
  CPackObject* SelectedDirectory() const;
  void SelectDirectory(const CPackObject* dir);
  // Starts renaming dir in place, as F2 does.
  void EditName(const CPackObject* dir);
  // Empties and refills from the root: the root expanded and selected.
  void Rebuild();

  // Paths of the expanded directories, and their expansion again after the model was reset.
  QStringList SaveExpanded() const;
  void RestoreExpanded(const QStringList& paths);
  // While set, selection changes are not passed on to the list.
  void SetRebuilding(bool rebuilding) { m_rebuilding = rebuilding; }
  bool IsRebuilding() const { return m_rebuilding; }

 signals:
  void directorySelected(tarn::CPackObject* dir);
  // Entries or files dropped on target: copy when Ctrl was held.
  void dropped(const tarn::browser::DroppedEntries& drop, tarn::CPackObject* target, bool copy);
  void contextMenuWanted(const QPoint& globalPos);
  void focusToList();

 protected:
  void dragEnterEvent(QDragEnterEvent* e) override;
  void dragMoveEvent(QDragMoveEvent* e) override;
  void dropEvent(QDropEvent* e) override;
  void contextMenuEvent(QContextMenuEvent* e) override;
  bool focusNextPrevChild(bool next) override;
  void keyPressEvent(QKeyEvent* e) override;

 private:
  void PopupAtCurrent();
  CPackTreeModel* m_model;
  bool m_rebuilding = false;
};

}  // namespace tarn::browser
