// tarn-pak's answers as JSON documents (--json): the facts of the text output, shaped for
// scripts. Each function prints one complete document. Strings are UTF-8: bytes of a name that
// are not UTF-8 become U+FFFD; control characters are escaped as JSON escapes them.
#pragma once

#include <filesystem>
#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

namespace tarn {
class CPackObject;
class CGameView;
struct DiffResult;
struct EngineProfile;
struct GameCopy;
struct MapFacts;
struct ModelData;
struct PictureSet;
struct SoundInfo;
}  // namespace tarn

namespace tarn::cli {

// One problem found by check --engine: of a file (and an entry in it) under an engine's rule,
// of an archive's structure (no rule), or of a folder that could not be read (no file).
struct CheckRecord {
  std::string file, entry, message, engine, rule;
};
// The line the text output gives a record.
std::string CheckRecordLine(const CheckRecord& r);

void JsonList(std::ostream& out, const std::string& archive, const CPackObject& root);
void JsonListGame(std::ostream& out, const EngineProfile& profile, const CGameView& view, bool all);

void JsonInfoEntry(std::ostream& out, const std::string& archive, const CPackObject& entry);
void JsonInfoModel(std::ostream& out, const std::string& archive, const CPackObject& entry, const ModelData& model);
void JsonInfoPictures(std::ostream& out, const std::string& archive, const CPackObject& entry, const PictureSet& set);
void JsonInfoSound(std::ostream& out, const std::string& archive, const CPackObject& entry, const SoundInfo& sound);
void JsonInfoMap(std::ostream& out, const std::string& archive, const CPackObject& entry, const MapFacts& map);

void JsonCheck(std::ostream& out, const std::string& archive, int files, const std::vector<std::string>& problems);
void JsonCheckEngine(std::ostream& out, const EngineProfile& profile, std::size_t files,
                     const std::vector<CheckRecord>& problems);

void JsonWhich(std::ostream& out, const EngineProfile& profile, const CGameView& view, const std::string& path,
               const std::vector<GameCopy>& copies);
void JsonDiff(std::ostream& out, const std::string& a, const std::string& b, const DiffResult& result);
void JsonFind(std::ostream& out, const std::string& pattern,
              const std::vector<std::pair<std::filesystem::path, std::string>>& matches);

}  // namespace tarn::cli
