#include "applescripts.h"

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

namespace Corvantis {

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
            .arg(QString::number(size), shellQuoted(packagePath), shellQuoted(team),
                 QLatin1String(kTeamSignatureCheck), shellQuoted(volume),
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

} // namespace Corvantis
