// SPDX-License-Identifier: GPL-3.0-or-later
// The layout-resource reader: builds components from the text notation
//
//   object Name: TClass
//     Property = value
//     Font.Height = 11
//     object Child: TOtherClass
//       …
//     end
//   end
//
// Values: integers (12, -3, $1F), strings ('it''s' with #nnn for the Unicode
// character nnn, parts written side by side), True/False, identifiers of an
// enumeration, sets [fsBold, fsItalic], colours (clBlack… or $RRGGBB), binary
// data {0a1b…} (may span lines), string lists ('a' 'b') and pictures: a string
// naming an image file relative to the resource, or the image's bytes in {hex}.
// A QByteArray property receives its {hex} bytes exactly as written.
//
// Classes come from the component registry; properties are set by name through
// the meta-object system. Every control also has Left, Top, Width, Height,
// Visible, Enabled, Hint, Color and the Font.Name/Height/Style/Color group.
// Any fault — malformed text, unknown class, unknown property, a value of the
// wrong kind — raises EFormError naming the file, the line and the property.
//
// GUI thread only.
#pragma once

#include "platform/toolkit/Exception.h"

#include <QByteArray>
#include <QObject>
#include <QString>

namespace platform {

class EFormError : public Exception {
public:
    using Exception::Exception;
};

class FormReader {
public:
    // Reads the resource at path into root, whose class must be the one of the
    // resource's top object. Children are created under root.
    static void ReadFile(QObject& root, const QString& path);

    // Reads text (named fileName in errors; picture files are looked up in
    // baseDir). With a root, fills it as ReadFile does and returns it; without,
    // creates the top object through the registry and returns it (owned by
    // the caller).
    static QObject* Read(const QByteArray& text, const QString& fileName, const QString& baseDir,
                         QObject* root = nullptr);
};

} // namespace platform
