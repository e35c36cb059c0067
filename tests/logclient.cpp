// Opens the install log the way the installer does and emits the messages named on its command
// line, so that tests can look at the file a whole process leaves behind.
//
//   logclient <label> <file name> <action>...
//   action: debug:<text> info:<text> warning:<text> critical:<text> fatal:<text>
//           init:<label>:<file name>   a further init_logger call
//           threads:<n>:<count>        n threads emitting <count> records each

#include "logging.h"

#include <QCoreApplication>
#include <QThread>

#include <cstdio>
#include <vector>

static void emitMessage(const QString& kind, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    if (kind == "debug")
        qDebug("%s", bytes.constData());
    else if (kind == "info")
        qInfo("%s", bytes.constData());
    else if (kind == "warning")
        qWarning("%s", bytes.constData());
    else if (kind == "critical")
        qCritical("%s", bytes.constData());
    else if (kind == "fatal")
        qFatal("%s", bytes.constData());
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("Corvantis Installer");
    QCoreApplication::setOrganizationName("Halvery");

    const QStringList args = app.arguments();
    if (args.size() < 3)
        return 2;
    init_logger(args.at(1), args.at(2));

    for (const QString& action : args.mid(3)) {
        const QString kind = action.section(':', 0, 0);
        const QString rest = action.section(':', 1);
        if (kind == "init") {
            init_logger(rest.section(':', 0, 0), rest.section(':', 1));
        } else if (kind == "threads") {
            const int threadCount = rest.section(':', 0, 0).toInt();
            const int records = rest.section(':', 1).toInt();
            std::vector<QThread*> threads;
            for (int t = 0; t < threadCount; ++t) {
                threads.push_back(QThread::create([t, records] {
                    for (int i = 0; i < records; ++i)
                        qDebug("thread %d record %d", t, i);
                }));
                threads.back()->start();
            }
            for (QThread* thread : threads) {
                thread->wait();
                delete thread;
            }
        } else {
            emitMessage(kind, rest);
        }
    }
    // Tells the test the program carried on to its end.
    std::fputs("logclient done\n", stdout);
    return 0;
}
