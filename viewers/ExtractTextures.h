// Extract Textures: the textures of the selected maps into one WAD2 file.
#pragma once

#include <vector>

namespace tarn {
class CPackObject;
namespace browser {
class CMainFrame;
}
}  // namespace tarn

namespace tarn::viewers {

void ExtractTextures(browser::CMainFrame& frame, const std::vector<CPackObject*>& maps);

}  // namespace tarn::viewers
