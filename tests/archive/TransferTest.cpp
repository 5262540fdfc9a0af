#include <sys/stat.h>
#include <cstdlib>

#include "TestSupport.h"
#include "document/TarnDoc.h"
#include "fileio/ByteIO.h"

namespace tarn::test {
namespace {

Bytes Stream(const CPackObject& e, std::vector<std::string>* unreadable = nullptr) {
  Bytes out;
  ByteWriter w(out);
  e.Serialize(w, unreadable);
  return out;
}

std::unique_ptr<CPackObject> Unstream(const Bytes& b, std::string* error = nullptr, bool spill = true) {
  ByteReader r(b);
  CPackObject::StreamOptions opts;
  opts.spillToTempFiles = spill;
  return CPackObject::Deserialize(r, opts, error);
}

class Transfer : public ::testing::Test {
 protected:
  TempDir dir;
  CTarnDoc doc;
};

TEST_F(Transfer, StreamRoundTripKeepsTreeAndBytes) {
  auto pak = dir / "a.pak";
  WriteFile(pak, PakBuilder().File("maps/e1m1.bsp", "map bytes").File("maps/sub/x.wav", "RIFF").Build());
  ASSERT_TRUE(doc.Open(pak));
  CPackObject* maps = doc.Root().FindChild("maps");
  maps->AddChild("empty.txt", false);
  Bytes s = Stream(*maps);

  // Pasted into another, unrelated archive: the bytes come along, the old offsets do not matter.
  CTarnDoc other;
  auto copy = Unstream(s);
  ASSERT_NE(copy, nullptr);
  CPackObject* pasted = other.Root().AdoptChild(std::move(copy));
  EXPECT_EQ(pasted->Name(), "maps");
  EXPECT_TRUE(pasted->IsDirectory());
  EXPECT_EQ(Load(pasted->FindByPath("e1m1.bsp")), ToBytes("map bytes"));
  EXPECT_EQ(Load(pasted->FindByPath("sub/x.wav")), ToBytes("RIFF"));
  EXPECT_EQ(pasted->FindChild("empty.txt")->Size(), 0);
  ASSERT_TRUE(other.Save(dir / "b.pak")) << other.LastError();
  CTarnDoc reread;
  ASSERT_TRUE(reread.Open(dir / "b.pak"));
  EXPECT_EQ(Load(reread.Root().FindByPath("maps/sub/x.wav")), ToBytes("RIFF"));

  // A second paste into the same directory gets a unique name.
  EXPECT_EQ(other.Root().AdoptChild(Unstream(s))->Name(), "maps(2)");
  // Kept in memory when asked not to spill.
  auto inMemory = Unstream(s, nullptr, false);
  EXPECT_TRUE(inMemory->FindChild("e1m1.bsp")->HasData());
}

TEST_F(Transfer, StreamLayoutMatchesTheClipboardFormat) {
  CPackObject file;
  file.Rename("a.txt");
  file.SetData(ToBytes("hi"));
  file.SetSize(2);
  file.SetOffset(99);
  Bytes s = Stream(file);
  Bytes expected = {0, 0,   0,   0,   2,   0,   0, 0, 6, 0, 0, 0, 6, 0, 0,   0,   99, 0, 0, 0,
                    5, 'a', '.', 't', 'x', 't', 0, 0, 0, 0, 0, 0, 0, 0, 'h', 'i', 0,  0, 0, 0};
  EXPECT_EQ(s, expected);

  // Long names use the 0xFF escape and a 16-bit length.
  CPackObject longName;
  longName.Rename(std::string(300, 'n'));
  Bytes l = Stream(longName);
  EXPECT_EQ(l[20], 0xFF);
  EXPECT_EQ(l[21] | (l[22] << 8), 300);
  EXPECT_EQ(Unstream(l)->Name(), std::string(300, 'n'));
}

TEST_F(Transfer, UnreadableFileIsStreamedEmptyAndNamed) {
  doc.Root().AddChild("d", true)->AddChild("lost", false)->SetSize(50);  // no source to read from
  std::vector<std::string> unreadable;
  Bytes s = Stream(doc.Root(), &unreadable);
  EXPECT_EQ(unreadable, std::vector<std::string>{"d/lost"});
  auto back = Unstream(s);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->FindByPath("d/lost")->Size(), 0);
}

TEST_F(Transfer, MalformedStreamsAreRefused) {
  CPackObject d;
  d.SetDirectory(true);
  d.AddChild("f", false)->SetData(ToBytes("xyz"));
  d.FindChild("f")->SetSize(3);
  Bytes good = Stream(d);
  for (std::size_t cut = 0; cut < good.size(); ++cut) {
    Bytes truncated(good.begin(), good.begin() + static_cast<long>(cut));
    std::string err;
    EXPECT_EQ(Unstream(truncated, &err, false), nullptr) << "cut at " << cut;
    EXPECT_FALSE(err.empty());
  }
  Bytes negative = good;
  PutU32(negative, 45, 0xFFFFFFFF);  // the child's size: after the root's 41 bytes and its kind
  EXPECT_EQ(Unstream(negative, nullptr, false), nullptr);
  Bytes manyChildren = good;
  PutU32(manyChildren, 37, 0x7FFFFFFF);  // the root's child count
  EXPECT_EQ(Unstream(manyChildren, nullptr, false), nullptr);

  // A chain of directories deeper than allowed fails instead of exhausting the stack.
  Bytes deep;
  ByteWriter w(deep);
  for (int i = 0; i < 2000; ++i) {
    w.I32(1);
    w.I32(0);
    w.I32(2);
    w.I32(1);
    w.I32(0);
    w.U8(1);
    w.U8('d');
    w.U32(0);
    w.U32(0);
    w.U32(1);
  }
  EXPECT_EQ(Unstream(deep, nullptr, false), nullptr);
}

TEST_F(Transfer, HostileNamesInAStreamStayOneSegment) {
  CPackObject f;
  f.Rename("x");
  Bytes s = Stream(f);
  s[21] = '/';
  auto e = Unstream(s);
  EXPECT_EQ(e->Name(), "_");
}

TEST_F(Transfer, ImportDirectorySkipsHiddenAndNumbersTakenNames) {
  auto src = dir / "src";
  WriteFile(src / "Readme.TXT", "read");
  WriteFile(src / ".hidden", "secret");
  WriteFile(src / "maps" / "e1m1.bsp", "bsp");
  WriteFile(src / "maps" / ".git" / "config", "x");
  fs::create_directories(src / "emptydir");
  doc.Root().AddChild("maps", true);

  // Counted in a folder of its own: other tests import and paste at the same time.
  PrivateTempFolder temp;
  const std::size_t pdcBefore = CountPdcFiles();
  ImportReport r = doc.Root().ImportDirectory(src);
  EXPECT_EQ(r.imported, 2);
  EXPECT_TRUE(r.failures.empty());
  EXPECT_EQ(doc.Root().FindChild(".hidden"), nullptr);
  CPackObject* maps2 = doc.Root().FindChildDirectory("maps(2)");
  ASSERT_NE(maps2, nullptr);  // folders are never merged
  EXPECT_EQ(maps2->ChildCount(), 1u);
  EXPECT_NE(doc.Root().FindChildDirectory("emptydir"), nullptr);
  CPackObject* readme = doc.Root().FindChild("readme.txt");
  ASSERT_NE(readme, nullptr);
  EXPECT_EQ(readme->Offset(), 0);
  EXPECT_EQ(readme->Size(), 4);
  EXPECT_FALSE(readme->HasData());
  EXPECT_EQ(CountPdcFiles(), pdcBefore + 2);

  // A snapshot: changing the disk file later does not change the entry.
  WriteFile(src / "Readme.TXT", "changed!");
  EXPECT_EQ(Load(readme), ToBytes("read"));

  // Saved, the entry keeps its temporary copy and still reads from its start.
  ASSERT_TRUE(doc.Save(dir / "out.pak"));
  EXPECT_FALSE(readme->TempPath().empty());
  EXPECT_EQ(Load(readme), ToBytes("read"));
  doc.New();
  EXPECT_EQ(CountPdcFiles(), pdcBefore);
}

TEST_F(Transfer, ImportSurvivesLinksPipesAndUnreadableFiles) {
  auto src = dir / "src";
  WriteFile(src / "a.txt", "a");
  fs::create_directory_symlink(src, src / "loop");  // points back up
  ASSERT_EQ(mkfifo((src / "pipe").c_str(), 0600), 0);
  fs::create_symlink(src / "gone", src / "dangling");
  ImportReport r = doc.Root().ImportDirectory(src);
  EXPECT_EQ(r.imported, 1);
  ASSERT_EQ(r.failures.size(), 1u);
  EXPECT_EQ(r.failures[0].name, "loop");
  EXPECT_EQ(doc.Root().FindChild("pipe"), nullptr);

  std::string why;
  EXPECT_EQ(doc.Root().ImportFile(src / "missing", {}, &why), nullptr);
  EXPECT_EQ(why, "does not exist");
  EXPECT_EQ(doc.Root().ImportFile(src, {}, &why), nullptr);
  EXPECT_EQ(doc.Root().ImportFile(src / "pipe", {}, &why), nullptr);
}

TEST_F(Transfer, ExportWritesSubtreesAsFolders) {
  auto pak = dir / "a.pak";
  WriteFile(pak, PakBuilder().File("maps/e1m1.bsp", "m").File("maps/b/c.txt", "c").File("top.cfg", "t").Build());
  ASSERT_TRUE(doc.Open(pak));
  auto out = dir / "out";
  fs::create_directories(out);
  ExportReport r = doc.Root().FindChild("maps")->ExportToDisk(out);
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(r.written, 2);
  EXPECT_EQ(ReadFile(out / "maps" / "e1m1.bsp"), ToBytes("m"));
  EXPECT_EQ(ReadFile(out / "maps" / "b" / "c.txt"), ToBytes("c"));
  EXPECT_FALSE(doc.Root().FindByPath("maps/e1m1.bsp")->HasData());  // released after use

  auto all = dir / "all";
  EXPECT_TRUE(doc.Root().ExportToDisk(all).ok());  // the root writes its top level directly
  EXPECT_EQ(ReadFile(all / "top.cfg"), ToBytes("t"));
  EXPECT_TRUE(fs::exists(all / "maps" / "b" / "c.txt"));

  WriteFile(out / "top.cfg", "old contents, longer");
  EXPECT_TRUE(doc.Root().FindChild("top.cfg")->ExportToDisk(out).ok());
  EXPECT_EQ(ReadFile(out / "top.cfg"), ToBytes("t"));
}

TEST_F(Transfer, ExportNeverLeavesTheChosenFolder) {
  auto pak = dir / "evil.pak";
  WriteFile(pak, PakBuilder()
                     .File("../escape.txt", "x")
                     .File("ok/../../up.txt", "x")
                     .File("a\\b.txt", "x")
                     .File("c:drive.txt", "x")
                     .File("tab\tname", "x")
                     .File("/abs.txt", "x")
                     .File("./dot.txt", "x")
                     .File("link/inside.txt", "x")
                     .File("fine.txt", "fine")
                     .Build());
  ASSERT_TRUE(doc.Open(pak));
  auto out = dir / "out" / "inner";
  fs::create_directories(out);
  fs::create_directories(dir / "elsewhere");
  fs::create_directory_symlink(dir / "elsewhere", out / "link");
  ExportReport r = doc.Root().ExportToDisk(out);
  EXPECT_EQ(r.written, 1);
  EXPECT_EQ(ReadFile(out / "fine.txt"), ToBytes("fine"));
  EXPECT_EQ(r.refused.size(), 8u);
  EXPECT_TRUE(r.failed.empty());
  EXPECT_FALSE(fs::exists(dir / "out" / "escape.txt"));
  EXPECT_FALSE(fs::exists(dir / "up.txt"));
  EXPECT_FALSE(fs::exists(dir / "elsewhere" / "inside.txt"));
  std::size_t files = 0;
  for (auto it = fs::recursive_directory_iterator(dir / "out"); it != fs::recursive_directory_iterator(); ++it)
    if (it->is_regular_file()) ++files;
  EXPECT_EQ(files, 1u);
}

TEST_F(Transfer, ExportReportsFilesItCannotWrite) {
  doc.Root().AddChild("blocked", true)->AddChild("f.txt", false);
  auto out = dir / "out";
  WriteFile(out / "blocked", "a file where the folder should go");
  ExportReport r = doc.Root().ExportToDisk(out);
  ASSERT_EQ(r.failed.size(), 1u);
  EXPECT_EQ(r.failed[0].name, "blocked");
}

TEST_F(Transfer, StoppedExportsKeepWhatWasWrittenAndStoppedImportsSayWhere) {
  auto pak = dir / "a.pak";
  WriteFile(pak, PakBuilder()
                     .File("d/one.bin", Bytes(1000, 1))
                     .File("d/two.bin", Bytes(1000, 2))
                     .File("d/three.bin", Bytes(1000, 3))
                     .Build());
  ASSERT_TRUE(doc.Open(pak));
  RecordingProgress progress;
  progress.stopAfter = 1500;  // in the second file
  ExportReport r = doc.Root().ExportToDisk(dir / "out", false, &progress);
  EXPECT_TRUE(r.cancelled);
  EXPECT_FALSE(r.ok());
  EXPECT_EQ(r.written, 1);
  EXPECT_TRUE(r.failed.empty());
  EXPECT_EQ(progress.expected, 3000u);
  // Files are written on several threads: either of the first two may be the one finished,
  // whole, and the other is never left as a part of a file.
  const bool one = fs::exists(dir / "out" / "d" / "one.bin");
  EXPECT_NE(one, fs::exists(dir / "out" / "d" / "two.bin"));
  if (one) EXPECT_EQ(ReadFile(dir / "out" / "d" / "one.bin"), Bytes(1000, 1));
  else EXPECT_EQ(ReadFile(dir / "out" / "d" / "two.bin"), Bytes(1000, 2));
  EXPECT_FALSE(fs::exists(dir / "out" / "d" / "three.bin"));
  EXPECT_FALSE(progress.items.empty());

  WriteFile(dir / "src" / "a.txt", Bytes(100, 'a'));
  WriteFile(dir / "src" / "b.txt", Bytes(100, 'b'));
  WriteFile(dir / "src" / ".hidden", Bytes(5000, 'h'));
  CPackObject staging;
  staging.SetDirectory(true);
  RecordingProgress in;
  in.stopAfter = 150;
  ImportOptions options;
  options.progress = &in;
  ImportReport report = staging.ImportDirectory(dir / "src", options);
  EXPECT_TRUE(report.cancelled);
  EXPECT_EQ(report.imported, 1);
  EXPECT_TRUE(report.failures.empty());
  EXPECT_EQ(in.expected, 200u);  // hidden files are not imported, nor counted
  EXPECT_EQ(staging.ChildCount(), 1u);
}

}  // namespace
}  // namespace tarn::test
