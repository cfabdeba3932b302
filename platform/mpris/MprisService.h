// SPDX-License-Identifier: GPL-3.0-or-later
// MprisService: the program as the MPRIS 2 media player
// org.mpris.MediaPlayer2.sendolin on the session bus, the way desktops,
// media keys and playerctl reach a player.
//
// The service owns a bus connection of its own: its name lives exactly as
// long as that connection, so it goes when the object goes, and a process
// that dies in any way leaves no name behind (the bus drops it with the
// socket). Without a session bus the object does nothing but keep its state.
//
// GUI thread only. The program tells it what plays (SetPlaying,
// SetNowPlaying); every real change is announced once with PropertiesChanged.
// Requests from the bus are answered at once and their handlers run later
// from the message loop, through the application's dispatch, so a handler
// that opens a modal box never holds a caller's reply back.
#pragma once

#include <QObject>
#include <QString>
#include <QUrl>
#include <QVariantMap>
#include <functional>
#include <memory>

class QDBusConnection;

namespace platform {

class MprisService : public QObject {
    Q_OBJECT

public:
    explicit MprisService(QObject* parent = nullptr);
    ~MprisService() override;

    static QString ServiceName();
    static QString ObjectPath();

    // Connected to a session bus, and owning the player's name on it.
    bool Connected() const;
    bool OwnsName() const { return m_ownsName; }

    void SetPlaying(bool playing);
    bool Playing() const { return m_playing; }
    // The current text and the station it comes from; empty is unknown.
    void SetNowPlaying(const QString& title, const QString& station);
    // The picture shown beside what plays (a file:// URL), empty for none.
    void SetArtUrl(const QUrl& url);

    // What the adaptors publish.
    QString PlaybackStatus() const;
    QVariantMap Metadata() const;

    // Requests from the bus, run from the message loop when assigned.
    std::function<void()> OnRaise;
    std::function<void()> OnQuit;
    std::function<void()> OnPlay;
    std::function<void()> OnStop;

    // Called by the adaptors: queue the handler, then return to the caller.
    void Request(std::function<void()> MprisService::*handler);
    // Play when stopped, Stop when playing, decided when the request runs.
    void RequestToggle();

private:
    void Register();
    void AnnounceChange(const QString& interface, const QString& property, const QVariant& value);

    std::unique_ptr<QDBusConnection> m_bus;
    QString m_connectionName;
    bool m_ownsName = false;
    bool m_playing = false;
    QString m_title;
    QString m_station;
    QUrl m_artUrl;
    // Numbers the tracks: each new text or station is another one.
    quint64 m_track = 0;
};

} // namespace platform
