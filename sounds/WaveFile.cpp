#include "sounds/WaveFile.h"

#include <cstdint>
#include <cstring>

#include "fileio/ByteIO.h"

namespace tarn {

namespace {

constexpr std::uint32_t kCueId = 1;  // the one cue point's name, which the "ltxt" names too

bool Is(std::span<const std::uint8_t> b, std::size_t at, const char* tag) {
  return b.size() >= at + 4 && std::memcmp(b.data() + at, tag, 4) == 0;
}

// The cue chunk of one point at start and, for a loop with an end, the "LIST"/"adtl" chunk
// whose "ltxt" of purpose "mark" is the loop's length: laid out so that GetWavinfo finds "mark"
// at byte 28 of the LIST chunk and the length at byte 24.
void PutLoop(ByteWriter& w, const WaveLoop& loop) {
  w.Bytes("cue ", 4);
  w.U32(4 + 24);
  w.U32(1);       // points
  w.U32(kCueId);  // name
  w.U32(0);       // position in a playlist
  w.Bytes("data", 4);
  w.U32(0);  // chunk start
  w.U32(0);  // block start
  w.U32(loop.start);
  if (!loop.end) return;
  w.Bytes("LIST", 4);
  w.U32(4 + 8 + 20);
  w.Bytes("adtl", 4);
  w.Bytes("ltxt", 4);
  w.U32(20);
  w.U32(kCueId);
  w.U32(*loop.end - loop.start);  // samples in the loop
  w.Bytes("mark", 4);
  w.Zeros(8);  // country, language, dialect, code page
}

struct Chunk {
  std::size_t at = 0;  // its id
  std::uint32_t size = 0;
  bool Is(std::span<const std::uint8_t> b, const char* tag) const { return tarn::Is(b, at, tag); }
};

}  // namespace

std::string LoopProblem(const WaveLoop& loop, std::uint64_t frames) {
  const std::string total = std::to_string(frames) + " sample" + (frames == 1 ? "" : "s");
  if (loop.start >= frames)
    return "the loop starts at sample " + std::to_string(loop.start) + ", past the end of the sound's " + total;
  if (loop.end && *loop.end <= loop.start)
    return "the loop ends at sample " + std::to_string(*loop.end) + ", not after its start (" +
           std::to_string(loop.start) + ")";
  if (loop.end && *loop.end > frames)
    return "the loop ends at sample " + std::to_string(*loop.end) + ", past the end of the sound's " + total;
  return {};
}

std::vector<std::uint8_t> BuildWave(int rate, int bits, std::span<const std::uint8_t> samples,
                                    const std::optional<WaveLoop>& loop) {
  std::vector<std::uint8_t> out;
  ByteWriter w(out);
  const std::uint16_t block = static_cast<std::uint16_t>(bits / 8);
  w.Bytes("RIFF", 4);
  w.U32(0);  // patched below
  w.Bytes("WAVE", 4);
  w.Bytes("fmt ", 4);
  w.U32(16);
  w.U16(1);  // PCM
  w.U16(1);  // mono
  w.U32(static_cast<std::uint32_t>(rate));
  w.U32(static_cast<std::uint32_t>(rate) * block);
  w.U16(block);
  w.U16(static_cast<std::uint16_t>(bits));
  w.Bytes("data", 4);
  w.U32(static_cast<std::uint32_t>(samples.size()));
  w.Bytes(samples.data(), samples.size());
  if (samples.size() & 1) w.U8(0);
  if (loop) PutLoop(w, *loop);
  w.PatchU32(4, static_cast<std::uint32_t>(out.size() - 8));
  return out;
}

bool SetWaveLoop(std::span<const std::uint8_t> wave, const std::optional<WaveLoop>& loop,
                 std::vector<std::uint8_t>& out, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  if (!Is(wave, 0, "RIFF") || !Is(wave, 8, "WAVE")) return fail("not a wave (no RIFF/WAVE header)");
  std::vector<Chunk> chunks;
  int blockAlign = 0, channels = 0;
  std::uint32_t rate = 0, dataBytes = 0;
  bool haveData = false;
  try {
    ByteReader r(wave);
    r.Seek(12);
    while (r.Remaining() >= 8) {
      Chunk c{r.Position(), 0};
      r.Skip(4);
      c.size = r.U32();
      if (c.size > r.Remaining())
        return fail("the wave's \"" + std::string(reinterpret_cast<const char*>(wave.data() + c.at), 4) +
                    "\" chunk runs past the end of the file");
      if (c.Is(wave, "fmt ")) {
        ByteReader fmt = r.Sub(r.Position(), c.size);
        fmt.Skip(2);
        channels = fmt.U16();
        rate = fmt.U32();
        fmt.Skip(4);
        blockAlign = fmt.U16();
        fmt.U16();  // bits
      } else if (c.Is(wave, "data")) {
        haveData = true;
        dataBytes = c.size;
      }
      chunks.push_back(c);
      r.Skip(std::min<std::size_t>(c.size + (c.size & 1), r.Remaining()));
    }
  } catch (const ParseError&) {
    return fail("the wave's format chunk is cut short");
  }
  if (blockAlign <= 0 || channels <= 0 || rate == 0 || rate > INT32_MAX)
    return fail("the wave has no format chunk, or a damaged one");
  if (!haveData) return fail("the wave has no data chunk");
  const std::uint64_t frames = dataBytes / static_cast<std::uint32_t>(blockAlign);
  if (loop) {
    if (const std::string why = LoopProblem(*loop, frames); !why.empty()) return fail(why);
  }

  // The loop's chunks go where the old cue chunk was, else after the data.
  std::size_t place = chunks.size();
  for (std::size_t i = 0; i < chunks.size() && place == chunks.size(); ++i)
    if (chunks[i].Is(wave, "cue ")) place = i;
  if (place == chunks.size())
    for (std::size_t i = 0; i < chunks.size(); ++i)
      if (chunks[i].Is(wave, "data")) place = i + 1;
  std::vector<std::uint8_t> made;
  ByteWriter w(made);
  w.Bytes(wave.data(), 12);
  for (std::size_t i = 0; i <= chunks.size(); ++i) {
    if (i == place && loop) PutLoop(w, *loop);
    if (i == chunks.size()) break;
    const Chunk& c = chunks[i];
    // The old loop's chunks; the labels of an "adtl" list name the old cue points. Any list
    // with "mark" at the place GetWavinfo looks is a loop length to the engine, whatever the
    // list says it is: kept after a loop that runs to the end, it would end it there.
    const bool list = c.Is(wave, "LIST");
    if (c.Is(wave, "cue ") || (list && c.size >= 4 && Is(wave, c.at + 8, "adtl")) ||
        (list && c.size >= 24 && Is(wave, c.at + 8 + 20, "mark")))
      continue;
    w.Bytes(wave.data() + c.at, 8 + static_cast<std::size_t>(c.size));
    // The pad byte of an odd chunk, written where the file ended without it.
    if (c.size & 1) w.U8(c.at + 8 + c.size < wave.size() ? wave[c.at + 8 + c.size] : 0);
  }
  w.PatchU32(4, static_cast<std::uint32_t>(made.size() - 8));
  out = std::move(made);
  return true;
}

}  // namespace tarn
