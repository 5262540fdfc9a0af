#include "cli/SoundCommands.h"

#include <charconv>
#include <filesystem>
#include <fstream>
#include <ostream>

#include "fileio/SafeSave.h"
#include "fileio/Strings.h"
#include "sounds/SoundImport.h"

namespace tarn::cli {

namespace fs = std::filesystem;

namespace {

Outcome Failed(const std::string& message) { return {1, message}; }
Outcome BadUsage(const std::string& message) { return {2, message}; }

bool ParseNumber(const std::string& text, std::uint32_t& out) {
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, out);
  return ec == std::errc() && ptr == end && !text.empty();
}

// START or START:END, in samples.
bool ParseLoop(const std::string& text, WaveLoop& loop) {
  const std::size_t colon = text.find(':');
  if (!ParseNumber(text.substr(0, colon), loop.start)) return false;
  if (colon == std::string::npos) return true;
  std::uint32_t end = 0;
  if (!ParseNumber(text.substr(colon + 1), end)) return false;
  loop.end = end;
  return true;
}

std::string Describe(const ImportedSound& s) {
  std::string text = std::to_string(s.rate) + " Hz";
  if (s.bits) text += ", " + std::to_string(s.bits) + "-bit";
  text += ", " + std::to_string(s.frames) + " samples";
  if (s.loop)
    text += ", loop " + std::to_string(s.loop->start) + " to " +
            std::to_string(s.loop->end ? *s.loop->end : static_cast<std::uint32_t>(s.frames));
  if (s.keptAsItWas) text += ", as it was";
  return text;
}

}  // namespace

Outcome RunSound(const std::vector<std::string>& args, std::ostream& notices) {
  SoundImportOptions options;
  std::vector<std::string> positional;
  int loopOptions = 0;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&](std::string& into) {
      if (i + 1 == args.size()) return false;
      into = args[++i];
      return true;
    };
    std::string v;
    std::uint32_t n = 0;
    if (arg == "--") {  // the end of the options: files follow, whatever they look like
      positional.insert(positional.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
      break;
    }
    if (arg == "--rate") {
      if (!value(v) || !ParseNumber(v, n) || (n != 11025 && n != 22050 && n != 44100))
        return BadUsage("--rate takes 11025, 22050 or 44100");
      options.rate = static_cast<int>(n);
    } else if (arg == "--bits") {
      if (!value(v) || (v != "8" && v != "16")) return BadUsage("--bits takes 8 or 16");
      options.bits = v == "8" ? 8 : 16;
    } else if (arg == "--loop") {
      if (!value(v) || !ParseLoop(v, options.loop))
        return BadUsage("--loop takes START or START:END, in samples of the sound written");
      options.loopChoice = LoopChoice::Given;
      ++loopOptions;
    } else if (arg == "--loop-all") {
      options.loopChoice = LoopChoice::All;
      ++loopOptions;
    } else if (arg == "--no-loop") {
      options.loopChoice = LoopChoice::None;
      ++loopOptions;
    } else if (arg == "--normalize") {
      options.normalize = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return BadUsage("unknown option " + Quoted(arg));
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.size() != 2) return BadUsage("sound takes IN and OUT.wav or OUT.ogg");
  if (loopOptions > 1) return BadUsage("--loop, --loop-all and --no-loop go one at a time");
  const std::string& in = positional[0];
  const fs::path out = positional[1];
  const std::string lower = ToLower(out.string());
  if (EndsWith(lower, ".ogg")) options.output = SoundOutput::OggVorbis;
  else if (!EndsWith(lower, ".wav")) return BadUsage("OUT must end in .wav or .ogg");
  if (options.output == SoundOutput::OggVorbis && options.bits != 0)
    return BadUsage("--bits goes with a wave; Ogg Vorbis has no sample width");

  std::vector<std::uint8_t> bytes;
  std::error_code ec;
  if (!fs::is_regular_file(in, ec))
    return Failed(Quoted(in) + (fs::exists(in, ec) ? " is not a regular file" : " does not exist"));
  {
    std::ifstream file(in, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    if (!file && !file.eof()) return Failed(Quoted(in) + " cannot be read");
  }
  ImportedSound made;
  std::string why;
  if (!ImportSound(bytes, options, made, &why)) return Failed(in + ": " + why);
  CSafeSave save;
  if (!save.Begin(out) || !save.Write(made.bytes.data(), made.bytes.size()) || !save.Commit())
    return Failed("cannot write " + save.Failure().Text());
  notices << "tarn-pak: wrote " << Quoted(out.string()) << ": " << Describe(made) << "\n";
  return {};
}

}  // namespace tarn::cli
