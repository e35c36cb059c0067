#pragma once

#include <QtNetwork>

// What the server answers on one path. Every answer ends with the server closing the connection.
struct TestResponse
{
    // closeAfter >= 0: drop the connection after that many body bytes; trickleBytes > 0: send
    // that many bytes of the body every 20 ms instead of all at once.
    TestResponse(int status = 200, const QByteArray& body = {}, const QByteArray& headers = {},
                 bool chunked = false, qint64 closeAfter = -1, int trickleBytes = 0)
        : status(status), body(body), headers(headers), chunked(chunked), closeAfter(closeAfter),
          trickleBytes(trickleBytes)
    {
    }

    int status;         // 0: the request is read and never answered
    QByteArray body;    // served as is
    QByteArray headers; // more header lines, each ending in "\r\n"; may replace Content-Length
    bool chunked;       // else the length is announced
    qint64 closeAfter;
    int trickleBytes;
};

// An HTTP/1.1 (or HTTPS) server on 127.0.0.1 for tests, served by the test's own event loop.
// Paths match the raw request target exactly; unknown paths get 404.
class TestServer : public QTcpServer
{
public:
    // Https presents a certificate of the test authority, which the process's default TLS
    // configuration trusts from then on; UntrustedHttps a self-signed one that nobody trusts.
    enum Scheme { Http, Https, UntrustedHttps };

    explicit TestServer(Scheme scheme = Http);

    bool listen() { return QTcpServer::listen(QHostAddress::LocalHost); } // a free port
    QString baseUrl() const; // "http://127.0.0.1:<port>" or "https://..."
    QString url(const QString& path) const { return baseUrl() + path; }

    QString route(const QString& path, const TestResponse& response); // gives url(path)
    void hang(const QString& path) { route(path, TestResponse{0}); }
    QStringList requestedPaths() const { return m_paths; } // raw request targets, in order

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    class Connection;

    const Scheme m_scheme;
    QHash<QString, TestResponse> m_routes;
    QStringList m_paths;
};
