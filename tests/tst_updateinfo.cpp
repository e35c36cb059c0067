#include "testenvironment.h"
#include "updateinfo.h"

using namespace Corvantis;

class TestUpdateInfo : public QObject
{
    Q_OBJECT

    static void columns()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QByteArray>("expected");
    }
    static void row(const char* tag, const QByteArray& answer, const QByteArray& expected)
    {
        QTest::newRow(tag) << answer << expected;
    }

private slots:
    void readUpdateInfo_data() // the chosen installer's file, or the failure's log text
    {
        columns();
        const auto offer = [](const char* version, const char* file) {
            return QByteArray("{\"mac_installer_version\": \"") + version +
                   "\", \"mac_installer_file\": \"" + file +
                   "\", \"mac_app_version\": \"1\", \"mac_app_file\": \"a\"}";
        };
        const QByteArray unexpected = "Could't update, unexpected response\n";
        const QByteArray none = "No update information is available";
        const QByteArray one = "[" + offer("1.0", "u") + "]";
        row("one", one, "u");
        // The highest integer wins; of equal integers, the later one.
        row("highest", "[" + offer("1.10.0", "a") + "," + offer("1.2.0", "b") + "]", "a");
        row("equal integers", "[" + offer("1.2.0", "a") + "," + offer("1.002.0", "c") + "]", "c");
        row("no file", "[" + offer("9.0", "") + "," + offer("1.0", "u") + "]", "u");
        row("object", R"({"mac_installer_version": "1"})", unexpected);
        row("empty array", "[]", unexpected);
        row("empty object", "[" + offer("1.0", "u") + ",{}]", unexpected);
        row("number", "[" + offer("1.0", "u") + ",5]", unexpected);
        row("not JSON", "<html>", unexpected);
        row("at the bound", one + QByteArray(kMaxUpdateAnswerSize - one.size(), ' '), "u");
        row("past it", one + QByteArray(kMaxUpdateAnswerSize - one.size() + 1, ' '), unexpected);
        row("no product", R"([{"mac_installer_version": "1", "mac_installer_file": "u"}])", none);
        row("no installer", R"([{"mac_app_version": "1", "mac_app_file": "u"}])", none);
        row("numbers", R"([{"mac_installer_version": 1, "mac_installer_file": "u",
                            "mac_app_version": 1, "mac_app_file": "v"}])",
            none);
    }

    void readUpdateInfo()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QByteArray, expected);
        const UpdateInfo info = Corvantis::readUpdateInfo(answer);
        QCOMPARE(info.valid ? info.latestInstaller.file.toUtf8() : QByteArray(info.failureLogText),
                 expected);
    }

    void answerForLog_data()
    {
        columns();
        const QByteArray e = "\xC3\xA9"; // two bytes in UTF-8
        const auto note = [](const QByteArray& size, int logged) {
            return "\n[... the answer has " + size + " bytes; the first " +
                   QByteArray::number(logged) + " are logged]";
        };
        row("zero byte", QByteArray("ab\0cd", 5), "ab");
        // Controls escaped as the log quotes texts, C1 ones too; line feeds, tabs and text stay.
        row("controls", "a\x1b[2J\rb\x7f\xc2\x9b\xc2\xa0\xc3\xa9\td\ne",
            "a\\u001B[2J\\u000Db\\u007F\\u009B\xc2\xa0\xc3\xa9\td\ne");
        row("escaped, long", "\x1b" + QByteArray(65536, 'a'),
            "\\u001B" + QByteArray(65535, 'a') + note("65537", 65536));
        row("at the bound", QByteArray(65536, 'a'), QByteArray(65536, 'a'));
        row("past the answer's bound", QByteArray(kMaxUpdateAnswerSize + 1, 'a'),
            QByteArray(65536, 'a') + note("more than 1048576", 65536));
        row("two-byte characters", e.repeated(40000), e.repeated(32768) + note("80000", 65536));
        row("one cut", "x" + e.repeated(40000), "x" + e.repeated(32767) + note("80001", 65535));
        // The last character at the bound, kept whole or dropped cut, by its lead byte's length.
        const auto last = [&](const char* tag, int before, const QByteArray& character, int kept) {
            const QByteArray answer = QByteArray(before, 'a') + character + "b";
            row(tag, answer, answer.left(kept) + note(QByteArray::number(answer.size()), kept));
        };
        last("two bytes, lead DF, whole", 65534, "\xDF\xBF", 65536);
        last("three bytes, lead E0, cut", 65534, "\xE0\xA4\x85", 65534);
        last("three bytes, lead EF, whole", 65533, "\xEF\xBF\xBD", 65536);
        last("four bytes, cut after three", 65533, "\xF0\x9F\x98\x80", 65533);
    }

    void answerForLog()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QByteArray, expected);
        QCOMPARE(Corvantis::answerForLog(answer), expected);
    }
};

QTEST_GUILESS_MAIN(TestUpdateInfo)
#include "tst_updateinfo.moc"
