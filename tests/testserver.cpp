#include "testserver.h"

// TLS fixtures in tests/certs/, made once by tests/certs/make-certs.sh (openssl, RSA 2048,
// SHA-256, valid for 36500 days): a test authority (ca.pem), a server certificate for
// IP:127.0.0.1 and DNS:localhost signed by it (server.pem, server.key), and a self-signed
// certificate for the same names that nothing trusts (untrusted.pem, untrusted.key).

#include <QFile>
#include <QHash>
#include <QHostAddress>
#include <QMutex>
#include <QMutexLocker>
#include <QPointer>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

struct TestServer::Shared
{
    mutable QMutex mutex;
    Scheme scheme = Http;
    QHash<QString, TestResponse> routes;
    QList<TestRequest> requests;
    bool untrusted = false;
    int connections = 0;
};

namespace {

constexpr qint64 kChunk = 256 * 1024;
// The socket is refilled only below this, so that a body of any size streams in constant memory.
constexpr qint64 kLowWater = 1024 * 1024;
constexpr int kPatternPeriod = 251;
constexpr int kMaxHead = 64 * 1024;

// The generated body from offset 0, long enough that any chunk can start at any phase.
const QByteArray& pattern()
{
    static const QByteArray bytes = [] {
        QByteArray data(int(kChunk + kPatternPeriod), Qt::Uninitialized);
        for (int i = 0; i < data.size(); ++i)
            data[i] = TestServer::generatedByte(i);
        return data;
    }();
    return bytes;
}

QByteArray readFixture(const QString& name)
{
    QFile file(QStringLiteral(CORVANTIS_TESTS_DIR "/certs/") + name);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("test server: cannot read %s", qPrintable(file.fileName()));
    return file.readAll();
}

const QSslKey& serverKey()
{
    static const QSslKey key(readFixture("server.key"), QSsl::Rsa, QSsl::Pem);
    return key;
}

const QSslKey& untrustedKey()
{
    static const QSslKey key(readFixture("untrusted.key"), QSsl::Rsa, QSsl::Pem);
    return key;
}

QByteArray reasonPhrase(int status)
{
    static const QHash<int, QByteArray> phrases = {
        {200, "OK"},
        {201, "Created"},
        {204, "No Content"},
        {206, "Partial Content"},
        {301, "Moved Permanently"},
        {302, "Found"},
        {303, "See Other"},
        {304, "Not Modified"},
        {307, "Temporary Redirect"},
        {308, "Permanent Redirect"},
        {400, "Bad Request"},
        {401, "Unauthorized"},
        {403, "Forbidden"},
        {404, "Not Found"},
        {405, "Method Not Allowed"},
        {410, "Gone"},
        {416, "Range Not Satisfiable"},
        {500, "Internal Server Error"},
        {501, "Not Implemented"},
        {502, "Bad Gateway"},
        {503, "Service Unavailable"},
        {504, "Gateway Timeout"},
    };
    return phrases.value(status, "Unknown");
}

TestResponse notFound()
{
    TestResponse response;
    response.status = 404;
    response.body = "Not found\n";
    return response;
}

// One client connection: reads requests one after the other and answers each in turn.
class Connection : public QObject
{
public:
    Connection(QTcpSocket* socket, QSharedPointer<TestServer::Shared> shared, QObject* parent)
        : QObject(parent), m_socket(socket), m_ssl(qobject_cast<QSslSocket*>(socket)),
          m_shared(std::move(shared))
    {
        socket->setParent(this);
        {
            QMutexLocker lock(&m_shared->mutex);
            ++m_shared->connections;
        }
        connect(socket, &QIODevice::readyRead, this, &Connection::readIncoming);
        connect(socket, &QIODevice::bytesWritten, this, &Connection::pump);
        if (m_ssl)
            connect(m_ssl, &QSslSocket::encryptedBytesWritten, this, &Connection::pump);
        connect(socket, &QAbstractSocket::disconnected, this, &QObject::deleteLater);
        connect(socket, &QAbstractSocket::errorOccurred, this, [this] {
            if (m_socket->state() == QAbstractSocket::UnconnectedState)
                deleteLater();
        });
        m_trickle.setTimerType(Qt::PreciseTimer);
        connect(&m_trickle, &QTimer::timeout, this, &Connection::trickle);
    }

    ~Connection() override
    {
        QMutexLocker lock(&m_shared->mutex);
        --m_shared->connections;
    }

    void drop() { m_socket->abort(); }

private:
    enum class Phase { Request, Responding, Hanging, Closing };

    void readIncoming()
    {
        m_input += m_socket->readAll();
        processInput();
    }

    void processInput()
    {
        while (m_phase == Phase::Request && takeRequest()) {
        }
    }

    // Answers the first complete request in the input; false while none is complete.
    bool takeRequest()
    {
        const int end = m_input.indexOf("\r\n\r\n");
        if (end < 0) {
            if (m_input.size() > kMaxHead)
                refuse(400);
            return false;
        }
        const QList<QByteArray> lines = m_input.left(end).split('\n');
        const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
        if (requestLine.size() != 3 || !requestLine[2].startsWith("HTTP/1.")) {
            refuse(400);
            return false;
        }
        TestRequest request;
        request.method = requestLine[0];
        request.path = QString::fromUtf8(requestLine[1]);
        for (int i = 1; i < lines.size(); ++i) {
            const int colon = lines[i].indexOf(':');
            if (colon > 0)
                request.headers.append(
                    {lines[i].left(colon).trimmed(), lines[i].mid(colon + 1).trimmed()});
        }
        if (!request.header("transfer-encoding").isEmpty()) {
            refuse(501);
            return false;
        }
        const qint64 bodySize = request.header("content-length").toLongLong();
        if (m_input.size() < end + 4 + bodySize)
            return false;
        m_input.remove(0, int(end + 4 + bodySize));

        const bool clientCloses =
            requestLine[2] == "HTTP/1.0" || request.header("connection").toLower() == "close";
        respond(request, clientCloses);
        return true;
    }

    void refuse(int status)
    {
        m_phase = Phase::Closing;
        m_socket->write("HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) +
                        "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        m_socket->disconnectFromHost();
    }

    void respond(const TestRequest& request, bool clientCloses)
    {
        {
            QMutexLocker lock(&m_shared->mutex);
            m_shared->requests.append(request);
            auto found = m_shared->routes.constFind(request.path);
            if (found == m_shared->routes.constEnd() && request.path.contains('?'))
                found = m_shared->routes.constFind(request.path.section('?', 0, 0));
            m_response = found != m_shared->routes.constEnd() ? *found : notFound();
        }
        if (m_response.hang) {
            m_phase = Phase::Hanging;
            return;
        }

        m_head = request.method == "HEAD";
        m_bodyLength =
            m_response.generatedSize >= 0 ? m_response.generatedSize : m_response.body.size();
        m_limit =
            m_response.closeAfter >= 0 ? qMin(m_response.closeAfter, m_bodyLength) : m_bodyLength;
        if (m_head)
            m_limit = 0;
        m_sent = 0;
        const TestResponse::Framing framing = m_response.framing;
        const bool lengthLies = framing == TestResponse::ContentLength &&
                                m_response.advertisedLength >= 0 &&
                                m_response.advertisedLength != m_bodyLength;
        m_keepAlive = !clientCloses && framing != TestResponse::CloseDelimited &&
                      m_response.closeAfter < 0 && !lengthLies;

        QByteArray head = "HTTP/1.1 " + QByteArray::number(m_response.status) + ' ' +
                          reasonPhrase(m_response.status) + "\r\n";
        if (framing == TestResponse::ContentLength) {
            const qint64 length =
                m_response.advertisedLength >= 0 ? m_response.advertisedLength : m_bodyLength;
            head += "Content-Length: " + QByteArray::number(length) + "\r\n";
        } else if (framing == TestResponse::Chunked) {
            head += "Transfer-Encoding: chunked\r\n";
        }
        if (!m_response.location.isEmpty())
            head += "Location: " + m_response.location.toUtf8() + "\r\n";
        for (const auto& header : qAsConst(m_response.headers))
            head += header.first + ": " + header.second + "\r\n";
        if (!m_keepAlive)
            head += "Connection: close\r\n";
        head += "\r\n";
        m_socket->write(head);

        m_phase = Phase::Responding;
        if (m_response.trickleBytes > 0 && m_response.trickleIntervalMs > 0 && m_limit > 0)
            m_trickle.start(m_response.trickleIntervalMs);
        else
            pump();
    }

    qint64 pending() const
    {
        return m_socket->bytesToWrite() + (m_ssl ? m_ssl->encryptedBytesToWrite() : 0);
    }

    void pump()
    {
        if (m_phase != Phase::Responding || m_trickle.isActive())
            return;
        while (m_sent < m_limit && pending() < kLowWater)
            writeBody(qMin(kChunk, m_limit - m_sent));
        if (m_sent == m_limit)
            endBody();
    }

    void trickle()
    {
        writeBody(qMin(qint64(m_response.trickleBytes), m_limit - m_sent));
        if (m_sent == m_limit) {
            m_trickle.stop();
            endBody();
        }
    }

    void writeBody(qint64 size)
    {
        const bool chunked = m_response.framing == TestResponse::Chunked;
        if (chunked)
            m_socket->write(QByteArray::number(size, 16) + "\r\n");
        for (qint64 done = 0; done < size;) {
            const qint64 piece = qMin(kChunk, size - done);
            const qint64 offset = m_sent + done;
            if (m_response.generatedSize >= 0)
                m_socket->write(pattern().constData() + offset % kPatternPeriod, piece);
            else
                m_socket->write(m_response.body.constData() + offset, piece);
            done += piece;
        }
        if (chunked)
            m_socket->write("\r\n");
        m_sent += size;
    }

    void endBody()
    {
        const bool complete = m_head || m_sent == m_bodyLength;
        if (complete && !m_head && m_response.framing == TestResponse::Chunked)
            m_socket->write("0\r\n\r\n");
        if (!complete || !m_keepAlive) {
            m_phase = Phase::Closing;
            m_socket->disconnectFromHost();
            return;
        }
        m_phase = Phase::Request;
        m_response = TestResponse();
        if (!m_input.isEmpty())
            QMetaObject::invokeMethod(this, &Connection::processInput, Qt::QueuedConnection);
    }

    QTcpSocket* m_socket;
    QSslSocket* m_ssl;
    QSharedPointer<TestServer::Shared> m_shared;
    QByteArray m_input;
    Phase m_phase = Phase::Request;
    TestResponse m_response;
    bool m_head = false;
    bool m_keepAlive = true;
    qint64 m_bodyLength = 0;
    qint64 m_limit = 0;
    qint64 m_sent = 0;
    QTimer m_trickle;
};

} // namespace

class TestServer::Listener : public QTcpServer
{
public:
    explicit Listener(QSharedPointer<Shared> shared) : m_shared(std::move(shared)) {}

    void dropConnections()
    {
        for (const QPointer<Connection>& connection : qAsConst(m_connections)) {
            if (connection) {
                connection->drop();
                delete connection;
            }
        }
        m_connections.clear();
    }

protected:
    void incomingConnection(qintptr descriptor) override
    {
        m_connections.removeAll(nullptr);
        bool untrusted = false;
        {
            QMutexLocker lock(&m_shared->mutex);
            untrusted = m_shared->untrusted;
        }
        if (m_shared->scheme == Http) {
            auto* socket = new QTcpSocket;
            if (!socket->setSocketDescriptor(descriptor)) {
                delete socket;
                return;
            }
            m_connections.append(new Connection(socket, m_shared, this));
            return;
        }
        auto* socket = new QSslSocket;
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        socket->setLocalCertificate(untrusted ? untrustedCertificate() : serverCertificate());
        socket->setPrivateKey(untrusted ? untrustedKey() : serverKey());
        socket->setPeerVerifyMode(QSslSocket::VerifyNone);
        m_connections.append(new Connection(socket, m_shared, this));
        socket->startServerEncryption();
    }

private:
    QSharedPointer<Shared> m_shared;
    QList<QPointer<Connection>> m_connections;
};

QByteArray TestRequest::header(const QByteArray& name) const
{
    for (const auto& header : headers) {
        if (header.first.compare(name, Qt::CaseInsensitive) == 0)
            return header.second;
    }
    return QByteArray();
}

TestServer::TestServer(Scheme scheme, QObject* parent)
    : QObject(parent), m_shared(new Shared), m_thread(new QThread)
{
    m_shared->scheme = scheme;
    m_thread->setObjectName("TestServer");
    m_listener = new Listener(m_shared);
    m_listener->moveToThread(m_thread);
    m_thread->start();
}

TestServer::~TestServer()
{
    QMetaObject::invokeMethod(
        m_listener,
        [listener = m_listener] {
            listener->close();
            listener->dropConnections();
            listener->deleteLater();
        },
        Qt::BlockingQueuedConnection);
    m_thread->quit();
    m_thread->wait();
    delete m_thread;
}

bool TestServer::listen()
{
    bool listening = false;
    quint16 port = 0;
    QMetaObject::invokeMethod(
        m_listener,
        [&] {
            listening = m_listener->listen(QHostAddress::LocalHost, 0);
            port = m_listener->serverPort();
        },
        Qt::BlockingQueuedConnection);
    m_port = listening ? port : 0;
    return listening;
}

void TestServer::close()
{
    QMetaObject::invokeMethod(
        m_listener,
        [listener = m_listener] {
            listener->close();
            listener->dropConnections();
        },
        Qt::BlockingQueuedConnection);
}

quint16 TestServer::port() const
{
    return m_port;
}

TestServer::Scheme TestServer::scheme() const
{
    return m_shared->scheme;
}

QString TestServer::baseUrl() const
{
    return QStringLiteral("%1://127.0.0.1:%2")
        .arg(m_shared->scheme == Https ? "https" : "http")
        .arg(m_port);
}

QString TestServer::url(const QString& path) const
{
    return baseUrl() + path;
}

void TestServer::route(const QString& path, const TestResponse& response)
{
    QMutexLocker lock(&m_shared->mutex);
    m_shared->routes.insert(path, response);
}

void TestServer::hang(const QString& path)
{
    TestResponse response;
    response.hang = true;
    route(path, response);
}

void TestServer::clearRoutes()
{
    QMutexLocker lock(&m_shared->mutex);
    m_shared->routes.clear();
}

int TestServer::requestCount(const QString& path) const
{
    QMutexLocker lock(&m_shared->mutex);
    int count = 0;
    for (const TestRequest& request : qAsConst(m_shared->requests)) {
        if (request.path == path)
            ++count;
    }
    return count;
}

QStringList TestServer::requestedPaths() const
{
    QMutexLocker lock(&m_shared->mutex);
    QStringList paths;
    for (const TestRequest& request : qAsConst(m_shared->requests))
        paths.append(request.path);
    return paths;
}

QList<TestRequest> TestServer::requests() const
{
    QMutexLocker lock(&m_shared->mutex);
    return m_shared->requests;
}

void TestServer::clearRequests()
{
    QMutexLocker lock(&m_shared->mutex);
    m_shared->requests.clear();
}

int TestServer::openConnections() const
{
    QMutexLocker lock(&m_shared->mutex);
    return m_shared->connections;
}

void TestServer::useUntrustedCertificate(bool untrusted)
{
    QMutexLocker lock(&m_shared->mutex);
    m_shared->untrusted = untrusted;
}

void TestServer::trustTestAuthority()
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    QList<QSslCertificate> authorities = configuration.caCertificates();
    if (authorities.contains(authorityCertificate()))
        return;
    authorities.append(authorityCertificate());
    configuration.setCaCertificates(authorities);
    QSslConfiguration::setDefaultConfiguration(configuration);
}

QSslCertificate TestServer::authorityCertificate()
{
    static const QSslCertificate certificate(readFixture("ca.pem"), QSsl::Pem);
    return certificate;
}

QSslCertificate TestServer::serverCertificate()
{
    static const QSslCertificate certificate(readFixture("server.pem"), QSsl::Pem);
    return certificate;
}

QSslCertificate TestServer::untrustedCertificate()
{
    static const QSslCertificate certificate(readFixture("untrusted.pem"), QSsl::Pem);
    return certificate;
}

char TestServer::generatedByte(qint64 index)
{
    return char((index % kPatternPeriod * 31 + 7) % kPatternPeriod);
}

QByteArray TestServer::generatedBody(qint64 offset, qint64 size)
{
    QByteArray data(int(size), Qt::Uninitialized);
    for (int i = 0; i < data.size(); ++i)
        data[i] = generatedByte(offset + i);
    return data;
}
