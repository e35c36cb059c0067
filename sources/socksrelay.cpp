#include "socksrelay.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QtEndian>

namespace {

// Bounds what waits in the relay when one side is faster than the other.
constexpr qint64 kBufferSize = 256 * 1024;

// One client connection: the SOCKS5 greeting and request (RFC 1928, no authentication,
// CONNECT only), then bytes both ways until either side closes.
class RelayedConnection : public QObject
{
public:
    RelayedConnection(QTcpSocket* socket, QObject* parent) : QObject(parent), client(socket)
    {
        socket->setParent(this);
        // The client reads without a bound; a small send buffer keeps what is in flight to it,
        // and so what waits in its reply, near the relay's own bound.
        socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, int(kBufferSize));
        upstream.setReadBufferSize(kBufferSize);
        connect(socket, &QTcpSocket::readyRead, this, &RelayedConnection::clientReadable);
        connect(socket, &QTcpSocket::bytesWritten, this, &RelayedConnection::forward);
        connect(socket, &QTcpSocket::disconnected, this, [this] {
            upstream.abort();
            deleteLater();
        });
        connect(&upstream, &QTcpSocket::connected, this, [this] {
            reply(0);
            phase = Phase::Relaying;
            clientReadable();
        });
        connect(&upstream, &QTcpSocket::readyRead, this, &RelayedConnection::forward);
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
    enum class Phase { Greeting, Request, Connecting, Relaying, Closing };

    void clientReadable()
    {
        if (phase == Phase::Relaying) {
            upstream.write(client->readAll());
            return;
        }
        if (phase == Phase::Connecting || phase == Phase::Closing)
            return;
        input += client->readAll();
        if (phase == Phase::Greeting) {
            if (input.size() < 2 || input.size() < 2 + uchar(input.at(1)))
                return;
            const QByteArray methods = input.mid(2, uchar(input.at(1)));
            const bool plain = input.at(0) == 5 && methods.contains('\0');
            input.remove(0, 2 + methods.size());
            client->write(QByteArray::fromRawData(plain ? "\x05\x00" : "\x05\xff", 2));
            if (!plain) {
                close();
                return;
            }
            phase = Phase::Request;
        }
        if (phase == Phase::Request)
            readRequest();
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
        input.remove(0, addressEnd + 2);
        if (!connectCommand) {
            reply(7); // command not supported
            close();
            return;
        }
        phase = Phase::Connecting;
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

    // Moves what the destination sent, as far as the client keeps up.
    void forward()
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
        forward();
    }

    void close()
    {
        phase = Phase::Closing;
        client->disconnectFromHost();
    }

    QTcpSocket* client;
    QTcpSocket upstream;
    QByteArray input;
    Phase phase = Phase::Greeting;
};

} // namespace

SocksRelay::SocksRelay(QObject* parent) : QObject(parent)
{
    connect(&server, &QTcpServer::newConnection, this, &SocksRelay::accept);
}

bool SocksRelay::listen()
{
    return server.listen(QHostAddress::LocalHost);
}

quint16 SocksRelay::port() const
{
    return server.serverPort();
}

void SocksRelay::accept()
{
    while (QTcpSocket* client = server.nextPendingConnection())
        new RelayedConnection(client, this);
}
