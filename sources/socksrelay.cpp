#include "socksrelay.h"

#include <QHostAddress>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTimer>
#include <QtEndian>

namespace {

// Bounds what waits in the relay, in each direction, when one side is faster than the other.
constexpr qint64 kBufferSize = 256 * 1024;
// Qt's client sends each part of the handshake at once; a client that dawdles is not ours.
constexpr int kHandshakeTimeLimitMs = 2000;
// The longest handshake message: a request naming a host of 255 bytes.
constexpr int kMaxHandshakeBytes = 4 + 1 + 255 + 2;

// Who may use the relay, and to reach what.
struct Admission
{
    QByteArray user, password;
    QString host; // as in a URL, names in ASCII-compatible encoding
    quint16 port;
};

// Compares in a time that does not depend on where the bytes differ.
bool sameSecret(const QByteArray& a, const QByteArray& b)
{
    if (a.size() != b.size())
        return false;
    uchar difference = 0;
    for (int i = 0; i < a.size(); ++i)
        difference |= uchar(a.at(i) ^ b.at(i));
    return difference == 0;
}

bool sameHost(const QString& requested, const QString& allowed)
{
    const QHostAddress address(requested), allowedAddress(allowed);
    if (!address.isNull() || !allowedAddress.isNull())
        return address == allowedAddress;
    return requested.compare(allowed, Qt::CaseInsensitive) == 0;
}

// The one client connection: the SOCKS5 greeting, the username and password (RFC 1928 and
// 1929, CONNECT only), then bytes both ways until either side closes.
class RelayedConnection : public QObject
{
public:
    RelayedConnection(QTcpSocket* socket, const Admission& admission, QObject* parent)
        : QObject(parent), client(socket), admission(admission)
    {
        socket->setParent(this);
        // The client reads without a bound; a small send buffer keeps what is in flight to it,
        // and so what waits in its reply, near the relay's own bound.
        socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, int(kBufferSize));
        socket->setReadBufferSize(kBufferSize);
        upstream.setReadBufferSize(kBufferSize);
        upstream.setProxy(QNetworkProxy::NoProxy);
        deadline.setSingleShot(true);
        deadline.start(kHandshakeTimeLimitMs);
        connect(&deadline, &QTimer::timeout, this, [this] { client->abort(); });
        connect(socket, &QTcpSocket::readyRead, this, &RelayedConnection::clientReadable);
        connect(socket, &QTcpSocket::bytesWritten, this, &RelayedConnection::toClient);
        connect(socket, &QTcpSocket::disconnected, this, [this] {
            upstream.abort();
            deleteLater();
        });
        connect(&upstream, &QTcpSocket::connected, this, [this] {
            reply(0);
            phase = Phase::Relaying;
            toUpstream();
        });
        connect(&upstream, &QTcpSocket::readyRead, this, &RelayedConnection::toClient);
        connect(&upstream, &QTcpSocket::bytesWritten, this, &RelayedConnection::toUpstream);
        connect(&upstream, &QTcpSocket::disconnected, this, &RelayedConnection::upstreamClosed);
        connect(&upstream, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) {
            if (phase == Phase::Connecting)
                refuse(upstream.error());
            else if (upstream.error() != QAbstractSocket::RemoteHostClosedError)
                client->abort(); // a reset is passed on as one, not as an orderly end
            else if (upstream.state() == QAbstractSocket::UnconnectedState)
                upstreamClosed();
        });
    }

private:
    enum class Phase { Greeting, Authenticating, Request, Connecting, Relaying, Closing };

    void clientReadable()
    {
        if (phase == Phase::Relaying) {
            toUpstream();
            return;
        }
        if (phase == Phase::Connecting || phase == Phase::Closing)
            return;
        input += client->read(kMaxHandshakeBytes + 1 - input.size());
        if (input.size() > kMaxHandshakeBytes) {
            client->abort();
            return;
        }
        if (phase == Phase::Greeting)
            readGreeting();
        if (phase == Phase::Authenticating)
            readCredentials();
        if (phase == Phase::Request)
            readRequest();
    }

    void readGreeting()
    {
        if (input.size() < 2 || input.size() < 2 + uchar(input.at(1)))
            return;
        const QByteArray methods = input.mid(2, uchar(input.at(1)));
        const bool password = input.at(0) == 5 && methods.contains('\x02');
        input.remove(0, 2 + methods.size());
        answer(password, "\x05\x02", "\x05\xff", Phase::Authenticating);
    }

    void readCredentials()
    {
        if (input.size() < 2)
            return;
        const int userEnd = 2 + uchar(input.at(1));
        if (input.size() < userEnd + 1 || input.size() < userEnd + 1 + uchar(input.at(userEnd)))
            return;
        const QByteArray user = input.mid(2, userEnd - 2);
        const QByteArray password = input.mid(userEnd + 1, uchar(input.at(userEnd)));
        // Both compared whatever the first gives, so that the time taken tells nothing.
        const bool rightUser = sameSecret(user, admission.user);
        const bool rightPassword = sameSecret(password, admission.password);
        const bool admitted = input.at(0) == 1 && rightUser && rightPassword;
        input.remove(0, userEnd + 1 + password.size());
        answer(admitted, "\x01\x00", "\x01\x01", Phase::Request);
    }

    // Answers a greeting or the credentials, and goes on to the next phase or closes.
    void answer(bool passed, const char* yes, const char* no, Phase next)
    {
        client->write(passed ? yes : no, 2);
        if (passed)
            phase = next;
        else
            close();
    }

    void readRequest()
    {
        if (input.size() < 5)
            return;
        int addressEnd = 0;
        QString host;
        switch (input.at(3)) {
        case 1: // IPv4
            addressEnd = 4 + 4;
            if (input.size() >= addressEnd + 2)
                host = QHostAddress(qFromBigEndian<quint32>(input.constData() + 4)).toString();
            break;
        case 3: // host name
            addressEnd = 5 + uchar(input.at(4));
            if (input.size() >= addressEnd + 2)
                host = QString::fromLatin1(input.mid(5, uchar(input.at(4))));
            break;
        case 4: // IPv6
            addressEnd = 4 + 16;
            if (input.size() >= addressEnd + 2)
                host =
                    QHostAddress(reinterpret_cast<const quint8*>(input.constData() + 4)).toString();
            break;
        default:
            reply(8); // address type not supported
            close();
            return;
        }
        if (input.size() < addressEnd + 2)
            return;
        const quint16 port = qFromBigEndian<quint16>(input.constData() + addressEnd);
        const bool connectCommand = input.at(0) == 5 && input.at(1) == 1;
        input.clear();
        if (!connectCommand) {
            reply(7); // command not supported
            close();
            return;
        }
        if (port != admission.port || !sameHost(host, admission.host)) {
            reply(2); // connection not allowed by ruleset
            close();
            return;
        }
        phase = Phase::Connecting;
        deadline.stop();
        upstream.connectToHost(host, port);
    }

    // The reply code tells the client's socket which error to report, in its own words.
    void refuse(QAbstractSocket::SocketError error)
    {
        switch (error) {
        case QAbstractSocket::ConnectionRefusedError:
            reply(5);
            break;
        case QAbstractSocket::HostNotFoundError:
            reply(4);
            break;
        case QAbstractSocket::NetworkError:
            reply(3);
            break;
        default:
            reply(1);
        }
        close();
    }

    void reply(char code)
    {
        const char bytes[] = {5, code, 0, 1, 0, 0, 0, 0, 0, 0};
        client->write(bytes, sizeof bytes);
    }

    // Moves what the client sent, as far as the destination keeps up.
    void toUpstream()
    {
        if (phase != Phase::Relaying)
            return;
        while (client->bytesAvailable() > 0 && upstream.bytesToWrite() < kBufferSize)
            upstream.write(client->read(kBufferSize - upstream.bytesToWrite()));
    }

    // Moves what the destination sent, as far as the client keeps up.
    void toClient()
    {
        if (phase != Phase::Relaying && phase != Phase::Closing)
            return;
        while (upstream.bytesAvailable() > 0 && client->bytesToWrite() < kBufferSize)
            client->write(upstream.read(kBufferSize - client->bytesToWrite()));
        if (phase == Phase::Closing && upstream.bytesAvailable() == 0)
            client->disconnectFromHost();
    }

    // The destination's close reaches the client only after every byte it sent before.
    void upstreamClosed()
    {
        if (phase == Phase::Closing)
            return;
        phase = Phase::Closing;
        toClient();
    }

    void close()
    {
        phase = Phase::Closing;
        client->disconnectFromHost();
    }

    QTcpSocket* client;
    QTcpSocket upstream;
    QTimer deadline;
    const Admission admission;
    QByteArray input;
    Phase phase = Phase::Greeting;
};

QByteArray randomSecret()
{
    quint32 words[4];
    QRandomGenerator::system()->fillRange(words);
    return QByteArray(reinterpret_cast<const char*>(words), sizeof words).toHex();
}

} // namespace

SocksRelay::SocksRelay(const QString& host, quint16 port, QObject* parent)
    : QObject(parent), host(host), destinationPort(port), user(randomSecret()),
      password(randomSecret())
{
    server.setMaxPendingConnections(1);
    connect(&server, &QTcpServer::newConnection, this, &SocksRelay::accept);
}

bool SocksRelay::listen()
{
    if (!server.listen(QHostAddress::LocalHost))
        return false;
    listeningPort = server.serverPort();
    return true;
}

quint16 SocksRelay::port() const
{
    return listeningPort;
}

QNetworkProxy SocksRelay::proxy() const
{
    return QNetworkProxy(QNetworkProxy::Socks5Proxy, QStringLiteral("127.0.0.1"), port(),
                         QString::fromLatin1(user), QString::fromLatin1(password));
}

void SocksRelay::accept()
{
    // Whoever comes first, and no one after: closing drops the other pending connections.
    QTcpSocket* client = server.nextPendingConnection();
    server.close();
    if (client)
        new RelayedConnection(client, {user, password, host, destinationPort}, this);
}
