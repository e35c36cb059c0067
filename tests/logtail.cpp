#include "logtail.h"

#include "corvantis.h"
#include "testenvironment.h"

const QString LogTail::kDatePattern =
    "[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]?\\d \\d\\d:\\d\\d:\\d\\d \\d{4}";

QString LogTail::logPath()
{
    return dataDirectory() + "/" + Corvantis::kLogFileName;
}

QStringList LogTail::messages() const
{
    QFile file(logPath());
    if (!file.open(QIODevice::ReadOnly) || !file.seek(m_start))
        return {};
    // A record starts with a Qt::TextDate time stamp and ":" at the start of a line (the first
    // one may follow the header's blank), and ends with a line break.
    static const QRegularExpression stamp("^ ?" + kDatePattern + ":",
                                          QRegularExpression::MultilineOption);
    QStringList messages = QString::fromLocal8Bit(file.readAll()).split(stamp);
    messages.removeFirst(); // what came before the first record
    for (QString& message : messages)
        message.chop(1);
    return messages;
}
