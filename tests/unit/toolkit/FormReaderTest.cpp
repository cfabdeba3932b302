// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/toolkit/ComponentRegistry.h"
#include "platform/toolkit/Exception.h"
#include "platform/toolkit/FormReader.h"
#include "platform/toolkit/FormWriter.h"
#include "platform/toolkit/TComboBox.h"
#include "platform/toolkit/TImage.h"
#include "platform/toolkit/TLabel.h"
#include "platform/toolkit/TPanel.h"
#include "platform/toolkit/TTimer.h"

#include <QDir>
#include <QImage>
#include <QPixmap>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

using platform::EFormError;
using platform::FormReader;
using platform::FormWriter;

// A non-visual component with the kinds of stored values the program's own
// components use: a binary record, an enumeration, flags and a string list.
class TRecordHolder : public QObject {
    Q_OBJECT
    Q_PROPERTY(QByteArray Record MEMBER Record)
    Q_PROPERTY(TMode Mode MEMBER Mode)
    Q_PROPERTY(TOptions Options READ GetOptions WRITE SetOptions)
    Q_PROPERTY(QStringList Names MEMBER Names)
    Q_PROPERTY(int Count MEMBER Count)
    Q_PROPERTY(int Limit READ GetLimit WRITE SetLimit)

public:
    enum TMode { mdOff, mdFast, mdSlow };
    Q_ENUM(TMode)
    enum TOption { opOne = 1, opTwo = 2, opFour = 4 };
    Q_DECLARE_FLAGS(TOptions, TOption)
    Q_FLAG(TOptions)

    Q_INVOKABLE explicit TRecordHolder(QObject* owner = nullptr) : QObject(owner) {}

    TOptions GetOptions() const { return Options; }
    void SetOptions(TOptions options) { Options = options; }
    int GetLimit() const { return Limit; }
    void SetLimit(int limit)
    {
        if (limit < 0)
            throw platform::Exception("Limit must not be negative");
        Limit = limit;
    }

    QByteArray Record;
    TMode Mode = mdOff;
    TOptions Options;
    QStringList Names;
    int Count = 0;
    int Limit = 0;
};

namespace {

struct Registered {
    Registered()
    {
        platform::RegisterToolkitClasses();
        platform::RegisterClass(TRecordHolder::staticMetaObject);
    }
};

std::unique_ptr<QObject> ReadText(const QByteArray& text, const QString& baseDir = QString())
{
    static Registered registered;
    return std::unique_ptr<QObject>(FormReader::Read(text, QStringLiteral("test.form"), baseDir));
}

QString ErrorOf(const QByteArray& text)
{
    try {
        ReadText(text);
    } catch (const EFormError& error) {
        return error.Message();
    }
    return QString();
}

// A 4-byte little-endian length followed by the record, as stored formats are.
QByteArray LengthPrefixed(const QByteArray& record)
{
    QByteArray blob(4, '\0');
    const quint32 size = quint32(record.size());
    for (int i = 0; i < 4; ++i)
        blob[i] = char((size >> (8 * i)) & 0xFF);
    return blob + record;
}

} // namespace

TEST(FormReader, AppliesEveryValueKindToNestedComponents)
{
    QTemporaryDir dir;
    QImage face(57, 49, QImage::Format_RGB32);
    face.fill(QColor(10, 20, 30));
    ASSERT_TRUE(face.save(QDir(dir.path()).filePath("face.bmp")));

    const QByteArray text =
        "object Panel: TPanel\n"
        "  Width = 300\n"
        "  Height = 100\n"
        "  Color = $004FC4\n"
        "  Font.Name = 'Courier New'\n"
        "  Font.Height = 15\n"
        "  Font.Style = [fsBold, fsItalic]\n"
        "  object Caption1: TLabel\n"
        "    Left = 16\n"
        "    Top = -2\n"
        "    AutoSize = False\n"
        "    Caption = 'It''s '#228'h'\n"
        "    Hint = 'tip'\n"
        "    Font.Color = clLime\n"
        "  end\n"
        "  object Face: TImage\n"
        "    Picture = 'face.bmp'\n"
        "    Tag = -1\n"
        "    Enabled = False\n"
        "    Visible = False\n"
        "  end\n"
        "  object Holder: TRecordHolder\n"
        "    Record = {0102\n"
        "      ff}\n"
        "    Mode = mdSlow\n"
        "    Options = [opOne, opFour]\n"
        "    Names = ('a' 'b''c'\n"
        "      '')\n"
        "    Count = $1F\n"
        "  end\n"
        "  object Tick: TTimer\n"
        "    Interval = 50\n"
        "    Enabled = False\n"
        "  end\n"
        "end\n";
    const auto root = ReadText(text, dir.path());
    auto* panel = qobject_cast<platform::TPanel*>(root.get());
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->objectName(), "Panel");
    EXPECT_EQ(panel->size(), QSize(300, 100));
    EXPECT_EQ(panel->palette().color(QPalette::Window), QColor(0, 79, 196));
    EXPECT_EQ(panel->font().pixelSize(), 15);
    EXPECT_TRUE(panel->font().bold());
    EXPECT_TRUE(panel->font().italic());

    auto* label = panel->findChild<platform::TLabel*>("Caption1");
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->parentWidget(), panel);
    EXPECT_EQ(label->pos(), QPoint(16, -2));
    EXPECT_EQ(label->Caption(), QString::fromUtf8("It's äh"));
    EXPECT_EQ(label->toolTip(), "tip");
    EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(0, 255, 0));
    EXPECT_EQ(label->font().family(), "Courier New") << "controls inherit the container's font";

    auto* image = panel->findChild<platform::TImage*>("Face");
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->Picture().size(), QSize(57, 49));
    EXPECT_EQ(image->Picture().toImage().pixelColor(3, 3), QColor(10, 20, 30));
    EXPECT_EQ(image->Tag(), -1);
    EXPECT_FALSE(image->isEnabled());
    EXPECT_TRUE(image->isHidden());

    auto* holder = panel->findChild<TRecordHolder*>("Holder");
    ASSERT_NE(holder, nullptr);
    EXPECT_EQ(holder->parent(), panel) << "non-visual components belong to the form";
    EXPECT_EQ(holder->Record, QByteArray::fromHex("0102ff"));
    EXPECT_EQ(holder->Mode, TRecordHolder::mdSlow);
    EXPECT_EQ(holder->Options, TRecordHolder::TOptions(TRecordHolder::opOne | TRecordHolder::opFour));
    EXPECT_EQ(holder->Names, QStringList({"a", "b'c", ""}));
    EXPECT_EQ(holder->Count, 31);

    auto* timer = panel->findChild<platform::TTimer*>("Tick");
    ASSERT_NE(timer, nullptr);
    EXPECT_EQ(timer->Interval(), 50);
    EXPECT_FALSE(timer->Enabled());
}

TEST(FormReader, MalformedTextIsReportedWithFileAndLineNeverACrash)
{
    struct Case {
        const char* text;
        int line;
        const char* mentions;
    };
    const Case cases[] = {
        {"", 1, "expected 'object'"},
        {"object P: TPanel\n  Width = 3\n", 3, "missing 'end'"},
        {"object P: TPanel\n  Width 3\nend\n", 2, "'='"},
        {"object P: TPanel\n  Width =\nend\n", 2, "missing value"},
        {"object P: TPanel\n  Hint = 'open\nend\n", 2, "unterminated string"},
        {"object P: TPanel\n  Hint = 'a' x\nend\n", 2, "end of line"},
        {"object P: TPanel\n  object H: TRecordHolder\n    Record = {0A1}\n  end\nend\n", 3, "odd number"},
        {"object P: TPanel\n  object H: TRecordHolder\n    Record = {0A\n 1G}\n  end\nend\n", 4, "malformed binary"},
        {"object P: TPanel\n  object H: TRecordHolder\n    Record = {0A\n", 4, "unterminated binary"},
        {"object P: TPanel\n  Font.Style = [fsBold\nend\n", 2, "malformed set"},
        {"object P: TPanel\nend\nend\n", 3, "after the last 'end'"},
        {"object P TPanel\nend\n", 1, "':'"},
        {"object P: TPanel\n  object Q: TPanel\n  end\n  object Q: TLabel\n  end\nend\n", 4, "already exists"},
        {"object P: TPanel\n  Width = 99999999999\nend\n", 2, "out of range"},
        {"object T: TTimer\n  object L: TLabel\n  end\nend\n", 2, "non-visual"},
    };
    for (const Case& c : cases) {
        const QString error = ErrorOf(c.text);
        EXPECT_TRUE(error.startsWith(QStringLiteral("test.form, line %1:").arg(c.line)))
            << c.text << " -> " << error.toStdString();
        EXPECT_TRUE(error.contains(QLatin1String(c.mentions))) << c.text << " -> " << error.toStdString();
    }
}

TEST(FormReader, UnknownClassesPropertiesAndMismatchedValuesNameWhatIsWrong)
{
    struct Case {
        const char* text;
        int line;
        const char* mentions;
    };
    const Case cases[] = {
        {"object P: TNoSuchClass\nend\n", 1, "unknown class TNoSuchClass"},
        {"object P: TPanel\n  object X: TNoSuchClass\n  end\nend\n", 2, "unknown class TNoSuchClass"},
        {"object P: TPanel\n  Colour = clRed\nend\n", 2, "property 'Colour' of P: unknown property"},
        {"object P: TPanel\n  Font.Size = 8\nend\n", 2, "property 'Font.Size' of P"},
        {"object P: TPanel\n  Width.Max = 8\nend\n", 2, "property 'Width.Max' of P"},
        {"object P: TPanel\n  object T: TTimer\n    Font.Height = 8\n  end\nend\n", 3, "property 'Font.Height' of T"},
        {"object P: TPanel\n  Width = 'wide'\nend\n", 2, "property 'Width' of P: expected an integer"},
        {"object P: TPanel\n  Visible = Yes\nend\n", 2, "property 'Visible' of P"},
        {"object P: TPanel\n  Color = clPink\nend\n", 2, "property 'Color' of P: expected a colour"},
        {"object P: TPanel\n  Font.Style = [fsHuge]\nend\n", 2, "fsHuge"},
        {"object P: TPanel\n  object H: TRecordHolder\n    Mode = mdMedium\n  end\nend\n", 3, "property 'Mode' of H"},
        {"object P: TPanel\n  object H: TRecordHolder\n    Record = 'text'\n  end\nend\n", 3, "expected binary data"},
        {"object P: TPanel\n  object H: TRecordHolder\n    Limit = -1\n  end\nend\n", 3,
         "property 'Limit' of H: Limit must not be negative"},
        {"object P: TPanel\n  object I: TImage\n    Picture = 'missing.bmp'\n  end\nend\n", 3, "cannot load picture"},
        {"object P: TPanel\n  object I: TImage\n    Picture = {00FF}\n  end\nend\n", 3, "no picture"},
    };
    for (const Case& c : cases) {
        const QString error = ErrorOf(c.text);
        EXPECT_TRUE(error.startsWith(QStringLiteral("test.form, line %1:").arg(c.line)))
            << c.text << " -> " << error.toStdString();
        EXPECT_TRUE(error.contains(QLatin1String(c.mentions))) << c.text << " -> " << error.toStdString();
    }
}

TEST(FormReader, ReadingIntoAnExistingRootChecksItsClass)
{
    static Registered registered;
    platform::TPanel panel;
    EXPECT_NO_THROW(FormReader::Read("object Main: TPanel\n  Width = 12\nend\n", "f.form", QString(), &panel));
    EXPECT_EQ(panel.objectName(), "Main");
    EXPECT_EQ(panel.width(), 12);
    try {
        FormReader::Read("object Main: TLabel\nend\n", "f.form", QString(), &panel);
        FAIL() << "a resource of another class was accepted";
    } catch (const EFormError& error) {
        EXPECT_TRUE(error.Message().contains("TLabel"));
    }
    EXPECT_THROW(FormReader::ReadFile(panel, "/nonexistent/x.form"), EFormError);
}

TEST(FormWriter, BinaryAndOtherStoredValuesSurviveAWriteReadRoundTrip)
{
    static Registered registered;
    platform::TPanel panel;
    panel.setObjectName("Main");
    panel.resize(444, 200);
    auto* holder = new TRecordHolder(&panel);
    holder->setObjectName("Formats");
    QByteArray record(129, '\0');
    for (int i = 0; i < record.size(); ++i)
        record[i] = char(i * 7 + 3); // every byte differs from its neighbours, zeros included
    holder->Record = LengthPrefixed(record);
    holder->Mode = TRecordHolder::mdFast;
    holder->Options = TRecordHolder::opTwo;
    holder->Names = {"x'y", QString::fromUtf8("line\nbreak €")};
    holder->Count = -5;
    auto* label = new platform::TLabel(&panel);
    label->setObjectName("Text");
    label->SetAutoSize(false);
    label->SetCaption("Status:");
    label->setGeometry(16, 86, 56, 16);
    auto* image = new platform::TImage(&panel);
    image->setObjectName("Face");
    QPixmap face(8, 4);
    face.fill(QColor(0, 255, 255));
    image->SetPicture(face);
    image->SetTag(-1);
    image->setEnabled(false);

    const QByteArray text = FormWriter::Write(panel);
    const auto copy = ReadText(text);
    auto* copiedHolder = copy->findChild<TRecordHolder*>("Formats");
    ASSERT_NE(copiedHolder, nullptr) << text.toStdString();
    EXPECT_EQ(copiedHolder->Record, holder->Record);
    EXPECT_EQ(copiedHolder->Record.size(), 133);
    EXPECT_EQ(copiedHolder->Mode, holder->Mode);
    EXPECT_EQ(copiedHolder->Options, holder->Options);
    EXPECT_EQ(copiedHolder->Names, holder->Names);
    EXPECT_EQ(copiedHolder->Count, -5);
    auto* copiedLabel = copy->findChild<platform::TLabel*>("Text");
    ASSERT_NE(copiedLabel, nullptr);
    EXPECT_EQ(copiedLabel->geometry(), label->geometry());
    EXPECT_EQ(copiedLabel->Caption(), "Status:");
    auto* copiedImage = copy->findChild<platform::TImage*>("Face");
    ASSERT_NE(copiedImage, nullptr);
    EXPECT_EQ(copiedImage->Picture().toImage().convertToFormat(QImage::Format_RGB32),
              face.toImage().convertToFormat(QImage::Format_RGB32));
    EXPECT_EQ(copiedImage->Tag(), -1);
    EXPECT_FALSE(copiedImage->isEnabled());

    // The stored blob is written as its exact bytes, length prefix first.
    EXPECT_TRUE(text.contains("{\n")) << "long binary values wrap over lines";
    EXPECT_TRUE(text.simplified().replace(" ", "").contains("Record={81000000"));
}

#include "FormReaderTest.moc"
