#include <cstdlib>
#include <new>

#include "AllocationLimit.h"
#include "TestSupport.h"
#include "archive/EntryTypes.h"
#include "archive/PackObject.h"

// Counts what operator new hands out while an AllocationCounter lives on the thread, and
// refuses what an AllocationLimit does not allow.
namespace {
thread_local std::size_t* g_counted = nullptr;
}  // namespace

thread_local std::size_t tarn::test::g_allocationLimit = SIZE_MAX;

void* operator new(std::size_t n) {
  if (n > tarn::test::g_allocationLimit) throw std::bad_alloc();
  if (g_counted) *g_counted += n;
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return operator new(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  if (n > tarn::test::g_allocationLimit) return nullptr;
  return std::malloc(n ? n : 1);
}
void* operator new[](std::size_t n, const std::nothrow_t& t) noexcept { return operator new(n, t); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace tarn::test {
namespace {

class AllocationCounter {
 public:
  AllocationCounter() { g_counted = &m_bytes; }
  ~AllocationCounter() { g_counted = nullptr; }
  std::size_t Bytes() const { return m_bytes; }

 private:
  std::size_t m_bytes = 0;
};

std::unique_ptr<CPackObject> MakeRoot() {
  auto root = std::make_unique<CPackObject>();
  root->Rename("root");
  root->SetDirectory(true);
  return root;
}

std::vector<std::string> ChildNames(const CPackObject& dir) {
  std::vector<std::string> names;
  for (CPackObject* c : dir.Children()) names.push_back(c->Name());
  return names;
}

TEST(PackObject, FreshEntryIsAnUntitledFile) {
  CPackObject e;
  EXPECT_EQ(e.Name(), "untitled");
  EXPECT_FALSE(e.IsDirectory());
  EXPECT_EQ(e.Parent(), nullptr);
  EXPECT_FALSE(e.HasData());
}

struct NamingCase {
  std::vector<std::string> existing;
  std::string added;
  std::string expected;
};

void PrintTo(const NamingCase& c, std::ostream* os) { *os << c.added << " -> " << c.expected; }

class UniqueNaming : public ::testing::TestWithParam<NamingCase> {};

TEST_P(UniqueNaming, CounterGoesBeforeTheExtension) {
  auto root = MakeRoot();
  for (const auto& n : GetParam().existing) root->AddChild(n, false);
  EXPECT_EQ(root->AddChild(GetParam().added, false)->Name(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UniqueNaming,
    ::testing::Values(NamingCase{{}, "Skin.PCX", "skin.pcx"},
                      NamingCase{{"skin.pcx", "skin(2).pcx"}, "Skin.PCX", "skin(3).pcx"},
                      NamingCase{{"ab.c"}, "ab.c", "ab(2).c"}, NamingCase{{"abc"}, "abc", "abc(2)"},
                      NamingCase{{"x.b"}, "x.b", "x.b(2)"},  // three characters: no extension split
                      NamingCase{{"readme"}, "README", "readme(2)"},
                      NamingCase{{"a.tar.gz"}, "a.tar.gz", "a.tar(2).gz"},
                      NamingCase{{"f", "f(2)", "f(3)"}, "f", "f(4)"}));

TEST(PackObject, DirectoryAndFileCannotShareAName) {
  auto root = MakeRoot();
  root->AddChild("maps", true);
  CPackObject* file = root->AddChild("maps", false);
  EXPECT_EQ(file->Name(), "maps(2)");
  EXPECT_EQ(root->FindChildDirectory("maps")->IsDirectory(), true);
  EXPECT_EQ(root->FindChildDirectory("maps(2)"), nullptr);
}

TEST(PackObject, FreedNameIsReusedAfterRemoval) {
  auto root = MakeRoot();
  for (int i = 0; i < 4; ++i) root->AddChild("dup.txt", false);
  ASSERT_EQ(root->RemoveChild(root->FindChild("dup(2).txt")), 1);
  EXPECT_EQ(root->AddChild("dup.txt", false)->Name(), "dup(2).txt");
  EXPECT_EQ(root->AddChild("dup.txt", false)->Name(), "dup(5).txt");
}

TEST(PackObject, ChildrenKeepInsertionOrderThroughRenameAndRemoval) {
  auto root = MakeRoot();
  for (const char* n : {"zeta", "alpha", "mid", "beta"}) root->AddChild(n, false);
  root->FindChild("alpha")->Rename("omega");
  root->RemoveChild(root->FindChild("mid"));
  EXPECT_EQ(ChildNames(*root), (std::vector<std::string>{"zeta", "omega", "beta"}));
}

// A directory finds names through a small array of hashes until it grows past sixteen
// children, then through an index: both must agree on every lookup, through removals and
// renames on either side of the change.
TEST(PackObject, NamesAreFoundInAnyCaseInSmallAndLargeDirectories) {
  for (int n : {3, 16, 17, 40}) {
    SCOPED_TRACE(n);
    auto root = MakeRoot();
    root->SetFormat(ContainerFormat::Zip);  // names keep their case
    for (int i = 0; i < n; ++i) root->AddChild("Name" + std::to_string(i) + ".Txt", false);
    ASSERT_EQ(root->ChildCount(), static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) ASSERT_NE(root->FindChild("nAME" + std::to_string(i) + ".tXT"), nullptr) << i;
    EXPECT_EQ(root->FindChild("name" + std::to_string(n) + ".txt"), nullptr);
    EXPECT_EQ(root->AddChild("NAME0.TXT", false)->Name(), "NAME0(2).TXT");
    ASSERT_EQ(root->RemoveChild(root->FindChild("name1.txt")), 1);
    EXPECT_EQ(root->FindChild("name1.txt"), nullptr);
    CPackObject* last = root->FindChild("name" + std::to_string(n - 1) + ".txt");
    ASSERT_TRUE(last->Rename("Other.txt"));
    EXPECT_EQ(root->FindChild("OTHER.TXT"), last);
    EXPECT_EQ(root->FindChild("name" + std::to_string(n - 1) + ".txt"), nullptr);
    EXPECT_FALSE(root->FindChild("name0.txt")->Rename("other.TXT"));
    EXPECT_EQ(root->ChildCount(), static_cast<std::size_t>(n));
  }
}

struct KindCase {
  std::string name;
  bool directory;
  EntryType type;
};

void PrintTo(const KindCase& c, std::ostream* os) { *os << c.name; }

class Kinds : public ::testing::TestWithParam<KindCase> {};

// The one table that gives both the Type column and the icon.
TEST_P(Kinds, FollowTheNameEnding) { EXPECT_EQ(TypeOf(GetParam().name, GetParam().directory), GetParam().type); }

using T = EntryType;
INSTANTIATE_TEST_SUITE_P(
    Table, Kinds,
    ::testing::Values(KindCase{"maps", true, T::Directory}, KindCase{"pics.pcx", true, T::Directory},
                      KindCase{"s.wav", false, T::Sound}, KindCase{"m.OGG", false, T::Sound},
                      KindCase{"ogre.mdl", false, T::QuakeModel}, KindCase{"tris.md2", false, T::Quake2Model},
                      KindCase{"a.pcx", false, T::PcxPicture}, KindCase{"CONBACK.LMP", false, T::QuakePicture},
                      KindCase{"x.wal", false, T::Quake2Texture}, KindCase{"a.cfg", false, T::Text},
                      KindCase{"quake.rc", false, T::Text}, KindCase{"s.sp2", false, T::Quake2Sprite},
                      KindCase{"s.spr", false, T::Sprite}, KindCase{"e1m1.bsp", false, T::Map},
                      KindCase{"rc", false, T::File}, KindCase{".rc", false, T::File},
                      KindCase{"wav", false, T::File}));

TEST(PackObject, RenameNeverDisplacesAnEntry) {
  auto root = MakeRoot();
  CPackObject* a = root->AddChild("a.txt", false);
  CPackObject* b = root->AddChild("b.txt", false);
  EXPECT_FALSE(b->Rename("a.txt"));
  EXPECT_FALSE(b->Rename("A.TXT"));  // another's name in another case
  EXPECT_FALSE(b->Rename(""));
  EXPECT_FALSE(b->Rename("dir/name"));
  EXPECT_EQ(root->FindChild("a.txt"), a);
  EXPECT_EQ(root->FindChild("b.txt"), b);

  EXPECT_TRUE(b->Rename("Sound.WAV"));  // kept as typed
  EXPECT_EQ(root->FindChild("Sound.WAV"), b);
  EXPECT_EQ(root->FindChild("b.txt"), nullptr);
  EXPECT_TRUE(b->Rename("bark.txt"));
  EXPECT_TRUE(b->Rename("sound.wav"));
  EXPECT_TRUE(b->Rename("sound.wav"));
}

TEST(PackObject, RemoveChildOfAnotherDirectoryDestroysNothing) {
  auto root = MakeRoot();
  CPackObject* d = root->AddChild("d", true);
  CPackObject* f = d->AddChild("f", false);
  EXPECT_EQ(root->RemoveChild(f), 0);
  EXPECT_EQ(d->FindChild("f"), f);
  EXPECT_EQ(root->RemoveChild(nullptr), 0);
}

TEST(PackObject, FindByPathWalksDirectoriesOnly) {
  auto root = MakeRoot();
  CPackObject* maps = root->AddChild("maps", true);
  CPackObject* e1m1 = maps->AddChild("e1m1.bsp", false);
  root->AddChild("file", false)->SetSize(1);
  EXPECT_EQ(root->FindByPath("maps/e1m1.bsp"), e1m1);
  EXPECT_EQ(root->FindByPath("maps"), maps);
  EXPECT_EQ(root->FindByPath("file/x"), nullptr);
  EXPECT_EQ(root->FindByPath("MAPS/E1M1.bsp"), e1m1);  // one name in any case
  EXPECT_EQ(root->FindByPath("maps/"), nullptr);
  EXPECT_EQ(e1m1->PathInArchive(), "maps/e1m1.bsp");
  EXPECT_EQ(e1m1->Root(), root.get());
}

TEST(PackObject, CountFilesIgnoresDirectories) {
  auto root = MakeRoot();
  CPackObject* d = root->AddChild("d", true);
  d->AddChild("e", true)->AddChild("f", false);
  d->AddChild("g", false);
  root->AddChild("h", false);
  EXPECT_EQ(root->CountFiles(), 3);
  EXPECT_EQ(d->CountFiles(), 2);
}

TEST(PackObject, LoadDataWithoutAnySourceLoadsNothing) {
  auto root = MakeRoot();
  CPackObject* f = root->AddChild("f", false);
  f->SetSize(10);
  EXPECT_EQ(f->LoadData(), 0);
  EXPECT_FALSE(f->HasData());
  f->SetSize(0);
  root->SetSource(std::make_shared<CMemorySource>(Bytes(100, 7)));
  EXPECT_EQ(f->LoadData(), 0);  // an empty entry never holds bytes
}

TEST(PackObject, LoadDataReadsOnceAndRefusesBytesOutsideTheSource) {
  auto root = MakeRoot();
  Bytes src(64);
  for (std::size_t i = 0; i < src.size(); ++i) src[i] = static_cast<std::uint8_t>(i);
  root->SetSource(std::make_shared<CMemorySource>(src));
  CPackObject* f = root->AddChild("d", true)->AddChild("f", false);
  f->SetOffset(10);
  f->SetSize(4);
  ASSERT_EQ(f->LoadData(), 1);
  EXPECT_EQ(*f->Data(), (Bytes{10, 11, 12, 13}));
  EXPECT_EQ(f->LoadData(), 0);  // already loaded

  CPackObject* huge = root->AddChild("huge", false);
  huge->SetOffset(60);
  huge->SetSize(0x7FFFFFF0);  // must not allocate 2 GiB for a 64-byte source
  EXPECT_EQ(huge->LoadData(), 0);
  CPackObject* negative = root->AddChild("neg", false);
  negative->SetOffset(-4);
  negative->SetSize(4);
  EXPECT_EQ(negative->LoadData(), 0);
}

TEST(PackObject, TemporaryFileGoesWithItsEntry) {
  TempDir dir;
  auto root = MakeRoot();
  const auto tmp = dir / "pdc-owned";
  WriteFile(tmp, "bytes");
  CPackObject* f = root->AddChild("f", false);
  f->SetSize(5);
  f->SetTempFile(tmp.string());
  ASSERT_EQ(f->LoadData(), 1);
  EXPECT_EQ(*f->Data(), ToBytes("bytes"));
  root->RemoveChild(f);
  EXPECT_FALSE(fs::exists(tmp));

  const auto kept = dir / "not-owned";
  WriteFile(kept, "x");
  root->AddChild("g", false)->SetTempFile(kept.string(), false);
  root->DeleteChildren();
  EXPECT_TRUE(fs::exists(kept));  // a file read in place belongs to the user
}

TEST(PackObject, ManyCollidingNamesStayLinear) {
  // The work of the name index, counted: ten times the names must cost about ten times the
  // probes, not a hundred (the timing is a benchmark in bench/).
  auto probesFor = [](int n) {
    auto root = MakeRoot();
    for (int i = 0; i < n; ++i) root->AddChild("same.txt", false);
    EXPECT_EQ(root->ChildCount(), static_cast<std::size_t>(n));
    return static_cast<double>(root->IndexProbes());
  };
  const double small = probesFor(4000), large = probesFor(40000);
  EXPECT_LT(large / 40000, 12.0) << large << " probes for 40000 names";
  EXPECT_LT(large, small * 20) << small << " probes for 4000, " << large << " for 40000";
}

TEST(PackObject, StreamingBytesOutsideTheSourceTakesNoBuffer) {
  auto root = MakeRoot();
  root->SetSource(std::make_shared<CMemorySource>(Bytes(64, 1)));
  CPackObject* lost = root->AddChild("lost", false);
  lost->SetOffset(32);
  lost->SetSize(1 << 20);
  std::string why;
  AllocationCounter counter;
  EXPECT_FALSE(lost->StreamData([](const std::uint8_t*, std::size_t) { return true; }, &why));
  EXPECT_LT(counter.Bytes(), 4096u);
  EXPECT_EQ(why, "the data of \"lost\" lie outside the archive");
}

TEST(PackObject, CopyBytesTakesAtMostWhatIsAskedAndLeavesTheEntryAsItWas) {
  auto root = MakeRoot();
  Bytes src(64);
  for (std::size_t i = 0; i < src.size(); ++i) src[i] = static_cast<std::uint8_t>(i);
  root->SetSource(std::make_shared<CMemorySource>(src));
  CPackObject* f = root->AddChild("f", false);
  f->SetOffset(8);
  f->SetSize(16);
  Bytes out;
  bool cut = true;
  ASSERT_TRUE(f->CopyBytes(out, nullptr, SIZE_MAX, &cut));
  EXPECT_EQ(out, Bytes(src.begin() + 8, src.begin() + 24));
  EXPECT_FALSE(cut);
  ASSERT_TRUE(f->CopyBytes(out, nullptr, 5, &cut));
  EXPECT_EQ(out, Bytes(src.begin() + 8, src.begin() + 13));
  EXPECT_TRUE(cut);
  EXPECT_FALSE(f->HasData());

  f->SetSize(100);  // beyond the source: a reason, not a short copy
  std::string why;
  EXPECT_FALSE(f->CopyBytes(out, &why));
  EXPECT_FALSE(why.empty());
}

}  // namespace
}  // namespace tarn::test
