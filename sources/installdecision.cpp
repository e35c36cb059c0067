#include "installdecision.h"

#include "boxtext.h"

namespace Corvantis {

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

} // namespace Corvantis
