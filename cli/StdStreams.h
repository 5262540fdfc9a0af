// "-" as an archive's name: an archive read from standard input, or written to standard output.
// Archives are read by seeking, so standard input is first copied to a file nobody else can see.
#pragma once

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <string>
#include <vector>

namespace tarn::cli {

// The name that stands for standard input or output.
inline bool IsStdStream(const std::string& name) { return name == "-"; }

// Standard input, copied once to an unnamed temporary file that goes when this does.
class CStdinSpool {
 public:
  CStdinSpool() = default;
  ~CStdinSpool();
  CStdinSpool(const CStdinSpool&) = delete;
  CStdinSpool& operator=(const CStdinSpool&) = delete;

  // Copies standard input on the first call; false, with the reason, when that fails.
  bool Fill(std::string* why);
  // A path that opens the copy (valid while this lives).
  const std::filesystem::path& Path() const { return m_path; }
  // The bytes copied.
  std::uint64_t Size() const { return m_size; }

 private:
  int m_fd = -1;
  bool m_filled = false;
  bool m_named = false;  // no O_TMPFILE here: a named file, removed in the destructor
  std::filesystem::path m_path;
  std::uint64_t m_size = 0;
};

// A private folder for a file on its way to standard output; removed with everything in it.
class CScratchFolder {
 public:
  CScratchFolder() = default;
  ~CScratchFolder();
  CScratchFolder(const CScratchFolder&) = delete;
  CScratchFolder& operator=(const CScratchFolder&) = delete;
  bool Create(std::string* why);
  const std::filesystem::path& Path() const { return m_path; }

 private:
  std::filesystem::path m_path;
};

// True when out is the process's standard output and that is a terminal.
bool IsTerminal(const std::ostream& out);

// Copies a file's bytes to out; false, with the reason, when reading or writing fails.
bool CopyToStream(const std::filesystem::path& file, std::ostream& out, std::string* why);

// The whole of a file the user named (a palette, a skin, an image); false with why: it does not
// exist, is not a regular file, or cannot be read.
bool ReadWholeFile(const std::filesystem::path& path, std::vector<std::uint8_t>& out, std::string* why);

}  // namespace tarn::cli
