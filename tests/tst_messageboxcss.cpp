#include "messageboxcss.h"
#include "testenvironment.h"
#include "ui_installerwindow.h"

#include <QApplication>
#include <QMainWindow>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QWindow>
#include <QtTest>

#include <functional>

namespace {

const QString kTitle = QStringLiteral("Corvantis Installer");
const Qt::WindowFlags kBoxFlags = Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint;

QStringList g_records;

void captureMessage(QtMsgType, const QMessageLogContext&, const QString& message)
{
    g_records << message;
}

QStringList boxRecords()
{
    return g_records.filter(QRegularExpression("^Message displayed"));
}

QMessageBox* openBox()
{
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
        return box;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        if (box && box->isVisible())
            return box;
    }
    return nullptr;
}

// Runs the action on the open, active box from inside the box's own event loop; `found` tells
// whether it became active. Gives up only if no box ever opens, and then nothing is blocked.
void whenBoxOpens(std::function<void(QMessageBox*)> action, bool* found, int attempts = 200)
{
    QTimer::singleShot(0, qApp, [action, found, attempts] {
        QMessageBox* box = openBox();
        if (box) {
            // As under a window manager, the box is activated before the user can answer it;
            // activation is what hands the keyboard focus to one of its buttons.
            *found = QTest::qWaitForWindowActive(box);
            action(box);
        } else if (attempts > 0) {
            whenBoxOpens(action, found, attempts - 1);
        }
    });
}

QPushButton* buttonCaptioned(QMessageBox* box, const QString& caption)
{
    for (QAbstractButton* button : box->buttons()) {
        if (button->text() == caption)
            return qobject_cast<QPushButton*>(button);
    }
    return nullptr;
}

// Pixels of the filled green pill (#CC4fcd7f over the dark window) and of the light outline.
int greenPixels(const QImage& image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.green() > c.red() + 60 && c.green() > c.blue() + 40)
                ++count;
        }
    }
    return count;
}

int lightPixels(const QImage& image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.red() > 170 && c.green() > 170 && c.blue() > 170)
                ++count;
        }
    }
    return count;
}

struct ButtonLook
{
    QString caption;
    QString name;
    bool isDefault = false;
    int green = 0;
    int light = 0;
};

QList<ButtonLook> describeButtons(QMessageBox* box)
{
    QList<ButtonLook> looks;
    for (QAbstractButton* button : box->buttons()) {
        ButtonLook look;
        look.caption = button->text();
        look.name = button->objectName();
        if (auto* push = qobject_cast<QPushButton*>(button))
            look.isDefault = push->isDefault();
        const QImage image = button->grab().toImage();
        look.green = greenPixels(image);
        look.light = lightPixels(image);
        looks << look;
    }
    return looks;
}

enum Kind { ErrorBox, YesNoQuestion };

int showBox(QWidget* parent, Kind kind, bool modal = true)
{
    if (kind == ErrorBox)
        return MessageBoxCSS::critical(parent, kTitle, "Something failed.", modal,
                                       QMessageBox::Close, "CLOSE");
    return MessageBoxCSS::warning(parent, kTitle, "Replace it?", modal, QMessageBox::Yes, "YES",
                                  "NO", QMessageBox::No, "NO", "LOAD", 0, QString(), QString(),
                                  QMessageBox::No);
}

} // namespace

Q_DECLARE_METATYPE(Kind)

class TestMessageBoxCSS : public QObject
{
    Q_OBJECT

private:
    QMainWindow* m_window = nullptr;
    Ui::InstallerWindow m_form;
    QtMessageHandler m_previousHandler = nullptr;

private slots:
    void initTestCase()
    {
        m_window = new QMainWindow;
        m_form.setupUi(m_window);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window));
    }

    void cleanupTestCase() { delete m_window; }

    void init()
    {
        g_records.clear();
        m_previousHandler = qInstallMessageHandler(captureMessage);
    }

    void cleanup()
    {
        qInstallMessageHandler(m_previousHandler);
        // Let the boxes of the finished case go.
        QTest::qWait(0);
        QTRY_VERIFY(m_window->findChildren<QMessageBox*>().isEmpty());
    }

    void errorBoxShowsOneGreenCloseButton()
    {
        bool found = false;
        QList<ButtonLook> looks;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        whenBoxOpens(
            [&](QMessageBox* box) {
                looks = describeButtons(box);
                icon = box->icon();
                QTest::keyClick(box->windowHandle(), Qt::Key_Escape);
            },
            &found);
        const int result = showBox(m_window, ErrorBox);
        QVERIFY(found);
        QCOMPARE(result, int(QMessageBox::Close));
        QCOMPARE(icon, QMessageBox::Critical);
        QCOMPARE(looks.size(), 1);
        QCOMPARE(looks[0].caption, QString("CLOSE"));
        QCOMPARE(looks[0].name, QString("CLOSE"));
        QVERIFY2(looks[0].green > 200, qPrintable(QString::number(looks[0].green)));
    }

    void yesNoQuestionButtons()
    {
        bool found = false;
        QList<ButtonLook> looks;
        QString focused;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        whenBoxOpens(
            [&](QMessageBox* box) {
                looks = describeButtons(box);
                icon = box->icon();
                if (QWidget* focus = box->focusWidget())
                    focused = focus->objectName();
                QTest::mouseClick(buttonCaptioned(box, "YES"), Qt::LeftButton);
            },
            &found);
        const int result = showBox(m_window, YesNoQuestion);
        QVERIFY(found);
        QCOMPARE(result, int(QMessageBox::Yes));
        QCOMPARE(icon, QMessageBox::Warning);
        QCOMPARE(looks.size(), 2);
        std::sort(looks.begin(), looks.end(),
                  [](const ButtonLook& a, const ButtonLook& b) { return a.caption > b.caption; });
        // YES wears the outlined pill, NO the filled green one and is the default.
        QCOMPARE(looks[0].caption, QString("YES"));
        QCOMPARE(looks[0].name, QString("NO"));
        QVERIFY(!looks[0].isDefault);
        QCOMPARE(looks[0].green, 0);
        QVERIFY2(looks[0].light > 50, qPrintable(QString::number(looks[0].light)));
        QCOMPARE(looks[1].caption, QString("NO"));
        QCOMPARE(looks[1].name, QString("LOAD"));
        QVERIFY(looks[1].isDefault);
        QVERIFY2(looks[1].green > 200, qPrintable(QString::number(looks[1].green)));
        QCOMPARE(focused, QString("LOAD"));
    }

    void answers_data()
    {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<bool>("modal");
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("click");
        QTest::addColumn<int>("expected");

        const int no = QMessageBox::No;
        const int yes = QMessageBox::Yes;
        const int close = QMessageBox::Close;
        for (bool modal : {true, false}) {
            const char* suffix = modal ? " (window-modal)" : " (application-modal)";
            auto name = [suffix](const char* what) {
                return QByteArray(what) + suffix;
            };
            QTest::newRow(name("question, Return"))
                << YesNoQuestion << modal << int(Qt::Key_Return) << QString() << no;
            QTest::newRow(name("question, Enter"))
                << YesNoQuestion << modal << int(Qt::Key_Enter) << QString() << no;
            QTest::newRow(name("question, Escape"))
                << YesNoQuestion << modal << int(Qt::Key_Escape) << QString() << no;
            QTest::newRow(name("question, click YES"))
                << YesNoQuestion << modal << 0 << QString("YES") << yes;
            QTest::newRow(name("question, click NO"))
                << YesNoQuestion << modal << 0 << QString("NO") << no;
            QTest::newRow(name("error, Escape"))
                << ErrorBox << modal << int(Qt::Key_Escape) << QString() << close;
            QTest::newRow(name("error, click CLOSE"))
                << ErrorBox << modal << 0 << QString("CLOSE") << close;
        }
    }

    void answers()
    {
        QFETCH(Kind, kind);
        QFETCH(bool, modal);
        QFETCH(int, key);
        QFETCH(QString, click);
        QFETCH(int, expected);

        bool found = false;
        whenBoxOpens(
            [&](QMessageBox* box) {
                if (key)
                    QTest::keyClick(box->windowHandle(), Qt::Key(key));
                else
                    QTest::mouseClick(buttonCaptioned(box, click), Qt::LeftButton);
            },
            &found);
        const int result = showBox(m_window, kind, modal);
        QVERIFY(found);
        QCOMPARE(result, expected);
    }

    void modality_data()
    {
        QTest::addColumn<bool>("modal");
        QTest::addColumn<Qt::WindowModality>("modality");
        QTest::addColumn<Qt::WindowType>("type");

        QTest::newRow("modal") << true << Qt::WindowModal << Qt::Sheet;
        QTest::newRow("not modal") << false << Qt::ApplicationModal << Qt::Dialog;
    }

    void modality()
    {
        QFETCH(bool, modal);
        QFETCH(Qt::WindowModality, modality);
        QFETCH(Qt::WindowType, type);

        bool found = false;
        Qt::WindowModality seenModality = Qt::NonModal;
        Qt::WindowFlags seenFlags;
        QWidget* seenParent = nullptr;
        bool windowBlocked = false;
        whenBoxOpens(
            [&](QMessageBox* box) {
                seenModality = box->windowModality();
                seenFlags = box->windowFlags();
                seenParent = box->parentWidget();
                windowBlocked = QApplication::activeModalWidget() == box;
                QTest::keyClick(box->windowHandle(), Qt::Key_Escape);
            },
            &found);
        showBox(m_window, ErrorBox, modal);
        QVERIFY(found);
        QCOMPARE(seenModality, modality);
        QCOMPARE(seenFlags & Qt::WindowType_Mask, Qt::WindowFlags(type));
        QCOMPARE(seenParent, m_window);
        QVERIFY(windowBlocked);
        if (!modal) {
            // The flags handed to the box survive when it is not turned into a sheet.
            QCOMPARE(seenFlags & kBoxFlags, kBoxFlags);
        }
    }

    void staticFunctionsPickTheirIcon_data()
    {
        QTest::addColumn<int>("function");
        QTest::addColumn<QMessageBox::Icon>("icon");

        QTest::newRow("information") << 0 << QMessageBox::Information;
        QTest::newRow("question") << 1 << QMessageBox::Question;
        QTest::newRow("warning") << 2 << QMessageBox::Warning;
        QTest::newRow("critical") << 3 << QMessageBox::Critical;
    }

    void staticFunctionsPickTheirIcon()
    {
        QFETCH(int, function);
        QFETCH(QMessageBox::Icon, icon);

        bool found = false;
        QMessageBox::Icon seen = QMessageBox::NoIcon;
        QStringList names;
        whenBoxOpens(
            [&](QMessageBox* box) {
                seen = box->icon();
                for (QAbstractButton* button : box->buttons())
                    names << button->objectName();
                QTest::mouseClick(buttonCaptioned(box, "LATER"), Qt::LeftButton);
            },
            &found);
        decltype(&MessageBoxCSS::critical) functions[] = {
            &MessageBoxCSS::information, &MessageBoxCSS::question, &MessageBoxCSS::warning,
            &MessageBoxCSS::critical};
        const int result =
            functions[function](m_window, kTitle, "Text", true, QMessageBox::Ok, "OK", QString(),
                                QMessageBox::Ignore, "LATER", "NO", 0, QString(), QString(), 0);
        QVERIFY(found);
        QCOMPARE(result, int(QMessageBox::Ignore));
        QCOMPARE(seen, icon);
        names.sort();
        QCOMPARE(names, QStringList({"NO", "OK"}));
        QCOMPARE(boxRecords().size(), 1);
    }

    void logRecord_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("record");

        QTest::newRow("line break") << kTitle << QString("a\nb")
                                    << QString("Message displayed, title:  \"Corvantis Installer\" "
                                               ", text:  \"a\\nb\"");
        QTest::newRow("empty") << QString() << QString()
                               << QString("Message displayed, title:  \"\" , text:  \"\"");
        QTest::newRow("quotes and backslash")
            << QString("t") << QString("say \"hi\" C:\\x")
            << QString("Message displayed, title:  \"t\" , text:  \"say \\\"hi\\\" C:\\\\x\"");
    }

    void logRecord()
    {
        QFETCH(QString, title);
        QFETCH(QString, text);
        QFETCH(QString, record);

        bool found = false;
        QStringList loggedBeforeShown;
        whenBoxOpens(
            [&](QMessageBox* box) {
                loggedBeforeShown = boxRecords();
                QTest::keyClick(box->windowHandle(), Qt::Key_Escape);
            },
            &found);
        MessageBoxCSS::critical(m_window, title, text, true, QMessageBox::Close, "CLOSE");
        QVERIFY(found);
        QCOMPARE(loggedBeforeShown, QStringList{record});
        QCOMPARE(boxRecords(), QStringList{record});
    }

    void boxWithoutParent()
    {
        const QString sheet = m_window->styleSheet();
        bool found = false;
        QList<ButtonLook> looks;
        QWidget* parent = m_window;
        QString boxSheet = "unset";
        QPointer<QMessageBox> shown;
        whenBoxOpens(
            [&](QMessageBox* box) {
                shown = box;
                looks = describeButtons(box);
                parent = box->parentWidget();
                boxSheet = box->styleSheet();
                QTest::keyClick(box->windowHandle(), Qt::Key_Escape);
            },
            &found);
        const int result = showBox(nullptr, ErrorBox, true);
        QVERIFY(found);
        QCOMPARE(result, int(QMessageBox::Close));
        QCOMPARE(parent, nullptr);
        QCOMPARE(boxSheet, QString());
        QCOMPARE(qApp->styleSheet(), QString());
        QCOMPARE(m_window->styleSheet(), sheet);
        QCOMPARE(looks.size(), 1);
        QCOMPARE(looks[0].name, QString("CLOSE"));
        QCOMPARE(looks[0].green, 0); // Qt's plain look
        QCOMPARE(boxRecords(),
                 QStringList{"Message displayed, title:  \"Corvantis Installer\" , text:  "
                             "\"Something failed.\""});
        QTRY_VERIFY(shown.isNull());
    }

    void parentKeepsItsStyleSheet()
    {
        const QString sheet = m_window->styleSheet();
        MessageBoxCSS box(kTitle, "Text", QMessageBox::Warning, QMessageBox::Yes, "YES", "NO",
                          QMessageBox::No, "NO", "LOAD", 0, QString(), QString(), QMessageBox::No,
                          m_window, true, kBoxFlags);
        QCOMPARE(m_window->styleSheet(), sheet);
        auto* made = m_window->findChild<QMessageBox*>();
        QVERIFY(made);
        QCOMPARE(made->styleSheet(), QString());
        QVERIFY(!made->isVisible());
    }

    void emptyCaptionIsSkipped()
    {
        MessageBoxCSS box(kTitle, "Text", QMessageBox::Warning, QMessageBox::Yes, "YES", "NO",
                          QMessageBox::No, QString(), "LOAD", 0, "IGNORED", "IGNORED", 0, m_window,
                          true, kBoxFlags);
        auto* made = m_window->findChild<QMessageBox*>();
        QVERIFY(made);
        QCOMPARE(made->buttons().size(), 2);
        QAbstractButton* no = made->button(QMessageBox::No);
        QVERIFY(no);
        QVERIFY(no->text() != "NO" && !no->text().isEmpty()); // Qt's own caption
        QCOMPARE(no->objectName(), QString());
        QCOMPARE(made->button(QMessageBox::Yes)->objectName(), QString("NO"));
        QVERIFY(made->findChildren<QAbstractButton*>("IGNORED").isEmpty());
        QVERIFY(made->findChildren<QAbstractButton*>("LOAD").isEmpty());
    }

    void defaultButtonTheBoxLacksIsIgnored()
    {
        MessageBoxCSS box(kTitle, "Text", QMessageBox::Critical, QMessageBox::Close, "CLOSE",
                          QString(), 0, QString(), QString(), 0, QString(), QString(),
                          QMessageBox::Yes, m_window, true, kBoxFlags);
        auto* made = m_window->findChild<QMessageBox*>();
        QVERIFY(made);
        QCOMPARE(made->buttons().size(), 1);
    }

    void defaultConstructedBoxAnswersZero()
    {
        MessageBoxCSS box;
        QCOMPARE(box.exec(), 0);
        QCOMPARE(boxRecords(), QStringList());
    }

    void destroyedWithoutExecGoesAtNextEventLoop()
    {
        QPointer<QMessageBox> made;
        {
            MessageBoxCSS box(kTitle, "Text", QMessageBox::Critical, QMessageBox::Close, "CLOSE",
                              QString(), 0, QString(), QString(), 0, QString(), QString(), 0,
                              m_window, true, kBoxFlags);
            made = m_window->findChild<QMessageBox*>();
            QVERIFY(made);
            QCOMPARE(boxRecords().size(), 1); // logged when made, though never shown
        }
        QVERIFY(made); // still there, hidden, until the event loop runs
        QVERIFY(!made->isVisible());
        QCOMPARE(made->parentWidget(), m_window);
        QTRY_VERIFY(made.isNull());
    }

    void parentDeletedWhileBoxIsOpen()
    {
        auto* parent = new QWidget;
        parent->show();
        QVERIFY(QTest::qWaitForWindowExposed(parent));
        bool found = false;
        whenBoxOpens([&](QMessageBox*) { delete parent; }, &found);
        const int result = showBox(parent, ErrorBox);
        QVERIFY(found);
        QCOMPARE(result, 0);
    }
};

CORVANTIS_TEST_MAIN(TestMessageBoxCSS)
#include "tst_messageboxcss.moc"
