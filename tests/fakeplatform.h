#pragma once

#include "platform.h"

#include <QByteArrayList>
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

// The package tool's verdict on a package signed with the given chain, leaf first.
inline QByteArray signatureVerdict(const QByteArray& status, const QByteArrayList& chain,
                                   const QByteArray& package)
{
    QByteArray text = "Package \"" + package + "\":\n   Status: " + status + "\n";
    if (chain.isEmpty())
        return text;
    text += "   Notarization: trusted by the Apple notary service\n"
            "   Signed with a trusted timestamp on: 2024-05-02 10:11:12 +0000\n"
            "   Certificate Chain:\n";
    for (int i = 0; i < chain.size(); ++i) {
        text += "    " + QByteArray::number(i + 1) + ". " + chain[i] + "\n";
        text += "       Expires: 2027-02-01 22:12:15 +0000\n"
                "       SHA256 Fingerprint:\n"
                "           5E 0A 9C 31 D7 42 B8 66 0F 1D 93 AE 27 C4 58 E2 7B 10 6D F9 84 3A\n"
                "           C2 55 19 E0 4B 8D 76 A3 F1 2E 09 BC\n";
        if (i + 1 < chain.size())
            text += "       " + QByteArray(72, '-') + "\n";
    }
    return text + "\n";
}
