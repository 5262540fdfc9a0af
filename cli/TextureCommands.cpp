#include "cli/TextureCommands.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <ostream>

#include "archive/PackObject.h"
#include "document/TarnDoc.h"
#include "fileio/FileLock.h"
#include "fileio/Strings.h"
#include "game/EngineArt.h"
#include "game/GameFolder.h"
#include "game/StrayGlow.h"

namespace tarn::cli {

namespace fs = std::filesystem;

namespace {

Outcome Failed(const std::string& message) { return {1, message}; }
Outcome BadUsage(const std::string& message) { return {2, message}; }

void Say(std::ostream& to, const std::string& message) { to << "tarn-pak: " << message << "\n"; }

std::string Lower(const std::string& s) { return ToLower(s); }

// A game file given alone, and where the game holds such a file: maps/ for a map, progs/ for a
// model or a sprite, gfx/ for a picture, textures/ for a Quake II texture, the top for a WAD.
std::optional<std::string> LooseGamePath(const fs::path& file) {
  const std::string name = file.filename().string();
  const std::string n = Lower(name);
  if (EndsWith(n, ".bsp")) return "maps/" + name;
  if (EndsWith(n, ".mdl") || EndsWith(n, ".spr")) return "progs/" + name;
  if (EndsWith(n, ".lmp")) return "gfx/" + name;
  if (EndsWith(n, ".wal")) return "textures/" + name;
  if (EndsWith(n, ".wad") || EndsWith(n, ".pcx")) return name;
  return std::nullopt;
}

// The files pictures are read from: an archive, a game file alone, or game folders as the
// engine loads them. Kept alive while the files are used.
class CArtInput {
 public:
  // Reads what inputs name; for writing, one archive or game file (a document, or the file's
  // bytes) and never game folders. False with the reason.
  bool Load(const std::vector<std::string>& inputs, const ArtProfile& art, bool forWriting,
            const ArtCommandContext& ctx, std::string& why) {
    const EngineProfile* game = FindEngineProfile(art.gameEngine);
    if (!game) game = &DefaultEngineProfile();
    std::vector<fs::path> folders;
    for (const std::string& in : inputs) {
      std::error_code ec;
      if (fs::is_directory(in, ec)) folders.emplace_back(in);
    }
    if (!folders.empty()) {
      if (forWriting) return why = "pictures are brought back into one archive or game file, not a folder", false;
      if (folders.size() != inputs.size()) return why = "give game folders, or one archive, not both", false;
      m_view.emplace(CGameView::LoadFolders(*game, folders));
      return TakeView(ctx, why);
    }
    if (inputs.size() != 1) return why = "give one archive or game file, or game folders", false;
    const fs::path path = inputs.front();
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) return why = Quoted(path.string()) + " is no file or folder", false;
    if (const auto loose = LooseGamePath(path)) {
      std::ifstream in(path, std::ios::binary);
      std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      if (!in && !in.eof()) return why = Quoted(path.string()) + " cannot be read", false;
      m_root = std::make_unique<CPackObject>();
      m_root->SetDirectory(true);
      CPackObject* e = m_root->AddChildAsIs(path.filename().string(), false);
      e->SetSize(static_cast<std::int64_t>(bytes.size()));
      e->SetData(std::move(bytes));
      files.push_back({*loose, e});
      m_loosePath = path;
      return true;
    }
    if (!forWriting) {
      m_view.emplace(CGameView::LoadArchive(*game, path));
      return TakeView(ctx, why);
    }
    m_doc = std::make_unique<CTarnDoc>();
    std::unique_ptr<CFileLock> lock;
    if (CFileLock::Acquire(path, ctx.lockTimeout, &lock, &why) == CFileLock::Outcome::TimedOut) return false;
    m_doc->AdoptLock(std::move(lock));
    if (!m_doc->Open(path)) return why = m_doc->LastError(), false;
    for (const std::string& p : m_doc->OpenProblems())
      Say(ctx.voice.Warnings(ctx.err), Quoted(path.string()) + ": " + p);
    ForEachFileInSaveOrder(m_doc->Root(), [&](const std::string& p, const CPackObject& f) {
      files.push_back({p, const_cast<CPackObject*>(&f)});
    });
    m_docPath = path;
    return true;
  }

  // Puts changed bytes in their files and saves: the document safely, or the game file beside
  // itself and then in its place. False with the reason; nothing is changed then.
  bool Save(const std::vector<ArtChange>& changes, const ArtCommandContext& ctx, std::string& why) {
    if (changes.empty()) return true;
    if (m_root) {
      CSafeSave save;
      CSafeSave::Options options;
      options.consent = ctx.consent;
      const std::vector<std::uint8_t>& bytes = changes.front().bytes;
      if (save.Begin(m_loosePath, options) && save.Write(bytes.data(), bytes.size()) && save.Commit()) return true;
      why = "cannot write " + save.Failure().Text();
      return false;
    }
    for (const ArtChange& c : changes) files[c.file].entry->SetData(c.bytes);
    m_doc->SetModified();
    for (const auto& [concern, text] : m_doc->SaveConcerns(m_docPath))
      if (!ctx.consent.Allows(concern)) {
        why = text + " Not saved; " + (concern == SaveConcern::HardLinks ? "--break-links" : "--force") +
              " saves anyway.";
        return false;
      }
    m_doc->SetWriteOptions(ctx.write);
    m_doc->SetLockTimeout(ctx.lockTimeout);
    if (m_doc->Save(m_docPath, ctx.consent)) return true;
    why = m_doc->LastError();
    for (char& c : why)
      if (c == '\n') c = ' ';
    return false;
  }

  std::string Written() const { return (m_root ? m_loosePath : m_docPath).string(); }

  std::vector<ArtFile> files;

 private:
  bool TakeView(const ArtCommandContext& ctx, std::string& why) {
    CGameView& view = *m_view;
    for (const LoadFailure& f : view.Failures())
      Say(ctx.voice.Warnings(ctx.err), Quoted(f.path.string()) + " " + f.reason);
    if (const LoadFailure* stop = view.Stop())
      return why = Quoted(stop->path.string()) + ": the engine would stop there with a fatal error", false;
    for (const GameFile& f : view.Files()) {
      if (f.copies.empty() || view.Entry(f.copies.front()).flaw != EntryFlaw::None) continue;
      const std::string name = Lower(f.path);
      const bool palette = name == "gfx/palette.lmp" || name == "gfx/colormap.lmp" || name == "pics/colormap.pcx";
      if (!palette && !EndsWith(name, ".bsp") && !EndsWith(name, ".wad") && !EndsWith(name, ".mdl") &&
          !EndsWith(name, ".spr") && !EndsWith(name, ".lmp") && !EndsWith(name, ".wal") && !EndsWith(name, ".pcx"))
        continue;
      std::string openWhy;
      CPackObject* e = view.Open(f.copies.front(), &openWhy);
      if (!e) {
        Say(ctx.voice.Warnings(ctx.err), Quoted(f.path) + ": " + openWhy);
        continue;
      }
      files.push_back({f.path, e});
    }
    return true;
  }

  std::optional<CGameView> m_view;
  std::unique_ptr<CTarnDoc> m_doc;
  std::unique_ptr<CPackObject> m_root;
  fs::path m_docPath, m_loosePath;
};

void Tell(const ArtReport& report, const ArtCommandContext& ctx) {
  for (const std::string& n : report.notes) Say(ctx.voice.Notices(ctx.err), n);
  for (const std::string& r : report.refused) Say(ctx.voice.Warnings(ctx.err), "refused " + r);
  for (const std::string& p : report.problems) Say(ctx.err, p);
}

}  // namespace

Outcome RunTextures(const std::vector<std::string>& args, const ArtCommandContext& ctx) {
  std::string engine, out, format, map, import;
  std::vector<std::string> inputs;
  bool ended = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (ended || a.empty() || a[0] != '-' || a == "-") {
      inputs.push_back(a);
      continue;
    }
    if (a == "--") {
      ended = true;
      continue;
    }
    std::string* value = a == "--engine"   ? &engine
                         : a == "--out"    ? &out
                         : a == "--format" ? &format
                         : a == "--map"    ? &map
                         : a == "--import" ? &import
                                           : nullptr;
    if (!value) return BadUsage("unknown option " + Quoted(a) + " of textures");
    if (++i == args.size()) return BadUsage(a + " needs a value");
    *value = args[i];
  }
  if (engine.empty()) return BadUsage("textures needs --engine ENGINE: " + ArtProfileNames());
  const ArtProfile* profile = FindArtProfile(engine);
  if (!profile) return BadUsage("unknown engine " + Quoted(engine) + "; textures knows " + ArtProfileNames());
  ArtOptions options;
  options.profile = profile;
  options.map = map;
  options.format = profile->formats.front();
  if (!format.empty()) {
    const auto f = ImageFileFormatOf(format);
    if (!f) return BadUsage("--format takes png or tga, not " + Quoted(format));
    if (std::find(profile->formats.begin(), profile->formats.end(), *f) == profile->formats.end())
      return BadUsage(std::string(profile->displayName) + " reads no replacement " + Lower(format) +
                      " (its image loader reads .tga and .pcx): give --format tga");
    options.format = *f;
  }
  if (inputs.empty()) return BadUsage("textures takes an ARCHIVE, a game file or game FOLDERs");
  if (!import.empty() && !out.empty()) return BadUsage("--out writes pictures and --import reads them: one at a time");
  if (import.empty() && out.empty()) return BadUsage("textures needs --out DIR (or --import DIR)");
  if (profile->quake2 && !map.empty()) return BadUsage("--map goes with Quake's maps, whose textures they hold");

  CArtInput input;
  std::string why;
  if (!input.Load(inputs, *profile, !import.empty(), ctx, why)) return Failed(why);
  if (import.empty()) {
    const ArtReport report = ExportArt(input.files, options, out);
    Tell(report, ctx);
    ctx.out << report.pictures << " pictures, " << report.files << " files written to " << Escaped(out);
    if (!report.refused.empty()) ctx.out << "; " << report.refused.size() << " refused";
    ctx.out << "\n";
    if (!report.problems.empty()) return Failed("some pictures could not be read or written");
    if (report.pictures == 0 && report.refused.empty())
      return Failed("no picture " + std::string(profile->displayName) + " replaces was found");
    return {};
  }
  std::error_code ec;
  if (!fs::is_directory(import, ec)) return Failed(Quoted(import) + " is not a folder");
  std::vector<ArtChange> changes;
  const ArtReport report = ImportArt(input.files, options, import, changes);
  Tell(report, ctx);
  if (!report.problems.empty()) return Failed("nothing brought back: some pictures could not be read");
  if (!input.Save(changes, ctx, why)) return Failed(why);
  ctx.out << report.pictures << " pictures read, " << report.files << " changed";
  if (!changes.empty()) ctx.out << " in " << changes.size() << " files of " << Escaped(input.Written());
  ctx.out << "\n";
  return {};
}

Outcome RunGlow(const std::vector<std::string>& args, const ArtCommandContext& ctx) {
  bool fix = false, list = false, every = false, ended = false;
  std::vector<std::string> positional;
  for (const std::string& a : args) {
    if (!ended && a == "--") {
      ended = true;
    } else if (!ended && a == "--fix") {
      fix = true;
    } else if (!ended && a == "--list") {
      list = true;
    } else if (!ended && a == "--every") {
      every = true;
    } else if (!ended && a.size() > 1 && a[0] == '-') {
      return BadUsage("unknown option " + Quoted(a) + " of glow");
    } else {
      positional.push_back(a);
    }
  }
  if (fix && list) return BadUsage("--list and --fix go one at a time");
  if (positional.empty()) return BadUsage("glow takes an ARCHIVE and the PATHs of files in it");
  // Pictures that glow on purpose are quenched only when named.
  if (every && positional.size() < 2) return BadUsage("--every quenches the files named: give their PATHs");
  CArtInput input;
  std::string why;
  const ArtProfile* quake = FindArtProfile("quakespasm");
  if (!input.Load({positional.front()}, *quake, fix, ctx, why)) return Failed(why);
  const std::vector<std::string> only(positional.begin() + 1, positional.end());
  for (const std::string& o : only) {
    bool found = false;
    for (const ArtFile& f : input.files) found = found || SameName(f.path, o);
    if (!found) return Failed("no file " + Quoted(o) + " in " + Quoted(positional.front()));
  }
  std::vector<std::string> problems;
  const std::vector<GlowingPicture> pictures = FindGlowingPictures(input.files, only, every, problems);
  for (const std::string& p : problems) Say(ctx.err, p);
  const Palette palette = PaletteForArt(input.files, *quake).palette;
  std::size_t pixels = 0;
  for (const GlowingPicture& g : pictures) {
    for (const GlowPixel& p : g.pixels)
      ctx.out << Escaped(input.files[g.file].path) << '\t' << Escaped(g.name) << '\t' << p.x << ',' << p.y << '\t'
              << int{p.index} << '\t'
              << int{NearestNotGlowing(palette, p.index, kLitGlowFirst, kLitGlowLast, g.transparent)} << '\n';
    pixels += g.pixels.size();
  }
  if (!fix) return problems.empty() ? Outcome{} : Failed("some pictures could not be read");
  if (pictures.empty()) {
    Say(ctx.voice.Notices(ctx.err), "nothing to quench");
    return problems.empty() ? Outcome{} : Failed("some pictures could not be read");
  }
  std::vector<ArtChange> changes;
  if (!QuenchGlow(input.files, pictures, palette, changes, problems) || !problems.empty()) {
    for (const std::string& p : problems) Say(ctx.err, p);
    return Failed("nothing changed: some pictures could not be read");
  }
  if (!input.Save(changes, ctx, why)) return Failed(why);
  Say(ctx.voice.Notices(ctx.err), "quenched " + std::to_string(pixels) + " glowing pixels of " +
                                      std::to_string(pictures.size()) + " pictures in " + Quoted(input.Written()));
  return {};
}

std::vector<std::string> StrayGlowProblems(CPackObject& root) {
  std::vector<ArtFile> files;
  ForEachFileInSaveOrder(root, [&](const std::string& p, const CPackObject& f) {
    files.push_back({p, const_cast<CPackObject*>(&f)});
  });
  std::vector<std::string> problems;
  const std::vector<GlowingPicture> pictures = FindGlowingPictures(files, {}, false, problems);
  std::vector<std::string> lines;
  for (const GlowingPicture& g : pictures) {
    std::string at;
    for (std::size_t i = 0; i < g.pixels.size(); ++i)
      at += (i ? (i + 1 == g.pixels.size() ? " and " : ", ") : "") + std::to_string(g.pixels[i].x) + "," +
            std::to_string(g.pixels[i].y);
    lines.push_back(Quoted(files[g.file].path) + ": " + g.name + ": " + std::to_string(g.pixels.size()) +
                    " stray glowing pixel" + (g.pixels.size() == 1 ? "" : "s") + " at " + at +
                    ", likely by accident; glow --fix quenches them");
  }
  return lines;
}

}  // namespace tarn::cli
