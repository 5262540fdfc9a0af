// How a name typed by the user becomes the name an entry is stored under, and whether a
// directory may hold it. This is the one place that says so, per container: PAK archives store
// names in lower case; zips and WADs keep the case a modder gave (engines that read them
// compare without regard to case, or not at all). In every container two names that differ
// only in case are one name. A WAD is flat, and its names are lump names of at most 15
// characters with an extension that gives the lump's type.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "archive/ContainerFormat.h"
#include "fileio/Strings.h"

namespace tarn {

class CPackObject;

// The name as a container of that format stores it.
std::string StoredName(std::string_view typed, ContainerFormat format);
// The name as the container of the tree that dir (or any entry) belongs to stores it.
std::string StoredName(const CPackObject& where, std::string_view typed);

// Why a single name (one path segment) cannot be written to disk safely; empty when it can.
std::string UnsafeNameReason(std::string_view name);

// The one rule for a path an archive holds both as a file and as a folder (a zip's directory
// record "a/b/", or the folder on the way to "a/b/c") beside a file "a/b": no disk holds both,
// so extraction writes the file, which the engines load, and refuses the folder. Opening notes
// it (list and extract warn of it), check reports it, extraction refuses with kFileAndFolder.
inline constexpr const char* kFileAndFolder =
    "it is both a file and a folder in the archive; a disk holds only one, so extraction writes the file "
    "and not the folder";
std::string FileAndFolderNote(std::string_view path);
// The paths of an archive's records that are both, in the order their files come; each record
// is its path and whether it is a directory's (its path then ends in "/").
struct NamedRecord {
  std::string_view path;
  bool directory = false;
};
std::vector<std::string> FileAndFolderPaths(const std::vector<NamedRecord>& records);

// Why a container of that format cannot hold an entry of this name (as stored) in the root
// (atRoot) or below it; empty when it can.
std::string UnfitNameReason(ContainerFormat format, std::string_view name, bool isDirectory, bool atRoot);

enum class NewNameProblem { None, Empty, Separator, Taken, Unfit };

struct NewNameCheck {
  NewNameProblem problem = NewNameProblem::None;
  std::string stored;                  // the name to give the entry when there is no problem
  const CPackObject* taken = nullptr;  // the sibling holding the name, for Taken
  std::string reason;                  // for Unfit: why the container cannot hold the name
};

// Whether entry may be renamed to typed within its directory: the stored form must not be
// empty, hold "/" or NUL, be another sibling's name in any case, or be a name the container
// cannot hold. Renaming to the entry's own name in another case is no problem.
NewNameCheck CheckNewName(const CPackObject& entry, std::string_view typed);

}  // namespace tarn
