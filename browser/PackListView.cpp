#include "browser/PackListView.h"

#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QScrollBar>
#include <QStackedWidget>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <unordered_set>
#include "browser/DropPaths.h"
#include "browser/Thumbnails.h"

#include "dialogs/RenameDialog.h"
#include "dialogs/Settings.h"

namespace tarn::browser {

namespace {

// The editor of a name typed in place: it opens with the base name selected. The view selects
// the whole text while it makes the editor; the base is chosen once the editor has the keyboard.
class CNameEdit : public QLineEdit {
 public:
  CNameEdit(bool directory, QWidget* parent) : QLineEdit(parent), m_directory(directory) {}

 protected:
  void focusInEvent(QFocusEvent* e) override {
    QLineEdit::focusInEvent(e);
    if (m_chosen) return;
    m_chosen = true;
    if (!m_directory) dialogs::SelectBaseName(*this);
  }

 private:
  const bool m_directory;
  bool m_chosen = false;
};

class CEntryDelegate : public QStyledItemDelegate {
 public:
  CEntryDelegate(CPackListModel* model, QObject* parent) : QStyledItemDelegate(parent), m_model(model) {}

  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex& index) const override {
    const CPackObject* e = m_model->EntryAt(index.row());
    auto* edit = new CNameEdit(e && e->IsDirectory(), parent);
    edit->setFrame(edit->style()->styleHint(QStyle::SH_ItemView_DrawDelegateFrame, nullptr, edit));
    return edit;
  }

  // In the icon styles every item fills its cell of the grid: the label has the cell's width
  // (and in Large Icons two lines) whatever the first entry's name, by which the view sizes the
  // items, happens to be.
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    const auto* icons = qobject_cast<const QListView*>(option.widget);
    if (icons && icons->gridSize().isValid()) return icons->gridSize() - QSize(4, 4);
    return QStyledItemDelegate::sizeHint(option, index);
  }

 protected:
  // A match from the whole archive shows its file's name under its icon; the path is in the
  // tooltip and the status bar. Details keeps the path, in a column wide enough for it.
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    if (!qobject_cast<const QListView*>(option->widget)) return;
    option->text = IconLabel(index);
    if (option->features & QStyleOptionViewItem::WrapText) {
      const QStyle* style = option->widget->style();
      const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, option->widget) + 1;
      // Two pixels spare: the style lays the text out in fractions of a pixel, and a name
      // measured to fill the line exactly would be cut rather than broken.
      option->text = BrokenLabel(option->text, option->fontMetrics, option->rect.width() - 2 * margin - 2);
    }
  }

 private:
  CPackListModel* m_model;
};

}  // namespace

QString IconLabel(const QModelIndex& index) { return index.data(Qt::DisplayRole).toString().section('/', -1); }

QString BrokenLabel(const QString& name, const QFontMetrics& metrics, int width) {
  if (width <= 0 || metrics.horizontalAdvance(name) <= width) return name;
  // The style breaks lines only between words, and a file's name is one word: the break is
  // put in here, before the extension or after a "_" or "-" when the first line fits so, else
  // after the last character that fits. The second line is cut by the style if it must be.
  qsizetype atSeparator = 0, atCharacter = 0;
  for (qsizetype i = 1; i < name.size(); ++i) {
    if (metrics.horizontalAdvance(name.left(i)) > width) break;
    atCharacter = i;
    const QChar before = name[i - 1];
    if (name[i] == '.' || before == '_' || before == '-' || before == ' ') atSeparator = i;
  }
  const qsizetype at = atSeparator > 0 ? atSeparator : atCharacter;
  if (at == 0) return name;
  return name.left(at) + QChar(QChar::LineSeparator) + name.mid(at);
}

CPackListView::CPackListView(CPackListModel* model, QWidget* parent) : QWidget(parent), m_model(model) {
  setObjectName("packList");
  m_filter = new QLineEdit(this);
  m_filter->setObjectName("filterEdit");
  m_filter->setPlaceholderText("Filter names (Ctrl+F): text, or * and ? as wildcards");
  m_filter->setClearButtonEnabled(true);
  m_filter->installEventFilter(this);
  m_wholeArchive = new QCheckBox("&Whole archive", this);
  m_wholeArchive->setObjectName("filterWholeArchive");
  m_wholeArchive->setToolTip("Search every directory and list the matches with their paths");
  connect(m_filter, &QLineEdit::textChanged, this, &CPackListView::ApplyFilter);
  connect(m_wholeArchive, &QCheckBox::toggled, this, &CPackListView::ApplyFilter);
  auto* bar = new QHBoxLayout;
  bar->setContentsMargins(0, 0, 0, 2);
  bar->addWidget(m_filter, 1);
  bar->addWidget(m_wholeArchive);

  m_stack = new QStackedWidget(this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addLayout(bar);
  layout->addWidget(m_stack);

  m_icons = new QListView(m_stack);
  m_icons->setObjectName("packListIcons");
  m_icons->setModel(model);
  m_icons->setUniformItemSizes(true);
  m_icons->setLayoutMode(QListView::Batched);
  m_icons->setBatchSize(2000);
  m_icons->setResizeMode(QListView::Adjust);
  m_icons->setMovement(QListView::Static);
  // In pixels in every style, so that a wheel's notch is measured the same in each.
  m_icons->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);

  m_details = new QTreeView(m_stack);
  m_details->setObjectName("packListDetails");
  m_details->setModel(model);
  m_details->setRootIsDecorated(false);
  m_details->setItemsExpandable(false);
  m_details->setUniformRowHeights(true);
  m_details->header()->setStretchLastSection(false);
  m_details->header()->setSortIndicatorShown(true);
  m_details->header()->setSectionsClickable(true);
  // Today's order (directories first, then by name) until a header is clicked.
  m_details->header()->setSortIndicator(
      std::clamp(dialogs::ProfileInt("Startup", "ListSortColumn", CPackListModel::kName), 0,
                 CPackListModel::kColumns - 1),
      dialogs::ProfileInt("Startup", "ListSortOrder", 0) == 1 ? Qt::DescendingOrder : Qt::AscendingOrder);
  m_details->setSortingEnabled(true);
  connect(m_details->header(), &QHeaderView::sortIndicatorChanged, this, [](int column, Qt::SortOrder order) {
    dialogs::WriteProfileInt("Startup", "ListSortColumn", column);
    dialogs::WriteProfileInt("Startup", "ListSortOrder", order == Qt::DescendingOrder ? 1 : 0);
  });

  m_thumbnails = new CThumbnails(this);
  m_thumbnailsShown = dialogs::ProfileInt("Startup", "Thumbnails", 1) != 0;
  model->SetThumbnails(m_thumbnails);
  // Thumbnails come one by one; the view is drawn again for a batch of them.
  m_repaint = new QTimer(this);
  m_repaint->setSingleShot(true);
  m_repaint->setInterval(30);
  connect(m_thumbnails, &CThumbnails::ready, m_repaint, [this] {
    if (!m_repaint->isActive()) m_repaint->start();
  });
  connect(m_repaint, &QTimer::timeout, this, [this] { ActiveView()->viewport()->update(); });
  m_selection = new QItemSelectionModel(model, this);
  for (QAbstractItemView* v : {static_cast<QAbstractItemView*>(m_icons), static_cast<QAbstractItemView*>(m_details)}) {
    QItemSelectionModel* own = v->selectionModel();
    v->setSelectionModel(m_selection);
    delete own;
    v->setSelectionMode(QAbstractItemView::ExtendedSelection);
    v->setSelectionBehavior(QAbstractItemView::SelectRows);
    // F2 renames in place; a click never starts an edit by chance.
    v->setEditTriggers(QAbstractItemView::EditKeyPressed);
    v->setDragDropMode(QAbstractItemView::DragDrop);
    v->setDefaultDropAction(Qt::MoveAction);
    v->setAcceptDrops(true);
    v->setDropIndicatorShown(true);
    v->setContextMenuPolicy(Qt::DefaultContextMenu);
    v->setItemDelegate(new CEntryDelegate(model, v));
    v->installEventFilter(this);
    v->viewport()->installEventFilter(this);
    connect(v, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& idx) {
      if (CPackObject* e = m_model->EntryAt(idx.row())) emit entryActivated(e);
    });
    m_stack->addWidget(v);
  }
  connect(m_selection, &QItemSelectionModel::selectionChanged, this, &CPackListView::selectionChanged);
  connect(m_model, &QAbstractItemModel::modelReset, this, &CPackListView::selectionChanged);
  // A zip's columns come and go with the archive: the widths are shared out again.
  connect(m_model, &QAbstractItemModel::modelReset, this, [this] {
    if (m_style == kDetails && m_model->columnCount() != m_fittedColumns) FitColumns();
  });

  // Over the views, not in their place: files dropped on it still reach the view below.
  m_emptyHint = new QLabel(m_stack);
  m_emptyHint->setObjectName("emptyHint");
  m_emptyHint->setAlignment(Qt::AlignCenter);
  m_emptyHint->setWordWrap(true);
  m_emptyHint->setMargin(24);
  m_emptyHint->setForegroundRole(QPalette::PlaceholderText);
  m_emptyHint->setAttribute(Qt::WA_TransparentForMouseEvents);
  m_emptyHint->hide();
  m_stack->installEventFilter(this);

  SetViewType(dialogs::ProfileInt("Startup", "ListViewStyle", kLargeIcons));
}

CPackListView::~CPackListView() { dialogs::WriteProfileInt("Startup", "ListViewStyle", m_style & 3); }

void CPackListView::ApplyFilter() {
  if (m_wholeArchive->isChecked() && !m_filter->text().isEmpty() && !m_model->SearchingArchive())
    emit archiveSearchStarting();
  // The selection stays with the entries that still show.
  const auto kept = SelectedEntries();
  m_model->SetFilter(m_filter->text(), m_wholeArchive->isChecked());
  SelectEntries(kept);
}

void CPackListView::FocusFilter() {
  m_filter->setFocus(Qt::ShortcutFocusReason);
  m_filter->selectAll();
}

void CPackListView::ClearFilter() { m_filter->clear(); }

void CPackListView::ShowDirectory(CPackObject* dir) {
  m_model->SetDirectory(dir);
  ActiveView()->scrollToTop();
}

std::vector<CPackObject*> CPackListView::SelectedEntries() const {
  // By row, whatever columns the selection covers: the icon styles select only the name cell,
  // details the whole row, and a row counts once either way.
  std::vector<int> rows;
  for (const QItemSelectionRange& range : m_selection->selection())
    for (int r = range.top(); r <= range.bottom(); ++r) rows.push_back(r);
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  std::vector<CPackObject*> out;
  out.reserve(rows.size());
  for (int r : rows)
    if (CPackObject* e = m_model->EntryAt(r)) out.push_back(e);
  return out;
}

void CPackListView::SetThumbnailsShown(bool shown) {
  m_thumbnailsShown = shown;
  dialogs::WriteProfileInt("Startup", "Thumbnails", shown ? 1 : 0);
  SetViewType(m_style);
}

void CPackListView::SelectAll() {
  const int rows = m_model->rowCount();
  if (rows == 0) return;
  m_selection->select(QItemSelection(m_model->index(0, 0), m_model->index(rows - 1, m_model->columnCount() - 1)),
                      QItemSelectionModel::ClearAndSelect);
  if (!m_selection->currentIndex().isValid())
    m_selection->setCurrentIndex(m_model->index(0, 0), QItemSelectionModel::NoUpdate);
}

void CPackListView::EditName(CPackObject* entry) {
  const int row = m_model->RowOf(entry);
  if (row < 0) return;
  const QModelIndex idx = m_model->index(row, CPackListModel::kName);
  QAbstractItemView* view = ActiveView();
  view->setFocus(Qt::OtherFocusReason);
  m_selection->setCurrentIndex(idx, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  view->scrollTo(idx);
  view->edit(idx);
}

void CPackListView::SelectEntries(const std::vector<CPackObject*>& entries) {
  if (entries.empty()) {
    m_selection->clearSelection();
    return;
  }
  std::unordered_set<const CPackObject*> wanted(entries.begin(), entries.end());
  QItemSelection sel;
  QModelIndex first;
  for (int r = 0, n = m_model->rowCount(); r < n; ++r) {
    if (!wanted.count(m_model->EntryAt(r))) continue;
    QModelIndex idx = m_model->index(r, 0);
    if (!first.isValid()) first = idx;
    sel.select(idx, m_model->index(r, 1));
  }
  m_selection->select(sel, QItemSelectionModel::ClearAndSelect);
  if (first.isValid()) m_selection->setCurrentIndex(first, QItemSelectionModel::NoUpdate);
}

void CPackListView::RevealEntries(const std::vector<CPackObject*>& entries) {
  SelectEntries(entries);
  const QModelIndex current = m_selection->currentIndex();
  if (current.isValid() && m_selection->isSelected(current)) ActiveView()->scrollTo(current);
}

QAbstractItemView* CPackListView::ActiveView() const {
  return m_style == kDetails ? static_cast<QAbstractItemView*>(m_details) : static_cast<QAbstractItemView*>(m_icons);
}

bool CPackListView::HasFocusInside() const { return m_icons->hasFocus() || m_details->hasFocus(); }

void CPackListView::FocusList() { ActiveView()->setFocus(Qt::OtherFocusReason); }

void CPackListView::EnterByTab() {
  // The view would make the first row current without selecting it, and the first Down would
  // then skip it: select it, so that what is current is what the commands act on.
  if (m_selection->selection().isEmpty() && m_model->rowCount() > 0) {
    const QModelIndex first = m_model->index(0, 0);
    m_selection->setCurrentIndex(first, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  }
  ActiveView()->setFocus(Qt::TabFocusReason);
}

void CPackListView::SetViewType(int style) {
  style &= 3;
  const bool hadFocus = HasFocusInside();
  m_style = style;
  switch (style) {
    case kLargeIcons: {
      m_icons->setViewMode(QListView::IconMode);
      // Room for a texture to be told from its neighbours when thumbnails are on, and for a
      // label of two lines below it.
      const int side = m_thumbnailsShown ? 64 : 32;
      m_icons->setIconSize(QSize(side, side));
      m_icons->setGridSize(QSize(m_thumbnailsShown ? 100 : 96, side + 2 * m_icons->fontMetrics().lineSpacing() + 14));
      m_icons->setWordWrap(true);
      m_icons->setFlow(QListView::LeftToRight);
      m_icons->setWrapping(true);
      break;
    }
    case kSmallIcons:
      m_icons->setViewMode(QListView::ListMode);
      m_icons->setIconSize(QSize(16, 16));
      m_icons->setGridSize(QSize(160, 20));
      m_icons->setWordWrap(false);
      m_icons->setFlow(QListView::LeftToRight);
      m_icons->setWrapping(true);
      break;
    case kList:
      m_icons->setViewMode(QListView::ListMode);
      m_icons->setIconSize(QSize(16, 16));
      m_icons->setGridSize(QSize());
      m_icons->setWordWrap(false);
      m_icons->setFlow(QListView::TopToBottom);
      m_icons->setWrapping(true);
      break;
    default: break;
  }
  m_icons->setMovement(QListView::Static);
  m_icons->setUniformItemSizes(true);
  m_thumbnails->SetSide(!m_thumbnailsShown || style == kDetails || style == kList ? 0 : m_icons->iconSize().width());
  m_stack->setCurrentWidget(ActiveView());
  m_emptyHint->raise();
  if (style == kDetails) FitColumns();
  if (hadFocus) FocusList();
}

void CPackListView::SetEmptyHint(const QString& text) {
  m_emptyHint->setText(text);
  m_emptyHint->setGeometry(m_stack->rect());
  m_emptyHint->setVisible(!text.isEmpty());
  m_emptyHint->raise();
}

void CPackListView::FitColumns() {
  // Half for the name, a fifth for the size, the rest for the type; with a Source column, a
  // third for the name and the source each; with a zip's columns, a third for the name.
  const int width = m_details->viewport()->width();
  m_fittedColumns = m_model->columnCount();
  if (m_model->ShowsZipColumns()) {
    m_details->setColumnWidth(CPackListModel::kName, width / 3);
    m_details->setColumnWidth(CPackListModel::kSize, width / 10);
    m_details->setColumnWidth(CPackListModel::kType, width / 6);
    m_details->setColumnWidth(CPackListModel::kPacked, width / 10);
    m_details->setColumnWidth(CPackListModel::kMethod, width / 10);
    m_details->setColumnWidth(CPackListModel::kDate, width - width / 3 - 3 * (width / 10) - width / 6);
    return;
  }
  if (m_model->columnCount() > CPackListModel::kSource) {
    m_details->setColumnWidth(CPackListModel::kName, width / 3);
    m_details->setColumnWidth(CPackListModel::kSize, width / 8);
    m_details->setColumnWidth(CPackListModel::kType, width / 5);
    m_details->setColumnWidth(CPackListModel::kSource, width - width / 3 - width / 8 - width / 5);
    return;
  }
  m_details->setColumnWidth(CPackListModel::kName, width / 2);
  m_details->setColumnWidth(CPackListModel::kSize, width / 5);
  m_details->setColumnWidth(CPackListModel::kType, width - width / 2 - width / 5);
}

void CPackListView::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  if (m_style == kDetails) FitColumns();
}

void CPackListView::PageIcons(bool down, bool extend) {
  const int count = m_model->rowCount();
  if (count == 0) return;
  // A page is as many rows of icons as the view shows whole, each as many icons as fit across.
  const QModelIndex first = m_model->index(0, 0);
  const int top = m_icons->visualRect(first).top();
  int across = 1;
  while (across < count && m_icons->visualRect(m_model->index(across, 0)).top() == top) ++across;
  const int rowHeight = std::max(m_icons->gridSize().height(), 1);
  const int rows = std::max(1, m_icons->viewport()->height() / rowHeight);
  QModelIndex current = m_selection->currentIndex();
  if (!current.isValid()) current = first;
  const int to = std::clamp(current.row() + (down ? 1 : -1) * rows * across, 0, count - 1);
  const QModelIndex target = m_model->index(to, 0);
  if (extend) {
    const int from = std::min(current.row(), to), upto = std::max(current.row(), to);
    m_selection->select(QItemSelection(m_model->index(from, 0), m_model->index(upto, 0)),
                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
    m_selection->setCurrentIndex(target, QItemSelectionModel::NoUpdate);
  } else {
    m_selection->setCurrentIndex(target, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  }
  // The view moves by the page too, as the current icon does, rather than just enough to show it.
  QScrollBar* bar = m_icons->verticalScrollBar();
  bar->setValue(bar->value() + (down ? 1 : -1) * rows * rowHeight);
  m_icons->scrollTo(target);
}

CPackObject* CPackListView::EntryAtViewportPoint(QAbstractItemView* view, const QPoint& p) const {
  QModelIndex idx = view->indexAt(p);
  return idx.isValid() ? m_model->EntryAt(idx.row()) : nullptr;
}

void CPackListView::PopupAtCurrent(QAbstractItemView* view) {
  QModelIndex idx = view->currentIndex();
  if (!idx.isValid() || !m_selection->isSelected(idx)) {
    const QModelIndexList rows = m_selection->selectedRows();
    idx = rows.isEmpty() ? QModelIndex() : rows.front();
  }
  if (!idx.isValid()) return;  // nothing to act on, as a click beside the rows
  view->scrollTo(idx);
  const QRect r = view->visualRect(idx);
  emit contextMenuWanted(view->viewport()->mapToGlobal(QPoint(r.left() + r.height() / 2, r.center().y())));
}

bool CPackListView::eventFilter(QObject* watched, QEvent* event) {
  if (watched == m_stack) {
    if (event->type() == QEvent::Resize) m_emptyHint->setGeometry(m_stack->rect());
    return false;
  }
  if (watched == m_filter) {
    // Esc clears a filter (before the window's own Esc, Stop Sound); Down and Enter go on to
    // the rows.
    if (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress) {
      auto* k = static_cast<QKeyEvent*>(event);
      if (k->key() == Qt::Key_Escape && !m_filter->text().isEmpty()) {
        event->accept();
        if (event->type() == QEvent::KeyPress) m_filter->clear();
        return event->type() == QEvent::KeyPress;
      }
      if (event->type() == QEvent::KeyPress &&
          (k->key() == Qt::Key_Down || k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter)) {
        EnterByTab();
        return true;
      }
    }
    return QWidget::eventFilter(watched, event);
  }
  QAbstractItemView* view = nullptr;
  for (QAbstractItemView* v : {static_cast<QAbstractItemView*>(m_icons), static_cast<QAbstractItemView*>(m_details)})
    if (watched == v || watched == v->viewport()) view = v;
  if (!view) return QWidget::eventFilter(watched, event);

  switch (event->type()) {
    case QEvent::KeyPress: {
      // Keys an in-place editor leaves (Enter that ends a rename) are its own, not the list's.
      if (QWidget* f = QApplication::focusWidget(); f && f != view && view->isAncestorOf(f)) break;
      auto* k = static_cast<QKeyEvent*>(event);
      if (k->key() == Qt::Key_Tab || k->key() == Qt::Key_Backtab) {
        emit focusToTree();
        return true;
      }
      // The keyboard's ways to a context menu: the Menu key and Shift+F10, at the current row.
      if (k->key() == Qt::Key_Menu || (k->key() == Qt::Key_F10 && k->modifiers() == Qt::ShiftModifier)) {
        PopupAtCurrent(view);
        return true;
      }
      if ((k->key() == Qt::Key_PageDown || k->key() == Qt::Key_PageUp) && view == m_icons &&
          (m_style == kLargeIcons || m_style == kSmallIcons)) {
        PageIcons(k->key() == Qt::Key_PageDown, k->modifiers() & Qt::ShiftModifier);
        return true;
      }
      if ((k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) && k->modifiers() == Qt::NoModifier) {
        auto selected = SelectedEntries();
        if (selected.size() == 1) emit entryActivated(selected.front());
        return true;
      }
      break;
    }
    case QEvent::ContextMenu: {
      auto* c = static_cast<QContextMenuEvent*>(event);
      if (c->reason() == QContextMenuEvent::Keyboard) {
        PopupAtCurrent(view);
        return true;
      }
      if (watched != view->viewport()) break;
      QModelIndex idx = view->indexAt(c->pos());
      if (!idx.isValid()) return true;
      m_selection->select(idx, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
      m_selection->setCurrentIndex(idx, QItemSelectionModel::NoUpdate);
      view->setFocus(Qt::MouseFocusReason);
      emit contextMenuWanted(c->globalPos());
      return true;
    }
    case QEvent::DragEnter:
    case QEvent::DragMove: {
      auto* d = static_cast<QDragMoveEvent*>(event);
      if (!CanDropOnTarn(d->mimeData())) {
        d->ignore();
        return true;
      }
      break;  // the view highlights the row under the pointer
    }
    case QEvent::Drop: {
      if (watched != view->viewport()) break;
      auto* d = static_cast<QDropEvent*>(event);
      const DroppedEntries drop = TakeDrop(d->mimeData());
      CPackObject* target = DropDirectory(EntryAtViewportPoint(view, d->position().toPoint()), m_model->Directory());
      if (drop.kind == DroppedEntries::None || !target) return true;
      const bool copy = d->modifiers() & Qt::ControlModifier;
      // Handled here, and said to be a copy: the dragging view must not remove anything itself.
      d->setDropAction(Qt::CopyAction);
      d->accept();
      // Done after the view has finished with the drop, since the change resets the model; the
      // target is found again by its path in case the tree changed meanwhile.
      // Through the archives opened inside the document when there is one.
      const CTarnDoc* doc = m_model->Document();
      const std::string path = FullPathOf(doc, *target);
      QTimer::singleShot(0, this, [this, doc, path, drop, copy] {
        CPackObject* dir = m_model->Directory();
        if (!dir) return;
        CPackObject* root = doc ? const_cast<CPackObject*>(&doc->Root()) : dir->Root();
        CPackObject* found = FindFullPath(doc, root, path);
        if (found && !found->IsDirectory() && doc) found = doc->InnerRoot(*found);
        if (found && found->IsDirectory()) emit dropped(drop, found, copy);
      });
      view->viewport()->update();
      return true;
    }
    case QEvent::Wheel: {
      if (watched != view->viewport() || view != m_icons || (m_style != kLargeIcons && m_style != kSmallIcons)) break;
      // Qt steps a few pixels a notch here; a file manager steps a row of icons, so that a
      // texture WAD is crossed in a few dozen notches rather than thousands.
      auto* w = static_cast<QWheelEvent*>(event);
      if (w->modifiers() & Qt::ControlModifier) break;
      const int row = std::max(m_icons->gridSize().height(), 1);
      const int pixels = !w->pixelDelta().isNull() ? w->pixelDelta().y() : w->angleDelta().y() * row / 120;
      if (pixels == 0) break;
      QScrollBar* bar = m_icons->verticalScrollBar();
      bar->setValue(bar->value() - pixels);
      w->accept();
      return true;
    }
    default: break;
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace tarn::browser
