// Value type; no state beyond the two pixmaps. GUI thread (pixmaps are GUI objects).
#include "platform/toolkit/TPicture.h"

#include <QDir>
#include <QFileInfo>

namespace platform {

QString TPicture::DoubleSizePath(const QString& path)
{
    const QFileInfo file(path);
    return file.dir().filePath(file.completeBaseName() + QStringLiteral("@2x.png"));
}

QString TPicture::Load(const QString& path)
{
    QPixmap bitmap;
    if (!bitmap.load(path))
        return QStringLiteral("cannot load picture %1").arg(path);
    m_bitmap = bitmap;
    m_double = QPixmap();
    const QString doublePath = DoubleSizePath(path);
    if (!QFileInfo::exists(doublePath))
        return QString();
    QPixmap doubleSize;
    if (!doubleSize.load(doublePath))
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
