#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>

#include <thread>

#include "TestSupport.h"
#include "ZipBuilder.h"
#include "document/TarnDoc.h"

namespace tarn::test {
namespace {

struct CountingObserver : CDocObserver {
  int calls = 0;
  void OnDocumentChanged(CTarnDoc&) override { ++calls; }
};

class Doc : public ::testing::Test {
 protected:
  TempDir dir;
  CTarnDoc doc;
  fs::path Pak(const std::string& name, const Bytes& b) {
    auto p = dir / name;
    WriteFile(p, b);
    return p;
  }
};

TEST_F(Doc, NewDocumentIsAnEmptyRoot) {
  EXPECT_TRUE(doc.New());
  EXPECT_EQ(doc.Root().Name(), "root");
  EXPECT_TRUE(doc.Root().IsDirectory());
  EXPECT_EQ(doc.Title(), "Untitled");
  EXPECT_FALSE(doc.HasSource());
}

TEST_F(Doc, EmptyTreeSavesAsTwelveBytes) {
  doc.Root().AddChild("empty", true)->AddChild("deeper", true);
  ASSERT_TRUE(doc.Save(dir / "e.pak")) << doc.LastError();
  EXPECT_EQ(ReadFile(dir / "e.pak"), (Bytes{'P', 'A', 'C', 'K', 12, 0, 0, 0, 0, 0, 0, 0}));
  ASSERT_TRUE(doc.Open(dir / "e.pak"));
  EXPECT_EQ(doc.Root().ChildCount(), 0u);  // empty directories are not stored
}

TEST_F(Doc, ArchiveInSaveOrderSavesByteForByte) {
  // Files of the root first, then each directory's files, then its subdirectories.
  Bytes original = PakBuilder()
                       .File("a.cfg", "exec x")
                       .File("z.txt", "")
                       .File("maps/e1m1.bsp", Bytes(3000, 0x42))
                       .File("maps/b/deep.wal", "wal")
                       .File("progs/ogre.mdl", "IDPO")
                       .Build();
  // Zero-filled names after the NUL, as the writer makes them.
  auto path = Pak("in.pak", original);
  ASSERT_TRUE(doc.Open(path));
  ASSERT_TRUE(doc.Save(dir / "out.pak")) << doc.LastError();
  EXPECT_EQ(ReadFile(dir / "out.pak"), original);
  ASSERT_TRUE(doc.Save(path)) << doc.LastError();  // over itself
  EXPECT_EQ(ReadFile(path), original);
}

// An archive that says it holds many entries has them made in one region of large pages;
// opening one after another (and a second beside the first) must leave every entry whole.
TEST_F(Doc, LargeArchivesOpenOneAfterAnotherWhole) {
  PakBuilder big;
  for (int i = 0; i < 10000; ++i)
    big.File("d" + std::to_string(i % 40) + "/f" + std::to_string(i) + ".txt", std::to_string(i));
  auto path = Pak("big.pak", big.Build());
  CTarnDoc other;
  for (CTarnDoc* d : {&doc, &other, &doc}) {
    ASSERT_TRUE(d->Open(path)) << d->LastError();
    ASSERT_EQ(d->Root().CountFiles(), 10000);
  }
  for (int i = 0; i < 10000; i += 1499) {
    const std::string name = "d" + std::to_string(i % 40) + "/f" + std::to_string(i) + ".txt";
    EXPECT_EQ(Load(doc.Root().FindByPath(name)), ToBytes(std::to_string(i))) << name;
    EXPECT_EQ(Load(other.Root().FindByPath(name)), ToBytes(std::to_string(i))) << name;
  }
}

TEST_F(Doc, SaveReordersIntoFilesFirstAndReloadsTheSameTree) {
  auto path = Pak("in.pak", PakBuilder().File("maps/m.bsp", "map").File("top.txt", "top").Build());
  ASSERT_TRUE(doc.Open(path));
  ASSERT_TRUE(doc.Save(path));
  Bytes saved = ReadFile(path);
  EXPECT_EQ(std::string(saved.begin() + 12, saved.begin() + 18), "topmap");
  CTarnDoc again;
  ASSERT_TRUE(again.Open(path));
  EXPECT_EQ(Load(again.Root().FindByPath("maps/m.bsp")), ToBytes("map"));
  EXPECT_EQ(Load(again.Root().FindByPath("top.txt")), ToBytes("top"));
}

TEST_F(Doc, SavingElsewhereMakesTheNewFileTheSource) {
  auto a = Pak("a.pak", PakBuilder().File("x/f.txt", "payload").Build());
  ASSERT_TRUE(doc.Open(a));
  doc.Root().AddChild("new.txt", false);  // an empty file: a record, no bytes
  doc.SetModified();
  ASSERT_TRUE(doc.Save(dir / "b.pak"));
  EXPECT_FALSE(doc.IsModified());
  EXPECT_EQ(doc.PathName(), dir / "b.pak");
  fs::remove(a);  // entries must now load from b.pak
  CPackObject* f = doc.Root().FindByPath("x/f.txt");
  EXPECT_EQ(f->Offset(), 12);
  EXPECT_EQ(Load(f), ToBytes("payload"));
  EXPECT_EQ(doc.Root().FindChild("new.txt")->Offset(), 12);  // root files come first; it is empty
}

TEST_F(Doc, SavingOverItselfSkipsTakenTemporaryNames) {
  auto path = Pak("self.pak", PakBuilder().File("f", "1234").Build());
  WriteFile(dir / "rv0.tmp", "someone else's");
  ASSERT_TRUE(doc.Open(path));
  ASSERT_TRUE(doc.Save(path)) << doc.LastError();
  EXPECT_EQ(ReadFile(dir / "rv0.tmp"), ToBytes("someone else's"));
  EXPECT_FALSE(fs::exists(dir / "rv1.tmp"));  // used, then renamed into place
  EXPECT_EQ(Load(doc.Root().FindChild("f")), ToBytes("1234"));
}

TEST_F(Doc, NotAPakFailsAndKeepsTheOpenDocument) {
  auto good = Pak("good.pak", PakBuilder().File("keep.txt", "k").Build());
  ASSERT_TRUE(doc.Open(good));
  CountingObserver obs;
  doc.AddObserver(&obs);
  EXPECT_FALSE(doc.Open(Pak("bad.pak", ToBytes("JUNK, not an archive"))));
  EXPECT_NE(doc.LastError().find("is not an archive Tarn reads"), std::string::npos);
  EXPECT_FALSE(doc.Open(dir / "missing.pak"));
  EXPECT_EQ(obs.calls, 0);
  EXPECT_EQ(Load(doc.Root().FindChild("keep.txt")), ToBytes("k"));
  doc.RemoveObserver(&obs);
}

TEST_F(Doc, ObserversHearOfOpenNewAndSave) {
  CountingObserver obs;
  doc.AddObserver(&obs);
  doc.AddObserver(&obs);
  auto p = Pak("a.pak", PakBuilder().Build());
  doc.Open(p);
  doc.New();
  doc.Save(dir / "b.pak");
  EXPECT_EQ(obs.calls, 3);
  doc.RemoveObserver(&obs);
}

TEST_F(Doc, NamesChangedOnOpeningAreListedOnce) {
  PakBuilder b;
  b.File("server.cfg", "a")
      .File("SERVER.CFG", "b")
      .File("maps", "file")
      .File("maps/e1m1.bsp", "m")
      .File("a:b.txt", "c");
  ASSERT_TRUE(doc.Open(Pak("names.pak", b.Build())));
  EXPECT_EQ(doc.OpenProblems(),
            (std::vector<std::string>{"\"server.cfg\" and \"SERVER.CFG\" differ only in case: both are kept as they "
                                      "are; the engine loads \"server.cfg\"",
                                      "\"maps\": it is both a file and a folder in the archive; a disk holds "
                                      "only one, so extraction writes the file and not the folder",
                                      "\"a:b.txt\" cannot be exported: the name contains \":\""}));
  EXPECT_FALSE(doc.DirectoryDamaged());

  // Many are counted after the first twenty.
  PakBuilder many;
  for (int i = 0; i < 25; ++i) many.File("dup.txt", "x");
  ASSERT_TRUE(doc.Open(Pak("many.pak", many.Build())));
  ASSERT_EQ(doc.OpenProblems().size(), 21u);
  EXPECT_EQ(doc.OpenProblems().back(), "... and 4 more names like these (tarn-pak check lists every problem).");
}

// Names read from an archive are the engine's: kept byte for byte through a save, both of two
// that collide included, and a lookup finds the first of them as long as it is there.
TEST_F(Doc, NamesKeepTheirBytesAndCollidingNamesAreKeptBoth) {
  const Bytes original = PakBuilder()
                             .File("progs/Flag.mdl", "upper")
                             .File("progs/flag.mdl", "lower")
                             .File("progs/flag.mdl", "again")
                             .File("Maps/E1M1.bsp", "map")
                             .Build();
  ASSERT_TRUE(doc.Open(Pak("flags.pak", original)));
  CPackObject* progs = doc.Root().FindChild("progs");
  std::vector<std::string> names;
  for (CPackObject* c : progs->Children()) names.push_back(c->Name() + (c->SharesName() ? "*" : ""));
  EXPECT_EQ(names, (std::vector<std::string>{"Flag.mdl*", "flag.mdl*", "flag.mdl*"}));
  EXPECT_EQ(progs->ChildCount(), 3u);
  EXPECT_EQ(Load(doc.Root().FindByPath("progs/flag.mdl")), ToBytes("lower"));  // exactly, first
  EXPECT_EQ(Load(doc.Root().FindByPath("progs/FLAG.MDL")), ToBytes("upper"));  // else the first
  ASSERT_TRUE(doc.Save(dir / "out.pak")) << doc.LastError();
  EXPECT_EQ(ReadFile(dir / "out.pak"), original);

  // Deleting the first hands the name on; undoing puts it back in front, found again.
  auto edit = std::make_unique<CTreeEdit>("Delete");
  edit->Remove(*progs->FindChild("Flag.mdl"));
  doc.Record(std::move(edit));
  EXPECT_EQ(Load(doc.Root().FindByPath("progs/FLAG.MDL")), ToBytes("lower"));
  EXPECT_TRUE(progs->FindChild("flag.mdl")->SharesName());
  ASSERT_TRUE(doc.Undo());
  EXPECT_EQ(Load(doc.Root().FindByPath("progs/FLAG.MDL")), ToBytes("upper"));
  // A name the user gives is refused when taken in any case; renamed away, it shares no more.
  EXPECT_FALSE(progs->FindChild("flag.mdl")->Rename("FLAG.MDL"));
  CPackObject* upper = progs->FindChild("Flag.mdl");
  ASSERT_TRUE(upper->Rename("banner.mdl"));
  EXPECT_FALSE(upper->SharesName());
  EXPECT_EQ(Load(doc.Root().FindByPath("progs/FLAG.MDL")), ToBytes("lower"));
}

TEST_F(Doc, ACutShortPakSaysWhatIsWrongAndOpensWhatCanBeRead) {
  PakBuilder b;
  for (int i = 0; i < 5; ++i) b.File("f" + std::to_string(i) + ".txt", Bytes(100, 'x'));
  Bytes whole = b.Build();
  ASSERT_TRUE(doc.Open(Pak("cut.pak", Bytes(whole.begin(), whole.begin() + 300))));
  EXPECT_TRUE(doc.DirectoryDamaged());
  ASSERT_FALSE(doc.OpenProblems().empty());
  EXPECT_EQ(
      doc.OpenProblems().front(),
      "The directory lies past the end of the file (at 512, the file has 300 bytes): 0 of 5 entries can be read.");
  // Two records of five lie inside: those are listed.
  ASSERT_TRUE(doc.Open(Pak("cut2.pak", Bytes(whole.begin(), whole.begin() + 512 + 64 * 2 + 10))));
  EXPECT_EQ(doc.Root().CountFiles(), 2);
  EXPECT_NE(doc.OpenProblems().front().find(": 2 of 5 entries can be read."), std::string::npos);
  ASSERT_TRUE(doc.Open(Pak("ten.pak", Bytes(whole.begin(), whole.begin() + 10))));
  EXPECT_EQ(doc.OpenProblems().front(),
            "The file ends inside the PAK header (10 of 12 bytes): it has no directory to read.");
}

TEST_F(Doc, DamagedArchiveOpensReportsAndRefusesToSaveUnreadableData) {
  auto path = Pak("corrupt.pak", PakBuilder().File("ok.txt", "fine").Raw("lost.bsp", 12, 1 << 30).Build());
  Bytes before = ReadFile(path);
  ASSERT_TRUE(doc.Open(path));
  EXPECT_EQ(doc.DamagedCount(), 1);
  EXPECT_FALSE(doc.OpenProblems().empty());
  CPackObject* lost = doc.Root().FindChild("lost.bsp");
  EXPECT_EQ(lost->LoadData(), 0);
  EXPECT_FALSE(doc.Save(path));
  EXPECT_NE(doc.LastError().find("lost.bsp"), std::string::npos);
  EXPECT_EQ(ReadFile(path), before);
  // Once the damaged entry is gone, the rest saves.
  doc.Root().RemoveChild(lost);
  ASSERT_TRUE(doc.Save(path)) << doc.LastError();
  EXPECT_EQ(doc.DamagedCount(), 0);
  EXPECT_EQ(Load(doc.Root().FindChild("ok.txt")), ToBytes("fine"));
}

TEST_F(Doc, FailedSaveLeavesFileTreeFlagAndSourceAsTheyWere) {
  auto path = Pak("keep.pak", PakBuilder().File("a.txt", "aaaa").File("b.txt", "bbbb").Build());
  Bytes before = ReadFile(path);
  ASSERT_TRUE(doc.Open(path));
  // An imported file whose temporary copy vanished: the save fails half-way through the data.
  CPackObject* imported = doc.Root().AddChild("c.txt", false);
  imported->SetSize(100);
  imported->SetTempFile((dir / "vanished").string(), false);
  doc.SetModified();
  EXPECT_FALSE(doc.Save(path));
  EXPECT_NE(doc.LastError().find("c.txt"), std::string::npos);
  EXPECT_EQ(ReadFile(path), before);
  EXPECT_TRUE(doc.IsModified());
  EXPECT_EQ(doc.Root().FindChild("b.txt")->Offset(), 16);  // offsets still point into the old file
  EXPECT_EQ(Load(doc.Root().FindChild("b.txt")), ToBytes("bbbb"));
  for (const auto& e : fs::directory_iterator(dir.path()))
    EXPECT_EQ(e.path().extension(), ".pak") << "left behind: " << e.path();
}

TEST_F(Doc, SaveFailuresGiveTheirMessagesWithThePathAndTheReason) {
  doc.Root().AddChild("f", false);
  EXPECT_FALSE(doc.Save(dir / "no-such-folder" / "x.pak"));
  EXPECT_EQ(doc.LastError(), "Error opening file for saving\n\"" + (dir / "no-such-folder" / "x.pak").string() +
                                 "\": No such file or directory");

  // A folder cannot be replaced by a file; nothing is written to find that out.
  fs::create_directories(dir / "taken.pak" / "inside");
  EXPECT_FALSE(doc.Save(dir / "taken.pak"));
  EXPECT_EQ(doc.LastError(), "Error 1 replacing file\n\"" + (dir / "taken.pak").string() + "\": Is a directory");
  EXPECT_TRUE(fs::is_directory(dir / "taken.pak" / "inside"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);

  EXPECT_FALSE(doc.Open(dir / "taken.pak"));
  EXPECT_EQ(doc.LastError(), "Cannot open \"" + (dir / "taken.pak").string() + "\": Is a directory.");
}

TEST_F(Doc, SavingThroughALinkEditsTheFileItLeadsTo) {
  const auto real = Pak("real/pak0.pak", PakBuilder().File("a.txt", "a").Build());
  fs::create_directories(dir / "game");
  fs::create_symlink("../real/pak0.pak", dir / "game" / "pak0.pak");
  ASSERT_TRUE(doc.Open(dir / "game" / "pak0.pak"));
  doc.Root().AddChild("b.txt", false);
  ASSERT_TRUE(doc.Save(dir / "game" / "pak0.pak")) << doc.LastError();
  EXPECT_TRUE(fs::is_symlink(dir / "game" / "pak0.pak"));
  CTarnDoc again;
  ASSERT_TRUE(again.Open(real));
  EXPECT_NE(again.Root().FindChild("b.txt"), nullptr);
  EXPECT_EQ(Load(doc.Root().FindChild("a.txt")), ToBytes("a"));
  EXPECT_FALSE(doc.ChangedOnDisk());
}

TEST_F(Doc, OthersChangesSinceOpeningNeedConsent) {
  const auto path = Pak("a.pak", PakBuilder().File("a", "1").Build());
  ASSERT_TRUE(doc.Open(path));
  doc.Root().AddChild("mine", false);
  ASSERT_TRUE(doc.Save(path)) << doc.LastError();
  EXPECT_TRUE(doc.SaveConcerns(path).empty());

  // Another program saves the archive meanwhile: its version stays unless the user says otherwise.
  CTarnDoc other;
  ASSERT_TRUE(other.Open(path));
  other.Root().AddChild("theirs", false);
  ASSERT_TRUE(other.Save(path));
  EXPECT_TRUE(doc.ChangedOnDisk());
  const auto concerns = doc.SaveConcerns(path);
  ASSERT_EQ(concerns.size(), 1u);
  EXPECT_EQ(concerns[0].second,
            "\"" + path.string() + "\" has been changed on disk since it was opened or last saved.");
  EXPECT_FALSE(doc.Save(path));
  EXPECT_TRUE(doc.SaveConcerns(dir / "elsewhere.pak").empty());
  CTarnDoc check;
  ASSERT_TRUE(check.Open(path));
  EXPECT_NE(check.Root().FindChild("theirs"), nullptr);
  SaveConsent consent;
  consent.overwriteChanged = true;
  ASSERT_TRUE(doc.Save(path, consent)) << doc.LastError();
  EXPECT_FALSE(doc.ChangedOnDisk());
}

TEST_F(Doc, ASaveThatReadsBytesChangedMeanwhileFailsAndLeavesTheArchive) {
  const auto path = Pak("live.pak", PakBuilder().File("z.txt", "zzzz").Build());
  ASSERT_TRUE(doc.Open(path));
  // An entry read from a pipe holds the save after the archive's own bytes were copied, while
  // another program writes into the archive in place.
  const fs::path pipe = dir / "pipe";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  CPackObject* slow = doc.Root().AddChild("slow.bin", false);
  slow->SetSize(4);
  slow->SetTempFile(pipe.string(), false);
  std::thread other([&] {
    const int fd = ::open(pipe.c_str(), O_WRONLY);
    std::ofstream(path, std::ios::binary | std::ios::app) << "appended in place";
    EXPECT_EQ(::write(fd, "pppp", 4), 4);
    ::close(fd);
  });
  EXPECT_FALSE(doc.Save(path));
  const int unblock = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK);  // should the save not have read the pipe
  other.join();
  ::close(unblock);
  EXPECT_NE(doc.LastError().find("was changed by another program while it was open"), std::string::npos);
  Bytes expected = PakBuilder().File("z.txt", "zzzz").Build();
  const Bytes appended = ToBytes("appended in place");
  expected.insert(expected.end(), appended.begin(), appended.end());
  EXPECT_EQ(ReadFile(path), expected);
  // Its bytes cannot be trusted for any later save either.
  EXPECT_FALSE(doc.Save(dir / "elsewhere.pak"));
  EXPECT_FALSE(fs::exists(dir / "elsewhere.pak"));
}

TEST_F(Doc, LimitsOfTheFormatAreRefusedBeforeWriting) {
  CPackObject* d = doc.Root().AddChild(std::string(30, 'd'), true);
  d->AddChild(std::string(24, 'f'), false);  // 30 + 1 + 24 = 55: fits
  ASSERT_TRUE(doc.Save(dir / "ok.pak")) << doc.LastError();
  d->AddChild(std::string(25, 'g'), false);  // 56: does not
  EXPECT_FALSE(doc.Save(dir / "ok.pak"));
  EXPECT_NE(doc.LastError().find(std::string(25, 'g')), std::string::npos);
  EXPECT_NE(doc.LastError().find("longer than 55"), std::string::npos);

  CTarnDoc big;
  for (int i = 0; i < 3; ++i) big.Root().AddChild("part" + std::to_string(i), false)->SetSize(0x30000000);
  EXPECT_FALSE(big.Save(dir / "big.pak"));
  EXPECT_NE(big.LastError().find("2 GiB"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir / "big.pak"));
  EXPECT_FALSE(fs::exists(dir / "rv0.tmp"));
}

TEST_F(Doc, KilledSaveLeavesTheOldArchiveWhole) {
  // A large save is killed at some moment; whatever the moment, the archive on disk is
  // either the old one or the complete new one, never a mixture.
  auto path = Pak("victim.pak", PakBuilder().File("old.txt", "old contents").Build());
  Bytes before = ReadFile(path);
  auto big = dir / "big.bin";
  WriteFile(big, Bytes(16 << 20, 0x5A));
  // The save kills itself when its progress reaches a point: at its first report, half-way
  // through the big entry, and with every byte written but the file not yet in place.
  struct KillAt : CProgress {
    std::uint64_t at = 0, done = 0;
    void Expect(std::uint64_t) override {}
    bool Advance(std::uint64_t units, std::string_view) override {
      done += units;
      if (done >= at) ::raise(SIGKILL);
      return true;
    }
  };
  for (const std::uint64_t killAt : {std::uint64_t{1}, std::uint64_t{8} << 20, std::uint64_t{16} << 20}) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      CTarnDoc d;
      if (!d.Open(path)) _exit(3);
      std::string why;
      if (!d.Root().ImportFile(big, ImportOptions{.snapshot = false}, &why)) _exit(4);
      KillAt progress;
      progress.at = killAt;
      _exit(d.Save(path, {}, std::nullopt, &progress) ? 0 : 5);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the save ended before its progress reached " << killAt;
    Bytes after = ReadFile(path);
    if (after != before) {
      CTarnDoc check;
      ASSERT_TRUE(check.Open(path));
      EXPECT_EQ(check.Root().FindChild("big.bin")->Size(), 16 << 20);
      EXPECT_TRUE(check.OpenProblems().empty());
      WriteFile(path, before);
    }
  }
  // Killed saves leave nothing behind, or (killed just as the file got its name) a temporary
  // that the next save removes.
  CTarnDoc next;
  ASSERT_TRUE(next.Open(path));
  ASSERT_TRUE(next.Save(path)) << next.LastError();
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir.path())) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"big.bin", "victim.pak"}));
}

TEST_F(Doc, ACancelledSaveOrOpenLeavesEverythingAsItWas) {
  auto path = Pak("in.pak", PakBuilder().File("a.bin", Bytes(300000, 1)).File("b.bin", Bytes(300000, 2)).Build());
  const Bytes before = ReadFile(path);
  ASSERT_TRUE(doc.Open(path));
  doc.Root().AddChild("new", true)->AddChild("c.txt", false);
  doc.SetModified();
  RecordingProgress progress;
  progress.stopAfter = 100000;
  EXPECT_FALSE(doc.Save(path, {}, std::nullopt, &progress));
  EXPECT_TRUE(doc.Cancelled());
  EXPECT_EQ(progress.expected, 600000u);  // the files' bytes
  EXPECT_EQ(ReadFile(path), before);
  EXPECT_TRUE(doc.IsModified());
  EXPECT_EQ(Load(doc.Root().FindChild("b.bin")), Bytes(300000, 2));
  for (const auto& e : fs::directory_iterator(dir.path())) EXPECT_EQ(e.path().filename(), "in.pak");

  // Saved to the end, the progress saw every byte.
  RecordingProgress whole;
  ASSERT_TRUE(doc.Save(path, {}, std::nullopt, &whole)) << doc.LastError();
  EXPECT_FALSE(doc.Cancelled());
  EXPECT_EQ(whole.done, whole.expected);

  // Opening something else, stopped, keeps this document.
  PakBuilder big;
  for (int i = 0; i < 10000; ++i) big.File("f" + std::to_string(i), "");
  auto other = Pak("other.pak", big.Build());
  RecordingProgress stop;
  stop.stopAfter = 4096;
  EXPECT_FALSE(doc.Open(other, &stop));
  EXPECT_TRUE(doc.Cancelled());
  EXPECT_EQ(stop.expected, 10000u);
  EXPECT_EQ(doc.PathName(), path);
  EXPECT_NE(doc.Root().FindByPath("new/c.txt"), nullptr);
}

TEST_F(Doc, ACancelledZipSaveLeavesTheOldFile) {
  auto path = Pak("in.pk3", ZipBuilder().Stored("a.bin", Bytes(300000, 1)).Build());
  const Bytes before = ReadFile(path);
  ASSERT_TRUE(doc.Open(path)) << doc.LastError();
  doc.Root().AddChild("b.txt", false);
  doc.SetModified();
  RecordingProgress progress;
  progress.stopAfter = 1000;
  EXPECT_FALSE(doc.Save(path, {}, std::nullopt, &progress));
  EXPECT_TRUE(doc.Cancelled());
  EXPECT_EQ(ReadFile(path), before);
  EXPECT_TRUE(doc.IsModified());
  for (const auto& e : fs::directory_iterator(dir.path())) EXPECT_EQ(e.path().filename(), "in.pk3");
}

}  // namespace
}  // namespace tarn::test
