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

TEST(CommandLine, HeadlessModesAreSingleExactFlags)
{
    using Mode = CommandLine::Mode;
    EXPECT_EQ(parse({ "velmo-usage", "--waybar" }), (CommandLine { Mode::waybar, {} }));
    EXPECT_EQ(parse({ "velmo-usage", "--once" }), (CommandLine { Mode::once, {}, false }));
    EXPECT_EQ(parse({ "velmo-usage", "--once", "--text" }), (CommandLine { Mode::once, {}, true }));
    EXPECT_EQ(parse({ "velmo-usage", "--sign-in" }), (CommandLine { Mode::signIn, {} }));
    EXPECT_EQ(parse({ "velmo-usage", "--sign-out" }), (CommandLine { Mode::signOut, {} }));
    EXPECT_EQ(parse({ "velmo-usage", "--help" }), (CommandLine { Mode::help, {} }));
    EXPECT_EQ(parse({ "velmo-usage", "--version" }), (CommandLine { Mode::version, {} }));
}

TEST(CommandLine, HeadlessFlagsWithAnythingAroundThemRunTheApplication)
{
    for (const QStringList& arguments : {
             QStringList { "velmo-usage", "--waybar", "--once" },
             QStringList { "velmo-usage", "--waybar", "x" },
             QStringList { "velmo-usage", "--text" },
             QStringList { "velmo-usage", "--text", "--once" },
             QStringList { "velmo-usage", "--once", "--text", "x" },
             QStringList { "velmo-usage", "--once", "--Text" },
             QStringList { "velmo-usage", "--once=--text" },
             QStringList { "velmo-usage", "--sign-in", "--sign-out" },
             QStringList { "velmo-usage", "--signin" },
             QStringList { "velmo-usage", "-h" },
             QStringList { "velmo-usage", "--help", "--version" },
             QStringList { "velmo-usage", "--VERSION" },
             QStringList { "velmo-usage", " --waybar" } }) {
        EXPECT_EQ(parse(arguments), run) << arguments.join(' ').toStdString();
    }
    // A folder that happens to look like a flag is still a folder.
    EXPECT_EQ(parse({ "velmo-usage", "--render-icon", "--waybar" }),
        (CommandLine { CommandLine::Mode::renderIcon, "--waybar" }));
}

TEST(CommandLine, UsageNamesEveryMode)
{
    const QString text = CommandLine::usage("velmo-usage");
    EXPECT_TRUE(text.startsWith("Usage: velmo-usage"));
    for (const char* flag : { "--waybar", "--once", "--once --text", "--sign-in", "--sign-out", "--render-icon DIR",
             "--help", "--version" })
        EXPECT_TRUE(text.contains(QLatin1String(flag))) << flag;
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
