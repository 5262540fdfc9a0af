#include "pictures/BmpTga.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <vector>

#include "fileio/ByteIO.h"

namespace tarn {

namespace {

bool Fail(std::string* error, const std::string& why) {
  if (error) *error = why;
  return false;
}

void Put(RgbaImage& out, std::size_t x, std::size_t y, std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a) {
  std::uint8_t* p = out.rgba.data() + 4 * (y * static_cast<std::size_t>(out.width) + x);
  p[0] = r, p[1] = g, p[2] = b, p[3] = a;
}

// A channel of a packed pixel, scaled from its bits to 0..255 with rounding.
struct Channel {
  std::uint32_t mask = 0;
  int shift = 0, bits = 0;
  static bool Make(std::uint32_t mask, Channel& c) {
    c.mask = mask;
    if (mask == 0) return true;
    c.shift = std::countr_zero(mask);
    c.bits = std::popcount(mask);
    // Only masks of consecutive bits are colours; anything else is not a picture.
    return (mask >> c.shift) == (c.bits == 32 ? 0xFFFFFFFFu : (1u << c.bits) - 1);
  }
  std::uint8_t Of(std::uint32_t pixel) const {
    const std::uint64_t v = (pixel & mask) >> shift, max = (std::uint64_t{1} << bits) - 1;
    return static_cast<std::uint8_t>((v * 255 + max / 2) / max);
  }
};

// --- BMP ---

constexpr std::uint32_t kRgb = 0, kRle8 = 1, kRle4 = 2, kBitfields = 3;

struct BmpHeader {
  std::uint32_t headerSize = 0, compression = kRgb, colorsUsed = 0;
  std::int64_t width = 0, height = 0;
  int bits = 0;
  bool os2 = false;  // a 12-byte header: palette entries of three bytes
  std::uint32_t masks[4] = {};
  bool masksGiven = false;
};

bool ReadBmpHeader(ByteReader& r, BmpHeader& h, std::string* error) {
  r.Seek(14);
  h.headerSize = r.U32();
  const std::uint32_t size = h.headerSize;
  if (size == 12) {
    h.os2 = true;
    h.width = r.U16();
    h.height = static_cast<std::int16_t>(r.U16());
    if (r.U16() != 1) return Fail(error, "the BMP file is damaged: its plane count is not 1");
    h.bits = r.U16();
    return true;
  }
  if (size != 16 && size != 40 && size != 52 && size != 56 && size != 64 && size != 108 && size != 124)
    return Fail(error, "the BMP file has a header of " + std::to_string(size) + " bytes, which no BMP has");
  h.width = r.I32();
  h.height = r.I32();
  if (r.U16() != 1) return Fail(error, "the BMP file is damaged: its plane count is not 1");
  h.bits = r.U16();
  if (size == 16) return true;
  h.compression = r.U32();
  r.Skip(12);  // image size, resolution
  h.colorsUsed = r.U32();
  r.Skip(4);  // important colours
  // OS/2's 64-byte header numbers its own compressions (Huffman, RLE24) where Windows has
  // bit fields and JPEG.
  if (size == 64 && h.compression >= kBitfields)
    return Fail(error, "the BMP file is compressed in OS/2's Huffman or RLE24 way, which Tarn does not read");
  if (size >= 52) {
    for (int i = 0; i < (size >= 56 ? 4 : 3); ++i) h.masks[i] = r.U32();
    h.masksGiven = true;
  } else if (h.compression == kBitfields) {
    // After a 40-byte header, the masks follow it.
    for (int i = 0; i < 3; ++i) h.masks[i] = r.U32();
    h.masksGiven = true;
  }
  return true;
}

bool DecodeBmpInner(std::span<const std::uint8_t> bytes, RgbaImage& out, std::string* error) {
  ByteReader r(bytes);
  if (bytes.size() < 26) return Fail(error, "the BMP file is cut short");
  r.Skip(2);
  const std::uint32_t fileSize = r.U32();
  r.Skip(4);
  const std::uint32_t dataOffset = r.U32();
  BmpHeader h;
  if (!ReadBmpHeader(r, h, error)) return false;
  // The palette follows the header, and the masks a 40-byte header leaves out of itself.
  const std::size_t paletteAt = std::max<std::size_t>(r.Position(), 14 + std::size_t{h.headerSize});
  // A size that is not the file's (OS/2 files put the header's there) leaves it unclear what
  // the file is: ImageMagick refuses it too.
  if (fileSize != 0 && fileSize != bytes.size())
    return Fail(error, "the BMP file's header gives its size as " + std::to_string(fileSize) + " bytes, but it has " +
                           std::to_string(bytes.size()));
  const bool topDown = h.height < 0;
  const std::int64_t height = topDown ? -h.height : h.height;
  if (!PictureSizeFits(h.width, height, error)) return false;
  const int bits = h.bits;
  const std::uint32_t c = h.compression;
  const bool indexed = bits == 1 || bits == 4 || bits == 8;
  if (!indexed && bits != 16 && bits != 24 && bits != 32)
    return Fail(error, "the BMP file has " + std::to_string(bits) + " bits a pixel, which Tarn does not read");
  if (c == 4 || c == 5) return Fail(error, "the BMP file holds a JPEG or PNG, which Tarn does not read inside a BMP");
  const bool rle = c == kRle8 || c == kRle4;
  if (rle && !((c == kRle8 && bits == 8) || (c == kRle4 && bits == 4)))
    return Fail(error, "the BMP file is damaged: its compression does not fit its bits a pixel");
  if (c == kBitfields && bits != 16 && bits != 32)
    return Fail(error, "the BMP file is damaged: bit fields with " + std::to_string(bits) + " bits a pixel");
  if (c != kRgb && !rle && c != kBitfields)
    return Fail(error, "the BMP file uses compression " + std::to_string(c) + ", which Tarn does not read");
  if (rle && topDown) return Fail(error, "the BMP file is damaged: a compressed picture cannot be stored top first");
  if (dataOffset < paletteAt || dataOffset > bytes.size())
    return Fail(error, "the BMP file is damaged: its pixels lie outside it");

  // The palette: as many entries as it says (all a depth allows when it says 0), of those
  // that are there before the pixels.
  std::vector<Rgb> palette;
  if (indexed) {
    const std::uint64_t entry = h.os2 ? 3 : 4, room = (dataOffset - paletteAt) / entry;
    if (h.colorsUsed > (1u << bits))
      return Fail(error, "the BMP file is damaged: it has " + std::to_string(h.colorsUsed) + " colours for " +
                             std::to_string(bits) + " bits a pixel");
    std::uint64_t count = h.colorsUsed ? h.colorsUsed : (std::uint64_t{1} << bits);
    if (count > room) {
      // A palette said to be longer than the space for it is damaged, unless the space is
      // simply smaller than a full palette (OS/2 files keep only the colours they use).
      if (h.colorsUsed) return Fail(error, "the BMP file is damaged: its palette does not fit in it");
      count = room;
    }
    count = std::min<std::uint64_t>(count, std::uint64_t{1} << bits);
    ByteReader p = r.Sub(paletteAt, static_cast<std::size_t>(count * entry));
    for (std::uint64_t i = 0; i < count; ++i) {
      const std::uint8_t b = p.U8(), g = p.U8(), rr = p.U8();
      if (!h.os2) p.Skip(1);
      palette.push_back({rr, g, b});
    }
  }

  // Masks: given, or the fixed layouts of plain 16- and 32-bit pixels.
  Channel ch[4];
  bool alpha = false;
  if (!indexed) {
    std::uint32_t m[4] = {};
    if (c == kBitfields) {
      std::memcpy(m, h.masks, sizeof m);
      alpha = m[3] != 0;
    } else if (bits == 16) {
      m[0] = 0x7C00, m[1] = 0x03E0, m[2] = 0x001F;
    } else if (bits == 32) {
      m[0] = 0xFF0000, m[1] = 0xFF00, m[2] = 0xFF;
    }
    if (bits != 24) {
      for (int i = 0; i < 4; ++i)
        if (!Channel::Make(m[i], ch[i]))
          return Fail(error, "the BMP file is damaged: a colour's bits are not next to each other");
      if (!m[0] || !m[1] || !m[2] || ((m[0] & m[1]) | (m[0] & m[2]) | (m[1] & m[2]) | ((m[0] | m[1] | m[2]) & m[3])))
        return Fail(error, "the BMP file is damaged: its colour masks are missing or overlap");
      if (bits == 16 && ((m[0] | m[1] | m[2] | m[3]) >> 16))
        return Fail(error, "the BMP file is damaged: its colour masks are wider than its pixels");
      // Readers scale odd channel widths each their own way; only the usual ones are read.
      const bool usual = bits == 16
                             ? ch[0].bits == 5 && (ch[1].bits == 5 || ch[1].bits == 6) && ch[2].bits == 5 && !alpha
                             : ch[0].bits == 8 && ch[1].bits == 8 && ch[2].bits == 8 && (!alpha || ch[3].bits == 8);
      if (!usual)
        return Fail(error, "the BMP file's colour masks (" + std::to_string(ch[0].bits) + "-" +
                               std::to_string(ch[1].bits) + "-" + std::to_string(ch[2].bits) + "-" +
                               std::to_string(ch[3].bits) + " bits) are not ones Tarn reads");
    }
  }

  const auto width = static_cast<std::size_t>(h.width), rows = static_cast<std::size_t>(height);
  StartImage(out, static_cast<int>(width), static_cast<int>(rows));
  auto color = [&](std::size_t x, std::size_t y, std::uint32_t index) {
    if (index >= palette.size())
      throw ParseError("colour " + std::to_string(index) + " is past its palette of " + std::to_string(palette.size()));
    const Rgb& p = palette[index];
    Put(out, x, y, p.r, p.g, p.b, 255);
  };
  // Rows are stored bottom first unless the height is negative.
  auto rowAt = [&](std::size_t stored) { return topDown ? stored : rows - 1 - stored; };

  if (rle) {
    ByteReader d = r.Sub(dataOffset, bytes.size() - dataOffset);
    std::size_t x = 0, y = 0, set = 0;
    auto pixel = [&](std::uint32_t index) {
      if (x >= width || y >= rows) throw ParseError("its compressed pixels run past the picture");
      color(x++, rowAt(y), index);
      ++set;
    };
    for (;;) {
      const std::uint8_t n = d.U8(), v = d.U8();
      if (n > 0) {
        for (int i = 0; i < n; ++i) pixel(c == kRle8 ? v : (i % 2 == 0 ? v >> 4 : v & 15));
        continue;
      }
      if (v == 0) {  // end of line
        x = 0;
        ++y;
      } else if (v == 1) {  // end of picture
        // Pixels a move or an early end skips have no colour: readers differ on what to show.
        if (set != width * rows) throw ParseError("its compressed pixels leave some pixels without a colour");
        break;
      } else if (v == 2) {  // move right and up
        x += d.U8();
        y += d.U8();
        if (x > width || y > rows) throw ParseError("its compressed pixels move past the picture");
      } else {  // v pixels as they are, padded to two bytes
        const std::size_t bytesUsed = c == kRle8 ? v : (v + 1) / 2;
        ByteReader lit = d.Sub(d.Position(), bytesUsed);
        d.Skip(bytesUsed + (bytesUsed & 1));
        for (int i = 0; i < v; ++i) {
          const std::uint8_t b = lit.Data()[c == kRle8 ? i : i / 2];
          pixel(c == kRle8 ? b : (i % 2 == 0 ? b >> 4 : b & 15));
        }
      }
    }
    return true;
  }

  const std::uint64_t stride = (static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(bits) + 31) / 32 * 4;
  if (stride * rows > bytes.size() - dataOffset) return Fail(error, "the BMP file is cut short");
  for (std::size_t s = 0; s < rows; ++s) {
    ByteReader row = r.Sub(dataOffset + static_cast<std::size_t>(stride * s), static_cast<std::size_t>(stride));
    const std::size_t y = rowAt(s);
    if (indexed) {
      for (std::size_t x = 0; x < width; ++x) {
        const std::size_t bit = x * static_cast<std::size_t>(bits);
        const std::uint8_t byte = row.Data()[bit / 8];
        color(x, y, (byte >> (8 - bits - bit % 8)) & ((1u << bits) - 1));
      }
    } else if (bits == 24) {
      for (std::size_t x = 0; x < width; ++x) {
        const std::uint8_t b = row.U8(), g = row.U8(), rr = row.U8();
        Put(out, x, y, rr, g, b, 255);
      }
    } else {
      for (std::size_t x = 0; x < width; ++x) {
        const std::uint32_t v = bits == 16 ? row.U16() : row.U32();
        // Plain 32-bit pixels keep a fourth byte that should be 0; when it is not, it may or
        // may not be alpha, and readers differ.
        if (bits == 32 && c == kRgb && (v >> 24)) throw ParseError("its pixels' fourth bytes may or may not be alpha");
        Put(out, x, y, ch[0].Of(v), ch[1].Of(v), ch[2].Of(v), alpha ? ch[3].Of(v) : 255);
      }
    }
  }
  return true;
}

// --- TGA ---

bool DecodeTgaInner(std::span<const std::uint8_t> bytes, RgbaImage& out, std::string* error) {
  if (bytes.size() < 18) return Fail(error, "the TGA file is cut short");
  ByteReader r(bytes);
  const std::uint8_t idLength = r.U8(), mapType = r.U8(), type = r.U8();
  const std::uint16_t mapFirst = r.U16(), mapLength = r.U16();
  const std::uint8_t mapBits = r.U8();
  r.Skip(4);  // origin on screen
  const std::uint16_t width = r.U16(), height = r.U16();
  const std::uint8_t bits = r.U8(), descriptor = r.U8();
  const int kind = type & 7;  // 1 colour-mapped, 2 true colour, 3 grey; +8 run-length encoded
  if ((type & ~8) < 1 || (type & ~8) > 3 || mapType > 1)
    return Fail(error, "not a TGA picture Tarn reads (type " + std::to_string(type) + ")");
  if (!PictureSizeFits(width, height, error)) return false;
  const int alphaBits = descriptor & 15;
  if ((kind == 1 && bits != 8 && bits != 16) || (kind == 2 && bits != 15 && bits != 16 && bits != 24 && bits != 32) ||
      (kind == 3 && bits != 8 && bits != 16))
    return Fail(error, "the TGA file is damaged: " + std::to_string(bits) + " bits a pixel do not fit its type");
  if (kind == 1 && mapType != 1) return Fail(error, "the TGA file is damaged: it has no colour map");
  if (kind == 2 && (bits == 15 || bits == 16) && alphaBits > 0)
    return Fail(error, "the TGA file's 16-bit pixels say they have an alpha bit, which readers take differently");
  r.Skip(idLength);

  // A colour (of the map, or of a true-colour pixel) from its bytes. The top bit of a 16-bit
  // colour is an "attribute"; pictures that say it is alpha are refused below, since readers
  // differ on it (ImageMagick takes it for alpha, image-rs does not).
  auto readColor = [](ByteReader& in, int depth, bool useAlpha, std::uint8_t rgba[4]) {
    if (depth == 15 || depth == 16) {
      const std::uint16_t v = in.U16();
      auto five = [](unsigned x) { return static_cast<std::uint8_t>((x * 255 + 15) / 31); };
      rgba[0] = five((v >> 10) & 31), rgba[1] = five((v >> 5) & 31), rgba[2] = five(v & 31);
      rgba[3] = 255;
    } else {
      rgba[2] = in.U8(), rgba[1] = in.U8(), rgba[0] = in.U8();
      rgba[3] = depth == 32 ? in.U8() : 255;
      if (depth == 32 && !useAlpha) rgba[3] = 255;
    }
  };
  std::vector<std::array<std::uint8_t, 4>> map;
  if (mapType == 1) {
    if (mapBits != 15 && mapBits != 16 && mapBits != 24 && mapBits != 32)
      return Fail(error, "the TGA file is damaged: colour map entries of " + std::to_string(mapBits) + " bits");
    map.resize(mapLength);
    for (auto& e : map) readColor(r, mapBits, mapBits == 32 && alphaBits > 0, e.data());
  }
  StartImage(out, width, height);
  const bool rightToLeft = descriptor & 0x10, topFirst = descriptor & 0x20;
  const std::size_t total = out.PixelCount(), pixelBytes = (bits + 7) / 8;
  auto store = [&](std::size_t i, const std::uint8_t rgba[4]) {
    std::size_t x = i % width, y = i / width;
    if (rightToLeft) x = width - 1 - x;
    if (!topFirst) y = height - 1 - y;
    Put(out, x, y, rgba[0], rgba[1], rgba[2], rgba[3]);
  };
  auto decode = [&](ByteReader& in, std::uint8_t rgba[4]) {
    if (kind == 1) {
      const std::uint32_t index = bits == 8 ? in.U8() : in.U16();
      if (index < mapFirst || index - mapFirst >= map.size())
        throw ParseError("colour " + std::to_string(index) + " is outside its colour map");
      std::memcpy(rgba, map[index - mapFirst].data(), 4);
    } else if (kind == 2) {
      readColor(in, bits, alphaBits > 0, rgba);
    } else {
      rgba[0] = rgba[1] = rgba[2] = in.U8();
      rgba[3] = bits == 16 ? in.U8() : 255;
    }
  };
  std::uint8_t rgba[4];
  if (!(type & 8)) {
    if (static_cast<std::uint64_t>(total) * pixelBytes > r.Remaining()) return Fail(error, "the TGA file is cut short");
    for (std::size_t i = 0; i < total; ++i) {
      decode(r, rgba);
      store(i, rgba);
    }
    return true;
  }
  // Runs may go on from one row to the next.
  for (std::size_t i = 0; i < total;) {
    const std::uint8_t head = r.U8();
    const std::size_t n = (head & 0x7F) + 1u;
    if (n > total - i) return Fail(error, "the TGA file is damaged: a run goes past the picture");
    if (head & 0x80) {
      decode(r, rgba);
      for (std::size_t k = 0; k < n; ++k) store(i++, rgba);
    } else {
      for (std::size_t k = 0; k < n; ++k) {
        decode(r, rgba);
        store(i++, rgba);
      }
    }
  }
  return true;
}

}  // namespace

bool DecodeBmp(std::span<const std::uint8_t> bytes, RgbaImage& out, std::string* error) {
  try {
    if (DecodeBmpInner(bytes, out, error)) return true;
  } catch (const ParseError& e) {
    const std::string what = e.what();
    Fail(error, what == "unexpected end of data" || what == "section lies outside the data"
                    ? "the BMP file is cut short"
                    : "the BMP file is damaged: " + what);
  }
  out = RgbaImage{};
  return false;
}

bool DecodeTga(std::span<const std::uint8_t> bytes, RgbaImage& out, std::string* error) {
  try {
    if (DecodeTgaInner(bytes, out, error)) return true;
  } catch (const ParseError& e) {
    const std::string what = e.what();
    Fail(error, what == "unexpected end of data" || what == "section lies outside the data"
                    ? "the TGA file is cut short"
                    : "the TGA file is damaged: " + what);
  }
  out = RgbaImage{};
  return false;
}

}  // namespace tarn
