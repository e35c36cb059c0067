#include "testenvironment.h"
#include "versionnumber.h"

class TestVersionNumber : public QObject
{
    Q_OBJECT

private slots:
    void version_string2int_data()
    {
        QTest::addColumn<QString>("row"); // "version=integer"
        const QString rows =
            "1.2.3=1002003 1.10.0=1010000 1.2=1002 10=10 =0 0.0.0.1=1 1..3=1000003 "
            "1.2.3-beta=1002000 1.1000=2000 2.147.483.647=2147483647 2.147.483.648=-2147483648 "
            "1.2.3.4.5=-720234081 a.b=0 1.-2=1000 4294967296=0 4294967295=-1 1.0.0.0=1000000000 "
            "0.1.0.0.0=3567587 1.0.0.0.0.0.0=-1486618624 1.0.0.0.0.0.0.0=0";
        for (const QString& row : rows.split(' '))
            QTest::newRow(qPrintable(row)) << row;
    }

    void version_string2int()
    {
        QFETCH(QString, row);
        QCOMPARE(::version_string2int(row.section('=', 0, 0)), row.section('=', 1).toInt());
    }
};

QTEST_GUILESS_MAIN(TestVersionNumber)
#include "tst_versionnumber.moc"
