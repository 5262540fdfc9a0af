// Keyboard access for texts the program makes or Qt gives without an accelerator mark.
#pragma once

#include <QStringList>

class QMenu;
class QMessageBox;

namespace tarn::dialogs {

// The texts of one menu or one row of buttons, each with a letter of its own: a text keeps the
// letter it marks with '&', and one without gets the first of its letters no other has taken.
QStringList WithMnemonics(const QStringList& texts);

// The same for the actions of a menu, and for a message box's buttons.
void GiveMnemonics(QMenu& menu);
void GiveMnemonics(QMessageBox& box);

}  // namespace tarn::dialogs
