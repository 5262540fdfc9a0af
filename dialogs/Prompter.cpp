#include "dialogs/Prompter.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QPushButton>
#include <QRegularExpression>

#include "dialogs/Mnemonics.h"
#include "dialogs/RenameDialog.h"
#include "dialogs/SkinsDialog.h"

namespace tarn::dialogs {

QString CPrompter::OpenFileName(QWidget* parent, const QString& title, const QString& filter) {
  return QFileDialog::getOpenFileName(parent, title, QString(), filter);
}

QStringList CPrompter::OpenFileNames(QWidget* parent, const QString& title, const QString& filter) {
  return QFileDialog::getOpenFileNames(parent, title, QString(), filter);
}

QString CPrompter::SaveFileName(QWidget* parent, const QString& title, const QString& filter, const QString& proposed,
                                const QString& defaultSuffix) {
  QFileDialog dialog(parent, title, QString(), filter);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  if (!defaultSuffix.isEmpty()) dialog.setDefaultSuffix(defaultSuffix);
  dialog.selectFile(proposed);
  for (const QString& f : filter.split(";;"))
    if (f.contains("*." + defaultSuffix + " ") || f.contains("*." + defaultSuffix + ")")) {
      dialog.selectNameFilter(f);
      break;
    }
  // Choosing a kind of file gives the name that kind's extension, where the kind has one.
  QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& chosen) {
    static const QRegularExpression firstPattern(R"(\(\*\.([A-Za-z0-9]+)[ )])");
    const QRegularExpressionMatch m = firstPattern.match(chosen);
    if (!m.hasMatch()) return;
    dialog.setDefaultSuffix(m.captured(1));
    const QStringList typed = dialog.selectedFiles();
    if (typed.isEmpty()) return;
    const QFileInfo file(typed.front());
    if (!file.fileName().isEmpty() && !file.isDir()) dialog.selectFile(file.completeBaseName() + "." + m.captured(1));
  });
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().front();
}

QString CPrompter::ExistingDirectory(QWidget* parent, const QString& title) {
  return QFileDialog::getExistingDirectory(parent, title);
}

QMessageBox::StandardButton CPrompter::Message(QWidget* parent, const QString& text, const QString& caption,
                                               QMessageBox::Icon icon, QMessageBox::StandardButtons buttons) {
  QMessageBox box(icon, caption, text, buttons, parent);
  box.setObjectName("messageBox");
  GiveMnemonics(box);  // Save, Discard and Cancel come without theirs
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

std::optional<QString> CPrompter::NewName(QWidget* parent, const QString& current) {
  CRenameDialog dialog(current, parent);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.Name();
}

ConflictAnswer CPrompter::NameConflict(QWidget* parent, const QString& name, const QString& directory, bool more) {
  QMessageBox box(
      QMessageBox::Question, "Paste",
      QString("\"%1\" already exists in %2.").arg(name, directory.isEmpty() ? "the root" : "\"" + directory + "\""),
      QMessageBox::NoButton, parent);
  box.setObjectName("conflictBox");
  QPushButton* replace = box.addButton("&Replace", QMessageBox::DestructiveRole);
  QPushButton* keep = box.addButton("&Keep Both", QMessageBox::AcceptRole);
  QPushButton* skip = box.addButton("&Skip", QMessageBox::RejectRole);
  replace->setObjectName("conflictReplace");
  keep->setObjectName("conflictKeepBoth");
  skip->setObjectName("conflictSkip");
  box.setDefaultButton(keep);
  box.setEscapeButton(skip);
  if (more) {
    auto* all = new QCheckBox("Do this for &all");
    all->setObjectName("conflictForAll");
    box.setCheckBox(all);
  }
  box.exec();
  ConflictAnswer answer;
  answer.choice = box.clickedButton() == replace ? ConflictChoice::Replace
                  : box.clickedButton() == keep  ? ConflictChoice::KeepBoth
                                                 : ConflictChoice::Skip;
  answer.forAll = box.checkBox() && box.checkBox()->isChecked();
  return answer;
}

SkinChoice CPrompter::ChooseSkins(QWidget* parent, const QStringList& entries) {
  CSkinsDialog dialog(entries, parent);
  if (dialog.exec() != QDialog::Accepted) return {};
  return {dialog.Entries(), dialog.Files()};
}

std::optional<EncodeChoice> CPrompter::EncodeImages(QWidget* parent, const QStringList& images,
                                                    std::optional<OutputKind> preferred) {
  CEncodeDialog dialog(images, CEncodeDialog::Mode::Import, parent, preferred);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.Choice();
}

std::optional<ModelImportChoice> CPrompter::ImportModels(QWidget* parent, const QStringList& models,
                                                         int preferredFormat) {
  CModelImportDialog dialog(models, parent, preferredFormat);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.Choice();
}

std::optional<SoundImportChoice> CPrompter::ImportSounds(QWidget* parent, const QStringList& sounds) {
  CSoundImportDialog dialog(sounds, parent);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.Choice();
}

std::optional<SpriteChoice> CPrompter::SpriteOf(QWidget* parent, const QStringList& frames) {
  CEncodeDialog dialog(frames, CEncodeDialog::Mode::Sprite, parent);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.Sprite();
}

std::optional<GameFolderChoice> CPrompter::GameFolders(QWidget* parent, const GameFolderChoice& start) {
  CGameFolderDialog dialog(start, parent);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.Choice();
}

}  // namespace tarn::dialogs
