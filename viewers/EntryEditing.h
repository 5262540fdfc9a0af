// An entry changed in place from the window that shows it (a model's skins and frames): what the
// window needs of the document, handed in by whoever opened it, since a viewer knows nothing of
// the main window. Each change is one step of the document's history, so that the main window's
// Undo takes it back as it takes back any other.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QObject;

namespace tarn {
class CPackObject;
}

namespace tarn::viewers {

struct EntryEditing {
  // The entry as the archive holds it now: a change, or undoing one, puts another entry in its
  // place. nullptr when it is gone (deleted, renamed, another archive opened).
  std::function<CPackObject*()> current;
  // Puts bytes in the entry's place as one undoable change called text ("Rename frame of
  // \"x.mdl\""); false with the reason when the archive refuses it.
  std::function<bool(const std::vector<std::uint8_t>& bytes, const std::string& text, QString* why)> put;
  // Puts a file of that name beside the entry, in its directory (a Quake II skin's picture), as
  // one undoable change; false with the reason when it cannot.
  std::function<bool(const std::string& name, const std::vector<std::uint8_t>& bytes, QString* why)> putBeside;
  // Takes back (back) or does again the document's last change, as Edit > Undo and Redo do.
  std::function<void(bool back)> stepHistory;
  // Calls back after every change of the archive's entries (an edit, undo, redo, from any
  // window), for as long as receiver lives.
  std::function<void(QObject* receiver, std::function<void()> changed)> watch;

  explicit operator bool() const { return current && put && stepHistory && watch; }
};

}  // namespace tarn::viewers
