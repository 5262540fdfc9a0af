#include "browser/commands/TransferController.h"

#include <QBuffer>
#include <QCollator>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStatusBar>
#include <QStyle>
#include <QTemporaryDir>
#include <QUrl>
#include <algorithm>
#include <set>

#include "archive/EntryNames.h"
#include "archive/EntryTypes.h"
#include "archive/SafeExtract.h"
#include "browser/ExportForEngine.h"
#include "browser/ExtractTextures.h"
#include "browser/GameSession.h"
#include "browser/MainFrame.h"
#include "browser/PackListView.h"
#include "browser/PackTreeView.h"
#include "browser/commands/EditController.h"
#include "browser/commands/GameController.h"
#include "dialogs/Text.h"
#include "dialogs/WaitCursor.h"
#include "dialogs/WorkDialog.h"
#include "fileio/Strings.h"
#include "fileio/TempFile.h"
#include "models/Model.h"
#include "models/ModelExport.h"
#include "models/ModelImport.h"
#include "pictures/EntryPictures.h"
#include "pictures/ImageEncode.h"
#include "sounds/SoundImport.h"
#include "viewers/BitmapViewer.h"

namespace tarn::browser {

using dialogs::Q;
using dialogs::S;

namespace {

const char* const kImportFilter = "All Files(*.*) (*)";
const char* const kExportFilter = "All Files (*.*) (*)";
const char* const kPngFilter = "PNG picture (*.png)";
const char* const kModelFilters = "glTF (*.gltf);;glTF binary (*.glb);;OBJ (*.obj)";

std::unique_ptr<CPackObject> StagingDirectory() {
  auto staging = std::make_unique<CPackObject>();
  staging->SetDirectory(true);
  return staging;
}

bool ReadWholeFile(const QString& path, std::vector<std::uint8_t>& bytes, std::string* why) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) {
    *why = S(f.errorString());
    return false;
  }
  const QByteArray all = f.readAll();
  bytes.assign(all.begin(), all.end());
  return true;
}

// Puts bytes made in memory into dir as a new file entry, held in a temporary file as imported
// files are.
bool AddMadeFile(CPackObject& dir, const std::string& name, const std::vector<std::uint8_t>& bytes, std::string* why) {
  const auto temp = CreateTempFile();
  if (!temp || !WriteFileBytes(*temp, bytes)) {
    if (temp) std::remove(temp->c_str());
    *why = "cannot write a temporary file";
    return false;
  }
  CPackObject* entry = dir.AddChild(name, false);
  entry->SetSize(static_cast<std::int32_t>(bytes.size()));
  entry->SetTempFile(temp->string(), true);
  return true;
}

// An image file encoded as the choice says, into dir as NAME.lmp (or .mip, .wal, .pcx); for a
// WAD3 (halfLife), as a Half-Life texture or picture with its own palette.
bool ImportEncoded(CPackObject& dir, const QString& path, const dialogs::EncodeChoice& choice, bool halfLife,
                   std::string* why) {
  std::vector<std::uint8_t> bytes;
  RgbaImage image;
  if (!ReadWholeFile(path, bytes, why) || !DecodeImage(bytes, S(QFileInfo(path).fileName()), image, why)) return false;
  const std::string stem = S(QFileInfo(path).completeBaseName());
  EncodeOptions options = choice.options;
  options.name = TextureNameFor(stem, choice.kind);
  options.halfLife = halfLife && (choice.kind == OutputKind::Mip || choice.kind == OutputKind::Lmp);
  const EncodeResult result = EncodeImage(image, choice.kind, options);
  if (!result.ok) {
    *why = result.error;
    return false;
  }
  return AddMadeFile(dir, stem + ExtensionOf(choice.kind), result.bytes, why);
}

// A sound file made into what the engines play, as the choice says, into dir as NAME.wav (or
// NAME.ogg).
bool ImportSoundFile(CPackObject& dir, const QString& path, const dialogs::SoundImportChoice& choice,
                     std::string* why) {
  std::vector<std::uint8_t> bytes;
  ImportedSound made;
  if (!ReadWholeFile(path, bytes, why) || !ImportSound(bytes, choice.options, made, why)) return false;
  const bool ogg = choice.options.output == SoundOutput::OggVorbis;
  return AddMadeFile(dir, S(QFileInfo(path).completeBaseName()) + (ogg ? ".ogg" : ".wav"), made.bytes, why);
}

// A model file converted as the choice says, into dir as NAME.mdl, or NAME.md2 with NAME.pcx
// beside it, which the model names by its path in the archive (dirPath).
bool ImportConverted(CPackObject& dir, const std::string& dirPath, const QString& path,
                     const dialogs::ModelImportChoice& choice, std::string* why) {
  const std::string stem = S(QFileInfo(path).completeBaseName());
  ModelImportOptions options = choice.options;
  const bool md2 = options.format == ModelData::kMd2;
  options.skinPath = (dirPath.empty() ? "" : dirPath + "/") + stem + ".pcx";
  ImportedModel made;
  if (!ImportModel(S(path), options, made, why)) return false;
  if (md2 && !AddMadeFile(dir, stem + ".pcx", made.skinBytes, why)) return false;
  return AddMadeFile(dir, stem + (md2 ? ".md2" : ".mdl"), made.bytes, why);
}

// A Quake or Quake II model written for modelling programs, by the extension of path: glTF
// (".gltf", ".glb") or OBJ (with its MTL and PNG skin beside it). The paths written go to written.
bool ExportModelFile(CPackObject& entry, const QString& path, QStringList& written, std::string* why) {
  ModelData model;
  CArchiveModelHost host(entry);
  if (!LoadModel(entry, model, host, why)) return false;
  ModelExportOptions options;
  options.name = S(QFileInfo(Q(entry.Name())).completeBaseName());
  std::vector<ExportedFile> files;
  const QFileInfo target(path);
  if (path.endsWith(".obj", Qt::CaseInsensitive)) {
    if (!ExportObj(model, options, S(target.completeBaseName()), files, why)) return false;
    files.front().name = S(target.fileName());  // the OBJ itself, named as asked
  } else {
    options.binary = path.endsWith(".glb", Qt::CaseInsensitive);
    files.push_back({S(target.fileName()), {}});
    if (!ExportGltf(model, options, files.front().bytes, why)) return false;
  }
  for (const ExportedFile& f : files) {
    const QString to = target.dir().filePath(Q(f.name));
    if (WriteFileTo(S(to), f.bytes, why) != ExtractOutcome::Done) return false;
    written << to;
  }
  return true;
}

// The model format of the game an archive is for: Quake II's when the game folders open are
// Quake II's, or when more of the archive's files are of what only Quake II has (pics/, .wal,
// .md2, .sp2) than of what only Quake has (progs/, .mdl, gfx.wad), as the packages of a game
// folder are told apart (game/GameFolder.cpp).
int ModelFormatOf(const CPackObject& root, const CGameSession* game) {
  if (game) return game->Profile().quake2Data ? ModelData::kMd2 : ModelData::kMdl;
  const auto under = [](std::string_view at, std::string_view dir) {
    return at.size() > dir.size() && SameName(at.substr(0, dir.size()), dir);
  };
  std::size_t quake2 = 0, quake = 0;
  std::string path;
  VisitFilesInSaveOrder(root, path, [&](const std::string& at, const CPackObject& file) {
    const EntryType type = FileTypeOf(file.Name());
    if (type == EntryType::Quake2Texture || type == EntryType::Quake2Model || type == EntryType::Quake2Sprite ||
        under(at, "pics/"))
      ++quake2;
    else if (type == EntryType::QuakeModel || under(at, "progs/") || SameName(at, "gfx.wad")) ++quake;
  });
  return quake2 > quake ? ModelData::kMd2 : ModelData::kMdl;
}

bool IsModelExportPath(const QString& path) {
  for (const char* ext : {".gltf", ".glb", ".obj"})
    if (path.endsWith(ext, Qt::CaseInsensitive)) return true;
  return false;
}

}  // namespace

CTransferController::CTransferController(CMainFrame& frame) : CDragSource(&frame), m_frame(frame), m_doc(frame.m_doc) {
  m_cmd.importFile = frame.AddCommand(this, "actionImportFile", "&Import From File...",
                                      "Add files from disk to the directory", [this] { OnImportFile(); });
  m_cmd.importDirectory = frame.AddCommand(this, "actionImportDirectory", "Import &From Directory...",
                                           "Add a folder's contents to the directory", [this] { OnImportDirectory(); });
  m_cmd.newSprite =
      frame.AddCommand(this, "actionNewSprite", "New &Sprite from Pictures...",
                       "Make a Quake or Quake II sprite of picture files, one frame each", [this] { OnNewSprite(); });
  m_cmd.exportFile = frame.AddCommand(this, "actionExportFile", "&Export To File...", "Write the selected file to disk",
                                      [this] { OnExportFile(); });
  m_cmd.exportDirectory = frame.AddCommand(this, "actionExportDirectory", "Export To &Directory...",
                                           "Write the selected entries into a folder", [this] { OnExportDirectory(); });
  m_cmd.exportAsPng =
      frame.AddCommand(this, "actionExportAsPng", "Export as &PNG...",
                       "Write the selected pictures, and those in the selected directories, into a folder as PNG files",
                       [this] { OnExportAsPng(); });
  m_cmd.exportForEngine = frame.AddCommand(
      this, "actionExportForEngine", "Export for E&ngine...",
      "Write the pictures of the selection, or of the whole archive, as an engine reads its replacements",
      [this] { OnExportForEngine(); });
  m_cmd.extractTextures =
      frame.AddCommand(this, "actionExtractTextures", "E&xtract Textures...",
                       "Write the textures of the selected maps into a WAD file", [this] { OnExtractTextures(); });
}

// The folders of exported drags go with the window.
CTransferController::~CTransferController() = default;

void CTransferController::UpdateCommands(const CommandState& state) {
  const auto& [treeDir, sel, only, tree, shadowed] = state;
  m_cmd.exportAsPng->setEnabled(tree ? treeDir != nullptr : !sel.empty());
  m_cmd.importFile->setEnabled(m_frame.ImportTarget() != nullptr);
  m_cmd.newSprite->setEnabled(m_frame.ImportTarget() != nullptr);
  m_cmd.exportFile->setEnabled(!tree && only && !only->IsDirectory());
  m_cmd.exportDirectory->setEnabled(tree ? treeDir != nullptr
                                         : (sel.size() >= 2 || (only && only->IsDirectory())) && !shadowed);
  bool allMaps = !tree && !sel.empty();
  for (const CPackObject* e : sel)
    if (e->IsDirectory() || e->Name().size() < 4 || !EndsWith(ToLower(e->Name()), ".bsp")) allMaps = false;
  m_cmd.extractTextures->setEnabled(allMaps);
}

void CTransferController::OnExportForEngine() {
  ExportForEngine(&m_frame, m_doc, m_frame.Prompter(), m_frame.Targets());
}

void CTransferController::OnExtractTextures() {
  if (!m_cmd.extractTextures->isEnabled()) return;
  ExtractTextures(&m_frame, m_doc, m_frame.Prompter(), m_frame.ListSelection());
}

void CTransferController::TakeStaged(CPackObject* dir, std::unique_ptr<CPackObject> staging, const std::string& command,
                                     const std::string& what) {
  std::vector<CPackObject*> children;
  for (CPackObject* c : staging->Children()) children.push_back(c);
  if (!dir || children.empty()) return;
  const std::string text = what.empty() ? CountedEntries(children.size(), children.front()->Name()) : what;
  m_frame.EditTree(command + " " + text, [&](CTreeEdit& edit) {
    for (CPackObject* c : children) edit.Insert(*dir, staging->DetachChild(c));
    return dir;
  });
  // What came in is shown where it went, as a file manager shows what was copied into a folder.
  m_frame.ShowAdded(dir, children, true);
  m_frame.statusBar()->showMessage(QString("%1 into %2.").arg(Q(command + " " + text), m_frame.PlaceOf(*dir)),
                                   CMainFrame::kReportMs);
}

void CTransferController::ImportPaths(CPackObject* dir, const QStringList& paths) {
  if (!dir || paths.isEmpty()) return;
  const std::string dirPath = m_doc.FullPath(*dir);
  // Image files: asked once whether they come in as they are or encoded.
  QStringList images;
  for (const QString& path : paths)
    if (QFileInfo info(path); info.isFile() && TypeOf(S(info.fileName()), false) == EntryType::Image) images << path;
  std::optional<dialogs::EncodeChoice> encode;
  if (!images.isEmpty()) {
    // A texture WAD holds Quake textures: those are what it is offered first.
    const bool wad = m_doc.Format() == ContainerFormat::Wad2 || m_doc.Format() == ContainerFormat::Wad3;
    encode = m_frame.Prompter().EncodeImages(&m_frame, images, wad ? std::optional(OutputKind::Mip) : std::nullopt);
    if (!encode) return;
    if (!encode->encode) encode.reset();
  }
  // Model files of modelling programs: asked once whether they come in as they are or converted.
  QStringList models;
  for (const QString& path : paths)
    if (QFileInfo info(path); info.isFile() && dialogs::IsModelFileName(info.fileName())) models << path;
  std::optional<dialogs::ModelImportChoice> convert;
  if (!models.isEmpty()) {
    convert =
        m_frame.Prompter().ImportModels(&m_frame, models, ModelFormatOf(*dir->Root(), m_frame.m_games->Session()));
    if (!convert) return;
    if (!convert->convert) convert.reset();
  }
  // Sound files: asked once whether they come in as they are or made into what the engines play.
  QStringList sounds;
  for (const QString& path : paths)
    if (QFileInfo info(path); info.isFile() && dialogs::IsSoundFileName(info.fileName())) sounds << path;
  std::optional<dialogs::SoundImportChoice> sound;
  if (!sounds.isEmpty()) {
    sound = m_frame.Prompter().ImportSounds(&m_frame, sounds);
    if (!sound) return;
    if (!sound->convert) sound.reset();
  }
  auto staging = StagingDirectory();
  QStringList failed, notEncoded, notConverted;
  bool cancelled = false;
  dialogs::CWorkDialog work(&m_frame, encode || convert || sound ? "Converting and importing" : "Importing");
  work.Run([&](CProgress& progress) {
    ImportOptions options;
    options.progress = &progress;
    for (const QString& path : paths)
      if (QFileInfo info(path); info.isFile()) progress.Expect(static_cast<std::uint64_t>(info.size()));
    for (const QString& path : paths) {
      if (cancelled) break;
      QFileInfo info(path);
      std::string why;
      if (encode && images.contains(path)) {
        if (!ImportEncoded(*staging, path, *encode, m_doc.Format() == ContainerFormat::Wad3, &why))
          notEncoded << path + ": " + Q(why);
        cancelled = !progress.Advance(static_cast<std::uint64_t>(info.size()), S(info.fileName()));
      } else if (sound && sounds.contains(path)) {
        if (!ImportSoundFile(*staging, path, *sound, &why)) notConverted << path + ": " + Q(why);
        cancelled = !progress.Advance(static_cast<std::uint64_t>(info.size()), S(info.fileName()));
      } else if (convert && models.contains(path)) {
        if (!ImportConverted(*staging, dirPath, path, *convert, &why)) notConverted << path + ": " + Q(why);
        cancelled = !progress.Advance(static_cast<std::uint64_t>(info.size()), S(info.fileName()));
      } else if (info.isDir()) {
        // A folder dropped from the desktop becomes a directory holding its contents.
        CPackObject* sub = staging->AddChild(S(info.fileName()), true);
        const ImportReport report = sub->ImportDirectory(S(path), options);
        for (const auto& f : report.failures) failed << Q(f.name);
        cancelled = report.cancelled;
      } else if (!staging->ImportFile(S(path), options, &why)) {
        if (why == kCancelledReason) cancelled = true;
        else failed << path;
      }
    }
  });
  if (cancelled) {
    m_frame.statusBar()->showMessage("Import cancelled; nothing was imported.", CMainFrame::kReportMs);
    return;
  }
  // Found again by path: the import ran an event loop.
  TakeStaged(m_frame.FindDirectory(dirPath), std::move(staging),
             encode             ? "Import and encode"
             : convert || sound ? "Import and convert"
                                : "Import");
  if (!notEncoded.isEmpty())
    m_frame.Message("Could not encode:\n  " + notEncoded.join("\n  "), "Import Error", QMessageBox::Warning);
  if (!notConverted.isEmpty())
    m_frame.Message("Could not convert:\n  " + notConverted.join("\n  "), "Import Error", QMessageBox::Warning);
  if (failed.size() == 1) {
    m_frame.Message("Could not import " + failed.front() + "\nFile may be in use by another application",
                    "Import Error", QMessageBox::Question);
  } else if (failed.size() > 1) {
    QString text = "Could not import files :";
    for (const QString& f : failed) text += "\n  " + f;
    text += "\nFiles may be in use by another application";
    m_frame.Message(text, "Import Error", QMessageBox::Question);
  }
}

void CTransferController::OnImportFile() {
  CPackObject* target = m_frame.ImportTarget();
  if (!target) return;
  const std::string path = m_doc.FullPath(*target);
  QStringList files = m_frame.Prompter().OpenFileNames(&m_frame, "Import", kImportFilter);
  if (files.isEmpty()) return;
  // Found again by path: the dialog ran an event loop.
  if (CPackObject* dir = m_frame.FindDirectory(path)) ImportPaths(dir, files);
}

void CTransferController::OnNewSprite() {
  CPackObject* target = m_frame.ImportTarget();
  if (!target) return;
  const std::string dirPath = m_doc.FullPath(*target);
  QStringList frames = m_frame.Prompter().OpenFileNames(
      &m_frame, "New Sprite from Pictures",
      "PNG pictures (*.png);;Pictures (*.png *.tga *.bmp *.jpg *.jpeg *.pcx);;All Files (*)");
  if (frames.isEmpty()) return;
  // In the order of their names, frame2 before frame10.
  QCollator order;
  order.setNumericMode(true);
  std::sort(frames.begin(), frames.end(), [&](const QString& a, const QString& b) { return order.compare(a, b) < 0; });
  const auto choice = m_frame.Prompter().SpriteOf(&m_frame, frames);
  if (!choice || choice->stem.empty()) return;
  auto staging = StagingDirectory();
  std::string why;
  bool made = false;
  dialogs::CWorkDialog work(&m_frame, "Making the sprite");
  work.Run([&](CProgress& progress) {
    std::vector<RgbaImage> images(static_cast<std::size_t>(frames.size()));
    progress.Expect(static_cast<std::uint64_t>(frames.size()) + 1);
    for (int i = 0; i < frames.size(); ++i) {
      std::vector<std::uint8_t> bytes;
      if (!ReadWholeFile(frames[i], bytes, &why) ||
          !DecodeImage(bytes, S(QFileInfo(frames[i]).fileName()), images[static_cast<std::size_t>(i)], &why)) {
        why = S(frames[i]) + ": " + why;
        return;
      }
      if (!progress.Advance(1, S(QFileInfo(frames[i]).fileName()))) return;
    }
    // Quake II finds the frames by their path in the game, beside the sprite.
    std::vector<SpriteFile> files;
    if (!EncodeSprite(images, choice->quake2, choice->stem, dirPath.empty() ? "" : dirPath + "/", choice->options,
                      files, &why))
      return;
    for (const SpriteFile& f : files)
      if (!AddMadeFile(*staging, f.name, f.bytes, &why)) return;
    made = true;
  });
  if (work.CancelAsked()) return;
  if (!made) {
    m_frame.Message("Could not make the sprite: " + Q(why) + ".", "New Sprite", QMessageBox::Warning);
    return;
  }
  TakeStaged(m_frame.FindDirectory(dirPath), std::move(staging), "New Sprite",
             Quoted(choice->stem + (choice->quake2 ? ".sp2" : ".spr")));
}

void CTransferController::OnImportDirectory() {
  CPackObject* target = m_frame.TreeSelection();
  if (!target) target = &m_doc.Root();
  const std::string path = m_doc.FullPath(*target);
  QString folder = m_frame.Prompter().ExistingDirectory(&m_frame, "Select import directory");
  if (folder.isEmpty() || !m_frame.FindDirectory(path)) return;
  auto staging = StagingDirectory();
  ImportReport report;
  dialogs::CWorkDialog work(&m_frame, "Importing");
  work.Run([&](CProgress& progress) {
    ImportOptions options;
    options.progress = &progress;
    report = staging->ImportDirectory(S(folder), options);
  });
  if (report.cancelled) {
    m_frame.statusBar()->showMessage("Import cancelled; nothing was imported.", CMainFrame::kReportMs);
    return;
  }
  TakeStaged(m_frame.FindDirectory(path), std::move(staging), "Import");
  if (!report.failures.empty()) {
    QString text = "Could not import files :";
    for (const auto& f : report.failures) text += "\n  " + Q(f.name) + " (" + Q(f.reason) + ")";
    m_frame.Message(text, "Import Error", QMessageBox::Question);
  }
}

bool CTransferController::ExportAsPng(CPackObject& entry, const QString& path) {
  EntryPictures pictures = LoadEntryPictures(entry, false);
  if (!pictures.ok()) {
    m_frame.Message(QString("Could not export %1: %2.").arg(path, Q(pictures.message)), "Export", QMessageBox::Warning);
    return false;
  }
  const QStringList paths = viewers::NumberedPaths(path, pictures.set.pictures.size());
  for (std::size_t i = 0; i < pictures.set.pictures.size(); ++i) {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    viewers::ToImage(pictures.set.pictures[i], pictures.set.PaletteFor(i)).save(&buffer, "PNG");
    std::string why;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(png.constData());
    if (WriteFileTo(S(paths[static_cast<int>(i)]), {bytes, static_cast<std::size_t>(png.size())}, &why) !=
        ExtractOutcome::Done) {
      m_frame.Message(QString("Could not export %1: %2.").arg(paths[static_cast<int>(i)], Q(why)), "Export",
                      QMessageBox::Warning);
      return false;
    }
  }
  m_frame.statusBar()->showMessage(
      QString("%1 exported as %2 to %3")
          .arg(Q(Quoted(entry.Name())))
          .arg(paths.size() == 1 ? "a PNG picture" : QString("%1 PNG pictures").arg(paths.size()))
          .arg(QDir::toNativeSeparators(QFileInfo(path).absolutePath())),
      CMainFrame::kReportMs);
  return true;
}

namespace {

// A Quake or Quake II model, whose skins Export as PNG writes as tarn-pak convert does.
bool IsSkinnedModel(const CPackObject& e) {
  const EntryType type = TypeOf(e.Name(), e.IsDirectory());
  return type == EntryType::QuakeModel || type == EntryType::Quake2Model;
}

// The picture files and models of entries, directories searched whole, each with the
// directories that lead to it from base (or, for an entry outside base, from its own directory).
void CollectPictures(CPackObject* e, const CPackObject* base, std::vector<std::pair<CPackObject*, std::string>>& out) {
  if (e->IsDirectory()) {
    for (CPackObject* c : e->Children()) CollectPictures(c, base, out);
    return;
  }
  if (PictureKindOf(e->Name()) == PictureKind::None && !IsSkinnedModel(*e)) return;
  std::string below;
  for (const CPackObject* p = e->Parent(); p && p != base && p->Parent(); p = p->Parent())
    below.insert(0, p->Name() + "/");
  out.emplace_back(e, below);
}

// Finds an MD2's skins as the viewer does, noting each file found and the path it was asked
// for, in order.
class CSkinFinder : public CArchiveModelHost {
 public:
  using CArchiveModelHost::CArchiveModelHost;
  CPackObject* FindSkin(const std::string& path) override {
    CPackObject* found = CArchiveModelHost::FindSkin(path);
    if (found) files.emplace_back(path, found);
    return found;
  }
  std::vector<std::pair<std::string, const CPackObject*>> files;
};

// A model's skins as PNG files, every one its loader reads (as tarn-pak convert writes them),
// but those read from a picture the export writes anyway; skipped, the skins it names that are
// not there or no picture. False with the reason when the model cannot be read.
bool ModelSkinsAsPng(CPackObject& model, const std::set<const CPackObject*>& pictures,
                     std::vector<std::vector<std::uint8_t>>& out, std::vector<std::string>& skipped, std::string* why) {
  ModelData data;
  CSkinFinder finder(model);
  if (!LoadModel(model, data, finder, why)) return false;
  for (const std::string& path : data.missingSkins) skipped.push_back("its skin " + Quoted(path) + " is not there");
  for (const std::string& path : data.unreadableSkins) skipped.push_back(Quoted(path) + " is no picture Tarn reads");
  // The files the skins came from, in the skins' order: a file that is no picture gave none.
  std::vector<const CPackObject*> from;
  for (const auto& [path, file] : finder.files)
    if (std::find(data.unreadableSkins.begin(), data.unreadableSkins.end(), path) == data.unreadableSkins.end())
      from.push_back(file);
  for (std::size_t i = 0; i < data.skins.size(); ++i) {
    const ModelSkin& skin = data.skins[i];
    // The checkerboard standing in for a missing skin is no skin of the model's.
    if (skin.placeholder || (i < from.size() && pictures.count(from[i]))) continue;
    out.push_back(
        EncodePngRgb(skin.width, skin.height, static_cast<std::size_t>(skin.paddedWidth) * 3, skin.pixels.data()));
  }
  if (data.skins.empty() && skipped.empty()) {
    *why = "the model has no skin";
    return false;
  }
  return true;
}

}  // namespace

void CTransferController::OnExportAsPng() {
  const auto targets = m_frame.Targets();
  if (targets.empty()) return;
  const QString folder = m_frame.Prompter().ExistingDirectory(&m_frame, "Export as PNG into");
  if (folder.isEmpty()) return;
  // As Export To Directory: paths kept below the directory the list shows (a whole-archive
  // filter's matches from several folders stay apart); a directory chosen in the tree comes whole.
  const CPackObject* base = m_frame.m_treeFocused ? (targets.front()->Parent() ? targets.front()->Parent() : nullptr)
                                                  : m_frame.m_list->CurrentDirectory();
  std::vector<std::pair<CPackObject*, std::string>> pictures;
  for (CPackObject* e : targets) {
    const CPackObject* from = base && (e == base || !e->IsInside(base)) ? e->Parent() : base;
    CollectPictures(e, from, pictures);
  }
  std::string why;
  std::optional<CExtractFolder> root = CExtractFolder::Open(S(folder), &why);
  if (!root) {
    m_frame.Message(QString("Could not open %1: %2.").arg(folder, Q(why)), "Export as PNG", QMessageBox::Warning);
    return;
  }
  std::set<std::string> written;
  std::set<const CPackObject*> exported;  // the pictures written as themselves
  for (const auto& [entry, below] : pictures)
    if (!IsSkinnedModel(*entry)) exported.insert(entry);
  QStringList problems;
  dialogs::CWaitCursor wait;
  for (auto& [entry, below] : pictures) {
    const std::string label = m_doc.FullPath(*entry);
    // Through every folder on the way, each opened from its parent: no name leads out.
    std::optional<CExtractFolder> at = CExtractFolder::Open(root->Path(), &why);
    bool refused = false;
    std::size_t start = 0;
    for (std::size_t slash; at && (slash = below.find('/', start)) != std::string::npos; start = slash + 1) {
      const std::string part = below.substr(start, slash - start);
      std::optional<CExtractFolder> sub;
      why = UnsafeNameReason(part);
      if (!why.empty() || at->Enter(part, &sub, &why) != ExtractOutcome::Done) refused = true;
      at = std::move(sub);
    }
    if (refused || !at) {
      problems << QString("%1: %2").arg(Q(label), Q(why));
      continue;
    }
    std::vector<QByteArray> pngs;
    if (IsSkinnedModel(*entry)) {
      std::vector<std::vector<std::uint8_t>> skins;
      std::vector<std::string> skipped;
      const bool read = ModelSkinsAsPng(*entry, exported, skins, skipped, &why);
      for (const std::string& s : skipped) problems << QString("%1: %2").arg(Q(label), Q(s));
      if (!read) {
        problems << QString("%1: %2").arg(Q(label), Q(why));
        continue;
      }
      for (const auto& png : skins)
        pngs.emplace_back(reinterpret_cast<const char*>(png.data()), static_cast<qsizetype>(png.size()));
    } else {
      EntryPictures loaded = LoadEntryPictures(*entry, false);
      if (!loaded.ok()) {
        problems << QString("%1: %2").arg(Q(label), Q(loaded.message.empty() ? "it cannot be read" : loaded.message));
        continue;
      }
      for (const QImage& image : viewers::ToImages(loaded.set)) {
        QBuffer buffer(&pngs.emplace_back());
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
      }
    }
    // A model's skins are named apart from the sprite or picture of its name (Quake has both
    // s_light.mdl and s_light.spr).
    const QString stem = QFileInfo(Q(entry->Name())).completeBaseName() + (IsSkinnedModel(*entry) ? "-skin" : "");
    // One file a frame for sprites and texture chains (a skin for models), numbered as the
    // viewer's Save numbers them.
    for (std::size_t i = 0; i < pngs.size(); ++i) {
      const QString file = pngs.size() == 1 ? stem + ".png" : QString("%1-%2.png").arg(stem).arg(i);
      const std::string name = S(file);
      // Two pictures of one stem (a .lmp and a .pcx, or a name held twice) make one file:
      // the first stays, the other is told of.
      if (!written.insert(below + name).second) {
        problems << QString("%1: %2 was already written by this export").arg(Q(label), file);
        continue;
      }
      const QByteArray& png = pngs[i];
      const auto fill = [&](const CExtractFolder::Sink& sink, std::string*) {
        return sink(reinterpret_cast<const std::uint8_t*>(png.constData()), static_cast<std::size_t>(png.size()));
      };
      if (at->WriteFile(name, fill, &why) != ExtractOutcome::Done) {
        written.erase(below + name);
        problems << QString("%1: %2").arg(Q(label), Q(why));
      }
    }
  }
  m_frame.statusBar()->showMessage(QString("%1 PNG %2 exported to %3")
                                       .arg(written.size())
                                       .arg(written.size() == 1 ? "picture" : "pictures")
                                       .arg(QDir::toNativeSeparators(folder)),
                                   CMainFrame::kReportMs);
  if (!problems.isEmpty())
    m_frame.Message("Some pictures were not exported:\n" + problems.join("\n"), "Export as PNG", QMessageBox::Warning);
}

void CTransferController::OnExportFile() {
  auto sel = m_frame.ListSelection();
  if (m_frame.m_treeFocused || sel.size() != 1 || sel.front()->IsDirectory()) return;
  CPackObject* entry = sel.front();
  const EntryType type = TypeOf(entry->Name(), false);
  // A picture is offered as PNG too; the name's extension decides.
  const bool picture = PictureKindOf(entry->Name()) != PictureKind::None;
  // A Quake or Quake II model is offered for modelling programs too, the same way.
  const bool model = type == EntryType::QuakeModel || type == EntryType::Quake2Model;
  QString filter = kExportFilter;
  const QString suffix = QFileInfo(Q(entry->Name())).suffix().toLower();
  if (picture) filter = QString("%1 (*.%2);;%3;;%4").arg(TypeName(type), suffix, kPngFilter, kExportFilter);
  else if (model) filter = QString("%1 (*.%2);;%3;;%4").arg(TypeName(type), suffix, kModelFilters, kExportFilter);
  const std::string entryPath = m_doc.FullPath(*entry);
  QString path = m_frame.Prompter().SaveFileName(&m_frame, "Export", filter, Q(entry->Name()), QString());
  if (path.isEmpty()) return;
  // A shadowed copy is not in the tree: its path leads to the copy that hides it. The modal
  // dialog left it alone.
  if (!m_frame.m_listModel->IsShadowed(entry)) entry = m_doc.FindFullPath(entryPath);
  if (!entry) return;
  if (picture && path.endsWith(".png", Qt::CaseInsensitive)) {
    ExportAsPng(*entry, path);
    return;
  }
  if (model && IsModelExportPath(path)) {
    QStringList written;
    std::string why;
    dialogs::CWaitCursor wait;
    if (!ExportModelFile(*entry, path, written, &why)) {
      m_frame.Message(QString("Could not export %1: %2.").arg(path, Q(why)), "Export", QMessageBox::Warning);
      return;
    }
    QStringList names;
    for (const QString& w : written) names << QFileInfo(w).fileName();
    m_frame.statusBar()->showMessage(
        QString("%1 exported as %2 to %3")
            .arg(Q(Quoted(entry->Name())), names.join(", "), QDir::toNativeSeparators(QFileInfo(path).absolutePath())),
        CMainFrame::kReportMs);
    return;
  }
  std::string why;
  ExtractOutcome outcome = ExtractOutcome::Failed;
  dialogs::CWorkDialog work(&m_frame, "Exporting");
  work.Run([&](CProgress& progress) { outcome = ExportFileTo(*entry, S(path), &why, &progress); });
  if (work.CancelAsked()) {
    m_frame.statusBar()->showMessage("Export cancelled; nothing was written.", CMainFrame::kReportMs);
    return;
  }
  if (outcome != ExtractOutcome::Done) {
    m_frame.Message(QString("Could not export %1: %2.").arg(path, Q(why)), "Export", QMessageBox::Warning);
    return;
  }
  m_frame.statusBar()->showMessage(QString("1 file exported to %1").arg(QDir::toNativeSeparators(path)),
                                   CMainFrame::kReportMs);
}

ExportReport CTransferController::ExportEntries(const std::vector<CPackObject*>& entries, const QString& folder,
                                                const CPackObject* base) {
  ExportReport all;
  dialogs::CWorkDialog work(&m_frame, "Exporting");
  work.Run([&](CProgress& progress) {
    std::uint64_t bytes = 0;
    for (const CPackObject* e : entries) bytes += e->TotalBytes();
    progress.Expect(bytes);
    // One report for all: a file of one entry is never written over by another's.
    for (const CPackObject* e : entries) {
      e->ExportInto(S(folder), base, all, &progress);
      if (all.cancelled) break;
    }
  });
  return all;
}

void CTransferController::OnExportDirectory() {
  auto targets = m_frame.Targets();
  if (targets.empty()) return;
  QString folder = m_frame.Prompter().ExistingDirectory(&m_frame, "Select export directory");
  if (folder.isEmpty()) return;
  // Entries listed from below the directory the list shows (a filter over the whole archive)
  // keep their paths below it: files of one name from several folders stay apart.
  const ExportReport report =
      ExportEntries(targets, folder, m_frame.m_treeFocused ? nullptr : m_frame.m_list->CurrentDirectory());
  const QString files = QString("%1 %2").arg(report.written).arg(report.written == 1 ? "file" : "files");
  const QString where = QDir::toNativeSeparators(folder);
  if (report.cancelled)
    m_frame.statusBar()->showMessage(QString("Export cancelled; the %1 written so far stay in %2.").arg(files, where),
                                     CMainFrame::kReportMs);
  else m_frame.statusBar()->showMessage(QString("%1 exported to %2").arg(files, where), CMainFrame::kReportMs);
  QStringList problems;
  for (const auto& x : report.refused) problems << QString("%1: not written, %2").arg(Q(x.name), Q(x.reason));
  for (const auto& x : report.failed) problems << QString("%1: %2").arg(Q(x.name), Q(x.reason));
  if (!problems.isEmpty())
    m_frame.Message("Some entries were not exported:\n" + problems.join("\n"), "Export", QMessageBox::Warning);
}

// --- drag and drop ---

QMimeData* CTransferController::DragData(const std::vector<CPackObject*>& entries) {
  QStringList paths;
  for (const CPackObject* e : entries)
    if (e->Parent()) paths << Q(m_doc.FullPath(*e));
  return paths.isEmpty() ? nullptr : new CEntryMimeData(this, paths);
}

QList<QUrl> CTransferController::ExportForDrag(const QStringList& paths) {
  // A folder of its own for each drag: the program that takes the files may still be copying
  // them when the next drag begins. They all go when the window does.
  auto folder = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/tarn-drag-XXXXXX");
  if (!folder->isValid()) return {};
  std::vector<std::string> entries;
  std::vector<CPackObject*> found;
  for (const QString& p : paths) {
    entries.push_back(S(p));
    if (CPackObject* e = m_doc.FindFullPath(entries.back())) found.push_back(e);
  }
  const ExportReport report = ExportEntries(found, folder->path(), nullptr);
  // Cancelled: nothing is handed over, and the folder goes with what was written so far.
  if (report.cancelled) return {};
  QList<QUrl> urls;
  // What was refused (a name that cannot be written safely) has nothing to hand over.
  for (const std::string& p : entries) {
    const QString written = folder->path() + "/" + Q(p.substr(p.rfind('/') + 1));
    if (QFileInfo::exists(written)) urls << QUrl::fromLocalFile(written);
  }
  if (!report.refused.empty() || !report.failed.empty())
    m_frame.statusBar()->showMessage(QString("%1 of the dragged entries could not be exported and were left out.")
                                         .arg(report.refused.size() + report.failed.size()),
                                     CMainFrame::kReportMs);
  m_dragFolders.push_back(std::move(folder));
  return urls;
}

QByteArray CTransferController::StreamForDrag(const QStringList& paths) {
  std::vector<CPackObject*> entries;
  for (const QString& p : paths)
    if (CPackObject* e = m_doc.FindFullPath(S(p))) entries.push_back(e);
  return m_frame.m_edit->EntryStream(entries, nullptr);
}

}  // namespace tarn::browser
