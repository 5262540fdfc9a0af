// What differs between the containers Tarn reads and writes (PAK, the zip family, WAD2 and
// WAD3) is how entries are found and stored; the entry tree, the document, the views and
// tarn-pak are the same for all. One codec per format says it: it reads a directory into the
// tree, opens the bytes of an entry, writes a tree, and knows what the container cannot hold.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "archive/ArchiveReader.h"
#include "archive/ContainerFormat.h"
#include "archive/PackObject.h"
#include "fileio/ByteIO.h"
#include "fileio/Progress.h"
#include "fileio/ReadSource.h"

namespace tarn {

class CSafeSave;

// One file or directory record of an archive's directory.
struct DirectoryRecord {
  std::string_view path;  // as stored, "/" between names; points into storage the listing keeps
  std::int64_t size = 0;
  EntryLocation location;
  EntryProblem problem = EntryProblem::None;
  bool directory = false;  // a zip's record of a directory: makes the directory, not a file
};

// An archive's directory as read, in the archive's order: kept in records, or handed one by
// one to sink when there is one (opening an archive builds the tree as it reads, holding no
// list of records beside it).
struct DirectoryListing {
  std::vector<DirectoryRecord> records;
  std::function<void(const DirectoryRecord&)> sink;
  // Told how many records are coming once the directory says so (for progress), when set.
  std::function<void(std::size_t)> expect;
  void Expect(std::size_t count) const {
    if (expect) expect(count);
  }
  void Add(const DirectoryRecord& record) {
    if (sink) sink(record);
    else records.push_back(record);
  }
  // What reading found wrong with the directory itself, as sentences for the user.
  std::vector<std::string> problems;
  // Storage the records' paths may point into.
  ReadBuffer rawDirectory;
  std::deque<std::string> paths;
  std::string_view Keep(std::string path) { return paths.emplace_back(std::move(path)); }
};

class CTreeBuilder;
// Builds a tree from records as they come, named as the container stores names. damaged counts
// the files that cannot be read; renamed receives a sentence for each name the tree shows
// differently from the archive (a second entry of one name gets "(2)") or that cannot be exported.
class CTreeBuilding {
 public:
  CTreeBuilding(ContainerFormat format, std::vector<std::string>* renamed);
  ~CTreeBuilding();
  void Add(const DirectoryRecord& record);
  std::unique_ptr<CPackObject> Take();
  int Damaged() const;

 private:
  std::unique_ptr<CTreeBuilder> m_builder;
};

// The tree of a listing, named as the container stores names. damaged receives how many files
// cannot be read; renamed a sentence for each name the tree shows differently from the archive
// (a second entry of one name gets "(2)") or that cannot be exported.
std::unique_ptr<CPackObject> BuildTree(const DirectoryListing& listing, ContainerFormat format, int* damaged = nullptr,
                                       std::vector<std::string>* renamed = nullptr);

struct WriteOptions {
  // ZIP: 1 (fastest) to 9 (smallest) for the files that are deflated; 0 stores every file.
  int deflateLevel = 6;
  // Told the bytes written; when it says stop, the write ends and fails.
  CProgress* progress = nullptr;
  // ZIP: the threads that deflate; 0 for one per core. The archive is the same whatever it is.
  unsigned workers = 0;
};

class CContainerCodec {
 public:
  virtual ~CContainerCodec() = default;
  virtual ContainerFormat Format() const = 0;
  // Reads the directory; a reader for the entries' bytes, or nullptr with a sentence in error
  // when the archive cannot be opened at all. A damaged directory still opens, with its
  // problems in the listing.
  virtual std::unique_ptr<CArchiveReader> Open(std::shared_ptr<CReadSource> source, DirectoryListing& listing,
                                               std::string* error) const = 0;
  // Every problem of the archive, one line each; empty when it is sound. May read every entry.
  virtual std::vector<std::string> Check(std::shared_ptr<CReadSource> source) const = 0;
  // Every reason the tree cannot be written in this format, naming the entries; empty when it can.
  virtual std::vector<std::string> SaveBlockers(const CPackObject& root) const = 0;
  // Writes the tree into out (begun, not committed). False with a sentence in error when an
  // entry's bytes cannot be read or the container refuses; a failed disk write is out's to tell.
  virtual bool Write(const CPackObject& root, CSafeSave& out, const WriteOptions& options,
                     std::string* error) const = 0;
};

const CContainerCodec& CodecFor(ContainerFormat format);

// PAK: the listing of an index ReadPakIndex read; its paths point into the index.
struct PakIndex;
DirectoryListing PakListing(const PakIndex& index);

// The layout PAK and WAD share: a header, every file's bytes in save order, then one directory
// record per file. record makes a file's record from its path and its bytes' offset (false,
// with the reason in error, when the file cannot be stored); header, written first as it is,
// is written again once finish has filled in the directory's offset and record count. False
// when a file cannot be read or stored (the reason in error) or a write fails (error left
// empty: out knows the system's reason).
using RecordMaker = std::function<bool(const std::string& path, const CPackObject& file, std::uint32_t offset,
                                       std::vector<std::uint8_t>& record, std::string* error)>;
bool WriteFilesThenDirectory(CSafeSave& out, const CPackObject& root, std::vector<std::uint8_t> header,
                             const RecordMaker& record,
                             const std::function<void(std::vector<std::uint8_t>& header, std::uint32_t directoryOffset,
                                                      std::uint32_t count)>& finish,
                             std::string* error, CProgress* progress = nullptr);

// Gives every file below root, in save order, the location and problem of the listing's file
// records in turn: the listing of an archive just written from the tree.
bool Relocate(CPackObject& root, const DirectoryListing& listing);

// The path's segments that cannot be written out as a file's or folder's name, as one reason:
// empty when every segment can.
std::string UnsafePathReason(std::string_view path);

}  // namespace tarn
