#include "receipt.h"

QString getValue(QString text, QString key)
{
    const int found = text.indexOf(key, 0, Qt::CaseSensitive);
    if (found < 0)
        return QString();
    const int start = found + key.size() + 1;
    if (start >= text.size())
        return QString();
    int end = text.indexOf('\n', start);
    if (end < 0)
        end = text.size();
    return text.mid(start, end - start).trimmed();
}
