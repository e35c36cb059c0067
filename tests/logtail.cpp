#include "logtail.h"

#include "corvantis.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

const QString LogTail::kDatePattern =
    "[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]?\\d \\d\\d:\\d\\d:\\d\\d \\d{4}";

LogTail::LogTail() : m_start(QFileInfo(logPath()).size())
{
}

QString LogTail::logPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::DataLocation) + "/" +
           Corvantis::kLogFileName;
}

QStringList LogTail::messages() const
{
    QFile file(logPath());
    if (!file.open(QIODevice::ReadOnly) || !file.seek(m_start))
        return {};
    const QString text = QString::fromLocal8Bit(file.readAll());

    // A record starts with a Qt::TextDate time stamp and ":" at the start of a line (the first
    // one may follow the header's blank).
    static const QRegularExpression stamp("^ ?" + kDatePattern + ":",
                                          QRegularExpression::MultilineOption);
    QStringList messages;
    QRegularExpressionMatchIterator it = stamp.globalMatch(text);
    int messageStart = -1;
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        if (messageStart >= 0)
            messages << text.mid(messageStart, match.capturedStart() - 1 - messageStart);
        messageStart = match.capturedEnd();
    }
    if (messageStart >= 0)
        messages << text.mid(messageStart, text.size() - 1 - messageStart);
    return messages;
}
