// Draws the Corvantis mark: an open green ring around a white diamond, on a transparent
// background. The geometry is defined once in 77x72 units and drawn at every scale given, so
// the normal and the double-resolution files show the same picture.
#include <QColor>
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

QImage drawMark(int scale)
{
    // Non-premultiplied ARGB so that the PNG writer emits 8-bit RGBA.
    QImage image(kWidth * scale, kHeight * scale, QImage::Format_ARGB32);
    image.fill(Qt::transparent);

    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(scale, scale);

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

    painter.end();
    return image;
}

} // namespace

int main(int argc, char** argv)
{
    QTextStream err(stderr);
    if (argc != 3) {
        err << "usage: drawlogo <normal.png> <double.png>\n";
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
    return EXIT_SUCCESS;
}
