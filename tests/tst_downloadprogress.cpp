#include "downloadprogress.h"
#include "testenvironment.h"

class TestDownloadProgress : public QObject
{
    Q_OBJECT

private slots:
    // The bar's value after a report, when it stood at 7.
    void progressValue_data()
    {
        QTest::addColumn<qulonglong>("received");
        QTest::addColumn<qulonglong>("total");
        QTest::addColumn<int>("expected");
        QTest::newRow("a started download shows") << 29999ULL << 1000000ULL << 30;
        QTest::newRow("half") << 500000ULL << 1000000ULL << 500;
        QTest::newRow("whole") << 1000000ULL << 1000000ULL << 1000;
        QTest::newRow("no total known yet") << 500ULL << 0ULL << 7;
        QTest::newRow("beyond 4 GiB") << 5368709120ULL << 6442450944ULL << 833;
    }

    void progressValue()
    {
        QFETCH(qulonglong, received);
        QFETCH(qulonglong, total);
        QFETCH(int, expected);
        QCOMPARE(Corvantis::progressValue(received, total, 7), expected);
    }
};

QTEST_GUILESS_MAIN(TestDownloadProgress)
#include "tst_downloadprogress.moc"
