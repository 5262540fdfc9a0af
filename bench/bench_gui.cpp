// Window speed: showing a directory of 50,000 entries in each list style, opening a
// 100,000-record archive into the window, a keystroke in the filter over all of it, and the
// preview pane showing a 1024 × 1024 picture. Drawn off screen unless a display is set.
#include <benchmark/benchmark.h>

#include <unistd.h>
#include <QAbstractItemView>
#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "browser/MainFrame.h"
#include "browser/PackListView.h"
#include "browser/PackTreeView.h"
#include "browser/PreviewPane.h"
#include "document/TarnDoc.h"
#include "viewers/Previews.h"

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QScrollBar>

namespace fs = std::filesystem;

namespace {

void Settle(tarn::browser::CMainFrame& frame) {
  QAbstractItemView* view = frame.ListView()->ActiveView();
  view->viewport()->repaint();
  QApplication::processEvents();
}

void BM_ShowDirectory50k(benchmark::State& state) {
  tarn::CTarnDoc doc;
  tarn::CPackObject* big = doc.Root().AddChild("big", true);
  for (int i = 0; i < 50000; ++i) big->AddChild("texture" + std::to_string(i) + ".wal", false)->SetSize(i);
  tarn::browser::CMainFrame frame(doc);
  frame.resize(900, 600);
  frame.show();
  frame.ListView()->SetViewType(static_cast<int>(state.range(0)));
  QApplication::processEvents();
  for (auto _ : state) {
    frame.TreeView()->SelectDirectory(big);
    Settle(frame);
    state.PauseTiming();
    frame.TreeView()->SelectDirectory(&doc.Root());
    Settle(frame);
    state.ResumeTiming();
  }
  state.SetLabel(std::vector<const char*>{"large icons", "details", "small icons", "list"}[state.range(0)]);
}
BENCHMARK(BM_ShowDirectory50k)->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->UseRealTime();

// An archive of 100,000 empty files in 700 directories.
fs::path Write100kArchive() {
  const fs::path path = fs::temp_directory_path() / ("tarn-bench-gui-" + std::to_string(::getpid()) + ".pak");
  const int count = 100000;
  std::ofstream out(path, std::ios::binary);
  auto u32 = [&](std::uint32_t v) {
    char b[4] = {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
    out.write(b, 4);
  };
  out.write("PACK", 4);
  u32(12);
  u32(count * 64);
  for (int i = 0; i < count; ++i) {
    char rec[56] = {};
    std::snprintf(rec, sizeof rec, "dir%02d/sub%d/file%07d.dat", (i / 143) / 7 % 100, (i / 143) % 7, i);
    out.write(rec, sizeof rec);
    u32(12);
    u32(0);
  }
  return path;
}

// A window over that archive, opened at once unless told otherwise; the file goes with it.
struct Window100k {
  explicit Window100k(benchmark::State& state, int style = -1, bool open = true) : frame(doc) {
    frame.resize(900, 600);
    frame.show();
    if (style >= 0) frame.ListView()->SetViewType(style);
    QApplication::processEvents();
    if (open) Open(state);
  }
  ~Window100k() { fs::remove(path); }
  void Open(benchmark::State& state) {
    if (!frame.OpenArchive(QString::fromStdString(path.string()))) state.SkipWithError("open failed");
  }
  const fs::path path = Write100kArchive();
  tarn::CTarnDoc doc;
  tarn::browser::CMainFrame frame;
};

void BM_OpenArchive100kIntoWindow(benchmark::State& state) {
  Window100k window(state, -1, false);
  for (auto _ : state) {
    window.Open(state);
    Settle(window.frame);
  }
}
BENCHMARK(BM_OpenArchive100kIntoWindow)->Unit(benchmark::kMillisecond)->UseRealTime();

// One keystroke in the filter box over the whole of a 100,000-entry archive: the list narrowed
// and drawn. The keystrokes type "file00" and take it back, one character at a time.
void BM_FilterKeystrokeWholeArchive100k(benchmark::State& state) {
  Window100k window(state, static_cast<int>(state.range(0)));
  tarn::browser::CPackListView& list = *window.frame.ListView();
  list.FilterEdit()->setText("f");
  list.WholeArchiveBox()->setChecked(true);
  Settle(window.frame);
  const QString word = "file00";
  int length = 1, step = 1;
  for (auto _ : state) {
    if (length + step > word.size() || length + step < 1) step = -step;
    length += step;
    list.FilterEdit()->setText(word.left(length));
    Settle(window.frame);
  }
  state.SetLabel(std::vector<const char*>{"large icons", "details", "small icons", "list"}[state.range(0)]);
}
BENCHMARK(BM_FilterKeystrokeWholeArchive100k)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

// A page scrolled in Large Icons over 100,000 pictures with thumbnails on: the view asks only
// for the entries it draws, and their bytes are read in later turns of the event loop, a few
// milliseconds at a time, so a scroll costs about what it did without them.
void BM_ScrollIcons100kThumbnails(benchmark::State& state) {
  tarn::CTarnDoc doc;
  tarn::CPackObject* big = doc.Root().AddChild("big", true);
  std::vector<std::uint8_t> lmp = {8, 0, 0, 0, 8, 0, 0, 0};
  lmp.resize(8 + 64, 7);
  for (int i = 0; i < 100000; ++i) {
    tarn::CPackObject* e = big->AddChild("pic" + std::to_string(i) + ".lmp", false);
    e->SetData(lmp);
    e->SetSize(static_cast<std::int64_t>(lmp.size()));
  }
  tarn::browser::CMainFrame frame(doc);
  frame.resize(900, 600);
  frame.show();
  frame.ListView()->SetThumbnailsShown(state.range(0) != 0);
  frame.ListView()->SetViewType(0);
  frame.TreeView()->SelectDirectory(big);
  Settle(frame);
  QScrollBar* bar = frame.ListView()->ActiveView()->verticalScrollBar();
  for (auto _ : state) {
    bar->setValue(bar->value() + bar->pageStep() > bar->maximum() ? 0 : bar->value() + bar->pageStep());
    Settle(frame);
  }
  frame.ListView()->SetThumbnailsShown(true);
  state.SetLabel(state.range(0) ? "thumbnails" : "icons only");
}
BENCHMARK(BM_ScrollIcons100kThumbnails)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

// Ticking "Whole archive" with a filter typed: every entry of 100,000 gathered and sorted by path.
void BM_FilterWidenToWholeArchive100k(benchmark::State& state) {
  Window100k window(state, tarn::browser::CPackListView::kDetails);
  tarn::browser::CPackListView& list = *window.frame.ListView();
  list.FilterEdit()->setText("file0001");
  for (auto _ : state) {
    list.WholeArchiveBox()->setChecked(true);
    Settle(window.frame);
    state.PauseTiming();
    list.WholeArchiveBox()->setChecked(false);
    Settle(window.frame);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_FilterWidenToWholeArchive100k)->Unit(benchmark::kMillisecond)->UseRealTime();

// The preview pane showing a 1024 × 1024 Quake picture from the archive: read, decoded, made an
// image and drawn, from the moment the row is selected.
void BM_PreviewPicture1024(benchmark::State& state) {
  const fs::path path = fs::temp_directory_path() / ("tarn-bench-preview-" + std::to_string(::getpid()) + ".pak");
  {
    std::vector<std::uint8_t> lmp(8 + 1024 * 1024);
    for (std::size_t i = 8; i < lmp.size(); ++i) lmp[i] = static_cast<std::uint8_t>(i * 7);
    lmp[1] = 4, lmp[5] = 4;  // 1024 × 1024
    std::ofstream out(path, std::ios::binary);
    auto u32 = [&](std::uint32_t v) {
      char b[4] = {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
      out.write(b, 4);
    };
    out.write("PACK", 4);
    u32(static_cast<std::uint32_t>(12 + lmp.size() + 4));
    u32(2 * 64);
    out.write(reinterpret_cast<const char*>(lmp.data()), static_cast<std::streamsize>(lmp.size()));
    out.write("text", 4);
    char rec[56] = "big.lmp";
    out.write(rec, sizeof rec);
    u32(12);
    u32(static_cast<std::uint32_t>(lmp.size()));
    char other[56] = "small.txt";
    out.write(other, sizeof other);
    u32(static_cast<std::uint32_t>(12 + lmp.size()));
    u32(4);
  }
  tarn::CTarnDoc doc;
  tarn::browser::CMainFrame frame(doc);
  frame.resize(1400, 1000);
  frame.show();
  if (!frame.OpenArchive(QString::fromStdString(path.string()))) state.SkipWithError("open failed");
  frame.findChild<QAction*>("actionPreviewPane")->setChecked(true);
  tarn::CPackObject* big = doc.Root().FindChild("big.lmp");
  tarn::CPackObject* small = doc.Root().FindChild("small.txt");
  Settle(frame);
  for (auto _ : state) {
    state.PauseTiming();
    frame.ListView()->SelectEntries({small});
    QApplication::processEvents();
    state.ResumeTiming();
    frame.ListView()->SelectEntries({big});
    QApplication::processEvents();
    frame.PreviewPane()->repaint();
  }
  if (!frame.PreviewPane()->Preview() || frame.PreviewPane()->Preview()->objectName() != "previewPicture")
    state.SkipWithError("no picture shown");
  fs::remove(path);
}
BENCHMARK(BM_PreviewPicture1024)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("DISPLAY")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir settings;
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
