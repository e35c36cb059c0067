#include "unzipper.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QtEndian>

#include <cerrno>
#include <unzip.h>

namespace {

constexpr quint64 kChunkSize = 0x40000;

// Compare only the ASCII letters without regard to case, as on the target platform, rather than
// leave it to the build's default.
constexpr int kCaseInsensitive = 2;

constexpr uLong kMethodStored = 0;
constexpr uLong kFlagEncrypted = 0x1;

// The library inflates and checks only stored and deflated entries. Anything else it either
// refuses or, for bzip2 without bzip2 support and for encrypted data opened without a password,
// hands out as the raw bytes with no checksum test, which would be written out as the package.
bool isReadable(const unz_file_info64& info)
{
    return (info.compression_method == kMethodStored || info.compression_method == Z_DEFLATED) &&
           (info.flag & kFlagEncrypted) == 0;
}

constexpr ZPOS64_T kZip64Escape = 0xFFFFFFFF;
constexpr int kZip64ExtraId = 0x0001;

// Builds of the library whose zip64 test compares with (unsigned long)-1 never match on 64-bit
// systems and leave a zip64 member's size at the escape value, as for every member of an
// archive made by zip -fz. Takes the size from the member's zip64 extra field then; true when it
// did, because the library's own count then never reaches zero and it skips the checksum test.
bool takeZip64Size(unzFile archive, unz_file_info64& info)
{
    if (info.uncompressed_size != kZip64Escape)
        return false;
    QByteArray extra(int(info.size_file_extra), '\0');
    if (extra.isEmpty() || unzGetCurrentFileInfo64(archive, nullptr, nullptr, 0, extra.data(),
                                                   uLong(extra.size()), nullptr, 0) != UNZ_OK)
        return false;
    for (int at = 0; at + 4 <= extra.size();) {
        const int size = qFromLittleEndian<quint16>(extra.constData() + at + 2);
        if (at + 4 + size > extra.size())
            return false;
        // The field holds only the escaped values, the uncompressed size first.
        if (qFromLittleEndian<quint16>(extra.constData() + at) == kZip64ExtraId && size >= 8) {
            info.uncompressed_size = qFromLittleEndian<quint64>(extra.constData() + at + 4);
            return info.uncompressed_size != kZip64Escape;
        }
        at += 4 + size;
    }
    return false;
}

} // namespace

Unzipper::Unzipper(QObject* parent) : QObject(parent)
{
}

Unzipper::~Unzipper()
{
    close();
}

bool Unzipper::open(QString path, QString& error)
{
    close();
    archive = unzOpen64(path.toUtf8().constData());
    if (!archive) {
        error = QStringLiteral("Error code 1.");
        return false;
    }
    return true;
}

bool Unzipper::unzip(QString entry, QString directory, QString& error)
{
    if (!archive) {
        error = QStringLiteral("Error code 2.");
        return false;
    }

    int result = unzLocateFile(archive, entry.toUtf8().constData(), kCaseInsensitive);
    if (result != UNZ_OK) {
        error = QStringLiteral("Error code 3 (%1).").arg(result);
        return false;
    }

    unz_file_info64 info{};
    result = unzGetCurrentFileInfo64(archive, &info, nullptr, 0, nullptr, 0, nullptr, 0);
    const bool checkCrcHere = result == UNZ_OK && takeZip64Size(archive, info);
    if (result == UNZ_OK && !isReadable(info))
        result = UNZ_BADZIPFILE;
    if (result == UNZ_OK)
        result = unzOpenCurrentFile(archive);
    if (result != UNZ_OK) {
        error = QStringLiteral("Error code 4 (%1).").arg(result);
        return false;
    }

    if (!QDir().mkpath(directory)) {
        error = QStringLiteral("The directory %1 is not accessible.").arg(directory);
        unzCloseCurrentFile(archive);
        return false;
    }

    const QString path = directory + "/" + entry;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        error = QStringLiteral("Failed to create %1 (%2).").arg(path, file.errorString());
        unzCloseCurrentFile(archive);
        return false;
    }

    QByteArray buffer(int(kChunkSize), '\0');
    quint64 remaining = info.uncompressed_size;
    quint64 written = 0;
    uLong crc = crc32(0L, Z_NULL, 0);
    bool succeeded = true;
    while (remaining != 0) {
        const quint64 chunk = qMin(remaining, kChunkSize);
        // Cleared so that a short read at the end of the file does not report an earlier cause.
        errno = 0;
        const int r = unzReadCurrentFile(archive, buffer.data(), unsigned(chunk));
        const int readErrno = errno;
        if (r == UNZ_ERRNO) {
            error = QStringLiteral("Error code 5 (%1).").arg(readErrno);
            succeeded = false;
            break;
        }
        remaining -= chunk;
        if (r < 0) {
            error = QStringLiteral("Error code 6.");
            succeeded = false;
            break;
        }
        if (r == 0) {
            if (remaining == 0)
                break;
            error = QStringLiteral("Error code 7 (%1)").arg(remaining);
            succeeded = false;
            break;
        }
        // A short write is lost data as much as a failed one.
        if (file.write(buffer.constData(), r) != r) {
            error = QStringLiteral("Error code 8 (%1)").arg(file.errorString());
            succeeded = false;
            break;
        }
        written += quint64(r);
        if (checkCrcHere)
            crc = crc32(crc, reinterpret_cast<const Bytef*>(buffer.constData()), uInt(r));
    }
    // The library stops short without an error when the data end before the stated size, and
    // then skips the checksum test too.
    if (succeeded && written != info.uncompressed_size) {
        error = QStringLiteral("Error code 7 (%1)").arg(info.uncompressed_size - written);
        succeeded = false;
    }

    // Left to us where the size came from the zip64 field.
    if (succeeded && checkCrcHere && crc != info.crc) {
        error = QStringLiteral("Error code 6.");
        succeeded = false;
    }

    // The checksum is only compared here, so this decides before the output is kept.
    if (unzCloseCurrentFile(archive) == UNZ_CRCERROR && succeeded) {
        error = QStringLiteral("Error code 6.");
        succeeded = false;
    }

    // Small chunks stay in QFile's buffer, so a full disk may only show when it is flushed.
    file.close();
    if (succeeded && file.error() != QFileDevice::NoError) {
        error = QStringLiteral("Error code 8 (%1)").arg(file.errorString());
        succeeded = false;
    }
    if (!succeeded)
        file.remove();
    return succeeded;
}

void Unzipper::close()
{
    if (!archive)
        return;
    unzClose(archive);
    archive = nullptr;
}
