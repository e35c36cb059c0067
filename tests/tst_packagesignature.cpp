#include "fakeplatform.h"
#include "packagesignature.h"
#include "standins.h"
#include "systemplatform.h"

using namespace Corvantis;

Q_DECLARE_METATYPE(ToolOutput)

class TestPackageSignature : public QObject
{
    Q_OBJECT

private slots:
    void isSignedByTeam_data()
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
        row("team in lower case", verdict("Developer ID Installer: H (h4lv3ry001)"), false, 0,
            "h4lv3ry001");
        row("team suffix of another", verdict("Developer ID Installer: H (XH4LV3RY001)"), false);
        row("no certificate name", verdict("Developer ID Installer: (H4LV3RY001)"), false);
        row("nine-character team", verdict("Developer ID Installer: H (H4LV3RY00)"), false, 0,
            "H4LV3RY00");
        row("not UTF-8", verdict(ours, {}, "C\xff.pkg"), false);
        row("exit code 1", good, false, 1);
        row("did not finish", good, false, -1);
    }

    void isSignedByTeam()
    {
        QFETCH(ToolOutput, result);
        QFETCH(QString, team);
        QFETCH(bool, accepted);
        QCOMPARE(Corvantis::isSignedByTeam(result, team), accepted);
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

QTEST_GUILESS_MAIN(TestPackageSignature)
#include "tst_packagesignature.moc"
