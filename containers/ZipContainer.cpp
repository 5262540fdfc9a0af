// The zip family (.pk3, .pk2, .zip, .pkz, .kpf), read and written by Tarn: a zip is read
// through the open source file, and written into the new file of a CSafeSave, which then
// replaces the target as every save does. The list of entries and where each member's bytes
// lie come from the one central directory ZipFormat.h reads; a member's bytes are inflated from
// there (Deflate.h) and checked against its size and CRC.
//
// What is written (ZipWriter.h) is what every engine's zip reader (minizip, miniz, PhysicsFS)
// accepts: only "stored" and "deflate", no encryption, "/" between names and none in front, and
// never zip64, whose cases are refused before anything is written. An unchanged entry whose
// headers agree is copied as its compressed bytes, inflated on the way only to check them; any
// other is read and compressed again.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <unordered_map>

#include "archive/EntryNames.h"
#include "containers/Container.h"
#include "containers/Deflate.h"
#include "containers/ZipFormat.h"
#include "containers/ZipWriter.h"
#include "fileio/SafeSave.h"
#include "fileio/Strings.h"

namespace tarn {

namespace {

constexpr std::uint64_t kZipLimit = 0xFFFFFFFFull;  // sizes and offsets without zip64
constexpr std::uint64_t kMaxEntries = 0xFFFF;
constexpr std::uint64_t kLocalHeader = 30, kCentralHeader = 46, kEnd = 22;
// The most a deflate stream can hold per compressed byte (258 bytes for 2 bits, with margin):
// an entry that says it inflates to more is lying, and nothing is allocated for it.
constexpr std::uint64_t kMaxDeflateRatio = 1032;

// Why an entry name is unsafe to follow on export, in the words a modder knows from zips.
std::string ZipNameProblem(std::string_view name) {
  if (!name.empty() && name.front() == '/') return "an absolute path";
  if (name.size() >= 2 && name[1] == ':' && ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z')))
    return "a drive letter";
  if (name.find('\\') != std::string_view::npos) return "a \"\\\" in the name, which some readers take for a folder";
  std::string_view path = name;
  if (!path.empty() && path.back() == '/') path.remove_suffix(1);
  return UnsafePathReason(path);
}

// A member's bytes from where its local header says they start: inflated when deflated, and
// checked against the declared size and CRC on the way.
class CMemberStream final : public CEntryStream {
 public:
  CMemberStream(std::shared_ptr<CReadSource> source, std::uint64_t at, const ZipRecord& rec, std::string label)
      : m_source(std::move(source)),
        m_at(at),
        m_compressedLeft(rec.storedSize),
        m_left(rec.size),
        m_size(rec.size),
        m_crc(rec.crc),
        m_deflated(rec.method == zipfmt::kDeflated),
        m_label(std::move(label)) {}

  std::int64_t Read(std::uint8_t* dst, std::size_t n) override {
    if (m_deflated && !m_triedWhole) InflateAtOnce();
    if (m_left == 0) return Finish();
    n = static_cast<std::size_t>(std::min<std::uint64_t>(n, m_left));
    std::size_t produced = 0;
    if (!m_whole.empty()) {
      std::memcpy(dst, m_whole.data() + (m_size - m_left), n);
      produced = n;
    } else if (!m_deflated) {
      if (!m_source->ReadAt(m_at, dst, n)) return Fail("cannot read the bytes of " + Quoted(m_label));
      m_at += n;
      produced = n;
    } else {
      while (produced == 0) {
        if (m_ended)
          return Fail(Quoted(m_label) + " ends after " + std::to_string(m_size - m_left) + " of its " +
                      std::to_string(m_size) + " bytes");
        if (m_inflater.NeedsInput() && !Refill()) return -1;
        const CInflater::Status status = m_inflater.Inflate(dst, n, &produced);
        if (status == CInflater::Status::Damaged) return Damaged();
        m_ended = status == CInflater::Status::End;
      }
    }
    m_crcSoFar = Crc32(m_crcSoFar, dst, produced);
    m_left -= produced;
    return static_cast<std::int64_t>(produced);
  }

 private:
  // A member small enough to hold is inflated in one call; one that does not inflate cleanly to
  // its declared size is read piece by piece instead, which tells exactly what is wrong.
  void InflateAtOnce() {
    m_triedWhole = true;
    constexpr std::uint64_t kHold = 64u << 20;
    if (m_size == 0 || m_size > kHold || m_compressedLeft > kHold) return;
    std::vector<std::uint8_t> in(static_cast<std::size_t>(m_compressedLeft));
    if (!m_source->ReadAt(m_at, in.data(), in.size())) return;
    m_whole.resize(static_cast<std::size_t>(m_size));
    if (!InflateWhole(in.data(), in.size(), m_whole.data(), m_whole.size())) {
      m_whole = {};
      return;
    }
    m_ended = true;
  }

  // All the declared bytes were read: the stream has to end there, and the CRC agree.
  std::int64_t Finish() {
    if (m_finished) return 0;
    while (m_deflated && !m_ended) {
      // One byte more: a byte past the declared size means the entry lies about it.
      std::uint8_t extra;
      std::size_t produced = 0;
      if (m_inflater.NeedsInput() && !Refill()) return -1;
      const CInflater::Status status = m_inflater.Inflate(&extra, 1, &produced);
      if (status == CInflater::Status::Damaged) return Damaged();
      if (produced > 0)
        return Fail(Quoted(m_label) + " inflates past its declared size of " + std::to_string(m_size) +
                    " bytes; reading stopped there");
      m_ended = status == CInflater::Status::End;
    }
    if (m_crcSoFar != m_crc) return Fail(Quoted(m_label) + " is damaged: its bytes do not match their CRC");
    m_finished = true;
    return 0;
  }
  bool Refill() {
    if (m_compressedLeft == 0) {
      Fail(Quoted(m_label) + " is damaged: its compressed bytes end before " + std::to_string(m_size - m_left) +
           " of its " + std::to_string(m_size) + " bytes were made");
      return false;
    }
    m_in.resize(static_cast<std::size_t>(std::min<std::uint64_t>(m_compressedLeft, 1 << 16)));
    if (!m_source->ReadAt(m_at, m_in.data(), m_in.size())) {
      Fail("cannot read the bytes of " + Quoted(m_label));
      return false;
    }
    m_at += m_in.size();
    m_compressedLeft -= m_in.size();
    m_inflater.Feed(m_in.data(), m_in.size());
    return true;
  }
  std::int64_t Damaged() {
    return Fail(Quoted(m_label) + " is damaged: its compressed bytes are not valid deflate data");
  }

  std::shared_ptr<CReadSource> m_source;
  std::uint64_t m_at, m_compressedLeft, m_left, m_size;
  std::uint32_t m_crc, m_crcSoFar = 0;
  bool m_deflated, m_ended = false, m_finished = false, m_triedWhole = false;
  std::vector<std::uint8_t> m_whole;  // the member inflated at once, when it could be
  CInflater m_inflater;
  ReadBuffer m_in;
  std::string m_label;
};

// The members as Tarn's own reading of the central directory found them: both the listing's
// names and the bytes behind them come from it, so a zip with a second directory in its
// comment cannot pair one directory's names with the other's bytes.
class CZipReader final : public CArchiveReader {
 public:
  CZipReader(std::shared_ptr<CReadSource> source, const ZipIndex& index)
      : CArchiveReader(std::move(source)), m_raw(index.rawDirectory), m_records(index.records) {
    // The records' stored names point into the reader's own copy of the directory.
    for (ZipRecord& rec : m_records) {
      rec.rawName =
          std::string_view(reinterpret_cast<const char*>(m_raw.data()) +
                               (reinterpret_cast<const std::uint8_t*>(rec.rawName.data()) - index.rawDirectory.data()),
                           rec.rawName.size());
      rec.name = {};
    }
  }
  ContainerFormat Format() const override { return ContainerFormat::Zip; }

  std::string Unreadable(const CPackObject& entry) const override {
    std::string why = CArchiveReader::Unreadable(entry);
    const EntryLocation at = entry.Location();
    if (why.empty() && !Plausible(at, entry.Size()))
      why = "the data of " + Quoted(entry.PathInArchive()) + " lie outside the archive";
    if (why.empty() && !KnownMethod(at.method))
      why = Quoted(entry.PathInArchive()) + ": compressed with " + ZipMethodName(at.method) +
            ", which Tarn does not read";
    return why;
  }

  std::unique_ptr<CEntryStream> Open(const CPackObject& entry) override {
    if (!Unreadable(entry).empty()) return nullptr;
    return Open(entry.Location(), entry.PathInArchive());
  }

  std::int64_t MemberTime(const CPackObject& entry) const override {
    const ZipRecord* rec = Record(entry.Location());
    return rec ? FromDosTime(rec->dosTime) : CArchiveReader::MemberTime(entry);
  }

  std::int64_t MemberOffset(const CPackObject& entry) const override {
    const ZipRecord* rec = entry.BytesInSource() ? Record(entry.Location()) : nullptr;
    return rec ? static_cast<std::int64_t>(std::min<std::uint64_t>(rec->localOffset, INT64_MAX)) : -1;
  }

  // The member at location as the directory lists it, whatever tree it is in. A stream that
  // cannot start says why at its first read.
  std::unique_ptr<CEntryStream> Open(const EntryLocation& at, const std::string& label) const {
    ZipLocal local;
    std::string why;
    const ZipRecord* rec = Record(at);
    if (!rec) return std::make_unique<CFailedStream>("cannot read " + Quoted(label) + ": it is not in the archive");
    if (!Local(*rec, label, local, &why)) return std::make_unique<CFailedStream>(why);
    return std::make_unique<CMemberStream>(SharedSource(), local.dataOffset, *rec, label);
  }

  const ZipRecord* Record(const EntryLocation& at) const {
    return at.offset >= 0 && static_cast<std::uint64_t>(at.offset) < m_records.size()
               ? &m_records[static_cast<std::size_t>(at.offset)]
               : nullptr;
  }
  bool Local(const ZipRecord& rec, const std::string& label, ZipLocal& local, std::string* why) const {
    ZipRecord named = rec;
    named.name = label;
    return ReadZipLocal(Source(), named, local, why);
  }

  // Sizes a zip's data can hold: stored bytes are as many as they say, and deflate cannot
  // inflate past a known ratio, so nothing is allocated for what a record only claims.
  bool Plausible(const EntryLocation& at, std::int64_t declared) const {
    const ZipRecord* rec = Record(at);
    const auto size = static_cast<std::uint64_t>(declared);
    return rec && rec->storedSize <= Source().Size() &&
           (rec->method == zipfmt::kStored ? size == rec->storedSize
                                           : size <= rec->storedSize * kMaxDeflateRatio + 1024);
  }

 private:
  // Stored and deflated members: what every engine reads, and nothing else is read.
  static bool KnownMethod(std::uint16_t method) { return method == zipfmt::kStored || method == zipfmt::kDeflated; }
  ReadBuffer m_raw;
  std::vector<ZipRecord> m_records;
};

// The records of the central directory into the listing; names point into the index.
void ListEntries(const ZipIndex& index, DirectoryListing& listing) {
  listing.Expect(index.records.size());
  for (std::size_t i = 0; i < index.records.size(); ++i) {
    const ZipRecord& rec = index.records[i];
    DirectoryRecord r;
    r.path = rec.name;
    r.directory = !r.path.empty() && r.path.back() == '/';
    r.size = static_cast<std::int64_t>(std::min<std::uint64_t>(rec.size, INT64_MAX));
    r.location.offset = static_cast<std::int64_t>(i);
    r.location.storedSize = static_cast<std::uint32_t>(std::min<std::uint64_t>(rec.storedSize, kZipLimit));
    r.location.crc = rec.crc;
    r.location.crcKnown = true;
    r.location.method = rec.method;
    if (rec.flags & zipfmt::kEncrypted) r.problem = EntryProblem::Encrypted;
    else if (rec.method != zipfmt::kStored && rec.method != zipfmt::kDeflated) r.problem = EntryProblem::Method;
    listing.Add(r);
  }
}

// --- writing ---

// What a stream holds no more of: read to its end, so that it checks its size and CRC.
bool DrainChecked(CEntryStream& stream) {
  std::vector<std::uint8_t> scratch(1 << 16);
  std::int64_t n = 1;
  while (n > 0) n = stream.Read(scratch.data(), scratch.size());
  return n == 0;
}

// Data already compressed gain nothing from deflate, which would only cost time to make and
// to undo each time the game reads them.
bool KeepStored(std::string_view name) {
  static constexpr const char* kCompressed[] = {".ogg", ".png", ".jpg", ".jpeg", ".mp3", ".opus", ".flac", ".webp",
                                                ".zip", ".pk3", ".pk2", ".pkz",  ".gz",  ".bz2",  ".xz",   ".7z"};
  for (const char* ext : kCompressed) {
    const std::size_t n = std::strlen(ext);
    if (name.size() > n && SameName(name.substr(name.size() - n), ext)) return true;
  }
  return false;
}

class CZipCodec final : public CContainerCodec {
 public:
  ContainerFormat Format() const override { return ContainerFormat::Zip; }

  std::unique_ptr<CArchiveReader> Open(std::shared_ptr<CReadSource> source, DirectoryListing& listing,
                                       std::string* error) const override {
    std::string why;
    ZipIndex index;
    if (!ReadZipDirectory(*source, index, &why)) {
      if (error) *error = "the zip archive cannot be read: " + why;
      return nullptr;
    }
    ListEntries(index, listing);
    auto reader = std::make_unique<CZipReader>(std::move(source), index);
    // Kept records point into the directory's bytes and the converted names, which the
    // listing then keeps.
    listing.rawDirectory = std::move(index.rawDirectory);
    listing.paths = std::move(index.names);
    return reader;
  }

  std::vector<std::string> Check(std::shared_ptr<CReadSource> source) const override {
    std::vector<std::string> problems;
    std::string why;
    ZipIndex index;
    if (!ReadZipDirectory(*source, index, &why)) return {"the zip archive cannot be read: " + why};
    problems = index.problems;
    const CZipReader reader(source, index);
    DirectoryListing listing;
    ListEntries(index, listing);
    std::vector<NamedRecord> named;
    for (const DirectoryRecord& rec : listing.records) named.push_back({rec.path, rec.directory});
    for (const std::string& both : FileAndFolderPaths(named)) problems.push_back(FileAndFolderNote(both));
    std::unordered_map<std::string, std::size_t> seen;
    for (std::size_t i = 0; i < listing.records.size(); ++i) {
      const DirectoryRecord& rec = listing.records[i];
      const std::string label = Quoted(rec.path);
      if (const std::string unsafe = ZipNameProblem(rec.path); !unsafe.empty())
        problems.push_back(label + ": cannot be exported safely: " + unsafe);
      auto [it, fresh] = seen.emplace(ToLower(rec.path), i);
      if (!fresh) problems.push_back(label + ": duplicate name (also entry " + std::to_string(it->second + 1) + ")");
      if (rec.directory) continue;
      if (rec.problem == EntryProblem::Encrypted) {
        problems.push_back(label + ": encrypted entries are not supported");
        continue;
      }
      if (rec.problem == EntryProblem::Method) {
        problems.push_back(label + ": compressed with " + ZipMethodName(rec.location.method) +
                           ", which Tarn and game engines do not read");
        continue;
      }
      if (rec.size >= static_cast<std::int64_t>(kZipLimit))
        problems.push_back(label + ": 4 GiB or larger, which only zip64 can hold and game engines may not read");
      if (rec.problem != EntryProblem::None) continue;
      if (!reader.Plausible(rec.location, rec.size)) {
        problems.push_back(label + ": its sizes are impossible (" + std::to_string(rec.size) + " bytes from " +
                           std::to_string(rec.location.storedSize) + ")");
        continue;
      }
      ZipLocal local;
      if (!reader.Local(*reader.Record(rec.location), std::string(rec.path), local, &why)) {
        problems.push_back(why);
        continue;
      }
      if (!local.disagreement.empty()) problems.push_back(local.disagreement);
      // Every byte read, as extraction would: the sizes and the CRC are checked on the way.
      auto stream = reader.Open(rec.location, std::string(rec.path));
      std::vector<std::uint8_t> buffer(1 << 16);
      for (std::int64_t n = 1; n > 0;) n = stream->Read(buffer.data(), buffer.size());
      if (!stream->Error().empty()) problems.push_back(stream->Error());
    }
    return problems;
  }

  std::vector<std::string> SaveBlockers(const CPackObject& root) const override {
    std::vector<std::string> blockers;
    std::uint64_t end = kEnd, files = 0;
    std::string path;
    VisitFilesInSaveOrder(root, path, [&](const std::string& p, const CPackObject& file) {
      ++files;
      if (const std::string why = ZipNameProblem(p); !why.empty())
        blockers.push_back("The path " + Quoted(p) + " cannot be stored in a zip: " + why + ".");
      const auto size = static_cast<std::uint64_t>(std::max<std::int64_t>(file.Size(), 0));
      if (size >= kZipLimit) blockers.push_back("The file " + Quoted(p) + " is 4 GiB or larger, which needs zip64.");
      // Deflate can make data a little larger: what the archive could come to at worst.
      end += kLocalHeader + kCentralHeader + 2 * p.size() + size + (size + 16383) / 16384 * 5 + 6;
    });
    if (files > kMaxEntries)
      blockers.push_back("The archive would hold " + std::to_string(files) + " files; more than 65,535 needs zip64.");
    if (end > kZipLimit)
      blockers.push_back("The archive could come to " + std::to_string(end) + " bytes; 4 GiB or more needs zip64.");
    return blockers;
  }

  bool Write(const CPackObject& root, CSafeSave& out, const WriteOptions& options, std::string* error) const override {
    std::vector<ZipMember> members;
    std::string path;
    const std::int64_t now = std::time(nullptr);
    VisitFilesInSaveOrder(root, path, [&](const std::string& p, const CPackObject& file) {
      ZipMember m;
      m.path = p;
      m.size = file.Size();
      const std::int64_t changed = file.Time();
      m.dosTime = ToDosTime(ReproducibleTime(changed ? changed : now));
      // The archive the entry's location describes: the root's, or for an entry back from an
      // undone delete, the one it was deleted from.
      const auto* reader = dynamic_cast<const CZipReader*>(file.Archive());
      const EntryLocation at = file.Location();
      const ZipRecord* rec = reader ? reader->Record(at) : nullptr;
      ZipLocal local;
      // Copied as they are only when both headers agree on them; the copy is inflated on the
      // way and checked against size and CRC, so a damaged member fails the save. Any other
      // entry is read through its stream (which says why when it cannot be) and compressed again.
      const bool raw = rec && file.BytesInSource() && file.Problem() == EntryProblem::None &&
                       reader->Unreadable(file).empty() && reader->Local(*rec, p, local, nullptr) &&
                       local.disagreement.empty();
      if (raw) {
        m.kind = ZipMember::Kind::Raw;
        m.method = rec->method;
        m.crc = rec->crc;
        m.storedSize = rec->storedSize;
        m.rawBytes = [source = reader->SharedSource(), at = local.dataOffset, rec = *rec, p](
                         std::vector<std::uint8_t>& bytes, std::string* why) {
          bytes.resize(static_cast<std::size_t>(rec.storedSize));
          if (!source->ReadAt(at, bytes.data(), bytes.size())) {
            *why = "cannot read the bytes of " + Quoted(p);
            return false;
          }
          CMemberStream check(source, at, rec, p);
          if (!DrainChecked(check)) {
            *why = check.Error();
            return false;
          }
          return true;
        };
      } else {
        m.kind = options.deflateLevel <= 0 || KeepStored(p) ? ZipMember::Kind::Store : ZipMember::Kind::Deflate;
        m.open = [&file](std::string* why) { return file.OpenStream(why); };
      }
      members.push_back(std::move(m));
    });
    ZipWriteOptions zipOptions;
    zipOptions.level = std::clamp(options.deflateLevel, 1, 9);
    zipOptions.progress = options.progress;
    zipOptions.workers = options.workers;
    std::string why;
    if (WriteZip(members, out, zipOptions, &why)) return true;
    // A disk failure (a full disk, a size limit) is told by the save's Commit, which kept the
    // system's reason and names the file, as for every other format.
    if (error && out.WriteError() == 0) *error = why;
    return false;
  }
};

}  // namespace

const CContainerCodec& ZipCodec() {
  static const CZipCodec codec;
  return codec;
}

}  // namespace tarn
