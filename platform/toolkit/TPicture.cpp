// SPDX-License-Identifier: GPL-3.0-or-later
// Value type; no state beyond the two pixmaps. GUI thread (pixmaps are GUI objects).
#include "platform/toolkit/TPicture.h"

#include <QDir>
#include <QFileInfo>
#include <QImageReader>

namespace platform {

QString TPicture::DoubleSizePath(const QString& path)
{
    const QFileInfo file(path);
    return file.dir().filePath(file.completeBaseName() + QStringLiteral("@2x.png"));
}

QPixmap TPicture::ReadFile(const QString& path)
{
    QImageReader reader(path, QFileInfo(path).suffix().toLatin1());
    reader.setAutoDetectImageFormat(false);
    QPixmap picture = QPixmap::fromImageReader(&reader);
    if (picture.isNull())
        picture.load(path);
    return picture;
}

QString TPicture::Load(const QString& path)
{
    const QPixmap bitmap = ReadFile(path);
    if (bitmap.isNull())
        return QStringLiteral("cannot load picture %1").arg(path);
    m_bitmap = bitmap;
    m_double = QPixmap();
    const QString doublePath = DoubleSizePath(path);
    if (!QFileInfo::exists(doublePath))
        return QString();
    const QPixmap doubleSize = ReadFile(doublePath);
    if (doubleSize.isNull())
        return QStringLiteral("cannot load picture %1").arg(doublePath);
    if (!SetDoubleSize(doubleSize))
        return QStringLiteral("%1 is %2 × %3, not twice the size of %4")
            .arg(doublePath)
            .arg(doubleSize.width())
            .arg(doubleSize.height())
            .arg(path);
    return QString();
}

bool TPicture::SetDoubleSize(const QPixmap& doubleSize)
{
    if (doubleSize.size() != m_bitmap.size() * 2)
        return false;
    m_double = doubleSize;
    m_double.setDevicePixelRatio(2.0);
    return true;
}

const QPixmap& TPicture::ForRatio(qreal devicePixelRatio) const
{
    return devicePixelRatio >= 1.5 && HasDoubleSize() ? m_double : m_bitmap;
}

} // namespace platform
