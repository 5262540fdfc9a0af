#pragma once

#include <QWidget>

class QTimer;
#include <vector>

#include "browser/EntryDrag.h"
#include "browser/PackModels.h"

class QCheckBox;
class QFontMetrics;
class QLabel;
class QLineEdit;
class QListView;
class QTreeView;
class QStackedWidget;
class QItemSelectionModel;
class QAbstractItemView;

namespace tarn::browser {

// What the icon styles write under an entry's icon: its name, for a match from the whole
// archive too, whose path would leave no room for it.
QString IconLabel(const QModelIndex& index);
// A name wider than width made two lines where a file manager breaks it: before its extension,
// or after a "_" or "-", when the first line then fits; else where the first line is full.
QString BrokenLabel(const QString& name, const QFontMetrics& metrics, int width);

// The entries of one directory, in one of four styles: large icons, details, small icons or
// list. The styles are two views on one model and one selection. Above them, a filter box
// narrows the rows as one types, in the directory or in the whole archive; the details header
// sorts by the column clicked (again: reversed). The style and the sort are remembered.
class CPackListView : public QWidget {
  Q_OBJECT
 public:
  enum Style { kLargeIcons = 0, kDetails = 1, kSmallIcons = 2, kList = 3 };

  explicit CPackListView(CPackListModel* model, QWidget* parent = nullptr);
  ~CPackListView() override;

  CPackListModel* ListModel() const { return m_model; }
  QItemSelectionModel* Selection() const { return m_selection; }
  CPackObject* CurrentDirectory() const { return m_model->Directory(); }
  void ShowDirectory(CPackObject* dir);

  std::vector<CPackObject*> SelectedEntries() const;
  void SelectEntries(const std::vector<CPackObject*>& entries);
  void SelectAll();
  // Selects the entries and scrolls the first into sight.
  void RevealEntries(const std::vector<CPackObject*>& entries);
  // Pictures of the entries as their icons in Large Icons and Small Icons (the setting
  // "Startup/Thumbnails", on by default).
  void SetThumbnailsShown(bool shown);
  bool ThumbnailsShown() const { return m_thumbnailsShown; }
  class CThumbnails* Thumbnails() const {
    return m_thumbnails;
  }
  // Starts renaming entry in place, as F2 does.
  void EditName(CPackObject* entry);

  int ViewType() const { return m_style; }
  void SetViewType(int style);
  QAbstractItemView* ActiveView() const;
  QListView* IconView() const { return m_icons; }
  QTreeView* DetailsView() const { return m_details; }
  bool HasFocusInside() const;
  void FocusList();
  // Focus arriving from the tree by Tab: the first row becomes current and selected when
  // nothing is selected.
  void EnterByTab();

  QLineEdit* FilterEdit() const { return m_filter; }
  QCheckBox* WholeArchiveBox() const { return m_wholeArchive; }
  // Puts the keyboard in the filter box, its text selected.
  void FocusFilter();
  void ClearFilter();
  // A message over the list saying what to do while there is nothing to show; none when empty.
  void SetEmptyHint(const QString& text);

 signals:
  void entryActivated(tarn::CPackObject* entry);
  // Entries or files dropped on target: copy when Ctrl was held.
  void dropped(const tarn::browser::DroppedEntries& drop, tarn::CPackObject* target, bool copy);
  void contextMenuWanted(const QPoint& globalPos);
  void selectionChanged();
  void focusToTree();
  // The filter is about to search the whole archive: the archives inside it may be opened first.
  void archiveSearchStarting();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* e) override;

 private:
  void FitColumns();
  void PopupAtCurrent(QAbstractItemView* view);
  // Page Up and Page Down in the icon styles: the current icon a page of rows on (the view's
  // own step is the height of an icon), the selection with it or, with extend, grown to it.
  void PageIcons(bool down, bool extend);
  void ApplyFilter();
  CPackObject* EntryAtViewportPoint(QAbstractItemView* view, const QPoint& p) const;

  CPackListModel* m_model;
  QLineEdit* m_filter;
  QCheckBox* m_wholeArchive;
  QItemSelectionModel* m_selection;
  class CThumbnails* m_thumbnails = nullptr;
  bool m_thumbnailsShown = true;
  QTimer* m_repaint = nullptr;  // thumbnails that came in, drawn together
  QStackedWidget* m_stack;
  QListView* m_icons;
  QTreeView* m_details;
  QLabel* m_emptyHint;
  int m_style = kLargeIcons;
  int m_fittedColumns = 0;
};

}  // namespace tarn::browser
