// The engines themselves as the judges of `tarn-pak which`: game folders are built here with a
// .cfg in every place that echoes its own word, each installed engine's dedicated server runs
// "+exec NAME" on them, and the word it prints (or its fatal error, or nothing) must be what
// `which` answers. Models the same way: each server loads one, and what it makes of it must be
// what `check --engine` says. An engine that is not installed is skipped. Every run has a hard
// timeout, reads nothing, and has no network but loopback where the system lets it.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <iostream>
#include <map>
#include <sstream>
#include <thread>

#include "ModelBuilders.h"
#include "TestSupport.h"
#include "ZipBuilder.h"
#include "models/ModelBuild.h"
#include "models/ModelEdit.h"
#include "pictures/ImageDecode.h"
#include "pictures/ImageWrite.h"

extern char** environ;

namespace tarn::test {
namespace {

struct Ran {
  int status = -1;  // the exit status; -1 when killed or not run
  bool timedOut = false;
  std::string output;  // standard output and error together
};

// Runs argv with standard input closed, HOME set to home, output to a file; killed (with
// everything it started) after timeout.
Ran Run(const std::vector<std::string>& argv, const fs::path& home, const fs::path& outFile,
        std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e)
    if (std::strncmp(*e, "HOME=", 5) != 0) env.emplace_back(*e);
  env.push_back("HOME=" + home.string());
  std::vector<char*> args, envp;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  Ran ran;
  const pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    const int in = open("/dev/null", O_RDONLY);
    const int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0) _exit(126);
    dup2(in, 0);
    dup2(out, 1);
    dup2(out, 2);
    execve(args[0], args.data(), envp.data());
    _exit(127);
  }
  if (pid < 0) return ran;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(-pid, SIGKILL);
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      ran.timedOut = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (!ran.timedOut && WIFEXITED(status)) ran.status = WEXITSTATUS(status);
  const Bytes bytes = ReadFile(outFile);
  ran.output.assign(bytes.begin(), bytes.end());
  return ran;
}

fs::path FindProgram(std::initializer_list<const char*> candidates) {
  for (const char* c : candidates) {
    std::error_code ec;
    if (c[0] == '/' && fs::is_regular_file(c, ec)) return c;
    if (c[0] == '/') continue;
    for (const char* dir : {"/usr/games", "/usr/bin", "/usr/local/bin", "/usr/local/games", "/usr/lib/yamagi-quake2"})
      if (fs::is_regular_file(fs::path(dir) / c, ec)) return fs::path(dir) / c;
  }
  return {};
}

// "unshare -n" when it works here (as root): the engine gets a network of its own with only a
// loopback device, which is down. Otherwise the engine binds a port of its own on the machine.
const std::vector<std::string>& Isolation() {
  static const std::vector<std::string> prefix = [] {
    const fs::path unshare = FindProgram({"unshare"});
    if (unshare.empty()) return std::vector<std::string>{};
    TempDir dir;
    const Ran r = Run({unshare.string(), "-n", "/bin/true"}, dir.path(), dir / "out");
    return r.status == 0 ? std::vector<std::string>{unshare.string(), "-n"} : std::vector<std::string>{};
  }();
  return prefix;
}

std::string SomePort() { return std::to_string(27000 + getpid() % 20000); }

// What a run said about the request: the word of the copy it read, that it stopped, or nothing.
std::string WordIn(const std::string& output) {
  const std::size_t at = output.find("TARNW_");
  if (at == std::string::npos) return {};
  std::size_t end = at + 6;
  while (end < output.size() && std::isalnum(static_cast<unsigned char>(output[end]))) ++end;
  return output.substr(at + 6, end - at - 6);
}

// One game folder layout: the files, and which word each copy of the requested name echoes.
class Layout {
 public:
  Layout(const fs::path& root, std::string base) : root_(root), base_(std::move(base)) {}
  const std::string& Base() const { return base_; }
  fs::path Root() const { return root_; }

  static std::string Cfg(const std::string& word) { return "echo TARNW_" + word + "\n"; }
  void Loose(const std::string& path, const std::string& word) {
    WriteFile(root_ / path, Cfg(word));
    words_[path] = word;
  }
  // A pak with the request's copy (when word is given) and a file of padding.
  void Pak(const std::string& path, const std::string& member, const std::string& word) {
    PakBuilder pak;
    pak.File("gfx/padding.lmp", "padding");
    if (!word.empty()) pak.File(member, Cfg(word));
    Raw(path, pak.Build(), word);
  }
  void Zip(const std::string& path, const std::string& member, const std::string& word) {
    Raw(path, ZipBuilder().Deflated("gfx/padding.lmp", ToBytes("padding")).Deflated(member, ToBytes(Cfg(word))).Build(),
        word);
  }
  void Raw(const std::string& path, const Bytes& bytes, const std::string& word = {}) {
    WriteFile(root_ / path, bytes);
    if (!word.empty()) words_[path] = word;
  }
  // The word of the copy `which` named, by its place relative to the root.
  std::string WordOf(const std::string& location) const {
    auto it = words_.find(location);
    return it == words_.end() ? "?" + location : it->second;
  }

 private:
  fs::path root_;
  std::string base_;
  std::map<std::string, std::string> words_;
};

// A pak of one record for name whose data lie at offset; the header's fields as given.
Bytes PakAt(const std::string& name, const std::string& data, std::uint32_t offset) {
  Bytes b(offset, 0);
  std::memcpy(b.data(), "PACK", 4);
  b.insert(b.end(), data.begin(), data.end());
  const std::size_t dir = b.size();
  b.resize(dir + 64, 0);
  std::memcpy(&b[dir], name.data(), std::min<std::size_t>(name.size(), 56));
  PutU32(b, dir + 56, offset);
  PutU32(b, dir + 60, static_cast<std::uint32_t>(data.size()));
  PutU32(b, 4, static_cast<std::uint32_t>(dir));
  PutU32(b, 8, 64);
  return b;
}

Bytes WithHeader(Bytes pak, std::int32_t dirofs, std::int32_t dirlen) {
  PutU32(pak, 4, static_cast<std::uint32_t>(dirofs));
  PutU32(pak, 8, static_cast<std::uint32_t>(dirlen));
  return pak;
}

enum Family : unsigned { kQuake = 1, kDarkPlaces = 2, kYamagi = 4 };

struct Case {
  const char* name;
  unsigned engines;  // the families it is run on
  const char* request;
  const char* mod;  // a mod folder added after the base game, or nullptr
  std::function<void(Layout&)> build;
  bool registered = true;  // Quake: the registered game's gfx/pop.lmp in id1 (else the shareware game)
};

const std::string kLong56 = "maps/" + std::string(47, 'n') + ".cfg";     // 56 bytes: no room for a NUL
const std::string kLong64 = "players/" + std::string(52, 'z') + ".cfg";  // 64 bytes

std::vector<Case> Cases() {
  const unsigned q1 = kQuake | kDarkPlaces;
  const unsigned all = q1 | kYamagi;
  return {
      {"pak0 and a loose copy", all, "test.cfg", nullptr,
       [](Layout& g) {
         g.Pak(g.Base() + "/pak0.pak", "test.cfg", "pak0");
         g.Loose(g.Base() + "/test.cfg", "loose");
       }},
      {"pak1 over pak0", all, "test.cfg", nullptr,
       [](Layout& g) {
         g.Pak(g.Base() + "/pak0.pak", "test.cfg", "pak0");
         g.Pak(g.Base() + "/pak1.pak", "test.cfg", "pak1");
       }},
      {"a gap after pak0", all, "test.cfg", nullptr,
       [](Layout& g) {
         g.Pak(g.Base() + "/pak0.pak", "test.cfg", "pak0");
         g.Pak(g.Base() + "/pak2.pak", "test.cfg", "pak2");
       }},
      {"pak9 and pak10", all, "test.cfg", nullptr,
       [](Layout& g) {
         for (int i = 0; i <= 10; ++i)
           g.Pak(g.Base() + "/pak" + std::to_string(i) + ".pak", "test.cfg",
                 i >= 9 ? "pak" + std::to_string(i) : std::string());
       }},
      {"the mod's loose copy over the base pak", all, "test.cfg", "mod",
       [](Layout& g) {
         g.Pak(g.Base() + "/pak0.pak", "test.cfg", "pak0");
         g.Loose("mod/test.cfg", "mod");
       }},
      {"the mod's pak over the base's loose copy", all, "test.cfg", "mod",
       [](Layout& g) {
         g.Loose(g.Base() + "/test.cfg", "loose");
         g.Pak("mod/pak0.pak", "test.cfg", "modpak");
       }},
      {"a pak member in capitals", all, "test.cfg", nullptr,
       [](Layout& g) { g.Pak(g.Base() + "/pak0.pak", "TEST.CFG", "caps"); }},
      // DarkPlaces' exec looks for its file with FS_Search, a loose name in any case.
      {"a loose file in capitals", all, "test.cfg", nullptr,
       [](Layout& g) { g.Loose(g.Base() + "/TEST.CFG", "caps"); }},
      {"asked in capitals, loose in lower case", all, "TEST.CFG", nullptr,
       [](Layout& g) { g.Loose(g.Base() + "/test.cfg", "lower"); }},
      {"a loose file in capitals in a subfolder", all, "sub/test.cfg", nullptr,
       [](Layout& g) { g.Loose(g.Base() + "/sub/TEST.CFG", "caps"); }},
      {"a subfolder in capitals", all, "sub/test.cfg", nullptr,
       [](Layout& g) { g.Loose(g.Base() + "/SUB/test.cfg", "caps"); }},
      // Quake without gfx/pop.lmp is the shareware game.
      {"shareware: a loose file in a subfolder", kQuake, "sub/test.cfg", nullptr,
       [](Layout& g) { g.Loose(g.Base() + "/sub/test.cfg", "loose"); }, false},
      {"registered: a loose file in a subfolder", kQuake, "sub/test.cfg", nullptr,
       [](Layout& g) { g.Loose(g.Base() + "/sub/test.cfg", "loose"); }},
      {"shareware: a loose file", kQuake, "test.cfg", nullptr,
       [](Layout& g) { g.Loose(g.Base() + "/test.cfg", "loose"); }, false},
      {"shareware: a pak not id's", kQuake, "test.cfg", nullptr,
       [](Layout& g) { g.Pak(g.Base() + "/pak0.pak", "test.cfg", "pak0"); }, false},
      {"shareware: a mod", kQuake, "test.cfg", "mod", [](Layout& g) { g.Loose("mod/test.cfg", "mod"); }, false},
      {"an empty pak1", all, "test.cfg", nullptr,
       [](Layout& g) {
         g.Pak(g.Base() + "/pak0.pak", "test.cfg", "pak0");
         g.Raw(g.Base() + "/pak1.pak", PakBuilder().Build());
         g.Pak(g.Base() + "/pak2.pak", "test.cfg", "pak2");
       }},
      {"pak1's directory past the end of the file", all, "test.cfg", nullptr,
       [](Layout& g) {
         g.Pak(g.Base() + "/pak0.pak", "test.cfg", "pak0");
         g.Raw(g.Base() + "/pak1.pak", WithHeader(PakBuilder().File("a.cfg", "x").Build(), 4096, 64));
         g.Pak(g.Base() + "/pak2.pak", "test.cfg", "pak2");
       }},
      {"pak1's directory offset -1", all, "test.cfg", nullptr,
       [](Layout& g) {
         g.Pak(g.Base() + "/pak0.pak", "test.cfg", "pak0");
         // The record right after the header, where a failed seek leaves the reader.
         const std::string data = Layout::Cfg("pak1");
         Bytes pak(76, 0);
         std::memcpy(pak.data(), "PACK", 4);
         std::memcpy(&pak[12], "test.cfg", 8);
         PutU32(pak, 68, 76);
         PutU32(pak, 72, static_cast<std::uint32_t>(data.size()));
         pak.insert(pak.end(), data.begin(), data.end());
         g.Raw(g.Base() + "/pak1.pak", WithHeader(pak, -1, 64), "pak1");
       }},
      {"pak1's directory length -64", all, "test.cfg", nullptr,
       [](Layout& g) {
         g.Pak(g.Base() + "/pak0.pak", "test.cfg", "pak0");
         g.Raw(g.Base() + "/pak1.pak", WithHeader(PakBuilder().File("a.cfg", "x").Build(), 13, -64));
       }},
      {"pak1 claims 2049 files in 92 bytes", all, "test.cfg", nullptr,
       [](Layout& g) {
         g.Pak(g.Base() + "/pak0.pak", "test.cfg", "pak0");
         g.Raw(g.Base() + "/pak1.pak",
               WithHeader(PakBuilder().File("a.cfg", "1234567890123456").Build(), 28, 2049 * 64));
       }},
      {"pak1 claims 4097 files", all, "test.cfg", nullptr,
       [](Layout& g) {
         g.Pak(g.Base() + "/pak0.pak", "test.cfg", "pak0");
         g.Raw(g.Base() + "/pak1.pak", WithHeader(PakBuilder().File("a.cfg", "x").Build(), 13, 4097 * 64));
       }},
      {"pak1 is not a pak", all, "test.cfg", nullptr,
       [](Layout& g) {
         g.Pak(g.Base() + "/pak0.pak", "test.cfg", "pak0");
         g.Raw(g.Base() + "/pak1.pak", ToBytes("this is no pack file at all"));
         g.Pak(g.Base() + "/pak2.pak", "test.cfg", "pak2");
       }},
      {"pak1 is a zip", all, "test.cfg", nullptr,
       [](Layout& g) {
         g.Pak(g.Base() + "/pak0.pak", "test.cfg", "pak0");
         g.Zip(g.Base() + "/pak1.pak", "test.cfg", "pak1zip");
       }},
      {"a directory of 65 bytes", all, "test.cfg", nullptr,
       [](Layout& g) {
         g.Pak(g.Base() + "/pak0.pak", "test.cfg", "pak0");
         Bytes pak = PakBuilder().File("test.cfg", Layout::Cfg("pak1")).Build();
         pak.push_back(0);
         g.Raw(g.Base() + "/pak1.pak", WithHeader(pak, static_cast<std::int32_t>(pak.size() - 65), 65), "pak1");
       }},
      {"a 56-byte name whose offset starts with 0", all, kLong56.c_str(), nullptr,
       [](Layout& g) { g.Raw(g.Base() + "/pak0.pak", PakAt(kLong56, Layout::Cfg("full"), 256), "full"); }},
      {"a 56-byte name whose offset does not", all, kLong56.c_str(), nullptr,
       [](Layout& g) {
         g.Raw(g.Base() + "/pak0.pak", PakAt(kLong56, Layout::Cfg("runon"), 257), "runon");
         g.Loose(g.Base() + "/" + kLong56, "loose");
       }},
      {"quakespasm.pak in the base folder", q1, "test.cfg", nullptr,
       [](Layout& g) {
         g.Pak(g.Base() + "/pak0.pak", "test.cfg", "pak0");
         g.Pak("quakespasm.pak", "test.cfg", "qspak");
       }},
      {"quakespasm.pak under pak1", q1, "test.cfg", nullptr,
       [](Layout& g) {
         g.Pak(g.Base() + "/pak0.pak", "test.cfg", "pak0");
         g.Pak("quakespasm.pak", "test.cfg", "qspak");
         g.Pak(g.Base() + "/pak1.pak", "test.cfg", "pak1");
       }},
      {"a pak by another name", all, "test.cfg", nullptr,
       [](Layout& g) {
         g.Pak(g.Base() + "/pak0.pak", "test.cfg", "pak0");
         g.Pak(g.Base() + "/zzz.pak", "test.cfg", "zzz");
       }},
      {"paks named like numbered ones", kYamagi, "test.cfg", nullptr,
       [](Layout& g) {
         g.Pak(g.Base() + "/pak0.pak", "test.cfg", "pak0");
         g.Pak(g.Base() + "/pak01.pak", "test.cfg", "pak01");
       }},
      {"pak100.pak", kYamagi, "test.cfg", nullptr,
       [](Layout& g) {
         g.Pak(g.Base() + "/pak0.pak", "test.cfg", "pak0");
         g.Pak(g.Base() + "/pak100.pak", "test.cfg", "pak100");
       }},
      {"pakfoo.pak", kYamagi, "test.cfg", nullptr,
       [](Layout& g) {
         g.Pak(g.Base() + "/pak0.pak", "test.cfg", "pak0");
         g.Pak(g.Base() + "/pakfoo.pak", "test.cfg", "pakfoo");
       }},
      {"PAK1.pak", all, "test.cfg", nullptr,
       [](Layout& g) {
         g.Pak(g.Base() + "/pak0.pak", "test.cfg", "pak0");
         g.Pak(g.Base() + "/PAK1.pak", "test.cfg", "PAK1");
       }},
      {"PAK0.PAK alone", all, "test.cfg", nullptr,
       [](Layout& g) { g.Pak(g.Base() + "/PAK0.PAK", "test.cfg", "PAK0"); }},
      {"a pk3 beside the paks", all, "test.cfg", nullptr,
       [](Layout& g) {
         g.Pak(g.Base() + "/pak0.pak", "test.cfg", "pak0");
         g.Zip(g.Base() + "/extra.pk3", "test.cfg", "pk3");
       }},
      {"pak0.pk3 over pak0.pak", kYamagi, "test.cfg", nullptr,
       [](Layout& g) {
         g.Pak(g.Base() + "/pak0.pak", "test.cfg", "pak0");
         g.Zip(g.Base() + "/pak0.pk3", "test.cfg", "pk3");
       }},
      {"an empty pk3", kDarkPlaces | kYamagi, "test.cfg", nullptr,
       [](Layout& g) {
         g.Pak(g.Base() + "/pak0.pak", "test.cfg", "pak0");
         g.Raw(g.Base() + "/pak1.pk3", ZipBuilder().Build());
       }},
      {"a pk3dir", kDarkPlaces, "test.cfg", nullptr,
       [](Layout& g) {
         g.Pak(g.Base() + "/pak0.pak", "test.cfg", "pak0");
         g.Loose(g.Base() + "/extra.pk3dir/test.cfg", "pk3dir");
       }},
      {"maps.lst only in pak0", kYamagi, "maps.lst", nullptr,
       [](Layout& g) { g.Pak(g.Base() + "/pak0.pak", "maps.lst", "pak0"); }},
      {"maps.lst in pak0 with a mod", kYamagi, "maps.lst", "mod",
       [](Layout& g) {
         g.Pak(g.Base() + "/pak0.pak", "maps.lst", "pak0");
         g.Loose("mod/readme.txt", "none");
       }},
      {"players/ in pak0 and loose", kYamagi, "players/test.cfg", nullptr,
       [](Layout& g) {
         g.Pak(g.Base() + "/pak0.pak", "players/test.cfg", "pak0");
         g.Pak(g.Base() + "/pak1.pak", "players/test.cfg", "pak1");
         g.Loose(g.Base() + "/players/test.cfg", "loose");
       }},
      {"a zip member of 64 bytes", kDarkPlaces | kYamagi, kLong64.c_str(), nullptr,
       [](Layout& g) {
         g.Pak(g.Base() + "/pak0.pak", kLong64, "");
         g.Zip(g.Base() + "/pak0.pk3", kLong64, "long");
       }},
  };
}

struct Engine {
  const char* family;
  unsigned flag;
  const char* profile;  // tarn-pak's --engine
  const char* base;     // the base game's folder
  fs::path program;
  // The command line that runs the dedicated server on root, with the mod if any, and execs name.
  std::function<std::vector<std::string>(const Engine&, const fs::path& root, const char* mod, const std::string&)>
      command;
  bool unprivileged = false;  // refuses to run as root
};

// Tarn's answer in the terms of the engine's: the word, "stops", or "" for no copy.
std::string TarnAnswer(const Engine& e, const Layout& g, const Case& c, const fs::path& out) {
  std::vector<std::string> args = {TARN_PAK_PATH, "-q", "which", "--engine", e.profile, (g.Root() / e.base).string()};
  if (c.mod) args.push_back((g.Root() / c.mod).string());
  args.push_back(c.request);
  const Ran r = Run(args, g.Root(), out);
  if (r.status == 0) {
    const std::string first = r.output.substr(0, r.output.find('\t'));
    return g.WordOf(fs::path(first).lexically_relative(g.Root()).string());
  }
  if (r.output.find("would stop with a fatal error") != std::string::npos ||
      r.output.find("stop with a fatal error") != std::string::npos)
    return "stops";
  if (r.status == 1 && r.output.find("no copy of") != std::string::npos) return "";
  return "tarn failed: " + r.output;
}

void RunOracle(Engine e) {
  if (e.program.empty()) GTEST_SKIP() << e.family << " is not installed";
  std::vector<std::string> wrap = Isolation();
  int uid = 0;
  if (e.unprivileged && geteuid() == 0) {
    // A user id no account has: the engine can read the folders and write only its home.
    const fs::path setpriv = FindProgram({"setpriv"});
    if (setpriv.empty()) GTEST_SKIP() << e.family << " refuses root, and setpriv is not installed";
    uid = 64999;
    for (const char* a : {"--reuid=64999", "--regid=64999", "--clear-groups", "--"}) wrap.push_back(a);
    wrap.insert(wrap.end() - 4, setpriv.string());
  }
  int agree = 0, total = 0;
  for (const Case& c : Cases()) {
    if (!(c.engines & e.flag)) continue;
    TempDir dir;
    Layout g(dir.path(), e.base);
    fs::create_directories(dir / e.base);
    if (c.mod) fs::create_directories(dir / c.mod);
    c.build(g);
    if (e.flag == kQuake) {
      // Quakespasm's dedicated server wants a gfx.wad (an empty WAD2 will do) and, to take -game
      // and +exec on modified paks, the registered game's gfx/pop.lmp.
      WriteFile(dir / e.base / "gfx.wad", Bytes{'W', 'A', 'D', '2', 0, 0, 0, 0, 12, 0, 0, 0});
      if (c.registered) {
        fs::create_directories(dir / e.base / "gfx");
        fs::copy_file(SamplesDir() / "LibreQuake/lq1/gfx/pop.lmp", dir / e.base / "gfx/pop.lmp");
      } else {
        // The shareware game runs no "+" command (COM_CheckRegistered sets the cmdline cvar
        // that stuffcmds reads only for the registered one), but the dedicated server execs
        // autoexec.cfg before them; it then fails to load a map, which it was given none of.
        WriteFile(dir / e.base / "autoexec.cfg", "exec " + std::string(c.request) + "\n");
      }
    }
    const fs::path home = dir / "home";
    fs::create_directories(home);
    if (uid) {
      // Whatever the umask: the engine's user reads the layout and writes its home.
      for (const auto& f : fs::recursive_directory_iterator(dir.path()))
        fs::permissions(f.path(),
                        fs::perms::others_read | (f.is_directory() ? fs::perms::others_exec : fs::perms::none),
                        fs::perm_options::add);
      fs::permissions(dir.path(), fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
      fs::permissions(home, fs::perms::all);
    }
    std::vector<std::string> argv = wrap;
    for (std::string& a : e.command(e, dir.path(), c.mod, c.request)) argv.push_back(std::move(a));
    const Ran engine = Run(argv, home, dir / "engine.out");
    ASSERT_FALSE(engine.timedOut) << e.family << " did not end on " << c.name << ":\n" << engine.output;
    std::string said = WordIn(engine.output);
    // "couldn't exec NAME" is the engine's answer that there is no copy, whatever it does next.
    const bool none = engine.output.find("couldn't exec " + std::string(c.request)) != std::string::npos;
    if (said.empty() && !none && engine.status != 0) said = "stops";
    const std::string tarn = TarnAnswer(e, g, c, dir / "tarn.out");
    ++total;
    std::cout << "oracle: " << e.family << ": " << c.name << ": engine \"" << said << "\", tarn-pak \"" << tarn
              << "\"\n";
    if (said == tarn) ++agree;
    else
      ADD_FAILURE() << e.family << ", " << c.name << ": the engine gives \"" << said << "\", tarn-pak which \"" << tarn
                    << "\"\n"
                    << engine.output;
  }
  std::cout << "oracle: " << e.family << ": " << total << " layouts, " << agree << " agree\n";
}

TEST(EngineOracle, Quakespasm) {
  TARN_REQUIRE_SAMPLES();  // for gfx/pop.lmp
  RunOracle({"Quakespasm", kQuake, "quake", "id1", FindProgram({"quakespasm"}),
             [](const Engine& e, const fs::path& root, const char* mod, const std::string& name) {
               std::vector<std::string> a = {e.program.string(), "-dedicated", "-basedir",
                                             root.string(),      "-port",      SomePort()};
               if (mod) a.insert(a.end(), {"-game", mod});
               a.insert(a.end(), {"+exec", name, "+quit"});
               return a;
             }});
}

TEST(EngineOracle, DarkPlaces) {
  RunOracle({"DarkPlaces", kDarkPlaces, "darkplaces", "id1", FindProgram({"darkplaces-server", "darkplaces-dedicated"}),
             [](const Engine& e, const fs::path& root, const char* mod, const std::string& name) {
               std::vector<std::string> a = {e.program.string(), "-basedir", root.string(), "-ip",
                                             "127.0.0.1",        "-port",    SomePort()};
               if (mod) a.insert(a.end(), {"-game", mod});
               a.insert(a.end(), {"+exec", name, "+quit"});
               return a;
             }});
}

TEST(EngineOracle, Yamagi) {
  // TARN_Q2DED names a q2ded built or installed elsewhere (Debian 12 has it in contrib).
  const char* own = std::getenv("TARN_Q2DED");
  Engine e{"Yamagi Quake II",
           kYamagi,
           "yamagi",
           "baseq2",
           own && *own ? fs::path(own) : FindProgram({"q2ded"}),
           [](const Engine& e, const fs::path& root, const char* mod, const std::string& name) {
             std::vector<std::string> a = {e.program.string(), "-datadir", root.string(), "+set", "port", SomePort()};
             if (mod) a.insert(a.end(), {"+set", "game", mod});
             a.insert(a.end(), {"+exec", name, "+quit"});
             return a;
           }};
  e.unprivileged = true;
  RunOracle(e);
}

// --- models ---

// What an engine made of a model, and what `check --engine` says it makes of it.
constexpr const char* kLoads = "loads";
constexpr const char* kStops = "stops";
constexpr const char* kLeftOut = "leaves it out";
constexpr const char* kMovesCoordinates = "moves texture coordinates";

struct ModelCase {
  const char* name;
  unsigned engines;
  bool md2;
  Bytes bytes;
  const char* file = nullptr;  // where the game holds it, when not progs/t.mdl or models/t/tris.md2
};

std::string ModelPath(const ModelCase& c) {
  if (c.file) return c.file;
  return c.md2 ? "models/t/tris.md2" : "progs/t.mdl";
}

// A quad of two triangles whose corners sit on the skin's four edges (u and v of 0 and 1), as
// Tarn's `model` writes it.
Bytes BuiltModel(int format) {
  SourceModel quad;
  quad.vertexCount = 4;
  quad.triangles = {{{{0, 0, 0}, {1, 1, 0}, {2, 1, 1}}}, {{{0, 0, 0}, {2, 1, 1}, {3, 0, 1}}}};
  quad.frames = {{"base1", {0, 0, 0, 0, 16, 0, 0, 16, 16, 0, 0, 16}}};
  PackedModel packed;
  std::string why;
  EXPECT_TRUE(PackModel(quad, format, 16, 16, packed, &why)) << why;
  packed.skin.assign(16 * 16, 7);
  packed.skinPath = "models/t/skin.pcx";
  return format == ModelData::kMd2 ? WriteMd2(packed) : WriteMdl(packed);
}

// A model put through in-place edits, each of which must succeed.
Bytes Edited(Bytes bytes, const std::vector<ModelEdit>& edits) {
  for (const ModelEdit& e : edits) {
    Bytes out;
    std::string why;
    EXPECT_TRUE(ApplyModelEdit(bytes, e, out, nullptr, &why)) << why;
    bytes = std::move(out);
  }
  return bytes;
}

ModelEdit Edit(ModelEdit::Kind kind, int index = 0, Bytes bytes = {}, std::int32_t value = 0) {
  ModelEdit e;
  e.kind = kind, e.index = index, e.bytes = std::move(bytes), e.value = value;
  return e;
}

// Tarn's quad edited as modeledit edits: a frame renamed, a second skin grouped with the first,
// flags (a rocket's trail, turning), random sync and an eye; an MD2's second skin path.
Bytes EditedModel(int format) {
  using K = ModelEdit::Kind;
  const Bytes built = BuiltModel(format);
  Bytes name, path;
  FrameNameField("idle1", name);
  if (format == ModelData::kMd2) {
    SkinPathField("models/t/skin2.pcx", path);
    return Edited(built, {Edit(K::RenameFrame, 0, name), Edit(K::InsertSkin, 1, path)});
  }
  const Bytes skin(built.begin() + 84, built.begin() + 84 + 4 + 16 * 16);
  const float times[] = {0.1f, 0.2f}, eye[] = {0, 0, 12};
  ModelEdit group = Edit(K::GroupSkins, 0, FloatBytes(times));
  group.count = 2;
  return Edited(built,
                {Edit(K::RenameFrame, 0, name), Edit(K::InsertSkin, 1, skin), group, Edit(K::SetFlags, 0, {}, 1 | 8),
                 Edit(K::SetSyncType, 0, {}, 1), Edit(K::SetEye, 0, FloatBytes(eye))});
}

std::vector<ModelCase> ModelCases() {
  Bytes version7 = Mdl({"stand1"});
  PutU32(version7, 4, 7);
  Bytes noSkins = Mdl({"stand1"});
  PutU32(noSkins, 48, 0);
  Bytes notMdl = Mdl({"stand1"});
  std::memcpy(notMdl.data(), "IDPX", 4);
  Bytes md2Version9 = BuiltModel(ModelData::kMd2);
  PutU32(md2Version9, 4, 9);
  // The quad as Tarn wrote it before: u = 1 as s = skinwidth (and v = 1 as t = skinheight).
  Bytes edgeSt = BuiltModel(ModelData::kMd2);
  const std::uint32_t stAt = edgeSt[48] | edgeSt[49] << 8, stCount = edgeSt[28];
  for (std::uint32_t i = 0; i < stCount; ++i)
    for (std::uint32_t k = 0; k < 2; ++k)
      if (edgeSt[stAt + 4 * i + 2 * k] == 15) edgeSt[stAt + 4 * i + 2 * k] = 16;
  // A Half-Life model's header and an MD5 mesh's first line, formats neither engine reads.
  Bytes halfLife = ToBytes("IDST");
  PutU32(halfLife, 4, 10);
  halfLife.resize(244);
  const unsigned q1 = kQuake | kDarkPlaces;
  return {
      {"a Half-Life model", q1, false, halfLife},
      {"an MD5 mesh", q1, false, ToBytes("MD5Version 10\ncommandline \"\"\n"), "progs/t.md5mesh"},
      {"a plain model", q1, false, Mdl({"stand1"})},
      {"a model Tarn made", q1, false, BuiltModel(ModelData::kMdl)},
      {"version 7", q1, false, version7},
      {"no skins", kQuake, false, noSkins},
      {"not IDPO", q1, false, notMdl},
      {"a Quake II model Tarn made", kDarkPlaces, true, BuiltModel(ModelData::kMd2)},
      {"a Quake II model of version 9", kDarkPlaces, true, md2Version9},
      {"texture coordinates on the skin's far edges", kDarkPlaces, true, edgeSt},
      {"a model edited in place", q1, false, EditedModel(ModelData::kMdl)},
      {"a Quake II model edited in place", kDarkPlaces, true, EditedModel(ModelData::kMd2)},
  };
}

// What check --engine says of the model at entry: the first model rule's verdict.
std::string TarnModelAnswer(const char* profile, const fs::path& base, const fs::path& out) {
  const Ran r = Run({TARN_PAK_PATH, "check", "--engine", profile, base.string()}, base, out);
  for (std::size_t at = 0, end; at < r.output.size(); at = end + 1) {
    end = r.output.find('\n', at);
    if (end == std::string::npos) end = r.output.size();
    const std::string line = r.output.substr(at, end - at);
    if (line.find(": model-skin-coordinates]") != std::string::npos) return kMovesCoordinates;
    if (line.find(": model-header]") == std::string::npos && line.find(": model-limits]") == std::string::npos &&
        line.find(": model-format]") == std::string::npos)
      continue;
    return line.find("leaves the model out") != std::string::npos ? kLeftOut : kStops;
  }
  return r.status == 0 || r.status == 1 ? kLoads : "tarn failed: " + r.output;
}

// Runs each case's model through the engine; engineVerdict reads the engine's output.
void RunModelOracle(const char* family, unsigned flag, const fs::path& program, const char* profile,
                    const std::function<std::vector<std::string>(const fs::path& root, const ModelCase&)>& command,
                    const std::function<void(const fs::path& root, const ModelCase&)>& lay,
                    const std::function<std::string(const Ran&)>& engineVerdict) {
  if (program.empty()) GTEST_SKIP() << family << " is not installed";
  int agree = 0, total = 0;
  for (const ModelCase& c : ModelCases()) {
    if (!(c.engines & flag)) continue;
    TempDir dir;
    fs::create_directories(dir / "id1");
    lay(dir.path(), c);
    const fs::path home = dir / "home";
    fs::create_directories(home);
    std::vector<std::string> argv = Isolation();
    for (std::string& a : command(dir.path(), c)) argv.push_back(std::move(a));
    const Ran engine = Run(argv, home, dir / "engine.out");
    ASSERT_FALSE(engine.timedOut) << family << " did not end on " << c.name << ":\n" << engine.output;
    const std::string said = engineVerdict(engine);
    // Tarn reads the model where the game would find it.
    const fs::path tarnRoot = dir / "tarn" / "id1";
    WriteFile(tarnRoot / ModelPath(c), c.bytes);
    const std::string tarn = TarnModelAnswer(profile, tarnRoot, dir / "tarn.out");
    ++total;
    std::cout << "oracle: " << family << ": " << c.name << ": engine \"" << said << "\", tarn-pak \"" << tarn << "\"\n";
    if (said == tarn) ++agree;
    else
      ADD_FAILURE() << family << ", " << c.name << ": the engine " << said << ", tarn-pak check says it " << tarn
                    << "\n"
                    << engine.output;
  }
  std::cout << "oracle: " << family << ": " << total << " models, " << agree << " agree\n";
}

// The smallest progs.dat Quakespasm 0.95 runs a map with: its header (PROG_VERSION 6,
// PROGHEADER_CRC 5927), room for the engine's globals and entity fields, and StartFrame a
// function that returns at once (global 83 in progdefs.q1's globalvars_t).
Bytes MinimalProgs() {
  constexpr std::uint32_t kGlobals = 512, kFields = 256, kStartFrame = 83;
  Bytes statements(2 * 8, 0);  // statement 0, then OP_DONE
  Bytes functions(2 * 36, 0);  // function 0 is empty; function 1 starts at statement 1
  PutU32(functions, 36, 1);
  PutU32(functions, 36 + 16, 1);  // its name, "StartFrame"
  const std::string strings("\0StartFrame\0", 12);
  Bytes globals(kGlobals * 4, 0);
  PutU32(globals, kStartFrame * 4, 1);
  Bytes progs(60, 0);
  const std::uint32_t atStatements = 60, atFunctions = atStatements + 16, atStrings = atFunctions + 72;
  const std::uint32_t atGlobals = atStrings + static_cast<std::uint32_t>(strings.size());
  const std::uint32_t header[15] = {6,           5927,     atStatements, 2,
                                    atGlobals,   0,        atGlobals,    0,
                                    atFunctions, 2,        atStrings,    static_cast<std::uint32_t>(strings.size()),
                                    atGlobals,   kGlobals, kFields};
  for (int i = 0; i < 15; ++i) PutU32(progs, 4 * static_cast<std::size_t>(i), header[i]);
  for (const Bytes* part : {&statements, &functions}) progs.insert(progs.end(), part->begin(), part->end());
  progs.insert(progs.end(), strings.begin(), strings.end());
  progs.insert(progs.end(), globals.begin(), globals.end());
  return progs;
}

TEST(EngineOracle, QuakespasmModels) {
  TARN_REQUIRE_SAMPLES();  // for gfx/pop.lmp
  // Quakespasm's dedicated server loads models only for a map it runs. It picks the loader by
  // the file's first bytes (gl_model.c Mod_LoadModel), so the model stands in for the map:
  // "+map t" loads maps/t.bsp through the model loader. One that loads gets as far as the
  // server's baseline, which wants the player's model this progs.dat never precached.
  RunModelOracle(
      "Quakespasm", kQuake, FindProgram({"quakespasm"}), "quake",
      [](const fs::path& root, const ModelCase&) {
        return std::vector<std::string>{FindProgram({"quakespasm"}).string(),
                                        "-dedicated",
                                        "-basedir",
                                        root.string(),
                                        "-port",
                                        SomePort(),
                                        "+map",
                                        "t",
                                        "+quit"};
      },
      [](const fs::path& root, const ModelCase& c) {
        fs::create_directories(root / "id1/gfx");
        WriteFile(root / "id1/gfx.wad", Bytes{'W', 'A', 'D', '2', 0, 0, 0, 0, 12, 0, 0, 0});
        fs::copy_file(SamplesDir() / "LibreQuake/lq1/gfx/pop.lmp", root / "id1/gfx/pop.lmp");
        WriteFile(root / "id1/progs.dat", MinimalProgs());
        WriteFile(root / "id1/maps/t.bsp", c.bytes);
      },
      [](const Ran& r) {
        return r.output.find("model progs/player.mdl not precached") != std::string::npos ? kLoads : kStops;
      });
}

TEST(EngineOracle, DarkPlacesModels) {
  // modelprecache loads a model by its name without a map (model_shared.c Mod_Precache).
  RunModelOracle(
      "DarkPlaces", kDarkPlaces, FindProgram({"darkplaces-server", "darkplaces-dedicated"}), "darkplaces",
      [](const fs::path& root, const ModelCase& c) {
        return std::vector<std::string>{FindProgram({"darkplaces-server", "darkplaces-dedicated"}).string(),
                                        "-basedir",
                                        root.string(),
                                        "-ip",
                                        "127.0.0.1",
                                        "-port",
                                        SomePort(),
                                        "+modelprecache",
                                        ModelPath(c),
                                        "+quit"};
      },
      [](const fs::path& root, const ModelCase& c) { WriteFile(root / "id1" / ModelPath(c), c.bytes); },
      [](const Ran& r) {
        if (r.output.find("Host_Error") != std::string::npos) return kStops;
        if (r.output.find("unknown/unsupported type") != std::string::npos) return kLeftOut;
        if (r.output.find("invalid skin coordinate") != std::string::npos) return kMovesCoordinates;
        return r.status == 0 ? kLoads : kStops;
      });
}

// Three frames of Tarn's quad, each higher than the one before, in the order given.
Bytes RisingModel(const std::vector<int>& order) {
  SourceModel quad;
  quad.vertexCount = 4;
  quad.triangles = {{{{0, 0, 0}, {1, 1, 0}, {2, 1, 1}}}, {{{0, 0, 0}, {2, 1, 1}, {3, 0, 1}}}};
  const char* names[] = {"stand1", "walk1", "walk2"};
  for (int f : order) {
    const float z = 8.0f * static_cast<float>(f);
    quad.frames.push_back({names[f], {0, 0, z, 16, 0, z, 16, 16, z, 0, 16, z}});
  }
  PackedModel packed;
  std::string why;
  EXPECT_TRUE(PackModel(quad, ModelData::kMdl, 16, 16, packed, &why)) << why;
  packed.skin.assign(16 * 16, 7);
  return WriteMdl(packed);
}

// The positions DarkPlaces exports of a model's first frame (modeldecompile writes its OBJ,
// model_shared.c Mod_Decompile_f), as the "v" lines of that file.
std::string DarkPlacesFirstFrame(const fs::path& program, const Bytes& pak) {
  TempDir dir;
  WriteFile(dir / "id1/pak0.pak", pak);
  fs::create_directories(dir / "home");
  std::vector<std::string> argv = Isolation();
  for (const std::string& a :
       {program.string(), std::string("-basedir"), dir.path().string(), std::string("-ip"), std::string("127.0.0.1"),
        std::string("-port"), SomePort(), std::string("+modelprecache"), std::string("progs/t.mdl"),
        std::string("+modeldecompile"), std::string("progs/t.mdl"), std::string("+quit")})
    argv.push_back(a);
  const Ran r = Run(argv, dir / "home", dir / "engine.out");
  EXPECT_FALSE(r.timedOut) << r.output;
  std::string lines;
  for (const auto& f : fs::recursive_directory_iterator(dir / "home"))
    if (f.path().filename() == "t_decompiled.obj") {
      const Bytes obj = ReadFile(f.path());
      std::istringstream in(std::string(obj.begin(), obj.end()));
      for (std::string line; std::getline(in, line);)
        if (line.rfind("v ", 0) == 0) lines += line + "\n";
    }
  return lines;
}

// A frame moved first by tarn-pak modeledit, in an archive, is the frame DarkPlaces loads first:
// the same as a model built with that frame first, and not the model's old first frame.
TEST(EngineOracle, DarkPlacesLoadsTheFramesModeleditMoved) {
  const fs::path program = FindProgram({"darkplaces-server", "darkplaces-dedicated"});
  if (program.empty()) GTEST_SKIP() << "DarkPlaces is not installed";
  TempDir dir;
  WriteFile(dir / "pak0.pak", PakBuilder().File("progs/t.mdl", RisingModel({0, 1, 2})).Build());
  const std::string before = DarkPlacesFirstFrame(program, ReadFile(dir / "pak0.pak"));
  ASSERT_FALSE(before.empty()) << "DarkPlaces wrote no OBJ of the model";
  const Ran edit = tarn::test::Run({TARN_PAK_PATH, "modeledit", (dir / "pak0.pak").string(), "progs/t.mdl",
                                    "--move-frame", "walk2", "0", "--rename-frame", "2", "run9", "--flags", "rotate"},
                                   dir.path(), dir / "tarn.out");
  ASSERT_EQ(edit.status, 0) << edit.output;
  const std::string after = DarkPlacesFirstFrame(program, ReadFile(dir / "pak0.pak"));
  const std::string expected =
      DarkPlacesFirstFrame(program, PakBuilder().File("progs/t.mdl", RisingModel({2, 0, 1})).Build());
  std::cout << "oracle: DarkPlaces: first frame before the edit:\n" << before << "after moving walk2 first:\n" << after;
  EXPECT_NE(after, before);
  EXPECT_EQ(after, expected);
}

// --- replacement textures, as Quakespasm's client draws them ---

// The mean structural similarity of two pictures of one size: SSIM over 8 × 8 windows of their
// luma, four pixels apart, with the usual constants (0.01 and 0.03 of the range, squared).
double MeanSsim(const RgbaImage& a, const RgbaImage& b) {
  auto luma = [](const RgbaImage& img, int x, int y) {
    const std::uint8_t* p =
        img.Pixel(static_cast<std::size_t>(y) * static_cast<std::size_t>(img.width) + static_cast<std::size_t>(x));
    return 0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2];
  };
  constexpr double c1 = (0.01 * 255) * (0.01 * 255), c2 = (0.03 * 255) * (0.03 * 255);
  double sum = 0;
  int windows = 0;
  for (int y = 0; y + 8 <= a.height; y += 4)
    for (int x = 0; x + 8 <= a.width; x += 4) {
      double ma = 0, mb = 0, va = 0, vb = 0, cov = 0;
      for (int dy = 0; dy < 8; ++dy)
        for (int dx = 0; dx < 8; ++dx) ma += luma(a, x + dx, y + dy), mb += luma(b, x + dx, y + dy);
      ma /= 64, mb /= 64;
      for (int dy = 0; dy < 8; ++dy)
        for (int dx = 0; dx < 8; ++dx) {
          const double da = luma(a, x + dx, y + dy) - ma, db = luma(b, x + dx, y + dy) - mb;
          va += da * da, vb += db * db, cov += da * db;
        }
      va /= 63, vb /= 63, cov /= 63;
      sum += ((2 * ma * mb + c1) * (2 * cov + c2)) / ((ma * ma + mb * mb + c1) * (va + vb + c2));
      ++windows;
    }
  return windows ? sum / windows : 0;
}

double MeanChannel(const RgbaImage& img, int channel) {
  double sum = 0;
  for (std::size_t i = 0; i < img.PixelCount(); ++i) sum += img.Pixel(i)[channel];
  return sum / static_cast<double>(std::max<std::size_t>(img.PixelCount(), 1));
}

// Quakespasm 0.95.1 reads replacement world textures as .tga from textures/MAPNAME/ and then
// textures/. LibreQuake's e2m2 drawn with every world texture replaced by Tarn's export must look
// as it does without them, where a wall's lights glow too; the same without the glow layers
// loses the lights; a different replacement shows.
TEST(EngineOracle, QuakespasmDrawsTarnsReplacementsAsItsOwnTextures) {
  TARN_REQUIRE_SAMPLES();
  const fs::path shot = SamplesDir().parent_path() / "tools/engine-shot";
  std::error_code ec;
  if (FindProgram({"quakespasm"}).empty() || FindProgram({"Xvfb"}).empty() || !fs::is_regular_file(shot, ec))
    GTEST_SKIP() << "needs quakespasm, Xvfb and " << shot;
  TempDir t;
  fs::create_directories(t / "q");
  fs::create_directory_symlink(SamplesDir() / "LibreQuake/lq1", t / "q/id1");
  const Ran exported = tarn::test::Run({TARN_PAK_PATH, "textures", (SamplesDir() / "LibreQuake/lq1").string(),
                                        "--engine", "quakespasm", "--out", (t / "q/tarn").string()},
                                       t.path(), t / "export.txt", std::chrono::seconds(120));
  ASSERT_EQ(exported.status, 0) << exported.output;
  // The same without its glow layers, and one whose pictures lost their green.
  fs::create_directories(t / "q/noglow/textures");
  fs::create_directories(t / "q/nogreen/textures");
  for (const auto& e : fs::recursive_directory_iterator(t / "q/tarn")) {
    if (!e.is_regular_file()) continue;
    const fs::path rel = fs::relative(e.path(), t / "q/tarn");
    const bool glow = rel.filename().string().find("_glow") != std::string::npos;
    fs::create_directories((t / "q/noglow" / rel).parent_path());
    fs::create_directories((t / "q/nogreen" / rel).parent_path());
    if (!glow) fs::copy_file(e.path(), t / "q/noglow" / rel);
    RgbaImage image;
    ASSERT_TRUE(DecodeImage(ReadFile(e.path()), "x.tga", image, nullptr)) << rel;
    if (!glow)
      for (std::size_t i = 0; i < image.PixelCount(); ++i) image.rgba[4 * i + 1] = 0;
    Bytes tga;
    ASSERT_TRUE(EncodeTga(image, tga, nullptr));
    WriteFile(t / "q/nogreen" / rel, tga);
  }
  // The player's start, and a wall whose lights glow (the texture may_lite1_1).
  const std::vector<std::vector<std::string>> views = {{}, {"--pos", "-352 416 -128", "--angles", "0 180 0"}};
  std::string cannotRun;
  auto take = [&](const std::string& game, std::size_t view) {
    const fs::path png = t / (game + std::to_string(view) + ".png");
    std::vector<std::string> argv = {shot.string(), "--quiet", "--base", (t / "q").string(),
                                     "--map",       "e2m2",    "--out",  png.string()};
    if (!game.empty()) argv.insert(argv.end(), {"--game", game});
    argv.insert(argv.end(), views[view].begin(), views[view].end());
    const Ran r = tarn::test::Run(argv, t.path(), t / "shot.txt", std::chrono::seconds(120));
    RgbaImage image;
    // engine-shot runs the engine in a private mount namespace; where the machine refuses one
    // (a chroot, some containers) the engine cannot be asked, as where it is not installed.
    if (r.status != 0 && r.output.find("unshare:") != std::string::npos) {
      cannotRun = r.output;
      return image;
    }
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(DecodeImage(ReadFile(png), "x.png", image, nullptr)) << r.output;
    return image;
  };
  for (std::size_t view = 0; view < views.size(); ++view) {
    SCOPED_TRACE(view);
    const RgbaImage own = take("", view);
    if (!cannotRun.empty()) GTEST_SKIP() << "engine-shot cannot run the engine here: " << cannotRun;
    const RgbaImage tarn = take("tarn", view), noGlow = take("noglow", view), noGreen = take("nogreen", view);
    ASSERT_EQ(own.width, tarn.width);
    const double same = MeanSsim(own, tarn), withoutGlow = MeanSsim(own, noGlow), green = MeanSsim(own, noGreen);
    std::cout << "view " << view << ": SSIM of Tarn's replacements " << same << ", without their glow layers "
              << withoutGlow << ", without green " << green << "\n";
    EXPECT_GE(same, 0.99);
    EXPECT_LT(green, 0.9);
    EXPECT_LT(MeanChannel(noGreen, 1), MeanChannel(own, 1) / 2);
    if (view == 1) EXPECT_LT(withoutGlow, same);  // the lights need their glow layer
  }
}

}  // namespace
}  // namespace tarn::test
