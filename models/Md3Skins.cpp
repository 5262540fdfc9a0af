#include "models/Md3Skins.h"

#include <algorithm>
#include <cstring>

namespace tarn {

namespace {

bool Space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }
bool Single(char c) { return std::strchr("{}()[]:;,", c) != nullptr; }

std::uint32_t U32(std::span<const std::uint8_t> b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

}  // namespace

SkinFile ParseSkinFile(std::span<const std::uint8_t> bytes) {
  SkinFile out;
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  std::vector<std::string> words;
  std::size_t at = 0;
  int line = 0;
  auto endLine = [&] {
    ++line;
    if (words.empty()) return;
    const std::string where = "line " + std::to_string(line) + ": ";
    if (words.size() > 10) out.warnings.push_back(where + "more than 10 words, passed over");
    else if (words[0] == "replace") {
      if (words.size() == 3) out.pictures.emplace_back(words[1], words[2]);
      else out.warnings.push_back(where + "\"replace\" takes a surface and a picture");
    } else if (words.size() >= 2 && words[0].rfind("tag_", 0) == 0) {
      // An attachment point: nothing to draw.
    } else if (words.size() >= 2 && words[1] == ",") {
      out.pictures.emplace_back(words[0], words.size() >= 3 ? words[2] : std::string());
    } else {
      out.warnings.push_back(where + "neither \"surface,picture\", a tag nor \"replace\"");
    }
    words.clear();
  };
  while (at < text.size()) {
    const char c = text[at];
    if (c == '\n') {
      endLine();
      ++at;
    } else if (Space(c)) {
      ++at;
    } else if (text.compare(at, 2, "//") == 0) {
      while (at < text.size() && text[at] != '\n') ++at;
    } else if (c == '"') {
      const std::size_t end = text.find('"', at + 1);
      const std::size_t stop = end == std::string_view::npos ? text.size() : end;
      words.emplace_back(text.substr(at + 1, stop - at - 1));
      at = stop + 1;
    } else if (Single(c)) {
      words.emplace_back(1, c);
      ++at;
    } else {
      const std::size_t start = at;
      while (at < text.size() && !Space(text[at]) && text[at] != '\n' && !Single(text[at]) && text[at] != '"') ++at;
      words.emplace_back(text.substr(start, at - start));
    }
  }
  endLine();
  return out;
}

std::string SkinFilePath(const std::string& modelPath, int n) { return modelPath + "_" + std::to_string(n) + ".skin"; }

std::vector<Md3Surface> Md3Surfaces(std::span<const std::uint8_t> bytes) {
  std::vector<Md3Surface> out;
  if (bytes.size() < 108 || std::memcmp(bytes.data(), "IDP3", 4) != 0) return out;
  const std::uint32_t count = std::min<std::uint32_t>(U32(bytes, 84), 4096);
  std::uint64_t at = U32(bytes, 100);
  for (std::uint32_t n = 0; n < count; ++n) {
    if (at + 108 > bytes.size()) break;
    const auto s = static_cast<std::size_t>(at);
    Md3Surface surface;
    const char* name = reinterpret_cast<const char*>(bytes.data() + s + 4);
    surface.name.assign(name, strnlen(name, 64));
    surface.triangles = U32(bytes, s + 84);
    out.push_back(std::move(surface));
    const std::uint32_t end = U32(bytes, s + 104);
    if (end == 0) break;
    at += end;
  }
  return out;
}

std::vector<std::string> SkinPictures(const SkinFile& skin, const std::vector<Md3Surface>& surfaces) {
  std::vector<Md3Surface> order = surfaces;
  std::stable_sort(order.begin(), order.end(),
                   [](const Md3Surface& a, const Md3Surface& b) { return a.triangles > b.triangles; });
  std::vector<std::string> out;
  auto add = [&](const std::string& picture) {
    if (!picture.empty() && std::find(out.begin(), out.end(), picture) == out.end()) out.push_back(picture);
  };
  // The file's later line for a surface is the one the engine keeps (it looks through them
  // from the last).
  for (const Md3Surface& s : order)
    for (auto it = skin.pictures.rbegin(); it != skin.pictures.rend(); ++it)
      if (it->first == s.name) {
        add(it->second);
        break;
      }
  // A file that names no surface of the model still has pictures.
  for (const auto& [surface, picture] : skin.pictures) add(picture);
  return out;
}

}  // namespace tarn
