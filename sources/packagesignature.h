#pragma once

#include <QByteArray>
#include <QString>

namespace Corvantis {

// How a command-line tool ended and what it printed.
struct ToolOutput
{
    bool finished = false; // started and exited by itself
    int exitCode = -1;
    QByteArray output; // standard output and standard error together, cut at a bound
};

// Whether the package tool's "--check-signature" verdict says the package is signed with a
// Developer ID Installer certificate of the given team (ten upper-case letters and digits).
// Anything unexpected, incomplete or ambiguous counts as not signed.
bool isSignedByTeam(const ToolOutput& result, const QString& team);

} // namespace Corvantis
