#pragma once

#include "platform.h"

// The running system's facilities: AppKit and Foundation on macOS; elsewhere Qt's volume list
// and whatever "pkgutil" and "osascript" programs stand first on PATH.
class SystemPlatform : public Platform
{
public:
    static SystemPlatform& instance();

    QStringList mountedVolumes() override;
    QString packageReceipt(const QString& packageIdentifier, const QString& mountPoint) override;
    Corvantis::ScriptOutcome runAppleScript(const QString& source) override;
    Corvantis::ToolOutput packageSignature(const QString& packagePath) override;
};
