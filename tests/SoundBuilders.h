// Small sound files built byte by byte for the tests: waves (with cue and smpl chunks), FLAC
// streams of verbatim frames (decodable, lossless), and the first bytes of Ogg and MP3 files.
#pragma once

#include "TestSupport.h"

namespace tarn::test {

inline void PutLe(Bytes& b, std::uint64_t v, int n) {
  for (int i = 0; i < n; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
inline void PutBe(Bytes& b, std::uint64_t v, int n) {
  for (int i = n - 1; i >= 0; --i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
inline void PutTag(Bytes& b, const char* tag) { b.insert(b.end(), tag, tag + std::strlen(tag)); }

// A RIFF wave of 8-bit mono samples at the given rate; extra chunks follow the data.
inline Bytes Wave(const Bytes& samples, int rate, const Bytes& extraChunks = {}) {
  const std::size_t pad = samples.size() & 1;  // chunks start at even offsets
  Bytes b;
  PutTag(b, "RIFF");
  PutLe(b, 36 + samples.size() + pad + extraChunks.size(), 4);
  PutTag(b, "WAVEfmt ");
  PutLe(b, 16, 4);
  PutLe(b, 1, 2);  // PCM
  PutLe(b, 1, 2);  // mono
  PutLe(b, static_cast<std::uint64_t>(rate), 4);
  PutLe(b, static_cast<std::uint64_t>(rate), 4);
  PutLe(b, 1, 2);  // block align
  PutLe(b, 8, 2);  // bits
  PutTag(b, "data");
  PutLe(b, samples.size(), 4);
  b.insert(b.end(), samples.begin(), samples.end());
  b.insert(b.end(), pad, 0);
  b.insert(b.end(), extraChunks.begin(), extraChunks.end());
  return b;
}

// A "cue " chunk of one cue point at the sample offset, as Quake reads its loop start.
inline Bytes CueChunk(std::uint32_t sample) {
  Bytes c;
  PutTag(c, "cue ");
  PutLe(c, 28, 4);
  PutLe(c, 1, 4);
  for (std::uint32_t v : {1u, 0u}) PutLe(c, v, 4);
  PutTag(c, "data");
  for (std::uint32_t v : {0u, 0u, sample}) PutLe(c, v, 4);
  return c;
}

// A "smpl" chunk of one loop from start to end.
inline Bytes SmplChunk(std::uint32_t start, std::uint32_t end) {
  Bytes c;
  PutTag(c, "smpl");
  PutLe(c, 60, 4);
  for (int i = 0; i < 7; ++i) PutLe(c, 0, 4);
  PutLe(c, 1, 4);  // one loop
  PutLe(c, 0, 4);
  for (std::uint32_t v : {0u, 0u, start, end, 0u, 0u}) PutLe(c, v, 4);
  return c;
}

inline std::uint8_t Crc8(const Bytes& b, std::size_t from) {
  std::uint8_t crc = 0;
  for (std::size_t i = from; i < b.size(); ++i) {
    crc ^= b[i];
    for (int k = 0; k < 8; ++k) crc = static_cast<std::uint8_t>(crc & 0x80 ? (crc << 1) ^ 0x07 : crc << 1);
  }
  return crc;
}

inline std::uint16_t Crc16(const Bytes& b, std::size_t from) {
  std::uint16_t crc = 0;
  for (std::size_t i = from; i < b.size(); ++i) {
    crc ^= static_cast<std::uint16_t>(b[i] << 8);
    for (int k = 0; k < 8; ++k) crc = static_cast<std::uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x8005 : crc << 1);
  }
  return crc;
}

// 16-bit mono samples as a FLAC stream of verbatim frames of up to 256 samples.
inline Bytes Flac(const std::vector<std::int16_t>& samples, int rate) {
  constexpr std::size_t kBlock = 256;
  Bytes b;
  PutTag(b, "fLaC");
  b.push_back(0x80);  // the last metadata block: stream information
  PutBe(b, 34, 3);
  PutBe(b, kBlock, 2);
  PutBe(b, kBlock, 2);
  PutBe(b, 0, 3);
  PutBe(b, 0, 3);
  // 20 bits rate, 3 bits channels - 1, 5 bits bits - 1, 36 bits samples.
  const std::uint64_t packed = static_cast<std::uint64_t>(rate) << 44 | 0ull << 41 | 15ull << 36 | samples.size();
  PutBe(b, packed, 8);
  b.insert(b.end(), 16, 0);  // no MD5
  for (std::size_t start = 0, frame = 0; start < samples.size(); start += kBlock, ++frame) {
    const std::size_t n = std::min(kBlock, samples.size() - start);
    const std::size_t at = b.size();
    b.push_back(0xFF);
    b.push_back(0xF8);
    b.push_back(0x60);                              // block size: 8 bits at the end of the header; rate from the stream
    b.push_back(0x08);                              // one channel, 16 bits
    b.push_back(static_cast<std::uint8_t>(frame));  // frame number (below 128)
    b.push_back(static_cast<std::uint8_t>(n - 1));
    b.push_back(Crc8(b, at));
    b.push_back(0x02);  // a verbatim subframe
    for (std::size_t i = 0; i < n; ++i) PutBe(b, static_cast<std::uint16_t>(samples[start + i]), 2);
    PutBe(b, Crc16(b, at), 2);
  }
  return b;
}

// An Ogg page holding a Vorbis identification header, and a last page at granule `samples`.
inline Bytes OggVorbis(int channels, int rate, std::uint64_t samples) {
  auto page = [](Bytes& b, std::uint64_t granule, const Bytes& packet) {
    PutTag(b, "OggS");
    b.push_back(0);
    b.push_back(0);
    PutLe(b, granule, 8);
    PutLe(b, 1, 4);
    PutLe(b, 0, 4);
    PutLe(b, 0, 4);
    b.push_back(1);
    b.push_back(static_cast<std::uint8_t>(packet.size()));
    b.insert(b.end(), packet.begin(), packet.end());
  };
  Bytes id;
  PutTag(id, "\x01vorbis");
  PutLe(id, 0, 4);
  id.push_back(static_cast<std::uint8_t>(channels));
  PutLe(id, static_cast<std::uint64_t>(rate), 4);
  id.resize(30, 0);
  Bytes b;
  page(b, 0, id);
  page(b, samples, Bytes(40, 0x55));
  return b;
}

// An MP3 of `frames` MPEG-1 Layer III frames at 128 kbit/s and 44.1 kHz, stereo, behind an ID3
// tag; with xing set, the first frame is a Xing header counting them.
inline Bytes Mp3(std::uint32_t frames, bool xing) {
  Bytes b;
  PutTag(b, "ID3");
  b.insert(b.end(), {4, 0, 0, 0, 0, 0, 10});
  b.resize(b.size() + 10, 0);
  for (std::uint32_t f = 0; f < frames; ++f) {
    const std::size_t at = b.size();
    b.insert(b.end(), {0xFF, 0xFB, 0x90, 0x00});
    b.resize(at + 417, 0);
    if (f == 0 && xing) {
      std::memcpy(b.data() + at + 36, "Xing\0\0\0\x01", 8);
      for (int i = 0; i < 4; ++i)
        b[at + 44 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(frames >> (24 - 8 * i));
    }
  }
  return b;
}

}  // namespace tarn::test
