#pragma once

#include <QString>

namespace Corvantis {

// What the installer does with the offered version, given the installed one.
enum class InstallDecision {
    NewInstallation,  // nothing installed: install without asking
    AlreadyInstalled, // the offered version is installed: refuse
    NewerInstalled,   // a newer version is installed: refuse
    AskToReplace,     // an older version is installed: ask, and update on YES
};

// Both are integer versions; 0 means nothing installed.
InstallDecision installDecision(int installed, int latest);

// The box text of a decision other than NewInstallation.
QString decisionText(InstallDecision decision, const QString& installedVersion,
                     const QString& latestVersion);

} // namespace Corvantis
