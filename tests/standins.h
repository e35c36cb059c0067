#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A folder of stand-ins for the macOS programs, put first on PATH for the life of the object:
// "pkgutil", "installer" and "open" record their arguments; "osascript" runs
// `do shell script` commands with /bin/sh, the installer and opener being the ones here.
class StandIns
{
public:
    StandIns();
    ~StandIns();

    QString path() const { return m_bin.path(); }
    // What the recording stand-ins print and exit with.
    void setOutput(const QByteArray& output);
    void setStatus(int status);
    // The arguments of the last call of a recording stand-in.
    QStringList recordedArguments() const;
    // The last script source that "osascript" received.
    QString recordedScript() const;
    // Removes one stand-in, so that the program is missing.
    void remove(const QString& name);

private:
    QTemporaryDir m_bin;
    QByteArray m_oldPath;
};
