// SPDX-License-Identifier: GPL-3.0-or-later
#include "IcecastServer.h"

#include "tests/support/LoopbackServer.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTcpSocket>
#include <QThread>
#include <QUrl>

#include <unistd.h>

namespace testsupport {

namespace {

const QString SourcePassword = "hackme-source";
const QString AdminPassword = "hackme-admin";

QString Config(const QString& dir, quint16 port, const QString& relay)
{
    // As root, icecast2 must be told whom to run as; anyone else cannot change owner.
    const QString owner = ::geteuid() == 0
        ? "<changeowner><user>nobody</user><group>nogroup</group></changeowner>" : "";
    return QString(R"(<icecast>
  <limits><clients>2000</clients><sources>8</sources><burst-on-connect>0</burst-on-connect>
          <burst-size>0</burst-size><source-timeout>10</source-timeout></limits>
  <authentication><source-password>%1</source-password><admin-user>admin</admin-user>
                  <admin-password>%2</admin-password></authentication>
  <hostname>127.0.0.1</hostname>
  <listen-socket><port>%3</port><bind-address>127.0.0.1</bind-address></listen-socket>
  <paths><basedir>%4</basedir><logdir>%4</logdir><pidfile>%4/icecast.pid</pidfile>
         <webroot>/usr/share/icecast2/web</webroot><adminroot>/usr/share/icecast2/admin</adminroot></paths>
  <logging><accesslog>access.log</accesslog><errorlog>error.log</errorlog><loglevel>3</loglevel></logging>
  <security><chroot>0</chroot>%5</security>
  %6
</icecast>
)").arg(SourcePassword, AdminPassword).arg(port).arg(dir, owner, relay);
}

} // namespace

IcecastServer::IcecastServer()
{
    // icecast2 may run as nobody and must still write its logs here.
    QFile::setPermissions(dir_.path(), QFileDevice::Permissions(0x7777));
    icecast_.setProcessChannelMode(QProcess::MergedChannels);
    icecast_.setStandardOutputFile(dir_.filePath("stdout.log"), QIODevice::Append);
}

IcecastServer::~IcecastServer()
{
    Stop();
}

void IcecastServer::RelayOf(quint16 masterPort, const QString& mount)
{
    // icecast2 retries a relay whose upstream refused it only at its master
    // update interval (120 s unless set); a few seconds keep tests short.
    relay_ = QString("<master-update-interval>5</master-update-interval><relay><server>127.0.0.1</server><port>%1</port><mount>/%2</mount>"
                     "<local-mount>/%2</local-mount><on-demand>0</on-demand>"
                     "<relay-shoutcast-metadata>1</relay-shoutcast-metadata></relay>")
                 .arg(masterPort)
                 .arg(mount);
}

void IcecastServer::Stop()
{
    for (auto& feeder : feeders_) {
        feeder->terminate();
        if (!feeder->waitForFinished(3000))
            feeder->kill();
        feeder->waitForFinished(1000);
    }
    if (icecast_.state() != QProcess::NotRunning) {
        icecast_.terminate();
        if (!icecast_.waitForFinished(5000))
            icecast_.kill();
        icecast_.waitForFinished(1000);
    }
    feeders_.clear();
}

bool IcecastServer::Start(int timeoutMs)
{
    if (port_ == 0)
        port_ = LoopbackServer::ClosedPort();
    const QString config = dir_.filePath("icecast.xml");
    QFile::remove(config); // read-only from the last start
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(Config(dir_.path(), port_, relay_).toUtf8());
    file.close();
    QFile::setPermissions(config, QFileDevice::Permissions(0x6444));
    icecast_.start("icecast2", {"-c", config});
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired() && icecast_.state() != QProcess::NotRunning) {
        if (StatusOf("/", false).startsWith("HTTP/"))
            return true;
        QThread::msleep(50);
    }
    return false;
}

QString IcecastServer::ListenUrl(const QString& mount) const
{
    return QString("http://127.0.0.1:%1/%2").arg(port_).arg(mount);
}

bool IcecastServer::Feed(const QString& mount, const QString& file, const QStringList& codecArguments, int timeoutMs)
{
    auto feeder = std::make_unique<QProcess>();
    feeder->setProcessChannelMode(QProcess::MergedChannels);
    feeder->setStandardOutputFile(dir_.filePath("feed-" + mount + ".log"));
    QStringList args{"-hide_banner", "-loglevel", "error", "-re", "-stream_loop", "-1", "-i", file};
    args << codecArguments << "-id3v2_version" << "0" << "-write_xing" << "0"
         << "-content_type" << "audio/mpeg" << "-f" << "mp3"
         << QString("icecast://source:%1@127.0.0.1:%2/%3").arg(SourcePassword).arg(port_).arg(mount);
    feeder->start("ffmpeg", args);
    QProcess* started = feeder.get();
    feeders_.push_back(std::move(feeder));
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired() && started->state() != QProcess::NotRunning) {
        if (StatusOf("/" + mount, false).contains("200"))
            return true;
        QThread::msleep(50);
    }
    return false;
}

bool IcecastServer::WaitForMount(const QString& mount, int timeoutMs) const
{
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        if (StatusOf("/" + mount, false).contains("200"))
            return true;
        if (deadline.hasExpired())
            return false;
        QThread::msleep(50);
    }
}

bool IcecastServer::SetTitle(const QString& mount, const QString& title)
{
    const QString query = "/admin/metadata?mount=/" + mount + "&mode=updinfo&charset=UTF-8&song="
                        + QString::fromLatin1(QUrl::toPercentEncoding(title));
    return StatusOf(query, true).contains("200");
}

QString IcecastServer::Log() const
{
    QString text;
    for (const QString name : {"stdout.log", "error.log"}) {
        QFile f(dir_.filePath(name));
        if (f.open(QIODevice::ReadOnly))
            text += name + ":\n" + QString::fromUtf8(f.readAll());
    }
    return text;
}

QString IcecastServer::StatusOf(const QString& pathAndQuery, bool asAdmin) const
{
    QTcpSocket socket;
    socket.connectToHost("127.0.0.1", port_);
    if (!socket.waitForConnected(1000))
        return {};
    QByteArray request = "GET " + pathAndQuery.toUtf8() + " HTTP/1.0\r\n";
    if (asAdmin)
        request += "Authorization: Basic " + QByteArray("admin:" + AdminPassword.toUtf8()).toBase64() + "\r\n";
    socket.write(request + "\r\n");
    socket.waitForBytesWritten(1000);
    QByteArray answer;
    while (!answer.contains("\r\n") && socket.waitForReadyRead(2000))
        answer += socket.readAll();
    return QString::fromLatin1(answer.left(answer.indexOf("\r\n")));
}

} // namespace testsupport
