#include "imagelabel.h"
#include "testenvironment.h"
#include "ui_installerwindow.h"

#include <QApplication>
#include <QMainWindow>
#include <QPainter>
#include <QtTest>

namespace {

// A double-density screen for the whole application: Qt reads the scale factor only while the
// application object is made, so it is set before main() runs.
const bool g_doubleDensity = [] {
    qputenv("QT_SCALE_FACTOR", "2");
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    return true;
}();

// The image pixel for pixel over the window colour.
QImage overWindow(QImage image)
{
    image.setDevicePixelRatio(1);
    QImage result(image.size(), QImage::Format_ARGB32_Premultiplied);
    result.fill(QColor("#323232"));
    QPainter(&result).drawImage(0, 0, image.convertToFormat(QImage::Format_ARGB32_Premultiplied));
    return result.convertToFormat(QImage::Format_ARGB32);
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

    void windowShowsTheDoubleResolutionLogo()
    {
        const QImage sharp = overWindow(QImage(":/main/tavo@2x.png"));
        // What the normal file would look like, so that the comparison can tell them apart.
        QVERIFY(sharp != overWindow(QImage(":/main/tavo.png").scaled(sharp.size())));

        QMainWindow window;
        Ui::InstallerWindow form;
        form.setupUi(&window);
        form.logo->setImage(":/main/tavo.png");
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QImage shot = window.grab().toImage().convertToFormat(QImage::Format_ARGB32);
        shot.setDevicePixelRatio(1);
        QCOMPARE(shot.size(), QSize(1128, 296));
        QCOMPARE(shot.copy(60, 60, 154, 144), sharp);
    }
};

CORVANTIS_TEST_MAIN(TestImageLabel)
#include "tst_imagelabel.moc"
