// From an entry's kind to what shows it: the window the View command opens (or the sound it
// plays), the widget of the preview pane, and the entry's properties. The viewers know nothing
// of the main window: whoever shows an entry hands in what they need from outside.
#pragma once

#include <QString>
#include <functional>
#include <utility>
#include <vector>

#include "archive/EntryTypes.h"
#include "viewers/EntryEditing.h"
#include "viewers/TextViewer.h"

class QWidget;

namespace tarn {
class CPackObject;
class CTarnDoc;
namespace dialogs {
class CPrompter;
}
}  // namespace tarn

namespace tarn::viewers {

class CSoundPlayer;

struct ViewContext {
  // Viewer windows are placed beside it; messages and dialogs are its children.
  QWidget* mainWindow = nullptr;
  dialogs::CPrompter* prompter = nullptr;  // required
  // The one player every sound plays through.
  CSoundPlayer* player = nullptr;
  // Tells why an entry cannot be shown; without it, a message box says so.
  std::function<void(const QString&)> tellProblem;
  // How an entry's edited bytes (its text, or a map's entities) go back into the archive;
  // none (and the text stays read-only) for an entry that may not change.
  std::function<TextSaver(CPackObject& entry)> textSaver;
  // The entry's document, through which an archive opened inside another reaches the files
  // around it (the palette of the pak holding gfx.wad); none for an entry on its own.
  const CTarnDoc* document = nullptr;
  // How a file is put beside an entry (a map's .ent); none where the archive may not change.
  std::function<BesideWriter(CPackObject& entry)> besideWriter;
  // How a window changes the entry it shows in place (a model's skins and frames); none where
  // the archive may not change.
  std::function<EntryEditing(CPackObject& entry)> entryEditing;
};

// What shows an entry, by its type.
enum class ViewerKind { Picture, Model, Map, Sound, TextOrBytes };
ViewerKind ViewerKindOf(EntryType type);
ViewerKind ViewerKindOf(const CPackObject& entry);

// Opens the window that shows the entry (a Quake model's skins when skin is set), or plays it
// when it is a sound.
void OpenViewer(CPackObject& entry, bool skin, const ViewContext& context);

class CPreview;
// The preview pane's view of the entry (see Previews.h); the reason instead when it cannot be
// read. It reads the entry only while made, but for a sound's Play.
CPreview* CreatePreview(CPackObject& entry, const ViewContext& context, QWidget* parent);

}  // namespace tarn::viewers
