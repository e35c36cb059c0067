#pragma once

#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <QStringList>

class QThread;

// What the server answers on one path. Every answer ends with the server closing the connection.
struct TestResponse
{
    int status = 200;
    QByteArray reason;      // empty: the usual phrase of the status
    QByteArray body;        // served as is
    QByteArray headers;     // more header lines, each ending in "\r\n"; may replace Content-Length
    bool chunked = false;   // else the length is announced
    qint64 closeAfter = -1; // >= 0: drop the connection after that many body bytes
    // > 0 both: send trickleBytes of the body every trickleIntervalMs instead of all at once.
    int trickleBytes = 0;
    int trickleIntervalMs = 0;
};

// An HTTP/1.1 (or HTTPS) server on 127.0.0.1 for tests. It runs in a thread of its own, so a
// test may block its own thread without starving the server. Paths match the raw request target
// exactly; unknown paths get 404.
class TestServer
{
public:
    // Https presents a certificate of the test authority, which the process's default TLS
    // configuration trusts from then on; UntrustedHttps a self-signed one that nobody trusts.
    enum Scheme { Http, Https, UntrustedHttps };

    explicit TestServer(Scheme scheme = Http);
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    bool listen(); // 127.0.0.1, a free port
    // Stops listening and drops every open connection; the port is then refused.
    void close();
    QString baseUrl() const; // "http://127.0.0.1:<port>" or "https://..."
    QString url(const QString& path) const { return baseUrl() + path; }

    QString route(const QString& path, const TestResponse& response); // gives url(path)
    // Reads requests for the path and never answers them.
    void hang(const QString& path);

    int requestCount(const QString& path) const;
    QStringList requestedPaths() const; // raw request targets, in arrival order

private:
    class Listener;
    class Connection;

    const Scheme m_scheme;
    mutable QMutex m_mutex;
    QHash<QString, TestResponse> m_routes;
    QStringList m_paths;
    QThread* m_thread;
    Listener* m_listener;
    quint16 m_port = 0;
};
