// corvantis-bench-platform osascript | receipt | libs
// "osascript" runs one AppleScript through the system's runner and prints the outcome; "receipt"
// asks the system's receipt tool for the product's receipt on "/" and prints its size; "libs"
// loads the platform library's dependencies and exits, the baseline.

#include "benchtool.h"
#include "corvantis.h"
#include "systemplatform.h"

int main(int argc, char** argv)
{
    BenchTool::quietMessages();
    const QString command = argc == 2 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (command == "osascript") {
        const Corvantis::ScriptOutcome outcome =
            SystemPlatform::instance().runAppleScript(QStringLiteral("do shell script \"true\""));
        std::printf(
            "succeeded: %s, errorNumber: %s, errorMessage: %s\n", outcome.succeeded ? "yes" : "no",
            outcome.errorNumber ? qPrintable(QString::number(*outcome.errorNumber)) : "none",
            outcome.errorMessage ? qPrintable(*outcome.errorMessage) : "none");
        return 0;
    }
    if (command == "receipt") {
        const QString text =
            SystemPlatform::instance().packageReceipt(Corvantis::kPackageIdentifier, "/");
        std::printf("receipt: kept %d characters\n", text.size());
        return 0;
    }
    if (command == "libs")
        return 0;
    std::fprintf(stderr, "usage: corvantis-bench-platform osascript | receipt | libs\n");
    return 2;
}
