// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/AudioClasses.h"

#include "audio/ACMConvertor.h"
#include "audio/ACMOut.h"
#include "audio/AMixer.h"
#include "platform/toolkit/ComponentRegistry.h"

void RegisterAudioClasses()
{
    platform::RegisterClass(TACMOut::staticMetaObject);
    platform::RegisterClass(TACMConvertor::staticMetaObject);
    platform::RegisterClass(TAudioMixer::staticMetaObject);
}
