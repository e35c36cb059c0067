#include <QtGlobal>

#include <cstddef>
#include <cstdint>

// Millions of runs would otherwise bury libFuzzer's own report under Qt's messages.
static void dropMessage(QtMsgType, const QMessageLogContext&, const QString&)
{
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    qInstallMessageHandler(dropMessage);
    return 0;
}
