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

// Reads the package tool's "--check-signature" verdict, followed by a line "exit <status>", and
// exits 0 only when the tool exited 0 and said what isSignedByTeam() requires: once, that the
// package is signed for distribution, and right below the one chain heading, that the signing
// certificate is a Developer ID Installer certificate of team `t`. A last line cut short runs
// into the status line and so is not taken either.
constexpr char kTeamSignatureCheck[] =
    "{ sub(/^[ \\t]+/, \"\"); sub(/[ \\t\\r]+$/, \"\") } "
    "$0 == \"\" { next } "
    "{ x = $0 } "
    "!l++ { k = /^Package \".*\":$/ } "
    "c == 1 { f = $0; c = 2 } "
    "/^Status:/ { n++; s = ($0 == \"Status: signed by a developer certificate issued by Apple "
    "for distribution\") } "
    "$0 == \"Certificate Chain:\" { c = (c || !n) ? 3 : 1 } "
    "END { p = \"1. Developer ID Installer: \"; e = \" (\" t \")\"; "
    "m = substr(f, length(p) + 1, length(f) - length(p) - length(e)); "
    "exit !(x == \"exit 0\" && k && n == 1 && s && c == 2 && length(t) == 10 && "
    "t !~ /[^A-Z0-9]/ && index(f, p) == 1 && substr(f, length(f) - length(e) + 1) == e && "
    "m ~ /[^ \\t]/) }";

constexpr char kPackageChanged[] =
    "The package was changed after its signature was checked, so it was not installed.";

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

QString installScript(const QString& packagePath, const QString& volume, const QString& team,
                      qint64 size)
{
    if (team.isEmpty()) {
        return doShellScript("/usr/sbin/installer -pkg '" + shellQuoted(packagePath) +
                             "' -target '" + shellQuoted(volume) + "'") +
               " with administrator privileges";
    }
    // The downloaded file stays writable by every program of the user while the password prompt
    // waits, so root copies it into a folder of its own, checks the copy's signature and installs
    // the copy. The copy takes no more than the size the installer saw, so that nothing put in the
    // file's place can keep root reading.
    const QString command =
        QStringLiteral(
            "d=$(/usr/bin/mktemp -d /tmp/corvantis.XXXXXX) || exit 1; p=\"$d/Corvantis.pkg\"; "
            "if /usr/bin/head -c %1 '%2' 2>/dev/null > \"$p\" && "
            "{ /usr/sbin/pkgutil --check-signature \"$p\" 2>&1; echo \"exit $?\"; } | "
            "/usr/bin/awk -v t='%3' '%4'; "
            "then /usr/sbin/installer -pkg \"$p\" -target '%5'; s=$?; "
            "else echo '%6' >&2; s=1; fi; /bin/rm -rf \"$d\"; exit $s")
            .arg(QString::number(qMax<qint64>(size, 0)), shellQuoted(packagePath),
                 shellQuoted(team), QLatin1String(kTeamSignatureCheck), shellQuoted(volume),
                 QLatin1String(kPackageChanged));
    return doShellScript(command) + " with administrator privileges";
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
