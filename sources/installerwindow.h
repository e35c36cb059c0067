#pragma once

#include <QByteArray>
#include <QMainWindow>
#include <QString>
#include <QStringList>

class Platform;

namespace Ui {
class InstallerWindow;
}

// The one window of the installer and the holder of the run: it checks for updates, decides,
// downloads, installs, offers to launch the product and closes, which ends the program.
class InstallerWindow : public QMainWindow
{
    Q_OBJECT

public:
    // The shipped window: the running system and the built-in update server.
    explicit InstallerWindow(QWidget* parent = nullptr);
    // For tests and demonstrations: another platform, the update server to ask (scheme, host
    // and optional port) and the team that must have signed the package (empty: no check).
    InstallerWindow(QWidget* parent, Platform* platform, const QString& updateServer,
                    const QString& packageTeam = QString());
    ~InstallerWindow() override;

    // The volume (ending in "/") and version text of the highest confirmed installation; "/"
    // and an untouched version when there is none.
    void getInstalledInfo(QString& volume, QString& version);
    // Installs the package silently onto the volume, as administrator.
    bool install(QString packagePath, QString volume, QString& error);
    // Opens the package in the interactive installer and waits until it quits.
    bool launchInstaller(QString packagePath, QString& error);

private slots:
    void on_buttonCancel_clicked();
    void on_updateInfoDownloaded();
    void on_downloadFinished();
    void on_errorOccurred(QString error);
    void on_progress(qulonglong bytesReceived, qulonglong bytesTotal);

private:
    // The road of a run, in its order: the update check, the decision, the download, and once
    // it has arrived the package's preparation, its check, its installation, the offer to launch
    // the product and the removal of the files. A step that ends the run returns false.
    void checkForUpdates();
    bool agreeToInstall(const QString& latestVersion);
    void downloadPackage(const QString& url);
    bool extractPackage(QString& packagePath);
    bool verifyPackage(const QString& packagePath);
    bool installPackage(const QString& packagePath);
    void offerLaunch();
    void removeDownloads(const QString& packagePath);

    void setupTitle();
    bool downloadIsArchive() const;
    void showError(const QString& text);
    // Ends the run after a failure: the error box, then the files named are removed, then the
    // window closes.
    void fail(const QString& text, const QStringList& leftovers = QStringList());
    // A YES/NO question whose default is NO; returns the button that closed it.
    int ask(const QString& question);

    QString downloadedFilePath;
    QByteArray updateInfo;
    bool updateMode = false;
    Ui::InstallerWindow* ui = nullptr;

    Platform* platform;
    QString updateServer;
    QString packageTeam;
};
