// SPDX-License-Identifier: GPL-3.0-or-later
#include "Log.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace station {

void LogLine(const std::string& message)
{
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    std::fprintf(stderr, "%s %s\n", stamp, message.c_str());
}

} // namespace station
