#include "installdecision.h"

namespace {

// The text between single quotes in a shell command: a quote closes, is escaped and reopens.
QString shellQuoted(QString path)
{
    return path.replace('\'', QLatin1String("'\\''"));
}

// A do shell script command; the shell command is escaped for the AppleScript string literal.
QString doShellScript(QString command)
{
    command.replace('\\', QLatin1String("\\\\")).replace('"', QLatin1String("\\\""));
    return "do shell script \"" + command + "\"";
}

// AppleScript's number for "User canceled.", as when the password prompt is dismissed.
constexpr int kUserCanceled = -128;

} // namespace

int progressValue(qulonglong received, qulonglong total, int current)
{
    if (total == 0)
        return current;
    const int thousandths = int(quint32(received * 1000 / total));
    return thousandths > 29 ? thousandths : 30;
}

InstallDecision installDecision(int installed, int latest)
{
    if (installed == 0)
        return InstallDecision::NewInstallation;
    if (installed == latest)
        return InstallDecision::AlreadyInstalled;
    if (installed > latest)
        return InstallDecision::NewerInstalled;
    return InstallDecision::AskToReplace;
}

QString decisionText(InstallDecision decision, const QString& installedVersion,
                     const QString& latestVersion)
{
    switch (decision) {
    case InstallDecision::AlreadyInstalled:
        return QString("This version of Corvantis (v%1) is installed already.")
            .arg(shortened(installedVersion));
    case InstallDecision::NewerInstalled:
        return QString("A newer version of Corvantis (v%1) is installed already.\n\nPlease "
                       "uninstall it first and then launch this installer again.")
            .arg(shortened(installedVersion));
    case InstallDecision::AskToReplace:
        return QString("An older version of Corvantis (v%1) is installed already.\n\nReplace it "
                       "with version %2?")
            .arg(shortened(installedVersion), shortened(latestVersion));
    case InstallDecision::NewInstallation:
        break;
    }
    return QString();
}

QString installScript(const QString& packagePath, const QString& volume)
{
    return doShellScript("/usr/sbin/installer -pkg '" + shellQuoted(packagePath) + "' -target '" +
                         shellQuoted(volume) + "'") +
           " with administrator privileges";
}

QString launchScript(const QString& packagePath)
{
    return doShellScript("/usr/bin/open '-W' '" + shellQuoted(packagePath) + "'");
}

bool scriptSucceeded(const ScriptOutcome& outcome, QString& error)
{
    if (outcome.succeeded)
        return true;
    if (outcome.errorNumber && *outcome.errorNumber == kUserCanceled)
        error = "The administrator password is required to do this.";
    else if (error.isEmpty() && outcome.errorMessage)
        error = *outcome.errorMessage;
    return false;
}

// A megabyte of such text took seconds to lay out and ran off the screen.
QString shortened(const QString& text)
{
    constexpr int kMaxCharacters = 300;
    constexpr int kMaxLines = 8;
    int end = qMin(text.size(), kMaxCharacters);
    for (int line = 0, at = -1; line < kMaxLines; ++line) {
        at = text.indexOf('\n', at + 1);
        if (at < 0 || at >= end)
            break;
        if (line == kMaxLines - 1)
            end = at;
    }
    if (end == text.size())
        return text;
    if (end > 0 && text.at(end - 1).isHighSurrogate())
        --end;
    return text.left(end) + QChar(0x2026);
}
