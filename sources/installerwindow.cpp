#include "installerwindow.h"
#include "ui_installerwindow.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QStandardPaths>

#include "applescripts.h"
#include "boxtext.h"
#include "buildconfig.h"
#include "corvantis.h"
#include "downloadprogress.h"
#include "filedownloader.h"
#include "installdecision.h"
#include "logging.h"
#include "messageboxcss.h"
#include "platform.h"
#include "systemplatform.h"
#include "unzipper.h"
#include "updateinfo.h"
#include "versionnumber.h"

using namespace Corvantis;

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
    init_logger(kLogLabel, kLogFileName);
    checkForUpdates();
}

InstallerWindow::~InstallerWindow()
{
    delete ui;
}

void InstallerWindow::showError(const QString& text)
{
    MessageBoxCSS::critical(this, kMessageTitle, text, true, QMessageBox::Close, "CLOSE");
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
    return MessageBoxCSS::warning(this, kMessageTitle, question, true, QMessageBox::Yes, "YES",
                                  "NO", QMessageBox::No, "NO", "LOAD", 0, QString(), QString(),
                                  QMessageBox::No);
}

void InstallerWindow::checkForUpdates()
{
    auto* downloader = new FileDownloader(this);
    downloader->setSizeLimit(kMaxUpdateAnswerSize);
    connect(downloader, &FileDownloader::finished, this, &InstallerWindow::on_updateInfoDownloaded);
    connect(downloader, &FileDownloader::errorOccurred, this, &InstallerWindow::on_errorOccurred);
    connect(downloader, &FileDownloader::finished, downloader, &QObject::deleteLater);

    QString error;
    if (!downloader->download(updateServer + kUpdatePath, &updateInfo, error)) {
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
        showError(QString("Unexpected server response.\nPlease contact ") + kSupportEmail + ".");
        qDebug() << offer.failureLogText << answerForLog(updateInfo).constData();
        close();
        return;
    }
    if (agreeToInstall(offer.latestInstaller.version))
        downloadPackage(offer.latestInstaller.file);
}

// Refuses, asks or goes ahead, by the installed version against the offered one.
bool InstallerWindow::agreeToInstall(const QString& latestVersion)
{
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
        MessageBoxCSS::warning(this, kMessageTitle, text, true, QMessageBox::Close, "CLOSE");
        close();
        return false;
    }
    if (decision == InstallDecision::AskToReplace && ask(text) == QMessageBox::No) {
        close();
        return false;
    }
    updateMode = decision == InstallDecision::AskToReplace;
    return true;
}

void InstallerWindow::downloadPackage(const QString& url)
{
    auto* downloader = new FileDownloader(this);
    downloader->setReservedFileNames({kLogFileName});
    connect(downloader, &FileDownloader::finished, this, &InstallerWindow::on_downloadFinished);
    connect(downloader, &FileDownloader::errorOccurred, this, &InstallerWindow::on_errorOccurred);
    connect(downloader, &FileDownloader::downloadProgress, this, &InstallerWindow::on_progress);
    QString error;
    if (!downloader->download(url, dataDirectory(), downloadedFilePath, error))
        fail(QString("Failed to download the installer package.\n\n%1").arg(shortened(error)));
}

void InstallerWindow::getInstalledInfo(QString& volume, QString& version)
{
    const std::optional<Installation> product = platform->installedProduct();
    if (!product) {
        volume = "/";
        return;
    }
    volume = product->volume;
    version = product->version;
}

void InstallerWindow::on_downloadFinished()
{
    QString packagePath;
    if (!extractPackage(packagePath) || !verifyPackage(packagePath) || !installPackage(packagePath))
        return;
    offerLaunch();
    removeDownloads(packagePath);
    close();
}

bool InstallerWindow::downloadIsArchive() const
{
    return downloadedFilePath.right(4).toLower() == ".zip";
}

// The package is the download itself, or the one of the same base name that a ".zip" download
// holds, extracted next to it.
bool InstallerWindow::extractPackage(QString& packagePath)
{
    packagePath = downloadedFilePath;
    if (!downloadIsArchive())
        return true;
    packagePath.chop(4);
    packagePath += ".pkg";

    QString error;
    Unzipper unzipper;
    const QString failure = "Failed to download the installer package.\n\n%1";
    if (!unzipper.open(downloadedFilePath, error)) {
        fail(failure.arg(shortened(error)));
        return false;
    }
    const QFileInfo package(packagePath);
    if (!unzipper.unzip(package.fileName(), package.path(), error)) {
        fail(failure.arg(shortened(error)), {downloadedFilePath});
        return false;
    }
    unzipper.close();
    return true;
}

// Whoever controls the update answer chooses the package; with a team built in, only a package
// that team signed reaches the system installer.
bool InstallerWindow::verifyPackage(const QString& packagePath)
{
    if (packageTeam.isEmpty() || platform->isSignedBy(packagePath, packageTeam))
        return true;
    fail(QString("The downloaded package is not signed by %1, so it was not installed.\n\n"
                 "Please contact %2.")
             .arg(kOrganizationName, kSupportEmail),
         {downloadedFilePath, packagePath});
    return false;
}

bool InstallerWindow::installPackage(const QString& packagePath)
{
    QString error;
    if (updateMode) {
        QString volume;
        QString version;
        getInstalledInfo(volume, version);
        qDebug() << "Update at " << packagePath;
        if (install(packagePath, volume, error))
            return true;
        fail(QString("Failed to update Corvantis.\n\n%1").arg(shortened(error)),
             {downloadedFilePath, packagePath});
        return false;
    }
    qDebug() << "A new installation, launch " << packagePath;
    if (launchInstaller(packagePath, error))
        return true;
    fail(QString("Failed to install Corvantis.\n\n%1").arg(shortened(error)),
         {downloadedFilePath, packagePath});
    return false;
}

void InstallerWindow::offerLaunch()
{
    QString volume;
    QString version;
    getInstalledInfo(volume, version);
    if (version.isEmpty())
        return;
    if (ask("Installation finished. Would you like to launch Corvantis?") == QMessageBox::Yes) {
        QProcess product;
        product.setProgram(volume + kProductExecutable);
        product.startDetached();
    }
}

void InstallerWindow::removeDownloads(const QString& packagePath)
{
    bool packageRemoved = QFile::remove(downloadedFilePath);
    if (downloadIsArchive())
        packageRemoved = QFile::remove(packagePath);
    if (!packageRemoved)
        showError(QString("Failed to remove file.\n\n%1").arg(shortened(packagePath)));
}

bool InstallerWindow::install(QString packagePath, QString volume, QString& error)
{
    return platform->runScript(
        installScript(packagePath, volume, packageTeam, QFileInfo(packagePath).size()), error);
}

bool InstallerWindow::launchInstaller(QString packagePath, QString& error)
{
    return platform->runScript(launchScript(packagePath), error);
}
