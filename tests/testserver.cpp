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

#include <zlib.h>

struct TestServer::Shared
{
    mutable QMutex mutex;
    Scheme scheme = Http;
    QHash<QString, TestResponse> routes;
    QStringList paths;
};

namespace {

constexpr qint64 kChunk = 256 * 1024;
// The socket is refilled only below this, so that a body of any size streams in constant memory.
constexpr qint64 kLowWater = 1024 * 1024;
constexpr int kPatternPeriod = 251;

char generatedByte(qint64 index)
{
    return char((index % kPatternPeriod * 31 + 7) % kPatternPeriod);
}

// The generated body from offset 0, long enough that any chunk can start at any phase.
const QByteArray& pattern()
{
    static const QByteArray bytes = [] {
        QByteArray data(int(kChunk + kPatternPeriod), Qt::Uninitialized);
        for (int i = 0; i < data.size(); ++i)
            data[i] = generatedByte(i);
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

QByteArray reasonPhrase(int status)
{
    static const QHash<int, QByteArray> phrases = {
        {200, "OK"},
        {302, "Found"},
        {307, "Temporary Redirect"},
        {404, "Not Found"},
        {500, "Internal Server Error"},
    };
    return phrases.value(status, "Unknown");
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
        connect(socket, &QIODevice::readyRead, this, &Connection::processInput);
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

    void drop() { m_socket->abort(); }

private:
    enum class Phase { Request, Responding, Busy };

    // Answers the complete requests in the input, one at a time. Requests carry no body.
    void processInput()
    {
        m_input += m_socket->readAll();
        int end;
        while (m_phase == Phase::Request && (end = m_input.indexOf("\r\n\r\n")) >= 0) {
            const QList<QByteArray> requestLine = m_input.left(m_input.indexOf("\r\n")).split(' ');
            m_input.remove(0, end + 4);
            if (requestLine.size() != 3) {
                drop();
                return;
            }
            respond(QString::fromUtf8(requestLine[1]));
        }
    }

    void respond(const QString& path)
    {
        {
            QMutexLocker lock(&m_shared->mutex);
            m_shared->paths.append(path);
            TestResponse notFound;
            notFound.status = 404;
            notFound.body = "Not found\n";
            m_response = m_shared->routes.value(path, notFound);
        }
        if (m_response.hang) {
            m_phase = Phase::Busy;
            return;
        }
        const TestResponse::Framing framing = m_response.framing;
        m_bodyLength =
            m_response.generatedSize >= 0 ? m_response.generatedSize : m_response.body.size();
        m_limit =
            m_response.closeAfter >= 0 ? qMin(m_response.closeAfter, m_bodyLength) : m_bodyLength;
        m_sent = 0;
        const qint64 advertised =
            m_response.advertisedLength >= 0 ? m_response.advertisedLength : m_bodyLength;
        m_keepAlive = framing != TestResponse::CloseDelimited && m_response.closeAfter < 0 &&
                      advertised == m_bodyLength;

        const QByteArray reason =
            m_response.reason.isEmpty() ? reasonPhrase(m_response.status) : m_response.reason;
        QByteArray head =
            "HTTP/1.1 " + QByteArray::number(m_response.status) + ' ' + reason + "\r\n";
        if (framing == TestResponse::ContentLength)
            head += "Content-Length: " + QByteArray::number(advertised) + "\r\n";
        else if (framing == TestResponse::Chunked)
            head += "Transfer-Encoding: chunked\r\n";
        for (const auto& header : qAsConst(m_response.headers))
            head += header.first + ": " + header.second + "\r\n";
        if (!m_keepAlive)
            head += "Connection: close\r\n";
        m_socket->write(head + "\r\n");

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
        const bool complete = m_sent == m_bodyLength;
        if (complete && m_response.framing == TestResponse::Chunked)
            m_socket->write("0\r\n\r\n");
        if (!complete || !m_keepAlive) {
            m_phase = Phase::Busy;
            m_socket->disconnectFromHost();
            return;
        }
        m_phase = Phase::Request;
        if (!m_input.isEmpty())
            QMetaObject::invokeMethod(this, &Connection::processInput, Qt::QueuedConnection);
    }

    QTcpSocket* m_socket;
    QSslSocket* m_ssl;
    QSharedPointer<TestServer::Shared> m_shared;
    QByteArray m_input;
    Phase m_phase = Phase::Request;
    TestResponse m_response;
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
        const Scheme scheme = m_shared->scheme;
        QTcpSocket* socket = scheme == Http ? new QTcpSocket : new QSslSocket;
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        m_connections.append(new Connection(socket, m_shared, this));
        if (scheme == Http)
            return;
        const QString name = scheme == Https ? "server" : "untrusted";
        auto* ssl = static_cast<QSslSocket*>(socket);
        ssl->setLocalCertificate(QSslCertificate(readFixture(name + ".pem"), QSsl::Pem));
        ssl->setPrivateKey(QSslKey(readFixture(name + ".key"), QSsl::Rsa, QSsl::Pem));
        ssl->setPeerVerifyMode(QSslSocket::VerifyNone);
        ssl->startServerEncryption();
    }

private:
    QSharedPointer<Shared> m_shared;
    QList<QPointer<Connection>> m_connections;
};

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
    close();
    QMetaObject::invokeMethod(m_listener, &QObject::deleteLater, Qt::BlockingQueuedConnection);
    m_thread->quit();
    m_thread->wait();
    delete m_thread;
}

bool TestServer::listen()
{
    bool listening = false;
    QMetaObject::invokeMethod(
        m_listener,
        [&] {
            listening = m_listener->listen(QHostAddress::LocalHost, 0);
            m_port = m_listener->serverPort();
        },
        Qt::BlockingQueuedConnection);
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

QString TestServer::baseUrl() const
{
    return QStringLiteral("%1://127.0.0.1:%2")
        .arg(m_shared->scheme == Http ? "http" : "https")
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

int TestServer::requestCount(const QString& path) const
{
    QMutexLocker lock(&m_shared->mutex);
    return m_shared->paths.count(path);
}

QStringList TestServer::requestedPaths() const
{
    QMutexLocker lock(&m_shared->mutex);
    return m_shared->paths;
}

void TestServer::trustTestAuthority()
{
    const QSslCertificate authority(readFixture("ca.pem"), QSsl::Pem);
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    QList<QSslCertificate> authorities = configuration.caCertificates();
    if (authorities.contains(authority))
        return;
    authorities.append(authority);
    configuration.setCaCertificates(authorities);
    QSslConfiguration::setDefaultConfiguration(configuration);
}

QSslCertificate TestServer::untrustedCertificate()
{
    return QSslCertificate(readFixture("untrusted.pem"), QSsl::Pem);
}

QByteArray TestServer::generatedBody(qint64 size)
{
    QByteArray data(int(size), Qt::Uninitialized);
    for (int i = 0; i < data.size(); ++i)
        data[i] = generatedByte(i);
    return data;
}

QByteArray TestServer::gzip(const QByteArray& data)
{
    z_stream stream{};
    deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(int(deflateBound(&stream, uLong(data.size()))), Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(out.size());
    out.resize(deflate(&stream, Z_FINISH) == Z_STREAM_END ? int(stream.total_out) : 0);
    deflateEnd(&stream);
    return out;
}
