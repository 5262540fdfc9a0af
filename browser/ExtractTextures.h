// Extract Textures: the textures of the selected Quake maps into one WAD2 file.
#pragma once

#include <vector>

class QWidget;

namespace tarn {
class CPackObject;
class CTarnDoc;
namespace dialogs {
class CPrompter;
}
}  // namespace tarn

namespace tarn::browser {

// Asks where to write (prompter), reads the maps of doc on a worker with a dialog over parent.
void ExtractTextures(QWidget* parent, const CTarnDoc& doc, dialogs::CPrompter& prompter,
                     const std::vector<CPackObject*>& maps);

}  // namespace tarn::browser
