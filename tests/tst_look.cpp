#include "boxanswerer.h"
#include "corvantis.h"
#include "logging.h"
#include "logtail.h"
#include "messageboxcss.h"
#include "testenvironment.h"
#include "ui_installerwindow.h"

// The double-density screen the "@2x" logo is for; Qt reads the factor as the application starts.
const bool g_doubleDensity = (qputenv("QT_SCALE_FACTOR", "2"),
                              QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps), true);

using M = QMessageBox;
using B = MessageBoxCSS;
const decltype(&B::warning) kShow[] = {{}, B::information, B::warning, B::critical, B::question};

struct Case
{
    int icon, result, key; // shown by kShow[icon]; key pressed, or else the caption clicked
    QString caption = {};
    bool modal = true, withParent = true, unfocused = false;
};
Q_DECLARE_METATYPE(Case)

// Pixels of green hues, as the filled pills and the progress chunk have.
static int greenPixels(const QImage& image)
{
    int count = 0;
    for (int i = 0; i < image.width() * image.height(); ++i)
        count += image.pixelColor(i % image.width(), i / image.width()).hsvHue() / 60 == 2;
    return count;
}

class TestLook : public QObject
{
    Q_OBJECT

    QMainWindow m_window;
    Ui::InstallerWindow m_form;

public:
    TestLook() { m_form.setupUi(&m_window); }

private slots:
    void initTestCase() { init_logger(Corvantis::kLogLabel, Corvantis::kLogFileName); }
    void cleanup() { QTRY_VERIFY(m_window.findChildren<QMessageBox*>().isEmpty()); }

    void progressBar()
    {
        for (int progress : {0, 350, 1000}) {
            m_form.progressBar->setValue(progress);
            // Green over a width in proportion to the value, on average over its height.
            const QImage bar = m_form.progressBar->grab().toImage();
            QVERIFY(qAbs(greenPixels(bar) / bar.height() - bar.width() * progress / 1000) <= 16);
        }
    }

    void imageLabel()
    {
        // Until it has an image it can read, a plain label; then only its sharp logo.
        QLabel plain;
        ImageLabel label;
        plain.setPixmap(QPixmap(":/main/tavo.png")); // the normal file, blurred at double density
        label.setPixmap(QPixmap(":/main/tavo.png"));
        label.setImage(":/main/missing.png");
        QCOMPARE(label.grab().toImage(), plain.grab().toImage());
        label.setImage(":/main/tavo.png");
        plain.setPixmap(QPixmap(":/main/tavo@2x.png"));
        QCOMPARE(label.grab().toImage(), plain.grab().toImage());
    }

    void boxes_data()
    {
        QTest::addColumn<Case>("c");
        QTest::newRow("Return") << Case{M::Warning, M::No, Qt::Key_Return};
        QTest::newRow("Return, no focus") << Case{M::Warning, M::No, Qt::Key_Return, {}, 1, 1, 1};
        QTest::newRow("Escape, not modal") << Case{M::Question, M::Close, Qt::Key_Escape, {}, 0};
        QTest::newRow("YES, no parent") << Case{M::Critical, M::Yes, 0, "YES", 1, 0};
        QTest::newRow("CLOSE") << Case{M::Information, M::Close, 0, "CLOSE"};
    }

    void boxes()
    {
        QFETCH(Case, c);
        BoxAnswerer answerer;
        LogTail log;
        int green = 0;
        const auto look = [&] {
            green = greenPixels(QApplication::activeModalWidget()->grab().toImage());
            if (c.unfocused) // as where buttons take no keyboard focus: keys reach the box
                QApplication::focusWidget()->clearFocus();
        };
        c.key ? answerer.press(c.key, look) : answerer.click(c.caption, look);
        QCOMPARE(kShow[c.icon](c.withParent ? &m_window : nullptr, "Title", "a\nb", c.modal, M::Yes,
                               "YES", "NO", M::No, "NO", "LOAD", M::Close, "CLOSE", {}, M::No),
                 c.result);
        const BoxAnswerer::Box box = answerer.boxes.value(0);
        QCOMPARE(int(box.icon), c.icon);
        QCOMPARE(box.title + box.text, QString("Titlea\nb"));
        // Captions, object names (the caption where none is given), the default.
        QCOMPARE(box.captions + box.objectNames << box.defaultCaption,
                 QStringList({"CLOSE", "YES", "NO", "CLOSE", "NO", "LOAD", "NO"}));
        // A sheet of the window only when asked to be; modal to the whole application otherwise.
        QCOMPARE(box.modality, c.modal ? Qt::WindowModal : Qt::ApplicationModal);
        QCOMPARE(green > 200, c.withParent); // the window's sheet fills LOAD's and CLOSE's pills
        QCOMPARE(log.messages().filter("Message displayed"),
                 QStringList{R"(Message displayed, title:  "Title" , text:  "a\nb")"});
    }

    void execWithoutABoxAnswersZero() { QCOMPARE(B().exec(), 0); }
};

QTEST_MAIN(TestLook)
#include "tst_look.moc"
