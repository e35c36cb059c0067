// corvantis-bench-archive unzip <archive> <entry> <directory>
// corvantis-bench-archive open <archive> | libs
// Runs one extraction with the installer's own unzipper and exits 0 on success, 1 on failure
// with the error on standard error. It links the archive library only, so that what it costs is
// what the installer's extraction costs. The baselines: "libs" loads those libraries and exits,
// "open" also opens the archive as a Qt file, which brings in Qt's file system and text codecs.

#include "benchtool.h"
#include "unzipper.h"

#include <QFile>
#include <QStringList>

int main(int argc, char** argv)
{
    BenchTool::quietMessages();
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args.append(QString::fromLocal8Bit(argv[i]));
    // Extraction is synchronous and needs no application object or event loop.
    if (args.size() == 4 && args[0] == "unzip") {
        Unzipper unzipper;
        QString error;
        if (!unzipper.open(args[1], error) || !unzipper.unzip(args[2], args[3], error))
            return BenchTool::fail(error);
        unzipper.close();
        return 0;
    }
    if (args.size() == 1 && args[0] == "libs")
        return 0;
    if (args.size() == 2 && args[0] == "open")
        return QFile(args[1]).open(QIODevice::ReadOnly) ? 0 : BenchTool::fail(args[1]);
    std::fprintf(stderr, "usage: corvantis-bench-archive unzip <archive> <entry> <directory>\n"
                         "       corvantis-bench-archive open <archive> | libs\n");
    return 2;
}
