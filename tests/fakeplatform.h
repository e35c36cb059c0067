#pragma once

#include "platform.h"

#include <QtCore>

#include <functional>

// A platform whose volumes, receipts and script outcomes the test chooses, and which records
// every call made to it.
class FakePlatform : public Platform
{
public:
    QStringList volumes;
    QHash<QString, QString> receipts; // by mount point
    Corvantis::ScriptOutcome outcome{true, {}, {}};
    Corvantis::ToolOutput signature{true, 0, {}};
    // Runs while a script "executes": where a test plays the system's installer.
    std::function<void(const QString& source)> onScript;
    // When set, runs the scripts for real after onScript, and its outcome counts.
    Platform* scriptRunner = nullptr;
    // Runs once the package tool has given its verdict: where a test plays another program.
    std::function<void(const QString& packagePath)> afterSignature;
    QStringList queriedIdentifiers, scripts, checkedPackages;

    QStringList mountedVolumes() override { return volumes; }

    QString packageReceipt(const QString& packageIdentifier, const QString& mountPoint) override
    {
        queriedIdentifiers << packageIdentifier;
        return receipts.value(mountPoint);
    }

    Corvantis::ScriptOutcome runAppleScript(const QString& source) override
    {
        scripts << source;
        if (onScript)
            onScript(source);
        return scriptRunner ? scriptRunner->runAppleScript(source) : outcome;
    }

    Corvantis::ToolOutput packageSignature(const QString& packagePath) override
    {
        checkedPackages << packagePath;
        if (afterSignature)
            afterSignature(packagePath);
        return signature;
    }
};

// The package tool's verdict on a package signed with the given chain, leaf first.
inline QByteArray signatureVerdict(const QByteArray& status, const QByteArrayList& chain,
                                   const QByteArray& package)
{
    QByteArray text = "Package \"" + package + "\":\n   Status: " + status + "\n";
    if (!chain.isEmpty())
        text += "   Certificate Chain:\n";
    for (int i = 0; i < chain.size(); ++i)
        text += "    " + QByteArray::number(i + 1) + ". " + chain[i] +
                "\n       Expires: 2027-02-01 22:12:15 +0000\n       " + QByteArray(72, '-') + "\n";
    return text + "\n";
}

constexpr char kDistributionStatus[] =
    "signed by a developer certificate issued by Apple for distribution";

// The verdict on a package that the team H4LV3RY001 signed for distribution.
inline QByteArray teamVerdict()
{
    return signatureVerdict(kDistributionStatus,
                            {"Developer ID Installer: Halvery Ltd (H4LV3RY001)"}, "C.pkg");
}
