// The View, View Skin and Extract Textures commands: each entry kind to its viewer.
#pragma once

#include <vector>

namespace tarn {
class CPackObject;
namespace browser {
class CMainFrame;
}
}  // namespace tarn

namespace tarn::viewers {

void ViewEntry(browser::CMainFrame& frame, CPackObject& entry, bool skin);

// The textures of the selected maps into one WAD2 file.
void ExtractTextures(browser::CMainFrame& frame, const std::vector<CPackObject*>& maps);

// Makes the frame's View commands open the viewers.
void InstallViewers(browser::CMainFrame& frame);

}  // namespace tarn::viewers
