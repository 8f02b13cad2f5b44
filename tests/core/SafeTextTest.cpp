#include "SafeText.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace {

TEST(SafeText, Cleans)
{
    using enum SafeText::Lines;
    const std::tuple<std::string, SafeText::Lines, std::string> cases[] = {
        // Plain and non-ASCII text passes whole.
        { "Billing & limits <unavailable> — ok", single, "Billing & limits <unavailable> — ok" },
        // Terminal escapes: CSI colour, OSC window title ended by BEL, 8-bit CSI.
        { "\x1b[31mred\x1b[0m", single, "[31mred[0m" },
        { "a\x1b]0;pwned\x07" "b", single, "a]0;pwnedb" },
        { "a\xc2\x9b" "2Jb", single, "a2Jb" },
        // Line breaks go in a one-line text, stay in a multi-line one; CR never.
        { "one\r\ntwo\tthree", single, "onetwothree" },
        { "one\r\ntwo\tthree", multi, "one\ntwo\tthree" },
        // Invalid UTF-8 becomes U+FFFD; NUL and DEL go.
        { std::string("a\xff" "b\0c\x7f", 6), single, "a\xef\xbf\xbd" "bc" },
        // A right-to-left override cannot reorder what the line shows.
        { "file\xe2\x80\xaetxt.exe", single, "filetxt.exe" },
    };
    for (const auto& [raw, lines, expected] : cases)
        EXPECT_EQ(SafeText::clean(raw, lines), expected) << testing::PrintToString(raw);
}

} // namespace
