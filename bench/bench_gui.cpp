// Window speed: showing a directory of 50,000 entries in each list style, and opening a
// 100,000-record archive into the window. Drawn off screen unless a display is set.
#include <benchmark/benchmark.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "archive/TarnDoc.h"
#include "browser/MainFrame.h"
#include "browser/PackListView.h"
#include "browser/PackTreeView.h"

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

void BM_OpenArchive100kIntoWindow(benchmark::State& state) {
  const fs::path path = fs::temp_directory_path() / ("tarn-bench-gui-" + std::to_string(::getpid()) + ".pak");
  {
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
  }
  tarn::CTarnDoc doc;
  tarn::browser::CMainFrame frame(doc);
  frame.resize(900, 600);
  frame.show();
  QApplication::processEvents();
  for (auto _ : state) {
    if (!frame.OpenArchive(QString::fromStdString(path.string()))) state.SkipWithError("open failed");
    Settle(frame);
  }
  fs::remove(path);
}
BENCHMARK(BM_OpenArchive100kIntoWindow)->Unit(benchmark::kMillisecond)->UseRealTime();

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
