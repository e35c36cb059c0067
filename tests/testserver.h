#pragma once

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QPair>
#include <QSharedPointer>
#include <QSslCertificate>
#include <QString>
#include <QStringList>

class QThread;

// What the server answers on one path.
struct TestResponse
{
    int status = 200;
    QByteArray reason; // empty: the usual phrase of the status
    QByteArray body;   // served as is
    // >= 0: serve that many bytes of TestServer::generatedBody() instead of body, made on the fly.
    qint64 generatedSize = -1;
    enum Framing { ContentLength, Chunked, CloseDelimited } framing = ContentLength;
    // >= 0: the Content-Length sent instead of the real length; the connection is closed after
    // the body when the two differ.
    qint64 advertisedLength = -1;
    qint64 closeAfter = -1; // >= 0: drop the connection after that many body bytes
    // > 0 both: send trickleBytes of the body every trickleIntervalMs instead of all at once.
    int trickleBytes = 0;
    int trickleIntervalMs = 0;
    bool hang = false;                            // read the request, never answer
    QList<QPair<QByteArray, QByteArray>> headers; // extra headers (Location, ...), sent as given
};
Q_DECLARE_METATYPE(TestResponse)

// An HTTP/1.1 (or HTTPS) server on 127.0.0.1 for tests. It runs in a thread of its own, so a
// test may block its own thread without starving the server, and serves any number of
// connections with keep-alive. Paths match the raw request target exactly; unknown paths get 404.
class TestServer : public QObject
{
    Q_OBJECT

public:
    // UntrustedHttps presents a self-signed certificate that nobody trusts.
    enum Scheme { Http, Https, UntrustedHttps };

    explicit TestServer(Scheme scheme = Http, QObject* parent = nullptr);
    ~TestServer() override;

    bool listen(); // 127.0.0.1, a free port
    // Stops listening and drops every open connection; the port is then refused.
    void close();
    QString baseUrl() const; // "http://127.0.0.1:<port>" or "https://..."
    QString url(const QString& path) const;

    void route(const QString& path, const TestResponse& response);
    // Reads requests for the path and never answers them.
    void hang(const QString& path);

    int requestCount(const QString& path) const;
    QStringList requestedPaths() const; // raw request targets, in arrival order

    // Adds the test authority to the process's default TLS configuration, which every
    // connection made afterwards starts from.
    static void trustTestAuthority();
    static QSslCertificate untrustedCertificate();

    // Byte i is (i * 31 + 7) mod 251.
    static QByteArray generatedBody(qint64 size);
    // The data as a gzip stream, for a server that compresses unasked.
    static QByteArray gzip(const QByteArray& data);

    struct Shared;

private:
    class Listener;

    QSharedPointer<Shared> m_shared;
    QThread* m_thread = nullptr;
    Listener* m_listener = nullptr;
    quint16 m_port = 0;
};
