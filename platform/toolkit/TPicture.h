// SPDX-License-Identifier: GPL-3.0-or-later
// TPicture: a bitmap as the layout resource stores it, plus an optional
// drawing of the same picture at twice its size for screens with a device
// pixel ratio of 1.5 or more. Both stand for the same logical size, so a
// window's layout does not change with the screen it is on.
//
// A value type: copies share their pixels (QPixmap is implicitly shared), so
// copying a face onto a button is cheap and carries both sizes.
#pragma once

#include <QImage>
#include <QMetaType>
#include <QPixmap>
#include <QString>

namespace platform {

class TPicture {
public:
    TPicture() = default;
    // A picture of one size only (implicit: any pixmap is a picture).
    TPicture(const QPixmap& bitmap) : m_bitmap(bitmap) {}

    // Loads an image file; a file "NAME@2x.png" beside "NAME.ext" becomes its
    // double-size drawing. Returns an empty text on success, else the fault.
    QString Load(const QString& path);
    // Reads a picture file, or gives a null pixmap. Qt's own reader for the
    // file's suffix comes first (BMP and PNG, as a skin has them): told to
    // find the reader itself, Qt would load every image plugin installed to
    // ask each whether it reads the format. A file whose contents are not
    // what its suffix says is still read, the long way.
    static QPixmap ReadFile(const QString& path);
    // Sets the double-size drawing; it must be exactly twice the bitmap's size.
    bool SetDoubleSize(const QPixmap& doubleSize);

    const QPixmap& Bitmap() const { return m_bitmap; }
    const QPixmap& DoubleSize() const { return m_double; }
    bool HasDoubleSize() const { return !m_double.isNull(); }

    // What to draw on a device of this pixel ratio: the double-size drawing
    // from 1.5 on when there is one (its own ratio is 2), else the bitmap.
    const QPixmap& ForRatio(qreal devicePixelRatio) const;

    // The logical size and content, as those of the bitmap.
    bool isNull() const { return m_bitmap.isNull(); }
    QSize size() const { return m_bitmap.size(); }
    QImage toImage() const { return m_bitmap.toImage(); }

    // The file name that Load looks for as the double-size drawing of path.
    static QString DoubleSizePath(const QString& path);

private:
    QPixmap m_bitmap;
    QPixmap m_double;
};

} // namespace platform

Q_DECLARE_METATYPE(platform::TPicture)
