#include "installerwindow.h"
#include "ui_installerwindow.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QMessageBox>
#include <QPair>
#include <QProcess>
#include <QStandardPaths>

#include "buildconfig.h"
#include "corvantis.h"
#include "filedownloader.h"
#include "installdecision.h"
#include "logging.h"
#include "messageboxcss.h"
#include "packagesignature.h"
#include "receipt.h"
#include "systemplatform.h"
#include "unzipper.h"
#include "updateinfo.h"
#include "versionnumber.h"

namespace {

QString dataDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::DataLocation);
}

} // namespace

InstallerWindow::InstallerWindow(QWidget* parent)
    : InstallerWindow(parent, &SystemPlatform::instance(), QStringLiteral(CORVANTIS_UPDATE_SERVER),
                      QStringLiteral(CORVANTIS_PACKAGE_TEAM))
{
}

InstallerWindow::InstallerWindow(QWidget* parent, Platform* platform, const QString& updateServer,
                                 const QString& packageTeam)
    : QMainWindow(parent, Qt::WindowFlags()), platform(platform), updateServer(updateServer),
      packageTeam(packageTeam)
{
    ui = new Ui::InstallerWindow;
    ui->setupUi(this);
    ui->logo->setImage(":/main/tavo.png");
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint);
    setupTitle();
    ui->progressBar->setValue(0);
    init_logger(Corvantis::kLogLabel, Corvantis::kLogFileName);
    checkForUpdates();
}

InstallerWindow::~InstallerWindow()
{
    delete ui;
}

void InstallerWindow::showError(const QString& text)
{
    MessageBoxCSS::critical(this, Corvantis::kMessageTitle, text, true, QMessageBox::Close,
                            "CLOSE");
}

void InstallerWindow::fail(const QString& text, const QStringList& leftovers)
{
    showError(text);
    for (const QString& path : leftovers)
        QFile::remove(path);
    close();
}

int InstallerWindow::ask(const QString& question)
{
    // The object names are crossed over: YES wears the outlined look, NO, the default, the
    // filled one.
    return MessageBoxCSS::warning(this, Corvantis::kMessageTitle, question, true, QMessageBox::Yes,
                                  "YES", "NO", QMessageBox::No, "NO", "LOAD", 0, QString(),
                                  QString(), QMessageBox::No);
}

void InstallerWindow::checkForUpdates()
{
    auto* downloader = new FileDownloader(this);
    downloader->setSizeLimit(kMaxUpdateAnswerSize);
    connect(downloader, &FileDownloader::finished, this, &InstallerWindow::on_updateInfoDownloaded);
    connect(downloader, &FileDownloader::errorOccurred, this, &InstallerWindow::on_errorOccurred);
    connect(downloader, &FileDownloader::finished, downloader, &QObject::deleteLater);

    QString error;
    if (!downloader->download(updateServer + Corvantis::kUpdatePath, &updateInfo, error)) {
        showError(QString("Failed to connect to the server. The following error occurred:\n\n%1")
                      .arg(shortened(error)));
        // The window is not shown yet, so closing it now would not end the program; close it
        // once the event loop runs.
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
    }
}

void InstallerWindow::on_errorOccurred(QString error)
{
    fail(QString("Failed to download the installer package. The following error occurred:\n\n%1")
             .arg(shortened(error)));
}

void InstallerWindow::on_progress(qulonglong bytesReceived, qulonglong bytesTotal)
{
    ui->progressBar->setValue(progressValue(bytesReceived, bytesTotal, ui->progressBar->value()));
}

void InstallerWindow::on_buttonCancel_clicked()
{
    if (!downloadedFilePath.isEmpty())
        QFile::remove(downloadedFilePath);
    close();
}

void InstallerWindow::on_updateInfoDownloaded()
{
    const UpdateInfo offer = readUpdateInfo(updateInfo);
    if (!offer.valid) {
        showError(QString("Unexpected server response.\nPlease contact ") +
                  Corvantis::kSupportEmail + ".");
        qDebug() << offer.failureLogText << answerForLog(updateInfo).constData();
        close();
        return;
    }
    const QString& latestVersion = offer.latestInstaller.version;

    QString volume;
    QString installedVersion;
    getInstalledInfo(volume, installedVersion);
    const int installed = version_string2int(installedVersion);
    const int latest = version_string2int(latestVersion);
    qDebug() << "Installed Corvantis version: " << installedVersion
             << ", the most recent version on the server: " << latestVersion;

    const InstallDecision decision = installDecision(installed, latest);
    const QString text = decisionText(decision, installedVersion, latestVersion);
    if (decision == InstallDecision::AlreadyInstalled ||
        decision == InstallDecision::NewerInstalled) {
        MessageBoxCSS::warning(this, Corvantis::kMessageTitle, text, true, QMessageBox::Close,
                               "CLOSE");
        close();
        return;
    }
    if (decision == InstallDecision::AskToReplace && ask(text) == QMessageBox::No) {
        close();
        return;
    }
    updateMode = decision == InstallDecision::AskToReplace;

    auto* downloader = new FileDownloader(this);
    downloader->setReservedFileNames({Corvantis::kLogFileName});
    connect(downloader, &FileDownloader::finished, this, &InstallerWindow::on_downloadFinished);
    connect(downloader, &FileDownloader::errorOccurred, this, &InstallerWindow::on_errorOccurred);
    connect(downloader, &FileDownloader::downloadProgress, this, &InstallerWindow::on_progress);
    QString error;
    if (!downloader->download(offer.latestInstaller.file, dataDirectory(), downloadedFilePath,
                              error))
        fail(QString("Failed to download the installer package.\n\n%1").arg(shortened(error)));
}

void InstallerWindow::getInstalledInfo(QString& volume, QString& version)
{
    // Keyed by integer version; an installation scanned later replaces one of equal version.
    QMap<int, QPair<QString, QString>> candidates;
    const QStringList mountPoints = platform->mountedVolumes();
    for (const QString& mountPoint : mountPoints) {
        qDebug() << "Scanning volume " << mountPoint.toUtf8().constData();
        const QString receipt = platform->packageReceipt(Corvantis::kPackageIdentifier, mountPoint);
        if (receipt.isEmpty())
            continue;

        const QString foundVersion = getValue(receipt, "version");
        QString foundVolume = getValue(receipt, "volume");
        if (!foundVolume.endsWith('/'))
            foundVolume += '/';
        qDebug() << "Found Corvantis version " << foundVersion << " at " << foundVolume;

        // The receipt alone is not enough: the product may have been deleted since.
        const QString executable = foundVolume + Corvantis::kProductExecutable;
        if (QFileInfo::exists(executable)) {
            candidates.insert(version_string2int(foundVersion), {foundVersion, foundVolume});
            qDebug() << "And found " << executable;
        } else {
            qDebug() << "But didn't found Corvantis itself";
        }
    }

    if (candidates.isEmpty()) {
        volume = "/";
        return;
    }
    version = candidates.last().first;
    volume = candidates.last().second;
}

void InstallerWindow::on_downloadFinished()
{
    QString packagePath = downloadedFilePath;
    const bool archive = downloadedFilePath.right(4).toLower() == ".zip";
    if (archive) {
        packagePath.chop(4);
        packagePath += ".pkg";

        QString error;
        Unzipper unzipper;
        const QString failure = "Failed to download the installer package.\n\n%1";
        if (!unzipper.open(downloadedFilePath, error)) {
            fail(failure.arg(shortened(error)));
            return;
        }
        const QFileInfo package(packagePath);
        if (!unzipper.unzip(package.fileName(), package.path(), error)) {
            fail(failure.arg(shortened(error)), {downloadedFilePath});
            return;
        }
        unzipper.close();
    }

    if (!isSignedPackage(packagePath)) {
        fail(QString("The downloaded package is not signed by %1, so it was not installed.\n\n"
                     "Please contact %2.")
                 .arg(Corvantis::kOrganizationName, Corvantis::kSupportEmail),
             {downloadedFilePath, packagePath});
        return;
    }

    QString volume;
    QString version;
    QString error;
    if (updateMode) {
        getInstalledInfo(volume, version);
        qDebug() << "Update at " << packagePath;
        if (!install(packagePath, volume, error)) {
            fail(QString("Failed to update Corvantis.\n\n%1").arg(shortened(error)),
                 {downloadedFilePath, packagePath});
            return;
        }
    } else {
        qDebug() << "A new installation, launch " << packagePath;
        if (!launchInstaller(packagePath, error)) {
            fail(QString("Failed to install Corvantis.\n\n%1").arg(shortened(error)),
                 {downloadedFilePath, packagePath});
            return;
        }
    }

    volume.clear();
    version.clear();
    getInstalledInfo(volume, version);
    if (!version.isEmpty()) {
        if (ask("Installation finished. Would you like to launch Corvantis?") == QMessageBox::Yes) {
            QProcess product;
            product.setProgram(volume + Corvantis::kProductExecutable);
            product.startDetached();
        }
    }

    bool packageRemoved = QFile::remove(downloadedFilePath);
    if (archive)
        packageRemoved = QFile::remove(packagePath);
    if (!packageRemoved)
        showError(QString("Failed to remove file.\n\n%1").arg(shortened(packagePath)));
    close();
}

bool InstallerWindow::install(QString packagePath, QString volume, QString& error)
{
    return runScript(installScript(packagePath, volume, packageTeam, QFileInfo(packagePath).size()),
                     error);
}

bool InstallerWindow::launchInstaller(QString packagePath, QString& error)
{
    return runScript(launchScript(packagePath), error);
}

// Whoever controls the update answer chooses the package; with a team built in, only a package
// that team signed reaches the system installer.
bool InstallerWindow::isSignedPackage(const QString& packagePath)
{
    if (packageTeam.isEmpty())
        return true;
    const ToolOutput verdict = platform->packageSignature(packagePath);
    const bool signedByTeam = isSignedByTeam(verdict, packageTeam);
    QByteArray output = verdict.output;
    output.replace('\0', ' ');
    qDebug() << "Signature check of " << packagePath.toUtf8().constData()
             << (signedByTeam ? ": signed by " : ": not signed by ")
             << packageTeam.toUtf8().constData() << ", the tool said:\n"
             << output.constData();
    return signedByTeam;
}

bool InstallerWindow::runScript(const QString& source, QString& error)
{
    qDebug() << "About to launch the script: '" << source.toUtf8().constData() << "'";
    return scriptSucceeded(platform->runAppleScript(source), error);
}
