#pragma once

#include <QString>

namespace Corvantis {

// Text from outside (the server, the network, the archive, the system installer) as it goes into
// a box: at most 300 characters and 8 lines, ended by an ellipsis when cut.
QString shortened(const QString& text);

} // namespace Corvantis
