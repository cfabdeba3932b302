// SPDX-License-Identifier: GPL-3.0-or-later
// A station directory on 127.0.0.1 for tests: it answers every request with
// an HTTP/1.0 response whose body is `body` (one "address,name" line per
// station; empty by default) and closes its side of the connection, as the
// directory service does. It goes on reading until the client closes, so bytes
// the client sends late never make the kernel cut the answer off with a reset.
// Runs on the test's event loop.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QTcpServer>
#include <QHash>
#include <QTcpSocket>
#include <sys/socket.h>

namespace testsupport {

class DirectoryStub {
public:
    DirectoryStub()
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] { Accept(); });
    }

    quint16 Port() const { return m_server.serverPort(); }
    // A base URL for Server.ini, ending with a slash.
    QString BaseUrl() const { return QStringLiteral("http://127.0.0.1:%1/").arg(Port()); }

    QByteArray body;
    QList<QByteArray> requests; // each complete request head as received

private:
    void Accept()
    {
        while (QTcpSocket* peer = m_server.nextPendingConnection()) {
            QObject::connect(peer, &QTcpSocket::disconnected, peer, [this, peer] {
                m_pending.remove(peer);
                peer->deleteLater();
            });
            QObject::connect(peer, &QTcpSocket::readyRead, peer, [this, peer] {
                const QByteArray data = peer->readAll();
                if (peer->property("answered").toBool())
                    return;
                m_pending[peer] += data;
                if (!m_pending[peer].contains("\r\n\r\n"))
                    return;
                peer->setProperty("answered", true);
                requests << m_pending.take(peer);
                peer->write("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n" + body);
                peer->flush();
                CloseSendingWhenWritten(peer);
            });
            QObject::connect(peer, &QTcpSocket::bytesWritten, peer, [peer] { CloseSendingWhenWritten(peer); });
        }
    }

    static void CloseSendingWhenWritten(QTcpSocket* peer)
    {
        if (peer->property("answered").toBool() && peer->bytesToWrite() == 0)
            ::shutdown(int(peer->socketDescriptor()), SHUT_WR);
    }

    // Declared first, destroyed last: the server's connections may still
    // report their end while the server goes away.
    QHash<QTcpSocket*, QByteArray> m_pending;
    QTcpServer m_server;
};

} // namespace testsupport
