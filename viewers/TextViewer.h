// A window on text: the text entries (".txt", ".cfg", ".rc", ".qc", ".ent", ...) and any other
// file whose bytes look like text, coloured by kind. Ctrl+F finds, F3 finds again. Given a way
// to save, the text is edited: Ctrl+H replaces, Ctrl+S puts it back into the archive as one
// undoable change.
#pragma once

#include <QWidget>
#include <functional>
#include <span>
#include <vector>

#include "viewers/EntryEditing.h"
#include "viewers/ViewerFrame.h"

class QPlainTextEdit;

namespace tarn {
namespace dialogs {
class CPrompter;
}
}  // namespace tarn

namespace tarn::viewers {

class CFindBar;

// How an entry's bytes became text, so that an edit goes back the same way.
struct TextEncoding {
  bool crlf = false;    // lines ended CR LF
  bool latin1 = false;  // not UTF-8: one character a byte
  bool nul = false;     // held NUL bytes, shown as a picture of one: not to be edited
};

// The entry's bytes as text: CR LF and lone CR become line breaks; UTF-8 when the bytes are
// valid UTF-8, otherwise one character per byte (Latin-1), so that no byte is ever dropped.
QString TextForDisplay(std::span<const std::uint8_t> bytes, TextEncoding* how = nullptr);
// The bytes of edited text, encoded as the entry's were. Empty with a reason when a character
// cannot be stored that way (a Latin-1 text given one beyond it).
bool BytesOfText(const QString& text, const TextEncoding& how, std::vector<std::uint8_t>& out, QString* why);

// Puts an entry's changed bytes (edited text; a map with edited entities) back into the
// archive as one undoable change; false with the reason when it cannot.
using TextSaver = std::function<bool(const std::vector<std::uint8_t>& bytes, QString* why)>;
// Puts a file of that name beside the entry it was made for, in the entry's directory, as one
// undoable change, replacing one of that name in any case; false with the reason when it cannot.
using BesideWriter = std::function<bool(const std::string& name, const std::vector<std::uint8_t>& bytes, QString* why)>;

// The text with its find bar below it; embeddable anywhere.
class CTextViewerView : public QWidget {
  Q_OBJECT
 public:
  // name chooses the colouring.
  CTextViewerView(const QString& text, QWidget* parent = nullptr, const QString& name = QString());
  QPlainTextEdit* Text() const { return m_text; }
  CFindBar* FindBar() const { return m_find; }
  // Room for the text's longest line (up to 100 characters) and its lines (up to 40).
  QSize sizeHint() const override;
  // Editable or read-only; editable offers replace in the find bar.
  void SetEditable(bool editable);

 private:
  QPlainTextEdit* m_text;
  CFindBar* m_find;
};

class CTextViewerFrame : public CViewerFrame {
  Q_OBJECT
 public:
  CTextViewerFrame(const QString& text, const QString& title, QWidget* mainWindow = nullptr);
  CTextViewerView* Viewer() const { return m_view; }
  QPlainTextEdit* View() const;
  // Makes the text editable, saved through save in the encoding it came in; prompter asks
  // before changes are closed away.
  void EnableEditing(const TextEncoding& how, TextSaver save, dialogs::CPrompter* prompter);
  // Saves the text into the archive; false, told, when it could not.
  bool Save();

 protected:
  void closeEvent(QCloseEvent* e) override;

 private:
  void UpdateTitle();
  CTextViewerView* m_view;
  QString m_title;
  TextEncoding m_encoding;
  TextSaver m_save;
  dialogs::CPrompter* m_prompter = nullptr;
};

}  // namespace tarn::viewers
