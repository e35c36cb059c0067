#include "testenvironment.h"
#include "versionnumber.h"

#include <QtTest>

class TestVersionNumber : public QObject
{
    Q_OBJECT

private slots:
    void toInteger_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("expected");

        QTest::newRow("1.2.3") << "1.2.3" << 1002003;
        QTest::newRow("1.2.0") << "1.2.0" << 1002000;
        QTest::newRow("1.10.0") << "1.10.0" << 1010000;
        QTest::newRow("1.2") << "1.2" << 1002;
        QTest::newRow("2.0") << "2.0" << 2000;
        QTest::newRow("10") << "10" << 10;
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("0.0.0") << "0.0.0" << 0;
        QTest::newRow("0.0.0.1") << "0.0.0.1" << 1;
        QTest::newRow("empty middle part") << "1..3" << 1000003;
        QTest::newRow("trailing full stop") << "1.2." << 1002000;
        QTest::newRow("rejected part") << "1.2.3-beta" << 1002000;
        QTest::newRow("no limit of 999") << "1.1000" << 2000;
        QTest::newRow("four parts") << "1.2.3.4" << 1002003004;
        QTest::newRow("largest positive") << "2.147.483.647" << 2147483647;
        QTest::newRow("wraps to negative") << "2.147.483.648" << int(-2147483647 - 1);
        QTest::newRow("3.0.0.0") << "3.0.0.0" << -1294967296;
        QTest::newRow("five parts") << "1.2.3.4.5" << -720234081;
        QTest::newRow("letters") << "a.b" << 0;
        QTest::newRow("negative part") << "1.-2" << 1000;
        QTest::newRow("part above 32 bits") << "4294967296" << 0;
        QTest::newRow("largest part") << "4294967295" << -1;

        // One part set at a time shows each weight; five to seven parts keep the low 32 bits
        // of the starting power, eight or more give 0.
        const QVector<QVector<quint32>> weights = {
            {1},
            {1000, 1},
            {1000000, 1000, 1},
            {1000000000, 1000000, 1000, 1},
            {3567587328u, 3567587, 3567, 3, 0},
            {2764472320u, 2764472, 2764, 2, 0, 0},
            {2808348672u, 2808348, 2808, 2, 0, 0, 0},
            {0, 0, 0, 0, 0, 0, 0, 0},
            {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
        };
        for (const QVector<quint32>& row : weights) {
            for (int i = 0; i < row.size(); ++i) {
                QStringList parts;
                for (int j = 0; j < row.size(); ++j)
                    parts << "0";
                parts[i] = "1";
                const QString text = parts.join('.');
                QTest::newRow(qPrintable("weight " + text)) << text << int(row[i]);
            }
        }
        QTest::newRow("eight parts all set") << "9.9.9.9.9.9.9.9" << 0;
    }

    void toInteger()
    {
        QFETCH(QString, text);
        QFETCH(int, expected);
        QCOMPARE(version_string2int(text), expected);
    }

    void orderIsByMagnitudeNotByComponent()
    {
        QVERIFY(version_string2int("1.2") < version_string2int("1.1.9"));
        QVERIFY(version_string2int("1.2.0") > version_string2int("1.2"));
        QVERIFY(version_string2int("1.5.0") > version_string2int("2.0"));
        QCOMPARE(version_string2int("1.1000"), version_string2int("2.0"));
    }
};

CORVANTIS_TEST_MAIN(TestVersionNumber)
#include "tst_versionnumber.moc"
