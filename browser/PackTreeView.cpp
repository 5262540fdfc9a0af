#include "browser/PackTreeView.h"

#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QTimer>
#include <QUrl>
#include "browser/DropPaths.h"

namespace tarn::browser {

CPackTreeView::CPackTreeView(CPackTreeModel* model, QWidget* parent) : QTreeView(parent), m_model(model) {
  setObjectName("packTree");
  setModel(model);
  setHeaderHidden(true);
  setRootIsDecorated(true);
  setUniformRowHeights(true);
  setEditTriggers(EditKeyPressed);
  setSelectionMode(SingleSelection);
  setDragDropMode(DragDrop);
  setDefaultDropAction(Qt::MoveAction);
  setAcceptDrops(true);
  setDropIndicatorShown(true);
  setSortingEnabled(false);
  connect(selectionModel(), &QItemSelectionModel::currentChanged, this, [this](const QModelIndex& current) {
    if (!m_rebuilding) emit directorySelected(m_model->EntryOf(current));
  });
}

CPackObject* CPackTreeView::SelectedDirectory() const {
  // An archive's file not yet opened is no directory to show or put things in.
  CPackObject* e = m_model->EntryOf(currentIndex());
  return e && e->IsDirectory() ? e : nullptr;
}

void CPackTreeView::SelectDirectory(const CPackObject* dir) {
  QModelIndex idx = m_model->IndexOf(dir);
  if (!idx.isValid()) return;
  for (QModelIndex p = idx.parent(); p.isValid(); p = p.parent()) expand(p);
  if (currentIndex() == idx) {
    // Make the list follow even when the selection did not move (after a rebuild, say).
    if (!m_rebuilding) emit directorySelected(m_model->EntryOf(idx));
  } else {
    setCurrentIndex(idx);
  }
  scrollTo(idx);
}

void CPackTreeView::Rebuild() {
  m_rebuilding = true;
  m_model->BeginChange();
  m_model->EndChange(m_model->Root());
  m_rebuilding = false;
  QModelIndex root = m_model->index(0, 0);
  expand(root);
  if (currentIndex() == root) emit directorySelected(m_model->Root());
  else setCurrentIndex(root);
}

QStringList CPackTreeView::SaveExpanded() const {
  QStringList paths;
  std::vector<QModelIndex> stack{m_model->index(0, 0)};
  while (!stack.empty()) {
    QModelIndex idx = stack.back();
    stack.pop_back();
    if (!idx.isValid() || !isExpanded(idx)) continue;
    paths << QString::fromStdString(FullPathOf(m_model->Document(), *m_model->EntryOf(idx)));
    for (int r = 0, n = m_model->rowCount(idx); r < n; ++r) stack.push_back(m_model->index(r, 0, idx));
  }
  return paths;
}

void CPackTreeView::RestoreExpanded(const QStringList& paths) {
  for (const QString& p : paths) {
    const CPackObject* dir = FindFullPath(m_model->Document(), m_model->Root(), p.toStdString());
    if (dir && dir->IsDirectory()) expand(m_model->IndexOf(dir));
    // An archive opened inside: its root stands for the file the path names.
    else if (CTarnDoc* doc = m_model->Document(); dir && doc)
      if (const CPackObject* inner = doc->InnerRoot(*dir)) expand(m_model->IndexOf(inner));
  }
}

void CPackTreeView::dragEnterEvent(QDragEnterEvent* e) {
  if (!CanDropOnTarn(e->mimeData())) {
    e->ignore();
    return;
  }
  QTreeView::dragEnterEvent(e);
  e->acceptProposedAction();
}

void CPackTreeView::dragMoveEvent(QDragMoveEvent* e) {
  if (!CanDropOnTarn(e->mimeData())) {
    e->ignore();
    return;
  }
  QTreeView::dragMoveEvent(e);  // draws the highlight on the item under the pointer
  e->acceptProposedAction();
}

void CPackTreeView::dropEvent(QDropEvent* e) {
  const DroppedEntries drop = TakeDrop(e->mimeData());
  setState(NoState);
  viewport()->update();
  if (drop.kind == DroppedEntries::None) return;
  CPackObject* target = DropDirectory(m_model->EntryOf(indexAt(e->position().toPoint())), m_model->Root());
  // Handled here, and said to be a copy: the dragging view must not remove anything itself.
  e->setDropAction(Qt::CopyAction);
  e->accept();
  const std::string path = FullPathOf(m_model->Document(), *target);
  const bool copy = e->modifiers() & Qt::ControlModifier;
  // Done once the drop is over, since the change resets the model.
  QTimer::singleShot(0, this, [this, path, drop, copy] {
    CPackObject* found = FindFullPath(m_model->Document(), m_model->Root(), path);
    if (found && !found->IsDirectory() && m_model->Document()) found = m_model->Document()->InnerRoot(*found);
    if (found && found->IsDirectory()) emit dropped(drop, found, copy);
  });
}

void CPackTreeView::contextMenuEvent(QContextMenuEvent* e) {
  if (e->reason() == QContextMenuEvent::Keyboard) return PopupAtCurrent();
  QModelIndex idx = indexAt(e->pos());
  if (!idx.isValid()) return;
  setCurrentIndex(idx);
  emit contextMenuWanted(e->globalPos());
}

void CPackTreeView::EditName(const CPackObject* dir) {
  const QModelIndex idx = m_model->IndexOf(dir);
  if (!idx.isValid()) return;
  setFocus(Qt::OtherFocusReason);
  scrollTo(idx);
  edit(idx);
}

void CPackTreeView::PopupAtCurrent() {
  const QModelIndex idx = currentIndex();
  if (!idx.isValid()) return;
  scrollTo(idx);
  const QRect r = visualRect(idx);
  emit contextMenuWanted(viewport()->mapToGlobal(QPoint(r.left() + r.height() / 2, r.center().y())));
}

bool CPackTreeView::focusNextPrevChild(bool) {
  emit focusToList();
  return true;
}

void CPackTreeView::keyPressEvent(QKeyEvent* e) {
  if (e->key() == Qt::Key_Tab || e->key() == Qt::Key_Backtab) {
    emit focusToList();
    return;
  }
  if (e->key() == Qt::Key_Menu || (e->key() == Qt::Key_F10 && e->modifiers() == Qt::ShiftModifier))
    return PopupAtCurrent();
  QTreeView::keyPressEvent(e);
}

}  // namespace tarn::browser
