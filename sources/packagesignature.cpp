#include "packagesignature.h"

#include <QStringList>
#include <QTextCodec>

namespace {

const QLatin1String
    kDistributionStatus("signed by a developer certificate issued by Apple for distribution");
const QLatin1String kStatusKey("Status:");
const QLatin1String kChainHeading("Certificate Chain:");
const QLatin1String kFirstCertificate("1. Developer ID Installer: ");

bool isTeamIdentifier(const QString& team)
{
    if (team.size() != 10)
        return false;
    for (const QChar c : team) {
        const ushort u = c.unicode();
        if (!((u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9')))
            return false;
    }
    return true;
}

} // namespace

namespace Corvantis {

bool isSignedByTeam(const ToolOutput& result, const QString& team)
{
    if (!result.finished || result.exitCode != 0 || !isTeamIdentifier(team))
        return false;

    QTextCodec::ConverterState state;
    const QString text = QTextCodec::codecForName("UTF-8")->toUnicode(result.output.constData(),
                                                                      result.output.size(), &state);
    if (state.invalidChars > 0 || state.remainingChars > 0)
        return false;

    // The output may be cut at a bound: a last line without its line feed is not read.
    QStringList lines = text.split('\n');
    lines.removeLast();
    for (QString& line : lines)
        line = line.trimmed();
    lines.removeAll(QString());
    if (lines.isEmpty() || !lines.first().startsWith(QLatin1String("Package \"")) ||
        !lines.first().endsWith(QLatin1String("\":")))
        return false;

    // A package name with line breaks in it could imitate the verdict; a second status or
    // chain then gives it away.
    int status = -1;
    int chain = -1;
    for (int i = 1; i < lines.size(); ++i) {
        if (lines[i].startsWith(kStatusKey)) {
            if (status >= 0)
                return false;
            status = i;
        } else if (lines[i] == kChainHeading) {
            if (chain >= 0)
                return false;
            chain = i;
        }
    }
    if (status < 0 || chain < status || chain + 1 >= lines.size())
        return false;
    if (lines[status].mid(kStatusKey.size()).trimmed() != kDistributionStatus)
        return false;

    // Only the signing certificate itself names the team; the rest of the chain is Apple's.
    const QString& first = lines[chain + 1];
    const QString ending = QLatin1String(" (") + team + QLatin1Char(')');
    if (!first.startsWith(kFirstCertificate) || !first.endsWith(ending))
        return false;
    const int nameLength = first.size() - kFirstCertificate.size() - ending.size();
    return nameLength > 0 && !first.mid(kFirstCertificate.size(), nameLength).trimmed().isEmpty();
}

} // namespace Corvantis
