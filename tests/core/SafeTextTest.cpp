#include "SafeText.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

struct Case {
    std::string raw;
    SafeText::Lines lines;
    std::string expected;
};

void PrintTo(const Case& c, std::ostream* out) { *out << testing::PrintToString(c.raw); }

class SafeTextTest : public testing::TestWithParam<Case> { };

TEST_P(SafeTextTest, Cleans)
{
    EXPECT_EQ(SafeText::clean(GetParam().raw, GetParam().lines), GetParam().expected);
}

using enum SafeText::Lines;
INSTANTIATE_TEST_SUITE_P(Rows, SafeTextTest,
    testing::Values(
        // Plain and non-ASCII text passes whole.
        Case { "Billing & limits <unavailable> — ok", single, "Billing & limits <unavailable> — ok" },
        // Terminal escapes: CSI colour, OSC window title ended by BEL, 8-bit CSI.
        Case { "\x1b[31mred\x1b[0m", single, "[31mred[0m" },
        Case { "a\x1b]0;pwned\x07" "b", single, "a]0;pwnedb" },
        Case { "a\xc2\x9b" "2Jb", single, "a2Jb" },
        // Line breaks go in a one-line text, stay in a multi-line one; CR never.
        Case { "one\r\ntwo\tthree", single, "onetwothree" },
        Case { "one\r\ntwo\tthree", multi, "one\ntwo\tthree" },
        // Invalid UTF-8 becomes U+FFFD; NUL and DEL go.
        Case { std::string("a\xff" "b\0c\x7f", 6), single, "a\xef\xbf\xbd" "bc" },
        // A right-to-left override cannot reorder what the line shows.
        Case { "file\xe2\x80\xaetxt.exe", single, "filetxt.exe" }));

} // namespace
