#include "corvantis.h"
#include "fakeplatform.h"
#include "standins.h"
#include "systemplatform.h"

using namespace Corvantis;

static QString describe(const ScriptOutcome& o)
{
    const QString number = o.errorNumber ? QString::number(*o.errorNumber) : "no number";
    return o.succeeded ? "succeeded" : number + ": " + o.errorMessage.value_or("no message");
}

class TestSystemPlatform : public QObject
{
    Q_OBJECT
    const QByteArray kSigned = "a package its team signed";
    Platform& m_system = SystemPlatform::instance();
    QTemporaryDir m_marks; // where a command hidden in a path would leave its mark

private slots:
    void packageQueries()
    {
        StandIns standIns;
        standIns.setOutput("ok\n", 1);
        qputenv("STANDIN_ERROR", "warning\n"); // not part of a receipt, part of a verdict
        const QString path = "/V/a 'b' \"c\" $(exit 1) `exit 1`; exit 1\\\n"; // passed on whole
        QCOMPARE(m_system.packageReceipt("id", path), QString("ok\n"));
        QCOMPARE(standIns.recordedArguments().join('|'), "--pkg-info|id|--volume=" + path);
        const ToolOutput verdict = m_system.packageSignature(path);
        QCOMPARE(standIns.recordedArguments(), QStringList({"--check-signature", path}));
        QVERIFY(verdict.finished && verdict.exitCode == 1 && verdict.output == "ok\nwarning\n");
        standIns.setOutput("", 1);
        QCOMPARE(m_system.packageReceipt("id", path), QString()); // no receipt
        standIns.setOutput(QByteArray(50 << 20, '\xff'), 1);      // a flood, not UTF-8
        QCOMPARE(m_system.packageSignature(path).output, QByteArray(64 * 1024, '\xff'));
        QCOMPARE(m_system.packageReceipt("id", path), QString());
        // A receipt is read up to a bound; past it, it is none.
        const QByteArray receipt = QByteArray("version: 2.0\n").leftJustified(64 * 1024, 'a');
        standIns.setOutput(receipt, 0);
        QCOMPARE(m_system.packageReceipt("id", path), QString(receipt));
        standIns.setOutput(receipt + "\n", 0);
        QCOMPARE(m_system.packageReceipt("id", path), QString());
    }

    void volumesLeaveOutPseudoFileSystems()
    {
        const QStringList volumes = m_system.mountedVolumes();
        const QStringList pseudo = volumes.filter(QRegularExpression("^/(proc|sys|dev/pts)(/|$)"));
        QVERIFY2(volumes.contains("/") && pseudo.isEmpty(), qPrintable(volumes.join(", ")));
#ifdef CORVANTIS_MAC_RUNTIME // the run-time check mounts one last, with an odd name
        QCOMPARE(volumes.last(), QString::fromUtf8(qgetenv("CORVANTIS_LAST_VOLUME")));
#endif
    }

    // The scan through the system's volume list and receipt tool, the last volume asked last.
    void volumeScan()
    {
        StandIns standIns;
        QTemporaryDir volume(QDir::tempPath() + "/Données-XXXXXX");
        QVERIFY(writeFile(volume.filePath(kProductExecutable), ""));
        standIns.setOutput("version: 2.1.0\nvolume: " + volume.path().toUtf8() + "\n", 0);
        const std::optional<Installation> found = m_system.installedProduct();
        QVERIFY(found && found->volume == volume.path() + "/" && found->version == "2.1.0");
        QCOMPARE(standIns.recordedArguments(),
                 QStringList({"--pkg-info", kPackageIdentifier,
                              "--volume=" + m_system.mountedVolumes().last()}));
    }

    void appleScript_data()
    {
        // A script for osascript to run, or else what it says when it fails by itself; what the
        // installer shows for it; and the arguments the system installer or opener received. Every
        // path arrives as one argument, byte for byte, and nothing in it is executed.
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QStringList>("arguments");
        const auto row = [](const char* name, const QString& input, const QString& outcome,
                            const QString& shown = "", const QStringList& arguments = {}) {
            QTest::newRow(name) << input << outcome << shown << arguments;
        };
        row("last parentheses", "w\nosascript: 0:9: execution error: Ni (a). (1)", "1: Ni (a).",
            "Ni (a).");
        row("no number, no marker", "0:9: syntax error: End.", "no number: syntax error: End.",
            "syntax error: End.");
        row("nothing said", " ", "no number: no message");
        row("flood", QString("x\n").repeated(40000) + "0:9: execution error: N (-5)", "-5: N", "N");
        row("cancelled", "0:9: execution error: L’utilisateur a annulé. (-128)",
            "-128: L’utilisateur a annulé.", "The administrator password is required to do this.");
        row("success", "do shell script \"true\" with administrator privileges", "succeeded");
        row("the shell command fails", "do shell script \"echo no >&2; exit 3\"", "3: no", "no");
        const QString mark = m_marks.filePath("ran");
        const QString shell = QString("/tmp/$(touch M)`touch M`; touch M.pkg").replace("M", mark);
        const QString quotes = QString("/tmp/'\"\\$(touch M)\n ;'.pkg").replace("M", mark);
        const QString volume = "/V/$(touch " + mark + ")/", odd = "/V/'\\\"\"'/";
        row("install, shell in the paths", installScript(shell, volume), "succeeded", "",
            {"-pkg", shell, "-target", volume});
        row("install, quotes in the paths", installScript(quotes, odd), "succeeded", "",
            {"-pkg", quotes, "-target", odd});
        row("launch, quotes in the path", launchScript(quotes), "succeeded", "", {"-W", quotes});
        // Root installs its own copy, wherever the package stood.
        const QString signedPackage =
            m_marks.filePath(QString("s'\"\\$(touch M) ;'.pkg").replace("M", mark));
        QVERIFY(writeFile(signedPackage, kSigned));
        row("install as the team, quotes in the paths",
            installScript(signedPackage, odd, "H4LV3RY001", kSigned.size()), "succeeded", "",
            {"-pkg", "root's copy", "-target", odd});
    }

    void appleScript()
    {
        QFETCH(QString, input);
        QFETCH(QString, outcome);
        QFETCH(QString, shown);
        QFETCH(QStringList, arguments);
        StandIns standIns;
        standIns.setOutput(teamVerdict(), 0);
        standIns.setSignedPackage(kSigned);
        qputenv("OSASCRIPT_FAIL", input.startsWith("do shell script") ? "" : input.toUtf8());
#ifdef CORVANTIS_MAC_RUNTIME
        // Foundation's AppleScript comes to the row's outcome (scripts/mac-check/standins.mm);
        // only osascript's stand-in runs a shell, so there no tool records its arguments.
        qputenv("APPLESCRIPT_OUTCOME", outcome.toUtf8());
        arguments.clear();
#endif
        const ScriptOutcome result = m_system.runAppleScript(input);
        QString error;
        QCOMPARE(describe(result), outcome);
        QCOMPARE(scriptSucceeded(result, error), outcome == "succeeded");
        QCOMPARE(error, shown);
        QCOMPARE(standIns.recordedScript(), input);
        QStringList recorded = standIns.recordedArguments();
        if (recorded.value(1).startsWith("/tmp/corvantis.")) { // gone with what it held
            QVERIFY(!QFileInfo::exists(QFileInfo(recorded[1]).path()));
            QCOMPARE(standIns.installedPackage(), kSigned);
            recorded[1] = "root's copy";
        }
        QCOMPARE(recorded, arguments);
        QVERIFY(!QFile::exists(m_marks.filePath("ran")));
    }

    void missingToolsGiveNothing()
    {
        StandIns standIns;
        standIns.remove("pkgutil");
        standIns.remove("osascript");
        QVERIFY(!m_system.packageSignature("").finished && m_system.packageReceipt("", "") == "");
#ifndef CORVANTIS_MAC_RUNTIME // a Mac always has AppleScript
        QCOMPARE(describe(m_system.runAppleScript("")),
                 "no number: AppleScript is not available on this system.");
#endif
    }
};

QTEST_GUILESS_MAIN(TestSystemPlatform)
#include "tst_systemplatform.moc"
