#include "browser/ExtractTextures.h"

#include "archive/PackObject.h"
#include "browser/MainFrame.h"
#include "formats/EntryPictures.h"
#include "formats/MapTextures.h"
#include "shell/ProgressDialog.h"
#include "shell/WaitCursor.h"

namespace tarn::browser {

namespace {
QString Q(const std::string& s) { return QString::fromLocal8Bit(s.data(), static_cast<qsizetype>(s.size())); }
}  // namespace

void ExtractTextures(CMainFrame& frame, const std::vector<CPackObject*>& maps) {
  if (maps.empty()) return;
  std::vector<std::string> paths;
  for (CPackObject* m : maps) paths.push_back(m->PathInArchive());
  const QString out = frame.Prompter().SaveFileName(&frame, "Extract Textures",
                                                    "Wad Files (*.wad);;All Files (*.*) (*)", "Tarn", "wad");
  if (out.isEmpty()) return;

  shell::CProgressDialog progress(&frame);
  progress.SetCaption("Extract Textures");
  progress.SetRange(0, static_cast<int>(paths.size()) + 1);
  progress.show();
  std::vector<WadLump> lumps;
  QStringList problems;
  int skipped = 0;
  {
    shell::CWaitCursor wait;
    for (const std::string& path : paths) {
      // Found again by path: the file dialog ran an event loop.
      CPackObject* map = frame.Document().Root().FindByPath(path);
      if (!map) continue;
      progress.SetStatus(Q(map->Name()));
      CEntryBytes data(*map);
      if (!data.Ok()) {
        problems << Q(map->Name()) + ": its data cannot be read";
        continue;
      }
      MapTextures textures = ReadMapTextures(data.Bytes());
      for (const auto& p : textures.problems) problems << Q(map->Name()) + ": " + Q(p);
      skipped += textures.skipped;
      AddMapTextures(textures, lumps);
      progress.Step();
    }
    progress.SetStatus("Writing header information");
    std::string why;
    if (!WriteWad2File(out.toLocal8Bit().toStdString(), lumps, &why)) {
      progress.hide();
      frame.Prompter().Message(&frame, Q(why), "Error", QMessageBox::Critical);
      return;
    }
    progress.Step();
  }
  progress.Finish();
  progress.SetStatus("Done");
  progress.SetText(QString("%1 textures extracted").arg(lumps.size()));
  if (skipped)
    problems << QString("%1 textures hold no pixels (missing, or kept in an external WAD) and were skipped").arg(skipped);
  if (!problems.isEmpty())
    frame.Prompter().Message(&frame, "Some textures were not extracted:\n" + problems.join("\n"), "Extract Textures",
                             QMessageBox::Warning);
  progress.WaitForClose();
}

}  // namespace tarn::browser
