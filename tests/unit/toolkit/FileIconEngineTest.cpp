// SPDX-License-Identifier: GPL-3.0-or-later
// An icon from picture files, one per size: which file serves which size,
// that files are read only when asked for, and what a tray or a window
// receives through QIcon.
#include "platform/toolkit/FileIconEngine.h"

#include <QDir>
#include <QIcon>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class FileIcon : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        for (const auto& [size, colour] : {std::pair(16, Qt::red), std::pair(32, Qt::green), std::pair(64, Qt::blue)}) {
            QImage picture(size, size, QImage::Format_ARGB32);
            picture.fill(colour);
            ASSERT_TRUE(picture.save(Path(size)));
            engine->AddFile(Path(size), QSize(size, size));
        }
    }
    QString Path(int size) const { return QDir(dir.path()).filePath(QStringLiteral("icon%1.png").arg(size)); }
    static QColor Centre(const QPixmap& pixmap)
    {
        const QImage image = pixmap.toImage();
        return image.pixelColor(image.width() / 2, image.height() / 2);
    }

    QTemporaryDir dir;
    platform::FileIconEngine* engine = new platform::FileIconEngine; // owned by icon
    QIcon icon{engine};
};

TEST_F(FileIcon, EachSizeIsServedByTheSmallestFileAtLeastThatLarge)
{
    EXPECT_EQ(icon.availableSizes(), (QList<QSize>{{16, 16}, {32, 32}, {64, 64}}));
    const struct {
        int asked;
        QColor colour;
        int shown;
    } cases[] = {{16, Qt::red, 16}, {20, Qt::green, 20}, {32, Qt::green, 32}, {48, Qt::blue, 48}, {100, Qt::blue, 64}};
    for (const auto& c : cases) {
        const QPixmap shown = icon.pixmap(QSize(c.asked, c.asked), 1.0);
        EXPECT_EQ(shown.size(), QSize(c.shown, c.shown)) << "asked " << c.asked << ": never scaled up";
        EXPECT_EQ(Centre(shown), c.colour) << "asked " << c.asked;
        EXPECT_EQ(icon.actualSize(QSize(c.asked, c.asked)), QSize(c.shown, c.shown)) << "asked " << c.asked;
    }
}

TEST_F(FileIcon, AFileIsReadOnlyWhenASizeItServesIsAskedFor)
{
    ASSERT_TRUE(QFile::remove(Path(64)));
    EXPECT_EQ(Centre(icon.pixmap(QSize(16, 16), 1.0)), QColor(Qt::red));
    EXPECT_TRUE(icon.pixmap(QSize(64, 64), 1.0).isNull()) << "the removed file had been read before it was needed";
    // Once read, a picture stays, also in a copy of the icon.
    const QIcon copy = icon;
    ASSERT_TRUE(QFile::remove(Path(16)));
    EXPECT_EQ(Centre(copy.pixmap(QSize(16, 16), 1.0)), QColor(Qt::red));
}

TEST_F(FileIcon, PaintingAtPixelRatioTwoDrawsTheLargerFileIntoTheLogicalBox)
{
    QImage canvas(64, 64, QImage::Format_ARGB32);
    canvas.setDevicePixelRatio(2.0);
    canvas.fill(Qt::white);
    QPainter painter(&canvas);
    icon.paint(&painter, QRect(0, 0, 16, 16));
    painter.end();
    EXPECT_EQ(canvas.pixelColor(16, 16), QColor(Qt::green)) << "the 16 px file was blown up";
    EXPECT_EQ(canvas.pixelColor(31, 31), QColor(Qt::green));
    EXPECT_EQ(canvas.pixelColor(33, 33), QColor(Qt::white)) << "painted past its box";
}

TEST_F(FileIcon, ADisabledIconLooksAsTheStyleShowsDisabledPictures)
{
    const QPixmap normal = icon.pixmap(QSize(16, 16), 1.0, QIcon::Normal);
    const QPixmap disabled = icon.pixmap(QSize(16, 16), 1.0, QIcon::Disabled);
    ASSERT_EQ(disabled.size(), normal.size());
    EXPECT_NE(Centre(disabled), Centre(normal));
}

} // namespace
