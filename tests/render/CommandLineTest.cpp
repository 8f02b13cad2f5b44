#include "CommandLine.h"

#include <gtest/gtest.h>

namespace {

using Mode = CommandLine::Mode;

CommandLine usageError(const char* error)
{
    CommandLine out { Mode::usageError };
    out.error = error;
    return out;
}

TEST(CommandLine, ExactListsPickAModeTyposAreUsageErrorsUsageNamesEveryMode)
{
    const std::pair<QStringList, CommandLine> cases[] = {
        { {}, {} },
        { { "velmo-usage" }, {} },
        { { "velmo-usage", "--render-icon", "out/icons" }, { Mode::renderIcon, "out/icons" } },
        { { "velmo-usage", "--render-screenshots", "" }, { Mode::renderScreenshots, "" } },
        // A folder that happens to look like a flag is still a folder.
        { { "velmo-usage", "--render-icon", "--waybar" }, { Mode::renderIcon, "--waybar" } },
        // A render flag with the wrong count around it runs the application.
        { { "velmo-usage", "--render-icon" }, {} },
        { { "velmo-usage", "--render-screenshots", "a", "b" }, {} },
        { { "velmo-usage", "--waybar" }, { Mode::waybar } },
        { { "velmo-usage", "--once" }, { Mode::once, {}, false } },
        { { "velmo-usage", "--once", "--text" }, { Mode::once, {}, true } },
        { { "velmo-usage", "--sign-in" }, { Mode::signIn } },
        { { "velmo-usage", "--sign-out" }, { Mode::signOut } },
        { { "velmo-usage", "--help" }, { Mode::help } },
        { { "velmo-usage", "--version" }, { Mode::version } },
        { { "velmo-usage", "--onec" }, usageError("unknown option '--onec'") },
        { { "velmo-usage", "--once", "--json" }, usageError("unknown option '--json'") },
        { { "velmo-usage", "--text", "--once" }, usageError("unexpected option '--text'") },
        { { "velmo-usage", "--once", "--text", "x" }, usageError("unknown option 'x'") },
        { { "velmo-usage", "--waybar", "--once" }, usageError("unexpected option '--once'") },
        { { "velmo-usage", "--once", "--render-icon", "d" }, usageError("unexpected option '--render-icon'") },
        { { "velmo-usage", "--Render-Icon", "a" }, usageError("unknown option '--Render-Icon'") },
        { { "velmo-usage", " --waybar" }, usageError("unknown option ' --waybar'") },
    };
    for (const auto& [arguments, expected] : cases)
        EXPECT_EQ(CommandLine::parse(arguments), expected) << arguments.join(' ').toStdString();
    // Arguments are read in the locale's encoding; the usage text names every mode.
    const char* argv[] = { "velmo-usage", "--render-icon", "Symbole/\xc3\xa9t\xc3\xa9", nullptr };
    EXPECT_EQ(CommandLine::parse(3, argv).directory, QString::fromLocal8Bit("Symbole/\xc3\xa9t\xc3\xa9"));
    EXPECT_EQ(CommandLine::parse(0, nullptr), CommandLine {});
    const QString text = CommandLine::usage("velmo-usage");
    for (const char* flag : { "--waybar", "--once --text", "--sign-in", "--sign-out", "--render-icon DIR", "--version" })
        EXPECT_TRUE(text.contains(QLatin1String(flag))) << flag;
}

} // namespace
