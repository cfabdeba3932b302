// SPDX-License-Identifier: GPL-3.0-or-later
// The "host:port" texts of the station list. Stateless.
#pragma once

#include <cstdint>
#include <string>

// Splits "host:port" at its last colon; false (nothing assigned) without
// one. A port text that is no integer raises EConvertError.
bool SplitHostPort(const std::string& address, std::string& host, std::int32_t& port);
