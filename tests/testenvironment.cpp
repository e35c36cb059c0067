#include "testenvironment.h"

#include "corvantis.h"

void prepareTestProcess()
{
    static QTemporaryDir home(QDir::tempPath() + "/corvantis-test-XXXXXX"); // until the end
    const QString runtime = home.path() + "/runtime";
    if (!home.isValid() || !QDir().mkpath(runtime))
        qFatal("cannot create a temporary home folder");
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_DATA_HOME", (home.path() + "/data").toUtf8());
    qputenv("XDG_RUNTIME_DIR", runtime.toUtf8());
    QCoreApplication::setApplicationName(Corvantis::kApplicationName);
    QCoreApplication::setOrganizationName(Corvantis::kOrganizationName);
    QCoreApplication::setOrganizationDomain(Corvantis::kOrganizationDomain);
}

QString dataDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::DataLocation);
}

bool runEventsUntil(const std::function<bool()>& done, int timeoutMs)
{
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    check.start(1);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    if (!done())
        loop.exec();
    return done();
}

bool matchesPattern(const QString& text, const QString& pattern)
{
    QStringList parts = pattern.split('*');
    for (QString& part : parts)
        part = QRegularExpression::escape(part);
    return QRegularExpression("\\A" + parts.join(".*") + "\\z",
                              QRegularExpression::DotMatchesEverythingOption)
        .match(text)
        .hasMatch();
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}
