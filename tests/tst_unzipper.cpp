#include "testenvironment.h"
#include "unzipper.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/resource.h>

namespace {

constexpr qint64 kChunk = 262144;
const QByteArray kGood = "the archive is still usable\n";

// Writes a zip with Python's zipfile. Arguments: mode (stored, deflated, zip64, commented),
// the archive path or "-" for standard output, then the member names.
const char* const kPythonZip = R"(
import shutil, sys, zipfile
mode, out, names = sys.argv[1], sys.argv[2], sys.argv[3:]
method = zipfile.ZIP_STORED if mode == 'stored' else zipfile.ZIP_DEFLATED
with zipfile.ZipFile(sys.stdout.buffer if out == '-' else out, 'w', method) as archive:
    for name in names:
        with open(name, 'rb') as source, \
                archive.open(name, 'w', force_zip64=mode == 'zip64') as target:
            shutil.copyfileobj(source, target)
    if mode == 'commented':
        archive.comment = b'Corvantis package archive, built for the extraction tests. ' * 2
)";

// Deterministic content that a compressor treats differently part by part: noise, text and runs.
QByteArray mixedData(qint64 size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray data;
    data.reserve(int(size));
    for (int part = 0; data.size() < size; ++part) {
        const int length = int(qMin<qint64>(size - data.size(), 500 + random.bounded(70000)));
        if (part % 3 == 0) {
            for (int i = 0; i < length; ++i)
                data.append(char(random.bounded(256)));
        } else if (part % 3 == 1) {
            QByteArray text;
            while (text.size() < length)
                text +=
                    "record " + QByteArray::number(random.bounded(100000)) + " of the package\n";
            data.append(text.left(length));
        } else {
            data.append(QByteArray(length, char(part)));
        }
    }
    return data;
}

bool writeFile(const QString& path, const QByteArray& data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Everything in a directory, broken symbolic links included.
QStringList entriesOf(const QString& directory)
{
    return QDir(directory).entryList(QDir::AllEntries | QDir::System | QDir::Hidden |
                                     QDir::NoDotAndDotDot);
}

int openDescriptors()
{
    return QDir("/proc/self/fd")
        .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
        .size();
}

QString errnoText(int number)
{
    return QString::fromLocal8Bit(std::strerror(number));
}

// How the tools are asked for each kind of archive.
struct Recipe
{
    QString program;
    QStringList arguments; // the archive path and the names follow
    bool toStandardOutput = false;
    QStringList appendAfter; // "good.txt" is added in a second run with these arguments
};

Recipe recipeFor(const QString& kind)
{
    const QString python = QStringLiteral("python3");
    static const QHash<QString, Recipe> recipes = {
        {"zip stored", {"zip", {"-q", "-X", "-0"}, false, {}}},
        {"zip deflated", {"zip", {"-q", "-X", "-9"}, false, {}}},
        {"zip zip64", {"zip", {"-q", "-X", "-fz"}, false, {}}},
        // Written into a pipe, zip cannot seek back and puts the sizes into data descriptors.
        {"zip streamed", {"zip", {"-q", "-X"}, true, {}}},
        {"zip bzip2", {"zip", {"-q", "-X", "-Z", "bzip2"}, false, {"-q", "-X"}}},
        {"zip encrypted", {"zip", {"-q", "-X", "-P", "secret"}, false, {"-q", "-X"}}},
        {"python stored", {python, {"-c", kPythonZip, "stored"}, false, {}}},
        {"python deflated", {python, {"-c", kPythonZip, "deflated"}, false, {}}},
        {"python zip64", {python, {"-c", kPythonZip, "zip64"}, false, {}}},
        {"python streamed", {python, {"-c", kPythonZip, "deflated"}, true, {}}},
        {"python commented", {python, {"-c", kPythonZip, "commented"}, false, {}}},
        {"bsdtar deflated", {"bsdtar", {"--format", "zip", "-cf"}, false, {}}},
        {"bsdtar stored",
         {"bsdtar", {"--format", "zip", "--options", "zip:compression=store", "-cf"}, false, {}}},
        {"7z deflated", {"7z", {"a", "-bd", "-tzip", "-mm=Deflate", "-mx=9"}, false, {}}},
        {"7z stored", {"7z", {"a", "-bd", "-tzip", "-mm=Copy"}, false, {}}},
        {"7z bzip2", {"7z", {"a", "-bd", "-tzip", "-mm=BZip2"}, false, {"a", "-bd", "-tzip"}}},
        {"7z deflate64",
         {"7z", {"a", "-bd", "-tzip", "-mm=Deflate64"}, false, {"a", "-bd", "-tzip"}}},
        {"7z lzma", {"7z", {"a", "-bd", "-tzip", "-mm=LZMA"}, false, {"a", "-bd", "-tzip"}}},
        {"7z zipcrypto stored",
         {"7z", {"a", "-bd", "-tzip", "-mm=Copy", "-psecret"}, false, {"a", "-bd", "-tzip"}}},
        {"7z aes",
         {"7z", {"a", "-bd", "-tzip", "-psecret", "-mem=AES256"}, false, {"a", "-bd", "-tzip"}}},
    };
    return recipes.value(kind);
}

bool runTool(const QString& program, const QStringList& arguments, const QString& directory,
             const QString& input, QByteArray* output, QString& why)
{
    QProcess process;
    process.setWorkingDirectory(directory);
    if (!input.isEmpty())
        process.setStandardInputFile(input);
    process.start(program, arguments);
    if (!process.waitForFinished(300000)) {
        why = program + ": " + process.errorString();
        return false;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        why = program + " failed: " + QString::fromLocal8Bit(process.readAllStandardError());
        return false;
    }
    if (output)
        *output = process.readAllStandardOutput();
    return true;
}

// Builds archive from the named files of directory; "good.txt", when named last with a recipe
// that appends, goes in through a second plain run.
bool buildArchive(const QString& kind, const QString& directory, QStringList names,
                  const QString& archive, QString& why)
{
    const Recipe recipe = recipeFor(kind);
    QStringList appended;
    if (!recipe.appendAfter.isEmpty() && names.size() > 1 && names.last() == "good.txt")
        appended << names.takeLast();
    QByteArray output;
    const QString target = recipe.toStandardOutput ? QStringLiteral("-") : archive;
    if (!runTool(recipe.program, recipe.arguments + QStringList{target} + names, directory, {},
                 &output, why))
        return false;
    if (recipe.toStandardOutput && !writeFile(archive, output)) {
        why = "cannot write " + archive;
        return false;
    }
    if (!appended.isEmpty())
        return runTool(recipe.program, recipe.appendAfter + QStringList{archive} + appended,
                       directory, {}, nullptr, why);
    return true;
}

QString missingTool(const QString& kind)
{
    const QString program = recipeFor(kind).program;
    return QStandardPaths::findExecutable(program).isEmpty() ? program : QString();
}

#define SKIP_WITHOUT_TOOL(kind)                                                                    \
    do {                                                                                           \
        const QString missing = missingTool(kind);                                                 \
        if (!missing.isEmpty())                                                                    \
            QSKIP(qPrintable(missing + " is not installed"));                                      \
    } while (0)

// What the archive's own directory says about one member, to aim the damage precisely.
struct Member
{
    QByteArray name;
    quint16 flags = 0;
    quint16 method = 0;
    quint32 crc = 0;
    quint64 compressedSize = 0;
    quint64 uncompressedSize = 0;
    bool zip64 = false;
    qint64 centralOffset = 0;
    qint64 localOffset = 0;
    qint64 dataOffset = 0;
};

struct Layout
{
    QList<Member> members;
    qint64 centralDirectory = -1;
    qint64 endRecord = -1;

    const Member* find(const QByteArray& name) const
    {
        for (const Member& member : members)
            if (member.name == name)
                return &member;
        return nullptr;
    }
};

quint16 get16(const QByteArray& data, qint64 at)
{
    return qFromLittleEndian<quint16>(data.constData() + at);
}

quint32 get32(const QByteArray& data, qint64 at)
{
    return qFromLittleEndian<quint32>(data.constData() + at);
}

quint64 get64(const QByteArray& data, qint64 at)
{
    return qFromLittleEndian<quint64>(data.constData() + at);
}

void put32(QByteArray& data, qint64 at, quint32 value)
{
    qToLittleEndian<quint32>(value, data.data() + at);
}

Layout readLayout(const QByteArray& zip)
{
    Layout layout;
    layout.endRecord = zip.lastIndexOf(QByteArray("PK\x05\x06", 4));
    if (layout.endRecord < 0 || layout.endRecord + 22 > zip.size())
        return layout;
    quint64 count = get16(zip, layout.endRecord + 10);
    quint64 directory = get32(zip, layout.endRecord + 16);
    const qint64 locator = layout.endRecord - 20;
    if (directory == 0xFFFFFFFF && locator >= 0 && get32(zip, locator) == 0x07064b50) {
        const qint64 record = qint64(get64(zip, locator + 8));
        count = get64(zip, record + 32);
        directory = get64(zip, record + 48);
    }
    layout.centralDirectory = qint64(directory);
    qint64 at = layout.centralDirectory;
    for (quint64 i = 0; i < count && at + 46 <= zip.size() && get32(zip, at) == 0x02014b50; ++i) {
        Member member;
        member.centralOffset = at;
        member.flags = get16(zip, at + 8);
        member.method = get16(zip, at + 10);
        member.crc = get32(zip, at + 16);
        member.compressedSize = get32(zip, at + 20);
        member.uncompressedSize = get32(zip, at + 24);
        const int nameLength = get16(zip, at + 28);
        const int extraLength = get16(zip, at + 30);
        const int commentLength = get16(zip, at + 32);
        member.localOffset = get32(zip, at + 42);
        member.name = zip.mid(at + 46, nameLength);
        // The zip64 extra field holds, in this order, only the values marked as too large.
        for (qint64 extra = at + 46 + nameLength; extra + 4 <= at + 46 + nameLength + extraLength;
             extra += 4 + get16(zip, extra + 2)) {
            if (get16(zip, extra) != 0x0001)
                continue;
            member.zip64 = true;
            qint64 value = extra + 4;
            if (member.uncompressedSize == 0xFFFFFFFF)
                member.uncompressedSize = get64(zip, value), value += 8;
            if (member.compressedSize == 0xFFFFFFFF)
                member.compressedSize = get64(zip, value), value += 8;
            if (member.localOffset == 0xFFFFFFFF)
                member.localOffset = qint64(get64(zip, value));
        }
        // Some writers mark zip64 only in the local header.
        const qint64 localExtra = member.localOffset + 30 + get16(zip, member.localOffset + 26);
        const qint64 localEnd = localExtra + get16(zip, member.localOffset + 28);
        for (qint64 extra = localExtra; extra + 4 <= localEnd; extra += 4 + get16(zip, extra + 2))
            member.zip64 = member.zip64 || get16(zip, extra) == 0x0001;
        member.dataOffset = localEnd;
        layout.members << member;
        at += 46 + nameLength + extraLength + commentLength;
    }
    return layout;
}

// Sets the checksum everywhere the archive keeps it: central header, local header and the data
// descriptor that follows the data of a streamed member.
void setCrc(QByteArray& zip, const Member& member, quint32 crc)
{
    put32(zip, member.centralOffset + 16, crc);
    put32(zip, member.localOffset + 14, (member.flags & 0x8) ? 0 : crc);
    if (member.flags & 0x8) {
        const qint64 descriptor = member.dataOffset + qint64(member.compressedSize);
        put32(zip, descriptor + (get32(zip, descriptor) == 0x08074b50 ? 4 : 0), crc);
    }
}

// Only for members with their sizes in both headers (no descriptor, no zip64).
void setSizes(QByteArray& zip, const Member& member, quint32 compressed, quint32 uncompressed)
{
    put32(zip, member.centralOffset + 20, compressed);
    put32(zip, member.centralOffset + 24, uncompressed);
    put32(zip, member.localOffset + 18, compressed);
    put32(zip, member.localOffset + 22, uncompressed);
}

// Keeps RLIMIT_FSIZE lowered, with SIGXFSZ ignored so the write fails instead of killing us.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        m_handler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = m_saved;
        lowered.rlim_cur = bytes;
        m_active = setrlimit(RLIMIT_FSIZE, &lowered) == 0;
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_handler);
    }
    bool active() const { return m_active; }

private:
    rlimit m_saved{};
    void (*m_handler)(int) = nullptr;
    bool m_active = false;
};

} // namespace

class TestUnzipper : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_work;
    int m_serial = 0;

    QString newDirectory()
    {
        const QString path = m_work.path() + "/case" + QString::number(++m_serial);
        QDir().mkpath(path);
        return path;
    }

    // A source directory holding the given files and good.txt.
    QString sources(const QMap<QString, QByteArray>& files)
    {
        const QString directory = newDirectory() + "/src";
        QDir().mkpath(directory);
        for (auto it = files.cbegin(); it != files.cend(); ++it) {
            QDir().mkpath(QFileInfo(directory + "/" + it.key()).absolutePath());
            if (!writeFile(directory + "/" + it.key(), it.value()))
                return QString();
        }
        return writeFile(directory + "/good.txt", kGood) ? directory : QString();
    }

    // Writes the files and good.txt into a fresh folder and packs the named ones into an archive
    // beside it; empty, with why set, when that fails.
    QString packed(const QString& kind, const QMap<QString, QByteArray>& files,
                   const QStringList& names, QString& why)
    {
        const QString source = sources(files);
        if (source.isEmpty()) {
            why = "cannot write the files to pack";
            return QString();
        }
        const QString archive = QFileInfo(source).path() + "/archive.zip";
        return buildArchive(kind, source, names, archive, why) ? archive : QString();
    }

    // The archive must still be open and usable: good.txt comes out whole.
    static bool extractsGood(Unzipper& unzipper, const QString& directory, QString& why)
    {
        QString error;
        if (!unzipper.unzip("good.txt", directory, error)) {
            why = "good.txt: " + error;
            return false;
        }
        if (readFile(directory + "/good.txt") != kGood) {
            why = "good.txt differs";
            return false;
        }
        return true;
    }

private slots:
    void initTestCase() { QVERIFY(m_work.isValid()); }

    void extractsEveryEntryByteForByte_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("descriptor");
        QTest::addColumn<bool>("zip64");
        QTest::addColumn<int>("method"); // of the large mixed entry

        QTest::newRow("zip stored") << "zip stored" << false << false << 0;
        QTest::newRow("zip deflated") << "zip deflated" << false << false << 8;
        QTest::newRow("zip zip64") << "zip zip64" << false << true << 8;
        QTest::newRow("zip streamed") << "zip streamed" << true << false << 8;
        QTest::newRow("zip from stdin") << "zip stdin" << true << true << 8;
        QTest::newRow("python stored") << "python stored" << false << false << 0;
        QTest::newRow("python deflated") << "python deflated" << false << false << 8;
        QTest::newRow("python zip64") << "python zip64" << false << true << 8;
        QTest::newRow("python streamed") << "python streamed" << true << false << 8;
        QTest::newRow("bsdtar deflated") << "bsdtar deflated" << true << false << 8;
        QTest::newRow("bsdtar stored") << "bsdtar stored" << true << false << 0;
        QTest::newRow("7z deflated") << "7z deflated" << false << false << 8;
        QTest::newRow("7z stored") << "7z stored" << false << false << 0;
    }

    void extractsEveryEntryByteForByte()
    {
        QFETCH(QString, kind);
        QFETCH(bool, descriptor);
        QFETCH(bool, zip64);
        QFETCH(int, method);
        const bool fromStdin = kind == "zip stdin";
        SKIP_WITHOUT_TOOL(fromStdin ? QStringLiteral("zip streamed") : kind);

        // Around one chunk, exact multiples of it, and several MiB that loop many times.
        const QMap<QString, QByteArray> files = {
            {"empty.pkg", QByteArray()},
            {"one.pkg", mixedData(1, 1)},
            {"below.pkg", mixedData(kChunk - 1, 2)},
            {"exact.pkg", mixedData(kChunk, 3)},
            {"above.pkg", mixedData(kChunk + 1, 4)},
            {"four.pkg", mixedData(4 * kChunk, 5)},
            {"mixed.pkg", mixedData(3 * 1024 * 1024 + 12345, 6)},
        };
        const QString source = sources(files);
        QVERIFY(!source.isEmpty());
        const QString target = QFileInfo(source).path() + "/out";

        for (auto it = files.cbegin(); it != files.cend(); ++it) {
            QString archive = QFileInfo(source).path() + "/all.zip";
            QString entry = it.key();
            QString why;
            if (fromStdin) {
                // One member per archive, named "-".
                archive = QFileInfo(source).path() + "/" + it.key() + ".zip";
                entry = "-";
                QByteArray output;
                QVERIFY2(
                    runTool("zip", {"-q", "-", "-"}, source, source + "/" + it.key(), &output, why),
                    qPrintable(why));
                QVERIFY(writeFile(archive, output));
            } else if (!QFile::exists(archive)) {
                QVERIFY2(buildArchive(kind, source, files.keys() << "good.txt", archive, why),
                         qPrintable(why));
            }

            // The tool really made what the row claims.
            const Layout layout = readLayout(readFile(archive));
            const Member* member = layout.find(entry.toUtf8());
            QVERIFY2(member, qPrintable(it.key()));
            QCOMPARE(bool(member->flags & 0x8), descriptor);
            QCOMPARE(member->zip64, zip64);
            QCOMPARE(member->uncompressedSize, quint64(it.value().size()));
            if (it.key() == "mixed.pkg")
                QCOMPARE(int(member->method), method);

            Unzipper unzipper;
            QString error = "untouched";
            QVERIFY2(unzipper.open(archive, error), qPrintable(error));
            const QString directory = target + "/" + it.key() + ".d";
            QVERIFY2(unzipper.unzip(entry, directory, error), qPrintable(it.key() + ": " + error));
            QCOMPARE(error, QString("untouched")); // only failures write it
            const QByteArray written = readFile(directory + "/" + entry);
            QCOMPARE(written.size(), it.value().size());
            QVERIFY2(written == it.value(), qPrintable(it.key() + " differs"));
            unzipper.close();
        }
    }

    void locatesEntryByName_data()
    {
        QTest::addColumn<QString>("asked");
        QTest::addColumn<QString>("stored"); // empty: not found
        QTest::addColumn<QString>("error");

        const auto row = [](const char* name, const QString& asked, const QString& stored,
                            const QString& error) {
            QTest::newRow(name) << asked << stored << error;
        };
        const QString missing = "Error code 3 (-100).";
        const QString tooLong = "Error code 3 (-102).";
        row("same case", "Setup.pkg", "Setup.pkg", "");
        row("lower case", "setup.pkg", "Setup.pkg", "");
        row("upper case", "SETUP.PKG", "Setup.pkg", "");
        row("mixed case", "sEtUp.PkG", "Setup.pkg", "");
        row("UTF-8 name", "Größe.pkg", "Größe.pkg", "");
        row("ASCII letters folded around UTF-8", "gRößE.PKG", "Größe.pkg", "");
        row("non-ASCII letters not folded", "GRÖßE.pkg", "", missing);
        row("missing", "Other.pkg", "", missing);
        row("prefix of a member", "Setup", "", missing);
        row("empty name", "", "", missing);
        row("255 bytes, present", QString(255, 'n'), QString(255, 'n'), "");
        row("255 bytes, absent", QString(255, 'b'), "", missing);
        row("256 bytes", QString(256, 'n'), "", tooLong);
        // 128 characters but 256 bytes: the limit counts the UTF-8 bytes.
        row("256 bytes of UTF-8", QString(128, QChar(0xe9)), "", tooLong);
    }

    void locatesEntryByName()
    {
        QFETCH(QString, asked);
        QFETCH(QString, stored);
        QFETCH(QString, error);
        SKIP_WITHOUT_TOOL("python stored");

        const QMap<QString, QByteArray> files = {{"Setup.pkg", mixedData(5000, 10)},
                                                 {"Größe.pkg", mixedData(6000, 11)},
                                                 {QString(255, 'n'), mixedData(7000, 12)}};
        QString why;
        const QString archive = packed("python stored", files, files.keys() << "good.txt", why);
        QVERIFY2(!archive.isEmpty(), qPrintable(why));
        const QString base = QFileInfo(archive).path();

        Unzipper unzipper;
        QString message;
        QVERIFY2(unzipper.open(archive, message), qPrintable(message));
        const QString target = base + "/out";
        const bool extracted = unzipper.unzip(asked, target, message);
        if (error.isEmpty()) {
            QVERIFY2(extracted, qPrintable(message));
            // Written under the name asked for, with the stored member's data.
            QVERIFY(readFile(target + "/" + asked) == files.value(stored));
            QCOMPARE(entriesOf(target), QStringList{asked});
        } else {
            QVERIFY(!extracted);
            QCOMPARE(message, error);
            QVERIFY(entriesOf(target).isEmpty());
        }
        QVERIFY2(extractsGood(unzipper, target, why), qPrintable(why));
    }

    void existingOutputIsTruncated_data()
    {
        QTest::addColumn<int>("entrySize");
        QTest::addColumn<int>("existingSize");

        QTest::newRow("shorter entry") << 1000 << 1024 * 1024;
        QTest::newRow("empty entry") << 0 << 5000;
        QTest::newRow("longer entry") << 3 * int(kChunk) + 7 << 100;
    }

    void existingOutputIsTruncated()
    {
        QFETCH(int, entrySize);
        QFETCH(int, existingSize);
        SKIP_WITHOUT_TOOL("zip deflated");

        const QByteArray data = mixedData(entrySize, 20);
        QString why;
        const QString archive = packed("zip deflated", {{"Setup.pkg", data}}, {"Setup.pkg"}, why);
        QVERIFY2(!archive.isEmpty(), qPrintable(why));
        const QString base = QFileInfo(archive).path();

        const QString target = base + "/out";
        QVERIFY(QDir().mkpath(target));
        QVERIFY(writeFile(target + "/Setup.pkg", QByteArray(existingSize, 'x')));

        Unzipper unzipper;
        QString error;
        QVERIFY2(unzipper.open(archive, error), qPrintable(error));
        QVERIFY2(unzipper.unzip("Setup.pkg", target, error), qPrintable(error));
        const QByteArray written = readFile(target + "/Setup.pkg");
        QCOMPARE(written.size(), data.size());
        QVERIFY(written == data);
    }

    void entryInSubfolderNeedsTheSubfolder()
    {
        SKIP_WITHOUT_TOOL("zip deflated");
        const QByteArray data = mixedData(40000, 30);
        QString why;
        const QString archive =
            packed("zip deflated", {{"sub/inner.pkg", data}}, {"sub/inner.pkg", "good.txt"}, why);
        QVERIFY2(!archive.isEmpty(), qPrintable(why));
        const QString base = QFileInfo(archive).path();

        Unzipper unzipper;
        QString error;
        QVERIFY2(unzipper.open(archive, error), qPrintable(error));
        const QString target = base + "/out/deeper";
        QVERIFY(!unzipper.unzip("sub/inner.pkg", target, error));
        QCOMPARE(
            error,
            QString("Failed to create %1 (%2).").arg(target + "/sub/inner.pkg", errnoText(ENOENT)));
        // Only the target itself is made.
        QVERIFY(QFileInfo(target).isDir());
        QVERIFY(entriesOf(target).isEmpty());

        QVERIFY(QDir().mkpath(target + "/sub"));
        QVERIFY2(unzipper.unzip("sub/inner.pkg", target, error), qPrintable(error));
        QVERIFY(readFile(target + "/sub/inner.pkg") == data);
    }

    void damagedCompressedData_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<double>("where"); // fraction of the compressed data

        for (const char* kind :
             {"zip deflated", "python deflated", "bsdtar deflated", "7z deflated"}) {
            QTest::addRow("%s, first block header", kind) << kind << 0.0;
            QTest::addRow("%s, a third in", kind) << kind << 0.33;
            QTest::addRow("%s, middle", kind) << kind << 0.5;
            QTest::addRow("%s, near the end", kind) << kind << 0.97;
        }
    }

    void damagedCompressedData()
    {
        QFETCH(QString, kind);
        QFETCH(double, where);
        SKIP_WITHOUT_TOOL(kind);

        QString why;
        const QString archive = packed(kind, {{"Setup.pkg", mixedData(2 * 1024 * 1024 + 99, 40)}},
                                       {"Setup.pkg", "good.txt"}, why);
        QVERIFY2(!archive.isEmpty(), qPrintable(why));
        const QString base = QFileInfo(archive).path();

        QByteArray zip = readFile(archive);
        const Layout layout = readLayout(zip);
        const Member* member = layout.find("Setup.pkg");
        QVERIFY(member);
        QCOMPARE(int(member->method), 8);
        const qint64 at = member->dataOffset + qint64(where * double(member->compressedSize));
        QVERIFY(at + 32 <= member->dataOffset + qint64(member->compressedSize));
        for (int i = 0; i < 32; ++i)
            zip[int(at + i)] = char(0xff);
        QVERIFY(writeFile(archive, zip));

        Unzipper unzipper;
        QString error;
        QVERIFY2(unzipper.open(archive, error), qPrintable(error));
        const QString target = base + "/out";
        QVERIFY(!unzipper.unzip("Setup.pkg", target, error));
        QCOMPARE(error, QString("Error code 6."));
        QVERIFY(entriesOf(target).isEmpty());
        QVERIFY2(extractsGood(unzipper, target, why), qPrintable(why));
    }

    void checksumMismatch_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("size");

        for (const char* kind : {"zip stored", "zip deflated", "zip streamed", "zip zip64",
                                 "python stored", "7z stored"}) {
            QTest::addRow("%s, one byte", kind) << kind << 1;
            QTest::addRow("%s, several chunks", kind) << kind << 3 * int(kChunk) + 5;
        }
    }

    void checksumMismatch()
    {
        QFETCH(QString, kind);
        QFETCH(int, size);
        SKIP_WITHOUT_TOOL(kind);

        QString why;
        const QString archive =
            packed(kind, {{"Setup.pkg", mixedData(size, 50)}}, {"Setup.pkg", "good.txt"}, why);
        QVERIFY2(!archive.isEmpty(), qPrintable(why));
        const QString base = QFileInfo(archive).path();

        QByteArray zip = readFile(archive);
        const Layout layout = readLayout(zip);
        const Member* member = layout.find("Setup.pkg");
        QVERIFY(member);
        setCrc(zip, *member, member->crc ^ 0x00010000);
        QVERIFY(writeFile(archive, zip));

        Unzipper unzipper;
        QString error;
        QVERIFY2(unzipper.open(archive, error), qPrintable(error));
        const QString target = base + "/out";
        QVERIFY(!unzipper.unzip("Setup.pkg", target, error));
        QCOMPARE(error, QString("Error code 6."));
        QVERIFY(entriesOf(target).isEmpty());
        QVERIFY2(extractsGood(unzipper, target, why), qPrintable(why));
    }

    void declaredSizeDisagreesWithData_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("compressedChange");
        QTest::addColumn<int>("uncompressedChange");
        QTest::addColumn<QString>("error");

        QTest::newRow("deflated, data end 100 bytes early")
            << "python deflated" << 5000 << 0 << 100 << "Error code 7 (100)";
        QTest::newRow("stored, data cut 100 bytes short")
            << "python stored" << 5000 << -100 << 0 << "Error code 7 (100)";
        // The third read gets nothing when only its own chunk is left, which counts as done.
        QTest::newRow("stored, data cut short by a chunk and more")
            << "python stored" << 3 * int(kChunk) << -int(kChunk) - 10 << 0
            << "Error code 7 (262154)";
        // Reads of 262,144 and 262,144 ask for 601,000: the second gets nothing while 76,712
        // are still expected.
        QTest::newRow("deflated, data end in the first of three chunks")
            << "python deflated" << 1000 << 0 << 600000 << "Error code 7 (76712)";
        QTest::newRow("deflated, one byte more than stated")
            << "python deflated" << 5000 << 0 << -1 << "Error code 6.";
        QTest::newRow("stored, stated beyond the end of the file")
            << "python stored" << 1000 << 1024 * 1024 << 1024 * 1024 << "Error code 5 (0).";
    }

    void declaredSizeDisagreesWithData()
    {
        QFETCH(QString, kind);
        QFETCH(int, size);
        QFETCH(int, compressedChange);
        QFETCH(int, uncompressedChange);
        QFETCH(QString, error);
        SKIP_WITHOUT_TOOL(kind);

        QString why;
        const QString archive =
            packed(kind, {{"Setup.pkg", mixedData(size, 60)}}, {"Setup.pkg", "good.txt"}, why);
        QVERIFY2(!archive.isEmpty(), qPrintable(why));
        const QString base = QFileInfo(archive).path();

        QByteArray zip = readFile(archive);
        const Layout layout = readLayout(zip);
        const Member* member = layout.find("Setup.pkg");
        QVERIFY(member);
        QVERIFY(!member->zip64 && !(member->flags & 0x8));
        setSizes(zip, *member, quint32(qint64(member->compressedSize) + compressedChange),
                 quint32(qint64(member->uncompressedSize) + uncompressedChange));
        QVERIFY(writeFile(archive, zip));

        Unzipper unzipper;
        QString message;
        QVERIFY2(unzipper.open(archive, message), qPrintable(message));
        const QString target = base + "/out";
        QVERIFY(!unzipper.unzip("Setup.pkg", target, message));
        QCOMPARE(message, error);
        QVERIFY(entriesOf(target).isEmpty());
        QVERIFY2(extractsGood(unzipper, target, why), qPrintable(why));
    }

    void unreadableMethod_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("noise"); // incompressible: bzip2 data no smaller than the entry
        QTest::addColumn<int>("method");
        QTest::addColumn<bool>("encrypted");

        QTest::newRow("zip bzip2, text") << "zip bzip2" << false << 12 << false;
        QTest::newRow("zip bzip2, noise") << "zip bzip2" << true << 12 << false;
        QTest::newRow("7z bzip2") << "7z bzip2" << false << 12 << false;
        QTest::newRow("7z deflate64") << "7z deflate64" << false << 9 << false;
        QTest::newRow("7z lzma") << "7z lzma" << false << 14 << false;
        QTest::newRow("zip password") << "zip encrypted" << false << 8 << true;
        QTest::newRow("7z password, stored") << "7z zipcrypto stored" << false << 0 << true;
        QTest::newRow("7z password, AES") << "7z aes" << false << 99 << true;
    }

    void unreadableMethod()
    {
        QFETCH(QString, kind);
        QFETCH(bool, noise);
        QFETCH(int, method);
        QFETCH(bool, encrypted);
        SKIP_WITHOUT_TOOL(kind);

        QByteArray data;
        QRandomGenerator random(70);
        for (int i = 0; i < 300000; ++i)
            data.append(noise ? char(random.bounded(256)) : "Corvantis package "[i % 18]);
        QString why;
        const QString archive = packed(kind, {{"Setup.pkg", data}}, {"Setup.pkg", "good.txt"}, why);
        QVERIFY2(!archive.isEmpty(), qPrintable(why));
        const QString base = QFileInfo(archive).path();
        const Layout layout = readLayout(readFile(archive));
        const Member* member = layout.find("Setup.pkg");
        QVERIFY(member);
        QCOMPARE(int(member->method), method);
        QCOMPARE(bool(member->flags & 0x1), encrypted);
        if (noise)
            QVERIFY(member->compressedSize >= member->uncompressedSize);
        const Member* good = layout.find("good.txt");
        QVERIFY(good && (good->method == 0 || good->method == 8) && !(good->flags & 0x1));

        Unzipper unzipper;
        QString error;
        QVERIFY2(unzipper.open(archive, error), qPrintable(error));
        const QString target = base + "/out";
        QVERIFY(!unzipper.unzip("Setup.pkg", target, error));
        QCOMPARE(error, QString("Error code 4 (-103)."));
        QVERIFY(entriesOf(target).isEmpty());
        QVERIFY2(extractsGood(unzipper, target, why), qPrintable(why));
    }

    void truncatedArchive_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("cut");
        QTest::addColumn<bool>("opens"); // with everything of the members still there

        for (const char* kind : {"zip deflated", "zip streamed", "python stored", "7z deflated"}) {
            for (const char* cut : {"nothing left", "signature only", "inside the local header",
                                    "inside the data", "before the central directory",
                                    "inside the central directory", "end record missing"})
                QTest::addRow("%s, %s", kind, cut) << kind << cut << false;
            // The library reads the missing high byte of the comment length as end of file.
            QTest::addRow("%s, end record one byte short", kind)
                << kind << "end record one byte short" << true;
        }
        for (const char* cut : {"inside the comment", "comment missing"})
            QTest::addRow("python commented, %s", cut) << "python commented" << cut << true;
    }

    void truncatedArchive()
    {
        QFETCH(QString, kind);
        QFETCH(QString, cut);
        QFETCH(bool, opens);
        SKIP_WITHOUT_TOOL(kind);

        const QByteArray data = mixedData(700000, 80);
        QString why;
        const QString archive = packed(kind, {{"Setup.pkg", data}}, {"Setup.pkg", "good.txt"}, why);
        QVERIFY2(!archive.isEmpty(), qPrintable(why));
        const QByteArray zip = readFile(archive);
        const Layout layout = readLayout(zip);
        QCOMPARE(layout.members.size(), 2);
        const Member& first = layout.members.first();

        const QHash<QString, qint64> lengths = {
            {"nothing left", 0},
            {"signature only", 4},
            {"inside the local header", first.localOffset + 20},
            {"inside the data", first.dataOffset + qint64(first.compressedSize / 2)},
            {"before the central directory", layout.centralDirectory},
            {"inside the central directory", layout.centralDirectory + 30},
            {"end record missing", layout.endRecord},
            {"end record one byte short", layout.endRecord + 21},
            {"comment missing", layout.endRecord + 22},
            {"inside the comment",
             layout.endRecord + 22 + (zip.size() - layout.endRecord - 22) / 2},
        };
        QVERIFY(lengths.contains(cut));
        const qint64 length = lengths.value(cut);
        QVERIFY(length < zip.size());
        QVERIFY(writeFile(archive, zip.left(int(length))));

        const int before = openDescriptors();
        Unzipper unzipper;
        QString error;
        const QString target = QFileInfo(archive).path() + "/out";
        if (!opens) {
            QVERIFY(!unzipper.open(archive, error));
            QCOMPARE(error, QString("Error code 1."));
            QCOMPARE(openDescriptors(), before);
            QVERIFY(!unzipper.unzip("Setup.pkg", target, error));
            QCOMPARE(error, QString("Error code 2."));
            QVERIFY(!QFileInfo::exists(target));
            return;
        }
        QVERIFY2(unzipper.open(archive, error), qPrintable(error));
        QVERIFY2(unzipper.unzip("Setup.pkg", target, error), qPrintable(error));
        QVERIFY(readFile(target + "/Setup.pkg") == data);
        QVERIFY2(extractsGood(unzipper, target, why), qPrintable(why));
    }

    void openFailure_data()
    {
        QTest::addColumn<QString>("content"); // how to make the path

        QTest::newRow("text file") << "text";
        QTest::newRow("empty file") << "empty";
        QTest::newRow("random bytes") << "random";
        QTest::newRow("local header only") << "header";
        QTest::newRow("missing file") << "missing";
        QTest::newRow("directory") << "directory";
    }

    void openFailure()
    {
        QFETCH(QString, content);
        SKIP_WITHOUT_TOOL("zip deflated");

        QString why;
        const QString good = packed("zip deflated", {{"Setup.pkg", mixedData(20000, 90)}},
                                    {"Setup.pkg", "good.txt"}, why);
        QVERIFY2(!good.isEmpty(), qPrintable(why));
        const QString base = QFileInfo(good).path();

        const QString bad = base + "/bad.zip";
        QRandomGenerator random(91);
        QByteArray noise;
        for (int i = 0; i < 4096; ++i)
            noise.append(char(random.bounded(256)));
        if (content == "text")
            QVERIFY(writeFile(bad, "This is not an archive.\n"));
        else if (content == "empty")
            QVERIFY(writeFile(bad, QByteArray()));
        else if (content == "random")
            QVERIFY(writeFile(bad, noise));
        else if (content == "header")
            QVERIFY(writeFile(bad, readFile(good).left(100)));
        else if (content == "directory")
            QVERIFY(QDir().mkpath(bad));

        const int before = openDescriptors();
        Unzipper unzipper;
        QString error;
        QVERIFY2(unzipper.open(good, error), qPrintable(error));
        QCOMPARE(openDescriptors(), before + 1);

        QVERIFY(!unzipper.open(bad, error));
        QCOMPARE(error, QString("Error code 1."));
        // The archive opened before is gone as well.
        QCOMPARE(openDescriptors(), before);
        const QString target = base + "/out";
        QVERIFY(!unzipper.unzip("Setup.pkg", target, error));
        QCOMPARE(error, QString("Error code 2."));
        QVERIFY(!QFileInfo::exists(target));

        // And the object opens again.
        QVERIFY2(unzipper.open(good, error), qPrintable(error));
        QVERIFY2(extractsGood(unzipper, target, why), qPrintable(why));
    }

    void openReplacesTheOpenArchive()
    {
        SKIP_WITHOUT_TOOL("python deflated");
        const QString first = sources({{"First.pkg", mixedData(3000, 100)}});
        const QString second = sources({{"Second.pkg", mixedData(3000, 101)}});
        QVERIFY(!first.isEmpty() && !second.isEmpty());
        const QString a = QFileInfo(first).path() + "/a.zip";
        const QString b = QFileInfo(second).path() + "/b.zip";
        QString why;
        QVERIFY2(buildArchive("python deflated", first, {"First.pkg"}, a, why), qPrintable(why));
        QVERIFY2(buildArchive("python deflated", second, {"Second.pkg"}, b, why), qPrintable(why));

        const int before = openDescriptors();
        Unzipper unzipper;
        QString error;
        QVERIFY(unzipper.open(a, error));
        QVERIFY(unzipper.open(b, error));
        QCOMPARE(openDescriptors(), before + 1);
        const QString target = newDirectory();
        QVERIFY(!unzipper.unzip("First.pkg", target, error));
        QCOMPARE(error, QString("Error code 3 (-100)."));
        QVERIFY2(unzipper.unzip("Second.pkg", target, error), qPrintable(error));
        QVERIFY(readFile(target + "/Second.pkg") == mixedData(3000, 101));
    }

    void unzipWithoutOpenArchive_data()
    {
        QTest::addColumn<QString>("history");

        QTest::newRow("never opened") << "none";
        QTest::newRow("after close") << "closed";
        QTest::newRow("after a failed open") << "failed";
    }

    void unzipWithoutOpenArchive()
    {
        QFETCH(QString, history);
        SKIP_WITHOUT_TOOL("python stored");
        QString why;
        const QString archive = packed("python stored", {}, {"good.txt"}, why);
        QVERIFY2(!archive.isEmpty(), qPrintable(why));
        const QString base = QFileInfo(archive).path();

        Unzipper unzipper;
        QString error = "untouched";
        if (history == "closed") {
            QVERIFY(unzipper.open(archive, error));
            unzipper.close();
        } else if (history == "failed") {
            QVERIFY(unzipper.open(archive, error));
            QVERIFY(!unzipper.open(base + "/src/good.txt", error));
        }
        const QString target = base + "/out";
        QVERIFY(!unzipper.unzip("good.txt", target, error));
        QCOMPARE(error, QString("Error code 2."));
        QVERIFY(!QFileInfo::exists(target));
    }

    void closeIsIdempotent()
    {
        SKIP_WITHOUT_TOOL("python stored");
        QString why;
        const QString archive = packed("python stored", {}, {"good.txt"}, why);
        QVERIFY2(!archive.isEmpty(), qPrintable(why));

        const int before = openDescriptors();
        {
            Unzipper unzipper;
            unzipper.close(); // without open
            unzipper.close();
            QString error;
            QVERIFY(unzipper.open(archive, error));
            QCOMPARE(openDescriptors(), before + 1);
            unzipper.close();
            QCOMPARE(openDescriptors(), before);
            unzipper.close(); // twice
            QCOMPARE(openDescriptors(), before);
            QVERIFY(!unzipper.unzip("good.txt", newDirectory(), error));
            QCOMPARE(error, QString("Error code 2."));

            QVERIFY(unzipper.open(archive, error));
            QVERIFY2(extractsGood(unzipper, newDirectory(), why), qPrintable(why));
        }
        // Destroying the object closes the archive it still held.
        QCOMPARE(openDescriptors(), before);
    }

    void targetDirectoryNotCreatable_data()
    {
        QTest::addColumn<QString>("below"); // relative to a plain file

        QTest::newRow("parent is a file") << "/sub";
        QTest::newRow("grandparent is a file") << "/sub/deeper";
        QTest::newRow("target is a file") << "";
    }

    void targetDirectoryNotCreatable()
    {
        QFETCH(QString, below);
        SKIP_WITHOUT_TOOL("zip deflated");
        QString why;
        const QString archive = packed("zip deflated", {{"Setup.pkg", mixedData(10000, 110)}},
                                       {"Setup.pkg", "good.txt"}, why);
        QVERIFY2(!archive.isEmpty(), qPrintable(why));
        const QString base = QFileInfo(archive).path();
        const QString blocker = base + "/blocker";
        QVERIFY(writeFile(blocker, "a plain file"));

        Unzipper unzipper;
        QString error;
        QVERIFY2(unzipper.open(archive, error), qPrintable(error));
        const QString target = blocker + below;
        QVERIFY(!unzipper.unzip("Setup.pkg", target, error));
        QCOMPARE(error, QString("The directory %1 is not accessible.").arg(target));
        QCOMPARE(readFile(blocker), QByteArray("a plain file"));
        QVERIFY2(extractsGood(unzipper, newDirectory(), why), qPrintable(why));
    }

    void relativeTargetIsBelowTheCurrentDirectory()
    {
        SKIP_WITHOUT_TOOL("zip deflated");
        QString why;
        const QString archive = packed("zip deflated", {}, {"good.txt"}, why);
        QVERIFY2(!archive.isEmpty(), qPrintable(why));

        const QString saved = QDir::currentPath();
        const QString base = newDirectory();
        QVERIFY(QDir::setCurrent(base));
        Unzipper unzipper;
        QString error;
        const bool opened = unzipper.open(archive, error);
        const bool extracted = opened && unzipper.unzip("good.txt", "rel/deeper", error);
        QDir::setCurrent(saved);
        QVERIFY2(extracted, qPrintable(error));
        QCOMPARE(readFile(base + "/rel/deeper/good.txt"), kGood);
    }

    void nonAsciiPaths()
    {
        SKIP_WITHOUT_TOOL("zip deflated");
        const QByteArray data = mixedData(300000, 120);
        const QString source = sources({{"Paket.pkg", data}});
        QVERIFY(!source.isEmpty());
        const QString folder = QFileInfo(source).path() + "/Ünï cödé";
        QVERIFY(QDir().mkpath(folder));
        QString why;
        QVERIFY2(buildArchive("zip deflated", source, {"Paket.pkg"}, folder + "/Päckchen.zip", why),
                 qPrintable(why));

        Unzipper unzipper;
        QString error;
        QVERIFY2(unzipper.open(folder + "/Päckchen.zip", error), qPrintable(error));
        QVERIFY2(unzipper.unzip("Paket.pkg", folder + "/Zïel", error), qPrintable(error));
        QVERIFY(readFile(folder + "/Zïel/Paket.pkg") == data);
    }

    void writeFailure_data()
    {
        QTest::addColumn<int>("size");

        QTest::newRow("small entry, held in the file buffer") << 1000;
        QTest::newRow("several chunks") << 4 * int(kChunk) + 3;
    }

    void writeFailure()
    {
        QFETCH(int, size);
        SKIP_WITHOUT_TOOL("zip deflated");
        if (!QFileInfo("/dev/full").exists())
            QSKIP("/dev/full is missing");

        QString why;
        const QString archive = packed("zip deflated", {{"Setup.pkg", mixedData(size, 130)}},
                                       {"Setup.pkg", "good.txt"}, why);
        QVERIFY2(!archive.isEmpty(), qPrintable(why));
        const QString base = QFileInfo(archive).path();
        const QString target = base + "/out";
        QVERIFY(QDir().mkpath(target));
        QVERIFY(QFile::link("/dev/full", target + "/Setup.pkg"));

        Unzipper unzipper;
        QString error;
        QVERIFY2(unzipper.open(archive, error), qPrintable(error));
        QVERIFY(!unzipper.unzip("Setup.pkg", target, error));
        QCOMPARE(error, QString("Error code 8 (%1)").arg(errnoText(ENOSPC)));
        QVERIFY(entriesOf(target).isEmpty());
        QVERIFY2(extractsGood(unzipper, target, why), qPrintable(why));
    }

    void shortWriteFails_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("limit");

        QTest::newRow("in the last chunk") << int(kChunk) + 150000 << int(kChunk) + 40000;
        QTest::newRow("in an earlier chunk") << 4 * int(kChunk) << int(kChunk) + 40000;
    }

    void shortWriteFails()
    {
        QFETCH(int, size);
        QFETCH(int, limit);
        SKIP_WITHOUT_TOOL("python deflated");

        const QByteArray data = mixedData(size, 140);
        QString why;
        const QString archive =
            packed("python deflated", {{"Setup.pkg", data}}, {"Setup.pkg", "good.txt"}, why);
        QVERIFY2(!archive.isEmpty(), qPrintable(why));
        const QString base = QFileInfo(archive).path();

        Unzipper unzipper;
        QString error;
        QVERIFY2(unzipper.open(archive, error), qPrintable(error));
        const QString target = base + "/out";
        bool extracted = false;
        {
            // The file system takes only part of a chunk, as when a disk fills up mid-write.
            FileSizeLimit fileSizeLimit{rlim_t(limit)};
            QVERIFY(fileSizeLimit.active());
            extracted = unzipper.unzip("Setup.pkg", target, error);
        }
        QVERIFY(!extracted);
        QVERIFY2(error.startsWith("Error code 8 (") && error.endsWith(")"), qPrintable(error));
        QVERIFY(entriesOf(target).isEmpty());
        QVERIFY2(unzipper.unzip("Setup.pkg", target, error), qPrintable(error));
        QVERIFY(readFile(target + "/Setup.pkg") == data);
    }
};

CORVANTIS_TEST_MAIN(TestUnzipper)
#include "tst_unzipper.moc"
