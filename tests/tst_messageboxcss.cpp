#include "messageboxcss.h"
#include "testenvironment.h"
#include "ui_installerwindow.h"

#include <QApplication>
#include <QMainWindow>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

namespace {

const QString kTitle = QStringLiteral("Corvantis Installer");
const Qt::WindowFlags kBoxFlags = Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint;

QStringList g_records;

void capture(QtMsgType, const QMessageLogContext&, const QString& message)
{
    if (message.startsWith("Message displayed"))
        g_records << message;
}

// What an open box showed.
struct Seen
{
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList captions;
    QStringList names;
    QString defaultName;
    QString focusName;
    Qt::WindowModality modality = Qt::NonModal;
    QWidget* parent = nullptr;
    QString sheet = "unseen";
    int green = 0; // pixels of the filled green pill
    int logged = 0;
    bool active = false;
};

// Once a modal box has opened and, as under a window manager, become active (which hands the
// keyboard focus to one of its buttons), records it from inside its own event loop and answers:
// a key goes to the focused widget, anything else clicks the button of that caption.
void answerBox(Seen* seen, const QString& answer, int attempts = 100)
{
    QTimer::singleShot(0, qApp, [=] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            if (attempts > 0)
                answerBox(seen, answer, attempts - 1);
            return;
        }
        seen->active = QTest::qWaitForWindowActive(box);
        seen->icon = box->icon();
        seen->modality = box->windowModality();
        seen->parent = box->parentWidget();
        seen->sheet = box->styleSheet();
        seen->logged = g_records.size();
        seen->focusName = box->focusWidget() ? box->focusWidget()->objectName() : QString();
        QAbstractButton* clicked = nullptr;
        for (QAbstractButton* button : box->buttons()) {
            seen->captions << button->text();
            seen->names << button->objectName();
            if (qobject_cast<QPushButton*>(button)->isDefault())
                seen->defaultName = button->objectName();
            const QImage image = button->grab().toImage();
            for (int y = 0; y < image.height(); ++y) {
                for (int x = 0; x < image.width(); ++x) {
                    const QColor c = image.pixelColor(x, y);
                    seen->green += c.green() > c.red() + 60 && c.green() > c.blue() + 40 ? 1 : 0;
                }
            }
            clicked = button->text() == answer ? button : clicked;
        }
        const QHash<QString, int> keys = {
            {"Return", Qt::Key_Return}, {"Enter", Qt::Key_Enter}, {"Escape", Qt::Key_Escape}};
        // Where buttons take no keyboard focus, as on macOS, keys reach the box itself.
        if (answer.startsWith("unfocused ") && box->focusWidget())
            box->focusWidget()->clearFocus();
        if (clicked)
            QTest::mouseClick(clicked, Qt::LeftButton);
        else
            QTest::keyClick(box->focusWidget() ? box->focusWidget() : box,
                            Qt::Key(keys.value(answer.section(' ', -1))));
        // A wrong answer should fail the case, not leave it waiting for ever.
        if (box->isVisible())
            box->done(-1);
    });
}

} // namespace

class TestMessageBoxCSS : public QObject
{
    Q_OBJECT

private:
    QMainWindow m_window;
    Ui::InstallerWindow m_form;
    QtMessageHandler m_previousHandler = nullptr;

private slots:
    void initTestCase()
    {
        m_form.setupUi(&m_window);
        m_window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&m_window));
    }

    void init()
    {
        g_records.clear();
        m_previousHandler = qInstallMessageHandler(capture);
    }

    void cleanup()
    {
        qInstallMessageHandler(m_previousHandler);
        QTRY_VERIFY(m_window.findChildren<QMessageBox*>().isEmpty());
    }

    void answers_data()
    {
        QTest::addColumn<bool>("question"); // or error box
        QTest::addColumn<bool>("modal");
        QTest::addColumn<bool>("withParent");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<int>("result");

        const int yes = QMessageBox::Yes, no = QMessageBox::No, close = QMessageBox::Close;
        QTest::newRow("question, Return") << true << true << true << "Return" << no;
        QTest::newRow("question, Enter") << true << true << true << "Enter" << no;
        QTest::newRow("question, Return, no button focused")
            << true << true << true << "unfocused Return" << no;
        QTest::newRow("question, Escape") << true << true << true << "Escape" << no;
        QTest::newRow("question, click YES") << true << true << true << "YES" << yes;
        QTest::newRow("question, not modal") << true << false << true << "Return" << no;
        QTest::newRow("error, Escape") << false << true << true << "Escape" << close;
        QTest::newRow("error, click CLOSE") << false << true << true << "CLOSE" << close;
        QTest::newRow("error, not modal") << false << false << true << "Escape" << close;
        QTest::newRow("error, no parent") << false << true << false << "Escape" << close;
    }

    void answers()
    {
        QFETCH(bool, question);
        QFETCH(bool, modal);
        QFETCH(bool, withParent);
        QFETCH(QString, answer);
        QFETCH(int, result);

        QWidget* parent = withParent ? &m_window : nullptr;
        const QString sheet = m_window.styleSheet();
        Seen seen;
        answerBox(&seen, answer);
        const int answered =
            question ? MessageBoxCSS::warning(parent, kTitle, "Replace it?", modal,
                                              QMessageBox::Yes, "YES", "NO", QMessageBox::No, "NO",
                                              "LOAD", 0, QString(), QString(), QMessageBox::No)
                     : MessageBoxCSS::critical(parent, kTitle, "It failed.", modal,
                                               QMessageBox::Close, "CLOSE");
        QVERIFY(seen.active);
        QCOMPARE(answered, result);
        QCOMPARE(seen.icon, question ? QMessageBox::Warning : QMessageBox::Critical);
        QCOMPARE(seen.captions, question ? QStringList({"YES", "NO"}) : QStringList{"CLOSE"});
        QCOMPARE(seen.names, question ? QStringList({"NO", "LOAD"}) : QStringList{"CLOSE"});
        if (question) {
            QCOMPARE(seen.defaultName, QString("LOAD"));
            QCOMPARE(seen.focusName, QString("LOAD"));
        }
        // Not a sheet of the window unless asked to be; modal to the whole application then.
        QCOMPARE(seen.modality, modal ? Qt::WindowModal : Qt::ApplicationModal);
        QCOMPARE(seen.parent, parent);
        // Styled only through the parent's sheet, which is left as it was.
        QCOMPARE(seen.sheet, QString());
        QCOMPARE(m_window.styleSheet(), sheet);
        QCOMPARE(seen.green > 200, withParent);
        QCOMPARE(seen.logged, 1); // already when made
        QCOMPARE(g_records.size(), 1);
    }

    void madeButNotRun_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("record");

        QTest::newRow("line break")
            << kTitle << "a\nb"
            << "Message displayed, title:  \"Corvantis Installer\" , text:  \"a\\nb\"";
        QTest::newRow("empty") << QString() << QString()
                               << "Message displayed, title:  \"\" , text:  \"\"";
    }

    void madeButNotRun()
    {
        QFETCH(QString, title);
        QFETCH(QString, text);
        QFETCH(QString, record);

        QPointer<QMessageBox> made;
        {
            MessageBoxCSS box(title, text, QMessageBox::Critical, QMessageBox::Close, "CLOSE",
                              QString(), 0, QString(), QString(), 0, QString(), QString(), 0,
                              &m_window, true, kBoxFlags);
            made = m_window.findChild<QMessageBox*>();
        }
        QCOMPARE(g_records, QStringList{record});
        // Never shown, and gone at the next return to the event loop.
        QVERIFY(made && !made->isVisible());
        QTRY_VERIFY(made.isNull());
    }

    void emptyCaptionIsSkipped()
    {
        MessageBoxCSS box(kTitle, "Text", QMessageBox::Warning, QMessageBox::Yes, "YES", QString(),
                          QMessageBox::No, QString(), "LOAD", 0, QString(), QString(), 0, &m_window,
                          true, kBoxFlags);
        auto* made = m_window.findChild<QMessageBox*>();
        QVERIFY(made);
        QCOMPARE(made->button(QMessageBox::Yes)->objectName(), QString("YES"));
        QAbstractButton* no = made->button(QMessageBox::No);
        QCOMPARE(no->objectName(), QString());
        QVERIFY(!no->text().isEmpty()); // Qt's own caption
    }

    void withoutBoxExecAnswersZero()
    {
        QCOMPARE(MessageBoxCSS().exec(), 0);
        QVERIFY(g_records.isEmpty());

        // The box goes with its parent, before the object that made it.
        auto* parent = new QWidget;
        MessageBoxCSS box(kTitle, "Text", QMessageBox::Critical, QMessageBox::Close, "CLOSE",
                          QString(), 0, QString(), QString(), 0, QString(), QString(), 0, parent,
                          true, kBoxFlags);
        delete parent;
        QCOMPARE(box.exec(), 0);
    }
};

CORVANTIS_TEST_MAIN(TestMessageBoxCSS)
#include "tst_messageboxcss.moc"
