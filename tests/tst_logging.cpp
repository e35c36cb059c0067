#include "corvantis.h"
#include "logging.h"
#include "logtail.h"
#include "testenvironment.h"

#include <QtTest> // with all of QtCore

class TestLogging : public QObject
{
    Q_OBJECT

private slots:
    // The log can be opened once per process: log() runs this in a child process for each row.
    void child()
    {
        if (qEnvironmentVariableIsEmpty("LOG_ACTIONS"))
            QSKIP("runs in a child process of log()");
        qputenv("XDG_DATA_HOME", qgetenv("LOG_HOME"));
        init_logger(Corvantis::kLogLabel, Corvantis::kLogFileName);
        init_logger("Other", "other.txt"); // changes nothing
        const QStringList types = {"debug", "warning", "critical", "fatal", "info"}; // QtMsgType
        for (const QString& action : qEnvironmentVariable("LOG_ACTIONS").split('|')) {
            const QString kind = action.section(':', 0, 0), text = action.section(':', 1);
            if (kind == "threads")
                for (int t = 0; t < 4; ++t)
                    QThreadPool::globalInstance()->start([] {
                        for (int i = 0; i < 2000; ++i)
                            qDebug("record %d", i);
                    });
            else
                qt_message_output(QtMsgType(types.indexOf(kind)), {}, text);
        }
        QThreadPool::globalInstance()->waitForDone();
    }

    // The rows share one data folder: each run shows too that it replaces the file before it.
    void log_data()
    {
        QTest::addColumn<QString>("actions");
        QTest::addColumn<bool>("unopenable"); // the data folder cannot be made
        QTest::newRow("kinds") << "debug:a|info:b|warning:c|critical:d|debug:|debug:e\nf" << false;
        QTest::newRow("fatal message on disk before the end") << "debug:before|fatal:last" << false;
        QTest::newRow("several threads") << "threads" << false;
        QTest::newRow("unopenable log falls back to standard error") << "debug:a|warning:b" << true;
    }

    void log()
    {
        QFETCH(QString, actions);
        QFETCH(bool, unopenable);
        qputenv("LOG_ACTIONS", actions.toUtf8());
        qputenv("LOG_HOME", unopenable ? "/dev/null" : qgetenv("XDG_DATA_HOME"));
        qputenv("TMPDIR", qgetenv("HOME")); // what a crashing child leaves goes too
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {"-nocrashhandler", "child"});
        QVERIFY(child.waitForFinished(60000));
        QCOMPARE(child.exitStatus() == QProcess::NormalExit, !actions.contains("fatal:"));

        // Each message is one record, in order, and nothing else is written.
        QString expected =
            "\\A\n\n \"Online Installer\"  starts at  \"" + LogTail::kDatePattern + "\" \n ";
        for (const QString& action : actions.split('|'))
            if (action == "threads")
                expected += "(" + LogTail::kDatePattern + ":record \\d+\n)+";
            else
                expected += LogTail::kDatePattern + ':' +
                            QRegularExpression::escape(action.section(':', 1)) + '\n';
        const QByteArray errors = child.readAllStandardError();
        QCOMPARE(unopenable ? "" : errors, QByteArray()); // the records go to one place only
        const QString text = unopenable ? errors : readFile(LogTail::logPath());
        QVERIFY2(QRegularExpression(expected + "\\z").match(text).hasMatch(), qPrintable(text));
        QCOMPARE(text.count(":record "), actions == "threads" ? 8000 : 0);
    }
};

QTEST_GUILESS_MAIN(TestLogging)
#include "tst_logging.moc"
