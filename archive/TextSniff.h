// Telling text from other bytes, for files whose name says nothing (".ent", ".qc", ".shader").
#pragma once

#include <cstdint>
#include <span>

namespace tarn {

// True when the bytes read as text: valid UTF-8, or else Latin-1, with no control characters
// but tab, line feed and carriage return (in Latin-1 the C1 controls, 0x80-0x9F, count too).
// An empty file is text.
bool LooksLikeText(std::span<const std::uint8_t> bytes);

}  // namespace tarn
