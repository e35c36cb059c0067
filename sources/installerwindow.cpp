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

// The text between single quotes in a shell command: a quote closes, is escaped and reopens.
QString shellQuoted(QString path)
{
    return path.replace('\'', QLatin1String("'\\''"));
}

// A do shell script command; the shell command is escaped for the AppleScript string literal.
QString doShellScript(QString command)
{
    command.replace('\\', QLatin1String("\\\\")).replace('"', QLatin1String("\\\""));
    return "do shell script \"" + command + "\"";
}

// Text from outside (the server, the network, the archive, the system installer) goes into a
// box shortened: a megabyte of it took seconds to lay out and ran off the screen.
QString shortened(const QString& text)
{
    constexpr int kMaxCharacters = 300;
    constexpr int kMaxLines = 8;
    int end = qMin(text.size(), kMaxCharacters);
    for (int line = 0, at = -1; line < kMaxLines; ++line) {
        at = text.indexOf('\n', at + 1);
        if (at < 0 || at >= end)
            break;
        if (line == kMaxLines - 1)
            end = at;
    }
    if (end == text.size())
        return text;
    if (end > 0 && text.at(end - 1).isHighSurrogate())
        --end;
    return text.left(end) + QChar(0x2026);
}

// AppleScript's number for "User canceled.", as when the password prompt is dismissed.
constexpr int kUserCanceled = -128;

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
    if (bytesTotal == 0)
        return;
    const int thousandths = int(quint32(bytesReceived * 1000 / bytesTotal));
    ui->progressBar->setValue(thousandths > 29 ? thousandths : 30);
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

    updateMode = false;
    if (installed != 0) {
        if (installed == latest) {
            MessageBoxCSS::warning(this, Corvantis::kMessageTitle,
                                   QString("This version of Corvantis (v%1) is installed already.")
                                       .arg(shortened(installedVersion)),
                                   true, QMessageBox::Close, "CLOSE");
            close();
            return;
        }
        if (installed > latest) {
            MessageBoxCSS::warning(this, Corvantis::kMessageTitle,
                                   QString("A newer version of Corvantis (v%1) is installed "
                                           "already.\n\nPlease uninstall it first and then launch "
                                           "this installer again.")
                                       .arg(shortened(installedVersion)),
                                   true, QMessageBox::Close, "CLOSE");
            close();
            return;
        }
        const int answer =
            ask(QString("An older version of Corvantis (v%1) is installed already.\n\nReplace it "
                        "with version %2?")
                    .arg(shortened(installedVersion), shortened(latestVersion)));
        if (answer == QMessageBox::No) {
            close();
            return;
        }
        updateMode = true;
    }

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
    return runScript(doShellScript("/usr/sbin/installer -pkg '" + shellQuoted(packagePath) +
                                   "' -target '" + shellQuoted(volume) + "'") +
                         " with administrator privileges",
                     error);
}

bool InstallerWindow::launchInstaller(QString packagePath, QString& error)
{
    return runScript(doShellScript("/usr/bin/open '-W' '" + shellQuoted(packagePath) + "'"), error);
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
    const ScriptOutcome outcome = platform->runAppleScript(source);
    if (outcome.succeeded)
        return true;
    if (outcome.errorNumber && *outcome.errorNumber == kUserCanceled)
        error = "The administrator password is required to do this.";
    if (!error.isEmpty())
        return false;
    if (outcome.errorMessage)
        error = *outcome.errorMessage;
    return false;
}
