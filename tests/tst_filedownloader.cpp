#include "filedownloader.h"
#include "testenvironment.h"
#include "testserver.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QMutex>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSignalSpy>
#include <QSslCertificate>
#include <QSslError>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <zlib.h>

Q_DECLARE_METATYPE(TestResponse)
Q_DECLARE_METATYPE(TestResponse::Framing)

namespace {

constexpr int kTimeout = 60000;
// The total a reply without one reports (-1), as the unsigned signal carries it.
constexpr qulonglong kNoTotal = ~0ULL;
constexpr qint64 kMiB = 1024 * 1024;

QMutex s_messagesMutex;
QStringList s_debugMessages;
QtMessageHandler s_previousHandler = nullptr;

void captureMessages(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtDebugMsg) {
        QMutexLocker lock(&s_messagesMutex);
        s_debugMessages.append(message);
    } else if (s_previousHandler) {
        s_previousHandler(type, context, message);
    }
}

QStringList takeDebugMessages()
{
    QMutexLocker lock(&s_messagesMutex);
    QStringList messages;
    messages.swap(s_debugMessages);
    return messages;
}

// A QString item as Qt's debug stream writes it: in double quotes, with escapes.
QString quoted(const QString& text)
{
    QString out;
    QDebug(&out).nospace() << text;
    return out;
}

QString downloadingLine(const QString& url)
{
    return "Downloading  " + quoted(url);
}

// What Qt itself reports for the request, from a bare network access manager with the same
// redirect handling as the downloader.
QString qtErrorText(const QString& url)
{
    QNetworkAccessManager manager;
    QNetworkRequest request{QUrl(url)};
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    QScopedPointer<QNetworkReply> reply(manager.get(request));
    QSignalSpy done(reply.data(), &QNetworkReply::finished);
    if (!reply->isFinished() && !done.wait(kTimeout))
        return "no answer";
    return reply->error() == QNetworkReply::NoError ? QString() : reply->errorString();
}

// What writing to a full device makes QFile say.
QString diskFullText()
{
    QFile full("/dev/full");
    if (!full.open(QIODevice::WriteOnly))
        return QString();
    full.write(QByteArray(64 * 1024, 'x'));
    full.flush();
    return full.errorString();
}

QByteArray gzip(const QByteArray& data)
{
    z_stream stream{};
    if (deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return QByteArray();
    QByteArray out(int(deflateBound(&stream, uLong(data.size()))), Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(out.size());
    const int result = deflate(&stream, Z_FINISH);
    out.resize(int(stream.total_out));
    deflateEnd(&stream);
    return result == Z_STREAM_END ? out : QByteArray();
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QByteArray expectedBody(const TestResponse& response)
{
    return response.generatedSize >= 0 ? TestServer::generatedBody(0, response.generatedSize)
                                       : response.body;
}

TestResponse generated(qint64 size, TestResponse::Framing framing = TestResponse::ContentLength)
{
    TestResponse response;
    response.generatedSize = size;
    response.framing = framing;
    return response;
}

TestResponse withBody(const QByteArray& body, int status = 200)
{
    TestResponse response;
    response.status = status;
    response.body = body;
    return response;
}

TestResponse redirect(int status, const QString& location)
{
    TestResponse response;
    response.status = status;
    response.location = location;
    response.body = "<html>This page has moved</html>\n";
    return response;
}

// A port on 127.0.0.1 that nothing listens on.
quint16 closedPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

// Records every signal of one downloader in arrival order.
struct Observer
{
    explicit Observer(FileDownloader* downloader)
        : finishedSpy(downloader, &FileDownloader::finished),
          errorSpy(downloader, &FileDownloader::errorOccurred),
          progressSpy(downloader, &FileDownloader::downloadProgress)
    {
        QObject::connect(downloader, &FileDownloader::finished, downloader,
                         [this] { events.append("finished"); });
        QObject::connect(downloader, &FileDownloader::errorOccurred, downloader,
                         [this] { events.append("error"); });
        QObject::connect(downloader, &FileDownloader::downloadProgress, downloader,
                         [this](qulonglong received, qulonglong total) {
                             events.append("progress");
                             progress.append({received, total});
                         });
    }

    bool ended() const { return finishedSpy.count() + errorSpy.count() > 0; }
    QString error() const
    {
        return errorSpy.isEmpty() ? QString() : errorSpy.first().first().toString();
    }
    // Progress reports only, then exactly one terminal signal.
    bool endsWithOnly(const QString& terminal) const
    {
        return !events.isEmpty() && events.last() == terminal && events.count(terminal) == 1 &&
               events.count() == progress.count() + 1;
    }
    bool receivedGrows() const
    {
        for (int i = 1; i < progress.size(); ++i) {
            if (progress[i].first <= progress[i - 1].first)
                return false;
        }
        return true;
    }

    QSignalSpy finishedSpy;
    QSignalSpy errorSpy;
    QSignalSpy progressSpy;
    QStringList events;
    QList<QPair<qulonglong, qulonglong>> progress;
};

bool managerReleased(const FileDownloader& downloader)
{
    return downloader.findChildren<QNetworkAccessManager*>(QString(), Qt::FindDirectChildrenOnly)
        .isEmpty();
}

bool fileReleased(const FileDownloader& downloader)
{
    return downloader.findChildren<QFile*>(QString(), Qt::FindDirectChildrenOnly).isEmpty();
}

// No reply of the downloader can still deliver anything.
bool repliesDone(const FileDownloader& downloader)
{
    for (const QNetworkReply* reply : downloader.findChildren<QNetworkReply*>()) {
        if (!reply->isFinished())
            return false;
    }
    return true;
}

} // namespace

class TestFileDownloader : public QObject
{
    Q_OBJECT

private:
    TestServer m_http{TestServer::Http};
    TestServer m_otherHttp{TestServer::Http};
    TestServer m_https{TestServer::Https};
    QScopedPointer<QTemporaryDir> m_dir;

    TestServer& server(const QString& scheme) { return scheme == "https" ? m_https : m_http; }

    QString dir() const { return m_dir->path(); }

private slots:
    void initTestCase()
    {
        s_previousHandler = qInstallMessageHandler(captureMessages);
        QVERIFY(m_http.listen());
        QVERIFY(m_otherHttp.listen());
        QVERIFY(m_https.listen());
        TestServer::trustTestAuthority();
    }

    void cleanupTestCase() { qInstallMessageHandler(s_previousHandler); }

    void init()
    {
        m_dir.reset(new QTemporaryDir);
        QVERIFY(m_dir->isValid());
        m_http.clearRequests();
        m_https.clearRequests();
        m_https.useUntrustedCertificate(false);
        takeDebugMessages();
    }

    void fileModeStreamsTheBody_data()
    {
        QTest::addColumn<QString>("scheme");
        QTest::addColumn<QString>("path");
        QTest::addColumn<TestResponse>("response");

        QTest::newRow("small") << "http"
                               << "/files/small.pkg" << withBody("package bytes\n");
        QTest::newRow("empty") << "http"
                               << "/files/empty.pkg" << withBody(QByteArray());
        QTest::newRow("8 MiB with length") << "http"
                                           << "/files/large.pkg" << generated(8 * kMiB);
        QTest::newRow("3 MiB chunked")
            << "http"
            << "/files/chunked.pkg" << generated(3 * kMiB, TestResponse::Chunked);
        QTest::newRow("2 MiB close-delimited")
            << "http"
            << "/files/close.pkg" << generated(2 * kMiB, TestResponse::CloseDelimited);
        QTest::newRow("trusted https 4 MiB") << "https"
                                             << "/files/secure.pkg" << generated(4 * kMiB);
        QTest::newRow("trusted https chunked")
            << "https"
            << "/files/secure-chunked.pkg" << generated(kMiB + 17, TestResponse::Chunked);
    }

    void fileModeStreamsTheBody()
    {
        QFETCH(QString, scheme);
        QFETCH(QString, path);
        QFETCH(TestResponse, response);
        server(scheme).route(path, response);
        const QString url = server(scheme).url(path);
        const QByteArray expected = expectedBody(response);

        FileDownloader downloader;
        Observer observer(&downloader);
        QString filePath;
        QString error = "untouched";
        QVERIFY(downloader.download(url, dir(), filePath, error));
        QCOMPARE(error, QString("untouched"));
        QCOMPARE(filePath, dir() + "/" + QFileInfo(path).fileName());
        QVERIFY(QFile::exists(filePath)); // created before any data arrives

        QTRY_VERIFY_WITH_TIMEOUT(observer.ended(), kTimeout);
        QVERIFY2(observer.endsWithOnly("finished"), qPrintable(observer.events.join(' ')));
        QCOMPARE(observer.finishedSpy.count(), 1);
        QCOMPARE(observer.errorSpy.count(), 0);
        QCOMPARE(takeDebugMessages(), QStringList{downloadingLine(url)});

        QVERIFY(readFile(filePath) == expected);
        QCOMPARE(server(scheme).requestCount(path), 1);

        if (expected.isEmpty())
            return;
        QVERIFY(!observer.progress.isEmpty());
        QVERIFY(observer.receivedGrows());
        QCOMPARE(observer.progress.last().first, qulonglong(expected.size()));
        for (const auto& report : qAsConst(observer.progress)) {
            if (response.framing == TestResponse::ContentLength)
                QCOMPARE(report.second, qulonglong(expected.size()));
            else
                QVERIFY2(report.second == 0 || report.second == kNoTotal,
                         qPrintable(QString::number(report.second)));
        }
    }

    void memoryModeAssignsTheBody_data()
    {
        QTest::addColumn<QString>("scheme");
        QTest::addColumn<QString>("path");
        QTest::addColumn<TestResponse>("response");

        TestResponse trickled = generated(12 * 1000);
        trickled.trickleBytes = 1000;
        trickled.trickleIntervalMs = 15;

        QTest::newRow("json") << "http"
                              << "/wp-json/v2/check-update"
                              << withBody(R"([{"version":"2.1.0","url":"x"}])");
        QTest::newRow("2 MiB chunked")
            << "http"
            << "/memory/chunked" << generated(2 * kMiB, TestResponse::Chunked);
        QTest::newRow("https") << "https"
                               << "/memory/secure" << generated(300 * 1000);
        QTest::newRow("trickled") << "http"
                                  << "/memory/trickled" << trickled;
    }

    void memoryModeAssignsTheBody()
    {
        QFETCH(QString, scheme);
        QFETCH(QString, path);
        QFETCH(TestResponse, response);
        server(scheme).route(path, response);
        const QString url = server(scheme).url(path);
        const QByteArray expected = expectedBody(response);

        FileDownloader downloader;
        Observer observer(&downloader);
        QByteArray target = "sentinel";
        QString error = "untouched";
        QVERIFY(downloader.download(url, &target, error));
        QCOMPARE(error, QString("untouched"));

        QTRY_VERIFY_WITH_TIMEOUT(observer.ended(), kTimeout);
        QVERIFY2(observer.endsWithOnly("finished"), qPrintable(observer.events.join(' ')));
        QVERIFY(target == expected);
        QCOMPARE(takeDebugMessages(), QStringList{downloadingLine(url)});

        // Bytes are counted once each, although nothing is taken out of the reply until the end.
        QVERIFY(!observer.progress.isEmpty());
        QVERIFY(observer.receivedGrows());
        QCOMPARE(observer.progress.last().first, qulonglong(expected.size()));
    }

    void slowTrickleArrivesWhole()
    {
        TestResponse response = generated(24 * 1024);
        response.trickleBytes = 2048;
        response.trickleIntervalMs = 20;
        m_http.route("/slow/package.pkg", response);

        FileDownloader downloader;
        Observer observer(&downloader);
        QString filePath;
        QString error;
        QVERIFY(downloader.download(m_http.url("/slow/package.pkg"), dir(), filePath, error));
        QTRY_VERIFY_WITH_TIMEOUT(observer.ended(), kTimeout);
        QVERIFY2(observer.endsWithOnly("finished"), qPrintable(observer.events.join(' ')));

        QVERIFY2(observer.progress.size() >= 3, qPrintable(observer.events.join(' ')));
        QVERIFY(observer.receivedGrows());
        for (const auto& report : qAsConst(observer.progress))
            QCOMPARE(report.second, qulonglong(24 * 1024));
        QCOMPARE(observer.progress.last().first, qulonglong(24 * 1024));
        QVERIFY(readFile(filePath) == TestServer::generatedBody(0, 24 * 1024));
    }

    void totalWithoutLengthIsAllBitsSet_data()
    {
        QTest::addColumn<TestResponse::Framing>("framing");
        QTest::newRow("chunked") << TestResponse::Chunked;
        QTest::newRow("close-delimited") << TestResponse::CloseDelimited;
    }

    void totalWithoutLengthIsAllBitsSet()
    {
        QFETCH(TestResponse::Framing, framing);
        // Qt reports its own total at most every 100 ms, so the body has to take longer.
        TestResponse response = generated(12 * 1000, framing);
        response.trickleBytes = 1000;
        response.trickleIntervalMs = 40;
        const QString path = QStringLiteral("/nolength/%1.pkg").arg(int(framing));
        m_http.route(path, response);

        FileDownloader downloader;
        Observer observer(&downloader);
        QString filePath;
        QString error;
        QVERIFY(downloader.download(m_http.url(path), dir(), filePath, error));
        QTRY_VERIFY_WITH_TIMEOUT(observer.ended(), kTimeout);
        QVERIFY2(observer.endsWithOnly("finished"), qPrintable(observer.events.join(' ')));

        QCOMPARE(observer.progress.first().second, qulonglong(0));
        QCOMPARE(observer.progress.last().second, kNoTotal);
        bool known = false;
        for (const auto& report : qAsConst(observer.progress)) {
            known = known || report.second == kNoTotal;
            QCOMPARE(report.second, known ? kNoTotal : qulonglong(0));
        }
        QCOMPARE(observer.progress.last().first, qulonglong(12 * 1000));
        QVERIFY(readFile(filePath) == TestServer::generatedBody(0, 12 * 1000));
    }

    void totalAbove2GiBKeepsAllBits_data()
    {
        QTest::addColumn<qint64>("length");
        QTest::newRow("2 GiB + 1") << (Q_INT64_C(2) << 30) + 1;
        QTest::newRow("4 GiB + 1") << (Q_INT64_C(4) << 30) + 1;
        QTest::newRow("5 GiB") << (Q_INT64_C(5) << 30);
        QTest::newRow("1 TiB + 3") << (Q_INT64_C(1) << 40) + 3;
    }

    void totalAbove2GiBKeepsAllBits()
    {
        QFETCH(qint64, length);
        TestResponse response = generated(length);
        response.advertisedLength = length;
        response.closeAfter = kMiB;
        const QString path = QStringLiteral("/huge/%1.pkg").arg(length);
        m_http.route(path, response);

        FileDownloader downloader;
        Observer observer(&downloader);
        QString filePath;
        QString error;
        QVERIFY(downloader.download(m_http.url(path), dir(), filePath, error));
        QTRY_VERIFY_WITH_TIMEOUT(observer.ended(), kTimeout);
        QVERIFY2(observer.endsWithOnly("error"), qPrintable(observer.events.join(' ')));

        QVERIFY(!observer.progress.isEmpty());
        for (const auto& report : qAsConst(observer.progress))
            QCOMPARE(report.second, qulonglong(length));
        QCOMPARE(observer.error(), QString("Connection closed"));
        // Qt may drop what was still in flight when the close was seen; what did arrive is kept.
        const qulonglong received = observer.progress.last().first;
        QVERIFY(received > 0 && received <= qulonglong(kMiB));
        QTRY_VERIFY(fileReleased(downloader));
        QVERIFY(readFile(filePath) == TestServer::generatedBody(0, qint64(received)));
    }

    void fileNameIsDecoded_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("fileName");

        QTest::newRow("blank") << "/pkg/Corvantis%20Setup%202.1.pkg"
                               << "Corvantis Setup 2.1.pkg";
        QTest::newRow("utf-8") << "/pkg/%C3%A9t%C3%A9%20%E2%9C%93.zip"
                               << QString::fromUtf8("été ✓.zip");
        QTest::newRow("plus and percent") << "/pkg/a%2Bb%25c.pkg"
                                          << "a+b%c.pkg";
        QTest::newRow("query is not part of the name") << "/pkg/x.pkg?token=a%2Fb"
                                                       << "x.pkg";
        // An encoded slash must not lead out of the target directory.
        QTest::newRow("encoded slashes") << "/pkg/..%2F..%2Fescape.pkg"
                                         << "escape.pkg";
    }

    void fileNameIsDecoded()
    {
        QFETCH(QString, path);
        QFETCH(QString, fileName);
        const QByteArray body = "body of " + path.toUtf8();
        m_http.route(path, withBody(body));

        FileDownloader downloader;
        Observer observer(&downloader);
        QString filePath;
        QString error;
        QVERIFY(downloader.download(m_http.url(path), dir(), filePath, error));
        QCOMPARE(filePath, dir() + "/" + fileName);
        QTRY_VERIFY_WITH_TIMEOUT(observer.ended(), kTimeout);
        QVERIFY2(observer.endsWithOnly("finished"), qPrintable(observer.error()));

        QCOMPARE(readFile(dir() + "/" + fileName), body);
        QCOMPARE(QDir(dir()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{fileName});
        QCOMPARE(m_http.requestedPaths(), QStringList{path});
    }

    void targetDirectoryIsMade_data()
    {
        QTest::addColumn<QString>("directory"); // relative ones are below the current directory
        QTest::newRow("existing") << "existing";
        QTest::newRow("missing parents") << "a/b/c";
        QTest::newRow("dot segments") << "a/../b/./c";
    }

    void targetDirectoryIsMade()
    {
        QFETCH(QString, directory);
        QVERIFY(QDir(dir()).mkdir("existing"));
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir()));
        m_http.route("/dirs/p.pkg", withBody("p"));

        FileDownloader downloader;
        Observer observer(&downloader);
        QString filePath;
        QString error;
        const bool started =
            downloader.download(m_http.url("/dirs/p.pkg"), directory, filePath, error);
        QDir::setCurrent(previous);
        QVERIFY2(started, qPrintable(error));
        QCOMPARE(filePath, directory + "/p.pkg");
        QTRY_VERIFY_WITH_TIMEOUT(observer.ended(), kTimeout);
        QVERIFY(observer.endsWithOnly("finished"));
        QCOMPARE(readFile(QDir(dir()).filePath(directory + "/p.pkg")), QByteArray("p"));
    }

    void existingFileIsTruncated()
    {
        QFile old(dir() + "/update.pkg");
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(256 * 1024, 'X'));
        old.close();
        m_http.route("/update.pkg", withBody("new and shorter"));

        FileDownloader downloader;
        Observer observer(&downloader);
        QString filePath;
        QString error;
        QVERIFY(downloader.download(m_http.url("/update.pkg"), dir(), filePath, error));
        QCOMPARE(filePath, old.fileName());
        QTRY_VERIFY_WITH_TIMEOUT(observer.ended(), kTimeout);
        QVERIFY(observer.endsWithOnly("finished"));
        QCOMPARE(readFile(filePath), QByteArray("new and shorter"));
    }

    void setupFailureReturnsFalse_data()
    {
        QTest::addColumn<QString>("urlPath");
        QTest::addColumn<QString>("directory"); // below the test folder, which holds "plain"
        QTest::addColumn<bool>("directoryFails");

        QTest::newRow("parent is a plain file") << "/pkg/a.pkg"
                                                << "plain/sub" << true;
        QTest::newRow("directory is a plain file") << "/pkg/a.pkg"
                                                   << "plain" << true;
        QTest::newRow("url ends in a slash") << "/pkg/"
                                             << "downloads" << false;
        QTest::newRow("url without a path") << ""
                                            << "downloads" << false;
    }

    void setupFailureReturnsFalse()
    {
        QFETCH(QString, urlPath);
        QFETCH(QString, directory);
        QFETCH(bool, directoryFails);
        QFile plain(dir() + "/plain");
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        const QString target = dir() + "/" + directory;

        FileDownloader downloader;
        Observer observer(&downloader);
        QString filePath = "unchanged";
        QString error;
        QVERIFY(!downloader.download(m_http.url(urlPath), target, filePath, error));

        if (directoryFails) {
            QCOMPARE(error, QString("The directory %1 is not accessible.").arg(target));
            QCOMPARE(filePath, QString("unchanged"));
        } else {
            // Opening the directory itself for writing is what fails.
            QFile reference(target + "/");
            QVERIFY(!reference.open(QIODevice::WriteOnly | QIODevice::Truncate));
            QCOMPARE(
                error,
                QString("Failed to create %1 (%2).").arg(target + "/", reference.errorString()));
            QCOMPARE(filePath, target + "/");
            QVERIFY(QFileInfo(target).isDir());
        }
        QVERIFY(takeDebugMessages().isEmpty());
        QVERIFY(managerReleased(downloader));
        QTRY_VERIFY(fileReleased(downloader));
        QVERIFY(m_http.requestedPaths().isEmpty());
        QVERIFY(observer.events.isEmpty());
    }

    void networkErrorIsReported_data()
    {
        QTest::addColumn<bool>("fileMode");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("hint"); // part of Qt's text, so the reference means something

        for (const bool fileMode : {true, false}) {
            const char* mode = fileMode ? "file" : "memory";
            QTest::addRow("%s 404", mode) << fileMode << "404"
                                          << "Not Found";
            QTest::addRow("%s 500", mode) << fileMode << "500"
                                          << "Internal Server Error";
            QTest::addRow("%s refused", mode) << fileMode << "refused"
                                              << "refused";
        }
    }

    void networkErrorIsReported()
    {
        QFETCH(bool, fileMode);
        QFETCH(QString, kind);
        QFETCH(QString, hint);

        QByteArray served;
        QString url;
        if (kind == "404") {
            url = m_http.url("/missing/package.pkg");
            served = "Not found\n";
        } else if (kind == "500") {
            served = QByteArray(20000, 'e');
            m_http.route("/broken/package.pkg", withBody(served, 500));
            url = m_http.url("/broken/package.pkg");
        } else {
            const quint16 port = closedPort();
            QVERIFY(port != 0);
            url = QStringLiteral("http://127.0.0.1:%1/package.pkg").arg(port);
        }

        FileDownloader downloader;
        Observer observer(&downloader);
        QString filePath;
        QString error = "untouched";
        QByteArray target = "sentinel";
        const bool started = fileMode ? downloader.download(url, dir(), filePath, error)
                                      : downloader.download(url, &target, error);
        QVERIFY(started);
        QCOMPARE(error, QString("untouched"));

        QTRY_VERIFY_WITH_TIMEOUT(observer.ended(), kTimeout);
        QVERIFY2(observer.endsWithOnly("error"), qPrintable(observer.events.join(' ')));
        // Released at once: nothing is left that could still report success.
        QTRY_VERIFY(managerReleased(downloader));
        QCOMPARE(observer.finishedSpy.count(), 0);
        QCOMPARE(observer.errorSpy.count(), 1);
        QCOMPARE(takeDebugMessages(), QStringList{downloadingLine(url)});

        if (fileMode) {
            QTRY_VERIFY(fileReleased(downloader));
            QVERIFY(QFile::exists(filePath));
            const QByteArray kept = readFile(filePath);
            QVERIFY2(served.startsWith(kept), kept.left(100).constData());
        } else {
            QCOMPARE(target, QByteArray("sentinel"));
        }

        const QString expected = qtErrorText(url);
        QVERIFY2(expected.contains(hint, Qt::CaseInsensitive), qPrintable(expected));
        QCOMPARE(observer.error(), expected);
    }

    void writeFailureIsIoFailure_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<bool>("stopsEarly"); // the transfer is abandoned at the first failure
        QTest::newRow("small body, fails when flushed at the end") << qint64(100) << false;
        QTest::newRow("large body, fails while streaming") << 64 * kMiB << true;
    }

    void writeFailureIsIoFailure()
    {
        QFETCH(qint64, size);
        QFETCH(bool, stopsEarly);
        const QString diskFull = diskFullText();
        QVERIFY2(diskFull.contains("space", Qt::CaseInsensitive), qPrintable(diskFull));
        const QString name = QStringLiteral("full-%1.pkg").arg(size);
        QVERIFY(QFile::link("/dev/full", dir() + "/" + name));
        m_http.route("/" + name, generated(size));

        FileDownloader downloader;
        Observer observer(&downloader);
        QString filePath;
        QString error;
        QVERIFY(downloader.download(m_http.url("/" + name), dir(), filePath, error));
        QTRY_VERIFY_WITH_TIMEOUT(observer.ended(), kTimeout);
        QTRY_VERIFY(repliesDone(downloader));
        QVERIFY2(observer.endsWithOnly("error"), qPrintable(observer.events.join(' ')));
        QCOMPARE(observer.error(), QString("I/O failure (%1)").arg(diskFull));
        QVERIFY(QFileInfo(filePath).isSymLink());
        QVERIFY(!observer.progress.isEmpty());
        if (stopsEarly)
            QVERIFY(observer.progress.last().first < qulonglong(size / 2));
        else
            QCOMPARE(observer.progress.last().first, qulonglong(size));
    }

    void untrustedCertificateIsRefused_data()
    {
        QTest::addColumn<bool>("fileMode");
        QTest::newRow("file") << true;
        QTest::newRow("memory") << false;
    }

    void untrustedCertificateIsRefused()
    {
        QFETCH(bool, fileMode);
        m_https.useUntrustedCertificate(true);
        m_https.route("/secure/package.pkg", withBody("must not arrive"));
        const QString url = m_https.url("/secure/package.pkg");

        FileDownloader downloader;
        Observer observer(&downloader);
        QString filePath;
        QString error;
        QByteArray target = "sentinel";
        QVERIFY(fileMode ? downloader.download(url, dir(), filePath, error)
                         : downloader.download(url, &target, error));
        QTRY_VERIFY_WITH_TIMEOUT(observer.ended(), kTimeout);
        QVERIFY2(observer.endsWithOnly("error"), qPrintable(observer.events.join(' ')));
        QTRY_VERIFY(managerReleased(downloader));
        QCOMPARE(observer.finishedSpy.count(), 0);

        QStringList expectedLog{downloadingLine(url)};
        const QList<QSslError> sslErrors =
            QSslCertificate::verify({TestServer::untrustedCertificate()}, "127.0.0.1");
        QVERIFY(!sslErrors.isEmpty());
        for (const QSslError& sslError : sslErrors)
            expectedLog.append(quoted(sslError.errorString()));
        QCOMPARE(takeDebugMessages(), expectedLog);

        QCOMPARE(m_https.requestCount("/secure/package.pkg"), 0);
        if (fileMode) {
            QTRY_VERIFY(fileReleased(downloader));
            QCOMPARE(readFile(filePath), QByteArray());
        } else {
            QCOMPARE(target, QByteArray("sentinel"));
        }
        const QString expected = qtErrorText(url);
        QVERIFY2(expected.contains("SSL"), qPrintable(expected));
        QCOMPARE(observer.error(), expected);
    }

    // Only bodies of announced length: a chunked body cut short at a chunk boundary is, in
    // Qt 5.15, either reported as complete or never ended, and the reply offers no way to tell.
    void connectionClosedHalfway_data()
    {
        QTest::addColumn<QString>("scheme");
        QTest::addColumn<bool>("fileMode");
        QTest::newRow("http file") << "http" << true;
        QTest::newRow("https file") << "https" << true;
        QTest::newRow("http memory") << "http" << false;
    }

    void connectionClosedHalfway()
    {
        QFETCH(QString, scheme);
        QFETCH(bool, fileMode);
        TestResponse response = generated(4 * kMiB);
        response.closeAfter = kMiB;
        server(scheme).route("/cut/package.pkg", response);
        const QString url = server(scheme).url("/cut/package.pkg");

        FileDownloader downloader;
        Observer observer(&downloader);
        QString filePath;
        QString error;
        QByteArray target = "sentinel";
        QVERIFY(fileMode ? downloader.download(url, dir(), filePath, error)
                         : downloader.download(url, &target, error));
        QTRY_VERIFY_WITH_TIMEOUT(observer.ended(), kTimeout);
        QVERIFY2(observer.endsWithOnly("error"), qPrintable(observer.events.join(' ')));
        QTRY_VERIFY(managerReleased(downloader));
        QCOMPARE(observer.finishedSpy.count(), 0);
        // Qt's wording, whether Qt notices the cut itself or the downloader does.
        QCOMPARE(observer.error(), QString("Connection closed"));
        QVERIFY(observer.progress.last().first > 0 && observer.progress.last().first <= kMiB);

        if (!fileMode) {
            QCOMPARE(target, QByteArray("sentinel"));
            return;
        }
        // What arrived stays on disk, and nothing else.
        QTRY_VERIFY(fileReleased(downloader));
        const QByteArray kept = readFile(filePath);
        QCOMPARE(qulonglong(kept.size()), observer.progress.last().first);
        QVERIFY(kept == TestServer::generatedBody(0, kept.size()));
    }

    void redirectsAreFollowed_data()
    {
        QTest::addColumn<QString>("scheme");
        QTest::addColumn<QList<int>>("statuses");
        QTest::addColumn<bool>("absolute");
        QTest::addColumn<bool>("toOtherServer");

        QTest::newRow("http 302 relative") << "http" << QList<int>{302} << false << false;
        QTest::newRow("http 301 307 308 absolute")
            << "http" << QList<int>{301, 307, 308} << true << false;
        QTest::newRow("http to another http server") << "http" << QList<int>{302} << true << true;
        QTest::newRow("https 302") << "https" << QList<int>{302} << true << false;
        QTest::newRow("https 303 301 relative")
            << "https" << QList<int>{303, 301} << false << false;
    }

    void redirectsAreFollowed()
    {
        QFETCH(QString, scheme);
        QFETCH(QList<int>, statuses);
        QFETCH(bool, absolute);
        QFETCH(bool, toOtherServer);
        TestServer& first = server(scheme);
        TestServer& last = toOtherServer ? m_otherHttp : first;
        const QString base = "/hop/" + QString(QTest::currentDataTag()).replace(' ', '-');
        const QString finalPath = base + "/final/real.pkg";
        const TestResponse finalResponse = generated(kMiB + 3);
        last.route(finalPath, finalResponse);

        QStringList hops;
        for (int i = 0; i < statuses.size(); ++i)
            hops.append(QStringLiteral("%1/%2/package.pkg").arg(base).arg(i));
        for (int i = 0; i < hops.size(); ++i) {
            const bool lastHop = i + 1 == hops.size();
            const QString next = lastHop ? finalPath : hops[i + 1];
            TestServer& nextServer = lastHop ? last : first;
            first.route(hops[i], redirect(statuses[i], absolute ? nextServer.url(next) : next));
        }

        FileDownloader downloader;
        Observer observer(&downloader);
        QString filePath;
        QString error;
        const QString url = first.url(hops.first());
        QVERIFY(downloader.download(url, dir(), filePath, error));
        QCOMPARE(filePath, dir() + "/package.pkg");
        QTRY_VERIFY_WITH_TIMEOUT(observer.ended(), kTimeout);
        QVERIFY2(observer.endsWithOnly("finished"), qPrintable(observer.error()));

        // Only the final body is saved: no redirect page is written ahead of it.
        QVERIFY(readFile(filePath) == expectedBody(finalResponse));
        QCOMPARE(observer.progress.last().first, qulonglong(kMiB + 3));
        for (const QString& hop : qAsConst(hops))
            QCOMPARE(first.requestCount(hop), 1);
        QCOMPARE(last.requestCount(finalPath), 1);
        QCOMPARE(takeDebugMessages(), QStringList{downloadingLine(url)});
    }

    void redirectToPlainHttpIsRefused_data()
    {
        QTest::addColumn<bool>("fileMode");
        QTest::newRow("file") << true;
        QTest::newRow("memory") << false;
    }

    void redirectToPlainHttpIsRefused()
    {
        QFETCH(bool, fileMode);
        m_http.route("/plain/package.pkg", withBody("fetched without TLS"));
        m_https.route("/secure/moved.pkg", redirect(302, m_http.url("/plain/package.pkg")));
        const QString url = m_https.url("/secure/moved.pkg");

        FileDownloader downloader;
        Observer observer(&downloader);
        QString filePath;
        QString error;
        QByteArray target = "sentinel";
        QVERIFY(fileMode ? downloader.download(url, dir(), filePath, error)
                         : downloader.download(url, &target, error));
        QTRY_VERIFY_WITH_TIMEOUT(observer.ended(), kTimeout);
        QVERIFY2(observer.endsWithOnly("error"), qPrintable(observer.events.join(' ')));
        QTRY_VERIFY(managerReleased(downloader));
        QCOMPARE(observer.finishedSpy.count(), 0);
        QCOMPARE(m_http.requestCount("/plain/package.pkg"), 0);
        if (fileMode) {
            QTRY_VERIFY(fileReleased(downloader));
            QCOMPARE(readFile(filePath), QByteArray());
        } else {
            QCOMPARE(target, QByteArray("sentinel"));
        }
        const QString expected = qtErrorText(url);
        QVERIFY2(expected.contains("redirect", Qt::CaseInsensitive), qPrintable(expected));
        QCOMPARE(observer.error(), expected);
    }

    void redirectLoopEnds()
    {
        m_http.route("/loop/package.pkg", redirect(302, "/loop/package.pkg"));
        const QString url = m_http.url("/loop/package.pkg");

        FileDownloader downloader;
        Observer observer(&downloader);
        QString filePath;
        QString error;
        QVERIFY(downloader.download(url, dir(), filePath, error));
        QTRY_VERIFY_WITH_TIMEOUT(observer.ended(), kTimeout);
        QVERIFY2(observer.endsWithOnly("error"), qPrintable(observer.events.join(' ')));
        QTRY_VERIFY(managerReleased(downloader));
        QCOMPARE(observer.finishedSpy.count(), 0);
        QVERIFY(m_http.requestCount("/loop/package.pkg") > 1);
        QTRY_VERIFY(fileReleased(downloader));
        QCOMPARE(readFile(filePath), QByteArray());

        const QString expected = qtErrorText(url);
        QVERIFY2(expected.contains("redirect", Qt::CaseInsensitive), qPrintable(expected));
        QCOMPARE(observer.error(), expected);
    }

    void compressedBodyIsInflated_data()
    {
        QTest::addColumn<bool>("fileMode");
        QTest::newRow("file") << true;
        QTest::newRow("memory") << false;
    }

    // The length check for bodies cut short must not mistake an inflated body for a wrong one.
    void compressedBodyIsInflated()
    {
        QFETCH(bool, fileMode);
        const QByteArray plain = QByteArray("{\"version\":\"2.1.0\"} ").repeated(20000);
        TestResponse response = withBody(gzip(plain));
        QVERIFY(!response.body.isEmpty() && response.body.size() < plain.size() / 10);
        response.headers.append(qMakePair(QByteArray("Content-Encoding"), QByteArray("gzip")));
        m_http.route("/gzip/info.json", response);

        FileDownloader downloader;
        Observer observer(&downloader);
        QString filePath;
        QString error;
        QByteArray target;
        const QString url = m_http.url("/gzip/info.json");
        QVERIFY(fileMode ? downloader.download(url, dir(), filePath, error)
                         : downloader.download(url, &target, error));
        QTRY_VERIFY_WITH_TIMEOUT(observer.ended(), kTimeout);
        QVERIFY2(observer.endsWithOnly("finished"), qPrintable(observer.error()));
        QVERIFY((fileMode ? readFile(filePath) : target) == plain);
    }

    void nextRequestReleasesThePrevious()
    {
        m_http.route("/first/one.pkg", withBody("one"));
        m_http.route("/second/info.json", withBody("[]"));
        m_http.route("/third/three.pkg", withBody("three"));

        FileDownloader downloader;
        Observer observer(&downloader);
        QString filePath;
        QString error;
        QVERIFY(downloader.download(m_http.url("/first/one.pkg"), dir(), filePath, error));
        QTRY_COMPARE_WITH_TIMEOUT(observer.finishedSpy.count(), 1, kTimeout);

        QByteArray target;
        QVERIFY(downloader.download(m_http.url("/second/info.json"), &target, error));
        QTRY_COMPARE_WITH_TIMEOUT(observer.finishedSpy.count(), 2, kTimeout);
        QCOMPARE(target, QByteArray("[]"));
        QCOMPARE(readFile(dir() + "/one.pkg"), QByteArray("one")); // the file is never removed
        QTRY_VERIFY(fileReleased(downloader));

        const QString other = dir() + "/other";
        QVERIFY(downloader.download(m_http.url("/third/three.pkg"), other, filePath, error));
        QTRY_COMPARE_WITH_TIMEOUT(observer.finishedSpy.count(), 3, kTimeout);
        QCOMPARE(target, QByteArray("[]")); // the memory target was let go
        QCOMPARE(readFile(other + "/three.pkg"), QByteArray("three"));
        QTRY_COMPARE(
            downloader.findChildren<QNetworkAccessManager*>(QString(), Qt::FindDirectChildrenOnly)
                .size(),
            1);
        QCOMPARE(observer.errorSpy.count(), 0);
    }
};

CORVANTIS_TEST_MAIN(TestFileDownloader)
#include "tst_filedownloader.moc"
