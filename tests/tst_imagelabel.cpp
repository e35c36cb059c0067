#include "imagelabel.h"
#include "testenvironment.h"
#include "ui_installerwindow.h"

#include <QApplication>
#include <QMainWindow>
#include <QPainter>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// These cases need a double-density screen for the whole application, and Qt reads the scale
// factor only while the application object is made, so it is set before main() runs.
const bool g_doubleDensity = [] {
    qputenv("QT_SCALE_FACTOR", "2");
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    return true;
}();

const QColor kBackground("#323232");

QImage asPainted(const QImage& image)
{
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied)
        .convertToFormat(QImage::Format_ARGB32);
}

// What the widget paints on a transparent surface of the given pixel ratio, in device pixels.
QImage renderImage(QWidget* widget, qreal ratio)
{
    QImage image(widget->size() * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    widget->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    image.setDevicePixelRatio(1);
    return image.convertToFormat(QImage::Format_ARGB32);
}

int differingPixels(const QImage& a, const QImage& b, int tolerance)
{
    if (a.size() != b.size())
        return -1;
    int count = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            if (qAbs(qRed(p) - qRed(q)) > tolerance || qAbs(qGreen(p) - qGreen(q)) > tolerance ||
                qAbs(qBlue(p) - qBlue(q)) > tolerance || qAbs(qAlpha(p) - qAlpha(q)) > tolerance)
                ++count;
        }
    }
    return count;
}

// The image over a solid colour, pixel for pixel (an "@2x" file would otherwise be drawn at half
// its size).
QImage over(QImage image, const QColor& background)
{
    image.setDevicePixelRatio(1);
    QImage result(image.size(), QImage::Format_ARGB32);
    result.fill(background);
    QPainter painter(&result);
    painter.drawImage(0, 0, image);
    return result;
}

} // namespace

class TestImageLabel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(g_doubleDensity);
        QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
        QCOMPARE(qApp->devicePixelRatio(), 2.0);
    }

    void doubleResolutionFileIsPainted()
    {
        const QImage normal(":/main/tavo.png");
        const QImage sharp(":/main/tavo@2x.png");
        QCOMPARE(sharp.size(), normal.size() * 2);
        // The check below can tell the files apart: the normal one blown up is visibly coarser.
        const QImage blownUp =
            asPainted(normal.scaled(sharp.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
        QVERIFY(differingPixels(blownUp, asPainted(sharp), 8) > 500);

        ImageLabel label;
        label.resize(77, 72);
        label.setImage(":/main/tavo.png");
        const QImage painted = renderImage(&label, 2);
        QCOMPARE(painted.size(), QSize(154, 144));
        QCOMPARE(differingPixels(painted, asPainted(sharp), 1), 0);
    }

    void imageWithoutDoubleFileIsScaledUp()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QImage blue(77, 72, QImage::Format_ARGB32);
        blue.fill(QColor(0, 0, 255));
        QVERIFY(blue.save(dir.filePath("plain.png")));

        ImageLabel label;
        label.resize(77, 72);
        label.setImage(dir.filePath("plain.png"));
        const QImage painted = renderImage(&label, 2);
        QImage expected(154, 144, QImage::Format_ARGB32);
        expected.fill(QColor(0, 0, 255));
        QCOMPARE(differingPixels(painted, expected, 0), 0);
    }

    void windowShowsTheSharpLogo()
    {
        QMainWindow window;
        Ui::InstallerWindow form;
        form.setupUi(&window);
        form.logo->setImage(":/main/tavo.png");
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        const QImage shot = window.grab().toImage().convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(shot.size(), QSize(1128, 296));
        const QImage expected = over(QImage(":/main/tavo@2x.png"), kBackground);
        QCOMPARE(differingPixels(shot.copy(60, 60, 154, 144), expected, 3), 0);
    }
};

CORVANTIS_TEST_MAIN(TestImageLabel)
#include "tst_imagelabel.moc"
