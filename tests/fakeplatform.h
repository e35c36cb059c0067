#pragma once

#include "platform.h"

#include <QHash>
#include <QStringList>

#include <functional>

// A platform whose volumes, receipts and script outcomes the test chooses, and which records
// every call made to it.
class FakePlatform : public Platform
{
public:
    QStringList volumes;
    QHash<QString, QString> receipts; // by mount point
    ScriptOutcome outcome{true, {}, {}};
    ToolOutput signature{true, 0, {}};
    // Runs while a script "executes", before the outcome is returned: the place where a test
    // plays the system's installer.
    std::function<void(const QString& source)> onScript;

    QStringList queriedVolumes;
    QStringList queriedIdentifiers;
    QStringList scripts;
    QStringList checkedPackages;

    QStringList mountedVolumes() override { return volumes; }

    QString packageReceipt(const QString& packageIdentifier, const QString& mountPoint) override
    {
        queriedIdentifiers << packageIdentifier;
        queriedVolumes << mountPoint;
        return receipts.value(mountPoint);
    }

    ScriptOutcome runAppleScript(const QString& source) override
    {
        scripts << source;
        if (onScript)
            onScript(source);
        return outcome;
    }

    ToolOutput packageSignature(const QString& packagePath) override
    {
        checkedPackages << packagePath;
        return signature;
    }
};
