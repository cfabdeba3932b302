// SPDX-License-Identifier: GPL-3.0-or-later
// The split of station addresses; the port goes through the runtime's
// integer conversion, so "$1F" and " 80" are ports as the user may type them.
#include "app/HostPort.h"

#include "platform/toolkit/SysUtils.h"

bool SplitHostPort(const std::string& address, std::string& host, std::int32_t& port)
{
    const auto colon = address.rfind(':');
    if (colon == std::string::npos)
        return false;
    host = address.substr(0, colon);
    port = platform::StrToInt(address.substr(colon + 1));
    return true;
}
