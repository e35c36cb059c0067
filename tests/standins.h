#pragma once

#include "testenvironment.h"

// A folder of stand-ins for the macOS programs, first on PATH for the life of the object:
// "pkgutil", "installer" and "open" record their arguments; "osascript" runs
// `do shell script` commands with /bin/sh, the installer and opener being the ones here.
class StandIns
{
public:
    StandIns();
    ~StandIns();

    // What the recording stand-ins print and exit with.
    void setOutput(const QByteArray& output, int status);
    // From now on "pkgutil --check-signature" gives that output only for a package of these bytes.
    void setSignedPackage(const QByteArray& bytes);
    // While the password prompt of a privileged script waits, another program of the user puts
    // these bytes in the package's place: "rename" moves a file over it, "rewrite" writes into it.
    void swapAtPrompt(const QString& how, const QByteArray& bytes, const QString& package);
    // The arguments of the last call of a recording stand-in.
    QStringList recordedArguments() const;
    // The bytes of the package that "installer -pkg" was last given; empty if it never ran.
    QByteArray installedPackage() const { return readFile(m_bin.filePath("arguments.pkg")); }
    // The last script that "osascript" received.
    QString recordedScript() const { return readFile(m_bin.filePath("script")); }
    // Removes one stand-in, so that the program is missing.
    void remove(const QString& name) { QFile::remove(m_bin.filePath(name)); }

private:
    QTemporaryDir m_bin;
    QByteArray m_oldPath = qgetenv("PATH");
};
