#include "game/EnginePak.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fileio/ReadSource.h"

namespace tarn {

namespace {

constexpr std::int64_t kRecord = 64;
constexpr std::size_t kName = 56;
// The engines copy a record's name into a buffer of MAX_QPATH (64) with q_strlcpy or
// Q_strlcpy: at most 63 bytes, read on past the 56 of the name field when it has no NUL.
constexpr std::size_t kCopied = 63;

std::int32_t Int32At(const std::uint8_t* p) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                                   static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24);
}

EnginePak Verdict(PakVerdict v, const char* rule, std::string reason) { return {v, rule, std::move(reason)}; }

}  // namespace

bool ReadsPakAsEngine(const EngineProfile& profile) { return profile.id != Engine::Fte; }

EnginePak ReadPakAsEngine(const EngineProfile& profile, const std::filesystem::path& path, ArchiveListing& out) {
  out = ArchiveListing{};
  out.pak = true;
  std::string why;
  auto source = CFileSource::Open(path, &why);
  // Every engine opens the pak with fopen or open and takes a failure as no pak there.
  if (!source) return Verdict(PakVerdict::Refused, "package-unreadable", "cannot be opened: " + why);
  return ReadPakAsEngine(profile, *source, path.filename().string(), out);
}

EnginePak ReadPakAsEngine(const EngineProfile& profile, CReadSource& source, const std::string& file,
                          ArchiveListing& out) {
  out = ArchiveListing{};
  out.pak = true;
  const bool dp = profile.id == Engine::DarkPlaces;
  const bool yamagi = profile.id == Engine::Yamagi;
  const bool xash = profile.id == Engine::GoldSrc;
  const std::uint64_t size = source.Size();
  std::uint8_t header[12] = {};
  const bool full = size >= sizeof header && source.ReadAt(0, header, sizeof header);
  // sezero/quakespasm Quake/common.c COM_LoadPackFile and yquake2 src/common/filesystem.c
  // FS_LoadPAK stop with a fatal error; DarkPlaces fs.c FS_LoadPackPAK says so and goes on.
  if (!full || std::memcmp(header, "PACK", 4) != 0)
    return Verdict(dp || xash ? PakVerdict::Refused : PakVerdict::Stops, "pak-header",
                   "does not start with \"PACK\" (\"" + file +
                       (yamagi ? "' is not a pack file"
                        : xash ? " is not a packfile. Ignored."
                               : " is not a packfile") +
                       "\")");
  const std::int32_t dirofs = Int32At(header + 4);
  const std::int32_t dirlen = Int32At(header + 8);
  const std::int64_t count = dirlen / kRecord;  // C's division, toward zero, as the engines do it
  const std::string claimed = std::to_string(count);
  const std::string fields = " (dirlen: " + std::to_string(dirlen) + ", dirofs: " + std::to_string(dirofs) + ")";
  std::int64_t from = dirofs;
  switch (profile.id) {
    case Engine::Quake:
    case Engine::Qss:
    case Engine::Rerelease:
      // Quakespasm 0.95.1 COM_LoadPackFile: the signs first, then an empty directory, then the
      // limit; the directory is read into a buffer on the stack whether or not the file holds it.
      if (dirlen < 0 || dirofs < 0)
        return Verdict(PakVerdict::Stops, "pak-header",
                       "has a negative directory offset or length (\"Invalid packfile " + file + fields + "\")");
      if (count == 0)
        return Verdict(PakVerdict::Ignored, "empty-pak",
                       "holds no files by its header (\"WARNING: " + file + " has no files, ignored\")");
      if (count > profile.maxFilesInPak)
        return Verdict(PakVerdict::Stops, "files-per-pak",
                       "holds " + claimed + " files by its header, more than the " +
                           std::to_string(profile.maxFilesInPak) + " the engine takes (\"" + file + " has " + claimed +
                           " files\")");
      break;
    case Engine::Quake2:
      // id-Software/Quake-2 qcommon/files.c FS_LoadPackFile: only the limit is checked.
      if (count > profile.maxFilesInPak)
        return Verdict(PakVerdict::Stops, "files-per-pak",
                       "holds " + claimed + " files by its header, more than the " +
                           std::to_string(profile.maxFilesInPak) + " the engine takes (\"" + file + " has " + claimed +
                           " files\")");
      if (dirlen < 0 || dirofs < 0)
        return Verdict(PakVerdict::Stops, "pak-header", "has a negative directory offset or length" + fields);
      break;
    case Engine::Yamagi:
      // Yamagi Quake II 8.20 FS_LoadPAK: "is too short" for an empty directory or a negative
      // field; past MAX_FILES_IN_PACK only a warning (told by the checks); the directory is read
      // with fread into malloc'd memory, what the file does not hold left as it was.
      if (count == 0 || dirlen < 0 || dirofs < 0)
        return Verdict(PakVerdict::Stops, count == 0 && dirlen >= 0 && dirofs >= 0 ? "empty-pak" : "pak-header",
                       (count == 0 ? "holds no files by its header" : "has a negative directory offset or length") +
                           std::string(" (\"FS_LoadPAK: '") + file + "' is too short.\")");
      break;
    case Engine::DarkPlaces:
      // DarkPlaces fs.c FS_LoadPackPAK: each failure is a message and the pak is left out.
      if (dirlen % kRecord != 0)
        return Verdict(PakVerdict::Refused, "pak-header",
                       "has a directory of " + std::to_string(dirlen) + " bytes, not a multiple of 64 (\"" + file +
                           " has an invalid directory size\")");
      if (count < 0 || count > profile.maxFilesInPak)
        return Verdict(PakVerdict::Refused, "files-per-pak",
                       "holds " + claimed + " files by its header (\"" + file + " has " + claimed + " files\")");
      // A negative offset fails the seek, and the read goes on from the end of the header.
      if (dirofs < 0) from = sizeof header;
      if (static_cast<std::uint64_t>(from) + static_cast<std::uint64_t>(dirlen) > size)
        return Verdict(
            PakVerdict::Refused, "pak-directory",
            "has its directory past the end of the file (\"" + file + " is an incomplete PAK, not loading\")");
      break;
    case Engine::GoldSrc:
      // FWGS/xash3d-fwgs 633203e filesystem/pak.c FS_LoadPackPAK: each failure is a message and
      // the pak is left out, in this order.
      if (dirlen % kRecord != 0)
        return Verdict(PakVerdict::Refused, "pak-header",
                       "has a directory of " + std::to_string(dirlen) + " bytes, not a multiple of 64 (\"" + file +
                           " has an invalid directory size. Ignored.\")");
      if (count > profile.maxFilesInPak)
        return Verdict(PakVerdict::Refused, "files-per-pak",
                       "holds " + claimed + " files by its header, more than the " +
                           std::to_string(profile.maxFilesInPak) + " the engine takes (\"" + file +
                           " has too many files ( " + claimed + " ). Ignored.\")");
      if (count <= 0)
        return Verdict(PakVerdict::Ignored, "empty-pak",
                       "holds no files by its header (\"" + file + " has no files. Ignored.\")");
      if (dirofs < 0 || static_cast<std::uint64_t>(dirofs) + static_cast<std::uint64_t>(dirlen) > size)
        return Verdict(
            PakVerdict::Refused, "pak-directory",
            "has its directory past the end of the file (\"" + file + " is an incomplete PAK, not loading\")");
      break;
    case Engine::Fte: break;
  }
  out.records = static_cast<std::size_t>(std::max<std::int64_t>(count, 0));
  const std::uint64_t held = static_cast<std::uint64_t>(from) < size ? (size - from) / kRecord : 0;
  const std::size_t whole = static_cast<std::size_t>(std::min<std::uint64_t>(out.records, held));
  out.pastEnd = out.records - whole;
  std::vector<std::uint8_t> dir(whole * kRecord);
  if (whole > 0 && !source.ReadAt(static_cast<std::uint64_t>(from), dir.data(), dir.size()))
    return Verdict(PakVerdict::Refused, "package-unreadable", "its directory cannot be read");
  out.entries.reserve(whole);
  for (std::size_t i = 0; i < whole; ++i) {
    const char* record = reinterpret_cast<const char*>(dir.data() + i * kRecord);
    ListedEntry e;
    e.path.assign(record, strnlen(record, kName));
    e.size = Int32At(dir.data() + i * kRecord + kName + 4);
    if (e.path.size() == kName) {
      // A name with no NUL in its field: DarkPlaces puts one over its last byte, the others
      // copy on into the offset until a zero byte or the 63rd.
      if (dp || strnlen(record, kCopied) != kName) e.flaw = EntryFlaw::NeverFound;
    }
    out.entries.push_back(std::move(e));
  }
  return {};
}

}  // namespace tarn
