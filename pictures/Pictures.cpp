#include "pictures/Pictures.h"

#include <algorithm>
#include <cstring>

#include "fileio/ByteIO.h"
#include "fileio/Strings.h"

namespace tarn {

namespace {

namespace pcx {
constexpr std::size_t kHeaderSize = 128;
constexpr std::size_t kPaletteSize = 768;
constexpr std::size_t kBitsPerPixel = 3, kXMax = 8, kYMax = 10, kPlanes = 65;
// A run codes at most 63 pixels in two bytes: no honest file claims more pixels than this
// many per byte of data, and nothing larger is allocated.
constexpr std::size_t kMaxPixelsPerByte = 32;
}  // namespace pcx

}  // namespace

std::vector<std::uint8_t> Picture::Packed() const {
  std::vector<std::uint8_t> out(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  for (int y = 0; y < height; ++y)
    std::memcpy(out.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width), Row(y),
                static_cast<std::size_t>(width));
  return out;
}

bool BuildPicture(int width, int height, std::span<const std::uint8_t> indices, Picture& out) {
  if (width < 0 || height < 0) return false;
  const std::size_t w = static_cast<std::size_t>(width), h = static_cast<std::size_t>(height);
  if (indices.size() < w * h) return false;
  if (w == 0 || h == 0) {
    // No pixels, whatever the other side claims: a 0 × 1,000,000,000 picture is just empty.
    out = Picture{};
    return true;
  }
  out.width = width;
  out.height = height;
  const std::size_t stride = static_cast<std::size_t>(out.Stride());
  out.pixels.assign(stride * h, 0);
  for (std::size_t y = 0; y < h; ++y)
    if (w) std::memcpy(out.pixels.data() + y * stride, indices.data() + y * w, w);
  return true;
}

namespace {

// Run-length decoding into out until it is full or the data end at `end`. Runs never pass the
// end of out; what the data do not reach stays zero.
void DecodePcxRuns(std::span<const std::uint8_t> bytes, std::size_t in, std::size_t end,
                   std::vector<std::uint8_t>& out) {
  std::size_t at = 0;
  while (at < out.size() && in < end) {
    std::uint8_t b = bytes[in++];
    if (b >= 0xC0) {
      std::size_t count = b & 0x3F;
      if (in >= end) break;
      std::uint8_t value = bytes[in++];
      count = std::min(count, out.size() - at);
      std::memset(out.data() + at, value, count);
      at += count;
    } else {
      out[at++] = b;
    }
  }
}

std::string Plural(int n, const char* one, const char* many) { return std::to_string(n) + " " + (n == 1 ? one : many); }

}  // namespace

bool DecodePcx(std::span<const std::uint8_t> bytes, Picture& picture, Palette& palette, std::string* error) {
  if (bytes.size() < pcx::kHeaderSize) return Fail(error, "too short for a PCX picture");
  ByteReader r(bytes);
  r.Seek(pcx::kXMax);
  const int width = r.I16() + 1;
  r.Seek(pcx::kYMax);
  const int height = r.I16() + 1;
  r.Seek(pcx::kBitsPerPixel);
  const int bitsPerPixel = r.U8();
  r.Seek(pcx::kPlanes);
  const int planes = r.U8();
  const std::size_t bytesPerLine = r.U16();
  const bool trueColor = bitsPerPixel == 8 && planes == 3;
  if (bitsPerPixel != 8 || (planes != 1 && planes != 3)) {
    if (error)
      *error = "the PCX picture has " + Plural(bitsPerPixel, "bit", "bits") + " per pixel in " +
               Plural(planes, "plane", "planes") +
               "; only 256-colour (8 bits, 1 plane) and 24-bit (8 bits, 3 planes) PCX pictures can be shown";
    return false;
  }
  if (!trueColor && bytes.size() < pcx::kHeaderSize + pcx::kPaletteSize)
    return Fail(error, "too short for a PCX picture");
  if (width <= 0 || height <= 0) return Fail(error, "the PCX picture has no pixels");

  // Encoders pad each plane's scan line to an even length; the padding is decoded and dropped
  // so that odd widths do not come out skewed.
  std::size_t line = static_cast<std::size_t>(width);
  if (trueColor) {
    if (bytesPerLine < line) return Fail(error, "the PCX picture's scan lines are shorter than its width");
    line = bytesPerLine;
  } else if (bytesPerLine > line && bytesPerLine <= line + 64) {
    line = bytesPerLine;
  }
  const std::size_t decodedSize = line * static_cast<std::size_t>(planes) * static_cast<std::size_t>(height);
  if (decodedSize / pcx::kMaxPixelsPerByte > bytes.size())
    return Fail(error, "the PCX picture is larger than its data");

  std::vector<std::uint8_t> decoded(decodedSize, 0);
  if (trueColor) {
    // No palette follows: the coded data run to the end of the file.
    DecodePcxRuns(bytes, pcx::kHeaderSize, bytes.size(), decoded);
    picture = Picture{};
    picture.width = width;
    picture.height = height;
    picture.rgba.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
    std::uint8_t* px = picture.rgba.data();
    for (std::size_t y = 0; y < static_cast<std::size_t>(height); ++y) {
      // Each row holds the red line, then the green line, then the blue line.
      const std::uint8_t* red = decoded.data() + y * 3 * line;
      for (std::size_t x = 0; x < static_cast<std::size_t>(width); ++x) {
        *px++ = red[x];
        *px++ = red[line + x];
        *px++ = red[2 * line + x];
        *px++ = 0xFF;
      }
    }
    return true;
  }

  const std::uint8_t* pal = bytes.data() + bytes.size() - pcx::kPaletteSize;
  for (std::size_t i = 0; i < 256; ++i) palette.colors[i] = {pal[3 * i], pal[3 * i + 1], pal[3 * i + 2]};
  // The coded pixels end where the palette begins, at its 0x0C marker when there is one.
  std::size_t end = bytes.size() - pcx::kPaletteSize;
  if (end > pcx::kHeaderSize && bytes[end - 1] == 0x0C) --end;
  DecodePcxRuns(bytes, pcx::kHeaderSize, end, decoded);

  picture = Picture{};
  picture.width = width;
  picture.height = height;
  const std::size_t stride = static_cast<std::size_t>(picture.Stride());
  picture.pixels.assign(stride * static_cast<std::size_t>(height), 0);
  for (std::size_t y = 0; y < static_cast<std::size_t>(height); ++y)
    std::memcpy(picture.pixels.data() + y * stride, decoded.data() + y * line, static_cast<std::size_t>(width));
  return true;
}

bool DecodeLmp(std::span<const std::uint8_t> bytes, Picture& picture) {
  if (bytes.size() < 8) return false;
  ByteReader r(bytes);
  const std::int32_t width = r.I32(), height = r.I32();
  // An empty picture is no picture either: tables of two zero words start like one.
  if (width <= 0 || height <= 0) return false;
  const std::uint64_t pixels = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
  if (pixels > bytes.size() - 8) return false;
  return BuildPicture(width, height, bytes.subspan(8), picture);
}

bool ReadTrailingPalette(std::span<const std::uint8_t> bytes, std::size_t at, Palette& palette) {
  if (at > bytes.size() || bytes.size() - at < 2 + 768) return false;
  if (bytes[at] != 0 || bytes[at + 1] != 1) return false;  // 256, little-endian
  const std::uint8_t* rgb = bytes.data() + at + 2;
  for (int i = 0; i < 256; ++i) palette.colors[i] = {rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]};
  return true;
}

bool DecodeMip(std::span<const std::uint8_t> bytes, Picture& picture, Palette& palette, bool* ownPalette,
               std::string* name, std::string* error) {
  if (ownPalette) *ownPalette = false;
  if (bytes.size() < miptex::kHeaderSize) return Fail(error, "too short for a mip texture");
  ByteReader r(bytes);
  std::string texName = r.FixedString(miptex::kNameSize);
  const std::int32_t width = r.I32(), height = r.I32();
  std::uint32_t offsets[4];
  for (auto& o : offsets) o = r.U32();
  if (width <= 0 || height <= 0) return Fail(error, "the mip texture has no size");
  if (offsets[0] == 0) return Fail(error, "the mip texture holds no pixels, only its name and size");
  const std::uint64_t pixels = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
  if (offsets[0] > bytes.size() || pixels > bytes.size() - offsets[0])
    return Fail(error, "the mip texture's pixels lie outside it");
  if (!BuildPicture(width, height, bytes.subspan(offsets[0], static_cast<std::size_t>(pixels)), picture))
    return Fail(error, "the mip texture's pixels lie outside it");
  // Half-Life's palette follows the smallest level, an eighth of the size each way.
  const std::uint64_t smallest = static_cast<std::uint64_t>(offsets[3]) +
                                 static_cast<std::uint64_t>(width >> 3) * static_cast<std::uint64_t>(height >> 3);
  if (offsets[3] != 0 && smallest <= bytes.size() &&
      ReadTrailingPalette(bytes, static_cast<std::size_t>(smallest), palette) && ownPalette)
    *ownPalette = true;
  if (name) *name = std::move(texName);
  return true;
}

bool DecodeConchars(std::span<const std::uint8_t> bytes, Picture& picture) {
  constexpr std::size_t side = conchars::kSide;
  return bytes.size() == side * side && BuildPicture(conchars::kSide, conchars::kSide, bytes, picture);
}

bool DecodeWal(std::span<const std::uint8_t> bytes, Picture& picture, std::string* nextFrame, std::string* error) {
  if (nextFrame) nextFrame->clear();
  if (bytes.size() < wal::kHeaderSize) return Fail(error, "too short for a WAL texture");
  ByteReader r(bytes);
  r.Seek(wal::kWidth);
  const std::int32_t width = r.I32(), height = r.I32();
  r.Seek(wal::kMip0);
  const std::uint32_t offset = r.U32();
  r.Seek(wal::kNextName);
  std::string next = r.FixedString(wal::kNextNameSize);
  if (width < 0 || height < 0) return Fail(error, "the WAL texture has a negative size");
  const std::uint64_t pixels = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
  if (offset > bytes.size() || pixels > bytes.size() - offset)
    return Fail(error, "the WAL texture's pixels lie outside it");
  if (!BuildPicture(width, height, bytes.subspan(offset, static_cast<std::size_t>(pixels)), picture))
    return Fail(error, "the WAL texture's pixels lie outside it");
  if (nextFrame) *nextFrame = std::move(next);
  return true;
}

bool DecodeMdlSkins(std::span<const std::uint8_t> bytes, std::vector<Picture>& pictures, std::string* error) {
  pictures.clear();
  if (bytes.size() < mdlskin::kHeaderSize) return Fail(error, "too short for a Quake model");
  if (std::memcmp(bytes.data(), "IDPO", 4) != 0) return Fail(error, "not a Quake model");
  ByteReader r(bytes);
  r.Seek(mdlskin::kSkinCount);
  const std::int32_t count = r.I32(), width = r.I32(), height = r.I32();
  if (width < 0 || height < 0) return Fail(error, "the model's skin has a negative size");
  const std::uint64_t size = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
  r.Seek(mdlskin::kHeaderSize);
  try {
    auto readPicture = [&] {
      if (size > r.Remaining()) throw ParseError("the model's skin lies outside it");
      Picture p;
      BuildPicture(width, height, r.Bytes(static_cast<std::size_t>(size)), p);
      pictures.push_back(std::move(p));
    };
    for (std::int32_t i = 0; i < count; ++i) {
      if (r.I32() == 0) {
        readPicture();
        continue;
      }
      const std::int32_t n = r.I32();
      if (n < 0) throw ParseError("a skin group has a negative size");
      r.Skip(static_cast<std::size_t>(n) * 4);  // the intervals
      for (std::int32_t k = 0; k < n; ++k) readPicture();
    }
  } catch (const ParseError& e) {
    if (pictures.empty()) return Fail(error, e.what());
  }
  if (pictures.empty()) return Fail(error, "the model has no skin");
  return true;
}

}  // namespace tarn
