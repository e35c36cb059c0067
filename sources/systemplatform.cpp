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
    if (!process.waitForFinished(-1))
        return QString();
    return strictUtf8(process.readAllStandardOutput());
}

ScriptOutcome SystemPlatform::runAppleScript(const QString& source)
{
    ScriptOutcome outcome;
    const QString program = QStandardPaths::findExecutable("osascript");
    if (program.isEmpty()) {
        outcome.errorMessage = QStringLiteral("AppleScript is not available on this system.");
        return outcome;
    }

    QProcess process;
    process.start(program, {"-e", source}, QIODevice::ReadOnly);
    if (!process.waitForFinished(-1)) {
        outcome.errorMessage = process.errorString();
        return outcome;
    }
    if (process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0) {
        outcome.succeeded = true;
        return outcome;
    }

    // "<start>:<end>: execution error: <message> (<number>)"; the message may be localised or
    // carry a prefix of its own, so the number is read from the final parentheses.
    const QStringList lines =
        QString::fromUtf8(process.readAllStandardError()).split('\n', Qt::SkipEmptyParts);
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
