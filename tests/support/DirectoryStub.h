// A station directory on 127.0.0.1 for tests: it answers every request with
// an HTTP/1.0 response whose body is `body` (one "address,name" line per
// station; empty by default) and closes the connection, as the directory
// service does. Runs on the test's event loop.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QTcpServer>
#include <QHash>
#include <QTcpSocket>

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
            QObject::connect(peer, &QTcpSocket::disconnected, peer, &QObject::deleteLater);
            QObject::connect(peer, &QTcpSocket::readyRead, peer, [this, peer] {
                m_pending[peer] += peer->readAll();
                if (!m_pending[peer].contains("\r\n\r\n"))
                    return;
                requests << m_pending.take(peer);
                peer->write("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n" + body);
                peer->disconnectFromHost();
            });
        }
    }

    QTcpServer m_server;
    QHash<QTcpSocket*, QByteArray> m_pending;
};

} // namespace testsupport
