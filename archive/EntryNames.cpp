#include "archive/EntryNames.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "archive/PackObject.h"
#include "archive/WadNames.h"
#include "fileio/Strings.h"

namespace tarn {

std::string UnsafeNameReason(std::string_view name) {
  if (name.empty()) return "the name is empty";
  if (name == "." || name == "..") return "the name \"" + std::string(name) + "\" refers to a folder, not an entry";
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7F) return "the name contains a control character";
    if (c == '/' || c == '\\') return "the name contains a path separator";
    if (c == ':') return "the name contains \":\"";
  }
  return {};
}

std::string FileAndFolderNote(std::string_view path) { return Quoted(path) + ": " + kFileAndFolder; }

std::vector<std::string> FileAndFolderPaths(const std::vector<NamedRecord>& records) {
  std::unordered_set<std::string_view> folders;
  for (const NamedRecord& r : records) {
    std::string_view path = r.path;
    if (r.directory && !path.empty() && path.back() == '/') path.remove_suffix(1);
    if (r.directory) folders.insert(path);
    for (std::size_t slash = path.find('/'); slash != std::string_view::npos; slash = path.find('/', slash + 1))
      folders.insert(path.substr(0, slash));
  }
  std::vector<std::string> both;
  std::unordered_set<std::string_view> told;
  for (const NamedRecord& r : records)
    if (!r.directory && folders.count(r.path) && told.insert(r.path).second) both.emplace_back(r.path);
  return both;
}

std::string StoredName(std::string_view typed, ContainerFormat format) {
  std::string stored(typed);
  if (format == ContainerFormat::Pak) LowerInPlace(stored);
  return stored;
}

std::string StoredName(const CPackObject& where, std::string_view typed) { return StoredName(typed, where.Format()); }

std::string UnfitNameReason(ContainerFormat format, std::string_view name, bool isDirectory, bool atRoot) {
  if (!IsWad(format)) return {};
  if (isDirectory || !atRoot) return "a WAD holds no directories";
  std::string why;
  return WadLumpOf(name, format, &why) ? std::string() : why;
}

NewNameCheck CheckNewName(const CPackObject& entry, std::string_view typed) {
  NewNameCheck check;
  check.stored = StoredName(entry, typed);
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
  // Compared against every sibling rather than looked up, so that a name stored before this
  // rule held (in another case) is found too.
  for (const CPackObject* sibling : dir->Children()) {
    if (sibling != &entry && SameName(sibling->Name(), check.stored)) {
      check.problem = NewNameProblem::Taken;
      check.taken = sibling;
      return check;
    }
  }
  check.reason = UnfitNameReason(entry.Format(), check.stored, entry.IsDirectory(), dir->Parent() == nullptr);
  if (!check.reason.empty()) check.problem = NewNameProblem::Unfit;
  return check;
}

}  // namespace tarn
