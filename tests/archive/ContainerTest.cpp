#include "CliSupport.h"
#include "TestSupport.h"
#include "ZipBuilder.h"
#include "archive/EntryNames.h"
#include "containers/Container.h"
#include "document/TarnDoc.h"

namespace tarn::test {
namespace {

std::optional<ContainerFormat> Probe(const Bytes& b) {
  CMemorySource source(b);
  return ProbeFormat(source);
}

TEST(Container, KnownByContentNeverByName) {
  EXPECT_EQ(Probe(PakBuilder().Build()), ContainerFormat::Pak);
  EXPECT_EQ(Probe(ToBytes("WAD2xxxxxxxx")), ContainerFormat::Wad2);
  EXPECT_EQ(Probe(ToBytes("WAD3xxxxxxxx")), ContainerFormat::Wad3);
  EXPECT_EQ(Probe(ZipBuilder().Stored("a", "b").Build()), ContainerFormat::Zip);
  // An empty zip is only its end record; a zip may carry a comment after it.
  Bytes empty = ZipBuilder().Build();
  EXPECT_EQ(Probe(empty), ContainerFormat::Zip);
  empty[20] = 5;
  empty.insert(empty.end(), {'h', 'e', 'l', 'l', 'o'});
  EXPECT_EQ(Probe(empty), ContainerFormat::Zip);
  EXPECT_EQ(Probe(ToBytes("JUNK, not an archive at all")), std::nullopt);
  EXPECT_EQ(Probe({}), std::nullopt);

  EXPECT_EQ(FormatOfName("a/B.PK3"), ContainerFormat::Zip);
  EXPECT_EQ(FormatOfName("x.pkz"), ContainerFormat::Zip);
  EXPECT_EQ(FormatOfName("x.wad"), ContainerFormat::Wad2);
  EXPECT_EQ(FormatOfName("x.bsp"), std::nullopt);
  EXPECT_EQ(FormatOfWord("wad3"), ContainerFormat::Wad3);
  EXPECT_TRUE(IsReadOnlyArchiveName("QuakeEX.KPF"));
}

TEST(Container, NamesFollowTheContainerAndAreOneNameInAnyCase) {
  CPackObject pak, zip;
  pak.SetDirectory(true);
  zip.SetDirectory(true);
  zip.SetFormat(ContainerFormat::Zip);
  EXPECT_EQ(pak.AddChild("Maps", true)->Name(), "maps");
  EXPECT_EQ(zip.AddChild("Maps", true)->Name(), "Maps");
  EXPECT_EQ(zip.AddChild("MAPS", false)->Name(), "MAPS(2)");  // "(n)" whatever the case
  EXPECT_EQ(zip.FindChild("maps"), zip.FindChild("Maps"));
  // A subtree pasted into a PAK takes the PAK's names; a PAK's into a zip keeps them.
  auto moved = zip.DetachChild(zip.FindChild("Maps"));
  moved->AddChild("E1M1.BSP", false);
  CPackObject* in = pak.AdoptChild(std::move(moved));
  EXPECT_EQ(in->Name(), "maps(2)");
  EXPECT_NE(in->FindChild("e1m1.bsp"), nullptr);
  EXPECT_EQ(in->FindChild("e1m1.bsp")->Name(), "e1m1.bsp");
  // A tree converted to another container keeps its names: they are what the engine asks for.
  zip.SetFormat(ContainerFormat::Pak);
  EXPECT_EQ(zip.FindChild("maps(2)")->Name(), "MAPS(2)");
}

class ContainerDoc : public ::testing::Test {
 protected:
  TempDir dir;
  CTarnDoc doc;
};

TEST_F(ContainerDoc, PakToPk3AndBackKeepsEveryByteAndPath) {
  Bytes big(70000);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 7);
  WriteFile(dir / "pak0.pak", PakBuilder()
                                  .File("default.cfg", "bind w +forward")
                                  .File("maps/e1m1.bsp", big)
                                  .File("progs/empty.mdl", "")
                                  .Build());
  ASSERT_TRUE(doc.Open(dir / "pak0.pak"));
  EXPECT_EQ(doc.FormatForSave(dir / "pak0.pk3"), ContainerFormat::Zip);
  ASSERT_TRUE(doc.Save(dir / "pak0.pk3")) << doc.LastError();
  EXPECT_EQ(doc.Format(), ContainerFormat::Zip);
  EXPECT_EQ(Tool({"list", (dir / "pak0.pk3").string()}).out, Tool({"list", (dir / "pak0.pak").string()}).out);
  EXPECT_EQ(Load(doc.Root().FindByPath("maps/e1m1.bsp")), big);  // read from the new zip
  EXPECT_EQ(doc.Root().FindByPath("maps/e1m1.bsp")->Location().crc, Crc32(big));

  ASSERT_TRUE(doc.Save(dir / "again.pak")) << doc.LastError();
  EXPECT_EQ(doc.Format(), ContainerFormat::Pak);
  EXPECT_EQ(ReadFile(dir / "again.pak"), ReadFile(dir / "pak0.pak"));
  // Names keep their case in a PAK, which compares them as they are.
  ASSERT_TRUE(doc.Root().FindByPath("maps/e1m1.bsp")->Rename("E1M1.bsp"));
  ASSERT_TRUE(doc.Save(dir / "again.pak")) << doc.LastError();
  EXPECT_NE(Tool({"list", (dir / "again.pak").string()}).out.find("maps/E1M1.bsp"), std::string::npos);
}

TEST_F(ContainerDoc, SaveKeepsTheFormatItWasReadIn) {
  WriteFile(dir / "zip.pak", ZipBuilder().Stored("a.txt", "aaa").Build());
  ASSERT_TRUE(doc.Open(dir / "zip.pak"));
  EXPECT_EQ(doc.FormatForSave(dir / "zip.pak"), ContainerFormat::Zip);
  doc.Root().AddChild("b.txt", false);
  ASSERT_TRUE(doc.Save(dir / "zip.pak")) << doc.LastError();
  CTarnDoc again;
  ASSERT_TRUE(again.Open(dir / "zip.pak"));
  EXPECT_EQ(again.Format(), ContainerFormat::Zip);
  EXPECT_EQ(again.Root().CountFiles(), 2);
  // A new entry has no place in the old zip: it is not given another entry's bytes.
  EXPECT_EQ(Load(again.Root().FindChild("b.txt")), Bytes{});
  EXPECT_EQ(Load(again.Root().FindChild("a.txt")), ToBytes("aaa"));
  // A name that says nothing keeps the document's format.
  ASSERT_TRUE(doc.Save(dir / "copy.dat")) << doc.LastError();
  EXPECT_EQ(ReadFile(dir / "copy.dat")[0], 'P');
  EXPECT_EQ(ReadFile(dir / "copy.dat")[2], 3);
}

TEST_F(ContainerDoc, KpfFilesAreOnlyRead) {
  WriteFile(dir / "QuakeEX.kpf", ZipBuilder().Stored("localization/loc_english.txt", "\"x\" = \"y\"").Build());
  const Bytes before = ReadFile(dir / "QuakeEX.kpf");
  ASSERT_TRUE(doc.Open(dir / "QuakeEX.kpf"));
  EXPECT_EQ(Load(doc.Root().FindByPath("localization/loc_english.txt")).size(), 9u);
  EXPECT_FALSE(doc.Save(dir / "QuakeEX.kpf"));
  EXPECT_NE(doc.LastError().find("does not write"), std::string::npos);
  EXPECT_EQ(Tool({"rm", (dir / "QuakeEX.kpf").string(), "localization"}).rc, 1);
  EXPECT_EQ(ReadFile(dir / "QuakeEX.kpf"), before);
  ASSERT_TRUE(doc.Save(dir / "loc.pk3")) << doc.LastError();
}

TEST_F(ContainerDoc, CommandLineFormatsComeFromNamesOrFormat) {
  WriteFile(dir / "src" / "Maps" / "Start.bsp", "bsp");
  ASSERT_EQ(Tool({"create", (dir / "mod.pk3").string(), (dir / "src").string()}).rc, 0);
  EXPECT_EQ(Tool({"list", (dir / "mod.pk3").string()}).out, "3\tMaps/Start.bsp\n");
  ASSERT_EQ(Tool({"create", "--format", "pak", (dir / "mod.bin").string(), (dir / "src").string()}).rc, 0);
  EXPECT_EQ(Tool({"list", (dir / "mod.bin").string()}).out, "3\tmaps/start.bsp\n");
  Result unknown = Tool({"create", (dir / "mod.bin2").string(), (dir / "src").string()});
  EXPECT_EQ(unknown.rc, 2);
  EXPECT_NE(unknown.err.find("give --format"), std::string::npos);
  EXPECT_EQ(Tool({"create", "--format", "rar", (dir / "x.pak").string(), (dir / "src").string()}).rc, 2);
  EXPECT_EQ(Tool({"repack", (dir / "mod.pk3").string(), (dir / "mod.pk3").string()}).rc, 1);
  ASSERT_EQ(Tool({"repack", (dir / "mod.pk3").string(), (dir / "mod.zip").string()}).rc, 0);
  EXPECT_EQ(Tool({"cat", (dir / "mod.zip").string(), "maps/start.bsp"}).out, "bsp");
}

}  // namespace
}  // namespace tarn::test
