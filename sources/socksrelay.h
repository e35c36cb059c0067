#pragma once

#include <QObject>
#include <QTcpServer>

// A SOCKS5 server on 127.0.0.1 that carries connections to their destination unchanged.
//
// Qt reads plain HTTP without a proxy through an unbuffered socket that notices the server's
// close only by chance: a chunked body cut before its last chunk is then taken as complete,
// asked for a second time or waited for without end. Through a proxy Qt reads with a buffered
// socket, which reports the cut; this relay is that proxy, in process. Each byte crosses the
// loopback twice, so the downloader uses it only for chunked bodies.
class SocksRelay : public QObject
{
    Q_OBJECT

public:
    explicit SocksRelay(QObject* parent = nullptr);

    bool listen(); // 127.0.0.1, a free port
    quint16 port() const;

private:
    void accept();

    QTcpServer server;
};
