// SPDX-License-Identifier: GPL-3.0-or-later
// GUI thread only; see the header.
#include "platform/toolkit/FileIconEngine.h"

#include "platform/toolkit/TPicture.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>

#include <algorithm>

namespace platform {

void FileIconEngine::AddFile(const QString& path, QSize size)
{
    m_files->push_back({size, path, std::nullopt});
    std::stable_sort(m_files->begin(), m_files->end(), [](const File& a, const File& b) {
        return qint64(a.size.width()) * a.size.height() < qint64(b.size.width()) * b.size.height();
    });
}

FileIconEngine::File* FileIconEngine::Serving(QSize size) const
{
    if (m_files->empty())
        return nullptr;
    const auto large = std::find_if(m_files->begin(), m_files->end(), [&](const File& file) {
        return file.size.width() >= size.width() && file.size.height() >= size.height();
    });
    return large != m_files->end() ? &*large : &m_files->back();
}

QPixmap FileIconEngine::pixmap(const QSize& size, QIcon::Mode mode, QIcon::State)
{
    File* file = Serving(size);
    if (!file || size.isEmpty())
        return QPixmap();
    if (!file->picture)
        file->picture = TPicture::ReadFile(file->path);
    QPixmap shown = *file->picture;
    if (!shown.isNull() && (shown.width() > size.width() || shown.height() > size.height()))
        shown = shown.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    if (mode != QIcon::Normal && !shown.isNull()) {
        QStyleOption option;
        option.palette = QGuiApplication::palette();
        shown = QApplication::style()->generatedIconPixmap(mode, shown, &option);
    }
    return shown;
}

void FileIconEngine::paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state)
{
    const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    QPixmap shown = pixmap(rect.size() * ratio, mode, state);
    shown.setDevicePixelRatio(ratio);
    const QSizeF logical = shown.deviceIndependentSize();
    const QPointF at(rect.x() + (rect.width() - logical.width()) / 2, rect.y() + (rect.height() - logical.height()) / 2);
    painter->drawPixmap(at, shown);
}

QSize FileIconEngine::actualSize(const QSize& size, QIcon::Mode, QIcon::State)
{
    const File* file = Serving(size);
    if (!file || size.isEmpty())
        return QSize();
    if (file->size.width() <= size.width() && file->size.height() <= size.height())
        return file->size;
    return file->size.scaled(size, Qt::KeepAspectRatio);
}

QList<QSize> FileIconEngine::availableSizes(QIcon::Mode, QIcon::State)
{
    QList<QSize> sizes;
    for (const File& file : *m_files)
        sizes.push_back(file.size);
    return sizes;
}

} // namespace platform
