#include "viewers/ViewerRegistry.h"

#include "archive/ContainerFormat.h"
#include "archive/PackObject.h"
#include "archive/TextSniff.h"
#include "dialogs/Prompter.h"
#include "dialogs/Text.h"
#include "dialogs/WaitCursor.h"
#include "document/TarnDoc.h"
#include "fileio/Strings.h"
#include "fileio/TempFile.h"
#include "pictures/EntryPictures.h"
#include "pictures/ImageEncode.h"
#include "viewers/BitmapViewer.h"
#include "viewers/HexView.h"
#include "viewers/Previews.h"
#include "viewers/Sound.h"
#include "viewers/SoundWave.h"
#include "viewers/TextViewer.h"
#include "viewers/maps/MapFrame.h"
#include "viewers/models/GLFrame.h"

namespace tarn::viewers {

using dialogs::Q;

namespace {

void Tell(const ViewContext& context, const QString& text) {
  if (context.tellProblem) context.tellProblem(text);
  else context.prompter->Message(context.mainWindow, text, "Tarn", QMessageBox::Warning);
}

// The text entries by name; any other file is text only when its bytes read as text.
bool IsTextName(const std::string& lowerName) {
  return EndsWith(lowerName, ".txt") || EndsWith(lowerName, ".cfg") || EndsWith(lowerName, ".rc");
}

void Message(const ViewContext& context, const QString& text, const QString& caption, QMessageBox::Icon icon) {
  context.prompter->Message(context.mainWindow, text, caption, icon);
}

// The palettes of the entry's archive: files of 768 bytes named .lmp or .pal (gfx/palette.lmp
// and a mod's own), found by size before a byte is read, a few dozen at most.
// The archives holding gfx.wad are searched too, nearest first, each named by its full path.
std::vector<std::pair<std::string, Palette>> ArchivePalettes(const CPackObject& entry, const CTarnDoc* doc) {
  constexpr std::size_t kMost = 32;
  std::vector<std::pair<std::string, Palette>> found;
  const CPackObject* root = entry.Root();
  for (int depth = 0; root && depth < 16 && found.size() < kMost; ++depth) {
    std::string path;
    VisitFilesInSaveOrder(*root, path, [&](const std::string&, const CPackObject& file) {
      if (found.size() >= kMost || file.Size() != 768) return;
      const std::string lower = ToLower(file.Name());
      if (!lower.ends_with(".lmp") && !lower.ends_with(".pal")) return;
      std::vector<std::uint8_t> bytes;
      Palette palette;
      if (file.CopyBytes(bytes, nullptr, 768) && LoadPaletteFile(bytes, palette, nullptr))
        found.emplace_back(doc ? doc->FullPath(file) : file.PathInArchive(), palette);
    });
    const CPackObject* holder = doc ? doc->HolderOf(*root) : nullptr;
    root = holder ? holder->Root() : nullptr;
  }
  return found;
}

// Who shows an entry: its object and its path (an entry deleted and another made at its
// address is another entry), and whether its skins or itself.
QString ShownKey(const CPackObject& entry, bool skin, const ViewContext& context) {
  const std::string path = context.document ? context.document->FullPath(entry) : entry.PathInArchive();
  return QString("%1|%2|%3").arg(reinterpret_cast<quintptr>(&entry)).arg(skin ? 1 : 0).arg(Q(path));
}

// The files of an archive held in entry: from the archive opened inside the document when it
// is, else read from a private copy, as going into it would. False, with the reason, when
// its bytes are no archive or too many to be read for a glance.
bool ArchiveFilesOf(const CPackObject& entry, const CTarnDoc* doc, std::vector<ListedFile>& files, QString* format,
                    std::string* why) {
  constexpr std::int64_t kLargest = 64 << 20;
  const auto list = [&](const CPackObject& root) {
    *format = Q(FormatName(root.Format()));
    ForEachFileInSaveOrder(root, [&](const std::string& path, const CPackObject& file) {
      files.push_back({path, file.Size()});
    });
  };
  if (const CPackObject* open = doc ? doc->InnerRoot(entry) : nullptr) {
    list(*open);
    return true;
  }
  if (entry.Size() > kLargest) {
    *why = "it is too large to be read for a glance";
    return false;
  }
  std::vector<std::uint8_t> bytes;
  if (!entry.CopyBytes(bytes, why)) return false;
  const auto temp = CreateTempFile("tarn-preview");
  if (!temp) {
    *why = "no temporary file could be made";
    return false;
  }
  bool ok = false;
  {
    CTarnDoc inner;
    ok = WriteFileBytes(*temp, bytes) && inner.Open(*temp);
    if (ok) list(inner.Root());
  }
  if (!ok) *why = "its bytes are no archive Tarn reads";
  std::error_code ec;
  std::filesystem::remove(*temp, ec);
  return ok;
}

// The map's other files (Quake II's textures, the WADs it names, a .lit) by path, asked while
// the map is read.
MapFileLookup LookupBeside(CPackObject& entry) { return ArchiveLookup(entry); }

void OpenMapViewer(CPackObject& entry, const ViewContext& context, const QString& key) {
  CEntryBytes data(entry);
  if (!data.Ok()) {
    Tell(context, "The data of " + Q(Quoted(entry.Name())) + " cannot be read.");
    return;
  }
  const MapFileLookup lookup = LookupBeside(entry);
  auto* viewer = new CMapFrame(Q(entry.Name()), data.Bytes(), entry.PathInArchive(), lookup, context.mainWindow);
  if (context.textSaver)
    viewer->EnableEditing(context.textSaver(entry), context.besideWriter ? context.besideWriter(entry) : BesideWriter(),
                          context.prompter);
  viewer->SetShownKey(key);
  viewer->show();
}

}  // namespace

ViewerKind ViewerKindOf(EntryType type) {
  switch (type) {
    case EntryType::QuakePicture:
    case EntryType::Quake2Texture:
    case EntryType::PcxPicture:
    case EntryType::MipTexture:
    case EntryType::Sprite:
    case EntryType::Quake2Sprite:
    case EntryType::Palette: return ViewerKind::Picture;
    case EntryType::QuakeModel:
    case EntryType::Quake2Model:
    case EntryType::Quake3Model:
    case EntryType::IqmModel:
    case EntryType::Md5Mesh: return ViewerKind::Model;
    case EntryType::Map: return ViewerKind::Map;
    case EntryType::Sound: return ViewerKind::Sound;
    default: return ViewerKind::TextOrBytes;
  }
}

ViewerKind ViewerKindOf(const CPackObject& entry) { return ViewerKindOf(TypeOf(entry.Name(), entry.IsDirectory())); }

void OpenViewer(CPackObject& entry, bool skin, const ViewContext& context) {
  const ViewerKind kind = skin ? ViewerKind::Picture : ViewerKindOf(entry);
  // One window an entry: viewing it again brings the one open (a sound plays again in it).
  const QString key = ShownKey(entry, skin, context);
  CViewerFrame* open = CViewerFrame::FindShowing(context.mainWindow, key);
  if (open && kind != ViewerKind::Sound) {
    open->Bring();
    return;
  }
  if (kind == ViewerKind::Sound) {
    std::string error;
    if (!context.player || !context.player->PlayEntry(entry, &error)) {
      Message(context, Q(error.empty() ? "There is no sound player." : error), "Sound", QMessageBox::Warning);
      return;
    }
    if (open) {
      open->Bring();
      return;
    }
    // Playing, the sound opens in its viewer: its waveform and loop.
    CEntryBytes data(entry);
    if (!data.Ok()) return;
    auto* viewer = new CSoundViewerFrame(data.Bytes(), Q(entry.Name()), *context.player,
                                         context.textSaver ? context.textSaver(entry) : TextSaver(), context.prompter,
                                         context.mainWindow);
    viewer->SetShownKey(key);
    viewer->show();
    return;
  }
  if (kind == ViewerKind::Model) {
    auto* viewer = new CGLFrame(entry, context.mainWindow, *context.prompter,
                                context.entryEditing ? context.entryEditing(entry) : EntryEditing());
    viewer->SetShownKey(key);
    viewer->show();
    return;
  }
  if (kind == ViewerKind::Map) {
    OpenMapViewer(entry, context, key);
    return;
  }
  if (kind == ViewerKind::Picture) {
    EntryPictures pictures;
    {
      dialogs::CWaitCursor wait;
      pictures = LoadEntryPictures(entry, skin);
    }
    if (!pictures.ok()) {
      if (pictures.messageBox) Message(context, Q(pictures.message), "Tarn", QMessageBox::NoIcon);
      else Tell(context, Q(pictures.message));
      return;
    }
    auto* viewer = new CBitmapViewerFrame(std::move(pictures.set), Q(pictures.title), context.mainWindow);
    viewer->OfferArchivePalettes(ArchivePalettes(entry, context.document));
    viewer->SetShownKey(key);
    viewer->show();
    return;
  }
  // Every other file by its bytes: as text when they read as text, else byte by byte.
  CEntryBytes data(entry);
  if (!data.Ok()) {
    Tell(context, "The data of " + Q(Quoted(entry.Name())) + " cannot be read.");
    return;
  }
  CViewerFrame* viewer;
  if (IsTextName(ToLower(entry.Name())) || LooksLikeText(data.Bytes())) {
    TextEncoding how;
    auto* text = new CTextViewerFrame(TextForDisplay(data.Bytes(), &how), Q(entry.Name()), context.mainWindow);
    if (context.textSaver) text->EnableEditing(how, context.textSaver(entry), context.prompter);
    viewer = text;
  } else {
    const auto bytes = data.Bytes();
    viewer = new CHexViewerFrame(
        QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())), Q(entry.Name()),
        context.mainWindow);
  }
  viewer->SetShownKey(key);
  viewer->show();
}

CPreview* CreatePreview(CPackObject& entry, const ViewContext& context, QWidget* parent) {
  if (entry.IsDirectory())
    return new CMessagePreview(QString("A directory of %1 entries.").arg(entry.ChildCount()), parent);
  switch (ViewerKindOf(entry)) {
    case ViewerKind::Picture: {
      EntryPictures pictures = LoadEntryPictures(entry);
      if (!pictures.ok()) return new CMessagePreview(Q(pictures.message), parent);
      return new CPicturePreview(std::move(pictures.set), parent);
    }
    case ViewerKind::Model: return new CModelPreview(entry, parent);
    case ViewerKind::Sound:
      if (context.player)
        return new CSoundPreview(entry, *context.player, context.textSaver ? context.textSaver(entry) : TextSaver(),
                                 parent);
      break;
    case ViewerKind::Map: {
      CEntryBytes data(entry);
      if (!data.Ok()) return new CMessagePreview("The data of " + Q(Quoted(entry.Name())) + " cannot be read.", parent);
      return new CMapPreview(data.Bytes(), LookupBeside(entry), parent);
    }
    case ViewerKind::TextOrBytes: break;
  }
  if (FormatOfName(entry.Name())) {
    std::vector<ListedFile> files;
    QString format;
    std::string why;
    if (ArchiveFilesOf(entry, context.document, files, &format, &why))
      return new CArchivePreview(files, format, parent);
    return new CMessagePreview(Q(Quoted(entry.Name())) + " cannot be listed: " + Q(why) + ".", parent);
  }
  std::vector<std::uint8_t> bytes;
  std::string why;
  if (!entry.CopyBytes(bytes, &why, CTextPreview::kShownBytes))
    return new CMessagePreview("The data of " + Q(Quoted(entry.Name())) + " cannot be read: " + Q(why), parent);
  const bool text = IsTextName(ToLower(entry.Name())) || LooksLikeText(bytes);
  auto* preview = new CTextPreview(bytes, text, static_cast<std::uint64_t>(std::max<std::int64_t>(entry.Size(), 0)),
                                   parent, Q(entry.Name()));
  if (text && context.textSaver) preview->OfferEditing(context.textSaver(entry));
  return preview;
}

}  // namespace tarn::viewers
