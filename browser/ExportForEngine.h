// Export for Engine: the pictures of the selection (or of the whole archive) written into a
// folder as the chosen engine reads its replacements (game/EngineArt.h).
#pragma once

#include <QDialog>
#include <vector>

class QComboBox;
class QLineEdit;

namespace tarn {
class CPackObject;
class CTarnDoc;
namespace dialogs {
class CPrompter;
}
struct ArtProfile;
}  // namespace tarn

namespace tarn::browser {

// The engine, the picture format and the folder.
class CExportForEngineDialog : public QDialog {
  Q_OBJECT
 public:
  CExportForEngineDialog(dialogs::CPrompter& prompter, QWidget* parent);
  const ArtProfile* Engine() const;
  int FormatIndex() const;  // into the engine's formats
  QString Folder() const;

 private:
  void OnEngine();
  dialogs::CPrompter& m_prompter;
  QComboBox* m_engine;
  QComboBox* m_format;
  QLineEdit* m_folder;
};

void ExportForEngine(QWidget* parent, CTarnDoc& doc, dialogs::CPrompter& prompter,
                     const std::vector<CPackObject*>& targets);

}  // namespace tarn::browser
