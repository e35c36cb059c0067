// corvantis-bench download <url> <directory>
// corvantis-bench unzip <archive> <entry> <directory>
// corvantis-bench answer <url> [<authority.pem>]
// corvantis-bench osascript
// corvantis-bench receipt
// corvantis-bench idle | libs
// Runs one download (file mode) or one extraction with the installer's own classes and exits 0
// on success, 1 on failure with the error on standard error. "answer" fetches and reads an update
// answer as the update check does (an extra authority may be trusted for https) and prints what
// it kept; "osascript" runs one AppleScript through the system's runner and prints the outcome;
// "receipt" asks the system's receipt tool for the product's receipt on "/" and prints its size.
// The baselines: "idle" makes the application object and runs the event loop once, "libs" only
// loads the libraries and exits.

#include "corvantis.h"
#include "filedownloader.h"
#include "systemplatform.h"
#include "unzipper.h"
#include "updateinfo.h"

#include <QCoreApplication>
#include <QFile>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QStringList>
#include <QTimer>

#include <cstdio>

namespace {

int usage()
{
    std::fprintf(stderr, "usage: corvantis-bench download <url> <directory>\n"
                         "       corvantis-bench unzip <archive> <entry> <directory>\n"
                         "       corvantis-bench answer <url> [<authority.pem>]\n"
                         "       corvantis-bench osascript\n"
                         "       corvantis-bench receipt\n"
                         "       corvantis-bench idle | libs\n");
    return 2;
}

int fail(const QString& error)
{
    std::fprintf(stderr, "error: %s\n", qPrintable(error));
    return 1;
}

int download(QCoreApplication& app, const QString& url, const QString& directory)
{
    FileDownloader downloader;
    QObject::connect(&downloader, &FileDownloader::finished, &app, [&app] { app.exit(0); });
    QObject::connect(&downloader, &FileDownloader::errorOccurred, &app,
                     [&app](const QString& error) {
                         fail(error);
                         app.exit(1);
                     });
    QString filePath;
    QString error;
    if (!downloader.download(url, directory, filePath, error))
        return fail(error);
    return app.exec();
}

// The update check's steps: memory mode bounded like the installer's, then the reading and, for
// an answer that is no offer, the log record.
int answer(QCoreApplication& app, const QString& url, const QString& authorityFile)
{
    if (!authorityFile.isEmpty()) {
        QFile pem(authorityFile);
        if (!pem.open(QIODevice::ReadOnly))
            return fail(pem.errorString());
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.setCaCertificates(configuration.caCertificates() +
                                        QSslCertificate::fromData(pem.readAll(), QSsl::Pem));
        QSslConfiguration::setDefaultConfiguration(configuration);
    }
    QByteArray body;
    FileDownloader downloader;
    downloader.setSizeLimit(kMaxUpdateAnswerSize);
    QObject::connect(&downloader, &FileDownloader::finished, &app, [&app, &body] {
        const UpdateInfo offer = readUpdateInfo(body);
        if (offer.valid) {
            std::printf("valid: kept %d bytes, installer %s at %s\n", body.size(),
                        qPrintable(offer.latestInstaller.version),
                        qPrintable(offer.latestInstaller.file));
        } else {
            std::printf("invalid: kept %d bytes, log record %d bytes\n", body.size(),
                        answerForLog(body).size());
        }
        app.exit(0);
    });
    QObject::connect(&downloader, &FileDownloader::errorOccurred, &app,
                     [&app](const QString& error) {
                         fail(error);
                         app.exit(1);
                     });
    QString error;
    if (!downloader.download(url, &body, error))
        return fail(error);
    return app.exec();
}

int osascript()
{
    const ScriptOutcome outcome =
        SystemPlatform::instance().runAppleScript(QStringLiteral("do shell script \"true\""));
    std::printf("succeeded: %s, errorNumber: %s, errorMessage: %s\n",
                outcome.succeeded ? "yes" : "no",
                outcome.errorNumber ? qPrintable(QString::number(*outcome.errorNumber)) : "none",
                outcome.errorMessage ? qPrintable(*outcome.errorMessage) : "none");
    return 0;
}

int receipt()
{
    const QString text =
        SystemPlatform::instance().packageReceipt(Corvantis::kPackageIdentifier, "/");
    std::printf("receipt: kept %d characters\n", text.size());
    return 0;
}

int unzip(const QString& archive, const QString& entry, const QString& directory)
{
    Unzipper unzipper;
    QString error;
    if (!unzipper.open(archive, error) || !unzipper.unzip(entry, directory, error))
        return fail(error);
    unzipper.close();
    return 0;
}

int idle(QCoreApplication& app)
{
    QTimer::singleShot(0, &app, [&app] { app.exit(0); });
    return app.exec();
}

} // namespace

int main(int argc, char** argv)
{
    // Keep the downloader's debug lines off the terminal; errors are printed by this tool.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});

    QStringList args;
    for (int i = 1; i < argc; ++i)
        args.append(QString::fromLocal8Bit(argv[i]));
    // Extraction is synchronous and needs no application object or event loop.
    if (args.size() == 4 && args[0] == "unzip")
        return unzip(args[1], args[2], args[3]);
    if (args.size() == 1 && args[0] == "libs")
        return 0;

    QCoreApplication app(argc, argv);
    if (args.size() == 3 && args[0] == "download")
        return download(app, args[1], args[2]);
    if ((args.size() == 2 || args.size() == 3) && args[0] == "answer")
        return answer(app, args[1], args.value(2));
    if (args.size() == 1 && args[0] == "osascript")
        return osascript();
    if (args.size() == 1 && args[0] == "receipt")
        return receipt();
    if (args.size() == 1 && args[0] == "idle")
        return idle(app);
    return usage();
}
