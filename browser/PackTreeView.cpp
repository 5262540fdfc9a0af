#include "browser/PackTreeView.h"

#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include "browser/DropPaths.h"
#include <QUrl>

namespace tarn::browser {

CPackTreeView::CPackTreeView(CPackTreeModel* model, QWidget* parent) : QTreeView(parent), m_model(model) {
  setObjectName("packTree");
  setModel(model);
  setHeaderHidden(true);
  setRootIsDecorated(true);
  setUniformRowHeights(true);
  setEditTriggers(NoEditTriggers);
  setSelectionMode(SingleSelection);
  setDragDropMode(DropOnly);
  setAcceptDrops(true);
  setDropIndicatorShown(true);
  setSortingEnabled(false);
  connect(selectionModel(), &QItemSelectionModel::currentChanged, this, [this](const QModelIndex& current) {
    if (!m_rebuilding) emit directorySelected(m_model->EntryOf(current));
  });
}

CPackObject* CPackTreeView::SelectedDirectory() const { return m_model->EntryOf(currentIndex()); }

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
  if (currentIndex() == root)
    emit directorySelected(m_model->Root());
  else
    setCurrentIndex(root);
}

QStringList CPackTreeView::SaveExpanded() const {
  QStringList paths;
  std::vector<QModelIndex> stack{m_model->index(0, 0)};
  while (!stack.empty()) {
    QModelIndex idx = stack.back();
    stack.pop_back();
    if (!idx.isValid() || !isExpanded(idx)) continue;
    paths << QString::fromStdString(m_model->EntryOf(idx)->PathInArchive());
    for (int r = 0, n = m_model->rowCount(idx); r < n; ++r) stack.push_back(m_model->index(r, 0, idx));
  }
  return paths;
}

void CPackTreeView::RestoreExpanded(const QStringList& paths) {
  for (const QString& p : paths) {
    const CPackObject* dir = p.isEmpty() ? m_model->Root() : m_model->Root()->FindByPath(p.toStdString());
    if (dir && dir->IsDirectory()) expand(m_model->IndexOf(dir));
  }
}

void CPackTreeView::dragEnterEvent(QDragEnterEvent* e) {
  if (LocalPaths(e->mimeData()).isEmpty()) {
    e->ignore();
    return;
  }
  QTreeView::dragEnterEvent(e);
  e->acceptProposedAction();
}

void CPackTreeView::dragMoveEvent(QDragMoveEvent* e) {
  if (LocalPaths(e->mimeData()).isEmpty()) {
    e->ignore();
    return;
  }
  QTreeView::dragMoveEvent(e);  // draws the highlight on the item under the pointer
  e->acceptProposedAction();
}

void CPackTreeView::dropEvent(QDropEvent* e) {
  QStringList paths = LocalPaths(e->mimeData());
  setState(NoState);
  viewport()->update();
  if (paths.isEmpty()) return;
  CPackObject* target = m_model->EntryOf(indexAt(e->position().toPoint()));
  e->acceptProposedAction();
  emit filesDropped(target ? target : m_model->Root(), paths);
}

void CPackTreeView::contextMenuEvent(QContextMenuEvent* e) {
  QModelIndex idx = indexAt(e->pos());
  if (!idx.isValid()) return;
  setCurrentIndex(idx);
  emit contextMenuWanted(e->globalPos());
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
  QTreeView::keyPressEvent(e);
}

}  // namespace tarn::browser
