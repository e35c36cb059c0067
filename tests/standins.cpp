#include "standins.h"

#include <QDir>
#include <QFile>

StandIns::StandIns()
    : m_bin(QDir::tempPath() + "/corvantis-standins-XXXXXX"), m_oldPath(qgetenv("PATH"))
{
    const QString standIns = QStringLiteral(CORVANTIS_TESTS_DIR "/standins/");
    QFile::link(standIns + "osascript", m_bin.filePath("osascript"));
    for (const char* name : {"pkgutil", "installer", "open"})
        QFile::link(standIns + "record-arguments", m_bin.filePath(name));
    qputenv("PATH", (m_bin.path() + ":/usr/bin:/bin").toUtf8());
    qputenv("STANDIN_RECORD", m_bin.filePath("arguments").toUtf8());
    qputenv("OSASCRIPT_RECORD", m_bin.filePath("script").toUtf8());
    qunsetenv("STANDIN_OUTPUT");
    qunsetenv("STANDIN_STATUS");
    qunsetenv("OSASCRIPT_FAIL");
}

StandIns::~StandIns()
{
    qputenv("PATH", m_oldPath);
    for (const char* name : {"STANDIN_RECORD", "OSASCRIPT_RECORD", "STANDIN_OUTPUT",
                             "STANDIN_STATUS", "OSASCRIPT_FAIL"})
        qunsetenv(name);
}

void StandIns::setOutput(const QByteArray& output)
{
    QFile file(m_bin.filePath("output"));
    if (file.open(QIODevice::WriteOnly))
        file.write(output);
    qputenv("STANDIN_OUTPUT", file.fileName().toUtf8());
}

void StandIns::setStatus(int status)
{
    qputenv("STANDIN_STATUS", QByteArray::number(status));
}

QStringList StandIns::recordedArguments() const
{
    QFile file(m_bin.filePath("arguments"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList arguments;
    for (const QByteArray& field : file.readAll().split('\0'))
        arguments << QString::fromUtf8(field);
    arguments.removeLast(); // after the last terminator
    return arguments;
}

QString StandIns::recordedScript() const
{
    QFile file(m_bin.filePath("script"));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

void StandIns::remove(const QString& name)
{
    QFile::remove(m_bin.filePath(name));
}
