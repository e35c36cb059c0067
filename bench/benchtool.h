#pragma once

#include <QString>
#include <QtGlobal>

#include <cstdio>

// What the three benchmark programs share: their errors on standard error, the installer's
// debug lines kept off the terminal.
namespace BenchTool {

inline int fail(const QString& error)
{
    std::fprintf(stderr, "error: %s\n", qPrintable(error));
    return 1;
}

inline void quietMessages()
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
}

} // namespace BenchTool
