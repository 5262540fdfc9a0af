#include "containers/ZipWriter.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

#include "containers/Container.h"
#include "fileio/ByteIO.h"
#include "fileio/Progress.h"
#include "fileio/SafeSave.h"
#include "fileio/Strings.h"

namespace tarn {

namespace {

constexpr std::uint32_t kLocalSignature = 0x04034b50, kCentralSignature = 0x02014b50, kEndSignature = 0x06054b50;
constexpr std::uint16_t kStored = 0, kDeflated = 8;
constexpr std::uint16_t kUtf8Flag = 1 << 11;
// Made by Unix, version 2.0; files readable by everyone and writable by their owner, as unzip
// then restores them.
constexpr std::uint16_t kMadeBy = 3 << 8 | 20;
constexpr std::uint32_t kFileAttributes = 0100644u << 16;
constexpr std::size_t kChunk = 1 << 20;

// A name that is UTF-8 and not plain ASCII is marked so, as unzip and Python then decode it;
// other names are left to the reader's code page, as every engine reads them anyway.
bool NeedsUtf8Flag(std::string_view name) {
  bool ascii = true;
  for (std::size_t i = 0; i < name.size();) {
    const auto c = static_cast<unsigned char>(name[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    ascii = false;
    const std::size_t n = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
    if (n == 0 || i + n > name.size()) return false;
    for (std::size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(name[i + k]) & 0xC0) != 0x80) return false;
    i += n;
  }
  return !ascii;
}

// One member's bytes, deflated (or kept) by a worker and written by the writer in order.
struct Job {
  std::vector<std::uint8_t> input;
  std::vector<std::uint8_t> output;  // empty when the input is stored as it is
  std::uint32_t crc = 0;
  bool store = false;
  bool done = false;
};

// Threads that deflate the jobs they are given, each with its own compressor.
class CDeflatePool {
 public:
  CDeflatePool(unsigned workers, int level) {
    for (unsigned i = 0; i < workers; ++i) m_threads.emplace_back([this, level] { Work(level); });
  }
  ~CDeflatePool() {
    {
      std::lock_guard lock(m_mutex);
      m_stopping = true;
    }
    m_wake.notify_all();
    for (std::thread& t : m_threads) t.join();
  }
  void Submit(Job* job) {
    {
      std::lock_guard lock(m_mutex);
      m_queue.push_back(job);
    }
    m_wake.notify_one();
  }
  void WaitFor(const Job& job) {
    std::unique_lock lock(m_mutex);
    m_finished.wait(lock, [&] { return job.done; });
  }

 private:
  void Work(int level) {
    libdeflate_compressor* compressor = libdeflate_alloc_compressor(level);
    for (;;) {
      Job* job;
      {
        std::unique_lock lock(m_mutex);
        m_wake.wait(lock, [&] { return m_stopping || !m_queue.empty(); });
        if (m_queue.empty()) break;
        job = m_queue.front();
        m_queue.pop_front();
      }
      Run(compressor, *job);
      {
        std::lock_guard lock(m_mutex);
        job->done = true;
      }
      m_finished.notify_all();
    }
    if (compressor) libdeflate_free_compressor(compressor);
  }

  static void Run(libdeflate_compressor* compressor, Job& job) {
    job.crc = libdeflate_crc32(0, job.input.data(), job.input.size());
    if (job.store || !compressor) {
      job.store = true;
      return;
    }
    job.output.resize(libdeflate_deflate_compress_bound(compressor, job.input.size()));
    const std::size_t n = libdeflate_deflate_compress(compressor, job.input.data(), job.input.size(), job.output.data(),
                                                      job.output.size());
    // Data that deflate cannot shrink are stored: smaller, and nothing to undo when read.
    if (n == 0 || n >= job.input.size()) {
      job.store = true;
      job.output.clear();
      job.output.shrink_to_fit();
    } else {
      job.output.resize(n);
    }
  }

  std::mutex m_mutex;
  std::condition_variable m_wake, m_finished;
  std::deque<Job*> m_queue;
  bool m_stopping = false;
  std::vector<std::thread> m_threads;
};

struct CentralRecord {
  std::string path;
  std::uint32_t dosTime, crc, storedSize, size, offset;
  std::uint16_t method;
};

class CZipWriter {
 public:
  CZipWriter(CSafeSave& out, const ZipWriteOptions& options, std::string* error)
      : m_out(out), m_options(options), m_error(error) {}

  bool Run(const std::vector<ZipMember>& members) {
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const unsigned workers = m_options.workers ? m_options.workers : cores;
    // Enough members in flight to keep every worker busy while one is written, and no more.
    const std::size_t window = workers + 2;
    const std::uint64_t budget = std::max<std::uint64_t>(m_options.holdLimit, 1) * 3;
    // libdeflate's levels are not zlib's: from 6 up, one more gives archives as small as zlib's
    // (and so Info-ZIP's) at that level, which a user who asks for 6 expects.
    const int level = std::clamp(m_options.level >= 6 ? m_options.level + 1 : m_options.level, 1, 9);
    CDeflatePool pool(workers, level);
    struct Pending {
      const ZipMember* member;
      std::unique_ptr<Job> job;  // null for a raw member, copied when written
    };
    std::deque<Pending> pending;
    std::uint64_t held = 0;
    auto writeFront = [&] {
      Pending p = std::move(pending.front());
      pending.pop_front();
      bool ok;
      if (p.job) {
        pool.WaitFor(*p.job);
        held -= p.job->input.size();
        ok = WriteHeld(*p.member, *p.job);
      } else {
        ok = WriteRaw(*p.member);
      }
      return ok;
    };
    bool ok = true;
    for (const ZipMember& m : members) {
      const bool streamed = m.kind != ZipMember::Kind::Raw && static_cast<std::uint64_t>(m.size) > m_options.holdLimit;
      if (streamed || m.kind == ZipMember::Kind::Raw) {
        // Written in their turn: everything before them first.
        while (ok && !pending.empty()) ok = writeFront();
        if (ok) ok = streamed ? WriteStreamed(m) : WriteRaw(m);
        if (!ok) break;
        continue;
      }
      auto job = std::make_unique<Job>();
      if (!ReadWhole(m, job->input)) {
        ok = false;
        break;
      }
      job->store = m.kind == ZipMember::Kind::Store || m_options.level <= 0;
      held += job->input.size();
      pool.Submit(job.get());
      pending.push_back({&m, std::move(job)});
      while (ok && !pending.empty() && (pending.size() >= window || held > budget)) ok = writeFront();
      if (!ok) break;
    }
    while (ok && !pending.empty()) ok = writeFront();
    // Jobs still queued are finished by the pool before it goes, with their buffers alive.
    for (Pending& p : pending)
      if (p.job) pool.WaitFor(*p.job);
    return ok && WriteDirectory();
  }

 private:
  bool Fail(const std::string& why) {
    if (m_error && m_error->empty()) *m_error = why;
    return false;
  }

  bool Put(const void* data, std::size_t n) {
    if (!m_out.Write(data, n)) return Fail("cannot write the zip archive: " + SystemReason(m_out.WriteError()));
    m_offset += n;
    return true;
  }

  bool ReadWhole(const ZipMember& m, std::vector<std::uint8_t>& bytes) {
    std::string why;
    std::unique_ptr<CEntryStream> stream = m.open ? m.open(&why) : nullptr;
    if (!stream) return Fail(why.empty() ? "cannot read " + Quoted(m.path) : why);
    bytes.resize(static_cast<std::size_t>(std::max<std::int64_t>(m.size, 0)));
    std::size_t have = 0;
    for (;;) {
      if (have == bytes.size()) bytes.resize(std::max<std::size_t>(bytes.size() * 2, 4096));
      const std::int64_t n = stream->Read(bytes.data() + have, bytes.size() - have);
      if (n < 0) return Fail(stream->Error().empty() ? "cannot read " + Quoted(m.path) : stream->Error());
      if (n == 0) break;
      have += static_cast<std::size_t>(n);
    }
    bytes.resize(have);
    return true;
  }

  bool Fits(const ZipMember& m, std::uint64_t storedSize, std::uint64_t size) {
    if (storedSize >= 0xFFFFFFFFull || size >= 0xFFFFFFFFull || m_offset >= 0xFFFFFFFFull)
      return Fail("The file " + Quoted(m.path) + " would need zip64, which engines do not read.");
    return true;
  }

  // The fields both headers of a member hold alike, from the version needed to the name's length.
  static void SharedFields(ByteWriter& w, const CentralRecord& r) {
    w.U16(r.method == kDeflated ? 20 : 10);
    w.U16(NeedsUtf8Flag(r.path) ? kUtf8Flag : 0);
    w.U16(r.method);
    w.U32(r.dosTime);
    w.U32(r.crc);
    w.U32(r.storedSize);
    w.U32(r.size);
    w.U16(static_cast<std::uint16_t>(r.path.size()));
  }

  bool LocalHeader(const CentralRecord& r) {
    std::vector<std::uint8_t> buf;
    ByteWriter w(buf);
    w.U32(kLocalSignature);
    SharedFields(w, r);
    w.U16(0);
    w.Bytes(r.path.data(), r.path.size());
    return Put(buf.data(), buf.size());
  }

  bool Member(const ZipMember& m, std::uint16_t method, std::uint32_t crc, std::uint64_t storedSize, std::uint64_t size,
              const std::uint8_t* data) {
    if (m.path.size() > 0xFFFF) return Fail("The path " + Quoted(m.path) + " is too long for a zip.");
    if (!Fits(m, storedSize, size)) return false;
    CentralRecord r{m.path,
                    m.dosTime,
                    crc,
                    static_cast<std::uint32_t>(storedSize),
                    static_cast<std::uint32_t>(size),
                    static_cast<std::uint32_t>(m_offset),
                    method};
    if (!LocalHeader(r) || !Put(data, static_cast<std::size_t>(storedSize))) return false;
    m_central.push_back(std::move(r));
    return Advance(m_options.progress, size, m.path) || Fail("cancelled");
  }

  bool WriteHeld(const ZipMember& m, const Job& job) {
    if (job.store) return Member(m, kStored, job.crc, job.input.size(), job.input.size(), job.input.data());
    return Member(m, kDeflated, job.crc, job.output.size(), job.input.size(), job.output.data());
  }

  bool WriteRaw(const ZipMember& m) {
    std::vector<std::uint8_t> bytes;
    std::string why;
    if (!m.rawBytes || !m.rawBytes(bytes, &why)) return Fail(why.empty() ? "cannot read " + Quoted(m.path) : why);
    if (bytes.size() != m.storedSize) return Fail("cannot read " + Quoted(m.path) + ": its bytes are cut short");
    return Member(m, m.method, m.crc, m.storedSize, static_cast<std::uint64_t>(m.size), bytes.data());
  }

  // A member too large to hold: deflated (or copied) as it is read, its header written first
  // and completed afterwards, since no engine reads the data descriptors that would say it later.
  bool WriteStreamed(const ZipMember& m) {
    std::string why;
    std::unique_ptr<CEntryStream> stream = m.open ? m.open(&why) : nullptr;
    if (!stream) return Fail(why.empty() ? "cannot read " + Quoted(m.path) : why);
    const bool squeeze = m.kind == ZipMember::Kind::Deflate && m_options.level > 0;
    const std::uint64_t headerAt = m_offset;
    CentralRecord r{m.path, m.dosTime, 0, 0, 0, static_cast<std::uint32_t>(headerAt), squeeze ? kDeflated : kStored};
    if (!Fits(m, 0, 0) || !LocalHeader(r)) return false;
    z_stream z{};
    if (squeeze && deflateInit2(&z, std::clamp(m_options.level, 1, 9), Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
      return Fail("the deflater cannot start");
    struct End {
      z_stream* z;
      bool on;
      ~End() {
        if (on) deflateEnd(z);
      }
    } end{&z, squeeze};
    std::vector<std::uint8_t> in(kChunk), out(kChunk);
    std::uint64_t size = 0, stored = 0;
    std::uint32_t crc = 0;
    for (bool last = false; !last;) {
      const std::int64_t n = stream->Read(in.data(), in.size());
      if (n < 0) return Fail(stream->Error().empty() ? "cannot read " + Quoted(m.path) : stream->Error());
      last = n == 0;
      crc = libdeflate_crc32(crc, in.data(), static_cast<std::size_t>(n));
      size += static_cast<std::uint64_t>(n);
      if (!Advance(m_options.progress, static_cast<std::uint64_t>(n), m.path)) return Fail("cancelled");
      if (!squeeze) {
        if (!Put(in.data(), static_cast<std::size_t>(n))) return false;
        stored += static_cast<std::uint64_t>(n);
        continue;
      }
      z.next_in = in.data();
      z.avail_in = static_cast<uInt>(n);
      int rc = Z_OK;
      do {
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        rc = deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
        // Z_BUF_ERROR only says that this call could make no progress; anything else but going
        // on or ending is a deflater gone wrong, whose output would be no deflate stream.
        if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR)
          return Fail("cannot deflate " + Quoted(m.path) + (z.msg ? std::string(": ") + z.msg : std::string()));
        const std::size_t made = out.size() - z.avail_out;
        if (!Put(out.data(), made)) return false;
        stored += made;
      } while (z.avail_out == 0);
      if (last && rc != Z_STREAM_END) return Fail("cannot deflate " + Quoted(m.path) + ": the stream did not end");
    }
    if (!Fits(m, stored, size)) return false;
    r.crc = crc;
    r.storedSize = static_cast<std::uint32_t>(stored);
    r.size = static_cast<std::uint32_t>(size);
    // The CRC and both sizes, 14 bytes into the local header.
    std::vector<std::uint8_t> buf;
    ByteWriter w(buf);
    w.U32(r.crc);
    w.U32(r.storedSize);
    w.U32(r.size);
    std::FILE* f = m_out.File();
    if (std::fflush(f) != 0 || ::fseeko(f, static_cast<off_t>(headerAt + 14), SEEK_SET) != 0 ||
        std::fwrite(buf.data(), 1, buf.size(), f) != buf.size() ||
        ::fseeko(f, static_cast<off_t>(m_offset), SEEK_SET) != 0) {
      m_out.WriteFailed(errno ? errno : EIO);
      return Fail("cannot write the zip archive: " + SystemReason(m_out.WriteError()));
    }
    m_central.push_back(std::move(r));
    return true;
  }

  bool WriteDirectory() {
    const std::uint64_t start = m_offset;
    if (m_central.size() > 0xFFFF) return Fail("More than 65,535 files need zip64, which engines do not read.");
    std::vector<std::uint8_t> buf;
    ByteWriter w(buf);
    for (const CentralRecord& r : m_central) {
      w.U32(kCentralSignature);
      w.U16(kMadeBy);
      SharedFields(w, r);
      w.U16(0);  // extra field
      w.U16(0);  // comment
      w.U16(0);  // disk
      w.U16(0);  // internal attributes
      w.U32(kFileAttributes);
      w.U32(r.offset);
      w.Bytes(r.path.data(), r.path.size());
    }
    const std::uint64_t size = buf.size();
    if (start + size >= 0xFFFFFFFFull) return Fail("The archive would need zip64, which engines do not read.");
    w.U32(kEndSignature);
    w.U16(0);
    w.U16(0);
    w.U16(static_cast<std::uint16_t>(m_central.size()));
    w.U16(static_cast<std::uint16_t>(m_central.size()));
    w.U32(static_cast<std::uint32_t>(size));
    w.U32(static_cast<std::uint32_t>(start));
    w.U16(0);
    return Put(buf.data(), buf.size());
  }

  CSafeSave& m_out;
  const ZipWriteOptions& m_options;
  std::string* m_error;
  std::uint64_t m_offset = 0;
  std::vector<CentralRecord> m_central;
};

}  // namespace

bool WriteZip(const std::vector<ZipMember>& members, CSafeSave& out, const ZipWriteOptions& options,
              std::string* error) {
  std::string why;
  if (CZipWriter(out, options, &why).Run(members)) return true;
  if (error) *error = why;
  return false;
}

namespace {

// SOURCE_DATE_EPOCH when it is set to a time, as reproducible-builds.org defines it.
std::optional<std::int64_t> SourceDateEpoch() {
  const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
  if (!epoch || !*epoch) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const long long bound = std::strtoll(epoch, &end, 10);
  if (errno != 0 || *end != '\0' || bound < 0) return std::nullopt;
  return bound;
}

// A zip's times name no zone: each tool takes them as its machine's local time. A build that
// is to be reproduced takes them as UTC both ways, or the same files built in Tokyo and in
// London would give two archives.
bool TimesInUtc() { return SourceDateEpoch().has_value(); }

}  // namespace

std::uint32_t ToDosTime(std::int64_t unixSeconds) {
  const std::time_t t = static_cast<std::time_t>(unixSeconds);
  std::tm tm{};
  const bool split = TimesInUtc() ? ::gmtime_r(&t, &tm) != nullptr : ::localtime_r(&t, &tm) != nullptr;
  if (!split || tm.tm_year < 80) return (0 << 25) | (1 << 21) | (1 << 16);  // 1980-01-01 00:00
  if (tm.tm_year > 80 + 127) return (127u << 25) | (12u << 21) | (31u << 16) | (23u << 11) | (59u << 5) | 29u;
  return static_cast<std::uint32_t>(tm.tm_year - 80) << 25 | static_cast<std::uint32_t>(tm.tm_mon + 1) << 21 |
         static_cast<std::uint32_t>(tm.tm_mday) << 16 | static_cast<std::uint32_t>(tm.tm_hour) << 11 |
         static_cast<std::uint32_t>(tm.tm_min) << 5 | static_cast<std::uint32_t>(tm.tm_sec / 2);
}

std::int64_t FromDosTime(std::uint32_t dos) {
  std::tm tm{};
  const std::uint32_t date = dos >> 16, time = dos & 0xFFFF;
  tm.tm_year = static_cast<int>(((date >> 9) & 0x7F) + 80);
  tm.tm_mon = static_cast<int>((date >> 5) & 0x0F) - 1;
  tm.tm_mday = static_cast<int>(date & 0x1F);
  tm.tm_hour = static_cast<int>(time >> 11);
  tm.tm_min = static_cast<int>((time >> 5) & 0x3F);
  tm.tm_sec = static_cast<int>((time & 0x1F) * 2);
  tm.tm_isdst = -1;
  const std::time_t t = TimesInUtc() ? ::timegm(&tm) : std::mktime(&tm);
  return t == static_cast<std::time_t>(-1) ? 0 : static_cast<std::int64_t>(t);
}

std::int64_t ReproducibleTime(std::int64_t unixSeconds) {
  const std::optional<std::int64_t> bound = SourceDateEpoch();
  return bound ? std::min<std::int64_t>(unixSeconds, *bound) : unixSeconds;
}

}  // namespace tarn
