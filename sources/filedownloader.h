#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSslError>
#include <QString>
#include <QStringList>

class QFile;
class SocksRelay;
class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;

// Fetches one URL over HTTP(S), into a caller's byte array (memory mode) or streamed chunk by
// chunk into a file (file mode). Ends with finished() or errorOccurred(); never both.
class FileDownloader : public QObject
{
    Q_OBJECT

public:
    explicit FileDownloader(QObject* parent = nullptr);

    // Memory mode: the body is assigned to *target before finished(). Always true.
    bool download(QString url, QByteArray* target, QString& error);
    // File mode: streams into directory + "/" + the URL's decoded file name. False, with error
    // set, when the directory or the file cannot be made; filePath is set before the file opens.
    bool download(QString url, QString directory, QString& filePath, QString& error);
    // Issues the request into whatever sink is set.
    bool download(QString url, QString& error);
    // Memory mode: a body longer than the limit is not read to its end; the transfer stops and
    // the first limit + 1 bytes are delivered, so the caller sees that it is too long.
    void setSizeLimit(qint64 bytes);
    // File mode: names the file may not take, compared without regard to case.
    void setReservedFileNames(const QStringList& names);
    // Releases the request and the sinks; a file on disk is never removed.
    void clean();

signals:
    void finished();
    void errorOccurred(QString error);
    void downloadProgress(qulonglong bytesReceived, qulonglong bytesTotal);

private slots:
    void dataReady(QNetworkReply* reply);
    void partialDataReady();
    void on_download_progress(qint64 bytesReceived, qint64 bytesTotal);
    void onSSLErrors(const QList<QSslError>& errors);

private:
    void issue(const QNetworkRequest& request);
    void headersReady();
    // File mode: refuses a body in another encoding than the file's own, or too long for the
    // disk, before any of it is written; true when it did.
    bool refusedBody();
    void stopWithError(const QString& error);
    void dropRelay();
    void deliverOversized();
    void stopTransfer();

    QByteArray* target = nullptr;
    QFile* file = nullptr;
    QNetworkAccessManager* manager = nullptr;
    SocksRelay* relay = nullptr; // carries a chunked plain-HTTP body, see headersReady()
    QPointer<QNetworkReply> reply;
    qint64 totalSize = 0;
    qint64 receivedSize = 0;
    qint64 sizeLimit = -1;
    QStringList reservedFileNames;
};
