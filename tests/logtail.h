#pragma once

#include <QStringList>

// The messages written to the install log since the object was made, one per record, without
// their time stamps.
class LogTail
{
public:
    LogTail();

    static QString logPath();
    QStringList messages() const;

private:
    qint64 m_start = 0;
};
