#include "platform/Text.h"

#include <gtest/gtest.h>

using Platform::Text::isBlank;
using Platform::Text::trimmed;

TEST(Text, TrimsOnlyTheBlanksAroundAndKnowsBlankText)
{
    EXPECT_EQ(trimmed(" \t a b \r\n"), "a b");
    EXPECT_EQ(trimmed("香港 01"), "香港 01");
    EXPECT_EQ(trimmed(" \r\n\t "), "");
    EXPECT_EQ(trimmed(""), "");
    // Other control characters are content, not blanks.
    EXPECT_EQ(trimmed("\v x\f"), "\v x\f");

    EXPECT_TRUE(isBlank(""));
    EXPECT_TRUE(isBlank(" \t\r\n"));
    EXPECT_FALSE(isBlank(" x "));
}

TEST(Text, SplitsAtEveryKindOfLineBreak)
{
    using Lines = std::vector<std::string>;
    EXPECT_EQ(Platform::Text::lines("a\r\nb\nc\rd\ve\ff\xc2\x85g\xe2\x80\xa8h\xe2\x80\xa9i"),
              (Lines{"a", "b", "c", "d", "e", "f", "g", "h", "i"}));
    EXPECT_EQ(Platform::Text::lines("\n\r\n"), (Lines{"", "", ""}));
    EXPECT_EQ(Platform::Text::lines(""), Lines{""});
    EXPECT_EQ(Platform::Text::lines("香港 01"), Lines{"香港 01"});
}
