// SPDX-License-Identifier: GPL-3.0-or-later
// The wave layer's logging category.
#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcWave)
