// How a name typed by the user becomes the name an entry is stored under, and whether a
// directory already holds it. PAK archives store names in lower case, so two names that differ
// only in case are one name: this is the one place that says so.
#pragma once

#include <string>
#include <string_view>

namespace tarn {

class CPackObject;

// The name as the archive stores it.
std::string StoredName(std::string_view typed);

enum class NewNameProblem { None, Empty, Separator, Taken };

struct NewNameCheck {
  NewNameProblem problem = NewNameProblem::None;
  std::string stored;              // the name to give the entry when there is no problem
  const CPackObject* taken = nullptr;  // the sibling holding the name, for Taken
};

// Whether entry may be renamed to typed within its directory: the stored form must not be
// empty, hold "/" or NUL, or be another sibling's name in any case. Renaming to the entry's
// own name in another case is no problem (and no change once stored).
NewNameCheck CheckNewName(const CPackObject& entry, std::string_view typed);

}  // namespace tarn
