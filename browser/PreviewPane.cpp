#include "browser/PreviewPane.h"

#include <QLabel>
#include <QVBoxLayout>

#include "archive/EntryTypes.h"
#include "archive/PackObject.h"
#include "dialogs/Text.h"
#include "document/TarnDoc.h"
#include "viewers/Previews.h"

namespace tarn::browser {

using dialogs::Q;

CPreviewPane::CPreviewPane(QWidget* parent) : QWidget(parent) {
  setObjectName("previewPane");
  m_properties = new QLabel(this);
  m_properties->setObjectName("previewProperties");
  m_properties->setTextFormat(Qt::PlainText);
  m_properties->setTextInteractionFlags(Qt::TextSelectableByMouse);
  m_properties->setWordWrap(true);
  m_layout = new QVBoxLayout(this);
  m_layout->setContentsMargins(2, 0, 0, 0);
  m_layout->addWidget(m_properties);
  ShowNothing(QString());
}

void CPreviewPane::Replace(viewers::CPreview* preview) {
  // Later, not now: the preview may be the one whose button asked for the change that
  // replaces it (an edited text saved into the archive).
  if (m_preview) {
    m_preview->disconnect(this);
    m_preview->hide();
    m_layout->removeWidget(m_preview);
    m_preview->setParent(nullptr);  // out of the pane's children at once
    m_preview->deleteLater();
  }
  m_preview = preview;
  m_layout->insertWidget(0, m_preview, 1);
  connect(m_preview, &viewers::CPreview::detailsChanged, this, &CPreviewPane::ShowProperties);
  connect(m_preview, &viewers::CPreview::changesChanged, this, &CPreviewPane::changesChanged);
  // Whatever the one before had is gone with it.
  emit changesChanged();
}

bool CPreviewPane::HasChanges() const { return m_preview->HasChanges(); }

void CPreviewPane::ShowNothing(const QString& text) {
  m_fixed.clear();
  m_shownPath.clear();
  Replace(new viewers::CMessagePreview(text, this));
  ShowProperties();
}

void CPreviewPane::ShowEntry(CPackObject& entry, const viewers::ViewContext& context) {
  QStringList lines;
  m_shownPath = Q(context.document ? context.document->FullPath(entry) : entry.PathInArchive());
  lines << "Path: " + m_shownPath;
  lines << QString("Type: ") + TypeName(TypeOf(entry.Name(), entry.IsDirectory()));
  if (!entry.IsDirectory()) {
    lines << QString("Size: %1 bytes").arg(entry.Size());
    // An entry read from the archive has its place in it; an imported or pasted one has none
    // until the archive is saved.
    if (const std::int64_t at = entry.PlaceInArchive(); at >= 0) lines << QString("Offset: %1").arg(at);
    else lines << "Offset: none yet (saved with the archive)";
  }
  if (entry.IsDamaged()) lines << "Its data lie outside the archive file and cannot be read.";
  m_fixed = lines.join('\n');
  Replace(viewers::CreatePreview(entry, context, this));
  ShowProperties();
}

void CPreviewPane::ShowProperties() {
  QString text = m_fixed;
  for (const auto& [key, value] : m_preview->Details()) {
    // The type and the size lines say these.
    if (key == "kind" || key == "size") continue;
    QString label = Q(key);
    if (!label.isEmpty()) label[0] = label[0].toUpper();
    text += "\n" + label + ": " + Q(value);
  }
  m_properties->setText(text);
  m_properties->setVisible(!text.isEmpty());
}

}  // namespace tarn::browser
