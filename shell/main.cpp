// tarn [ARCHIVE]: the desktop program.
#include <QApplication>
#include <QCommandLineParser>
#include <QPainter>
#include <QSplashScreen>
#include <QTimer>

#include "archive/TarnDoc.h"
#include "browser/MainFrame.h"

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
  QApplication::setApplicationName("Tarn");
  QApplication::setOrganizationName("Tarn");
  QApplication::setApplicationVersion("0.1.0");

  QCommandLineParser parser;
  parser.setApplicationDescription("An editor for the .pak archives of Quake and Quake II.");
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addPositionalArgument("archive", "The archive to open.", "[ARCHIVE]");
  QCommandLineOption noSplash("no-splash", "Start without the splash screen.");
  parser.addOption(noSplash);
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
  if (!args.isEmpty()) frame.OpenArchive(args.front());
  return app.exec();
}
