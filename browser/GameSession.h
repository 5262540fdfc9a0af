// Game folders opened in the window: the merged tree the engine sees (the document's), where
// each of its files comes from, the copies they hide, what the engine would refuse, and which
// files an edit changed since, for "Save Changes as pakN.pak". Free of any toolkit: it runs
// on the worker thread that opens the folders.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "archive/PackObject.h"
#include "browser/PackModels.h"
#include "fileio/Progress.h"
#include "game/EngineChecks.h"
#include "game/EngineProfile.h"

namespace tarn {

class CArchiveReader;

namespace browser {

struct LoadedGame;

class CGameSession final : public CListSources {
 public:
  const EngineProfile& Profile() const { return *m_profile; }
  const std::vector<std::filesystem::path>& Folders() const { return m_folders; }
  // The mod's folder: the last one given, where a new pak goes.
  const std::filesystem::path& ModFolder() const { return m_folders.back(); }
  const std::vector<EngineProblem>& Problems() const { return m_problems; }
  // Packages that cannot be read (and whether the engine stops there), and folders that could
  // not be read, as sentences; the packages the engine passes over are among the problems.
  const std::vector<std::string>& LoadNotes() const { return m_notes; }
  // "id1 + mymod (quake)", for the title bar.
  std::string Title() const;

  // Where a file of the merged tree comes from, relative to the folder holding the game
  // folders ("id1/pak1.pak", "mymod/maps/e1m1.bsp"), or that it was changed since; empty for
  // a directory. A shadowed copy says its own source.
  std::string SourceOf(const CPackObject& entry) const override;
  std::string FullSourceOf(const CPackObject& entry) const override;
  bool IsShadowed(const CPackObject& entry) const override { return m_shadowSource.count(&entry) != 0; }
  // The copies hidden by the files of dir, while "Show shadowed files" is on.
  std::vector<CPackObject*> ShownShadowed(const CPackObject& dir) const override;
  void ShowShadowed(bool shown) { m_showShadowed = shown; }

  struct Changes {
    std::vector<const CPackObject*> written;  // new files, and files whose bytes or path changed
    std::vector<std::string> gone;            // paths the engine answered that the tree no longer has
  };
  // What the tree under root holds that the game folders do not, and what they hold that it lost.
  Changes FindChanges(const CPackObject& root) const;

 private:
  friend LoadedGame LoadGame(const EngineProfile& profile, const std::vector<std::filesystem::path>& folders,
                             CProgress* progress);
  // The bytes a path of the merged tree had when the folders were read.
  struct Origin {
    std::uint32_t source = 0;
    const CArchiveReader* archive = nullptr;  // an archive member's, else a loose file's path in temp
    std::int64_t offset = 0;
    std::int64_t size = 0;
    std::string temp;
  };
  bool Unchanged(const CPackObject& file, const Origin& origin) const;

  const EngineProfile* m_profile = nullptr;
  std::vector<std::filesystem::path> m_folders;
  std::filesystem::path m_base;                      // what sources are shown relative to
  std::vector<std::filesystem::path> m_sourcePaths;  // archive, or folder of loose files
  std::vector<bool> m_sourceIsFolder;
  std::unordered_map<std::string, Origin> m_origins;        // by path in the merged tree
  std::vector<std::unique_ptr<CPackObject>> m_shadowRoots;  // the shadowed copies, one tree per source
  std::unordered_map<const CPackObject*, std::uint32_t> m_shadowSource;
  std::unordered_map<std::string, std::vector<CPackObject*>> m_shadowedIn;
  std::vector<EngineProblem> m_problems;
  std::vector<std::string> m_notes;
  bool m_showShadowed = false;
};

// What reading game folders made, for the window to put in place: the merged tree and the
// session that describes it; or why it failed, or that it was cancelled.
struct LoadedGame {
  std::unique_ptr<CPackObject> root;
  std::unique_ptr<CGameSession> session;
  std::string error;
  bool cancelled = false;
};

// Reads the folders as the engine would (any thread); every file of the tree reads its bytes
// from the archive or the loose file it comes from. Reports one unit per source read.
LoadedGame LoadGame(const EngineProfile& profile, const std::vector<std::filesystem::path>& folders,
                    CProgress* progress = nullptr);

// A tree holding only the given files of a merged tree, at their paths, reading the same bytes:
// what goes into the new pak.
std::unique_ptr<CPackObject> TreeOfFiles(const std::vector<const CPackObject*>& files);

}  // namespace browser
}  // namespace tarn
