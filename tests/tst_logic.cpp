// The installer's plain logic, table by table: version numbers, receipt values, the update
// answer, the install decision, the scripts for the system installer and signature verdicts.

#include "corvantis.h"
#include "fakeplatform.h"
#include "installdecision.h"
#include "installerwindow.h"
#include "logtail.h"
#include "packagesignature.h"
#include "receipt.h"
#include "standins.h"
#include "systemplatform.h"
#include "testenvironment.h"
#include "testserver.h"
#include "updateinfo.h"
#include "versionnumber.h"

#include <QtTest>

using Decision = InstallDecision;
Q_DECLARE_METATYPE(InstallDecision)
Q_DECLARE_METATYPE(ScriptOutcome)
Q_DECLARE_METATYPE(ToolOutput)

class TestLogic : public QObject
{
    Q_OBJECT

private slots:
    void versionNumbers_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("expected");
        const auto row = [](const QString& text, int expected) {
            QTest::newRow(qPrintable(text)) << text << expected;
        };
        row("1.2.3", 1002003);
        row("1.10.0", 1010000);
        row("1.2", 1002);
        row("10", 10);
        row("", 0);
        row("0.0.0.1", 1);
        row("1..3", 1000003);
        row("1.2.3-beta", 1002000);
        row("1.1000", 2000);
        row("2.147.483.647", 2147483647);
        row("2.147.483.648", int(-2147483647 - 1));
        row("1.2.3.4.5", -720234081);
        row("a.b", 0);
        row("1.-2", 1000);
        row("4294967296", 0);
        row("4294967295", -1);
        // One part set at a time shows each weight; eight or more parts give 0.
        const QVector<QVector<quint32>> weights = {{1000000000, 1000000, 1000, 1},
                                                   {3567587328u, 3567587, 3567, 3, 0},
                                                   {2808348672u, 2808348, 2808, 2, 0, 0, 0},
                                                   {0, 0, 0, 0, 0, 0, 0, 0}};
        for (const QVector<quint32>& weight : weights) {
            for (int i = 0; i < weight.size(); ++i) {
                QStringList parts = QVector<QString>(weight.size(), "0").toList();
                parts[i] = "1";
                row(parts.join('.'), int(weight[i]));
            }
        }
    }

    void versionNumbers()
    {
        QFETCH(QString, text);
        QFETCH(int, expected);
        QCOMPARE(version_string2int(text), expected);
    }

    void receiptValues_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");
        const QString receipt = "package-id: x\nversion: 2.1.0\nvolume: /\n";
        QTest::newRow("version") << receipt << "version"
                                 << "2.1.0";
        QTest::newRow("volume") << receipt << "volume"
                                << "/";
        QTest::newRow("missing key") << receipt << "location"
                                     << "";
        QTest::newRow("no line feed") << "a: b\nversion: 3.0"
                                      << "version"
                                      << "3.0";
        QTest::newRow("blanks and CR") << "version:  2.0 \r\n"
                                       << "version"
                                       << "2.0";
        QTest::newRow("first occurrence") << "old-version: 1\nversion: 2"
                                          << "version"
                                          << "1";
        QTest::newRow("case matters") << "Version: 1\nversion: 2"
                                      << "version"
                                      << "2";
        QTest::newRow("key at the end") << "a: b\nversion"
                                        << "version"
                                        << "";
    }

    void receiptValues()
    {
        QFETCH(QString, text);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        QCOMPARE(getValue(text, key), expected);
    }

    void updateInformation_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("result"); // the chosen file, or the failure's log text
        const auto offer = [](const char* version, const char* file) {
            return QByteArray("{\"mac_installer_version\": \"") + version +
                   "\", \"mac_installer_file\": \"" + file +
                   "\", \"mac_app_version\": \"1\", \"mac_app_file\": \"a\"}";
        };
        const QString unexpected = "Could't update, unexpected response\n";
        const QString none = "No update information is available";
        QTest::newRow("one offer") << "[" + offer("1.0", "u") + "]"
                                   << "u";
        QTest::newRow("highest integer, later of equals")
            << "[" + offer("1.10.0", "a") + "," + offer("1.2.0", "b") + "," +
                   offer("1.010.0", "c") + "]"
            << "c";
        QTest::newRow("incomplete offer skipped")
            << "[" + offer("9.0", "") + "," + offer("1.0", "u") + "]"
            << "u";
        QTest::newRow("object") << QByteArray(R"({"mac_installer_version": "1"})") << unexpected;
        QTest::newRow("empty array") << QByteArray("[]") << unexpected;
        QTest::newRow("empty element") << "[" + offer("1.0", "u") + ",{}]" << unexpected;
        QTest::newRow("number element") << "[" + offer("1.0", "u") + ",5]" << unexpected;
        QTest::newRow("not JSON") << QByteArray("<html>") << unexpected;
        QTest::newRow("past the bound")
            << "[" + offer("1.0", "u") + "]" + QByteArray(kMaxUpdateAnswerSize, ' ') << unexpected;
        QTest::newRow("no product")
            << QByteArray(R"([{"mac_installer_version": "1", "mac_installer_file": "u"}])") << none;
        QTest::newRow("no installer")
            << QByteArray(R"([{"mac_app_version": "1", "mac_app_file": "u"}])") << none;
        QTest::newRow("versions as numbers")
            << QByteArray(R"([{"mac_installer_version": 1, "mac_installer_file": "u",
                               "mac_app_version": 1, "mac_app_file": "v"}])")
            << none;
    }

    void updateInformation()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, result);
        const UpdateInfo info = readUpdateInfo(body);
        QCOMPARE(info.valid ? info.latestInstaller.file : QString(info.failureLogText), result);
    }

    // Long answers are logged up to a whole character, with their size.
    void answerInTheLog_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("logged");
        const QByteArray e = QString(QChar(0xE9)).toUtf8();
        const auto note = [](const char* size, int logged) {
            return "\n[... the answer has " + QByteArray(size) + " bytes; the first " +
                   QByteArray::number(logged) + " are logged]";
        };
        QTest::newRow("short") << QByteArray("<html>") << QByteArray("<html>");
        QTest::newRow("up to a zero byte") << QByteArray("ab\0cd", 5) << QByteArray("ab");
        QTest::newRow("64 KiB whole") << QByteArray(65536, 'a') << QByteArray(65536, 'a');
        QTest::newRow("past the bound")
            << QByteArray(kMaxUpdateAnswerSize + 1, 'a')
            << QByteArray(65536, 'a') + note("more than 1048576", 65536);
        QTest::newRow("two-byte characters")
            << e.repeated(40000) << e.repeated(32768) + note("80000", 65536);
        QTest::newRow("cut inside a character")
            << "x" + e.repeated(40000) << "x" + e.repeated(32767) + note("80001", 65535);
        QTest::newRow("four-byte character at the cut")
            << QByteArray(65534, 'a') + "\xF0\x9F\x98\x80"
            << QByteArray(65534, 'a') + note("65538", 65534);
    }

    void answerInTheLog()
    {
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, logged);
        QCOMPARE(answerForLog(body), logged);
    }

    void decisions_data()
    {
        QTest::addColumn<QString>("installed");
        QTest::addColumn<Decision>("decision");
        QTest::addColumn<QString>("text");
        const QString newer = "A newer version of Corvantis (v%1) is installed already.\n\n"
                              "Please uninstall it first and then launch this installer again.";
        QTest::newRow("nothing") << "" << Decision::NewInstallation << "";
        QTest::newRow("0.0.0 is nothing") << "0.0.0" << Decision::NewInstallation << "";
        QTest::newRow("same") << "2.0.0" << Decision::AlreadyInstalled
                              << "This version of Corvantis (v2.0.0) is installed already.";
        QTest::newRow("1.1000.0 is 2.0.0") << "1.1000.0" << Decision::AlreadyInstalled
                                           << "This version of Corvantis (v1.1000.0) is installed "
                                              "already.";
        QTest::newRow("newer") << "2.0.1" << Decision::NewerInstalled << newer.arg("2.0.1");
        QTest::newRow("2.0.0.0 is newer")
            << "2.0.0.0" << Decision::NewerInstalled << newer.arg("2.0.0.0");
        QTest::newRow("older") << "1.9.9" << Decision::AskToReplace
                               << "An older version of Corvantis (v1.9.9) is installed already."
                                  "\n\nReplace it with version 2.0.0?";
    }

    void decisions()
    {
        QFETCH(QString, installed);
        QFETCH(Decision, decision);
        QFETCH(QString, text);
        const Decision made =
            installDecision(version_string2int(installed), version_string2int("2.0.0"));
        QCOMPARE(made, decision);
        QCOMPARE(decisionText(made, installed, "2.0.0"), text);
    }

    void shortenedTexts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        const QString cut = QChar(0x2026);
        const QString smile = QString::fromUtf8("\xF0\x9F\x98\x80");
        QTest::newRow("short") << "a\nb"
                               << "a\nb";
        QTest::newRow("300 characters") << QString(300, 'x') << QString(300, 'x');
        QTest::newRow("301 characters") << QString(301, 'x') << QString(300, 'x') + cut;
        QTest::newRow("8 lines") << QString("l\n").repeated(7) + "l"
                                 << QString("l\n").repeated(7) + "l";
        QTest::newRow("9 lines") << QString("l\n").repeated(8) + "l"
                                 << QString("l\n").repeated(7) + "l" + cut;
        QTest::newRow("pair at the cut") << QString(299, 'x') + smile << QString(299, 'x') + cut;
    }

    void shortenedTexts()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QCOMPARE(shortened(text), shown);
    }

    void scriptOutcomes_data()
    {
        QTest::addColumn<ScriptOutcome>("outcome");
        QTest::addColumn<QString>("before");
        QTest::addColumn<bool>("succeeded");
        QTest::addColumn<QString>("after");
        const QString password = "The administrator password is required to do this.";
        QTest::newRow("success") << ScriptOutcome{true, {}, {}} << "kept" << true << "kept";
        QTest::newRow("cancelled")
            << ScriptOutcome{false, -128, QString("User canceled.")} << "kept" << false << password;
        QTest::newRow("other error")
            << ScriptOutcome{false, 1, QString("It failed.")} << "" << false << "It failed.";
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

    // The scripts run for real through the system runner and stand-ins: every path arrives as
    // one argument, byte for byte, and nothing in it is executed.
    void scriptsKeepPathsWhole_data()
    {
        QTest::addColumn<QString>("package");
        QTest::addColumn<QString>("volume");
        QTest::newRow("plain") << "/tmp/a.pkg"
                               << "/";
        QTest::newRow("quotes") << "/tmp/it's \"a\".pkg"
                                << "/Volumes/O'Brien \"HD\"/";
        QTest::newRow("backslashes") << "/tmp/a\\b\\\\c.pkg"
                                     << "/Volumes/x\\y/";
        QTest::newRow("shell") << "/tmp/$(touch MARK)`touch MARK`; touch MARK.pkg"
                               << "/V/$(touch MARK)/";
        QTest::newRow("everything") << "/tmp/'\"\\$(touch MARK)\n ;'.pkg"
                                    << "/V/'\\\"\"'/";
    }

    void scriptsKeepPathsWhole()
    {
        QFETCH(QString, package);
        QFETCH(QString, volume);
        StandIns standIns;
        const QString mark = standIns.path() + "/ran";
        package.replace("MARK", mark);
        volume.replace("MARK", mark);
        Platform& system = SystemPlatform::instance();

        QVERIFY(system.runAppleScript(installScript(package, volume)).succeeded);
        QCOMPARE(standIns.recordedArguments(), QStringList({"-pkg", package, "-target", volume}));
        QVERIFY(system.runAppleScript(launchScript(package)).succeeded);
        QCOMPARE(standIns.recordedArguments(), QStringList({"-W", package}));
        QVERIFY(!QFile::exists(mark));
    }

    void signatureVerdicts_data()
    {
        QTest::addColumn<ToolOutput>("result");
        QTest::addColumn<QString>("team");
        QTest::addColumn<bool>("accepted");
        const QByteArray ours = "Developer ID Installer: Halvery Ltd (H4LV3RY001)";
        const QByteArray distribution =
            "signed by a developer certificate issued by Apple for distribution";
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
        row("team only in the package name",
            verdict("Developer ID Installer: B (Q7W2E9R4T1)", {}, "C (H4LV3RY001).pkg"), false);
        row("team only later in the chain",
            signatureVerdict(distribution, {"Developer ID Installer: B (Q7W2E9R4T1)", ours}, "C"),
            false);
        row("application certificate", verdict("Developer ID Application: H (H4LV3RY001)"), false);
        row("development status",
            verdict(ours, "signed by a developer certificate issued by "
                          "Apple (Development)"),
            false);
        row("untrusted", verdict(ours, "signed by untrusted certificate"), false);
        row("no signature", signatureVerdict("no signature", {}, "C.pkg"), false, 1);
        row("verdict imitated by the name",
            signatureVerdict("no signature", {},
                             "x\":\n   Status: " + distribution +
                                 "\n   Certificate Chain:\n    1. " + ours + "\ny"),
            false);
        row("two chains", good + good.mid(good.indexOf("   Certificate Chain")), false);
        row("no package line", good.mid(good.indexOf('\n') + 1), false);
        row("cut before the first certificate", good.left(good.indexOf("    1. ")), false);
        row("cut inside the team", good.left(good.indexOf("(H4LV3") + 6), false);
        row("cut after the team", good.left(good.indexOf("RY001)") + 6), false);
        row("team in lower case", verdict("Developer ID Installer: H (h4lv3ry001)"), false);
        row("configured team in lower case", good, false, 0, "h4lv3ry001");
        row("team prefix of another", verdict("Developer ID Installer: H (H4LV3RY0019)"), false);
        row("team suffix of another", verdict("Developer ID Installer: H (XH4LV3RY001)"), false);
        row("no certificate name", verdict("Developer ID Installer: (H4LV3RY001)"), false);
        row("empty team", good, false, 0, "");
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
    }

    // The installed version: the highest confirmed one, by integer, the later of equals.
    void installedProduct_data()
    {
        QTest::addColumn<QStringList>("versions"); // in scan order; "-" has no product
        QTest::addColumn<int>("winner");           // -1: none
        QTest::newRow("1.2.0, 1.10.0") << QStringList({"1.2.0", "1.10.0"}) << 1;
        QTest::newRow("1.10.0, 1.2.0") << QStringList({"1.10.0", "1.2.0"}) << 0;
        QTest::newRow("equal integers") << QStringList({"1.1000", "2.0"}) << 1;
        QTest::newRow("unconfirmed newer") << QStringList({"1.0", "-9.0"}) << 0;
        QTest::newRow("only unconfirmed") << QStringList({"-9.0"}) << -1;
        QTest::newRow("no version line") << QStringList({""}) << 0;
    }

    void installedProduct()
    {
        QFETCH(QStringList, versions);
        QFETCH(int, winner);
        TestServer server; // never answers the update check, so the window stays idle
        QVERIFY(server.listen());
        server.hang(Corvantis::kUpdatePath);
        FakePlatform platform;
        InstallerWindow window(nullptr, &platform, server.baseUrl());
        QTemporaryDir volumes;
        QStringList paths;
        QStringList expectedLog;
        for (int i = 0; i < versions.size(); ++i) {
            const QString mountPoint = QString("/Volumes/V%1").arg(i);
            const bool confirmed = !versions[i].startsWith('-');
            const QString version = versions[i].mid(confirmed ? 0 : 1);
            paths << volumes.filePath(mountPoint.mid(9)) + "/";
            const QString executable = paths.last() + Corvantis::kProductExecutable;
            if (confirmed)
                QVERIFY(writeFile(executable, ""));
            platform.volumes << mountPoint;
            // The receipt's volume line lacks the final "/".
            platform.receipts[mountPoint] =
                "package-id: x\n" + (version.isEmpty() ? QString() : "version: " + version + "\n") +
                "volume: " + paths.last().chopped(1) + "\n";
            expectedLog << "Scanning volume  " + mountPoint
                        << "Found Corvantis version  \"" + version + "\"  at  \"" + paths.last() +
                               "\""
                        << (confirmed ? "And found  \"" + executable + "\""
                                      : "But didn't found Corvantis itself");
        }
        LogTail log;
        QString volume;
        QString version = "caller's";
        window.getInstalledInfo(volume, version);
        QCOMPARE(volume, winner < 0 ? QString("/") : paths[winner]);
        QCOMPARE(version, winner < 0 ? QString("caller's") : versions[winner]);
        QCOMPARE(platform.queriedIdentifiers,
                 QVector<QString>(versions.size(), Corvantis::kPackageIdentifier).toList());
        QCOMPARE(log.messages(), expectedLog);
    }
};

CORVANTIS_TEST_MAIN(TestLogic)
#include "tst_logic.moc"
