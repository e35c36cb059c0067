#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// What running an AppleScript source came to.
struct ScriptOutcome
{
    bool succeeded = false;
    std::optional<int> errorNumber;
    std::optional<QString> errorMessage;
};

// How a command-line tool ended and what it printed.
struct ToolOutput
{
    bool finished = false; // started and exited by itself
    int exitCode = -1;
    QByteArray output; // standard output and standard error together, cut at a bound
};

// The operating system's facilities the installer needs: the mounted volumes, the package
// receipt database, package signatures and AppleScript. The shipped program uses SystemPlatform;
// tests hand the window a fake.
class Platform
{
public:
    virtual ~Platform() = default;

    // Mount points of the mounted, non-hidden volumes, in the system's order.
    virtual QStringList mountedVolumes() = 0;
    // The receipt text for the package on the volume; empty when there is none.
    virtual QString packageReceipt(const QString& packageIdentifier, const QString& mountPoint) = 0;
    // Runs the script to its end, however long that takes.
    virtual ScriptOutcome runAppleScript(const QString& source) = 0;
    // The package tool's verdict on the signature of a flat package ("--check-signature").
    virtual ToolOutput packageSignature(const QString& packagePath) = 0;
};
