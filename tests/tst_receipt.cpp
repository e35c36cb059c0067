#include "receipt.h"
#include "testenvironment.h"

class TestReceipt : public QObject
{
    Q_OBJECT

private slots:
    void getValue_data()
    {
        QTest::addColumn<QString>("receipt");
        QTest::addColumn<QString>("version"); // its value
        QTest::newRow("middle") << "package-id: x\nversion: 2.1.0\nvolume: /\n"
                                << "2.1.0";
        QTest::newRow("missing") << "package-id: x\nvolume: /\n"
                                 << "";
        QTest::newRow("last, no line feed") << "a: b\nversion: 3.0"
                                            << "3.0";
        QTest::newRow("blanks and CR trimmed") << "version:  2.0 \r\n"
                                               << "2.0";
        QTest::newRow("first occurrence, in a key") << "old-version: 1\nversion: 2"
                                                    << "1";
        QTest::newRow("case counts") << "Version: 1\nversion: 2"
                                     << "2";
        QTest::newRow("key at the end") << "a: b\nversion"
                                        << "";
    }

    void getValue()
    {
        QFETCH(QString, receipt);
        QFETCH(QString, version);
        QCOMPARE(::getValue(receipt, "version"), version);
    }
};

QTEST_GUILESS_MAIN(TestReceipt)
#include "tst_receipt.moc"
