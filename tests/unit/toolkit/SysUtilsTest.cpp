// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/toolkit/Exception.h"
#include "platform/toolkit/SysUtils.h"

#include <gtest/gtest.h>

using platform::StrToInt;

TEST(StrToInt, AcceptsBlanksSignsAndEveryHexPrefix)
{
    EXPECT_EQ(StrToInt("6565"), 6565);
    EXPECT_EQ(StrToInt(" 80"), 80);
    EXPECT_EQ(StrToInt("+7"), 7);
    EXPECT_EQ(StrToInt("-7"), -7);
    EXPECT_EQ(StrToInt("$1F"), 31);
    EXPECT_EQ(StrToInt("x1f"), 31);
    EXPECT_EQ(StrToInt("0x1F"), 31);
    EXPECT_EQ(StrToInt("0X10"), 16);
    EXPECT_EQ(StrToInt("2147483647"), 2147483647);
    EXPECT_EQ(StrToInt("-2147483648"), -2147483647 - 1);
    EXPECT_EQ(StrToInt("$7FFFFFFF"), 2147483647);
}

TEST(StrToInt, RejectsTrailingTextMissingDigitsAndOverflowWithTheRuntimeMessage)
{
    for (const char* bad : {"80x", "80 ", "", " ", "$", "0x", "-", "+-1", "1.5", "2147483648", "-2147483649",
                            "$80000000", "99999999999999999999", "-$1F"}) {
        try {
            StrToInt(bad);
            ADD_FAILURE() << "accepted '" << bad << "'";
        } catch (const platform::EConvertError& error) {
            EXPECT_EQ(error.Message(), QStringLiteral("'%1' is not a valid integer value").arg(QString::fromLatin1(bad)));
        }
    }
}
