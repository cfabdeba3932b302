// SPDX-License-Identifier: GPL-3.0-or-later
// One line per event on stderr, with a timestamp; the station's only log.
#pragma once

#include <string>

namespace station {

void LogLine(const std::string& message);

} // namespace station
