#pragma once

#include "platform.h"

#include <QString>

// Whether the package tool's "--check-signature" verdict says the package is signed with a
// Developer ID Installer certificate of the given team (ten upper-case letters and digits).
// Anything unexpected, incomplete or ambiguous counts as not signed.
bool isSignedByTeam(const ToolOutput& result, const QString& team);
