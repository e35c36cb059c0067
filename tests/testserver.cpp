#include "testserver.h"

// TLS fixtures, made once by make-certs.sh there.
#define CERTS CORVANTIS_TESTS_DIR "/certs/"

// One request on one connection, answered and then closed.
class TestServer::Connection : public QObject
{
public:
    Connection(QTcpSocket* socket, TestServer* server)
        : QObject(socket), m_socket(socket), m_server(server)
    {
        connect(socket, &QIODevice::readyRead, this, &Connection::read);
        connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QAbstractSocket::disconnected, &m_timer, &QTimer::stop);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            if (m_pieces.isEmpty()) {
                m_timer.stop();
                m_socket->disconnectFromHost();
            } else {
                m_socket->write(m_pieces.takeFirst());
            }
        });
    }

private:
    void read()
    {
        m_input += m_socket->readAll();
        if (m_answered || !m_input.contains("\r\n\r\n"))
            return;
        m_answered = true;
        m_server->m_paths.append(QString::fromUtf8(m_input.split(' ').value(1)));
        const TestResponse r =
            m_server->m_routes.value(m_server->m_paths.last(), {404, "Not found"});
        if (r.status == 0)
            return;
        // Qt quotes the phrase of a failure in its error text, and ignores the others.
        const QByteArray phrase = r.status == 500 ? "Internal Server Error" : "Phrase";
        QByteArray head = "HTTP/1.1 " + QByteArray::number(r.status) + ' ' + phrase;
        if (r.chunked)
            head += "\r\nTransfer-Encoding: chunked";
        else if (!r.headers.contains("Content-Length")) // else a length that lies
            head += "\r\nContent-Length: " + QByteArray::number(r.body.size());
        m_socket->write(head + "\r\n" + r.headers + "Connection: close\r\n\r\n");

        const int size =
            r.closeAfter >= 0 ? int(qMin<qint64>(r.closeAfter, r.body.size())) : r.body.size();
        const int step = r.trickleBytes > 0 ? r.trickleBytes : qMax(size, 1);
        for (int at = 0; at < size; at += step) {
            const QByteArray piece = r.body.mid(at, qMin(step, size - at));
            m_pieces << (r.chunked ? QByteArray::number(piece.size(), 16) + "\r\n" + piece + "\r\n"
                                   : piece);
        }
        if (r.chunked && size == r.body.size())
            m_pieces << "0\r\n\r\n";
        m_timer.start(r.trickleBytes > 0 ? 20 : 0);
    }

    QTcpSocket* m_socket;
    TestServer* m_server;
    QByteArray m_input;
    bool m_answered = false;
    QByteArrayList m_pieces; // sent one per turn of the timer
    QTimer m_timer;
};

TestServer::TestServer(Scheme scheme) : m_scheme(scheme)
{
    if (scheme == Https) {
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.addCaCertificates(CERTS "ca.pem");
        QSslConfiguration::setDefaultConfiguration(configuration);
    }
}

void TestServer::incomingConnection(qintptr descriptor)
{
    QTcpSocket* socket = m_scheme == Http ? new QTcpSocket(this) : new QSslSocket(this);
    socket->setSocketDescriptor(descriptor);
    new Connection(socket, this);
    if (auto* ssl = qobject_cast<QSslSocket*>(socket)) {
        const QString name = CERTS + QString(m_scheme == Https ? "server" : "untrusted");
        ssl->setLocalCertificate(name + ".pem");
        ssl->setPrivateKey(name + ".key");
        ssl->startServerEncryption();
    }
}

QString TestServer::baseUrl() const
{
    return QStringLiteral("%1://127.0.0.1:%2")
        .arg(m_scheme == Http ? "http" : "https")
        .arg(serverPort());
}

QString TestServer::route(const QString& path, const TestResponse& response)
{
    m_routes.insert(path, response);
    return url(path);
}
