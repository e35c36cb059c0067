#include "standins.h"
#include "systemplatform.h"
#include "testenvironment.h"

#include <QDir>
#include <QFileInfo>
#include <QtTest>

class TestSystemPlatform : public QObject
{
    Q_OBJECT

private slots:
    void receiptQueryPassesTheMountPointAsOneArgument_data()
    {
        QTest::addColumn<QString>("mountPoint");
        QTest::newRow("start-up volume") << "/";
        QTest::newRow("blanks") << "/Volumes/Macintosh HD 2";
        QTest::newRow("shell syntax")
            << "/Volumes/a 'b' \"c\" $(touch MARK) `touch MARK`; touch MARK";
        QTest::newRow("backslash and line feed") << "/Volumes/a\\b\nc";
    }

    void receiptQueryPassesTheMountPointAsOneArgument()
    {
        QFETCH(QString, mountPoint);
        StandIns standIns;
        standIns.setOutput("package-id: com.halvery.pkg.Corvantis\nversion: 2.1.0\nvolume: /\n");

        const QString receipt = SystemPlatform::instance().packageReceipt(
            "com.halvery.pkg.Corvantis", mountPoint.replace("MARK", standIns.path() + "/ran"));

        QCOMPARE(receipt,
                 QString("package-id: com.halvery.pkg.Corvantis\nversion: 2.1.0\nvolume: /\n"));
        QCOMPARE(
            standIns.recordedArguments(),
            QStringList({"--pkg-info", "com.halvery.pkg.Corvantis", "--volume=" + mountPoint}));
        QVERIFY(!QFile::exists(standIns.path() + "/ran"));
    }

    void receiptQueryReadsStandardOutputOnly()
    {
        StandIns standIns;
        standIns.setOutput("version: 1.0\n");
        standIns.setStatus(1); // the exit status is not looked at
        QCOMPARE(SystemPlatform::instance().packageReceipt("id", "/"), QString("version: 1.0\n"));
    }

    void receiptThatIsNotUtf8CountsAsNone()
    {
        StandIns standIns;
        standIns.setOutput("version: 1.\xff\n");
        QCOMPARE(SystemPlatform::instance().packageReceipt("id", "/"), QString());
    }

    void missingReceiptToolGivesNoReceipt()
    {
        StandIns standIns;
        standIns.remove("pkgutil");
        QCOMPARE(SystemPlatform::instance().packageReceipt("id", "/"), QString());
    }

    void volumesLeaveOutPseudoFileSystems()
    {
        const QStringList volumes = SystemPlatform::instance().mountedVolumes();
        QVERIFY2(volumes.contains("/"), qPrintable(volumes.join(", ")));
        for (const QString& volume : volumes) {
            QVERIFY2(QFileInfo(volume).isDir(), qPrintable(volume));
            for (const QString pseudo : {"/proc", "/sys", "/dev/pts"})
                QVERIFY2(volume != pseudo && !volume.startsWith(pseudo + "/"), qPrintable(volume));
        }
    }

    void scriptOutcome_data()
    {
        QTest::addColumn<QByteArray>("standardError");
        QTest::addColumn<bool>("hasNumber");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("message");

        QTest::newRow("cancelled") << QByteArray("0:57: execution error: User canceled. (-128)\n")
                                   << true << -128 << "User canceled.";
        QTest::newRow("localised message with parentheses")
            << QByteArray("12:90: execution error: Le programme (installer) a échoué. (1)\n")
            << true << 1 << "Le programme (installer) a échoué.";
        QTest::newRow("prefixed, after other lines")
            << QByteArray("warning: something\nosascript: 0:10: execution error: Denied (-60005)\n")
            << true << -60005 << "Denied";
        QTest::newRow("no number")
            << QByteArray("0:10: execution error: Broken\n") << false << 0 << "Broken";
        QTest::newRow("nothing said") << QByteArray() << false << 0 << QString();
        // Only the end of the output is kept, and the error is in its last line.
        QTest::newRow("after 100 KB of other lines")
            << QByteArray("warning: noise\n").repeated(7000) +
                   "0:10: execution error: Denied (-5)\n"
            << true << -5 << "Denied";
    }

    void scriptOutcome()
    {
        QFETCH(QByteArray, standardError);
        QFETCH(bool, hasNumber);
        QFETCH(int, number);
        QFETCH(QString, message);
        StandIns standIns;
        qputenv("OSASCRIPT_FAIL", standardError);

        const ScriptOutcome outcome = SystemPlatform::instance().runAppleScript("return 1");
        QVERIFY(!outcome.succeeded);
        QCOMPARE(standIns.recordedScript(), QString("return 1"));
        QCOMPARE(bool(outcome.errorNumber), hasNumber);
        if (hasNumber)
            QCOMPARE(*outcome.errorNumber, number);
        QCOMPARE(bool(outcome.errorMessage), !message.isEmpty());
        if (outcome.errorMessage)
            QCOMPARE(*outcome.errorMessage, message);
    }

    void scriptRunsTheShellCommand()
    {
        StandIns standIns;
        const ScriptOutcome outcome = SystemPlatform::instance().runAppleScript(
            "do shell script \"/usr/sbin/installer -pkg 'a b.pkg' -target '/'\" with "
            "administrator privileges");
        QVERIFY2(outcome.succeeded, qPrintable(outcome.errorMessage.value_or(QString())));
        QCOMPARE(standIns.recordedArguments(), QStringList({"-pkg", "a b.pkg", "-target", "/"}));
    }

    void failingShellCommandGivesItsStatusAndMessage()
    {
        StandIns standIns;
        const ScriptOutcome outcome = SystemPlatform::instance().runAppleScript(
            "do shell script \"echo no way >&2; exit 3\"");
        QVERIFY(!outcome.succeeded);
        QCOMPARE(outcome.errorNumber.value_or(0), 3);
        QCOMPARE(outcome.errorMessage.value_or(QString()), QString("no way"));
    }

    void signatureQueryGivesTheToolsVerdict()
    {
        StandIns standIns;
        const QByteArray verdict = "Package \"a b.pkg\":\n   Status: no signature\n";
        standIns.setOutput(verdict);
        standIns.setStatus(1);
        ToolOutput result = SystemPlatform::instance().packageSignature("/tmp/a b.pkg");
        QVERIFY(result.finished);
        QCOMPARE(result.exitCode, 1);
        QCOMPARE(result.output, verdict);
        QCOMPARE(standIns.recordedArguments(), QStringList({"--check-signature", "/tmp/a b.pkg"}));

        // What is kept of a flood is its start, bounded.
        standIns.setOutput(verdict + QByteArray(200 * 1024, 'x'));
        result = SystemPlatform::instance().packageSignature("/tmp/a b.pkg");
        QCOMPARE(result.output, (verdict + QByteArray(200 * 1024, 'x')).left(64 * 1024));

        standIns.remove("pkgutil");
        QVERIFY(!SystemPlatform::instance().packageSignature("/tmp/a b.pkg").finished);
    }

    void missingAppleScriptIsAFailure()
    {
        StandIns standIns;
        standIns.remove("osascript");
        const ScriptOutcome outcome = SystemPlatform::instance().runAppleScript("return 1");
        QVERIFY(!outcome.succeeded);
        QVERIFY(!outcome.errorNumber);
        QCOMPARE(outcome.errorMessage.value_or(QString()),
                 QString("AppleScript is not available on this system."));
    }
};

CORVANTIS_TEST_MAIN(TestSystemPlatform)
#include "tst_systemplatform.moc"
