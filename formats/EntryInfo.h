// What an entry holds, as `tarn-pak info` says it and the preview pane lists it: one
// "key: value" line each ("kind: picture", "frame: 64x64", "animation: walk 8", ...).
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "models/Model.h"
#include "pictures/Pictures.h"

namespace tarn {

class CPackObject;

using InfoLines = std::vector<std::pair<std::string, std::string>>;

InfoLines DescribePictures(const PictureSet& pictures);
InfoLines DescribeModel(const ModelData& model);
struct SoundInfo;
// A sound's format, rate, length and loop; the loop's end is the end of the data where the wave
// names none, as the engines play it.
InfoLines DescribeSound(const SoundInfo& sound);

// Reads the entry as what its name says (a model, a picture) and describes it; a directory by
// its entries, any other file by its size. False, with the reason, when it cannot be read as
// what it claims to be.
bool DescribeEntry(CPackObject& entry, InfoLines& lines, std::string* error);

}  // namespace tarn
