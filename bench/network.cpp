// corvantis-bench-network download <url> <directory>
// corvantis-bench-network answer <url> [<authority.pem>]
// corvantis-bench-network idle | libs
// Runs one download (file mode) with the installer's own downloader and exits 0 on success, 1 on
// failure with the error on standard error. "answer" fetches and reads an update answer as the
// update check does (an extra authority may be trusted for https) and prints what it kept. The
// baselines: "idle" makes the application object and runs the event loop once, "libs" only loads
// the libraries and exits.

#include "benchtool.h"
#include "filedownloader.h"
#include "updateinfo.h"

#include <QCoreApplication>
#include <QFile>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QStringList>
#include <QTimer>

#include <cstdio>

namespace {

using namespace Corvantis;
using BenchTool::fail;

int usage()
{
    std::fprintf(stderr, "usage: corvantis-bench-network download <url> <directory>\n"
                         "       corvantis-bench-network answer <url> [<authority.pem>]\n"
                         "       corvantis-bench-network idle | libs\n");
    return 2;
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

int idle(QCoreApplication& app)
{
    QTimer::singleShot(0, &app, [&app] { app.exit(0); });
    return app.exec();
}

} // namespace

int main(int argc, char** argv)
{
    BenchTool::quietMessages();

    QStringList args;
    for (int i = 1; i < argc; ++i)
        args.append(QString::fromLocal8Bit(argv[i]));
    if (args.size() == 1 && args[0] == "libs")
        return 0;

    QCoreApplication app(argc, argv);
    if (args.size() == 3 && args[0] == "download")
        return download(app, args[1], args[2]);
    if ((args.size() == 2 || args.size() == 3) && args[0] == "answer")
        return answer(app, args[1], args.value(2));
    if (args.size() == 1 && args[0] == "idle")
        return idle(app);
    return usage();
}
