#pragma once

#include <QByteArray>
#include <QNetworkProxy>
#include <QObject>
#include <QTcpServer>

// A one-shot SOCKS5 server on 127.0.0.1 that carries one connection to one destination.
//
// Qt reads plain HTTP without a proxy through an unbuffered socket that notices the server's
// close only by chance: a chunked body cut before its last chunk is then taken as complete,
// asked for a second time or waited for without end. Through a proxy Qt reads with a buffered
// socket, which reports the cut; this relay is that proxy, in process. Each byte crosses the
// loopback twice, so the downloader uses it only for chunked bodies.
//
// Any local program can reach the port, so the relay admits one connection only, from a client
// that knows its random credentials, for a CONNECT to the one host and port it was made for,
// and stops listening as soon as that connection arrives. Deleting the relay ends it.
class SocksRelay : public QObject
{
    Q_OBJECT

public:
    // For a CONNECT to host (as in a URL, in ASCII-compatible encoding) and port.
    SocksRelay(const QString& host, quint16 port, QObject* parent = nullptr);

    bool listen();        // 127.0.0.1, a free port
    quint16 port() const; // where it listens, or listened

    // What reaches the relay: its address and its credentials.
    QNetworkProxy proxy() const;

private:
    void accept();

    QTcpServer server;
    quint16 listeningPort = 0;
    QString host;
    quint16 destinationPort;
    QByteArray user, password;
};
