// SPDX-License-Identifier: GPL-3.0-or-later
// FileIconEngine: an icon drawn from picture files, one per size, each read
// the first time a size it serves is asked for. QIcon::addFile would look
// into every file at once and, letting Qt find the format itself, load every
// image plugin installed (with the libraries each one links) only to learn
// that a PNG is a PNG.
//
// GUI thread only, as every pixmap. Copies (QIcon detaching) share the
// pictures already read.
#pragma once

#include <QIconEngine>
#include <QPixmap>
#include <QSize>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

namespace platform {

class FileIconEngine : public QIconEngine {
public:
    // A picture file of this size; read with TPicture::ReadFile when needed.
    // Files are added before the engine goes into a QIcon: copies share them.
    void AddFile(const QString& path, QSize size);

    // The picture of the smallest file at least this large (else the
    // largest), scaled down to fit; other modes as the style shows them.
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override;
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override;
    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override;
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override;
    bool isNull() override { return m_files->empty(); }
    QIconEngine* clone() const override { return new FileIconEngine(*this); }
    QString key() const override { return QStringLiteral("FileIconEngine"); }

private:
    struct File {
        QSize size;
        QString path;
        std::optional<QPixmap> picture; // read once, when first asked for; null if unreadable
    };
    File* Serving(QSize size) const;

    std::shared_ptr<std::vector<File>> m_files = std::make_shared<std::vector<File>>();
};

} // namespace platform
