// Everything the main window asks the user through a dialog: file and folder choices,
// message boxes and the new name of an entry. Tests put a scripted prompter in its place.
#pragma once

#include <QMessageBox>
#include <QStringList>
#include <optional>

#include "dialogs/EncodeDialog.h"
#include "dialogs/GameFolderDialog.h"
#include "dialogs/ModelImportDialog.h"
#include "dialogs/SoundImportDialog.h"

namespace tarn::dialogs {

// What to do with a pasted entry whose name the directory already has.
enum class ConflictChoice { Replace, KeepBoth, Skip };
struct ConflictAnswer {
  ConflictChoice choice = ConflictChoice::KeepBoth;
  bool forAll = false;  // "Do this for all": the same for the conflicts still to come
};

// Skins chosen for a model: archive paths and disk files; both empty when cancelled.
struct SkinChoice {
  QStringList entries;
  QStringList files;
};

class CPrompter {
 public:
  virtual ~CPrompter() = default;
  virtual QString OpenFileName(QWidget* parent, const QString& title, const QString& filter);
  virtual QStringList OpenFileNames(QWidget* parent, const QString& title, const QString& filter);
  virtual QString SaveFileName(QWidget* parent, const QString& title, const QString& filter, const QString& proposed,
                               const QString& defaultSuffix);
  virtual QString ExistingDirectory(QWidget* parent, const QString& title);
  virtual QMessageBox::StandardButton Message(QWidget* parent, const QString& text, const QString& caption,
                                              QMessageBox::Icon icon,
                                              QMessageBox::StandardButtons buttons = QMessageBox::Ok);
  // The Rename dialog; nothing when cancelled.
  virtual std::optional<QString> NewName(QWidget* parent, const QString& current);
  // "name" is taken in the directory: Replace, Keep Both or Skip; more offers "Do this for all".
  virtual ConflictAnswer NameConflict(QWidget* parent, const QString& name, const QString& directory, bool more);
  // Which of the archive's pictures (paths), or which disk files, to use as a model's skins.
  virtual SkinChoice ChooseSkins(QWidget* parent, const QStringList& entries);
  // Image files being imported: kept as they are, or encoded; nothing when cancelled.
  // preferred: the format offered first.
  virtual std::optional<EncodeChoice> EncodeImages(QWidget* parent, const QStringList& images,
                                                   std::optional<OutputKind> preferred = std::nullopt);
  // Model files being imported: kept as they are, or converted to MDL or MD2 (preferredFormat,
  // a ModelData::Format, offered first); nothing when cancelled.
  virtual std::optional<ModelImportChoice> ImportModels(QWidget* parent, const QStringList& models,
                                                        int preferredFormat);
  // Sound files being imported: kept as they are, or made into what the engines play; nothing
  // when cancelled.
  virtual std::optional<SoundImportChoice> ImportSounds(QWidget* parent, const QStringList& sounds);
  // A sprite to be made of pictures; nothing when cancelled.
  virtual std::optional<SpriteChoice> SpriteOf(QWidget* parent, const QStringList& frames);
  // Open Game Folder: the folders in order and the engine, starting from start; nothing when cancelled.
  virtual std::optional<GameFolderChoice> GameFolders(QWidget* parent, const GameFolderChoice& start);
};

}  // namespace tarn::dialogs
