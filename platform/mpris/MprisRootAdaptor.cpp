// SPDX-License-Identifier: GPL-3.0-or-later
// Requests only queue their handlers: the reply goes out before they run.
#include "platform/mpris/MprisRootAdaptor.h"

#include "platform/mpris/MprisService.h"

namespace platform {

MprisRootAdaptor::MprisRootAdaptor(MprisService* service)
    : QDBusAbstractAdaptor(service),
      m_service(service)
{
}

void MprisRootAdaptor::Raise()
{
    m_service->Request(&MprisService::OnRaise);
}

void MprisRootAdaptor::Quit()
{
    m_service->Request(&MprisService::OnQuit);
}

} // namespace platform
