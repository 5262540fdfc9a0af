// Undo and redo for a document: the changes made to it, each able to take itself back and do
// itself again, and which of them the file on disk last saw. A change of the entry tree is a
// CTreeEdit; one that replaces the whole tree (a conversion of the document, say) a
// CReplaceTree; others derive from CUndoCommand.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace tarn {

class CPackObject;
class CTarnDoc;

class CUndoCommand {
 public:
  virtual ~CUndoCommand() = default;
  // What the change was, for "Undo <text>": "Delete 3 entries".
  virtual std::string Text() const = 0;
  virtual void Undo(CTarnDoc& doc) = 0;
  virtual void Redo(CTarnDoc& doc) = 0;
};

class CUndoStack {
 public:
  // Records a change already made; changes undone before it can no longer be redone.
  void Push(std::unique_ptr<CUndoCommand> done);
  bool CanUndo() const { return m_index > 0; }
  bool CanRedo() const { return m_index < m_commands.size(); }
  // The change Undo (Redo) would take back (do again), or nullptr.
  const CUndoCommand* NextUndo() const { return CanUndo() ? m_commands[m_index - 1].get() : nullptr; }
  const CUndoCommand* NextRedo() const { return CanRedo() ? m_commands[m_index].get() : nullptr; }
  bool Undo(CTarnDoc& doc);
  bool Redo(CTarnDoc& doc);
  std::size_t Count() const { return m_commands.size(); }
  std::size_t Index() const { return m_index; }

  // The state now is the one on disk; IsClean tells whether undo and redo came back to it.
  void SetClean() { m_clean = static_cast<std::ptrdiff_t>(m_index); }
  bool IsClean() const { return m_clean == static_cast<std::ptrdiff_t>(m_index); }
  // Forgets every change (a new or another document): the state now is clean.
  void Clear();

 private:
  std::vector<std::unique_ptr<CUndoCommand>> m_commands;
  std::size_t m_index = 0;
  std::ptrdiff_t m_clean = 0;  // -1: the saved state cannot be reached any more
};

// A change of the entry tree in steps (entries put in, taken out, moved, renamed), each done at
// once and recorded. Entries taken out are kept whole until the command goes: their temporary
// files, and the archive their offsets describe, so that an undone delete brings back the very
// bytes, whatever happened on disk meanwhile.
class CTreeEdit : public CUndoCommand {
 public:
  explicit CTreeEdit(std::string text);
  ~CTreeEdit() override;

  // Puts a detached entry into dir under its name, lower-cased and made unique there.
  CPackObject* Insert(CPackObject& dir, std::unique_ptr<CPackObject> entry);
  // Takes the entry (not the root) out of its directory.
  void Remove(CPackObject& entry);
  // Renames within the directory; false when the directory refuses the name.
  bool Rename(CPackObject& entry, const std::string& name);
  // Moves the entry to the end of dir, its name made unique there; false for a move into
  // itself or below itself.
  bool Move(CPackObject& entry, CPackObject& dir);

  bool Empty() const { return m_steps.empty(); }
  // The entries the steps moved, each once, in the order first moved.
  std::vector<CPackObject*> Entries() const;
  void SetText(std::string text) { m_text = std::move(text); }
  std::string Text() const override { return m_text; }
  void Undo(CTarnDoc& doc) override;
  void Redo(CTarnDoc& doc) override;

 private:
  // Where an entry is: its directory (nullptr: held by the step), the sibling it comes before,
  // and its name.
  struct Place {
    CPackObject* dir = nullptr;
    CPackObject* before = nullptr;
    std::string name;
  };
  struct Step {
    CPackObject* entry;
    Place from, to;
    std::unique_ptr<CPackObject> held;  // the entry while it is in no directory
  };
  static Place PlaceOf(const CPackObject& entry);
  static void Go(Step& step, const Place& from, const Place& to);
  // Records the step and does it.
  void Do(Step step);

  std::string m_text;
  std::vector<Step> m_steps;
};

// Replaces the document's whole tree, keeping the other one for the way back.
class CReplaceTree : public CUndoCommand {
 public:
  CReplaceTree(std::string text, std::unique_ptr<CPackObject> other)
      : m_text(std::move(text)), m_other(std::move(other)) {}
  std::string Text() const override { return m_text; }
  void Undo(CTarnDoc& doc) override { Swap(doc); }
  void Redo(CTarnDoc& doc) override { Swap(doc); }

 private:
  void Swap(CTarnDoc& doc);
  std::string m_text;
  std::unique_ptr<CPackObject> m_other;
};

// "3 entries", "1 entry", or the quoted name when there is one.
std::string CountedEntries(std::size_t count, const std::string& onlyName = {});

}  // namespace tarn
