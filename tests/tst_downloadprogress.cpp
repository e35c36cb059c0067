#include "downloadprogress.h"
#include "testenvironment.h"

class TestDownloadProgress : public QObject
{
    Q_OBJECT

private slots:
    void progressValue_data() // "received,total=value", the bar standing at 7 before
    {
        QTest::addColumn<QString>("row");
        const QString rows = "29999,1000000=30 500000,1000000=500 1000000,1000000=1000 500,0=7 "
                             "5368709120,6442450944=833";
        for (const QString& row : rows.split(' '))
            QTest::newRow(qPrintable(row)) << row;
    }

    void progressValue()
    {
        QFETCH(QString, row);
        const QStringList numbers = row.section('=', 0, 0).split(',');
        QCOMPARE(Corvantis::progressValue(numbers[0].toULongLong(), numbers[1].toULongLong(), 7),
                 row.section('=', 1).toInt());
    }
};

QTEST_GUILESS_MAIN(TestDownloadProgress)
#include "tst_downloadprogress.moc"
