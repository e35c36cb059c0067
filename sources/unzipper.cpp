#include "unzipper.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QtEndian>

#include <cerrno>
#include <limits>
#include <unzip.h>

#include "diskspace.h"

namespace {

constexpr quint64 kChunkSize = 0x40000;

// Compare only the ASCII letters without regard to case, as on the target platform, rather than
// leave it to the build's default.
constexpr int kCaseInsensitive = 2;

constexpr uLong kMethodStored = 0;
constexpr uLong kFlagEncrypted = 0x1;
// Systems whose archivers keep a Unix file mode in the high half of the external attributes.
constexpr uLong kHostUnix = 3;
constexpr uLong kHostMacOS = 19;
constexpr uLong kFileType = 0170000;
constexpr uLong kRegularFile = 0100000;
constexpr uLong kDosDirectory = 0x10;

// A link, folder or device entry would be written out as a file holding the link's target or
// nothing, and handed on as the package.
bool isRegularFile(const unz_file_info64& info)
{
    const uLong host = info.version >> 8;
    const uLong type = (info.external_fa >> 16) & kFileType;
    if ((host == kHostUnix || host == kHostMacOS) && type != 0)
        return type == kRegularFile;
    return (info.external_fa & kDosDirectory) == 0;
}

// The library inflates and checks only stored and deflated entries. Anything else it either
// refuses or, for bzip2 without bzip2 support and for encrypted data opened without a password,
// hands out as the raw bytes with no checksum test, which would be written out as the package.
bool isReadable(const unz_file_info64& info)
{
    return (info.compression_method == kMethodStored || info.compression_method == Z_DEFLATED) &&
           (info.flag & kFlagEncrypted) == 0 && isRegularFile(info);
}

constexpr ZPOS64_T kZip64Escape = 0xFFFFFFFF;
constexpr int kZip64ExtraId = 0x0001;

// Builds of the library whose zip64 test compares with (unsigned long)-1 never match on 64-bit
// systems and leave a zip64 member's sizes at the escape value, as for every member of an
// archive made by zip -fz. Takes them from the member's zip64 extra field then; true when it took
// the uncompressed size, because the library's own count then never reaches zero and it skips
// the checksum test.
bool takeZip64Sizes(unzFile archive, unz_file_info64& info)
{
    const bool uncompressed = info.uncompressed_size == kZip64Escape;
    const bool compressed = info.compressed_size == kZip64Escape;
    if (!uncompressed && !compressed)
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
        if (qFromLittleEndian<quint16>(extra.constData() + at) == kZip64ExtraId) {
            const char* value = extra.constData() + at + 4;
            const char* const end = value + size;
            if (uncompressed) {
                if (value + 8 > end)
                    return false;
                info.uncompressed_size = qFromLittleEndian<quint64>(value);
                value += 8;
            }
            if (compressed && value + 8 <= end)
                info.compressed_size = qFromLittleEndian<quint64>(value);
            return uncompressed && info.uncompressed_size != kZip64Escape;
        }
        at += 4 + size;
    }
    return false;
}

// A short write is retried, so that a disk that fills up partway through a chunk is reported by
// the system with its cause instead of as a short count without one.
bool writeAll(QFile& file, const char* data, qint64 size)
{
    while (size > 0) {
        const qint64 written = file.write(data, size);
        if (written <= 0)
            return false;
        data += written;
        size -= written;
    }
    return true;
}

// For a member beyond what the library counts (see takeZip64Sizes): reads its data straight from
// the archive file at `start`, stored data as they are and deflated data through zlib, and writes
// at most the stated size, adding to `written` and `crc`. Data that end early stop the copy
// without an error; the caller's size test reports them.
bool copyDirect(const QString& archivePath, quint64 start, const unz_file_info64& info,
                QByteArray& buffer, QFile& file, quint64& written, uLong& crc, QString& error)
{
    QFile source(archivePath);
    quint64 compressedLeft = info.compressed_size;
    // Takes exactly `size` more bytes of the member's data.
    const auto read = [&](char* to, quint64 size) {
        errno = 0;
        if (source.read(to, qint64(size)) == qint64(size)) {
            compressedLeft -= size;
            return true;
        }
        error = QStringLiteral("Error code 5 (%1).").arg(errno);
        return false;
    };
    errno = 0;
    if (!source.open(QIODevice::ReadOnly | QIODevice::Unbuffered) || !source.seek(qint64(start))) {
        error = QStringLiteral("Error code 5 (%1).").arg(errno);
        return false;
    }

    const bool stored = info.compression_method == kMethodStored;
    QByteArray input;
    z_stream stream{};
    if (!stored) {
        input.resize(int(kChunkSize));
        if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) {
            error = QStringLiteral("Error code 6.");
            return false;
        }
    }
    bool succeeded = true;
    bool ended = false;
    while (succeeded && !ended && written < info.uncompressed_size) {
        const quint64 wanted = qMin(info.uncompressed_size - written, kChunkSize);
        quint64 produced = 0;
        if (stored) {
            produced = qMin(wanted, compressedLeft);
            ended = produced == 0;
            succeeded = ended || read(buffer.data(), produced);
        } else {
            if (stream.avail_in == 0 && compressedLeft != 0) {
                const quint64 size = qMin(compressedLeft, kChunkSize);
                if (!read(input.data(), size)) {
                    succeeded = false;
                    break;
                }
                stream.next_in = reinterpret_cast<Bytef*>(input.data());
                stream.avail_in = uInt(size);
            }
            stream.next_out = reinterpret_cast<Bytef*>(buffer.data());
            stream.avail_out = uInt(wanted);
            const int status = inflate(&stream, Z_NO_FLUSH);
            produced = wanted - stream.avail_out;
            // Output room is never lacking, so a buffer error means the input is used up.
            ended = status == Z_STREAM_END || status == Z_BUF_ERROR;
            if (!ended && status != Z_OK) {
                error = QStringLiteral("Error code 6.");
                succeeded = false;
                break;
            }
        }
        if (succeeded && produced != 0) {
            if (!writeAll(file, buffer.constData(), qint64(produced))) {
                error = QStringLiteral("Error code 8 (%1)").arg(file.errorString());
                succeeded = false;
                break;
            }
            crc = crc32(crc, reinterpret_cast<const Bytef*>(buffer.constData()), uInt(produced));
            written += produced;
        }
    }
    if (!stored)
        inflateEnd(&stream);
    return succeeded;
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
    archivePath = path;
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
    const bool escaped =
        info.uncompressed_size == kZip64Escape || info.compressed_size == kZip64Escape;
    const bool sizeTaken = result == UNZ_OK && takeZip64Sizes(archive, info);
    // The library then stops at its escaped count, so the member is read here, past the library.
    const bool direct = result == UNZ_OK && escaped &&
                        qMax(info.uncompressed_size, info.compressed_size) > kZip64Escape;
    const bool checkCrcHere = sizeTaken || direct;
    if (result == UNZ_OK && !isReadable(info))
        result = UNZ_BADZIPFILE;
    if (result == UNZ_OK)
        result = unzOpenCurrentFile(archive);
    if (result != UNZ_OK) {
        error = QStringLiteral("Error code 4 (%1).").arg(result);
        return false;
    }
    // Where the member's data begin, the local header checked; nothing has been read yet.
    const quint64 dataStart = direct ? unzGetCurrentFileZStreamPos64(archive) : 0;

    if (!QDir().mkpath(directory)) {
        error = QStringLiteral("The directory %1 is not accessible.").arg(directory);
        unzCloseCurrentFile(archive);
        return false;
    }
    // A stated size that cannot fit would fill the disk before the data could be found wrong.
    const quint64 size = qMin<quint64>(info.uncompressed_size, std::numeric_limits<qint64>::max());
    if (!Corvantis::hasRoomFor(directory, qint64(size), error)) {
        unzCloseCurrentFile(archive);
        return false;
    }

    const QString path = directory + "/" + entry;
    QFile file(path);
    // Unbuffered: every chunk is larger than QFile's buffer anyway, and a full disk then shows at
    // the write that hit it, with the system's cause.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        error = QStringLiteral("Failed to create %1 (%2).").arg(path, file.errorString());
        unzCloseCurrentFile(archive);
        return false;
    }

    QByteArray buffer(int(kChunkSize), '\0');
    quint64 remaining = direct ? 0 : info.uncompressed_size;
    quint64 written = 0;
    uLong crc = crc32(0L, Z_NULL, 0);
    bool succeeded = true;
    if (direct)
        succeeded = copyDirect(archivePath, dataStart, info, buffer, file, written, crc, error);
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
        if (!writeAll(file, buffer.constData(), r)) {
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

    // Some file systems report a failed write only when the file is closed.
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
