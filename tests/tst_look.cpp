#include "imagelabel.h"
#include "testenvironment.h"
#include "ui_installerwindow.h"

#include <QApplication>
#include <QMainWindow>
#include <QPainter>
#include <QRegularExpression>
#include <QResource>
#include <QTranslator>
#include <QtTest>

namespace {

const QColor kBackground("#323232");
const QColor kChunk("#4fcd7f");
const QColor kTrack("#808080");       // "grey"
const QColor kOutline(214, 214, 214); // #CCFFFFFF over the window colour

// Pixels of the area within `tolerance` of the colour in each channel.
int countNear(const QImage& image, const QRect& area, const QColor& colour, int tolerance = 0)
{
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (qAbs(c.red() - colour.red()) <= tolerance &&
                qAbs(c.green() - colour.green()) <= tolerance &&
                qAbs(c.blue() - colour.blue()) <= tolerance)
                ++count;
        }
    }
    return count;
}

// Only what the widget itself paints, on a transparent surface.
QImage render(QWidget* widget)
{
    QImage image(widget->size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    widget->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image.convertToFormat(QImage::Format_ARGB32);
}

// The logo drawn at `at` onto a surface of `size` filled with `ground`.
QImage logoOn(const QSize& size, const QPoint& at, const QColor& ground = Qt::transparent)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(ground);
    QPainter(&image).drawImage(
        at, QImage(":/main/tavo.png").convertToFormat(QImage::Format_ARGB32_Premultiplied));
    return image.convertToFormat(QImage::Format_ARGB32);
}

// Marks every text it translates in the window's context.
class MarkingTranslator : public QTranslator
{
public:
    QString translate(const char* context, const char* text, const char*, int n) const override
    {
        return QByteArray(context) == "InstallerWindow" && n == -1 ? QString("<%1>").arg(text)
                                                                   : QString();
    }
    bool isEmpty() const override { return false; }
};

} // namespace

// Stands in for the installer window: the form connects its cancel slot by name.
class FormHost : public QMainWindow
{
    Q_OBJECT

public:
    int cancelClicks = 0;

private slots:
    void on_buttonCancel_clicked() { ++cancelClicks; }
};

class TestLook : public QObject
{
    Q_OBJECT

private slots:
    void setupUiBuildsTheForm()
    {
        QMainWindow window;
        Ui::InstallerWindow form;
        MarkingTranslator translator;
        QCoreApplication::installTranslator(&translator);
        form.setupUi(&window);
        QCoreApplication::removeTranslator(&translator);

        QCOMPARE(window.objectName(), QString("InstallerWindow"));
        QCOMPARE(window.centralWidget()->objectName(), QString("centralwidget"));
        QCOMPARE(window.windowTitle(), QString("<Downloading installer...>"));
        const QList<QPair<const char*, QString>> texts = {
            {"buttonCancel", "<CANCEL>"}, {"label_2", "<Downloading...>"}, {"logo", ""}};
        for (const auto& text : texts) {
            QWidget* widget = window.centralWidget()->findChild<QWidget*>(text.first);
            QVERIFY2(widget, text.first);
            QCOMPARE(widget->property("text").toString(), text.second);
        }
        QCOMPARE(form.logo->pixmap(Qt::ReturnByValue).size(), QSize(154, 144)); // the "@2x" file
        QCOMPARE(form.progressBar->maximum(), 1000);
        QCOMPARE(form.progressBar->value(), 350);
        QVERIFY(!form.progressBar->isTextVisible());

        // It can't be resized.
        for (const QSize& size : {QSize(800, 300), QSize(100, 50)}) {
            window.resize(size);
            QCOMPARE(window.size(), QSize(564, 148));
        }
    }

    void styleSheets_data()
    {
        QTest::addColumn<QString>("widget");
        QTest::addColumn<int>("length");
        QTest::addColumn<QStringList>("selectors");
        QTest::addColumn<QStringList>("declarations"); // "selector|declaration"

        // The message box buttons are styled by these object names.
        QStringList window = {"QWidget"};
        for (const char* name : {"LOAD", "NO", "CANCEL", "CLOSE"}) {
            const QString selector = QString("QPushButton#") + name;
            window << selector << selector + ":pressed" << selector + ":hover";
        }
        // What the window draws is checked in look(); these are the message box buttons' pills.
        QTest::newRow("window") << "InstallerWindow" << 1926 << window
                                << QStringList{"QPushButton#LOAD|background-color: #CC4fcd7f",
                                               "QPushButton#CLOSE|background-color: #CC4fcd7f",
                                               "QPushButton#NO|background-color: #00000000",
                                               "QPushButton#NO|border-color: #CCFFFFFF"};
        QTest::newRow("cancel button")
            << "buttonCancel" << 480
            << QStringList{"QPushButton", "QPushButton:pressed", "QPushButton:hover",
                           "QPushButton:disabled"}
            << QStringList{"QPushButton:disabled|background-color: #7F7F7F"};
        QTest::newRow("progress bar")
            << "progressBar" << 159 << QStringList{"QProgressBar", "QProgressBar::chunk"}
            << QStringList();
        QTest::newRow("status label")
            << "label_2" << 59 << QStringList()
            << QStringList{"|font-family: \"Montserrat\"", "|font-size: 13px"};
    }

    void styleSheets()
    {
        QFETCH(QString, widget);
        QFETCH(int, length);
        QFETCH(QStringList, selectors);
        QFETCH(QStringList, declarations);

        QMainWindow window;
        Ui::InstallerWindow form;
        form.setupUi(&window);
        QWidget* target =
            widget == "InstallerWindow" ? &window : window.findChild<QWidget*>(widget);
        const QString sheet = target->styleSheet();
        QCOMPARE(sheet.size(), length);
        QStringList found;
        auto it = QRegularExpression("^(.+) \\{$", QRegularExpression::MultilineOption)
                      .globalMatch(sheet);
        while (it.hasNext())
            found << it.next().captured(1);
        QCOMPARE(found, selectors);
        // Each within the rule of its selector, if it has one.
        for (const QString& declaration : declarations) {
            const QString selector = QRegularExpression::escape(declaration.section('|', 0, 0));
            const QString pattern = (selector.isEmpty() ? "" : "^" + selector + " \\{\\n[^}]*") +
                                    "^" + QRegularExpression::escape(declaration.section('|', 1)) +
                                    ";$";
            QVERIFY2(
                sheet.contains(QRegularExpression(pattern, QRegularExpression::MultilineOption)),
                qPrintable(declaration));
        }
    }

    void resources_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QSize>("size");

        QTest::newRow("normal") << ":/main/tavo.png" << QSize(77, 72);
        QTest::newRow("double") << ":/main/tavo@2x.png" << QSize(154, 144);
    }

    void resources()
    {
        QFETCH(QString, path);
        QFETCH(QSize, size);

        QResource resource(path);
        QVERIFY(resource.isValid());
        QCOMPARE(resource.compressionAlgorithm(), QResource::NoCompression);
        const QByteArray png = resource.uncompressedData();
        QCOMPARE(png.mid(12, 4), QByteArray("IHDR"));
        QCOMPARE(png.mid(24, 2), QByteArray("\x08\x06")); // 8 bits per channel, RGBA
        QCOMPARE(QImage(path).size(), size);
    }

    void look_data()
    {
        QTest::addColumn<int>("progress");

        QTest::newRow("empty") << 0;
        QTest::newRow("preset") << 350;
        QTest::newRow("full") << 1000;
    }

    void look()
    {
        QFETCH(int, progress);

        FormHost window;
        Ui::InstallerWindow form;
        form.setupUi(&window);
        form.logo->setImage(":/main/tavo.png");
        form.progressBar->setValue(progress);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QImage shot = window.grab().toImage().convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(shot.size(), QSize(564, 148));

        // The dark window above and below the widgets, and right of the label.
        QCOMPARE(countNear(shot, QRect(0, 0, 564, 30), kBackground), 564 * 30);
        QCOMPARE(countNear(shot, QRect(0, 123, 564, 25), kBackground), 564 * 25);
        QCOMPARE(countNear(shot, QRect(311, 30, 253, 25), kBackground), 253 * 25);

        // Progress bar: a green chunk from the left in proportion to the value, the rest grey, and
        // 10 pixels high.
        const int green = 391 * progress / 1000;
        QVERIFY(qAbs(countNear(shot, QRect(140, 60, 391, 1), kChunk) - green) <= 8);
        QVERIFY(qAbs(countNear(shot, QRect(140, 60, 391, 1), kTrack) - (391 - green)) <= 8);
        QCOMPARE(countNear(shot, QRect(145, 60, 1, 1), kChunk), progress > 0 ? 1 : 0);
        QCOMPARE(countNear(shot, QRect(150, 55, 371, 10), kBackground), 0);
        QCOMPARE(countNear(shot, QRect(140, 54, 391, 1), kBackground), 391);
        QCOMPARE(countNear(shot, QRect(140, 65, 391, 1), kBackground), 391);

        // The logo: the normal image in its 77x72 area at (30, 30), the window colour around it.
        const QImage logo = logoOn(QSize(107, 102), QPoint(15, 15), kBackground);
        QCOMPARE(shot.copy(15, 15, 107, 102), logo);

        // CANCEL: a light outline inside its margins, dark inside.
        for (int y : {91, 120})
            QCOMPARE(countNear(shot, QRect(440, y, 61, 1), kOutline, 20), 61);
        for (int y : {90, 95})
            QCOMPARE(countNear(shot, QRect(440, y, 61, 1), kBackground), 61);
        // The status text: light grey where the glyphs are solid.
        QVERIFY(countNear(shot, QRect(140, 35, 171, 16), QColor("#cfcfcf")) > 10);

        // The form's by-name connection is the only one the button has.
        QTest::mouseClick(form.buttonCancel, Qt::LeftButton);
        QCOMPARE(window.cancelClicks, 1);
    }

    // ImageLabel, at a device pixel ratio of 1.

    void imageLabel_data()
    {
        QTest::addColumn<QString>("image");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QPoint>("logoAt"); // negative: painted as a plain QLabel

        QTest::newRow("no image") << QString() << QSize(120, 60) << QPoint(-1, -1);
        QTest::newRow("missing file") << ":/main/missing.png" << QSize(120, 60) << QPoint(-1, -1);
        QTest::newRow("same size") << ":/main/tavo.png" << QSize(77, 72) << QPoint(0, 0);
        QTest::newRow("larger label") << ":/main/tavo.png" << QSize(200, 150) << QPoint(62, 39);
        QTest::newRow("wider label") << ":/main/tavo.png" << QSize(300, 72) << QPoint(112, 0);
    }

    void imageLabel()
    {
        QFETCH(QString, image);
        QFETCH(QSize, size);
        QFETCH(QPoint, logoAt);

        QLabel plain;
        ImageLabel label;
        QPixmap red(30, 20);
        red.fill(Qt::red);
        for (QLabel* each : {&plain, static_cast<QLabel*>(&label)}) {
            each->resize(size);
            each->setPixmap(red);
            each->setFrameStyle(QFrame::Box);
        }
        if (!image.isEmpty())
            label.setImage(image);
        // Once it has an image, that alone is painted: no frame, no pixmap.
        QCOMPARE(render(&label), logoAt.x() < 0 ? render(&plain) : logoOn(size, logoAt));
    }
};

CORVANTIS_TEST_MAIN(TestLook)
#include "tst_look.moc"
