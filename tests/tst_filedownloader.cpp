#include "corvantis.h"
#include "filedownloader.h"
#include "logging.h"
#include "logtail.h"
#include "socksrelay.h"
#include "testenvironment.h"
#include "testserver.h"

#include <QtTest>

#include <cerrno>

namespace {

constexpr qulonglong kNoTotal = ~0ULL; // a reply without a length, as the unsigned signal has it
constexpr int kMiB = 1024 * 1024;

struct Case
{
    QString url, end; // end: the records logged after the request's, then "finished" or the error
    bool fileMode;
    QByteArray body;  // delivered, or what a file cut short keeps a prefix of
    qulonglong total; // of every report, once known
};

struct Run // one download to its end, set up as the installer's are; file mode with a directory
{
    Run(const QString& url, const QString& directory)
    {
        QObject::connect(&downloader, &FileDownloader::finished, [this] { end("finished"); });
        QObject::connect(&downloader, &FileDownloader::errorOccurred,
                         [this](const QString& error) { end(error); });
        // Another program of the user tries the relay's port while the relay serves.
        QObject::connect(&downloader, &FileDownloader::downloadProgress, [this] {
            auto* relay = downloader.findChild<SocksRelay*>();
            if (!relay || strangerRefused)
                return;
            QTcpSocket stranger;
            stranger.connectToHost(QHostAddress::LocalHost, relay->port());
            strangerRefused = !stranger.waitForConnected(5000) &&
                              stranger.error() == QAbstractSocket::ConnectionRefusedError;
        });
        downloader.setSizeLimit(kMiB);
        downloader.setReservedFileNames({Corvantis::kLogFileName});
        started = directory.isEmpty() ? downloader.download(url, &target, error)
                                      : downloader.download(url, directory, filePath, error);
        runEventsUntil([this] { return !started || !ends.isEmpty(); }, 20000);
    }
    qulonglong arrived() const { return progress.isEmpty() ? 0 : progress.last()[0].toULongLong(); }
    void end(const QString& how)
    {
        ends += how;
        relayLeft = relayLeft || downloader.findChild<SocksRelay*>();
    }

    LogTail log;
    FileDownloader downloader;
    QSignalSpy progress{&downloader, &FileDownloader::downloadProgress};
    bool started = false;
    QString filePath, error = "untouched";
    QByteArray target = "sentinel";
    QStringList ends; // the terminal signals, one expected
    bool strangerRefused = false, relayLeft = false;
};

} // namespace

Q_DECLARE_METATYPE(Case)

class TestFileDownloader : public QObject
{
    Q_OBJECT

    TestServer m_http, m_https{TestServer::Https}, m_untrusted{TestServer::UntrustedHttps};
    QTemporaryDir m_dir;
    int m_runs = 0;

private slots:
    void initTestCase()
    {
        init_logger(Corvantis::kLogLabel, Corvantis::kLogFileName);
        QVERIFY(m_http.listen() && m_https.listen() && m_untrusted.listen());
    }

    void download_data()
    {
        QTest::addColumn<Case>("c");
        const auto row = [](const char* tag, const QString& url, const QString& end, bool fileMode,
                            const QByteArray& body, qulonglong total) {
            QTest::newRow(tag) << Case{url, end, fileMode, body, total};
        };
        const QByteArray b(4 * kMiB, 'b'), big = "Content-Length: 6442450945\r\n";
        // The server sees a chunked request twice: once directly, once through the relay.
        const auto relayed = [](const QString& url) {
            return "Downloading  \"" + url +
                   "\"  again through the installer's relay, as the body is chunked\n";
        };
        const QByteArray zipped("\x1f\x8b\x08\0\0\0\0\0\x02\x03\x03\0\0\0\0\0\0\0\0\0", 20);
        const QByteArray there = "Location: " + m_https.route("/f", {200, b}).toUtf8() + "\r\n";
        const QByteArray back = "Location: " + m_http.url("/a").toUtf8() + "\r\n";
        row("file, empty, an encoded slash stays inside",
            m_http.route("/..%2FA%20%C3%A9.pkg", {200, ""}), "finished", true, "", 0);
        const QString slow = m_http.route("/c.pkg", {200, b.left(12000), {}, true, -1, 1000});
        row("file, slow chunks", slow, relayed(slow) + "finished", true, b.left(12000), kNoTotal);
        row("file, gzip refused",
            m_http.route("/z.pkg", {200, zipped, "Content-Encoding: gzip\r\n"}),
            "The server sent the file in the content encoding \"gzip\" instead of as it is.", true,
            "", 20);
        row("file, longer than the disk's free space",
            m_http.route("/huge.pkg", {200, b, "Content-Length: 1125899906842624\r\n"}),
            "There is not enough free disk space: 1.1 PB is needed, but only * is free.", true, "",
            1125899906842624ULL);
        row("memory, gzip kept as sent, slow",
            m_http.route("/zipped", {200, zipped, "Content-Encoding: gzip\r\n", false, -1, 5}),
            "finished", false, zipped, 20);
        row("memory, past the limit, its first limit + 1 bytes", m_http.route("/long", {200, b}),
            "finished", false, b.left(kMiB + 1), 4 * kMiB);
        row("memory, error page past the limit", m_http.route("/e", {500, b}),
            "Error transferring " + m_http.url("/e") + " - server replied: Internal Server Error",
            false, "sentinel", 4 * kMiB);
        row("file, http to https", m_http.route("/secure.pkg", {301, "", there}), "finished", true,
            b, 4 * kMiB);
        const QString chunked = m_http.route("/c/moved.pkg", {200, b.left(12000), {}, true});
        row("file, moved to a chunked body",
            m_http.route("/moved.pkg", {301, "", "Location: " + chunked.toUtf8() + "\r\n"}),
            relayed(chunked) + "finished", true, b.left(12000), kNoTotal);
        row("untrusted certificate", m_untrusted.route("/secure.pkg", {200, "secret"}),
            "\"The certificate is self-signed, and untrusted\"\nSSL handshake failed", true, "", 0);
        row("https to http", m_https.route("/moved.pkg", {302, "", back}), "Insecure redirect",
            true, "", 0);
        // Qt notices a cut only at times, else the downloader's own check must: tries meet both.
        for (const bool chunked : {false, true}) {
            for (const char* mode : {"memory", "memory, again", "file", "file, again"}) {
                const QString url = m_http.route(QString("/cut/%1.pkg").arg(++m_runs),
                                                 {200, b, chunked ? "" : big, chunked, kMiB});
                row(qPrintable(QString("cut, %1, %2").arg(chunked ? "chunked" : "length", mode)),
                    url, (chunked ? relayed(url) : QString()) + "Connection closed", mode[0] == 'f',
                    mode[0] == 'f' ? b : "sentinel", chunked ? kNoTotal : 6442450945ULL);
            }
        }
    }

    void download()
    {
        QFETCH(Case, c);
        const QString dir = m_dir.filePath(QString::number(++m_runs) + "/new"); // made
        const QString path = dir + "/" + QUrl::fromPercentEncoding(c.url.toUtf8()).section('/', -1);
        const bool finished = c.end.endsWith("finished");
        QVERIFY(finished || writeFile(path, QByteArray(300 * 1024, 'X'))); // a stale one must go
        Run run(c.url, c.fileMode ? dir : QString());
        QVERIFY(run.started && run.error == "untouched");
        QCOMPARE(run.filePath, c.fileMode ? path : QString());
        // "*": what the machine has free.
        const QString said = (run.log.messages() + run.ends).join('\n');
        const QString expected = "Downloading  \"" + c.url + "\"\n" + c.end;
        QVERIFY2(matchesPattern(said, expected), qPrintable(said));
        // The relay served only the installer, and went with the download's end.
        QCOMPARE(run.strangerRefused, c.end.contains("relay"));
        QVERIFY(!run.relayLeft);
        // Nothing of a failed request is left that could still write to the file or report.
        QTRY_VERIFY(finished || (run.downloader.findChildren<QNetworkReply*>().isEmpty() &&
                                 (!c.fileMode || run.downloader.children().isEmpty())));
        const QByteArray body = c.fileMode ? readFile(path) : run.target;
        for (const auto& report : qAsConst(run.progress)) // 0 until Qt says there is none
            QVERIFY(report[1] == c.total || (c.total == kNoTotal && report[1] == 0));
        QVERIFY(finished ? body == c.body : c.body.startsWith(body)); // a cut file stays
        QVERIFY(run.arrived() == qulonglong(body.size()) || (!finished && !c.fileMode));
    }

    void refused() // before anything is asked for; URL, error, path of the file, directory
    {
        const QString at = m_http.url("/get/"), taken = m_dir.filePath("taken.pkg");
        QVERIFY(QDir().mkpath(taken));
        QList<QStringList> cases = {
            {"ftp://127.0.0.1/a.pkg", "The address %1 is not an HTTP or HTTPS address."},
            {at + "Install_Log.TXT", "The address %1 names a file of the installer's own."},
            {at + "a.pkg", "The directory /dev/null/sub is not accessible.", "", "/dev/null/sub"},
            {at + "taken.pkg", "Failed to create %2 (" + qt_error_string(EISDIR) + ").", taken}};
        for (const char* n : {"", ".", "..", "a%0Ab.pkg"})
            cases << QStringList{at + n, "The address %1 does not name a file that can be saved."};
        for (const QStringList& c : qAsConst(cases)) {
            Run run(c[0], c.value(3, m_dir.path()));
            QCOMPARE(run.error, QString(c[1]).replace("%2", taken).replace("%1", c[0]));
            QCOMPARE(run.filePath, c.value(2));
            QVERIFY(!run.started && run.ends.isEmpty() && run.log.messages().isEmpty());
        }
    }

    // A program that finds the relay's port, and knows the protocol, reaches nothing through it:
    // without the credentials, with another command, for another destination or in silence.
    void relayRefusesStrangers_data()
    {
        QTest::addColumn<QByteArray>("sent"); // U, P: the relay's credentials; D, O: two ports
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("host"); // the relay's destination
        const QByteArray greeting("\x05\x01\x02", 3), admitted("\x05\x02\x01\x00", 4);
        const QByteArray credentials = "\x01\x20U\x20P", local("\x00\x01\x7f\0\0\x01", 6);
        const auto reply = [](char code) {
            return "\x05" + QByteArray(1, code) + QByteArray("\0\x01", 2) + QByteArray(6, '\0');
        };
        const auto row = [](const char* tag, const QByteArray& sent, const QByteArray& answer,
                            const QString& host = "127.0.0.1") {
            QTest::newRow(tag) << sent << answer << host;
        };
        const QByteArray request = greeting + credentials + "\x05\x01";
        row("the installer, for its destination", request + local + "D", admitted + reply(0));
        row("no credentials", QByteArray("\x05\x01\x00", 3), QByteArray("\x05\xff"));
        row("another password", greeting + "\x01\x20U\x20" + QByteArray(32, 'p'),
            QByteArray("\x05\x02\x01\x01"));
        row("BIND", greeting + credentials + "\x05\x02" + local + "D", admitted + reply(7));
        row("another port", request + local + "O", admitted + reply(2));
        row("another host", request + QByteArray("\x00\x03\x09localhostD", 13),
            admitted + reply(2));
        // A destination out of reach is answered with the code the client's socket words.
        row("the installer, its destination unknown",
            request + QByteArray("\x00\x03\x0c", 3) + "unknown hostD", admitted + reply(4),
            "unknown host");
        row("the installer, its destination unreachable",
            request + QByteArray("\x00\x01\xe0\0\0\x01", 6) + "D", admitted + reply(3),
            "224.0.0.1"); // multicast: no TCP connection can be made to it
        row("a flood", greeting + QByteArray(100000, 'x'), QByteArray());
        row("silence", QByteArray(), QByteArray());
    }

    void relayRefusesStrangers()
    {
        QFETCH(QByteArray, sent);
        QFETCH(QByteArray, answer);
        QFETCH(QString, host);
        QTcpServer destination, other;
        QVERIFY(destination.listen(QHostAddress::LocalHost) &&
                other.listen(QHostAddress::LocalHost));
        SocksRelay relay(host, destination.serverPort());
        QVERIFY(relay.listen());
        const QNetworkProxy proxy = relay.proxy();
        QCOMPARE(proxy.user().size(), 32);
        QVERIFY(proxy.user() != proxy.password());
        const auto port = [](const QTcpServer& server) {
            return QByteArray(1, char(server.serverPort() >> 8)) + char(server.serverPort() & 0xff);
        };
        sent.replace("U", proxy.user().toLatin1()).replace("P", proxy.password().toLatin1());
        sent.replace("D", port(destination)).replace("O", port(other));

        QTcpSocket client, second;
        client.connectToHost(QHostAddress::LocalHost, relay.port());
        QVERIFY(client.waitForConnected(5000));
        client.write(sent);
        QByteArray received;
        const bool admitted =
            QTest::currentDataTag() == QByteArray("the installer, for its destination");
        // Closed by the relay, or else (only for the installer) through to its destination.
        QVERIFY(runEventsUntil(
            [&] {
                received += client.readAll();
                return client.state() == QAbstractSocket::UnconnectedState ||
                       (admitted && received.size() >= answer.size());
            },
            10000));
        QCOMPARE(received, answer);
        runEventsUntil([&] { return destination.hasPendingConnections(); }, admitted ? 5000 : 100);
        QCOMPARE(destination.hasPendingConnections(), admitted);
        QVERIFY(!other.hasPendingConnections());
        // One client, whoever it was: the relay listens no more.
        second.connectToHost(QHostAddress::LocalHost, relay.port());
        QVERIFY(!second.waitForConnected(5000));
        QCOMPARE(second.error(), QAbstractSocket::ConnectionRefusedError);
    }

    // With a proxy set, as the system's settings give one, Qt reads through that proxy as
    // through the relay: once, with no relay going round the proxy, and a cut body is reported.
    // Qt sends nothing for a loopback address to a proxy, so the address names a host that only
    // the proxy knows: the test server, which answers the proxy's requests itself.
    void throughAProxy()
    {
        QTemporaryDir dir;
        QNetworkProxy::setApplicationProxy(
            QNetworkProxy(QNetworkProxy::HttpProxy, "127.0.0.1", m_http.serverPort()));
        const auto reset =
            qScopeGuard([] { QNetworkProxy::setApplicationProxy(QNetworkProxy::DefaultProxy); });
        const QByteArray body(300000, 'p');
        for (const QString kind : {"chunked", "length", "chunked, cut"}) {
            const bool cut = kind.endsWith("cut");
            const QString url =
                "http://corvantis.test/" + QString(kind).replace(", ", "-") + ".pkg";
            m_http.route(url, {200, body, {}, kind.startsWith("chunked"), cut ? 100000 : -1});
            Run run(url, dir.path());
            QCOMPARE((run.log.messages() + run.ends).join('\n'),
                     "Downloading  \"" + url + "\"\n" + (cut ? "Connection closed" : "finished"));
            QCOMPARE(m_http.requestedPaths().count(url), 1);
            QVERIFY(readFile(dir.filePath(url.section('/', -1))) ==
                    (cut ? body.left(100000) : body));
        }
    }

    void diskFull() // streaming stops at the first piece that fails, a small body when flushed
    {
        for (const int size : {100, 16 * kMiB}) {
            const QString name = QString("/full-%1.pkg").arg(size);
            QVERIFY(QFile::link("/dev/full", m_dir.path() + name));
            Run run(m_http.route(name, {200, QByteArray(size, 'b')}), m_dir.path());
            QCOMPARE(run.ends.join(", "), "I/O failure (" + qt_error_string(ENOSPC) + ")");
            QVERIFY(size == 100 ? run.arrived() == 100 : run.arrived() < qulonglong(size / 2));
            // A stopped transfer lets its reply go: only the file is left.
            QTRY_VERIFY(size == 100 || run.downloader.findChildren<QIODevice*>().size() == 1);
        }
    }
};

QTEST_GUILESS_MAIN(TestFileDownloader)
#include "tst_filedownloader.moc"
