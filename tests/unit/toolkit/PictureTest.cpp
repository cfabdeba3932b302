// SPDX-License-Identifier: GPL-3.0-or-later
// Pictures with a double-size drawing: which one is drawn at which pixel
// ratio, how the layout reader finds them, and what it refuses.
#include "platform/toolkit/ComponentRegistry.h"
#include "platform/toolkit/FormReader.h"
#include "platform/toolkit/TBitBtn.h"
#include "platform/toolkit/TImage.h"
#include "platform/toolkit/TPicture.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

namespace {

QPixmap Filled(QSize size, QColor colour)
{
    QPixmap pixmap(size);
    pixmap.fill(colour);
    return pixmap;
}

bool SameFill(const QPixmap& pixmap, QColor colour)
{
    const QImage image = pixmap.toImage();
    return image.pixelColor(0, 0) == colour && image.pixelColor(image.width() - 1, image.height() - 1) == colour;
}

TEST(Picture, DrawsItsDoubleSizeDrawingFromAPixelRatioOfOneAndAHalf)
{
    platform::TPicture picture(Filled({57, 49}, Qt::red));
    EXPECT_EQ(&picture.ForRatio(2.0), &picture.Bitmap()) << "without a double-size drawing the bitmap is all there is";
    ASSERT_TRUE(picture.SetDoubleSize(Filled({114, 98}, Qt::blue)));
    EXPECT_TRUE(SameFill(picture.ForRatio(1.0), Qt::red));
    EXPECT_TRUE(SameFill(picture.ForRatio(1.25), Qt::red));
    EXPECT_TRUE(SameFill(picture.ForRatio(1.5), Qt::blue));
    EXPECT_TRUE(SameFill(picture.ForRatio(3.0), Qt::blue));
    EXPECT_EQ(picture.ForRatio(2.0).deviceIndependentSize(), QSizeF(57, 49)) << "the layout would change size";
    EXPECT_FALSE(picture.SetDoubleSize(Filled({114, 97}, Qt::green))) << "a drawing of the wrong size was taken";
    EXPECT_TRUE(SameFill(picture.DoubleSize(), Qt::blue));

    // A copy onto a control carries both drawings; a glyph's icon offers both.
    platform::TImage image;
    image.SetPicture(picture);
    EXPECT_TRUE(image.Picture().HasDoubleSize());
    platform::TBitBtn button;
    button.SetGlyph(picture);
    EXPECT_TRUE(SameFill(button.icon().pixmap(QSize(57, 49), 2.0), Qt::blue));
    EXPECT_TRUE(SameFill(button.icon().pixmap(QSize(57, 49), 1.0), Qt::red));
}

class PictureFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::RegisterToolkitClasses();
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QImage(Filled({10, 9}, Qt::red).toImage()).save(Path("face.bmp")));
    }
    QString Path(const char* name) const { return QDir(dir.path()).filePath(QLatin1String(name)); }
    std::unique_ptr<QObject> Read()
    {
        const QByteArray text = "object P: TPanel\n  object I: TImage\n    Picture = 'face.bmp'\n  end\nend\n";
        return std::unique_ptr<QObject>(platform::FormReader::Read(text, "pictures.form", dir.path()));
    }
    QTemporaryDir dir;
};

TEST_F(PictureFiles, TheReaderTakesTheDoubleSizeFileBesideANamedPicture)
{
    EXPECT_FALSE(Read()->findChild<platform::TImage*>("I")->Picture().HasDoubleSize());
    ASSERT_TRUE(Filled({20, 18}, Qt::blue).save(Path("face@2x.png")));
    const auto panel = Read();
    const platform::TPicture& picture = panel->findChild<platform::TImage*>("I")->Picture();
    EXPECT_TRUE(SameFill(picture.Bitmap(), Qt::red));
    ASSERT_TRUE(picture.HasDoubleSize());
    EXPECT_TRUE(SameFill(picture.DoubleSize(), Qt::blue));
}

TEST_F(PictureFiles, ADoubleSizeFileOfTheWrongSizeOrNoPictureIsRefusedWithItsLine)
{
    for (const char* content : {"wrong size", "no picture"}) {
        if (QByteArray(content) == "wrong size")
            ASSERT_TRUE(Filled({20, 20}, Qt::blue).save(Path("face@2x.png")));
        else {
            QFile file(Path("face@2x.png"));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write("not a png");
        }
        try {
            Read();
            ADD_FAILURE() << content << ": the picture was taken";
        } catch (const platform::EFormError& error) {
            EXPECT_TRUE(error.Message().startsWith("pictures.form, line 3: property 'Picture'"))
                << content << ": " << error.Message().toStdString();
            EXPECT_TRUE(error.Message().contains("face@2x.png")) << error.Message().toStdString();
        }
    }
}

TEST_F(PictureFiles, APictureWhoseContentsAreNotWhatItsNameSaysStillLoads)
{
    ASSERT_TRUE(Filled({10, 9}, Qt::red).save(Path("face.bmp"), "PNG"));
    EXPECT_TRUE(SameFill(Read()->findChild<platform::TImage*>("I")->Picture().Bitmap(), Qt::red));
}

} // namespace
