// Draws the program's artwork at build time: the application icon (32x32
// and 16x16 for the window, larger sizes for the desktop's icon theme, and a
// Windows .ico) and the 300x200 picture of the main dialog.
#include <cstdio>

#include <QBuffer>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QVector>

namespace {

const QColor kBackground(230, 232, 235);

// A rounded blue tile with a white V and a row of contact pins beneath:
// a module being loaded. Drawn on a 32-unit grid and scaled to @p size.
QImage DrawIcon(int size) {
  QImage image(size, size, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.scale(size / 32.0, size / 32.0);

  QLinearGradient tile(0, 0, 0, 32);
  tile.setColorAt(0, QColor(47, 134, 214));
  tile.setColorAt(1, QColor(24, 78, 150));
  painter.setPen(QPen(QColor(16, 52, 104), 1));
  painter.setBrush(tile);
  painter.drawRoundedRect(QRectF(1.5, 1.5, 29, 29), 6, 6);

  QPainterPath vee;
  vee.moveTo(7, 6);
  vee.lineTo(16, 22);
  vee.lineTo(25, 6);
  painter.setPen(QPen(Qt::white, size < 24 ? 4.5 : 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  painter.setBrush(Qt::NoBrush);
  painter.drawPath(vee);

  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(255, 176, 32));
  for (int pin = 0; pin < 4; ++pin) {
    painter.drawRect(QRectF(7.5 + pin * 4.5, 25.5, 3, 3));
  }
  return image;
}

void DrawCentred(QPainter& painter, const QFont& font, const QColor& colour, int baseline,
                 const QString& text) {
  painter.setFont(font);
  painter.setPen(colour);
  const int width = painter.fontMetrics().horizontalAdvance(text);
  painter.drawText((300 - width) / 2, baseline, text);
}

// "Vexel" in five colours above "Module Loader" and a line of small text.
QImage DrawPicture() {
  QImage image(300, 200, QImage::Format_RGB32);
  image.fill(kBackground);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::TextAntialiasing);

  QFont mark(QStringLiteral("DejaVu Sans"));
  mark.setStyleHint(QFont::SansSerif);
  mark.setPixelSize(64);
  mark.setWeight(QFont::Black);
  painter.setFont(mark);
  const QString word = QStringLiteral("Vexel");
  const QColor colours[] = {
      {31, 95, 168}, {46, 158, 91}, {224, 123, 0}, {200, 50, 60}, {122, 79, 176}};
  int x = (300 - painter.fontMetrics().horizontalAdvance(word)) / 2;
  for (int i = 0; i < word.size(); ++i) {
    painter.setPen(colours[i]);
    painter.drawText(x, 104, word.at(i));
    x += painter.fontMetrics().horizontalAdvance(word.at(i));
  }

  painter.fillRect(QRect(60, 118, 180, 2), QColor(31, 95, 168));
  QFont second(mark);
  second.setPixelSize(22);
  second.setWeight(QFont::Bold);
  DrawCentred(painter, second, QColor(60, 64, 72), 146, QStringLiteral("Module Loader"));
  QFont small(mark);
  small.setPixelSize(10);
  small.setWeight(QFont::Normal);
  DrawCentred(painter, small, QColor(96, 100, 108), 170,
              QStringLiteral("firmware images over a serial line"));
  return image;
}

QByteArray Png(const QImage& image) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return bytes;
}

// An .ico holding PNG-compressed images: a directory of 16-byte entries,
// then the images.
bool WriteIco(const QString& path, const QVector<QImage>& images) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly)) {
    return false;
  }
  QDataStream out(&file);
  out.setByteOrder(QDataStream::LittleEndian);
  out << quint16(0) << quint16(1) << quint16(images.size());
  QVector<QByteArray> pngs;
  quint32 offset = 6 + 16 * static_cast<quint32>(images.size());
  for (const QImage& image : images) {
    pngs.append(Png(image));
    out << quint8(image.width()) << quint8(image.height()) << quint8(0) << quint8(0) << quint16(1)
        << quint16(32) << quint32(pngs.last().size()) << offset;
    offset += static_cast<quint32>(pngs.last().size());
  }
  for (const QByteArray& png : pngs) {
    out.writeRawData(png.constData(), static_cast<int>(png.size()));
  }
  return out.status() == QDataStream::Ok;
}

bool Save(const QImage& image, const QDir& dir, const char* name) {
  return image.save(dir.filePath(QString::fromLatin1(name)), "PNG");
}

}  // namespace

int main(int argc, char* argv[]) {
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_artwork OUTPUT_DIR\n");
    return 2;
  }
  const QDir dir(QString::fromLocal8Bit(argv[1]));
  dir.mkpath(QStringLiteral("."));
  const bool ok = Save(DrawIcon(32), dir, "IDR_MAINFRAME-32.png") &&
                  Save(DrawIcon(16), dir, "IDR_MAINFRAME-16.png") &&
                  Save(DrawIcon(64), dir, "icon-64.png") &&
                  Save(DrawIcon(128), dir, "icon-128.png") &&
                  Save(DrawPicture(), dir, "IDB_PICTURE.png") &&
                  WriteIco(dir.filePath(QStringLiteral("duvozeviv.ico")),
                           {DrawIcon(32), DrawIcon(16)});
  if (!ok) {
    std::fprintf(stderr, "make_artwork: cannot write to %s\n", argv[1]);
    return 1;
  }
  return 0;
}
