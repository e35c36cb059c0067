#pragma once

#include "applescripts.h"
#include "packagesignature.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace Corvantis {

// An installation of the product that a volume scan confirmed.
struct Installation
{
    QString volume; // ends in "/"
    QString version;
};

} // namespace Corvantis

// The operating system's facilities the installer needs: the mounted volumes, the package
// receipt database, package signatures and AppleScript. The shipped program uses SystemPlatform;
// tests hand the window a fake. What the installer asks of them, built on the four facilities,
// is the same on every system and is logged step by step.
class Platform
{
public:
    virtual ~Platform() = default;

    // Mount points of the mounted, non-hidden volumes, in the system's order.
    virtual QStringList mountedVolumes() = 0;
    // The receipt text for the package on the volume; empty when there is none.
    virtual QString packageReceipt(const QString& packageIdentifier, const QString& mountPoint) = 0;
    // Runs the script to its end, however long that takes.
    virtual Corvantis::ScriptOutcome runAppleScript(const QString& source) = 0;
    // The package tool's verdict on the signature of a flat package ("--check-signature").
    virtual Corvantis::ToolOutput packageSignature(const QString& packagePath) = 0;

    // The highest installed version of the product on any volume, by its receipt, confirmed by
    // the product's executable; of equal versions, the one scanned last.
    std::optional<Corvantis::Installation> installedProduct();
    // Runs the script; if it fails, the text to show, as scriptSucceeded() gives it.
    bool runScript(const QString& source, QString& error);
    // Whether the package tool says that the team signed the package.
    bool isSignedBy(const QString& packagePath, const QString& team);
};
