#include "filedownloader.h"
#include "testenvironment.h"
#include "testserver.h"

#include <QFile>
#include <QMutex>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSignalSpy>
#include <QSslError>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cerrno>

namespace {

constexpr int kTimeout = 20000;
// The total of a reply that has none (-1), as the unsigned signal carries it.
constexpr qulonglong kNoTotal = ~0ULL;
constexpr qint64 kMiB = 1024 * 1024;

QMutex s_logMutex;
QStringList s_log;
QtMessageHandler s_previousHandler = nullptr;

void captureDebug(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type != QtDebugMsg) {
        if (s_previousHandler)
            s_previousHandler(type, context, message);
        return;
    }
    QMutexLocker lock(&s_logMutex);
    s_log.append(message);
}

QStringList takeLog()
{
    QMutexLocker lock(&s_logMutex);
    return std::exchange(s_log, QStringList());
}

QString downloadingLine(const QString& url)
{
    return "Downloading  \"" + url + '"';
}

// Qt's own text for the request, from a bare manager that handles redirects as the downloader,
// replaced by a complaint unless it names the case meant.
QString qtErrorText(const QString& url, const QString& hint)
{
    QNetworkAccessManager manager;
    QNetworkRequest request{QUrl(url)};
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    QScopedPointer<QNetworkReply> reply(manager.get(request));
    if (!reply->isFinished())
        QSignalSpy(reply.data(), &QNetworkReply::finished).wait(kTimeout);
    const QString text = reply->errorString();
    return text.contains(hint, Qt::CaseInsensitive) ? text
                                                    : "Qt's text lacks " + hint + ": " + text;
}

TestResponse generated(qint64 size, TestResponse::Framing framing = TestResponse::ContentLength,
                       int trickleBytes = 0)
{
    TestResponse response;
    response.generatedSize = size;
    response.framing = framing;
    response.trickleBytes = trickleBytes;
    // Qt reports its own total at most every 100 ms, so a trickled body takes longer than that.
    response.trickleIntervalMs = 40;
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
    TestResponse response = withBody("<html>This page has moved</html>\n", status);
    response.headers.append({"Location", location.toUtf8()});
    return response;
}

// One download with the downloader's signals in arrival order; file mode when given a directory.
struct Run
{
    Run(const QString& url, const QString& directory) : fileMode(!directory.isEmpty())
    {
        QObject::connect(&downloader, &FileDownloader::finished, [this] { events += "finished"; });
        QObject::connect(&downloader, &FileDownloader::errorOccurred, [this](QString text) {
            events += "error";
            reported = text;
        });
        QObject::connect(&downloader, &FileDownloader::downloadProgress,
                         [this](qulonglong received, qulonglong total) {
                             events += "progress";
                             progress.append({received, total});
                         });
        started = fileMode ? downloader.download(url, directory, filePath, error)
                           : downloader.download(url, &target, error);
    }

    // Waits for the end: progress reports only, then exactly one terminal signal.
    bool endsWith(const QString& terminal)
    {
        const auto ended = [this] {
            return events.contains("finished") || events.contains("error");
        };
        return runEventsUntil(ended, kTimeout) && events.last() == terminal &&
               events.size() == progress.size() + 1;
    }
    QByteArray body() const { return fileMode ? readFile(filePath) : target; }
    qulonglong received() const { return progress.isEmpty() ? 0 : progress.last().first; }
    QString describe() const { return events.join(' ') + " / " + reported; }

    FileDownloader downloader;
    bool fileMode;
    bool started = false;
    QString filePath;
    QString error = "untouched";
    QByteArray target = "sentinel";
    QStringList events;
    QString reported;
    QList<QPair<qulonglong, qulonglong>> progress;
};

// Nothing of the request is left that could still write or report.
bool released(const FileDownloader& downloader)
{
    return downloader.findChildren<QNetworkAccessManager*>().isEmpty() &&
           downloader.findChildren<QFile*>().isEmpty();
}

bool repliesDone(const FileDownloader& downloader)
{
    const QList<QNetworkReply*> replies = downloader.findChildren<QNetworkReply*>();
    return std::all_of(replies.cbegin(), replies.cend(),
                       [](const QNetworkReply* reply) { return reply->isFinished(); });
}

} // namespace

class TestFileDownloader : public QObject
{
    Q_OBJECT

private:
    TestServer m_http{TestServer::Http};
    TestServer m_https{TestServer::Https};
    TestServer m_untrusted{TestServer::UntrustedHttps};
    TestServer m_refused{TestServer::Http}; // closed once its port is known
    QScopedPointer<QTemporaryDir> m_dir;

    QString dir() const { return m_dir->path(); }

    static QString serve(TestServer& server, const QString& path, const TestResponse& response)
    {
        server.route(path, response);
        return server.url(path);
    }

private slots:
    void initTestCase()
    {
        s_previousHandler = qInstallMessageHandler(captureDebug);
        QVERIFY(m_http.listen() && m_https.listen() && m_untrusted.listen() && m_refused.listen());
        m_refused.close();
        TestServer::trustTestAuthority();
    }

    void cleanupTestCase() { qInstallMessageHandler(s_previousHandler); }

    void init()
    {
        m_dir.reset(new QTemporaryDir);
        QVERIFY(m_dir->isValid());
        takeLog();
    }

    void bodyIsDelivered_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("fileMode");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("minReports");
        QTest::addColumn<bool>("announced");   // else the total is 0 until Qt reports it has none
        QTest::addColumn<QString>("fileName"); // on disk; empty: the URL's last segment as it is

        const auto row = [](const char* tag, const QString& url, bool fileMode,
                            const QByteArray& body, int minReports = 1, bool announced = true,
                            const QString& fileName = QString()) {
            QTest::newRow(tag) << url << fileMode << body << minReports << announced
                               << (fileName.isEmpty() ? url.section('/', -1) : fileName);
        };
        const auto body = TestServer::generatedBody;
        const QByteArray plain = QByteArray("{\"version\":\"2.1.0\"} ").repeated(20000);
        TestResponse zipped = withBody(TestServer::gzip(plain));
        QVERIFY(zipped.body.size() > 1000 && zipped.body.size() < plain.size() / 10);
        zipped.headers.append({"Content-Encoding", QByteArray("gzip")});
        zipped.trickleBytes = 300;
        zipped.trickleIntervalMs = 40;

        row("file small, name with blanks and utf-8",
            serve(m_http, "/get/Corvantis%20Setup%20%C3%A9t%C3%A9.pkg", generated(14)), true,
            body(14), 1, true, QString::fromUtf8("Corvantis Setup été.pkg"));
        // An encoded slash must not lead out of the target directory.
        row("file name with encoded slashes",
            serve(m_http, "/get/..%2F..%2Fescape.pkg", generated(14)), true, body(14), 1, true,
            "escape.pkg");
        row("file empty", serve(m_http, "/get/empty.pkg", generated(0)), true, "", 0);
        row("file 8 MiB", serve(m_http, "/get/big.pkg", generated(8 * kMiB)), true, body(8 * kMiB));
        row("file chunked, slow",
            serve(m_http, "/get/chunked.pkg", generated(12000, TestResponse::Chunked, 1000)), true,
            body(12000), 3, false);
        row("file close-delimited, slow",
            serve(m_http, "/get/close.pkg", generated(12000, TestResponse::CloseDelimited, 1000)),
            true, body(12000), 3, false);
        // Nothing leaves the reply before the end, yet every byte counts once.
        row("memory slow",
            serve(m_http, "/get/slow", generated(12000, TestResponse::ContentLength, 1000)), false,
            body(12000), 3);
        // Bodies are asked for as they are; one compressed all the same is kept as sent, so
        // nothing grows in memory and the announced length still holds.
        const QString zippedUrl = serve(m_http, "/get/zipped.json", zipped);
        row("file gzip, slow", zippedUrl, true, zipped.body, 3);
        row("memory gzip, slow", zippedUrl, false, zipped.body, 3);
        // Only the final body is saved, under the name of the first URL.
        m_http.route("/hop/final.pkg", generated(kMiB + 3));
        row("file redirected 302 relative",
            serve(m_http, "/hop/first.pkg", redirect(302, "/hop/final.pkg")), true, body(kMiB + 3));
        m_https.route("/hop/final.pkg", generated(kMiB + 3));
        row("file https redirected 307 absolute",
            serve(m_https, "/hop/first.pkg", redirect(307, m_https.url("/hop/final.pkg"))), true,
            body(kMiB + 3));
        // On from plain HTTP, which goes through the relay, to TLS.
        row("file http redirected to https",
            serve(m_http, "/hop/secure.pkg", redirect(301, m_https.url("/hop/final.pkg"))), true,
            body(kMiB + 3));
    }

    void bodyIsDelivered()
    {
        QFETCH(QString, url);
        QFETCH(bool, fileMode);
        QFETCH(QByteArray, body);
        QFETCH(int, minReports);
        QFETCH(bool, announced);
        QFETCH(QString, fileName);
        const QString directory = dir() + "/new/sub"; // missing parents are made

        Run run(url, fileMode ? directory : QString());
        QVERIFY(run.started);
        QCOMPARE(run.error, QString("untouched"));
        if (fileMode)
            QCOMPARE(run.filePath, directory + "/" + fileName);
        QVERIFY2(run.endsWith("finished"), qPrintable(run.describe()));
        QVERIFY(!fileMode || QFile::exists(run.filePath));
        QVERIFY(run.body() == body);
        QCOMPARE(takeLog(), QStringList{downloadingLine(url)});

        QVERIFY2(run.progress.size() >= minReports, qPrintable(run.describe()));
        const qulonglong total = announced ? qulonglong(body.size()) : kNoTotal;
        qulonglong received = 0;
        bool known = announced;
        for (const auto& report : qAsConst(run.progress)) {
            QVERIFY(report.first > received);
            received = report.first;
            known = known || report.second == total;
            QCOMPARE(report.second, known ? total : 0);
        }
        QCOMPARE(received, qulonglong(body.size()));
        QVERIFY(run.progress.isEmpty() || run.progress.last().second == total);
    }

    void setupFailureReturnsFalse()
    {
        QVERIFY(writeFile(dir() + "/plain", ""));
        Run blocked(m_http.url("/pkg/a.pkg"), dir() + "/plain/sub");
        QVERIFY(!blocked.started);
        QCOMPARE(blocked.error,
                 QString("The directory %1 is not accessible.").arg(dir() + "/plain/sub"));
        QVERIFY(blocked.filePath.isEmpty());

        // A directory of the file's name: opening is what fails.
        QVERIFY(QDir().mkpath(dir() + "/taken.pkg"));
        Run nameless(m_http.url("/pkg/taken.pkg"), dir());
        QFile reference(dir() + "/taken.pkg");
        QVERIFY(!nameless.started && !reference.open(QIODevice::WriteOnly));
        QCOMPARE(nameless.error, QString("Failed to create %1 (%2).")
                                     .arg(dir() + "/taken.pkg", reference.errorString()));
        QCOMPARE(nameless.filePath, dir() + "/taken.pkg");

        QVERIFY(takeLog().isEmpty());
        QTRY_VERIFY(released(blocked.downloader) && released(nameless.downloader));
        QVERIFY(blocked.events.isEmpty() && nameless.events.isEmpty());
    }

    void failureIsReported_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("fileMode");
        QTest::addColumn<QString>("error");     // the downloader's own, or Qt's for the URL
        QTest::addColumn<QByteArray>("served"); // what the file may keep a prefix of
        QTest::addColumn<qulonglong>("total");  // carried by every progress report
        QTest::addColumn<QStringList>("sslLog");

        // hint: a part of Qt's text, so the reference means something
        const auto row = [](const char* tag, const QString& url, bool fileMode, const char* hint,
                            const QByteArray& served = QByteArray(), qulonglong total = 0,
                            const QStringList& sslLog = QStringList()) {
            const QString own = "Connection closed";
            QTest::newRow(tag) << url << fileMode << (hint == own ? own : qtErrorText(url, hint))
                               << served << total << sslLog;
        };
        row("404, file", m_http.url("/fail/missing.pkg"), true, "Not Found", "Not found\n", 10);
        row("500, memory", serve(m_http, "/fail/broken", withBody(QByteArray(20000, 'e'), 500)),
            false, "Internal Server Error", "", 20000);
        row("refused, memory", m_refused.url("/fail/refused.pkg"), false, "refused");

        QStringList sslLog;
        for (const QSslError& sslError :
             QSslCertificate::verify({TestServer::untrustedCertificate()}, "127.0.0.1"))
            sslLog.append('"' + sslError.errorString() + '"');
        row("untrusted certificate, file",
            serve(m_untrusted, "/fail/secure.pkg", withBody("must not arrive")), true, "SSL", "", 0,
            sslLog);
        // Nothing of the redirect page is saved, and the plain URL is never asked for.
        m_http.route("/fail/plain.pkg", withBody("fetched without TLS"));
        row("https to http, file",
            serve(m_https, "/fail/moved.pkg", redirect(302, m_http.url("/fail/plain.pkg"))), true,
            "redirect");
        row("redirect loop, memory", serve(m_http, "/fail/loop", redirect(302, "/fail/loop")),
            false, "redirect");

        TestResponse cut = generated(4 * kMiB);
        cut.closeAfter = kMiB;
        const QByteArray sent = TestServer::generatedBody(kMiB);
        row("cut short, file", serve(m_http, "/cut/a.pkg", cut), true, "Connection closed", sent,
            4 * kMiB);
        row("cut short, memory", serve(m_http, "/cut/b", cut), false, "Connection closed", sent,
            4 * kMiB);
        // Qt reports the cut itself only at times, else the downloader's own check must; a second
        // try makes it likely that both ways are met.
        row("cut short, memory, again", serve(m_http, "/cut/c", cut), false, "Connection closed",
            sent, 4 * kMiB);
        // A chunked body that ends without its last chunk. Over plain HTTP, Qt on its own took
        // some for complete, asked for them a second time or waited for ever; each try must
        // end in the error.
        TestResponse unfinished = generated(4 * kMiB, TestResponse::Chunked);
        unfinished.closeAfter = kMiB;
        for (int attempt = 1; attempt <= 4; ++attempt) {
            const QString path = QString("/cut/chunked-%1.pkg").arg(attempt);
            row(qPrintable("chunked without its last chunk, file, " + path),
                serve(m_http, path, unfinished), true, "Connection closed", sent, kNoTotal);
        }
        row("chunked without its last chunk, memory", serve(m_http, "/cut/chunked", unfinished),
            false, "Connection closed", sent, kNoTotal);
        // The exact-length check also holds for a body the server compresses unasked.
        TestResponse halfZipped = withBody(TestServer::gzip(TestServer::generatedBody(kMiB)));
        halfZipped.headers.append({"Content-Encoding", QByteArray("gzip")});
        halfZipped.closeAfter = halfZipped.body.size() / 2;
        row("compressed body cut short, file", serve(m_http, "/cut/zipped.pkg", halfZipped), true,
            "Connection closed", halfZipped.body, halfZipped.body.size());
        // The announced total keeps all 64 bits.
        TestResponse huge = generated(kMiB);
        huge.advertisedLength = (Q_INT64_C(6) << 30) + 1;
        row("cut short, above 4 GiB announced", serve(m_http, "/cut/d.pkg", huge), true,
            "Connection closed", sent, huge.advertisedLength);
    }

    void failureIsReported()
    {
        QFETCH(QString, url);
        QFETCH(bool, fileMode);
        QFETCH(QString, error);
        QFETCH(QByteArray, served);
        QFETCH(qulonglong, total);
        QFETCH(QStringList, sslLog);
        // A stale file of the same name must not survive in part.
        QVERIFY(writeFile(dir() + "/" + url.section('/', -1), QByteArray(300 * 1024, 'X')));

        Run run(url, fileMode ? dir() : QString());
        QVERIFY(run.started);
        QCOMPARE(run.error, QString("untouched"));
        QVERIFY2(run.endsWith("error"), qPrintable(run.describe()));
        QCOMPARE(run.reported, error);
        QCOMPARE(takeLog(), QStringList{downloadingLine(url)} + sslLog);
        QTRY_VERIFY(released(run.downloader));
        // Without a length, the total is 0 until Qt says it has none.
        for (const auto& report : qAsConst(run.progress))
            QVERIFY(report.second == total || (total == kNoTotal && report.second == 0));
        if (fileMode) {
            // The file stays, truncated, with what had arrived of the body.
            const QByteArray kept = readFile(run.filePath);
            QCOMPARE(qulonglong(kept.size()), run.received());
            QVERIFY(served.startsWith(kept));
        } else {
            QCOMPARE(run.target, QByteArray("sentinel"));
        }
        QCOMPARE(m_http.requestCount("/fail/plain.pkg"), 0);
    }

    void writeFailureIsIoFailure_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<bool>("stopsEarly"); // the transfer is abandoned at the first failure
        QTest::newRow("small body, fails when flushed at the end") << qint64(100) << false;
        QTest::newRow("large body, fails while streaming") << 16 * kMiB << true;
    }

    void writeFailureIsIoFailure()
    {
        QFETCH(qint64, size);
        QFETCH(bool, stopsEarly);
        const QString name = QStringLiteral("full-%1.pkg").arg(size);
        QVERIFY(QFile::link("/dev/full", dir() + "/" + name));

        Run run(serve(m_http, "/" + name, generated(size)), dir());
        QVERIFY(run.started);
        // Late signals of the transfer would show up by the time its replies are done.
        QTRY_VERIFY_WITH_TIMEOUT(repliesDone(run.downloader), kTimeout);
        QVERIFY2(run.endsWith("error"), qPrintable(run.describe()));
        QCOMPARE(run.reported, QString("I/O failure (%1)").arg(qt_error_string(ENOSPC)));
        if (stopsEarly)
            QVERIFY(run.received() < qulonglong(size / 2));
        else
            QCOMPARE(run.received(), qulonglong(size));
    }
};

CORVANTIS_TEST_MAIN(TestFileDownloader)
#include "tst_filedownloader.moc"
