#include "TestSupport.h"
#include "containers/PakFormat.h"
#include "document/TarnDoc.h"

namespace tarn::test {
namespace {

PakIndex Index(const Bytes& bytes, PakReadResult* result = nullptr) {
  CMemorySource src(bytes);
  PakIndex index;
  PakReadResult r = ReadPakIndex(src, index);
  if (result) *result = r;
  return index;
}

bool HasProblem(const std::vector<std::string>& problems, const std::string& part) {
  for (const auto& p : problems)
    if (p.find(part) != std::string::npos) return true;
  return false;
}

TEST(PakReader, RejectsAnythingNotStartingWithPack) {
  for (const Bytes& b : {Bytes{}, ToBytes("PAC"), ToBytes("pack\0\0\0\0\0\0\0\0"), ToBytes("WAD2xxxxxxxx")}) {
    PakReadResult r;
    Index(b, &r);
    EXPECT_EQ(r, PakReadResult::NotPak);
  }
}

TEST(PakReader, ReadsRecordsInOrder) {
  auto idx = Index(PakBuilder().File("maps/e1m1.bsp", "abc").File("progs.dat", "").Build());
  ASSERT_EQ(idx.records.size(), 2u);
  EXPECT_EQ(idx.records[0].path, "maps/e1m1.bsp");
  EXPECT_EQ(idx.records[0].offset, 12);
  EXPECT_EQ(idx.records[0].size, 3);
  EXPECT_EQ(idx.records[1].path, "progs.dat");
  EXPECT_TRUE(CheckPakIndex(idx).empty());
}

TEST(PakReader, EmptyDirectoryAndPartialRecord) {
  Bytes empty = PakBuilder().Build();
  EXPECT_EQ(empty, (Bytes{'P', 'A', 'C', 'K', 12, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_TRUE(Index(empty).records.empty());

  Bytes b = PakBuilder().File("a", "1").Build();
  b.resize(b.size() + 10);  // ten stray bytes after the record, counted in the length
  PutU32(b, 8, 74);
  auto idx = Index(b);
  EXPECT_EQ(idx.records.size(), 1u);
  EXPECT_TRUE(HasProblem(CheckPakIndex(idx), "not a multiple of 64"));
}

TEST(PakReader, HostileHeadersNeverReadOutside) {
  // Directory far beyond the end, negative, or claiming gigabytes: no records, no crash.
  for (auto [offset, length] : std::vector<std::pair<std::uint32_t, std::uint32_t>>{
           {0x7FFFFFF0u, 64}, {0xFFFFFFF0u, 64}, {12, 0x7FFFFFC0u}, {12, 0xFFFFFFC0u}, {4, 64}}) {
    Bytes b = PakBuilder().Build();
    PutU32(b, 4, offset);
    PutU32(b, 8, length);
    PakReadResult r;
    auto idx = Index(b, &r);
    EXPECT_EQ(r, PakReadResult::Ok);
    EXPECT_TRUE(idx.records.empty());
    EXPECT_FALSE(CheckPakIndex(idx).empty()) << offset << " " << length;
  }
  // Only the magic: a truncated archive, not a crash.
  EXPECT_TRUE(Index(ToBytes("PACK")).directoryTruncated);
}

TEST(PakReader, TruncatedDirectoryKeepsTheRecordsThatFit) {
  Bytes b = PakBuilder().File("a", "1").File("b", "2").File("c", "3").Build();
  b.resize(b.size() - 64 - 10);
  auto idx = Index(b);
  EXPECT_EQ(idx.records.size(), 1u);
  EXPECT_TRUE(idx.directoryTruncated);
}

TEST(PakReader, FlagsDataOutsideTheFile) {
  Bytes b = PakBuilder()
                .File("good", "data")
                .Raw("past_end", 12, 1 << 20)
                .Raw("negative_offset", -5, 2)
                .Raw("negative_size", 12, -2)
                .Raw("wraps", 0x7FFFFFFF, 0x7FFFFFFF)
                .Build();
  auto idx = Index(b);
  ASSERT_EQ(idx.records.size(), 5u);
  EXPECT_TRUE(idx.records[0].dataInside);
  for (int i = 1; i < 5; ++i) EXPECT_FALSE(idx.records[i].dataInside) << idx.records[i].path;

  int damaged = 0;
  auto root = CTarnDoc::BuildTree(idx, &damaged);
  EXPECT_EQ(damaged, 4);
  EXPECT_TRUE(root->FindChild("past_end")->IsDamaged());
  EXPECT_FALSE(root->FindChild("good")->IsDamaged());
}

TEST(PakReader, UnterminatedNameUsesTheWholeField) {
  std::string name(56, 'n');
  auto idx = Index(PakBuilder().File(name, "x").Build());
  ASSERT_EQ(idx.records.size(), 1u);
  EXPECT_EQ(idx.records[0].path, name);
  EXPECT_FALSE(idx.records[0].nameTerminated);
  EXPECT_TRUE(HasProblem(CheckPakIndex(idx), "without a terminating NUL"));
}

// The name ends at its first NUL, wherever in the field that is (names are read a word at a
// time), with bytes of 0x01 and 0x80 around it and garbage after it.
TEST(PakReader, NamesEndAtTheirFirstNulAtEveryLength) {
  for (std::size_t length = 0; length < 56; ++length) {
    std::string name(length, 'a');
    for (std::size_t i = 0; i < length; ++i) name[i] = "a\x01\x80/b"[i % 5];
    Bytes pak = PakBuilder().File(name, "x").Build();
    const std::size_t field = pak.size() - 64;
    for (std::size_t i = length + 1; i < 56; ++i) pak[field + i] = static_cast<std::uint8_t>(i % 3 ? 1 : 'z');
    auto idx = Index(pak);
    ASSERT_EQ(idx.records.size(), 1u);
    EXPECT_EQ(idx.records[0].path, name) << length;
    EXPECT_TRUE(idx.records[0].nameTerminated);
  }
}

TEST(PakCheck, ReportsDuplicatesOverlapsAndUnsafeNames) {
  Bytes b = PakBuilder()
                .File("a.txt", "0123456789")
                .Raw("A.TXT", 12, 3)    // same path once lower-cased, and overlapping a.txt
                .Raw("../evil", 12, 0)  // empty data overlap nothing
                .Raw("dir//x", 12, 0)
                .Raw("c:\\x", 12, 0)
                .Raw("bell\x07", 12, 0)
                .Build();
  auto problems = CheckPakIndex(Index(b));
  EXPECT_TRUE(HasProblem(problems,
                         "\"A.TXT\": duplicate path but for case (also record 1): the engine loads "
                         "record 1 \"a.txt\""));
  EXPECT_TRUE(HasProblem(problems, "\"A.TXT\": data overlap those of \"a.txt\""));
  EXPECT_TRUE(HasProblem(problems, "\"../evil\": cannot be exported safely"));
  EXPECT_TRUE(HasProblem(problems, "\"dir//x\": cannot be exported safely: the name is empty"));
  EXPECT_TRUE(HasProblem(problems, "\"c:\\\\x\": cannot be exported safely"));
  EXPECT_TRUE(HasProblem(problems, "\"bell\\x07\": cannot be exported safely: the name contains a control"));
}

TEST(PakCheck, DataInsideHeaderOrDirectoryAreReported) {
  Bytes b = PakBuilder().File("a", "abcd").Raw("hdr", 0, 4).Build();
  auto problems = CheckPakIndex(Index(b));
  EXPECT_TRUE(HasProblem(problems, "\"hdr\": data overlap the header"));
  Bytes c = PakBuilder().File("a", "abcd").Build();
  PutU32(c, 16 + 56, 16);  // "a" now points at its own directory record
  PutU32(c, 16 + 60, 8);
  EXPECT_TRUE(HasProblem(CheckPakIndex(Index(c)), "\"a\": data overlap the directory"));
}

TEST(PakTree, NamesKeepTheirBytesAndFoldersOfOtherCaseStayApart) {
  Bytes b = PakBuilder()
                .File("Maps/E1M1.bsp", "1")
                .File("maps/e1m1.bsp", "2")
                .File("MAPS/e1m1.BSP", "3")
                .File("maps", "file named like a directory")
                .File("maps/sub/x.bsp", "4")
                .Build();
  auto root = CTarnDoc::BuildTree(Index(b));
  std::vector<std::string> names;
  for (CPackObject* c : root->Children()) names.push_back(c->Name() + (c->IsDirectory() ? "/" : ""));
  EXPECT_EQ(names, (std::vector<std::string>{"Maps/", "maps/", "MAPS/", "maps"}));
  EXPECT_EQ(root->FindByPath("MAPS/e1m1.BSP")->Offset(), 14);
  EXPECT_EQ(root->FindByPath("maps/sub/x.bsp")->Offset(), 15 + 27);
  EXPECT_TRUE(root->FindChild("maps")->IsDirectory());  // of names kept beside each other, the exact one
  EXPECT_EQ(root->FindChild("maps")->Name(), "maps");
}

}  // namespace
}  // namespace tarn::test
