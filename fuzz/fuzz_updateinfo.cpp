#include "updateinfo.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace Corvantis;

// C0 controls but line feed and tab, DEL, and C1 controls in UTF-8.
static bool hasControls(const QByteArray& text)
{
    for (int i = 0; i < text.size(); ++i) {
        const uchar c = uchar(text.at(i));
        if ((c < 0x20 && c != '\n' && c != '\t') || c == 0x7F ||
            (c == 0xC2 && i + 1 < text.size() && (uchar(text.at(i + 1)) & 0xE0) == 0x80))
            return true;
    }
    return false;
}

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
    // What the log keeps of it is bounded, holds no control character but line feeds and tabs,
    // and a whole answer that fits and holds none is kept as it is.
    const QByteArray logged = answerForLog(body);
    const QByteArray text(body.constData());
    if (logged.size() > 6 * 64 * 1024 + 100 || hasControls(logged) ||
        (text.size() <= 64 * 1024 && !hasControls(text) && logged != text))
        abort();
    return 0;
}
