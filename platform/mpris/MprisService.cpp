// SPDX-License-Identifier: GPL-3.0-or-later
// GUI thread only. The adaptors are children of the service and are
// exported with it; properties are read through them, changes announced here.
#include "platform/mpris/MprisService.h"

#include "platform/mpris/MprisPlayerAdaptor.h"
#include "platform/mpris/MprisRootAdaptor.h"
#include "platform/toolkit/Application.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QLoggingCategory>
#include <QStringList>
#include <atomic>

Q_LOGGING_CATEGORY(lcMpris, "sendolin.mpris", QtInfoMsg)

namespace platform {

namespace {

const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");

QString NewConnectionName()
{
    static std::atomic<int> counter{0};
    return QStringLiteral("sendolin-mpris-%1").arg(++counter);
}

} // namespace

MprisService::MprisService(QObject* parent)
    : QObject(parent),
      m_connectionName(NewConnectionName())
{
    new MprisRootAdaptor(this);
    new MprisPlayerAdaptor(this);
    m_bus = std::make_unique<QDBusConnection>(
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, m_connectionName));
    if (!m_bus->isConnected()) {
        qCInfo(lcMpris).noquote() << "no session bus, so no desktop media controls:" << m_bus->lastError().message();
        return;
    }
    Register();
}

MprisService::~MprisService()
{
    // Closing the connection gives the name back; the last reference to it
    // must be gone first, or it stays open.
    m_bus.reset();
    QDBusConnection::disconnectFromBus(m_connectionName);
}

QString MprisService::ServiceName()
{
    return QStringLiteral("org.mpris.MediaPlayer2.sendolin");
}

QString MprisService::ObjectPath()
{
    return QStringLiteral("/org/mpris/MediaPlayer2");
}

bool MprisService::Connected() const
{
    return m_bus && m_bus->isConnected();
}

void MprisService::Register()
{
    if (!m_bus->registerObject(ObjectPath(), this, QDBusConnection::ExportAdaptors)) {
        qCWarning(lcMpris).noquote() << "cannot export the player object:" << m_bus->lastError().message();
        return;
    }
    // One instance runs at a time, and the name of one that died went with
    // its connection; a name held all the same belongs to some other program.
    // Queued, it comes to this one as soon as that program lets it go.
    const auto reply = m_bus->interface()->registerService(ServiceName(), QDBusConnectionInterface::QueueService,
                                                           QDBusConnectionInterface::DontAllowReplacement);
    m_ownsName = reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered;
    if (!reply.isValid())
        qCWarning(lcMpris).noquote() << "cannot take" << ServiceName() << ":" << reply.error().message();
    else if (!m_ownsName)
        qCWarning(lcMpris).noquote() << ServiceName()
                                     << "is taken by another program; the media controls wait for it to end";
    connect(m_bus->interface(), &QDBusConnectionInterface::serviceRegistered, this, [this](const QString& name) {
        if (name == ServiceName())
            m_ownsName = true;
    });
}

void MprisService::SetPlaying(bool playing)
{
    if (playing == m_playing)
        return;
    m_playing = playing;
    AnnounceChange(kPlayerInterface, QStringLiteral("PlaybackStatus"), PlaybackStatus());
}

void MprisService::SetNowPlaying(const QString& title, const QString& station)
{
    if (title == m_title && station == m_station)
        return;
    m_title = title;
    m_station = station;
    ++m_track;
    AnnounceChange(kPlayerInterface, QStringLiteral("Metadata"), Metadata());
}

void MprisService::SetArtUrl(const QUrl& url)
{
    if (url == m_artUrl)
        return;
    m_artUrl = url;
    AnnounceChange(kPlayerInterface, QStringLiteral("Metadata"), Metadata());
}

QString MprisService::PlaybackStatus() const
{
    return m_playing ? QStringLiteral("Playing") : QStringLiteral("Stopped");
}

QVariantMap MprisService::Metadata() const
{
    // The track id is what a desktop tells tracks apart by: a new one for
    // every text, none (the reserved path) before anything was heard.
    QVariantMap metadata;
    metadata.insert(QStringLiteral("mpris:trackid"),
                    QVariant::fromValue(QDBusObjectPath(
                        m_track == 0 ? QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack")
                                     : QStringLiteral("/org/sendolin/client/track/%1").arg(m_track))));
    if (!m_title.isEmpty())
        metadata.insert(QStringLiteral("xesam:title"), m_title);
    if (!m_station.isEmpty())
        metadata.insert(QStringLiteral("xesam:artist"), QStringList{m_station});
    if (!m_artUrl.isEmpty())
        metadata.insert(QStringLiteral("mpris:artUrl"), m_artUrl.toString());
    return metadata;
}

void MprisService::AnnounceChange(const QString& interface, const QString& property, const QVariant& value)
{
    if (!Connected())
        return;
    QDBusMessage signal = QDBusMessage::createSignal(ObjectPath(), QStringLiteral("org.freedesktop.DBus.Properties"),
                                                     QStringLiteral("PropertiesChanged"));
    signal << interface << QVariantMap{{property, value}} << QStringList();
    m_bus->send(signal);
}

void MprisService::Request(std::function<void()> MprisService::*handler)
{
    QMetaObject::invokeMethod(
        this,
        [this, handler] {
            // A copy: the handler may end with its owner reassigning it.
            const std::function<void()> run = this->*handler;
            if (run)
                Application::Instance().Dispatch(run);
        },
        Qt::QueuedConnection);
}

void MprisService::RequestToggle()
{
    QMetaObject::invokeMethod(
        this,
        [this] {
            const std::function<void()> run = m_playing ? OnStop : OnPlay;
            if (run)
                Application::Instance().Dispatch(run);
        },
        Qt::QueuedConnection);
}

} // namespace platform
