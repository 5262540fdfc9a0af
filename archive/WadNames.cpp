#include "archive/WadNames.h"

#include <cstdio>

#include "fileio/Strings.h"

namespace tarn {

namespace {

std::uint8_t MiptexType(ContainerFormat version) {
  return version == ContainerFormat::Wad3 ? wad::kHalfLifeMiptex : wad::kQuakeMiptex;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string WadEntryName(std::string_view lumpName, std::uint8_t type, ContainerFormat version) {
  std::string name(lumpName);
  if (type == MiptexType(version)) return name + ".mip";
  if (type == wad::kPicture) return name + ".lmp";
  if (type == wad::kPalette) return name + ".pal";
  char ext[16];
  std::snprintf(ext, sizeof ext, ".lump%02x", type);
  return name + ext;
}

std::optional<WadLumpName> WadLumpOf(std::string_view entryName, ContainerFormat version, std::string* why) {
  auto fail = [&](const std::string& reason) -> std::optional<WadLumpName> {
    if (why) *why = reason;
    return std::nullopt;
  };
  const std::size_t dot = entryName.rfind('.');
  if (dot == std::string_view::npos)
    return fail(Quoted(entryName) + " has no extension to give its lump type (.mip, .lmp, .pal or .lumpNN)");
  const std::string ext = ToLower(entryName.substr(dot));
  WadLumpName lump{std::string(entryName.substr(0, dot)), 0};
  if (ext == ".mip") {
    lump.type = MiptexType(version);
  } else if (ext == ".lmp") {
    lump.type = wad::kPicture;
  } else if (ext == ".pal") {
    lump.type = wad::kPalette;
  } else if (ext.size() == 7 && ext.compare(0, 5, ".lump") == 0 && HexDigit(ext[5]) >= 0 && HexDigit(ext[6]) >= 0) {
    lump.type = static_cast<std::uint8_t>(HexDigit(ext[5]) * 16 + HexDigit(ext[6]));
  } else {
    return fail(Quoted(entryName) + ": a WAD lump's extension gives its type: .mip, .lmp, .pal or .lumpNN, not " +
                Quoted(ext));
  }
  if (lump.name.empty()) return fail(Quoted(entryName) + ": a lump needs a name before its extension");
  if (lump.name.size() > wad::kMaxNameLength)
    return fail(Quoted(entryName) + ": a lump's name has at most 15 characters, " + Quoted(lump.name) + " has " +
                std::to_string(lump.name.size()));
  return lump;
}

}  // namespace tarn
