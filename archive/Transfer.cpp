// Moving entries between the tree and the outside: the transfer stream used for the
// clipboard and drag and drop, and import from and export to disk folders.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <thread>

#include "archive/EntryNames.h"
#include "archive/EntryTypes.h"
#include "archive/PackObject.h"
#include "archive/SafeExtract.h"
#include "fileio/ByteIO.h"
#include "fileio/SafeSave.h"
#include "fileio/TempFile.h"

namespace tarn {

namespace fs = std::filesystem;

namespace {

void WriteStreamString(ByteWriter& out, const std::string& s) {
  if (s.size() < 0xFF) {
    out.U8(static_cast<std::uint8_t>(s.size()));
  } else if (s.size() < 0xFFFE) {
    out.U8(0xFF);
    out.U16(static_cast<std::uint16_t>(s.size()));
  } else {
    out.U8(0xFF);
    out.U16(0xFFFF);
    out.U32(static_cast<std::uint32_t>(s.size()));
  }
  out.Bytes(s.data(), s.size());
}

std::string ReadStreamString(ByteReader& in) {
  std::size_t length = in.U8();
  if (length == 0xFF) {
    length = in.U16();
    if (length == 0xFFFE) throw ParseError("wide-character names are not supported");
    if (length == 0xFFFF) length = in.U32();
  }
  auto bytes = in.Bytes(length);
  return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// The smallest stream an entry can have: five integers, a one-byte name length, two raw
// words and a child count.
constexpr std::size_t kMinEntryStream = 5 * 4 + 1 + 8 + 4;

}  // namespace

namespace {

// The picture an entry is drawn with, as the stream has always numbered them; readers go by
// the name instead, but the numbers stay what other copies of Tarn have written.
std::int32_t StreamImage(const CPackObject& e, bool selected) {
  switch (TypeOf(e.Name(), e.IsDirectory())) {
    case EntryType::Directory: return selected ? 2 : 1;
    case EntryType::Sound: return 2;
    case EntryType::QuakeModel: return 3;
    case EntryType::Quake2Model: return 4;
    case EntryType::QuakePicture:
    case EntryType::Quake2Texture:
    case EntryType::PcxPicture:
    case EntryType::MipTexture: return 5;
    case EntryType::Text: return 6;
    case EntryType::Sprite:
    case EntryType::Quake2Sprite: return 7;
    default: return 0;
  }
}

}  // namespace

void CPackObject::Serialize(ByteWriter& out, std::vector<std::string>* unreadable) const {
  // The stream's sizes are 32-bit: larger files cannot travel by it.
  const bool fits = m_size >= 0 && m_size <= INT32_MAX;
  out.I32(m_isDirectory ? 1 : 0);
  const std::size_t sizeAt = out.Size();
  out.I32(m_isDirectory || !fits ? 0 : static_cast<std::int32_t>(m_size));
  out.I32(StreamImage(*this, true));
  out.I32(StreamImage(*this, false));
  out.I32(static_cast<std::int32_t>(m_offset));
  WriteStreamString(out, m_name);
  // The tree item and parent link mean nothing to a reader; they are written as zeros.
  out.U32(0);
  out.U32(0);
  if (!m_isDirectory) {
    const std::size_t bytesAt = out.Size();
    bool ok = fits && StreamData(
                          [&](const std::uint8_t* p, std::size_t n) {
                            out.Bytes(p, n);
                            return true;
                          },
                          nullptr);
    if (!ok) {
      out.Truncate(bytesAt);
      out.PatchU32(sizeAt, 0);
      if (unreadable) unreadable->push_back(PathInArchive().empty() ? m_name : PathInArchive());
    }
  }
  out.U32(static_cast<std::uint32_t>(ChildCount()));
  for (CPackObject* c : Children()) c->Serialize(out, unreadable);
}

std::unique_ptr<CPackObject> CPackObject::ReadEntry(ByteReader& in, const StreamOptions& options, int depth) {
  if (depth > options.maxDepth) throw ParseError("entries are nested too deeply");
  auto entry = std::make_unique<CPackObject>();
  entry->m_isDirectory = in.I32() != 0;
  std::int32_t size = in.I32();
  in.I32();  // selected image and image follow from the name
  in.I32();
  in.I32();  // the offset referred to the archive the entry came from
  std::string name = ReadStreamString(in);
  // A name must stay one path segment of this archive.
  std::replace(name.begin(), name.end(), '/', '_');
  std::replace(name.begin(), name.end(), '\0', '_');
  if (name.empty()) name = "untitled";
  entry->m_name = std::move(name);
  in.Skip(8);
  if (!entry->m_isDirectory) {
    if (size < 0) throw ParseError("an entry has a negative size");
    auto bytes = in.Bytes(static_cast<std::size_t>(size));
    entry->m_size = size;
    // The bytes are kept with the entry: an offset in the stream points into another archive.
    std::optional<fs::path> temp;
    if (options.spillToTempFiles && size > 0 && (temp = CreateTempFile()) && WriteFileBytes(*temp, bytes)) {
      entry->SetTempFile(temp->string());
    } else {
      if (temp) std::remove(temp->c_str());
      if (size > 0) entry->SetData(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    }
  }
  std::uint32_t count = in.U32();
  if (count > in.Remaining() / kMinEntryStream) throw ParseError("the child count exceeds the stream");
  for (std::uint32_t i = 0; i < count; ++i) {
    auto child = ReadEntry(in, options, depth + 1);
    if (!entry->m_isDirectory) continue;  // a file cannot hold entries; the stream stays in step
    child->m_name = entry->UniqueName(child->m_name);
    entry->Enter(std::move(child));
  }
  entry->NotePlainName();
  return entry;
}

std::unique_ptr<CPackObject> CPackObject::Deserialize(ByteReader& in, const StreamOptions& options,
                                                      std::string* error) {
  try {
    return ReadEntry(in, options, 0);
  } catch (const ParseError& e) {
    if (error) *error = e.what();
    return nullptr;
  }
}

// --- import ---

CPackObject* CPackObject::ImportFile(const fs::path& diskPath, const ImportOptions& options, std::string* error) {
  auto fail = [&](const std::string& why) -> CPackObject* {
    if (error) *error = why;
    return nullptr;
  };
  std::error_code ec;
  if (!fs::is_regular_file(diskPath, ec))
    return fail(fs::exists(diskPath, ec) ? "is not a regular file" : "does not exist");
  const std::uint64_t size = fs::file_size(diskPath, ec);
  if (ec) return fail("cannot be read: " + ec.message());
  if (const std::string unfit =
          UnfitNameReason(Format(), StoredName(*this, diskPath.filename().string()), false, !m_parent);
      !unfit.empty())
    return fail(unfit);
  std::FILE* probe = std::fopen(diskPath.c_str(), "rb");
  if (!probe) return fail("cannot be opened for reading: " + SystemReason(errno));
  std::fclose(probe);

  // The file keeps the time it last changed on disk, as zip tools keep it.
  const FileStamp stamp = FileStamp::OfPath(diskPath);
  CPackObject* child = AddChild(diskPath.filename().string(), false);
  child->m_size = static_cast<std::int64_t>(size);
  if (!options.snapshot) {
    child->SetTempFile(fs::absolute(diskPath, ec).string(), false);
    if (stamp.exists) child->SetTime(stamp.modifiedNs / 1000000000);
    Advance(options.progress, size, diskPath.filename().string());
    return child;
  }
  auto temp = CreateTempFile();
  std::string why = "cannot make a temporary copy";
  if (!temp || !CopyFileBytes(diskPath, *temp, size, &why, options.progress)) {
    if (temp) std::remove(temp->c_str());
    RemoveChild(child);
    return fail(why);
  }
  child->SetTempFile(temp->string(), true);
  if (stamp.exists) child->SetTime(stamp.modifiedNs / 1000000000);
  return child;
}

namespace {

// The bytes of the files an import of the folder would copy, for its progress.
std::uint64_t FolderBytes(const fs::path& folder) {
  std::uint64_t bytes = 0;
  std::error_code ec;
  fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
  for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (!name.empty() && name[0] == '.') {
      it.disable_recursion_pending();
      continue;
    }
    std::error_code sizeError;
    if (it->is_regular_file(sizeError)) bytes += it->file_size(sizeError);
  }
  return bytes;
}

}  // namespace

ImportReport CPackObject::ImportDirectory(const fs::path& folder, const ImportOptions& options) {
  ImportReport report;
  if (options.progress) options.progress->Expect(FolderBytes(folder));
  std::vector<fs::path> stack;
  ImportFolderRecursive(folder, options, report, stack);
  return report;
}

bool CPackObject::ImportFolderRecursive(const fs::path& folder, const ImportOptions& options, ImportReport& report,
                                        std::vector<fs::path>& stack) {
  std::error_code ec;
  fs::path canonical = fs::canonical(folder, ec);
  if (ec || !fs::is_directory(canonical, ec)) {
    report.failures.push_back({folder.filename().string(), "is not a readable folder"});
    return false;
  }
  // A link back to a folder being imported would recurse for ever.
  if (std::find(stack.begin(), stack.end(), canonical) != stack.end()) {
    report.failures.push_back({folder.filename().string(), "links back to a folder being imported"});
    return false;
  }
  std::vector<std::string> names;
  fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
  if (ec) {
    report.failures.push_back({folder.filename().string(), "cannot be listed"});
    return false;
  }
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    std::string name = it->path().filename().string();
    if (name.empty() || name[0] == '.') continue;  // hidden items, and "." and ".."
    names.push_back(std::move(name));
  }
  // A stable order, whatever order the file system lists in.
  std::sort(names.begin(), names.end());
  stack.push_back(canonical);
  for (const std::string& name : names) {
    if (report.cancelled) break;
    fs::path item = folder / name;
    fs::file_status st = fs::status(item, ec);
    if (fs::is_directory(st)) {
      if (const std::string unfit = UnfitNameReason(Format(), name, true, !m_parent); !unfit.empty()) {
        report.failures.push_back({name, unfit});
        continue;
      }
      CPackObject* dir = AddChild(name, true);
      dir->ImportFolderRecursive(item, options, report, stack);
    } else if (fs::is_regular_file(st)) {
      std::string why;
      if (ImportFile(item, options, &why)) ++report.imported;
      else if (why == kCancelledReason) report.cancelled = true;
      else report.failures.push_back({name, why});
    }
    // Sockets, pipes and devices are not files to archive (and a pipe would block the read).
  }
  stack.pop_back();
  return true;
}

// --- export ---

std::uint64_t CPackObject::TotalBytes() const {
  if (!m_isDirectory) return static_cast<std::uint64_t>(std::max<std::int64_t>(m_size, 0));
  std::uint64_t bytes = 0;
  for (CPackObject* c : Children()) bytes += c->TotalBytes();
  return bytes;
}

namespace {

// Files the outcome of one step under its entry's name; true when the step was done.
bool Note(ExportReport& report, ExtractOutcome outcome, const std::string& label, const std::string& why) {
  if (outcome == ExtractOutcome::Refused) report.refused.push_back({label, why});
  if (outcome == ExtractOutcome::Failed) report.failed.push_back({label, why});
  return outcome == ExtractOutcome::Done;
}

}  // namespace

struct CPackObject::ExportPlan {
  struct File {
    const CExtractFolder* folder;
    const CPackObject* file;
    std::string label;  // as reports name it
    std::string path;   // below the export's folder
  };
  std::vector<std::unique_ptr<CExtractFolder>> folders;  // those the files go into, open until written
  std::vector<File> files;
};

ExportReport CPackObject::ExportToDisk(const fs::path& folder, bool withParents, CProgress* progress) const {
  ExportReport report;
  if (progress) progress->Expect(TotalBytes());
  ExportInto(folder, withParents ? Root() : m_parent, report, progress);
  return report;
}

void CPackObject::ExportInto(const fs::path& folder, const CPackObject* base, ExportReport& report,
                             CProgress* progress) const {
  std::string why;
  std::optional<CExtractFolder> at = CExtractFolder::Open(folder, &why);
  if (!at) {
    report.failed.push_back({folder.string(), why});
    return;
  }
  if (!base || base == this || !IsInside(base)) base = m_parent;
  std::vector<const CPackObject*> chain;
  for (const CPackObject* p = m_parent; p && p != base && p->m_parent; p = p->m_parent) chain.insert(chain.begin(), p);
  std::string below;
  for (const CPackObject* d : chain) {
    std::optional<CExtractFolder> sub;
    if (!d->EnterExportFolder(*at, sub, report)) return;
    at = std::move(sub);
    below += d->m_name + "/";
  }
  ExportPlan plan;
  PlanExport(*at, below, report, plan);
  WriteExport(plan, report, progress);
}

bool CPackObject::EnterExportFolder(const CExtractFolder& parent, std::optional<CExtractFolder>& sub,
                                    ExportReport& report) const {
  std::string why = UnsafeNameReason(m_name);
  const ExtractOutcome outcome = why.empty() ? parent.Enter(m_name, &sub, &why) : ExtractOutcome::Refused;
  return Note(report, outcome, PathInArchive(), why);
}

void CPackObject::PlanExport(const CExtractFolder& folder, const std::string& below, ExportReport& report,
                             ExportPlan& plan) const {
  if (m_isDirectory) {
    // The root writes its top level straight into the folder.
    const CExtractFolder* into = &folder;
    if (m_parent) {
      // A file of this path is written by this export: no folder can take its place.
      if (report.writtenPaths.count(below + m_name)) {
        Note(report, ExtractOutcome::Refused, PathInArchive(), kFileAndFolder);
        return;
      }
      std::optional<CExtractFolder> sub;
      if (!EnterExportFolder(folder, sub, report)) return;
      plan.folders.push_back(std::make_unique<CExtractFolder>(std::move(*sub)));
      into = plan.folders.back().get();
      report.madeFolders.insert(below + m_name);
    }
    const std::string inside = m_parent ? below + m_name + "/" : below;
    // Files before folders: of a file and a folder of one path, the file, which the engines
    // load, is the one written.
    for (CPackObject* c : Children())
      if (!c->m_isDirectory) c->PlanExport(*into, inside, report, plan);
    for (CPackObject* c : Children())
      if (c->m_isDirectory) c->PlanExport(*into, inside, report, plan);
    return;
  }
  const std::string label = m_parent ? PathInArchive() : m_name;
  std::string why = UnsafeNameReason(m_name);
  if (!why.empty()) {
    Note(report, ExtractOutcome::Refused, label, why);
    return;
  }
  // Nor a file where this export made a folder.
  if (report.madeFolders.count(below + m_name)) {
    Note(report, ExtractOutcome::Refused, label, kFileAndFolder);
    return;
  }
  // Two entries of one path (an archive holding a name twice, or entries of several folders
  // exported into one) would leave one file: the first stays, the others are told of.
  if (!report.writtenPaths.insert(below + m_name).second) {
    Note(report, ExtractOutcome::Refused, label, "a file of that name was already written by this export");
    return;
  }
  // Bytes that cannot be read make no file, not even an empty one.
  if (!CanStream(&why)) {
    report.writtenPaths.erase(below + m_name);
    Note(report, ExtractOutcome::Failed, label, why);
    return;
  }
  plan.files.push_back({&folder, this, label, below + m_name});
}

void CPackObject::WriteExport(ExportPlan& plan, ExportReport& report, CProgress* progress) {
  std::mutex lock;  // over report and progress
  std::atomic<std::size_t> next{0};
  std::atomic<bool> stop{report.cancelled};
  const auto work = [&] {
    for (std::size_t i; !stop && (i = next++) < plan.files.size();) {
      const auto& job = plan.files[i];
      std::string why;
      bool cut = false;  // this file was stopped part way: nothing of it stays
      const auto fill = [&](const CExtractFolder::Sink& sink, std::string* fillWhy) {
        return job.file->StreamData(
            [&](const std::uint8_t* p, std::size_t n) {
              if (!sink(p, n)) return false;
              const std::lock_guard hold(lock);
              if (stop || !Advance(progress, n, job.label)) stop = cut = true;
              return !cut;
            },
            fillWhy);
      };
      const ExtractOutcome outcome = job.folder->WriteFile(job.file->Name(), fill, &why);
      const std::lock_guard hold(lock);
      // A file cut short by the user is no failure: nothing of it was written. One another
      // thread finished meanwhile is on disk, and counted.
      if (cut) {
        report.writtenPaths.erase(job.path);
        continue;
      }
      if (Note(report, outcome, job.label, why)) ++report.written;
      else report.writtenPaths.erase(job.path);
    }
  };
  // Inflating members is most of an extraction, and members are independent.
  const std::size_t threads =
      std::min<std::size_t>({std::max(1u, std::thread::hardware_concurrency()), 4, plan.files.size()});
  std::vector<std::thread> helpers;
  for (std::size_t t = 1; t < threads; ++t) helpers.emplace_back(work);
  work();
  for (std::thread& t : helpers) t.join();
  if (stop) report.cancelled = true;
}

}  // namespace tarn
