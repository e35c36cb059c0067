#pragma once

#include <QtGlobal>

namespace Corvantis {

// The progress bar's value, in thousandths, after a report of the download's progress; at least
// 30 once the total is known, so that a started download shows; the current value until then.
int progressValue(qulonglong received, qulonglong total, int current);

} // namespace Corvantis
