// The View and View Skin commands: each entry kind to its viewer.
#pragma once

namespace tarn {
class CPackObject;
namespace browser {
class CMainFrame;
}
}  // namespace tarn

namespace tarn::viewers {

void ViewEntry(browser::CMainFrame& frame, CPackObject& entry, bool skin);

// Makes the frame's View commands open the viewers.
void InstallViewers(browser::CMainFrame& frame);

}  // namespace tarn::viewers
