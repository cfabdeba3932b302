// SPDX-License-Identifier: GPL-3.0-or-later
// Requests only queue their handlers: the reply goes out before they run.
#include "platform/mpris/MprisPlayerAdaptor.h"

#include "platform/mpris/MprisService.h"

namespace platform {

MprisPlayerAdaptor::MprisPlayerAdaptor(MprisService* service)
    : QDBusAbstractAdaptor(service),
      m_service(service)
{
}

QString MprisPlayerAdaptor::PlaybackStatus() const
{
    return m_service->PlaybackStatus();
}

QVariantMap MprisPlayerAdaptor::Metadata() const
{
    return m_service->Metadata();
}

void MprisPlayerAdaptor::Play()
{
    m_service->Request(&MprisService::OnPlay);
}

void MprisPlayerAdaptor::Pause()
{
    m_service->Request(&MprisService::OnStop);
}

void MprisPlayerAdaptor::PlayPause()
{
    m_service->RequestToggle();
}

void MprisPlayerAdaptor::Stop()
{
    m_service->Request(&MprisService::OnStop);
}

} // namespace platform
