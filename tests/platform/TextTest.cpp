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
