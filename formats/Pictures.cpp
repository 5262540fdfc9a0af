#include "formats/Pictures.h"

#include <algorithm>
#include <cstring>

#include "archive/ByteIO.h"

namespace tarn {

namespace {

bool Fail(std::string* error, const char* why) {
  if (error) *error = why;
  return false;
}

namespace pcx {
constexpr std::size_t kHeaderSize = 128;
constexpr std::size_t kPaletteSize = 768;
constexpr std::size_t kBitsPerPixel = 3, kXMax = 8, kYMax = 10, kPlanes = 65;
// A run codes at most 63 pixels in two bytes: no honest file claims more pixels than this
// many per byte of data, and nothing larger is allocated.
constexpr std::size_t kMaxPixelsPerByte = 32;
}  // namespace pcx

}  // namespace

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

bool DecodePcx(std::span<const std::uint8_t> bytes, Picture& picture, Palette& palette, std::string* error) {
  if (bytes.size() < pcx::kHeaderSize + pcx::kPaletteSize) return Fail(error, "too short for a PCX picture");
  ByteReader r(bytes);
  r.Seek(pcx::kXMax);
  const int width = r.I16() + 1;
  r.Seek(pcx::kYMax);
  const int height = r.I16() + 1;
  if (width <= 0 || height <= 0) return Fail(error, "the PCX picture has no pixels");
  const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  if (pixels / pcx::kMaxPixelsPerByte > bytes.size()) return Fail(error, "the PCX picture is larger than its data");

  const std::uint8_t* pal = bytes.data() + bytes.size() - pcx::kPaletteSize;
  for (std::size_t i = 0; i < 256; ++i) palette.colors[i] = {pal[3 * i], pal[3 * i + 1], pal[3 * i + 2]};

  // Encoders pad each scan line to an even length; the padding is decoded and dropped so that
  // odd widths do not come out skewed. Other layouts (several planes, other depths) are read as
  // if they were 8-bit, which gives a picture of the right size and wrong colours.
  std::size_t line = static_cast<std::size_t>(width);
  r.Seek(pcx::kBitsPerPixel);
  const int bitsPerPixel = r.U8();
  r.Seek(pcx::kPlanes);
  const int planes = r.U8();
  const std::size_t bytesPerLine = r.U16();
  if (bitsPerPixel == 8 && planes == 1 && bytesPerLine > line && bytesPerLine <= line + 64) line = bytesPerLine;

  std::vector<std::uint8_t> decoded(line * static_cast<std::size_t>(height), 0);
  // The coded pixels end where the palette begins, at its 0x0C marker when there is one.
  std::size_t out = 0, in = pcx::kHeaderSize;
  std::size_t end = bytes.size() - pcx::kPaletteSize;
  if (end > in && bytes[end - 1] == 0x0C) --end;
  while (out < decoded.size() && in < end) {
    std::uint8_t b = bytes[in++];
    if (b >= 0xC0) {
      std::size_t count = b & 0x3F;
      if (in >= end) break;
      std::uint8_t value = bytes[in++];
      count = std::min(count, decoded.size() - out);
      std::memset(decoded.data() + out, value, count);
      out += count;
    } else {
      decoded[out++] = b;
    }
  }

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
  if (width <= 0 || height <= 0 || width > lmp::kMaxWidth || height > lmp::kMaxHeight) return false;
  return BuildPicture(width, height, bytes.subspan(8), picture);
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
  if (offset > bytes.size() || pixels > bytes.size() - offset) return Fail(error, "the WAL texture's pixels lie outside it");
  if (!BuildPicture(width, height, bytes.subspan(offset, static_cast<std::size_t>(pixels)), picture))
    return Fail(error, "the WAL texture's pixels lie outside it");
  if (nextFrame) *nextFrame = std::move(next);
  return true;
}

bool DecodeMdlSkin(std::span<const std::uint8_t> bytes, Picture& picture, std::string* error) {
  if (bytes.size() < mdlskin::kHeaderSize) return Fail(error, "too short for a Quake model");
  if (std::memcmp(bytes.data(), "IDPO", 4) != 0) return Fail(error, "not a Quake model");
  ByteReader r(bytes);
  r.Seek(mdlskin::kSkinWidth);
  const std::int32_t width = r.I32(), height = r.I32();
  r.Seek(mdlskin::kHeaderSize);
  if (!r.CanRead(4)) return Fail(error, "the model has no skin");
  if (r.I32() != 0) return Fail(error, "the model's first skin is a group of pictures");
  if (width < 0 || height < 0) return Fail(error, "the model's skin has a negative size");
  const std::uint64_t pixels = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
  if (pixels > r.Remaining()) return Fail(error, "the model's skin lies outside it");
  return BuildPicture(width, height, bytes.subspan(r.Position(), static_cast<std::size_t>(pixels)), picture);
}

}  // namespace tarn
