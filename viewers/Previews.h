// The preview pane's view of one entry, one kind each: pictures (at their own size, zoomed with
// Ctrl+wheel, or fitted), models (read on a worker thread, then framed and animating), sounds
// (what they are, Play and Stop), text, and bytes. None of them blocks for long; each tells what
// it found (as `tarn-pak info` says it) for the properties under it.
#pragma once

#include <QImage>
#include <QWidget>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "formats/EntryInfo.h"
#include "pictures/EntryPictures.h"
#include "viewers/TextViewer.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QScrollArea;
class QStackedLayout;
class QTimer;

namespace tarn {
class CPackObject;
}

namespace tarn::viewers {

class CBitmapViewerView;
class CGLView;
class CSoundPlayer;

class CPreview : public QWidget {
  Q_OBJECT
 public:
  using QWidget::QWidget;
  // What the preview found of the entry: picture sizes, a model's counts, a sound's format.
  const InfoLines& Details() const { return m_details; }
  // Changes made in the preview (typed text) that the archive does not have yet.
  virtual bool HasChanges() const { return false; }
  // Puts them into the archive; false, with the reason, when it cannot (they stay).
  virtual bool SaveChanges(QString* /*why*/) { return true; }
  // Lets them go: what the archive holds stands.
  virtual void DropChanges() {}

 signals:
  void detailsChanged();
  // HasChanges may answer otherwise now.
  void changesChanged();

 protected:
  void SetDetails(InfoLines details);

 private:
  InfoLines m_details;
};

// Why nothing better can be shown (a damaged entry, say), or what there is instead.
class CMessagePreview : public CPreview {
  Q_OBJECT
 public:
  CMessagePreview(const QString& text, QWidget* parent);
};

// An archive inside the archive: the files it holds, by path, with their sizes, as the list
// would show them once it is gone into.
struct ListedFile {
  std::string path;
  std::int64_t size = 0;
};
class CArchivePreview : public CPreview {
  Q_OBJECT
 public:
  CArchivePreview(const std::vector<ListedFile>& files, const QString& format, QWidget* parent);
};

class CPicturePreview : public CPreview {
  Q_OBJECT
 public:
  CPicturePreview(PictureSet pictures, QWidget* parent);
  CBitmapViewerView* View() const { return m_view; }
  QCheckBox* FitBox() const { return m_fit; }
  // Zooms by steps of two, from an eighth to 32 times (leaving Fit).
  void ZoomBy(int steps);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void SetFit(bool fit);
  void ShowZoom();
  std::vector<QImage> m_images;
  CBitmapViewerView* m_view;
  QScrollArea* m_scroll;
  QCheckBox* m_fit;
  QLabel* m_zoom;
};

class CModelPreview : public CPreview {
  Q_OBJECT
 public:
  CModelPreview(const CPackObject& entry, QWidget* parent);
  ~CModelPreview() override;
  // Nothing until the worker is done.
  CGLView* View() const { return m_view; }
  bool Loading() const;
  QComboBox* AnimationBox() const { return m_animations; }

 private:
  struct Load;
  void Poll();
  std::shared_ptr<Load> m_load;
  QStackedLayout* m_pages;
  QLabel* m_message;
  CGLView* m_view = nullptr;
  QComboBox* m_animations = nullptr;
  QTimer* m_poll;
};

// A map from its start point, drawn as the map window draws it, with its facts.
class CMapView;
class CMapPreview : public CPreview {
  Q_OBJECT
 public:
  // lookup finds the map's other files (Quake II's textures) in its archive.
  CMapPreview(std::span<const std::uint8_t> bytes,
              const std::function<bool(const std::string&, std::vector<std::uint8_t>&)>& lookup, QWidget* parent);
  CMapView* View() const { return m_view; }

 private:
  CMapView* m_view = nullptr;
};

class CLoopEditor;
class CSoundPreview : public CPreview {
  Q_OBJECT
 public:
  // save puts the wave back into the archive when its loop is saved; none where it may not change.
  CSoundPreview(CPackObject& entry, CSoundPlayer& player, TextSaver save, QWidget* parent);
  // The waveform and loop; none for a sound that could not be read.
  CLoopEditor* Editor() const { return m_editor; }

 private:
  void Follow();
  CPackObject& m_entry;
  CSoundPlayer& m_player;
  QPushButton* m_play;
  QPushButton* m_stop;
  CLoopEditor* m_editor = nullptr;
};

// Text with the viewer's line ends, or the bytes in hexadecimal; of a large entry only its
// beginning, saying so.
class CTextPreview : public CPreview {
  Q_OBJECT
 public:
  // name chooses the text's colouring.
  CTextPreview(const std::vector<std::uint8_t>& bytes, bool asText, std::uint64_t whole, QWidget* parent,
               const QString& name = QString());
  static constexpr std::size_t kShownBytes = 1 << 20;
  // An "Edit" toggle for text shown whole, whose changes save goes back into the archive with.
  void OfferEditing(TextSaver save);
  bool HasChanges() const override;
  bool SaveChanges(QString* why) override;
  void DropChanges() override;

 private:
  CTextViewerView* m_text = nullptr;
  TextEncoding m_encoding;
  bool m_whole = false;
  TextSaver m_save;
  QLabel* m_editStatus = nullptr;
};

}  // namespace tarn::viewers
