#include "CommandLine.h"

#include <gtest/gtest.h>

namespace {

CommandLine parse(const QStringList& arguments)
{
    return CommandLine::parse(arguments);
}

const CommandLine run {};

TEST(CommandLine, RenderIconNeedsExactlyTheFlagAndOneFolder)
{
    EXPECT_EQ(parse({ "velmo-usage", "--render-icon", "out/icons" }),
        (CommandLine { CommandLine::Mode::renderIcon, "out/icons" }));
    EXPECT_EQ(
        parse({ "velmo-usage", "--render-icon", "" }), (CommandLine { CommandLine::Mode::renderIcon, "" }));
}

TEST(CommandLine, AnythingElseRunsTheApplication)
{
    EXPECT_EQ(parse({}), run);
    EXPECT_EQ(parse({ "velmo-usage" }), run);
    EXPECT_EQ(parse({ "velmo-usage", "--render-icon" }), run);
    EXPECT_EQ(parse({ "velmo-usage", "--render-icon", "a", "b" }), run);
    EXPECT_EQ(parse({ "velmo-usage", "--render-icons", "a" }), run);
    EXPECT_EQ(parse({ "velmo-usage", "--Render-Icon", "a" }), run);
    EXPECT_EQ(parse({ "velmo-usage", "-render-icon", "a" }), run);
    EXPECT_EQ(parse({ "velmo-usage", "a", "--render-icon" }), run);
    EXPECT_EQ(parse({ "velmo-usage", "--render-icon=a", "b" }), run);
}

TEST(CommandLine, ReadsArgvInTheLocaleEncoding)
{
    const char* argv[] = { "velmo-usage", "--render-icon", "Symbole/\xc3\xa9t\xc3\xa9", nullptr };
    const CommandLine parsed = CommandLine::parse(3, argv);
    EXPECT_EQ(parsed.mode, CommandLine::Mode::renderIcon);
    EXPECT_EQ(parsed.directory, QString::fromLocal8Bit("Symbole/\xc3\xa9t\xc3\xa9"));
    EXPECT_EQ(CommandLine::parse(2, argv), run);
    EXPECT_EQ(CommandLine::parse(0, nullptr), run);
}

} // namespace
