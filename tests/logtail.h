#pragma once

#include <QtCore>

// The messages written to the install log since the object was made, one per record, without
// their time stamps.
class LogTail
{
public:
    LogTail() : m_start(QFileInfo(logPath()).size()) {}

    static QString logPath(); // the install log's
    // A time stamp as the log writes it (Qt::TextDate), e.g. "Sun Dec 6 21:00:00 2026".
    static const QString kDatePattern;
    QStringList messages() const;

private:
    qint64 m_start = 0;
};
