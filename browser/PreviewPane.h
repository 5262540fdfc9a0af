// The preview pane beside (or below) the list: the current entry shown inline by the viewers,
// and under it the entry's properties: path, type, size, where its bytes are, and what the
// preview found (picture sizes and frames, a model's counts and animations, a sound's format).
#pragma once

#include <QWidget>

#include "viewers/ViewerRegistry.h"

class QLabel;
class QVBoxLayout;

namespace tarn {
class CPackObject;
}

namespace tarn::viewers {
class CPreview;
}

namespace tarn::browser {

class CPreviewPane : public QWidget {
  Q_OBJECT
 public:
  explicit CPreviewPane(QWidget* parent = nullptr);
  // Shows the entry afresh (also when it is the one shown: it may have changed).
  void ShowEntry(CPackObject& entry, const viewers::ViewContext& context);
  // Nothing to preview: says why (nothing or several selected).
  void ShowNothing(const QString& text);
  viewers::CPreview* Preview() const { return m_preview; }
  QLabel* Properties() const { return m_properties; }
  // Text typed into the preview that the archive does not have yet (see CPreview), and the
  // path of the entry it belongs to.
  bool HasChanges() const;
  const QString& ShownPath() const { return m_shownPath; }

 signals:
  // HasChanges may answer otherwise now.
  void changesChanged();

 private:
  void Replace(viewers::CPreview* preview);
  void ShowProperties();
  viewers::CPreview* m_preview = nullptr;
  QLabel* m_properties;
  QVBoxLayout* m_layout;
  QString m_fixed;  // the properties of the entry itself, before what the preview found
  QString m_shownPath;
};

}  // namespace tarn::browser
