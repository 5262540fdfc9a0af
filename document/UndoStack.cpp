#include "document/UndoStack.h"

#include <algorithm>

#include "archive/PackObject.h"
#include "document/TarnDoc.h"
#include "fileio/Strings.h"

namespace tarn {

// --- the stack ---

void CUndoStack::Push(std::unique_ptr<CUndoCommand> done) {
  m_commands.resize(m_index);
  if (m_clean > static_cast<std::ptrdiff_t>(m_index)) m_clean = -1;
  m_commands.push_back(std::move(done));
  ++m_index;
}

bool CUndoStack::Undo(CTarnDoc& doc) {
  if (!CanUndo()) return false;
  m_commands[--m_index]->Undo(doc);
  return true;
}

bool CUndoStack::Redo(CTarnDoc& doc) {
  if (!CanRedo()) return false;
  m_commands[m_index++]->Redo(doc);
  return true;
}

void CUndoStack::Clear() {
  m_commands.clear();
  m_index = 0;
  m_clean = 0;
}

// --- tree edits ---

CTreeEdit::CTreeEdit(std::string text) : m_text(std::move(text)) {}
CTreeEdit::~CTreeEdit() = default;

CTreeEdit::Place CTreeEdit::PlaceOf(const CPackObject& entry) {
  return {entry.Parent(), entry.NextSibling(), entry.Name()};
}

void CTreeEdit::Go(Step& step, const Place& from, const Place& to) {
  CPackObject* e = step.entry;
  if (from.dir && from.dir == to.dir && from.before == to.before) {
    // A rename: the entry keeps its place. The way back may give it a name it shared.
    e->Rename(to.name, true);
    return;
  }
  if (from.dir) step.held = from.dir->DetachChild(e);
  if (from.name != to.name) step.held->Rename(to.name);
  if (to.dir) to.dir->InsertChild(std::move(step.held), to.before);
}

void CTreeEdit::Do(Step step) {
  Go(step, step.from, step.to);
  m_steps.push_back(std::move(step));
}

CPackObject* CTreeEdit::Insert(CPackObject& dir, std::unique_ptr<CPackObject> entry) {
  CPackObject* placed = dir.AdoptChild(std::move(entry));
  if (placed) m_steps.push_back({placed, {}, PlaceOf(*placed), nullptr});
  return placed;
}

void CTreeEdit::Remove(CPackObject& entry) {
  if (!entry.Parent()) return;
  Do({&entry, PlaceOf(entry), {nullptr, nullptr, entry.Name()}, nullptr});
}

bool CTreeEdit::Rename(CPackObject& entry, const std::string& name) {
  if (name == entry.Name()) return true;
  CPackObject* dir = entry.Parent();
  if (!dir || name.empty() || name.find('/') != std::string::npos || name.find('\0') != std::string::npos ||
      dir->FindChild(name))
    return false;
  const Place from = PlaceOf(entry);
  Do({&entry, from, {from.dir, from.before, name}, nullptr});
  return true;
}

bool CTreeEdit::Move(CPackObject& entry, CPackObject& dir) {
  if (!entry.Parent() || !dir.IsDirectory() || dir.IsInside(&entry)) return false;
  if (entry.Parent() == &dir) return true;
  Do({&entry, PlaceOf(entry), {&dir, nullptr, dir.FreeName(entry.Name())}, nullptr});
  return true;
}

std::vector<CPackObject*> CTreeEdit::Entries() const {
  std::vector<CPackObject*> entries;
  for (const Step& step : m_steps)
    if (std::find(entries.begin(), entries.end(), step.entry) == entries.end()) entries.push_back(step.entry);
  return entries;
}

void CTreeEdit::Undo(CTarnDoc&) {
  for (auto it = m_steps.rbegin(); it != m_steps.rend(); ++it) Go(*it, it->to, it->from);
}

void CTreeEdit::Redo(CTarnDoc&) {
  for (Step& step : m_steps) Go(step, step.from, step.to);
}

void CReplaceTree::Swap(CTarnDoc& doc) { m_other = doc.ExchangeRoot(std::move(m_other)); }

std::string CountedEntries(std::size_t count, const std::string& onlyName) {
  if (count == 1) return onlyName.empty() ? "1 entry" : Quoted(onlyName);
  return std::to_string(count) + " entries";
}

}  // namespace tarn
