// SPDX-License-Identifier: GPL-3.0-or-later
// Colour names of the layout resource (clBlack, clLime, …) and the $RRGGBB
// notation for any other colour. Shared by FormReader and FormWriter.
#pragma once

#include <QColor>
#include <QString>
#include <optional>

namespace platform {

std::optional<QColor> ColorFromName(const QString& name);
QColor ColorFromValue(qint64 rgb);
// The colour's name when it has one, else $RRGGBB.
QString ColorToText(const QColor& color);

} // namespace platform
