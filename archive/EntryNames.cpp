#include "archive/EntryNames.h"

#include <algorithm>
#include <cstring>

#include "archive/PackObject.h"
#include "archive/PakFormat.h"
#include "archive/WadFormat.h"

namespace tarn {

void LowerInPlace(std::string& s) { AssignLowered(s, s); }

void AssignLowered(std::string& dst, std::string_view src) {
  const std::size_t n = src.size();
  if (dst.data() != src.data()) dst.resize(n);
  const char* from = src.data();
  char* to = dst.data();
  if (n < 8) {
    for (std::size_t i = 0; i < n; ++i) {
      const char c = from[i];
      to[i] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return;
  }
  // The last word may overlap the one before, folding twice changing nothing. It is read
  // before anything is written: a read across bytes just stored (in place) would stall on
  // the store.
  std::uint64_t last;
  std::memcpy(&last, from + n - 8, 8);
  for (std::size_t i = 0; i + 8 < n; i += 8) {
    std::uint64_t chunk;
    std::memcpy(&chunk, from + i, 8);
    chunk = FoldEight(chunk);
    std::memcpy(to + i, &chunk, 8);
  }
  last = FoldEight(last);
  std::memcpy(to + n - 8, &last, 8);
}

std::string StoredName(std::string_view typed, ContainerFormat format) {
  std::string stored(typed);
  if (format == ContainerFormat::Pak) LowerInPlace(stored);
  return stored;
}

std::string StoredName(const CPackObject& where, std::string_view typed) { return StoredName(typed, where.Format()); }

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x == y) continue;
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

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
