#include "browser/Icons.h"

#include <QPainter>
#include <QPixmap>
#include <array>

#include "archive/PackObject.h"

namespace tarn::browser {

namespace {

QPixmap DrawFolder(int size, bool open) {
  QPixmap pm(size, size);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal s = size / 16.0;
  p.setPen(QPen(QColor(150, 110, 30), s));
  p.setBrush(QColor(240, 200, 90));
  p.drawRect(QRectF(1 * s, 3 * s, 6 * s, 3 * s));
  if (open) {
    p.drawRect(QRectF(1 * s, 5 * s, 13 * s, 9 * s));
    p.setBrush(QColor(250, 225, 130));
    QPolygonF flap({QPointF(3 * s, 8 * s), QPointF(15 * s, 8 * s), QPointF(13.5 * s, 14 * s), QPointF(1 * s, 14 * s)});
    p.drawPolygon(flap);
  } else {
    p.drawRect(QRectF(1 * s, 5 * s, 14 * s, 9 * s));
  }
  return pm;
}

// A sheet of paper with a coloured band and a letter telling the kind.
QPixmap DrawFile(int size, QColor band, const QString& letter) {
  QPixmap pm(size, size);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal s = size / 16.0;
  p.setPen(QPen(QColor(90, 90, 90), s));
  p.setBrush(Qt::white);
  p.drawRect(QRectF(2.5 * s, 0.5 * s, 11 * s, 15 * s));
  if (band.isValid()) {
    p.setPen(Qt::NoPen);
    p.setBrush(band);
    p.drawRect(QRectF(3 * s, 7 * s, 10 * s, 8 * s));
    QFont f = p.font();
    f.setBold(true);
    f.setPixelSize(static_cast<int>(7 * s));
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRectF(3 * s, 7 * s, 10 * s, 8 * s), Qt::AlignCenter, letter);
  } else {
    p.setPen(QPen(QColor(170, 170, 170), s));
    for (int y = 4; y <= 12; y += 3) p.drawLine(QPointF(5 * s, y * s), QPointF(11 * s, y * s));
  }
  return pm;
}

QIcon MakeIcon(EntryType type) {
  QIcon icon;
  for (int size : {16, 32}) {
    switch (type) {
      case EntryType::Directory:
        icon.addPixmap(DrawFolder(size, false), QIcon::Normal);
        icon.addPixmap(DrawFolder(size, true), QIcon::Selected);
        break;
      case EntryType::Sound: icon.addPixmap(DrawFile(size, QColor(40, 140, 60), "W")); break;
      case EntryType::QuakeModel: icon.addPixmap(DrawFile(size, QColor(150, 60, 40), "M")); break;
      case EntryType::Quake2Model: icon.addPixmap(DrawFile(size, QColor(180, 90, 30), "2")); break;
      case EntryType::QuakePicture:
      case EntryType::Quake2Texture:
      case EntryType::PcxPicture:
      case EntryType::MipTexture:
      case EntryType::Image: icon.addPixmap(DrawFile(size, QColor(50, 90, 170), "P")); break;
      case EntryType::Text: icon.addPixmap(DrawFile(size, QColor(110, 110, 110), "T")); break;
      case EntryType::Sprite:
      case EntryType::Quake2Sprite: icon.addPixmap(DrawFile(size, QColor(130, 60, 150), "S")); break;
      default: icon.addPixmap(DrawFile(size, QColor(), QString())); break;
    }
  }
  return icon;
}

// Items drawn as a square (and, but for large icons, a line of "text" beside it), in the
// arrangement each list style gives them.
QPixmap DrawListStyle(int size, int style) {
  QPixmap pm(size, size);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  const qreal s = size / 16.0;
  const QColor square(50, 90, 170), text(90, 90, 90);
  auto item = [&](qreal x, qreal y, qreal side, qreal textLength) {
    p.fillRect(QRectF(x * s, y * s, side * s, side * s), square);
    if (textLength > 0) p.fillRect(QRectF((x + side + 1) * s, (y + side / 2 - 0.5) * s, textLength * s, 1 * s), text);
  };
  switch (style) {
    case 0:  // large icons: four big squares, each with its name under it
      for (int row = 0; row < 2; ++row)
        for (int col = 0; col < 2; ++col) {
          item(1.5 + col * 8, 0.5 + row * 8, 5, 0);
          p.fillRect(QRectF((1 + col * 8) * s, (6.5 + row * 8) * s, 6 * s, 1 * s), text);
        }
      break;
    case 2:  // small icons: rows of small items, two to a row
      for (int row = 0; row < 4; ++row)
        for (int col = 0; col < 2; ++col) item(0.5 + col * 8, 0.5 + row * 4, 3, 3);
      break;
    case 3:  // list: two columns of items, each with a longer name
      for (int row = 0; row < 4; ++row)
        for (int col = 0; col < 2; ++col) item(0.5 + col * 8, 0.5 + row * 4, 2, 4.5);
      break;
    default:  // details: a header and rows of name and size columns
      p.fillRect(QRectF(0.5 * s, 1 * s, 15 * s, 2 * s), text);
      for (int row = 0; row < 3; ++row) {
        item(0.5, 5 + row * 4, 2, 7);
        p.fillRect(QRectF(12.5 * s, (5.5 + row * 4) * s, 3 * s, 1 * s), text);
      }
      break;
  }
  return pm;
}

}  // namespace

QIcon ListStyleIcon(int style) {
  QIcon icon;
  for (int size : {16, 32}) icon.addPixmap(DrawListStyle(size, style));
  return icon;
}

const QIcon& KindIcon(EntryType type) {
  constexpr std::size_t kTypes = static_cast<std::size_t>(EntryType::File) + 1;
  static std::array<QIcon, kTypes> icons;
  static std::array<bool, kTypes> made{};
  const auto i = static_cast<std::size_t>(type);
  if (i >= kTypes) return KindIcon(EntryType::File);
  if (!made[i]) {
    icons[i] = MakeIcon(type);
    made[i] = true;
  }
  return icons[i];
}

}  // namespace tarn::browser
