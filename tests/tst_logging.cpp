#include "testenvironment.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Qt::TextDate, e.g. "Sun Dec 6 21:00:00 2026".
const QString kDate =
    QStringLiteral("[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]?\\d \\d\\d:\\d\\d:\\d\\d \\d{4}");

struct Run
{
    int exitCode = -1;
    QProcess::ExitStatus exitStatus = QProcess::NormalExit;
    QByteArray out;
    QByteArray err;
};

} // namespace

class TestLogging : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dataHome;

    QString logPath() const
    {
        return m_dataHome.path() + "/Halvery/Corvantis Installer/install_log.txt";
    }

    Run runClient(const QStringList& actions, const QString& dataHome = QString())
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_DATA_HOME", dataHome.isEmpty() ? m_dataHome.path() : dataHome);
        process.setProcessEnvironment(env);
        process.start(LOGCLIENT_PATH, QStringList{"Online Installer", "install_log.txt"} + actions);
        Run run;
        if (!process.waitForFinished(60000))
            return run;
        run.exitCode = process.exitCode();
        run.exitStatus = process.exitStatus();
        run.out = process.readAllStandardOutput();
        run.err = process.readAllStandardError();
        return run;
    }

    QByteArray readLog() const
    {
        QFile file(logPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // The header with the date-time of the run replaced by a pattern.
    static QString headerPattern()
    {
        return QStringLiteral("\n\n \"Online Installer\"  starts at  \"(%1)\" \n ").arg(kDate);
    }

    static QString record(const QString& text)
    {
        return QStringLiteral("(%1):%2\n").arg(kDate, QRegularExpression::escape(text));
    }

private slots:
    void fileHoldsHeaderAndRecordsByteForByte()
    {
        const Run run = runClient({"debug:first", "info:second", "warning:third", "critical:fourth",
                                   "debug:", "debug:two\nlines"});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.err, QByteArray()); // nothing falls back to standard error

        const QString log = QString::fromLocal8Bit(readLog());
        const QRegularExpression whole(QStringLiteral("\\A%1%2%3%4%5%6%7\\z")
                                           .arg(headerPattern(), record("first"), record("second"),
                                                record("third"), record("fourth"), record(""),
                                                record("two\nlines")));
        const QRegularExpressionMatch match = whole.match(log);
        QVERIFY2(match.hasMatch(), qPrintable(log));

        const QDateTime started = QDateTime::fromString(match.captured(1), Qt::TextDate);
        QVERIFY(started.isValid());
        QVERIFY(qAbs(started.secsTo(QDateTime::currentDateTime())) < 120);
    }

    void fatalMessageIsOnDiskBeforeTheProcessDies()
    {
        const Run run = runClient({"debug:before", "fatal:last words"});
        QCOMPARE(run.exitStatus, QProcess::CrashExit);
        const QRegularExpression tail(
            QStringLiteral("%1%2\\z").arg(record("before"), record("last words")));
        QVERIFY2(tail.match(QString::fromLocal8Bit(readLog())).hasMatch(), readLog().constData());
    }

    void secondInitChangesNothing()
    {
        const Run run = runClient({"debug:one", "init:Other Label:other_log.txt", "debug:two"});
        QCOMPARE(run.exitCode, 0);
        const QString log = QString::fromLocal8Bit(readLog());
        QVERIFY2(
            QRegularExpression(
                QStringLiteral("\\A%1%2%3\\z").arg(headerPattern(), record("one"), record("two")))
                .match(log)
                .hasMatch(),
            qPrintable(log));
        QVERIFY(!QFile::exists(QFileInfo(logPath()).path() + "/other_log.txt"));
    }

    void secondRunReplacesTheFile()
    {
        QCOMPARE(runClient({"debug:from the first run"}).exitCode, 0);
        QCOMPARE(runClient({"debug:from the second run"}).exitCode, 0);
        const QString log = QString::fromLocal8Bit(readLog());
        QVERIFY2(
            QRegularExpression(
                QStringLiteral("\\A%1%2\\z").arg(headerPattern(), record("from the second run")))
                .match(log)
                .hasMatch(),
            qPrintable(log));
    }

    void recordsFromSeveralThreadsStayWhole()
    {
        QCOMPARE(runClient({"threads:4:500"}).exitCode, 0);
        QStringList lines = QString::fromLocal8Bit(readLog()).split('\n');
        QVERIFY(lines.size() > 4);
        lines[3].remove(0, 1); // the blank the header leaves before the first record
        const QRegularExpression line(QStringLiteral("\\A%1:thread \\d record \\d+\\z").arg(kDate));
        int records = 0;
        for (const QString& text : lines.mid(3, lines.size() - 4)) {
            QVERIFY2(line.match(text).hasMatch(), qPrintable(text));
            ++records;
        }
        QCOMPARE(records, 2000);
    }

    void unopenableLogFallsBackToStandardError()
    {
        // The data directory cannot be made when its parent is a plain file.
        QTemporaryDir dir;
        const QString blocker = dir.path() + "/plain-file";
        QFile file(blocker);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();

        const Run run = runClient({"debug:still here", "warning:and here"}, blocker);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, QByteArray("logclient done\n"));
        const QRegularExpression whole(
            QStringLiteral("\\A%1%2%3\\z")
                .arg(headerPattern(), record("still here"), record("and here")));
        QVERIFY2(whole.match(QString::fromLocal8Bit(run.err)).hasMatch(), run.err.constData());
    }

    void init() { QFile::remove(logPath()); }
};

CORVANTIS_TEST_MAIN(TestLogging)
#include "tst_logging.moc"
