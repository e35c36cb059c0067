#include "boxtext.h"
#include "testenvironment.h"

class TestBoxText : public QObject
{
    Q_OBJECT

private slots:
    void shortened_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        const QString cut = QChar(0x2026), line = "l\n";
        QTest::newRow("300 characters") << QString(300, 'x') << QString(300, 'x');
        QTest::newRow("301 characters") << QString(301, 'x') << QString(300, 'x') + cut;
        QTest::newRow("8 lines") << line.repeated(7) + "l" << line.repeated(7) + "l";
        QTest::newRow("9 lines, the first empty") << "\n" + line.repeated(7) + "l"
                                                  << "\n" + line.repeated(6) + "l" + cut;
        QTest::newRow("surrogate pair at the cut")
            << QString(299, 'x') + QString::fromUtf8("\xF0\x9F\x98\x80") << QString(299, 'x') + cut;
    }

    void shortened()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(Corvantis::shortened(text), expected);
    }
};

QTEST_GUILESS_MAIN(TestBoxText)
#include "tst_boxtext.moc"
