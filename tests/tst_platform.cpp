#include "corvantis.h"
#include "fakeplatform.h"
#include "logging.h"
#include "logtail.h"
#include "testenvironment.h"

class TestPlatform : public QObject
{
    Q_OBJECT

    QTemporaryDir m_volumes;

private slots:
    void initTestCase() { init_logger(Corvantis::kLogLabel, Corvantis::kLogFileName); }

    // The installed version: the highest confirmed one, by integer, the later of equals.
    void installedProduct_data()
    {
        QTest::addColumn<QString>("versions"); // in scan order; "-": without the product
        QTest::addColumn<int>("winner");       // -1: none
        QTest::newRow("1.10.0 above 1.2.0") << "1.10.0 1.2.0" << 0;
        QTest::newRow("equal integers") << "1.1000 2.0" << 1;
        QTest::newRow("unconfirmed newer") << "1.0 -9.0" << 0;
        QTest::newRow("only unconfirmed") << "-9.0" << -1;
        QTest::newRow("no receipt") << "" << -1;
    }

    void installedProduct()
    {
        QFETCH(QString, versions);
        QFETCH(int, winner);
        FakePlatform platform;
        platform.volumes << "/Volumes/Empty"; // no receipt: no more than its scan is logged
        QStringList paths, expected = {"Scanning volume  /Volumes/Empty"};
        QStringList found = versions.split(' ', Qt::SkipEmptyParts);
        for (int i = 0; i < found.size(); ++i) {
            platform.volumes << QString("/Volumes/V%1").arg(i);
            paths << m_volumes.filePath(QTest::currentDataTag() + platform.volumes.last() + "/");
            const QString executable = paths.last() + Corvantis::kProductExecutable;
            const bool confirmed = !found[i].startsWith('-');
            found[i].remove('-');
            QVERIFY(!confirmed || writeFile(executable, ""));
            // The receipt's volume line lacks the final "/".
            platform.receipts[platform.volumes.last()] =
                "version: " + found[i] + "\nvolume: " + paths.last().chopped(1);
            expected << "Scanning volume  " + platform.volumes.last()
                     << "Found Corvantis version  \"" + found[i] + "\"  at  \"" + paths.last() +
                            "\""
                     << (confirmed ? "And found  \"" + executable + "\""
                                   : "But didn't found Corvantis itself");
        }
        LogTail log;
        const auto product = platform.installedProduct();
        QCOMPARE(product ? product->volume + " " + product->version : "none",
                 winner < 0 ? "none" : paths[winner] + " " + found[winner]);
        QCOMPARE(platform.queriedIdentifiers,
                 QVector<QString>(found.size() + 1, Corvantis::kPackageIdentifier).toList());
        QCOMPARE(log.messages(), expected);
    }
};

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
