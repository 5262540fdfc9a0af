// What the commands of tarn-pak share: the context a command runs in (its streams, the options
// every command takes, how it says what went wrong), and opening, finding in, and saving the
// archives they work on, each saying why not on standard error.
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/EncodeCommands.h"
#include "cli/StdStreams.h"
#include "cli/TerminalProgress.h"
#include "cli/Voice.h"
#include "document/TarnDoc.h"

namespace tarn {
class CPackObject;
struct ExportReport;
}  // namespace tarn

namespace tarn::cli {

struct Context {
  std::ostream& out;
  std::ostream& err;
  SaveConsent consent;  // --force, --break-links
  std::chrono::milliseconds lockTimeout;
  WriteOptions write;               // --store, TARN_PAK_DEFLATE_LEVEL
  Voice voice;                      // --json, --quiet, --verbose
  CStdinSpool* stdinSpool;          // the archive named "-", read once
  std::vector<std::string> passOn;  // the options above as given, for a command that runs another
  std::ostream& Warnings() const { return voice.Warnings(err); }
  void Notice(const std::string& message) const { voice.Notices(err) << "tarn-pak: " << message << "\n"; }
  RunOptions options;
  // The progress line of one step of a command; nothing when it is not wanted.
  std::unique_ptr<CTerminalProgress> Progress(const std::string& what) const {
    return options.progress ? std::make_unique<CTerminalProgress>(err, what, options.progressAfter) : nullptr;
  }
  int Error(const std::string& message) const {
    err << "tarn-pak: " << message << "\n";
    return 1;
  }
  int Usage(const std::string& message) const {
    err << "tarn-pak: " << message << "\n"
        << "Try 'tarn-pak --help'.\n";
    return 2;
  }
  int Report(const Outcome& o) const {
    if (o.message.empty()) return o.code;
    return o.code == 2 ? Usage(o.message) : Error(o.message);
  }
};

// A command's options are looked for only before "--": what follows is names and paths.
std::vector<std::string> BeforeDashes(const std::vector<std::string>& a);
bool HasOption(const std::vector<std::string>& a, const std::string& option);
// The arguments but the "--" among them, for a command whose options Run has taken.
std::vector<std::string> Operands(std::vector<std::string> a);

// Opens the archive and, unless told not to, says what opening found wrong with it (a damaged
// directory, names the archive holds twice) on standard error.
bool Open(const Context& ctx, CTarnDoc& doc, const std::string& path, bool tell = true);
// Holds the archive against other writers while a command changes it.
bool Lock(const Context& ctx, CTarnDoc& doc, const std::string& path);
// Opens an archive the command will change and save: opened and locked.
bool OpenToChange(const Context& ctx, CTarnDoc& doc, const std::string& path);
// Saves doc to path ("-": standard output) in format (by default the path's), as command.
int Save(const Context& ctx, CTarnDoc& doc, const std::filesystem::path& path, const std::string& command,
         std::optional<ContainerFormat> format = std::nullopt);
CPackObject* Find(CTarnDoc& doc, const std::string& path);
// The format to write out in: given (--format) or out's extension's; nothing after saying why.
std::optional<ContainerFormat> OutputFormat(const Context& ctx, const std::string& given,
                                            const std::filesystem::path& out);
// Splits off "--format F" from a command's arguments; false (after saying why) when it lacks F.
bool TakeFormat(const Context& ctx, const std::vector<std::string>& a, std::string& format,
                std::vector<std::string>& rest);
// The entry at path in the archive, which the command opens into doc; null after saying why.
CPackObject* OpenEntry(const Context& ctx, CTarnDoc& doc, const std::string& archive, const std::string& path);
// The entry at path, which may lead through archives inside the archive (enter: into the last
// one too); null after saying why. damaged, when given, is set when a directory on the way is.
CPackObject* FindNested(const Context& ctx, CTarnDoc& doc, const std::string& archive, const std::string& path,
                        bool enter, bool* damaged = nullptr);
// Tells what an export of entry wrote and what it could not; its exit status.
int Warn(const Context& ctx, const CPackObject& entry, const ExportReport& report);

}  // namespace tarn::cli
