// tarn [ARCHIVE]: the desktop program.
#include <QApplication>
#include <QCommandLineParser>
#include <QPainter>
#include <QSplashScreen>
#include <QThreadPool>
#include <QTimer>

#include "browser/MainFrame.h"
#include "dialogs/AppIdentity.h"
#include "document/TarnDoc.h"
#include "fileio/Strings.h"
#include "fileio/WorkerPool.h"

namespace {

QPixmap SplashPicture() {
  QPixmap pm(360, 160);
  pm.fill(QColor(28, 40, 52));
  QPainter p(&pm);
  p.setPen(QColor(230, 200, 120));
  QFont f = p.font();
  f.setPixelSize(44);
  f.setBold(true);
  p.setFont(f);
  p.drawText(QRect(0, 20, 360, 70), Qt::AlignCenter, "Tarn");
  f.setPixelSize(14);
  f.setBold(false);
  p.setFont(f);
  p.setPen(QColor(200, 210, 220));
  p.drawText(QRect(0, 95, 360, 40), Qt::AlignCenter, "PAK archives of Quake and Quake II");
  return pm;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // Previews and the dialogs' background work go to Qt's global pool: no wider than the CPUs
  // this process may use (its affinity and cgroup quota), which idealThreadCount() ignores.
  QThreadPool::globalInstance()->setMaxThreadCount(static_cast<int>(tarn::UsableCpus()));
  tarn::dialogs::SetApplicationIdentity();

  QCommandLineParser parser;
  parser.setApplicationDescription("An editor for the .pak archives of Quake and Quake II.");
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addPositionalArgument("archive", "The archive to open.", "[ARCHIVE]");
  QCommandLineOption noSplash("no-splash", "Start without the splash screen.");
  parser.addOption(noSplash);
  QCommandLineOption view("view", "View the entry at PATH of the archive at once.", "PATH");
  parser.addOption(view);
  parser.process(app);

  tarn::CTarnDoc doc;
  tarn::browser::CMainFrame frame(doc);
  frame.show();
  if (!parser.isSet(noSplash)) {
    auto* splash = new QSplashScreen(SplashPicture());
    splash->setAttribute(Qt::WA_DeleteOnClose);
    splash->move(frame.geometry().center() - splash->rect().center());
    splash->show();
    QTimer::singleShot(1500, splash, &QWidget::close);
  }
  const QStringList args = parser.positionalArguments();
  if (!args.isEmpty() && frame.OpenArchive(args.front()) && parser.isSet(view)) {
    const std::string path = parser.value(view).toStdString();
    tarn::CPackObject* entry = doc.Root().FindByPath(path);
    if (!entry) entry = doc.Root().FindByPath(tarn::ToLower(path));
    if (entry && !entry->IsDirectory()) frame.ViewFromCommandLine(*entry);
    else
      frame.Prompter().Message(&frame, "There is no file \"" + parser.value(view) + "\" in the archive.", "Tarn",
                               QMessageBox::Warning);
  }
  return app.exec();
}
