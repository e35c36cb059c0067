#include "unzipper.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

// The name of the first entry when the input starts with a local file header, so that mutated
// archives keep asking for an entry they hold.
QString firstLocalName(const QByteArray& bytes)
{
    constexpr int kHeaderSize = 30;
    if (bytes.size() < kHeaderSize || !bytes.startsWith("PK\x03\x04"))
        return QString();
    const int length = quint8(bytes.at(26)) | (quint8(bytes.at(27)) << 8);
    return QString::fromUtf8(bytes.mid(kHeaderSize, length));
}

// The unzipper writes to directory + "/" + entry as given; the installer only asks for the name
// of its download with another suffix. Names that would climb out of the scratch folder, or that
// the file system cannot hold, are not asked for here.
bool isAskable(const QString& entry)
{
    return !entry.startsWith('/') && !entry.contains(QLatin1String("..")) &&
           !entry.contains(QChar(0));
}

struct Scratch
{
    QTemporaryDir root;
    QString archivePath;
    QString outputPath;
    Scratch()
    {
        if (!root.isValid())
            abort();
        archivePath = root.filePath(QStringLiteral("download.zip"));
        outputPath = root.filePath(QStringLiteral("out"));
    }
};

} // namespace

// A downloaded archive: open it, extract the package and the first entry it names.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Scratch scratch;

    const QByteArray bytes(reinterpret_cast<const char*>(data), int(size));
    {
        QFile archive(scratch.archivePath);
        if (!archive.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            archive.write(bytes) != bytes.size())
            abort();
    }

    Unzipper unzipper;
    QString error;
    if (unzipper.open(scratch.archivePath, error)) {
        bool allExtracted = true;
        const QString named = firstLocalName(bytes);
        for (const QString& entry : {QStringLiteral("Setup.pkg"), named}) {
            if (entry.isNull() || !isAskable(entry))
                continue;
            // Each extraction starts from an empty folder, so the disk does not fill up either.
            QDir(scratch.outputPath).removeRecursively();
            error.clear();
            const bool extracted = unzipper.unzip(entry, scratch.outputPath, error);
            // Success leaves the file; every failure has a text for the error box and leaves no
            // partial file behind.
            if (extracted != error.isEmpty())
                abort();
            const QFileInfo output(scratch.outputPath + "/" + entry);
            if (extracted ? !output.isFile() : output.exists() && !output.isDir())
                abort();
            allExtracted = allExtracted && extracted;
        }
        // As in the installer, which closes only after a successful extraction and otherwise
        // leaves the archive to the unzipper's end.
        if (allExtracted)
            unzipper.close();
    } else if (error.isEmpty()) {
        abort();
    }
    QDir(scratch.outputPath).removeRecursively();
    return 0;
}
