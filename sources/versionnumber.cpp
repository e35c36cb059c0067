#include "versionnumber.h"

#include <QStringList>

int version_string2int(QString version)
{
    const QStringList parts = version.split('.', Qt::KeepEmptyParts, Qt::CaseSensitive);

    // 1000 to the power of (parts - 1), cut to its low 32 bits. From eight parts on the power
    // no longer fits in 64 bits and the weight is 0; computing it in integers avoids the
    // undefined conversion of such a double.
    quint64 power = 1;
    for (int i = 1; i < parts.size() && power != 0; ++i)
        power = i < 7 ? power * 1000 : 0;
    quint32 weight = quint32(power);

    quint32 sum = 0;
    for (const QString& part : parts) {
        bool ok = false;
        const quint32 value = part.toUInt(&ok, 10);
        sum += (ok ? value : 0) * weight;
        weight /= 1000;
    }
    return int(sum);
}
