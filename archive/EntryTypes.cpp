#include "archive/EntryTypes.h"

#include <array>
#include <utility>

#include "fileio/Strings.h"

namespace tarn {

namespace {

// The extension in lower case (without its dot), or empty; names of three characters or
// fewer have none, as the icon kinds have it.
std::string_view LowerExtension(std::string_view name, char (&buffer)[8]) {
  const std::size_t dot = name.rfind('.');
  if (name.size() < 4 || dot == std::string_view::npos || name.size() - dot - 1 >= sizeof buffer) return {};
  std::size_t n = 0;
  for (std::size_t i = dot + 1; i < name.size(); ++i) buffer[n++] = LowerAscii(name[i]);
  return std::string_view(buffer, n);
}

// Every extension Tarn knows, once: what the list says, which viewer shows it, and which
// commands and checks take it all come from here.
struct KnownExtension {
  std::string_view extension;
  EntryType type;
  TextKind text = TextKind::Plain;
};
constexpr std::array<KnownExtension, 32> kByExtension = {{
    {"lmp", EntryType::QuakePicture},
    {"wal", EntryType::Quake2Texture},
    {"pcx", EntryType::PcxPicture},
    {"mip", EntryType::MipTexture},
    {"spr", EntryType::Sprite},
    {"sp2", EntryType::Quake2Sprite},
    {"mdl", EntryType::QuakeModel},
    {"md2", EntryType::Quake2Model},
    {"wav", EntryType::Sound},
    {"ogg", EntryType::Sound},
    {"mp3", EntryType::Sound},
    {"flac", EntryType::Sound},
    {"txt", EntryType::Text},
    {"cfg", EntryType::Text, TextKind::Config},
    {"rc", EntryType::Text, TextKind::Config},
    {"ent", EntryType::Text, TextKind::Entities},
    {"qc", EntryType::Text, TextKind::QuakeC},
    {"qh", EntryType::Text, TextKind::QuakeC},
    {"shader", EntryType::Text},
    {"map", EntryType::Text, TextKind::Entities},
    {"def", EntryType::Text},
    {"bsp", EntryType::Map},
    {"wad", EntryType::TextureWad},
    {"png", EntryType::Image},
    {"jpg", EntryType::Image},
    {"jpeg", EntryType::Image},
    {"tga", EntryType::Image},
    {"bmp", EntryType::Image},
    {"pal", EntryType::Palette},
    {"md3", EntryType::Quake3Model},
    {"iqm", EntryType::IqmModel},
    {"md5mesh", EntryType::Md5Mesh},
}};

const KnownExtension* Known(std::string_view name) {
  char buffer[8];
  const std::string_view ext = LowerExtension(name, buffer);
  for (const KnownExtension& known : kByExtension)
    if (known.extension == ext) return &known;
  return nullptr;
}

}  // namespace

EntryType TypeOf(std::string_view name, bool isDirectory) {
  if (isDirectory) return EntryType::Directory;
  if (const KnownExtension* known = Known(name)) return known->type;
  char buffer[8];
  const std::string_view ext = LowerExtension(name, buffer);
  if (ext.size() == 6 && ext.substr(0, 4) == "lump") return EntryType::WadLump;
  return EntryType::File;
}

TextKind TextKindOf(std::string_view name) {
  const KnownExtension* known = Known(name);
  return known ? known->text : TextKind::Plain;
}

const char* TypeName(EntryType type) {
  switch (type) {
    case EntryType::Directory: return "Directory";
    case EntryType::QuakePicture: return "Quake picture";
    case EntryType::Quake2Texture: return "Quake II texture";
    case EntryType::PcxPicture: return "PCX picture";
    case EntryType::MipTexture: return "Quake texture";
    case EntryType::Sprite: return "Sprite";
    case EntryType::Quake2Sprite: return "Quake II sprite";
    case EntryType::QuakeModel: return "Quake model";
    case EntryType::Quake2Model: return "Quake II model";
    case EntryType::Quake3Model: return "Quake III model";
    case EntryType::IqmModel: return "Inter-Quake model";
    case EntryType::Md5Mesh: return "MD5 model";
    case EntryType::Sound: return "Sound";
    case EntryType::Text: return "Text";
    case EntryType::Map: return "Map";
    case EntryType::TextureWad: return "Texture WAD";
    case EntryType::Image: return "Image";
    case EntryType::Palette: return "Palette";
    case EntryType::WadLump: return "WAD lump";
    case EntryType::File: return "File";
  }
  return "File";
}

}  // namespace tarn
