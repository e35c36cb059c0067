#include "installdecision.h"
#include "testenvironment.h"
#include "versionnumber.h"

using namespace Corvantis;

class TestInstallDecision : public QObject
{
    Q_OBJECT

private slots:
    // Against an offered 2.0.0: the decision and its box text.
    void installDecision_data()
    {
        QTest::addColumn<QString>("installed");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* installed, const QString& expected) {
            QTest::newRow(installed) << QString(installed) << expected;
        };
        const QString newer = "newer: A newer version of Corvantis (v%1) is installed already."
                              "\n\nPlease uninstall it first and then launch this installer again.";
        const QString same = "same: This version of Corvantis (v%1) is installed already.";
        row("", "install: ");
        row("0.0.0", "install: ");
        row("2.0.0", same.arg("2.0.0"));
        row("1.1000.0", same.arg("1.1000.0"));
        row("2.0.1", newer.arg("2.0.1"));
        row("2.0.0.0", newer.arg("2.0.0.0"));
        row("1.9.9", "ask: An older version of Corvantis (v1.9.9) is installed already.\n\nReplace "
                     "it with version 2.0.0?");
    }

    void installDecision()
    {
        QFETCH(QString, installed);
        QFETCH(QString, expected);
        const InstallDecision decision =
            Corvantis::installDecision(version_string2int(installed), version_string2int("2.0.0"));
        const char* names[] = {"install", "same", "newer", "ask"};
        QCOMPARE(names[int(decision)] + QString(": ") + decisionText(decision, installed, "2.0.0"),
                 expected);
    }
};

QTEST_GUILESS_MAIN(TestInstallDecision)
#include "tst_installdecision.moc"
