#include "filedownloader.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>
#include <QUrl>

#include "diskspace.h"
#include "socksrelay.h"

namespace {

// Without a bound Qt buffers the reply for as long as the network outpaces the disk, which
// held most of a large package in memory; this keeps file mode at a few MiB whatever the size.
// Each MiB of bound costs several MiB of peak memory, as Qt holds the data in more than one
// place; 256 KiB keeps a 4 GiB download near 27 MiB peak where 1 MiB reached 33 MiB, and on
// loopback both kept pace with curl.
constexpr qint64 kFileModeReadBufferSize = 256 * 1024;

// A name the file system would take for something else, or cut short at a NUL.
bool isUnsafeFileName(const QString& name)
{
    if (name.isEmpty() || name == "." || name == "..")
        return true;
    for (const QChar c : name) {
        if (c.category() == QChar::Other_Control || c == '/')
            return true;
    }
    return false;
}

} // namespace

FileDownloader::FileDownloader(QObject* parent) : QObject(parent)
{
}

bool FileDownloader::download(QString url, QByteArray* target, QString& error)
{
    clean();
    this->target = target;
    return download(url, error);
}

bool FileDownloader::download(QString url, QString directory, QString& filePath, QString& error)
{
    clean();
    // Only the web's own schemes: a file: or qrc: address would copy a local file for the
    // system installer, and data: would make one up.
    const QUrl address(url, QUrl::TolerantMode);
    const QString scheme = address.scheme().toLower();
    if (scheme != "http" && scheme != "https") {
        error = QString("The address %1 is not an HTTP or HTTPS address.")
                    .arg(address.toString(QUrl::FullyEncoded));
        return false;
    }
    const QString fileName = address.fileName(QUrl::FullyDecoded);
    if (isUnsafeFileName(fileName)) {
        error = QString("The address %1 does not name a file that can be saved.")
                    .arg(address.toString(QUrl::FullyEncoded));
        return false;
    }
    for (const QString& reserved : qAsConst(reservedFileNames)) {
        if (fileName.compare(reserved, Qt::CaseInsensitive) == 0) {
            error = QString("The address %1 names a file of the installer's own.")
                        .arg(address.toString(QUrl::FullyEncoded));
            return false;
        }
    }
    if (!QDir().mkpath(directory)) {
        error = QString("The directory %1 is not accessible.").arg(directory);
        return false;
    }
    filePath = directory + "/" + fileName;

    file = new QFile(filePath, this);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        error = QString("Failed to create %1 (%2).").arg(filePath, file->errorString());
        clean();
        return false;
    }
    return download(url, error);
}

bool FileDownloader::download(QString url, QString&)
{
    qDebug() << "Downloading " << url;

    QNetworkRequest request(QUrl(url, QUrl::TolerantMode));
    request.setSslConfiguration(QSslConfiguration::defaultConfiguration());
    // Qt would otherwise hand back a 3xx page as the body, and that page would be installed as
    // the package. Redirects from https to http stay refused.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    // Qt would otherwise ask for a compressed body and inflate it unseen: a small answer could
    // grow without bound in memory, and Qt drops the length header the cut check relies on.
    request.setRawHeader("Accept-Encoding", "identity");
    issue(request);
    return true;
}

void FileDownloader::issue(const QNetworkRequest& request)
{
    manager = new QNetworkAccessManager(this);
    connect(manager, &QNetworkAccessManager::finished, this, &FileDownloader::dataReady);
    if (relay)
        manager->setProxy(relay->proxy());

    reply = manager->get(request);
    // Qt's reading through a proxy stalls for good when the read buffer is bounded, so a relayed
    // reply is not; the relay bounds what it has in flight instead.
    if (!relay && file)
        reply->setReadBufferSize(kFileModeReadBufferSize);
    else if (!relay && sizeLimit >= 0)
        reply->setReadBufferSize(sizeLimit + 1);
    totalSize = 0;
    receivedSize = 0;

    connect(reply, &QNetworkReply::metaDataChanged, this, &FileDownloader::headersReady);
    connect(reply, &QIODevice::readyRead, this, &FileDownloader::partialDataReady);
    connect(reply, &QNetworkReply::downloadProgress, this, &FileDownloader::on_download_progress);
    connect(reply, &QNetworkReply::sslErrors, this, &FileDownloader::onSSLErrors);
}

void FileDownloader::headersReady()
{
    if (!reply)
        return;
    if (file && refusedBody())
        return;

    // Qt reads plain HTTP itself through a socket that notices the server's close only by
    // chance, and then takes a chunked body cut short for a whole one, asks for it again or
    // waits for ever. Such a body is asked for once more through the relay, whose close Qt
    // always notices, before any of it has been taken. Where Qt sends the request through a
    // proxy, it reads as it does through the relay, and the relay must not go round that proxy.
    const QUrl url = reply->url();
    if (relay || url.scheme().compare("http", Qt::CaseInsensitive) != 0 ||
        !reply->rawHeader("Transfer-Encoding").toLower().contains("chunked") ||
        QNetworkProxyFactory::proxyForQuery(QNetworkProxyQuery(url)).value(0).type() !=
            QNetworkProxy::NoProxy)
        return;
    relay = new SocksRelay(url.host(QUrl::FullyEncoded), quint16(url.port(80)), this);
    if (!relay->listen()) {
        delete relay;
        relay = nullptr;
        return;
    }
    // The server sees the request twice.
    qDebug() << "Downloading " << url.toString()
             << " again through the installer's relay, as the body is chunked";
    QNetworkRequest request = reply->request();
    request.setUrl(url);
    stopTransfer();
    manager->deleteLater();
    if (file) {
        file->seek(0);
        file->resize(0);
    }
    issue(request);
}

bool FileDownloader::refusedBody()
{
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status < 200 || status >= 300)
        return false; // Qt reports what is wrong with the answer itself
    QString error;
    const QByteArray encoding = reply->rawHeader("Content-Encoding").trimmed();
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    // The bytes on disk must be the file itself; Qt leaves a body in another encoding as it
    // came, as the request asks for none. A body that cannot fit would fill the disk before
    // anything could be done with it.
    if (!encoding.isEmpty() && encoding.compare("identity", Qt::CaseInsensitive) != 0)
        error = QString("The server sent the file in the content encoding \"%1\" instead of as "
                        "it is.")
                    .arg(QString::fromLatin1(encoding));
    else if (length.isValid())
        Corvantis::hasRoomFor(QFileInfo(*file).absolutePath(), length.toLongLong(), error);
    if (error.isEmpty())
        return false;
    stopWithError(error);
    clean();
    return true;
}

void FileDownloader::setSizeLimit(qint64 bytes)
{
    sizeLimit = bytes;
}

void FileDownloader::setReservedFileNames(const QStringList& names)
{
    reservedFileNames = names;
}

void FileDownloader::clean()
{
    if (manager) {
        manager->deleteLater();
        manager = nullptr;
    }
    if (reply) {
        reply->deleteLater();
        reply = nullptr;
    }
    dropRelay();
    target = nullptr;
    if (file) {
        file->deleteLater();
        file = nullptr;
    }
}

void FileDownloader::partialDataReady()
{
    if (!reply)
        return;
    const qulonglong contentLength =
        reply->header(QNetworkRequest::ContentLengthHeader).toULongLong();
    if (contentLength != 0)
        totalSize = qint64(contentLength);
    // Memory mode takes nothing out of the reply before the end, so what is available is all
    // that has arrived; adding it up on every arrival would count the early bytes again and again.
    const qint64 available = reply->bytesAvailable();
    receivedSize = file ? receivedSize + available : available;
    emit downloadProgress(qulonglong(receivedSize), qulonglong(totalSize));

    if (file) {
        const QByteArray chunk = reply->readAll();
        if (!chunk.isEmpty() && file->write(chunk) <= 0)
            stopWithError(QString("I/O failure (%1)").arg(file->errorString()));
    } else if (target && sizeLimit >= 0 && available > sizeLimit) {
        deliverOversized();
    }
}

void FileDownloader::stopTransfer()
{
    // Before reporting: a slot may open a box with its own event loop, and the rest of the body
    // must neither report again nor end in another signal.
    reply->disconnect(this);
    manager->disconnect(this);
    reply->abort();
    reply->deleteLater();
}

void FileDownloader::stopWithError(const QString& error)
{
    stopTransfer();
    dropRelay();
    emit errorOccurred(error);
}

// The relay goes as soon as its one download has ended, before a slot can open a box. Qt's end
// of its connection lives in another thread, so nothing of the relay is on the stack here.
void FileDownloader::dropRelay()
{
    delete relay;
    relay = nullptr;
}

void FileDownloader::deliverOversized()
{
    // An error page too long to read is still the server's error, worded as Qt words it.
    if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() >= 400) {
        stopWithError(
            QString("Error transferring %1 - server replied: %2")
                .arg(reply->url().toString(),
                     reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString()));
        return;
    }
    *target = reply->read(sizeLimit + 1);
    stopTransfer();
    dropRelay();
    emit finished();
}

void FileDownloader::on_download_progress(qint64, qint64 bytesTotal)
{
    totalSize = bytesTotal;
}

void FileDownloader::dataReady(QNetworkReply* finishedReply)
{
    dropRelay();
    if (finishedReply->error() != QNetworkReply::NoError) {
        emit errorOccurred(finishedReply->errorString());
        clean();
        return;
    }
    const QByteArray body = finishedReply->readAll();
    // Qt at times takes a connection closed before the announced length for the end of the body
    // and reports success; a package cut short must not be taken for a whole one. Qt drops the
    // header when it inflates a compressed body itself, so the check only sees raw lengths.
    const QVariant announced = finishedReply->header(QNetworkRequest::ContentLengthHeader);
    const qint64 delivered = (file ? receivedSize : 0) + body.size();
    if (announced.isValid() && announced.toLongLong() != delivered) {
        emit errorOccurred(QStringLiteral("Connection closed"));
        clean();
        return;
    }
    if (target) {
        *target = body;
        emit finished();
    } else if (file) {
        // The file is buffered, so the last chunks only reach the disk here; a package cut
        // short must not be reported as complete.
        const bool written = (body.isEmpty() || file->write(body) > 0) && file->flush();
        if (!written) {
            emit errorOccurred(QString("I/O failure (%1)").arg(file->errorString()));
            return;
        }
        file->close();
        emit finished();
    }
}

void FileDownloader::onSSLErrors(const QList<QSslError>& errors)
{
    for (const QSslError& sslError : errors)
        qDebug() << sslError.errorString();
}
