#include "platform.h"

#include <QDebug>
#include <QFileInfo>
#include <QMap>

#include "corvantis.h"
#include "receipt.h"
#include "versionnumber.h"

using namespace Corvantis;

std::optional<Installation> Platform::installedProduct()
{
    // Keyed by integer version; an installation scanned later replaces one of equal version.
    QMap<int, Installation> candidates;
    const QStringList mountPoints = mountedVolumes();
    for (const QString& mountPoint : mountPoints) {
        qDebug() << "Scanning volume " << mountPoint.toUtf8().constData();
        const QString receipt = packageReceipt(kPackageIdentifier, mountPoint);
        if (receipt.isEmpty())
            continue;

        const QString foundVersion = getValue(receipt, "version");
        QString foundVolume = getValue(receipt, "volume");
        if (!foundVolume.endsWith('/'))
            foundVolume += '/';
        qDebug() << "Found Corvantis version " << foundVersion << " at " << foundVolume;

        // The receipt alone is not enough: the product may have been deleted since.
        const QString executable = foundVolume + kProductExecutable;
        if (QFileInfo::exists(executable)) {
            candidates.insert(version_string2int(foundVersion), {foundVolume, foundVersion});
            qDebug() << "And found " << executable;
        } else {
            qDebug() << "But didn't found Corvantis itself";
        }
    }
    if (candidates.isEmpty())
        return std::nullopt;
    return candidates.last();
}

bool Platform::runScript(const QString& source, QString& error)
{
    qDebug() << "About to launch the script: '" << source.toUtf8().constData() << "'";
    return scriptSucceeded(runAppleScript(source), error);
}

bool Platform::isSignedBy(const QString& packagePath, const QString& team)
{
    const ToolOutput verdict = packageSignature(packagePath);
    const bool signedByTeam = isSignedByTeam(verdict, team);
    QByteArray output = verdict.output;
    output.replace('\0', ' ');
    qDebug() << "Signature check of " << packagePath.toUtf8().constData()
             << (signedByTeam ? ": signed by " : ": not signed by ") << team.toUtf8().constData()
             << ", the tool said:\n"
             << output.constData();
    return signedByTeam;
}
