// tarn-pak's "sound" command: any sound file made into what the engines play (a mono PCM wave
// at a rate they mix at, its loop written as Quake reads it), or Ogg Vorbis.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "cli/EncodeCommands.h"

namespace tarn::cli {

// sound IN OUT.wav|OUT.ogg [OPTIONS], without the command's name; the file written is named on
// notices with its rate, width, length and loop.
Outcome RunSound(const std::vector<std::string>& args, std::ostream& notices);

}  // namespace tarn::cli
