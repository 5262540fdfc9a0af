#include "archive/EntryNames.h"

#include "archive/PackObject.h"
#include "archive/PakFormat.h"

namespace tarn {

std::string StoredName(std::string_view typed) { return ToLower(typed); }

NewNameCheck CheckNewName(const CPackObject& entry, std::string_view typed) {
  NewNameCheck check;
  check.stored = StoredName(typed);
  if (check.stored.empty()) {
    check.problem = NewNameProblem::Empty;
    return check;
  }
  if (check.stored.find_first_of(std::string_view("/\0", 2)) != std::string::npos) {
    check.problem = NewNameProblem::Separator;
    return check;
  }
  const CPackObject* dir = entry.Parent();
  if (!dir) return check;
  // Compared in lower case against every sibling rather than looked up, so that a name stored
  // before this rule held (in another case) is found too.
  for (const CPackObject* sibling : dir->Children()) {
    if (sibling != &entry && ToLower(sibling->Name()) == check.stored) {
      check.problem = NewNameProblem::Taken;
      check.taken = sibling;
      return check;
    }
  }
  return check;
}

}  // namespace tarn
