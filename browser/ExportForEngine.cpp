#include "browser/ExportForEngine.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <set>

#include "archive/PackObject.h"
#include "dialogs/Prompter.h"
#include "dialogs/Settings.h"
#include "dialogs/Text.h"
#include "dialogs/WorkDialog.h"
#include "document/TarnDoc.h"
#include "fileio/Strings.h"
#include "game/EngineArt.h"

namespace tarn::browser {

using dialogs::Q;
using dialogs::S;

CExportForEngineDialog::CExportForEngineDialog(dialogs::CPrompter& prompter, QWidget* parent)
    : QDialog(parent), m_prompter(prompter) {
  setObjectName("exportForEngineDialog");
  setWindowTitle("Export for Engine");
  auto* form = new QFormLayout(this);
  m_engine = new QComboBox(this);
  m_engine->setObjectName("engineCombo");
  for (const ArtProfile& p : ArtProfiles()) m_engine->addItem(Q(p.displayName), Q(p.name));
  m_engine->setCurrentIndex(std::clamp(dialogs::ProfileInt("Game", "ArtEngine", 0), 0, m_engine->count() - 1));
  form->addRow("&Engine:", m_engine);
  m_format = new QComboBox(this);
  m_format->setObjectName("formatCombo");
  form->addRow("&Pictures:", m_format);
  m_folder = new QLineEdit(this);
  m_folder->setObjectName("folderEdit");
  auto* browse = new QPushButton("&Browse...", this);
  browse->setObjectName("browseButton");
  auto* row = new QHBoxLayout;
  row->addWidget(m_folder);
  row->addWidget(browse);
  // A row of a layout gets no buddy of its own, and would show the '&'.
  auto* folderLabel = new QLabel("&Folder:", this);
  folderLabel->setBuddy(m_folder);
  form->addRow(folderLabel, row);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->setObjectName("buttons");
  form->addRow(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(browse, &QPushButton::clicked, this, [this] {
    const QString folder = m_prompter.ExistingDirectory(this, "Export for Engine into");
    if (!folder.isEmpty()) m_folder->setText(folder);
  });
  connect(m_engine, &QComboBox::currentIndexChanged, this, &CExportForEngineDialog::OnEngine);
  auto okOnlyWithFolder = [this, buttons] {
    buttons->button(QDialogButtonBox::Ok)->setEnabled(!m_folder->text().trimmed().isEmpty());
  };
  connect(m_folder, &QLineEdit::textChanged, this, okOnlyWithFolder);
  okOnlyWithFolder();
  OnEngine();
}

void CExportForEngineDialog::OnEngine() {
  m_format->clear();
  if (const ArtProfile* p = Engine())
    for (ImageFileFormat f : p->formats) m_format->addItem(QString(ImageFileExtension(f)).mid(1).toUpper());
}

const ArtProfile* CExportForEngineDialog::Engine() const {
  return FindArtProfile(S(m_engine->currentData().toString()));
}
int CExportForEngineDialog::FormatIndex() const { return std::max(m_format->currentIndex(), 0); }
QString CExportForEngineDialog::Folder() const { return m_folder->text().trimmed(); }

namespace {

// The files below the targets, by their paths in the archive; an entry of an archive held in
// the archive stands for the file that holds it (gfx.wad's lumps: gfx.wad), which is read whole.
std::vector<ArtFile> FilesOf(CTarnDoc& doc, const std::vector<CPackObject*>& targets) {
  std::vector<ArtFile> files;
  std::set<const CPackObject*> taken;
  auto outermost = [&](CPackObject* e) {
    for (;;) {
      const CPackObject* root = e;
      while (root->Parent()) root = root->Parent();
      CPackObject* holder = doc.HolderOf(*root);
      if (!holder) return e;
      e = holder;
    }
  };
  auto add = [&](CPackObject* e) {
    ForEachFileInSaveOrder(*e, [&](const std::string&, const CPackObject& f) {
      if (taken.insert(&f).second) files.push_back({f.PathInArchive(), const_cast<CPackObject*>(&f)});
    });
  };
  if (targets.empty()) {
    add(&doc.Root());
  } else {
    for (CPackObject* t : targets) {
      CPackObject* e = outermost(t);
      if (e->IsDirectory()) add(e);
      else if (taken.insert(e).second) files.push_back({e->PathInArchive(), e});
    }
    // The game's palette and colour map decide the colours and which of them glow.
    for (const char* p : {"gfx/palette.lmp", "gfx/colormap.lmp", "pics/colormap.pcx"})
      if (CPackObject* e = doc.Root().FindByPath(p); e && !e->IsDirectory() && taken.insert(e).second)
        files.push_back({e->PathInArchive(), e});
  }
  return files;
}

}  // namespace

void ExportForEngine(QWidget* parent, CTarnDoc& doc, dialogs::CPrompter& prompter,
                     const std::vector<CPackObject*>& targets) {
  CExportForEngineDialog dialog(prompter, parent);
  if (dialog.exec() != QDialog::Accepted) return;
  const ArtProfile* engine = dialog.Engine();
  if (!engine) return;
  for (std::size_t i = 0; i < ArtProfiles().size(); ++i)
    if (&ArtProfiles()[i] == engine) dialogs::WriteProfileInt("Game", "ArtEngine", static_cast<int>(i));
  ArtOptions options;
  options.profile = engine;
  options.format = engine->formats[static_cast<std::size_t>(
      std::min<int>(dialog.FormatIndex(), static_cast<int>(engine->formats.size()) - 1))];
  const std::string folder = S(dialog.Folder());
  const std::vector<ArtFile> files = FilesOf(doc, targets);

  ArtReport report;
  dialogs::CWorkDialog work(parent, "Exporting for " + Q(engine->displayName));
  work.Run([&](CProgress& progress) { report = ExportArt(files, options, folder, &progress); });
  QStringList lines;
  for (const std::string& p : report.problems) lines << Q(p);
  for (const std::string& r : report.refused) lines << "Refused " + Q(r);
  QString text = QString("%1 pictures, %2 files written to %3 for %4.")
                     .arg(report.pictures)
                     .arg(report.files)
                     .arg(dialog.Folder(), Q(engine->displayName));
  if (report.stopped) text = "Stopped. " + text;
  if (!lines.isEmpty()) {
    // The first few, so that the box stays on the screen.
    constexpr int kShown = 20;
    const qsizetype more = lines.size() - kShown;
    if (more > 0) lines = lines.mid(0, kShown) << QString("... and %1 more").arg(more);
    text += "\n\n" + lines.join("\n");
  }
  prompter.Message(parent, text, "Export for Engine",
                   report.problems.empty() ? QMessageBox::Information : QMessageBox::Warning);
}

}  // namespace tarn::browser
