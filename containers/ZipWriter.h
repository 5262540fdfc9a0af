// Writes a zip the way every engine's reader takes it: "stored" and "deflate" only, no zip64,
// no data descriptors, "/" between names. Members are deflated with libdeflate on as many
// threads as there are cores and written in their order as each is ready, a few at a time so
// that memory stays bounded; the same members give the same bytes whatever the threads do.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tarn {

class CEntryStream;
class CProgress;
class CSafeSave;

struct ZipMember {
  std::string path;  // as stored, "/" between its parts
  // The member's time in the zip's MS-DOS form (ToDosTime).
  std::uint32_t dosTime = 0;
  enum class Kind { Deflate, Store, Raw };
  Kind kind = Kind::Deflate;
  // Deflate and Store: the bytes of the file, read when the member's turn comes.
  std::int64_t size = 0;  // announced, for the limits and the memory budget; the stream decides
  std::function<std::unique_ptr<CEntryStream>(std::string* error)> open;
  // Raw: the compressed bytes of a member of another zip, copied as they are with their method,
  // CRC-32 and sizes; rawBytes reads them.
  std::uint16_t method = 0;
  std::uint32_t crc = 0;
  std::uint64_t storedSize = 0;
  std::function<bool(std::vector<std::uint8_t>& bytes, std::string* error)> rawBytes;
};

struct ZipWriteOptions {
  int level = 6;                  // 1 (fastest) to 9 (smallest), as zip's levels
  unsigned workers = 0;           // threads that deflate; 0: one per core
  CProgress* progress = nullptr;  // told the bytes of the files as their members are written
  // A member larger than this is not held whole: it is deflated as it is read, by one thread.
  std::uint64_t holdLimit = 32u << 20;
};

// Writes the members, in order, into out. False with a sentence in error when a member cannot
// be read or compressed, the disk fails, or the progress says stop; out is then to be aborted.
bool WriteZip(const std::vector<ZipMember>& members, CSafeSave& out, const ZipWriteOptions& options,
              std::string* error);

// A time as the zip format stores it (local time, two-second steps, 1980 to 2107), and back.
// With SOURCE_DATE_EPOCH set the time is UTC, whatever the machine's zone.
std::uint32_t ToDosTime(std::int64_t unixSeconds);
std::int64_t FromDosTime(std::uint32_t dos);
// The time for a member whose file changed at unixSeconds: that time, but no later than
// SOURCE_DATE_EPOCH when it is set, so that a reproducible build gives the same archive.
std::int64_t ReproducibleTime(std::int64_t unixSeconds);

}  // namespace tarn
