// SPDX-License-Identifier: GPL-3.0-or-later
// The org.mpris.MediaPlayer2 interface of the player object: who the player
// is and the window requests (Raise, Quit). Its values never change.
// GUI thread only; a child of its MprisService.
#pragma once

#include <QDBusAbstractAdaptor>
#include <QStringList>

namespace platform {

class MprisService;

class MprisRootAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ CanQuit)
    Q_PROPERTY(bool CanRaise READ CanRaise)
    Q_PROPERTY(bool HasTrackList READ HasTrackList)
    Q_PROPERTY(QString Identity READ Identity)
    Q_PROPERTY(QString DesktopEntry READ DesktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ SupportedUriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ SupportedMimeTypes)

public:
    explicit MprisRootAdaptor(MprisService* service);

    bool CanQuit() const { return true; }
    bool CanRaise() const { return true; }
    bool HasTrackList() const { return false; }
    QString Identity() const { return QStringLiteral("Sendolin"); }
    // The desktop entry's file name without .desktop: the desktop takes the
    // player's name and icon from it.
    QString DesktopEntry() const { return QStringLiteral("sendolin-client"); }
    // It plays stations of its list only, never a URI or file handed to it.
    QStringList SupportedUriSchemes() const { return {}; }
    QStringList SupportedMimeTypes() const { return {}; }

public Q_SLOTS:
    void Raise();
    void Quit();

private:
    MprisService* m_service;
};

} // namespace platform
