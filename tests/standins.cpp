#include "standins.h"

StandIns::StandIns() : m_bin(QDir::tempPath() + "/corvantis-standins-XXXXXX")
{
    const QString standIns = QStringLiteral(CORVANTIS_TESTS_DIR "/standins/");
    QFile::link(standIns + "osascript", m_bin.filePath("osascript"));
    for (const char* name : {"pkgutil", "installer", "open"})
        QFile::link(standIns + "record-arguments", m_bin.filePath(name));
    qputenv("PATH", (m_bin.path() + ":/usr/bin:/bin").toUtf8());
#ifdef CORVANTIS_MAC_RUNTIME
    // The macOS file starts /usr/sbin/pkgutil by that path. The run-time check gives this process
    // a /usr/sbin of its own to put the stand-in there; never the machine's.
    if (QStorageInfo("/usr/sbin").rootPath() != "/usr/sbin")
        qFatal("StandIns: /usr/sbin is not a mount of its own (run scripts/check-mac-runtime.sh)");
    QFile::remove("/usr/sbin/pkgutil");
    QFile::link(m_bin.filePath("pkgutil"), "/usr/sbin/pkgutil");
#endif
    qputenv("STANDIN_RECORD", m_bin.filePath("arguments").toUtf8());
    qputenv("OSASCRIPT_RECORD", m_bin.filePath("script").toUtf8());
}

StandIns::~StandIns()
{
    qputenv("PATH", m_oldPath);
    // Set by the object, or by the test (STANDIN_ERROR, OSASCRIPT_FAIL: see standins/).
    for (const char* name :
         {"STANDIN_RECORD", "STANDIN_OUTPUT", "STANDIN_STATUS", "STANDIN_ERROR", "STANDIN_SIGNED",
          "OSASCRIPT_RECORD", "OSASCRIPT_FAIL", "APPLESCRIPT_OUTCOME", "OSASCRIPT_SWAP",
          "OSASCRIPT_SWAP_FROM", "OSASCRIPT_SWAP_TO"})
        qunsetenv(name);
}

void StandIns::setSignedPackage(const QByteArray& bytes)
{
    writeFile(m_bin.filePath("signed"), bytes);
    qputenv("STANDIN_SIGNED", m_bin.filePath("signed").toUtf8());
}

void StandIns::swapAtPrompt(const QString& how, const QByteArray& bytes, const QString& package)
{
    writeFile(m_bin.filePath("replacement"), bytes);
    qputenv("OSASCRIPT_SWAP", how.toUtf8());
    qputenv("OSASCRIPT_SWAP_FROM", m_bin.filePath("replacement").toUtf8());
    qputenv("OSASCRIPT_SWAP_TO", package.toUtf8());
}

void StandIns::setOutput(const QByteArray& output, int status)
{
    qputenv("STANDIN_STATUS", QByteArray::number(status));
    writeFile(m_bin.filePath("output"), output);
    qputenv("STANDIN_OUTPUT", m_bin.filePath("output").toUtf8());
}

QStringList StandIns::recordedArguments() const
{
    QStringList arguments;
    for (const QByteArray& field : readFile(m_bin.filePath("arguments")).split('\0'))
        arguments << QString::fromUtf8(field);
    arguments.removeLast(); // after the last terminator
    return arguments;
}
