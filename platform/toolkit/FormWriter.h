// SPDX-License-Identifier: GPL-3.0-or-later
// The layout-resource writer: the reverse of FormReader. It writes a component,
// its stored properties and its named, registered child components in the
// reader's notation, so that reading the text back gives the same values.
// Binary (QByteArray) properties are written as the exact bytes in {hex};
// pictures as their PNG bytes in {hex}. GUI thread only.
#pragma once

#include <QByteArray>
#include <QObject>

namespace platform {

class FormWriter {
public:
    static QByteArray Write(const QObject& component);
};

} // namespace platform
