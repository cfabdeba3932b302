// SPDX-License-Identifier: GPL-3.0-or-later
// The org.mpris.MediaPlayer2.Player interface of the player object. A live
// stream plays or is stopped: it cannot pause, seek or skip, so Pause stops,
// and Next, Previous, Seek and SetPosition are not offered at all. Rate and
// volume are fixed. GUI thread only; a child of its MprisService, which
// announces the changes of PlaybackStatus and Metadata.
#pragma once

#include <QDBusAbstractAdaptor>
#include <QVariantMap>

namespace platform {

class MprisService;

class MprisPlayerAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ PlaybackStatus)
    Q_PROPERTY(QVariantMap Metadata READ Metadata)
    Q_PROPERTY(double Rate READ Rate)
    Q_PROPERTY(double MinimumRate READ Rate)
    Q_PROPERTY(double MaximumRate READ Rate)
    Q_PROPERTY(double Volume READ Volume)
    Q_PROPERTY(qlonglong Position READ Position)
    Q_PROPERTY(bool CanGoNext READ No)
    Q_PROPERTY(bool CanGoPrevious READ No)
    Q_PROPERTY(bool CanPause READ No)
    Q_PROPERTY(bool CanSeek READ No)
    Q_PROPERTY(bool CanPlay READ Yes)
    Q_PROPERTY(bool CanControl READ Yes)

public:
    explicit MprisPlayerAdaptor(MprisService* service);

    QString PlaybackStatus() const;
    QVariantMap Metadata() const;
    double Rate() const { return 1.0; }
    double Volume() const { return 1.0; }
    qlonglong Position() const { return 0; }
    bool No() const { return false; }
    bool Yes() const { return true; }

public Q_SLOTS:
    void Play();
    void Pause();
    void PlayPause();
    void Stop();

private:
    MprisService* m_service;
};

} // namespace platform
