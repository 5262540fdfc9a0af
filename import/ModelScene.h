// What tarn-import does with a request: the model recognised by its bytes, checked, and read
// (IQM by Tarn itself, the other formats by Assimp with only that format's importer present),
// its animations sampled into frames and its skin found. Everything the reading opens goes
// through a file source confined to the model's folder (or to its archive).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "models/ModelReader.h"

namespace tarn::import {

// The bytes of a file the model names, by the path the reader built (the model's folder and a
// name the model gives). False with refusal set when the path leads outside where the model
// may read; false with refusal empty when there is no such file.
using FileSource = std::function<bool(const std::string& path, std::vector<std::uint8_t>& out, std::string* refusal)>;

// Files on disk inside folder (followed through links) and nowhere else.
FileSource FolderFiles(const std::string& folder);
// An archive's files by their path from its root, through find; nothing outside the archive.
FileSource ArchiveFiles(std::function<bool(const std::string& path, std::vector<std::uint8_t>& out)> find);

// The model in request.bytes, named request.path (its folder is where files it names are
// looked for through files). False with a one-line reason.
bool ReadModelFile(const ModelReadRequest& request, const FileSource& files, ReadModel& out, std::string* error);

}  // namespace tarn::import
