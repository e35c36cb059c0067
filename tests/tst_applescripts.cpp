#include "applescripts.h"
#include "testenvironment.h"

using namespace Corvantis;

Q_DECLARE_METATYPE(ScriptOutcome)

class TestAppleScripts : public QObject
{
    Q_OBJECT

private slots:
    // The cancel number and the runner's own message are shown by the whole-window runs.
    void scriptSucceeded_data()
    {
        QTest::addColumn<ScriptOutcome>("outcome");
        QTest::addColumn<QString>("before");
        QTest::addColumn<bool>("succeeded");
        QTest::addColumn<QString>("after");
        QTest::newRow("success") << ScriptOutcome{true, {}, {}} << "kept" << true << "kept";
        QTest::newRow("earlier text kept")
            << ScriptOutcome{false, 1, QString("It failed.")} << "kept" << false << "kept";
        QTest::newRow("no cause") << ScriptOutcome{false, {}, {}} << "" << false << "";
    }

    void scriptSucceeded()
    {
        QFETCH(ScriptOutcome, outcome);
        QFETCH(QString, before);
        QFETCH(bool, succeeded);
        QFETCH(QString, after);
        QCOMPARE(Corvantis::scriptSucceeded(outcome, before), succeeded);
        QCOMPARE(before, after);
    }
};

QTEST_GUILESS_MAIN(TestAppleScripts)
#include "tst_applescripts.moc"
