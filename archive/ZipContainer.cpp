// The zip family (.pk3, .pk2, .zip, .pkz, .kpf) through libzip, reading from and writing to
// Tarn's own files: a zip is read through the open source file, and written into the new file
// of a CSafeSave, which then replaces the target as every save does. The list of entries comes
// from the central directory as ZipFormat.h reads it (a listing needs nothing more); libzip
// opens the archive when an entry's bytes are first wanted, to inflate and check them.
//
// What is written is what every engine's zip reader (minizip, miniz, PhysicsFS) accepts: only
// "stored" and "deflate", no encryption, "/" between names and none in front, and never zip64.
// libzip writes zip64 records only for what needs them (an entry of 4 GiB or more, offsets past
// 4 GiB, more than 65,535 entries, or a size it is not told in advance), so those are refused
// before anything is written and every entry's size is given; it seeks back to fill in a local
// header instead of writing a data descriptor. An unchanged entry is copied as its compressed
// bytes, without inflating and deflating it again.
#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unordered_map>

#include "archive/Container.h"
#include "archive/EntryNames.h"
#include "archive/SafeSave.h"
#include "archive/Strings.h"
#include "archive/ZipFormat.h"

namespace tarn {

namespace {

// A source command's argument block (libzip's ZIP_SOURCE_GET_ARGS, with its error set).
template <typename T>
T* Args(void* data, zip_uint64_t len, zip_error_t* error) {
  if (len < sizeof(T)) {
    ::zip_error_set(error, ZIP_ER_INVAL, 0);
    return nullptr;
  }
  return static_cast<T*>(data);
}

constexpr std::uint64_t kZipLimit = 0xFFFFFFFFull;  // sizes and offsets without zip64
constexpr std::uint64_t kMaxEntries = 0xFFFF;
constexpr std::uint64_t kLocalHeader = 30, kCentralHeader = 46, kEnd = 22;
// The most a deflate stream can hold per compressed byte (258 bytes for 2 bits, with margin):
// an entry that says it inflates to more is lying, and nothing is allocated for it.
constexpr std::uint64_t kMaxDeflateRatio = 1032;

// The commands every source of Tarn's answers alike: its error, its end (the context goes with
// it), what it supports, and no to anything else.
template <typename Context>
zip_int64_t CommonCommand(Context* ctx, void* data, zip_uint64_t len, zip_source_cmd_t cmd, zip_int64_t supports) {
  switch (cmd) {
    case ZIP_SOURCE_ERROR: return ::zip_error_to_data(&ctx->error, data, len);
    case ZIP_SOURCE_FREE:
      ::zip_error_fini(&ctx->error);
      delete ctx;
      return 0;
    case ZIP_SOURCE_SUPPORTS: return supports;
    default: ::zip_error_set(&ctx->error, ZIP_ER_OPNOTSUPP, 0); return -1;
  }
}

// --- reading through a CReadSource ---

struct ReadContext {
  std::shared_ptr<CReadSource> source;
  std::uint64_t position = 0;
  zip_error_t error;
};

zip_int64_t ReadCallback(void* user, void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
  auto* ctx = static_cast<ReadContext*>(user);
  const std::uint64_t size = ctx->source->Size();
  switch (cmd) {
    case ZIP_SOURCE_OPEN: ctx->position = 0; return 0;
    case ZIP_SOURCE_READ: {
      const std::uint64_t n = std::min<std::uint64_t>(len, size - std::min(size, ctx->position));
      if (n && !ctx->source->ReadAt(ctx->position, data, static_cast<std::size_t>(n))) {
        ::zip_error_set(&ctx->error, ZIP_ER_READ, EIO);
        return -1;
      }
      ctx->position += n;
      return static_cast<zip_int64_t>(n);
    }
    case ZIP_SOURCE_CLOSE: return 0;
    case ZIP_SOURCE_STAT: {
      auto* st = Args<zip_stat_t>(data, len, &ctx->error);
      if (!st) return -1;
      ::zip_stat_init(st);
      st->size = size;
      st->valid |= ZIP_STAT_SIZE;
      return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_SEEK: {
      const zip_int64_t at = ::zip_source_seek_compute_offset(ctx->position, size, data, len, &ctx->error);
      if (at < 0) return -1;
      ctx->position = static_cast<std::uint64_t>(at);
      return 0;
    }
    case ZIP_SOURCE_TELL: return static_cast<zip_int64_t>(ctx->position);
    default: return CommonCommand(ctx, data, len, cmd, ZIP_SOURCE_SUPPORTS_SEEKABLE);
  }
}

// The archive read through source; nullptr with a sentence for the user.
zip_t* OpenZip(const std::shared_ptr<CReadSource>& source, int flags, std::string* why) {
  auto* ctx = new ReadContext{source, 0, {}};
  ::zip_error_init(&ctx->error);
  zip_error_t error;
  ::zip_error_init(&error);
  zip_source_t* src = ::zip_source_function_create(ReadCallback, ctx, &error);
  if (!src) {
    ::zip_error_fini(&ctx->error);
    delete ctx;
    if (why) *why = ::zip_error_strerror(&error);
    ::zip_error_fini(&error);
    return nullptr;
  }
  zip_t* za = ::zip_open_from_source(src, flags | ZIP_RDONLY, &error);
  if (!za) {
    ::zip_source_free(src);
    if (why) {
      switch (::zip_error_code_zip(&error)) {
        case ZIP_ER_NOZIP: *why = "its central directory (the zip's list of entries) is missing or cut short"; break;
        case ZIP_ER_INCONS: *why = "it is inconsistent: its central directory is damaged or cut short"; break;
        case ZIP_ER_MULTIDISK: *why = "zips spanning several files are not supported"; break;
        default: *why = ::zip_error_strerror(&error);
      }
    }
  }
  ::zip_error_fini(&error);
  return za;
}

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

class CZipStream final : public CEntryStream {
 public:
  CZipStream(zip_file_t* file, std::uint64_t size, std::string label)
      : m_file(file), m_left(size), m_size(size), m_label(std::move(label)) {}
  ~CZipStream() override { ::zip_fclose(m_file); }

  std::int64_t Read(std::uint8_t* dst, std::size_t n) override {
    if (m_left == 0) {
      if (m_ended) return 0;
      m_ended = true;
      // One byte more: libzip checks the CRC once it reaches the end, and a byte past the
      // declared size means the entry lies about it.
      std::uint8_t extra;
      const zip_int64_t r = ::zip_fread(m_file, &extra, 1);
      if (r > 0)
        return Fail(Quoted(m_label) + " inflates past its declared size of " + std::to_string(m_size) +
                    " bytes; reading stopped there");
      if (r < 0) return Failure();
      return 0;
    }
    const zip_int64_t r = ::zip_fread(m_file, dst, static_cast<zip_uint64_t>(std::min<std::uint64_t>(n, m_left)));
    if (r < 0) return Failure();
    if (r == 0)
      return Fail(Quoted(m_label) + " ends after " + std::to_string(m_size - m_left) + " of its " +
                  std::to_string(m_size) + " bytes");
    m_left -= static_cast<std::uint64_t>(r);
    return r;
  }

 private:
  std::int64_t Failure() {
    zip_error_t* e = ::zip_file_get_error(m_file);
    if (::zip_error_code_zip(e) == ZIP_ER_CRC)
      return Fail(Quoted(m_label) + " is damaged: its bytes do not match their CRC");
    return Fail("cannot read " + Quoted(m_label) + ": " + ::zip_error_strerror(e));
  }
  zip_file_t* m_file;
  std::uint64_t m_left, m_size;
  std::string m_label;
  bool m_ended = false;
};

// The entries are known from the central directory as Tarn reads it; libzip opens the archive
// when the first entry's bytes are wanted, and indexes the entries in the same order.
class CZipReader final : public CArchiveReader {
 public:
  CZipReader(std::shared_ptr<CReadSource> source, std::uint64_t count)
      : CArchiveReader(std::move(source)), m_count(count) {}
  ~CZipReader() override {
    if (m_zip) ::zip_discard(m_zip);
  }
  ContainerFormat Format() const override { return ContainerFormat::Zip; }
  // The archive opened by libzip, or nullptr (with why) when it cannot be.
  zip_t* Zip(std::string* why = nullptr) {
    if (!m_zip && m_openFailure.empty()) {
      m_zip = OpenZip(SharedSource(), 0, &m_openFailure);
    }
    if (!m_zip && why) *why = m_openFailure;
    return m_zip;
  }

  std::string Unreadable(const CPackObject& entry) const override {
    std::string why = CArchiveReader::Unreadable(entry);
    if (why.empty() && !Plausible(entry.Location(), entry.Size()))
      why = "the data of " + Quoted(entry.PathInArchive()) + " lie outside the archive";
    if (why.empty() && !KnownMethod(entry.Location().method))
      why = Quoted(entry.PathInArchive()) + ": compression method " + std::to_string(entry.Location().method) +
            " is not supported";
    return why;
  }

  std::unique_ptr<CEntryStream> Open(const CPackObject& entry) override {
    if (!Unreadable(entry).empty()) return nullptr;
    return Open(entry.Location(), entry.Size(), entry.PathInArchive());
  }

  // The entry at location as the directory lists it, whatever tree it is in. A stream that
  // cannot start says why at its first read.
  std::unique_ptr<CEntryStream> Open(const EntryLocation& at, std::int64_t size, const std::string& label) {
    std::string why;
    zip_t* za = Zip(&why);
    zip_file_t* f = za ? ::zip_fopen_index(za, static_cast<zip_uint64_t>(at.offset), 0) : nullptr;
    if (!f) {
      if (za) why = ::zip_strerror(za);
      return std::make_unique<CFailedStream>("cannot read " + Quoted(label) + ": " + why);
    }
    return std::make_unique<CZipStream>(f, static_cast<std::uint64_t>(size), label);
  }

  // Sizes a zip's data can hold: stored bytes are as many as they say, and deflate cannot
  // inflate past a known ratio, so nothing is allocated for what a record only claims.
  bool Plausible(const EntryLocation& at, std::int64_t declared) const {
    const auto size = static_cast<std::uint64_t>(declared);
    return at.offset >= 0 && static_cast<std::uint64_t>(at.offset) < m_count && at.storedSize <= Source().Size() &&
           (at.method == ZIP_CM_STORE ? size == at.storedSize : size <= at.storedSize * kMaxDeflateRatio + 1024);
  }

 private:
  // Stored and deflated entries are read by every libzip; others as far as this one can.
  static bool KnownMethod(std::uint16_t method) {
    return method == ZIP_CM_STORE || method == ZIP_CM_DEFLATE || ::zip_compression_method_supported(method, 0);
  }
  std::uint64_t m_count;
  zip_t* m_zip = nullptr;
  std::string m_openFailure;
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
    listing.Add(r);
  }
}

// --- writing into a CSafeSave ---

struct WriteContext {
  CSafeSave* out;
  zip_error_t error;
  bool diskFailed = false;        // the save knows the system's reason
  CProgress* progress = nullptr;  // told the bytes of the archive as they are written
};

zip_int64_t WriteCallback(void* user, void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
  auto* ctx = static_cast<WriteContext*>(user);
  std::FILE* f = ctx->out->File();
  switch (cmd) {
    case ZIP_SOURCE_STAT:
      // A new file: nothing to read, nothing to keep.
      ::zip_error_set(&ctx->error, ZIP_ER_READ, ENOENT);
      return -1;
    case ZIP_SOURCE_BEGIN_WRITE:
    case ZIP_SOURCE_ROLLBACK_WRITE:
    case ZIP_SOURCE_REMOVE:
    case ZIP_SOURCE_OPEN:
    case ZIP_SOURCE_CLOSE:
    case ZIP_SOURCE_FREE:  // the context is the writer's, freed when the zip is written
      return 0;
    case ZIP_SOURCE_COMMIT_WRITE:
      // Flushed here; the save itself puts the file in place afterwards.
      if (std::fflush(f) != 0) {
        ctx->diskFailed = true;
        ctx->out->WriteFailed(errno);
        ::zip_error_set(&ctx->error, ZIP_ER_WRITE, errno);
        return -1;
      }
      return 0;
    case ZIP_SOURCE_WRITE:
      if (!ctx->out->Write(data, static_cast<std::size_t>(len))) {
        ctx->diskFailed = true;
        ::zip_error_set(&ctx->error, ZIP_ER_WRITE, errno ? errno : EIO);
        return -1;
      }
      // Stopped: the write fails, and libzip gives up the archive.
      if (!Advance(ctx->progress, len)) {
        ::zip_error_set(&ctx->error, ZIP_ER_WRITE, ECANCELED);
        return -1;
      }
      return static_cast<zip_int64_t>(len);
    case ZIP_SOURCE_SEEK_WRITE: {
      auto* args = Args<zip_source_args_seek_t>(data, len, &ctx->error);
      if (!args) return -1;
      if (::fseeko(f, static_cast<off_t>(args->offset), args->whence) != 0) {
        ::zip_error_set(&ctx->error, ZIP_ER_SEEK, errno);
        return -1;
      }
      return 0;
    }
    case ZIP_SOURCE_TELL_WRITE: {
      const off_t at = ::ftello(f);
      if (at < 0) ::zip_error_set(&ctx->error, ZIP_ER_TELL, errno);
      return at;
    }
    case ZIP_SOURCE_READ:
    case ZIP_SOURCE_SEEK:
    case ZIP_SOURCE_TELL: return 0;
    default: return CommonCommand(ctx, data, len, cmd, ZIP_SOURCE_SUPPORTS_WRITABLE);
  }
}

// An entry's bytes handed to libzip as they are pulled; the first failure's sentence is kept
// for the user, as libzip only knows that a read failed.
struct EntrySourceContext {
  const CPackObject* file;
  std::string* firstError;
  std::unique_ptr<CEntryStream> stream;
  zip_error_t error;
};

zip_int64_t EntryCallback(void* user, void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
  auto* ctx = static_cast<EntrySourceContext*>(user);
  auto fail = [&](const std::string& why) -> zip_int64_t {
    if (ctx->firstError->empty()) *ctx->firstError = why;
    ::zip_error_set(&ctx->error, ZIP_ER_READ, EIO);
    return -1;
  };
  switch (cmd) {
    case ZIP_SOURCE_OPEN: {
      std::string why;
      ctx->stream = ctx->file->OpenStream(&why);
      return ctx->stream ? 0 : fail(why.empty() ? "cannot read " + Quoted(ctx->file->PathInArchive()) : why);
    }
    case ZIP_SOURCE_READ: {
      const std::int64_t n = ctx->stream->Read(static_cast<std::uint8_t*>(data), static_cast<std::size_t>(len));
      return n < 0 ? fail(ctx->stream->Error()) : n;
    }
    case ZIP_SOURCE_CLOSE: ctx->stream.reset(); return 0;
    case ZIP_SOURCE_STAT: {
      auto* st = Args<zip_stat_t>(data, len, &ctx->error);
      if (!st) return -1;
      ::zip_stat_init(st);
      // Told in advance, so that libzip never needs zip64 for an entry of unknown size.
      st->size = static_cast<zip_uint64_t>(ctx->file->Size());
      st->valid |= ZIP_STAT_SIZE;
      return sizeof(zip_stat_t);
    }
    default: return CommonCommand(ctx, data, len, cmd, ZIP_SOURCE_SUPPORTS_READABLE);
  }
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
    // Kept records point into the directory's bytes, which the listing then keeps.
    listing.rawDirectory = std::move(index.rawDirectory);
    return std::make_unique<CZipReader>(std::move(source), index.records.size());
  }

  std::vector<std::string> Check(std::shared_ptr<CReadSource> source) const override {
    std::vector<std::string> problems;
    std::string why;
    // Local headers compared with the central directory, which opening alone does not do.
    if (zip_t* strict = OpenZip(source, ZIP_CHECKCONS, &why)) ::zip_discard(strict);
    else problems.push_back("the local headers disagree with the central directory: " + why);
    ZipIndex index;
    if (!ReadZipDirectory(*source, index, &why)) return {"the zip archive cannot be read: " + why};
    CZipReader reader(source, index.records.size());
    if (!reader.Zip(&why)) return {"the zip archive cannot be read: " + why};
    DirectoryListing listing;
    ListEntries(index, listing);
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
      if (rec.location.method != ZIP_CM_STORE && rec.location.method != ZIP_CM_DEFLATE)
        problems.push_back(label + ": compressed with method " + std::to_string(rec.location.method) +
                           ", which game engines do not read");
      if (rec.size >= static_cast<std::int64_t>(kZipLimit))
        problems.push_back(label + ": 4 GiB or larger, which only zip64 can hold and game engines may not read");
      if (rec.problem != EntryProblem::None) continue;
      if (!reader.Plausible(rec.location, rec.size)) {
        problems.push_back(label + ": its sizes are impossible (" + std::to_string(rec.size) + " bytes from " +
                           std::to_string(rec.location.storedSize) + ")");
        continue;
      }
      // Every byte read, as extraction would: the sizes and the CRC are checked on the way.
      auto stream = reader.Open(rec.location, rec.size, std::string(rec.path));
      std::vector<std::uint8_t> buffer(1 << 16);
      for (std::int64_t n = stream ? 1 : -1; n > 0;) n = stream->Read(buffer.data(), buffer.size());
      if (!stream) problems.push_back("cannot read " + label);
      else if (!stream->Error().empty()) problems.push_back(stream->Error());
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
    if (root.CountFiles() == 0) {
      // libzip makes no file for an archive without entries; an empty zip is its end record.
      const std::uint8_t empty[kEnd] = {'P', 'K', 5, 6};
      return out.Write(empty, sizeof empty);
    }
    auto* wctx = new WriteContext{&out, {}, false, options.progress};
    ::zip_error_init(&wctx->error);
    zip_error_t zerr;
    ::zip_error_init(&zerr);
    zip_source_t* target = ::zip_source_function_create(WriteCallback, wctx, &zerr);
    zip_t* za = target ? ::zip_open_from_source(target, ZIP_CREATE | ZIP_TRUNCATE, &zerr) : nullptr;
    if (!za) {
      if (target) ::zip_source_free(target);
      if (error) *error = std::string("cannot start the zip archive: ") + ::zip_error_strerror(&zerr);
      ::zip_error_fini(&zerr);
      ::zip_error_fini(&wctx->error);
      delete wctx;
      return false;
    }
    ::zip_error_fini(&zerr);
    std::string firstError;
    bool ok = true;
    std::string path;
    VisitFilesInSaveOrder(root, path, [&](const std::string& p, const CPackObject& file) {
      if (!ok) return;
      // The archive the entry's location describes: the root's, or for an entry back from an
      // undone delete, the one it was deleted from.
      auto* reader = dynamic_cast<CZipReader*>(file.Archive());
      if (reader && !reader->Zip()) reader = nullptr;  // then read through the entry's stream, which says why
      const EntryLocation at = file.Location();
      const bool raw = reader && file.BytesInSource() && file.Problem() == EntryProblem::None &&
                       (at.method == ZIP_CM_STORE || at.method == ZIP_CM_DEFLATE) && reader->Unreadable(file).empty();
      zip_source_t* src = nullptr;
      if (raw) {
        // The whole entry from the open archive: its compressed bytes, copied as they are.
        src = ::zip_source_zip(za, reader->Zip(), static_cast<zip_uint64_t>(at.offset), 0, 0, -1);
      } else {
        auto* ectx = new EntrySourceContext{&file, &firstError, nullptr, {}};
        ::zip_error_init(&ectx->error);
        src = ::zip_source_function(za, EntryCallback, ectx);
        if (!src) {
          ::zip_error_fini(&ectx->error);
          delete ectx;
        }
      }
      const zip_int64_t index = src ? ::zip_file_add(za, p.c_str(), src, ZIP_FL_ENC_GUESS) : -1;
      if (index < 0) {
        if (src) ::zip_source_free(src);
        firstError = "cannot add " + Quoted(p) + " to the zip archive: " + ::zip_strerror(za);
        ok = false;
        return;
      }
      // A stored entry copied as it is stays stored (libzip would deflate it); a deflated one
      // keeps its compressed bytes; the others are stored or deflated as their kind asks.
      const bool store = raw ? at.method == ZIP_CM_STORE : options.deflateLevel <= 0 || KeepStored(p);
      if (!raw || store)
        ::zip_set_file_compression(za, static_cast<zip_uint64_t>(index), store ? ZIP_CM_STORE : ZIP_CM_DEFLATE,
                                   store ? 0 : static_cast<zip_uint32_t>(std::clamp(options.deflateLevel, 1, 9)));
    });
    const bool closed = ok && ::zip_close(za) == 0;
    if (!closed) {
      if (firstError.empty()) firstError = std::string("cannot write the zip archive: ") + ::zip_strerror(za);
      ::zip_discard(za);
    }
    // libzip has let go of the target source; its context is ours.
    const bool diskFailed = wctx->diskFailed;
    ::zip_error_fini(&wctx->error);
    delete wctx;
    // A disk failure is told by the save, which kept the system's reason.
    if (!closed && error && !diskFailed) *error = firstError;
    return closed;
  }
};

}  // namespace

const CContainerCodec& ZipCodec() {
  static const CZipCodec codec;
  return codec;
}

}  // namespace tarn
