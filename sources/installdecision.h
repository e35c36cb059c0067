#pragma once

#include "platform.h"

#include <QString>

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

// The progress bar's value, in thousandths, after a report of the download's progress; at least
// 30 once the total is known, so that a started download shows; the current value until then.
int progressValue(qulonglong received, qulonglong total, int current);

// Text from outside (the server, the network, the archive, the system installer) as it goes into
// a box: at most 300 characters and 8 lines, ended by an ellipsis when cut.
QString shortened(const QString& text);
