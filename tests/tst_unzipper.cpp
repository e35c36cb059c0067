#include "testenvironment.h"
#include "unzipper.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <zip.h>

namespace {

constexpr int kChunk = 262144;
const QByteArray kGood = "the archive is still usable\n";
using Files = QList<QPair<QString, QByteArray>>;

const char* const kPythonZip = "import sys, zipfile\n"
                               "with zipfile.ZipFile(sys.argv[2], 'w', int(sys.argv[1])) as z:\n"
                               "    for name in sys.argv[3:]: z.write(name)\n";

// How each kind of archive is made: the program, then its arguments; "@" stands for the archive,
// which is read from standard output where there is none. The names to pack follow.
const QHash<QString, QStringList> kTools = {
    {"zip stored", {"zip", "-q", "-X", "-0", "@"}},
    {"zip deflated", {"zip", "-q", "-X", "-9", "@"}},
    // Into a pipe zip cannot seek back, so the sizes go into data descriptors.
    {"zip streamed", {"zip", "-q", "-X", "-"}},
    {"zip zip64", {"zip", "-q", "-X", "-fz", "@"}},
    // ".txt" files stored, so that good.txt stays readable.
    {"zip bzip2", {"zip", "-q", "-X", "-Z", "bzip2", "-n", ".txt", "@"}},
    {"zip encrypted", {"zip", "-q", "-X", "-P", "secret", "@"}},
    {"python stored", {"python3", "-c", kPythonZip, "0", "@"}},
    {"python deflated", {"python3", "-c", kPythonZip, "8", "@"}},
    {"bsdtar", {"bsdtar", "--format", "zip", "-cf", "@"}},
    {"7z", {"7z", "a", "-bd", "-tzip", "-mx=9", "@"}},
};

// Noise and text in turn, so that the compressor emits blocks of both kinds.
QByteArray sample(int size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray data;
    while (data.size() < size) {
        if (random.bounded(2))
            data += QByteArray::number(random.generate()).repeated(random.bounded(1, 3000));
        else
            for (int i = random.bounded(1, 20000); i > 0; --i)
                data += char(random.bounded(256));
    }
    data.resize(size);
    return data;
}

// Broken symbolic links included.
QStringList entriesOf(const QString& directory)
{
    return QDir(directory).entryList(QDir::AllEntries | QDir::System | QDir::Hidden |
                                     QDir::NoDotAndDotDot);
}

int openDescriptors()
{
    return QDir("/proc/self/fd").entryList(QDir::AllEntries | QDir::System).size();
}

quint16 get16(const QByteArray& zip, int at)
{
    return qFromLittleEndian<quint16>(zip.constData() + at);
}

quint32 get32(const QByteArray& zip, int at)
{
    return qFromLittleEndian<quint32>(zip.constData() + at);
}

void add32(QByteArray& zip, int at, qint64 change)
{
    qToLittleEndian<quint32>(quint32(get32(zip, at) + change), zip.data() + at);
}

// The first member's local header is at 0; its central header is found by the name.
int centralHeader(const QByteArray& zip, const QByteArray& name)
{
    for (int at = zip.indexOf("PK\1\2"); at >= 0; at = zip.indexOf("PK\1\2", at + 1)) {
        if (zip.mid(at + 46, name.size()) == name)
            return at;
    }
    return -1;
}

// A zip64 archive, made in a moment, holding "Setup.pkg" of `size` zeros, a whole number of MiB,
// then good.txt. Each MiB is deflated on its own, so the same kilobyte of data stands for every
// one of them; `damaged` makes the data start with an invalid block.
bool writeZerosZip(const QString& path, quint64 size, bool damaged)
{
    const QByteArray zeros(1 << 20, '\0');
    QByteArray mib(zeros.size(), '\0');
    z_stream stream{};
    if (deflateInit2(&stream, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_RLE) != Z_OK)
        return false;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.constData()));
    stream.avail_in = uInt(zeros.size());
    stream.next_out = reinterpret_cast<Bytef*>(mib.data());
    stream.avail_out = uInt(mib.size());
    const bool deflated = deflate(&stream, Z_SYNC_FLUSH) == Z_OK && stream.avail_in == 0;
    mib.resize(mib.size() - int(stream.avail_out));
    deflateEnd(&stream);
    const uLong crcOfMib = crc32(0, reinterpret_cast<const Bytef*>(zeros.constData()), 1 << 20);

    zipFile zip = zipOpen64(QFile::encodeName(path).constData(), APPEND_STATUS_CREATE);
    if (!zip)
        return false;
    bool ok = deflated && zipOpenNewFileInZip2_64(zip, "Setup.pkg", nullptr, nullptr, 0, nullptr, 0,
                                                  nullptr, Z_DEFLATED, 9, 1, 1) == ZIP_OK;
    if (damaged)
        ok = ok && zipWriteInFileInZip(zip, QByteArray(32, '\xff').constData(), 32) == ZIP_OK;
    uLong crc = crc32(0, Z_NULL, 0);
    for (quint64 done = 0; ok && done < size; done += 1 << 20) {
        ok = zipWriteInFileInZip(zip, mib.constData(), unsigned(mib.size())) == ZIP_OK;
        crc = crc32_combine(crc, crcOfMib, 1 << 20);
    }
    // An empty final block.
    ok = ok && zipWriteInFileInZip(zip, "\x03\x00", 2) == ZIP_OK &&
         zipCloseFileInZipRaw64(zip, size, crc) == ZIP_OK &&
         zipOpenNewFileInZip64(zip, "good.txt", nullptr, nullptr, 0, nullptr, 0, nullptr,
                               Z_DEFLATED, 9, 1) == ZIP_OK &&
         zipWriteInFileInZip(zip, kGood.constData(), unsigned(kGood.size())) == ZIP_OK &&
         zipCloseFileInZip(zip) == ZIP_OK;
    return zipClose(zip, nullptr) == ZIP_OK && ok;
}

// Empty when good.txt still comes out whole, that is, the archive is still open and usable.
QString extractGood(Unzipper& unzipper, const QString& directory)
{
    QString error;
    if (!unzipper.unzip("good.txt", directory, error))
        return error;
    return readFile(directory + "/good.txt") == kGood ? QString() : "good.txt differs";
}

} // namespace

// Packs the files with the tool of `kind` into `archive`, with `target` beside it as the place to
// extract to; skips the case when the tool is missing.
#define PACK(kind, files)                                                                          \
    const QString archive = pack(kind, files);                                                     \
    if (archive == "skip")                                                                         \
        QSKIP(qPrintable(kTools.value(kind).value(0) + " is not installed"));                      \
    QVERIFY2(QFile::exists(archive), qPrintable(archive));                                         \
    const QString target = QFileInfo(archive).path() + "/out"

class TestUnzipper : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_temporary;
    int m_serial = 0;

    // The archive path, "skip" without the tool, or the tool's complaint. Made below a folder with
    // a non-ASCII name, so that every path is handed over as UTF-8.
    QString pack(const QString& kind, const Files& files)
    {
        QStringList arguments = kTools.value(kind);
        const QString program = arguments.takeFirst();
        if (QStandardPaths::findExecutable(program).isEmpty())
            return "skip";
        const QString directory = m_temporary.path() + "/Ünï/" + QString::number(++m_serial);
        const QString archive = directory + "/archive.zip";
        for (const auto& file : files) {
            QDir(directory).mkpath(QFileInfo(file.first).path());
            if (!writeFile(directory + "/" + file.first, file.second))
                return "cannot write " + file.first;
            arguments << file.first;
        }
        const int at = arguments.indexOf("@");
        if (at >= 0)
            arguments[at] = archive;
        QProcess process;
        process.setWorkingDirectory(directory);
        process.start(program, arguments);
        if (!process.waitForFinished(300000) || process.exitStatus() != QProcess::NormalExit ||
            process.exitCode() != 0)
            return program + " failed: " + process.readAllStandardError();
        if (at < 0 && !writeFile(archive, process.readAllStandardOutput()))
            return "cannot write " + archive;
        return archive;
    }

private slots:
    void initTestCase() { QVERIFY(m_temporary.isValid()); }

    void extractsByteForByte_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("descriptor");
        QTest::addColumn<bool>("zip64");

        QTest::newRow("zip stored") << "zip stored" << false << false;
        QTest::newRow("zip deflated") << "zip deflated" << false << false;
        QTest::newRow("zip streamed") << "zip streamed" << true << false;
        QTest::newRow("zip zip64") << "zip zip64" << false << true;
        QTest::newRow("python zipfile") << "python deflated" << false << false;
        QTest::newRow("bsdtar") << "bsdtar" << true << false;
        QTest::newRow("7z") << "7z" << false << false;
    }

    void extractsByteForByte()
    {
        QFETCH(QString, kind);
        QFETCH(bool, descriptor);
        QFETCH(bool, zip64);

        // Several turns of the copy loop, exactly one, and none.
        const Files files = {{"large.pkg", sample(3 * kChunk + 12345, 1)},
                             {"exact.pkg", sample(kChunk, 2)},
                             {"empty.pkg", QByteArray()}};
        PACK(kind, files);
        // The tool really wrote what the row is about.
        const QByteArray zip = readFile(archive);
        QCOMPARE(bool(zip.at(6) & 0x8), descriptor);
        QCOMPARE(get32(zip, 22) == 0xFFFFFFFF, zip64);

        Unzipper unzipper;
        QString error = "untouched";
        QVERIFY2(unzipper.open(archive, error), qPrintable(error));
        QVERIFY(QDir().mkpath(target));
        for (const auto& file : files) {
            // Whatever was there before, longer than the entry, is replaced.
            QVERIFY(writeFile(target + "/" + file.first, QByteArray(1 << 20, 'x')));
            QVERIFY2(unzipper.unzip(file.first, target, error), qPrintable(error));
            QVERIFY2(readFile(target + "/" + file.first) == file.second, qPrintable(file.first));
        }
        QCOMPARE(error, QString("untouched")); // written only on failure
    }

    void findsEntryByName_data()
    {
        QTest::addColumn<QString>("asked");
        QTest::addColumn<QString>("stored"); // empty: not there
        QTest::addColumn<QString>("error");

        const auto row = [](const char* name, QString asked, QString stored, QString error) {
            QTest::newRow(name) << asked << stored << error;
        };
        row("other case", "sETUP.PKG", "Setup.pkg", "");
        row("UTF-8, other case", "gRößE.PKG", "Größe.pkg", "");
        row("255 bytes", QString(255, 'n'), QString(255, 'n'), "");
        row("missing", "Other.pkg", "", "Error code 3 (-100).");
        row("256 bytes", QString(256, 'n'), "", "Error code 3 (-102).");
    }

    void findsEntryByName()
    {
        QFETCH(QString, asked);
        QFETCH(QString, stored);
        QFETCH(QString, error);

        const Files files = {{"Setup.pkg", sample(5000, 10)},
                             {"Größe.pkg", sample(6000, 11)},
                             {QString(255, 'n'), sample(7000, 12)},
                             {"good.txt", kGood}};
        PACK("python stored", files);
        Unzipper unzipper;
        QString message;
        QVERIFY2(unzipper.open(archive, message), qPrintable(message));
        const bool extracted = unzipper.unzip(asked, target, message);
        QCOMPARE(message, error);
        QCOMPARE(extracted, error.isEmpty());
        // Written under the name asked for, with the stored member's data.
        QCOMPARE(entriesOf(target), extracted ? QStringList{asked} : QStringList());
        for (const auto& file : files) {
            if (file.first == stored)
                QVERIFY(readFile(target + "/" + asked) == file.second);
        }
        QCOMPARE(extractGood(unzipper, target), QString());
    }

    void outputPlace()
    {
        const QByteArray data = sample(40000, 30);
        PACK("zip deflated", (Files{{"sub/inner.pkg", data}, {"good.txt", kGood}}));
        Unzipper unzipper;
        QString error;
        QVERIFY2(unzipper.open(archive, error), qPrintable(error));
        QVERIFY(writeFile(target, "a plain file"));
        QVERIFY(!unzipper.unzip("good.txt", target + "/sub", error));
        QCOMPARE(error, QString("The directory %1 is not accessible.").arg(target + "/sub"));
        QCOMPARE(readFile(target), QByteArray("a plain file"));

        // Only the target itself is made, not the entry's own subfolder.
        const QString deeper = target + ".d/deeper";
        QVERIFY(!unzipper.unzip("sub/inner.pkg", deeper, error));
        QCOMPARE(error, QString("Failed to create %1 (%2).")
                            .arg(deeper + "/sub/inner.pkg",
                                 QString::fromLocal8Bit(std::strerror(ENOENT))));
        QCOMPARE(entriesOf(deeper), QStringList());
        QVERIFY(QDir().mkpath(deeper + "/sub"));
        QVERIFY2(unzipper.unzip("sub/inner.pkg", deeper, error), qPrintable(error));
        QVERIFY(readFile(deeper + "/sub/inner.pkg") == data);
    }

    void badEntryLeavesNothing_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QString>("error");

        const auto row = [](const char* name, QString kind, int size, QString damage,
                            QString error) {
            QTest::newRow(name) << kind << size << damage << error;
        };
        const int large = 3 * kChunk + 5;
        const QString full =
            QString("Error code 8 (%1)").arg(QString::fromLocal8Bit(std::strerror(ENOSPC)));
        row("damaged deflate data", "zip deflated", large, "data", "Error code 6.");
        row("CRC mismatch", "python deflated", large, "crc", "Error code 6.");
        row("CRC mismatch, zip64", "zip zip64", large, "crc", "Error code 6.");
        row("data end before the stated size", "python deflated", 5000, "size +100",
            "Error code 7 (100)");
        // Reads of 262,144 ask for 601,000: the second gets nothing while 76,712 are expected.
        row("data end two chunks early", "python deflated", 1000, "size +600000",
            "Error code 7 (76712)");
        row("stated beyond the end of the file", "python stored", 1000, "both +1048576",
            "Error code 5 (0).");
        row("bzip2", "zip bzip2", 300000, "", "Error code 4 (-103).");
        row("encrypted", "zip encrypted", 300000, "", "Error code 4 (-103).");
        // /dev/full refuses every write outright.
        row("disk full, small entry", "zip deflated", 1000, "full", full);
        row("disk full, several chunks", "zip deflated", large, "full", full);
        // A disk filling up cuts a write short and refuses only the next one; so does a file size
        // limit, here inside the second chunk.
        row("write cut short", "zip deflated", large, "limit +300000",
            QString("Error code 8 (%1)").arg(QString::fromLocal8Bit(std::strerror(EFBIG))));
    }

    void badEntryLeavesNothing()
    {
        QFETCH(QString, kind);
        QFETCH(int, size);
        QFETCH(QString, damage);
        QFETCH(QString, error);

        PACK(kind, (Files{{"Setup.pkg", sample(size, 40)}, {"good.txt", kGood}}));
        QByteArray zip = readFile(archive);
        const int central = centralHeader(zip, "Setup.pkg");
        QVERIFY(central > 0 && (damage.isEmpty() || !(zip.at(6) & 0x8)));
        const qint64 change = damage.section(" +", 1).toLongLong();
        if (damage == "data") {
            zip.replace(30 + get16(zip, 26) + get16(zip, 28), 32, QByteArray(32, char(0xff)));
        } else if (damage == "crc") {
            add32(zip, 14, 0x10000);
            add32(zip, central + 16, 0x10000);
        } else if (damage.startsWith("both")) {
            add32(zip, 18, change);
            add32(zip, central + 20, change);
        } else if (damage == "full") {
            QVERIFY(QDir().mkpath(target) && QFile::link("/dev/full", target + "/Setup.pkg"));
        }
        if (damage.startsWith("size") || damage.startsWith("both")) {
            add32(zip, 22, change);
            add32(zip, central + 24, change);
        }
        QVERIFY(writeFile(archive, zip));

        Unzipper unzipper;
        QString message;
        QVERIFY2(unzipper.open(archive, message), qPrintable(message));
        rlimit unlimited{};
        if (damage.startsWith("limit")) {
            std::signal(SIGXFSZ, SIG_IGN); // fail the write rather than end the process
            QVERIFY(getrlimit(RLIMIT_FSIZE, &unlimited) == 0);
            rlimit limit = unlimited;
            limit.rlim_cur = rlim_t(change);
            QVERIFY(setrlimit(RLIMIT_FSIZE, &limit) == 0);
        }
        const bool extracted = unzipper.unzip("Setup.pkg", target, message);
        if (damage.startsWith("limit"))
            QVERIFY(setrlimit(RLIMIT_FSIZE, &unlimited) == 0);
        QVERIFY(!extracted);
        QCOMPARE(message, error);
        QCOMPARE(entriesOf(target), QStringList());
        // Still open: good.txt comes out, or is refused alike where every member is encrypted.
        QCOMPARE(extractGood(unzipper, target), kind == "zip encrypted" ? error : QString());
    }

    void memberBeyond4GiB_data()
    {
        QTest::addColumn<bool>("damaged");

        QTest::newRow("whole") << false;
        QTest::newRow("damaged deflate data") << true;
    }

    // Beyond the 32-bit counts that some builds of the library keep. The output takes the room
    // only for a moment.
    void memberBeyond4GiB()
    {
        QFETCH(bool, damaged);
        const quint64 size = (quint64(4) << 30) + (1 << 20);
        const QString directory = m_temporary.path() + "/Ünï/" + QString::number(++m_serial);
        if (QStorageInfo(m_temporary.path()).bytesAvailable() < qint64(size) + (1 << 30))
            QSKIP("less than 5 GiB free for the output");
        const QString archive = directory + "/archive.zip";
        const QString target = directory + "/out";
        QVERIFY(QDir().mkpath(directory) && writeZerosZip(archive, size, damaged));

        Unzipper unzipper;
        QString error;
        QVERIFY2(unzipper.open(archive, error), qPrintable(error));
        const bool extracted = unzipper.unzip("Setup.pkg", target, error);
        const qint64 written = QFileInfo(target + "/Setup.pkg").size();
        QFile::remove(target + "/Setup.pkg");
        QCOMPARE(error, damaged ? QString("Error code 6.") : QString());
        QCOMPARE(extracted, !damaged);
        // Whole, and with its checksum checked on the way.
        QCOMPARE(written, damaged ? 0 : qint64(size));
        QCOMPARE(extractGood(unzipper, target), QString());
    }

    void truncatedArchive_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<int>("length");

        QTest::newRow("signature only") << "start" << 4;
        QTest::newRow("inside the local header") << "start" << 20;
        QTest::newRow("inside the data") << "directory" << -1000;
        QTest::newRow("central directory missing") << "directory" << 0;
        QTest::newRow("inside the central directory") << "directory" << 30;
        QTest::newRow("end record missing") << "end" << -22;
        QTest::newRow("last byte missing") << "end" << -1;
    }

    // Either refused or extracted whole, never half written.
    void truncatedArchive()
    {
        QFETCH(QString, from);
        QFETCH(int, length);
        const QByteArray data = sample(700000, 50);
        PACK("zip deflated", (Files{{"Setup.pkg", data}, {"good.txt", kGood}}));
        const QByteArray zip = readFile(archive);
        const int directory = int(get32(zip, zip.size() - 22 + 16));
        length += from == "directory" ? directory : from == "end" ? zip.size() : 0;
        QVERIFY(writeFile(archive, zip.left(length)));

        Unzipper unzipper;
        QString error;
        if (!unzipper.open(archive, error))
            QCOMPARE(error, QString("Error code 1."));
        if (unzipper.unzip("Setup.pkg", target, error))
            QVERIFY(readFile(target + "/Setup.pkg") == data);
        else
            QCOMPARE(entriesOf(target), QStringList());
    }

    void openAndClose_data()
    {
        QTest::addColumn<QString>("notZip");

        QTest::newRow("text file") << "text";
        QTest::newRow("missing file") << "missing";
        QTest::newRow("directory") << "directory";
    }

    void openAndClose()
    {
        QFETCH(QString, notZip);
        PACK("python stored", (Files{{"good.txt", kGood}}));
        const QString bad = QFileInfo(archive).path() + "/bad.zip";
        if (notZip == "text")
            QVERIFY(writeFile(bad, "This is not an archive.\n"));
        else if (notZip == "directory")
            QVERIFY(QDir().mkpath(bad));

        const int before = openDescriptors();
        {
            Unzipper unzipper;
            QString error;
            unzipper.close(); // without open
            QVERIFY(!unzipper.unzip("good.txt", target, error));
            QCOMPARE(error, QString("Error code 2."));
            QVERIFY(unzipper.open(archive, error) && unzipper.open(archive, error));
            QCOMPARE(openDescriptors(), before + 1); // the second open closed the first

            QVERIFY(!unzipper.open(bad, error));
            QCOMPARE(error, QString("Error code 1."));
            QCOMPARE(openDescriptors(), before); // and so did the failed one
            QVERIFY(!unzipper.unzip("good.txt", target, error));
            QCOMPARE(error, QString("Error code 2."));
            QVERIFY(!QFileInfo::exists(target));

            QVERIFY(unzipper.open(archive, error));
            QCOMPARE(extractGood(unzipper, target), QString());
            unzipper.close();
            unzipper.close();
            QCOMPARE(openDescriptors(), before);
            QVERIFY(!unzipper.unzip("good.txt", target, error));
            QCOMPARE(error, QString("Error code 2."));
            QVERIFY(unzipper.open(archive, error));
        }
        QCOMPARE(openDescriptors(), before); // closed by the destructor
    }
};

CORVANTIS_TEST_MAIN(TestUnzipper)
#include "tst_unzipper.moc"
