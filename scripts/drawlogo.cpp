// Draws the Corvantis mark: an open green ring around a white diamond, on a transparent
// background. The geometry is defined once in 77x72 units and drawn at every scale given, so
// the normal and the double-resolution files show the same picture. Given a third path, it also
// writes the application icon: the mark on a dark rounded square, as a macOS .icns file.
#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QFile>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QPolygonF>
#include <QString>
#include <QTextStream>
#include <QtMath>

#include <cstdlib>

namespace {

const int kWidth = 77;
const int kHeight = 72;

// Paints the mark into the painter's 77x72 units.
void paintMark(QPainter& painter)
{
    const QPointF centre(kWidth / 2.0, kHeight / 2.0);
    const qreal radius = 29.0;
    const qreal stroke = 9.0;

    // The ring, open towards the upper right; the gradient runs from the window's green into
    // a cooler teal so the mark keeps some depth on the dark background.
    QLinearGradient ringGradient(centre.x() - radius, centre.y() + radius, centre.x() + radius,
                                 centre.y() - radius);
    ringGradient.setColorAt(0.0, QColor("#2fb3a3"));
    ringGradient.setColorAt(1.0, QColor("#4fcd7f"));
    QPen ringPen(QBrush(ringGradient), stroke, Qt::SolidLine, Qt::RoundCap);
    painter.setPen(ringPen);
    painter.setBrush(Qt::NoBrush);
    const QRectF ringRect(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
    // Angles in 1/16 degree, counter-clockwise from three o'clock: start above the gap, go round.
    painter.drawArc(ringRect, 70 * 16, 290 * 16);

    // A small dot in the gap: the point the ring is heading for.
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor("#4fcd7f"));
    const qreal gapAngle = qDegreesToRadians(35.0);
    const QPointF dot(centre.x() + radius * qCos(gapAngle), centre.y() - radius * qSin(gapAngle));
    painter.drawEllipse(dot, stroke / 2.0, stroke / 2.0);

    // The diamond in the middle, white with a slightly shaded lower half.
    const qreal half = 12.0;
    const QPolygonF upper({QPointF(centre.x(), centre.y() - half * 1.25),
                           QPointF(centre.x() + half, centre.y()),
                           QPointF(centre.x() - half, centre.y())});
    const QPolygonF lower({QPointF(centre.x() - half, centre.y()),
                           QPointF(centre.x() + half, centre.y()),
                           QPointF(centre.x(), centre.y() + half * 1.25)});
    painter.setBrush(QColor("#ffffff"));
    painter.drawPolygon(upper);
    painter.setBrush(QColor("#d9e4df"));
    painter.drawPolygon(lower);
}

QImage drawMark(int scale)
{
    // Non-premultiplied ARGB so that the PNG writer emits 8-bit RGBA.
    QImage image(kWidth * scale, kHeight * scale, QImage::Format_ARGB32);
    image.fill(Qt::transparent);

    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(scale, scale);
    paintMark(painter);
    painter.end();
    return image;
}

// The icon drawn on a 1024-unit canvas, at the given size in pixels.
QImage drawIcon(int pixels)
{
    QImage image(pixels, pixels, QImage::Format_ARGB32);
    image.fill(Qt::transparent);

    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(pixels / 1024.0, pixels / 1024.0);

    // macOS's icon grid: an 824-unit rounded square in the middle of the canvas, shaded around
    // the installer window's grey (#323232).
    const QRectF tile(100, 100, 824, 824);
    QLinearGradient tileGradient(tile.topLeft(), tile.bottomLeft());
    tileGradient.setColorAt(0.0, QColor("#3c3c3c"));
    tileGradient.setColorAt(1.0, QColor("#282828"));
    painter.setPen(Qt::NoPen);
    painter.setBrush(QBrush(tileGradient));
    painter.drawRoundedRect(tile, 185, 185);

    const qreal scale = 560.0 / kWidth;
    painter.translate(512 - kWidth * scale / 2, 512 - kHeight * scale / 2);
    painter.scale(scale, scale);
    paintMark(painter);
    painter.end();
    return image;
}

// The entries of an .icns file, in the order of an .iconset folder: the type code and the
// picture's size in pixels. All are PNG entries, which macOS reads from 10.7 on.
struct IconEntry
{
    const char* type;
    int pixels;
};
const IconEntry kIconEntries[] = {
    {"icp4", 16},   // icon_16x16
    {"ic11", 32},   // icon_16x16@2x
    {"icp5", 32},   // icon_32x32
    {"ic12", 64},   // icon_32x32@2x
    {"ic07", 128},  // icon_128x128
    {"ic13", 256},  // icon_128x128@2x
    {"ic08", 256},  // icon_256x256
    {"ic14", 512},  // icon_256x256@2x
    {"ic09", 512},  // icon_512x512
    {"ic10", 1024}, // icon_512x512@2x
};

void appendBigEndian32(QByteArray& bytes, quint32 value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes.append(char((value >> shift) & 0xff));
}

// An .icns file: "icns" and the file's length, then per entry its type code, its length
// (its own eight header bytes included) and the PNG data; lengths are big-endian.
bool writeIcns(const QString& path)
{
    QByteArray entries;
    for (const IconEntry& entry : kIconEntries) {
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        if (!drawIcon(entry.pixels).save(&buffer, "PNG"))
            return false;
        entries.append(entry.type, 4);
        appendBigEndian32(entries, quint32(8 + png.size()));
        entries.append(png);
    }
    QByteArray icns("icns");
    appendBigEndian32(icns, quint32(8 + entries.size()));
    icns.append(entries);

    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(icns) == icns.size() && file.flush();
}

} // namespace

int main(int argc, char** argv)
{
    QTextStream err(stderr);
    if (argc != 3 && argc != 4) {
        err << "usage: drawlogo <normal.png> <double.png> [<icon.icns>]\n";
        return EXIT_FAILURE;
    }
    const QString paths[2] = {QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2])};
    for (int scale = 1; scale <= 2; ++scale) {
        const QString& path = paths[scale - 1];
        if (!drawMark(scale).save(path, "PNG")) {
            err << "drawlogo: cannot write " << path << "\n";
            return EXIT_FAILURE;
        }
    }
    if (argc == 4) {
        const QString icon = QString::fromLocal8Bit(argv[3]);
        if (!writeIcns(icon)) {
            err << "drawlogo: cannot write " << icon << "\n";
            return EXIT_FAILURE;
        }
    }
    return EXIT_SUCCESS;
}
