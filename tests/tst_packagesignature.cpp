#include "fakeplatform.h"
#include "packagesignature.h"
#include "testenvironment.h"

#include <QtTest>

namespace {

const QString kTeam = QStringLiteral("H4LV3RY001");
const char* const kDistribution =
    "signed by a developer certificate issued by Apple for distribution";
const QByteArrayList kOurChain = {"Developer ID Installer: Halvery Ltd (H4LV3RY001)",
                                  "Developer ID Certification Authority", "Apple Root CA"};

QByteArray verdict(const QByteArray& status, const QByteArrayList& chain = kOurChain,
                   const QByteArray& package = "Corvantis-3.2.0.pkg")
{
    return signatureVerdict(status, chain, package);
}

QByteArrayList ourChainWithLeaf(const QByteArray& leaf)
{
    return QByteArrayList{leaf} + kOurChain.mid(1);
}

} // namespace

class TestPackageSignature : public QObject
{
    Q_OBJECT

private slots:
    void verdicts_data()
    {
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<bool>("finished");
        QTest::addColumn<QString>("team");
        QTest::addColumn<bool>("accepted");

        const auto row = [](const char* tag, const QByteArray& output, bool accepted,
                            int exitCode = 0, bool finished = true, const QString& team = kTeam) {
            QTest::newRow(tag) << output << exitCode << finished << team << accepted;
        };
        const QByteArray good = verdict(kDistribution);
        const auto leaf = [](const QByteArray& name) {
            return verdict(kDistribution, ourChainWithLeaf(name));
        };

        row("signed by the team", good, true);
        row("CRLF line ends", QByteArray(good).replace("\n", "\r\n"), true);
        row("surrounding blanks", "\n  \t" + good + "  \n \t", true);
        row("another team", leaf("Developer ID Installer: Brask Oy (Q7W2E9R4T1)"), false);
        row("team only in package name",
            verdict(kDistribution,
                    ourChainWithLeaf("Developer ID Installer: Brask Oy (Q7W2E9R4T1)"),
                    "Corvantis (H4LV3RY001).pkg"),
            false);
        row("team only later in chain",
            verdict(kDistribution, {"Developer ID Installer: Brask Oy (Q7W2E9R4T1)",
                                    "Developer ID Installer: Halvery Ltd (H4LV3RY001)"}),
            false);
        row("application certificate", leaf("Developer ID Application: Halvery Ltd (H4LV3RY001)"),
            false);
        row("development status",
            verdict("signed by a developer certificate issued by Apple (Development)"), false);
        row("Apple system package",
            verdict("signed Apple Software",
                    {"Software Update", "Apple Software Update Certification Authority",
                     "Apple Root CA"}),
            false);
        row("no signature", verdict("no signature", {}), false, 1);
        // With exit code 0 the status alone refuses these.
        row("untrusted", verdict("signed by untrusted certificate"), false);
        row("revoked", verdict("signed by a certificate that has been revoked"), false);
        row("expired", verdict("signed by a certificate that has since expired"), false);
        // A package name with line breaks could imitate a whole verdict before the real one.
        const QByteArray imitation = "x.pkg\":\n   Status: " + QByteArray(kDistribution) +
                                     "\n   Certificate Chain:\n    1. " + kOurChain[0] + "\ny.pkg";
        row("verdict imitated by the package name", verdict("no signature", {}, imitation), false);
        row("no package line", good.mid(good.indexOf('\n') + 1), false);
        row("cut before the first certificate", good.left(good.indexOf("    1. ")), false);
        row("cut inside the name", good.left(good.indexOf("(H4LV3") + 6), false);
        row("cut after the name", good.left(good.indexOf("RY001)") + 6), false);
        row("team in lower case", leaf("Developer ID Installer: Halvery Ltd (h4lv3ry001)"), false);
        row("configured team in lower case", good, false, 0, true, kTeam.toLower());
        row("team prefix of another", leaf("Developer ID Installer: Halvery (H4LV3RY0019)"), false);
        row("team suffix of another", leaf("Developer ID Installer: Halvery (XH4LV3RY001)"), false);
        row("no certificate name", leaf("Developer ID Installer: (H4LV3RY001)"), false);
        row("empty team", good, false, 0, true, QString());
        row("nine-character team", leaf("Developer ID Installer: Halvery Ltd (H4LV3RY00)"), false,
            0, true, "H4LV3RY00");
        row("not UTF-8", verdict(kDistribution, kOurChain, "Corvantis\xff.pkg"), false);
        row("exit code 1", good, false, 1);
        row("did not finish", good, false, -1, false);
        row("tool missing", QByteArray(), false, -1, false);
    }

    void verdicts()
    {
        QFETCH(QByteArray, output);
        QFETCH(int, exitCode);
        QFETCH(bool, finished);
        QFETCH(QString, team);
        QFETCH(bool, accepted);

        ToolOutput result;
        result.finished = finished;
        result.exitCode = exitCode;
        result.output = output;
        QCOMPARE(isSignedByTeam(result, team), accepted);
    }
};

CORVANTIS_TEST_MAIN(TestPackageSignature)
#include "tst_packagesignature.moc"
