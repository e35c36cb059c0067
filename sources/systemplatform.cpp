#include "systemplatform.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QTextCodec>

namespace {

// Kernel and virtual file systems: nothing is ever installed on them.
bool isPseudoFileSystem(const QByteArray& type)
{
    static const QList<QByteArray> pseudo = {
        "autofs", "binfmt_misc", "bpf",        "cgroup",     "cgroup2",   "configfs", "debugfs",
        "devpts", "devtmpfs",    "efivarfs",   "fusectl",    "hugetlbfs", "mqueue",   "nsfs",
        "proc",   "pstore",      "rpc_pipefs", "securityfs", "sysfs",     "tracefs"};
    return pseudo.contains(type);
}

bool isHidden(const QString& mountPoint)
{
    const QStringList components = mountPoint.split('/', Qt::SkipEmptyParts);
    for (const QString& component : components) {
        if (component.startsWith('.'))
            return true;
    }
    return false;
}

// Bytes that are not valid UTF-8 count as no text at all, as the system's own string
// conversion treats them.
QString strictUtf8(const QByteArray& bytes)
{
    QTextCodec::ConverterState state;
    const QString text =
        QTextCodec::codecForName("UTF-8")->toUnicode(bytes.constData(), bytes.size(), &state);
    return state.invalidChars == 0 ? text : QString();
}

// Output kept of a tool; the parts read are a few lines long.
constexpr int kToolOutputBound = 64 * 1024;

// Reads the process's current channel while it runs, so that a flood of output costs no memory,
// and waits for its end. `keep` is handed each piece as it arrives.
template <class Keep>
bool drainToEnd(QProcess& process, Keep keep)
{
    if (!process.waitForStarted(-1))
        return false;
    while (process.waitForReadyRead(-1))
        keep(process.readAll());
    process.waitForFinished(-1);
    keep(process.readAll());
    return process.exitStatus() == QProcess::NormalExit;
}

} // namespace

SystemPlatform& SystemPlatform::instance()
{
    static SystemPlatform platform;
    return platform;
}

QStringList SystemPlatform::mountedVolumes()
{
    QStringList mountPoints;
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        if (volume.isValid() && volume.isReady() && !isPseudoFileSystem(volume.fileSystemType()) &&
            !isHidden(volume.rootPath()))
            mountPoints << volume.rootPath();
    }
    return mountPoints;
}

QString SystemPlatform::packageReceipt(const QString& packageIdentifier, const QString& mountPoint)
{
    const QString program = QStandardPaths::findExecutable("pkgutil");
    if (program.isEmpty())
        return QString();

    // An argument list, not a shell command line: a mount point is passed on as it is.
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, {"--pkg-info", packageIdentifier, "--volume=" + mountPoint},
                  QIODevice::ReadOnly);
    // A receipt is a few lines; more than the bound is no receipt.
    QByteArray output;
    bool whole = true;
    drainToEnd(process, [&output, &whole](const QByteArray& piece) {
        whole = whole && output.size() + piece.size() <= kToolOutputBound;
        if (whole)
            output += piece;
    });
    return whole ? strictUtf8(output) : QString();
}

Corvantis::ScriptOutcome SystemPlatform::runAppleScript(const QString& source)
{
    Corvantis::ScriptOutcome outcome;
    const QString program = QStandardPaths::findExecutable("osascript");
    if (program.isEmpty()) {
        outcome.errorMessage = QStringLiteral("AppleScript is not available on this system.");
        return outcome;
    }

    // Only the last line of the error output is used: the script's result is dropped and the
    // error output is kept from its end, so that no amount of output fills the memory.
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setReadChannel(QProcess::StandardError);
    process.start(program, {"-e", source}, QIODevice::ReadOnly);
    QByteArray errorOutput;
    const bool exited = drainToEnd(process, [&errorOutput](const QByteArray& piece) {
        errorOutput += piece;
        if (errorOutput.size() > kToolOutputBound)
            errorOutput.remove(0, errorOutput.size() - kToolOutputBound);
    });
    if (process.error() == QProcess::FailedToStart) {
        outcome.errorMessage = process.errorString();
        return outcome;
    }
    if (exited && process.exitCode() == 0) {
        outcome.succeeded = true;
        return outcome;
    }

    // "<start>:<end>: execution error: <message> (<number>)"; the message may be localised or
    // carry a prefix of its own, so the number is read from the final parentheses.
    const QStringList lines = QString::fromUtf8(errorOutput).split('\n', Qt::SkipEmptyParts);
    QString line = lines.isEmpty() ? QString() : lines.last().trimmed();
    const QRegularExpressionMatch number =
        QRegularExpression(QStringLiteral("\\s*\\((-?\\d+)\\)$")).match(line);
    if (number.hasMatch()) {
        bool ok = false;
        const int value = number.captured(1).toInt(&ok);
        if (ok)
            outcome.errorNumber = value;
        line.truncate(number.capturedStart());
    }
    const int marker = line.indexOf(QLatin1String("execution error: "));
    if (marker >= 0)
        line = line.mid(marker + int(qstrlen("execution error: ")));
    else
        line.remove(QRegularExpression(QStringLiteral("^\\d+:\\d+:\\s*")));
    if (!line.trimmed().isEmpty())
        outcome.errorMessage = line.trimmed();
    return outcome;
}

Corvantis::ToolOutput SystemPlatform::packageSignature(const QString& packagePath)
{
    Corvantis::ToolOutput result;
    const QString program = QStandardPaths::findExecutable("pkgutil");
    if (program.isEmpty())
        return result;

    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, {"--check-signature", packagePath}, QIODevice::ReadOnly);
    result.finished = drainToEnd(process, [&result](const QByteArray& piece) {
        result.output += piece.left(kToolOutputBound - result.output.size());
    });
    result.exitCode = process.exitCode();
    return result;
}
