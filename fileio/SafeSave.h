// Replacing a file on disk without ever exposing a partial one, and without surprising the
// user: the new contents go to an unnamed file in the target's folder (O_TMPFILE), which is
// given a name and renamed over the target only once complete and flushed. A killed writer
// leaves nothing behind; where the system cannot make unnamed files, a temporary named after
// the target (".NAME.tarn-PID-N.tmp", locked while its writer lives) is used instead, and
// stale ones of writers that are gone are removed by the next save.
//
// A save through a symbolic link replaces the file the link leads to, so the link stays. The
// new file keeps the old one's mode, owner and group where the process may set them. What a
// replacement would do beyond changing the contents (break hard links, overwrite a read-only
// file, overwrite changes someone else made since the caller last looked) is reported as a
// concern and refused unless the caller consents.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarn {

// What tells cheaply whether a file on disk is still the one a program saw: which file
// (device and inode), its size and when it was last written.
struct FileStamp {
  bool exists = false;
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::int64_t size = 0;
  std::int64_t modifiedNs = 0;

  static FileStamp OfPath(const std::filesystem::path& path);  // follows symbolic links
  static FileStamp OfDescriptor(int fd);
  bool SameFile(const FileStamp& o) const { return exists && o.exists && device == o.device && inode == o.inode; }
  bool operator==(const FileStamp&) const = default;
};

enum class SaveConcern { HardLinks, ReadOnly, ChangedOnDisk };

struct SaveConsent {
  bool breakHardLinks = false;
  bool overwriteReadOnly = false;
  bool overwriteChanged = false;
  bool& operator[](SaveConcern c) {
    return c == SaveConcern::HardLinks  ? breakHardLinks
           : c == SaveConcern::ReadOnly ? overwriteReadOnly
                                        : overwriteChanged;
  }
  bool Allows(SaveConcern c) const { return const_cast<SaveConsent&>(*this)[c]; }
};

// The file a save to a path would replace.
struct SaveTarget {
  std::filesystem::path requested;
  std::filesystem::path path;  // the requested path, or the file its symbolic links lead to
  bool exists = false;
  std::uint64_t otherNames = 0;  // hard links besides this name
  bool readOnly = false;
  unsigned mode = 0;  // permission bits, owner and group of the existing file
  std::uint32_t owner = 0;
  std::uint32_t group = 0;
  FileStamp stamp;
  std::string refusal;  // why nothing can be saved there at all (a folder, a device); empty when it can
};

SaveTarget InspectSaveTarget(const std::filesystem::path& path);

// Concerns of saving over target; expected is the state the caller last saw it in, if any.
std::vector<SaveConcern> ConcernsOf(const SaveTarget& target, const std::optional<FileStamp>& expected);

// One sentence for the user, naming the file.
std::string DescribeConcern(SaveConcern concern, const SaveTarget& target);

// The system's reason for errno value err, for messages.
std::string SystemReason(int err);

enum class SaveStage {
  None,
  Refused,  // a concern without consent, or a target that cannot be replaced
  Create,   // the new file could not be made
  Write,    // writing or flushing it failed
  Replace,  // it could not be put in the target's place
};

struct SaveFailure {
  SaveStage stage = SaveStage::None;
  std::filesystem::path path;
  std::string reason;        // the system's reason, or the refusal
  std::string Text() const;  // the quoted path and the reason
};

// A file being written in an open folder to take the place of one name there; the low-level
// step that both saving and extraction use.
class CPendingFile {
 public:
  CPendingFile() = default;
  ~CPendingFile() { Discard(); }
  CPendingFile(const CPendingFile&) = delete;
  CPendingFile& operator=(const CPendingFile&) = delete;

  // Creates the file (with mode, less the umask) in the folder dirFd, unnamed when allowed and
  // possible. False with errno in *err.
  bool Create(int dirFd, const std::string& name, unsigned mode, bool unnamed, int* err);
  std::FILE* File() const { return m_file; }
  int Descriptor() const;
  bool Unnamed() const { return m_unnamed; }
  // Pushes what was written to the system (and to the disk when sync is set).
  bool Flush(bool sync, int* err);
  // Gives the file the name, replacing what had it; syncs the folder when asked. False with
  // errno in *err, the file then still pending (Discard or the destructor removes it).
  bool Publish(bool syncFolder, int* err);
  void Discard();

 private:
  bool Link(int* err);
  int m_dir = -1;
  std::string m_name;
  std::string m_tempName;  // the named temporary, once there is one
  int m_pendingSlot = -1;  // where a signal handler finds that name (RemovePendingTemporaries)
  std::FILE* m_file = nullptr;
  bool m_unnamed = false;
};

// Removes the temporaries ".NAME.tarn-PID-N.tmp" of name in the folder whose writers are gone.
// Returns how many were removed.
int RemoveStaleTemporaries(int dirFd, const std::string& name);

// Removes this process's named temporaries that are being written (or renamed into place) now;
// async-signal-safe, for a handler of a signal that ends the process.
void RemovePendingTemporaries();
// Installs handlers of SIGINT, SIGTERM and SIGHUP (unless ignored) that remove them, then let
// the signal end the process as it would have. For programs that leave the signals to their
// default, as tarn-pak does.
void RemoveTemporariesOnSignals();

struct SaveOptions {
  SaveConsent consent;
  std::optional<FileStamp> expected;  // the state the caller last saw the target in
  bool unnamedTemporary = true;       // false: a named temporary beside the target (tests)
};

class CSafeSave {
 public:
  using Options = SaveOptions;

  CSafeSave() = default;
  ~CSafeSave() { Abort(); }
  CSafeSave(const CSafeSave&) = delete;
  CSafeSave& operator=(const CSafeSave&) = delete;

  // Inspects the target, refuses what was not consented to, and creates the new file.
  bool Begin(const std::filesystem::path& path, const Options& options = {});
  std::FILE* File() const { return m_file.File(); }
  // Writes n bytes, keeping the system's reason should it fail.
  bool Write(const void* data, std::size_t n);
  // Marks the write as failed with errno value err (for writers that use File() directly).
  void WriteFailed(int err);
  // The errno value of the first failed write (ENOSPC on a full disk); 0 while none failed.
  int WriteError() const { return m_writeErrno; }
  // Flushes to disk, keeps mode, owner and group, and replaces the target, unless it changed
  // since Begin. Nothing of the new file stays when it fails.
  bool Commit();
  void Abort();

  const SaveTarget& Target() const { return m_target; }
  const SaveFailure& Failure() const { return m_failure; }
  // The new file as it lies on disk after Commit.
  const FileStamp& Committed() const { return m_committed; }

 private:
  bool Fail(SaveStage stage, const std::string& reason);
  bool FailErrno(SaveStage stage, int err);

  static constexpr std::size_t kBufferSize = 256 << 10;

  SaveTarget m_target;
  SaveFailure m_failure;
  std::unique_ptr<char[]> m_buffer;  // the file's stdio buffer: declared first, freed after it closes
  CPendingFile m_file;
  int m_dir = -1;
  int m_writeErrno = 0;
  std::size_t m_unstarted = 0;  // bytes written since the disk was last asked to start on them
  FileStamp m_committed;
};

}  // namespace tarn
