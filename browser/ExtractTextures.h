// Extract Textures: the textures of the selected Quake maps into one WAD2 file.
#pragma once

#include <vector>

namespace tarn {
class CPackObject;
}

namespace tarn::browser {

class CMainFrame;

void ExtractTextures(CMainFrame& frame, const std::vector<CPackObject*>& maps);

}  // namespace tarn::browser
