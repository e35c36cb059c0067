#include "diskspace.h"

#include <QFile>
#include <QLocale>

#include <sys/statvfs.h>

namespace Corvantis {

bool hasRoomFor(const QString& directory, qint64 bytes, QString& error)
{
    // The system's own call rather than QStorageInfo, which reads and parses the whole mount
    // table to answer the same question.
    struct statvfs volume = {};
    if (statvfs(QFile::encodeName(directory).constData(), &volume) != 0)
        return true;
    const qint64 free = qint64(volume.f_bavail) * qint64(volume.f_frsize);
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
