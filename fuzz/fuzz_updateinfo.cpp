#include "updateinfo.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

// The update server's answer, whatever bytes it is.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // A copy, as the downloader hands it over: owned and zero-terminated.
    const QByteArray body(reinterpret_cast<const char*>(data), int(size));
    const UpdateInfo info = readUpdateInfo(body);

    // The caller downloads the latest installer of a valid answer and logs the text of any other.
    if (info.valid == (info.failureLogText != nullptr))
        abort();
    if (info.valid &&
        (info.latestInstaller.version.isEmpty() || info.latestInstaller.file.isEmpty()))
        abort();
    // What the log keeps of it is bounded, and a whole answer that fits is kept as it is.
    const QByteArray logged = answerForLog(body);
    const QByteArray text(body.constData());
    if (logged.size() > 64 * 1024 + 100 || (text.size() <= 64 * 1024 && logged != text))
        abort();
    return 0;
}
