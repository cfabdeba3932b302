#include "audio/AudioClasses.h"

#include "audio/ACMConvertor.h"
#include "audio/ACMOut.h"
#include "platform/toolkit/ComponentRegistry.h"

void RegisterAudioClasses()
{
    platform::RegisterClass(TACMOut::staticMetaObject);
    platform::RegisterClass(TACMConvertor::staticMetaObject);
}
