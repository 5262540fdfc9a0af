// The one open archive: its entry tree, the file it was read from, New, Open and Save. Any
// container Tarn reads opens, known by its content; a save keeps the document's format, or
// writes the one a new name asks for (Save As "x.pk3" from a PAK converts it).
// Free of any toolkit: failures come back as texts for the caller to show.
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "archive/ContainerFormat.h"
#include "archive/PackObject.h"
#include "containers/Container.h"
#include "containers/PakFormat.h"
#include "document/UndoStack.h"
#include "fileio/FileLock.h"
#include "fileio/Progress.h"
#include "fileio/SafeSave.h"

namespace tarn {

class CTarnDoc;

// Views register to be told when the tree or the document's state changed.
class CDocObserver {
 public:
  virtual ~CDocObserver() = default;
  virtual void OnDocumentChanged(CTarnDoc& doc) = 0;
};

// The first lines of the save messages; the second line names the file and the system's reason.
namespace docmsg {
inline constexpr const char* kOpenForSaving = "Error opening file for saving";
inline constexpr const char* kReplacing = "Error 1 replacing file";
inline constexpr const char* kRenaming = "Error 2 renaming file";
inline constexpr const char* kWriting = "Error writing file for saving";
}  // namespace docmsg

// An archive read from disk but not yet the document's: what the slow part of opening makes (on
// any thread, touching no document) for Install to put in place.
struct OpenedArchive {
  std::filesystem::path path;
  std::shared_ptr<CFileSource> source;
  std::unique_ptr<CPackObject> root;
  int damaged = 0;
  std::vector<std::string> problems;  // what reading the directory found wrong
  std::vector<std::string> renamed;   // names shown otherwise than the archive has them
  std::string error;                  // why it could not be read; empty when it was
  bool cancelled = false;
};

class CTarnDoc {
 public:
  CTarnDoc();
  ~CTarnDoc();
  CTarnDoc(const CTarnDoc&) = delete;
  CTarnDoc& operator=(const CTarnDoc&) = delete;

  bool New();
  // Reads the archive and makes it the document; a failed or cancelled open leaves the document
  // as it was.
  bool Open(const std::filesystem::path& path, CProgress* progress = nullptr);
  // The two halves of opening: reading (any thread; reports records) and putting in place.
  static OpenedArchive ReadArchive(const std::filesystem::path& path, CProgress* progress = nullptr);
  bool Install(OpenedArchive opened);
  // Saves through CSafeSave, in format, or else in FormatForSave(path). What the format cannot
  // hold (see SaveBlockers) is refused before anything is written; what the save would do
  // beyond replacing the archive's contents (see SaveConcerns) is refused unless consented to;
  // a save whose source archive was written to by another program since it was opened, or
  // while the save ran, fails and leaves it. It reports the bytes of the files to progress, and
  // when told to stop leaves the old file, the tree and the modified mark as they were. A save
  // in another format than the document's is a step of the history ("Convert to PK3"): undone,
  // the document is again the archive it was, with its tree, its file and its format.
  bool Save(const std::filesystem::path& path, const SaveConsent& consent = {},
            std::optional<ContainerFormat> format = std::nullopt, CProgress* progress = nullptr);
  // The last Open or Save stopped because its progress said so.
  bool Cancelled() const { return m_cancelled; }

  // The container the document was read from or last saved as (PAK for a new one).
  ContainerFormat Format() const { return m_root->Format(); }
  // The format a save to path writes: the document's own for its own file (a ".pak" that is
  // really a zip stays a zip), else the one the name's extension gives, else the document's.
  ContainerFormat FormatForSave(const std::filesystem::path& path) const;
  // How zips are written (the deflate level).
  void SetWriteOptions(const WriteOptions& options) { m_writeOptions = options; }

  // What saving to path would do beyond replacing the archive's contents, each with a sentence
  // for the user: break hard links, overwrite a read-only file, or overwrite the changes another
  // program made since this document opened or last saved it.
  std::vector<std::pair<SaveConcern, std::string>> SaveConcerns(const std::filesystem::path& path) const;
  // The archive's file changed on disk since it was opened or last saved.
  bool ChangedOnDisk() const;

  // Keeps a lock (taken by the caller for a whole read-modify-write) until the document goes;
  // a save over the locked file then needs no lock of its own.
  void AdoptLock(std::unique_ptr<CFileLock> lock) { m_lock = std::move(lock); }
  // How long a save waits for another program's lock on its target.
  void SetLockTimeout(std::chrono::milliseconds timeout) { m_lockTimeout = timeout; }

  // The message of the last failed New, Open or Save (lines separated by "\n").
  const std::string& LastError() const { return m_lastError; }

  bool IsModified() const { return m_modified; }
  void SetModified(bool modified = true);

  // The changes made since the document was opened or made, for undo and redo. Save does not
  // forget them; it marks the state it wrote, and undoing or redoing back to that state clears
  // the modified mark.
  const CUndoStack& History() const { return m_history; }
  // Records a change already made: it can be undone, and the document is modified.
  void Record(std::unique_ptr<CUndoCommand> done);
  bool Undo();
  bool Redo();
  // Puts another tree in the root's place and gives back the one that was (see CReplaceTree).
  std::unique_ptr<CPackObject> ExchangeRoot(std::unique_ptr<CPackObject> root);

  CPackObject& Root() { return *m_root; }
  const CPackObject& Root() const { return *m_root; }
  bool HasSource() const { return m_source != nullptr; }
  // The archive's path once opened or saved; empty for a new document.
  const std::filesystem::path& PathName() const { return m_path; }
  // The file name, or "Untitled".
  std::string Title() const;

  // What the last Open found wrong while reading (a damaged directory, entries whose data lie
  // outside the file), as sentences for the user; empty when nothing was.
  const std::vector<std::string>& OpenProblems() const { return m_openProblems; }
  // Every problem of the open archive file: the above, overlapping data, duplicate paths and
  // names that cannot be stored or exported safely. Reads the directory again.
  std::vector<std::string> CheckArchive() const;
  int DamagedCount() const { return m_damagedCount; }
  // The last Open found the archive's directory itself damaged: the tree holds only what could
  // be read of it.
  bool DirectoryDamaged() const { return m_directoryDamaged; }

  // Every reason the tree cannot be written as an archive of the format (paths, sizes, names,
  // directories in a WAD, entries that cannot be read), naming the entries; empty when it can.
  std::vector<std::string> SaveBlockers(ContainerFormat format) const;
  std::vector<std::string> SaveBlockers() const { return SaveBlockers(Format()); }

  void AddObserver(CDocObserver* observer);
  void RemoveObserver(CDocObserver* observer);
  void NotifyObservers();

  // Reads a PAK index into a fresh root (exposed for tests and fuzzing). renamed receives a
  // sentence for each name the tree shows differently from the archive (a second entry of one
  // name gets "(2)") or that cannot be exported.
  static std::unique_ptr<CPackObject> BuildTree(const PakIndex& index, int* damaged = nullptr,
                                                std::vector<std::string>* renamed = nullptr);

  // What a conversion replaces, and its undoing puts back: the tree with the file it reads from.
  struct Container {
    std::unique_ptr<CPackObject> root;
    std::shared_ptr<CFileSource> source;
    std::filesystem::path path;
    FileStamp diskStamp;
  };
  void ExchangeContainer(Container& other);

  // --- archives held in the document's files (gfx.wad in pak0.pak) ---
  // Opens the archive a file holds, for browsing and editing in place, and gives its root: a
  // tree of its own, read from a private copy of the bytes. Opened once; an edit below it is
  // recorded in this document's history, and a save writes the inner archive (innermost
  // first, each through the same safe save) into its file before the document's own.
  // Nothing, with the reason, when the bytes are no archive Tarn reads.
  CPackObject* OpenInner(CPackObject& holder, std::string* error);
  // The root opened for a file of the document's trees, or nullptr: never opened, or the file
  // was given other bytes since (a Replace from File), which the opened tree no longer shows.
  CPackObject* InnerRoot(const CPackObject& holder) const;
  // The file whose opened archive root is, or nullptr (the document's own root, say).
  CPackObject* HolderOf(const CPackObject& root) const;
  // The document of the inner archive whose root is root, or nullptr: what opening it found
  // wrong (OpenProblems, DirectoryDamaged), told as it is for an archive opened alone.
  const CTarnDoc* InnerDocument(const CPackObject& root) const;
  // The path from the document's root through the files holding inner archives:
  // "gfx.wad/conchars.lmp"; an entry of the document's own tree has its own path.
  std::string FullPath(const CPackObject& entry) const;
  // The entry at such a path, going into opened inner archives; nullptr when there is none.
  CPackObject* FindFullPath(std::string_view path) const;

 private:
  struct Inner;
  // The inner archives that changed since they were opened or last written, written into
  // their files; false (told through Fail) when one cannot be.
  bool WriteInnerArchives();
  // After a save: the holders' bytes now come from the new file, and still stand for their trees.
  void NoteInnerHolders();
  bool InnerLive(const Inner& inner, int depth = 0) const;
  void ForgetInner();

  void ResetRoot();
  bool Fail(const std::string& message);
  bool FailSave(const SaveFailure& failure, bool targetExisted);
  // The archive's file as last seen, when path names it (so that others' changes are noticed).
  std::optional<FileStamp> LastSeen(const std::filesystem::path& path) const;

  void TakeProblems(const std::vector<std::string>& directory, int damaged, const std::vector<std::string>& renamed);

  std::unique_ptr<CPackObject> m_root;
  std::shared_ptr<CFileSource> m_source;
  WriteOptions m_writeOptions;
  std::filesystem::path m_path;
  FileStamp m_diskStamp;  // the archive's file when opened or last saved
  std::unique_ptr<CFileLock> m_lock;
  std::chrono::milliseconds m_lockTimeout = std::chrono::seconds(10);
  bool m_modified = false;
  bool m_cancelled = false;
  CUndoStack m_history;
  std::string m_lastError;
  std::vector<std::string> m_openProblems;
  int m_damagedCount = 0;
  bool m_directoryDamaged = false;
  std::vector<CDocObserver*> m_observers;
  std::vector<std::unique_ptr<Inner>> m_inner;
};

}  // namespace tarn
