// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/toolkit/Application.h"
#include "platform/toolkit/Dialogs.h"
#include "platform/toolkit/TComboBox.h"
#include "platform/core/TextCodec.h"

#include <QFile>
#include <algorithm>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using platform::FromWin1252;
using platform::ToWin1252;

TEST(Win1252, HighControlRangeFollowsTheCodePageAndUndefinedBytesSurvive)
{
    // The system's own code page tables are the reference where they exist.
    QStringDecoder reference("windows-1252");
    const char undefined[] = {'\x81', '\x8D', '\x8F', '\x90', '\x9D'};
    for (int byte = 0x80; byte <= 0x9F; ++byte) {
        const std::string one(1, char(byte));
        const QString mine = FromWin1252(one);
        ASSERT_EQ(mine.size(), 1) << std::hex << byte;
        if (std::find(std::begin(undefined), std::end(undefined), char(byte)) != std::end(undefined)) {
            EXPECT_EQ(mine[0].unicode(), byte) << "undefined byte " << std::hex << byte << " was not kept";
        } else if (reference.isValid()) {
            EXPECT_EQ(mine, reference.decode(QByteArray(1, char(byte)))) << std::hex << byte;
        }
    }
    EXPECT_EQ(FromWin1252("\x80"), QString(QChar(0x20AC)));
    EXPECT_EQ(FromWin1252("\x9F"), QString(QChar(0x0178)));
}

TEST(Win1252, EveryByteRoundTripsAndForeignCharactersBecomeQuestionMarks)
{
    std::string all;
    for (int byte = 0; byte < 256; ++byte)
        all.push_back(char(byte));
    const QString text = FromWin1252(all);
    EXPECT_EQ(text.size(), 256) << "a byte was lost or split (embedded zero included)";
    EXPECT_EQ(ToWin1252(text), all);
    EXPECT_EQ(FromWin1252("Wei\xDF"), QString::fromUtf8("Weiß"));
    EXPECT_EQ(ToWin1252(QString::fromUtf8("a€ώ😀b")), std::string("a\x80???b"))
        << "one question mark per UTF-16 unit of an unmappable character";
}

TEST(Dialogs, HooksSeeCaptionTextAndPresetAndDecideTheAnswer)
{
    auto& app = platform::Application::Instance();
    app.SetTitle("Sendolin Client");
    std::vector<std::pair<QString, QString>> shown;
    platform::SetMessageBoxHook([&](const QString& caption, const QString& text) { shown.emplace_back(caption, text); });
    platform::MessageBox("Funktion noch nicht integriert");
    platform::MessageBox("Sendolinclient", "Anwendung läuft bereits");
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0], std::make_pair(QString("Sendolin Client"), QString("Funktion noch nicht integriert")));
    EXPECT_EQ(shown[1].first, "Sendolinclient");

    QString seenPreset;
    platform::InputBoxAnswer answer{true, "10.0.0.1:80"};
    platform::SetInputBoxHook([&](const QString&, const QString&, const QString& preset) {
        seenPreset = preset;
        return answer;
    });
    EXPECT_EQ(platform::InputBox("Adresseingabe", "Adresse:", "192.168.1.1:6565"), "10.0.0.1:80");
    EXPECT_EQ(seenPreset, "192.168.1.1:6565");
    answer = {false, "edited but cancelled"};
    EXPECT_EQ(platform::InputBox("Adresseingabe", "Adresse:", "192.168.1.1:6565"), "192.168.1.1:6565")
        << "Cancel must return the preset, not the edited text";
    platform::SetMessageBoxHook({});
    platform::SetInputBoxHook({});
}

TEST(Dialogs, TranscriptRecordsBoxesAndTakesTheDefaultAnswerWithoutBlocking)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("dialogs.txt");
    qputenv("SENDOLIN_DIALOG_TRANSCRIPT", path.toLocal8Bit());
    platform::Application::Instance().SetTitle("Sendolin Client");
    platform::MessageBox("Wählen Sie einen Radiosender aus der Liste");
    const QString typed = platform::InputBox("Adresseingabe", "Adresse:", "192.168.1.1:6565");
    platform::Application::Instance().HandleException(std::runtime_error("boom"));
    qunsetenv("SENDOLIN_DIALOG_TRANSCRIPT");

    EXPECT_EQ(typed, "192.168.1.1:6565");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0], QString::fromUtf8("message\tSendolin Client\tWählen Sie einen Radiosender aus der Liste"));
    EXPECT_EQ(lines[1], "input\tAdresseingabe\tAdresse:");
    EXPECT_EQ(lines[2], "error\tSendolin Client\tboom");
}

TEST(TComboBox, PickListNeverSelectsByItselfAndFindsNamesIgnoringCase)
{
    platform::TComboBox list;
    list.AddItem("Local");
    list.AddItem("Radio Eins");
    list.AddItem("local");
    EXPECT_EQ(list.Text(), "") << "adding items selected one";
    EXPECT_EQ(list.IndexOfText("LOCAL"), 0) << "the first of equal names counts";
    EXPECT_EQ(list.IndexOfText("radio eins"), 1);
    EXPECT_EQ(list.IndexOfText("Radio"), -1);
    list.setCurrentIndex(1);
    list.AddItem("more");
    EXPECT_EQ(list.Text(), "Radio Eins") << "adding an item changed the selection";
    list.ClearItems();
    EXPECT_EQ(list.Text(), "");
    EXPECT_EQ(list.Count(), 0);
}
