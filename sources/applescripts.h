#pragma once

#include <QString>

#include <optional>

namespace Corvantis {

// What running an AppleScript source came to.
struct ScriptOutcome
{
    bool succeeded = false;
    std::optional<int> errorNumber;
    std::optional<QString> errorMessage;
};

// The AppleScript that installs the package silently onto the volume, as administrator. With a
// team, what is installed is root's own copy of the package's first `size` bytes, and only when
// that copy is signed by the team; else the script fails with a text that says so.
QString installScript(const QString& packagePath, const QString& volume,
                      const QString& team = QString(), qint64 size = 0);
// The AppleScript that opens the package in the interactive installer and waits until it quits.
QString launchScript(const QString& packagePath);

// Whether the script succeeded; if not, the text to show, which stays as it was when the
// outcome names no cause.
bool scriptSucceeded(const ScriptOutcome& outcome, QString& error);

} // namespace Corvantis
