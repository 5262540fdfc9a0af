#include "browser/ExtractTextures.h"

#include "archive/PackObject.h"
#include "dialogs/ProgressDialog.h"
#include "dialogs/Prompter.h"
#include "dialogs/Text.h"
#include "dialogs/WorkDialog.h"
#include "document/TarnDoc.h"
#include "maps/MapTextures.h"

namespace tarn::browser {

using dialogs::Q;

void ExtractTextures(QWidget* parent, const CTarnDoc& doc, dialogs::CPrompter& prompter,
                     const std::vector<CPackObject*>& maps) {
  if (maps.empty()) return;
  std::vector<std::string> paths;
  for (CPackObject* m : maps) paths.push_back(m->PathInArchive());
  const QString out =
      prompter.SaveFileName(parent, "Extract Textures", "Wad Files (*.wad);;All Files (*.*) (*)", "Tarn", "wad");
  if (out.isEmpty()) return;

  // Read and written on a worker; the dialog at the end waits to be closed, as it always has.
  std::vector<WadLump> lumps;
  QStringList problems;
  int skipped = 0;
  std::string why;
  bool written = false, none = false;
  dialogs::CWorkDialog work(parent, "Extracting textures");
  work.Run([&](CProgress& step) {
    std::vector<const CPackObject*> found;
    for (const std::string& path : paths)
      // Found again by path: the file dialog ran an event loop.
      if (const CPackObject* map = doc.Root().FindByPath(path)) {
        found.push_back(map);
        step.Expect(static_cast<std::uint64_t>(std::max<std::int64_t>(map->Size(), 0)));
      }
    for (const CPackObject* map : found) {
      std::vector<std::uint8_t> bytes;
      std::string readWhy;
      if (!map->CopyBytes(bytes, &readWhy)) {
        problems << Q(map->Name()) + ": its data cannot be read";
        continue;
      }
      MapTextures textures = ReadMapTextures(bytes);
      for (const auto& p : textures.problems) problems << Q(map->Name()) + ": " + Q(p);
      skipped += textures.skipped;
      AddMapTextures(textures, lumps);
      // Stopped between maps, nothing is written.
      if (!step.Advance(bytes.size(), map->Name())) return;
    }
    // A WAD of no textures is of no use to anyone, and would replace whatever file was there.
    none = lumps.empty();
    if (!none) written = WriteWad2File(out.toLocal8Bit().toStdString(), lumps, &why);
  });
  if (work.CancelAsked()) return;
  if (none) {
    if (skipped) problems << QString("%1 textures hold no pixels (missing, or kept in an external WAD)").arg(skipped);
    QString text = "No texture was extracted; " + out + " was not written.";
    if (!problems.isEmpty()) text += "\n" + problems.join("\n");
    prompter.Message(parent, text, "Extract Textures", QMessageBox::Warning);
    return;
  }
  if (!written) {
    prompter.Message(parent, Q(why), "Error", QMessageBox::Critical);
    return;
  }
  dialogs::CProgressDialog progress(parent);
  progress.SetCaption("Extract Textures");
  progress.SetRange(0, static_cast<int>(paths.size()) + 1);
  progress.show();
  progress.Finish();
  progress.SetStatus("Done");
  progress.SetText(QString("%1 textures extracted").arg(lumps.size()));
  if (skipped)
    problems
        << QString("%1 textures hold no pixels (missing, or kept in an external WAD) and were skipped").arg(skipped);
  if (!problems.isEmpty())
    prompter.Message(parent, "Some textures were not extracted:\n" + problems.join("\n"), "Extract Textures",
                     QMessageBox::Warning);
  progress.WaitForClose();
}

}  // namespace tarn::browser
