// Playing wave sounds from memory, waiting until they have finished.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace tarn {
class CPackObject;
}

namespace tarn::viewers {

// Plays a complete wave file held in memory and returns when it has finished (or, should the
// device stall, a little after it should have). False, with a message for the user, when there
// is no sound device or the bytes are not a wave that can be played.
bool PlayWave(std::span<const std::uint8_t> bytes, std::string* error);

// Plays an entry's bytes, loading them for the purpose and releasing them afterwards.
bool PlaySoundEntry(CPackObject& entry, std::string* error);

}  // namespace tarn::viewers
