#include "sounds/SoundInfo.h"

#include <cstring>

#include "fileio/ByteIO.h"

namespace tarn {

namespace {

void Require(bool ok, const char* why) {
  if (!ok) throw ParseError(why);
}

bool Starts(std::span<const std::uint8_t> b, std::size_t at, const char* tag) {
  const std::size_t n = std::strlen(tag);
  return b.size() >= at + n && std::memcmp(b.data() + at, tag, n) == 0;
}

std::uint32_t Be32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
         static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

// --- wave ---

void ReadWave(ByteReader r, SoundInfo& out) {
  out.container = SoundInfo::Container::Wave;
  r.Seek(12);
  bool haveFormat = false;
  std::uint64_t dataBytes = 0;
  int blockAlign = 0, tag = 0;
  std::optional<std::uint32_t> cue, mark, smplStart, smplEnd;
  bool afterCue = false;  // the first "LIST" after the cue chunk is where GetWavinfo looks for "mark"
  while (r.Remaining() >= 8) {
    const auto id = r.Bytes(4);
    const std::uint32_t size = r.U32();
    // The last chunk is often cut short, the data chunk's size then naming more than there is.
    const std::size_t take = std::min<std::size_t>(size, r.Remaining());
    ByteReader chunk = r.Sub(r.Position(), take);
    if (std::memcmp(id.data(), "fmt ", 4) == 0) {
      tag = chunk.U16();
      out.channels = chunk.U16();
      out.rate = static_cast<int>(chunk.U32());
      chunk.U32();  // bytes a second
      blockAlign = chunk.U16();
      out.bits = chunk.U16();
      haveFormat = true;
    } else if (std::memcmp(id.data(), "data", 4) == 0) {
      dataBytes = take;
    } else if (std::memcmp(id.data(), "cue ", 4) == 0 && !cue && take >= 28 && chunk.U32() > 0) {
      chunk.Skip(20);  // name, position, chunk, chunk start, block start
      cue = chunk.U32();
      afterCue = true;
    } else if (std::memcmp(id.data(), "LIST", 4) == 0 && afterCue) {
      afterCue = false;
      // Not a parse of the list: the fixed place of "ltxt"'s length and purpose, as Cool Edit
      // wrote them and GetWavinfo reads them.
      if (take >= 24 && std::memcmp(chunk.Data() + 20, "mark", 4) == 0) {
        chunk.Skip(16);
        mark = chunk.U32();
      }
    } else if (std::memcmp(id.data(), "smpl", 4) == 0 && take >= 52) {
      chunk.Skip(28);
      if (chunk.U32() > 0) {
        chunk.Skip(4 + 8);  // sampler data size; the loop's name and type
        smplStart = chunk.U32();
        smplEnd = chunk.U32();
      }
    }
    r.Skip(take + (take & 1 && take < r.Remaining() ? 1 : 0));
  }
  Require(haveFormat, "the wave has no format chunk");
  Require(out.channels > 0 && out.rate > 0 && blockAlign > 0, "the wave's format chunk is damaged");
  out.frames = dataBytes / static_cast<std::uint64_t>(blockAlign);
  // The engines loop from the cue point; a sampler's loop counts only where there is none.
  if (cue) {
    out.loopStart = cue;
    out.loopFromCue = true;
    if (mark)
      out.loopEnd = static_cast<std::uint32_t>(std::min<std::uint64_t>(std::uint64_t{*cue} + *mark, UINT32_MAX));
  } else if (smplStart) {
    out.loopStart = smplStart;
    out.loopEnd = smplEnd;
  }
  out.format = tag == 1   ? "Wave, PCM " + std::to_string(out.bits) + "-bit"
               : tag == 3 ? "Wave, floating point " + std::to_string(out.bits) + "-bit"
                          : "Wave, coding " + std::to_string(tag);
}

// --- Ogg ---

// The granule position (samples at the codec's rate) of the last page: the stream's length.
std::uint64_t LastGranule(std::span<const std::uint8_t> b) {
  for (std::size_t at = b.size() >= 27 ? b.size() - 27 : 0;; --at) {
    if (Starts(b, at, "OggS") && b.size() - at >= 27) {
      std::uint64_t g = 0;
      for (int i = 7; i >= 0; --i) g = g << 8 | b[at + 6 + static_cast<std::size_t>(i)];
      if (g != ~std::uint64_t{0}) return g;
    }
    if (at == 0 || b.size() - at > (1 << 16)) return 0;
  }
}

void ReadOgg(std::span<const std::uint8_t> b, SoundInfo& out) {
  out.container = SoundInfo::Container::Ogg;
  ByteReader r(b);
  r.Seek(26);
  const std::size_t segments = r.U8();
  r.Skip(segments);
  const std::size_t packet = r.Position();
  if (Starts(b, packet, "\x01vorbis")) {
    r.Seek(packet + 11);
    out.channels = r.U8();
    out.rate = static_cast<int>(r.U32());
    out.format = "Ogg Vorbis";
    Require(out.channels > 0 && out.rate > 0, "the Vorbis header is damaged");
    out.frames = LastGranule(b);
  } else if (Starts(b, packet, "OpusHead")) {
    r.Seek(packet + 9);
    out.channels = r.U8();
    const std::uint16_t preSkip = r.U16();
    out.rate = 48000;  // Opus always decodes at 48 kHz; the header's rate is the input's
    out.format = "Ogg Opus";
    Require(out.channels > 0, "the Opus header is damaged");
    const std::uint64_t g = LastGranule(b);
    out.frames = g > preSkip ? g - preSkip : 0;
  } else {
    throw ParseError("the Ogg stream holds neither Vorbis nor Opus");
  }
}

// --- FLAC ---

void ReadFlac(std::span<const std::uint8_t> b, SoundInfo& out) {
  out.container = SoundInfo::Container::Flac;
  Require(b.size() >= 8 + 34 && (b[4] & 0x7F) == 0, "the FLAC stream does not begin with its stream information");
  const std::uint8_t* s = b.data() + 8;
  out.rate =
      static_cast<int>(static_cast<std::uint32_t>(s[10]) << 12 | static_cast<std::uint32_t>(s[11]) << 4 | s[12] >> 4);
  out.channels = ((s[12] >> 1) & 7) + 1;
  const int bits = ((s[12] & 1) << 4 | s[13] >> 4) + 1;
  out.frames = static_cast<std::uint64_t>(s[13] & 0x0F) << 32 | Be32(s + 14);
  Require(out.rate > 0, "the FLAC stream information is damaged");
  out.format = "FLAC, " + std::to_string(bits) + "-bit";
}

// --- MP3 ---

void ReadMp3(std::span<const std::uint8_t> b, SoundInfo& out) {
  out.container = SoundInfo::Container::Mp3;
  std::size_t at = 0;
  if (Starts(b, 0, "ID3") && b.size() >= 10) {
    // The tag's size is four 7-bit bytes, the header (and a footer, when flagged) not counted.
    at = 10 +
         (static_cast<std::size_t>(b[6] & 0x7F) << 21 | static_cast<std::size_t>(b[7] & 0x7F) << 14 |
          static_cast<std::size_t>(b[8] & 0x7F) << 7 | (b[9] & 0x7F)) +
         (b[5] & 0x10 ? 10 : 0);
  }
  static const int kBitrates[2][3][16] = {{{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
                                           {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
                                           {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}},
                                          {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
                                           {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
                                           {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}}};
  static const int kRates[3] = {44100, 48000, 32000};
  // The first frame header within the first 64 KiB after any tag.
  for (const std::size_t end = std::min(b.size(), at + (1 << 16)); at + 4 <= end; ++at) {
    if (b[at] != 0xFF || (b[at + 1] & 0xE0) != 0xE0) continue;
    const int version = (b[at + 1] >> 3) & 3;  // 0: 2.5, 2: 2, 3: 1
    const int layer = 4 - ((b[at + 1] >> 1) & 3);
    const int bitrateIndex = b[at + 2] >> 4, rateIndex = (b[at + 2] >> 2) & 3;
    if (version == 1 || layer == 4 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3) continue;
    const bool mpeg1 = version == 3;
    const int kbps = kBitrates[mpeg1 ? 0 : 1][layer - 1][bitrateIndex];
    out.rate = kRates[rateIndex] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
    out.channels = (b[at + 3] >> 6) == 3 ? 1 : 2;
    const int samplesPerFrame = layer == 1 ? 384 : layer == 2 || mpeg1 ? 1152 : 576;
    out.format = std::string("MP3 (MPEG-") +
                 (mpeg1          ? "1"
                  : version == 2 ? "2"
                                 : "2.5") +
                 " Layer " +
                 (layer == 1   ? "I"
                  : layer == 2 ? "II"
                               : "III") +
                 ", " + std::to_string(kbps) + " kbit/s)";
    // A variable bit rate file counts its frames in a Xing (or Info) header, or a VBRI one.
    const std::size_t side = mpeg1 ? (out.channels == 1 ? 17 : 32) : (out.channels == 1 ? 9 : 17);
    const std::size_t xing = at + 4 + side;
    if ((Starts(b, xing, "Xing") || Starts(b, xing, "Info")) && b.size() >= xing + 12 && (b[xing + 7] & 1)) {
      out.frames = static_cast<std::uint64_t>(Be32(b.data() + xing + 8)) * samplesPerFrame;
    } else if (Starts(b, at + 36, "VBRI") && b.size() >= at + 36 + 18) {
      out.frames = static_cast<std::uint64_t>(Be32(b.data() + at + 36 + 14)) * samplesPerFrame;
    } else {
      out.frames = (b.size() - at) * 8 / 1000 * static_cast<std::uint64_t>(out.rate) / static_cast<std::uint64_t>(kbps);
    }
    return;
  }
  throw ParseError("no MPEG audio frame found");
}

}  // namespace

bool ReadSoundInfo(std::span<const std::uint8_t> bytes, SoundInfo& out, std::string* error) {
  out = SoundInfo{};
  try {
    if (Starts(bytes, 0, "RIFF") && Starts(bytes, 8, "WAVE")) ReadWave(ByteReader(bytes), out);
    else if (Starts(bytes, 0, "OggS")) ReadOgg(bytes, out);
    else if (Starts(bytes, 0, "fLaC")) ReadFlac(bytes, out);
    else if (Starts(bytes, 0, "ID3") || (bytes.size() >= 2 && bytes[0] == 0xFF && (bytes[1] & 0xE0) == 0xE0))
      ReadMp3(bytes, out);
    else throw ParseError("not a sound Tarn knows (wave, Ogg, MP3 or FLAC)");
    return true;
  } catch (const ParseError& e) {
    out = SoundInfo{};
    if (error) *error = e.what();
    return false;
  }
}

SoundHeader ReadSoundHeader(std::span<const std::uint8_t> bytes) {
  SoundHeader info;
  if (Starts(bytes, 0, "OggS")) {
    info.container = SoundContainer::Ogg;
  } else if (Starts(bytes, 0, "fLaC")) {
    info.container = SoundContainer::Flac;
  } else if (Starts(bytes, 0, "ID3") || (bytes.size() >= 2 && bytes[0] == 0xFF && (bytes[1] & 0xE0) == 0xE0)) {
    info.container = SoundContainer::Mp3;
  } else if (Starts(bytes, 0, "RIFF") && bytes.size() >= 12 && std::memcmp(bytes.data() + 8, "WAVE", 4) == 0) {
    info.container = SoundContainer::Wave;
    // The chunks after "WAVE", each an id, a length and the data padded to an even size, as
    // GetWavinfo walks them (id-Software/Quake WinQuake/snd_mem.c FindNextChunk).
    try {
      ByteReader r(bytes);
      r.Seek(12);
      while (r.CanRead(8)) {
        const auto id = r.Bytes(4);
        const std::uint32_t length = r.U32();
        if (std::memcmp(id.data(), "fmt ", 4) == 0) {
          ByteReader fmt = r.Sub(r.Position(), std::min<std::size_t>(length, r.Remaining()));
          info.format = fmt.U16();
          info.channels = fmt.U16();
          info.rate = fmt.U32();
          fmt.Skip(4 + 2);
          info.bits = fmt.U16();
          info.fmtFound = true;
          break;
        }
        const std::uint64_t skip = static_cast<std::uint64_t>(length) + (length & 1);
        if (skip > r.Remaining()) break;
        r.Skip(static_cast<std::size_t>(skip));
      }
    } catch (const ParseError&) {
      info.fmtFound = false;  // a "fmt " chunk too short to hold the format
    }
  }
  return info;
}

}  // namespace tarn
