#include "diskspace.h"

#include <QLocale>
#include <QStorageInfo>

namespace Corvantis {

bool hasRoomFor(const QString& directory, qint64 bytes, QString& error)
{
    const qint64 free = QStorageInfo(directory).bytesAvailable();
    if (free < 0 || bytes <= free)
        return true;
    // In the decimal units the system's own file browser uses.
    const QLocale locale = QLocale::c();
    error = QString("There is not enough free disk space: %1 is needed, but only %2 is free.")
                .arg(locale.formattedDataSize(bytes, 1, QLocale::DataSizeSIFormat),
                     locale.formattedDataSize(free, 1, QLocale::DataSizeSIFormat));
    return false;
}

} // namespace Corvantis
