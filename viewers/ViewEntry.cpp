#include "viewers/ViewEntry.h"

#include "archive/PackObject.h"
#include "archive/PakFormat.h"
#include "browser/MainFrame.h"
#include "formats/EntryPictures.h"
#include "formats/TextSniff.h"
#include "shell/WaitCursor.h"
#include "viewers/BitmapViewer.h"
#include "viewers/GLFrame.h"
#include "viewers/HexView.h"
#include "viewers/Sound.h"
#include "viewers/TextViewer.h"

namespace tarn::viewers {

namespace {

QString Q(const std::string& s) { return QString::fromLocal8Bit(s.data(), static_cast<qsizetype>(s.size())); }

// The frame's one player: a second sound replaces the first, and the frame's Stop Sound
// command and status bar follow it.
CSoundPlayer& PlayerOf(browser::CMainFrame& frame) {
  if (auto* player = frame.findChild<CSoundPlayer*>("soundPlayer")) return *player;
  auto* player = new CSoundPlayer(&frame);
  QObject::connect(player, &CSoundPlayer::playing, &frame,
                   [&frame, player](const QString& text) { frame.SetPlaying(text, [player] { player->Stop(); }); });
  QObject::connect(player, &CSoundPlayer::finished, &frame, [&frame] { frame.SetPlaying(QString(), nullptr); });
  return *player;
}

bool IsTextName(const std::string& lowerName) {
  return EndsWith(lowerName, ".txt") || EndsWith(lowerName, ".cfg") || EndsWith(lowerName, ".rc");
}

}  // namespace

void ViewEntry(browser::CMainFrame& frame, CPackObject& entry, bool skin) {
  const std::string name = ToLower(entry.Name());
  if (!skin && EndsWith(name, ".wav")) {
    std::string error;
    if (!PlayerOf(frame).PlayEntry(entry, &error)) frame.Prompter().Message(&frame, Q(error), "Sound", QMessageBox::Warning);
    return;
  }
  if (!skin && (EndsWith(name, ".mdl") || EndsWith(name, ".md2"))) {
    auto* viewer = new CGLFrame(entry, &frame, frame.Prompter());
    viewer->show();
    return;
  }
  if (skin || PictureKindOf(name) != PictureKind::None) {
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
    return;
  }
  // Text by its name, and every other file by its bytes: as text when they read as text, else
  // byte by byte.
  CEntryBytes data(entry);
  if (!data.Ok()) {
    frame.TellViewProblem("The data of " + Q(Quoted(entry.Name())) + " cannot be read.");
    return;
  }
  QWidget* viewer;
  if (IsTextName(name) || LooksLikeText(data.Bytes())) {
    viewer = new CTextViewerFrame(TextForDisplay(data.Bytes()), Q(entry.Name()), &frame);
  } else {
    const auto bytes = data.Bytes();
    viewer = new CHexViewerFrame(QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())),
                                 Q(entry.Name()), &frame);
  }
  viewer->show();
}

void InstallViewers(browser::CMainFrame& frame) {
  frame.SetViewHandler([](browser::CMainFrame& f, CPackObject& e, bool skin) { ViewEntry(f, e, skin); });
  frame.SetExtractHandler([](browser::CMainFrame& f, const std::vector<CPackObject*>& maps) { ExtractTextures(f, maps); });
}

}  // namespace tarn::viewers
