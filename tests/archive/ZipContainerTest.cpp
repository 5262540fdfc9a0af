#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>

#include "CliSupport.h"
#include "TestSupport.h"
#include "ZipBuilder.h"
#include "document/TarnDoc.h"

namespace tarn::test {
namespace {

// What a written zip holds, read record by record as the engines' readers read it.
struct WrittenEntry {
  std::string name;
  std::uint16_t flags = 0, method = 0, needed = 0;
  Bytes extra, compressed;
};

std::uint32_t U32At(const Bytes& b, std::size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
std::uint16_t U16At(const Bytes& b, std::size_t at) { return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8)); }

std::vector<WrittenEntry> ReadWritten(const Bytes& zip) {
  std::vector<WrittenEntry> entries;
  const std::size_t end = zip.size() - 22;
  EXPECT_EQ(U32At(zip, end), 0x06054b50u);
  const std::uint16_t count = U16At(zip, end + 10);
  std::size_t at = U32At(zip, end + 16);
  for (int i = 0; i < count; ++i) {
    EXPECT_EQ(U32At(zip, at), 0x02014b50u);
    WrittenEntry e;
    e.needed = U16At(zip, at + 6);
    e.flags = U16At(zip, at + 8);
    e.method = U16At(zip, at + 10);
    const std::uint32_t stored = U32At(zip, at + 20);
    const std::uint16_t nameLength = U16At(zip, at + 28), extraLength = U16At(zip, at + 30),
                        comment = U16At(zip, at + 32);
    const std::uint32_t local = U32At(zip, at + 42);
    e.name.assign(zip.begin() + static_cast<std::ptrdiff_t>(at + 46),
                  zip.begin() + static_cast<std::ptrdiff_t>(at + 46 + nameLength));
    e.extra.assign(zip.begin() + static_cast<std::ptrdiff_t>(at + 46 + nameLength),
                   zip.begin() + static_cast<std::ptrdiff_t>(at + 46 + nameLength + extraLength));
    const std::size_t data = local + 30 + U16At(zip, local + 26) + U16At(zip, local + 28);
    e.compressed.assign(zip.begin() + static_cast<std::ptrdiff_t>(data),
                        zip.begin() + static_cast<std::ptrdiff_t>(data + stored));
    EXPECT_EQ(U16At(zip, local + 6), e.flags) << e.name;
    entries.push_back(std::move(e));
    at += 46 + nameLength + extraLength + comment;
  }
  return entries;
}

// Every engine's zip reader takes it: stored or deflated, no data descriptor, no encryption,
// no zip64 record anywhere.
void ExpectPlainZip(const Bytes& zip) {
  ASSERT_GE(zip.size(), 22u);
  for (std::size_t i = 0; i + 4 <= zip.size(); ++i) {
    const std::uint32_t sig = U32At(zip, i);
    ASSERT_NE(sig, 0x06064b50u) << "zip64 end record at " << i;
    ASSERT_NE(sig, 0x07064b50u) << "zip64 locator at " << i;
  }
  for (const WrittenEntry& e : ReadWritten(zip)) {
    EXPECT_TRUE(e.method == 0 || e.method == 8) << e.name;
    EXPECT_EQ(e.flags & 0x0009, 0) << e.name << ": encrypted or with a data descriptor";
    EXPECT_LE(e.needed, 20) << e.name;
    for (std::size_t i = 0; i + 4 <= e.extra.size(); i += 4 + U16At(e.extra, i + 2))
      EXPECT_NE(U16At(e.extra, i), 1) << e.name;
    EXPECT_NE(e.name.front(), '/');
    EXPECT_EQ(e.name.find('\\'), std::string::npos);
  }
}

WrittenEntry Written(const Bytes& zip, const std::string& name) {
  for (WrittenEntry& e : ReadWritten(zip))
    if (e.name == name) return e;
  ADD_FAILURE() << name << " is not in the zip";
  return {};
}

class Zip : public ::testing::Test {
 protected:
  TempDir dir;
  CTarnDoc doc;
  fs::path Put(const std::string& name, const Bytes& b) {
    WriteFile(dir / name, b);
    return dir / name;
  }
  std::string P(const std::string& name) { return (dir / name).string(); }
};

TEST_F(Zip, OpensByContentKeepsCaseAndMakesDirectoriesFromPaths) {
  Bytes text(3000, 'q');
  auto path = Put("mod.pak", ZipBuilder()
                                 .Stored("Maps/Start.bsp", "bsp")
                                 .Stored("maps/", "")  // a directory's own record
                                 .Deflated("maps/readme.txt", text)
                                 .Stored("sound/", "")
                                 .Build());
  ASSERT_TRUE(doc.Open(path)) << doc.LastError();
  EXPECT_EQ(doc.Format(), ContainerFormat::Zip);  // a ".pak" that is a zip is a zip
  // Paths keep their bytes: folders that differ in case are two, each as the zip names it.
  EXPECT_EQ(doc.OpenProblems(),
            std::vector<std::string>{"\"Maps\" and \"maps\" differ only in case: both folders are kept apart"});
  CPackObject* maps = doc.Root().FindChild("Maps");
  ASSERT_NE(maps, nullptr);
  EXPECT_EQ(maps->FindChild("Start.bsp")->Name(), "Start.bsp");
  EXPECT_EQ(doc.Root().FindChild("maps")->Name(), "maps");
  EXPECT_EQ(Load(doc.Root().FindByPath("MAPS/README.TXT")), text);
  EXPECT_TRUE(doc.Root().FindChild("sound")->IsDirectory());
  EXPECT_EQ(doc.Root().CountFiles(), 2);
  EXPECT_EQ(doc.Root().FindByPath("maps/readme.txt")->Location().crc, Crc32(text));
}

TEST_F(Zip, Zip64RecordsAndCommentsAreReadAndNeverWritten) {
  Bytes text(5000, 't');
  auto path = Put("big.pk3",
                  ZipBuilder().Zip64().Comment("made far away").Stored("a.txt", text).Deflated("b.txt", text).Build());
  ASSERT_TRUE(doc.Open(path)) << doc.LastError();
  EXPECT_EQ(Tool({"list", path.string()}).out, "5000\ta.txt\n5000\tb.txt\n");
  EXPECT_EQ(Load(doc.Root().FindChild("b.txt")), text);  // libzip reads it where Tarn's directory says
  // A save writes it plainly: nothing in it needs zip64.
  ASSERT_TRUE(doc.Save(dir / "plain.pk3")) << doc.LastError();
  ExpectPlainZip(ReadFile(dir / "plain.pk3"));
  ASSERT_TRUE(doc.Open(dir / "plain.pk3"));
  EXPECT_EQ(Load(doc.Root().FindChild("a.txt")), text);
}

TEST_F(Zip, HostileNamesAreListedFlaggedAndNeverFollowed) {
  auto path = Put("evil.pk3", ZipBuilder()
                                  .Stored("../escape.txt", "1")
                                  .Stored("/etc/passwd.txt", "2")
                                  .Stored("dir\\back.txt", "3")
                                  .Stored("C:/drive.txt", "4")
                                  .Stored("fine.txt", "5")
                                  .Build());
  Result check = Tool({"check", path.string()});
  EXPECT_EQ(check.rc, 1);
  for (const char* want : {"\"../escape.txt\": cannot be exported safely",
                           "\"/etc/passwd.txt\": cannot be exported safely: an absolute path",
                           "\"dir\\\\back.txt\": cannot be exported safely",
                           "\"C:/drive.txt\": cannot be exported safely: a drive letter"})
    EXPECT_NE(check.out.find(want), std::string::npos) << want << "\n" << check.out;
  const std::string list = Tool({"list", path.string()}).out;
  EXPECT_NE(list.find("1\t../escape.txt\n"), std::string::npos) << list;
  EXPECT_NE(list.find("1\tfine.txt\n"), std::string::npos) << list;

  const fs::path out = dir / "deep" / "out";
  Result extract = Tool({"extract", path.string(), "-C", out.string()});
  EXPECT_EQ(extract.rc, 1);
  EXPECT_EQ(ReadFile(out / "fine.txt"), ToBytes("5"));
  // Nothing lands beside or above the chosen folder.
  for (const auto& e : fs::recursive_directory_iterator(dir.path())) {
    const std::string rel = fs::relative(e.path(), dir.path()).string();
    EXPECT_TRUE(rel == "evil.pk3" || rel.rfind("deep", 0) == 0) << rel;
  }
  EXPECT_FALSE(fs::exists(out.parent_path() / "escape.txt"));
  // Such names are not written into a zip either.
  ASSERT_TRUE(doc.Open(path));
  EXPECT_FALSE(doc.Save(dir / "again.pk3"));
  EXPECT_NE(doc.LastError().find("\"../escape.txt\" cannot be stored in a zip"), std::string::npos) << doc.LastError();
}

TEST_F(Zip, LyingSizesAndBadCrcsAreReportedAndLeaveNoFile) {
  Bytes ten = ToBytes("0123456789");
  ZipBuilder b;
  b.Deflated("long.txt", ten);
  b.Last().size = 4;  // inflates to more than it says
  b.Deflated("short.txt", ten);
  b.Last().size = 12;  // to less
  b.Stored("crc.txt", ten);
  b.Last().crc ^= 1;
  b.Stored("good.txt", ten);
  auto path = Put("lies.pk3", b.Build());

  Result check = Tool({"check", path.string()});
  EXPECT_EQ(check.rc, 1);
  EXPECT_NE(check.out.find("\"long.txt\" inflates past its declared size of 4 bytes"), std::string::npos) << check.out;
  EXPECT_NE(check.out.find("\"short.txt\" ends after 10 of its 12 bytes"), std::string::npos) << check.out;
  EXPECT_NE(check.out.find("\"crc.txt\" is damaged: its bytes do not match their CRC"), std::string::npos) << check.out;
  EXPECT_EQ(check.out.find("good.txt"), std::string::npos);

  Result extract = Tool({"extract", path.string(), "-C", P("out")});
  EXPECT_EQ(extract.rc, 1);
  EXPECT_NE(extract.err.find("inflates past its declared size"), std::string::npos);
  for (const char* lost : {"long.txt", "short.txt", "crc.txt"}) EXPECT_FALSE(fs::exists(dir / "out" / lost)) << lost;
  EXPECT_EQ(ReadFile(dir / "out" / "good.txt"), ten);
  std::size_t left = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir / "out")) ++left;
  EXPECT_EQ(left, 1u);  // no temporaries either

  ASSERT_TRUE(doc.Open(path));
  EXPECT_EQ(doc.Root().FindChild("long.txt")->LoadData(), 0);
  EXPECT_EQ(Tool({"cat", path.string(), "crc.txt"}).rc, 1);
}

TEST_F(Zip, EncryptedEntriesAreListedAndRefused) {
  ZipBuilder b;
  b.Stored("secret.cfg", "xxxxxxxxxxxx");
  b.Last().flags = 1;
  b.Stored("open.cfg", "bind");
  auto path = Put("locked.pk3", b.Build());
  EXPECT_EQ(Tool({"list", path.string()}).out, "12\tsecret.cfg\n4\topen.cfg\n");
  Result cat = Tool({"cat", path.string(), "secret.cfg"});
  EXPECT_EQ(cat.rc, 1);
  EXPECT_NE(cat.err.find("\"secret.cfg\": encrypted entries are not supported"), std::string::npos) << cat.err;
  EXPECT_NE(Tool({"check", path.string()}).out.find("encrypted entries are not supported"), std::string::npos);
  ASSERT_TRUE(doc.Open(path));
  EXPECT_EQ(doc.DamagedCount(), 1);
  const Bytes before = ReadFile(path);
  EXPECT_FALSE(doc.Save(path));
  EXPECT_NE(doc.LastError().find("encrypted entries are not supported"), std::string::npos);
  EXPECT_EQ(ReadFile(path), before);
}

TEST_F(Zip, CutCentralDirectoryFailsToOpenWithAMessage) {
  auto path = Put("cut.pk3", ZipBuilder().Stored("a.txt", "aaaa").Stored("b.txt", "bbbb").Build(true));
  EXPECT_FALSE(doc.Open(path));
  EXPECT_NE(doc.LastError().find("central directory"), std::string::npos) << doc.LastError();
  Result list = Tool({"list", path.string()});
  EXPECT_EQ(list.rc, 1);
  EXPECT_NE(list.err.find("central directory"), std::string::npos);
}

TEST_F(Zip, SavedZipsAreWhatEveryReaderTakesAndUnchangedEntriesKeepTheirBytes) {
  Bytes text(20000, 0);
  for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<std::uint8_t>("quake "[i % 6]);
  auto path = Put("in.pk3", ZipBuilder().Deflated("docs/keep.txt", text).Stored("maps/e1m1.bsp", "bsp!").Build());
  ASSERT_TRUE(doc.Open(path));
  WriteFile(dir / "new" / "notes.txt", text);
  WriteFile(dir / "new" / "shot.png", Bytes(5000, 7));
  ASSERT_TRUE(doc.Root().ImportFile(dir / "new" / "notes.txt", {}, nullptr));
  ASSERT_TRUE(doc.Root().ImportFile(dir / "new" / "shot.png", {}, nullptr));
  ASSERT_TRUE(doc.Root().FindByPath("maps/e1m1.bsp")->Rename("Start.bsp"));
  ASSERT_TRUE(doc.Save(path)) << doc.LastError();

  const Bytes zip = ReadFile(path);
  ExpectPlainZip(zip);
  // The deflated entry was copied as it was (one stored block, which no compressor makes).
  EXPECT_EQ(Written(zip, "docs/keep.txt").compressed, StoredBlockDeflate(text));
  EXPECT_EQ(Written(zip, "maps/Start.bsp").method, 0);
  EXPECT_EQ(Written(zip, "notes.txt").method, 8);  // text deflates
  EXPECT_LT(Written(zip, "notes.txt").compressed.size(), text.size() / 10);
  EXPECT_EQ(Written(zip, "shot.png").method, 0);  // already compressed kinds stay stored

  // Read back by libzip (the document) and, when it is installed, by Info-ZIP's unzip.
  ASSERT_TRUE(doc.Open(path));
  EXPECT_EQ(Load(doc.Root().FindByPath("docs/keep.txt")), text);
  EXPECT_EQ(Load(doc.Root().FindByPath("maps/Start.bsp")), ToBytes("bsp!"));
  EXPECT_TRUE(doc.CheckArchive().empty());
  if (std::system("command -v unzip >/dev/null 2>&1") == 0) {
    EXPECT_EQ(std::system(("unzip -tqq '" + path.string() + "' >/dev/null 2>&1").c_str()), 0);
  }

  // --store: nothing deflated.
  ASSERT_EQ(Tool({"--store", "create", P("plain.pk3"), (dir / "new").string()}).rc, 0);
  for (const WrittenEntry& e : ReadWritten(ReadFile(dir / "plain.pk3"))) EXPECT_EQ(e.method, 0) << e.name;
}

TEST_F(Zip, WhatNeedsZip64IsRefusedBeforeWriting) {
  CPackObject* big = doc.Root().AddChild("huge.bsp", false);
  big->SetSize(std::int64_t{4} << 30);
  EXPECT_FALSE(doc.Save(dir / "big.pk3"));
  EXPECT_NE(doc.LastError().find("\"huge.bsp\" is 4 GiB or larger"), std::string::npos) << doc.LastError();
  EXPECT_FALSE(fs::exists(dir / "big.pk3"));

  CTarnDoc many;
  for (int i = 0; i < 65536; ++i) many.Root().AddChild("f", false);
  EXPECT_FALSE(many.Save(dir / "many.zip"));
  EXPECT_NE(many.LastError().find("more than 65,535 needs zip64"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir / "many.zip"));
}

// The central directory's records and where they start, read from an end record at its end.
struct Central {
  std::size_t start, end;  // of the records; the end record follows
  std::vector<Bytes> records;
};
Central CentralOf(const Bytes& zip) {
  Central c{U32At(zip, zip.size() - 22 + 16), zip.size() - 22, {}};
  for (std::size_t at = c.start; at < c.end;) {
    const std::size_t n = 46 + U16At(zip, at + 28) + U16At(zip, at + 30) + U16At(zip, at + 32);
    c.records.emplace_back(zip.begin() + static_cast<std::ptrdiff_t>(at),
                           zip.begin() + static_cast<std::ptrdiff_t>(at + n));
    at += n;
  }
  return c;
}

// An end record for count records of size bytes at offset, with a comment of comment bytes.
Bytes EndRecord(std::size_t count, std::size_t size, std::size_t offset, std::size_t comment) {
  Bytes e(22, 0);
  PutU32(e, 0, 0x06054b50);
  e[8] = e[10] = static_cast<std::uint8_t>(count);
  PutU32(e, 12, static_cast<std::uint32_t>(size));
  PutU32(e, 16, static_cast<std::uint32_t>(offset));
  e[20] = static_cast<std::uint8_t>(comment), e[21] = static_cast<std::uint8_t>(comment >> 8);
  return e;
}

TEST_F(Zip, OneDirectoryGivesNamesAndBytesAndASecondIsReported) {
  // The comment holds a second directory listing the same members in the other order.
  Bytes zip = ZipBuilder().Stored("readme.txt", "read me").Deflated("autoexec.cfg", ToBytes("bind x")).Build();
  const Central c = CentralOf(zip);
  Bytes second = c.records[1];
  second.insert(second.end(), c.records[0].begin(), c.records[0].end());
  const Bytes end2 = EndRecord(2, second.size(), zip.size(), 0);
  const std::size_t comment = second.size() + end2.size();
  zip[zip.size() - 2] = static_cast<std::uint8_t>(comment),
                   zip[zip.size() - 1] = static_cast<std::uint8_t>(comment >> 8);
  zip.insert(zip.end(), second.begin(), second.end());
  zip.insert(zip.end(), end2.begin(), end2.end());
  auto path = Put("two.pk3", zip);

  ASSERT_EQ(Tool({"extract", path.string(), "-C", P("out")}).rc, 0);
  EXPECT_EQ(ReadFile(dir / "out" / "readme.txt"), ToBytes("read me"));
  EXPECT_EQ(ReadFile(dir / "out" / "autoexec.cfg"), ToBytes("bind x"));
  EXPECT_EQ(Tool({"list", path.string()}).out, "6\tautoexec.cfg\n7\treadme.txt\n");  // the last directory's order
  Result check = Tool({"check", path.string()});
  EXPECT_EQ(check.rc, 1);
  EXPECT_NE(check.out.find("its comment holds a second end record"), std::string::npos) << check.out;
}

TEST_F(Zip, OverlappingMembersAreRefusedBeforeAnythingIsWritten) {
  // One deflated member listed 200 times: the bomb unzip calls "overlapped components".
  Bytes zip = ZipBuilder().Deflated("a000", Bytes(60000, 'x')).Build();
  const Central c = CentralOf(zip);
  Bytes records;
  for (int i = 0; i < 200; ++i) {
    Bytes r = c.records[0];
    const std::string name = "a" + std::to_string(1000 + i).substr(1);
    std::copy(name.begin(), name.end(), r.begin() + 46);
    records.insert(records.end(), r.begin(), r.end());
  }
  zip.resize(c.start);
  zip.insert(zip.end(), records.begin(), records.end());
  const Bytes end = EndRecord(200, records.size(), c.start, 0);
  zip.insert(zip.end(), end.begin(), end.end());
  zip[zip.size() - 12] = zip[zip.size() - 14] = 0;  // 200 fits a byte; no high bytes
  auto path = Put("bomb.pk3", zip);

  Result check = Tool({"check", path.string()});
  EXPECT_EQ(check.rc, 1);
  EXPECT_NE((check.out + check.err).find("overlap in the file (possible zip bomb)"), std::string::npos) << check.err;
  Result extract = Tool({"extract", path.string(), "-C", P("out")});
  EXPECT_EQ(extract.rc, 1);
  EXPECT_NE(extract.err.find("possible zip bomb"), std::string::npos) << extract.err;
  EXPECT_FALSE(fs::exists(dir / "out"));
}

TEST_F(Zip, SavesNeverCopyAMemberCheckWouldReject) {
  Bytes ten = ToBytes("0123456789");
  ZipBuilder b;
  b.Deflated("good.txt", ten);
  b.Deflated("long.txt", ten);
  b.Last().size = 4;  // inflates past what it declares
  auto path = Put("lies.pk3", b.Build());
  ASSERT_TRUE(doc.Open(path));
  EXPECT_FALSE(doc.Save(dir / "copy.pk3"));
  EXPECT_NE(doc.LastError().find("\"long.txt\" inflates past its declared size"), std::string::npos) << doc.LastError();
  EXPECT_FALSE(fs::exists(dir / "copy.pk3"));

  // Headers that disagree on the compressed size: read as the central directory says, as
  // unzip and zipfile read it, and written again, not copied.
  Bytes zip = ZipBuilder().Deflated("odd.txt", ten).Stored("plain.txt", "p").Build();
  zip[18] ^= 1;  // the local header's compressed size
  path = Put("odd.pk3", zip);
  EXPECT_NE(Tool({"check", path.string()}).out.find("\"odd.txt\": its local header disagrees"), std::string::npos);
  ASSERT_EQ(Tool({"repack", path.string(), P("fixed.pk3")}).rc, 0);
  EXPECT_EQ(Tool({"check", P("fixed.pk3")}).rc, 0);
  EXPECT_EQ(Tool({"cat", P("fixed.pk3"), "odd.txt"}).out, "0123456789");
}

TEST_F(Zip, BytesAroundTheZipAreReadAsUnzipReadsThem) {
  // A self-extractor's stub in front: offsets count from where the zip starts.
  Bytes zip = ToBytes("MZ stub of a self-extracting program");
  const Bytes inner = ZipBuilder().Stored("maps/e1m1.bsp", "bsp").Build();
  zip.insert(zip.end(), inner.begin(), inner.end());
  auto path = Put("sfx.pk3", zip);
  EXPECT_EQ(Tool({"cat", path.string(), "maps/e1m1.bsp"}).out, "bsp");
  EXPECT_EQ(Tool({"check", path.string()}).rc, 0);
  // Bytes after the end record's comment: read, and check says what they are.
  zip.insert(zip.end(), {'j', 'u', 'n', 'k'});
  path = Put("junk.pk3", zip);
  EXPECT_EQ(Tool({"cat", path.string(), "maps/e1m1.bsp"}).out, "bsp");
  EXPECT_NE(Tool({"check", path.string()}).out.find("4 bytes follow the end record and its comment"),
            std::string::npos);
}

TEST_F(Zip, RepackOverAnExistingArchiveDoesNotWaitOnItsOwnLock) {
  auto in = Put("in.pk3", ZipBuilder().Stored("a.cfg", "new").Build());
  Put("out.pk3", ZipBuilder().Stored("a.cfg", "old").Build());
  ::setenv("TARN_PAK_LOCK_TIMEOUT", "1", 1);
  const Result r = Tool({"repack", in.string(), P("out.pk3")});
  ::unsetenv("TARN_PAK_LOCK_TIMEOUT");
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(Tool({"cat", P("out.pk3"), "a.cfg"}).out, "new");
}

TEST_F(Zip, PakWriterRefusesTheNamesExtractionRefuses) {
  auto path = Put("names.pk3", ZipBuilder()
                                   .Stored("../escape.txt", "1")
                                   .Stored("/abs.txt", "2")
                                   .Stored("ctl\x01.txt", "3")
                                   .Stored(std::string("cut\0here.txt", 12), "4")
                                   .Stored("fine.txt", "5")
                                   .Build());
  const Result r = Tool({"repack", path.string(), P("out.pak")});
  EXPECT_EQ(r.rc, 1);
  for (const char* want :
       {"\"../escape.txt\" cannot be stored in a PAK", "\"/abs.txt\" cannot be stored in a PAK",
        "\"ctl\\x01.txt\" cannot be stored in a PAK", "\"cut\\x00here.txt\" cannot be stored in a PAK"})
    EXPECT_NE(r.err.find(want), std::string::npos) << want << "\n" << r.err;
  EXPECT_FALSE(fs::exists(dir / "out.pak"));
}

TEST_F(Zip, EmptyZipIsItsEndRecord) {
  ASSERT_TRUE(doc.Save(dir / "empty.zip")) << doc.LastError();
  EXPECT_EQ(ReadFile(dir / "empty.zip"), (Bytes{'P', 'K', 5, 6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  ASSERT_TRUE(doc.Open(dir / "empty.zip"));
  EXPECT_EQ(doc.Format(), ContainerFormat::Zip);
  EXPECT_EQ(doc.Root().ChildCount(), 0u);
}

// Go's dupdir.zip: a file "a/b" and a folder "a/b/". list, extract and check tell one rule,
// and a PAK whose "a/b" is a file and the folder of "a/b/c" the same.
TEST_F(Zip, APathThatIsAFileAndAFolderIsOneProblemToEveryCommand) {
  const std::string note =
      "\"a/b\": it is both a file and a folder in the archive; a disk holds only one, so extraction writes the "
      "file and not the folder";
  const std::vector<std::pair<std::string, Bytes>> archives = {
      {"dupdir.zip", ZipBuilder().Stored("a/", "").Stored("a/b", "file b").Stored("a/b/", "").Build()},
      {"both.pak", PakBuilder().File("a/b", "file b").File("a/b/c", "c").Build()}};
  for (const auto& [name, bytes] : archives) {
    const std::string path = Put(name, bytes).string();
    const Result list = Tool({"list", path});
    EXPECT_EQ(list.rc, 0) << name;
    EXPECT_NE(list.err.find(note), std::string::npos) << name << ": " << list.err;
    const Result check = Tool({"check", path});
    EXPECT_EQ(check.rc, 1) << name;
    EXPECT_NE(check.out.find(note), std::string::npos) << name << ": " << check.out;
    const Result extract = Tool({"extract", path, "-C", P("out-" + name)});
    EXPECT_EQ(extract.rc, 1) << name;
    EXPECT_NE(extract.err.find(note), std::string::npos) << name << ": " << extract.err;
    EXPECT_EQ(extract.err.find("Is a directory"), std::string::npos) << extract.err;
    // The file is written whole, the folder left out.
    EXPECT_EQ(ReadFile(dir / ("out-" + name) / "a" / "b"), ToBytes("file b")) << name;
  }
}

TEST_F(Zip, ReproducibleArchivesDoNotDependOnTheTimeZone) {
  WriteFile(dir / "src" / "autoexec.cfg", "bind x");
  ::setenv("SOURCE_DATE_EPOCH", "1500000000", 1);
  Bytes made[2];
  const char* zones[] = {"UTC", "Asia/Tokyo"};
  for (int i = 0; i < 2; ++i) {
    ::setenv("TZ", zones[i], 1);
    ::tzset();
    const std::string out = P("u" + std::to_string(i) + ".pk3");
    ASSERT_EQ(Tool({"create", out, P("src")}).rc, 0);
    made[i] = ReadFile(out);
  }
  ::unsetenv("SOURCE_DATE_EPOCH");
  ::unsetenv("TZ");
  ::tzset();
  EXPECT_EQ(made[0], made[1]);
  // 2017-07-14 02:40:00 UTC, as the local header's date and time.
  EXPECT_EQ(U32At(made[0], 10), (37u << 25) | (7u << 21) | (14u << 16) | (2u << 11) | (40u << 5));
}

TEST_F(Zip, AFailedWriteNamesItsCauseAsAPakSaveDoes) {
  // A size limit fails the write as a full disk does (with its own errno); in a child, so the
  // limit stays there. The file is larger than the save's buffer, so the zip writer meets it.
  for (const char* name : {"full.pak", "full.pk3"}) {
    const fs::path target = dir / name;
    const pid_t child = ::fork();
    if (child == 0) {
      std::signal(SIGXFSZ, SIG_IGN);
      CTarnDoc big;
      big.Root().SetFormat(*FormatOfName(target));
      CPackObject* shot = big.Root().AddChild("shot.png", false);
      shot->SetData(Bytes(1 << 20, 7));
      shot->SetSize(1 << 20);
      rlimit limit{64 << 10, 64 << 10};
      ::setrlimit(RLIMIT_FSIZE, &limit);
      const bool saved = big.Save(target);
      const std::string wanted =
          std::string(docmsg::kWriting) + "\n\"" + target.string() + "\": " + std::strerror(EFBIG);
      if (!saved && big.LastError() != wanted) std::fprintf(stderr, "%s\n", big.LastError().c_str());
      ::_exit(!saved && big.LastError() == wanted ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << name;
    EXPECT_FALSE(fs::exists(target)) << name;
  }
}

}  // namespace
}  // namespace tarn::test
