#pragma once

#include <QString>
#include <QtGlobal>

namespace Corvantis {

// Whether `bytes` more fit on the volume that holds the directory; if not, sets the text that
// says how much is needed and how much is free. A volume whose free space cannot be read counts
// as having room, and the writing reports what goes wrong.
bool hasRoomFor(const QString& directory, qint64 bytes, QString& error);

} // namespace Corvantis
