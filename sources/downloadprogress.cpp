#include "downloadprogress.h"

namespace Corvantis {

int progressValue(qulonglong received, qulonglong total, int current)
{
    if (total == 0)
        return current;
    const int thousandths = int(quint32(received * 1000 / total));
    return thousandths > 29 ? thousandths : 30;
}

} // namespace Corvantis
