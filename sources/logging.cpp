#include "logging.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QStandardPaths>

#include <cstdio>

std::mutex g_mutex;
QFile* g_logFile = nullptr;

namespace {

// Records must not interleave or race on the file when Qt reports from one of its own threads.
// Recursive, because a write that makes Qt warn comes back into the handler.
std::recursive_mutex s_recordMutex;

// Where records go: the log file, or standard error when the log could not be opened, so that
// nothing is lost and the installer carries on either way.
QIODevice* logDevice()
{
    if (g_logFile && g_logFile->isOpen())
        return g_logFile;
    static QFile standardError;
    if (!standardError.isOpen())
        standardError.open(stderr, QIODevice::WriteOnly, QFileDevice::DontCloseHandle);
    return &standardError;
}

} // namespace

void init_logger(QString label, QString fileName)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_logFile)
        return;

    const QString directory = QStandardPaths::writableLocation(QStandardPaths::DataLocation);
    QDir().mkpath(directory);
    g_logFile = new QFile(directory + "/" + fileName);
    g_logFile->open(QIODevice::WriteOnly | QIODevice::Truncate);
    qInstallMessageHandler(messageOutput);

    std::lock_guard<std::recursive_mutex> recordLock(s_recordMutex);
    QIODevice* device = logDevice();
    QDebug(device) << "\n\n"
                   << label << " starts at " << QDateTime::currentDateTime().toString(Qt::TextDate)
                   << "\n";
    if (auto* fileDevice = qobject_cast<QFileDevice*>(device))
        fileDevice->flush();
}

void messageOutput(QtMsgType, const QMessageLogContext&, const QString& message)
{
    std::lock_guard<std::recursive_mutex> recordLock(s_recordMutex);
    QIODevice* device = logDevice();
    device->write(QDateTime::currentDateTime().toString(Qt::TextDate).toLocal8Bit());
    device->write(":");
    device->write(message.toLocal8Bit());
    device->write("\n");
    // Hand every record to the system at once, so a later crash cannot lose it.
    if (auto* fileDevice = qobject_cast<QFileDevice*>(device))
        fileDevice->flush();
}
