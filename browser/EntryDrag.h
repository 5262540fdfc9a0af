// Entries dragged out of the list or the tree. Within the window a drop moves them (copies
// with Ctrl); another Tarn window copies them, as Paste does; a file manager, or any program
// that takes file URLs, gets them exported into a temporary folder, made only when it asks.
#pragma once

#include <QMimeData>
#include <QPointer>
#include <QStringList>
#include <QUrl>
#include <functional>

namespace tarn {
class CPackObject;
}

namespace tarn::browser {

// Where dragged entries come from: what they become for another program (files exported into a
// temporary folder, made only when it asks) and for another Tarn window (a transfer stream).
// Lives as long as the window the entries are in.
class CDragSource : public QObject {
  Q_OBJECT
 public:
  using QObject::QObject;
  virtual QList<QUrl> ExportForDrag(const QStringList& paths) = 0;
  virtual QByteArray StreamForDrag(const QStringList& paths) = 0;
};

// Entries with their subtrees as a transfer stream, between Tarn windows and on the clipboard.
inline constexpr const char* kPackObjectMime = "application/x-PackObject";

class CEntryMimeData : public QMimeData {
  Q_OBJECT
 public:
  // paths: the dragged entries' archive paths.
  CEntryMimeData(CDragSource* source, QStringList paths);
  CDragSource* Source() const;
  const QStringList& Paths() const { return m_paths; }

  QStringList formats() const override;
  bool hasFormat(const QString& type) const override;

 protected:
  QVariant retrieveData(const QString& type, QMetaType preferred) const override;

 private:
  QPointer<CDragSource> m_source;
  QStringList m_paths;
  mutable QList<QUrl> m_exported;  // once asked for
  mutable QByteArray m_stream;
};

// Whether a drop can bring anything: entries, or local files and folders. Asks nothing of the
// data (which for a drag out of Tarn would make the export).
bool CanDropOnTarn(const QMimeData* mime);

// What a drop brings, taken out of its data at once (the data go when the drag ends).
struct DroppedEntries {
  enum Kind { None, Own, Stream, Files } kind = None;
  QStringList paths;           // Own: the entries' archive paths; Files: local files and folders
  QByteArray stream;           // Stream: from another Tarn window
  QPointer<CDragSource> from;  // Own: the window they were dragged from
};
DroppedEntries TakeDrop(const QMimeData* mime);

// Where a drop on a view goes: the directory under the pointer, or else fallback.
CPackObject* DropDirectory(CPackObject* under, CPackObject* fallback);

}  // namespace tarn::browser
