#pragma once

#include <QByteArray>
#include <QString>

namespace Corvantis {

// One offered file: its version text and its URL.
struct UpdateEntry
{
    QString version;
    QString file;
};

// What the update server's answer offers, or why it could not be used.
struct UpdateInfo
{
    bool valid = false;
    // The installer package with the greatest version; set when valid.
    UpdateEntry latestInstaller;
    // The log text of the failure; set when not valid.
    const char* failureLogText = nullptr;
};

// Far above any real answer; a longer one is not read to its end and counts as unexpected.
constexpr qint64 kMaxUpdateAnswerSize = 1024 * 1024;

// Reads the JSON array of offered versions that the update check receives.
UpdateInfo readUpdateInfo(const QByteArray& body);

// The answer as the log keeps it: up to its first zero byte, and of a long answer only the
// start, followed by its size; control characters but line feeds and tabs written as \u001B.
QByteArray answerForLog(const QByteArray& body);

} // namespace Corvantis
