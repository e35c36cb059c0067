// The installer's plain logic, table by table: version numbers, receipt values, the update
// answer, the install decision, the progress bar, the scripts' outcomes and signature verdicts.

#include "fakeplatform.h"
#include "installdecision.h"
#include "packagesignature.h"
#include "receipt.h"
#include "standins.h"
#include "systemplatform.h"
#include "testenvironment.h"
#include "updateinfo.h"
#include "versionnumber.h"

#include <QtTest>

Q_DECLARE_METATYPE(ScriptOutcome)
Q_DECLARE_METATYPE(ToolOutput)

class TestLogic : public QObject
{
    Q_OBJECT

private slots:
    // Functions from text to text: a version's integer, a receipt's "version" value, an update
    // answer's chosen file (or the failure's log text), the log's copy of an answer, a box's
    // shortened text, the decision (with its box text) against an offered 2.0.0, and the progress
    // bar's value after a report of "received total" at 7.
    void texts_data()
    {
        QTest::addColumn<QString>("function");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("expected");
        int count = 0;
        const auto row = [&](const char* function, const QByteArray& input,
                             const QByteArray& expected) {
            QTest::addRow("%s %d", function, ++count) << QString(function) << input << expected;
        };
        // "version=integer", a blank apart
        const QByteArray versions =
            "1.2.3=1002003 1.10.0=1010000 1.2=1002 10=10 =0 0.0.0.1=1 1..3=1000003 "
            "1.2.3-beta=1002000 1.1000=2000 2.147.483.647=2147483647 2.147.483.648=-2147483648 "
            "1.2.3.4.5=-720234081 a.b=0 1.-2=1000 4294967296=0 4294967295=-1 1.0.0.0=1000000000 "
            "0.1.0.0.0=3567587 1.0.0.0.0.0.0=-1486618624 1.0.0.0.0.0.0.0=0";
        for (const QByteArray& version : versions.split(' '))
            row("version", version.split('=')[0], version.split('=')[1]);
        row("receipt", "package-id: x\nversion: 2.1.0\nvolume: /\n", "2.1.0");
        row("receipt", "package-id: x\nvolume: /\n", "");
        row("receipt", "a: b\nversion: 3.0", "3.0");
        row("receipt", "version:  2.0 \r\n", "2.0");
        row("receipt", "old-version: 1\nversion: 2", "1");
        row("receipt", "Version: 1\nversion: 2", "2");
        row("receipt", "a: b\nversion", "");

        const auto offer = [](const char* version, const char* file) {
            return QByteArray("{\"mac_installer_version\": \"") + version +
                   "\", \"mac_installer_file\": \"" + file +
                   "\", \"mac_app_version\": \"1\", \"mac_app_file\": \"a\"}";
        };
        const QByteArray unexpected = "Could't update, unexpected response\n";
        const QByteArray none = "No update information is available";
        row("offer", "[" + offer("1.0", "u") + "]", "u");
        // The highest integer wins; of equal integers, the later one.
        row("offer", "[" + offer("1.10.0", "a") + "," + offer("1.2.0", "b") + "]", "a");
        row("offer", "[" + offer("1.2.0", "a") + "," + offer("1.002.0", "c") + "]", "c");
        row("offer", "[" + offer("9.0", "") + "," + offer("1.0", "u") + "]", "u");
        row("offer", R"({"mac_installer_version": "1"})", unexpected);
        row("offer", "[]", unexpected);
        row("offer", "[" + offer("1.0", "u") + ",{}]", unexpected);
        row("offer", "[" + offer("1.0", "u") + ",5]", unexpected);
        row("offer", "<html>", unexpected);
        const QByteArray one = "[" + offer("1.0", "u") + "]";
        row("offer", one + QByteArray(kMaxUpdateAnswerSize - one.size(), ' '), "u");
        row("offer", one + QByteArray(kMaxUpdateAnswerSize - one.size() + 1, ' '), unexpected);
        row("offer", R"([{"mac_installer_version": "1", "mac_installer_file": "u"}])", none);
        row("offer", R"([{"mac_app_version": "1", "mac_app_file": "u"}])", none);
        row("offer", R"([{"mac_installer_version": 1, "mac_installer_file": "u",
                          "mac_app_version": 1, "mac_app_file": "v"}])",
            none);

        const QByteArray e = "\xC3\xA9"; // two bytes in UTF-8
        const auto note = [](const char* size, int logged) {
            return "\n[... the answer has " + QByteArray(size) + " bytes; the first " +
                   QByteArray::number(logged) + " are logged]";
        };
        row("logged", QByteArray("ab\0cd", 5), "ab");
        // Controls escaped as the log quotes texts, C1 ones too; line feeds, tabs and text stay.
        row("logged", "a\x1b[2J\rb\x7f\xc2\x9b\xc2\xa0\xc3\xa9\td\ne",
            "a\\u001B[2J\\u000Db\\u007F\\u009B\xc2\xa0\xc3\xa9\td\ne");
        row("logged", "\x1b" + QByteArray(65536, 'a'),
            "\\u001B" + QByteArray(65535, 'a') + note("65537", 65536));
        row("logged", QByteArray(65536, 'a'), QByteArray(65536, 'a'));
        row("logged", QByteArray(kMaxUpdateAnswerSize + 1, 'a'),
            QByteArray(65536, 'a') + note("more than 1048576", 65536));
        row("logged", e.repeated(40000), e.repeated(32768) + note("80000", 65536));
        row("logged", "x" + e.repeated(40000), "x" + e.repeated(32767) + note("80001", 65535));
        row("logged", QByteArray(65534, 'a') + "\xF0\x9F\x98\x80",
            QByteArray(65534, 'a') + note("65538", 65534));

        const QByteArray cut = "\xE2\x80\xA6"; // the ellipsis
        row("shortened", QByteArray(300, 'x'), QByteArray(300, 'x'));
        row("shortened", QByteArray(301, 'x'), QByteArray(300, 'x') + cut);
        row("shortened", QByteArray("l\n").repeated(7) + "l", QByteArray("l\n").repeated(7) + "l");
        row("shortened", QByteArray("l\n").repeated(8) + "l",
            QByteArray("l\n").repeated(7) + "l" + cut);
        row("shortened", QByteArray(299, 'x') + "\xF0\x9F\x98\x80", QByteArray(299, 'x') + cut);

        row("progress", "29999 1000000", "30");
        row("progress", "500000 1000000", "500");
        row("progress", "1000000 1000000", "1000");
        row("progress", "500 0", "7"); // no total known yet
        row("progress", "5368709120 6442450944", "833");

        const QByteArray newer = "newer: A newer version of Corvantis (v%1) is installed already."
                                 "\n\nPlease uninstall it first and then launch this installer "
                                 "again.";
        row("decision", "", "install: ");
        row("decision", "0.0.0", "install: ");
        row("decision", "2.0.0", "same: This version of Corvantis (v2.0.0) is installed already.");
        row("decision", "1.1000.0",
            "same: This version of Corvantis (v1.1000.0) is installed already.");
        row("decision", "2.0.1", QByteArray(newer).replace("%1", "2.0.1"));
        row("decision", "2.0.0.0", QByteArray(newer).replace("%1", "2.0.0.0"));
        row("decision", "1.9.9",
            "ask: An older version of Corvantis (v1.9.9) is installed already.\n\nReplace it with "
            "version 2.0.0?");
    }

    void texts()
    {
        QFETCH(QString, function);
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, expected);
        const QString text = QString::fromUtf8(input);
        QByteArray result;
        if (function == "version") {
            result = QByteArray::number(version_string2int(text));
        } else if (function == "receipt") {
            result = getValue(text, "version").toUtf8();
        } else if (function == "offer") {
            const UpdateInfo info = readUpdateInfo(input);
            result =
                info.valid ? info.latestInstaller.file.toUtf8() : QByteArray(info.failureLogText);
        } else if (function == "logged") {
            result = answerForLog(input);
        } else if (function == "progress") {
            const QStringList numbers = text.split(' ');
            result = QByteArray::number(
                progressValue(numbers[0].toULongLong(), numbers[1].toULongLong(), 7));
        } else if (function == "shortened") {
            result = shortened(text).toUtf8();
        } else {
            const InstallDecision decision =
                installDecision(version_string2int(text), version_string2int("2.0.0"));
            const char* names[] = {"install", "same", "newer", "ask"};
            result = names[int(decision)] + QByteArray(": ") +
                     decisionText(decision, text, "2.0.0").toUtf8();
        }
        QCOMPARE(result, expected);
    }

    // The cancel number and the runner's own message are shown by the whole-window runs.
    void scriptOutcomes_data()
    {
        QTest::addColumn<ScriptOutcome>("outcome");
        QTest::addColumn<QString>("before");
        QTest::addColumn<bool>("succeeded");
        QTest::addColumn<QString>("after");
        QTest::newRow("success") << ScriptOutcome{true, {}, {}} << "kept" << true << "kept";
        QTest::newRow("earlier text kept")
            << ScriptOutcome{false, 1, QString("It failed.")} << "kept" << false << "kept";
        QTest::newRow("no cause") << ScriptOutcome{false, {}, {}} << "" << false << "";
    }

    void scriptOutcomes()
    {
        QFETCH(ScriptOutcome, outcome);
        QFETCH(QString, before);
        QFETCH(bool, succeeded);
        QFETCH(QString, after);
        QCOMPARE(scriptSucceeded(outcome, before), succeeded);
        QCOMPARE(before, after);
    }

    void signatureVerdicts_data()
    {
        QTest::addColumn<ToolOutput>("result");
        QTest::addColumn<QString>("team");
        QTest::addColumn<bool>("accepted");
        const QByteArray ours = "Developer ID Installer: Halvery Ltd (H4LV3RY001)";
        const QByteArray distribution = kDistributionStatus;
        const auto verdict = [&](const QByteArray& leaf, const QByteArray& status = {},
                                 const QByteArray& package = "C.pkg") {
            return signatureVerdict(status.isEmpty() ? distribution : status,
                                    {leaf, "Developer ID Certification Authority", "Apple Root CA"},
                                    package);
        };
        const auto row = [](const char* tag, const QByteArray& output, bool accepted,
                            int exitCode = 0, const QString& team = "H4LV3RY001") {
            QTest::newRow(tag) << ToolOutput{exitCode >= 0, exitCode, output} << team << accepted;
        };
        const QByteArray good = verdict(ours);
        row("signed by the team", good, true);
        row("CRLF and blanks", "\n \t" + QByteArray(good).replace("\n", "\r\n") + " \n", true);
        row("another team", verdict("Developer ID Installer: Brask Oy (Q7W2E9R4T1)"), false);
        row("team only later in the chain",
            signatureVerdict(distribution, {"Developer ID Installer: B (Q7W2E9R4T1)", ours}, "C"),
            false);
        row("application certificate", verdict("Developer ID Application: H (H4LV3RY001)"), false);
        const QByteArray development =
            "signed by a developer certificate issued by Apple (Development)";
        row("development status", verdict(ours, development), false);
        row("no signature", signatureVerdict("no signature", {}, "C.pkg"), false, 1);
        const QByteArray imitation = "x\":\n Status: " + distribution + "\n Certificate Chain:\n";
        row("verdict imitated by the name",
            signatureVerdict("no signature", {}, imitation + "    1. " + ours + "\ny"), false);
        row("two chains", good + good.mid(good.indexOf("   Certificate Chain")), false);
        row("no package line", good.mid(good.indexOf('\n') + 1), false);
        row("cut before the first certificate", good.left(good.indexOf("    1. ")), false);
        row("cut after the team", good.left(good.indexOf("RY001)") + 6), false);
        row("configured team in lower case", good, false, 0, "h4lv3ry001");
        row("team suffix of another", verdict("Developer ID Installer: H (XH4LV3RY001)"), false);
        row("no certificate name", verdict("Developer ID Installer: (H4LV3RY001)"), false);
        row("nine-character team", verdict("Developer ID Installer: H (H4LV3RY00)"), false, 0,
            "H4LV3RY00");
        row("not UTF-8", verdict(ours, {}, "C\xff.pkg"), false);
        row("exit code 1", good, false, 1);
        row("did not finish", good, false, -1);
    }

    void signatureVerdicts()
    {
        QFETCH(ToolOutput, result);
        QFETCH(QString, team);
        QFETCH(bool, accepted);
        QCOMPARE(isSignedByTeam(result, team), accepted);
        // Root's second check, on its own copy in the privileged script, reads it alike, but as
        // bytes: the package's name there is the installer's own, so it need not be text.
        StandIns standIns;
        standIns.setOutput(result.output, result.exitCode);
        const QString package = QDir::home().filePath("C.pkg");
        QVERIFY(writeFile(package, "package"));
        const ScriptOutcome root =
            SystemPlatform::instance().runAppleScript(installScript(package, "/", team, 7));
        const bool text = QString::fromUtf8(result.output).toUtf8() == result.output;
        QCOMPARE(root.succeeded, accepted || !text);
    }
};

CORVANTIS_TEST_MAIN(TestLogic)
#include "tst_logic.moc"
