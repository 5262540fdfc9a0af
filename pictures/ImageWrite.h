// True-colour pictures as the files today's engines load beside the 8-bit originals: PNG and
// TGA, made in memory so that a caller can write them where and how it must (below a chosen
// folder, never through a link: archive/SafeExtract.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pictures/ImageDecode.h"

namespace tarn {

enum class ImageFileFormat { Png, Tga };

// "png" or "tga", any case; nothing for other words.
std::optional<ImageFileFormat> ImageFileFormatOf(std::string_view word);
// ".png" or ".tga".
const char* ImageFileExtension(ImageFileFormat format);

// An RGBA picture as a PNG: 8-bit RGB when every pixel is opaque, RGBA otherwise. level is
// zlib's (0 to 9). False, with the reason, when the picture has no pixels.
bool EncodePng(const RgbaImage& image, std::vector<std::uint8_t>& out, std::string* error, int level = 6);

// The same as an uncompressed true-colour TGA (type 2): 32 bits a pixel, rows bottom first, the
// layout every engine's reader takes (Quakespasm 0.95's Image_LoadTGA reads types 2 and 10 of 24
// or 32 bits, and nothing else but 8-bit colour-mapped ones).
bool EncodeTga(const RgbaImage& image, std::vector<std::uint8_t>& out, std::string* error);

bool EncodeImageFile(const RgbaImage& image, ImageFileFormat format, std::vector<std::uint8_t>& out,
                     std::string* error);

}  // namespace tarn
