#include "imagelabel.h"
#include "testenvironment.h"
#include "ui_installerwindow.h"

#include <QApplication>
#include <QDirIterator>
#include <QMainWindow>
#include <QPainter>
#include <QRegularExpression>
#include <QResource>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtEndian>
#include <QtTest>

namespace {

const QColor kBackground("#323232");
const QColor kChunk("#4fcd7f");
const QColor kTrack("#808080"); // "grey"
// #CCFFFFFF over the window colour.
const QColor kOutline(214, 214, 214);

using Rule = QPair<QString, QStringList>;

QString sheet(const QList<Rule>& rules)
{
    QStringList texts;
    for (const Rule& rule : rules)
        texts << rule.first + " {\n" + rule.second.join(";\n") + ";\n}\n";
    return texts.join("\n");
}

QList<Rule> windowRules()
{
    const QStringList pill = {"border-width: 1px",  "border-radius: 14px", "border-style: inset",
                              "min-height:22px",    "padding-top: 2px",    "padding-bottom: 2px",
                              "padding-left: 28px", "padding-right: 28px", "color: #CCFFFFFF"};
    const QStringList filled =
        pill + QStringList{"border-color: #323232", "background-color: #CC4fcd7f",
                           "margin: 1px 4px 1px 4px"};
    const QStringList outlined =
        pill + QStringList{"border-color: #CCFFFFFF", "background-color: #00000000",
                           "margin: 1px 4px 1px 4px"};
    const QStringList filledPressed = {"color: #99FFFFFF", "background-color: #994fcd7f"};
    const QStringList filledHover = {"color: #FFFFFFFF", "background-color: #FF4fcd7f",
                                     "border-radius: 15px", "margin: 0px"};
    const QStringList outlinedPressed = {"color: #99FFFFFF", "border-color: #99FFFFFF"};
    const QStringList outlinedHover = {"color: #FFFFFFFF", "border-color: #FFFFFFFF",
                                       "border-radius: 15px", "margin: 0px"};

    QList<Rule> rules = {{"QWidget",
                          {"background: #323232", "font-family: \"Montserrat\"", "font-size: 12px",
                           "color: white"}}};
    const struct
    {
        const char* name;
        const QStringList& base;
        const QStringList& pressed;
        const QStringList& hover;
    } pills[] = {{"LOAD", filled, filledPressed, filledHover},
                 {"NO", outlined, outlinedPressed, outlinedHover},
                 {"CANCEL", outlined, outlinedPressed, outlinedHover},
                 {"CLOSE", filled, filledPressed, filledHover}};
    for (const auto& p : pills) {
        const QString selector = QString("QPushButton#") + p.name;
        rules << Rule(selector, p.base) << Rule(selector + ":pressed", p.pressed)
              << Rule(selector + ":hover", p.hover);
    }
    return rules;
}

QList<Rule> cancelRules()
{
    return {{"QPushButton",
             {"font-family: \"Montserrat\"", "font-weight: 600", "border-width: 1px",
              "border-radius: 15px", "border-style: outset", "padding-top: 2px",
              "padding-bottom: 2px", "color: #CCFFFFFF", "border-color: #CCFFFFFF",
              "background-color: #00000000", "margin: 1px 4px 1px 4px"}},
            {"QPushButton:pressed", {"color: #99FFFFFF", "border-color: #99FFFFFF"}},
            {"QPushButton:hover",
             {"color: #FFFFFFFF", "border-color: #FFFFFFFF", "margin: 0px", "border-radius: 16px"}},
            {"QPushButton:disabled", {"background-color: #7F7F7F"}}};
}

QList<Rule> progressRules()
{
    return {{"QProgressBar", {"border: 0px", "border-radius: 5px", "background-color: grey"}},
            {"QProgressBar::chunk",
             {"background-color: #4fcd7f", "border: 0px", "border-radius: 5px"}}};
}

QStringList selectors(const QString& text)
{
    QStringList found;
    QRegularExpressionMatchIterator it =
        QRegularExpression("^([^\\n{]+) \\{$", QRegularExpression::MultilineOption)
            .globalMatch(text);
    while (it.hasNext())
        found << it.next().captured(1);
    return found;
}

bool near(const QColor& a, const QColor& b, int tolerance = 3)
{
    return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance &&
           qAbs(a.blue() - b.blue()) <= tolerance;
}

// The image drawn over a solid colour, as it should appear in the window.
QImage over(const QImage& image, const QColor& background)
{
    QImage result(image.size(), QImage::Format_RGB32);
    result.fill(background);
    QPainter painter(&result);
    painter.drawImage(0, 0, image);
    return result;
}

// Pixels of `part` at `offset` in `whole` that differ from `part` by more than the tolerance.
int mismatches(const QImage& whole, const QPoint& offset, const QImage& part, int tolerance = 3)
{
    int count = 0;
    for (int y = 0; y < part.height(); ++y) {
        for (int x = 0; x < part.width(); ++x) {
            if (!near(whole.pixelColor(offset + QPoint(x, y)), part.pixelColor(x, y), tolerance))
                ++count;
        }
    }
    return count;
}

int countNear(const QImage& image, const QRect& area, const QColor& colour, int tolerance = 3)
{
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (near(image.pixelColor(x, y), colour, tolerance))
                ++count;
        }
    }
    return count;
}

// Bounding box of the pixels that are not fully transparent.
QRect paintedArea(const QImage& image)
{
    QRect box;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(image.pixel(x, y)) != 0)
                box |= QRect(x, y, 1, 1);
        }
    }
    return box;
}

// What a straight-alpha image looks like after painting onto a transparent surface.
QImage asPainted(const QImage& image)
{
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied)
        .convertToFormat(QImage::Format_ARGB32);
}

QImage grabImage(QWidget* widget)
{
    return widget->grab().toImage().convertToFormat(QImage::Format_ARGB32);
}

// Only what the widget itself paints, on a transparent surface.
QImage renderImage(QWidget* widget)
{
    QImage image(widget->size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    widget->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image.convertToFormat(QImage::Format_ARGB32);
}

QImage solidPixmapImage(const QSize& size, const QColor& colour)
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(colour);
    return image;
}

class MarkingTranslator : public QTranslator
{
public:
    QString translate(const char* context, const char* sourceText, const char* disambiguation,
                      int n) const override
    {
        Q_UNUSED(disambiguation);
        Q_UNUSED(n);
        if (QByteArray(context) != "InstallerWindow")
            return QString();
        return QString("<%1>").arg(QString::fromUtf8(sourceText));
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

private:
    // The window as its constructor leaves it: form, logo image, progress value.
    static QMainWindow* makeWindow(Ui::InstallerWindow& form, int progress)
    {
        auto* window = new QMainWindow;
        form.setupUi(window);
        form.logo->setImage(":/main/tavo.png");
        form.progressBar->setValue(progress);
        return window;
    }

private slots:
    void initTestCase()
    {
        QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
        QCOMPARE(qApp->devicePixelRatio(), 1.0);
    }

    void formStructure()
    {
        QMainWindow window;
        Ui::InstallerWindow form;
        form.setupUi(&window);

        QCOMPARE(window.objectName(), QString("InstallerWindow"));
        QCOMPARE(window.centralWidget(), form.centralwidget);
        QCOMPARE(form.centralwidget->objectName(), QString("centralwidget"));
        QCOMPARE(form.centralwidget->windowType(), Qt::Widget);
        QCOMPARE(form.buttonCancel->objectName(), QString("buttonCancel"));
        QCOMPARE(form.logo->objectName(), QString("logo"));
        QCOMPARE(form.logo->metaObject()->className(), "ImageLabel");
        QCOMPARE(form.progressBar->objectName(), QString("progressBar"));
        QCOMPARE(form.label_2->objectName(), QString("label_2"));
        for (QWidget* child :
             {static_cast<QWidget*>(form.buttonCancel), static_cast<QWidget*>(form.logo),
              static_cast<QWidget*>(form.progressBar), static_cast<QWidget*>(form.label_2)})
            QCOMPARE(child->parentWidget(), form.centralwidget);

        QCOMPARE(form.buttonCancel->geometry(), QRect(411, 90, 121, 32));
        QCOMPARE(form.logo->geometry(), QRect(30, 30, 77, 72));
        QCOMPARE(form.progressBar->geometry(), QRect(140, 55, 391, 10));
        QCOMPARE(form.label_2->geometry(), QRect(140, 35, 171, 16));
        QCOMPARE(form.logo->minimumSize(), QSize(77, 72));
        QCOMPARE(form.logo->maximumSize(), QSize(77, 72));

        QCOMPARE(form.progressBar->minimum(), 0);
        QCOMPARE(form.progressBar->maximum(), 1000);
        QCOMPARE(form.progressBar->value(), 350);
        QVERIFY(!form.progressBar->isTextVisible());

        QCOMPARE(window.windowTitle(), QString("Downloading installer..."));
        QCOMPARE(form.buttonCancel->text(), QString("CANCEL"));
        QCOMPARE(form.logo->text(), QString());
        QCOMPARE(form.label_2->text(), QString("Downloading..."));

        // The form's pixmap is the double-resolution file, pixel for pixel.
        const QImage pixmap = form.logo->pixmap(Qt::ReturnByValue).toImage();
        const QImage file(":/main/tavo@2x.png");
        QCOMPARE(pixmap.size(), QSize(154, 144));
        QCOMPARE(pixmap.convertToFormat(QImage::Format_ARGB32), asPainted(file));
    }

    void windowCannotBeResized()
    {
        QMainWindow window;
        Ui::InstallerWindow form;
        form.setupUi(&window);
        QCOMPARE(window.size(), QSize(564, 148));
        QCOMPARE(window.minimumSize(), QSize(564, 148));
        QCOMPARE(window.maximumSize(), QSize(564, 148));
        window.resize(800, 300);
        QCOMPARE(window.size(), QSize(564, 148));
        window.resize(100, 50);
        QCOMPARE(window.size(), QSize(564, 148));
    }

    void existingObjectNameIsKept()
    {
        QMainWindow window;
        window.setObjectName("mine");
        Ui::InstallerWindow form;
        form.setupUi(&window);
        QCOMPARE(window.objectName(), QString("mine"));
    }

    void styleSheets_data()
    {
        QTest::addColumn<QString>("widget");
        QTest::addColumn<int>("length");
        QTest::addColumn<QString>("expected");

        QTest::newRow("window") << "InstallerWindow" << 1926 << sheet(windowRules());
        QTest::newRow("cancel button") << "buttonCancel" << 480 << sheet(cancelRules());
        QTest::newRow("progress bar") << "progressBar" << 159 << sheet(progressRules());
        QTest::newRow("status label") << "label_2" << 59
                                      << QString("color: #cfcfcf;\nfont-family: "
                                                 "\"Montserrat\";\nfont-size: 13px;");
    }

    void styleSheets()
    {
        QFETCH(QString, widget);
        QFETCH(int, length);
        QFETCH(QString, expected);

        QMainWindow window;
        Ui::InstallerWindow form;
        form.setupUi(&window);
        QWidget* target =
            widget == window.objectName() ? &window : window.findChild<QWidget*>(widget);
        QVERIFY(target);
        const QString actual = target->styleSheet();
        QCOMPARE(actual.size(), length);
        QCOMPARE(selectors(actual), selectors(expected));
        QCOMPARE(actual, expected);
    }

    void windowRulesSelectTheBoxButtonNames()
    {
        QStringList expected = {"QWidget"};
        for (const char* name : {"LOAD", "NO", "CANCEL", "CLOSE"}) {
            const QString selector = QString("QPushButton#") + name;
            expected << selector << selector + ":pressed" << selector + ":hover";
        }
        QMainWindow window;
        Ui::InstallerWindow form;
        form.setupUi(&window);
        QCOMPARE(selectors(window.styleSheet()), expected);
    }

    void textsAreTranslatedInTheWindowContext()
    {
        QMainWindow window;
        Ui::InstallerWindow form;
        form.setupUi(&window);
        MarkingTranslator translator;
        QCoreApplication::installTranslator(&translator);
        form.retranslateUi(&window);
        QCoreApplication::removeTranslator(&translator);

        QCOMPARE(window.windowTitle(), QString("<Downloading installer...>"));
        QCOMPARE(form.buttonCancel->text(), QString("<CANCEL>"));
        QCOMPARE(form.logo->text(), QString());
        QCOMPARE(form.label_2->text(), QString("<Downloading...>"));
    }

    void cancelReachesTheSlotByName()
    {
        FormHost host;
        Ui::InstallerWindow form;
        form.setupUi(&host);
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        QTest::mouseClick(form.buttonCancel, Qt::LeftButton);
        QCOMPARE(host.cancelClicks, 1);
        form.buttonCancel->click();
        QCOMPARE(host.cancelClicks, 2);
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

        // PNG signature, then IHDR: width, height, bit depth 8, colour type 6 (RGBA).
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray head = file.read(26);
        QCOMPARE(head.left(8), QByteArray("\x89PNG\r\n\x1a\n"));
        QCOMPARE(head.mid(12, 4), QByteArray("IHDR"));
        QCOMPARE(qFromBigEndian<quint32>(head.constData() + 16), quint32(size.width()));
        QCOMPARE(qFromBigEndian<quint32>(head.constData() + 20), quint32(size.height()));
        QCOMPARE(int(head.at(24)), 8);
        QCOMPARE(int(head.at(25)), 6);

        const QImage image(path);
        QCOMPARE(image.size(), size);
        QVERIFY(image.hasAlphaChannel());
        // A mark on a transparent ground.
        QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
        QVERIFY(paintedArea(image).width() > size.width() / 2);
    }

    void resourceFolderHoldsOnlyTheLogo()
    {
        QStringList entries;
        QDirIterator it(":/main");
        while (it.hasNext())
            entries << it.next();
        entries.sort();
        QCOMPARE(entries, QStringList({":/main/tavo.png", ":/main/tavo@2x.png"}));
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

        Ui::InstallerWindow form;
        QScopedPointer<QMainWindow> window(makeWindow(form, progress));
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.data()));
        const QImage shot = grabImage(window.data());
        QCOMPARE(shot.size(), QSize(564, 148));

        // The dark window, wherever no widget paints.
        for (const QPoint& p : {QPoint(0, 0), QPoint(5, 140), QPoint(300, 120), QPoint(563, 147),
                                QPoint(330, 40), QPoint(560, 60)})
            QVERIFY2(near(shot.pixelColor(p), kBackground),
                     qPrintable(QString("%1,%2").arg(p.x()).arg(p.y())));

        // Progress bar: a green chunk in proportion to the value over a grey track.
        const QRect barRow(140, 60, 391, 1);
        const int green = countNear(shot, barRow, kChunk);
        const int grey = countNear(shot, barRow, kTrack);
        const int expectedGreen = 391 * progress / 1000;
        QVERIFY2(qAbs(green - expectedGreen) <= 8,
                 qPrintable(QString("green %1, expected about %2").arg(green).arg(expectedGreen)));
        QVERIFY2(qAbs(grey - (391 - expectedGreen)) <= 8, qPrintable(QString::number(grey)));
        if (progress > 0 && progress < 1000) {
            QVERIFY(near(shot.pixelColor(150, 60), kChunk));
            QVERIFY(near(shot.pixelColor(520, 60), kTrack));
        }
        // Ten pixels high, nothing above or below.
        QVERIFY(!near(shot.pixelColor(300, 55), kBackground));
        QVERIFY(!near(shot.pixelColor(300, 64), kBackground));
        QVERIFY(near(shot.pixelColor(300, 54), kBackground));
        QVERIFY(near(shot.pixelColor(300, 65), kBackground));

        // The logo: the normal image in the 77x72 area, nothing around it.
        const QImage expectedLogo = over(QImage(":/main/tavo.png"), kBackground);
        QCOMPARE(mismatches(shot, QPoint(30, 30), expectedLogo), 0);
        QVERIFY(countNear(shot, QRect(30, 30, 77, 72), kBackground) < 77 * 72 * 3 / 4);
        const QRect surround(15, 15, 107, 102);
        const int around = countNear(shot, surround, kBackground) -
                           countNear(shot, QRect(30, 30, 77, 72), kBackground);
        QCOMPARE(around, surround.width() * surround.height() - 77 * 72);

        // The CANCEL pill: light top and bottom outline inside its margins, dark inside.
        for (int x = 440; x <= 500; x += 10) {
            QVERIFY2(near(shot.pixelColor(x, 91), kOutline, 20), qPrintable(QString::number(x)));
            QVERIFY2(near(shot.pixelColor(x, 120), kOutline, 20), qPrintable(QString::number(x)));
            QVERIFY(near(shot.pixelColor(x, 90), kBackground));
            QVERIFY(near(shot.pixelColor(x, 95), kBackground));
        }
        // Its caption is light text.
        int light = 0;
        for (int y = 98; y < 114; ++y)
            for (int x = 430; x < 512; ++x)
                light += shot.pixelColor(x, y).lightness() > 150 ? 1 : 0;
        QVERIFY2(light > 40, qPrintable(QString::number(light)));

        // The status text, lighter than the window, left of the bar's end.
        int text = 0;
        for (int y = 35; y < 51; ++y)
            for (int x = 140; x < 311; ++x)
                text += shot.pixelColor(x, y).lightness() > 120 ? 1 : 0;
        QVERIFY2(text > 40, qPrintable(QString::number(text)));
    }

    // ImageLabel, at a device pixel ratio of 1.

    void labelWithoutImagePaintsLikeQLabel_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("withPixmap");
        QTest::addColumn<QString>("image");

        QTest::newRow("text") << "Corvantis" << false << QString();
        QTest::newRow("pixmap") << QString() << true << QString();
        QTest::newRow("missing image file") << "Corvantis" << true << ":/main/missing.png";
        QTest::newRow("empty image name") << QString() << true << "";
        QTest::newRow("undecodable file")
            << "Corvantis" << false << CORVANTIS_TESTS_DIR "/tst_look.cpp";
    }

    void labelWithoutImagePaintsLikeQLabel()
    {
        QFETCH(QString, text);
        QFETCH(bool, withPixmap);
        QFETCH(QString, image);

        QLabel plain;
        ImageLabel ours;
        for (QLabel* label : {&plain, static_cast<QLabel*>(&ours)}) {
            label->resize(120, 60);
            label->setText(text);
            if (withPixmap)
                label->setPixmap(
                    QPixmap::fromImage(solidPixmapImage(QSize(30, 20), QColor(255, 0, 0))));
        }
        if (!image.isNull())
            ours.setImage(image);

        const QImage expected = renderImage(&plain);
        QVERIFY(paintedArea(expected).isValid()); // the plain label paints something
        QCOMPARE(renderImage(&ours), expected);
    }

    void imageReplacesThePixmap()
    {
        ImageLabel label;
        label.resize(77, 72);
        label.setPixmap(QPixmap::fromImage(solidPixmapImage(QSize(77, 72), QColor(255, 0, 0))));
        QCOMPARE(countNear(renderImage(&label), QRect(0, 0, 77, 72), QColor(255, 0, 0)), 77 * 72);

        label.setImage(":/main/tavo.png");
        const QImage shot = renderImage(&label);
        QCOMPARE(countNear(shot, QRect(0, 0, 77, 72), QColor(255, 0, 0), 40), 0);
        QCOMPARE(shot, asPainted(QImage(":/main/tavo.png")));
        QVERIFY(!label.pixmap(Qt::ReturnByValue).isNull()); // still set, just not painted

        // A file that cannot be read later on changes nothing.
        label.setImage(":/main/missing.png");
        QCOMPARE(renderImage(&label), shot);
    }

    void imageIsCentredAtItsOwnSizeOrShrunk_data()
    {
        QTest::addColumn<QSize>("labelSize");
        QTest::addColumn<QRect>("imageArea");

        // Centred as QIcon::paint does: half the label less half the image, each rounded down.
        QTest::newRow("same size") << QSize(77, 72) << QRect(0, 0, 77, 72);
        QTest::newRow("larger") << QSize(200, 150) << QRect(62, 39, 77, 72);
        QTest::newRow("wider") << QSize(300, 72) << QRect(112, 0, 77, 72);
        QTest::newRow("half") << QSize(38, 36) << QRect(0, 0, 38, 36);
        QTest::newRow("flat") << QSize(77, 36) << QRect(19, 0, 38, 36);
    }

    void imageIsCentredAtItsOwnSizeOrShrunk()
    {
        QFETCH(QSize, labelSize);
        QFETCH(QRect, imageArea);

        ImageLabel label;
        label.resize(labelSize);
        label.setImage(":/main/tavo.png");
        const QImage shot = renderImage(&label);
        QCOMPARE(shot.size(), labelSize);

        // The mark's own extent within its image, mapped into the area it is drawn in.
        const QImage source(":/main/tavo.png");
        const QRect mark = paintedArea(source);
        const qreal scale = qreal(imageArea.width()) / source.width();
        const QRect expected(imageArea.x() + qFloor(mark.x() * scale),
                             imageArea.y() + qFloor(mark.y() * scale), qCeil(mark.width() * scale),
                             qCeil(mark.height() * scale));
        const QRect painted = paintedArea(shot);
        QVERIFY2(qAbs(painted.left() - expected.left()) <= 1 &&
                     qAbs(painted.top() - expected.top()) <= 1 &&
                     qAbs(painted.right() - expected.right()) <= 1 &&
                     qAbs(painted.bottom() - expected.bottom()) <= 1,
                 qPrintable(QString("painted %1,%2 %3x%4, expected %5,%6 %7x%8")
                                .arg(painted.x())
                                .arg(painted.y())
                                .arg(painted.width())
                                .arg(painted.height())
                                .arg(expected.x())
                                .arg(expected.y())
                                .arg(expected.width())
                                .arg(expected.height())));
        if (imageArea.size() == source.size())
            QCOMPARE(shot.copy(imageArea), asPainted(source));
    }

    void secondImageJoinsTheIcon()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString bluePath = dir.filePath("blue.png");
        QVERIFY(solidPixmapImage(QSize(154, 144), QColor(0, 0, 255)).save(bluePath));

        for (const QSize& size : {QSize(77, 72), QSize(154, 144)}) {
            ImageLabel label;
            label.resize(size);
            label.setImage(":/main/tavo.png");
            label.setImage(bluePath);
            const QImage shot = renderImage(&label);
            const int blue = countNear(shot, shot.rect(), QColor(0, 0, 255));
            // The icon picks the image whose size suits the label.
            if (size == QSize(77, 72))
                QCOMPARE(blue, 0);
            else
                QCOMPARE(blue, 154 * 144);
        }
    }
};

CORVANTIS_TEST_MAIN(TestLook)
#include "tst_look.moc"
