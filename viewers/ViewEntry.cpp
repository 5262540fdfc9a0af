#include "viewers/ViewEntry.h"

#include "archive/PackObject.h"
#include "archive/PakFormat.h"
#include "browser/MainFrame.h"
#include "formats/EntryPictures.h"
#include "shell/WaitCursor.h"
#include "viewers/BitmapViewer.h"
#include "viewers/GLFrame.h"
#include "viewers/Sound.h"
#include "viewers/TextViewer.h"

namespace tarn::viewers {

namespace {

QString Q(const std::string& s) { return QString::fromLocal8Bit(s.data(), static_cast<qsizetype>(s.size())); }

}  // namespace

void ViewEntry(browser::CMainFrame& frame, CPackObject& entry, bool skin) {
  const std::string name = ToLower(entry.Name());
  if (!skin && EndsWith(name, ".wav")) {
    std::string error;
    bool ok;
    {
      shell::CWaitCursor wait;
      ok = PlaySoundEntry(entry, &error);
    }
    if (!ok) frame.Prompter().Message(&frame, Q(error), "Sound", QMessageBox::Warning);
    return;
  }
  if (!skin && (EndsWith(name, ".txt") || EndsWith(name, ".cfg") || EndsWith(name, ".rc"))) {
    CEntryBytes data(entry);
    if (!data.Ok()) {
      frame.TellViewProblem("The data of " + Q(Quoted(entry.Name())) + " cannot be read.");
      return;
    }
    auto* viewer = new CTextViewerFrame(TextForDisplay(data.Bytes()), Q(entry.Name()), &frame);
    viewer->show();
    return;
  }
  if (!skin && (EndsWith(name, ".mdl") || EndsWith(name, ".md2"))) {
    auto* viewer = new CGLFrame(entry, &frame, frame.Prompter());
    viewer->show();
    return;
  }
  EntryPictures pictures;
  {
    shell::CWaitCursor wait;
    pictures = LoadEntryPictures(entry, skin);
  }
  if (!pictures.ok()) {
    if (pictures.messageBox)
      frame.Prompter().Message(&frame, Q(pictures.message), "Tarn", QMessageBox::NoIcon);
    else
      frame.TellViewProblem(Q(pictures.message));
    return;
  }
  auto* viewer = new CBitmapViewerFrame(std::move(pictures.set), Q(pictures.title), &frame);
  viewer->show();
}

void InstallViewers(browser::CMainFrame& frame) {
  frame.SetViewHandler([](browser::CMainFrame& f, CPackObject& e, bool skin) { ViewEntry(f, e, skin); });
  frame.SetExtractHandler([](browser::CMainFrame& f, const std::vector<CPackObject*>& maps) { ExtractTextures(f, maps); });
}

}  // namespace tarn::viewers
