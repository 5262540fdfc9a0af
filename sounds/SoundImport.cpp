#include "sounds/SoundImport.h"

#include <sndfile.h>
#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "sounds/SoundInfo.h"

namespace tarn {

namespace {

// More than any game sound: about 12 minutes at 44.1 kHz, 128 MiB of samples.
constexpr std::size_t kMostFrames = std::size_t{1} << 25;

// libsndfile reads from and writes to memory through these.
struct MemoryFile {
  std::span<const std::uint8_t> in;
  std::vector<std::uint8_t>* out = nullptr;
  sf_count_t pos = 0;
  sf_count_t Size() const { return out ? static_cast<sf_count_t>(out->size()) : static_cast<sf_count_t>(in.size()); }
};

sf_count_t MemLength(void* user) { return static_cast<MemoryFile*>(user)->Size(); }
sf_count_t MemSeek(sf_count_t offset, int whence, void* user) {
  auto* f = static_cast<MemoryFile*>(user);
  const sf_count_t base = whence == SEEK_CUR ? f->pos : whence == SEEK_END ? f->Size() : 0;
  const sf_count_t to = base + offset;
  if (to < 0) return -1;
  f->pos = to;
  return f->pos;
}
sf_count_t MemRead(void* ptr, sf_count_t count, void* user) {
  auto* f = static_cast<MemoryFile*>(user);
  const sf_count_t size = f->Size();
  if (count <= 0 || f->pos >= size) return 0;
  const sf_count_t n = std::min(count, size - f->pos);
  const std::uint8_t* from = f->out ? f->out->data() : f->in.data();
  std::memcpy(ptr, from + f->pos, static_cast<std::size_t>(n));
  f->pos += n;
  return n;
}
sf_count_t MemWrite(const void* ptr, sf_count_t count, void* user) {
  auto* f = static_cast<MemoryFile*>(user);
  if (!f->out || count <= 0) return 0;
  const std::size_t end = static_cast<std::size_t>(f->pos + count);
  if (end > f->out->size()) f->out->resize(end);
  std::memcpy(f->out->data() + f->pos, ptr, static_cast<std::size_t>(count));
  f->pos += count;
  return count;
}
sf_count_t MemTell(void* user) { return static_cast<MemoryFile*>(user)->pos; }

SF_VIRTUAL_IO MemoryIo() { return {MemLength, MemSeek, MemRead, MemWrite, MemTell}; }

struct SfClose {
  void operator()(SNDFILE* f) const { sf_close(f); }
};
using SoundFile = std::unique_ptr<SNDFILE, SfClose>;

std::string FormatName(int format) {
  SF_FORMAT_INFO major{}, sub{};
  major.format = format & SF_FORMAT_TYPEMASK;
  sub.format = format & SF_FORMAT_SUBMASK;
  std::string name;
  if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &major, sizeof major) == 0 && major.name) name = major.name;
  if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &sub, sizeof sub) == 0 && sub.name)
    name += (name.empty() ? "" : ", ") + std::string(sub.name);
  return name;
}

bool IsEngineRate(int rate) {
  return std::find(std::begin(kSoundRates), std::end(kSoundRates), rate) != std::end(kSoundRates);
}

// A wave's loop as the engines take it: from the cue point to the "mark" end; a sampler loop's
// end is its last sample.
std::optional<WaveLoop> LoopOf(const SoundInfo& info) {
  if (!info.loopStart) return std::nullopt;
  WaveLoop loop{*info.loopStart, std::nullopt};
  if (info.loopEnd) loop.end = info.loopFromCue ? *info.loopEnd : *info.loopEnd + 1;
  return loop;
}

std::uint32_t Scaled(std::uint64_t sample, int from, int to) {
  return static_cast<std::uint32_t>(
      std::min<double>(std::llround(static_cast<double>(sample) * to / from), UINT32_MAX));
}

bool Resample(const std::vector<float>& in, int from, int to, std::vector<float>& out, std::string* error) {
  if (from == to || in.empty()) {
    out = in;
    return true;
  }
  // Very high quality, linear phase: the quality of sox's "rate -v", which is made of the same code.
  const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
  const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
  const double ratio = static_cast<double>(to) / from;
  out.resize(static_cast<std::size_t>(std::ceil(static_cast<double>(in.size()) * ratio)) + 16);
  std::size_t done = 0;
  if (const soxr_error_t e = soxr_oneshot(from, to, 1, in.data(), in.size(), nullptr, out.data(), out.size(), &done,
                                          &io, &quality, nullptr)) {
    if (error) *error = std::string("the sound cannot be resampled (") + e + ")";
    return false;
  }
  out.resize(std::min(done, static_cast<std::size_t>(std::llround(static_cast<double>(in.size()) * ratio))));
  return true;
}

std::vector<std::uint8_t> Quantize(const std::vector<float>& samples, int bits) {
  std::vector<std::uint8_t> out;
  out.reserve(samples.size() * static_cast<std::size_t>(bits / 8));
  for (float x : samples) {
    if (bits == 8) {
      out.push_back(static_cast<std::uint8_t>(std::clamp(std::lrint(x * 128.0f) + 128, 0L, 255L)));
    } else {
      const auto v =
          static_cast<std::uint16_t>(static_cast<std::int16_t>(std::clamp(std::lrint(x * 32768.0f), -32768L, 32767L)));
      out.push_back(static_cast<std::uint8_t>(v));
      out.push_back(static_cast<std::uint8_t>(v >> 8));
    }
  }
  return out;
}

bool EncodeVorbis(const std::vector<float>& samples, int rate, std::vector<std::uint8_t>& out, std::string* error) {
  out.clear();
  MemoryFile file;
  file.out = &out;
  SF_VIRTUAL_IO io = MemoryIo();
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = 1;
  info.format = SF_FORMAT_OGG | SF_FORMAT_VORBIS;
  SoundFile f(sf_open_virtual(&io, SFM_WRITE, &info, &file));
  if (!f) {
    if (error) *error = std::string("no Ogg Vorbis can be written (") + sf_strerror(nullptr) + ")";
    return false;
  }
  double quality = 0.6;
  sf_command(f.get(), SFC_SET_VBR_ENCODING_QUALITY, &quality, sizeof quality);
  if (sf_writef_float(f.get(), samples.data(), static_cast<sf_count_t>(samples.size())) !=
      static_cast<sf_count_t>(samples.size())) {
    if (error) *error = std::string("the Ogg Vorbis cannot be written (") + sf_strerror(f.get()) + ")";
    return false;
  }
  f.reset();
  return true;
}

}  // namespace

bool DecodeSound(std::span<const std::uint8_t> bytes, DecodedSound& out, std::string* error) {
  out = DecodedSound{};
  MemoryFile file;
  file.in = bytes;
  SF_VIRTUAL_IO io = MemoryIo();
  SF_INFO info{};
  SoundFile f(sf_open_virtual(&io, SFM_READ, &info, &file));
  if (!f) {
    if (error) *error = std::string("not a sound that can be decoded (") + sf_strerror(nullptr) + ")";
    return false;
  }
  if (info.channels <= 0 || info.samplerate <= 0) {
    if (error) *error = "the sound has no channels or no rate";
    return false;
  }
  out.rate = info.samplerate;
  out.channels = info.channels;
  out.format = FormatName(info.format);
  const std::size_t channels = static_cast<std::size_t>(info.channels);
  std::vector<float> block(4096 * channels);
  for (;;) {
    const sf_count_t got = sf_readf_float(f.get(), block.data(), 4096);
    if (got <= 0) break;
    if (out.samples.size() + static_cast<std::size_t>(got) > kMostFrames) {
      if (error) *error = "the sound is longer than Tarn takes in (" + std::to_string(kMostFrames) + " samples)";
      out = DecodedSound{};
      return false;
    }
    // Mixed down by the mean of the channels, which keeps a mono sound in stereo as it was.
    for (sf_count_t i = 0; i < got; ++i) {
      float sum = 0;
      for (std::size_t c = 0; c < channels; ++c) sum += block[static_cast<std::size_t>(i) * channels + c];
      out.samples.push_back(sum / static_cast<float>(channels));
    }
  }
  if (out.samples.empty()) {
    if (error) *error = "the sound holds no samples";
    out = DecodedSound{};
    return false;
  }
  SoundInfo header;
  if ((info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV && ReadSoundInfo(bytes, header, nullptr))
    out.loop = LoopOf(header);
  return true;
}

bool ImportSound(std::span<const std::uint8_t> source, const SoundImportOptions& o, ImportedSound& out,
                 std::string* error) {
  out = ImportedSound{};
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    out = ImportedSound{};
    return false;
  };
  const bool ogg = o.output == SoundOutput::OggVorbis;
  if (o.rate != 0 && !IsEngineRate(o.rate)) return fail("the rate must be 11025, 22050 or 44100 Hz");
  if (o.bits != 0 && o.bits != 8 && o.bits != 16) return fail("a sample must have 8 or 16 bits");
  if (ogg && (o.loopChoice == LoopChoice::All || o.loopChoice == LoopChoice::Given))
    return fail("an Ogg Vorbis file keeps no loop the engines read: make a wave (.wav) to loop");

  SoundInfo info;
  const bool known = ReadSoundInfo(source, info, nullptr);
  const SoundHeader header = ReadSoundHeader(source);
  // Already what is asked: kept byte for byte, but for the loop when one is asked.
  if (!o.normalize && known) {
    if (!ogg && header.container == SoundContainer::Wave && header.fmtFound && header.format == 1 &&
        header.channels == 1 && (header.bits == 8 || header.bits == 16) && (o.bits == 0 || o.bits == header.bits) &&
        (o.rate == 0 ? IsEngineRate(info.rate) : o.rate == info.rate)) {
      out.rate = info.rate;
      out.bits = header.bits;
      out.frames = info.frames;
      if (o.loopChoice == LoopChoice::Keep) {
        out.bytes.assign(source.begin(), source.end());
        out.loop = LoopOf(info);
        out.keptAsItWas = true;
        return true;
      }
      if (o.loopChoice == LoopChoice::All) out.loop = WaveLoop{0, std::nullopt};
      else if (o.loopChoice == LoopChoice::Given) out.loop = o.loop;
      std::string why;
      if (!SetWaveLoop(source, out.loop, out.bytes, &why)) return fail(why);
      return true;
    }
    if (ogg && info.container == SoundContainer::Ogg && info.format == "Ogg Vorbis" &&
        (o.rate == 0 || o.rate == info.rate)) {
      out.bytes.assign(source.begin(), source.end());
      out.rate = info.rate;
      out.frames = info.frames;
      out.keptAsItWas = true;
      return true;
    }
  }

  DecodedSound decoded;
  std::string why;
  if (!DecodeSound(source, decoded, &why)) return fail(why);
  const int rate = o.rate != 0 ? o.rate : IsEngineRate(decoded.rate) || ogg ? decoded.rate : kSoundRates[0];
  const int bits = ogg ? 0 : o.bits != 0 ? o.bits : (header.bits == 8 || header.bits == 16) ? header.bits : 16;
  std::vector<float> samples;
  if (!Resample(decoded.samples, decoded.rate, rate, samples, &why)) return fail(why);
  if (samples.empty()) return fail("the sound is too short to keep any sample at " + std::to_string(rate) + " Hz");
  if (o.normalize) {
    float peak = 0;
    for (float x : samples) peak = std::max(peak, std::fabs(x));
    // Full scale is 32767/32768 of 1 for the positive half of 16 bits.
    if (peak > 0)
      for (float& x : samples) x *= (32767.0f / 32768.0f) / peak;
  }
  out.rate = rate;
  out.bits = bits;
  out.frames = samples.size();
  if (ogg) return EncodeVorbis(samples, rate, out.bytes, &why) || fail(why);

  switch (o.loopChoice) {
    case LoopChoice::Keep:
      if (decoded.loop) {
        WaveLoop loop{Scaled(decoded.loop->start, decoded.rate, rate), std::nullopt};
        if (decoded.loop->end)
          loop.end = std::min<std::uint32_t>(Scaled(*decoded.loop->end, decoded.rate, rate),
                                             static_cast<std::uint32_t>(out.frames));
        // A loop squeezed to nothing by a lower rate is dropped rather than refused.
        if (LoopProblem(loop, out.frames).empty()) out.loop = loop;
      }
      break;
    case LoopChoice::None: break;
    case LoopChoice::All: out.loop = WaveLoop{0, std::nullopt}; break;
    case LoopChoice::Given:
      if (const std::string problem = LoopProblem(o.loop, out.frames); !problem.empty()) return fail(problem);
      out.loop = o.loop;
      break;
  }
  out.bytes = BuildWave(rate, bits, Quantize(samples, bits), out.loop);
  return true;
}

}  // namespace tarn
