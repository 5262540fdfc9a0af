// BMP and TGA read by hand. stb_image, the library Tarn used before, reads a colour map that
// does not start at index 0, right-to-left TGAs, OS/2 BMPs, RLE BMPs and BMPs with the 56-byte
// header wrongly or not at all, and leaves palette entries a file does not have uninitialised;
// these readers are checked against bmpsuite and image-rs's TGA suite. What they cannot read
// right (JPEG or PNG inside a BMP, Huffman and RLE24 OS/2 BMPs, 64-bit BMPs, Huffman TGAs) they
// refuse, as they refuse any index past the palette and any file cut short.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "pictures/ImageDecode.h"

namespace tarn {

// False, with a one-line reason in error, when bytes are not a BMP this reader reads right.
bool DecodeBmp(std::span<const std::uint8_t> bytes, RgbaImage& out, std::string* error);
// The same for TGA.
bool DecodeTga(std::span<const std::uint8_t> bytes, RgbaImage& out, std::string* error);

}  // namespace tarn
